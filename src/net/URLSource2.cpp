#include "net/URLSource2.h"

#include "net/CookieStore.h"
#include "net/HostThrottle.h"
#include "platform/SaveFile.h"
#include "text/StringCtrl.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QRandomGenerator>
#include <QUrl>

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <limits>
#include <new>
#include <optional>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

const char kAgent[] =
    "Mozilla/5.0 (Windows NT 5.1) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/44.0.12.87 Safari/537.36";
constexpr long kMaxRedirects = 10; // so that a redirect loop ends
constexpr int kAbortPollMs = 50;   // shouldAbort is asked at least this often
// libcurl's receive buffer: the most a write callback is handed at once, and so the
// only buffer a picture passes through on its way to the disk.
constexpr long kReadBufferBytes = 102400;

Clock::time_point deadlineAfter(Clock::time_point from, uint32_t ms)
{
    return ms == 0 ? Clock::time_point::max() : from + std::chrono::milliseconds(ms);
}

// How long a Retry-After value asks the client to wait, in ms: delay seconds or an HTTP
// date (as libcurl reads dates); -1 without a readable one.
qint64 retryAfterMs(const std::optional<QByteArray> &value)
{
    if (!value || value->isEmpty())
        return -1;
    if (std::all_of(value->begin(), value->end(), [](char c) { return c >= '0' && c <= '9'; }))
        return value->size() > 9 ? std::numeric_limits<qint64>::max() : value->toLongLong() * 1000;
    const time_t at = curl_getdate(value->constData(), nullptr);
    if (at == time_t(-1))
        return -1;
    return std::max<qint64>(0, qint64(at) * 1000 - QDateTime::currentMSecsSinceEpoch());
}

// The reasons are fixed English words that scripts read; the window translates them through
// ReasonText (net/Reasons.cpp), which needs a row for each new one.
QString errorFor(CURLcode rc, const char *detail)
{
    switch (rc) {
    case CURLE_OPERATION_TIMEDOUT:
        // The low-speed floor ends a transfer with the same code as a time-out.
        if (detail && std::strncmp(detail, "Operation too slow", 18) == 0)
            return QStringLiteral("too slow");
        return QStringLiteral("timed out");
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY: return QStringLiteral("host not found");
    case CURLE_COULDNT_CONNECT: return QStringLiteral("connection refused");
    case CURLE_GOT_NOTHING:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR: return QStringLiteral("connection reset");
    case CURLE_PARTIAL_FILE: return QStringLiteral("truncated");
    case CURLE_TOO_MANY_REDIRECTS: return QStringLiteral("too many redirects");
    case CURLE_URL_MALFORMAT: return QStringLiteral("bad address");
    case CURLE_BAD_CONTENT_ENCODING: return QStringLiteral("damaged compressed body");
    default: break;
    }
    const QString text = detail && *detail ? QString::fromUtf8(detail) : QString::fromUtf8(curl_easy_strerror(rc));
    return text;
}

using Byte = unsigned char;

// The bytes a completeness check reads: all in memory.
class MemoryBytes {
public:
    MemoryBytes(const char *data, qsizetype size) : m_p(reinterpret_cast<const Byte *>(data)), m_n(size) {}
    qsizetype size() const { return m_n; }
    Byte at(qsizetype i) { return m_p[i]; }
    bool equal(qsizetype i, const char *text, qsizetype length) { return std::memcmp(m_p + i, text, size_t(length)) == 0; }
    // Index of the next 0xFF from `from` on, or -1.
    qsizetype findFF(qsizetype from)
    {
        const void *ff = std::memchr(m_p + from, 0xFF, size_t(m_n - from));
        return ff ? static_cast<const Byte *>(ff) - m_p : -1;
    }
    bool failed() const { return false; }

private:
    const Byte *m_p;
    qsizetype m_n;
};

