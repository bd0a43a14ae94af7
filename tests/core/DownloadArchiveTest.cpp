// The download archive of an album folder: what it reads back after a crash, how it
// writes, and that a planted link is replaced instead of followed.
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

TEST(DownloadArchive, APlantedLinkIsReplacedNotFollowed)
{
    Sandbox sb;
    sb.write(QStringLiteral("victim"), "keep me\n");
    ASSERT_TRUE(QDir().mkpath(sb.file(QStringLiteral("album"))));
    ASSERT_TRUE(QFile::link(sb.file(QStringLiteral("victim")), sb.file(QStringLiteral("album/") + kName)));
    DownloadArchive archive;
    archive.Open(sb.file(QStringLiteral("album/")));
    archive.Record(QStringLiteral("a"), QStringLiteral("a.jpg"));
    archive.Record(QStringLiteral("b"), QStringLiteral("b.jpg"));
    EXPECT_EQ(archive.Close(), QString());
    EXPECT_EQ(sb.read(QStringLiteral("victim")), QByteArray("keep me\n"));
    EXPECT_FALSE(QFileInfo(sb.file(QStringLiteral("album/") + kName)).isSymLink());
    EXPECT_TRUE(sb.read(QStringLiteral("album/") + kName).endsWith("a\ta.jpg\nb\tb.jpg\n"));
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
