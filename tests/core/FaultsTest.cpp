// The core at scale against a faulty and a hostile board site on loopback: thousands of
// pictures with one in ten failing, writes that fail, pages without end, endless pins,
// redirect loops and names built to leave the save folder.
#include "CoreFixture.h"

#include "download/DownProc.h"
#include "download/FileNaming.h"
#include "net/URLSource2.h"
#include "platform/SaveFile.h"
#include "source/ChangeSource.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QFile>
#include <QSet>

#include <csignal>
#include <sys/resource.h>

namespace {

using Fault = BoardSite::Fault;

QByteArray sha256(const QByteArray &bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

QByteArray fileSha256(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? sha256(f.readAll()) : QByteArray();
}

// Asserts that this process's peak memory grew by less than `limitKb` since `peak` was made.
void expectGrowthBelow(const PeakMemory &peak, qint64 limitKb)
{
    const qint64 grown = peak.growthKb();
    ASSERT_GE(grown, 0) << "the peak memory cannot be read here";
    EXPECT_LT(grown, limitKb) << "KB";
}

class Faults : public CoreFixture {
protected:
    QString albumFolder(const QString &owner, const QString &album) const
    {
        const QString sep = QDir::separator();
        return w->savePath + sep + owner + sep + album + sep;
    }
};

} // namespace

TEST_F(Faults, TwoThousandPicturesWithOneInTenFailing)
{
    // Every tenth picture fails, the eight ways in turn: 25 of each. Transient faults are
    // tried three times, final ones once; a declared length that lies (half declared,
    // all sent) gives the same half twice, which is then kept as the site has it.
    const QList<Fault> kinds = {Fault::Reset,    Fault::Stall,      Fault::Status500, Fault::Status429,
                                Fault::Truncate, Fault::LieLength,  Fault::WrongType, Fault::RedirectLoop};
    struct Expected {
        QString reason; // empty: saved with a warning
        int requests;   // at the site, redirects included
        int extra = 0;  // libcurl tries a kept-alive connection that died once more itself
    };
    const QMap<Fault, Expected> expected = {
        {Fault::Reset, {QStringLiteral("connection reset"), 3, 3}},
        {Fault::Stall, {QStringLiteral("timed out"), 3}},
        {Fault::Status500, {QStringLiteral("HTTP 500"), 3}},
        {Fault::Status429, {QStringLiteral("HTTP 429"), 3}},
        {Fault::Truncate, {QStringLiteral("truncated"), 3}},
        {Fault::LieLength, {QString(), 2}},
        {Fault::WrongType, {QStringLiteral("not a picture (text/html)"), 1}},
        {Fault::RedirectLoop, {QStringLiteral("too many redirects"), 11}},
    };
    BoardSite::Options o = site.options();
    o.faultEvery = 10;
    o.faultKinds = kinds;
    o.stallMs = 10000; // well past the read time-out below
    o.retryAfterSeconds = -1; // each 429 holds the pool for the back-off only
    site.setOptions(o);

    const int pins = 2000;
    BoardSite::Board b = BoardSite::makeBoard(QStringLiteral("900"), QStringLiteral("scale"), QStringLiteral("u"), pins,
                                              90, 2048, 4096);
    // Most pins share a few descriptions, as real boards do: the names of one album are
    // made unique at scale too.
    for (int i = 0; i < pins; ++i)
        b.pins[i].description = i % 3 == 0 ? QString() : QStringLiteral("同一个描述 %1").arg(i % 7);
    site.addBoard(b);
    editDownSet([](ST_DOWNSET &d) {
        d.wThreads = 15;
        // Seconds between body pieces (the dialog's minimum is 10): short, so the stalls
        // end soon, yet with room for a loaded machine, where a good picture must never
        // time out.
        d.wTimeout = 3;
    });

    retrieveAndRun(site.boardUrl(b.id));

    const int perKind = pins / 10 / int(kinds.size());
    const RunSummary s = app->Summary();
    EXPECT_EQ(s.collected, pins);
    EXPECT_EQ(s.saved, pins * 9 / 10 + perKind);
    EXPECT_EQ(s.failed, pins / 10 - perKind);
    EXPECT_EQ(s.warnings.size(), perKind);
    EXPECT_FALSE(s.stopped);

    // Every failure and warning is reported once, with the reason of its fault, after
    // as many requests as its kind deserves.
    QMap<QString, QString> failed;
    for (const PictureOutcome &f : s.failures)
        failed.insert(f.address, f.reason);
    EXPECT_EQ(failed.size(), s.failures.size());
    QSet<QString> warned;
    for (const PictureOutcome &f : s.warnings)
        warned.insert(f.address);
    QMap<QString, int> requests;
    for (const BoardSite::RequestRecord &r : site.requests())
        ++requests[r.path];
    QMap<Fault, int> seen;
    for (const BoardSite::Pin &pin : b.pins) {
        const Fault fault = site.effectiveFault(pin.key);
        const QString address = site.pictureUrl(pin.key);
        if (fault == Fault::None) {
            EXPECT_FALSE(failed.contains(address)) << failed.value(address).toStdString();
            EXPECT_EQ(requests.value(QLatin1Char('/') + pin.key), 1);
            continue;
        }
        ++seen[fault];
        const Expected e = expected.value(fault);
        EXPECT_EQ(failed.value(address), e.reason) << address.toStdString();
        EXPECT_EQ(warned.contains(address), e.reason.isEmpty()) << address.toStdString();
        EXPECT_GE(requests.value(QLatin1Char('/') + pin.key), e.requests) << address.toStdString();
        EXPECT_LE(requests.value(QLatin1Char('/') + pin.key), e.requests + e.extra) << address.toStdString();
    }
    for (Fault k : kinds)
        EXPECT_EQ(seen.value(k), perKind);

    // On disk: exactly the good pictures, byte for byte, the half of each lying one, and
    // the download archive; no partial or temporary file, and no mark (pictures failed).
    const QString folder = albumFolder(QStringLiteral("u"), QStringLiteral("scale"));
    ASSERT_EQ(app->downloads.fileNames.size(), pins);
    QStringList onDiskExpected{DownloadArchive::FileName()};
    for (int i = 0; i < pins; ++i) {
        const Fault fault = site.effectiveFault(b.pins[i].key);
        if (fault != Fault::None && fault != Fault::LieLength)
            continue;
        const QByteArray bytes = site.pictureBytes(b.pins[i].key);
        const QString name = app->downloads.fileNames[i];
        onDiskExpected << name;
        EXPECT_EQ(fileSha256(folder + name), sha256(fault == Fault::None ? bytes : bytes.left(bytes.size() / 2)))
            << name.toStdString();
    }
    onDiskExpected.sort();
    const QStringList onDisk = filesBelow(folder);
    EXPECT_EQ(onDisk.size(), onDiskExpected.size());
    EXPECT_TRUE(onDisk == onDiskExpected)
        << "unexpected: "
        << QStringList(QSet<QString>(onDisk.begin(), onDisk.end())
                           .subtract(QSet<QString>(onDiskExpected.begin(), onDiskExpected.end()))
                           .values())
               .join(QLatin1Char(' '))
               .toStdString();
    // 667 pins had no description and took the album's name.
    EXPECT_TRUE(app->downloads.fileNames.contains(QStringLiteral("scale(666).jpg")));
}

// --- writes that fail ------------------------------------------------------------

TEST_F(Faults, WritesThatFailFailThatPictureOnly)
{
    // Pictures of 3 to 12 KB under a file-size limit of 8 KB (RLIMIT_FSIZE, as "ulimit -f"
    // or a full disk gives), one picture whose name is taken by a folder, and a second
    // album whose folder cannot be made because a file stands in its place.
    BoardSite::Board big = BoardSite::makeBoard(QStringLiteral("910"), QStringLiteral("limited"), QStringLiteral("u"), 30,
                                                91, 3 * 1024, 12 * 1024);
    BoardSite::Board blocked = BoardSite::makeBoard(QStringLiteral("911"), QStringLiteral("blocked"), QStringLiteral("u"),
                                                    5, 92, 2048, 4096);
    site.addBoard(big);
    site.addBoard(blocked);
    editSaveSet([](ST_SAVESET &s) { s.byNameBase = 1; }); // numbers: 1.jpg, 2.jpg ...
    editDownSet([](ST_DOWNSET &d) { d.wThreads = 4; });
    QList<int> albums;
    for (const BoardSite::Board &b : {big, blocked}) {
        ST_PERLISTRECORD r;
        r.strName = b.title;
        r.strUrl = site.boardUrl(b.id);
        r.nPicCount = uint32_t(b.declaredPinCount);
        albums << int(AddAlbumRecord(app->albums, r)) - 1;
    }
    const QString sep = QDir::separator();
    const QString limited = w->savePath + sep + QStringLiteral("limited") + sep;
    ASSERT_TRUE(QDir().mkpath(limited + QStringLiteral("7.jpg")));
    sandbox.write(QStringLiteral("save/blocked"), "a file where the album folder should be");

    const qint64 limit = 8 * 1024;
    rlimit before {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit lowered = before;
    lowered.rlim_cur = rlim_t(limit);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &lowered), 0);
    w->chosen = albums;
    app->DownState = 1;
    RunDownload(*app, *w);
    setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, oldHandler);

    const RunSummary s = app->Summary();
    EXPECT_FALSE(s.stopped);
    EXPECT_EQ(s.collected, 35);
    QMap<QString, QString> failed;
    for (const PictureOutcome &f : s.failures)
        failed.insert(f.address, f.reason);
    int expectSaved = 0;
    for (int i = 0; i < big.pins.size(); ++i) {
        const QString file = limited + QStringLiteral("%1.jpg").arg(i + 1);
        const QByteArray bytes = site.pictureBytes(big.pins[i].key);
        const QString why = failed.value(site.pictureUrl(big.pins[i].key));
        if (i == 6) {
            EXPECT_TRUE(why.startsWith(QStringLiteral("file not written"))) << why.toStdString();
            EXPECT_TRUE(QFileInfo(file).isDir());
            EXPECT_TRUE(QDir(file).isEmpty());
        } else if (bytes.size() > limit) {
            EXPECT_TRUE(why.startsWith(QStringLiteral("file not written"))) << i << " " << why.toStdString();
            EXPECT_FALSE(QFileInfo::exists(file)) << i;
        } else {
            ++expectSaved;
            EXPECT_TRUE(why.isEmpty()) << i << " " << why.toStdString();
            EXPECT_EQ(fileSha256(file), sha256(bytes)) << i;
        }
    }
    EXPECT_GT(expectSaved, 5);
    EXPECT_LT(expectSaved, 25);
    EXPECT_EQ(s.saved, expectSaved);
    // The blocked album's pictures all failed; the run went through to its end.
    for (const BoardSite::Pin &pin : blocked.pins)
        EXPECT_TRUE(failed.value(site.pictureUrl(pin.key)).startsWith(QStringLiteral("file not written")));
    EXPECT_EQ(s.failed, 35 - expectSaved);
    EXPECT_EQ(w->LastPhase(), QStringLiteral("下载完毕，%1张失败").arg(35 - expectSaved));
    for (const QString &name : filesBelow(w->savePath))
        EXPECT_FALSE(IsTempFileName(QFileInfo(name).fileName())) << name.toStdString();
}

