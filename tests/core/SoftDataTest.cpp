#include "settings/SoftData.h"

#include "TestSupport.h"

#include <QFile>
#include <QtEndian>
#include <cstring>
#include <gtest/gtest.h>

namespace {

constexpr int kImageSize = 19808;
constexpr int kSaveSetAt = 192;
constexpr int kSaveSetSize = 484;
constexpr int kAddressHistoryAt = 11808;
constexpr int kSavePathHistoryAt = 15808;

void PutU16(QByteArray &image, int offset, uint16_t value)
{
    qToLittleEndian(value, image.data() + offset);
}

uint16_t GetU16(const QByteArray &image, int offset)
{
    return qFromLittleEndian<uint16_t>(image.constData() + offset);
}

void PutText(QByteArray &image, int offset, const QString &text)
{
    for (qsizetype i = 0; i < text.size(); ++i)
        PutU16(image, offset + int(i) * 2, text.at(i).unicode());
}

int DownSetAt(int mode) { return mode * 8; }
int SaveSetAt(int mode) { return kSaveSetAt + mode * kSaveSetSize; }

class SoftDataTest : public ::testing::Test {
protected:
    Sandbox box;
    ST_SOFTDATA data;

    QByteArray file() const { return box.read(QStringLiteral("soft.dat")); }
    void writeFile(const QByteArray &bytes) const { box.write(QStringLiteral("soft.dat"), bytes); }
    // An image whose thread and time-out values need no correction in any mode.
    static QByteArray validImage()
    {
        QByteArray image(kImageSize, '\0');
        for (int mode = 0; mode < SITE_MODE_COUNT; ++mode) {
            PutU16(image, DownSetAt(mode) + 4, 5);
            PutU16(image, DownSetAt(mode) + 6, 30);
        }
        return image;
    }
};

TEST_F(SoftDataTest, ReadsFieldsAtTheirOffsets)
{
    QByteArray image = validImage();
    PutU16(image, DownSetAt(18) + 0, 10);   // wMinKB
    PutU16(image, DownSetAt(18) + 2, 4096); // wMaxKB
    PutU16(image, DownSetAt(18) + 4, 12);   // wThreads
    PutU16(image, DownSetAt(18) + 6, 45);   // wTimeout
    PutText(image, SaveSetAt(18), QStringLiteral("前缀-"));
    PutText(image, SaveSetAt(18) + 80, QStringLiteral("_end"));
    PutText(image, SaveSetAt(18) + 160, QStringLiteral("a|b"));
    PutText(image, SaveSetAt(18) + 240, QStringLiteral("x|y"));
    PutText(image, SaveSetAt(18) + 320, QStringLiteral("["));
    PutText(image, SaveSetAt(18) + 400, QStringLiteral("]"));
    PutU16(image, SaveSetAt(18) + 480, OPT_NAMES_FILE | OPT_SKIP_DOWNLOADED);
    image[SaveSetAt(18) + 482] = 2;
    image[SaveSetAt(18) + 483] = 1;
    PutText(image, kAddressHistoryAt, QStringLiteral("http://127.0.0.1/boards/1/"));
    PutText(image, kAddressHistoryAt + 800, QStringLiteral("http://127.0.0.1/boards/2/"));
    PutText(image, kSavePathHistoryAt + 4 * 800, QStringLiteral("/home/用户/图片/"));
    writeFile(image);

    LoadSettings(data, box.path());

    const ST_DOWNSET &down = data.DownSet[18];
    EXPECT_EQ(down.wMinKB, 10);
    EXPECT_EQ(down.wMaxKB, 4096);
    EXPECT_EQ(down.wThreads, 12);
    EXPECT_EQ(down.wTimeout, 45);
    const ST_SAVESET &save = data.SaveSet[18];
    EXPECT_EQ(FieldText(save.szPrefix), QStringLiteral("前缀-"));
    EXPECT_EQ(FieldText(save.szSuffix), QStringLiteral("_end"));
    EXPECT_EQ(FieldText(save.szReplaceWhat), QStringLiteral("a|b"));
    EXPECT_EQ(FieldText(save.szReplaceWith), QStringLiteral("x|y"));
    EXPECT_EQ(FieldText(save.szFolderPrefix), QStringLiteral("["));
    EXPECT_EQ(FieldText(save.szFolderSuffix), QStringLiteral("]"));
    EXPECT_EQ(save.wOptions, OPT_NAMES_FILE | OPT_SKIP_DOWNLOADED);
    EXPECT_EQ(save.byNameBase, 2);
    EXPECT_EQ(save.byFolderName, 1);
    EXPECT_EQ(FieldText(data.AddressHistory[0]), QStringLiteral("http://127.0.0.1/boards/1/"));
    EXPECT_EQ(FieldText(data.AddressHistory[1]), QStringLiteral("http://127.0.0.1/boards/2/"));
    EXPECT_EQ(FieldText(data.SavePathHistory[4]), QStringLiteral("/home/用户/图片/"));
    EXPECT_EQ(FieldText(data.SavePathHistory[0]), QString());
    // A file that was read gets no first-run defaults.
    EXPECT_EQ(data.SaveSet[7].wOptions, 0);
    EXPECT_EQ(FieldText(data.SaveSet[17].szPrefix), QString());

    // Written back byte for byte.
    EXPECT_EQ(file(), image);
}

TEST_F(SoftDataTest, CorrectsThreadsAndTimeoutInMemoryAndWritesThemWithTheNextChange)
{
    QByteArray image = validImage();
    PutU16(image, DownSetAt(18) + 4, 20);
    PutU16(image, DownSetAt(18) + 6, 5);
    PutU16(image, DownSetAt(3) + 4, 0);
    PutU16(image, DownSetAt(3) + 6, 10); // 10 is allowed
    PutU16(image, DownSetAt(4) + 4, 15); // 15 is allowed
    PutU16(image, DownSetAt(4) + 6, 9);
    writeFile(image);

    LoadSettings(data, box.path());

    EXPECT_EQ(data.DownSet[18].wThreads, 5);
    EXPECT_EQ(data.DownSet[18].wTimeout, 30);
    EXPECT_EQ(data.DownSet[3].wThreads, 5);
    EXPECT_EQ(data.DownSet[3].wTimeout, 10);
    EXPECT_EQ(data.DownSet[4].wThreads, 15);
    EXPECT_EQ(data.DownSet[4].wTimeout, 30);

    // A load is a read: another process may be writing the file right now.
    EXPECT_EQ(file(), image);

    ST_SOFTDATA base = data;
    SetFieldText(data.SaveSet[18].szPrefix, QStringLiteral("p"));
    ASSERT_TRUE(SaveSettingsChanges(data, base, box.path()));
    const QByteArray written = file();
    ASSERT_EQ(written.size(), kImageSize);
    EXPECT_EQ(GetU16(written, DownSetAt(18) + 4), 5);
    EXPECT_EQ(GetU16(written, DownSetAt(18) + 6), 30);
    EXPECT_EQ(GetU16(written, DownSetAt(4) + 6), 30);
    EXPECT_EQ(GetU16(written, SaveSetAt(18)), u'p');
}

TEST_F(SoftDataTest, FirstRunCreatesFileWithDefaults)
{
    LoadSettings(data, box.path());

    const QByteArray written = file();
    ASSERT_EQ(written.size(), kImageSize);
    EXPECT_EQ(GetU16(written, SaveSetAt(17)), u'?');
    EXPECT_EQ(GetU16(written, SaveSetAt(17) + 2), u'2');
    EXPECT_EQ(FieldText(data.SaveSet[17].szPrefix), QStringLiteral("?2) "));
    EXPECT_EQ(data.SaveSet[7].wOptions, OPT_FIX_ORDER | OPT_YUPOO_LARGE);
    EXPECT_EQ(data.SaveSet[8].byNameBase, 1);
    EXPECT_EQ(data.SaveSet[11].wOptions, OPT_FIX_ORDER);
    EXPECT_EQ(data.SaveSet[16].wOptions, OPT_FIX_ORDER);
    for (int mode = 0; mode < SITE_MODE_COUNT; ++mode) {
        EXPECT_EQ(data.DownSet[mode].wThreads, 5) << mode;
        EXPECT_EQ(data.DownSet[mode].wTimeout, 30) << mode;
    }
    // The board site starts with no options, limits or texts.
    const ST_SAVESET &board = data.SaveSet[SITE_MODE_BOARD];
    EXPECT_EQ(board.wOptions, 0);
    EXPECT_EQ(board.byNameBase, 0);
    EXPECT_EQ(board.byFolderName, 0);
    EXPECT_EQ(data.DownSet[SITE_MODE_BOARD].wMinKB, 0);
    EXPECT_EQ(data.DownSet[SITE_MODE_BOARD].wMaxKB, 0);
    EXPECT_EQ(FieldText(board.szPrefix), QString());
    EXPECT_EQ(std::memcmp(written.constData(), &data, kImageSize), 0);
}

TEST_F(SoftDataTest, ShortFileReadsTailAsZeroWithoutDefaults)
{
    QByteArray image = validImage();
    PutU16(image, SaveSetAt(0) + 480, OPT_OPEN_FOLDER);
    image.truncate(SaveSetAt(1)); // modes 1 to 23 and the histories are missing
    writeFile(image);

    LoadSettings(data, box.path());

    EXPECT_EQ(data.SaveSet[0].wOptions, OPT_OPEN_FOLDER);
    EXPECT_EQ(data.DownSet[18].wThreads, 5);
    EXPECT_EQ(data.DownSet[18].wTimeout, 30);
    EXPECT_EQ(data.SaveSet[7].wOptions, 0);
    EXPECT_EQ(data.SaveSet[8].byNameBase, 0);
    EXPECT_EQ(FieldText(data.SaveSet[17].szPrefix), QString());
    EXPECT_EQ(file(), image);
}

TEST_F(SoftDataTest, EmptyFileCountsAsRead)
{
    writeFile(QByteArray());
    EXPECT_TRUE(LoadSettings(data, box.path()));
    EXPECT_EQ(data.DownSet[18].wThreads, 5);
    EXPECT_EQ(FieldText(data.SaveSet[17].szPrefix), QString());
    EXPECT_EQ(file(), QByteArray());
}

TEST_F(SoftDataTest, AReadOnlyLoadCreatesNothing)
{
    EXPECT_FALSE(LoadSettings(data, box.path(), false));
    EXPECT_EQ(FieldText(data.SaveSet[17].szPrefix), QStringLiteral("?2) ")); // the defaults, in memory
    EXPECT_EQ(filesBelow(box.path()), QStringList());
}

TEST_F(SoftDataTest, UnwritableFolderWorksInMemory)
{
    // A folder below a regular file can never be created, even by root.
    box.write(QStringLiteral("plain"), "x");
    const QString folder = box.file(QStringLiteral("plain/work/"));

    LoadSettings(data, folder);
    EXPECT_EQ(data.DownSet[18].wThreads, 5);
    EXPECT_EQ(FieldText(data.SaveSet[17].szPrefix), QStringLiteral("?2) "));
    EXPECT_FALSE(SaveSettings(data, folder));
}

TEST_F(SoftDataTest, SaveReplacesWholeFile)
{
    writeFile(QByteArray(30000, 'z')); // too long: only the image is read
    LoadSettings(data, box.path());
    EXPECT_EQ(file().size(), 30000);

    SetFieldText(data.SaveSet[18].szPrefix, QStringLiteral("p"));
    ASSERT_TRUE(SaveSettings(data, box.path()));
    const QByteArray written = file();
    ASSERT_EQ(written.size(), kImageSize);
    EXPECT_EQ(GetU16(written, SaveSetAt(18)), u'p');
    EXPECT_EQ(GetU16(written, SaveSetAt(18) + 2), 0);
}

TEST(SoftDataFields, SetFieldTextLimitsAndTerminates)
{
    char16_t field[SAVESET_TEXT_UNITS];
    std::fill(std::begin(field), std::end(field), u'#');
    SetFieldText(field, QString(50, QChar(u'a')), SAVESET_TEXT_MAX);
    EXPECT_EQ(FieldText(field), QString(SAVESET_TEXT_MAX, QChar(u'a')));
    EXPECT_EQ(field[SAVESET_TEXT_MAX], u'\0');
    EXPECT_EQ(field[SAVESET_TEXT_UNITS - 1], u'\0');

    SetFieldText(field, QString(50, QChar(u'b'))); // default: the whole field but the NUL
    EXPECT_EQ(FieldText(field).size(), SAVESET_TEXT_UNITS - 1);

    // A field without any NUL ends at its size.
    std::fill(std::begin(field), std::end(field), u'c');
    EXPECT_EQ(FieldText(field).size(), SAVESET_TEXT_UNITS);
}

// ---------------------------------------------------------------- history

class RememberTextTest : public ::testing::Test {
protected:
    char16_t history[HISTORY_COUNT][HISTORY_UNITS] = {};

