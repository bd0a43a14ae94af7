#include "source/RunControl.h"

#include "core/AppState.h"
#include "core/WindowServices.h"
#include "source/ChangeSource.h"

#include <functional>

namespace {

// Starts body on the thread in `slot`, first joining the finished thread it held.
// Never joins while holding threadsMutex: the joined thread may itself want it (a
// retrieval starting a download run).
bool startThread(AppState &app, std::thread AppState::*slot, std::function<void()> body)
{
    std::thread old;
    {
        std::lock_guard lock(app.threadsMutex);
        if (app.shuttingDown)
            return false;
        old = std::move(app.*slot);
    }
    if (old.joinable())
        old.join();
    std::lock_guard lock(app.threadsMutex);
    if (app.shuttingDown)
        return false;
    try {
        app.*slot = std::thread(std::move(body));
    } catch (const std::system_error &) {
        return false;
    }
    return true;
}

} // namespace

bool ListCommand(AppState &app, WindowServices &w)
{
    if (app.ready != 1)
        return false;
    if (app.ListState != 0) {
        RequestStop(app.ListState, 2);
        return false;
    }
    app.albums.clear();
    app.ListState = 1;
    app.albumKind = -1;
    app.source.siteMode = SITE_MODE_BOARD;
    if (!startThread(app, &AppState::listThread, [&app, &w] { RetrieveAlbumList(app, w); })) {
        w.ShowMessage(QStringLiteral("Create thread:GetListFunc failed."));
        app.ListState = 0;
        return false;
    }
    return true;
}

void StopDownload(AppState &app)
{
    if (RequestStop(app.DownState, 3))
        app.bStopWorkers = 1;
}

bool DownloadCommand(AppState &app, WindowServices &w)
{
    if (app.DownState != 0) {
        StopDownload(app);
        return false;
    }
    app.bStopWorkers = 0; // what stopped the last run; no run is there to stop now
    app.DownState = 1;
    if (!startThread(app, &AppState::runThread, [&app, &w] { RunDownload(app, w); })) {
        w.ShowMessage(QStringLiteral("Create thread:GetListFunc failed."));
        app.DownState = 0;
        return false;
    }
    return true;
}

bool RetryCommand(AppState &app, WindowServices &w)
{
    const RunSummary previous = app.Summary();
    if (app.DownState != 0 || previous.failures.isEmpty())
        return false;
    app.bStopWorkers = 0;
    app.DownState = 1;
    if (!startThread(app, &AppState::runThread, [&app, &w, previous] { RetryFailures(app, w, previous); })) {
        w.ShowMessage(QStringLiteral("Create thread:GetListFunc failed."));
        app.DownState = 0;
        return false;
    }
    return true;
}

void StopAll(AppState &app)
{
    {
        std::lock_guard lock(app.threadsMutex);
        app.shuttingDown = true;
    }
    app.bQuit = true;
    RequestStop(app.ListState, 2);
    RequestStop(app.DownState, 3);
    RequestStop(app.ConvertState, 2);
    app.bStopWorkers = 1;

    std::thread list, run;
    {
        std::lock_guard lock(app.threadsMutex);
        list = std::move(app.listThread);
    }
    if (list.joinable())
        list.join();
    {
        std::lock_guard lock(app.threadsMutex);
        run = std::move(app.runThread);
    }
    if (run.joinable())
        run.join();
}

void JoinFinished(AppState &app)
{
    // Threads whose state byte is back at 0 have done their work (or are about to end).
    std::thread list, run;
    {
        std::lock_guard lock(app.threadsMutex);
        if (app.ListState == 0)
            list = std::move(app.listThread);
        if (app.DownState == 0)
            run = std::move(app.runThread);
    }
    if (list.joinable())
        list.join();
    if (run.joinable())
        run.join();
}

