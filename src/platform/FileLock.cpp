#include "platform/FileLock.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>

#include <algorithm>
#include <chrono>
#include <thread>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace {

#ifdef Q_OS_WIN

qintptr openLockFile(const QString &path)
{
    HANDLE h = CreateFileW(QDir::toNativeSeparators(path).toStdWString().c_str(), GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    return h == INVALID_HANDLE_VALUE ? -1 : qintptr(h);
}

bool tryLockHandle(qintptr handle)
{
    OVERLAPPED at = {};
    return LockFileEx(HANDLE(handle), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at) != FALSE;
}

void unlockHandle(qintptr handle)
{
    OVERLAPPED at = {};
    UnlockFileEx(HANDLE(handle), 0, 1, 0, &at);
}

void closeHandle(qintptr handle)
{
    CloseHandle(HANDLE(handle));
}

#else

qintptr openLockFile(const QString &path)
{
    int fd;
    do
        fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    while (fd < 0 && errno == EINTR);
    return fd;
}

bool tryLockHandle(qintptr handle)
{
    int rc;
    do
        rc = ::flock(int(handle), LOCK_EX | LOCK_NB);
    while (rc != 0 && errno == EINTR);
    return rc == 0;
}

void unlockHandle(qintptr handle)
{
    ::flock(int(handle), LOCK_UN);
}

void closeHandle(qintptr handle)
{
    ::close(int(handle));
}

#endif

} // namespace

FileLock::FileLock(const QString &path) : m_path(path) {}

FileLock::~FileLock()
{
    unlock();
}

bool FileLock::lock(int timeoutMs)
{
    if (m_locked)
        return true;
    if (m_handle < 0)
        m_handle = openLockFile(m_path);
    if (m_handle < 0)
        return false;
    // The holders keep the lock only while they read and write a small file: polling
    // with short sleeps costs nothing and keeps the wait bounded on every platform.
    const QDeadlineTimer deadline(std::max(timeoutMs, 0));
    auto pause = std::chrono::milliseconds(1);
    while (!(m_locked = tryLockHandle(m_handle))) {
        if (deadline.hasExpired())
            return false;
        std::this_thread::sleep_for(std::min(pause, std::chrono::milliseconds(std::max<qint64>(deadline.remainingTime(), 1))));
        pause = std::min(pause * 2, std::chrono::milliseconds(20));
    }
    return true;
}

void FileLock::unlock()
{
    if (m_handle < 0)
        return;
    if (m_locked)
        unlockHandle(m_handle);
    m_locked = false;
    closeHandle(m_handle);
    m_handle = -1;
}
