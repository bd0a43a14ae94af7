// CUrlSession against the local board site on loopback: limits, retries, time-outs,
// text conversion, redirects, files, cookies and aborts.
#include "BoardSite.h"
#include "TestSupport.h"
#include "net/CookieStore.h"
#include "net/URLSource2.h"
#include "text/StringCtrl.h"

#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <QBuffer>
#include <QElapsedTimer>

#include <atomic>
#include <csignal>
#include <thread>

#ifndef Q_OS_WIN
#include <sys/resource.h>
#endif

namespace {

const char kAgent[] =
    "Mozilla/5.0 (Windows NT 5.1) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/44.0.12.87 Safari/537.36";

class UrlSessionTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        BoardSite::Options o;
        o.stallMs = 20000;
        site = new BoardSite(o);
        ASSERT_TRUE(site->start());
    }
    static void TearDownTestSuite()
    {
        delete site;
        site = nullptr;
    }
    void SetUp() override { CookieStore::Clear(); }

    // A request for a test route; the tag makes the requests of one case countable.
    static ST_URLREQUEST request(const QString &tag, const QString &query, uint32_t timeoutMs = 5000,
                                 const QString &route = QStringLiteral("/t/bytes"))
    {
        return ST_URLREQUEST(site->baseUrl() + route + QStringLiteral("?tag=") + tag
                                 + (query.isEmpty() ? QString() : QStringLiteral("&") + query),
                             QString(), timeoutMs);
    }
    static int arrived(const QString &tag, const QString &route = QStringLiteral("/t/bytes"))
    {
        return site->requestCount(route + QStringLiteral("?tag=") + tag);
    }

    static BoardSite *site;
};

BoardSite *UrlSessionTest::site = nullptr;

TEST_F(UrlSessionTest, FetchWithoutAttemptsSendsNothing)
{
    CUrlSession s;
    ST_URLREQUEST r = request(QStringLiteral("zero"), QStringLiteral("n=10"));
    r.attempts = 0;
    EXPECT_FALSE(s.Fetch(r));
    EXPECT_EQ(arrived(QStringLiteral("zero")), 0);
}

TEST_F(UrlSessionTest, AgentVerbAndExtraHeadersArriveUnchanged)
{
    CUrlSession s;
    ST_URLREQUEST r = request(QStringLiteral("hdr"), {}, 5000, QStringLiteral("/t/echo"));
    r.headers = QStringLiteral("Accept-Encoding: gzip, deflate\r\nX-Corvadin-Probe: 1 2  3\r\n");
    ASSERT_TRUE(s.Fetch(r));
    const BoardSite::RequestRecord seen = site->requests().constLast();
    EXPECT_EQ(seen.method, QStringLiteral("GET"));
    EXPECT_EQ(seen.header("User-Agent"), QByteArray(kAgent));
    EXPECT_EQ(seen.header("Accept-Encoding"), QByteArray("gzip, deflate"));
    EXPECT_EQ(seen.header("X-Corvadin-Probe"), QByteArray("1 2  3"));
}

struct SizeCase {
    const char *name;
    const char *query;
    uint32_t minKB, maxKB;
    bool ok;
    qsizetype bodySize;
    const char *error;
};

class UrlSessionSizeTest : public UrlSessionTest, public ::testing::WithParamInterface<SizeCase> {};

TEST_P(UrlSessionSizeTest, LimitsOnDeclaredAndReceivedLength)
{
    const SizeCase &c = GetParam();
    CUrlSession s;
    ST_URLREQUEST r = request(QString::fromLatin1(c.name), QString::fromLatin1(c.query));
    r.minSizeKB = c.minKB;
    r.maxSizeKB = c.maxKB;
    EXPECT_EQ(s.Request(r), c.ok);
    if (c.bodySize >= 0) {
        EXPECT_EQ(s.body.size(), c.bodySize);
    }
    EXPECT_EQ(s.errorText, QString::fromLatin1(c.error));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UrlSessionSizeTest,
    ::testing::Values(
        // Without Content-Length only the received size counts.
        SizeCase {"chunked", "n=5000&chunked=1", 0, 0, true, 5000, ""},
        SizeCase {"chunkedsmall", "n=3000&chunked=1", 4, 0, false, 3000, "too small"},
        SizeCase {"chunkedlarge", "n=3000&chunked=1", 0, 2, false, -1, "too large"},
        SizeCase {"closed", "n=5000&nolength=1", 0, 0, true, 5000, ""},
        // A declared length out of bounds fails before any body byte is read.
        SizeCase {"zero", "declare=0", 1, 0, false, 0, "too small"},
        SizeCase {"declaredsmall", "n=1000", 1, 0, false, 0, "too small"},
        SizeCase {"declaredlarge", "n=2049", 0, 2, false, 0, "too large"},
        SizeCase {"exact", "n=2048", 2, 2, true, 2048, ""},
        // The declared length is believed: a short declaration cuts the body.
        SizeCase {"lie", "n=5000&declare=100", 0, 0, true, 100, ""},
        SizeCase {"truncated", "n=100&declare=5000", 0, 0, false, 100, "truncated"}),
    [](const ::testing::TestParamInfo<SizeCase> &info) { return std::string(info.param.name); });