TEST_F(Faults, StaleTemporaryFilesGoWhenTheAlbumIsNamedAgain)
{
    const QString folder = albumFolder(QStringLiteral("demo"), QStringLiteral("演示相册"));
    const QStringList stale = {QStringLiteral(".corvadin-AbC123.part"), QStringLiteral(".corvadin-zzzzzz.part")};
    const QStringList kept = {QStringLiteral(".corvadin-short.part"), QStringLiteral("corvadin-AbC123.part"),
                              QStringLiteral(".corvadin-AbC123.part.jpg"), QStringLiteral("notes.txt")};
    for (const QString &name : stale + kept)
        sandbox.write(QStringLiteral("save/demo/演示相册/") + name, "left by a killed run");
    ASSERT_TRUE(QDir().mkpath(folder + QStringLiteral("sub")));
    sandbox.write(QStringLiteral("save/demo/演示相册/sub/.corvadin-AbC123.part"), "below: not ours to judge");

    retrieveAndRun(site.boardUrl(QStringLiteral("1001")));
    EXPECT_EQ(app->Summary().saved, 45);
    for (const QString &name : stale)
        EXPECT_FALSE(QFile::exists(folder + name)) << name.toStdString();
    for (const QString &name : kept)
        EXPECT_TRUE(QFile::exists(folder + name)) << name.toStdString();
    EXPECT_TRUE(QFile::exists(folder + QStringLiteral("sub/.corvadin-AbC123.part")));
}

