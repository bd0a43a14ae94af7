// The process-wide libcurl share: cookies, DNS answers and TLS sessions, with locks.
// Kept-alive connections are not shared across threads (libcurl does not support a
// shared connection cache between concurrent threads); each CUrlSession keeps its own.
//
// Cookies persist in a Netscape-format file (mode 0600), "cookies.txt" in the working
// folder: Open() loads it, and it is written again whenever a response set a cookie
// and at exit. Safe to call from any thread.
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
// Drops the cookies in memory, loads `path` when it exists and saves to it from now on
// (an empty path: nothing is loaded or saved).
void Open(const QString &path);
// The file cookies are saved to; empty when none was opened.
QString Path();
// Writes the cookies now (no-op without a path or while saving is off). Answers whether
// the file was written.
bool Save();
// Turns writing the file on or off for the rest of the run (Open() turns it on). Off,
// the store still works in memory but the file stays as it was.
void SetSaving(bool enabled);
// Marks the cookies as changed; the next SaveIfChanged() writes them.
void MarkChanged();
void SaveIfChanged();
// Every cookie that has not expired, as a Netscape-format line.
QStringList Lines();
// Adds cookies given as Netscape-format lines ("#HttpOnly_" prefixes allowed); a line
// for a cookie already held (same domain, subdomain flag, path and name) replaces it.
void AddLines(const QStringList &lines);
// Removes the cookie with this domain (as Entry::domain, compared without regard to
// case), path and name; nothing when there is none.
void Remove(const QString &domain, const QString &path, const QString &name);
// Removes every cookie from memory (not from the file until the next save).
void Clear();
} // namespace CookieStore