// The bytes of a file (any device that can seek), read through a window: the checks go
// forward, skipping segments, so each part of the file is read about once.
class FileBytes {
public:
    FileBytes(QIODevice &file, qsizetype windowBytes)
        : m_file(file), m_n(file.size()), m_window(size_t(std::max<qsizetype>(16, windowBytes)))
    {
    }
    qsizetype size() const { return m_n; }
    Byte at(qsizetype i) { return load(i, 1) ? m_window[size_t(i - m_start)] : 0; }
    bool equal(qsizetype i, const char *text, qsizetype length)
    {
        return load(i, length) && std::memcmp(m_window.data() + (i - m_start), text, size_t(length)) == 0;
    }
    qsizetype findFF(qsizetype from)
    {
        for (qsizetype i = from; i < m_n; i = m_start + m_length) {
            if (!load(i, 1))
                return -1;
            const Byte *at = m_window.data() + (i - m_start);
            if (const void *ff = std::memchr(at, 0xFF, size_t(m_length - (i - m_start))))
                return m_start + (static_cast<const Byte *>(ff) - m_window.data());
        }
        return -1;
    }
    bool failed() const { return m_failed; }

private:
    // Bytes [i, i + length) in the window (length <= 16, i + length <= size()).
    bool load(qsizetype i, qsizetype length)
    {
        if (i >= m_start && i + length <= m_start + m_length)
            return true;
        const qint64 want = std::min<qint64>(qint64(m_window.size()), m_n - i);
        if (m_failed || !m_file.seek(i) || m_file.read(reinterpret_cast<char *>(m_window.data()), want) != want) {
            m_failed = true;
            m_start = m_length = 0;
            return false;
        }
        m_start = i;
        m_length = qsizetype(want);
        return i + length <= m_start + m_length;
    }

    QIODevice &m_file;
    qsizetype m_n;
    std::vector<Byte> m_window;
    qsizetype m_start = 0, m_length = 0;
    bool m_failed = false;
};

template <typename B> quint32 bigEndian32(B &b, qsizetype i)
{
    return (quint32(b.at(i)) << 24) | (quint32(b.at(i + 1)) << 16) | (quint32(b.at(i + 2)) << 8) | quint32(b.at(i + 3));
}

// JPEG: segments from SOI on, each entropy-coded scan up to its next marker, until EOI.
template <typename B> bool jpegComplete(B &b)
{
    const qsizetype n = b.size();
    qsizetype i = 2;
    for (;;) {
        // Up to the next marker; fill bytes 0xFF may come before it.
        i = b.findFF(i);
        if (i < 0)
            return false;
        while (i < n && b.at(i) == 0xFF)
            ++i;
        if (i >= n)
            return false;
        const Byte marker = b.at(i++);
        if (marker == 0xD9)
            return true; // EOI
        if (marker == 0x00 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7))
            continue; // no length follows
        if (i + 2 > n)
            return false;
        const qsizetype length = (qsizetype(b.at(i)) << 8) | b.at(i + 1);
        if (length < 2)
            return false;
        i += length;
        if (i > n)
            return false;
        if (marker != 0xDA)
            continue;
        // Scan data: a 0xFF is followed by 0x00 (a stuffed byte), a restart marker or
        // fill; anything else is the next marker.
        for (;;) {
            i = b.findFF(i);
            if (i < 0 || i + 1 >= n)
                return false;
            const Byte next = b.at(i + 1);
            if (next == 0x00 || (next >= 0xD0 && next <= 0xD7))
                i += 2;
            else if (next == 0xFF)
                i += 1;
            else
                break;
        }
    }
}

// PNG: chunks (length, type, data, CRC) after the signature, until IEND.
template <typename B> bool pngComplete(B &b)
{
    const qsizetype n = b.size();
    qsizetype i = 8;
    for (;;) {
        if (i + 12 > n)
            return false;
        const quint32 length = bigEndian32(b, i);
        if (length > 0x7FFFFFFFu)
            return false;
        if (b.equal(i + 4, "IEND", 4))
            return true;
        i += 12 + qsizetype(length);
    }
}

// GIF: header, screen descriptor and colour table, then extensions and images (each
// ending in an empty sub-block) until the trailer 0x3B.
template <typename B> bool gifComplete(B &b)
{
    const qsizetype n = b.size();
    auto colourTable = [](Byte flags) { return (flags & 0x80) ? 3 * (qsizetype(2) << (flags & 7)) : 0; };
    auto skipSubBlocks = [&](qsizetype &i) {
        for (;;) {
            if (i >= n)
                return false;
            const Byte size = b.at(i++);
            if (size == 0)
                return true;
            i += size;
        }
    };
    if (n < 13)
        return false;
    qsizetype i = 13 + colourTable(b.at(10));
    for (;;) {
        if (i >= n)
            return false;
        const Byte block = b.at(i++);
        if (block == 0x3B)
            return true;
        if (block == 0x21) { // extension: label, then sub-blocks
            ++i;
            if (!skipSubBlocks(i))
                return false;
        } else if (block == 0x2C) { // image: descriptor, colour table, LZW size, sub-blocks
            if (i + 9 > n)
                return false;
            i += 9 + colourTable(b.at(i + 8));
            ++i;
            if (!skipSubBlocks(i))
                return false;
        } else {
            return false;
        }
    }
}

