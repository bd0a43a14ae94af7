#include "BoardSite.h"

#include <httplib.h>
#include <zlib.h>

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QLocale>
#include <QStringEncoder>
#include <QUrlQuery>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#ifndef _WIN32
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

// A 1 x 1 baseline JPEG; pictures of other sizes get comment segments after APP0.
const unsigned char kTinyJpeg[] = {
#include "TinyJpeg.inc"
};
constexpr int kJpegInsertAt = 20; // after SOI and the JFIF APP0 segment

const char kSessionCookie[] = "corvadin_session";

quint64 splitmix(quint64 &state)
{
    quint64 z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

quint64 hashBytes(const QByteArray &bytes, quint64 seed = 0)
{
    quint64 h = 1469598103934665603ull ^ seed;
    for (char c : bytes) {
        h ^= static_cast<unsigned char>(c);
        h *= 1099511628211ull;
    }
    quint64 s = h;
    return splitmix(s);
}

void appendBe32(QByteArray &out, quint32 v)
{
    out.append(char(v >> 24)).append(char(v >> 16)).append(char(v >> 8)).append(char(v));
}

void appendPngChunk(QByteArray &out, const char type[4], const QByteArray &data)
{
    appendBe32(out, quint32(data.size()));
    const qsizetype crcFrom = out.size();
    out.append(type, 4).append(data);
    const uLong crc = crc32(0, reinterpret_cast<const Bytef *>(out.constData() + crcFrom),
                            uInt(out.size() - crcFrom));
    appendBe32(out, quint32(crc));
}

// A picture as the site sends it, made as it is read: literal pieces and runs of
// random bytes from one generator (JPEG comment segments and GIF sub-blocks made one at a
// time, a CRC where PNG wants one). A picture of hundreds of MB goes out in pieces
// without ever being whole in memory; makePicture reads one whole, so both give the
// same bytes.
class PictureSource {
public:
    PictureSource(BoardSite::Kind kind, qint64 size, const QByteArray &salt, const QByteArray &encoded);
    qint64 size() const { return m_size; }
    // The next bytes, at most `max`; 0 at the end.
    qint64 read(char *out, qint64 max);

private:
    enum class Type { Literal, Random, JpegPad, GifPad, CrcStart, CrcEnd };
    struct Part {
        Type type;
        QByteArray bytes; // Literal
        qint64 count = 0; // Random, JpegPad, GifPad: bytes it stands for
    };
    void add(Type type, QByteArray bytes = {}, qint64 count = 0)
    {
        if (type == Type::Literal && bytes.isEmpty())
            return;
        m_size += type == Type::Literal ? bytes.size() : type == Type::CrcEnd ? 4 : count;
        m_parts.append({type, std::move(bytes), count});
    }
    // Starts the next piece; false at the end.
    bool next();

    QList<Part> m_parts;
    int m_next = 0;
    qint64 m_size = 0;
    quint64 m_state = 0;
    QByteArray m_literal;  // the literal being read
    qint64 m_literalAt = 0;
    qint64 m_random = 0;   // random bytes left in the run being read
    quint64 m_word = 0;    // the generator's last word and how many of its bytes are left
    int m_wordLeft = 0;
    Type m_padding = Type::Literal; // JpegPad or GifPad being cut into segments
    qint64 m_paddingLeft = 0;
    bool m_crcOn = false;
    uLong m_crc = 0;
};

std::string jsonString(const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    std::string out;
    out.reserve(size_t(utf8.size()) + 2);
    out += '"';
    for (char c : utf8) {
        const unsigned char u = static_cast<unsigned char>(c);
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        default:
            if (u < 0x20) {
                char buf[8];
                snprintf(buf, sizeof buf, "\\u%04x", u);
                out += buf;
            } else {
                out += c;
            }
        }
    }
    out += '"';
    return out;
}

QString htmlEscape(const QString &text)
{
    return text.toHtmlEscaped();
}

std::string toStd(const QString &s)
{
    return s.toStdString();
}

QString fromStd(const std::string &s)
{
    return QString::fromStdString(s);
}

QByteArray htmlMessage(int status, const QString &text)
{
    return QStringLiteral("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>%1</title></head>"
                          "<body><h1>%1</h1><p>%2</p></body></html>\n")
        .arg(status)
        .arg(htmlEscape(text))
        .toUtf8();
}

bool cookieHas(const httplib::Request &req, const std::string &name, const std::string &value)
{
    const size_t n = req.get_header_value_count("Cookie");
    for (size_t i = 0; i < n; ++i) {
        const QString all = fromStd(req.get_header_value("Cookie", i));
        const QStringList items = all.split(QLatin1Char(';'));
        for (const QString &item : items) {
            const QString t = item.trimmed();
            if (t == fromStd(name) + QLatin1Char('=') + fromStd(value))
                return true;
        }
    }
    return false;
}

// cpp-httplib adds the connection's addresses to the request headers.
bool isSyntheticHeader(const std::string &name)
{
    return name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" || name == "LOCAL_PORT";
}

#ifndef _WIN32
// Port of a socket's local or remote address; -1 when it is not an inet socket.
int socketPort(int fd, bool peer)
{
    sockaddr_storage a {};
    socklen_t len = sizeof a;
    const int rc = peer ? getpeername(fd, reinterpret_cast<sockaddr *>(&a), &len)
                        : getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
    if (rc != 0)
        return -1;
    if (a.ss_family == AF_INET)
        return ntohs(reinterpret_cast<sockaddr_in *>(&a)->sin_port);
    if (a.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<sockaddr_in6 *>(&a)->sin6_port);
    return -1;
}

// The accepted sockets of the server on localPort (remotePort -1: all of them).
// cpp-httplib hands no socket to the handlers, so they are found by their ports.
std::vector<int> serverSockets(int localPort, int remotePort)
{
    std::vector<int> fds;
    std::vector<int> candidates;
#ifdef __linux__
    if (DIR *dir = opendir("/proc/self/fd")) {
        while (dirent *e = readdir(dir)) {
            if (e->d_name[0] >= '0' && e->d_name[0] <= '9')
                candidates.push_back(atoi(e->d_name));
        }
        closedir(dir);
    }
#else
    for (int fd = 0; fd < 4096; ++fd)
        candidates.push_back(fd);
#endif
    for (int fd : candidates) {
        if (socketPort(fd, false) != localPort)
            continue;
        const int peer = socketPort(fd, true);
        if (peer < 0 || (remotePort >= 0 && peer != remotePort))
            continue;
        fds.push_back(fd);
    }
    return fds;
}
#endif

} // namespace

QByteArray BoardSite::RequestRecord::header(const QByteArray &name) const
{
    for (const auto &h : headers) {
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return h.second;
    }
    return {};
}

struct BoardSite::Impl {
    // How one answer's bytes go out.
    struct Delivery {
        QByteArray bytes;
        std::shared_ptr<PictureSource> picture; // instead of bytes: made as it goes out
        qint64 pictureLength = 0;               // how much of it
        qint64 length() const { return picture ? pictureLength : bytes.size(); }
        std::string contentType = "text/html";
        qint64 declared = -1;   // Content-Length; -1: the body's length
        bool chunked = false;
        bool noLength = false;
        qint64 stallAfter = -1; // pause after this many body bytes
        int stallMs = 0;
        bool dropAfterStall = false;
        qint64 closeAfter = -1; // drop the connection after this many body bytes
        qint64 rate = 0;        // bytes per second; 0: unlimited
        bool endless = false;   // after `bytes`, filler until the client goes away
        std::shared_ptr<void> guard; // released when the answer is done
    };

