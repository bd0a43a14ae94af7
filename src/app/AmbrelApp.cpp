#include "app/AmbrelApp.h"

#include "app/AmbrelDlg.h"
#include "app/SingleInstance.h"
#include "core/AppState.h"
#include "core/Profile.h"

#include <QApplication>
#include <QClipboard>
#include <QCoreApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QUrl>

#include <cstdio>

namespace {

struct Texts {
    Q_DECLARE_TR_FUNCTIONS(CAmbrelApp)
};

} // namespace

QString LanguageArgument(const QStringList &arguments)
{
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString &a = arguments[i];
        if (a == QLatin1String("--"))
            break;
        if (a == QLatin1String("--language"))
            return i + 1 < arguments.size() ? arguments[i + 1] : QString();
        if (a.startsWith(QLatin1String("--language=")))
            return a.mid(11);
    }
    return {};
}

bool ParseStartOptions(const QStringList &arguments, StartOptions *options, QString *error, int *exitCode)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(Texts::tr("Corvadin：下载整个画板的图片。"));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("TARGET"),
                                 Texts::tr("画板地址放入地址栏；文件夹（或其中的文件）作为保存路径。"
                                           "同一组文件夹上已有窗口打开时，交给那个窗口。"),
                                 QStringLiteral("[TARGET...]"));
    const QCommandLineOption workFolder(QStringList{QStringLiteral("w"), QStringLiteral("work-folder")},
                                        Texts::tr("把设置、cookie 和缩略图都放在 DIR 中（便携模式）。"
                                                  "默认：~/.config/Corvadin、~/.local/share/Corvadin 和 ~/.cache/Corvadin。"),
                                        QStringLiteral("DIR"));
    const QCommandLineOption address(QStringLiteral("address"),
                                     Texts::tr("把 URL 放入地址栏，而不是剪贴板中的文字。"),
                                     QStringLiteral("URL"));
    const QCommandLineOption autoStart(QStringLiteral("auto-start"),
                                       Texts::tr("启动完成后按下“获取相册”。"));
    const QCommandLineOption screenshot(QStringLiteral("screenshot"),
                                        Texts::tr("与 --auto-start 一起使用：运行结束后把窗口的图片保存到 FILE，然后关闭窗口。"),
                                        QStringLiteral("FILE"));
    const QCommandLineOption stopWhenDownloading(
        QStringLiteral("stop-when-downloading"),
        Texts::tr("与 --auto-start 一起使用：第一张图片下载完成后立即按下“终止下载”。"));
    const QCommandLineOption windowSize(QStringLiteral("window-size"),
                                        Texts::tr("窗口以 WxH（宽x高，像素）的大小打开，而不是上次记住的大小。"),
                                        QStringLiteral("WxH"));
    const QCommandLineOption noSplash(QStringLiteral("no-splash"), Texts::tr("启动时不显示启动画面。"));
    // Read before the parser (LanguageArgument): this text is already in that language.
    const QCommandLineOption language(QStringLiteral("language"),
                                      Texts::tr("界面语言：zh（中文）或 en（英文）。默认：环境变量 CORVADIN_LANGUAGE，"
                                                "否则为系统的语言（系统要求英文时为英文，否则为中文）。"),
                                      QStringLiteral("LANG"));
    parser.addOptions({workFolder, address, autoStart, screenshot, stopWhenDownloading, windowSize, noSplash, language});

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
            *error = Texts::tr("--window-size 的值应为 宽x高，例如 1000x700") + QLatin1Char('\n');
            return false;
        }
        options->windowSize = QSize(width, height);
    }
    if (parser.isSet(workFolder)) {
        if (parser.value(workFolder).isEmpty()) {
            *error = Texts::tr("--work-folder 需要一个文件夹") + QLatin1Char('\n');
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
        std::fprintf(stderr, "corvadin: %s\n",
                     Texts::tr("%1 上已经打开了一个窗口，但它没有应答")
                         .arg(QDir::toNativeSeparators(profile.configFolder()))
                         .toLocal8Bit()
                         .constData());
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
