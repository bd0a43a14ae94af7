#include "core/SiteConfig.h"

#include <QCoreApplication>
#include <QSettings>

namespace {

struct Texts {
    Q_DECLARE_TR_FUNCTIONS(SiteTexts)
};

QString fromEnvIniOrDefault(const char *envName, const QSettings &ini, const QString &key, const char *fallback)
{
    const QString env = qEnvironmentVariable(envName).trimmed();
    if (!env.isEmpty())
        return env;
    const QString fromIni = ini.value(key).toString().trimmed();
    if (!fromIni.isEmpty())
        return fromIni;
    return QString::fromLatin1(fallback);
}

} // namespace

QString SiteConfig::BoardPrefix() const
{
    return QStringLiteral("http://") + siteHost + QStringLiteral("/boards/");
}

QString SiteConfig::HomePage() const
{
    return QStringLiteral("http://") + siteHost + QLatin1Char('/');
}

SiteConfig SiteConfig::Load(const QString &iniFile)
{
    QSettings ini(iniFile, QSettings::IniFormat);
    SiteConfig c;
    c.siteHost = fromEnvIniOrDefault("CORVADIN_SITE_HOST", ini, QStringLiteral("Site/SiteHost"), BUILTIN_SITE_HOST);
    // A site named without its picture host serves its pictures itself.
    const QByteArray fallbackImageHost = c.siteHost.toUtf8();
    c.defaultImageHost =
        fromEnvIniOrDefault("CORVADIN_IMAGE_HOST", ini, QStringLiteral("Site/ImageHost"), fallbackImageHost.constData());
    return c;
}

namespace SiteTexts {

QString AddressMissing()
{
    return Texts::tr("请输入相册地址（以 http:// 或 https:// 开头的画板网址）");
}

QString BoardAddressHint(const QString &siteHost)
{
    return Texts::tr("请输入画板的网址，例如：^http://%1/boards/12345678/^一次获取一个画板。").arg(siteHost);
}

QString NoAlbumChosen()
{
    return Texts::tr("请先在相册列表中选择要下载的相册");
}

QString NoticeLine()
{
    return Texts::tr("粘贴画板网址，点击“获取相册”即可下载整个画板。");
}

QString SplashText()
{
    return Texts::tr("Corvadin 正在启动，请稍等……");
}

QString ProductPage()
{
    return QStringLiteral("https://corvadin.org/");
}

QString AboutSecondLine()
{
    return Texts::tr("Corvadin 画板下载器");
}

} // namespace SiteTexts