TEST_F(UrlSessionTest, MaximumPassedMidTransferStopsAtOnce)
{
    // The body stalls after 256 KB; a session that kept reading would wait there.
    CUrlSession s;
    ST_URLREQUEST r = request(QStringLiteral("midmax"),
                              QStringLiteral("n=1048576&chunked=1&stall_after=262144&stall_ms=20000"), 30000);
    r.maxSizeKB = 64;
    EXPECT_FALSE(s.Request(r));
    EXPECT_EQ(s.errorText, QStringLiteral("too large"));
    EXPECT_GT(s.body.size(), 0);
    EXPECT_LE(s.body.size(), 64 * 1024) << "the piece that would pass the maximum is not kept";
}

struct RetryCase {
    const char *name;
    const char *query;
    bool ok;
    int requests;
};

class UrlSessionRetryTest : public UrlSessionTest, public ::testing::WithParamInterface<RetryCase> {};

TEST_P(UrlSessionRetryTest, BoardPageLengthRule)
{
    const RetryCase &c = GetParam();
    CUrlSession s;
    ST_URLREQUEST r = request(QString::fromLatin1(c.name), QString::fromLatin1(c.query));
    r.minTextLength = 100;
    r.attempts = 4;
    r.retryDelaySeconds = 0;
    EXPECT_EQ(s.Fetch(r), c.ok);
    EXPECT_EQ(arrived(QString::fromLatin1(c.name)), c.requests);
}

// The tag adds to the length only of /t/echo; /t/bytes bodies are exactly n bytes.
INSTANTIATE_TEST_SUITE_P(
    Cases, UrlSessionRetryTest,
    ::testing::Values(RetryCase {"len100", "n=100", false, 4},
                      RetryCase {"len101", "n=101", true, 1},
                      // Counted on the decoded body: 400 bytes of text in a few dozen of gzip.
                      RetryCase {"gzip", "n=400&gzip=1", true, 1},
                      RetryCase {"status", "n=500&status=500", false, 4}),
    [](const ::testing::TestParamInfo<RetryCase> &info) { return std::string(info.param.name); });

struct EncodingCase {
    const char *name;
    const char *query; // added to the body's
    const char *error; // empty: the text arrives decoded
};

class UrlSessionEncodingTest : public UrlSessionTest, public ::testing::WithParamInterface<EncodingCase> {};

