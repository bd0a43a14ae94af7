#include "net/URLSource2.h"

#include "net/CookieStore.h"
#include "net/HostThrottle.h"
#include "platform/SaveFile.h"
#include "text/StringCtrl.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QRandomGenerator>
#include <QUrl>

#include <curl/curl.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <limits>
#include <optional>

namespace {

using Clock = std::chrono::steady_clock;

const char kAgent[] =
    "Mozilla/5.0 (Windows NT 5.1) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/44.0.12.87 Safari/537.36";
constexpr long kMaxRedirects = 10; // so that a redirect loop ends
constexpr int kAbortPollMs = 50;   // shouldAbort is asked at least this often
constexpr long kReadBufferBytes = 102400;

Clock::time_point deadlineAfter(Clock::time_point from, uint32_t ms)
{
    return ms == 0 ? Clock::time_point::max() : from + std::chrono::milliseconds(ms);
}

int statusOf(const QByteArray &statusLine)
{
    // "HTTP/1.1 404 Not Found"
    const QList<QByteArray> parts = statusLine.simplified().split(' ');
    return parts.size() >= 2 ? parts[1].toInt() : 0;
}

// The value of the first header line of that name in a response's header block.
std::optional<QByteArray> headerValue(const QByteArray &block, const QByteArray &name)
{
    const QByteArray lower = name.toLower();
    const QList<QByteArray> lines = block.split('\n');
    for (const QByteArray &line : lines) {
        if (line.size() > lower.size() && line[lower.size()] == ':' && line.left(lower.size()).toLower() == lower)
            return line.mid(lower.size() + 1).trimmed();
    }
    return std::nullopt;
}

bool hasHeader(const QByteArray &block, const QByteArray &name)
{
    return headerValue(block, name).has_value();
}

// How long a response's Retry-After asks the client to wait, in ms: delay seconds or
// an HTTP date (as libcurl reads dates); -1 without a readable one.
qint64 retryAfterMs(const QByteArray &headers)
{
    const std::optional<QByteArray> value = headerValue(headers, "Retry-After");
    if (!value || value->isEmpty())
        return -1;
    if (std::all_of(value->begin(), value->end(), [](char c) { return c >= '0' && c <= '9'; }))
        return value->size() > 9 ? std::numeric_limits<qint64>::max() : value->toLongLong() * 1000;
    const time_t at = curl_getdate(value->constData(), nullptr);
    if (at == time_t(-1))
        return -1;
    return std::max<qint64>(0, qint64(at) * 1000 - QDateTime::currentMSecsSinceEpoch());
}

QString errorFor(CURLcode rc, const char *detail)
{
    switch (rc) {
    case CURLE_OPERATION_TIMEDOUT: return QStringLiteral("timed out");
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY: return QStringLiteral("host not found");
    case CURLE_COULDNT_CONNECT: return QStringLiteral("connection refused");
    case CURLE_GOT_NOTHING:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR: return QStringLiteral("connection reset");
    case CURLE_PARTIAL_FILE: return QStringLiteral("truncated");
    case CURLE_TOO_MANY_REDIRECTS: return QStringLiteral("too many redirects");
    case CURLE_URL_MALFORMAT: return QStringLiteral("bad address");
    default: break;
    }
    const QString text = detail && *detail ? QString::fromUtf8(detail) : QString::fromUtf8(curl_easy_strerror(rc));
    return text;
}

using Byte = unsigned char;

// JPEG: segments from SOI on, each entropy-coded scan up to its next marker, until EOI.
bool jpegComplete(const Byte *p, qsizetype n)
{
    qsizetype i = 2;
    for (;;) {
        // Up to the next marker; fill bytes 0xFF may come before it.
        while (i < n && p[i] != 0xFF)
            ++i;
        while (i < n && p[i] == 0xFF)
            ++i;
        if (i >= n)
            return false;
        const Byte marker = p[i++];
        if (marker == 0xD9)
            return true; // EOI
        if (marker == 0x00 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7))
            continue; // no length follows
        if (i + 2 > n)
            return false;
        const qsizetype length = (qsizetype(p[i]) << 8) | p[i + 1];
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
            const void *ff = std::memchr(p + i, 0xFF, size_t(n - i));
            if (!ff)
                return false;
            i = static_cast<const Byte *>(ff) - p;
            if (i + 1 >= n)
                return false;
            const Byte next = p[i + 1];
            if (next == 0x00 || (next >= 0xD0 && next <= 0xD7))
                i += 2;
            else if (next == 0xFF)
                i += 1;
            else
                break;
        }
    }
}

