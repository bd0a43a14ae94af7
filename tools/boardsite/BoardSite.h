// The local board site: a small HTTP server that speaks the picture-board site's
// protocol (board pages, pin pages with cursor paging, pictures), for tests, the demo
// and the benchmarks. Runs in-process (tests) or as corvadin-boardsite.
//
// Threads: start(), stop(), addBoard(), setOptions() and the queries may be called
// from any thread; requests are answered on the server's own pool threads. Every
// public member is safe to call while requests run; changes apply to later requests.
//
// Routes (all GET):
//
//   /boards/<id>/              board page: HTML holding a settings object with
//                              "hbimg":"HOST" (Options::imageHostInBoardPage), then
//                              app.page["board"] = {"board_id":..,"title":"..",
//                              "pin_count":..,..,"user":{..,"username":".."},..,
//                              "pins":[ first Options::pinsOnBoardPage pins ]}.
//                              The query is ignored unless it holds hxzmqq2s or max.
//   /boards/<id>/?hxzmqq2s&max=<pin id>&limit=<n>&wfl=1
//                              pin page: JSON {"board":{"board_id":..,..,"pins":[..]}}
//                              with the pins whose id is below max (from the first pin
//                              when max is empty), at most limit of them (20 without
//                              limit; Options::pinPageLimit overrides). "hbimg":"HOST"
//                              comes before "pins" only with imageHostInPinPages.
//                              A pin object is {"pin_id":ID,..,"file":{"bucket":"hbimg",
//                              "key":"KEY","type":"image/..",..},..,"raw_text":"DESC",..}.
//                              Boards with loginRequired answer both with 403 unless the
//                              request carries the cookie corvadin_session=sessionToken().
//   /<key>                     a picture: JPEG/PNG/GIF/WebP/AVIF bytes of the pin's size
//                              (pictureBytes(key)), or the pin's fault (for its first
//                              Pin::faultTimes requests only, when that is set).
//                              429 and 503 answers carry Options::retryAfterSeconds.
//                              Boards with inventPins also answer keys "<id>_inv<pin id>"
//                              (2 KB JPEGs) for pins they made up.
//   /                          home page: links to /login, /login?remember=1, /logout
//                              and every board
//   /login                     sets corvadin_session=<sessionToken()>; Path=/, a session
//                              cookie; /login?remember=1 (the "stay logged in" box) gives
//                              it a Max-Age of 30 days
//   /logout                    expires that cookie.
//
// Test routes for the HTTP session, driven by query parameters:
//
//   /t/bytes                   a body of n bytes of text (default n=100): "abc..z" repeated.
//      n=N                     body length
//      body=TEXT               the body is TEXT as UTF-8 instead (with gbk=1: as GBK)
//      hex=HEX                 the body is these raw bytes instead
//      ctype=TYPE              Content-Type (default "text/html")
//      status=CODE             status code (default 200; 302 etc. with redirect)
//      gzip=1                  body gzip-compressed, "Content-Encoding: gzip"
//      deflate=1               body zlib-compressed, "Content-Encoding: deflate"
//      chunked=1               chunked transfer, no Content-Length
//      nolength=1              no Content-Length, the body ends when the connection closes
//      declare=N               declared Content-Length N; N above the body's length:
//                              the body is sent, then the connection is closed; N below
//                              it: the whole body is sent anyway, then closed; N = 0:
//                              an empty body
//      delay_ms=M              wait M ms before the headers
//      stall_after=K&stall_ms=M  send K body bytes, pause M ms (or until stop), send
//                              the rest; stall_ms alone pauses before the first byte
//      rate=B                  send at most B bytes per second
//      reset=1                 close the connection without any response (RST)
//      redirect=URL            Location: URL with status 302 (or status=)
//      setcookie=NAME=VALUE    Set-Cookie: NAME=VALUE; Path=/   (may repeat)
//      header=NAME:%20VALUE    an extra response header line (may repeat)
//   /t/loop                    302 to itself, forever
//   /t/echo                    text/plain: the request line, then every request header
//                              as "Name: value" CR LF (Cookie and User-Agent included)
//
// Every request is logged (requests(), requestCount(); the log grows until
// clearRequests()); stalls, delays, latency and held requests end at stop().
#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <atomic>
#include <cstdint>
#include <memory>