// --- a hostile site ---------------------------------------------------------------

TEST_F(Faults, PagesWithoutEndAndRedirectLoopsFailTheRetrieval)
{
    struct Case {
        const char *what;
        bool gzip;
        std::function<void(BoardSite::Board &)> make;
        int maxBoardRequests;
    };
    const QList<Case> cases = {
        // 64 MiB of page and then no more; a second try would only read as much again.
        {"endless board page", false, [](BoardSite::Board &b) { b.endlessBoardPage = true; }, 1},
        // Compressed, 64 MiB of text come in a few dozen KB: the cap counts the text.
        {"endless compressed board page", true, [](BoardSite::Board &b) { b.endlessBoardPage = true; }, 1},
        // The first request and ten redirects; again no second try.
        {"redirect loop", false, [](BoardSite::Board &b) { b.redirectLoop = true; }, 11},
    };
    app->timings.boardAttempts = 4;
    app->timings.boardRetryDelaySeconds = 4;
    const PeakMemory peak;
    int n = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        BoardSite::Options o = site.options();
        o.gzipPages = c.gzip;
        site.setOptions(o);
        BoardSite::Board b = BoardSite::makeBoard(QString::number(920 + n++), QStringLiteral("hostile"),
                                                  QStringLiteral("u"), 30, 93);
        c.make(b);
        site.addBoard(b);
        site.clearRequests();
        retrieveAndRun(site.boardUrl(b.id));
        EXPECT_EQ(app->albums.count(), 0);
        EXPECT_LE(site.requestCount(QStringLiteral("/boards/") + b.id), c.maxBoardRequests);
        EXPECT_EQ(app->ListState, 0);
        EXPECT_EQ(app->DownState, 0);
    }
    EXPECT_FALSE(QDir(w->savePath).exists());
    // Each page was dropped at its cap: the process never held much more than that.
    expectGrowthBelow(peak, 512 * 1024);
}