    struct Sending {
        Delivery d;
        qint64 sent = 0;
        bool stalled = false;
    };

    BoardSite *q = nullptr;
    httplib::Server server;
    std::thread thread;
    std::atomic<bool> running {false};
    std::atomic<bool> stopping {false};
    std::atomic<int> port {0};
    QString host = QStringLiteral("127.0.0.1");

    mutable std::mutex mutex; // guards everything below
    Options options;
    QList<Board> boards;
    QHash<QString, QPair<int, int>> keys; // key -> (board, pin)
    QHash<QString, int> pinPageRequests;
    QHash<QString, int> pictureRequests; // key -> requests so far
    QList<RequestRecord> log;
    QElapsedTimer clock;                 // started with the site (atMs)
    QString holdPrefix;      // holdRequests(); empty: none
    QStringList heldTargets; // requests at the hold, until their thread has woken and gone on
    int picturesInFlight = 0;
    int maxPictures = 0;
    QString token = QStringLiteral("c0rvad1n-session-7f3a9c");

    std::mutex waitMutex;
    std::condition_variable waitCv;

    // Sleeps ms or until stop; false when stopping.
    bool pause(qint64 ms)
    {
        if (ms <= 0)
            return !stopping;
        std::unique_lock<std::mutex> lock(waitMutex);
        waitCv.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping.load(); });
        return !stopping;
    }

    bool boardHeld(const QString &id)
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (const Board &b : std::as_const(boards)) {
            if (b.id == id)
                return b.holdBoardPage;
        }
        return false;
    }

    bool requestHeld(const QString &target)
    {
        std::lock_guard<std::mutex> lock(mutex);
        return !holdPrefix.isEmpty() && target.startsWith(holdPrefix);
    }

    // Wakes the held board pages to look again; taking waitMutex first makes sure no
    // waiter is between its look and its wait.
    void wakeWaiters()
    {
        {
            std::lock_guard<std::mutex> lock(waitMutex);
        }
        waitCv.notify_all();
    }

    void reindex()
    {
        keys.clear();
        for (int b = 0; b < boards.size(); ++b) {
            for (int p = 0; p < boards.at(b).pins.size(); ++p)
                keys.insert(boards.at(b).pins.at(p).key, qMakePair(b, p));
        }
    }

    QString imageHostLocked() const
    {
        return options.imageHost.isEmpty() ? q->hostPort() : options.imageHost;
    }

    Fault faultLocked(const QString &key) const
    {
        const auto it = keys.constFind(key);
        if (it == keys.constEnd())
            return Fault::None;
        const Pin &pin = boards[it->first].pins[it->second];
        if (pin.fault != Fault::None)
            return pin.fault;
        const int position = it->second + 1;
        if (options.faultEvery > 0 && position % options.faultEvery == 0) {
            if (options.faultKinds.isEmpty())
                return Fault::Status500;
            const int k = (position / options.faultEvery - 1) % options.faultKinds.size();
            return options.faultKinds[k];
        }
        return Fault::None;
    }

    static std::string pinJson(const Board &b, const Pin &pin)
    {
        std::string s;
        s += "{\"pin_id\":" + (pin.withoutId ? std::string() : std::to_string(pin.id));
        s += ",\"user_id\":" + std::to_string(b.userId);
        s += ",\"board_id\":" + toStd(b.id);
        s += ",\"file_id\":" + std::to_string(pin.id / 7 + 11);
        s += ",\"file\":{\"bucket\":\"hbimg\",\"key\":" + jsonString(pin.key);
        s += ",\"type\":" + jsonString(BoardSite::mimeType(pin.kind));
        s += ",\"width\":1,\"height\":1,\"frames\":1}";
        s += ",\"media_type\":0,\"source\":null,\"link\":null";
        s += ",\"raw_text\":" + jsonString(pin.description);
        s += ",\"text_meta\":{},\"via\":1,\"via_user_id\":0,\"original\":null";
        s += ",\"created_at\":" + std::to_string(1400000000 + pin.id % 100000000);
        s += ",\"like_count\":" + std::to_string(pin.id % 13);
        s += ",\"comment_count\":0,\"repin_count\":" + std::to_string(pin.id % 5);
        s += ",\"is_private\":0,\"orig_source\":null}";
        return s;
    }

    static std::string pinsJson(const Board &b, int from, int count)
    {
        if (b.inventPins && b.pins.isEmpty())
            return pinsJson(b, inventedPins(b, QString(), count));
        const int end = std::min<int>(b.pins.size(), from + std::max(0, count));
        return pinsJson(b, b.pins.mid(from, std::max(0, end - from)));
    }

    static std::string pinsJson(const Board &b, const QList<Pin> &pins)
    {
        std::string s = "[";
        for (qsizetype i = 0; i < pins.size(); ++i) {
            if (i > 0)
                s += ',';
            s += pinJson(b, pins[i]);
        }
        s += ']';
        return s;
    }

    // Pins a board with inventPins makes up: `count` of them, ids just below the cursor
    // (below a fixed start without one), so every page brings new ones.
    static QList<Pin> inventedPins(const Board &b, const QString &cursor, int count)
    {
        bool ok = false;
        qint64 below = cursor.toLongLong(&ok);
        if (!ok || below <= 0)
            below = 9000000000ll;
        QList<Pin> pins;
        for (int i = 0; i < count && below - 1 - i > 0; ++i)
            pins.append(inventedPin(b.id, below - 1 - i));
        return pins;
    }

    static Pin inventedPin(const QString &boardId, qint64 id)
    {
        Pin p;
        p.id = id;
        p.key = boardId + QStringLiteral("_inv") + QString::number(id);
        p.description = QStringLiteral("invented %1").arg(id);
        p.kind = Kind::Jpeg;
        p.size = 2048;
        return p;
    }

    // The made-up pin behind a key "<board id>_inv<pin id>" of a board with inventPins.
    bool findInventedLocked(const QString &key, Pin &pin) const
    {
        const qsizetype mark = key.indexOf(QStringLiteral("_inv"));
        if (mark <= 0)
            return false;
        const QString boardId = key.left(mark);
        bool ok = false;
        const qint64 id = key.mid(mark + 4).toLongLong(&ok);
        if (!ok || id <= 0)
            return false;
        for (const Board &b : boards) {
            if (b.id == boardId && b.inventPins) {
                pin = inventedPin(boardId, id);
                return true;
            }
        }
        return false;
    }

    static QByteArray boardPage(const Board &b, const Options &o, const QString &imageHost)
    {
        std::string s;
        s += "<!DOCTYPE html>\n<html lang=\"zh-CN\">\n<head>\n<meta charset=\"utf-8\">\n";
        s += "<title>" + toStd(htmlEscape(b.title)) + " - corvadin boardsite</title>\n";
        s += "<meta name=\"viewport\" content=\"width=device-width\">\n</head>\n<body>\n";
        s += "<div id=\"page\"><div class=\"board-header\">" + toStd(htmlEscape(b.title))
             + "</div><div id=\"waterfall\"></div></div>\n";
        s += "<script>\nvar app = window.app || {};\n";
        s += "app.settings = {\"site\":\"corvadin-boardsite\",\"version\":1";
        if (o.imageHostInBoardPage)
            s += ",\"imgHosts\":{\"hbimg\":" + jsonString(imageHost) + "}";
        s += "};\n";
        s += "app.page = app.page || {};\n";
        s += "app.page[\"board\"] = {\"board_id\":" + toStd(b.id);
        s += ",\"user_id\":" + std::to_string(b.userId);
        s += ",\"title\":" + jsonString(b.title);
        s += ",\"description\":\"\",\"category_id\":null,\"seq\":1";
        s += ",\"pin_count\":" + std::to_string(b.declaredPinCount);
        s += ",\"follow_count\":0,\"like_count\":0,\"created_at\":1400000000,\"updated_at\":1500000000";
        s += ",\"deleting\":0,\"is_private\":0";
        s += ",\"user\":{\"user_id\":" + std::to_string(b.userId);
        s += ",\"username\":" + jsonString(b.username);
        s += ",\"urlname\":" + jsonString(b.username) + ",\"created_at\":1300000000}";
        s += ",\"following\":false";
        s += ",\"pins\":" + pinsJson(b, 0, o.pinsOnBoardPage);
        s += "};\n</script>\n</body>\n</html>\n";
        return QByteArray::fromStdString(s);
    }

    static QByteArray pinPage(const Board &b, const Options &o, const QString &imageHost,
                              const QString &cursor, int limit)
    {
        int from = 0;
        if (!cursor.isEmpty()) {
            bool ok = false;
            const qint64 c = cursor.toLongLong(&ok);
            from = b.pins.size();
            if (ok) {
                for (int i = 0; i < b.pins.size(); ++i) {
                    if (b.pins[i].id < c) {
                        from = i;
                        break;
                    }
                }
            }
        }
        std::string s = "{\"board\":{\"board_id\":" + toStd(b.id);
        s += ",\"user_id\":" + std::to_string(b.userId);
        s += ",\"title\":" + jsonString(b.title);
        s += ",\"pin_count\":" + std::to_string(b.declaredPinCount);
        if (o.imageHostInPinPages)
            s += ",\"imgHosts\":{\"hbimg\":" + jsonString(imageHost) + "}";
        s += ",\"pins\":" + (b.inventPins ? pinsJson(b, inventedPins(b, cursor, limit)) : pinsJson(b, from, limit));
        s += "}}";
        return QByteArray::fromStdString(s);
    }

    bool resetConnection(const httplib::Request &req)
    {
#ifndef _WIN32
        const std::vector<int> fds = serverSockets(port, req.remote_port);
        if (fds.empty())
            return false;
        const int fd = fds.front();
        linger lg {1, 0};
        setsockopt(fd, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
        // Replacing the descriptor closes the socket (with an RST, no FIN, no answer)
        // while cpp-httplib keeps a valid descriptor to write to and close later.
        const int null = ::open("/dev/null", O_RDWR);
        if (null < 0)
            return false;
        dup2(null, fd);
        ::close(null);
        return true;
#else
        (void)req;
        return false;
#endif
    }

    void shutdownConnections()
    {
#ifndef _WIN32
        for (int fd : serverSockets(port, -1))
            ::shutdown(fd, SHUT_RDWR);
#endif
    }

    // The body goes out piece by piece so stalls, rate caps and early closes can act.
    // Sized and close-delimited answers are never compressed by cpp-httplib.
    void deliver(httplib::Response &res, Delivery d)
    {
        if (!d.chunked && !d.noLength) {
            const qint64 declared = d.declared >= 0 ? d.declared : d.length();
            if (declared == 0) {
                res.set_content(std::string(), d.contentType);
                return;
            }
            d.declared = declared;
        }
        auto st = std::make_shared<Sending>();
        st->d = std::move(d);
        if (st->d.chunked || st->d.noLength) {
            auto provider = [this, st](size_t, httplib::DataSink &sink) -> bool {
                const int r = step(*st, sink);
                if (r < 0)
                    return false;
                if (r == 0) {
                    // Without a length the end of the body is the end of the connection.
                    if (st->d.noLength)
                        return false;
                    sink.done();
                }
                return true;
            };
            if (st->d.chunked)
                res.set_chunked_content_provider(st->d.contentType, provider);
            else
                res.set_content_provider(st->d.contentType, provider);
        } else {
            res.set_content_provider(size_t(st->d.declared), st->d.contentType,
                                     [this, st](size_t, size_t, httplib::DataSink &sink) -> bool {
                                         // Nothing left while the declared length is not
                                         // reached: the connection is dropped.
                                         return step(*st, sink) > 0;
                                     });
        }
    }

    // Sends the next piece: 1 sent (more may follow), 0 all sent, -1 drop the connection.
    int step(Sending &st, httplib::DataSink &sink)
    {
        Delivery &d = st.d;
        if (stopping)
            return -1;
        if (d.stallAfter >= 0 && st.sent >= d.stallAfter && !st.stalled) {
            st.stalled = true;
            if (!pause(d.stallMs) || d.dropAfterStall)
                return -1;
        }
        qint64 limit = d.length();
        if (d.closeAfter >= 0)
            limit = std::min(limit, d.closeAfter);
        if (d.endless && st.sent >= limit) {
            // Filler that keeps a page reader busy: HTML comments, 64 KB a piece.
            static const QByteArray filler = [] {
                QByteArray f;
                while (f.size() < 64 * 1024)
                    f += "<!-- and more, and more, and more, and more, and more -->\n";
                return f;
            }();
            if (!sink.write(filler.constData(), size_t(filler.size())))
                return -1;
            st.sent += filler.size();
            if (d.rate > 0 && !pause(filler.size() * 1000 / d.rate))
                return -1;
            return 1;
        }
        const bool lying = d.declared >= 0 && d.declared < d.length();
        if (st.sent >= limit)
            return (d.closeAfter >= 0 || lying) ? -1 : 0;
        qint64 chunk = std::min<qint64>(limit - st.sent, 64 * 1024);
        if (d.stallAfter > st.sent && !st.stalled)
            chunk = std::min(chunk, d.stallAfter - st.sent);
        if (d.rate > 0)
            chunk = std::min(chunk, std::max<qint64>(1, d.rate / 20));
        if (lying && d.rate <= 0)
            chunk = limit - st.sent; // the declared length is passed in one go
        if (!send(st, sink, chunk))
            return -1;
        if (d.rate > 0 && !pause(chunk * 1000 / d.rate))
            return -1;
        if (lying && st.sent >= d.declared) {
            // cpp-httplib stops asking once the declared length went out: send the rest now.
            if (st.sent < limit && !send(st, sink, limit - st.sent))
                return -1;
            return -1;
        }
        if (st.sent >= limit && d.closeAfter >= 0)
            return -1;
        return 1;
    }

    // Sends the next n bytes of the body, in pieces of at most 64 KB.
    static bool send(Sending &st, httplib::DataSink &sink, qint64 n)
    {
        Delivery &d = st.d;
        if (!d.picture) {
            if (!sink.write(d.bytes.constData() + st.sent, size_t(n)))
                return false;
            st.sent += n;
            return true;
        }
        char piece[64 * 1024];
        while (n > 0) {
            const qint64 got = d.picture->read(piece, std::min<qint64>(n, sizeof piece));
            if (got <= 0 || !sink.write(piece, size_t(got)))
                return false;
            st.sent += got;
            n -= got;
        }
        return true;
    }

    std::shared_ptr<void> pictureGuard()
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            ++picturesInFlight;
            maxPictures = std::max(maxPictures, picturesInFlight);
        }
        return std::shared_ptr<void>(nullptr, [this](void *) {
            std::lock_guard<std::mutex> lock(mutex);
            --picturesInFlight;
        });
    }

    // Answers a status fault (with Retry-After for 429 and 503) or a reset connection;
    // false for the faults that shape a picture's delivery instead.
    bool answerFault(Fault fault, const Options &o, const httplib::Request &req, httplib::Response &res);
    void handleBoard(const httplib::Request &req, httplib::Response &res);
    void handlePicture(const httplib::Request &req, httplib::Response &res);
    void handleBytes(const httplib::Request &req, httplib::Response &res);
    void handleEcho(const httplib::Request &req, httplib::Response &res);
    void setupRoutes();
};

