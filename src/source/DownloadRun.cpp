// The download run: the chosen albums one after another, each collected and downloaded
// by the worker pool at once (the pool starts on the first pictures named while later
// pin pages are read), or collected and written as a download list.
//
// The names are still given in board order by this thread alone, so files, list, names
// file, archive and mark come out as from a run that collected first and downloaded
// afterwards; the fix-up passes, the names file and the mark wait for the album's batch.
//
// What an album leaves behind, so that a later run loses nothing:
// - the download archive records every picture as it is saved (AppState::AddOutcome);
// - the mark "pic.kzv" moves only when the listing reached its end and every picture
//   of the batch was saved; it then holds the album's newest pin (the first collected,
//   or the first one skipped as archived). Otherwise the earlier mark stays, and the next
//   run with "不下载以前下载过的图片" pages on past it, fetching what the archive lacks;
// - the names file grows (see writeNamesFile below);
// - a list, names file or archive that cannot be written whole is reported (a message
//   and RunSummary::writeFailures), never taken for success.
#include "source/ChangeSource.h"

#include "core/AppState.h"
#include "core/WindowServices.h"
#include "download/DownProc.h"
#include "download/FileNaming.h"
#include "platform/Platform.h"
#include "platform/SaveFile.h"
#include "text/StringCtrl.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QHash>

#include <algorithm>

