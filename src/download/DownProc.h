// The download worker pool of one album.
//
// StartDownPicFunc (on the download-run thread) takes a snapshot of the DownloadList
// and starts the coordinator DownPicFunc, which runs up to
// runDownSet.wThreads workers. Each worker is a thread that keeps one CUrlSession (and
// so its kept-alive connection) and takes the next picture in list order until none is
// left, so every picture is handed out exactly once and in order. A picture is tried as
// AppState::ApplyRetryPolicy says; a 429 holds every worker (HostThrottle). A stop
// (bStopWorkers) aborts the transfers in flight and the waits at once; their pictures
// leave no file. The pool never clears that flag (AppState): a stop that came before
// it started stops it at once. The coordinator joins its workers, reports the batch to the window and
// clears bWorkersBusy.
#pragma once

#include <QString>
#include <QStringList>
#include <thread>

class AppState;
class WindowServices;

// One album's pictures as the pool sees them: a copy, so workers of a stopped batch
// never read the lists of the next album.
struct DownloadBatch {
    QStringList addresses;
    QStringList fileNames;
    QStringList headers;
    QString folder;
};

// Answers the coordinator thread, or a thread that is not joinable when it could not start.
std::thread StartDownPicFunc(AppState &app, WindowServices &w);
// Coordinator body.
void DownPicFunc(AppState &app, WindowServices &w, const DownloadBatch &batch);
// Downloads picture i of the batch with the worker's session; answers its outcome.
struct PictureOutcome;
class CUrlSession;
PictureOutcome DownPicWorker(AppState &app, CUrlSession &session, const DownloadBatch &batch, int i);