bool BoardSite::Impl::answerFault(Fault fault, const Options &o, const httplib::Request &req, httplib::Response &res)
{
    int code = 0;
    const char *text = "";
    switch (fault) {
    case Fault::Status403: code = 403, text = "Forbidden"; break;
    case Fault::Status404: code = 404, text = "Not Found"; break;
    case Fault::Status429: code = 429, text = "Too Many Requests"; break;
    case Fault::Status500: code = 500, text = "Internal Server Error"; break;
    case Fault::Status503: code = 503, text = "Service Unavailable"; break;
    case Fault::Reset:
        if (resetConnection(req))
            return true;
        code = 500, text = "reset failed";
        break;
    default:
        return false;
    }
    if ((code == 429 || code == 503) && o.retryAfterSeconds >= 0) {
        const std::string value =
            o.retryAfterAsDate
                ? toStd(QLocale::c().toString(QDateTime::currentDateTimeUtc().addSecs(o.retryAfterSeconds),
                                              QStringLiteral("ddd, dd MMM yyyy HH:mm:ss 'GMT'")))
                : std::to_string(o.retryAfterSeconds);
        res.set_header("Retry-After", value);
    }
    res.status = code;
    Delivery d;
    d.rate = o.bandwidthBytesPerSec;
    d.contentType = "text/html; charset=utf-8";
    d.bytes = htmlMessage(code, QString::fromLatin1(text));
    deliver(res, std::move(d));
    return true;
}

