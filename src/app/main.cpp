// corvadin: the desktop window. See AmbrelApp.h for the command line.
#include "app/AmbrelApp.h"
#include "core/Language.h"
#include "core/Version.h"
#include "platform/Platform.h"

#include <QApplication>
#include <cstdio>
#include <cstring>
#include <memory>

int main(int argc, char **argv)
{
    // A wrong language is said before the window system is needed.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const LanguageChoice language = ChooseLanguage(LanguageArgument(arguments));
    if (!language.error.isEmpty()) {
        std::fprintf(stderr, "corvadin: %s\n", language.error.toLocal8Bit().constData());
        return 2;
    }
    // --help and --version need no display: answer them without the window system.
    bool textOnly = false;
    for (int i = 1; i < argc; ++i) {
        for (const char *name : {"-h", "--help", "-?", "--help-all", "-v", "--version"})
            textOnly = textOnly || std::strcmp(argv[i], name) == 0;
    }
    std::unique_ptr<QCoreApplication> qapp;
    if (textOnly) {
        qapp = std::make_unique<QCoreApplication>(argc, argv);
    } else {
        // The login browser's sandbox cannot start as root (CI containers, some
        // servers); only there does it run without one.
        if (Platform::IsSuperUser() && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
            qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
        // Qt WebEngine shares OpenGL contexts with the widgets; set before the application.
        QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
        qapp = std::make_unique<QApplication>(argc, argv);
    }
    QCoreApplication::setApplicationName(QStringLiteral("Corvadin"));
    QCoreApplication::setApplicationVersion(QLatin1String(kCorvadinVersion));
    if (!textOnly)
        QGuiApplication::setDesktopFileName(QStringLiteral("org.corvadin.Corvadin"));

    if (!language.warning.isEmpty())
        std::fprintf(stderr, "corvadin: %s\n", language.warning.toLocal8Bit().constData());
    // The language before anything is said: the help text comes in it too. Qt's own
    // dialogs (and the login browser's menus) follow it.
    const InstalledLanguage installedLanguage(language.language,
                                              {QStringLiteral("qtbase"), QStringLiteral("qtwebengine")});

    StartOptions options;
    QString message;
    int exitCode = 0;
    if (!ParseStartOptions(QCoreApplication::arguments(), &options, &message, &exitCode)) {
        std::fputs(message.toLocal8Bit().constData(), exitCode == 0 ? stdout : stderr);
        return exitCode;
    }
    CAmbrelApp app(options);
    return app.Run();
}
