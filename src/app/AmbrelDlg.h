// The main window: the source-address and save-path boxes, the album grid, the run
// buttons, the status lines and the menu bar.
//
// Threads: the window lives on the GUI thread and every widget is touched there only.
// The run threads (list thread, download-run thread, the pool's coordinator, the
// rebuild thread, the start-up worker) call the WindowServices part from their own
// threads: widget changes are queued onto the GUI thread; the calls that must answer
// (GridAppendRow, ChosenAlbums, AddThumbnail) wait for the GUI thread, except while the
// window is closing, when they answer a default at once. The two box texts are answered
// from a copy that the GUI thread keeps current, so reading them never waits.
//
// The GUI thread never waits for a run thread that may itself wait for the GUI thread:
// closing stops and joins everything from a helper thread while the GUI thread keeps
// serving events, and finished threads are joined only once their state byte is back
// at 0 (after which they make no waiting calls).
//
// Owns the rebuild thread and the start-up worker; the list and download threads belong
// to AppState (RunControl).
#pragma once

#include "core/WindowServices.h"

#include <QDialog>
#include <QPointer>
#include <QSize>
#include <QStringList>
#include <QString>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>

class AppState;
class CComboBox2;
class CDlgFailList;
class CDlgFind;
class CDlgWebOpen;
class CLoginProfile;
class CMyGridCtrl;
class CSplashScreenEx;
class QAction;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QMenu;
class QMenuBar;
class QPushButton;

class CAmbrelDlg : public QDialog, public WindowServices {
    Q_OBJECT
public:
    // Control and menu ids. Every control's objectName is "ctl<id>", every menu entry's
    // "menu<id>" (the id is also the action's data()).
    enum ControlId {
        IDC_SAVEPATH = 1000,
        IDC_ADDRESS = 1001,
        IDC_SITEMODE = 1002,
        IDC_GRID = 1003,
        IDC_LIST = 1004,
        IDC_DOWNLOAD = 1005,
        IDC_PROGRESS = 1006,
        IDC_CHOOSE = 1007,
        IDC_OPEN = 1008,
        IDC_PHASE = 1009,
        IDC_FRAME = 1011,
        IDC_SELECTALL = 1012,
        IDC_NOTICE = 1013,
        IDC_THUMBS = 1014,
        IDC_PRODUCT = 1032,
        IDC_FIND = 1034,
        IDC_ALBUMKIND = 1035,
        IDC_FILTER = 1036,
        IDC_EXPORT = 1037,
    };
    enum MenuId {
        ID_FEEDBACK = 32772,
        ID_CONSULT = 32773,
        ID_OPT_SKIP = 32774,
        ID_ABOUT = 32775,
        ID_OPT_YUPOO = 32776,
        ID_DOWNSET = 32778,
        ID_SAVESET = 32779,
        ID_OPT_ORDER = 32799,
        ID_OPT_FORMAT = 32800,
        ID_OPT_LIST = 32802,
        ID_OPT_NAMES = 32804,
        ID_USAGE = 32806,
        ID_FILETOOL = 32807,
        ID_OPT_TAOBAO_MAIN = 32808,
        ID_EXPORT_LIST = 32809,
        ID_EXPORT_XUNLEI = 32810,
        ID_IMPORT_LIST = 32811,
        ID_OPT_OPEN = 32812,
        ID_OPT_TAOBAO_DESC = 32814,
        ID_LOGIN_QQ = 32781,
        ID_SYS_ABOUT = 0x0010, // "关于", the system menu's entry
    };

    // What the start-up does besides the usual (command-line options).
    struct Startup {
        QString address;        // put into the address box instead of the clipboard's text
        bool autoStart = false; // press "获取相册" once ready
        QString screenshotFile; // after the run: save a picture of the window (and of a
                                // message it shows) and close
        bool stopWhenDownloading = false; // press "终止下载" once the first picture has arrived
        bool splash = true;
        QSize windowSize;       // valid: this size instead of the remembered one
        QStringList targets;    // web addresses and local paths, as OpenTargets takes them
    };

    // The AppState is the caller's (constructed with the working folder) and must
    // outlive the window.
    explicit CAmbrelDlg(AppState &app, QWidget *parent = nullptr);
    ~CAmbrelDlg() override;

    // Window initialisation: caption, notice line, grid columns, clipboard, save path,
    // settings (AppState::Initialise) and histories, splash, start-up worker. The window
    // shows itself when the worker reports start-up done.
    void Initialise(const Startup &startup);