void BoardSite::Impl::handleBoard(const httplib::Request &req, httplib::Response &res)
{
    const QString id = fromStd(req.matches[1]);
    const bool isPinPage = req.has_param("hxzmqq2s") || req.has_param("max");
    Board b;
    Options o;
    QString imageHost;
    bool found = false;
    int pinPageNumber = 0;
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (const Board &candidate : std::as_const(boards)) {
            if (candidate.id == id) {
                b = candidate;
                found = true;
                break;
            }
        }
        o = options;
        imageHost = imageHostLocked();
        if (found && isPinPage)
            pinPageNumber = ++pinPageRequests[id];
    }
    if (found && b.holdBoardPage && !isPinPage) {
        std::unique_lock<std::mutex> lock(waitMutex);
        waitCv.wait(lock, [&] { return stopping.load() || !boardHeld(id); });
        std::lock_guard<std::mutex> boardsLock(mutex);
        for (const Board &candidate : std::as_const(boards)) {
            if (candidate.id == id)
                b = candidate;
        }
    }
    Delivery d;
    d.rate = o.bandwidthBytesPerSec;
    if (!found) {
        res.status = 404;
        d.bytes = htmlMessage(404, QStringLiteral("没有这个画板 (no such board)"));
        d.contentType = "text/html; charset=utf-8";
        deliver(res, std::move(d));
        return;
    }
    if (b.loginRequired && !cookieHas(req, kSessionCookie, toStd(token))) {
        res.status = 403;
        d.bytes = htmlMessage(403, QStringLiteral("请先登录 (login required)"));
        d.contentType = "text/html; charset=utf-8";
        deliver(res, std::move(d));
        return;
    }
    if (b.redirectLoop) {
        res.set_redirect(req.target, 302);
        return;
    }
    if (isPinPage) {
        if (b.pinPageFault != Fault::None && (b.pinPageFaultTimes == 0 || pinPageNumber <= b.pinPageFaultTimes)
            && answerFault(b.pinPageFault, o, req, res))
            return;
        if (b.pinPagesFailFrom > 0 && pinPageNumber >= b.pinPagesFailFrom) {
            res.status = 500;
            d.bytes = htmlMessage(500, QStringLiteral("服务器错误 (server error)"));
            d.contentType = "text/html; charset=utf-8";
            deliver(res, std::move(d));
            return;
        }
        int limit = 20;
        if (req.has_param("limit")) {
            bool ok = false;
            const int l = fromStd(req.get_param_value("limit")).toInt(&ok);
            if (ok && l > 0)
                limit = std::min(l, 1000);
        }
        if (o.pinPageLimit > 0)
            limit = o.pinPageLimit;
        const QString cursor = b.repeatFirstPage ? QString() : fromStd(req.get_param_value("max"));
        d.bytes = pinPage(b, o, imageHost, cursor, limit);
        d.contentType = "application/json; charset=utf-8";
        d.endless = b.endlessPinPages;
    } else {
        d.bytes = b.rawPage.isEmpty() ? boardPage(b, o, imageHost) : b.rawPage;
        d.contentType = "text/html; charset=utf-8";
        d.endless = b.endlessBoardPage;
    }
    if (d.endless) {
        // No length can be declared for a body without end. cpp-httplib compresses a
        // chunked text answer for a client that accepts gzip: so it does with gzipPages,
        // and without the body goes out as it is.
        d.chunked = true;
        if (!o.gzipPages)
            const_cast<httplib::Request &>(req).headers.erase("Accept-Encoding");
        deliver(res, std::move(d));
        return;
    }
    if (o.gzipPages && fromStd(req.get_header_value("Accept-Encoding")).contains(QLatin1String("gzip"))) {
        d.bytes = BoardSite::gzip(d.bytes);
        res.set_header("Content-Encoding", "gzip");
        res.set_header("Vary", "Accept-Encoding");
    }
    deliver(res, std::move(d));
}