// WebP: a RIFF file; its header declares the length of everything after the first 8 bytes.
template <typename B> bool webpComplete(B &b)
{
    const quint32 length = quint32(b.at(4)) | (quint32(b.at(5)) << 8) | (quint32(b.at(6)) << 16) | (quint32(b.at(7)) << 24);
    return length >= 4 && b.size() >= 8 + qsizetype(length);
}

// ISO media (AVIF, HEIC): boxes at the top level, each declaring its length, filling the
// bytes exactly, among them the description (meta, or moov for a sequence) and the coded
// data (mdat); a box that runs past the end was cut, and so was a file that ends before
// its data. A size of 0 means "to the end".
template <typename B> bool isoMediaComplete(B &b)
{
    const qsizetype n = b.size();
    bool description = false, data = false;
    qsizetype i = 0;
    while (i < n) {
        if (i + 8 > n)
            return false;
        description = description || b.equal(i + 4, "meta", 4) || b.equal(i + 4, "moov", 4);
        data = data || b.equal(i + 4, "mdat", 4);
        quint64 size = bigEndian32(b, i);
        if (size == 0)
            break;
        if (size == 1) { // a 64-bit length follows the type
            if (i + 16 > n)
                return false;
            size = (quint64(bigEndian32(b, i + 8)) << 32) | bigEndian32(b, i + 12);
            if (size < 16)
                return false;
        } else if (size < 8) {
            return false;
        }
        if (size > quint64(n - i))
            return false;
        i += qsizetype(size);
    }
    return description && data;
}

template <typename B> bool pictureComplete(B &b)
{
    const qsizetype size = b.size();
    bool complete = true;
    if (size >= 3 && b.at(0) == 0xFF && b.at(1) == 0xD8 && b.at(2) == 0xFF)
        complete = jpegComplete(b);
    else if (size >= 8 && b.equal(0, "\x89PNG\r\n\x1a\n", 8))
        complete = pngComplete(b);
    else if (size >= 6 && (b.equal(0, "GIF87a", 6) || b.equal(0, "GIF89a", 6)))
        complete = gifComplete(b);
    else if (size >= 12 && b.equal(0, "RIFF", 4) && b.equal(8, "WEBP", 4))
        complete = webpComplete(b);
    else if (size >= 8 && b.equal(4, "ftyp", 4))
        complete = isoMediaComplete(b);
    return complete && !b.failed();
}

} // namespace

bool IsPictureComplete(const char *data, qsizetype size)
{
    MemoryBytes bytes(data, size);
    return pictureComplete(bytes);
}

bool IsPictureComplete(QIODevice &file, qsizetype windowBytes)
{
    if (!file.isOpen() || !file.isReadable() || file.isSequential())
        return false;
    FileBytes bytes(file, windowBytes);
    return pictureComplete(bytes);
}

struct CUrlSession::Impl {
    CUrlSession *q = nullptr;
    CURL *easy = nullptr;
    CURLM *multi = nullptr; // keeps the session's connections alive between requests
    curl_slist *headerList = nullptr;
    char errorBuffer[CURL_ERROR_SIZE] = {};
    std::atomic<bool> aborted {false};

    // State of the request in flight, touched only by the requesting thread (the
    // callbacks run inside curl_multi_perform).
    QByteArray pending;        // header lines of the response being read
    bool inBody = false;       // the final response's headers are complete
    bool cookieSet = false;    // some response set a cookie
    QString failure;           // why a callback stopped the transfer
    quint64 minBytes = 0;
    quint64 maxBytes = 0;      // 0: none
    quint64 capBytes = 0;
    bool refuseHtml = false;
    bool hopeless = false;     // the failure would repeat on another try
    bool cutShort = false;     // a picture that came whole by HTTP lacks its end
    Clock::time_point lastData;
    Clock::time_point totalDeadline;

