#include "core/Profile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
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

QString Profile::instanceLockFile() const
{
    return m_config + QStringLiteral("corvadin.lock");
}

bool Profile::MakeFolders() const
{
    bool ok = true;
    for (const QString &folder : {m_config, m_data, m_cache}) {
        if (QFileInfo(folder).isDir())
            continue;
        // The user's alone, as the desktop's base folders are.
        ok = QDir().mkpath(folder) &&
             QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner) && ok;
    }
    return ok;
}

QStringList Profile::OwnEntries() const
{
    QStringList entries;
    for (const QString &file : {settingsFile(), siteFile(), optionsFile(), cookieFile(), instanceLockFile()})
        entries << file << file + QStringLiteral(".lock");
    for (const QString &folder : {browserFolder(), browserCacheFolder(), thumbnailFolder()})
        entries << folder.chopped(1);
    return entries;
}

QString Profile::Unclaimed(const QString &folder, const QString &name) const
{
    if (name.isEmpty())
        return name;
    const QString path = QDir::cleanPath(QDir::fromNativeSeparators(folder) + QLatin1Char('/') + name);
    for (const QString &entry : OwnEntries()) {
        if (QDir::cleanPath(QDir::fromNativeSeparators(entry)).compare(path, Qt::CaseInsensitive) == 0)
            return QLatin1Char('_') + name;
    }
    return name;
}