void BoardSite::Impl::handlePicture(const httplib::Request &req, httplib::Response &res)
{
    const QString key = fromStd(req.matches[1]);
    Pin pin;
    Options o;
    Fault fault = Fault::None;
    bool found = false;
    {
        std::lock_guard<std::mutex> lock(mutex);
        const auto it = keys.constFind(key);
        if (it != keys.constEnd()) {
            // Read without detaching: answers on other threads still read copies of it.
            pin = boards.at(it->first).pins.at(it->second);
            found = true;
            fault = faultLocked(key);
            const int asked = ++pictureRequests[key];
            if (pin.faultTimes > 0 && asked > pin.faultTimes)
                fault = Fault::None;
        } else {
            found = findInventedLocked(key, pin);
        }
        o = options;
    }
    if (found && o.cookieOnPictures)
        res.set_header("Set-Cookie", "corvadin_seen=" + toStd(key) + "; Path=/; Max-Age=86400");
    Delivery d;
    d.rate = o.bandwidthBytesPerSec;
    d.contentType = "text/html; charset=utf-8";
    auto status = [&](int code, const QString &text) {
        res.status = code;
        d.bytes = htmlMessage(code, text);
        deliver(res, std::move(d));
    };
    if (!found)
        return status(404, QStringLiteral("Not Found"));
    if (answerFault(fault, o, req, res))
        return;
    switch (fault) {
    case Fault::WrongType:
        d.bytes = htmlMessage(200, QStringLiteral("这不是图片 (this is not a picture)"));
        deliver(res, std::move(d));
        return;
    case Fault::RedirectLoop:
        res.set_redirect(req.target, 302);
        return;
    default:
        break;
    }
    // Made as it goes out: a picture of any size costs the site a 64 KB piece per answer.
    d.picture = std::make_shared<PictureSource>(pin.kind, pin.size, pin.key.toUtf8(), encodedPicture(pin.kind));
    d.pictureLength = d.picture->size();
    d.contentType = toStd(mimeType(pin.kind));
    d.guard = pictureGuard();
    switch (fault) {
    case Fault::Stall:
        d.stallAfter = 0;
        d.stallMs = o.stallMs;
        d.dropAfterStall = true;
        break;
    case Fault::Truncate:
        d.closeAfter = d.pictureLength / 2;
        break;
    case Fault::LieLength:
        d.declared = std::max<qint64>(1, d.pictureLength / 2);
        break;
    case Fault::StoredCut:
        d.pictureLength /= 2;
        break;
    default:
        break;
    }
    deliver(res, std::move(d));
}

void BoardSite::Impl::handleBytes(const httplib::Request &req, httplib::Response &res)
{
    // cpp-httplib also splits the query at ';' and at every '=': read it as sent.
    const qsizetype mark = fromStd(req.target).indexOf(QLatin1Char('?'));
    const QUrlQuery query(mark < 0 ? QString() : fromStd(req.target).mid(mark + 1));
    auto has = [&](const char *name) { return query.hasQueryItem(QLatin1String(name)); };
    auto param = [&](const char *name) { return query.queryItemValue(QLatin1String(name), QUrl::FullyDecoded); };
    auto all = [&](const char *name) { return query.allQueryItemValues(QLatin1String(name), QUrl::FullyDecoded); };
    auto number = [&](const char *name, qint64 fallback) {
        bool ok = false;
        const qint64 v = param(name).toLongLong(&ok);
        return has(name) && ok ? v : fallback;
    };
    if (has("delay_ms") && !pause(number("delay_ms", 0)))
        return;
    if (number("reset", 0) == 1 && resetConnection(req))
        return;

    Delivery d;
    if (has("hex")) {
        d.bytes = QByteArray::fromHex(param("hex").toLatin1());
    } else if (has("body")) {
        if (number("gbk", 0) == 1) {
            QStringEncoder gbk("GBK");
            d.bytes = gbk.encode(param("body"));
        } else {
            d.bytes = param("body").toUtf8();
        }
    } else {
        const qint64 n = std::clamp<qint64>(number("n", 100), 0, 1024ll * 1024 * 1024);
        d.bytes.resize(n);
        for (qint64 i = 0; i < n; ++i)
            d.bytes[i] = char('a' + i % 26);
    }
    d.contentType = has("ctype") ? toStd(param("ctype")) : std::string("text/html");
    if (number("gzip", 0) == 1) {
        d.bytes = BoardSite::gzip(d.bytes);
        res.set_header("Content-Encoding", "gzip");
    } else if (number("deflate", 0) == 1) {
        d.bytes = BoardSite::deflate(d.bytes);
        res.set_header("Content-Encoding", "deflate");
    }
    d.chunked = number("chunked", 0) == 1;
    d.noLength = number("nolength", 0) == 1;
    d.declared = number("declare", -1);
    if (d.declared == 0)
        d.bytes.clear();
    d.stallAfter = number("stall_after", -1);
    d.stallMs = int(number("stall_ms", 0));
    if (d.stallAfter < 0 && d.stallMs > 0)
        d.stallAfter = 0;
    d.rate = number("rate", 0);
    if (d.declared > d.bytes.size())
        d.closeAfter = d.bytes.size();
    for (const QString &cookie : all("setcookie"))
        res.set_header("Set-Cookie", toStd(cookie) + "; Path=/");
    for (const QString &header : all("header")) {
        const std::string line = toStd(header);
        const size_t colon = line.find(':');
        if (colon != std::string::npos) {
            size_t v = colon + 1;
            while (v < line.size() && line[v] == ' ')
                ++v;
            res.set_header(line.substr(0, colon), line.substr(v));
        }
    }
    res.status = int(number("status", 200));
    if (has("redirect")) {
        const int code = has("status") ? res.status : 302;
        res.set_redirect(toStd(param("redirect")), code);
    }
    if (d.chunked) {
        // cpp-httplib would gzip a chunked text answer for a client that accepts gzip;
        // this route must send exactly what was asked for.
        auto &headers = const_cast<httplib::Request &>(req).headers;
        headers.erase("Accept-Encoding");
    }
    deliver(res, std::move(d));
}

void BoardSite::Impl::handleEcho(const httplib::Request &req, httplib::Response &res)
{
    std::string s = req.method + " " + req.target + " " + req.version + "\r\n";
    for (const auto &h : req.headers) {
        if (!isSyntheticHeader(h.first))
            s += h.first + ": " + h.second + "\r\n";
    }
    Delivery d;
    d.bytes = QByteArray::fromStdString(s);
    d.contentType = "text/plain; charset=utf-8";
    deliver(res, std::move(d));
}