    // A request with a savePath: the body goes to `part` as it arrives, hashed on the
    // way for the "cut short" comparison of Fetch.
    QString savePath;
    PartFile part;
    QCryptographicHash digest {QCryptographicHash::Sha256};

    bool stopRequested(const ST_URLREQUEST &request) const
    {
        return aborted || (request.shouldAbort && request.shouldAbort());
    }

    // A header value of the last response that libcurl has read, found without regard to
    // the name's case.
    std::optional<QByteArray> headerOf(const char *name) const
    {
        curl_header *h = nullptr;
        if (curl_easy_header(easy, name, 0, CURLH_HEADER, -1, &h) != CURLHE_OK || !h)
            return std::nullopt;
        return QByteArray(h->value);
    }

    // The C callbacks: nothing may leave them by an exception, so each one ends the
    // transfer with a failure instead (returning a count that is not the one handed in).
    template <typename F> size_t guarded(size_t failValue, F &&f)
    {
        try {
            return f();
        } catch (const std::bad_alloc &) {
            failure = QStringLiteral("out of memory");
        } catch (const std::exception &e) {
            failure = QString::fromLocal8Bit(e.what());
        } catch (...) {
            failure = QStringLiteral("unexpected error");
        }
        hopeless = true;
        return failValue;
    }

    static size_t onHeader(char *data, size_t size, size_t count, void *userdata)
    {
        Impl *d = static_cast<Impl *>(userdata);
        const size_t n = size * count;
        return d->guarded(0, [&] { return d->header(data, n); });
    }

    static size_t onBody(char *data, size_t size, size_t count, void *userdata)
    {
        Impl *d = static_cast<Impl *>(userdata);
        const size_t n = size * count;
        return d->guarded(0, [&] { return d->bodyPiece(data, n); });
    }

    size_t header(const char *data, size_t size)
    {
        const QByteArray line(data, qsizetype(size));
        if (line.startsWith("HTTP/"))
            pending.clear();
        pending += line;
        if (line.size() > 11 && line.left(11).toLower() == "set-cookie:")
            cookieSet = true;
        if (line != "\r\n" && line != "\n")
            return size;

        // The end of one response's headers.
        long code = 0;
        curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &code);
        const int status = int(code);
        if (status >= 100 && status < 200) {
            pending.clear();
            return size;
        }
        if (status >= 300 && status < 400 && status != 304 && headerOf("Location"))
            return size; // libcurl follows it; only the final response counts
        q->headerText = QString::fromLatin1(pending);
        q->statusCode = status;
        inBody = true;
        lastData = Clock::now();
        if (status >= 400) {
            failure = QStringLiteral("HTTP %1").arg(status);
            // The same answer again, but for a time-out (408), throttling (429) and
            // the server's own errors (5xx).
            hopeless = status < 500 && status != 408 && status != 429;
            return 0;
        }
        if (refuseHtml) {
            const QByteArray type = headerOf("Content-Type").value_or(QByteArray()).trimmed().toLower();
            if (type.startsWith("text/html")) {
                failure = QStringLiteral("not a picture (text/html)");
                hopeless = true;
                return 0;
            }
        }
        // The declared length counts the bytes as sent: it says nothing of a decoded
        // body's size.
        const QByteArray coding = headerOf("Content-Encoding").value_or(QByteArray()).trimmed().toLower();
        curl_off_t declared = -1;
        if ((coding.isEmpty() || coding == "identity") && headerOf("Content-Length"))
            curl_easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &declared);
        if (declared >= 0) {
            if (quint64(declared) < minBytes) {
                failure = QStringLiteral("too small");
                hopeless = true;
                return 0;
            }
            if ((maxBytes && quint64(declared) > maxBytes) || quint64(declared) > capBytes) {
                failure = QStringLiteral("too large");
                hopeless = true;
                return 0;
            }
        }
        if (!savePath.isEmpty()) {
            // The file is made before the first body byte: a folder that refuses it
            // fails the request before anything is downloaded in vain.
            QString why;
            if (!part.Open(savePath, false, &why)) {
                failure = QStringLiteral("file not written: ") + why;
                hopeless = true;
                return 0;
            }
        }
        return size;
    }

    size_t bodyPiece(const char *data, size_t size)
    {
        if (!inBody)
            return size; // the body of a redirect
        lastData = Clock::now();
        const quint64 have = quint64(q->received) + size;
        if ((maxBytes && have > maxBytes) || have > capBytes) {
            failure = QStringLiteral("too large");
            hopeless = true;
            return 0;
        }
        if (part.isOpen()) {
            QString why;
            if (!part.Write(data, qint64(size), &why)) {
                failure = QStringLiteral("file not written: ") + why;
                hopeless = true;
                return 0;
            }
            digest.addData(QByteArrayView(data, qsizetype(size)));
        } else {
            q->body.append(data, qsizetype(size));
        }
        q->received = qint64(have);
        return size;
    }

    bool run(const ST_URLREQUEST &request);
    CURLcode transfer(const ST_URLREQUEST &request, Clock::time_point headersDeadline);
    bool pause(const ST_URLREQUEST &request, qint64 ms);
    bool awaitTurn(const ST_URLREQUEST &request, const QString &host);
    static qint64 backoffMs(const ST_URLREQUEST &request, int attempt);
    bool commit();
};

