// The download archive of an album folder: what it reads back after a crash, how it
// writes, that two runs writing into one album keep each other's records, and that a
// planted link is replaced instead of followed.
#include "core/DownloadArchive.h"

#include "TestSupport.h"

#include <QFile>
#include <QFileInfo>
#include <thread>
#include <vector>

namespace {

const QString kName = DownloadArchive::FileName();

} // namespace

TEST(DownloadArchive, ReadsWholeLinesAndTheLaterLineWins)
{
    Sandbox sb;
    // b was renamed to z.jpg; x.jpg now holds c; the last line was cut by a crash.
    sb.write(kName, "a\tx.jpg\nb\ty.jpg\nb\tz.jpg\nc\tx.jpg\nlegacy\ntorn\tw.jp");
    DownloadArchive archive;
    archive.Open(sb.path());
    for (const char *a : {"a", "b", "c", "legacy"})
        EXPECT_TRUE(archive.Contains(QString::fromLatin1(a))) << a;
    EXPECT_FALSE(archive.Contains(QStringLiteral("torn")));
    EXPECT_EQ(archive.AddressOf(QStringLiteral("x.jpg")), QStringLiteral("c"));
    EXPECT_EQ(archive.AddressOf(QStringLiteral("z.jpg")), QStringLiteral("b"));
    EXPECT_EQ(archive.AddressOf(QStringLiteral("y.jpg")), QString());

    // The first record rewrites the file whole (the torn line goes), later ones append.
    archive.Record(QStringLiteral("d"), QStringLiteral("d.jpg"));
    const QByteArray rewritten("a\t\nb\tz.jpg\nc\tx.jpg\nlegacy\t\nd\td.jpg\n");
    EXPECT_EQ(sb.read(kName), rewritten);
    archive.Record(QStringLiteral("e"), QStringLiteral("e.jpg"));
    archive.Record(QStringLiteral("e"), QStringLiteral("e.jpg"));  // saved again: no new line
    archive.Record(QStringLiteral("f\nc"), QStringLiteral("f.jpg")); // could forge a line
    archive.Record(QStringLiteral("g"), QStringLiteral("g\t.jpg"));
    EXPECT_EQ(sb.read(kName), rewritten + "e\te.jpg\n");
    EXPECT_EQ(archive.Close(), QString());

    archive.Open(sb.path());
    EXPECT_TRUE(archive.Contains(QStringLiteral("e")));
    EXPECT_FALSE(archive.Contains(QStringLiteral("f\nc")));
    EXPECT_EQ(archive.AddressOf(QStringLiteral("d.jpg")), QStringLiteral("d"));
}

// Two runs writing into one album at once (two processes; here two archives, each with a
// file of its own): the file keeps every record of both, in the order they were written.
// A whole file is appended to as it stands; rewriting it would leave the other run
// appending to a file no longer under the name.
TEST(DownloadArchive, TwoRunsIntoOneAlbumKeepEachOthersRecords)
{
    Sandbox sb;
    const QByteArray earlier("a\ta.jpg\na\tb.jpg\n"); // an earlier run's lines, a rename among them
    sb.write(kName, earlier);
    DownloadArchive one, two;
    one.Open(sb.path());
    two.Open(sb.path());
    one.Record(QStringLiteral("x1"), QStringLiteral("x1.jpg"));
    two.Record(QStringLiteral("y1"), QStringLiteral("y1.jpg"));
    one.Record(QStringLiteral("x2"), QStringLiteral("x2.jpg"));
    two.Record(QStringLiteral("y2"), QStringLiteral("y2.jpg"));
    EXPECT_EQ(one.Close(), QString());
    EXPECT_EQ(two.Close(), QString());
    EXPECT_EQ(sb.read(kName), earlier + "x1\tx1.jpg\ny1\ty1.jpg\nx2\tx2.jpg\ny2\ty2.jpg\n");

    // A new archive, made by two runs at once: the same.
    ASSERT_TRUE(QDir().mkpath(sb.file(QStringLiteral("new"))));
    one.Open(sb.file(QStringLiteral("new/")));
    two.Open(sb.file(QStringLiteral("new/")));
    two.Record(QStringLiteral("y1"), QStringLiteral("y1.jpg"));
    one.Record(QStringLiteral("x1"), QStringLiteral("x1.jpg"));
    two.Record(QStringLiteral("y2"), QStringLiteral("y2.jpg"));
    EXPECT_EQ(one.Close(), QString());
    EXPECT_EQ(two.Close(), QString());
    EXPECT_EQ(sb.read(QStringLiteral("new/") + kName), QByteArray("y1\ty1.jpg\nx1\tx1.jpg\ny2\ty2.jpg\n"));
}

TEST(DownloadArchive, APlantedLinkIsReplacedNotFollowed)
{
    // A link to a file the user owns, and a link to where a file could be made.
    for (const bool dangling : {false, true}) {
        SCOPED_TRACE(dangling ? "dangling link" : "link to a file");
        Sandbox sb;
        if (!dangling)
            sb.write(QStringLiteral("victim"), "keep me\n");
        ASSERT_TRUE(QDir().mkpath(sb.file(QStringLiteral("album"))));
        ASSERT_TRUE(QFile::link(sb.file(QStringLiteral("victim")), sb.file(QStringLiteral("album/") + kName)));
        DownloadArchive archive;
        archive.Open(sb.file(QStringLiteral("album/")));
        archive.Record(QStringLiteral("a"), QStringLiteral("a.jpg"));
        archive.Record(QStringLiteral("b"), QStringLiteral("b.jpg"));
        EXPECT_EQ(archive.Close(), QString());
        if (dangling)
            EXPECT_FALSE(QFileInfo::exists(sb.file(QStringLiteral("victim"))));
        else
            EXPECT_EQ(sb.read(QStringLiteral("victim")), QByteArray("keep me\n"));
        EXPECT_FALSE(QFileInfo(sb.file(QStringLiteral("album/") + kName)).isSymLink());
        EXPECT_TRUE(sb.read(QStringLiteral("album/") + kName).endsWith("a\ta.jpg\nb\tb.jpg\n"));
    }
}

TEST(DownloadArchive, RecordsFromManyWorkersAndReportsAFailedWrite)
{
    Sandbox sb;
    DownloadArchive archive;
    archive.Record(QStringLiteral("x"), QStringLiteral("x.jpg")); // not open: nothing
    archive.Open(sb.path());
    std::vector<std::thread> workers;
    for (int t = 0; t < 4; ++t)
        workers.emplace_back([&, t] {
            for (int i = 0; i < 50; ++i)
                archive.Record(QStringLiteral("http://img/%1-%2").arg(t).arg(i), QStringLiteral("%1-%2.jpg").arg(t).arg(i));
        });
    for (auto &w : workers)
        w.join();
    EXPECT_EQ(archive.Close(), QString());
    EXPECT_EQ(sb.read(kName).count('\n'), 200);
    EXPECT_FALSE(QFileInfo::exists(sb.file(QStringLiteral("x.jpg"))));

    // A folder that is not there: the record is kept in memory, the failure reported.
    archive.Open(sb.file(QStringLiteral("gone/")));
    archive.Record(QStringLiteral("a"), QStringLiteral("a.jpg"));
    EXPECT_TRUE(archive.Contains(QStringLiteral("a")));
    EXPECT_FALSE(archive.Close().isEmpty());
}
