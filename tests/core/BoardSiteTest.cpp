// The local board site: its pages follow the markers the readers cut by, its pin pages
// page by cursor, its pictures are real pictures, and its faults look as they should
// to the HTTP session.
#include "BoardSite.h"
#include "TestSupport.h"
#include "net/CookieStore.h"
#include "net/URLSource2.h"
#include "source/PageParsing.h"
#include "text/StringCtrl.h"

#include <QDateTime>
#include <QLocale>
#include <QTimeZone>

namespace {

class BoardSiteTest : public ::testing::Test {
protected:
    void SetUp() override { CookieStore::Clear(); }

    void startSite(const BoardSite::Options &o = BoardSite::Options())
    {
        site = std::make_unique<BoardSite>(o);
        ASSERT_TRUE(site->start());
    }

    // Fetches like the page readers do: every encoding accepted, text as UTF-8.
    QString page(const QString &url)
    {
        ST_URLREQUEST r(url, QString(), 5000);
        if (!session.Fetch(r))
            return {};
        return session.GetText(TEXT_UTF8);
    }

    // A page as the pin enumeration reads it.
    static PinPage pinPage(const QString &text, const QString &defaultHost)
    {
        return ParsePinPage(text, defaultHost, QStringLiteral("http://"));
    }

    std::unique_ptr<BoardSite> site;
    CUrlSession session;
};

TEST_F(BoardSiteTest, BoardPageGivesTheBoardsOwnValues)
{
    for (const bool gzip : {false, true}) {
        BoardSite::Options o;
        o.gzipPages = gzip;
        startSite(o);
        const QString text = page(site->boardUrl(QStringLiteral("1001")));
        EXPECT_EQ(session.headerText.contains(QStringLiteral("Content-Encoding: gzip")), gzip);
        const BoardPageValues v = ParseBoardPage(text);
        EXPECT_EQ(v.boardId, QStringLiteral("1001"));
        EXPECT_EQ(v.name, QStringLiteral("演示相册"));
        EXPECT_EQ(v.count, QStringLiteral("45"));
        EXPECT_EQ(v.owner, QStringLiteral("demo"));
        EXPECT_EQ(v.pinCount, 45u);
    }
}

TEST_F(BoardSiteTest, PinPagesWalkTheWholeBoardByCursor)
{
    startSite();
    const BoardSite::Board board = site->board(QStringLiteral("1001"));
    const QString fallbackHost = QStringLiteral("default.host");
    const PinPage first = pinPage(page(site->boardUrl(board.id)), fallbackHost);
    ASSERT_EQ(first.pieces.size(), 20);
    EXPECT_EQ(first.imageHost, site->hostPort()) << "the board page names the picture host";
    QList<PinPiece> seen = first.pieces;
    int pages = 0;
    while (seen.size() < board.declaredPinCount && pages < 10) {
        const QString url = QStringLiteral("%1?hxzmqq2s&max=%2&limit=20&wfl=1").arg(site->boardUrl(board.id), seen.last().cursor);
        const PinPage more = pinPage(page(url), fallbackHost);
        ASSERT_FALSE(more.pieces.isEmpty());
        EXPECT_EQ(more.imageHost, fallbackHost) << "pin pages name no host by default";
        seen += more.pieces;
        ++pages;
    }
    EXPECT_EQ(pages, 2);
    ASSERT_EQ(seen.size(), board.pins.size());
    for (int i = 0; i < seen.size(); ++i) {
        EXPECT_EQ(seen[i].cursor, QString::number(board.pins[i].id));
        EXPECT_EQ(seen[i].key, board.pins[i].key);
    }
    // Descriptions arrive whole, an escaped quote included.
    EXPECT_EQ(seen[2].description, QStringLiteral("Say \"cheese\" 3"));
    EXPECT_EQ(seen[0].description, board.pins[0].description);
    EXPECT_EQ(site->requestCount(QStringLiteral("/boards/1001/?hxzmqq2s")), 2);

    // Past the last pin, and with a cursor that is not a number: no pins.
    const QString last = QStringLiteral("%1?hxzmqq2s&max=%2&limit=20&wfl=1").arg(site->boardUrl(board.id), seen.last().cursor);
    EXPECT_TRUE(pinPage(page(last), fallbackHost).pieces.isEmpty());
    const QString empty = QStringLiteral("%1?hxzmqq2s&max=&limit=5&wfl=1").arg(site->boardUrl(board.id));
    EXPECT_EQ(pinPage(page(empty), fallbackHost).pieces.size(), 5) << "an empty cursor starts at the newest pin";
}

TEST_F(BoardSiteTest, PinPagesNameTheHostWhenAsked)
{
    BoardSite::Options o;
    o.imageHostInPinPages = true;
    o.imageHost = QStringLiteral("img.example:81");
    startSite(o);
    const QString url = site->boardUrl(QStringLiteral("1001")) + QStringLiteral("?hxzmqq2s&max=&limit=20&wfl=1");
    const PinPage p = pinPage(page(url), QStringLiteral("default.host"));
    ASSERT_EQ(p.pieces.size(), 20);
    EXPECT_EQ(p.imageHost, QStringLiteral("img.example:81"));
}

TEST_F(BoardSiteTest, PicturesAreRealPicturesOfTheirSize)
{
    startSite();
    const BoardSite::Board board = site->board(QStringLiteral("1001"));
    const struct {
        BoardSite::Kind kind;
        QByteArray magic;
        QByteArray tail;
        const char *type;
    } kinds[] = {
        {BoardSite::Kind::Jpeg, QByteArray("\xFF\xD8\xFF", 3), QByteArray("\xFF\xD9", 2), "image/jpeg"},
        {BoardSite::Kind::Png, QByteArray("\x89PNG\r\n\x1a\n", 8), QByteArray("IEND\xAE\x42\x60\x82", 8), "image/png"},
        {BoardSite::Kind::Gif, QByteArray("GIF89a"), QByteArray("\x3B"), "image/gif"},
    };
    for (const auto &k : kinds) {
        const auto pin = std::find_if(board.pins.begin(), board.pins.end(), [&](const auto &p) { return p.kind == k.kind; });
        ASSERT_NE(pin, board.pins.end());
        ST_URLREQUEST r(site->pictureUrl(pin->key), QString(), 5000);
        ASSERT_TRUE(session.Request(r)) << k.type;
        EXPECT_EQ(session.body, site->pictureBytes(pin->key));
        EXPECT_EQ(session.body.size(), pin->size);
        EXPECT_TRUE(session.body.startsWith(k.magic)) << k.type;
        EXPECT_TRUE(session.body.endsWith(k.tail)) << k.type;
        EXPECT_TRUE(session.headerText.contains(QLatin1String(k.type))) << k.type;
    }
}

TEST_F(BoardSiteTest, LargePicturesGoOutAsTheyAreMade)
{
    // Made piece by piece while they are sent, as makePicture makes them whole: every
    // kind, larger than a piece, with a cut (StoredCut) and a short declaration.
    startSite();
    BoardSite::Board b = BoardSite::makeBoard(QStringLiteral("8001"), QStringLiteral("big"), QStringLiteral("u"), 7, 81,
                                              1536 * 1024 + 7, 1536 * 1024 + 7,
                                              {BoardSite::Kind::Jpeg});
    const BoardSite::Kind kinds[] = {BoardSite::Kind::Jpeg, BoardSite::Kind::Png, BoardSite::Kind::Gif,
                                     BoardSite::Kind::Webp, BoardSite::Kind::Avif, BoardSite::Kind::Png,
                                     BoardSite::Kind::Gif};
    for (int i = 0; i < 7; ++i)
        b.pins[i].kind = kinds[i];
    b.pins[5].fault = BoardSite::Fault::StoredCut;
    b.pins[6].fault = BoardSite::Fault::LieLength;
    site->addBoard(b);
    for (int i = 0; i < 7; ++i) {
        SCOPED_TRACE(i);
        QByteArray expected = site->pictureBytes(b.pins[i].key);
        if (i >= 5)
            expected.truncate(expected.size() / 2);
        ASSERT_TRUE(session.Request(ST_URLREQUEST(site->pictureUrl(b.pins[i].key), QString(), 5000)));
        EXPECT_EQ(session.body.size(), expected.size());
        EXPECT_TRUE(session.body == expected);
    }
}

TEST_F(BoardSiteTest, PicturePaddingHitsEveryExactSize)
{
    for (const auto kind : {BoardSite::Kind::Jpeg, BoardSite::Kind::Png, BoardSite::Kind::Gif}) {
        const qint64 min = BoardSite::minimumPictureSize(kind);
        // Around the largest JPEG comment segment and the GIF sub-block.
        QList<qint64> sizes = {min, min + 1, min + 2, min + 3, min + 255, min + 256, min + 257, min + 258, 200000};
        for (qint64 d = 65530; d <= 65545; ++d)
            sizes.append(min + d);
        for (const qint64 size : sizes) {
            EXPECT_EQ(BoardSite::makePicture(kind, size, "k").size(), size) << int(kind) << " " << size;
        }
        EXPECT_EQ(BoardSite::makePicture(kind, 1, "k").size(), min) << "small sizes are raised";
        EXPECT_NE(BoardSite::makePicture(kind, 5000, "a"), BoardSite::makePicture(kind, 5000, "b"));
    }
}

TEST_F(BoardSiteTest, FaultsAsTheSessionSeesThem)
{
    BoardSite::Options o;
    o.stallMs = 20000;
    startSite(o);
    const struct {
        BoardSite::Fault fault;
        bool ok;
        const char *error;
    } cases[] = {
        {BoardSite::Fault::None, true, ""},
        {BoardSite::Fault::Status403, false, "HTTP 403"},
        {BoardSite::Fault::Status404, false, "HTTP 404"},
        {BoardSite::Fault::Status429, false, "HTTP 429"},
        {BoardSite::Fault::Status500, false, "HTTP 500"},
        {BoardSite::Fault::Status503, false, "HTTP 503"},
        {BoardSite::Fault::Reset, false, "connection reset"},
        {BoardSite::Fault::Stall, false, "timed out"},
        {BoardSite::Fault::Truncate, false, "truncated"},
        {BoardSite::Fault::LieLength, true, ""},
        {BoardSite::Fault::WrongType, true, ""},
        {BoardSite::Fault::StoredCut, true, ""},
    };
    BoardSite::Board b = BoardSite::makeBoard(QStringLiteral("5001"), QStringLiteral("f"), QStringLiteral("u"),
                                              int(std::size(cases)), 3, 8000, 8000);
    for (size_t i = 0; i < std::size(cases); ++i)
        b.pins[int(i)].fault = cases[i].fault;
    site->addBoard(b);
    for (size_t i = 0; i < std::size(cases); ++i) {
        const BoardSite::Pin &pin = b.pins[int(i)];
        ST_URLREQUEST r(site->pictureUrl(pin.key), QString(), 10000);
        r.readTimeoutMs = 2000; // a good picture must never time out on a loaded machine
        EXPECT_EQ(session.Request(r), cases[i].ok) << i;
        EXPECT_EQ(session.errorText, QString::fromLatin1(cases[i].error)) << i;
        if (cases[i].fault == BoardSite::Fault::LieLength) {
            EXPECT_EQ(session.body, site->pictureBytes(pin.key).left(4000));
        }
        if (cases[i].fault == BoardSite::Fault::StoredCut) {
            EXPECT_EQ(session.body, site->pictureBytes(pin.key).left(4000));
            EXPECT_TRUE(session.headerText.contains(QLatin1String("Content-Length: 4000")));
        }
        if (cases[i].fault == BoardSite::Fault::WrongType) {
            EXPECT_TRUE(session.headerText.contains(QLatin1String("Content-Type: text/html")));
            EXPECT_TRUE(session.body.startsWith("<!DOCTYPE html>"));
        }
    }
}

TEST_F(BoardSiteTest, EveryNthPictureGetsTheSitesFaults)
{
    BoardSite::Options o;
    o.faultEvery = 3;
    o.faultKinds = {BoardSite::Fault::Status404, BoardSite::Fault::Reset};
    startSite(o);
    const BoardSite::Board board = site->board(QStringLiteral("1001"));
    QList<BoardSite::Fault> got;
    for (int i = 0; i < 9; ++i)
        got.append(site->effectiveFault(board.pins[i].key));
    using F = BoardSite::Fault;
    EXPECT_EQ(got, (QList<F> {F::None, F::None, F::Status404, F::None, F::None, F::Reset, F::None, F::None, F::Status404}));
}

TEST_F(BoardSiteTest, LoginAndFailingPinPages)
{
    startSite();
    BoardSite::Board b = BoardSite::makeBoard(QStringLiteral("6001"), QStringLiteral("私密"), QStringLiteral("u"), 60, 9);
    b.loginRequired = true;
    b.pinPagesFailFrom = 2;
    site->addBoard(b);
    ST_URLREQUEST r(site->boardUrl(b.id), QString(), 5000);
    EXPECT_FALSE(session.Request(r));
    EXPECT_EQ(session.statusCode, 403);

    ASSERT_TRUE(session.Request(ST_URLREQUEST(site->baseUrl() + QStringLiteral("/login"), QString(), 5000)));
    EXPECT_TRUE(session.Request(r));
    const QString pages = site->boardUrl(b.id) + QStringLiteral("?hxzmqq2s&max=&limit=20&wfl=1");
    r.url = pages;
    EXPECT_TRUE(session.Request(r)) << "the first pin page";
    EXPECT_FALSE(session.Request(r)) << "the second and later ones fail";
    EXPECT_EQ(session.statusCode, 500);
    CookieStore::Clear();
}

TEST_F(BoardSiteTest, FaultsForTheFirstRequestsOnlyWithRetryAfter)
{
    for (const bool asDate : {false, true}) {
        BoardSite::Options o;
        o.retryAfterSeconds = 30;
        o.retryAfterAsDate = asDate;
        startSite(o);
        BoardSite::Board b = BoardSite::makeBoard(QStringLiteral("6101"), QStringLiteral("t"), QStringLiteral("u"), 50, 4);
        b.pins[0].fault = BoardSite::Fault::Status429;
        b.pins[0].faultTimes = 2;
        b.pinPageFault = BoardSite::Fault::Status503;
        b.pinPageFaultTimes = 1;
        site->addBoard(b);

        ST_URLREQUEST picture(site->pictureUrl(b.pins[0].key), QString(), 5000);
        for (int k = 0; k < 2; ++k) {
            EXPECT_FALSE(session.Request(picture)) << k;
            EXPECT_EQ(session.statusCode, 429);
            QString retryAfter = session.headerText;
            CutThrough(retryAfter, QStringLiteral("Retry-After: "), true);
            retryAfter = retryAfter.left(retryAfter.indexOf(QLatin1Char('\r')));
            if (asDate) {
                const QDateTime at = QLocale::c().toDateTime(retryAfter, QStringLiteral("ddd, dd MMM yyyy HH:mm:ss 'GMT'"));
                ASSERT_TRUE(at.isValid()) << retryAfter.toStdString();
                const qint64 ahead = QDateTime::currentDateTimeUtc().secsTo(QDateTime(at.date(), at.time(), QTimeZone::utc()));
                EXPECT_GE(ahead, 25);
                EXPECT_LE(ahead, 30);
            } else {
                EXPECT_EQ(retryAfter, QStringLiteral("30"));
            }
        }
        EXPECT_TRUE(session.Request(picture)) << "the third request gets the picture";
        EXPECT_EQ(session.body, site->pictureBytes(b.pins[0].key));

        ST_URLREQUEST pins(site->boardUrl(b.id) + QStringLiteral("?hxzmqq2s&max=&limit=20&wfl=1"), QString(), 5000);
        EXPECT_FALSE(session.Request(pins));
        EXPECT_EQ(session.statusCode, 503);
        EXPECT_TRUE(session.headerText.contains(QLatin1String("Retry-After: ")));
        EXPECT_TRUE(session.Request(pins)) << "the second pin page is served";

        site->clearRequests();
        EXPECT_FALSE(session.Request(picture)) << "the counts start anew";
    }
}

TEST_F(BoardSiteTest, StopEndsStallsAndOpenConnections)
{
    BoardSite::Options o;
    o.faultEvery = 1;
    o.faultKinds = {BoardSite::Fault::Stall};
    o.stallMs = 600000;
    startSite(o);
    const QString key = site->board(QStringLiteral("1001")).pins[0].key;
    bool ok = true;
    std::thread client([&] {
        CUrlSession s;
        ok = s.Request(ST_URLREQUEST(site->pictureUrl(key), QString(), 600000));
    });
    ASSERT_TRUE(waitFor([&] { return site->requestCount(QStringLiteral("/") + key) == 1; }));
    site->stop(); // would wait for the ten-minute stall otherwise
    client.join();
    EXPECT_FALSE(ok);
    EXPECT_FALSE(site->isRunning());
}

} // namespace
