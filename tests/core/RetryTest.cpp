// Retries against the local board site on loopback: which failures are tried again,
// Retry-After in seconds and as a date, the hold a 429 puts on every session of the
// host, the least gap between requests, stops during a wait, and pictures the site keeps
// cut short. First one request at a time, then whole runs.
#include "CoreFixture.h"

#include "net/HostThrottle.h"
#include "net/URLSource2.h"

#include <QFile>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>

namespace {

using Fault = BoardSite::Fault;

class Retries : public CoreFixture {
protected:
    void SetUp() override
    {
        HostThrottle::Clear();
        CoreFixture::SetUp();
    }

    // Three tries with a back-off too short to matter; a picture request as the workers
    // make it when `picture`.
    static ST_URLREQUEST request(const QString &url, bool picture = true, const QString &savePath = {})
    {
        ST_URLREQUEST r(url, savePath, 5000);
        r.readTimeoutMs = 1000;
        r.attempts = 3;
        r.backoffBaseMs = 1;
        r.backoffMaxMs = 10;
        r.refuseHtml = picture;
        r.refusePartialPicture = picture;
        return r;
    }

    QString bytesUrl(const QString &tag, const QString &query) const
    {
        return site.baseUrl() + QStringLiteral("/t/bytes?tag=") + tag + QLatin1Char('&') + query;
    }

    // When the requests whose target starts with `prefix` arrived (ms), in order.
    QList<qint64> arrivals(const QString &prefix) const
    {
        QList<qint64> at;
        for (const BoardSite::RequestRecord &r : site.requests())
            if (r.target.startsWith(prefix))
                at.append(r.atMs);
        return at;
    }

    // A board whose first pins get the given faults, each for its first `times` requests
    // (0: every request).
    BoardSite::Board addBoard(const QString &id, int pins, const QList<QPair<Fault, int>> &faults = {})
    {
        BoardSite::Board b = BoardSite::makeBoard(id, QStringLiteral("album") + id, QStringLiteral("u"), pins, 7,
                                                  2048, 4096);
        for (int i = 0; i < faults.size(); ++i) {
            b.pins[i].fault = faults[i].first;
            b.pins[i].faultTimes = faults[i].second;
        }
        site.addBoard(b);
        return b;
    }

    void setRetryAfter(int seconds, bool asDate)
    {
        BoardSite::Options o = site.options();
        o.retryAfterSeconds = seconds;
        o.retryAfterAsDate = asDate;
        site.setOptions(o);
    }
};

} // namespace

TEST_F(Retries, FailuresThatWouldRepeatAreNotTriedAgain)
{
    const struct {
        const char *tag;
        const char *query;
        const char *error;
        int minRequests, maxRequests; // libcurl itself tries a kept-alive connection that died once more
        uint32_t minKB = 0, maxKB = 0;
    } cases[] = {
        {"s400", "status=400&ctype=image/png", "HTTP 400", 1, 1},
        {"s403", "status=403&ctype=image/png", "HTTP 403", 1, 1},
        {"s404", "status=404&ctype=image/png", "HTTP 404", 1, 1},
        {"s410", "status=410&ctype=image/png", "HTTP 410", 1, 1},
        {"html", "n=300", "not a picture (text/html)", 1, 1},
        {"large", "n=3000&ctype=image/png", "too large", 1, 1, 0, 1},
        {"small", "n=300&ctype=image/png", "too small", 1, 1, 1, 0},
        {"s408", "status=408&ctype=image/png", "HTTP 408", 3, 3},
        {"s429", "status=429&ctype=image/png", "HTTP 429", 3, 3},
        {"s500", "status=500&ctype=image/png", "HTTP 500", 3, 3},
        {"s502", "status=502&ctype=image/png", "HTTP 502", 3, 3},
        {"s503", "status=503&ctype=image/png", "HTTP 503", 3, 3},
        {"reset", "reset=1", "connection reset", 3, 6},
        {"slow", "delay_ms=3000&ctype=image/png", "timed out", 3, 3},
        {"truncated", "n=1000&declare=5000&ctype=image/png", "truncated", 3, 3},
    };
    CUrlSession s;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.tag);
        ST_URLREQUEST r = request(bytesUrl(QString::fromLatin1(c.tag), QString::fromLatin1(c.query)));
        // Only the slow answer should run out of time; the others get room on a loaded
        // machine (a first request timed out under ThreadSanitizer would be tried again).
        r.stepTimeoutMs = std::strcmp(c.tag, "slow") == 0 ? 300 : 5000;
        r.minSizeKB = c.minKB;
        r.maxSizeKB = c.maxKB;
        EXPECT_FALSE(s.Fetch(r));
        EXPECT_EQ(s.errorText, QString::fromLatin1(c.error));
        const int n = site.requestCount(QStringLiteral("/t/bytes?tag=") + QString::fromLatin1(c.tag) + QLatin1Char('&'));
        EXPECT_GE(n, c.minRequests);
        EXPECT_LE(n, c.maxRequests);
    }
}

