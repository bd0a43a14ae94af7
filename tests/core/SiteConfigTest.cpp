// Where the site's hosts come from: the environment, then site.ini, then the built-in
// defaults; a picture host set nowhere is the site host.
#include "TestSupport.h"
#include "core/SiteConfig.h"

namespace {

// Sets (or, with an empty value, unsets) an environment variable for one scope.
class ScopedEnv {
public:
    ScopedEnv(const char *name, const QString &value) : m_name(name), m_had(qEnvironmentVariableIsSet(name)),
                                                        m_old(qgetenv(name))
    {
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value.toUtf8());
    }
    ~ScopedEnv()
    {
        if (m_had)
            qputenv(m_name, m_old);
        else
            qunsetenv(m_name);
    }

private:
    const char *m_name;
    bool m_had;
    QByteArray m_old;
};

TEST(SiteConfig, HostsFromTheEnvironmentThenSiteIniThenTheDefaults)
{
    struct Case {
        const char *what;
        QString envSite, envImage; // null: unset
        QString ini;               // site.ini's text; null: no file
        QString site, image;       // what is in force
    };
    const QString both = QStringLiteral("[Site]\nSiteHost=ini.site\nImageHost=ini.image:81\n");
    const QList<Case> cases = {
        {"nothing set", {}, {}, {}, QStringLiteral("127.0.0.1:8090"), QStringLiteral("127.0.0.1:8090")},
        {"site.ini without a picture host", {}, {}, QStringLiteral("[Site]\nSiteHost=ini.site:8081\n"),
         QStringLiteral("ini.site:8081"), QStringLiteral("ini.site:8081")},
        {"site.ini", {}, {}, both, QStringLiteral("ini.site"), QStringLiteral("ini.image:81")},
        {"the site in the environment", QStringLiteral("env.site"), {}, both, QStringLiteral("env.site"),
         QStringLiteral("ini.image:81")},
        {"both in the environment", QStringLiteral("env.site"), QStringLiteral("env.image"), both,
         QStringLiteral("env.site"), QStringLiteral("env.image")},
        {"the picture host in the environment", {}, QStringLiteral("env.image"), QStringLiteral("[Site]\nSiteHost=ini.site\n"),
         QStringLiteral("ini.site"), QStringLiteral("env.image")},
        {"blanks are no value", QStringLiteral("  "), QStringLiteral(" "), QStringLiteral("[Site]\nSiteHost= ini.site \n"),
         QStringLiteral("ini.site"), QStringLiteral("ini.site")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Sandbox box;
        if (!c.ini.isNull())
            box.write(QStringLiteral("site.ini"), c.ini.toUtf8());
        const ScopedEnv site("CORVADIN_SITE_HOST", c.envSite);
        const ScopedEnv image("CORVADIN_IMAGE_HOST", c.envImage);
        const SiteConfig config = SiteConfig::Load(box.file(QStringLiteral("site.ini")));
        EXPECT_EQ(config.siteHost, c.site);
        EXPECT_EQ(config.defaultImageHost, c.image);
    }
}

} // namespace
