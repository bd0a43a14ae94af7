// What the run threads do to the window. The list thread, the download-run thread and
// the worker pool's coordinator call these on their own threads; an implementation
// must be safe to call from any thread. The desktop window queues every widget change
// onto the GUI thread, the CLI writes to the terminal, tests record the calls.
//
// The run-state bytes live in AppState; the core sets them, these only change the look.
#pragma once

#include "core/ListOutcome.h"
#include "core/RunSummary.h"

#include <QList>
#include <QString>

// What a phase or progress text reports, whatever language it is written in. A front
// end that acts on a report (the CLI's timers and lines, the window's failure count)
// looks at the kind, never at the text.
enum class ReportKind : uint8_t {
    Other,
    ListDone,        // phase: the retrieval has ended ("获取相册列表完成，共%d个")
    AlbumStarted,    // phase: an album of the run begins ("正在下载第%d/%d个图集")
    AlbumCollecting, // progress: its pins are being read ("......")
    Collected,       // progress: pictures collected so far ("已获取到%d张图片信息")
    DownloadStarted, // progress: the worker pool starts on the album ("已开始下载图片")
    Downloaded,      // progress: pictures of the batch finished ("已下载%d/%d......")
    RunDone,         // phase: how the download run ended, set right after ShowDownloadDone
                     // ("下载完毕", "已终止下载" ...)
};

class WindowServices {
public:
    virtual ~WindowServices() = default;

    // Display states of the window (the core has already set the state byte).
    virtual void ShowListRunning() {}
    virtual void ShowListIdle(int albumCount) {}
    virtual void ShowDownloading() {}
    virtual void ShowDownloadDone() {}

    // A retrieval has ended (after ShowListIdle), whatever the address was unless the
    // address box was empty. A read board already has its phase text ("获取相册列表完成，
    // 共%d个"); for any other ending the front end says what happened.
    virtual void ListFinished(const ListOutcome &outcome) {}

    // The phase line ("正在下载第%d/%d个图集", "下载完毕" ...) and the progress line
    // ("已下载%d/%d......" ...).
    virtual void SetPhaseText(const QString &text, ReportKind kind = ReportKind::Other) {}
    virtual void SetProgressText(const QString &text, ReportKind kind = ReportKind::Other) {}
    // Caption of the album list frame ("相册列表(共%d个)").
    virtual void SetAlbumFrameCaption(const QString &text) {}
    // A message the user must see (message box in the window, stderr in the CLI).
    virtual void ShowMessage(const QString &text) {}

    // The two boxes of the window, read by the run threads.
    virtual QString AddressText() { return {}; }
    virtual QString SavePathText() { return {}; }
    // A text newly remembered in a history goes to the end of the box's item list.
    virtual void AppendAddressItem(const QString &text) {}

    // Album grid. Rows count the header row in list mode. GridAppendRow answers the new
    // row's index; height -1 keeps the default height.
    virtual int GridAppendRow(int height = -1) { return -1; }
    virtual void GridSetCell(int row, int col, const QString &text, int itemData = -1, int image = -1) {}
    virtual void GridSelectAll() {}
    virtual void GridRefresh() {}
    // Turns a downloaded cover picture into a thumbnail image; answers its index, or -1
    // when the file holds no picture.
    virtual int AddThumbnail(const QString &pictureFile) { return -1; }
    // Album indices chosen in the grid, in grid order (rows top to bottom, cells left to
    // right). The core drops indices that are not below the number of albums.
    virtual QList<int> ChosenAlbums() { return {}; }

    // A retrieval that has read a board starts a download run as the download command does.
    virtual void StartDownloadRun() {}
    // The worker pool ended a batch: whole seconds taken and number of pictures.
    virtual void BatchFinished(unsigned seconds, int pictures) {}
    // One picture of a batch has finished, saved or not. Called on a worker thread, in
    // the order the pictures finish.
    virtual void PictureFinished(const PictureOutcome &outcome) {}
    // Open a folder in the desktop's file browser (OPT_OPEN_FOLDER).
    virtual void OpenFolder(const QString &folder) {}
};