TEST_F(Retries, RetryAfterInSecondsOrAsADateIsWaitedFor)
{
    for (const bool asDate : {false, true}) {
        SCOPED_TRACE(asDate ? "date" : "seconds");
        // A date names whole seconds: two seconds ahead is a wait of one to two.
        setRetryAfter(asDate ? 2 : 1, asDate);
        const QString id = asDate ? QStringLiteral("72") : QStringLiteral("71");
        const BoardSite::Board b = addBoard(id, 2, {{Fault::Status429, 1}, {Fault::Status503, 1}});
        CUrlSession s;
        for (const BoardSite::Pin &pin : b.pins) {
            ASSERT_TRUE(s.Fetch(request(site.pictureUrl(pin.key)))) << s.errorText.toStdString();
            EXPECT_EQ(s.body, site.pictureBytes(pin.key));
            const QList<qint64> at = arrivals(QLatin1Char('/') + pin.key);
            ASSERT_EQ(at.size(), 2);
            EXPECT_GE(at[1] - at[0], 900);
        }
    }
}

TEST_F(Retries, AWaitAboveTheCapFailsAtOnce)
{
    for (const bool asDate : {false, true}) {
        SCOPED_TRACE(asDate ? "date" : "seconds");
        setRetryAfter(3600, asDate);
        const BoardSite::Board b = addBoard(asDate ? QStringLiteral("74") : QStringLiteral("73"), 1,
                                            {{Fault::Status429, 0}});
        CUrlSession s;
        ST_URLREQUEST r = request(site.pictureUrl(b.pins[0].key));
        r.retryAfterMaxMs = 120000;
        EXPECT_FALSE(s.Fetch(r));
        EXPECT_TRUE(s.errorText.startsWith(QStringLiteral("HTTP 429 (asked to wait 3"))) << s.errorText.toStdString();
        EXPECT_EQ(site.requestCount(QLatin1Char('/') + b.pins[0].key), 1);
    }
}

TEST_F(Retries, A429HoldsEverySessionTalkingToThatHost)
{
    setRetryAfter(2, false);
    const BoardSite::Board b = addBoard(QStringLiteral("75"), 2, {{Fault::Status429, 1}});
    const QString host = HostThrottle::HostKey(site.baseUrl());
    bool firstOk = false;
    std::thread first([&] {
        CUrlSession s;
        firstOk = s.Fetch(request(site.pictureUrl(b.pins[0].key)));
    });
    // Once the first session has been told to wait, the host is held for everyone.
    EXPECT_TRUE(waitFor([&] { return HostThrottle::TryStart(host, 0) > 0; }));
    CUrlSession other;
    EXPECT_TRUE(other.Fetch(request(site.pictureUrl(b.pins[1].key))));
    first.join();
    EXPECT_TRUE(firstOk);
    const QList<qint64> told = arrivals(QLatin1Char('/') + b.pins[0].key);
    const QList<qint64> held = arrivals(QLatin1Char('/') + b.pins[1].key);
    ASSERT_EQ(told.size(), 2);
    ASSERT_EQ(held.size(), 1);
    EXPECT_GE(held[0] - told[0], 1900);
    EXPECT_GE(told[1] - told[0], 1900);
}

TEST_F(Retries, TheLeastGapBetweenRequestsHoldsAcrossSessions)
{
    constexpr int kThreads = 3, kEach = 3;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            CUrlSession s;
            // Connected first, so that connecting (slow under sanitizers) does not delay
            // one request's arrival and so shorten the gap seen at the site.
            EXPECT_TRUE(s.Fetch(request(bytesUrl(QStringLiteral("warm%1").arg(t), QStringLiteral("n=10")), false)));
            for (int k = 0; k < kEach; ++k) {
                ST_URLREQUEST r = request(bytesUrl(QStringLiteral("gap%1x%2").arg(t).arg(k), QStringLiteral("n=10")), false);
                r.requestGapMs = 250;
                EXPECT_TRUE(s.Fetch(r));
            }
        });
    }
    for (std::thread &t : threads)
        t.join();
    QList<qint64> at = arrivals(QStringLiteral("/t/bytes?tag=gap"));
    ASSERT_EQ(at.size(), kThreads * kEach);
    std::sort(at.begin(), at.end());
    for (int i = 1; i < at.size(); ++i)
        EXPECT_GE(at[i] - at[i - 1], 150) << i; // started 250 ms apart; arrivals jitter
}

