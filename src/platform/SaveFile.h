// Writing a file whole or not at all. Every file Corvadin writes (pictures, names files,
// download lists, marks, the download archive, soft.dat, cookies.txt) takes this path:
// the bytes go to a new temporary file ".corvadin-XXXXXX.part" in the target's folder
// (same file system, so the rename is atomic), which is renamed over the target once
// every byte is written. The rename replaces whatever stood at the name, a symbolic
// link included: a planted link's target is never opened, let alone written. A failed
// write leaves the old file as it was and no temporary file; a process killed in between
// can leave a temporary file, which RemoveStaleTempFiles clears.
//
// A temporary file is owned by the process writing it: the writer holds the system's
// lock on it (flock on POSIX; on Windows a file open for writing cannot be removed), which
// the system drops when the writer ends, killed or not. So RemoveStaleTempFiles, run by
// any process entering a folder, removes only what no live process is writing.
//
// Threads: the free functions keep no state and are safe on any thread; a PartFile
// belongs to one thread at a time.
#pragma once

#include <QByteArray>
#include <QString>
#include <memory>

class QFile;

// A file being written under a temporary name beside its target, renamed over the
// target by Commit, removed by Discard or the destructor. Bytes written go straight to
// the file (no buffer of its own), so a full disk shows in Write's answer.
class PartFile {
public:
    PartFile();
    ~PartFile(); // Discard()
    PartFile(const PartFile &) = delete;
    PartFile &operator=(const PartFile &) = delete;

    // Creates the temporary file for `targetPath` (a new file of its own, locked).
    // ownerOnly: readable and writable by the user alone; otherwise a target that is
    // replaced keeps its permissions. False, with *error set, when the folder refuses.
    bool Open(const QString &targetPath, bool ownerOnly = false, QString *error = nullptr);
    bool isOpen() const;
    // Every byte, or false with *error set (the file stays open; Discard it).
    bool Write(const char *data, qint64 size, QString *error = nullptr);
    qint64 size() const { return m_size; }
    // The temporary file, open for reading and writing (to read back what was written).
    QFile *file() const { return m_file.get(); }

    // waitForDisk: the bytes reach the disk (fdatasync) before the rename, so after a
    // power loss the target holds the old file or the whole new one. Then renames over
    // the target. Answers the open file, now under the target's name, or null with
    // *error set (the temporary file is then removed).
    std::unique_ptr<QFile> Commit(bool waitForDisk, QString *error = nullptr);
    // Closes and removes the temporary file, if any.
    void Discard();

private:
    std::unique_ptr<QFile> m_file;
    QString m_target;
    qint64 m_size = 0;
};

// Answers whether the file now holds exactly `bytes`; on failure the old file (if any) is
// left as it was and *error (when given) says why, in the system's words. ownerOnly
// makes it readable and writable by the user alone; otherwise a file that is replaced
// keeps its permissions. waitForDisk: the bytes reach the disk before the rename, so a
// power loss leaves the old file or the new one.
bool SaveFileAtomically(const QString &path, const QByteArray &bytes, bool ownerOnly = false,
                        QString *error = nullptr, bool waitForDisk = true);

// The same (waiting for the disk), but the file stays open: answers it (unbuffered,
// positioned after `bytes`) so that more can be appended. Appends go to the file the
// rename put at `path`, never through its name. Null on failure, with *error set.
std::unique_ptr<QFile> CreateFileAtomically(const QString &path, const QByteArray &bytes,
                                            QString *error = nullptr);

// Opens a file of whole lines to append to it in place, beside other processes appending
// to the same file (each write of one line lands whole after the others). The file must be
// a plain file whose last byte ends a line, or empty; if it does not exist it is created
// here and now (never through a link). Null with *error empty when the name holds
// something else (a link, a folder, a last line a crash cut short): the caller then
// replaces the file whole (CreateFileAtomically). Null with *error set when the system
// refuses. The answer is unbuffered and positioned at the end.
std::unique_ptr<QFile> OpenForAppending(const QString &path, QString *error = nullptr);

// Makes the bytes written to an open file durable (fdatasync; _commit on Windows). False,
// with *error set, where the system refuses.
bool SyncFile(QFile &file, QString *error = nullptr);

// Makes the folder's entries (names created, renamed or removed) durable: after a power
// loss the files renamed into it are found under their new names. False, with *error
// set, where the system refuses; a no-op answering true where folders cannot be synced
// (Windows, whose renames are journalled with the file).
bool SyncFolder(const QString &folder, QString *error = nullptr);

// Whether a file name is one of the temporary files above.
bool IsTempFileName(const QString &name);
// Removes the temporary files in `folder` (not below it) that no live process is
// writing: those a killed or crashed process left. Answers how many went.
int RemoveStaleTempFiles(const QString &folder);
