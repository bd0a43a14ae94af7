// The HTTP session through which every page, listing and picture is loaded, on libcurl.
//
// A CUrlSession belongs to one thread at a time and serves one request at a time; it
// keeps one curl easy handle and one multi handle (and so its kept-alive connections)
// across requests. Only Abort() may be called from another thread. Cookies, DNS answers
// and TLS sessions are shared by all sessions of the process through one libcurl share
// (see CookieStore.h).
//
// Behaviour worth knowing:
// - verb GET, the fixed agent text, `headers` sent as given, redirects followed (at
//   most 10), proxies from the environment, http and https (certificates verified), the
//   HTTP version libcurl chooses;
// - every content encoding libcurl has (gzip, deflate, br, zstd) is offered, unless
//   `headers` names its own Accept-Encoding, and every one it has is decoded: `body`,
//   the size limits and the page cap count decoded bytes;
// - the status, the declared length and the header values come from libcurl, header
//   names compared without regard to case; headerText keeps the raw header block for
//   the text conversions ("charset=GBK");
// - a final response with status 400 or above fails when its headers end; its body is
//   not read;
// - a declared length (of an answer not content-encoded) outside the limits fails
//   before any body byte is read; a body that grows past the maximum fails at once;
// - with savePath the body goes to a temporary file beside it as it arrives (through
//   libcurl's receive buffer, never whole in memory), is checked there, and is renamed
//   over the target only when complete (fdatasync first, so a picture reported saved is
//   whole after a power loss too); a failed, stopped or refused request leaves no file;
// - no C callback of libcurl ever lets an exception through (bad_alloc included): it
//   ends the transfer with a failure instead;
// - Fetch tells a failure that another try would only repeat from one that may pass;
//   it waits before each try as the back-off, the site's Retry-After and the process-wide
//   pacing per host (HostThrottle) ask.
#pragma once

#include <QByteArray>
#include <QString>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

// GetText options (bodies arrive decoded: only the text's encoding is chosen).
enum : unsigned {
    TEXT_UTF8 = 2,
    TEXT_EUCKR = 4,
    TEXT_BIG5 = 8,
    TEXT_AUTO_UTF8 = 16,
};

// A body larger than this is a failed request, whatever maxSizeKB says, so a hostile
// page cannot take unbounded memory: a page is held in memory, counted in decoded bytes
// (a few compressed bytes can stand for gigabytes). Pictures go to a file and get a
// larger bound, so a hostile host cannot fill the disk either.
inline constexpr qint64 PAGE_BODY_CAP = 64ll * 1024 * 1024;
inline constexpr qint64 FILE_BODY_CAP = 512ll * 1024 * 1024;
// The longest a page request (one without savePath) may take as a whole: a site that
// trickles a page without end would otherwise hold the reader for ever, each piece
// arriving just within the read time-out.
inline constexpr uint32_t PAGE_TIME_CAP_MS = 5 * 60 * 1000;

// True unless the bytes start like a JPEG, PNG or GIF and end before that format's end
// (JPEG's EOI marker, PNG's IEND chunk, GIF's trailer), found by walking the format's
// segments, chunks or blocks, so data after the end and thumbnails inside are fine; or
// start like a WebP shorter than its RIFF header's length; or like an ISO media file
// (AVIF, HEIC: an ftyp box first) whose top-level boxes do not fill the bytes exactly or
// lack the description (meta/moov) or the coded data (mdat). Bytes of any other kind are
// not judged. Linear in the size; no allocation.
bool IsPictureComplete(const char *data, qsizetype size);
// The same for a file's bytes (a device open for reading that can seek), read through a
// small window: the file may be far larger than what should be held in memory. A file
// that cannot be read is not complete. windowBytes: the window's size (at least 16).
class QIODevice;
bool IsPictureComplete(QIODevice &file, qsizetype windowBytes = 65536);

// The request description; owned by the caller and only read by the session.
struct ST_URLREQUEST {
    ST_URLREQUEST(const QString &url = {}, const QString &savePath = {}, uint32_t timeoutMs = 20000)
        : url(url), savePath(savePath), readTimeoutMs(timeoutMs), stepTimeoutMs(timeoutMs),
          totalTimeoutMs(savePath.isEmpty() ? PAGE_TIME_CAP_MS : 0)
    {
    }

