// The download archive of an album folder: which pictures Corvadin saved there, and
// under which name. One line per saved picture, "ADDRESS<TAB>FILE NAME<LF>" in UTF-8, in
// the hidden file ".corvadin-archive" of the folder; a later line wins (a picture renamed
// by the extension fix, a name that now holds another picture). A picture enters only once its file is
// whole on disk, so an address in the archive means "this picture is here".
//
// What it is asked:
// - with "不下载以前下载过的图片", whether a picture was saved by an earlier run (it is
//   then neither downloaded nor named again);
// - whose file a name is: a file an earlier run saved for the same address may be
//   replaced by that picture again; any other file of the folder is never overwritten.
//
// Written so that a crash never tears it and several runs may write into one album: each
// record appends one whole line with one write, to the file as it stands (other runs
// append to the same file). Only when the file's last line was cut by a crash, or a link
// stands at its name, does the album's first record replace it whole, through a temporary
// file and a rename (dropping the cut line; the link replaced, never followed), and go on
// appending to that very file. A reader takes only lines that end in LF.
// Addresses holding a tab, CR or LF are not recorded (they could forge lines).
//
// Threads: Open and Close run on the download-run thread while no worker of the album
// runs; Record is called by the pool's workers; every member is guarded, so the run
// thread may ask while the workers record (it asks SavedBefore while naming).
#pragma once

#include <QHash>
#include <QSet>
#include <QString>
#include <memory>
#include <mutex>

class QFile;

class DownloadArchive {
public:
    DownloadArchive();
    ~DownloadArchive();

    static QString FileName(); // ".corvadin-archive"

    // Reads the archive of `folder` (ending in a separator) and ends the previous album's.
    // A missing or unreadable archive is an empty one.
    void Open(const QString &folder);
    // Ends the album: syncs the file to the disk and closes it. Answers why writing it
    // failed, if it did (the first error, in the system's words), else empty.
    QString Close();

    QString folder() const;
    bool Contains(const QString &address) const;
    // Whether the archive held `address` when Open read it: saved by an earlier run,
    // whatever this album's workers have recorded since.
    bool SavedBefore(const QString &address) const;
    // The address whose picture was saved under `fileName` (exact name), else empty.
    QString AddressOf(const QString &fileName) const;
    // Every file name the archive knows, with its address.
    QHash<QString, QString> Files() const;

    // Records that `address` is saved as `fileName` in the open folder. Any thread.
    void Record(const QString &address, const QString &fileName);

private:
    void assign(const QString &address, const QString &fileName);

    mutable std::mutex m_mutex;
    QString m_folder;
    QHash<QString, QString> m_nameOf;    // address -> file name
    QHash<QString, QString> m_addressOf; // file name -> address
    QList<QString> m_order;              // addresses, in the order first recorded
    QSet<QString> m_atOpen;              // addresses as Open read them
    std::unique_ptr<QFile> m_file;       // open once the album's first record is written
    QString m_error;
};
