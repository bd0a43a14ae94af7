// Everything the program keeps that is not a widget: the run-state bytes, the board
// source fields, the album list, the settings image, the working folder, the picture
// list of the current album and the worker pool's state. One instance per program
// (tests make as many as they like); the window and the CLI own it.
//
// Threads: the state bytes are atomics that change as RequestStop and SetUnlessStopped
// below say, so no change ever clears a pending stop; the settings image is guarded by
// settingsMutex; AlbumList and DownloadList guard themselves. SourceState and
// strLastPicture belong to the run thread that is active (list thread, then
// download-run thread), which never overlap on them.
#pragma once

#include "core/AlbumList.h"
#include "core/DownloadArchive.h"
#include "core/DownloadList.h"
#include "core/Profile.h"
#include "core/RunSummary.h"
#include "core/SiteConfig.h"
#include "settings/RequestSettings.h"
#include "settings/SoftData.h"

#include <QString>
#include <QStringList>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>

// Board-source fields kept between the list thread and the download run.
struct SourceState {
    int siteMode = SITE_MODE_BOARD;
    QString strUserFolder; // owner folder level, ends in a separator once normalised
    QString strBoardPage;  // the last board page fetched; the first page of pins
    QString strCursor;     // paging cursor: the last pin id seen
};

struct ST_URLREQUEST;

// Request timings of the page readers. The defaults are the product's; tests shorten them.
struct NetTimings {
    uint32_t pageTimeoutMs = 20000;    // board and pin pages
    uint8_t boardAttempts = 4;         // board page tries
    uint8_t boardRetryDelaySeconds = 4; // pause after a failed board page try
    uint32_t pictureStepTimeoutMs = 20000; // everything up to a picture's headers
    uint32_t backoffBaseMs = 1000;     // first pause before a picture or pin page is tried
                                       // again; doubled for each further try
    uint32_t backoffMaxMs = 30000;     // longest such pause
    uint32_t retryAfterMaxMs = 120000; // longest Retry-After waited for; beyond it the
                                       // request fails instead of hanging
};

// How the run-state bytes (ListState, DownState, ConvertState) change, so that a stop
// request is never lost. Any thread.
// - RequestStop turns a busy byte into `stop`. An idle byte (0) stays idle: a stop that
//   meets the end of its thread leaves nothing behind, since that thread will never come
//   to clear it. Answers whether the byte holds the stop now.
// - SetUnlessStopped sets `to` unless the byte holds `stop`, which then stays. Answers
//   whether it set `to`.
// Only the thread behind a byte takes it back to 0, when it ends.
bool RequestStop(std::atomic<uint8_t> &state, uint8_t stop);
bool SetUnlessStopped(std::atomic<uint8_t> &state, uint8_t to, uint8_t stop);

class AppState {
public:
    // profile: where soft.dat, site.ini, cookies.txt and the thumbnails live. Reads
    // site.ini / the environment for the site hosts.
    explicit AppState(const Profile &profile);
    // Everything in one working folder (Profile::Portable).
    explicit AppState(const QString &workFolder) : AppState(Profile::Portable(workFolder)) {}
    ~AppState();

    // Creates the profile's folders (unless writesSettingsFiles is false), loads soft.dat
    // (creating it on the first run), corvadin.ini and the cookie store.
    void Initialise();
    // False: this process reads soft.dat and cookies.txt but never writes them, not even
    // on the first run (corvadin-cli --info). Set before Initialise().
    bool writesSettingsFiles = true;

    // The retry policy of picture and pin-page requests: 1 + requests.retries tries with
    // exponential back-off, then what ApplyPacing sets.
    void ApplyRetryPolicy(ST_URLREQUEST &request) const;
    // The pacing every request keeps, also those with tries of their own (the board
    // page, covers): the least gap per host and the Retry-After cap.
    void ApplyPacing(ST_URLREQUEST &request) const;

