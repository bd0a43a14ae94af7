// From a board address to picture files: pin paging, the download run and the worker
// pool, against the local board site on loopback.
#include "CoreFixture.h"

#include "core/DownloadArchive.h"
#include "download/DownProc.h"
#include "download/FileNaming.h"
#include "net/Reasons.h"
#include "source/ChangeSource.h"
#include "text/StringCtrl.h"

#include <QCryptographicHash>
#include <QMap>
#include <QRegularExpression>
#include <QDirIterator>
#include <QFile>
#include <csignal>
#include <sys/resource.h>

namespace {

QStringList filesIn(const QString &folder)
{
    QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    return names;
}

// Every file below root that is not a finished picture or one of our own small files.
QStringList strayFiles(const QString &root)
{
    QStringList stray;
    QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString name = QFileInfo(path).fileName();
        if (!HasPictureExtension(name) && name != QStringLiteral("pic.kzv") && name != DownloadArchive::FileName() &&
            !name.endsWith(QStringLiteral(".txt")) && !name.endsWith(QStringLiteral(".lst")))
            stray << path;
    }
    return stray;
}

QByteArray utf16le(const QString &text)
{
    QByteArray bytes;
    for (QChar c : text) {
        bytes += char(c.unicode() & 0xFF);
        bytes += char(c.unicode() >> 8);
    }
    return bytes;
}

class DownloadRun : public CoreFixture {
protected:
    QString albumFolder(const QString &owner, const QString &album) const
    {
        const QString sep = QDir::separator();
        return w->savePath + sep + owner + sep + album + sep;
    }

    // The album record of a board, as a retrieval would have added it, without the
    // kept page (so the first page comes from the paging address too).
    int addAlbum(const BoardSite::Board &b)
    {
        ST_PERLISTRECORD r;
        r.strName = b.title;
        r.strUrl = site.boardUrl(b.id);
        r.nPicCount = uint32_t(b.declaredPinCount);
        return int(AddAlbumRecord(app->albums, r)) - 1;
    }

    void runChosen(const QList<int> &albums)
    {
        w->chosen = albums;
        app->DownState = 1;
        RunDownload(*app, *w);
    }

    // Fills the DownloadList by hand and runs one batch of the pool.
    void runBatch(const QStringList &addresses, const QStringList &names, ST_DOWNSET set)
    {
        QDir().mkpath(w->savePath);
        app->downloads.reset(w->savePath + QDir::separator());
        app->downloads.addresses = addresses;
        app->downloads.fileNames = names;
        app->runDownSet = set;
        std::thread pool = StartDownPicFunc(*app, *w);
        ASSERT_TRUE(pool.joinable());
        pool.join();
    }
};

ST_DOWNSET downSet(uint16_t threads, uint16_t timeout = 10, uint16_t minKB = 0, uint16_t maxKB = 0)
{
    return ST_DOWNSET{minKB, maxKB, threads, timeout};
}

} // namespace

namespace {

// Everything below a folder (ending in a separator): relative path -> bytes; the download archive as its sorted
// lines (the workers record the pictures in the order they finish).
QMap<QString, QByteArray> folderContents(const QString &root)
{
    QMap<QString, QByteArray> contents;
    for (const QString &name : filesBelow(root)) {
        QFile f(root + name);
        EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << name.toStdString();
        QByteArray bytes = f.readAll();
        if (name.endsWith(DownloadArchive::FileName())) {
            QList<QByteArray> lines = bytes.split('\n');
            std::sort(lines.begin(), lines.end());
            bytes = lines.join('\n');
        }
        contents.insert(name, bytes);
    }
    return contents;
}

} // namespace

TEST_F(DownloadRun, DownloadingWhileCollectingGivesWhatCollectingFirstGave)
{
    // A board of three pin pages, named from the descriptions (with duplicates) into a
    // names file, downloaded; then the board grows by 25 pins (two pages' worth) and a
    // run with "不下载以前下载过的图片" takes the new ones. Once with the pictures held at
    // the site until the listing has ended (collected first, downloaded after), once with
    // the second pin page held until the first page's pictures are saved (downloaded while
    // collecting). Both leave the same.
    BoardSite::Board b = BoardSite::makeBoard(QStringLiteral("70"), QStringLiteral("overlap"), QStringLiteral("u"), 80, 18);
    for (int i = 0; i < b.pins.size(); ++i)
        b.pins[i].description = QStringLiteral("pin %1").arg(i % 7); // names made unique with "(k)"
    BoardSite::Board first = b;
    first.pins = b.pins.mid(25); // the 25 newest come later
    first.declaredPinCount = first.pins.size();
    editSaveSet([](ST_SAVESET &set) { set.wOptions |= OPT_NAMES_FILE; });
    editDownSet([](ST_DOWNSET &d) { d.wThreads = 4; });
    QMap<QString, QByteArray> results[2];
    QStringList names[2];
    for (const bool overlap : {false, true}) {
        SCOPED_TRACE(overlap ? "downloading while collecting" : "collecting first");
        w->savePath = sandbox.path() + (overlap ? QStringLiteral("overlap") : QStringLiteral("sequential"));
        QDir().mkpath(w->savePath);
        editSaveSet([](ST_SAVESET &set) { set.wOptions &= uint16_t(~OPT_SKIP_DOWNLOADED); });
        app->albums.clear();
        const int album = addAlbum(first);
        for (const bool growing : {false, true}) {
            const BoardSite::Board &listed = growing ? b : first;
            const int collected = growing ? 25 : 55;
            site.addBoard(listed);
            if (growing)
                editSaveSet([](ST_SAVESET &set) { set.wOptions |= OPT_SKIP_DOWNLOADED; });
            site.clearRequests();
            app->nDoneCount = 0; // what the releaser looks at starts from nothing
            {
                std::lock_guard lock(w->m_mutex);
                w->progress.clear();
            }
            site.holdRequests(overlap ? QStringLiteral("/boards/70/?hxzmqq2s&max=%1&").arg(listed.pins[19].id)
                                      : QStringLiteral("/70_"));
            bool interleaved = false;
            std::thread releaser([&] {
                if (overlap) {
                    // Page 2 waits at the site until the first page's pictures are saved.
                    interleaved = waitFor([&] { return app->nDoneCount >= 20; }, std::chrono::seconds(30))
                                  && site.heldRequests() == 1;
                } else {
                    // The listing ends with the last page; only then do the pictures go.
                    interleaved = waitFor([&] {
                        return w->ShowedProgress(QStringLiteral("已获取到%1张图片信息").arg(collected));
                    }, std::chrono::seconds(30)) && app->nDoneCount == 0;
                }
                site.releaseRequests();
            });
            runChosen({album});
            releaser.join();
            EXPECT_TRUE(interleaved);
            EXPECT_FALSE(app->Summary().hasFailures());
            EXPECT_EQ(app->Summary().saved, collected);
        }
        const int k = overlap ? 1 : 0;
        results[k] = folderContents(w->savePath + QDir::separator());
        names[k] = app->downloads.fileNames;
    }
    EXPECT_EQ(results[0].keys(), results[1].keys());
    EXPECT_TRUE(results[0] == results[1]);
    for (const QString &key : results[0].keys())
        EXPECT_TRUE(results[0].value(key) == results[1].value(key)) << key.toStdString();
    EXPECT_EQ(names[0], names[1]);
    EXPECT_TRUE(results[1].contains(QStringLiteral("overlap/pic.kzv")));
    EXPECT_TRUE(results[1].contains(QStringLiteral("overlap/overlap.txt")));
    EXPECT_EQ(results[1].size(), 80 + 3) << "pictures, names file, mark, archive";
}

