// The process-wide libcurl share: cookies, DNS answers and TLS sessions, with locks.
// Kept-alive connections are not shared across threads (libcurl does not support a
// shared connection cache between concurrent threads); each CUrlSession keeps its own.
//
// Cookies with an expiry persist in a Netscape-format file (mode 0600), "cookies.txt"
// in the working folder: Open() loads it, and it is written again whenever a response
// set a cookie and at exit. Cookies without an expiry (session cookies) live in memory
// only, as long as the process, as browsers keep them: they are never written to the
// file, and the file's own are not loaded.
//
// Several processes may share the file (the window and its login browser, corvadin-cli
// runs). A process writes it only when it changed one of its persistent cookies (added,
// replaced, removed or dropped to a session cookie) since it loaded or last wrote the
// file, and then only those: under the lock "cookies.txt.lock" beside the file
// (platform/FileLock) it rereads the file, puts its changed cookies over it, leaves every
// other cookie as it is and replaces the file atomically. Expired cookies go.
// Safe to call from any thread.
//
// The login browser mirrors its cookies into this store (AddLines / Remove), so every
// later request of any thread carries them. Cookie values are secrets: nothing here
// prints or logs them.
#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <optional>

typedef void CURLSH;

namespace CookieStore {

// One cookie as a line of a Netscape cookies.txt:
//   [#HttpOnly_]DOMAIN <TAB> TRUE|FALSE <TAB> PATH <TAB> TRUE|FALSE <TAB> EXPIRES <TAB> NAME <TAB> VALUE
// A DOMAIN with the subdomain flag TRUE is sent to that domain and its subdomains,
// with FALSE to that host only.
struct Entry {
    QString domain;              // as written; a domain cookie usually starts with "."
    bool includeSubdomains = false;
    QString path = QStringLiteral("/");
    bool secure = false;         // sent over https only
    qint64 expires = 0;          // seconds since 1970 (UTC); 0: ends with the session
    QString name;
    QString value;
    bool httpOnly = false;

    // The line, without a line end.
    QString Line() const;
    // Parses one cookie line (a line end is allowed). Answers nothing for blank and
    // comment lines; *error (when given) says what is wrong with a malformed one, naming
    // the field but never its contents.
    static std::optional<Entry> FromLine(QString line, QString *error = nullptr);
};

// Parses the text of a Netscape cookies.txt as browser extensions export it (comment
// lines, "#HttpOnly_" lines, CR LF or LF line ends, a UTF-8 byte-order mark). Answers
// false and sets *error to "line N: what is wrong" at the first malformed line; *lines
// then stays empty, so a bad file imports nothing.
bool ParseNetscape(const QByteArray &text, QStringList *lines, QString *error);

// The share every CUrlSession uses (created on first use; curl_global_init is done here).
CURLSH *Share();
// Drops the cookies in memory, loads the persistent cookies of `path` when it exists
// and saves to it from now on (an empty path: nothing is loaded or saved).
void Open(const QString &path);
// The file cookies are saved to; empty when none was opened.
QString Path();
// Writes this process's changes to the file now, merged as above (no-op without a path
// or while saving is off). Answers whether the file now holds them (true also when
// there was nothing to write).
bool Save();
// Turns writing the file on or off for the rest of the run (Open() turns it on). Off,
// the store still works in memory but the file stays as it was.
void SetSaving(bool enabled);
// Marks the cookies as changed; the next SaveIfChanged() writes them.
void MarkChanged();
void SaveIfChanged();
// Every cookie that has not expired, session cookies included, as a Netscape-format line.
QStringList Lines();
// Adds cookies given as Netscape-format lines ("#HttpOnly_" prefixes allowed); a line
// for a cookie already held (same domain, subdomain flag, path and name) replaces it.
void AddLines(const QStringList &lines);
// Removes the cookie with this domain (as Entry::domain, compared without regard to
// case), path and name; nothing when there is none.
void Remove(const QString &domain, const QString &path, const QString &name);
// Removes every cookie from memory (and this process's persistent ones from the file
// at the next save).
void Clear();
} // namespace CookieStore
