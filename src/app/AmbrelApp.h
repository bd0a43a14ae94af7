// The application object: command line, working folder, one window per working folder,
// the main window's life.
//
// Main thread only. CAmbrelApp lives for the whole process: it owns the AppState and the
// main window, starts the window and runs the event loop until the window has closed.
#pragma once

#include <QSize>
#include <QString>
#include <QStringList>
#include <memory>

class AppState;
class CAmbrelDlg;
class CSingleInstance;
class Profile;

// What the command line asks for.
//   TARGET...           board addresses (into the address box) or local paths (a folder,
//                       or a file's folder, becomes the save folder); what a browser or
//                       file manager passes when it opens a link with the program. A
//                       second start on the same working folder hands them to the
//                       running window and ends.
//   --work-folder DIR   keep everything in DIR (portable mode); default: the desktop's
//                       standard folders (Profile::Standard)
//   --address URL       put URL into the source-address box (instead of the clipboard)
//   --auto-start        press "获取相册" once start-up is done
//   --screenshot FILE   after the run ends (or a retrieval reads no board), save a
//                       picture of the window, with a message it shows, to FILE and
//                       close (with --auto-start; for the documentation)
//   --stop-when-downloading  press "终止下载" once the first picture has arrived
//   --window-size WxH   start with this window size instead of the remembered one
//   --no-splash         start without the splash window
//   --language LANG     zh or en (see core/Language.h); read by LanguageArgument before
//                       the parser, whose help text is already in that language
struct StartOptions {
    QString workFolder; // empty: the standard folders
    QString address;
    QStringList targets; // web addresses as given, local paths made absolute
    bool autoStart = false;
    QString screenshotFile;
    bool stopWhenDownloading = false;
    QSize windowSize;
    bool splash = true;
};

// Parses the arguments (argv[0] included). On a bad command line answers false and puts
// the message (usage included) into *error; --help and --version answer false with the
// text and *exitCode 0.
bool ParseStartOptions(const QStringList &arguments, StartOptions *options, QString *error, int *exitCode);

// --language's value, looked up before the options are parsed (empty: not given).
QString LanguageArgument(const QStringList &arguments);

// The clipboard's text (empty when it holds none). GUI thread.
QString GetClipboardText();

class CAmbrelApp {
public:
    explicit CAmbrelApp(const StartOptions &options);
    ~CAmbrelApp();

    // Hands the targets to a window already running on the same working folder and
    // answers 0 (1 when it does not answer); otherwise initialises and shows the main
    // window and runs the event loop until it closes.
    int Run();

    // The profile the options choose.
    static Profile ChosenProfile(const StartOptions &options);

private:
    StartOptions m_options;
    std::unique_ptr<CSingleInstance> m_instance;
    std::unique_ptr<AppState> m_state;
    std::unique_ptr<CAmbrelDlg> m_window;
};
