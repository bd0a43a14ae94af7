#include "platform/Platform.h"

#include <QDir>
#include <QFile>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace Platform {

#ifdef Q_OS_WIN

static std::wstring NativePath(const QString &path)
{
    return QDir::toNativeSeparators(path).toStdWString();
}

bool SetPathTimes(const QString &path, qint64 secondsSince1970)
{
    // Backup semantics lets the same call open folders as well as files.
    HANDLE h = CreateFileW(NativePath(path).c_str(), FILE_WRITE_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    ULARGE_INTEGER v;
    v.QuadPart = (ULONGLONG(secondsSince1970) + 11644473600ULL) * 10000000ULL;
    FILETIME ft;
    ft.dwLowDateTime = v.LowPart;
    ft.dwHighDateTime = v.HighPart;
    const BOOL ok = SetFileTime(h, &ft, &ft, &ft);
    CloseHandle(h);
    return ok != FALSE;
}

bool SetHidden(const QString &path)
{
    const std::wstring p = NativePath(path);
    const DWORD attributes = GetFileAttributesW(p.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return false;
    return SetFileAttributesW(p.c_str(), attributes | FILE_ATTRIBUTE_HIDDEN) != FALSE;
}

bool IsSuperUser()
{
    return false;
}

QString UserId()
{
    return qEnvironmentVariable("USERDOMAIN") + QLatin1Char('\\') + qEnvironmentVariable("USERNAME");
}

#else

bool SetPathTimes(const QString &path, qint64 secondsSince1970)
{
    // POSIX keeps no settable creation time; access and modification are enough for
    // sorting a folder by time.
    struct timespec times[2];
    times[0].tv_sec = time_t(secondsSince1970);
    times[0].tv_nsec = 0;
    times[1] = times[0];
    return utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0) == 0;
}

bool SetHidden(const QString &)
{
    return true;
}

bool IsSuperUser()
{
    return ::geteuid() == 0;
}

QString UserId()
{
    return QString::number(::getuid());
}

#endif

} // namespace Platform
