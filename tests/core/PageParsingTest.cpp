// The page readers on page texts (no network), the owner folder level, and the pages
// the local board site serves.
#include "BoardSite.h"
#include "core/AlbumList.h"
#include "source/ChangeSource.h"
#include "source/PageParsing.h"

#include <QDir>
#include <gtest/gtest.h>

namespace {

QString U(const char *utf8) { return QString::fromUtf8(utf8); }

const QString kHost = QStringLiteral("img.default");

struct PieceText {
    const char *cursor;
    const char *key;
    const char *description;
};

struct PinCase {
    const char *name;
    const char *page;
    const char *imageHost;
    std::vector<PieceText> pieces;
};

class PinPageTest : public ::testing::TestWithParam<PinCase> {};

TEST_P(PinPageTest, PiecesInPageOrder)
{
    const PinCase &c = GetParam();
    const PinPage page = ParsePinPage(U(c.page), kHost, QStringLiteral("http://"));
    EXPECT_EQ(page.imageHost, U(c.imageHost));
    EXPECT_EQ(page.addressPrefix, QStringLiteral("http://") + U(c.imageHost) + u'/');
    ASSERT_EQ(page.pieces.size(), qsizetype(c.pieces.size()));
    for (size_t i = 0; i < c.pieces.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(page.pieces[i].cursor, U(c.pieces[i].cursor));
        EXPECT_EQ(page.pieces[i].key, U(c.pieces[i].key));
        EXPECT_EQ(page.pieces[i].description, U(c.pieces[i].description));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PinPageTest,
    ::testing::Values(
        PinCase{"TwoPins",
                R"({"hbimg":"h1","pins":[{"pin_id":9,"file":{"key":"k9"},"raw_text":"nine"},{"pin_id":8,"file":{"key":"k8"},"raw_text":"eight"}]})",
                "h1", {{"9", "k9", "nine"}, {"8", "k8", "eight"}}},
        PinCase{"NoHostNamed", R"("pins":[{"pin_id":1,"key":"a"}])", "img.default", {{"1", "a", ""}}},
        // The host's cut consumes: a "pin_id before the host's name is not seen.
        PinCase{"HostNameConsumes", R"({"pin_id":5,"key":"x"} "hbimg":"h2" "pins" "pin_id":6,"key":"y")", "h2",
                {{"6", "y", ""}}},
        // A piece without an id is kept (it moves the cursor) but gives no key.
        PinCase{"PieceWithoutId", R"("pins":[{"pin_id":,"key":"k1"},{"pin_id":7,"key":"k2"}])", "img.default",
                {{"", "", ""}, {"7", "k2", ""}}},
        // Descriptions are read whole and decoded.
        PinCase{"EscapedQuotesInTheDescription", R"("pins":[{"pin_id":3,"key":"k","raw_text":"Say \"cheese\" 3"}])",
                "img.default", {{"3", "k", "Say \"cheese\" 3"}}},
        PinCase{"EscapesInTheDescription",
                R"("pins":[{"pin_id":3,"key":"k","raw_text":"a\\b\/c \u00e9\u4E2D \ud83d\ude00\tend"}])",
                "img.default", {{"3", "k", "a\\b/c \u00e9\u4e2d \U0001F600\tend"}}},
        // The names file holds one description per line.
        PinCase{"LineBreaksBecomeSpaces", R"("pins":[{"pin_id":3,"key":"k","raw_text":"one\r\ntwo\nthree\rfour"}])",
                "img.default", {{"3", "k", "one two three four"}}},
        // A description quoting the listing's own keys is text, not another pin.
        PinCase{"PinIdInsideADescription",
                R"("pins":[{"pin_id":3,"key":"k","raw_text":"pin_id x \"pin_id\":4, \"key\":\"z\""},{"pin_id":2,"key":"j","raw_text":"pin_id"}])",
                "img.default", {{"3", "k", "pin_id x \"pin_id\":4, \"key\":\"z\""}, {"2", "j", "pin_id"}}},
        PinCase{"BlanksBeforeTheColon", R"("pins":[{"pin_id" :3,"key":"k"},{"pin_id"
:2,"key":"j"}])",
                "img.default", {{"3", "k", ""}, {"2", "j", ""}}},
        // A description without its closing quote is empty, as a missing end marker gives nothing.
        PinCase{"UnclosedDescription", R"("pins":[{"pin_id":3,"key":"k","raw_text":"open \")",
                "img.default", {{"3", "k", ""}}},
        PinCase{"NoPins", R"({"hbimg":"h3","pins":[]})", "h3", {}},
        PinCase{"NoPinsMarker", R"({"pin_id":4,"key":"k"})", "img.default", {{"4", "k", ""}}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(PinPage, HttpsAndAnOverlongHostName)
{
    // 261 units hold the longest host name (253) with a colon and a port; one more is no host.
    const QString fit(261, u'h');
    const struct {
        QString named;
        QString address;
    } cases[] = {
        {QStringLiteral("img.example:8443"), QStringLiteral("https://img.example:8443/k")},
        {fit, QStringLiteral("https://") + fit + QStringLiteral("/k")},
        {fit + u'h', QStringLiteral("https://img.default/k")},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.named.size());
        const PinPage page = ParsePinPage(QStringLiteral("\"hbimg\":\"%1\" \"pins\" \"pin_id\":1,\"key\":\"k\"").arg(c.named),
                                          kHost, QStringLiteral("https://"));
        ASSERT_EQ(page.pieces.size(), 1);
        EXPECT_EQ(page.AddressOf(page.pieces[0]), c.address);
    }
}

