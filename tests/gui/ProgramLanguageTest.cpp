// The real program's language on its command line: --language, CORVADIN_LANGUAGE and the
// system's locale choose the language of its help, and a language it does not have is
// refused before any window system is needed.
#include "TestSupport.h"

#include <QProcess>

#include <gtest/gtest.h>

namespace {

struct Ran {
    int exitCode = -1;
    QString out, err;
};

Ran RunProgram(const QStringList &args, const QMap<QString, QString> &locale)
{
    Sandbox sandbox;
    QProcess p;
    QProcessEnvironment env = sandboxedEnvironment(sandbox.path() + QStringLiteral("home"));
    for (const char *name : {"CORVADIN_LANGUAGE", "LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG", "DISPLAY", "WAYLAND_DISPLAY"})
        env.remove(QString::fromLatin1(name));
    env.remove(QStringLiteral("QT_QPA_PLATFORM")); // a refusal must not need a display
    for (auto it = locale.cbegin(); it != locale.cend(); ++it)
        env.insert(it.key(), it.value());
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(CORVADIN_GUI_PATH), args);
    EXPECT_TRUE(p.waitForFinished(30000));
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
}

TEST(ProgramLanguage, TheHelpComesInTheChosenLanguage)
{
    using Env = QMap<QString, QString>;
    const QString chinese = QStringLiteral("启动完成后按下“获取相册”。");
    const QString english = QStringLiteral("Press “Fetch Albums” once start-up is done.");
    const struct {
        const char *what;
        QStringList args;
        Env locale;
        QString says;
    } cases[] = {
        {"no language asked for", {}, Env{{QStringLiteral("LANG"), QStringLiteral("C.UTF-8")}}, chinese},
        {"an English locale", {}, Env{{QStringLiteral("LANG"), QStringLiteral("en_US.UTF-8")}}, english},
        {"the variable", {}, Env{{QStringLiteral("LANG"), QStringLiteral("en_US.UTF-8")}, {QStringLiteral("CORVADIN_LANGUAGE"), QStringLiteral("zh")}}, chinese},
        {"the option", {QStringLiteral("--language"), QStringLiteral("en")}, Env{{QStringLiteral("CORVADIN_LANGUAGE"), QStringLiteral("zh")}}, english},
        {"the option with =", {QStringLiteral("--language=zh_CN")}, Env{{QStringLiteral("LANG"), QStringLiteral("en_US.UTF-8")}}, chinese},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const Ran r = RunProgram(c.args + QStringList{QStringLiteral("--help")}, c.locale);
        EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
        EXPECT_TRUE(r.out.contains(c.says)) << r.out.toStdString();
    }
    // Qt's own words of the help follow: 用法 in Chinese.
    EXPECT_TRUE(RunProgram({QStringLiteral("--help")}, {}).out.startsWith(QStringLiteral("用法：")));
}

TEST(ProgramLanguage, ALanguageItDoesNotHaveIsRefusedWithoutADisplay)
{
    const Ran r = RunProgram({QStringLiteral("--language"), QStringLiteral("fr")}, {});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.err, QStringLiteral("corvadin: --language must be zh (Chinese) or en (English), not 'fr'\n"));
}

} // namespace
