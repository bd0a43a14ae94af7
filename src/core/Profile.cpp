#include "core/Profile.h"

#include <QDir>
#include <QStandardPaths>

namespace {

QString folderPath(const QString &path)
{
    QString folder = QDir::toNativeSeparators(QDir(path).absolutePath());
    if (!folder.endsWith(QDir::separator()))
        folder += QDir::separator();
    return folder;
}

QString standardFolder(QStandardPaths::StandardLocation location)
{
    return folderPath(QStandardPaths::writableLocation(location));
}

} // namespace

Profile Profile::Portable(const QString &folder)
{
    Profile p;
    p.m_portable = true;
    p.m_config = p.m_data = p.m_cache = p.m_save = folderPath(folder);
    return p;
}

Profile Profile::Standard()
{
    // The application name (set before this is called) names the folders:
    // ~/.config/Corvadin, ~/.local/share/Corvadin, ~/.cache/Corvadin.
    Profile p;
    p.m_portable = false;
    p.m_config = standardFolder(QStandardPaths::AppConfigLocation);
    p.m_data = standardFolder(QStandardPaths::AppDataLocation);
    p.m_cache = standardFolder(QStandardPaths::CacheLocation);
    p.m_save = standardFolder(QStandardPaths::PicturesLocation) + QStringLiteral("Corvadin") + QDir::separator();
    return p;
}

QString Profile::settingsFile() const
{
    return m_config + QStringLiteral("soft.dat");
}

QString Profile::siteFile() const
{
    return m_config + QStringLiteral("site.ini");
}

QString Profile::optionsFile() const
{
    return m_config + QStringLiteral("corvadin.ini");
}

QString Profile::cookieFile() const
{
    return m_data + QStringLiteral("cookies.txt");
}

QString Profile::browserFolder() const
{
    return m_data + QStringLiteral("browser") + QDir::separator();
}

QString Profile::browserCacheFolder() const
{
    return m_portable ? browserFolder() + QStringLiteral("cache") + QDir::separator()
                      : m_cache + QStringLiteral("browser") + QDir::separator();
}

QString Profile::thumbnailFolder() const
{
    return m_cache + (m_portable ? QStringLiteral("tmp") : QStringLiteral("thumbnails")) + QDir::separator();
}