TEST(PinPage, TheSitesPagesGiveEveryPin)
{
    BoardSite site;
    const BoardSite::Board demo = BoardSite::demoBoard();
    const PinPage first = ParsePinPage(QString::fromUtf8(site.boardPageBytes(demo.id)), kHost, QStringLiteral("http://"));
    ASSERT_EQ(first.pieces.size(), 20);
    const QString cursor = first.pieces.last().cursor;
    const PinPage second = ParsePinPage(QString::fromUtf8(site.pinPageBytes(demo.id, cursor, 20)), kHost,
                                        QStringLiteral("http://"));
    ASSERT_EQ(second.pieces.size(), 20);
    for (int i = 0; i < 40; ++i) {
        SCOPED_TRACE(i);
        const PinPiece &p = i < 20 ? first.pieces[i] : second.pieces[i - 20];
        EXPECT_EQ(p.cursor, QString::number(demo.pins[i].id));
        EXPECT_EQ(p.key, demo.pins[i].key);
    }
}

struct BoardCase {
    const char *name;
    const char *page;
    BoardPageValues values;
};

class BoardPageTest : public ::testing::TestWithParam<BoardCase> {};

TEST_P(BoardPageTest, Values)
{
    const BoardCase &c = GetParam();
    const BoardPageValues v = ParseBoardPage(U(c.page));
    EXPECT_EQ(v.boardId, c.values.boardId);
    EXPECT_EQ(v.name, c.values.name);
    EXPECT_EQ(v.count, c.values.count);
    EXPECT_EQ(v.owner, c.values.owner);
    EXPECT_EQ(v.pinCount, c.values.pinCount);
}