TEST_F(Faults, CompressedPagesAndTricklingPagesAreBounded)
{
    const PeakMemory peak;
    // 72 MiB of text in less than 100 KB of gzip: refused as it arrives, once the decoded
    // text passes the cap.
    CUrlSession s;
    ST_URLREQUEST r(site.baseUrl() + QStringLiteral("/t/bytes?n=75497472&gzip=1&chunked=1"), QString(), 10000);
    r.attempts = 3;
    r.retryDelaySeconds = 0;
    EXPECT_FALSE(s.Fetch(r));
    EXPECT_EQ(s.errorText, QStringLiteral("too large"));
    EXPECT_LE(s.body.size(), PAGE_BODY_CAP);
    EXPECT_EQ(site.requestCount(QStringLiteral("/t/bytes")), 1);
    s.body.clear();
    s.body.squeeze();

    // A page that trickles, each piece well within the read time-out, ends at the
    // request's whole-time bound (pages get one by default, pictures none).
    EXPECT_EQ(ST_URLREQUEST(QStringLiteral("http://x/"), QString(), 20000).totalTimeoutMs, PAGE_TIME_CAP_MS);
    EXPECT_EQ(ST_URLREQUEST(QStringLiteral("http://x/"), QStringLiteral("f.jpg"), 20000).totalTimeoutMs, 0u);
    ST_URLREQUEST slow(site.baseUrl() + QStringLiteral("/t/bytes?n=100000&rate=2000"), QString(), 10000);
    slow.totalTimeoutMs = 800;
    EXPECT_FALSE(s.Fetch(slow));
    EXPECT_EQ(s.errorText, QStringLiteral("timed out"));
    EXPECT_GT(s.body.size(), 0);
    EXPECT_LT(s.body.size(), 100000);
    expectGrowthBelow(peak, 768 * 1024);
}

TEST_F(Faults, APinPageWithoutEndEndsTheAlbumWithWhatWasCollected)
{
    BoardSite::Board b = BoardSite::makeBoard(QStringLiteral("930"), QStringLiteral("endless pins"), QStringLiteral("u"),
                                              60, 94, 2048, 3072);
    b.endlessPinPages = true;
    site.addBoard(b);
    const PeakMemory peak;
    retrieveAndRun(site.boardUrl(b.id));
    const RunSummary s = app->Summary();
    EXPECT_EQ(s.collected, 20); // the board page's pins
    EXPECT_EQ(s.saved, 20);
    EXPECT_EQ(site.requestCount(QStringLiteral("/boards/930/?")), 1);
    expectGrowthBelow(peak, 512 * 1024);
}

