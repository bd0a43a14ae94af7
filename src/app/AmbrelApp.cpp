#include "app/AmbrelApp.h"

#include "app/AmbrelDlg.h"
#include "app/SingleInstance.h"
#include "core/AppState.h"
#include "core/Profile.h"

#include <QApplication>
#include <QClipboard>
#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <cstdio>

bool ParseStartOptions(const QStringList &arguments, StartOptions *options, QString *error, int *exitCode)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Corvadin: downloads whole picture boards."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("TARGET"),
                                 QStringLiteral("A board address for the address box, or a folder (or a file in it) for "
                                                "the save path. With a window already open on the same folders, it "
                                                "goes to that window."),
                                 QStringLiteral("[TARGET...]"));
    const QCommandLineOption workFolder(QStringList{QStringLiteral("w"), QStringLiteral("work-folder")},
                                        QStringLiteral("Keep settings, cookies and thumbnails in DIR (portable mode). "
                                                       "Default: ~/.config/Corvadin, ~/.local/share/Corvadin and "
                                                       "~/.cache/Corvadin."),
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
    const QCommandLineOption windowSize(QStringLiteral("window-size"),
                                        QStringLiteral("Start with the window WIDTHxHEIGHT pixels large instead of the remembered size."),
                                        QStringLiteral("WxH"));
    const QCommandLineOption noSplash(QStringLiteral("no-splash"), QStringLiteral("Start without the splash window."));
    parser.addOptions({workFolder, address, autoStart, screenshot, stopWhenDownloading, windowSize, noSplash});

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
    if (parser.isSet(windowSize)) {
        const QStringList parts = parser.value(windowSize).split(QLatin1Char('x'));
        bool okWidth = false, okHeight = false;
        const int width = parts.size() == 2 ? parts[0].toInt(&okWidth) : 0;
        const int height = parts.size() == 2 ? parts[1].toInt(&okHeight) : 0;
        if (!okWidth || !okHeight || width < 1 || height < 1) {
            *error = QStringLiteral("--window-size takes WIDTHxHEIGHT, e.g. 1000x700\n");
            return false;
        }
        options->windowSize = QSize(width, height);
    }
    if (parser.isSet(workFolder)) {
        if (parser.value(workFolder).isEmpty()) {
            *error = QStringLiteral("--work-folder needs a folder\n");
            return false;
        }
        options->workFolder = QDir(parser.value(workFolder)).absolutePath();
    }
    // Another start may take the targets: local paths must not depend on this one's
    // current folder.
    for (const QString &target : parser.positionalArguments()) {
        const QUrl url(target);
        if (url.isLocalFile())
            options->targets << url.toLocalFile();
        else if (url.scheme().startsWith(QLatin1String("http"), Qt::CaseInsensitive))
            options->targets << target;
        else
            options->targets << QFileInfo(target).absoluteFilePath();
    }
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
    // The window stops and joins its runs before the state goes; the folder is let go last.
    m_window.reset();
    m_state.reset();
    m_instance.reset();
}

Profile CAmbrelApp::ChosenProfile(const StartOptions &options)
{
    return options.workFolder.isEmpty() ? Profile::Standard() : Profile::Portable(options.workFolder);
}

int CAmbrelApp::Run()
{
    const Profile profile = ChosenProfile(m_options);
    profile.MakeFolders();

    // One window per working folder: a later start gives its targets to the first.
    m_instance = std::make_unique<CSingleInstance>(profile);
    QStringList targets = m_options.targets;
    if (!m_options.address.isEmpty())
        targets.prepend(m_options.address);
    switch (m_instance->Start(targets)) {
    case CSingleInstance::Role::HandedOver:
        return 0;
    case CSingleInstance::Role::NoAnswer:
        std::fprintf(stderr, "corvadin: a window is already open on %s but does not answer\n",
                     QFile::encodeName(QDir::toNativeSeparators(profile.configFolder())).constData());
        return 1;
    case CSingleInstance::Role::First:
        break;
    }

    m_state = std::make_unique<AppState>(profile);
    m_window = std::make_unique<CAmbrelDlg>(*m_state);
    QObject::connect(m_instance.get(), &CSingleInstance::targetsReceived, m_window.get(), &CAmbrelDlg::HandOver);
    // The window, not the last visible window, decides when the program ends: the
    // splash and the hidden main window come and go during start-up.
    QApplication::setQuitOnLastWindowClosed(false);
    QObject::connect(m_window.get(), &QDialog::finished, qApp, &QCoreApplication::quit, Qt::QueuedConnection);

    CAmbrelDlg::Startup startup;
    startup.address = m_options.address;
    startup.targets = m_options.targets;
    startup.autoStart = m_options.autoStart;
    startup.screenshotFile = m_options.screenshotFile;
    startup.stopWhenDownloading = m_options.stopWhenDownloading;
    startup.windowSize = m_options.windowSize;
    startup.splash = m_options.splash;
    m_window->Initialise(startup);
    return QApplication::exec();
}
