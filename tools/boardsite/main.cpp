// corvadin-boardsite: the local board site as a program, for the demo and benchmarks.
#include "BoardSite.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

#include <csignal>
#include <cstdio>
#ifndef _WIN32
#include <pthread.h>
#else
#include <atomic>
#include <chrono>
#include <thread>
#endif

namespace {

#ifdef _WIN32
std::atomic<bool> g_quit {false};
void onSignal(int) { g_quit = true; }
#endif

int fail(const QString &message)
{
    QTextStream(stderr) << "corvadin-boardsite: " << message << Qt::endl;
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
#ifndef _WIN32
    // Block the stop signals before any thread starts, so the server threads inherit
    // the mask and only the sigwait below receives them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
#endif
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("corvadin-boardsite"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "The local picture-board site: board pages, pin pages and pictures on loopback.\n"
        "Board 1001 (\"演示相册\" of \"demo\", 45 pins) always exists."));
    parser.addHelpOption();
    const QCommandLineOption portOpt(QStringLiteral("port"), QStringLiteral("Port to listen on (default 8090, 0 = any free port)."), QStringLiteral("N"), QStringLiteral("8090"));
    const QCommandLineOption hostOpt(QStringLiteral("host"), QStringLiteral("Address to listen on (default 127.0.0.1)."), QStringLiteral("ADDR"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption boardsOpt(QStringLiteral("boards"), QStringLiteral("Generated boards besides the demo board (ids 2001 and up; default 0)."), QStringLiteral("N"), QStringLiteral("0"));
    const QCommandLineOption pinsOpt(QStringLiteral("pins"), QStringLiteral("Pins per generated board (default 45)."), QStringLiteral("N"), QStringLiteral("45"));
    const QCommandLineOption minKbOpt(QStringLiteral("min-kb"), QStringLiteral("Smallest picture in KB (default 4)."), QStringLiteral("K"), QStringLiteral("4"));
    const QCommandLineOption maxKbOpt(QStringLiteral("max-kb"), QStringLiteral("Largest picture in KB (default 64)."), QStringLiteral("K"), QStringLiteral("64"));
    const QCommandLineOption kindsOpt(QStringLiteral("kinds"), QStringLiteral("Picture kinds of generated boards, from jpeg,png,gif,webp,avif (default jpeg,png,gif)."), QStringLiteral("LIST"), QStringLiteral("jpeg,png,gif"));
    const QCommandLineOption gzipOpt(QStringLiteral("gzip"), QStringLiteral("Send board and pin pages gzip-compressed."));
    const QCommandLineOption latencyOpt(QStringLiteral("latency-ms"), QStringLiteral("Wait before every answer (default 0)."), QStringLiteral("N"), QStringLiteral("0"));
    const QCommandLineOption bandwidthOpt(QStringLiteral("bandwidth-kbps"), QStringLiteral("Bandwidth cap per connection in KB/s (default 0 = none)."), QStringLiteral("N"), QStringLiteral("0"));
    const QCommandLineOption faultEveryOpt(QStringLiteral("fault-every"), QStringLiteral("Every N-th picture of a board fails (default 0 = none)."), QStringLiteral("N"), QStringLiteral("0"));
    const QCommandLineOption faultKindsOpt(QStringLiteral("fault-kinds"), QStringLiteral("Faults cycled over those pictures: reset,stall,403,404,429,500,503,truncate,lie,type,loop,cut (default 500)."), QStringLiteral("LIST"), QStringLiteral("500"));
    const QCommandLineOption retryAfterOpt(QStringLiteral("retry-after"), QStringLiteral("Retry-After of 429 and 503 answers in seconds (default 1, -1 = none)."), QStringLiteral("N"), QStringLiteral("1"));
    const QCommandLineOption retryAfterDateOpt(QStringLiteral("retry-after-date"), QStringLiteral("Send Retry-After as an HTTP date."));
    const QCommandLineOption stallOpt(QStringLiteral("stall-ms"), QStringLiteral("How long a stalled picture stalls (default 60000)."), QStringLiteral("N"), QStringLiteral("60000"));
    const QCommandLineOption imageHostOpt(QStringLiteral("image-host"), QStringLiteral("Picture host named in the pages (default: this site's host:port)."), QStringLiteral("HOST"));
    const QCommandLineOption imageHostInPinPagesOpt(QStringLiteral("image-host-in-pin-pages"), QStringLiteral("Also name the picture host in pin pages."));
    const QCommandLineOption loginBoardOpt(QStringLiteral("login-board"), QStringLiteral("Also serve board 1002, which answers 403 until /login has been visited."));
    const QCommandLineOption seedOpt(QStringLiteral("seed"), QStringLiteral("Seed of the generated boards (default 1)."), QStringLiteral("N"), QStringLiteral("1"));
    parser.addOptions({portOpt, hostOpt, boardsOpt, pinsOpt, minKbOpt, maxKbOpt, kindsOpt, gzipOpt, latencyOpt,
                       bandwidthOpt, faultEveryOpt, faultKindsOpt, retryAfterOpt, retryAfterDateOpt, stallOpt, imageHostOpt, imageHostInPinPagesOpt,
                       loginBoardOpt, seedOpt});
    if (!parser.parse(app.arguments()))
        return fail(parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        fputs(qPrintable(parser.helpText()), stdout);
        return 0;
    }
    if (!parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("unexpected argument: %1").arg(parser.positionalArguments().first()));

    auto number = [&](const QCommandLineOption &o, qint64 min, qint64 max, qint64 &out) {
        bool ok = false;
        out = parser.value(o).toLongLong(&ok);
        return ok && out >= min && out <= max;
    };
    qint64 port, boards, pins, minKb, maxKb, latency, bandwidth, faultEvery, retryAfter, stallMs, seed;
    if (!number(portOpt, 0, 65535, port))
        return fail(QStringLiteral("bad --port"));
    if (!number(boardsOpt, 0, 10000, boards))
        return fail(QStringLiteral("bad --boards"));
    if (!number(pinsOpt, 0, 1000000, pins))
        return fail(QStringLiteral("bad --pins"));
    if (!number(minKbOpt, 0, 1024 * 1024, minKb) || !number(maxKbOpt, 0, 1024 * 1024, maxKb) || maxKb < minKb)
        return fail(QStringLiteral("bad --min-kb/--max-kb"));
    if (!number(latencyOpt, 0, 600000, latency))
        return fail(QStringLiteral("bad --latency-ms"));
    if (!number(bandwidthOpt, 0, 100000000, bandwidth))
        return fail(QStringLiteral("bad --bandwidth-kbps"));
    if (!number(faultEveryOpt, 0, 1000000, faultEvery))
        return fail(QStringLiteral("bad --fault-every"));
    if (!number(retryAfterOpt, -1, 86400 * 365, retryAfter))
        return fail(QStringLiteral("bad --retry-after"));
    if (!number(stallOpt, 0, 3600000, stallMs))
        return fail(QStringLiteral("bad --stall-ms"));
    if (!number(seedOpt, 0, std::numeric_limits<qint64>::max(), seed))
        return fail(QStringLiteral("bad --seed"));

    QList<BoardSite::Kind> kinds;
    for (const QString &k : parser.value(kindsOpt).split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        BoardSite::Kind kind;
        if (!BoardSite::parseKind(k, kind))
            return fail(QStringLiteral("unknown kind: %1").arg(k));
        kinds.append(kind);
    }
    BoardSite::Options options;
    options.demoBoard = false;
    options.gzipPages = parser.isSet(gzipOpt);
    options.latencyMs = int(latency);
    options.bandwidthBytesPerSec = bandwidth * 1024;
    options.faultEvery = int(faultEvery);
    options.stallMs = int(stallMs);
    options.retryAfterSeconds = int(retryAfter);
    options.retryAfterAsDate = parser.isSet(retryAfterDateOpt);
    options.imageHostInPinPages = parser.isSet(imageHostInPinPagesOpt);
    if (parser.isSet(imageHostOpt))
        options.imageHost = parser.value(imageHostOpt);
    for (const QString &f : parser.value(faultKindsOpt).split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        BoardSite::Fault fault;
        if (!BoardSite::parseFault(f, fault))
            return fail(QStringLiteral("unknown fault: %1").arg(f));
        options.faultKinds.append(fault);
    }

    BoardSite site(options);
    site.addBoard(BoardSite::demoBoard(minKb * 1024, maxKb * 1024));
    if (parser.isSet(loginBoardOpt)) {
        BoardSite::Board locked = BoardSite::makeBoard(QStringLiteral("1002"), QStringLiteral("登录可见"), QStringLiteral("demo"),
                                                       12, quint64(seed), minKb * 1024, maxKb * 1024, kinds);
        locked.loginRequired = true;
        site.addBoard(locked);
    }
    for (qint64 i = 0; i < boards; ++i) {
        const QString id = QString::number(2001 + i);
        site.addBoard(BoardSite::makeBoard(id, QStringLiteral("相册 %1").arg(i + 1), QStringLiteral("user%1").arg(i + 1),
                                           int(pins), quint64(seed) + quint64(i), minKb * 1024, maxKb * 1024, kinds));
    }
    if (!site.start(quint16(port), parser.value(hostOpt)))
        return fail(QStringLiteral("cannot listen on %1:%2").arg(parser.value(hostOpt)).arg(port));

    for (const BoardSite::Board &b : site.boards())
        printf("%s\n", qPrintable(site.boardUrl(b.id)));
    fflush(stdout);

#ifndef _WIN32
    int received = 0;
    sigwait(&stopSignals, &received);
#else
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    while (!g_quit)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
#endif
    site.stop();
    return 0;
}
