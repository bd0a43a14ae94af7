// Writing a file whole or not at all. Every file Corvadin writes (pictures, names files,
// download lists, marks, the download archive, soft.dat, cookies.txt) takes this path:
// the bytes go to a new temporary file ".corvadin-XXXXXX.part" in the target's folder
// (same file system, so the rename is atomic), which is renamed over the target once
// every byte is written. The rename replaces whatever stood at the name, a symbolic
// link included: a planted link's target is never opened, let alone written. A failed
// write leaves the old file as it was and no temporary file; a process killed in between
// can leave a temporary file, which RemoveStaleTempFiles clears.
//
// Free functions without state; safe on any thread.
#pragma once

#include <QByteArray>
#include <QString>
#include <memory>

class QFile;

// Answers whether the file now holds exactly `bytes`; on failure the old file (if any) is
// left as it was and *error (when given) says why, in the system's words. ownerOnly
// makes it readable and writable by the user alone; otherwise a file that is replaced
// keeps its permissions. waitForDisk: the bytes reach the disk before the rename, so a
// power loss leaves the old file or the new one (small files); pictures pass false.
bool SaveFileAtomically(const QString &path, const QByteArray &bytes, bool ownerOnly = false,
                        QString *error = nullptr, bool waitForDisk = true);

// The same (waiting for the disk), but the file stays open: answers it (unbuffered,
// positioned after `bytes`) so that more can be appended. Appends go to the file the rename put at `path`, never
// through its name. Null on failure, with *error set.
std::unique_ptr<QFile> CreateFileAtomically(const QString &path, const QByteArray &bytes,
                                            QString *error = nullptr);

// Whether a file name is one of the temporary files above.
bool IsTempFileName(const QString &name);
// Removes the temporary files that a killed process left in `folder` (not below it);
// answers how many went. Only for folders no other process is writing to.
int RemoveStaleTempFiles(const QString &folder);