TEST_F(Retries, AStopCutsTheWaitShort)
{
    const QString url = bytesUrl(QStringLiteral("held"), QStringLiteral("n=10"));
    HostThrottle::Hold(HostThrottle::HostKey(url), 600000);
    for (const bool viaFlag : {false, true}) {
        CUrlSession s;
        std::atomic<bool> stop{false};
        ST_URLREQUEST r = request(url, false);
        if (viaFlag)
            r.shouldAbort = [&] { return stop.load(); };
        std::thread stopper([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            if (viaFlag)
                stop = true;
            else
                s.Abort();
        });
        EXPECT_FALSE(s.Fetch(r)) << viaFlag;
        EXPECT_EQ(s.errorText, QStringLiteral("aborted")) << viaFlag;
        stopper.join();
    }
    EXPECT_EQ(site.requestCount(QStringLiteral("/t/bytes?tag=held")), 0);
}

TEST_F(Retries, APictureKeptCutShortIsSavedAWarningATruncatedOneFails)
{
    const BoardSite::Board b = addBoard(QStringLiteral("76"), 2, {{Fault::StoredCut, 0}, {Fault::Truncate, 0}});
    const QByteArray whole = site.pictureBytes(b.pins[0].key);
    // The same half without a length: the end of the connection ended it, which a broken
    // connection does too, so it is never taken for the site's own picture.
    const QString unframed = bytesUrl(QStringLiteral("unframed"),
                                      QStringLiteral("nolength=1&ctype=image/jpeg&hex=")
                                          + QString::fromLatin1(whole.left(whole.size() / 2).toHex()));
    for (const int attempts : {1, 3}) {
        SCOPED_TRACE(attempts);
        site.clearRequests();
        CUrlSession s;
        ST_URLREQUEST r = request(site.pictureUrl(b.pins[0].key), true, sandbox.file(QStringLiteral("cut.jpg")));
        r.attempts = uint8_t(attempts);
        ASSERT_TRUE(s.Fetch(r)) << s.errorText.toStdString();
        EXPECT_TRUE(s.savedToFile);
        EXPECT_EQ(s.warningText, QStringLiteral("the site keeps it cut short"));
        EXPECT_EQ(sandbox.read(QStringLiteral("cut.jpg")), whole.left(whole.size() / 2));
        EXPECT_EQ(site.requestCount(QLatin1Char('/') + b.pins[0].key), 2) << "fetched once more, also past the tries";

        r.url = site.pictureUrl(b.pins[1].key);
        r.savePath = sandbox.file(QStringLiteral("short.jpg"));
        EXPECT_FALSE(s.Fetch(r));
        EXPECT_EQ(s.errorText, QStringLiteral("truncated"));
        EXPECT_TRUE(s.warningText.isEmpty());
        EXPECT_FALSE(QFile::exists(r.savePath));
        EXPECT_EQ(site.requestCount(QLatin1Char('/') + b.pins[1].key), attempts);

        r.url = unframed;
        r.savePath = sandbox.file(QStringLiteral("unframed.jpg"));
        EXPECT_FALSE(s.Fetch(r));
        EXPECT_EQ(s.errorText, QStringLiteral("incomplete picture"));
        EXPECT_FALSE(QFile::exists(r.savePath));
        EXPECT_EQ(site.requestCount(QStringLiteral("/t/bytes?tag=unframed")), attempts);
    }
}

// --- whole runs ------------------------------------------------------------------

TEST_F(Retries, PicturesAndPinPagesAnswering429AreFetchedAfterTheWait)
{
    for (const bool asDate : {false, true}) {
        SCOPED_TRACE(asDate ? "date" : "seconds");
        setRetryAfter(asDate ? 2 : 1, asDate);
        site.clearRequests();
        const QString id = asDate ? QStringLiteral("82") : QStringLiteral("81");
        BoardSite::Board b = BoardSite::makeBoard(id, QStringLiteral("album") + id, QStringLiteral("u"), 45, 3,
                                                  2048, 4096);
        b.pinPageFault = Fault::Status429;
        b.pinPageFaultTimes = 1;
        b.pins[3].fault = b.pins[30].fault = Fault::Status429;
        b.pins[3].faultTimes = b.pins[30].faultTimes = 1;
        site.addBoard(b);

        retrieveAndRun(site.boardUrl(id));

        const RunSummary s = app->Summary();
        EXPECT_EQ(s.collected, 45);
        EXPECT_EQ(s.saved, 45);
        EXPECT_EQ(s.failed, 0);
        const QList<qint64> pages = arrivals(QStringLiteral("/boards/%1/?hxzmqq2s").arg(id));
        ASSERT_EQ(pages.size(), 3) << "the first pin page twice, then the last one";
        EXPECT_GE(pages[1] - pages[0], 900);
        for (const int i : {3, 30}) {
            const QList<qint64> at = arrivals(QLatin1Char('/') + b.pins[i].key);
            ASSERT_EQ(at.size(), 2) << i;
            EXPECT_GE(at[1] - at[0], 900) << i;
        }
    }
}