BoardPageValues Values(const char *id, const char *name, const char *count, const char *owner, uint32_t n)
{
    return {U(id), U(name), U(count), U(owner), n};
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BoardPageTest,
    ::testing::Values(
        BoardCase{"Board", R"(x "title":"no" app.page["board"] = {"board_id":12,"title":"相册","pin_count":45,"user":{"username":"demo"}})",
                  Values("12", "相册", "45", "demo", 45)},
        BoardCase{"CountWithBlanksAndText", R"({"board_id":1,"title":"t","pin_count": 7x,"username":"u"})",
                  Values("1", "t", " 7x", "u", 7)},
        BoardCase{"CountTooLarge", R"({"board_id":1,"title":"t","pin_count":4294967296,"username":"u"})",
                  Values("1", "t", "4294967296", "u", PICCOUNT_UNKNOWN)},
        BoardCase{"CountWithLeadingZeros", R"({"board_id":1,"title":"t","pin_count":0000000000042,"username":"u"})",
                  Values("1", "t", "0000000000042", "u", 42)},
        // Each search starts after the previous start marker: a title missing before the
        // count is not looked for again.
        BoardCase{"OrderMatters", R"({"pin_count":3,"board_id":2,"title":"t","username":"u"})",
                  Values("2", "t", "", "u", 0)},
        BoardCase{"Nothing", "<html></html>", Values("", "", "", "", 0)},
        // Title and user name are read whole and decoded.
        BoardCase{"EscapedTitleAndUserName",
                  R"({"board_id":3,"title":"Say \"cheese\" \\ \/ \u76f8\u518C","pin_count":2,"user":{"username":"\ud83d\ude00 a\tb"}})",
                  Values("3", "Say \"cheese\" \\ / 相册", "2", "\U0001F600 a\tb", 2)}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(JsonString, ReadWholeAndDecoded)
{
    const struct {
        const char *text; // from its first character on
        const char *value;
        qsizetype end;    // index of the closing quote, -1: none
    } cases[] = {
        {R"(plain" rest)", "plain", 5},
        {R"(" empty)", "", 0},
        {R"(\"q\" \\ \/ \b\f\n\r\t")", "\"q\" \\ / \b\f\n\r\t", 22},
        {R"(\u0041\u00e9\u4E2d")", "A\u00e9\u4e2d", 18},
        {R"(\uD83D\uDE00")", "\U0001F600", 12},        // a surrogate pair is one character
        {R"(\ud83d x")", "\uFFFD x", 8},                // a lone high surrogate
        {R"(\ude00")", "\uFFFD", 6},                    // a lone low surrogate
        {R"(\ud83d\u0041")", "\uFFFDA", 12},           // high, then no low
        {R"(\x \u12" \)", "\\x \\u12", 7},            // no escapes: kept as they stand
        {R"(\\")", "\\", 2},                           // an escaped backslash, then the quote
        {R"(open \" no end)", "", -1},
        {R"(trailing \)", "", -1},
    };
    for (const auto &c : cases) {
        qsizetype end = -2;
        EXPECT_EQ(ReadJsonString(U(c.text), 0, &end), U(c.value)) << c.text;
        EXPECT_EQ(end, c.end) << c.text;
    }
    // From an offset, and through a marker: the text then starts after the marker.
    EXPECT_EQ(ReadJsonString(QStringLiteral("xx\"ab\""), 3), QStringLiteral("ab"));
    QString text = QStringLiteral(R"(a "t":"one \"1\"" "t":"two")");
    EXPECT_EQ(ExtractJsonString(text, QStringLiteral("\"t\":\"")), QStringLiteral("one \"1\""));
    EXPECT_EQ(ExtractJsonString(text, QStringLiteral("\"t\":\"")), QStringLiteral("two"));
    EXPECT_EQ(text, QStringLiteral("two\""));
    EXPECT_EQ(ExtractJsonString(text, QStringLiteral("\"t\":\"")), QString());
    EXPECT_EQ(text, QStringLiteral("two\"")); // left as it was without the marker
}

TEST(OwnerFolder, OneSafeLevelEndingInASeparator)
{
    const QString sep = QDir::separator();
    const QString longName(300, u'長'); // 900 bytes of UTF-8
    struct Case {
        QString owner;
        QString level; // without the separator; empty: the result is empty
    } cases[] = {
        {QStringLiteral("demo"), QStringLiteral("demo")},
        {QString(), QString()},
        {QStringLiteral("a/b"), QStringLiteral("ab")},
        {QStringLiteral("? .. ?"), QStringLiteral("\u3002\u3002")},
        {QStringLiteral("CON"), QStringLiteral("_CON")},
        {QStringLiteral("com1.txt"), QStringLiteral("_com1.txt")},
        {QStringLiteral("a\u0000b\bc\u001f"), QStringLiteral("abc")}, // controls a \u escape may give
        {longName, QString(85, u'長')}, // 255 bytes, whole characters
    };
    for (const Case &c : cases) {
        QString owner = c.owner;
        NormaliseOwnerFolder(owner);
        EXPECT_EQ(owner, c.level.isEmpty() ? QString() : c.level + sep) << c.owner.left(20).toStdString();
    }
}

} // namespace