namespace {

struct Texts {
    Q_DECLARE_TR_FUNCTIONS(DownloadRun)
};

void reportWriteFailure(AppState &app, WindowServices &w, const QString &path, const QString &why)
{
    app.UpdateSummary([&](RunSummary &s) { s.writeFailures.append(path + QStringLiteral(": ") + why); });
    w.ShowMessage(Texts::tr("文件写入失败：%1\n%2").arg(path, why));
}

// The names file after an album (OPT_NAMES_FILE). A run without the skip option that
// read the whole listing names every picture of the album: its lines replace the file,
// as they always did. Any other run only adds: the lines of the pictures new to the
// album (not in the archive before the run) go before the earlier lines. In a download
// those are the pictures it saved; one that failed gets its line from the run that
// saves it, so a rerun after failures adds each line once. Answers whether the file
// holds the failed pictures' lines as well.
bool writeNamesFile(AppState &app, WindowServices &w, const QString &albumName, bool wholeAlbum,
                    bool listOnly, const QList<bool> &knownBefore)
{
    const DownloadList &list = app.downloads;
    QStringList lines;
    for (qsizetype i = 0; i < list.descriptions.size(); ++i) {
        const bool saved = listOnly || app.archive.AddressOf(list.fileNames[i]) == list.addresses[i];
        if (wholeAlbum || (!knownBefore.value(i) && saved))
            lines.append(list.descriptions[i]);
    }
    const QString path = AlbumFilePath(app.profile, list.folder(), albumName, QStringLiteral(".txt"));
    if (!wholeAlbum && lines.isEmpty())
        return false; // nothing new: the file stays as it is
    QString why;
    if (!WriteNamesFile(path, lines, !wholeAlbum, &why))
        reportWriteFailure(app, w, path, why);
    return wholeAlbum;
}

// Marks the failures that the batch just added with their album and description, so
// they can be tried again on their own, and puts them in the album's order.
void describeFailures(AppState &app, qsizetype from, int album)
{
    const DownloadList &list = app.downloads;
    const QString folder = list.folder();
    QHash<QString, qsizetype> indexOf;
    for (qsizetype i = 0; i < list.fileNames.size(); ++i)
        indexOf.insert(folder + list.fileNames[i], i);
    app.UpdateSummary([&](RunSummary &s) {
        for (qsizetype k = from; k < s.failures.size(); ++k) {
            s.failures[k].album = album;
            s.failures[k].description = list.descriptions.value(indexOf.value(s.failures[k].file, -1));
        }
        // In the album's order, not the order the workers finished in.
        std::stable_sort(s.failures.begin() + from, s.failures.end(), [&](const PictureOutcome &a, const PictureOutcome &b) {
            return indexOf.value(a.file, -1) < indexOf.value(b.file, -1);
        });
    });
}

// Which of the album's collected pictures the archive held before the album's run
// (the pool may have saved some of them since).
QList<bool> knownAddresses(const AppState &app)
{
    QList<bool> known;
    for (const QString &a : app.downloads.addresses)
        known.append(app.archive.SavedBefore(a));
    return known;
}

// Waits for the album's worker pool and settles what the album leaves behind: the
// extension and time passes, the names file (unless its lines are there already), the
// mark. `index` is the album's place in the summary's album list; `failuresBefore` the
// summary's failure count before the pool started. Answers false when the pool could
// not start.
bool downloadAlbum(AppState &app, WindowServices &w, uint16_t options, int index, bool wholeAlbum, bool namesPending,
                   std::thread pool, qsizetype failuresBefore)
{
    const AlbumOutcome album = app.Summary().albumList.value(index);
    const QList<bool> knownBefore = knownAddresses(app);
    if (!pool.joinable()) {
        w.ShowMessage(QStringLiteral("Create thread:DownPicFunc failed."));
        return false;
    }
    pool.join();
    const bool stopped = app.DownState == 3;
    const int failed = int(app.Summary().failures.size() - failuresBefore);
    if (options & OPT_FIX_FORMAT)
        FixPictureFormat(app);
    if (options & OPT_FIX_ORDER)
        FixPictureOrder(app);
    bool namesWritten = !namesPending;
    if ((options & OPT_NAMES_FILE) && namesPending)
        namesWritten = writeNamesFile(app, w, album.name, wholeAlbum, false, knownBefore);
    // The mark says "done" only when it is true: then every pin from the album's newest
    // on is saved, now or before (the archive).
    if (!stopped && album.listingComplete && failed == 0)
        WriteLastPictureMark(album.firstAddress, album.folder);
    // The pictures were each synced before their rename; the renames (theirs, the
    // extension fix's, the names file's and the mark's) are durable once the folder is.
    // (An album folder that could not be made has nothing to sync: its pictures failed.)
    if (QString why; QFileInfo(album.folder).isDir() && !SyncFolder(album.folder, &why))
        reportWriteFailure(app, w, album.folder, why);
    describeFailures(app, failuresBefore, index);
    app.UpdateSummary([&](RunSummary &s) {
        s.albumList[index].failed = failed;
        s.albumList[index].namesWritten = namesWritten;
    });
    return true;
}

// Ends an album: the archive is closed, and reported when it could not be written.
void closeArchive(AppState &app, WindowServices &w)
{
    const QString folder = app.archive.folder();
    if (const QString why = app.archive.Close(); !why.isEmpty())
        reportWriteFailure(app, w, folder + DownloadArchive::FileName(), why);
}

// The end of every run: the idle look ("下载完毕"), then how the run really ended.
void endRun(AppState &app, WindowServices &w)
{
    const bool stopped = app.DownState == 3;
    app.UpdateSummary([&](RunSummary &s) { s.stopped = stopped; });
    app.DownState = 0;
    w.ShowDownloadDone();
    w.SetPhaseText(RunEndText(app.Summary()), ReportKind::RunDone);
}

} // namespace

bool WriteListFile(const QStringList &addresses, const QString &path, QString *error)
{
    QByteArray bytes;
    for (const QString &a : addresses) {
        bytes += ToGbk(a);
        bytes += "\r\n";
    }
    return SaveFileAtomically(path, bytes, false, error);
}

void WriteLastPictureMark(const QString &text, const QString &folder)
{
    const QString path = folder + QStringLiteral("pic.kzv");
    QByteArray bytes;
    bytes.reserve(text.size() * 2);
    for (QChar c : text) {
        bytes += char(c.unicode() & 0xFF);
        bytes += char(c.unicode() >> 8);
    }
    if (SaveFileAtomically(path, bytes))
        Platform::SetHidden(path);
}

