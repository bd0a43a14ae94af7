#include "app/AmbrelApp.h"

#include "app/AmbrelDlg.h"
#include "core/AppState.h"

#include <QApplication>
#include <QClipboard>
#include <QCommandLineParser>
#include <QDir>

bool ParseStartOptions(const QStringList &arguments, StartOptions *options, QString *error, int *exitCode)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Corvadin: downloads whole picture boards."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption workFolder(QStringList{QStringLiteral("w"), QStringLiteral("work-folder")},
                                        QStringLiteral("Working folder (settings, cookies, thumbnails). Default: the current folder."),
                                        QStringLiteral("DIR"));
    const QCommandLineOption address(QStringLiteral("address"),
                                     QStringLiteral("Put URL into the address box instead of the clipboard's text."),
                                     QStringLiteral("URL"));
    const QCommandLineOption autoStart(QStringLiteral("auto-start"),
                                       QStringLiteral("Press \"获取相册\" once start-up is done."));
    const QCommandLineOption screenshot(QStringLiteral("screenshot"),
                                        QStringLiteral("With --auto-start: when the run has ended, save a picture of the window to FILE and close."),
                                        QStringLiteral("FILE"));
    const QCommandLineOption stopWhenDownloading(
        QStringLiteral("stop-when-downloading"),
        QStringLiteral("With --auto-start: press \"终止下载\" as soon as the first picture has arrived."));
    const QCommandLineOption noSplash(QStringLiteral("no-splash"), QStringLiteral("Start without the splash window."));
    parser.addOptions({workFolder, address, autoStart, screenshot, stopWhenDownloading, noSplash});

    *exitCode = 2;
    if (!parser.parse(arguments)) {
        *error = parser.errorText() + QLatin1Char('\n') + parser.helpText();
        return false;
    }
    if (parser.isSet(help) || parser.isSet(version)) {
        *exitCode = 0;
        *error = parser.isSet(help) ? parser.helpText()
                                    : QCoreApplication::applicationName() + QLatin1Char(' ') +
                                          QCoreApplication::applicationVersion() + QLatin1Char('\n');
        return false;
    }
    if (!parser.positionalArguments().isEmpty()) {
        *error = QStringLiteral("unexpected argument: %1\n").arg(parser.positionalArguments().first()) + parser.helpText();
        return false;
    }
    options->workFolder = parser.isSet(workFolder) ? parser.value(workFolder) : QDir::currentPath();
    options->address = parser.value(address);
    options->autoStart = parser.isSet(autoStart);
    options->screenshotFile = parser.value(screenshot);
    options->stopWhenDownloading = parser.isSet(stopWhenDownloading);
    options->splash = !parser.isSet(noSplash);
    return true;
}

QString GetClipboardText()
{
    if (QClipboard *clipboard = QGuiApplication::clipboard())
        return clipboard->text();
    return {};
}

CAmbrelApp::CAmbrelApp(const StartOptions &options) : m_options(options)
{
}

CAmbrelApp::~CAmbrelApp()
{
    // The window stops and joins its runs before the state goes.
    m_window.reset();
    m_state.reset();
}

int CAmbrelApp::Run()
{
    QDir().mkpath(m_options.workFolder);
    m_state = std::make_unique<AppState>(QDir(m_options.workFolder).absolutePath());
    m_window = std::make_unique<CAmbrelDlg>(*m_state);
    // The window, not the last visible window, decides when the program ends: the
    // splash and the hidden main window come and go during start-up.
    QApplication::setQuitOnLastWindowClosed(false);
    QObject::connect(m_window.get(), &QDialog::finished, qApp, &QCoreApplication::quit, Qt::QueuedConnection);

    CAmbrelDlg::Startup startup;
    startup.address = m_options.address;
    startup.autoStart = m_options.autoStart;
    startup.screenshotFile = m_options.screenshotFile;
    startup.stopWhenDownloading = m_options.stopWhenDownloading;
    startup.splash = m_options.splash;
    m_window->Initialise(startup);
    return QApplication::exec();
}