void BoardSite::Impl::setupRoutes()
{
    // A stalled answer keeps its thread until the stall ends, also when the client has
    // given up and come back on a new connection: room for many of both.
    server.new_task_queue = [] { return new httplib::ThreadPool(64); };
    server.set_keep_alive_max_count(1000);
    // Headers and body go out in separate writes; without this every answer on a
    // kept-alive connection waits for the client's delayed ACK.
    server.set_tcp_nodelay(true);
    server.set_pre_routing_handler([this](const httplib::Request &req, httplib::Response &) {
        RequestRecord r;
        r.method = fromStd(req.method);
        r.target = fromStd(req.target);
        r.path = fromStd(req.path);
        r.remotePort = req.remote_port;
        r.atMs = clock.elapsed();
        for (const auto &h : req.headers) {
            if (!isSyntheticHeader(h.first))
                r.headers.append(qMakePair(QByteArray::fromStdString(h.first), QByteArray::fromStdString(h.second)));
        }
        int latency = 0;
        {
            std::lock_guard<std::mutex> lock(mutex);
            log.append(r);
            latency = options.latencyMs;
        }
        pause(latency);
        if (requestHeld(r.target)) {
            std::unique_lock<std::mutex> lock(waitMutex);
            {
                std::lock_guard<std::mutex> counts(mutex);
                heldTargets.append(r.target);
            }
            waitCv.wait(lock, [&] { return stopping.load() || !requestHeld(r.target); });
            std::lock_guard<std::mutex> counts(mutex);
            heldTargets.removeOne(r.target);
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });
    server.Get("/", [this](const httplib::Request &, httplib::Response &res) {
        QString links;
        {
            std::lock_guard<std::mutex> lock(mutex);
            for (const Board &b : std::as_const(boards))
                links += QStringLiteral("<li><a href=\"/boards/%1/\">%2</a>%3</li>")
                             .arg(b.id, htmlEscape(b.title),
                                  b.loginRequired ? QStringLiteral(" (登录可见 / login required)") : QString());
        }
        Delivery d;
        d.bytes = QStringLiteral("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>corvadin boardsite</title>"
                                 "</head><body><h1>corvadin boardsite</h1><p><a href=\"/login\">登录 (log in)</a> · "
                                 "<a href=\"/login?remember=1\">登录并保持 (stay logged in)</a> · "
                                 "<a href=\"/logout\">退出 (log out)</a></p><ul>%1</ul></body></html>\n")
                      .arg(links)
                      .toUtf8();
        d.contentType = "text/html; charset=utf-8";
        deliver(res, std::move(d));
    });
    server.Get("/login", [this](const httplib::Request &req, httplib::Response &res) {
        QString t;
        {
            std::lock_guard<std::mutex> lock(mutex);
            t = token;
        }
        const bool remember = req.get_param_value("remember") == "1";
        res.set_header("Set-Cookie", std::string(kSessionCookie) + "=" + toStd(t) + "; Path=/" +
                                         (remember ? "; Max-Age=2592000" : ""));
        Delivery d;
        d.bytes = htmlMessage(200, QStringLiteral("已登录 (logged in)"));
        d.contentType = "text/html; charset=utf-8";
        deliver(res, std::move(d));
    });
    server.Get("/logout", [this](const httplib::Request &, httplib::Response &res) {
        res.set_header("Set-Cookie", std::string(kSessionCookie)
                                         + "=; Path=/; Expires=Thu, 01 Jan 1970 00:00:00 GMT");
        Delivery d;
        d.bytes = htmlMessage(200, QStringLiteral("已退出 (logged out)"));
        d.contentType = "text/html; charset=utf-8";
        deliver(res, std::move(d));
    });
    server.Get(R"(/boards/(\d+)/?)", [this](const httplib::Request &req, httplib::Response &res) {
        handleBoard(req, res);
    });
    server.Get("/t/bytes", [this](const httplib::Request &req, httplib::Response &res) {
        handleBytes(req, res);
    });
    server.Get("/t/loop", [](const httplib::Request &, httplib::Response &res) {
        res.set_redirect("/t/loop", 302);
    });
    server.Get("/t/echo", [this](const httplib::Request &req, httplib::Response &res) {
        handleEcho(req, res);
    });
    server.Get(R"(/([A-Za-z0-9_\-]+))", [this](const httplib::Request &req, httplib::Response &res) {
        handlePicture(req, res);
    });
}

BoardSite::BoardSite() : BoardSite(Options())
{
}

BoardSite::BoardSite(const Options &options) : d(std::make_unique<Impl>())
{
    d->q = this;
    d->options = options;
    d->clock.start();
    if (options.demoBoard)
        d->boards.append(demoBoard());
    d->reindex();
    d->setupRoutes();
}

BoardSite::~BoardSite()
{
    stop();
}

bool BoardSite::start(quint16 port, const QString &host)
{
    if (d->running)
        return true;
#ifndef _WIN32
    // A client that goes away mid-answer must not end the process.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    d->host = host;
    d->stopping = false;
    int bound = -1;
    if (port == 0) {
        bound = d->server.bind_to_any_port(toStd(host));
    } else if (d->server.bind_to_port(toStd(host), port)) {
        bound = port;
    }
    if (bound <= 0)
        return false;
    d->port = bound;
    d->thread = std::thread([this] { d->server.listen_after_bind(); });
    // stop() only reaches a server that has begun to listen.
    for (int i = 0; i < 5000 && !d->server.is_running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    d->running = true;
    return true;
}

void BoardSite::stop()
{
    if (!d->thread.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(d->waitMutex);
        d->stopping = true;
    }
    d->waitCv.notify_all();
    d->server.stop();
    d->shutdownConnections();
    d->thread.join();
    d->running = false;
}

bool BoardSite::isRunning() const
{
    return d->running;
}

quint16 BoardSite::port() const
{
    return quint16(d->port.load());
}

QString BoardSite::hostPort() const
{
    return d->host + QLatin1Char(':') + QString::number(port());
}

QString BoardSite::baseUrl() const
{
    return QStringLiteral("http://") + hostPort();
}

QString BoardSite::boardUrl(const QString &id) const
{
    return baseUrl() + QStringLiteral("/boards/") + id + QLatin1Char('/');
}

QString BoardSite::pictureUrl(const QString &key) const
{
    return QStringLiteral("http://") + imageHost() + QLatin1Char('/') + key;
}

QString BoardSite::imageHost() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->imageHostLocked();
}

BoardSite::Options BoardSite::options() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->options;
}

void BoardSite::setOptions(const Options &options)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->options = options;
}

void BoardSite::addBoard(const Board &board)
{
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        auto it = std::find_if(d->boards.begin(), d->boards.end(), [&](const Board &b) { return b.id == board.id; });
        if (it != d->boards.end())
            *it = board;
        else
            d->boards.append(board);
        d->reindex();
    }
    d->wakeWaiters();
}

void BoardSite::removeBoard(const QString &id)
{
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        d->boards.removeIf([&](const Board &b) { return b.id == id; });
        d->reindex();
    }
    d->wakeWaiters();
}

BoardSite::Board BoardSite::board(const QString &id) const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    for (const Board &b : d->boards) {
        if (b.id == id)
            return b;
    }
    return {};
}

QList<BoardSite::Board> BoardSite::boards() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->boards;
}

bool BoardSite::setPinFault(const QString &key, Fault fault)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    const auto it = d->keys.constFind(key);
    if (it == d->keys.constEnd())
        return false;
    d->boards[it->first].pins[it->second].fault = fault;
    return true;
}

QByteArray BoardSite::pictureBytes(const QString &key) const
{
    Pin pin;
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        const auto it = d->keys.constFind(key);
        if (it != d->keys.constEnd())
            pin = d->boards.at(it->first).pins.at(it->second);
        else if (!d->findInventedLocked(key, pin))
            return {};
    }
    return makePicture(pin.kind, pin.size, pin.key.toUtf8());
}

BoardSite::Fault BoardSite::effectiveFault(const QString &key) const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->faultLocked(key);
}

QList<BoardSite::RequestRecord> BoardSite::requests() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->log;
}

int BoardSite::requestCount(const QString &targetPrefix) const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    int n = 0;
    for (const RequestRecord &r : d->log) {
        if (r.target.startsWith(targetPrefix))
            ++n;
    }
    return n;
}

void BoardSite::clearRequests()
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->log.clear();
    d->pinPageRequests.clear();
    d->pictureRequests.clear();
    d->maxPictures = d->picturesInFlight;
}

int BoardSite::maxConcurrentPictures() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->maxPictures;
}

void BoardSite::holdRequests(const QString &targetPrefix)
{
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        d->holdPrefix = targetPrefix;
    }
    d->wakeWaiters(); // requests of an earlier prefix go on
}

void BoardSite::releaseRequests()
{
    holdRequests(QString());
}

int BoardSite::heldRequests() const
{
    // Only those the hold still keeps: a request let go a moment ago may not have woken
    // yet, and must not pass for one held by the next hold.
    std::lock_guard<std::mutex> lock(d->mutex);
    if (d->stopping || d->holdPrefix.isEmpty())
        return 0;
    return int(std::count_if(d->heldTargets.cbegin(), d->heldTargets.cend(),
                             [&](const QString &t) { return t.startsWith(d->holdPrefix); }));
}