TEST_P(UrlSessionEncodingTest, BodiesArriveDecoded)
{
    const EncodingCase &c = GetParam();
    const QString text = QStringLiteral("相册 album &amp; pins, ").repeated(25);
    CUrlSession s;
    ST_URLREQUEST r = request(QString::fromLatin1(c.name), QStringLiteral("body=")
                                  + QString::fromLatin1(QUrl::toPercentEncoding(text)) + QLatin1Char('&')
                                  + QString::fromLatin1(c.query));
    r.maxSizeKB = 1; // more than the decoded text
    const bool ok = s.Request(r);
    EXPECT_EQ(s.errorText, QString::fromLatin1(c.error));
    if (!ok)
        return;
    EXPECT_EQ(s.body, text.toUtf8());
    EXPECT_EQ(s.received, text.toUtf8().size());
    const QString expected = QStringLiteral("相册 album & pins, ").repeated(25); // entities decoded
    EXPECT_EQ(s.GetText(TEXT_UTF8), expected);
    EXPECT_EQ(s.GetText(TEXT_UTF8), expected) << "the body is text already";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UrlSessionEncodingTest,
    ::testing::Values(EncodingCase {"plain", "n=0", ""},
                      EncodingCase {"gzip", "gzip=1", ""},
                      EncodingCase {"deflate", "deflate=1", ""},
                      EncodingCase {"chunkedgzip", "gzip=1&chunked=1", ""},
                      // "gzip" in other headers says nothing of the body.
                      EncodingCase {"cookie", "setcookie=pref%3Dgzip", ""},
                      EncodingCase {"ctype", "ctype=text/plain%3B%20x-note%3Dgzip", ""},
                      EncodingCase {"othername", "header=X-Compression%3A%20gzip", ""},
                      // A body that says it is compressed and is not.
                      EncodingCase {"liar", "header=Content-Encoding%3A%20gzip", "damaged compressed body"}),
    [](const ::testing::TestParamInfo<EncodingCase> &info) { return std::string(info.param.name); });

TEST_F(UrlSessionTest, EveryEncodingIsOfferedUnlessTheCallerNamesOne)
{
    CUrlSession s;
    ASSERT_TRUE(s.Fetch(request(QStringLiteral("offer"), {}, 5000, QStringLiteral("/t/echo"))));
    const QByteArray offered = site->requests().constLast().header("Accept-Encoding");
    for (const char *coding : {"gzip", "deflate"})
        EXPECT_TRUE(offered.contains(coding)) << offered.toStdString();
}

struct CharsetCase {
    const char *name;
    const char *ctype;
    const char *hex;
    unsigned options;
    const char16_t *expected;
};

class UrlSessionCharsetTest : public UrlSessionTest, public ::testing::WithParamInterface<CharsetCase> {};

TEST_P(UrlSessionCharsetTest, ConversionRules)
{
    const CharsetCase &c = GetParam();
    CUrlSession s;
    ST_URLREQUEST r = request(QString::fromLatin1(c.name),
                              QStringLiteral("ctype=") + QString::fromLatin1(QUrl::toPercentEncoding(QString::fromLatin1(c.ctype)))
                                  + QStringLiteral("&hex=") + QString::fromLatin1(c.hex));
    ASSERT_TRUE(s.Request(r));
    EXPECT_EQ(s.GetText(c.options), QString::fromUtf16(c.expected));
}

// "中文" is d6d0cec4 in GBK and e4b8ade69687 in UTF-8.
INSTANTIATE_TEST_SUITE_P(
    Cases, UrlSessionCharsetTest,
    ::testing::Values(
        CharsetCase {"gbkwins", "text/html; charset=GBK", "d6d0cec4", TEXT_UTF8, u"中文"},
        CharsetCase {"gbklower", "text/html; charset=gbk", "e4b8ade69687", TEXT_UTF8, u"中文"},
        CharsetCase {"utf8", "text/html; charset=utf-8", "e4b8ade69687", TEXT_UTF8, u"中文"},
        CharsetCase {"autoutf8", "text/html", "e4b8ade69687", TEXT_AUTO_UTF8, u"中文"},
        CharsetCase {"autoansi", "text/html", "d6d0cec4", TEXT_AUTO_UTF8, u"中文"},
        CharsetCase {"noflags", "text/html", "d6d0cec4", 0, u"中文"},
        CharsetCase {"zero", "text/html", "41420043", TEXT_UTF8, u"AB"},
        // "a &amp;lt; b": the entities are decoded one after the other.
        CharsetCase {"entities", "text/html", "6120266c743b20262333393b", TEXT_UTF8, u"a < '"},
        CharsetCase {"doubled", "text/html", "2026616d703b6c743b", TEXT_UTF8, u" <"}),
    [](const ::testing::TestParamInfo<CharsetCase> &info) { return std::string(info.param.name); });

TEST_F(UrlSessionTest, LowerCaseGbkDeclarationIsNotHonoured)
{
    CUrlSession s;
    ASSERT_TRUE(s.Request(request(QStringLiteral("gbkl"), QStringLiteral("ctype=text/html;%20charset%3Dgbk&hex=d6d0cec4"))));
    EXPECT_NE(s.GetText(TEXT_UTF8), QStringLiteral("中文"));
}