QString RunEndText(const RunSummary &summary)
{
    if (summary.stopped)
        return Texts::tr("已终止下载");
    QString text = Texts::tr("下载完毕");
    if (summary.failed > 0)
        text += Texts::tr("，%n张失败", nullptr, summary.failed);
    if (const int incomplete = summary.incompleteAlbums())
        text += Texts::tr("，%n个图集未获取完整", nullptr, incomplete);
    if (!summary.writeFailures.isEmpty())
        text += Texts::tr("，%n个文件写入失败", nullptr, int(summary.writeFailures.size()));
    // Saved as the site keeps them (cut short): not failures, but the user should know.
    if (!summary.warnings.isEmpty())
        text += Texts::tr("，%n张图片网站上就不完整", nullptr, int(summary.warnings.size()));
    return text;
}

QStringList RunNotes(const RunSummary &summary)
{
    QStringList notes;
    for (const AlbumOutcome &a : summary.albumList) {
        if (!a.listingComplete)
            notes << QStringLiteral("album incomplete: collected %1 of %2 (%3)").arg(a.listed).arg(a.declared).arg(a.name);
        else if (!a.endedAtMark && uint32_t(a.listed) < a.declared)
            notes << QStringLiteral("note: %1 shows %2 of the %3 pictures it declares").arg(a.name).arg(a.listed).arg(a.declared);
    }
    for (const QString &f : summary.writeFailures)
        notes << QStringLiteral("failed: could not write %1").arg(f);
    return notes;
}

void RunDownload(AppState &app, WindowServices &w)
{
    app.ResetSummary();
    QString base = TrimWide(w.SavePathText());
    if (base.isEmpty()) {
        w.ShowMessage(Texts::tr("请先设置保存路径"));
        app.UpdateSummary([](RunSummary &s) { s.basePathFailed = true; });
        app.DownState = 0;
        return;
    }
    if (!base.endsWith(QDir::separator()))
        base += QDir::separator();
    // The owner's folder never takes the place of one of the program's own files.
    const QString owner = app.source.strUserFolder;
    if (!owner.isEmpty())
        base += app.profile.Unclaimed(base, owner.chopped(1)) + QDir::separator();

    if (!MakeFolderPath(base, w)) {
        w.ShowMessage(Texts::tr("请检测设置的保存路径是否有误"));
        app.UpdateSummary([](RunSummary &s) { s.basePathFailed = true; });
        app.DownState = 0;
        return;
    }
    SetFolderTimes(base, QDateTime::currentSecsSinceEpoch());

    // The download command has set 1; a stop it has taken since stays.
    SetUnlessStopped(app.DownState, 1, 3);
    w.ShowDownloading();
    app.downloads.setFolder(base);
    app.runDownSet = app.DownSet();
    const uint16_t options = app.SaveSet().wOptions;

    QList<int> chosen;
    const int albumCount = app.albums.count();
    for (int index : w.ChosenAlbums())
        if (index >= 0 && index < albumCount)
            chosen.append(index);
    app.albums.setChosen(int(chosen.size()));
    app.UpdateSummary([&](RunSummary &s) { s.albums = int(chosen.size()); });
    if (chosen.isEmpty())
        w.ShowMessage(SiteTexts::NoAlbumChosen());

    int runTotal = 0;
    for (int h = 0; h < chosen.size() && app.DownState != 3; ++h) {
        const int i = chosen[h];
        const ST_PERLISTRECORD record = app.albums.at(i);
        app.downloads.reset(base);
        // An album that ended early lets the next one run; a stop request stays.
        SetUnlessStopped(app.DownState, 1, 3);
        w.SetPhaseText(Texts::tr("正在下载第%1/%2个图集").arg(h + 1).arg(chosen.size()), ReportKind::AlbumStarted);
        w.SetProgressText(QStringLiteral("......"), ReportKind::AlbumCollecting);

        // Downloading starts with the first pictures named, while later pages are read.
        std::shared_ptr<DownloadBatch> batch;
        std::thread pool;
        const qsizetype failuresBefore = app.Summary().failures.size();
        if (!(options & OPT_LIST_ONLY)) {
            batch = std::make_shared<DownloadBatch>();
            pool = StartDownPicFunc(app, w, batch);
        }
        const bool listingComplete = EnumeratePins(app, w, i, [&] {
            if (batch)
                batch->AddFrom(app.downloads);
        });
        if (batch)
            batch->End();
        const DownloadList &list = app.downloads;
        if (app.DownState == 3 && (!batch || batch->Size() == 0)) {
            if (pool.joinable())
                pool.join();
            app.archive.Close();
            continue; // stopped while collecting, before any download: the album is left as it was
        }
        AlbumOutcome album;
        album.name = record.strName;
        album.folder = list.folder();
        album.declared = record.nPicCount;
        album.listed = list.pinsMet();
        album.skipped = list.skipped;
        album.listingComplete = listingComplete;
        album.endedAtMark = app.DownState == 2;
        album.firstAddress = list.firstPin;
        int albumIndex = -1;
        app.UpdateSummary([&](RunSummary &s) {
            s.collected += int(list.addresses.size());
            s.skipped += list.skipped;
            albumIndex = int(s.albumList.size());
            s.albumList.append(album);
        });
        if (list.addresses.isEmpty()) {
            if (pool.joinable())
                pool.join(); // it ends at once: its batch ended empty
            app.archive.Close();
            continue;
        }
        runTotal += int(list.addresses.size());
        // A run without the skip option that read the whole listing names the whole album.
        const bool wholeAlbum = listingComplete && !(options & OPT_SKIP_DOWNLOADED);

        if (options & OPT_LIST_ONLY) {
            const QString path = AlbumFilePath(app.profile, list.folder(), record.strName, QStringLiteral(".lst"));
            QString why;
            if (WriteListFile(list.addresses, path, &why))
                app.UpdateSummary([&](RunSummary &s) { s.listFiles.append(path); });
            else
                reportWriteFailure(app, w, path, why);
            if (options & OPT_NAMES_FILE)
                writeNamesFile(app, w, record.strName, wholeAlbum, true, knownAddresses(app));
            app.archive.Close();
            continue;
        }

        downloadAlbum(app, w, options, albumIndex, wholeAlbum, true, std::move(pool), failuresBefore);
        closeArchive(app, w);
    }

    endRun(app, w);
    if (runTotal > 0 && (options & OPT_OPEN_FOLDER))
        w.OpenFolder(app.downloads.folder());
}

