#include "net/HostThrottle.h"

#include <QHash>
#include <QUrl>

#include <chrono>
#include <mutex>

namespace {

using Clock = std::chrono::steady_clock;

struct HostState {
    Clock::time_point holdUntil;  // no start before this
    Clock::time_point lastStart;  // the last request's start
    bool started = false;
};

std::mutex g_mutex;
QHash<QString, HostState> g_hosts; // guarded by g_mutex; one entry per host ever asked

qint64 msUntil(Clock::time_point then, Clock::time_point now)
{
    // Rounded up, so that a caller waking after this many ms finds the time passed.
    return std::chrono::ceil<std::chrono::milliseconds>(then - now).count();
}

} // namespace

namespace HostThrottle {

QString HostKey(const QString &url)
{
    const QUrl u(url, QUrl::TolerantMode);
    if (u.host().isEmpty())
        return {};
    const int port = u.port(u.scheme().toLower() == QLatin1String("https") ? 443 : 80);
    return u.host().toLower() + QLatin1Char(':') + QString::number(port);
}

qint64 TryStart(const QString &host, uint32_t gapMs)
{
    const Clock::time_point now = Clock::now();
    std::lock_guard lock(g_mutex);
    HostState &h = g_hosts[host];
    Clock::time_point allowed = h.holdUntil;
    if (gapMs > 0 && h.started)
        allowed = std::max(allowed, h.lastStart + std::chrono::milliseconds(gapMs));
    if (allowed > now)
        return std::max<qint64>(1, msUntil(allowed, now));
    h.lastStart = now;
    h.started = true;
    return 0;
}

void Hold(const QString &host, qint64 ms)
{
    if (ms <= 0)
        return;
    const Clock::time_point until = Clock::now() + std::chrono::milliseconds(ms);
    std::lock_guard lock(g_mutex);
    HostState &h = g_hosts[host];
    h.holdUntil = std::max(h.holdUntil, until);
}

void Clear()
{
    std::lock_guard lock(g_mutex);
    g_hosts.clear();
}

} // namespace HostThrottle