    // Commands (GUI thread). Public so the menus, the tests and the command line reach them.
    void OnListCommand();      // 1004
    void OnDownloadCommand();  // 1005
    void OnChooseFolder();     // 1007
    void OnOpenFolder();       // 1008
    void OnSelectAll();        // 1012
    void OnThumbToggle();      // 1014 (after the click changed the box)
    void OnFind();             // 1034
    void OnFilter();           // 1036
    void OnExport();           // 1037
    void OnProductLink();      // 1032
    void OnAbout();            // 32775 and "关于"
    void OnHelp();             // 32806, 32773, 32772: the README
    // The README installed with the program (or the source tree's, run from a build
    // folder); empty when there is none.
    static QString ReadmeFile();
    void OnDownloadSettings(); // 32778
    void OnNamingSettings();   // 32779
    // A login-menu entry: opens a login window on the entry's start page. The QQ entry
    // appends the address box's text when it is only digits 0-9 (or empty) and album
    // kind 0 is selected, which opens that number's own space.
    void OnLoginCommand(int id);
    // Opens a new login window on startAddress (empty: the clipboard's text goes into
    // its address field). Earlier login windows stay open; the window remembers the
    // newest. Answers the new window, which the main window owns.
    CDlgWebOpen *OpenLoginWindow(const QString &startAddress);
    // The most recently opened login window (null before the first).
    CDlgWebOpen *LoginWindow() const;
    // The login browser's profile, created on first use in the profile's browser folders.
    CLoginProfile *LoginProfile();
    // Option toggle of a settings-menu entry: flips the flag (the TAOBAO pair excludes
    // each other) and saves the settings.
    void ToggleOption(uint16_t flag);
    // Web addresses and local paths from a drop, the command line or a second start
    // (HandOver). The first http(s) address goes into the address box; the first local
    // path sets the save folder: a folder itself, a file its folder (what the file
    // system says, never guessed from the name); a path that does not exist is left
    // alone. A box that is disabled because a run is going on takes its text when the
    // run ends.
    void OpenTargets(const QStringList &targets);
    // A second start of the program handed over its targets: shows and raises the
    // window and opens them.
    void HandOver(const QStringList &targets);
    // Esc: stops a running retrieval, download or thumbnail rebuild as their own
    // controls would. Idle, it does nothing (the window closes with the close box or
    // Ctrl+Q, never by a stray Esc). Answers whether something was asked to stop.
    bool StopRunning();
    // The classic window size (471 x 323 dialog units of the window's font).
    QSize ClassicSize() const;
    // Classifies the address box's text into the site-mode list (on every edit and
    // choice), and makes the top row match the site-mode list's selection.
    void ClassifyAddress();
    void ApplySiteMode();
    // Empties the grid and prepares it for the current mode.
    void SetupColumns();

    // The About box (title "关于"), not yet shown.
    QDialog *CreateAboutBox();
    // The modeless find box, once created.
    CDlgFind *FindBox() const;
    // The "失败列表" dialog, once a run has ended with failures (null before).
    CDlgFailList *FailList() const;
    CMyGridCtrl *Grid() const { return m_grid; }
    QMenuBar *MenuBar() const { return m_menuBar; }
    // The settings menu's entries refresh their checks and enabled states.
    void RefreshSettingsMenu();
    bool IsClosing() const { return m_closing; }
    // The start-up worker has done all its work (site-mode list, classification, ready).
    bool StartupFinished() const { return m_startupFinished; }

    // How the window words a retrieval that read no board: the phase line, and the
    // message shown with it (empty: none, as when the core has shown one already).
    static QString ListEndPhase(const ListOutcome &outcome);
    static QString ListEndMessage(const ListOutcome &outcome);

