// An exclusive lock between processes, held on a lock file beside the file it guards
// (soft.dat and cookies.txt, which several processes of one user share).
//
// It is the system's own advisory lock (flock on POSIX, LockFileEx on Windows): the
// system drops it when its holder ends, killed or not, so a crashed process never
// leaves a lock behind. Two FileLocks on one path exclude each other also within one
// process. The lock file stays (empty, readable by the user alone): removing it would
// race with a process that has opened it and waits for the lock.
//
// Not shared between threads: each thread that locks makes its own FileLock.
#pragma once

#include <QString>
#include <QtGlobal>

class FileLock {
public:
    explicit FileLock(const QString &path);
    ~FileLock(); // unlocks
    FileLock(const FileLock &) = delete;
    FileLock &operator=(const FileLock &) = delete;

    // Waits up to timeoutMs for the lock (0: tries once). Answers false when the lock
    // file cannot be opened or created, or another holder kept the lock that long.
    bool lock(int timeoutMs);
    void unlock();
    bool isLocked() const { return m_locked; }

private:
    QString m_path;
    qintptr m_handle = -1; // file descriptor or HANDLE; -1 while closed
    bool m_locked = false;
};