class BoardSite {
public:
    // Webp and Avif are pictures made by Debian's encoders (tools/boardsite/pictures/),
    // padded to size inside their own layout: an unknown RIFF chunk, a "free" box.
    enum class Kind { Jpeg, Png, Gif, Webp, Avif };

    enum class Fault {
        None,
        Status403,
        Status404,
        Status429, // with Retry-After (Options::retryAfterSeconds)
        Status500,
        Status503, // with Retry-After as well
        Reset,     // the connection is closed without any response
        Stall,     // headers, then nothing for Options::stallMs (or until stop), then close
        Truncate,  // full Content-Length declared, half the body sent, then close
        LieLength, // half the length declared, the whole body sent, then close
        WrongType, // 200 with a text/html page instead of the picture
        RedirectLoop, // 302 to the picture's own address, forever
        StoredCut, // the picture's first half, declared and sent whole: a picture the
                   // site itself keeps cut short (the same bytes every time)
    };

    struct Pin {
        qint64 id = 0;        // pins of a board are listed by descending id
        QString key;          // [A-Za-z0-9_-]+, unique within the site
        QString description;  // raw_text; any characters
        Kind kind = Kind::Jpeg;
        qint64 size = 4096;   // picture bytes (raised to the smallest valid picture)
        Fault fault = Fault::None;
        int faultTimes = 0;   // the fault answers only the first N requests for the
                              // picture, later ones get it whole; 0: every request
        bool withoutId = false; // listed with an empty "pin_id": value, as a piece
                                // without an id; the id still places it in the board
    };

    struct Board {
        QString id;                  // digits
        QString title;
        QString username;
        qint64 userId = 0;
        qint64 declaredPinCount = 0; // pin_count shown in the pages
        QList<Pin> pins;             // what the pages really list, newest first
        bool loginRequired = false;  // pages answer 403 without the session cookie
        int pinPagesFailFrom = 0;    // the N-th pin-page request of this board and all
                                     // later ones answer 500 (1-based; 0: never)
        Fault pinPageFault = Fault::None; // pin-page requests of this board answer with
                                          // this fault (a status fault or Reset) ...
        int pinPageFaultTimes = 0;        // ... the first N of them; 0: every one
        bool repeatFirstPage = false; // pin pages ignore the cursor: always the newest pins
        bool holdBoardPage = false;  // the board page is answered only once the board is
                                     // replaced by one without the hold (addBoard), or at
                                     // stop(): a test decides when a reader gets it
        QByteArray rawPage;          // when not empty, the board page is exactly these
                                     // bytes (text/html; charset=utf-8), for pages that
                                     // break the usual layout
        // Hostile boards.
        bool endlessBoardPage = false; // the board page never ends: after its text comes
                                       // filler, chunked, until the client goes away;
                                       // gzip-compressed on the fly with gzipPages
        bool endlessPinPages = false;  // the same for every pin page
        bool redirectLoop = false;     // board and pin pages answer 302 to themselves
        bool inventPins = false;       // pin pages make up `limit` new pins below the
                                       // cursor, forever (the board page too when `pins`
                                       // is empty); their pictures are served as well
    };

    struct Options {
        QString imageHost;                 // host[:port] named in pages; empty: hostPort()
        bool imageHostInBoardPage = true;
        bool imageHostInPinPages = false;
        int pinsOnBoardPage = 20;
        int pinPageLimit = 0;              // 0: the request's limit (20 without one)
        bool gzipPages = false;            // board and pin pages gzip-compressed when
                                           // the request accepts gzip
        int latencyMs = 0;                 // wait before every answer
        qint64 bandwidthBytesPerSec = 0;   // per connection; 0: unlimited
        int faultEvery = 0;                // every N-th pin of a board (by position,
                                           // 1-based) gets a fault; 0: none
        QList<Fault> faultKinds;           // cycled over those pins; empty: Status500
        int stallMs = 60000;               // how long a Stall lasts (stop() ends it)
        int retryAfterSeconds = 1;         // Retry-After of 429 and 503 answers; -1: none
        bool retryAfterAsDate = false;     // ... sent as an HTTP date that far ahead
        bool cookieOnPictures = false;     // every picture answer sets the cookie
                                           // corvadin_seen=<key>
        bool demoBoard = true;             // the site starts with demoBoard()
    };

