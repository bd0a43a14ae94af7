// The download run: the chosen albums one after another, collected, then downloaded
// by the worker pool or written as a download list.
#include "source/ChangeSource.h"

#include "core/AppState.h"
#include "platform/SaveFile.h"
#include "core/WindowServices.h"
#include "download/DownProc.h"
#include "download/FileNaming.h"
#include "platform/Platform.h"
#include "text/StringCtrl.h"

#include <QDateTime>
#include <QDir>
#include <QFile>

bool WriteListFile(const QStringList &addresses, const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    QByteArray bytes;
    for (const QString &a : addresses) {
        bytes += ToGbk(a);
        bytes += "\r\n";
    }
    file.write(bytes);
    return true;
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
        return QStringLiteral("已终止下载");
    return QStringLiteral("下载完毕");
}

void RunDownload(AppState &app, WindowServices &w)
{
    app.ResetSummary();
    QString base = TrimWide(w.SavePathText());
    if (base.isEmpty()) {
        w.ShowMessage(QStringLiteral("请先设置保存路径"));
        app.UpdateSummary([](RunSummary &s) { s.basePathFailed = true; });
        app.DownState = 0;
        return;
    }
    if (!base.endsWith(QDir::separator()))
        base += QDir::separator();
    base += app.source.strUserFolder;

    if (!MakeFolderPath(base, w)) {
        w.ShowMessage(QStringLiteral("请检测设置的保存路径是否有误"));
        app.UpdateSummary([](RunSummary &s) { s.basePathFailed = true; });
        app.DownState = 0;
        return;
    }
    SetFolderTimes(base, QDateTime::currentSecsSinceEpoch());

    // The download command has set 1; a stop it has taken since stays.
    uint8_t idle = 0;
    app.DownState.compare_exchange_strong(idle, 1);
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
        app.downloads.reset(base);
        // An album that ended early lets the next one run; a stop request stays.
        uint8_t early = 2;
        app.DownState.compare_exchange_strong(early, 1);
        w.SetPhaseText(QStringLiteral("正在下载第%1/%2个图集").arg(h + 1).arg(chosen.size()), ReportKind::AlbumStarted);
        w.SetProgressText(QStringLiteral("......"), ReportKind::AlbumCollecting);

        EnumeratePins(app, w, i);

        const QStringList &addresses = app.downloads.addresses;
        if (addresses.isEmpty() || app.DownState == 3)
            continue;
        runTotal += int(addresses.size());
        app.UpdateSummary([&](RunSummary &s) { s.collected += int(addresses.size()); });
        const QString folder = app.downloads.folder();

        if (options & OPT_LIST_ONLY) {
            const QString path = AlbumFilePath(folder, app.albums.at(i).strName, QStringLiteral(".lst"));
            if (WriteListFile(addresses, path))
                app.UpdateSummary([&](RunSummary &s) { s.listFiles.append(path); });
            continue;
        }

        w.SetProgressText(QStringLiteral("已开始下载图片"), ReportKind::DownloadStarted);
        std::thread pool = StartDownPicFunc(app, w);
        if (!pool.joinable()) {
            w.ShowMessage(QStringLiteral("Create thread:DownPicFunc failed."));
            continue;
        }
        pool.join();
        if (app.DownState != 3)
            WriteLastPictureMark(addresses.first(), folder);
        if (options & OPT_FIX_FORMAT)
            FixPictureFormat(app);
        if (options & OPT_FIX_ORDER)
            FixPictureOrder(app);
    }

    const bool stopped = app.DownState == 3;
    app.UpdateSummary([&](RunSummary &s) { s.stopped = stopped; });
    app.DownState = 0;
    w.ShowDownloadDone();
    // The idle look says "下载完毕"; the run says how it really ended.
    w.SetPhaseText(RunEndText(app.Summary()), ReportKind::RunDone);

    if (runTotal > 0 && (options & OPT_OPEN_FOLDER))
        w.OpenFolder(app.downloads.folder());
}