TEST_F(UrlSessionTest, ErrorStatusFailsWithoutReadingTheBody)
{
    CUrlSession s;
    EXPECT_FALSE(s.Request(request(QStringLiteral("e404"), QStringLiteral("status=404&n=50000"))));
    EXPECT_EQ(s.statusCode, 404);
    EXPECT_EQ(s.errorText, QStringLiteral("HTTP 404"));
    EXPECT_TRUE(s.body.isEmpty());
    EXPECT_TRUE(s.headerText.startsWith(QStringLiteral("HTTP/1.1 404")));
}

TEST_F(UrlSessionTest, RedirectFollowedAndOnlyTheFinalHeadersKept)
{
    CUrlSession s;
    ASSERT_TRUE(s.Request(request(QStringLiteral("redir"), QStringLiteral("n=300&redirect=/t/echo"))));
    EXPECT_EQ(s.statusCode, 200);
    EXPECT_TRUE(s.headerText.startsWith(QStringLiteral("HTTP/1.1 200")));
    EXPECT_FALSE(s.headerText.contains(QStringLiteral("Location")));
    EXPECT_TRUE(s.headerText.endsWith(QStringLiteral("\r\n\r\n")));
    EXPECT_TRUE(s.body.startsWith("GET /t/echo ")) << "the redirect's own body is not kept";

    EXPECT_FALSE(s.Request(ST_URLREQUEST(site->baseUrl() + QStringLiteral("/t/loop"), QString(), 5000)));
    EXPECT_EQ(s.errorText, QStringLiteral("too many redirects"));
}

TEST_F(UrlSessionTest, HeaderTextKeptWhenTheNextRequestGetsNone)
{
    CUrlSession s;
    ASSERT_TRUE(s.Request(request(QStringLiteral("keep"), QStringLiteral("n=10"))));
    const QString before = s.headerText;
    EXPECT_FALSE(s.Request(request(QStringLiteral("keepreset"), QStringLiteral("reset=1"))));
    EXPECT_EQ(s.errorText, QStringLiteral("connection reset"));
    EXPECT_EQ(s.headerText, before);
    EXPECT_EQ(s.statusCode, 0);
}

struct TimeoutCase {
    const char *name;
    const char *query;
    uint32_t readMs, stepMs;
    qsizetype bodySize;
};

class UrlSessionTimeoutTest : public UrlSessionTest, public ::testing::WithParamInterface<TimeoutCase> {};

TEST_P(UrlSessionTimeoutTest, EachTryStartsOver)
{
    const TimeoutCase &c = GetParam();
    CUrlSession s;
    ST_URLREQUEST r = request(QString::fromLatin1(c.name), QString::fromLatin1(c.query));
    r.readTimeoutMs = c.readMs;
    r.stepTimeoutMs = c.stepMs;
    r.attempts = 2;
    r.retryDelaySeconds = 0;
    EXPECT_FALSE(s.Fetch(r));
    EXPECT_EQ(s.errorText, QStringLiteral("timed out"));
    EXPECT_EQ(s.body.size(), c.bodySize);
    EXPECT_EQ(arrived(QString::fromLatin1(c.name)), 2);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UrlSessionTimeoutTest,
    ::testing::Values(TimeoutCase {"bodygap", "n=1000&stall_after=100&stall_ms=5000", 300, 10000, 100},
                      TimeoutCase {"headers", "n=1000&delay_ms=5000", 10000, 300, 0}),
    [](const ::testing::TestParamInfo<TimeoutCase> &info) { return std::string(info.param.name); });

TEST_F(UrlSessionTest, UnwritableSavePathFailsBeforeTheBody)
{
    Sandbox box;
    box.write(QStringLiteral("blocker"), "a file where a folder should be");
    CUrlSession s;
    ST_URLREQUEST r = request(QStringLiteral("nowrite"), QStringLiteral("n=3000"));
    r.savePath = box.file(QStringLiteral("blocker/picture.jpg"));
    EXPECT_FALSE(s.Request(r));
    EXPECT_FALSE(s.savedToFile);
    EXPECT_TRUE(s.errorText.startsWith(QStringLiteral("file not written"))) << s.errorText.toStdString();
    EXPECT_EQ(s.received, 0) << "nothing downloaded that could not be kept";
    EXPECT_FALSE(QFileInfo::exists(r.savePath));
}

