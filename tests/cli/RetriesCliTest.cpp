// corvadin-cli against a site that throttles or fails: --retries, --sleep-request, the
// settings file that keeps them, a site answering 429 for ever, and a picture the site
// keeps cut short. The real program in a child process, the local board site on loopback.
#include "CliFixture.h"

#include <QSettings>

#include <algorithm>

namespace {

using Fault = BoardSite::Fault;

class RetriesCli : public CliFixture {
protected:
    // A board whose pictures all get `fault` (None: none), the first `cut` of them
    // StoredCut instead.
    BoardSite::Board addBoard(const QString &id, int pins, Fault fault, int cut = 0)
    {
        BoardSite::Board b = BoardSite::makeBoard(id, QStringLiteral("t"), QStringLiteral("u"), pins, 5, 2048, 4096);
        for (int i = 0; i < pins; ++i)
            b.pins[i].fault = i < cut ? Fault::StoredCut : fault;
        site.addBoard(b);
        return b;
    }

    int requestsFor(const BoardSite::Pin &pin) const { return site.requestCount(QLatin1Char('/') + pin.key); }
};

} // namespace

TEST_F(RetriesCli, ASiteAnswering429ForEverEndsTheRunWithExitCode1)
{
    const struct {
        int retryAfter;
        int requests;     // per picture
        const char *says; // in the summary
    } cases[] = {
        {1, 3, "(HTTP 429)"},
        {3600, 1, "(HTTP 429 (asked to wait 3600 s))"}, // no hanging for an hour
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.retryAfter);
        BoardSite::Options o = site.options();
        o.retryAfterSeconds = c.retryAfter;
        site.setOptions(o);
        const BoardSite::Board b = addBoard(QStringLiteral("%1").arg(900 + c.retryAfter), 4, Fault::Status429);

        const CliResult r = run({QStringLiteral("-j"), QStringLiteral("2"), site.boardUrl(b.id)});

        EXPECT_EQ(r.exitCode, 1) << r.err.toStdString();
        EXPECT_TRUE(r.out.contains(QStringLiteral("saved: 0, failed: 4"))) << r.out.toStdString();
        EXPECT_EQ(r.out.count(QString::fromLatin1(c.says)), 4) << r.out.toStdString();
        for (const BoardSite::Pin &pin : b.pins)
            EXPECT_EQ(requestsFor(pin), c.requests);
    }
}

TEST_F(RetriesCli, RetriesAndTheRequestGapComeFromTheOptionsOrTheSettingsFile)
{
    const BoardSite::Board failing = addBoard(QStringLiteral("31"), 2, Fault::Status500);
    const BoardSite::Board fine = addBoard(QStringLiteral("32"), 6, Fault::None);
    const QString ini = work() + QStringLiteral("/corvadin.ini");

    // This run only: one try each, nothing written.
    CliResult r = run({QStringLiteral("--retries"), QStringLiteral("0"), site.boardUrl(failing.id)});
    EXPECT_EQ(r.exitCode, 1) << r.err.toStdString();
    for (const BoardSite::Pin &pin : failing.pins)
        EXPECT_EQ(requestsFor(pin), 1);
    EXPECT_FALSE(QFile::exists(ini));

    // Kept: two tries each, and at least 0.3 s between two requests across 4 workers.
    site.clearRequests();
    r = run({QStringLiteral("--retries"), QStringLiteral("1"), QStringLiteral("--sleep-request"), QStringLiteral("0.3"),
             QStringLiteral("--save-settings"), site.boardUrl(failing.id)});
    EXPECT_EQ(r.exitCode, 1) << r.err.toStdString();
    for (const BoardSite::Pin &pin : failing.pins)
        EXPECT_EQ(requestsFor(pin), 2);
    const QSettings kept(ini, QSettings::IniFormat);
    EXPECT_EQ(kept.value(QStringLiteral("Requests/Retries")).toInt(), 1);
    EXPECT_EQ(kept.value(QStringLiteral("Requests/SleepRequest")).toDouble(), 0.3);
    EXPECT_EQ(QFileInfo(work() + QStringLiteral("/soft.dat")).size(), 19808);

    // The next run reads them.
    site.clearRequests();
    r = run({QStringLiteral("-j"), QStringLiteral("4"), site.boardUrl(fine.id)});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    QList<qint64> at;
    for (const BoardSite::RequestRecord &rec : site.requests())
        at.append(rec.atMs);
    ASSERT_EQ(at.size(), 1 + 6); // the board page and the pictures
    std::sort(at.begin(), at.end());
    for (int i = 1; i < at.size(); ++i)
        EXPECT_GE(at[i] - at[i - 1], 200) << i; // started 300 ms apart; arrivals jitter

    site.clearRequests();
    r = run({site.boardUrl(failing.id)});
    for (const BoardSite::Pin &pin : failing.pins)
        EXPECT_EQ(requestsFor(pin), 2);
}

TEST_F(RetriesCli, BadRetryOptionsAreRefused)
{
    const struct {
        QStringList args;
        const char *says;
    } cases[] = {
        {{QStringLiteral("--retries"), QStringLiteral("11")}, "--retries must be 0 to 10"},
        {{QStringLiteral("--retries"), QStringLiteral("-1")}, "--retries must be 0 to 10"},
        {{QStringLiteral("--retries"), QStringLiteral("two")}, "--retries must be 0 to 10"},
        {{QStringLiteral("--sleep-request"), QStringLiteral("-0.5")}, "--sleep-request must be 0 to 600 seconds"},
        {{QStringLiteral("--sleep-request"), QStringLiteral("601")}, "--sleep-request must be 0 to 600 seconds"},
        {{QStringLiteral("--sleep-request"), QStringLiteral("nan")}, "--sleep-request must be 0 to 600 seconds"},
        {{QStringLiteral("--sleep-request"), QStringLiteral("1s")}, "--sleep-request must be 0 to 600 seconds"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args.join(QLatin1Char(' ')).toStdString());
        const CliResult r = run(c.args + QStringList{site.boardUrl(QStringLiteral("1001"))});
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_TRUE(r.err.contains(QString::fromLatin1(c.says))) << r.err.toStdString();
    }
    EXPECT_EQ(site.requestCount(), 0);
}

TEST_F(RetriesCli, APictureTheSiteKeepsCutShortIsAWarningNotAFailure)
{
    const BoardSite::Board b = addBoard(QStringLiteral("41"), 3, Fault::None, 1);
    CliResult r = run({site.boardUrl(b.id)});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("saved: 3, failed: 0"))) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("  warning: %1 (the site keeps it cut short)\n")
                                   .arg(site.pictureUrl(b.pins[0].key))))
        << r.out.toStdString();

    // A transfer cut short stays a failure.
    site.setPinFault(b.pins[0].key, Fault::Truncate);
    r = run({site.boardUrl(b.id)});
    EXPECT_EQ(r.exitCode, 1) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("failed: %1 (truncated)").arg(site.pictureUrl(b.pins[0].key))))
        << r.out.toStdString();
    EXPECT_FALSE(r.out.contains(QStringLiteral("warning:")));
}