    // Copies of the active site mode's records (with the run overrides, if any), and
    // saving the image: only what this process changed in `settings` since it loaded or
    // last saved it goes into soft.dat, merged with what other processes wrote there
    // (SaveSettingsChanges). Answers false when the file could not be written.
    ST_DOWNSET DownSet() const;
    ST_SAVESET SaveSet() const;
    bool SaveSettingsNow();
    // RememberText on one of the two histories, saving the image when the text was put
    // at its top; answers whether it was.
    bool RememberAndSave(char16_t (&history)[HISTORY_COUNT][HISTORY_UNITS], const QString &text);
    // Records used instead of the stored ones for this process only (the CLI's options);
    // saving the image never writes them. Guarded by settingsMutex.
    std::optional<ST_DOWNSET> downSetOverride;
    std::optional<ST_SAVESET> saveSetOverride;

    // What the save-path box shows at start-up: the newest save-path history entry, else
    // the profile's default save folder (created); in a portable profile that is the
    // working folder, or Documents/Corvadin/ when the working folder is a temporary one.
    // Ends in a separator. The default folder is created unless `create` is false.
    QString StartupSavePath(bool create = true) const;

    // Run-state bytes.
    std::atomic<uint8_t> ready{0};        // 1 once start-up has finished
    std::atomic<uint8_t> ListState{0};    // 0 idle, 1 running, 2 stop requested
    std::atomic<uint8_t> DownState{0};    // 0 idle, 1 running, 2 album finished early, 3 stop requested
    std::atomic<uint8_t> ConvertState{0}; // 0 idle, 1 rebuilding, 2 stop requested
    std::atomic<uint8_t> bThumbMode{0};   // 1 thumbnail view
    std::atomic<bool> bQuit{false};       // the program is closing: every request aborts

    // Worker pool state. bStopWorkers belongs to the run: a command that starts a run
    // clears it, a stop sets it, and the pool never writes it, so a stop that comes before
    // the pool has started holds.
    std::atomic<uint8_t> bStopWorkers{0};
    std::atomic<uint8_t> bWorkersBusy{0};
    std::atomic<uint32_t> nDoneCount{0};
    std::atomic<uint32_t> nBatchTotal{0};  // pictures of the batch in progress (progress displays)
    ST_DOWNSET runDownSet{};              // the pool's parameters, copied at the start of a run

    SourceState source;
    AlbumList albums;
    DownloadList downloads;
    DownloadArchive archive;  // the download archive of the album folder in use
    QString strLastPicture;   // first picture of the previous run of the album being collected
    QString strFilter;        // filter keyword of the album view; GUI thread and rebuild
    int albumKind = -1;       // album-kind selection recorded by the list thread

    ST_SOFTDATA settings{};
    mutable std::mutex settingsMutex;

    const Profile profile;
    SiteConfig site;
    NetTimings timings;
    // Retries and the request gap (corvadin.ini); set before a run starts (the CLI's
    // options), read by the run threads. SaveRequestsNow writes what this process changed
    // in them since it loaded or last saved them (SaveRequestSettingsChanges), nothing
    // when it changed nothing; answers false when the file could not be written.
    RequestSettings requests;
    bool SaveRequestsNow();
    // Most pictures one album collects (tests lower it; the product keeps the constant).
    int maxPicturesPerAlbum = MAX_PICTURES_PER_ALBUM;

    // Thumbnail geometry of the album view.
    int thumbsPerRow = 6;
    int thumbWidth = 113;
    int thumbHeight = 120;

    // Summary of the last download run.
    RunSummary Summary() const;
    void ResetSummary();
    // Counts a finished picture (any thread); a saved one also enters the download
    // archive when its folder is the archive's.
    void AddOutcome(const PictureOutcome &outcome);
    template <typename F> void UpdateSummary(F &&f)
    {
        std::lock_guard lock(m_summaryMutex);
        f(m_summary);
    }

    // Threads of the list command and the download command (see RunControl.h).
    std::mutex threadsMutex;
    std::thread listThread;
    std::thread runThread;
    bool shuttingDown = false; // guarded by threadsMutex

private:
    bool saveSettingsLocked();

    ST_SOFTDATA m_storedSettings{}; // `settings` as loaded or last saved (settingsMutex)
    RequestSettings m_storedRequests; // `requests` as loaded or last saved (settingsMutex)
    mutable std::mutex m_summaryMutex;
    RunSummary m_summary;
};