QString BoardSite::sessionToken() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->token;
}

QByteArray BoardSite::boardPageBytes(const QString &id) const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    for (const Board &b : d->boards) {
        if (b.id == id)
            return b.rawPage.isEmpty() ? Impl::boardPage(b, d->options, d->imageHostLocked()) : b.rawPage;
    }
    return {};
}

QByteArray BoardSite::pinPageBytes(const QString &id, const QString &cursor, int limit) const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    for (const Board &b : d->boards) {
        if (b.id == id)
            return Impl::pinPage(b, d->options, d->imageHostLocked(), cursor,
                                 d->options.pinPageLimit > 0 ? d->options.pinPageLimit : limit);
    }
    return {};
}

namespace {

const char *const kDescriptions[] = {
    "第%1张：山间的小路",
    "Sunset over the harbour #%1",
    "Say \"cheese\" %1",
    "春天的花 \U0001F338 %1",
    "Tom &amp; Jerry %1",
    "路径 C:\\photos\\%1",
    "Café crème, naïve %1",
    "夜景 night view %1",
};

} // namespace

BoardSite::Board BoardSite::makeBoard(const QString &id, const QString &title, const QString &username,
                                      int pinCount, quint64 seed, qint64 minSize, qint64 maxSize,
                                      const QList<Kind> &kinds)
{
    Board b;
    b.id = id;
    b.title = title;
    b.username = username;
    b.userId = qint64(hashBytes(username.toUtf8()) % 90000000) + 10000000;
    b.declaredPinCount = pinCount;
    quint64 state = hashBytes(id.toUtf8(), seed);
    qint64 pinId = 3000000000ll + qint64(splitmix(state) % 1000000000ull);
    const QList<Kind> usable = kinds.isEmpty() ? QList<Kind> {Kind::Jpeg} : kinds;
    if (maxSize < minSize)
        maxSize = minSize;
    static const char alphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    for (int i = 0; i < pinCount; ++i) {
        Pin p;
        pinId -= 1 + qint64(splitmix(state) % 997);
        p.id = pinId;
        QString key;
        quint64 k = splitmix(state);
        for (int c = 0; c < 12; ++c) {
            key += QLatin1Char(alphabet[k % 36]);
            k /= 36;
        }
        k = splitmix(state);
        key += QLatin1Char('-');
        for (int c = 0; c < 8; ++c) {
            key += QLatin1Char(alphabet[k % 36]);
            k /= 36;
        }
        p.key = id + QLatin1Char('_') + key;
        p.description = QString::fromUtf8(kDescriptions[i % 8]).arg(i + 1);
        p.kind = usable[int(splitmix(state) % quint64(usable.size()))];
        p.size = minSize + qint64(splitmix(state) % quint64(maxSize - minSize + 1));
        b.pins.append(p);
    }
    return b;
}

BoardSite::Board BoardSite::demoBoard(qint64 minSize, qint64 maxSize)
{
    Board b = makeBoard(QStringLiteral("1001"), QStringLiteral("演示相册"), QStringLiteral("demo"), 45, 1001,
                        minSize, maxSize);
    // Every kind, whatever the draw gave.
    const Kind cycle[] = {Kind::Jpeg, Kind::Png, Kind::Gif, Kind::Webp, Kind::Avif};
    for (int i = 0; i < 5 && i < b.pins.size(); ++i)
        b.pins[i].kind = cycle[i];
    return b;
}

qint64 BoardSite::minimumPictureSize(Kind kind)
{
    switch (kind) {
    case Kind::Jpeg: return qint64(sizeof kTinyJpeg) + 4;
    case Kind::Png: return makePicture(Kind::Png, 0, {}).size();
    case Kind::Gif: return 40;
    case Kind::Webp:
    case Kind::Avif: return encodedPicture(kind).size();
    }
    return 0;
}

