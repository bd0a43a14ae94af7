// The download worker pool of one album.
//
// StartDownPicFunc (on the download-run thread) starts the coordinator DownPicFunc on
// the album's DownloadBatch. The coordinator waits for the first picture, then runs up
// to runDownSet.wThreads workers. Each worker is a thread that keeps one CUrlSession
// (and so its kept-alive connection) and takes the next picture in list order, waiting
// for it while the album is still being collected, until none is left; so every picture
// is handed out exactly once and in order, and downloading starts with the listing's
// first page while later pages are read. A picture is tried as
// AppState::ApplyRetryPolicy says; a 429 holds every worker (HostThrottle). A stop
// (bStopWorkers) aborts the transfers in flight and the waits at once; their pictures
// leave no file. The pool never clears that flag (AppState): a stop that came before it
// started stops it at once. The coordinator joins its workers, reports the batch to the
// window and clears bWorkersBusy.
#pragma once

#include <QList>
#include <QString>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

class AppState;
class WindowServices;
struct DownloadList;

// One album's pictures as the pool sees them: its own list, never the DownloadList, so
// workers of a stopped batch never read the next album's pictures. The download-run
// thread adds the pictures as it names them and ends the batch when the album's
// collection is over (whatever ended it); the workers take them in order, waiting for
// the next one meanwhile. Thread-safe.
class DownloadBatch {
public:
    struct Picture {
        QString address; // "first\r\nfallback" allowed
        QString file;    // full path
        QString headers; // extra request header lines
    };

    // A whole batch, ended: every entry of the list.
    static std::shared_ptr<DownloadBatch> Complete(const DownloadList &list);

    void Add(Picture picture);
    // Adds the entries of `list` past the ones added so far (the run thread, after
    // naming). Answers how many it added.
    int AddFrom(const DownloadList &list);
    // No picture comes after those added.
    void End();

    int Size() const;
    bool Ended() const;
    // Picture i, once it is there; nothing when the batch ended without it or `stop`
    // answers true (asked every few milliseconds while waiting).
    std::optional<Picture> Wait(int i, const std::function<bool()> &stop) const;
    // Waits up to `ms` until `ready` (asked with the size and whether the batch ended)
    // holds; it is asked again whenever a picture is added, the batch ends or Poke().
    void WaitUntil(const std::function<bool(int size, bool ended)> &ready, int ms) const;
    // Wakes the waiters of WaitUntil (something they look at beside the batch changed).
    void Poke() const;

private:
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    QList<Picture> m_pictures;
    bool m_ended = false;
};

// Answers the coordinator thread, or a thread that is not joinable when it could not
// start. The first form runs the album's DownloadList as it stands, a whole batch.
std::thread StartDownPicFunc(AppState &app, WindowServices &w);
std::thread StartDownPicFunc(AppState &app, WindowServices &w, std::shared_ptr<DownloadBatch> batch);
// Coordinator body.
void DownPicFunc(AppState &app, WindowServices &w, const DownloadBatch &batch);
// Downloads one picture of a batch with the worker's session; answers its outcome.
struct PictureOutcome;
class CUrlSession;
PictureOutcome DownPicWorker(AppState &app, CUrlSession &session, const DownloadBatch::Picture &picture);