    // WindowServices: any thread.
    void ShowListRunning() override;
    void ShowListIdle(int albumCount) override;
    void ListFinished(const ListOutcome &outcome) override;
    void ShowDownloading() override;
    void ShowDownloadDone() override;
    void SetPhaseText(const QString &text, ReportKind kind = ReportKind::Other) override;
    void SetProgressText(const QString &text, ReportKind kind = ReportKind::Other) override;
    void SetAlbumFrameCaption(const QString &text) override;
    void ShowMessage(const QString &text) override;
    QString AddressText() override;
    QString SavePathText() override;
    void AppendAddressItem(const QString &text) override;
    int GridAppendRow(int height = -1) override;
    void GridSetCell(int row, int col, const QString &text, int itemData = -1, int image = -1) override;
    void GridSelectAll() override;
    void GridRefresh() override;
    int AddThumbnail(const QString &pictureFile) override;
    QList<int> ChosenAlbums() override;
    void StartDownloadRun() override;
    void BatchFinished(unsigned seconds, int pictures) override;
    void OpenFolder(const QString &folder) override;

public Q_SLOTS:
    void reject() override;

protected:
    void closeEvent(QCloseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    void BuildControls();
    void BuildMenus();
    QAction *AddMenuEntry(QMenu *menu, int id, const QString &text);
    void OnMenuCommand(QAction *action);
    void OnStartupDone();
    void StartupWorker();
    void RememberSavePath(const QString &path);
    void SetSaveFolder(const QString &folder);
    // Applies the targets that waited for a run to end.
    void ApplyPendingTargets();
    // Size and place: the remembered ones (corvadin.ini), else the classic size fitted
    // to the screen; saved again when the window closes.
    void PlaceWindow();
    void SaveWindowPlace();
    // "相册列表(共%d个)", the caption of an unfiltered list.
    static QString AlbumCountCaption(int albums);
    // Where the folder browser and the export dialog open: the save path, or the nearest
    // folder above it that exists; empty when there is none.
    QString ExistingSaveFolder() const;
    void RefreshBoxTexts();
    void WaitForRebuild();
    void ApplyLinkStates();
    void TakeScreenshotAndClose();
    void StopOnceAPictureHasArrived();
    void ShowFailureList();
    void Shutdown();

    // Runs f on the GUI thread: at once when called there, else queued.
    template <typename F> void OnGui(F &&f);
    // Runs f on the GUI thread and answers its result; answers fallback without waiting
    // once the window is closing.
    template <typename R, typename F> R AskGui(F &&f, R fallback);

    AppState &m_app;
    Startup m_startup;

    // Controls.
    QMenuBar *m_menuBar = nullptr;
    QWidget *m_client = nullptr;
    QLabel *m_notice = nullptr;
    QComboBox *m_siteMode = nullptr;
    QComboBox *m_albumKind = nullptr;
    CComboBox2 *m_address = nullptr;
    QPushButton *m_listButton = nullptr;
    QPushButton *m_downloadButton = nullptr;
    CComboBox2 *m_savePath = nullptr;
    QPushButton *m_chooseButton = nullptr;
    QPushButton *m_openButton = nullptr;
    QLabel *m_phase = nullptr;
    QLabel *m_progress = nullptr;
    QGroupBox *m_frame = nullptr;
    CMyGridCtrl *m_grid = nullptr;
    QCheckBox *m_selectAll = nullptr;
    QCheckBox *m_thumbs = nullptr;
    QLabel *m_findLink = nullptr;
    QLabel *m_filterLink = nullptr;
    QLabel *m_exportLink = nullptr;
    QLabel *m_productLink = nullptr;
    QMenu *m_settingsMenu = nullptr;
    QPointer<CDlgFind> m_findBox;
    QPointer<CDlgFailList> m_failList;
    // Login windows, newest last; they live until the main window goes, then the profile.
    QList<QPointer<CDlgWebOpen>> m_loginWindows;
    QPointer<CLoginProfile> m_loginProfile;
    QPointer<CSplashScreenEx> m_splash;

    QString m_pendingAddress;     // waits for the address box to be enabled again
    QString m_pendingSaveFolder;  // waits for the save-path box
    bool m_listRunning = false;   // the list-running look is on (links stay disabled)
    bool m_downloadLook = false;  // the downloading look is on ("终止下载")
    bool m_listCounted = false;   // the list frame's caption counts a list that was read

    // Box texts for the run threads, refreshed on the GUI thread.
    mutable std::mutex m_boxMutex;
    QString m_addressCopy;
    QString m_savePathCopy;
    bool m_boxRefreshQueued = false; // GUI thread only

    // Coalesced progress line.
    std::mutex m_progressMutex;
    QString m_pendingProgress;
    bool m_progressQueued = false;

    std::thread m_rebuildThread;
    std::thread m_startupThread;
    std::atomic<bool> m_startupFinished{false};
    std::atomic<bool> m_closing{false};
    bool m_shutdownDone = false;
    bool m_screenshotTaken = false;
};