CUrlSession::CUrlSession() : d(std::make_unique<Impl>())
{
    d->q = this;
    CURLSH *share = CookieStore::Share(); // also initialises libcurl
    d->easy = curl_easy_init();
    d->multi = curl_multi_init();
    CURL *e = d->easy;
    curl_easy_setopt(e, CURLOPT_SHARE, share);
    curl_easy_setopt(e, CURLOPT_COOKIEFILE, ""); // the cookie engine, on the shared jar
    curl_easy_setopt(e, CURLOPT_USERAGENT, kAgent);
    curl_easy_setopt(e, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(e, CURLOPT_MAXREDIRS, kMaxRedirects);
    // A proxy's CONNECT answer is not the response.
    curl_easy_setopt(e, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    // Every encoding this libcurl can decode is offered, and the body arrives decoded.
    curl_easy_setopt(e, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_BUFFERSIZE, kReadBufferBytes);
    curl_easy_setopt(e, CURLOPT_ERRORBUFFER, d->errorBuffer);
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &Impl::onHeader);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, d.get());
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &Impl::onBody);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, d.get());
}

CUrlSession::~CUrlSession()
{
    curl_multi_cleanup(d->multi);
    curl_easy_cleanup(d->easy);
    curl_slist_free_all(d->headerList);
}

bool CUrlSession::Request(const ST_URLREQUEST &request)
{
    d->aborted = false;
    const bool ok = d->run(request);
    d->part.Discard(); // a picture cut short is kept only for Fetch's second look
    return ok;
}

bool CUrlSession::Fetch(const ST_URLREQUEST &request)
{
    d->aborted = false;
    warningText.clear();
    if (request.attempts == 0) {
        errorText = QStringLiteral("no attempts");
        return false;
    }
    const QString host = HostThrottle::HostKey(request.url);
    QByteArray cutDigest; // of an earlier body that came whole by HTTP but cut short
    int tries = request.attempts;
    for (int attempt = 1;; ++attempt) {
        if (!d->awaitTurn(request, host))
            return false;
        if (d->run(request)) {
            if (request.minTextLength == 0 || quint64(body.size()) > request.minTextLength)
                return true;
            errorText = QStringLiteral("too short");
        } else if (d->cutShort) {
            const QByteArray digest = d->digest.result();
            if (digest == cutDigest) {
                // The same bytes twice: the site keeps the picture that way.
                errorText.clear();
                warningText = QStringLiteral("the site keeps it cut short");
                return d->commit();
            }
            if (cutDigest.isEmpty())
                tries = std::max(tries, attempt + 1);
            cutDigest = digest;
        }
        d->part.Discard();
        if (d->stopRequested(request))
            return false;

        // The pause before the next try: the back-off, or what the site asks if longer.
        qint64 wait = Impl::backoffMs(request, attempt);
        const qint64 asked = statusCode == 429 || statusCode == 503 ? retryAfterMs(d->headerOf("Retry-After")) : -1;
        if (asked > qint64(request.retryAfterMaxMs)) {
            errorText += QStringLiteral(" (asked to wait %1 s)").arg(asked / 1000);
            return false;
        }
        // Everyone waits as long as the site asked; without a Retry-After, a 429 holds
        // them for this session's back-off.
        if (statusCode == 429 || asked >= 0)
            HostThrottle::Hold(host, asked >= 0 ? asked : wait);
        wait = std::max(wait, asked);
        if (d->hopeless || attempt >= tries)
            return false;
        if (!d->pause(request, wait))
            return false;
    }
}