TEST_F(DownloadRun, ABoardOf45PinsIsCollectedInThreePagesAndDownloaded)
{
    retrieveAndRun(site.boardUrl(QStringLiteral("1001")));

    const BoardSite::Board demo = site.board(QStringLiteral("1001"));
    const QString folder = albumFolder(QStringLiteral("demo"), QStringLiteral("演示相册"));

    // The kept board page gave the first 20 pins; two more pages followed, each asking
    // for the pins older than the last one seen; nothing after the 45th picture.
    QStringList pages;
    for (const auto &r : site.requests())
        if (r.path.startsWith(QStringLiteral("/boards/")))
            pages << r.target;
    ASSERT_EQ(pages.size(), 3);
    EXPECT_EQ(pages[1], QStringLiteral("/boards/1001/?hxzmqq2s&max=%1&limit=20&wfl=1").arg(demo.pins[19].id));
    EXPECT_EQ(pages[2], QStringLiteral("/boards/1001/?hxzmqq2s&max=%1&limit=20&wfl=1").arg(demo.pins[39].id));

    const RunSummary s = app->Summary();
    EXPECT_EQ(s.collected, 45);
    EXPECT_EQ(s.saved, 45);
    EXPECT_EQ(s.failed, 0);
    EXPECT_FALSE(s.stopped);

    // Every picture on disk byte for byte, each requested exactly once.
    ASSERT_EQ(app->downloads.fileNames.size(), 45);
    for (int i = 0; i < 45; ++i) {
        QFile f(folder + app->downloads.fileNames[i]);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << f.fileName().toStdString();
        EXPECT_EQ(f.readAll(), site.pictureBytes(demo.pins[i].key)) << i;
        EXPECT_EQ(site.requestCount(QLatin1Char('/') + demo.pins[i].key), 1);
    }
    EXPECT_TRUE(strayFiles(w->savePath).isEmpty()) << strayFiles(w->savePath).join(QLatin1Char(' ')).toStdString();

    // The mark file holds the first address, raw UTF-16LE.
    QFile mark(folder + QStringLiteral("pic.kzv"));
    ASSERT_TRUE(mark.open(QIODevice::ReadOnly));
    EXPECT_EQ(mark.readAll(), utf16le(QStringLiteral("http://") + site.hostPort() + QLatin1Char('/') + demo.pins[0].key));

    EXPECT_EQ(w->Batches(), QList<int>{45});
    EXPECT_EQ(w->Progress().filter(QStringLiteral("已下载")).last(), QStringLiteral("已下载45/45......"));
    EXPECT_TRUE(w->Phases().contains(QStringLiteral("正在下载第1/1个图集")));
    EXPECT_EQ(w->LastPhase(), QStringLiteral("下载完毕"));
    EXPECT_EQ(w->Events().filter(QStringLiteral("Download")),
              (QStringList{QStringLiteral("ShowDownloading"), QStringLiteral("ShowDownloadDone")}));
    EXPECT_EQ(app->DownState, 0);
    EXPECT_EQ(app->bWorkersBusy, 0);
    EXPECT_TRUE(w->openedFolders.isEmpty()); // OPT_OPEN_FOLDER is off
}

TEST_F(DownloadRun, ImageHostsAreDecidedPerPage)
{
    // Pin pages name another host for their pictures; the board page names none, so its
    // pins use the default image host.
    BoardSite::Options o = site.options();
    o.imageHostInBoardPage = false;
    o.imageHostInPinPages = true;
    o.imageHost = QStringLiteral("localhost:%1").arg(site.port());
    site.setOptions(o);
    editSaveSet([](ST_SAVESET &s) { s.wOptions |= OPT_LIST_ONLY; });
    site.addBoard(BoardSite::makeBoard(QStringLiteral("30"), QStringLiteral("hosts"), QStringLiteral("u"), 30, 3));

    retrieveAndRun(site.boardUrl(QStringLiteral("30")));

    const QStringList addresses = app->downloads.addresses;
    ASSERT_EQ(addresses.size(), 30);
    for (int i = 0; i < 30; ++i)
        EXPECT_TRUE(addresses[i].startsWith(QStringLiteral("http://") + (i < 20 ? site.hostPort() : o.imageHost) +
                                            QLatin1Char('/')))
            << i << " " << addresses[i].toStdString();
}

TEST_F(DownloadRun, ListOnlyWritesAGbkListAndNoPicture)
{
    editSaveSet([](ST_SAVESET &s) { s.wOptions |= OPT_LIST_ONLY; });
    retrieveAndRun(site.boardUrl(QStringLiteral("1001")));

    const QString folder = albumFolder(QStringLiteral("demo"), QStringLiteral("演示相册"));
    EXPECT_EQ(filesIn(folder), QStringList{QStringLiteral("演示相册.lst")});
    QFile list(folder + QStringLiteral("演示相册.lst"));
    ASSERT_TRUE(list.open(QIODevice::ReadOnly));
    const QByteArray bytes = list.readAll();
    // The site's own address of every pin, in board order, one CR LF line each.
    QByteArray expected;
    for (const BoardSite::Pin &pin : site.board(QStringLiteral("1001")).pins)
        expected += "http://" + site.hostPort().toLatin1() + '/' + pin.key.toLatin1() + "\r\n";
    EXPECT_EQ(bytes, expected);
    EXPECT_EQ(bytes.count("\r\n"), 45);
    EXPECT_EQ(site.requestCount(QLatin1Char('/') + site.board(QStringLiteral("1001")).pins[0].key), 0);
    EXPECT_EQ(app->Summary().listFiles.size(), 1);
}

TEST_F(DownloadRun, TheListOfAnAlbumNamedLikeADeviceGetsASafeName)
{
    site.addBoard(BoardSite::makeBoard(QStringLiteral("44"), QStringLiteral("con"), QStringLiteral("u"), 3, 2));
    editSaveSet([](ST_SAVESET &s) { s.wOptions |= OPT_LIST_ONLY; });
    retrieveAndRun(site.boardUrl(QStringLiteral("44")));
    const QString folder = albumFolder(QStringLiteral("u"), QStringLiteral("_con"));
    EXPECT_EQ(filesIn(folder), QStringList{QStringLiteral("_con.lst")});
}

TEST_F(DownloadRun, DescriptionsAreReadWholeIntoNamesAndTheNamesFile)
{
    BoardSite::Board b = BoardSite::makeBoard(QStringLiteral("40"), QStringLiteral("quotes"), QStringLiteral("u"), 4, 9);
    // As the site writes them into its JSON: \" \\ \n \t.
    b.pins[0].description = QStringLiteral("Say \"cheese\" 3");
    b.pins[1].description = QStringLiteral("back\\slash");
    b.pins[2].description = QStringLiteral("line one\nline two");
    b.pins[3].description = QStringLiteral("plain");
    site.addBoard(b);
    editSaveSet([](ST_SAVESET &s) { s.wOptions |= OPT_NAMES_FILE; });

    retrieveAndRun(site.boardUrl(QStringLiteral("40")));

    const QString folder = albumFolder(QStringLiteral("u"), QStringLiteral("quotes"));
    QFile names(folder + QStringLiteral("quotes.txt"));
    ASSERT_TRUE(names.open(QIODevice::ReadOnly));
    EXPECT_EQ(names.readAll(), QByteArray("\xFF\xFE") + utf16le(QStringLiteral("Say \"cheese\" 3\r\nback\\slash\r\n"
                                                                                "line one line two\r\nplain\r\n")));
    // The names are the descriptions, cleaned as ever.
    EXPECT_EQ(app->downloads.fileNames, (QStringList{QStringLiteral("Say cheese 3.jpg"), QStringLiteral("backslash.jpg"),
                                                     QStringLiteral("line one line two.jpg"), QStringLiteral("plain.jpg")}));
}

