// The few file operations that differ between operating systems. Everything else
// goes through Qt. Free functions without state; safe on any thread.
#pragma once

#include <QString>
#include <QtGlobal>

namespace Platform {

// Sets the access and modification times of a file or folder (and its creation time
// where the platform can set it) to `secondsSince1970` (UTC). Answers whether the
// times were set; a path that cannot be opened is left alone.
bool SetPathTimes(const QString &path, qint64 secondsSince1970);

// Adds the hidden attribute on Windows. Elsewhere there is no such attribute and
// nothing changes; the answer is true.
bool SetHidden(const QString &path);

// Whether the process runs as the POSIX superuser (root). Always false on Windows.
// The login browser's sandbox cannot start as root (e.g. in CI containers).
bool IsSuperUser();

// Who runs the process, as a text that tells users of one machine apart: the user id on
// POSIX, the user name on Windows.
QString UserId();

} // namespace Platform
