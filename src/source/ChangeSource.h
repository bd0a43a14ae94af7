// The board-site source: reading a board's page into the album list, walking its pins
// page by page, and driving a download run over the chosen albums.
//
// Threads: RetrieveAlbumList runs on the list thread, RunDownload (with EnumeratePins)
// on the download-run thread, RebuildAlbumRows on a rebuild thread or the GUI thread.
// All of them talk to the window only through WindowServices.
#pragma once

#include "core/AlbumList.h"
#include "core/ListOutcome.h"

#include <QString>
#include <functional>

class AppState;
class WindowServices;

// Body of the list thread: the address box's board becomes the album list; a board
// that was read starts a download run. Tells the window how it ended (ListFinished).
// A stop request (ListState 2) aborts the board request at once and starts no run.
void RetrieveAlbumList(AppState &app, WindowServices &w);
// Fetches one board page and, when the ready flag is 1, adds its album. Sets
// strUserFolder and strBoardPage. Answers how it went: a page of another site is not
// asked for, an error status, a time-out or another failure of the request says which,
// and a page without a board id is no board page (no album is added).
ListOutcome ReadBoardPage(AppState &app, WindowServices &w, const QString &address);
// The owner's name as the folder level below the save path: cleaned, ending in a
// separator (empty stays empty).
void NormaliseOwnerFolder(QString &owner);
// Appends a copy of the record (name cleaned and made unique); answers the new count.
uint32_t AddAlbumRecord(AlbumList &list, const ST_PERLISTRECORD &record);
// Builds the row (list view) or the thumbnail cell of one album.
void AddAlbumRow(AppState &app, WindowServices &w, int albumIndex);
// Refills the view from the album list; ConvertState 2 stops it early.
void RebuildAlbumRows(AppState &app, WindowServices &w);

// Walks the pins of one album into the DownloadList (through AddPicture). Answers
// whether the listing reached its end: the board's count, a page without pins, a page
// answered twice, or the earlier run's mark. False when a page request failed (or
// answered nothing), a stop came, or the album reached the picture cap.
// `collected`, when given, is called on this thread after each pin handed to AddPicture
// (the download run hands the new pictures to the worker pool there).
bool EnumeratePins(AppState &app, WindowServices &w, int albumIndex, const std::function<void()> &collected = {});

// Body of the download-run thread.
void RunDownload(AppState &app, WindowServices &w);
// Body of the download-run thread for "重新下载" in the failure list: downloads just the
// failed pictures of `previous` (an earlier run's summary) again, each under its name in
// its album folder, and settles their albums as a run does (archive, names file, and the
// mark once an album that was collected whole has every picture).
struct RunSummary;
void RetryFailures(AppState &app, WindowServices &w, const RunSummary &previous);
// The phase line's text at the end of a run: how it ended ("下载完毕", "已终止下载",
// "下载完毕，3张失败" ...).
QString RunEndText(const RunSummary &summary);
// What a summary should say beyond the counts, one line each, for the CLI: albums whose
// listing ended early ("album incomplete: collected X of Y"), albums showing fewer pins
// than they declare, files that could not be written.
QStringList RunNotes(const RunSummary &summary);
// The download list file: one GBK line per address, CR LF, written whole or not at all.
// Answers whether it was; *error says why not.
bool WriteListFile(const QStringList &addresses, const QString &path, QString *error = nullptr);
// The last-picture mark file "pic.kzv": the address as raw UTF-16LE, hidden on Windows.
void WriteLastPictureMark(const QString &text, const QString &folder);
