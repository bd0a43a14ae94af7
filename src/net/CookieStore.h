// The process-wide libcurl share: cookies, DNS answers and TLS sessions, with locks.
// Kept-alive connections are not shared across threads (libcurl does not support a
// shared connection cache between concurrent threads); each CUrlSession keeps its own.
//
// Cookies persist in a Netscape-format file (mode 0600), "cookies.txt" in the working
// folder: Open() loads it, and it is written again whenever a response set a cookie
// and at exit. Safe to call from any thread.
#pragma once

#include <QString>
#include <QStringList>

typedef void CURLSH;

namespace CookieStore {
// The share every CUrlSession uses (created on first use; curl_global_init is done here).
CURLSH *Share();
// Drops the cookies in memory, loads `path` when it exists and saves to it from now on
// (an empty path: nothing is loaded or saved).
void Open(const QString &path);
// The file cookies are saved to; empty when none was opened.
QString Path();
// Writes the cookies now (no-op without a path). Answers whether the file was written.
bool Save();
// Marks the cookies as changed; the next SaveIfChanged() writes them.
void MarkChanged();
void SaveIfChanged();
// Every cookie as a Netscape-format line.
QStringList Lines();
// Adds cookies given as Netscape-format lines ("#HttpOnly_" prefixes allowed).
void AddLines(const QStringList &lines);
// Removes every cookie from memory (not from the file until the next save).
void Clear();
} // namespace CookieStore