TEST_F(UrlSessionTest, SavePathWrittenWholeOrNotAtAll)
{
    BoardSite::Board b = BoardSite::makeBoard(QStringLiteral("7001"), QStringLiteral("t"), QStringLiteral("u"), 3, 7,
                                              20000, 40000);
    b.pins[1].fault = BoardSite::Fault::Truncate;
    b.pins[2].fault = BoardSite::Fault::Stall;
    site->addBoard(b);
    Sandbox box;
    CUrlSession s;
    for (int i = 0; i < 3; ++i) {
        ST_URLREQUEST r(site->pictureUrl(b.pins[i].key), box.file(QStringLiteral("p%1.jpg").arg(i)), 10000);
        r.readTimeoutMs = 2000; // the good picture must never time out on a loaded machine
        r.minSizeKB = 1;
        const bool ok = s.Request(r);
        EXPECT_EQ(ok, i == 0) << i;
        EXPECT_EQ(s.savedToFile, i == 0) << i;
    }
    EXPECT_EQ(box.read(QStringLiteral("p0.jpg")), site->pictureBytes(b.pins[0].key));
    const QStringList left = QDir(box.path()).entryList(QDir::Files | QDir::Hidden);
    EXPECT_EQ(left, QStringList {QStringLiteral("p0.jpg")}) << "no partial file, no temporary file";
}

// --- pictures streamed to their file ---------------------------------------------

struct StreamCase {
    const char *name;
    int pin;            // picture of the stream board; -1: the /t/bytes route with `query`
    const char *query;
    uint32_t minKB, maxKB;
    qint64 fileLimit;   // RLIMIT_FSIZE while the request runs; 0: none
    bool refusePartial;
    const char *error;  // empty: saved
};

class UrlSessionStreamTest : public UrlSessionTest, public ::testing::WithParamInterface<StreamCase> {
protected:
    static BoardSite::Board streamBoard()
    {
        // 300 KB pictures: three times libcurl's receive buffer, so every check below
        // meets a body that is on its way to the disk in pieces.
        BoardSite::Board b = BoardSite::makeBoard(QStringLiteral("7101"), QStringLiteral("s"), QStringLiteral("u"), 5,
                                                  71, 300 * 1024, 300 * 1024);
        const BoardSite::Kind kinds[] = {BoardSite::Kind::Jpeg, BoardSite::Kind::Png, BoardSite::Kind::Gif,
                                         BoardSite::Kind::Jpeg, BoardSite::Kind::Webp};
        const BoardSite::Fault faults[] = {BoardSite::Fault::None, BoardSite::Fault::WrongType,
                                           BoardSite::Fault::Truncate, BoardSite::Fault::StoredCut,
                                           BoardSite::Fault::LieLength};
        for (int i = 0; i < 5; ++i) {
            b.pins[i].kind = kinds[i];
            b.pins[i].fault = faults[i];
        }
        return b;
    }
};

TEST_P(UrlSessionStreamTest, ChecksOnTheStreamLeaveNoFileBehind)
{
    const StreamCase &c = GetParam();
    const BoardSite::Board b = streamBoard();
    site->addBoard(b);
    Sandbox box;
    const QString target = box.file(QStringLiteral("picture.jpg"));
    const QString address = c.pin >= 0 ? site->pictureUrl(b.pins[c.pin].key)
                                       : site->baseUrl() + QStringLiteral("/t/bytes?") + QString::fromLatin1(c.query);
    ST_URLREQUEST r(address, target, 10000);
    r.minSizeKB = c.minKB;
    r.maxSizeKB = c.maxKB;
    r.refuseHtml = true;
    r.refusePartialPicture = c.refusePartial;
    CUrlSession s;
    bool ok = false;
    if (c.fileLimit > 0) {
#ifdef Q_OS_WIN
        GTEST_SKIP() << "no file-size limit here";
#else
        rlimit before {};
        ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit lowered = before;
        lowered.rlim_cur = rlim_t(c.fileLimit);
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &lowered), 0);
        ok = s.Request(r);
        setrlimit(RLIMIT_FSIZE, &before);
        std::signal(SIGXFSZ, oldHandler);