quint32 bigEndian32(const Byte *p)
{
    return (quint32(p[0]) << 24) | (quint32(p[1]) << 16) | (quint32(p[2]) << 8) | quint32(p[3]);
}

// PNG: chunks (length, type, data, CRC) after the signature, until IEND.
bool pngComplete(const Byte *p, qsizetype n)
{
    qsizetype i = 8;
    for (;;) {
        if (i + 12 > n)
            return false;
        const quint32 length = bigEndian32(p + i);
        if (length > 0x7FFFFFFFu)
            return false;
        if (std::memcmp(p + i + 4, "IEND", 4) == 0)
            return true;
        i += 12 + qsizetype(length);
    }
}

// GIF: header, screen descriptor and colour table, then extensions and images (each
// ending in an empty sub-block) until the trailer 0x3B.
bool gifComplete(const Byte *p, qsizetype n)
{
    auto colourTable = [](Byte flags) { return (flags & 0x80) ? 3 * (qsizetype(2) << (flags & 7)) : 0; };
    auto skipSubBlocks = [&](qsizetype &i) {
        for (;;) {
            if (i >= n)
                return false;
            const Byte size = p[i++];
            if (size == 0)
                return true;
            i += size;
        }
    };
    if (n < 13)
        return false;
    qsizetype i = 13 + colourTable(p[10]);
    for (;;) {
        if (i >= n)
            return false;
        const Byte block = p[i++];
        if (block == 0x3B)
            return true;
        if (block == 0x21) { // extension: label, then sub-blocks
            ++i;
            if (!skipSubBlocks(i))
                return false;
        } else if (block == 0x2C) { // image: descriptor, colour table, LZW size, sub-blocks
            if (i + 9 > n)
                return false;
            i += 9 + colourTable(p[i + 8]);
            ++i;
            if (!skipSubBlocks(i))
                return false;
        } else {
            return false;
        }
    }
}

// WebP: a RIFF file; its header declares the length of everything after the first 8 bytes.
bool webpComplete(const Byte *p, qsizetype n)
{
    const quint32 length = quint32(p[4]) | (quint32(p[5]) << 8) | (quint32(p[6]) << 16) | (quint32(p[7]) << 24);
    return length >= 4 && n >= 8 + qsizetype(length);
}

