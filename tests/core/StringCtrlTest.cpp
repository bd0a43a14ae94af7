#include "text/StringCtrl.h"

#include <QDateTime>
#include <gtest/gtest.h>

namespace {

QString U(const char *utf8) { return QString::fromUtf8(utf8); }

// ---------------------------------------------------------------- markers

struct ExtractCase {
    const char *name;
    const char *text;
    const char *start;
    const char *end;
    unsigned options;
    const char *value;
    const char *textAfter;
};

class ExtractBetweenTest : public ::testing::TestWithParam<ExtractCase> {};

TEST_P(ExtractBetweenTest, ValueAndRemainingText)
{
    const ExtractCase &c = GetParam();
    QString text = U(c.text);
    EXPECT_EQ(ExtractBetween(text, U(c.start), U(c.end), c.options), U(c.value));
    EXPECT_EQ(text, U(c.textAfter));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ExtractBetweenTest,
    ::testing::Values(
        ExtractCase{"Both", "x[a]y", "[", "]", 0, "a", "x[a]y"},
        ExtractCase{"BothConsume", "x[a]y[b]", "[", "]", EXTRACT_CONSUME, "a", "a]y[b]"},
        ExtractCase{"NoStart", "xa]y", "[", "]", EXTRACT_CONSUME | EXTRACT_OPEN_END, "", "xa]y"},
        ExtractCase{"NoEnd", "x[ay", "[", "]", 0, "", "x[ay"},
        ExtractCase{"NoEndConsumeAdvances", "x[ay", "[", "]", EXTRACT_CONSUME, "", "ay"},
        ExtractCase{"NoEndOpenEnd", "x[ay", "[", "]", EXTRACT_OPEN_END, "ay", "x[ay"},
        ExtractCase{"OpenEndWithEnd", "x[a]y", "[", "]", EXTRACT_OPEN_END, "a", "x[a]y"},
        ExtractCase{"EndBeforeStart", "]x[a]y", "[", "]", EXTRACT_CONSUME, "a", "a]y"},
        ExtractCase{"LongMarkers", "\"id\":12,\"id\":34,", "\"id\":", ",", EXTRACT_CONSUME, "12",
                    "12,\"id\":34,"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(ExtractBetween, SteppingWithConsumeVisitsEachRecord)
{
    QString page = U("<i>1</i><i>2</i><i>3</i>");
    QStringList seen;
    for (QString v; !(v = ExtractBetween(page, U("<i>"), U("</i>"), EXTRACT_CONSUME)).isEmpty();)
        seen << v;
    EXPECT_EQ(seen, QStringList({U("1"), U("2"), U("3")}));
}

struct CutCase {
    const char *name;
    const char *text;
    const char *marker;
    int kind; // 0 CutThrough, 1 CutThrough through the marker, 2 CutBefore
    qsizetype answer;
    const char *textAfter;
};

class CutTest : public ::testing::TestWithParam<CutCase> {};

TEST_P(CutTest, AnswerAndText)
{
    const CutCase &c = GetParam();
    QString text = U(c.text);
    const qsizetype answer = c.kind == 2 ? CutBefore(text, U(c.marker)) : CutThrough(text, U(c.marker), c.kind == 1);
    EXPECT_EQ(answer, c.answer);
    EXPECT_EQ(text, U(c.textAfter));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CutTest,
    ::testing::Values(CutCase{"ThroughKeepsMarker", "ab:cd", ":", 0, 2, ":cd"},
                      CutCase{"ThroughDropsMarker", "Content-Length: 12\r\n", "Content-Length:", 1, 0, " 12\r\n"},
                      CutCase{"ThroughAtZeroFlagClear", ":cd", ":", 0, 0, ":cd"},
                      CutCase{"ThroughMissing", "abcd", ":", 1, -1, "abcd"},
                      CutCase{"BeforeQuery", "http://h/b/1/?x=1?y", "?", 2, 13, "http://h/b/1/"},
                      CutCase{"BeforeMissing", "http://h/b/1/", "?", 2, -1, "http://h/b/1/"}),
    [](const auto &info) { return std::string(info.param.name); });

// ---------------------------------------------------------------- splitting

struct SplitCase {
    const char *name;
    const char *text;
    const char *separator;
    int answer;
    std::vector<const char *> parts;
};

class SplitTextTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitTextTest, CountAndParts)
{
    const SplitCase &c = GetParam();
    QStringList list{U("stale")};
    EXPECT_EQ(SplitText(U(c.text), U(c.separator), list), c.answer);
    EXPECT_EQ(CountOccurrences(U(c.text), U(c.separator)), c.answer);
    QStringList expected;
    for (const char *p : c.parts)
        expected << U(p);
    EXPECT_EQ(list, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SplitTextTest,
    ::testing::Values(SplitCase{"TrailingSeparator", "a|b|", "|", 2, {"a", "b", ""}},
                      SplitCase{"NoSeparator", "abc", "|", 0, {}},
                      SplitCase{"Empty", "", "|", 0, {}},
                      SplitCase{"EmptyPiecesKept", "|a||", "|", 3, {"", "a", "", ""}},
                      SplitCase{"NonOverlapping", "aaaaa", "aa", 2, {"", "", "a"}},
                      SplitCase{"PinMarker", "x\"pin_id\":1,\"pin_id\":2", "\"pin_id", 2, {"x", "\":1,", "\":2"}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(SplitText, LargeListingIsLinear)
{
    // 200k separators: a quadratic split would take minutes, not milliseconds.
    const QString text = U("ab|").repeated(200000);
    QStringList list;
    ASSERT_EQ(SplitText(text, U("|"), list), 200000);
    ASSERT_EQ(list.size(), 200001);
    EXPECT_EQ(list.first(), U("ab"));
    EXPECT_EQ(list.last(), QString());
}

// ---------------------------------------------------------------- ReplaceEach

struct ReplaceCase {
    const char *name;
    const char *text;
    const char *from;
    const char *to;
    const char *result;
};

class ReplaceEachTest : public ::testing::TestWithParam<ReplaceCase> {};

TEST_P(ReplaceEachTest, Result)
{
    const ReplaceCase &c = GetParam();
    QString text = U(c.text);
    ReplaceEach(text, U(c.from), U(c.to));
    EXPECT_EQ(text, U(c.result));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReplaceEachTest,
    ::testing::Values(ReplaceCase{"CountsDifferLiteral", "a|b ab a", "a|b", "x", "x ab a"},
                      ReplaceCase{"LaterPairSeesEarlier", "ab", "a|b", "b|c", "cc"},
                      ReplaceCase{"Pairs", "a-b-c", "a|c", "1|3", "1-b-3"},
                      ReplaceCase{"EmptyFromItem", "abc", "|b", "X|Y", "aYc"},
                      ReplaceCase{"EmptyFromList", "abc", "", "X", "abc"},
                      ReplaceCase{"ToEmptyRemoves", "a_b_c", "_", "", "abc"},
                      ReplaceCase{"NonOverlapping", "aaa", "aa", "b", "ba"}),
    [](const auto &info) { return std::string(info.param.name); });

// ---------------------------------------------------------------- entities

struct EntityCase {
    const char *name;
    const char *text;
    const char *result;
};

class DecodeHtmlEntitiesTest : public ::testing::TestWithParam<EntityCase> {};

TEST_P(DecodeHtmlEntitiesTest, Result)
{
    QString text = U(GetParam().text);
    DecodeHtmlEntities(text);
    EXPECT_EQ(text, U(GetParam().result));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DecodeHtmlEntitiesTest,
    ::testing::Values(EntityCase{"AllSeven", "&quot;&amp;&lt;&gt;&nbsp;&hellip;&#39;", "\"&<> \u2026'"},
                      EntityCase{"DoubleLtDecodedTwice", "&amp;lt;", "<"},
                      EntityCase{"DoubleQuotKeepsOneLevel", "&amp;quot;", "&quot;"},
                      EntityCase{"DoubleAmp", "&amp;amp;", "&amp;"},
                      EntityCase{"AposUnchanged", "it&apos;s", "it&apos;s"},
                      EntityCase{"HexUnchanged", "it&#x27;s", "it&#x27;s"},
                      EntityCase{"OtherNumericUnchanged", "&#38;&#60;", "&#38;&#60;"},
                      EntityCase{"Repeated", "a&lt;b&lt;c", "a<b<c"}),
    [](const auto &info) { return std::string(info.param.name); });

// ---------------------------------------------------------------- IsUtf8

struct Utf8Case {
    const char *name;
    std::string bytes;
    bool answer;
};

class IsUtf8Test : public ::testing::TestWithParam<Utf8Case> {};

TEST_P(IsUtf8Test, Answer)
{
    const Utf8Case &c = GetParam();
    EXPECT_EQ(IsUtf8(c.bytes.data(), qsizetype(c.bytes.size())), c.answer);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IsUtf8Test,
    ::testing::Values(Utf8Case{"Empty", "", false},
                      Utf8Case{"Ascii", "plain ascii", false},
                      Utf8Case{"TwoByte", "\xC3\xA9", true},
                      Utf8Case{"Chinese", "a\xE4\xB8\xAD" "b", true},
                      Utf8Case{"Truncated", "a\xE4\xB8", false},
                      Utf8Case{"LoneContinuation", "\x80", false},
                      Utf8Case{"BadContinuation", "\xC3" "A", false},
                      Utf8Case{"F8LeadFourContinuations", "\xF8\x80\x80\x80\x80", true},
                      Utf8Case{"FCLeadFiveContinuations", "\xFC\x80\x80\x80\x80\x80", true},
                      Utf8Case{"FCLeadFourOnly", "\xFC\x80\x80\x80\x80", false},
                      Utf8Case{"OverlongPasses", "\xC0\x80", true},
                      Utf8Case{"Gbk", "\xD6\xD0\xCE\xC4", false}),
    [](const auto &info) { return std::string(info.param.name); });

// ---------------------------------------------------------------- code pages

TEST(CodePages, MultiByteToTextEndsAtZeroByte)
{
    const char bytes[] = "ab\0cd";
    EXPECT_EQ(MultiByteToText(bytes, CP_UTF8, 5), U("ab"));
    EXPECT_EQ(MultiByteToText("\xD6\xD0\x00\xCE\xC4", CP_GBK, 5), U("中"));
}

TEST(CodePages, MultiByteToTextConvertsExactlyCountBytes)
{
    const QByteArray utf8 = U("中文 é").toUtf8();
    EXPECT_EQ(MultiByteToText(utf8.constData(), CP_UTF8, utf8.size()), U("中文 é"));
    EXPECT_EQ(MultiByteToText(utf8.constData(), CP_UTF8, 3), U("中"));
    EXPECT_EQ(MultiByteToText("\xB0\xA1", CP_EUCKR, 2), U("가"));
    EXPECT_EQ(MultiByteToText("\xA4\xA4\xA4\xE5", CP_BIG5, 4), U("中文"));
}

TEST(CodePages, MultiByteToTextEmptyCases)
{
    EXPECT_EQ(MultiByteToText("abc", 12345, 3), QString());
    EXPECT_EQ(MultiByteToText("abc", CP_UTF8, 0), QString());
    EXPECT_EQ(MultiByteToText("\0abc", CP_UTF8, 4), QString());
}

TEST(CodePages, GbkRoundTrip)
{
    const QString text = U("下载完毕 ABC 相册名");
    const QByteArray gbk = ToGbk(text);
    EXPECT_EQ(gbk, QByteArray("\xCF\xC2\xD4\xD8\xCD\xEA\xB1\xCF ABC \xCF\xE0\xB2\xE1\xC3\xFB"));
    EXPECT_EQ(MultiByteToText(gbk.constData(), CP_GBK, gbk.size()), text);
    EXPECT_EQ(AnsiToText(gbk.constData()), text);
}

TEST(CodePages, ToGbkMarksWhatGbkLacks)
{
    EXPECT_EQ(ToGbk(U("a\U0001F600b")), QByteArray("a?b"));
    EXPECT_EQ(ToGbk(U("\u0E01")), QByteArray("?")); // Thai letter
}

TEST(CodePages, ToGbkEndsAtZero)
{
    EXPECT_EQ(ToGbk(QString::fromUtf16(u"中\0文", 3)), QByteArray("\xD6\xD0"));
    EXPECT_EQ(ToGbk(QString()), QByteArray());
}

// ---------------------------------------------------------------- file names

struct CleanCase {
    const char *name;
    const char *text;
    const char *result;
};

class CleanFileNameTest : public ::testing::TestWithParam<CleanCase> {};

TEST_P(CleanFileNameTest, WithoutFallback)
{
    QString text = U(GetParam().text);
    CleanFileName(text, false);
    EXPECT_EQ(text, U(GetParam().result));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CleanFileNameTest,
    ::testing::Values(CleanCase{"Plain", "相册 1", "相册 1"},
                      CleanCase{"RemovedCharacters", "a\r\nb\\c/d:e*f?g\"h<i>j|k\al", "abcdefghijkl"},
                      CleanCase{"TabBecomesUnderscore", "a\tb", "a_b"},
                      CleanCase{"SpacesCollapsed", "a    b  c", "a b c"},
                      CleanCase{"TrimsWideSpace", "\u3000 \t a b \u00A0\n", "a b"},
                      CleanCase{"DotsOnly", "..", "\u3002\u3002"},
                      CleanCase{"DotsOnlyAfterTrim", "  .  ", "\u3002"},
                      CleanCase{"DotsStripped", "..a.b..", "a.b"},
                      CleanCase{"DotsThenSpaceTrimmed", ". a .", "a"},
                      // Blanks beside removed characters shield the dots from the cuts.
                      CleanCase{"ParentBehindRemovedCharacters", "? .. ?", "\u3002\u3002"},
                      CleanCase{"SelfBehindRemovedCharacters", "<\u3000.\u3000>", "\u3002"},
                      CleanCase{"EntitiesDecodedFirst", "a&amp;b &lt;c&gt; &quot;d&quot;&nbsp;&nbsp;e", "a&b c d e"},
                      CleanCase{"TabTrimmedBeforeReplacement", "a\t", "a"},
                      CleanCase{"OnlyRemovable", "?*?", ""},
                      CleanCase{"Empty", "", ""}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(CleanFileName, FallbackToLocalDateTime)
{
    const QString format = QStringLiteral("yyyyMMddHHmmss");
    for (QString text : {QString(), U("  ?:* "), U(".&nbsp;."), QString(1000, QChar(u'x'))}) {
        // The stamp is the local time of a second between before and after. Local times
        // are compared as the texts of those instants: read back, a local time can be
        // ambiguous (the hour repeated when daylight saving ends).
        const qint64 before = QDateTime::currentSecsSinceEpoch();
        CleanFileName(text, true);
        const qint64 after = QDateTime::currentSecsSinceEpoch();
        QStringList stamps;
        for (qint64 second = before; second <= after; ++second)
            stamps << QDateTime::fromSecsSinceEpoch(second).toString(format);
        EXPECT_TRUE(stamps.contains(text)) << text.left(20).toStdString() << " is none of "
                                           << stamps.join(u' ').toStdString();
    }

    QString kept(999, QChar(u'x'));
    CleanFileName(kept, true);
    EXPECT_EQ(kept.size(), 999);

    QString longName(1000, QChar(u'x'));
    CleanFileName(longName, false);
    EXPECT_EQ(longName.size(), 1000);

    QString empty;
    CleanFileName(empty, false);
    EXPECT_TRUE(empty.isEmpty());
}

TEST(CleanFileName, LoneSurrogatesBecomeReplacementCharacters)
{
    const char16_t units[] = {u'a', 0xD83D, u'b', 0xDE00, 0xD83D, 0xDE00, 0xDC00, 0xD800};
    QString text(reinterpret_cast<const QChar *>(units), std::size(units));
    CleanFileName(text, false);
    EXPECT_EQ(text, QString::fromUtf8("a\uFFFDb\uFFFD\U0001F600\uFFFD\uFFFD"));
}

TEST(WideSpace, ClassifiesUnicodeSpaces)
{
    for (char16_t c : {u' ', u'\t', u'\n', u'\v', u'\f', u'\r', u'\u0085', u'\u00A0', u'\u1680', u'\u2000',
                       u'\u200A', u'\u2028', u'\u2029', u'\u202F', u'\u205F', u'\u3000'})
        EXPECT_TRUE(IsWideSpace(QChar(c))) << int(c);
    for (char16_t c : {u'a', u'_', u'\0', u'\u200B', u'\uFEFF', u'\u3002'})
        EXPECT_FALSE(IsWideSpace(QChar(c))) << int(c);
    EXPECT_EQ(TrimWide(U("\u2003 x y\u3000")), U("x y"));
    EXPECT_EQ(TrimWide(U(" \t ")), QString());
}

} // namespace