#endif
    } else {
        ok = s.Request(r);
    }
    const QString error = QString::fromLatin1(c.error);
    EXPECT_EQ(ok, error.isEmpty());
    EXPECT_EQ(s.errorText, error);
    EXPECT_EQ(s.savedToFile, error.isEmpty());
    EXPECT_TRUE(s.body.isEmpty()) << "a picture is never held in memory";
    if (error.isEmpty()) {
        QByteArray served = site->pictureBytes(b.pins[c.pin].key);
        if (b.pins[c.pin].fault == BoardSite::Fault::StoredCut)
            served.truncate(served.size() / 2);
        EXPECT_EQ(entriesIn(box.path()), QStringList {QStringLiteral("picture.jpg")});
        EXPECT_EQ(box.read(QStringLiteral("picture.jpg")), served);
        EXPECT_EQ(s.received, served.size());
    } else {
        EXPECT_EQ(entriesIn(box.path()), QStringList()) << "no file, no temporary file";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UrlSessionStreamTest,
    ::testing::Values(
        StreamCase {"whole", 0, "", 0, 0, 0, true, ""},
        StreamCase {"html", 1, "", 0, 0, 0, true, "not a picture (text/html)"},
        StreamCase {"truncated", 2, "", 0, 0, 0, true, "truncated"},
        // Whole by HTTP, cut short as a picture: found on the file once it is complete.
        StreamCase {"cut", 3, "", 0, 0, 0, true, "incomplete picture"},
        StreamCase {"lie", 4, "", 0, 0, 0, true, "incomplete picture"},
        StreamCase {"cutunchecked", 3, "", 0, 0, 0, false, ""},
        StreamCase {"declaredlarge", 0, "", 0, 200, 0, true, "too large"},
        StreamCase {"declaredsmall", 0, "", 400, 0, 0, true, "too small"},
        // No declared length: the limits act on the bytes as they arrive.
        StreamCase {"streamlarge", -1, "n=307200&chunked=1&ctype=image/jpeg", 0, 200, 0, false, "too large"},
        StreamCase {"streamsmall", -1, "n=307200&chunked=1&ctype=image/jpeg", 400, 0, 0, false, "too small"},
        // The disk refuses the rest after 200 KB (as a full disk does).
        StreamCase {"writefails", 0, "", 0, 0, 200 * 1024, true, "file not written: File too large"}),
    [](const ::testing::TestParamInfo<StreamCase> &info) { return std::string(info.param.name); });

// "cutunchecked" saves what came: the check is the caller's choice.
TEST_F(UrlSessionTest, AbortMidStreamLeavesNoFile)
{
    Sandbox box;
    CUrlSession s;
    ST_URLREQUEST r = request(QStringLiteral("abortstream"),
                              QStringLiteral("n=600000&ctype=image/jpeg&stall_after=300000&stall_ms=15000"), 60000);
    r.savePath = box.file(QStringLiteral("picture.jpg"));
    std::thread stopper([&] {
        // Half of the picture is in its temporary file when the stop comes.
        waitFor([&] {
            const QStringList names = entriesIn(box.path());
            return names.size() == 1 && QFileInfo(box.file(names[0])).size() >= 300000;
        });
        s.Abort();
    });
    EXPECT_FALSE(s.Request(r));
    stopper.join();
    EXPECT_EQ(s.errorText, QStringLiteral("aborted"));
    EXPECT_EQ(s.received, 300000);
    EXPECT_EQ(entriesIn(box.path()), QStringList());
}

struct SlowCase {
    const char *name;
    const char *query;
    uint32_t floorBytes;
    const char *error;
};

class UrlSessionSlowTest : public UrlSessionTest, public ::testing::WithParamInterface<SlowCase> {};