void RetryFailures(AppState &app, WindowServices &w, const RunSummary &previous)
{
    app.ResetSummary();
    w.ShowDownloading();
    app.runDownSet = app.DownSet();
    // The time pass would stamp only these pictures, out of the album's order.
    const uint16_t options = app.SaveSet().wOptions & uint16_t(~OPT_FIX_ORDER);

    QList<int> albums; // indices into previous.albumList that have failures
    for (const PictureOutcome &f : previous.failures)
        if (f.album >= 0 && f.album < previous.albumList.size() && !albums.contains(f.album))
            albums.append(f.album);
    app.UpdateSummary([&](RunSummary &s) { s.albums = int(albums.size()); });

    for (int h = 0; h < albums.size() && app.DownState != 3; ++h) {
        AlbumOutcome album = previous.albumList[albums[h]];
        DownloadList &list = app.downloads;
        list.reset(album.folder);
        list.folderDecided = true;
        for (const PictureOutcome &f : previous.failures) {
            if (f.album != albums[h])
                continue;
            list.addresses.append(f.address);
            list.fileNames.append(f.file.mid(album.folder.size()));
            list.headers.append(QString());
            list.descriptions.append(f.description);
        }
        w.SetPhaseText(Texts::tr("正在下载第%1/%2个图集").arg(h + 1).arg(albums.size()), ReportKind::AlbumStarted);
        app.archive.Open(album.folder);
        int index = -1;
        album.failed = 0;
        app.UpdateSummary([&](RunSummary &s) {
            s.collected += int(list.addresses.size());
            index = int(s.albumList.size());
            s.albumList.append(album);
        });
        // A run that named the whole album wrote the failed pictures' lines already.
        const qsizetype failuresBefore = app.Summary().failures.size();
        downloadAlbum(app, w, options, index, false, !album.namesWritten, StartDownPicFunc(app, w), failuresBefore);
        closeArchive(app, w);
    }
    endRun(app, w);
}