TEST_F(DownloadRun, APinCountLargerThanTheBoardEndsWhenAPageHasNoPins)
{
    BoardSite::Board b = BoardSite::makeBoard(QStringLiteral("41"), QStringLiteral("short"), QStringLiteral("u"), 25, 4);
    b.declaredPinCount = 100;
    site.addBoard(b);
    retrieveAndRun(site.boardUrl(QStringLiteral("41")));
    const RunSummary s = app->Summary();
    EXPECT_EQ(s.saved, 25);
    // Every page was read: boards count pins they no longer show. Only a note.
    EXPECT_FALSE(s.hasFailures());
    EXPECT_EQ(RunNotes(s), QStringList{QStringLiteral("note: short shows 25 of the 100 pictures it declares")});
    EXPECT_EQ(w->LastPhase(), QStringLiteral("下载完毕"));
    EXPECT_EQ(site.requestCount(QStringLiteral("/boards/41/?")), 2); // the second page is empty
}

TEST_F(DownloadRun, PinPagesFailingMidwayDownloadWhatWasCollectedAndTheAlbumIsIncomplete)
{
    BoardSite::Board b = BoardSite::makeBoard(QStringLiteral("42"), QStringLiteral("half"), QStringLiteral("u"), 60, 5);
    b.pinPagesFailFrom = 2;
    site.addBoard(b);
    retrieveAndRun(site.boardUrl(QStringLiteral("42")));
    const RunSummary s = app->Summary();
    EXPECT_EQ(s.collected, 40);
    EXPECT_EQ(s.saved, 40);
    EXPECT_EQ(s.incompleteAlbums(), 1);
    EXPECT_TRUE(s.hasFailures());
    EXPECT_FALSE(QFile::exists(albumFolder(QStringLiteral("u"), QStringLiteral("half")) + QStringLiteral("pic.kzv")));
}

TEST_F(DownloadRun, ACursorThatNeverAdvancesEndsTheAlbum)
{
    // Every pin page answers the same pins: without a guard the album would page forever.
    BoardSite::Board b = BoardSite::makeBoard(QStringLiteral("43"), QStringLiteral("loop"), QStringLiteral("u"), 20, 6);
    b.declaredPinCount = 1000000;
    b.repeatFirstPage = true;
    site.addBoard(b);
    editSaveSet([](ST_SAVESET &s) { s.wOptions |= OPT_LIST_ONLY; });
    retrieveAndRun(site.boardUrl(QStringLiteral("43")));
    EXPECT_EQ(site.requestCount(QStringLiteral("/boards/43/?")), 1);
    EXPECT_EQ(app->downloads.addresses.size(), 20); // the repeated page is not collected twice
    EXPECT_EQ(app->DownState, 0);
}

TEST_F(DownloadRun, SkipDownloadedStopsAtThePreviousRunsFirstPicture)
{
    retrieveAndRun(site.boardUrl(QStringLiteral("1001")));
    ASSERT_EQ(app->Summary().saved, 45);
    editSaveSet([](ST_SAVESET &s) { s.wOptions |= OPT_SKIP_DOWNLOADED; });
    site.clearRequests();

    retrieveAndRun(site.boardUrl(QStringLiteral("1001")));
    EXPECT_EQ(app->Summary().collected, 0); // the first pin is the mark: the album ends at once
    EXPECT_EQ(site.requestCount(QStringLiteral("/boards/1001/?")), 0);
}

TEST_F(DownloadRun, StoppingDuringTheSecondOfThreeAlbums)
{
    BoardSite::Options o = site.options();
    o.bandwidthBytesPerSec = 64 * 1024;
    site.setOptions(o);
    QList<int> albums;
    for (int k = 0; k < 3; ++k) {
        BoardSite::Board b = BoardSite::makeBoard(QString::number(50 + k), QStringLiteral("album%1").arg(k),
                                                  QStringLiteral("u"), 6, 10 + k, 32 * 1024, 48 * 1024);
        site.addBoard(b);
        albums << addAlbum(b);
    }
    editDownSet([](ST_DOWNSET &d) { d.wThreads = 2; });
    QDir().mkpath(w->savePath);

    std::thread stopper([&] {
        if (waitFor([&] { return w->Phases().contains(QStringLiteral("正在下载第2/3个图集")) && app->bWorkersBusy; },
                    std::chrono::seconds(30)))
            DownloadCommand(*app, *w);
    });
    runChosen(albums);
    stopper.join();

    const QString sep = QDir::separator();
    EXPECT_TRUE(QFile::exists(w->savePath + sep + QStringLiteral("album0") + sep + QStringLiteral("pic.kzv")));
    EXPECT_FALSE(QFile::exists(w->savePath + sep + QStringLiteral("album1") + sep + QStringLiteral("pic.kzv")));
    EXPECT_FALSE(QDir(w->savePath + sep + QStringLiteral("album2")).exists());
    EXPECT_TRUE(app->Summary().stopped);
    EXPECT_EQ(w->LastPhase(), QStringLiteral("已终止下载")); // a stop never reads as a finished run
    EXPECT_TRUE(strayFiles(w->savePath).isEmpty()) << strayFiles(w->savePath).join(QLatin1Char(' ')).toStdString();
    // Every picture file that exists is complete.
    for (int k = 0; k < 2; ++k) {
        const BoardSite::Board b = site.board(QString::number(50 + k));
        const QString folder = w->savePath + sep + b.title + sep;
        for (const QString &name : filesIn(folder)) {
            if (!HasPictureExtension(name))
                continue;
            QFile f(folder + name);
            ASSERT_TRUE(f.open(QIODevice::ReadOnly));
            const QByteArray bytes = f.readAll();
            bool matches = false;
            for (const auto &pin : b.pins)
                matches = matches || bytes == site.pictureBytes(pin.key);
            EXPECT_TRUE(matches) << name.toStdString();
        }
    }
}

TEST_F(DownloadRun, AStopTakenBeforeTheRunGotGoingIsKept)
{
    // "终止下载" pressed while the run thread was still making its folders.
    const int album = addAlbum(site.board(QStringLiteral("1001")));
    w->chosen = QList<int>{album};
    app->DownState = 3;
    RunDownload(*app, *w);
    EXPECT_EQ(site.requestCount(QStringLiteral("/boards/1001/?")), 0);
    EXPECT_TRUE(app->Summary().stopped);
    EXPECT_EQ(w->LastPhase(), QStringLiteral("已终止下载"));
    EXPECT_EQ(app->DownState, 0);
}

TEST_F(DownloadRun, OpenFolderAtTheEndWhenAsked)
{
    editSaveSet([](ST_SAVESET &s) { s.wOptions |= OPT_OPEN_FOLDER; });
    retrieveAndRun(site.boardUrl(QStringLiteral("1001")));
    EXPECT_EQ(w->openedFolders, QStringList{albumFolder(QStringLiteral("demo"), QStringLiteral("演示相册"))});
}

