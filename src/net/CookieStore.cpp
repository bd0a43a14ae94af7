#include "net/CookieStore.h"

#include <QFile>
#include <QSaveFile>
#include <QStringList>

#include <curl/curl.h>

#include <atomic>
#include <cstdlib>
#include <mutex>

namespace {

struct Store {
    CURLSH *share = nullptr;
    // One lock per kind of shared data, as libcurl asks for.
    std::mutex locks[CURL_LOCK_DATA_LAST];

    std::mutex admin; // guards handle and path
    CURL *handle = nullptr; // reads and writes the shared cookie jar
    QString path;
    std::atomic<bool> changed {false};
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

QStringList linesLocked(Store &s)
{
    QStringList out;
    curl_slist *list = nullptr;
    if (curl_easy_getinfo(s.handle, CURLINFO_COOKIELIST, &list) == CURLE_OK) {
        for (curl_slist *l = list; l; l = l->next)
            out.append(QString::fromUtf8(l->data));
        curl_slist_free_all(list);
    }
    return out;
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

bool saveLocked(Store &s)
{
    if (s.path.isEmpty())
        return false;
    s.changed = false; // a change from now on is saved by the next call
    const QStringList lines = linesLocked(s);
    QSaveFile file(s.path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    // The file holds session secrets: owner only.
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    QByteArray text = "# Netscape HTTP Cookie File\n# Written by Corvadin.\n\n";
    for (const QString &line : lines)
        text += line.toUtf8() + '\n';
    file.write(text);
    return file.commit();
}

} // namespace

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
        QFile file(path);
        if (!path.isEmpty() && file.open(QIODevice::ReadOnly))
            addLinesLocked(s, QString::fromUtf8(file.readAll()).split(QLatin1Char('\n')));
        s.changed = false;
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
