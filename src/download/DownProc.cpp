#include "download/DownProc.h"

#include "core/AppState.h"
#include "core/WindowServices.h"
#include "net/URLSource2.h"

#include <QCoreApplication>
#include <QDateTime>
#include <atomic>
#include <chrono>
#include <vector>

namespace {

struct Texts {
    Q_DECLARE_TR_FUNCTIONS(DownProc)
};

// Progress lines are coalesced so that 15 fast workers do not flood the window.
constexpr auto kProgressInterval = std::chrono::milliseconds(100);
// How often a waiting worker or coordinator looks at the stop flags.
constexpr int kStopPollMs = 50;
// The low-speed floor of a picture transfer, over the read time-out.
constexpr uint32_t kLowSpeedBytesPerSecond = 1024;

QString progressText(uint32_t done, int total)
{
    return Texts::tr("已下载%1/%2......").arg(done).arg(total);
}

} // namespace

std::shared_ptr<DownloadBatch> DownloadBatch::Complete(const DownloadList &list)
{
    auto batch = std::make_shared<DownloadBatch>();
    batch->AddFrom(list);
    batch->End();
    return batch;
}

void DownloadBatch::Add(Picture picture)
{
    {
        std::lock_guard lock(m_mutex);
        m_pictures.append(std::move(picture));
    }
    m_changed.notify_all();
}

int DownloadBatch::AddFrom(const DownloadList &list)
{
    const QString folder = list.folder();
    int added = 0;
    for (qsizetype i = Size(); i < list.addresses.size(); ++i, ++added)
        Add({list.addresses[i], folder + list.fileNames.value(i), list.headers.value(i)});
    return added;
}

void DownloadBatch::End()
{
    {
        std::lock_guard lock(m_mutex);
        m_ended = true;
    }
    m_changed.notify_all();
}

int DownloadBatch::Size() const
{
    std::lock_guard lock(m_mutex);
    return int(m_pictures.size());
}

bool DownloadBatch::Ended() const
{
    std::lock_guard lock(m_mutex);
    return m_ended;
}

std::optional<DownloadBatch::Picture> DownloadBatch::Wait(int i, const std::function<bool()> &stop) const
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        if (i < m_pictures.size())
            return m_pictures[i];
        if (m_ended || stop())
            return std::nullopt;
        m_changed.wait_for(lock, std::chrono::milliseconds(kStopPollMs));
    }
}

void DownloadBatch::WaitUntil(const std::function<bool(int size, bool ended)> &ready, int ms) const
{
    std::unique_lock lock(m_mutex);
    m_changed.wait_for(lock, std::chrono::milliseconds(ms), [&] { return ready(int(m_pictures.size()), m_ended); });
}

void DownloadBatch::Poke() const
{
    {
        std::lock_guard lock(m_mutex); // a waiter between its test and its wait is not missed
    }
    m_changed.notify_all();
}

std::thread StartDownPicFunc(AppState &app, WindowServices &w)
{
    return StartDownPicFunc(app, w, DownloadBatch::Complete(app.downloads));
}

std::thread StartDownPicFunc(AppState &app, WindowServices &w, std::shared_ptr<DownloadBatch> batch)
{
    try {
        return std::thread([&app, &w, batch = std::move(batch)] { DownPicFunc(app, w, *batch); });
    } catch (const std::system_error &) {
        return {};
    }
}

