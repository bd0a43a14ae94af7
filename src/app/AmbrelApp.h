// The application object: command line, working folder, the main window's life.
//
// Main thread only. CAmbrelApp lives for the whole process: it owns the AppState and the
// main window, starts the window and runs the event loop until the window has closed.
#pragma once

#include <QString>
#include <QStringList>
#include <memory>

class AppState;
class CAmbrelDlg;

// What the command line asks for.
//   --work-folder DIR   the working folder (soft.dat, cookies, tmp/); default: the
//                       current folder
//   --address URL       put URL into the source-address box (instead of the clipboard)
//   --auto-start        press "获取相册" once start-up is done
//   --screenshot FILE   after the run ends (or a retrieval reads no board), save a
//                       picture of the window, with a message it shows, to FILE and
//                       close (with --auto-start; for the documentation)
//   --stop-when-downloading  press "终止下载" once the first picture has arrived
//   --no-splash         start without the splash window
struct StartOptions {
    QString workFolder;
    QString address;
    bool autoStart = false;
    QString screenshotFile;
    bool stopWhenDownloading = false;
    bool splash = true;
};

// Parses the arguments (argv[0] included). On a bad command line answers false and puts
// the message (usage included) into *error; --help and --version answer false with the
// text and *exitCode 0.
bool ParseStartOptions(const QStringList &arguments, StartOptions *options, QString *error, int *exitCode);

// The clipboard's text (empty when it holds none). GUI thread.
QString GetClipboardText();

class CAmbrelApp {
public:
    explicit CAmbrelApp(const StartOptions &options);
    ~CAmbrelApp();

    // Initialises and shows the main window and runs the event loop until it closes.
    int Run();

private:
    StartOptions m_options;
    std::unique_ptr<AppState> m_state;
    std::unique_ptr<CAmbrelDlg> m_window;
};
