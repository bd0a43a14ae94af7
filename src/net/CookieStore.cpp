#include "net/CookieStore.h"

#include "platform/FileLock.h"
#include "platform/SaveFile.h"

#include <QFile>
#include <QMap>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QStringList>

#include <curl/curl.h>

#include <atomic>
#include <cstdlib>
#include <ctime>
#include <mutex>

namespace {

struct Store {
    CURLSH *share = nullptr;
    // One lock per kind of shared data, as libcurl asks for.
    std::mutex locks[CURL_LOCK_DATA_LAST];

    std::mutex admin; // guards handle, path and stored
    CURL *handle = nullptr; // reads and writes the shared cookie jar
    QString path;
    // This process's persistent cookies as it last loaded or wrote them, by cookieKey:
    // what a save compares against to find what this process changed.
    QMap<QString, QString> stored;
    std::atomic<bool> changed {false};
    std::atomic<bool> saving {true};
    std::once_flag exitHook;
};

void lockData(CURL *, curl_lock_data data, curl_lock_access, void *userptr)
{
    static_cast<Store *>(userptr)->locks[data].lock();
}

void unlockData(CURL *, curl_lock_data data, void *userptr)
{
    static_cast<Store *>(userptr)->locks[data].unlock();
}

// Created on first use and never destroyed: sessions on other threads may still use
// the share while the process exits.
Store &store()
{
    static Store *s = [] {
        curl_global_init(CURL_GLOBAL_DEFAULT);
        auto *st = new Store;
        st->share = curl_share_init();
        curl_share_setopt(st->share, CURLSHOPT_LOCKFUNC, lockData);
        curl_share_setopt(st->share, CURLSHOPT_UNLOCKFUNC, unlockData);
        curl_share_setopt(st->share, CURLSHOPT_USERDATA, st);
        curl_share_setopt(st->share, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
        curl_share_setopt(st->share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
        curl_share_setopt(st->share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
        // CURL_LOCK_DATA_CONNECT is left out on purpose: libcurl does not support a
        // connection cache shared by handles that run at the same time on several
        // threads. Each CUrlSession keeps its own connections in its multi handle.
        st->handle = curl_easy_init();
        curl_easy_setopt(st->handle, CURLOPT_SHARE, st->share);
        curl_easy_setopt(st->handle, CURLOPT_COOKIEFILE, "");
        return st;
    }();
    return *s;
}

// libcurl keeps a replaced cookie that has expired until its next change of the jar
// (and never sends it); such lines are left out here.
bool expiredLine(const QString &line, qint64 now)
{
    const QStringList fields = line.split(QLatin1Char('\t'));
    if (fields.size() < 5)
        return false;
    bool ok = false;
    const qint64 expires = fields[4].toLongLong(&ok);
    return ok && expires > 0 && expires < now;
}

QStringList linesLocked(Store &s)
{
    QStringList out;
    curl_slist *list = nullptr;
    const qint64 now = qint64(std::time(nullptr));
    if (curl_easy_getinfo(s.handle, CURLINFO_COOKIELIST, &list) == CURLE_OK) {
        for (curl_slist *l = list; l; l = l->next) {
            const QString line = QString::fromUtf8(l->data);
            if (!expiredLine(line, now))
                out.append(line);
        }
        curl_slist_free_all(list);
    }
    return out;
}

bool isTrueFalse(const QString &field, bool *value)
{
    if (field.compare(QLatin1String("TRUE"), Qt::CaseInsensitive) == 0)
        *value = true;
    else if (field.compare(QLatin1String("FALSE"), Qt::CaseInsensitive) == 0)
        *value = false;
    else
        return false;
    return true;
}

bool hasControl(const QString &text)
{
    for (QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return true;
    }
    return false;
}

void addLinesLocked(Store &s, const QStringList &lines)
{
    for (const QString &line : lines) {
        const QString t = line.trimmed();
        if (t.isEmpty() || (t.startsWith(QLatin1Char('#')) && !t.startsWith(QLatin1String("#HttpOnly_"))))
            continue;
        curl_easy_setopt(s.handle, CURLOPT_COOKIELIST, t.toUtf8().constData());
    }
}

// Holders keep the lock for one read and one write of a small file; a process that
// waits this long is facing a stuck holder and gives up this save.
constexpr int kLockWaitMs = 10000;

// What makes two lines the same cookie: domain (ignoring case and a leading dot),
// subdomain flag, path and name, as libcurl tells its cookies apart.
QString cookieKey(const CookieStore::Entry &e)
{
    QString domain = e.domain.toLower();
    if (domain.startsWith(QLatin1Char('.')))
        domain.remove(0, 1);
    return domain + QLatin1Char('\t') + (e.includeSubdomains ? QLatin1Char('T') : QLatin1Char('F')) + QLatin1Char('\t') +
           e.path + QLatin1Char('\t') + e.name;
}

// The cookies among `lines` that belong in the file, by key: those with an expiry that
// has not passed. Lines the store cannot read back are left out.
QMap<QString, QString> persistentCookies(const QStringList &lines, qint64 now)
{
    QMap<QString, QString> out;
    for (const QString &line : lines) {
        const std::optional<CookieStore::Entry> e = CookieStore::Entry::FromLine(line);
        if (e && e->expires > 0 && e->expires >= now)
            out.insert(cookieKey(*e), e->Line());
    }
    return out;
}

QStringList fileLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
}

bool saveLocked(Store &s)
{
    if (s.path.isEmpty() || !s.saving)
        return false;
    s.changed = false; // a change from now on is saved by the next call
    const qint64 now = qint64(std::time(nullptr));
    const QMap<QString, QString> mine = persistentCookies(linesLocked(s), now);
    const QMap<QString, QString> before = persistentCookies(s.stored.values(), now);
    QStringList changed;
    for (auto it = mine.cbegin(); it != mine.cend(); ++it) {
        if (before.value(it.key()) != it.value())
            changed.append(it.key());
    }
    for (auto it = before.cbegin(); it != before.cend(); ++it) {
        if (!mine.contains(it.key()))
            changed.append(it.key());
    }
    if (changed.isEmpty()) {
        s.stored = mine;
        return true;
    }

    FileLock lock(s.path + QStringLiteral(".lock"));
    QMap<QString, QString> merged;
    if (lock.lock(kLockWaitMs)) {
        merged = persistentCookies(fileLines(s.path), now);
        for (const QString &key : std::as_const(changed)) {
            if (mine.contains(key))
                merged.insert(key, mine.value(key));
            else
                merged.remove(key);
        }
        QByteArray text = "# Netscape HTTP Cookie File\n# Written by Corvadin.\n\n";
        for (const QString &line : std::as_const(merged))
            text += line.toUtf8() + '\n';
        // The file holds session secrets: owner only.
        if (SaveFileAtomically(s.path, text, true)) {
            s.stored = mine;
            return true;
        }
    }
    s.changed = true; // the changes stay for the next save
    return false;
}

} // namespace

QString CookieStore::Entry::Line() const
{
    const QChar tab = QLatin1Char('\t');
    const auto flag = [](bool b) { return b ? QStringLiteral("TRUE") : QStringLiteral("FALSE"); };
    return (httpOnly ? QStringLiteral("#HttpOnly_") : QString()) + domain + tab + flag(includeSubdomains) + tab +
           path + tab + flag(secure) + tab + QString::number(expires) + tab + name + tab + value;
}

std::optional<CookieStore::Entry> CookieStore::Entry::FromLine(QString line, QString *error)
{
    const auto fail = [error](const QString &why) -> std::optional<Entry> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    if (error)
        error->clear();
    while (line.endsWith(QLatin1Char('\n')) || line.endsWith(QLatin1Char('\r')))
        line.chop(1);
    Entry e;
    static const QLatin1String httpOnlyPrefix("#HttpOnly_");
    if (line.startsWith(httpOnlyPrefix)) {
        e.httpOnly = true;
        line.remove(0, httpOnlyPrefix.size());
    } else if (line.trimmed().isEmpty() || line.startsWith(QLatin1Char('#'))) {
        return std::nullopt;
    }
    const QStringList f = line.split(QLatin1Char('\t'));
    if (f.size() != 7)
        return fail(QStringLiteral("expected 7 tab-separated fields, found %1").arg(f.size()));
    e.domain = f[0];
    if (e.domain.isEmpty())
        return fail(QStringLiteral("the domain (field 1) is empty"));
    // Never destroyed: the login browser's cookie notices can still arrive while the
    // process ends, after function-local statics are gone.
    static const QRegularExpression &badHost = *new QRegularExpression(QStringLiteral("[\\s;,/\\\\\"'=]"));
    if (hasControl(e.domain) || e.domain.contains(badHost))
        return fail(QStringLiteral("the domain (field 1) is not a host name"));
    if (!isTrueFalse(f[1], &e.includeSubdomains))
        return fail(QStringLiteral("field 2 (include subdomains) must be TRUE or FALSE"));
    e.path = f[2];
    if (!e.path.startsWith(QLatin1Char('/')) || hasControl(e.path))
        return fail(QStringLiteral("the path (field 3) must start with /"));
    if (!isTrueFalse(f[3], &e.secure))
        return fail(QStringLiteral("field 4 (secure) must be TRUE or FALSE"));
    // Some exporters write fractions of a second.
    static const QRegularExpression &expiry = *new QRegularExpression(QStringLiteral("^(\\d{1,18})(\\.\\d*)?$"));
    const QRegularExpressionMatch m = expiry.match(f[4]);
    if (!m.hasMatch())
        return fail(QStringLiteral("the expiry (field 5) must be a number of seconds"));
    e.expires = m.captured(1).toLongLong();
    e.name = f[5];
    if (e.name.isEmpty())
        return fail(QStringLiteral("the cookie's name (field 6) is empty"));
    if (hasControl(e.name))
        return fail(QStringLiteral("the cookie's name (field 6) holds a control character"));
    e.value = f[6];
    if (hasControl(e.value))
        return fail(QStringLiteral("the cookie's value (field 7) holds a control character"));
    return e;
}

bool CookieStore::ParseNetscape(const QByteArray &text, QStringList *lines, QString *error)
{
    lines->clear();
    QByteArrayView rest(text);
    if (rest.startsWith("\xEF\xBB\xBF"))
        rest = rest.sliced(3);
    QStringList out;
    int number = 0;
    while (!rest.isEmpty()) {
        ++number;
        const qsizetype end = rest.indexOf('\n');
        const QByteArrayView raw = end < 0 ? rest : rest.first(end);
        rest = end < 0 ? QByteArrayView() : rest.sliced(end + 1);
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString line = utf8(raw);
        if (utf8.hasError()) {
            *error = QStringLiteral("line %1: not UTF-8 text").arg(number);
            return false;
        }
        QString why;
        const std::optional<Entry> e = Entry::FromLine(line, &why);
        if (!why.isEmpty()) {
            *error = QStringLiteral("line %1: %2").arg(number).arg(why);
            return false;
        }
        if (e)
            out.append(e->Line());
    }
    *lines = out;
    return true;
}

CURLSH *CookieStore::Share()
{
    return store().share;
}

void CookieStore::Open(const QString &path)
{
    Store &s = store();
    {
        std::lock_guard<std::mutex> lock(s.admin);
        s.path = path;
        curl_easy_setopt(s.handle, CURLOPT_COOKIELIST, "ALL");
        // A session cookie in the file (written by an earlier version) ended with the
        // process that received it.
        if (!path.isEmpty())
            addLinesLocked(s, persistentCookies(fileLines(path), qint64(std::time(nullptr))).values());
        s.stored = persistentCookies(linesLocked(s), qint64(std::time(nullptr)));
        s.changed = false;
        s.saving = true;
    }
    std::call_once(s.exitHook, [] { std::atexit([] { CookieStore::SaveIfChanged(); }); });
}

QString CookieStore::Path()
{
    Store &s = store();
    std::lock_guard<std::mutex> lock(s.admin);
    return s.path;
}

bool CookieStore::Save()
{
    Store &s = store();
    std::lock_guard<std::mutex> lock(s.admin);
    return saveLocked(s);
}

void CookieStore::SetSaving(bool enabled)
{
    store().saving = enabled;
}

void CookieStore::MarkChanged()
{
    store().changed = true;
}

void CookieStore::SaveIfChanged()
{
    Store &s = store();
    if (!s.changed)
        return;
    std::lock_guard<std::mutex> lock(s.admin);
    if (s.changed && !s.path.isEmpty())
        saveLocked(s);
}

QStringList CookieStore::Lines()
{
    Store &s = store();
    std::lock_guard<std::mutex> lock(s.admin);
    return linesLocked(s);
}

void CookieStore::AddLines(const QStringList &lines)
{
    Store &s = store();
    std::lock_guard<std::mutex> lock(s.admin);
    addLinesLocked(s, lines);
    s.changed = true;
}

void CookieStore::Clear()
{
    Store &s = store();
    std::lock_guard<std::mutex> lock(s.admin);
    curl_easy_setopt(s.handle, CURLOPT_COOKIELIST, "ALL");
    s.changed = true;
}

void CookieStore::Remove(const QString &domain, const QString &path, const QString &name)
{
    Store &s = store();
    std::lock_guard<std::mutex> lock(s.admin);
    for (const QString &line : linesLocked(s)) {
        std::optional<Entry> e = Entry::FromLine(line);
        if (!e || e->name != name || e->path != path || e->domain.compare(domain, Qt::CaseInsensitive) != 0)
            continue;
        // libcurl has no call to drop one cookie: an expired copy replaces it, is never
        // sent, and goes at the jar's next change.
        e->expires = 1;
        e->value.clear();
        curl_easy_setopt(s.handle, CURLOPT_COOKIELIST, e->Line().toUtf8().constData());
        s.changed = true;
    }
}