bool CUrlSession::Impl::run(const ST_URLREQUEST &request)
{
    part.Discard();
    digest.reset();
    q->body.clear();
    q->received = 0;
    q->statusCode = 0;
    q->errorText.clear();
    q->savedToFile = false;
    pending.clear();
    inBody = false;
    cookieSet = false;
    failure.clear();
    hopeless = false;
    cutShort = false;
    errorBuffer[0] = 0;
    minBytes = quint64(request.minSizeKB) * 1024;
    maxBytes = quint64(request.maxSizeKB) * 1024;
    capBytes = quint64(request.savePath.isEmpty() ? PAGE_BODY_CAP : FILE_BODY_CAP);
    savePath = request.savePath;
    refuseHtml = request.refuseHtml;

    if (stopRequested(request)) {
        q->errorText = QStringLiteral("aborted");
        return false;
    }
    const QUrl url(request.url, QUrl::TolerantMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty()
        || (scheme != QLatin1String("http") && scheme != QLatin1String("https"))) {
        q->errorText = QStringLiteral("bad address");
        return false;
    }
    curl_easy_setopt(easy, CURLOPT_URL, url.toEncoded().constData());
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, long(request.lowSpeedSeconds ? request.lowSpeedBytesPerSecond : 0));
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, long(request.lowSpeedBytesPerSecond ? request.lowSpeedSeconds : 0));

    curl_slist *list = nullptr;
    const QStringList lines = request.headers.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    for (const QString &line : lines)
        list = curl_slist_append(list, line.toUtf8().constData());
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, list);
    curl_slist_free_all(headerList);
    headerList = list;

    const Clock::time_point headersDeadline = deadlineAfter(Clock::now(), request.stepTimeoutMs);
    totalDeadline = deadlineAfter(Clock::now(), request.totalTimeoutMs);
    CURLcode rc = transfer(request, headersDeadline);
    long newConnections = 1;
    curl_easy_getinfo(easy, CURLINFO_NUM_CONNECTS, &newConnections);
    if (failure.isEmpty() && !inBody && newConnections == 0
        && (rc == CURLE_UNSUPPORTED_PROTOCOL || rc == CURLE_WEIRD_SERVER_REPLY)) {
        // A kept-alive connection still held the rest of an earlier answer (a server
        // that sent more than it declared): once more on a new connection.
        pending.clear();
        errorBuffer[0] = 0;
        curl_easy_setopt(easy, CURLOPT_FRESH_CONNECT, 1L);
        rc = transfer(request, headersDeadline);
        curl_easy_setopt(easy, CURLOPT_FRESH_CONNECT, 0L);
    }

    if (cookieSet) {
        CookieStore::MarkChanged();
        CookieStore::SaveIfChanged();
    }
    if (!failure.isEmpty()) {
        q->errorText = failure;
        return false;
    }
    if (rc != CURLE_OK) {
        q->errorText = errorFor(rc, errorBuffer);
        hopeless = rc == CURLE_TOO_MANY_REDIRECTS || rc == CURLE_URL_MALFORMAT || rc == CURLE_COULDNT_RESOLVE_HOST;
        return false;
    }
    // The body ended where HTTP said it would; without a length or chunks, the end of
    // the connection ended it, which a broken connection does as well.
    const bool whole = headerOf("Content-Length").has_value()
                       || headerOf("Transfer-Encoding").value_or(QByteArray()).toLower().contains("chunked");
    const quint64 size = quint64(q->received);
    if (size < minBytes) {
        q->errorText = QStringLiteral("too small");
        hopeless = whole;
        return false;
    }
    if (maxBytes && size > maxBytes) {
        q->errorText = QStringLiteral("too large");
        hopeless = true;
        return false;
    }
    if (!savePath.isEmpty() && !part.isOpen()) {
        // An empty body: no piece came to open the file with.
        QString why;
        if (!part.Open(savePath, false, &why)) {
            q->errorText = QStringLiteral("file not written: ") + why;
            hopeless = true;
            return false;
        }
    }
    if (request.refusePartialPicture
        && !(part.isOpen() ? IsPictureComplete(*part.file()) : IsPictureComplete(q->body.constData(), q->body.size()))) {
        q->errorText = QStringLiteral("incomplete picture");
        cutShort = whole;
        return false;
    }
    return savePath.isEmpty() || commit();
}