TEST_P(UrlSessionSlowTest, LowSpeedFloor)
{
    const SlowCase &c = GetParam();
    Sandbox box;
    CUrlSession s;
    // Each piece comes well within the read time-out, so only the floor can end a trickle.
    ST_URLREQUEST r = request(QString::fromLatin1(c.name), QString::fromLatin1(c.query), 10000);
    r.savePath = box.file(QStringLiteral("picture.jpg"));
    r.lowSpeedBytesPerSecond = c.floorBytes;
    r.lowSpeedSeconds = 1;
    QElapsedTimer took;
    took.start();
    EXPECT_EQ(s.Request(r), QString::fromLatin1(c.error).isEmpty());
    EXPECT_EQ(s.errorText, QString::fromLatin1(c.error));
    EXPECT_LT(took.elapsed(), 8000) << "a trickle of 20 s ends at the floor";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UrlSessionSlowTest,
    ::testing::Values(SlowCase {"trickle", "n=4000&rate=200&ctype=image/jpeg", 1024, "too slow"},
                      SlowCase {"nofloor", "n=400&rate=200&ctype=image/jpeg", 0, ""},
                      SlowCase {"abovefloor", "n=60000&rate=40000&ctype=image/jpeg", 1024, ""},
                      // The floor counts the wait for the answer as well.
                      SlowCase {"slowanswer", "n=4000&delay_ms=2500&ctype=image/jpeg", 1024, "too slow"}),
    [](const ::testing::TestParamInfo<SlowCase> &info) { return std::string(info.param.name); });

TEST(PictureCheck, AFileGivesTheAnswerOfItsBytes)
{
    // Pictures of several MB, whole and cut, read from a file through windows of every
    // size that makes segments and chunks fall across their edges.
    Sandbox box;
    const BoardSite::Kind kinds[] = {BoardSite::Kind::Jpeg, BoardSite::Kind::Png, BoardSite::Kind::Gif,
                                     BoardSite::Kind::Webp, BoardSite::Kind::Avif};
    for (const BoardSite::Kind kind : kinds) {
        const QByteArray whole = BoardSite::makePicture(kind, 3 * 1024 * 1024 + 17, "salt");
        for (const qsizetype size : {whole.size(), whole.size() - 1, whole.size() / 2}) {
            const QByteArray bytes = whole.left(size);
            const bool expected = size == whole.size();
            EXPECT_EQ(IsPictureComplete(bytes.constData(), bytes.size()), expected) << int(kind) << " " << size;
            box.write(QStringLiteral("p"), bytes);
            QFile file(box.file(QStringLiteral("p")));
            ASSERT_TRUE(file.open(QIODevice::ReadOnly));
            for (const qsizetype window : {16, 4093, 65536})
                EXPECT_EQ(IsPictureComplete(file, window), expected) << int(kind) << " " << size << " " << window;
        }
    }
    QBuffer unopened;
    EXPECT_FALSE(IsPictureComplete(unopened));
}

TEST_F(UrlSessionTest, ConnectionKeptAliveAcrossRequests)
{
    CUrlSession s;
    ASSERT_TRUE(s.Request(request(QStringLiteral("alive1"), QStringLiteral("n=10"))));
    ASSERT_TRUE(s.Request(request(QStringLiteral("alive2"), QStringLiteral("n=10"))));
    const QList<BoardSite::RequestRecord> all = site->requests();
    int first = -1, second = -2;
    for (const auto &r : all) {
        if (r.target.contains(QLatin1String("tag=alive1")))
            first = r.remotePort;
        if (r.target.contains(QLatin1String("tag=alive2")))
            second = r.remotePort;
    }
    EXPECT_EQ(first, second);
}

TEST_F(UrlSessionTest, LeftoversOfALyingAnswerDoNotSpoilTheNextRequest)
{
    // The rest of an over-long body stays on the kept-alive connection; the next
    // request must not read it as its answer.
    CUrlSession s;
    int failed = 0;
    for (int i = 0; i < 60; ++i) {
        if (!s.Request(request(QStringLiteral("liar"), QStringLiteral("n=5000&declare=100"))))
            ++failed;
        if (!s.Request(request(QStringLiteral("honest"), QStringLiteral("n=10"))) || s.body != "abcdefghij")
            ++failed;
    }
    EXPECT_EQ(failed, 0);
}