TEST_F(Retries, A429SlowsTheWholePool)
{
    // 100 ms per answer keeps three workers busy for two seconds; a 429 with Retry-After
    // 2 at the sixth picture stops every one of them, not only the one that got it.
    BoardSite::Options o = site.options();
    o.latencyMs = 100;
    o.retryAfterSeconds = 2;
    site.setOptions(o);
    BoardSite::Board b = BoardSite::makeBoard(QStringLiteral("83"), QStringLiteral("pool"), QStringLiteral("u"), 60, 5,
                                              2048, 4096);
    b.pins[5].fault = Fault::Status429;
    b.pins[5].faultTimes = 1;
    site.addBoard(b);
    editDownSet([](ST_DOWNSET &d) { d.wThreads = 3; });

    retrieveAndRun(site.boardUrl(b.id));

    EXPECT_EQ(app->Summary().saved, 60);
    const qint64 told = arrivals(QLatin1Char('/') + b.pins[5].key).value(0, -1);
    ASSERT_GE(told, 0);
    QList<qint64> during;
    for (const BoardSite::RequestRecord &r : site.requests())
        if (!r.path.startsWith(QStringLiteral("/boards/")) && r.atMs > told + 400 && r.atMs < told + 1900)
            during.append(r.atMs - told);
    EXPECT_TRUE(during.isEmpty()) << during.size() << " requests during the hold, the first "
                                  << during.value(0) << " ms after the 429";
}

TEST_F(Retries, ARunTellsFinalFromTransientFailuresAndWarnsOfCutPictures)
{
    const struct {
        Fault fault;
        int times;
        int requests;
        const char *reason; // empty: saved
        bool warned;
    } pins[] = {
        {Fault::Status404, 0, 1, "HTTP 404", false},
        {Fault::Status403, 0, 1, "HTTP 403", false},
        {Fault::Status500, 2, 3, "", false},
        {Fault::Status503, 2, 3, "", false},
        {Fault::Status500, 0, 3, "HTTP 500", false},
        {Fault::Truncate, 0, 3, "truncated", false},
        {Fault::Truncate, 1, 2, "", false},
        {Fault::StoredCut, 0, 2, "", true},
        {Fault::None, 0, 1, "", false},
    };
    setRetryAfter(-1, false);
    QList<QPair<Fault, int>> faults;
    for (const auto &p : pins)
        faults.append({p.fault, p.times});
    const BoardSite::Board b = addBoard(QStringLiteral("84"), int(std::size(pins)), faults);

    retrieveAndRun(site.boardUrl(b.id));

    const RunSummary s = app->Summary();
    EXPECT_EQ(s.saved, 5);
    EXPECT_EQ(s.failed, 4);
    ASSERT_EQ(s.warnings.size(), 1);
    EXPECT_EQ(s.warnings[0].address, site.pictureUrl(b.pins[7].key));
    EXPECT_EQ(s.warnings[0].warning, QStringLiteral("the site keeps it cut short"));
    // The window says so too: a warned picture counts as saved, not as a failure.
    EXPECT_EQ(w->LastPhase(), QStringLiteral("下载完毕，4张失败，1张图片网站上就不完整"));
    const QByteArray cut = site.pictureBytes(b.pins[7].key);
    QFile saved(s.warnings[0].file);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(saved.readAll(), cut.left(cut.size() / 2));
    QMap<QString, QString> failed;
    for (const PictureOutcome &f : s.failures)
        failed.insert(f.address, f.reason);
    for (int i = 0; i < int(std::size(pins)); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(failed.value(site.pictureUrl(b.pins[i].key)), QString::fromLatin1(pins[i].reason));
        EXPECT_EQ(site.requestCount(QLatin1Char('/') + b.pins[i].key), pins[i].requests);
    }
}