    QString url;               // scheme, host, optional port, path and query
    QString headers;           // extra header lines, each ended by CR LF, sent unchanged
    QString savePath;          // when set, the body is written to this file (and not kept)
    uint32_t readTimeoutMs;    // longest gap between two pieces of the body; 0 = none
    uint32_t stepTimeoutMs;    // bound on everything up to the end of the final
                               // response's headers (connect, redirects); 0 = none
    uint32_t totalTimeoutMs;   // bound on the whole request; 0 = none. Constructed as
                               // PAGE_TIME_CAP_MS without a savePath, else 0
    uint32_t minSizeKB = 0;    // smallest acceptable body, KB; 0 = no minimum
    uint32_t maxSizeKB = 0;    // largest acceptable body, KB; 0 = no maximum
    uint32_t minTextLength = 0; // Fetch accepts a body only if longer than this; 0 = no check
    uint8_t attempts = 1;      // tries made by Fetch
    uint8_t retryDelaySeconds = 1; // pause after each failed try but the last
    // Exponential back-off instead of retryDelaySeconds, when set: the pause after failed
    // try k is backoffBaseMs * 2^(k-1), at most backoffMaxMs, less a random part of up to
    // a half (so that workers failing together do not come back together).
    uint32_t backoffBaseMs = 0;
    uint32_t backoffMaxMs = 30000;
    // A 429 or 503 answer's Retry-After (seconds or an HTTP date) lengthens the pause to
    // what the site asks; a wait above this fails the request at once instead.
    uint32_t retryAfterMaxMs = 120000;
    // Least time between the starts of two requests to this request's host (host and
    // port), across every session of the process; 0: none.
    uint32_t requestGapMs = 0;
    // The low-speed floor: a transfer that moves fewer than lowSpeedBytesPerSecond
    // bytes a second for lowSpeedSeconds in a row (waiting for the answer included)
    // fails ("too slow"), so a host that trickles a byte now and then within the read
    // time-out cannot hold a worker for ever. 0: none.
    uint32_t lowSpeedBytesPerSecond = 0;
    uint32_t lowSpeedSeconds = 0;
    // A response declaring itself an HTML page fails before its body is read: a picture
    // request must never save a site's error page as a picture.
    bool refuseHtml = false;
    // A body that IsPictureComplete rejects fails ("incomplete picture"): a server that
    // declared fewer bytes than the picture has, or closed early without a declared
    // length, would otherwise leave half a picture that looks like a whole one.
    bool refusePartialPicture = false;
    // Polled while a transfer runs and during retry pauses; true stops the request at
    // once (a stop of the run). Empty: never.
    std::function<bool()> shouldAbort;
};

class CUrlSession {
public:
    CUrlSession();
    ~CUrlSession();
    CUrlSession(const CUrlSession &) = delete;
    CUrlSession &operator=(const CUrlSession &) = delete;

    // One complete request: true when the response arrived whole, had a status below
    // 400 and passed the size limits.
    bool Request(const ST_URLREQUEST &request);
    // Request with retries and the minTextLength check; attempts 0 sends nothing.
    // - Each try first waits its turn at the host (HostThrottle: holds and requestGapMs).
    // - A failure that another try would only repeat ends it at once: a status from 400
    //   to 499 but 408 and 429, a size outside the limits, an HTML page for a picture, a
    //   body above the hard cap, a redirect loop, an unknown host, a bad address.
    //   Time-outs, resets, truncated bodies, 408, 429 and 5xx are tried again.
    // - A 429, and a 503 with Retry-After, hold the host for every session as long as
    //   the site asked (a 429 without Retry-After: this try's back-off): the site asked
    //   the client to slow down, not one connection. A Retry-After above
    //   retryAfterMaxMs ends the request at once ("HTTP 429 (asked to wait N s)").
    // - With refusePartialPicture, a body that arrived whole by HTTP (its declared length
    //   or the chunked end) but ends before its picture's end is fetched once more, also
    //   past `attempts`. If the same bytes come back, the site keeps the picture that way:
    //   they are saved and warningText says so (the bodies are compared by their SHA-256,
    //   taken as they arrive). A short read stays a failure.
    bool Fetch(const ST_URLREQUEST &request);
    // The body of the last request as text (charset rules, then DecodeHtmlEntities).
    QString GetText(unsigned options) const;

    // Stops the transfer in flight, or the retry pause (the reason is then "aborted"), from
    // any thread. The session stays aborted until the next Request/Fetch begins.
    void Abort();

    // Result of the last request.
    QString headerText;   // raw headers of the last response that delivered them
    QByteArray body;      // body bytes (decoded) received by the last request without a
                          // savePath; with one they went to the file and this stays empty
    qint64 received = 0;  // body bytes (decoded) the last request received, either way

    // Diagnostics for summaries (not part of the request's result).
    int statusCode = 0;    // HTTP status of the last final response, 0 when none arrived
    // Why the last request failed ("timed out", "HTTP 404", "too large", "aborted",
    // "connection reset", "truncated", "too slow", "file not written: ..." when savePath
    // could not be written ...); empty otherwise.
    QString errorText;
    bool savedToFile = false; // savePath was written completely and renamed into place
    // Why Fetch's success is not quite one ("the site keeps it cut short"); empty otherwise.
    QString warningText;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