TEST_F(Faults, AGiganticPinCountStopsAtTheAlbumCap)
{
    struct Case {
        const char *what;
        qint64 declared;
    };
    const QList<Case> cases = {
        {"four billion pins", 4000000000ll},
        {"more than 32 bits can count", 99999999999ll},
    };
    app->maxPicturesPerAlbum = 300;
    int n = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        BoardSite::Board b;
        b.id = QString::number(940 + n);
        b.title = QStringLiteral("gigantic%1").arg(n++);
        b.username = QStringLiteral("u");
        b.declaredPinCount = c.declared;
        b.inventPins = true; // every pin page brings 20 new pins, forever
        site.addBoard(b);
        w->messages.clear();
        retrieveAndRun(site.boardUrl(b.id));
        const RunSummary s = app->Summary();
        EXPECT_EQ(s.collected, 300);
        EXPECT_EQ(s.saved, 300);
        EXPECT_TRUE(w->Messages().contains(QStringLiteral("相册“%1”的图片超过300张，其余的图片不再获取").arg(b.title)))
            << w->Messages().join(QLatin1Char('|')).toStdString();
        EXPECT_LE(site.requestCount(QStringLiteral("/boards/") + b.id + QStringLiteral("/?")), 15);
        const QString last = app->downloads.addresses.last();
        EXPECT_EQ(fileSha256(albumFolder(QStringLiteral("u"), b.title) + app->downloads.fileNames.last()),
                  sha256(site.pictureBytes(last.mid(last.lastIndexOf(QLatin1Char('/')) + 1))));
    }
}