PictureOutcome DownPicWorker(AppState &app, CUrlSession &session, const DownloadBatch::Picture &picture)
{
    PictureOutcome outcome;
    const QString &entry = picture.address;
    const qsizetype crlf = entry.indexOf(QStringLiteral("\r\n"));
    const QString first = crlf < 0 ? entry : entry.left(crlf);
    const QString fallback = crlf < 0 ? QString() : entry.mid(crlf + 2);
    outcome.address = first;
    outcome.file = picture.file;

    ST_URLREQUEST req(first, outcome.file, app.timings.pictureStepTimeoutMs);
    req.readTimeoutMs = uint32_t(app.runDownSet.wTimeout) * 1000;
    req.headers = picture.headers;
    req.minSizeKB = app.runDownSet.wMinKB;
    req.maxSizeKB = app.runDownSet.wMaxKB;
    req.refuseHtml = true;
    req.refusePartialPicture = true;
    // Less than 1 KB a second over the whole time-out is a host trickling, not a network.
    // The floor counts the wait for the answer too, which has the step time-out.
    req.lowSpeedBytesPerSecond = kLowSpeedBytesPerSecond;
    req.lowSpeedSeconds = std::max<uint32_t>(app.runDownSet.wTimeout, (app.timings.pictureStepTimeoutMs + 999) / 1000);
    app.ApplyRetryPolicy(req);
    req.shouldAbort = [&app] { return app.bStopWorkers != 0 || app.bQuit; };

    bool ok = false;
    try {
        ok = session.Fetch(req);
        if (session.received == 0 && !fallback.isEmpty() && app.bStopWorkers == 0) {
            req.url = fallback;
            ok = session.Fetch(req);
        }
        outcome.saved = ok && session.savedToFile;
        outcome.bytes = session.received;
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
    return outcome;
}

void DownPicFunc(AppState &app, WindowServices &w, const DownloadBatch &batch)
{
    app.nDoneCount = 0;
    app.nBatchTotal = 0;
    const auto stopped = [&app] { return app.bStopWorkers != 0 || app.bQuit; };
    // Nothing is shown or started before the first picture: an album that collects none
    // has no batch.
    while (batch.Size() == 0 && !batch.Ended() && !stopped())
        batch.WaitUntil([](int size, bool ended) { return size > 0 || ended; }, kStopPollMs);
    const int maxWorkers = app.runDownSet.wThreads;
    if (batch.Size() == 0 || maxWorkers <= 0)
        return;

    app.bWorkersBusy = 1;
    w.SetProgressText(Texts::tr("已开始下载图片"), ReportKind::DownloadStarted);
    const qint64 started = QDateTime::currentSecsSinceEpoch();

    std::atomic<int> next{0};

    auto work = [&] {
        CUrlSession session;
        for (;;) {
            if (stopped())
                return;
            const std::optional<DownloadBatch::Picture> picture = batch.Wait(next.fetch_add(1), stopped);
            if (!picture)
                return;
            const PictureOutcome outcome = DownPicWorker(app, session, *picture);
            app.AddOutcome(outcome);
            w.PictureFinished(outcome);
            ++app.nDoneCount;
            batch.Poke();
        }
    };

    std::vector<std::thread> threads;
    threads.reserve(size_t(maxWorkers));
    bool cannotStart = false; // not a single worker could start
    int counted = 0;          // pictures counted as failed for that reason
    uint32_t shown = UINT32_MAX; // the first pass always writes the line
    auto lastShown = std::chrono::steady_clock::now() - kProgressInterval;
    for (;;) {
        const bool ended = batch.Ended(); // before the size: no picture comes after it then
        const int total = batch.Size();
        app.nBatchTotal = uint32_t(total);
        // One worker more per picture waiting, up to the worker count.
        while (!cannotStart && int(threads.size()) < std::min(maxWorkers, total)) {
            try {
                threads.emplace_back(work);
            } catch (const std::system_error &) {
                cannotStart = threads.empty();
                break; // fewer workers; the ones running take the pictures
            }
        }
        if (cannotStart) {
            // Every picture counts as finished (and failed).
            for (; counted < total; ++counted) {
                const std::optional<DownloadBatch::Picture> p = batch.Wait(counted, [] { return true; });
                PictureOutcome outcome;
                outcome.address = p->address;
                outcome.file = p->file;
                outcome.reason = QStringLiteral("worker could not start");
                app.AddOutcome(outcome);
                w.PictureFinished(outcome);
                ++app.nDoneCount;
            }
        }
        if (stopped())
            break;
        const uint32_t done = app.nDoneCount;
        const bool last = ended && done >= uint32_t(total);
        const auto now = std::chrono::steady_clock::now();
        if ((done != shown && now - lastShown >= kProgressInterval) || last) {
            w.SetProgressText(progressText(done, total), ReportKind::Downloaded);
            shown = done;
            lastShown = now;
        }
        if (last)
            break;
        // Until a picture is finished or added, the collection ends, or a stop.
        batch.WaitUntil([&](int size, bool end) { return app.nDoneCount != done || size != total || end != ended || stopped(); },
                        kStopPollMs);
    }

    for (auto &t : threads)
        t.join(); // after a stop their transfers were aborted, so this is quick

    w.BatchFinished(unsigned(QDateTime::currentSecsSinceEpoch() - started), batch.Size());
    app.bWorkersBusy = 0;
}