    QStringList entries() const
    {
        QStringList out;
        for (const auto &entry : history)
            out << FieldText(entry);
        return out;
    }
    void fill(const QStringList &texts)
    {
        for (int i = 0; i < HISTORY_COUNT; ++i)
            SetFieldText(history[i], i < texts.size() ? texts[i] : QString());
    }
};

TEST_F(RememberTextTest, NewTextGoesOnTopAndOldestDrops)
{
    fill({"e1", "e2", "e3", "e4", "e5"});
    EXPECT_TRUE(RememberText(history, QStringLiteral("new")));
    EXPECT_EQ(entries(), QStringList({"new", "e1", "e2", "e3", "e4"}));
}

TEST_F(RememberTextTest, DuplicatesIgnoringCaseAreRefused)
{
    fill({"http://a/", QStringLiteral("C:/Bilder/É/"), "x", "ΣΊΣΥΦΟΣ", "y"});
    const QStringList before = entries();
    struct Case {
        QString text;
        bool added;
    } cases[] = {
        {QStringLiteral("HTTP://A/"), false},
        {QStringLiteral("c:/bilder/é/"), false}, // non-ASCII letters fold too
        {QStringLiteral("σίσυφος"), false},     // final sigma folds like sigma
        {QStringLiteral("C:/Bilder/E/"), true},  // an accent is not a case
    };
    for (const Case &c : cases) {
        fill(before);
        EXPECT_EQ(RememberText(history, c.text), c.added) << c.text.toStdString();
        if (!c.added) {
            EXPECT_EQ(entries(), before); // order kept
        }
    }
}

TEST_F(RememberTextTest, LengthLimit)
{
    EXPECT_FALSE(RememberText(history, QString(400, QChar(u'a'))));
    EXPECT_EQ(entries(), QStringList(HISTORY_COUNT, QString()));
    EXPECT_TRUE(RememberText(history, QString(399, QChar(u'a'))));
    EXPECT_EQ(FieldText(history[0]), QString(399, QChar(u'a')));
    EXPECT_EQ(history[0][399], u'\0');
}

} // namespace