QByteArray BoardSite::encodedPicture(Kind kind)
{
    auto load = [](const QString &name) {
        QFile f(QStringLiteral(":/boardsite/pictures/") + name);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    static const QByteArray webp = load(QStringLiteral("photo.webp"));
    static const QByteArray avif = load(QStringLiteral("photo.avif"));
    return kind == Kind::Webp ? webp : kind == Kind::Avif ? avif : QByteArray();
}

PictureSource::PictureSource(BoardSite::Kind kind, qint64 size, const QByteArray &salt, const QByteArray &encoded)
{
    using Kind = BoardSite::Kind;
    m_state = hashBytes(salt, 0x5eed);
    const quint64 colour = splitmix(m_state);
    const char r = char(colour), g = char(colour >> 8), b = char(colour >> 16);
    switch (kind) {
    case Kind::Jpeg: {
        const qint64 base = sizeof kTinyJpeg;
        size = std::max(size, base + 4);
        add(Type::Literal, QByteArray(reinterpret_cast<const char *>(kTinyJpeg), kJpegInsertAt));
        add(Type::JpegPad, {}, size - base);
        add(Type::Literal, QByteArray(reinterpret_cast<const char *>(kTinyJpeg) + kJpegInsertAt, base - kJpegInsertAt));
        break;
    }
    case Kind::Png: {
        QByteArray head("\x89PNG\r\n\x1a\n", 8);
        QByteArray ihdr;
        appendBe32(ihdr, 1);
        appendBe32(ihdr, 1);
        ihdr.append(char(8)).append(char(2)).append(char(0)).append(char(0)).append(char(0));
        appendPngChunk(head, "IHDR", ihdr);
        const char raw[4] = {0, r, g, b};
        Bytef packed[64];
        uLongf packedLen = sizeof packed;
        compress2(packed, &packedLen, reinterpret_cast<const Bytef *>(raw), 4, 0);
        appendPngChunk(head, "IDAT", QByteArray(reinterpret_cast<const char *>(packed), qsizetype(packedLen)));
        // A chunk of padding in a private ancillary type, which decoders skip.
        const qint64 padding = std::max<qint64>(0, size - (head.size() + 12 + 12));
        appendBe32(head, quint32(padding));
        add(Type::Literal, head);
        add(Type::CrcStart);
        add(Type::Literal, QByteArray("crVd", 4));
        add(Type::Random, {}, padding);
        add(Type::CrcEnd);
        QByteArray end;
        appendPngChunk(end, "IEND", {});
        add(Type::Literal, end);
        break;
    }
    case Kind::Gif: {
        size = std::max<qint64>(size, 40);
        QByteArray head;
        head.append("GIF89a", 6);
        head.append(char(1)).append(char(0)).append(char(1)).append(char(0));
        head.append(char(0x80)).append(char(0)).append(char(0));
        head.append(r).append(g).append(b).append(char(0)).append(char(0)).append(char(0));
        head.append("\x2C\0\0\0\0\x01\0\x01\0\0", 10);
        head.append("\x02\x02\x44\x01\0", 5);
        // Comment extension: 21 FE, sub-blocks of 1..255 bytes, 00.
        const qint64 pad = size - head.size() - 1;
        if (pad >= 3) {
            head.append(char(0x21)).append(char(0xFE));
            add(Type::Literal, head);
            add(Type::GifPad, {}, pad - 3);
            add(Type::Literal, QByteArray(1, char(0)));
        } else {
            add(Type::Literal, head);
        }
        add(Type::Literal, QByteArray(1, char(0x3B)));
        break;
    }
    case Kind::Webp: {
        // The encoder's extended-layout file, with an unknown chunk of padding inside the
        // RIFF (chunks have an even size) and the RIFF length updated.
        QByteArray head = encoded;
        const qint64 pad = size - head.size() - 8;
        if (pad >= 0) {
            const qint64 data = pad & ~qint64(1);
            const quint32 riff = quint32(head.size() + data);
            head[4] = char(riff);
            head[5] = char(riff >> 8);
            head[6] = char(riff >> 16);
            head[7] = char(riff >> 24);
            head.append("XPAD", 4);
            const quint32 le = quint32(data);
            head.append(char(le)).append(char(le >> 8)).append(char(le >> 16)).append(char(le >> 24));
            add(Type::Literal, head);
            add(Type::Random, {}, data);
        } else {
            add(Type::Literal, head);
        }
        break;
    }
    case Kind::Avif: {
        // The encoder's file and a "free" box of padding at the top level.
        QByteArray head = encoded;
        const qint64 pad = size - head.size();
        if (pad >= 8) {
            appendBe32(head, quint32(pad));
            head.append("free", 4);
            add(Type::Literal, head);
            add(Type::Random, {}, pad - 8);
        } else {
            add(Type::Literal, head);
        }
        break;
    }
    }
}

bool PictureSource::next()
{
    m_literal.clear();
    m_literalAt = 0;
    m_wordLeft = 0; // a run starts on a word of its own
    if (m_paddingLeft > 0) {
        // The next segment of a padding: its header, then its random bytes.
        if (m_padding == Type::JpegPad) {
            qint64 total = std::min<qint64>(m_paddingLeft, 65537);
            if (m_paddingLeft - total > 0 && m_paddingLeft - total < 4)
                total = m_paddingLeft - 4;
            const qint64 len = total - 2; // the length field counts itself
            m_literal = QByteArray("\xFF\xFE", 2);
            m_literal.append(char(len >> 8)).append(char(len));
            m_random = total - 4;
            m_paddingLeft -= total;
        } else {
            qint64 n = std::min<qint64>(255, m_paddingLeft - 1);
            if (m_paddingLeft - (n + 1) == 1)
                n -= 1;
            m_literal = QByteArray(1, char(n));
            m_random = n;
            m_paddingLeft -= n + 1;
        }
        return true;
    }
    if (m_next >= m_parts.size())
        return false;
    const Part &part = m_parts[m_next++];
    switch (part.type) {
    case Type::Literal: m_literal = part.bytes; break;
    case Type::Random: m_random = part.count; break;
    case Type::JpegPad:
    case Type::GifPad:
        m_padding = part.type;
        m_paddingLeft = part.count;
        break;
    case Type::CrcStart:
        m_crcOn = true;
        m_crc = crc32(0, Z_NULL, 0);
        break;
    case Type::CrcEnd:
        m_crcOn = false;
        appendBe32(m_literal, quint32(m_crc));
        break;
    }
    return true;
}

qint64 PictureSource::read(char *out, qint64 max)
{
    qint64 done = 0;
    while (done < max) {
        qint64 n = 0;
        if (m_literalAt < m_literal.size()) {
            n = std::min(max - done, qint64(m_literal.size()) - m_literalAt);
            memcpy(out + done, m_literal.constData() + m_literalAt, size_t(n));
            m_literalAt += n;
        } else if (m_random > 0) {
            const qint64 want = std::min(max - done, m_random);
            char *p = out + done;
            while (n < want) {
                if (m_wordLeft == 0) {
                    m_word = splitmix(m_state);
                    m_wordLeft = 8;
                }
                const qint64 k = std::min<qint64>(m_wordLeft, want - n);
                memcpy(p + n, reinterpret_cast<const char *>(&m_word) + (8 - m_wordLeft), size_t(k));
                m_wordLeft -= int(k);
                n += k;
            }
            m_random -= n;
        } else {
            if (!next())
                break;
            continue;
        }
        if (m_crcOn)
            m_crc = crc32(m_crc, reinterpret_cast<const Bytef *>(out + done), uInt(n));
        done += n;
    }
    return done;
}

QByteArray BoardSite::makePicture(Kind kind, qint64 size, const QByteArray &salt)
{
    PictureSource source(kind, size, salt, encodedPicture(kind));
    QByteArray out(source.size(), Qt::Uninitialized);
    out.resize(source.read(out.data(), out.size()));
    return out;
}

QString BoardSite::mimeType(Kind kind)
{
    switch (kind) {
    case Kind::Jpeg: return QStringLiteral("image/jpeg");
    case Kind::Png: return QStringLiteral("image/png");
    case Kind::Gif: return QStringLiteral("image/gif");
    case Kind::Webp: return QStringLiteral("image/webp");
    case Kind::Avif: return QStringLiteral("image/avif");
    }
    return {};
}

bool BoardSite::parseFault(const QString &name, Fault &fault)
{
    static const QHash<QString, Fault> names = {
        {QStringLiteral("403"), Fault::Status403},   {QStringLiteral("503"), Fault::Status503},
        {QStringLiteral("cut"), Fault::StoredCut},
        {QStringLiteral("404"), Fault::Status404},   {QStringLiteral("429"), Fault::Status429},
        {QStringLiteral("500"), Fault::Status500},   {QStringLiteral("reset"), Fault::Reset},
        {QStringLiteral("stall"), Fault::Stall},     {QStringLiteral("truncate"), Fault::Truncate},
        {QStringLiteral("lie"), Fault::LieLength},   {QStringLiteral("type"), Fault::WrongType},
        {QStringLiteral("loop"), Fault::RedirectLoop}, {QStringLiteral("none"), Fault::None},
    };
    const auto it = names.constFind(name.trimmed().toLower());
    if (it == names.constEnd())
        return false;
    fault = *it;
    return true;
}

bool BoardSite::parseKind(const QString &name, Kind &kind)
{
    const QString n = name.trimmed().toLower();
    if (n == QLatin1String("jpeg") || n == QLatin1String("jpg"))
        kind = Kind::Jpeg;
    else if (n == QLatin1String("png"))
        kind = Kind::Png;
    else if (n == QLatin1String("gif"))
        kind = Kind::Gif;
    else if (n == QLatin1String("webp"))
        kind = Kind::Webp;
    else if (n == QLatin1String("avif"))
        kind = Kind::Avif;
    else
        return false;
    return true;
}

namespace {

QByteArray compressed(const QByteArray &data, int windowBits)
{
    z_stream zs {};
    if (deflateInit2(&zs, 6, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return {};
    QByteArray out;
    out.resize(qsizetype(deflateBound(&zs, uLong(data.size()))) + 32);
    zs.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData()));
    zs.avail_in = uInt(data.size());
    zs.next_out = reinterpret_cast<Bytef *>(out.data());
    zs.avail_out = uInt(out.size());
    const int rc = ::deflate(&zs, Z_FINISH);
    out.resize(qsizetype(zs.total_out));
    deflateEnd(&zs);
    return rc == Z_STREAM_END ? out : QByteArray();
}

} // namespace

QByteArray BoardSite::gzip(const QByteArray &data)
{
    return compressed(data, 15 + 16);
}

QByteArray BoardSite::deflate(const QByteArray &data)
{
    return compressed(data, 15);
}