TEST_F(Faults, NamesBuiltToEscapeStayInTheAlbumFolder)
{
    struct Case {
        QString description;
        QString name; // expected file name; empty: only checked to lie in the album folder
    };
    const QList<Case> cases = {
        {QStringLiteral("../../etc/passwd"), QStringLiteral("etcpasswd.jpg")},
        {QStringLiteral("/etc/x"), QStringLiteral("etcx.jpg")},
        {QStringLiteral("C:\\Windows\\x"), QStringLiteral("CWindowsx.jpg")},
        {QStringLiteral("\\\\server\\share\\y"), QStringLiteral("serversharey.jpg")},
        {QStringLiteral(".."), QStringLiteral("。。.jpg")},
        {QStringLiteral("."), QStringLiteral("。.jpg")},
        {QStringLiteral("CON"), QStringLiteral("_CON.jpg")},
        {QStringLiteral("nul.txt"), QStringLiteral("_nul.txt.jpg")},
        {QStringLiteral("a/../../b"), QStringLiteral("a....b.jpg")},
        {QStringLiteral("//////"), QStringLiteral("outside.jpg")}, // nothing left: the album's name
        {QStringLiteral("/\\/\\/\\/\\"), QStringLiteral("outside(1).jpg")},
        {QString(300, QChar(0x957F)), QString()},       // 900 bytes of UTF-8
        {QStringLiteral("x").repeated(999), QString()},
        {QStringLiteral("..\\..\\..\\z.png"), QStringLiteral("z.png")},
    };
    BoardSite::Board b = BoardSite::makeBoard(QStringLiteral("950"), QStringLiteral("../../../outside"),
                                              QStringLiteral("../../etc"), int(cases.size()), 95, 2048, 3072);
    for (int i = 0; i < cases.size(); ++i)
        b.pins[i].description = cases[i].description;
    site.addBoard(b);
    // The save folder lies deep in the sandbox, so a name climbing out of it would land
    // in a folder of the sandbox.
    w->savePath = sandbox.path() + QStringLiteral("deep/er/save");

    retrieveAndRun(site.boardUrl(b.id));

    EXPECT_EQ(app->Summary().saved, int(cases.size()));
    const QString folder = w->savePath + QStringLiteral("/etc/outside/");
    for (int i = 0; i < cases.size(); ++i) {
        const QString name = app->downloads.fileNames.value(i);
        SCOPED_TRACE(cases[i].description.left(40).toStdString());
        EXPECT_FALSE(name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\'))) << name.toStdString();
        EXPECT_LE(name.toUtf8().size(), 255);
        if (!cases[i].name.isEmpty()) {
            EXPECT_EQ(name, cases[i].name);
        }
        EXPECT_EQ(fileSha256(folder + name), sha256(site.pictureBytes(b.pins[i].key))) << name.toStdString();
    }
    // Nothing anywhere else in the sandbox but the working folder's files.
    for (const QString &path : filesBelow(sandbox.path()))
        EXPECT_TRUE(path.startsWith(QStringLiteral("work/")) || path.startsWith(QStringLiteral("deep/er/save/etc/outside/")))
            << path.toStdString();
}

// --- the picture check against a declared length that lies ------------------------

TEST(PictureCompleteness, EveryCutOfAPictureIsCaughtAndWholePicturesPass)
{
    struct Case {
        QByteArray picture;
        QByteArray trailer; // what may follow the end marker
        qsizetype known = 8; // bytes it takes to recognise the format
    };
    QList<Case> cases;
    for (BoardSite::Kind kind : {BoardSite::Kind::Jpeg, BoardSite::Kind::Png, BoardSite::Kind::Gif, BoardSite::Kind::Webp})
        for (qint64 size : {qint64(0), qint64(700), qint64(3000), qint64(70000)})
            cases.append({BoardSite::makePicture(kind, size, QByteArray::number(size)), {}, kind == BoardSite::Kind::Webp ? 12 : 8});
    // The encoders' own WebP (both layouts), AVIF and HEIC files.
    for (const char *name : {"photo-lossless.webp", "photo.webp", "photo.avif", "photo.heic"}) {
        QFile f(QStringLiteral(":/boardsite/pictures/") + QLatin1String(name));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << name;
        cases.append({f.readAll(), QByteArrayLiteral("after the RIFF"), 12});
        if (!QByteArray(name).endsWith(".webp"))
            cases.last().trailer.clear(); // ISO media has no end marker: boxes fill the file
    }
    // Camera trailers and padding after the end; an Exif thumbnail (a whole JPEG in an
    // APP1 segment) before it.
    cases.append({BoardSite::makePicture(BoardSite::Kind::Jpeg, 3000, "t"), "SEFH trailer FF D9"});
    cases.append({BoardSite::makePicture(BoardSite::Kind::Png, 3000, "t"), QByteArray(100, '\0')});
    {
        const QByteArray thumb = BoardSite::makePicture(BoardSite::Kind::Jpeg, 500, "thumb");
        QByteArray app1 = "\xFF\xE1";
        app1 += char((thumb.size() + 8) >> 8);
        app1 += char((thumb.size() + 8) & 0xFF);
        app1 += QByteArray("Exif\0\0", 6) + thumb;
        QByteArray withThumb = BoardSite::makePicture(BoardSite::Kind::Jpeg, 2000, "main");
        withThumb.insert(2, app1);
        cases.append({withThumb, {}});
    }
    for (const Case &c : cases) {
        SCOPED_TRACE(c.picture.left(4).toHex().toStdString() + " of " + std::to_string(c.picture.size()));
        const QByteArray whole = c.picture + c.trailer;
        EXPECT_TRUE(IsPictureComplete(whole.constData(), whole.size()));
        for (qsizetype cut = c.picture.size(); cut < whole.size(); ++cut)
            ASSERT_TRUE(IsPictureComplete(whole.constData(), cut)) << "cut in the trailer at " << cut;
        // Any cut before the end marker, once the signature is there to recognise.
        for (qsizetype cut = c.known; cut < c.picture.size(); ++cut)
            ASSERT_FALSE(IsPictureComplete(whole.constData(), cut)) << "cut at " << cut;
    }
    // Padding after the coded data, in a box of its own, is fine.
    const QByteArray padded = BoardSite::makePicture(BoardSite::Kind::Avif, 9000, "pad");
    EXPECT_EQ(padded.size(), 9000);
    EXPECT_TRUE(IsPictureComplete(padded.constData(), padded.size()));
    // Bytes of other kinds are not judged.
    EXPECT_TRUE(IsPictureComplete("RIFF\x10\0\0\0WAVE", 12));
    EXPECT_TRUE(IsPictureComplete("", 0));
    EXPECT_TRUE(IsPictureComplete("<html>", 6));
}
