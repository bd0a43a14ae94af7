// The progress line's arithmetic of columns: how wide a text is on a terminal, and a
// line that fits whatever the terminal's width.
#include "cli/ProgressLine.h"

#include <QList>
#include <gtest/gtest.h>

TEST(ProgressLine, DisplayWidthCountsTerminalColumns)
{
    struct Case {
        const char *what;
        QString text;
        int width;
    };
    const QList<Case> cases = {
        {"ASCII", QStringLiteral("12/45  1.2 MB"), 13},
        {"Chinese takes two each", QStringLiteral("正在下载第1/2个图集"), 19},
        {"fullwidth forms", QStringLiteral("ＡＢ！"), 6},
        {"Hangul", QStringLiteral("한국"), 4},
        {"a combining mark takes none", QStringLiteral("e\u0301"), 1},
        {"zero-width joiner and space", QStringLiteral("a\u200Db\u200B"), 2},
        {"an emoji outside the BMP", QString::fromUcs4(U"\U0001F600x"), 3},
        {"a CJK ideograph outside the BMP", QString::fromUcs4(U"\U00020000"), 2},
        {"empty", QString(), 0},
    };
    for (const Case &c : cases)
        EXPECT_EQ(DisplayWidth(c.text), c.width) << c.what;
}

TEST(ProgressLine, CutToWidthKeepsWholeCharacters)
{
    // A wide character that would stick out by one column is left out whole.
    EXPECT_EQ(CutToWidth(QStringLiteral("ab正在"), 3), QStringLiteral("ab"));
    EXPECT_EQ(CutToWidth(QStringLiteral("ab正在"), 4), QStringLiteral("ab正"));
    // A surrogate pair is never split; a combining mark stays with its letter.
    const QString emoji = QString::fromUcs4(U"a\U0001F600b");
    EXPECT_EQ(CutToWidth(emoji, 2), QStringLiteral("a"));
    EXPECT_EQ(CutToWidth(emoji, 3), QString::fromUcs4(U"a\U0001F600"));
    EXPECT_EQ(CutToWidth(QStringLiteral("e\u0301x"), 1), QStringLiteral("e\u0301"));
    EXPECT_EQ(CutToWidth(QStringLiteral("abc"), 0), QString());
}

TEST(ProgressLine, DownloadLineFitsEveryWidth)
{
    ProgressFigures f;
    f.phase = QStringLiteral("正在下载第12/20个图集");
    f.done = 1234;
    f.total = 5678;
    f.bytes = 987654321;
    f.bytesPerSecond = 12345678;
    f.secondsLeft = 3725;
    for (int columns = 1; columns <= 240; ++columns) {
        const QString line = DownloadProgressLine(f, columns);
        // One column stays free, so the terminal never wraps the line.
        EXPECT_LE(DisplayWidth(line), std::max(1, columns - 1)) << columns;
        if (columns >= 12) {
            EXPECT_TRUE(line.contains(QStringLiteral("1234/5678"))) << columns << ": " << line.toStdString();
        }
    }
    // Wide enough, everything is there, in one language.
    const QString wide = DownloadProgressLine(f, 200);
    for (const char *piece : {"正在下载第12/20个图集 [", "] 1234/5678", "941.9 MB", "11.8 MB/s", "剩余 62:05"})
        EXPECT_TRUE(wide.contains(QString::fromUtf8(piece))) << piece << " in " << wide.toStdString();
    // At 40 columns an everyday line keeps its phase, bar and count; the figures give way.
    ProgressFigures everyday{QStringLiteral("正在下载第1/2个图集"), 12, 45, 1234567, 456789, 3};
    const QString narrow = DownloadProgressLine(everyday, 40);
    EXPECT_TRUE(narrow.startsWith(QStringLiteral("正在下载第1/2个图集 [##"))) << narrow.toStdString();
    EXPECT_TRUE(narrow.endsWith(QStringLiteral("] 12/45"))) << narrow.toStdString();
    // The bar shows the share done.
    f.done = f.total;
    const QString full = DownloadProgressLine(f, 80);
    EXPECT_FALSE(full.contains(QStringLiteral("[#-")) || full.contains(QStringLiteral("-]"))) << full.toStdString();
    // An unknown width is taken as 80 columns.
    EXPECT_EQ(DownloadProgressLine(f, 0), full);
}

TEST(ProgressLine, OtherLinesAreCutToTheWidth)
{
    const QString text = QStringLiteral("正在获取相册列表  已获取到1234张图片信息");
    EXPECT_EQ(FittedLine(text, 200), text);
    // 19 columns: the next character would take two.
    EXPECT_EQ(FittedLine(text, 20), QStringLiteral("正在获取相册列表  "));
}