// ISO media (AVIF, HEIC): boxes at the top level, each declaring its length, filling the
// bytes exactly, among them the description (meta, or moov for a sequence) and the coded
// data (mdat); a box that runs past the end was cut, and so was a file that ends before
// its data. A size of 0 means "to the end".
bool isoMediaComplete(const Byte *p, qsizetype n)
{
    bool description = false, data = false;
    qsizetype i = 0;
    while (i < n) {
        if (i + 8 > n)
            return false;
        const Byte *type = p + i + 4;
        description = description || std::memcmp(type, "meta", 4) == 0 || std::memcmp(type, "moov", 4) == 0;
        data = data || std::memcmp(type, "mdat", 4) == 0;
        quint64 size = bigEndian32(p + i);
        if (size == 0)
            break;
        if (size == 1) { // a 64-bit length follows the type
            if (i + 16 > n)
                return false;
            size = (quint64(bigEndian32(p + i + 8)) << 32) | bigEndian32(p + i + 12);
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

} // namespace

bool IsPictureComplete(const char *data, qsizetype size)
{
    const Byte *p = reinterpret_cast<const Byte *>(data);
    if (size >= 3 && p[0] == 0xFF && p[1] == 0xD8 && p[2] == 0xFF)
        return jpegComplete(p, size);
    if (size >= 8 && std::memcmp(p, "\x89PNG\r\n\x1a\n", 8) == 0)
        return pngComplete(p, size);
    if (size >= 6 && (std::memcmp(p, "GIF87a", 6) == 0 || std::memcmp(p, "GIF89a", 6) == 0))
        return gifComplete(p, size);
    if (size >= 12 && std::memcmp(p, "RIFF", 4) == 0 && std::memcmp(p + 8, "WEBP", 4) == 0)
        return webpComplete(p, size);
    if (size >= 8 && std::memcmp(p + 4, "ftyp", 4) == 0)
        return isoMediaComplete(p, size);
    return true;
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

    // A compressed page is inflated as it arrives, the output thrown away, so that the
    // cap holds for its inflated size too: a few compressed bytes can stand for
    // gigabytes of text, and a compressed page without end would take ages to reach the
    // cap in compressed bytes.
    bool countPages = false;   // this request reads a page
    Clock::time_point totalDeadline;
    z_stream counter {};
    bool counting = false;
    quint64 inflated = 0;

    void startCounting()
    {
        stopCounting();
        counter = z_stream {};
        counting = inflateInit2(&counter, 47) == Z_OK;
        inflated = 0;
    }
    void stopCounting()
    {
        if (counting)
            inflateEnd(&counter);
        counting = false;
    }
    // False once the inflated size has passed the cap. A stream that is not one (the
    // "gzip" seen in the headers was about something else) is simply not counted.
    bool countInflated(const char *data, size_t size)
    {
        if (!counting)
            return true;
        char sink[16384];
        counter.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data));
        counter.avail_in = uInt(size);
        do {
            counter.next_out = reinterpret_cast<Bytef *>(sink);
            counter.avail_out = sizeof sink;
            const int rc = inflate(&counter, Z_NO_FLUSH);
            inflated += sizeof sink - counter.avail_out;
            if (inflated > capBytes)
                return false;
            if (rc == Z_BUF_ERROR)
                return true; // all taken in, no output pending: wait for more
            if (rc != Z_OK) {
                stopCounting(); // the end of the stream, or not a stream
                return true;
            }
        } while (counter.avail_out == 0 || counter.avail_in > 0);
        return true;
    }

    bool stopRequested(const ST_URLREQUEST &request) const
    {
        return aborted || (request.shouldAbort && request.shouldAbort());
    }

    static size_t onHeader(char *data, size_t size, size_t count, void *userdata)
    {
        return static_cast<Impl *>(userdata)->header(QByteArray(data, qsizetype(size * count)));
    }

    static size_t onBody(char *data, size_t size, size_t count, void *userdata)
    {
        return static_cast<Impl *>(userdata)->bodyPiece(data, size * count);
    }

    static bool contentTypeIsHtml(const QByteArray &headers)
    {
        for (const QByteArray &line : headers.split('\n')) {
            const QByteArray l = line.trimmed().toLower();
            if (l.startsWith("content-type:") && l.mid(13).trimmed().startsWith("text/html"))
                return true;
        }
        return false;
    }

    size_t header(const QByteArray &line)
    {
        const size_t taken = size_t(line.size());
        if (line.startsWith("HTTP/"))
            pending.clear();
        pending += line;
        if (line.size() > 11 && line.left(11).toLower() == "set-cookie:")
            cookieSet = true;
        if (line != "\r\n" && line != "\n")
            return taken;

        // The end of one response's headers.
        const int status = statusOf(pending.left(pending.indexOf('\n')));
        if (status >= 100 && status < 200) {
            pending.clear();
            return taken;
        }
        if (status >= 300 && status < 400 && status != 304 && hasHeader(pending, "Location"))
            return taken; // libcurl follows it; only the final response counts
        q->headerText = QString::fromLatin1(pending);
        q->statusCode = status;
        q->compressed = q->headerText.contains(QLatin1String("gzip"));
        inBody = true;
        lastData = Clock::now();
        if (countPages && q->compressed)
            startCounting();
        if (status >= 400) {
            failure = QStringLiteral("HTTP %1").arg(status);
            // The same answer again, but for a time-out (408), throttling (429) and
            // the server's own errors (5xx).
            hopeless = status < 500 && status != 408 && status != 429;
            return 0;
        }
        if (refuseHtml && contentTypeIsHtml(pending)) {
            failure = QStringLiteral("not a picture (text/html)");
            hopeless = true;
            return 0;
        }
        QString rest = q->headerText;
        if (CutThrough(rest, QStringLiteral("Content-Length:"), true) >= 0) {
            qsizetype i = 0;
            while (i < rest.size() && (rest[i] == QLatin1Char(' ') || rest[i] == QLatin1Char('\t')))
                ++i;
            quint64 declared = 0;
            for (; i < rest.size() && rest[i].isDigit() && rest[i].unicode() < 128; ++i) {
                const quint64 digit = quint64(rest[i].unicode() - '0');
                declared = declared > (std::numeric_limits<quint64>::max() - digit) / 10
                               ? std::numeric_limits<quint64>::max()
                               : declared * 10 + digit;
            }
            if (declared < minBytes) {
                failure = QStringLiteral("too small");
                hopeless = true;
                return 0;
            }
            if ((maxBytes && declared > maxBytes) || declared > capBytes) {
                failure = QStringLiteral("too large");
                hopeless = true;
                return 0;
            }
        }
        return taken;
    }

    size_t bodyPiece(const char *data, size_t size)
    {
        if (!inBody)
            return size; // the body of a redirect
        q->body.append(data, qsizetype(size));
        lastData = Clock::now();
        const quint64 have = quint64(q->body.size());
        if ((maxBytes && have > maxBytes) || have > capBytes) {
            failure = QStringLiteral("too large");
            hopeless = true;
            return 0;
        }
        if (!countInflated(data, size)) {
            failure = QStringLiteral("too large");
            hopeless = true;
            return 0;
        }
        return size;
    }

    bool run(const ST_URLREQUEST &request, unsigned options);
    CURLcode transfer(const ST_URLREQUEST &request, Clock::time_point headersDeadline);
    bool pause(const ST_URLREQUEST &request, qint64 ms);
    bool awaitTurn(const ST_URLREQUEST &request, const QString &host);
    static qint64 backoffMs(const ST_URLREQUEST &request, int attempt);
    void writeFile(const QString &path);
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
    // HTTP/1.1 also over https, so the raw header text keeps its usual spelling
    // ("Content-Length:" is looked for with these exact letters).
    curl_easy_setopt(e, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_1));
    // A proxy's CONNECT answer is not the response.
    curl_easy_setopt(e, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    // Bodies stay as sent: the caller inflates (InflateBody) and checks sizes on raw bytes.
    curl_easy_setopt(e, CURLOPT_HTTP_CONTENT_DECODING, 0L);
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
    d->stopCounting();
    curl_multi_cleanup(d->multi);
    curl_easy_cleanup(d->easy);
    curl_slist_free_all(d->headerList);
}

