#include "download/DownProc.h"

#include "core/AppState.h"
#include "core/WindowServices.h"
#include "net/URLSource2.h"

#include <QDateTime>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace {

// Progress lines are coalesced so that 15 fast workers do not flood the window.
constexpr auto kProgressInterval = std::chrono::milliseconds(100);

QString progressText(uint32_t done, int total)
{
    return QStringLiteral("已下载%1/%2......").arg(done).arg(total);
}

} // namespace

std::thread StartDownPicFunc(AppState &app, WindowServices &w)
{
    DownloadBatch batch{app.downloads.addresses, app.downloads.fileNames, app.downloads.headers,
                        app.downloads.folder()};
    try {
        return std::thread([&app, &w, batch = std::move(batch)] { DownPicFunc(app, w, batch); });
    } catch (const std::system_error &) {
        return {};
    }
}

PictureOutcome DownPicWorker(AppState &app, CUrlSession &session, const DownloadBatch &batch, int i)
{
    PictureOutcome outcome;
    const QString entry = batch.addresses.value(i);
    const qsizetype crlf = entry.indexOf(QStringLiteral("\r\n"));
    const QString first = crlf < 0 ? entry : entry.left(crlf);
    const QString fallback = crlf < 0 ? QString() : entry.mid(crlf + 2);
    outcome.address = first;
    outcome.file = batch.folder + batch.fileNames.value(i);

    ST_URLREQUEST req(first, outcome.file, app.timings.pictureStepTimeoutMs);
    req.readTimeoutMs = uint32_t(app.runDownSet.wTimeout) * 1000;
    if (!batch.headers.isEmpty())
        req.headers = batch.headers.value(i);
    req.minSizeKB = app.runDownSet.wMinKB;
    req.maxSizeKB = app.runDownSet.wMaxKB;
    req.refuseHtml = true;
    req.refusePartialPicture = true;
    app.ApplyRetryPolicy(req);
    req.shouldAbort = [&app] { return app.bStopWorkers != 0 || app.bQuit; };

    bool ok = false;
    try {
        ok = session.Fetch(req, FETCH_CACHE_WRITE | FETCH_CACHE_READ);
        if (session.body.isEmpty() && !fallback.isEmpty() && app.bStopWorkers == 0) {
            req.url = fallback;
            ok = session.Fetch(req, FETCH_CACHE_WRITE | FETCH_CACHE_READ);
        }
        outcome.saved = ok && session.savedToFile;
        outcome.bytes = session.body.size();
        if (outcome.saved)
            outcome.warning = session.warningText;
        else
            outcome.reason = !session.errorText.isEmpty() ? session.errorText : QStringLiteral("file not written");
    } catch (const std::exception &e) {
        outcome.reason = QString::fromLocal8Bit(e.what());
    } catch (...) {
        outcome.reason = QStringLiteral("unexpected error");
    }
    if (app.bStopWorkers != 0 && !outcome.saved)
        outcome.reason = QStringLiteral("stopped");
    session.body.clear(); // the picture is on disk; don't keep it in memory until the next one
    return outcome;
}

void DownPicFunc(AppState &app, WindowServices &w, const DownloadBatch &batch)
{
    app.nDoneCount = 0;
    const int total = int(batch.addresses.size());
    app.nBatchTotal = uint32_t(total);
    const int workers = std::min<int>(app.runDownSet.wThreads, total);
    if (workers <= 0)
        return;

    app.bWorkersBusy = 1;
    const qint64 started = QDateTime::currentSecsSinceEpoch();

    std::atomic<int> next{0};
    std::mutex mutex;
    std::condition_variable changed;

    auto work = [&] {
        CUrlSession session;
        for (;;) {
            if (app.bStopWorkers != 0 || app.bQuit)
                return;
            const int i = next.fetch_add(1);
            if (i >= total)
                return;
            const PictureOutcome outcome = DownPicWorker(app, session, batch, i);
            app.AddOutcome(outcome);
            w.PictureFinished(outcome);
            {
                std::lock_guard lock(mutex);
                ++app.nDoneCount;
            }
            changed.notify_one();
        }
    };

    std::vector<std::thread> threads;
    threads.reserve(workers);
    for (int k = 0; k < workers; ++k) {
        try {
            threads.emplace_back(work);
        } catch (const std::system_error &) {
            break; // fewer workers; the ones running take the pictures
        }
    }
    if (threads.empty()) {
        // Not a single worker could start: every picture counts as finished (and failed).
        for (int i = 0; i < total; ++i) {
            PictureOutcome outcome;
            outcome.address = batch.addresses.value(i);
            outcome.file = batch.folder + batch.fileNames.value(i);
            outcome.reason = QStringLiteral("worker could not start");
            app.AddOutcome(outcome);
            w.PictureFinished(outcome);
        }
        app.nDoneCount = uint32_t(total);
    }

    uint32_t shown = uint32_t(total) + 1; // the first pass always writes the line
    auto lastShown = std::chrono::steady_clock::now() - kProgressInterval;
    for (;;) {
        {
            std::unique_lock lock(mutex);
            changed.wait_for(lock, std::chrono::milliseconds(50), [&] {
                return app.nDoneCount >= uint32_t(total) || app.bStopWorkers != 0 || app.bQuit;
            });
        }
        if (app.bStopWorkers != 0 || app.bQuit)
            break;
        const uint32_t done = app.nDoneCount;
        const bool last = done >= uint32_t(total);
        const auto now = std::chrono::steady_clock::now();
        if ((done != shown && now - lastShown >= kProgressInterval) || last) {
            w.SetProgressText(progressText(done, total), ReportKind::Downloaded);
            shown = done;
            lastShown = now;
        }
        if (last)
            break;
    }

    for (auto &t : threads)
        t.join(); // after a stop their transfers were aborted, so this is quick

    w.BatchFinished(unsigned(QDateTime::currentSecsSinceEpoch() - started), total);
    app.bWorkersBusy = 0;
}