TEST_F(UrlSessionTest, CookieSetOnOneThreadIsSentFromAnotherAndSavedWhenItHasAnExpiry)
{
    Sandbox box;
    const QString jar = box.file(QStringLiteral("cookies.txt"));
    CookieStore::Open(jar);
    std::thread([&] {
        CUrlSession s;
        // A login kept for a day, and one without an expiry: a session cookie.
        EXPECT_TRUE(s.Request(request(QStringLiteral("setc"), QStringLiteral("setcookie=corvadin_probe=v42%3B%20Max-Age=86400"
                                                                             "&setcookie=corvadin_short=v7"))));
    }).join();
    std::thread([&] {
        CUrlSession s;
        EXPECT_TRUE(s.Request(request(QStringLiteral("sendc"), {}, 5000, QStringLiteral("/t/echo"))));
    }).join();
    EXPECT_TRUE(site->requests().constLast().header("Cookie").contains("corvadin_probe=v42"));
    EXPECT_TRUE(site->requests().constLast().header("Cookie").contains("corvadin_short=v7"));

    // Saved by the response that set it, owner-only, and loaded by the next Open; the
    // session cookie lived as long as this "process" (until the next Open) and never
    // reached the disk.
    ASSERT_TRUE(QFileInfo::exists(jar));
    EXPECT_EQ(QFile::permissions(jar) & (QFileDevice::ReadGroup | QFileDevice::ReadOther | QFileDevice::WriteGroup
                                         | QFileDevice::WriteOther),
              QFileDevice::Permissions());
    EXPECT_FALSE(box.read(QStringLiteral("cookies.txt")).contains("corvadin_short"));
    CookieStore::Clear();
    EXPECT_TRUE(CookieStore::Lines().isEmpty());
    CookieStore::Open(jar);
    EXPECT_TRUE(CookieStore::Lines().join(QLatin1Char('\n')).contains(QLatin1String("corvadin_probe")));
    EXPECT_FALSE(CookieStore::Lines().join(QLatin1Char('\n')).contains(QLatin1String("corvadin_short")));
    CookieStore::Open(QString()); // stop saving into the sandbox
}

TEST_F(UrlSessionTest, AbortFromAnotherThreadEndsAStalledTransfer)
{
    for (const bool viaFlag : {false, true}) {
        const QString tag = viaFlag ? QStringLiteral("abortflag") : QStringLiteral("abortcall");
        CUrlSession s;
        std::atomic<bool> stop {false};
        // A stall shorter than the time-outs: without the abort the request succeeds.
        ST_URLREQUEST r = request(tag, QStringLiteral("n=1000&stall_after=10&stall_ms=15000"), 60000);
        if (viaFlag)
            r.shouldAbort = [&] { return stop.load(); };
        std::thread stopper([&] {
            waitFor([&] { return arrived(tag) == 1; });
            if (viaFlag)
                stop = true;
            else
                s.Abort();
        });
        EXPECT_FALSE(s.Request(r)) << viaFlag;
        EXPECT_EQ(s.errorText, QStringLiteral("aborted")) << viaFlag;
        stopper.join();
    }
}

TEST_F(UrlSessionTest, AbortEndsTheRetryPause)
{
    CUrlSession s;
    ST_URLREQUEST r = request(QStringLiteral("pause"), QStringLiteral("status=500"));
    r.attempts = 3;
    r.retryDelaySeconds = 60;
    // The abort must land in the pause, not in the first try: the session asks
    // shouldAbort on its own thread, once right after the failed try and then over and
    // over in the pause, and the try's failure is known by then.
    std::atomic<bool> pausing {false};
    int askedAfterTheTry = 0;
    r.shouldAbort = [&] {
        if (s.errorText == QLatin1String("HTTP 500") && ++askedAfterTheTry == 2)
            pausing = true;
        return false;
    };
    std::thread stopper([&] {
        if (waitFor([&] { return pausing.load(); }))
            s.Abort();
    });
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(s.Fetch(r));
    const auto took = std::chrono::steady_clock::now() - started;
    stopper.join();
    EXPECT_TRUE(pausing);
    EXPECT_LT(took, std::chrono::seconds(10)) << "the pause went on after the abort";
    EXPECT_EQ(s.errorText, QStringLiteral("aborted"));
    EXPECT_EQ(arrived(QStringLiteral("pause")), 1);
}

TEST_F(UrlSessionTest, BadAddressesFailBeforeAnyRequest)
{
    CUrlSession s;
    for (const QString &url : {QStringLiteral("ftp://127.0.0.1/x"), QStringLiteral("not an address"), QString()}) {
        EXPECT_FALSE(s.Request(ST_URLREQUEST(url, QString(), 1000))) << qPrintable(url);
        EXPECT_EQ(s.errorText, QStringLiteral("bad address")) << qPrintable(url);
    }
}

} // namespace