TEST_F(DownloadRun, SavePathProblems)
{
    w->address = site.boardUrl(QStringLiteral("1001"));
    struct Case {
        const char *what;
        QString savePath;
        QStringList messages;
    };
    sandbox.write(QStringLiteral("plainfile"), "x");
    const QString blocked = sandbox.file(QStringLiteral("plainfile"));
    const QList<Case> cases = {
        {"empty", QStringLiteral("  "), {QStringLiteral("请先设置保存路径")}},
        {"below a file", blocked + QDir::separator() + QStringLiteral("sub"),
         {blocked, QStringLiteral("请检测设置的保存路径是否有误")}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        RecordingServices rec(app.get());
        rec.savePath = c.savePath;
        rec.chosen = QList<int>{};
        app->DownState = 1;
        RunDownload(*app, rec);
        EXPECT_EQ(rec.Messages(), c.messages);
        EXPECT_EQ(app->DownState, 0);
        EXPECT_TRUE(app->Summary().basePathFailed);
        EXPECT_TRUE(rec.Events().isEmpty());
    }
}

TEST_F(DownloadRun, NoAlbumChosen)
{
    runChosen({});
    EXPECT_EQ(w->Messages(), QStringList{SiteTexts::NoAlbumChosen()});
    EXPECT_EQ(w->LastPhase(), QStringLiteral("下载完毕"));
    EXPECT_EQ(app->albums.chosen(), 0);
}

// --- incremental runs --------------------------------------------------------------

namespace {

QByteArray sha256(const QByteArray &bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

// Every file of a folder (hidden ones too) with the SHA-256 of its bytes.
QMap<QString, QByteArray> checksums(const QString &folder)
{
    QMap<QString, QByteArray> sums;
    for (const QString &name : QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        QFile f(folder + name);
        sums.insert(name, f.open(QIODevice::ReadOnly) ? sha256(f.readAll()) : QByteArray());
    }
    return sums;
}

QByteArray namesFile(const QStringList &lines)
{
    QString text;
    for (const QString &line : lines)
        text += line + QStringLiteral("\r\n");
    return QByteArray("\xFF\xFE", 2) + utf16le(text);
}

} // namespace

class IncrementalRun : public DownloadRun {
protected:
    void SetUp() override
    {
        DownloadRun::SetUp();
        // Number names, the names file and "不下载以前下载过的图片", as someone who keeps a
        // board up to date would set them.
        editSaveSet([](ST_SAVESET &s) {
            s.byNameBase = 1;
            s.wOptions |= OPT_NAMES_FILE | OPT_SKIP_DOWNLOADED;
        });
    }
    QString folder() const { return albumFolder(QStringLiteral("u"), QStringLiteral("inc")); }
    // Board "inc" of user "u", with descriptions that go into the names file unchanged.
    static BoardSite::Board makeBoard(const QString &id, int pins, quint64 seed)
    {
        BoardSite::Board b = BoardSite::makeBoard(id, QStringLiteral("inc"), QStringLiteral("u"), pins, seed);
        for (BoardSite::Pin &pin : b.pins)
            pin.description = QStringLiteral("pin ") + pin.key;
        return b;
    }
    QString address(const BoardSite::Pin &pin) const { return site.pictureUrl(pin.key); }
    int pictureRequests(const BoardSite::Board &b) const
    {
        int n = 0;
        for (const BoardSite::Pin &pin : b.pins)
            n += site.requestCount(QLatin1Char('/') + pin.key);
        return n;
    }
    QStringList descriptions(const QList<BoardSite::Pin> &pins) const
    {
        QStringList d;
        for (const BoardSite::Pin &pin : pins)
            d << pin.description;
        return d;
    }
    QStringList numbered(int from, int to, const QString &tail = QStringLiteral(".jpg")) const
    {
        QStringList names;
        for (int i = from; i <= to; ++i)
            names << QString::number(i) + tail;
        return names;
    }
    QByteArray mark() const
    {
        QFile f(folder() + QStringLiteral("pic.kzv"));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
};

TEST_F(IncrementalRun, AListingPageThatFailsLeavesTheAlbumIncompleteAndARerunFetchesTheRest)
{
    BoardSite::Board b = makeBoard(QStringLiteral("80"), 45, 80);
    b.pinPagesFailFrom = 1; // the board page gives 20 pins, the first pin page fails
    site.addBoard(b);
    retrieveAndRun(site.boardUrl(b.id));

    RunSummary s = app->Summary();
    EXPECT_EQ(s.saved, 20);
    EXPECT_EQ(s.failed, 0);
    ASSERT_EQ(s.albumList.size(), 1);
    EXPECT_FALSE(s.albumList[0].listingComplete);
    EXPECT_EQ(s.albumList[0].listed, 20);
    EXPECT_EQ(RunNotes(s), QStringList{QStringLiteral("album incomplete: collected 20 of 45 (inc)")});
    EXPECT_EQ(w->LastPhase(), QStringLiteral("下载完毕，1个图集未获取完整"));
    EXPECT_TRUE(mark().isEmpty()) << "the mark says done only when it is true";

    // The site recovers: the rerun pages past the 20 it has and fetches exactly the 25 missing.
    b.pinPagesFailFrom = 0;
    site.addBoard(b);
    site.clearRequests();
    retrieveAndRun(site.boardUrl(b.id));
    s = app->Summary();
    EXPECT_EQ(s.saved, 25);
    EXPECT_EQ(s.skipped, 20);
    EXPECT_TRUE(s.albumList.value(0).listingComplete);
    EXPECT_FALSE(s.hasFailures());
    EXPECT_EQ(w->LastPhase(), QStringLiteral("下载完毕"));
    for (int i = 0; i < 45; ++i)
        EXPECT_EQ(site.requestCount(QLatin1Char('/') + b.pins[i].key), i < 20 ? 0 : 1) << i;
    EXPECT_EQ(mark(), utf16le(address(b.pins[0]))); // the newest pin, though this run skipped it
    QStringList expected = numbered(1, 45) << QStringLiteral("inc.txt") << QStringLiteral("pic.kzv")
                                           << DownloadArchive::FileName();
    expected.sort();
    EXPECT_EQ(filesIn(folder()), expected);
    for (int i = 0; i < 45; ++i)
        EXPECT_EQ(checksums(folder()).value(QStringLiteral("%1.jpg").arg(i + 1)), sha256(site.pictureBytes(b.pins[i].key)));
    // The rerun's lines first.
    EXPECT_EQ(sandbox.read(QStringLiteral("save/u/inc/inc.txt")),
              namesFile(descriptions(b.pins.mid(20)) + descriptions(b.pins.mid(0, 20))));

    // Once more: the mark ends the album at its first pin; nothing is fetched.
    site.clearRequests();
    retrieveAndRun(site.boardUrl(b.id));
    EXPECT_EQ(app->Summary().collected, 0);
    EXPECT_EQ(pictureRequests(b), 0);
    EXPECT_EQ(site.requestCount(QStringLiteral("/boards/80/?")), 0);
}

TEST_F(IncrementalRun, EveryPictureFailingOnceThenARerunFetchesEachOnce)
{
    const BoardSite::Board b = makeBoard(QStringLiteral("81"), 45, 81);
    site.addBoard(b);
    BoardSite::Options o = site.options();
    o.faultEvery = 1;
    o.faultKinds = {BoardSite::Fault::Status500};
    site.setOptions(o);
    retrieveAndRun(site.boardUrl(b.id));

    RunSummary s = app->Summary();
    EXPECT_EQ(s.failed, 45);
    EXPECT_EQ(w->LastPhase(), QStringLiteral("下载完毕，45张失败"));
    ASSERT_EQ(s.failures.size(), 45);
    for (const PictureOutcome &f : s.failures) {
        EXPECT_EQ(f.album, 0);
        EXPECT_FALSE(f.reason.isEmpty());
    }
    EXPECT_EQ(s.failures[0].description.isEmpty(), false);
    EXPECT_TRUE(filesIn(folder()).isEmpty()) << filesIn(folder()).join(QLatin1Char(' ')).toStdString();

    o.faultEvery = 0;
    site.setOptions(o);
    site.clearRequests();
    retrieveAndRun(site.boardUrl(b.id));
    s = app->Summary();
    EXPECT_EQ(s.saved, 45);
    EXPECT_FALSE(s.hasFailures());
    EXPECT_EQ(pictureRequests(b), 45);
    for (const BoardSite::Pin &pin : b.pins)
        EXPECT_EQ(site.requestCount(QLatin1Char('/') + pin.key), 1);
    EXPECT_EQ(mark(), utf16le(address(b.pins[0])));
    EXPECT_EQ(sandbox.read(QStringLiteral("save/u/inc/inc.txt")), namesFile(descriptions(b.pins)));

    // Without "不下载以前下载过的图片" every picture is fetched again and replaces its own
    // file: no "(1)" copies, the same bytes.
    const QMap<QString, QByteArray> before = checksums(folder());
    editSaveSet([](ST_SAVESET &set) { set.wOptions &= uint16_t(~OPT_SKIP_DOWNLOADED); });
    site.clearRequests();
    retrieveAndRun(site.boardUrl(b.id));
    EXPECT_EQ(app->Summary().saved, 45);
    EXPECT_EQ(pictureRequests(b), 45);
    EXPECT_EQ(checksums(folder()), before);
}

TEST_F(IncrementalRun, AGrowingBoardKeepsEveryEarlierFile)
{
    BoardSite::Board b = makeBoard(QStringLiteral("82"), 45, 82);
    site.addBoard(b);
    retrieveAndRun(site.boardUrl(b.id));
    ASSERT_EQ(app->Summary().saved, 45);
    QMap<QString, QByteArray> earlier = checksums(folder());
    earlier.remove(QStringLiteral("pic.kzv"));
    earlier.remove(QStringLiteral("inc.txt"));
    earlier.remove(DownloadArchive::FileName());

    // Five new pins on top of the board.
    const BoardSite::Board fresh = makeBoard(QStringLiteral("82"), 5, 1082);
    QList<BoardSite::Pin> pins = fresh.pins;
    for (int i = 0; i < 5; ++i)
        pins[i].id = b.pins[0].id + 5 - i;
    pins += b.pins;
    const QList<BoardSite::Pin> oldPins = b.pins;
    b.pins = pins;
    b.declaredPinCount = 50;
    site.addBoard(b);
    site.clearRequests();
    retrieveAndRun(site.boardUrl(b.id));

    RunSummary s = app->Summary();
    EXPECT_EQ(s.collected, 5); // up to the mark
    EXPECT_EQ(s.saved, 5);
    EXPECT_EQ(pictureRequests(b), 5);
    const QMap<QString, QByteArray> after = checksums(folder());
    for (auto it = earlier.cbegin(); it != earlier.cend(); ++it)
        EXPECT_EQ(after.value(it.key()), it.value()) << it.key().toStdString() << " was overwritten";
    // The new pictures' numbers were taken by earlier files: the duplicate rule applies.
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(after.value(QStringLiteral("%1(1).jpg").arg(i + 1)), sha256(site.pictureBytes(pins[i].key))) << i;
    EXPECT_EQ(sandbox.read(QStringLiteral("save/u/inc/inc.txt")),
              namesFile(descriptions(pins.mid(0, 5)) + descriptions(oldPins)));
    EXPECT_EQ(mark(), utf16le(address(pins[0])));

    // A run without the skip option fetches all 50 again; still no earlier file changes.
    editSaveSet([](ST_SAVESET &set) { set.wOptions &= uint16_t(~OPT_SKIP_DOWNLOADED); });
    retrieveAndRun(site.boardUrl(b.id));
    EXPECT_EQ(app->Summary().saved, 50);
    const QMap<QString, QByteArray> third = checksums(folder());
    for (auto it = after.cbegin(); it != after.cend(); ++it) {
        if (HasPictureExtension(it.key())) {
            EXPECT_EQ(third.value(it.key()), it.value()) << it.key().toStdString() << " was overwritten";
        }
    }
    // A run that names the whole album writes the whole names file.
    EXPECT_EQ(sandbox.read(QStringLiteral("save/u/inc/inc.txt")), namesFile(descriptions(pins)));
}

// "重新下载" of the failure list: just the failed pictures, each under its name, and the
// album settled as a run settles it.
TEST_F(IncrementalRun, RetryingTheFailuresFetchesJustThoseAndSettlesTheAlbum)
{
    BoardSite::Board b = makeBoard(QStringLiteral("85"), 45, 85);
    b.pins[3].fault = BoardSite::Fault::Status500;
    b.pins[30].fault = BoardSite::Fault::Reset;
    site.addBoard(b);
    retrieveAndRun(site.boardUrl(b.id));
    ASSERT_EQ(app->Summary().failed, 2);
    EXPECT_TRUE(mark().isEmpty());
    QList<BoardSite::Pin> savedPins = b.pins;
    savedPins.removeAt(30);
    savedPins.removeAt(3);
    EXPECT_EQ(sandbox.read(QStringLiteral("save/u/inc/inc.txt")), namesFile(descriptions(savedPins)));

    b.pins[3].fault = BoardSite::Fault::None;
    b.pins[30].fault = BoardSite::Fault::None;
    site.addBoard(b);
    site.clearRequests();
    ASSERT_TRUE(RetryCommand(*app, *w));
    ASSERT_TRUE(waitFor([&] { return app->DownState == 0; }, std::chrono::seconds(30)));
    JoinFinished(*app);

    const RunSummary s = app->Summary();
    EXPECT_EQ(s.saved, 2);
    EXPECT_FALSE(s.hasFailures());
    EXPECT_EQ(site.requests().size(), 2);
    EXPECT_EQ(checksums(folder()).value(QStringLiteral("4.jpg")), sha256(site.pictureBytes(b.pins[3].key)));
    EXPECT_EQ(checksums(folder()).value(QStringLiteral("31.jpg")), sha256(site.pictureBytes(b.pins[30].key)));
    EXPECT_EQ(mark(), utf16le(address(b.pins[0])));
    EXPECT_EQ(sandbox.read(QStringLiteral("save/u/inc/inc.txt")),
              namesFile(QStringList{b.pins[3].description, b.pins[30].description} + descriptions(savedPins)));
    EXPECT_EQ(w->LastPhase(), QStringLiteral("下载完毕"));
    EXPECT_FALSE(RetryCommand(*app, *w)); // nothing left to retry
}

// Every file Corvadin writes in an album folder replaces a link planted at its name
// instead of writing through it.
TEST_F(IncrementalRun, LinksPlantedInTheAlbumFolderAreReplacedNotFollowed)
{
    const BoardSite::Board b = makeBoard(QStringLiteral("83"), 3, 83);
    site.addBoard(b);
    const QStringList names = {QStringLiteral("inc.txt"), QStringLiteral("inc.lst"), QStringLiteral("pic.kzv"),
                               DownloadArchive::FileName()};
    QDir().mkpath(folder());
    for (const QString &name : names) {
        sandbox.write(QStringLiteral("victims/") + name, "not Corvadin's");
        ASSERT_TRUE(QFile::link(sandbox.file(QStringLiteral("victims/") + name), folder() + name));
    }
    editSaveSet([](ST_SAVESET &set) { set.wOptions &= uint16_t(~OPT_SKIP_DOWNLOADED); });
    retrieveAndRun(site.boardUrl(b.id));
    editSaveSet([](ST_SAVESET &set) { set.wOptions |= OPT_LIST_ONLY; });
    retrieveAndRun(site.boardUrl(b.id));

    for (const QString &name : names) {
        EXPECT_EQ(sandbox.read(QStringLiteral("victims/") + name), QByteArray("not Corvadin's")) << name.toStdString();
        EXPECT_FALSE(QFileInfo(folder() + name).isSymLink()) << name.toStdString();
        EXPECT_GT(QFileInfo(folder() + name).size(), 0) << name.toStdString();
    }
    EXPECT_EQ(mark(), utf16le(address(b.pins[0])));
}

// A list or names file that cannot be written whole is a failure of the run.
TEST_F(IncrementalRun, AListOrNamesFileThatCannotBeWrittenIsReported)
{
    const BoardSite::Board b = makeBoard(QStringLiteral("84"), 45, 84);
    site.addBoard(b);
    editSaveSet([](ST_SAVESET &set) { set.wOptions |= OPT_LIST_ONLY; });
    struct Case {
        const char *what;
        std::function<void()> prepare, undo;
        QString reason;
    };
    const QList<Case> cases = {
        {"folders in the way",
         [&] {
             QDir().mkpath(folder() + QStringLiteral("inc.lst"));
             QDir().mkpath(folder() + QStringLiteral("inc.txt"));
         },
         [&] { QDir(folder()).removeRecursively(); }, QString()},
        {"a file-size limit (a full disk)",
         [] {
             std::signal(SIGXFSZ, SIG_IGN);
             rlimit r {};
             getrlimit(RLIMIT_FSIZE, &r);
             r.rlim_cur = 1024;
             setrlimit(RLIMIT_FSIZE, &r);
         },
         [] {
             rlimit r {};
             getrlimit(RLIMIT_FSIZE, &r);
             r.rlim_cur = r.rlim_max;
             setrlimit(RLIMIT_FSIZE, &r);
             std::signal(SIGXFSZ, SIG_DFL);
         },
         QStringLiteral("File too large")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        // An earlier list and names file, which a failed write must leave as they were.
        sandbox.write(QStringLiteral("save/u/inc/inc.lst"), "earlier list");
        sandbox.write(QStringLiteral("save/u/inc/inc.txt"), "earlier names");
        if (c.reason.isEmpty())
            QDir(folder()).removeRecursively();
        c.prepare();
        w->messages.clear();
        retrieveAndRun(site.boardUrl(b.id));
        c.undo();
        const RunSummary s = app->Summary();
        EXPECT_TRUE(s.listFiles.isEmpty());
        ASSERT_EQ(s.writeFailures.size(), 2) << s.writeFailures.join(QLatin1Char('|')).toStdString();
        EXPECT_TRUE(s.writeFailures[0].startsWith(folder() + QStringLiteral("inc.lst: ")));
        EXPECT_TRUE(s.writeFailures[1].startsWith(folder() + QStringLiteral("inc.txt: ")));
        if (!c.reason.isEmpty()) {
            EXPECT_TRUE(s.writeFailures[0].endsWith(c.reason)) << s.writeFailures[0].toStdString();
            EXPECT_EQ(sandbox.read(QStringLiteral("save/u/inc/inc.lst")), QByteArray("earlier list"));
            EXPECT_EQ(sandbox.read(QStringLiteral("save/u/inc/inc.txt")), QByteArray("earlier names"));
        }
        EXPECT_TRUE(s.hasFailures());
        EXPECT_EQ(w->Messages().filter(QStringLiteral("文件写入失败")).size(), 2);
        EXPECT_EQ(w->LastPhase(), QStringLiteral("下载完毕，2个文件写入失败"));
        EXPECT_TRUE(strayFiles(w->savePath).isEmpty()) << strayFiles(w->savePath).join(QLatin1Char(' ')).toStdString();
    }
}

// --- the worker pool -------------------------------------------------------------

TEST_F(DownloadRun, PoolWithMoreWorkersThanPictures)
{
    const BoardSite::Board demo = site.board(QStringLiteral("1001"));
    QStringList addresses, names;
    for (int i = 0; i < 3; ++i) {
        addresses << site.pictureUrl(demo.pins[i].key);
        names << QStringLiteral("%1.jpg").arg(i);
    }
    runBatch(addresses, names, downSet(5));
    EXPECT_EQ(w->Batches(), QList<int>{3});
    EXPECT_EQ(w->Progress().last(), QStringLiteral("已下载3/3......"));
    EXPECT_EQ(app->nDoneCount, 3u);
    EXPECT_EQ(app->bWorkersBusy, 0);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(sandbox.read(QStringLiteral("save/%1.jpg").arg(i)), site.pictureBytes(demo.pins[i].key));
}

TEST_F(DownloadRun, FifteenWorkersTakeFortyPicturesExactlyOnce)
{
    BoardSite::Board b = BoardSite::makeBoard(QStringLiteral("60"), QStringLiteral("forty"), QStringLiteral("u"), 40, 7);
    site.addBoard(b);
    QStringList addresses, names;
    for (int i = 0; i < 40; ++i) {
        addresses << site.pictureUrl(b.pins[i].key);
        names << QStringLiteral("p%1.jpg").arg(i);
    }
    site.clearRequests();
    // The site holds the pictures until one request of each worker waits there.
    site.holdRequests(QStringLiteral("/60_"));
    bool allWorkersAtOnce = false;
    std::thread watcher([&] {
        allWorkersAtOnce = waitFor([&] { return site.heldRequests() == 15; }, std::chrono::seconds(20));
        site.releaseRequests();
    });
    runBatch(addresses, names, downSet(15));
    watcher.join();
    EXPECT_TRUE(allWorkersAtOnce) << site.heldRequests();
    EXPECT_LE(site.maxConcurrentPictures(), 15);
    for (int i = 0; i < 40; ++i)
        EXPECT_EQ(site.requestCount(QLatin1Char('/') + b.pins[i].key), 1) << i;
    EXPECT_EQ(app->Summary().saved, 40);
}

TEST_F(DownloadRun, TheFallbackAddressIsTriedWhenTheFirstGivesNothing)
{
    const QString key = site.board(QStringLiteral("1001")).pins[0].key;
    runBatch({site.baseUrl() + QStringLiteral("/nosuchpicture\r\n") + site.pictureUrl(key)}, {QStringLiteral("a.jpg")},
             downSet(1));
    EXPECT_EQ(sandbox.read(QStringLiteral("save/a.jpg")), site.pictureBytes(key));
}

TEST_F(DownloadRun, FailedPicturesLeaveNoFileAndTheBatchGoesOn)
{
    BoardSite::Board b = BoardSite::makeBoard(QStringLiteral("61"), QStringLiteral("faults"), QStringLiteral("u"), 9, 8,
                                              20 * 1024, 24 * 1024);
    const QList<BoardSite::Fault> faults = {BoardSite::Fault::Status404, BoardSite::Fault::Status429,
                                            BoardSite::Fault::Status500, BoardSite::Fault::Reset,
                                            BoardSite::Fault::Stall,     BoardSite::Fault::Truncate,
                                            BoardSite::Fault::WrongType};
    for (int i = 0; i < faults.size(); ++i)
        b.pins[i].fault = faults[i];
    b.pins[7].size = 2048; // below the minimum
    site.addBoard(b);
    BoardSite::Options o = site.options();
    o.stallMs = 30000;
    site.setOptions(o);
    app->requests.retries = 0; // one try each: the reasons are the faults' own

    QStringList addresses, names;
    for (int i = 0; i < 9; ++i) {
        addresses << site.pictureUrl(b.pins[i].key);
        names << QStringLiteral("f%1.jpg").arg(i);
    }
    // 3 s between body bytes (tests only: short, so the stall ends soon, with room for a
    // loaded machine), at least 10 KB.
    ST_DOWNSET set = downSet(4, 3, 10, 0);
    runBatch(addresses, names, set);

    const RunSummary s = app->Summary();
    EXPECT_EQ(s.saved, 1);
    EXPECT_EQ(s.failed, 8);
    EXPECT_EQ(w->Progress().last(), QStringLiteral("已下载9/9......"));
    for (int i = 0; i < 8; ++i)
        EXPECT_FALSE(QFile::exists(sandbox.file(QStringLiteral("save/f%1.jpg").arg(i)))) << i;
    EXPECT_EQ(sandbox.read(QStringLiteral("save/f8.jpg")), site.pictureBytes(b.pins[8].key));
    EXPECT_TRUE(strayFiles(w->savePath).isEmpty());
    const QStringList reasons = {QStringLiteral("HTTP 404"),         QStringLiteral("HTTP 429"),
                                 QStringLiteral("HTTP 500"),         QStringLiteral("connection reset"),
                                 QStringLiteral("timed out"),        QStringLiteral("truncated"),
                                 QStringLiteral("not a picture (text/html)"), QStringLiteral("too small")};
    QMap<QString, QString> failed;
    for (const PictureOutcome &f : s.failures)
        failed.insert(f.address, f.reason);
    EXPECT_EQ(failed.size(), 8);
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(failed.value(addresses[i]), reasons[i]) << i;
    // The window shows each in its own words (Chinese here); only a bare status reads the same.
    static const QRegularExpression bareStatus(QStringLiteral("^HTTP \\d+$"));
    for (const QString &reason : reasons) {
        if (!bareStatus.match(reason).hasMatch()) {
            EXPECT_NE(ReasonText(reason), reason) << reason.toStdString() << " has no row in ReasonText";
        }
    }
}

TEST_F(DownloadRun, AStopAbortsTransfersInFlightAndLeavesNoPartialFile)
{
    BoardSite::Options o = site.options();
    o.bandwidthBytesPerSec = 32 * 1024;
    site.setOptions(o);
    BoardSite::Board b = BoardSite::makeBoard(QStringLiteral("62"), QStringLiteral("slow"), QStringLiteral("u"), 8, 11,
                                              200 * 1024, 256 * 1024);
    site.addBoard(b);
    QStringList addresses, names;
    for (int i = 0; i < 8; ++i) {
        addresses << site.pictureUrl(b.pins[i].key);
        names << QStringLiteral("s%1.jpg").arg(i);
    }
    std::thread stopper([&] {
        waitFor([&] { return site.requestCount(QStringLiteral("/") + b.pins[1].key) > 0; });
        app->bStopWorkers = 1;
    });
    runBatch(addresses, names, downSet(2));
    stopper.join();
    // Each picture takes about 7 s at this rate: the two in flight were cut off, not finished.
    EXPECT_EQ(w->Batches(), QList<int>{8}); // the end report still comes
    EXPECT_EQ(app->bWorkersBusy, 0);
    EXPECT_TRUE(filesIn(w->savePath).isEmpty()) << filesIn(w->savePath).join(QLatin1Char(' ')).toStdString();
}

// --- what the settings and a stop do to a run ---------------------------------------

TEST_F(DownloadRun, TheLargestPictureSizeOfTheSettingsReachesEveryDownload)
{
    // Pictures of 4 to 40 KB against a maximum of 16 KB: the larger ones fail as too
    // large and leave no file, the others are saved.
    const BoardSite::Board b = BoardSite::makeBoard(QStringLiteral("63"), QStringLiteral("sizes"), QStringLiteral("u"), 12,
                                                    13, 4 * 1024, 40 * 1024);
    site.addBoard(b);
    editDownSet([](ST_DOWNSET &d) { d.wMaxKB = 16; });
    editSaveSet([](ST_SAVESET &s) { s.byNameBase = 1; }); // numbers: 1.jpg, 2.jpg ...
    retrieveAndRun(site.boardUrl(b.id));

    const RunSummary s = app->Summary();
    QMap<QString, QString> failed;
    for (const PictureOutcome &f : s.failures)
        failed.insert(f.address, f.reason);
    const QString folder = albumFolder(QStringLiteral("u"), QStringLiteral("sizes"));
    int small = 0;
    for (int i = 0; i < b.pins.size(); ++i) {
        SCOPED_TRACE(i);
        const QByteArray bytes = site.pictureBytes(b.pins[i].key);
        const QString file = folder + QStringLiteral("%1.jpg").arg(i + 1);
        if (bytes.size() <= 16 * 1024) {
            ++small;
            EXPECT_EQ(sandbox.read(file.mid(sandbox.path().size())), bytes);
            EXPECT_FALSE(failed.contains(site.pictureUrl(b.pins[i].key)));
        } else {
            EXPECT_FALSE(QFileInfo::exists(file));
            EXPECT_EQ(failed.value(site.pictureUrl(b.pins[i].key)), QStringLiteral("too large"));
        }
    }
    ASSERT_GT(small, 0);
    ASSERT_LT(small, b.pins.size());
    EXPECT_EQ(s.saved, small);
    EXPECT_EQ(s.failed, int(b.pins.size()) - small);
    EXPECT_TRUE(strayFiles(w->savePath).isEmpty()) << strayFiles(w->savePath).join(QLatin1Char(' ')).toStdString();
}

namespace {

// Stops the run ("终止下载") as soon as `after` pictures have finished, on the worker
// that finished the last of them: a stop that falls between two pictures.
class StopAfterPictures : public RecordingServices {
public:
    StopAfterPictures(AppState *app, int after) : RecordingServices(app), m_app(app), m_after(after) {}
    void PictureFinished(const PictureOutcome &) override
    {
        if (++m_finished == m_after)
            DownloadCommand(*m_app, *this);
    }

private:
    AppState *m_app;
    int m_after;
    std::atomic<int> m_finished {0};
};

} // namespace

TEST_F(DownloadRun, AStopBetweenPicturesReportsOnlyThePicturesStarted)
{
    const BoardSite::Board b = BoardSite::makeBoard(QStringLiteral("64"), QStringLiteral("ten"), QStringLiteral("u"), 10, 14);
    site.addBoard(b);
    editDownSet([](ST_DOWNSET &d) { d.wThreads = 1; });
    StopAfterPictures services(app.get(), 3);
    services.savePath = w->savePath;
    services.chosen = QList<int>{addAlbum(b)};
    app->DownState = 1;
    RunDownload(*app, services);

    // Three pictures were taken and saved; the seven never started are in no count.
    const RunSummary s = app->Summary();
    EXPECT_TRUE(s.stopped);
    EXPECT_EQ(s.saved, 3);
    EXPECT_EQ(s.failed, 0);
    EXPECT_TRUE(s.failures.isEmpty()) << s.failures.value(0).address.toStdString() << " "
                                      << s.failures.value(0).reason.toStdString();
    for (int i = 0; i < b.pins.size(); ++i)
        EXPECT_EQ(site.requestCount(QLatin1Char('/') + b.pins[i].key), i < 3 ? 1 : 0) << i;
    EXPECT_EQ(services.LastPhase(), QStringLiteral("已终止下载"));
    EXPECT_FALSE(QFile::exists(albumFolder(QStringLiteral("u"), QStringLiteral("ten")) + QStringLiteral("pic.kzv")));
}

namespace {

// Stops the run ("终止下载") the moment an album's pictures are handed to the pool:
// collecting is over, the pool has not started.
class StopWhenTheDownloadStarts : public RecordingServices {
public:
    explicit StopWhenTheDownloadStarts(AppState *app) : RecordingServices(app), m_app(app) {}
    void SetProgressText(const QString &text, ReportKind kind) override
    {
        RecordingServices::SetProgressText(text, kind);
        if (kind == ReportKind::DownloadStarted)
            DownloadCommand(*m_app, *this);
    }

private:
    AppState *m_app;
};

} // namespace

TEST_F(DownloadRun, AStopBetweenCollectingAndThePoolsStartDownloadsNothing)
{
    const BoardSite::Board b = BoardSite::makeBoard(QStringLiteral("70"), QStringLiteral("gap"), QStringLiteral("u"), 8, 18);
    const BoardSite::Board next = BoardSite::makeBoard(QStringLiteral("71"), QStringLiteral("after"), QStringLiteral("u"), 3, 19);
    site.addBoard(b);
    site.addBoard(next);
    StopWhenTheDownloadStarts services(app.get());
    services.savePath = w->savePath;
    services.chosen = QList<int>{addAlbum(b), addAlbum(next)};
    app->DownState = 1;
    RunDownload(*app, services);

    for (const BoardSite::Pin &pin : b.pins)
        EXPECT_EQ(site.requestCount(QLatin1Char('/') + pin.key), 0) << "a picture was fetched after the stop";
    EXPECT_EQ(site.requestCount(QStringLiteral("/boards/71/")), 0) << "the next album was read";
    const RunSummary s = app->Summary();
    EXPECT_TRUE(s.stopped);
    EXPECT_EQ(s.saved + s.failed, 0);
    EXPECT_EQ(services.LastPhase(), QStringLiteral("已终止下载"));
    EXPECT_EQ(app->DownState, 0);
    const QString folder = w->savePath + QDir::separator() + QStringLiteral("gap") + QDir::separator();
    ASSERT_TRUE(QFileInfo(folder).isDir()); // collected there
    EXPECT_FALSE(QFile::exists(folder + QStringLiteral("pic.kzv")));
}

TEST_F(DownloadRun, APinListingWhoseLastPieceHasNoIdPagesOnWithAnEmptyCursor)
{
    // The first pin page (pins 20 to 39) ends with a piece without an id.
    BoardSite::Board b = BoardSite::makeBoard(QStringLiteral("65"), QStringLiteral("noid"), QStringLiteral("u"), 45, 15);
    b.pins[39].withoutId = true;
    site.addBoard(b);
    editSaveSet([](ST_SAVESET &s) { s.wOptions |= OPT_LIST_ONLY; });
    retrieveAndRun(site.boardUrl(b.id));

    // The next request carries the empty cursor, and the site answers it with its newest
    // pins, which were read already: the album ends, nothing is collected twice.
    QStringList pages;
    for (const BoardSite::RequestRecord &r : site.requests())
        if (r.target.startsWith(QStringLiteral("/boards/65/?")))
            pages << r.target;
    EXPECT_EQ(pages, (QStringList{QStringLiteral("/boards/65/?hxzmqq2s&max=%1&limit=20&wfl=1").arg(b.pins[19].id),
                                  QStringLiteral("/boards/65/?hxzmqq2s&max=&limit=20&wfl=1")}));
    QStringList expected;
    for (int i = 0; i < 39; ++i)
        expected << site.pictureUrl(b.pins[i].key);
    EXPECT_EQ(app->downloads.addresses, expected);
}

TEST_F(DownloadRun, AStopDuringPagingEndsTheAlbumAndTheRunAtOnce)
{
    for (const bool listOnly : {false, true}) {
        SCOPED_TRACE(listOnly ? "list only" : "download");
        const QString first = QString::number(listOnly ? 68 : 66), next = QString::number(listOnly ? 69 : 67);
        w->savePath = sandbox.path() + QStringLiteral("save") + first;
        const BoardSite::Board b = BoardSite::makeBoard(first, QStringLiteral("paged") + first, QStringLiteral("u"), 45, 16);
        const BoardSite::Board other = BoardSite::makeBoard(next, QStringLiteral("paged") + next, QStringLiteral("u"), 5, 17);
        site.addBoard(b);
        site.addBoard(other);
        editSaveSet([&](ST_SAVESET &s) {
            s.wOptions = listOnly ? (s.wOptions | OPT_LIST_ONLY) : (s.wOptions & uint16_t(~OPT_LIST_ONLY));
        });
        app->timings.pageTimeoutMs = 60000; // only the stop can end the held request soon
        // The second pin page is held at the site; the stop comes while the reader waits
        // for it. The run must end before the site lets the page go.
        site.holdRequests(QStringLiteral("/boards/%1/?hxzmqq2s&max=%2&").arg(first).arg(b.pins[19].id));
        bool endedWhileHeld = false;
        std::thread stopper([&] {
            if (!waitFor([&] { return site.heldRequests() == 1; }, std::chrono::seconds(20)))
                return;
            StopDownload(*app); // "终止下载": a stop, which never starts a run of its own
            endedWhileHeld = waitFor([&] { return app->DownState == 0; }, std::chrono::seconds(20));
            site.releaseRequests();
        });
        runChosen({addAlbum(b), addAlbum(other)});
        stopper.join();
        site.releaseRequests();

        EXPECT_TRUE(endedWhileHeld) << "the stop did not abort the page request";
        const RunSummary s = app->Summary();
        EXPECT_TRUE(s.stopped);
        EXPECT_TRUE(s.listFiles.isEmpty());
        // A download had started on the first page's pictures meanwhile: what it saved is
        // whole and in the archive, nothing of the later pages was asked for.
        for (int i = 0; i < b.pins.size(); ++i)
            EXPECT_LE(site.requestCount(QLatin1Char('/') + b.pins[i].key), listOnly || i >= 20 ? 0 : 1) << i;
        EXPECT_EQ(site.requestCount(QStringLiteral("/boards/%1/").arg(next)), 0) << "the next album was read";
        const QString folder = w->savePath + QDir::separator() + b.title + QDir::separator();
        QStringList expected;
        if (s.saved > 0)
            expected << b.title + QLatin1Char('/') + DownloadArchive::FileName();
        for (int i = 0; i < app->downloads.fileNames.size(); ++i) {
            const QString name = app->downloads.fileNames[i];
            if (!QFile::exists(folder + name))
                continue;
            expected << b.title + QLatin1Char('/') + name;
            QFile f(folder + name);
            ASSERT_TRUE(f.open(QIODevice::ReadOnly));
            EXPECT_EQ(f.readAll(), site.pictureBytes(b.pins[i].key));
        }
        expected.sort();
        EXPECT_EQ(filesBelow(w->savePath + QDir::separator()), expected) << filesBelow(w->savePath).join(u' ').toStdString();
        EXPECT_EQ(expected.size(), s.saved + (s.saved > 0 ? 1 : 0)) << "no mark, no names file, no list";
        EXPECT_EQ(w->LastPhase(), QStringLiteral("已终止下载"));
    }
}

namespace {

TEST_F(DownloadRun, BoardsSavedIntoTheWorkingFolderLeaveTheProgramsFilesAlone)
{
    // The classic way: the save folder is the working folder. A board owner named like
    // the thumbnail folder, and an album named like the cookie file's names file.
    const QString work = app->profile.configFolder();
    w->savePath = work;
    QDir().mkpath(app->profile.thumbnailFolder());
    QFile thumb(app->profile.thumbnailFolder() + QStringLiteral("0.jpg"));
    ASSERT_TRUE(thumb.open(QIODevice::WriteOnly));
    thumb.write("cover");
    thumb.close();
    QFile cookies(app->profile.cookieFile());
    ASSERT_TRUE(cookies.open(QIODevice::WriteOnly));
    cookies.write("# Netscape HTTP Cookie File\n");
    cookies.close();

    site.addBoard(BoardSite::makeBoard(QStringLiteral("61"), QStringLiteral("Holiday"), QStringLiteral("tmp"), 3, 5));
    retrieveAndRun(site.boardUrl(QStringLiteral("61")));
    EXPECT_EQ(app->Summary().saved, 3);
    EXPECT_TRUE(filesIn(work + QStringLiteral("_tmp") + QDir::separator() + QStringLiteral("Holiday")).contains(QStringLiteral("pic.kzv")));
    EXPECT_EQ(entriesIn(app->profile.thumbnailFolder()), QStringList{QStringLiteral("0.jpg")});

    // A save folder one level up, whose owner folder is the working folder: without
    // album folders, the names file would be cookies.txt, and an album folder "browser".
    w->savePath = sandbox.path();
    editSaveSet([](ST_SAVESET &s) {
        s.wOptions |= OPT_NAMES_FILE;
        s.byFolderName = 1;
    });
    site.addBoard(BoardSite::makeBoard(QStringLiteral("62"), QStringLiteral("cookies"), QStringLiteral("work"), 2, 6));
    retrieveAndRun(site.boardUrl(QStringLiteral("62")));
    EXPECT_EQ(app->Summary().saved, 2);
    EXPECT_TRUE(QFileInfo::exists(work + QStringLiteral("_cookies.txt"))) << entriesIn(work).join(QLatin1Char(' ')).toStdString();
    QFile kept(app->profile.cookieFile());
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), QByteArray("# Netscape HTTP Cookie File\n"));

    editSaveSet([](ST_SAVESET &s) { s.byFolderName = 0; });
    site.addBoard(BoardSite::makeBoard(QStringLiteral("63"), QStringLiteral("browser"), QStringLiteral("work"), 2, 7));
    retrieveAndRun(site.boardUrl(QStringLiteral("63")));
    EXPECT_EQ(app->Summary().saved, 2);
    EXPECT_TRUE(QFileInfo(work + QStringLiteral("_browser")).isDir());
    EXPECT_FALSE(QFileInfo::exists(app->profile.browserFolder()));
}

} // namespace