bool CUrlSession::Request(const ST_URLREQUEST &request, unsigned options)
{
    d->aborted = false;
    return d->run(request, options);
}

bool CUrlSession::Fetch(const ST_URLREQUEST &request, unsigned options)
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
        if (d->run(request, options)) {
            if (request.minTextLength == 0)
                return true;
            QByteArray text;
            if ((options & FETCH_CACHE_WRITE) && compressed)
                InflateBody(body.constData(), body.size(), text);
            else
                text = body;
            if (quint64(text.size()) > request.minTextLength)
                return true;
            errorText = QStringLiteral("too short");
        } else if (d->cutShort) {
            const QByteArray digest = QCryptographicHash::hash(body, QCryptographicHash::Sha256);
            if (digest == cutDigest) {
                // The same bytes twice: the site keeps the picture that way.
                errorText.clear();
                warningText = QStringLiteral("the site keeps it cut short");
                if (!request.savePath.isEmpty())
                    d->writeFile(request.savePath);
                return true;
            }
            if (cutDigest.isEmpty())
                tries = std::max(tries, attempt + 1);
            cutDigest = digest;
        }
        if (d->stopRequested(request))
            return false;

        // The pause before the next try: the back-off, or what the site asks if longer.
        qint64 wait = Impl::backoffMs(request, attempt);
        const qint64 asked = statusCode == 429 || statusCode == 503 ? retryAfterMs(headerText.toLatin1()) : -1;
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

