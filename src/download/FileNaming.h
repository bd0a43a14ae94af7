// The naming step that gives every collected picture its file name and album folder,
// and the file operations around it: folder creation, file times, the last-picture
// mark, and the two passes after an album's download (extension fix, time order).
//
// Threads: AddPicture, FixPictureFormat, FixPictureOrder and WriteNamesFile run on the
// download-run thread, AddPicture while the album's worker pool already downloads the
// pictures named (it has its own list of them, DownloadBatch) and the passes after it has
// ended, so nothing else touches the DownloadList's lists. The other functions keep no
// state and are safe on any thread.
//
// Every name made here stays inside its folder: it is never "." or "..", never holds
// a separator, a name Windows reserves (CON, NUL, COM1 ...) gets a "_" in front, and
// on POSIX it is cut to 255 bytes of UTF-8 keeping its extension, however long the
// folder. On Windows a picture's name is cut so that folder and name (before the
// extension) keep within 250 units, but never to nothing. An album folder or album file
// that would land on one of the program's own files (a save folder that is the working
// folder) gets a "_" in front as well (Profile::Unclaimed).
#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

class AppState;
class Profile;
class WindowServices;

// Names one picture and appends it to app.downloads (address, file name, headerText,
// description). The album's first pin also decides and creates the album folder, removes
// the temporary files that no live process is writing there (what a killed run left),
// reads its mark file into app.strLastPicture and opens its download archive
// (app.archive).
//
// With OPT_SKIP_DOWNLOADED: the previous run's first picture sets DownState to 2 and
// appends nothing; a picture the archive holds is left out (downloads.skipped) but keeps
// its place in the numbering ("?2" and number names count every pin met), so a picture
// fetched again after a failure gets its old number back.
//
// Nothing of an earlier run is overwritten. A name is taken when this run gave it to
// another picture (the classic duplicate rule) and also when a file of that name is in
// the album folder, unless the archive says an earlier run saved this very picture there:
// "its own name". So a run without the skip option replaces the pictures it downloads
// again, and only those; a file the archive does not know (another program's, or one
// from before the archive existed) is never replaced. A taken name gets the duplicate
// rule's "(k)". Names compare ignoring case, files on disk too.
//
// Making a name unique costs the same whatever the album's size (a folded-name index
// kept on the calling thread).
void AddPicture(AppState &app, WindowServices &w, const QString &address,
                const QString &description, const QString &headerText, int albumIndex);

// CleanFileName after removing the C0 controls it keeps (all but tab, CR, LF and bell,
// which it handles itself): a NUL would cut a name short on POSIX, and Windows takes
// none of them. Every name the run makes from a page's text is cleaned so.
void CleanName(QString &text, bool fallback);

// True when the text from the last "." on is .jpeg .jpg .bmp .gif .png .tif .webp .avif
// .jfif or .heic, in any case.
bool HasPictureExtension(const QString &name);

// The first line of folder + "pic.kzv" (UTF-16LE units up to a line feed or the end);
// empty when the file is missing or unreadable.
QString ReadLastPictureMark(const QString &folder);

// Creates every missing folder along `path`. The path is trimmed and gets a trailing
// separator (left so). A level that cannot be created, or that exists as a file, is
// shown through w.ShowMessage (the text is that level's path) and answers false.
bool MakeFolderPath(QString &path, WindowServices &w);

// Set a folder's / a file's times to t seconds since 1970 (UTC). t <= 0 changes
// nothing, and neither does a path that cannot be opened.
void SetFolderTimes(const QString &path, qint64 t);
void SetFileTimes(const QString &path, qint64 t);

// ".avif" or ".heic" for the first bytes of an ISO media file whose ftyp box names an
// AVIF brand (avif, avis) or a HEIC one (heic, heix, heim, heis, hevc, hevx), the major
// brand first, then the compatible ones; empty otherwise.
QString HeifBrandExtension(const QByteArray &head);

// Gives the file at `path` the extension its first bytes call for (WebP by its RIFF
// header, AVIF and HEIC by HeifBrandExtension, then JPEG, PNG, GIF, BMP, TGA, ICO, CUR,
// TIFF) and renames it.
// Answers true when the file now has that name (renamed, or the name was right
// already); `path` then holds the new path. False, with `path` unchanged, when the
// file is missing or unreadable or the rename fails; an existing file of the new name
// is never replaced.
bool DetectPictureType(QString &path);

// Runs DetectPictureType over the album's pictures and updates the file-name entries
// (and the download archive's names).
void FixPictureFormat(AppState &app);
// Stamps the album's pictures with the current time, each one a minute older than the
// one before, so sorting by time gives the board's order.
void FixPictureOrder(AppState &app);

// A cleaned folder name made fit for any file system as the album folder's is: cut
// (POSIX) to 255 bytes of UTF-8 without trailing blanks or dots, a "_" in front of a name
// Windows reserves. Empty stays empty.
QString FitFolderLevel(const QString &name);

// The path of an album's own file in its folder (the names file ".txt", the download
// list ".lst"): the album name without separators, fitted like a picture's name, with a
// "_" in front where it would be one of the profile's own files (Profile::Unclaimed).
QString AlbumFilePath(const Profile &profile, const QString &folder, const QString &albumName, const QString &extension);

// Writes the names file (UTF-16LE with its byte-order mark, one "%s\r\n" line per
// description) whole, through a temporary file. keepEarlier: the lines the file held
// go after the new ones (newest first, as the board shows them). Answers false, with the
// reason in *error, when the file could not be written whole; it is then as it was.
bool WriteNamesFile(const QString &path, const QStringList &lines, bool keepEarlier, QString *error = nullptr);