    struct RequestRecord {
        QString method;
        QString target;        // path and query as sent
        QString path;          // without the query
        QList<QPair<QByteArray, QByteArray>> headers;
        int remotePort = 0;
        qint64 atMs = 0;       // when it arrived: milliseconds since the site started
        QByteArray header(const QByteArray &name) const; // case-insensitive; empty if none
    };

    BoardSite();
    explicit BoardSite(const Options &options);
    ~BoardSite(); // stops
    BoardSite(const BoardSite &) = delete;
    BoardSite &operator=(const BoardSite &) = delete;

    // Listens on host:port (port 0: a free port) and serves on a thread of its own.
    bool start(quint16 port = 0, const QString &host = QStringLiteral("127.0.0.1"));
    // Ends every stall and open connection and joins the server thread.
    void stop();
    bool isRunning() const;

    quint16 port() const;
    QString hostPort() const;                 // "127.0.0.1:PORT"
    QString baseUrl() const;                  // "http://127.0.0.1:PORT"
    QString boardUrl(const QString &id) const; // baseUrl() + "/boards/<id>/"
    QString pictureUrl(const QString &key) const;
    QString imageHost() const;                 // the host named in pages

    Options options() const;
    void setOptions(const Options &options);

    // Adds a board, replacing one with the same id.
    void addBoard(const Board &board);
    void removeBoard(const QString &id);
    Board board(const QString &id) const;      // empty Board when unknown
    QList<Board> boards() const;
    // Sets the fault of one picture; false when the key is unknown.
    bool setPinFault(const QString &key, Fault fault);

    // The exact bytes served for a key (without its fault); empty for an unknown key.
    QByteArray pictureBytes(const QString &key) const;
    // The fault served for a key: the pin's own, else the site's faultEvery rule.
    Fault effectiveFault(const QString &key) const;

    // Request log.
    QList<RequestRecord> requests() const;
    int requestCount(const QString &targetPrefix = QString()) const; // by target prefix
    void clearRequests(); // also starts the faultTimes and pinPageFaultTimes counts anew
    // Most picture answers in flight at the same time since start or clearRequests().
    int maxConcurrentPictures() const;

    // Requests whose target starts with `targetPrefix` are logged and then wait for
    // releaseRequests() (or stop()) before they are answered: a test holds a reader at a
    // request to look at, or act in, the state it is in. One prefix at a time.
    void holdRequests(const QString &targetPrefix);
    void releaseRequests();
    int heldRequests() const; // requests the current hold keeps waiting now

    QString sessionToken() const;

    // Deterministic boards: pin ids descend from a seed-derived start, keys are
    // unique per (board id, seed, position), kinds and sizes are drawn from the seed.
    static Board makeBoard(const QString &id, const QString &title, const QString &username,
                           int pinCount, quint64 seed, qint64 minSize = 2048,
                           qint64 maxSize = 16384,
                           const QList<Kind> &kinds = {Kind::Jpeg, Kind::Png, Kind::Gif});
    // Board 1001 "演示相册" of "demo": 45 pins, the first five of each kind (JPEG, PNG,
    // GIF, WebP, AVIF), Chinese and English descriptions, one with a quote.
    static Board demoBoard(qint64 minSize = 4096, qint64 maxSize = 65536);
    // A valid picture of the kind, padded to `size` bytes with data drawn from `salt`.
    static QByteArray makePicture(Kind kind, qint64 size, const QByteArray &salt);
    // The smallest size makePicture can give for a kind.
    static qint64 minimumPictureSize(Kind kind);
    static QString mimeType(Kind kind);
    // The encoder's own file behind the Webp and Avif kinds (unpadded).
    static QByteArray encodedPicture(Kind kind);
    // Names used on the command line: 403 404 429 500 503 reset stall truncate lie type
    // loop cut.
    static bool parseFault(const QString &name, Fault &fault);
    static bool parseKind(const QString &name, Kind &kind);
    static QByteArray gzip(const QByteArray &data);
    // A zlib stream, as "Content-Encoding: deflate" carries it.
    static QByteArray deflate(const QByteArray &data);

    // The page texts as served (before gzip), for tests that check the markers.
    QByteArray boardPageBytes(const QString &id) const;
    QByteArray pinPageBytes(const QString &id, const QString &cursor, int limit) const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