bool CUrlSession::Impl::run(const ST_URLREQUEST &request, unsigned)
{
    q->body.clear();
    q->compressed = false;
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
    countPages = request.savePath.isEmpty();
    stopCounting();
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
    stopCounting();

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
    const QByteArray headers = q->headerText.toLatin1();
    const bool whole = hasHeader(headers, "Content-Length")
                       || headerValue(headers, "Transfer-Encoding").value_or(QByteArray()).toLower().contains("chunked");
    const quint64 size = quint64(q->body.size());
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
    if (request.refusePartialPicture && !IsPictureComplete(q->body.constData(), q->body.size())) {
        q->errorText = QStringLiteral("incomplete picture");
        cutShort = whole;
        return false;
    }
    if (!request.savePath.isEmpty())
        writeFile(request.savePath);
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

void CUrlSession::Impl::writeFile(const QString &path)
{
    // The picture appears under its name only when complete (see SaveFile.h).
    QString why;
    if (!SaveFileAtomically(path, q->body, false, &why, false)) {
        q->errorText = QStringLiteral("file not written: ") + why;
        return;
    }
    q->savedToFile = true;
}

void CUrlSession::Abort()
{
    d->aborted = true;
    curl_multi_wakeup(d->multi);
}

QString CUrlSession::GetText(unsigned options) const
{
    QByteArray data;
    if ((options & TEXT_INFLATE) && compressed)
        InflateBody(body.constData(), body.size(), data);
    else
        data = body;

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

bool CUrlSession::InflateBody(const char *data, qsizetype size, QByteArray &out, qsizetype maxOut)
{
    const qsizetype limit = out.size() + std::max<qsizetype>(0, maxOut);
    z_stream zs {};
    if (inflateInit2(&zs, 47) != Z_OK)
        return false;
    zs.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data));
    zs.avail_in = uInt(std::min<qsizetype>(size, std::numeric_limits<uInt>::max()));
    qsizetype fed = qsizetype(zs.avail_in);
    bool ok = false;
    char chunk[8192];
    for (;;) {
        if (zs.avail_in == 0 && fed < size) {
            const qsizetype next = std::min<qsizetype>(size - fed, std::numeric_limits<uInt>::max());
            zs.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data + fed));
            zs.avail_in = uInt(next);
            fed += next;
        }
        zs.next_out = reinterpret_cast<Bytef *>(chunk);
        zs.avail_out = sizeof chunk;
        const int rc = inflate(&zs, Z_NO_FLUSH);
        const qsizetype produced = qsizetype(sizeof chunk - zs.avail_out);
        if (out.size() + produced > limit) {
            out.append(chunk, limit - out.size());
            break;
        }
        out.append(chunk, produced);
        if (rc == Z_STREAM_END) {
            ok = true;
            break;
        }
        if (rc != Z_OK)
            break;
    }
    inflateEnd(&zs);
    return ok;
}
