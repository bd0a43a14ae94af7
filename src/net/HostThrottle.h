// Process-wide pacing of the requests to each host, shared by every session.
//
// A site that answers 429 (or 503 with a Retry-After) is overloaded as a whole, not on
// one connection: Hold() makes every session of the process wait before its next
// request to that host, not only the one that was told. A least gap between the starts
// of two requests to one host (the CLI's --sleep-request) is kept across all threads.
//
// Hosts are "host:port" in lower case (HostKey). All functions are thread-safe and
// never block: callers wait on their own, so that a stop can cut the wait short.
#pragma once

#include <QString>
#include <cstdint>

namespace HostThrottle {

// The key of a request address's host; empty for an address without one.
QString HostKey(const QString &url);

// Claims the start of a request to `host` now, if it may start: answers 0 and records
// the start. Otherwise answers how many milliseconds the caller should wait before
// asking again (the end of a hold, or of the gap after the last start).
qint64 TryStart(const QString &host, uint32_t gapMs);

// No request to `host` starts during the next `ms` milliseconds (an earlier, longer
// hold stays).
void Hold(const QString &host, qint64 ms);

// Forgets every hold and start (tests).
void Clear();

} // namespace HostThrottle