bool CUrlSession::Impl::commit()
{
    // The picture appears under its name only when complete and on the disk.
    QString why;
    if (!part.Commit(true, &why)) {
        q->errorText = QStringLiteral("file not written: ") + why;
        hopeless = true;
        return false;
    }
    q->savedToFile = true;
    return true;
}

CURLcode CUrlSession::Impl::transfer(const ST_URLREQUEST &request, Clock::time_point headersDeadline)
{
    curl_multi_add_handle(multi, easy);
    bool done = false;
    CURLcode rc = CURLE_OK;
    for (;;) {
        int running = 0;
        curl_multi_perform(multi, &running);
        int queued = 0;
        while (CURLMsg *m = curl_multi_info_read(multi, &queued)) {
            if (m->msg == CURLMSG_DONE && m->easy_handle == easy) {
                done = true;
                rc = m->data.result;
            }
        }
        if (done)
            break;
        if (stopRequested(request)) {
            failure = QStringLiteral("aborted");
            break;
        }
        const Clock::time_point now = Clock::now();
        const Clock::time_point deadline =
            std::min(inBody ? deadlineAfter(lastData, request.readTimeoutMs) : headersDeadline, totalDeadline);
        if (now >= deadline) {
            failure = QStringLiteral("timed out");
            break;
        }
        qint64 waitMs = deadline == Clock::time_point::max()
                            ? 1000
                            : std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count() + 1;
        waitMs = std::min<qint64>(waitMs, request.shouldAbort ? kAbortPollMs : 1000);
        curl_multi_poll(multi, nullptr, 0, int(waitMs), nullptr);
    }
    // Removing an unfinished transfer closes its connection; a finished one stays
    // in the multi handle's cache for the next request.
    curl_multi_remove_handle(multi, easy);
    return rc;
}

bool CUrlSession::Impl::pause(const ST_URLREQUEST &request, qint64 ms)
{
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        if (stopRequested(request)) {
            q->errorText = QStringLiteral("aborted"); // not the failure of the try before
            return false;
        }
        const Clock::time_point now = Clock::now();
        if (now >= end)
            return true;
        const qint64 left = std::chrono::duration_cast<std::chrono::milliseconds>(end - now).count() + 1;
        // No transfer is in the multi handle: this waits for the time or for Abort().
        curl_multi_poll(multi, nullptr, 0, int(std::min<qint64>(left, kAbortPollMs)), nullptr);
    }
}

bool CUrlSession::Impl::awaitTurn(const ST_URLREQUEST &request, const QString &host)
{
    for (;;) {
        const qint64 ms = HostThrottle::TryStart(host, request.requestGapMs);
        if (ms == 0)
            return true;
        if (!pause(request, ms)) {
            q->errorText = QStringLiteral("aborted");
            return false;
        }
    }
}

qint64 CUrlSession::Impl::backoffMs(const ST_URLREQUEST &request, int attempt)
{
    if (request.backoffBaseMs == 0)
        return qint64(request.retryDelaySeconds) * 1000;
    const qint64 full =
        std::min<qint64>(qint64(request.backoffBaseMs) << std::min(attempt - 1, 20), request.backoffMaxMs);
    // "Equal jitter": at least half of the pause, the rest drawn at random.
    return full - QRandomGenerator::global()->bounded(full / 2 + 1);
}

void CUrlSession::Abort()
{
    d->aborted = true;
    curl_multi_wakeup(d->multi);
}

QString CUrlSession::GetText(unsigned options) const
{
    const QByteArray &data = body;
    QString text;
    if (headerText.contains(QLatin1String("charset=GBK")))
        text = AnsiToText(data.constData());
    else if (options & TEXT_UTF8)
        text = MultiByteToText(data.constData(), CP_UTF8, data.size());
    else if (options & TEXT_EUCKR)
        text = MultiByteToText(data.constData(), CP_EUCKR, data.size());
    else if (options & TEXT_BIG5)
        text = MultiByteToText(data.constData(), CP_BIG5, data.size());
    else if ((options & TEXT_AUTO_UTF8) && IsUtf8(data.constData(), data.size()))
        text = MultiByteToText(data.constData(), CP_UTF8, data.size());
    else
        text = AnsiToText(data.constData());
    DecodeHtmlEntities(text);
    return text;
}
