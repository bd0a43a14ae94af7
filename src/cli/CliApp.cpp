#include "cli/CliApp.h"

#include "cli/ProgressLine.h"
#include "core/AppState.h"
#include "core/Language.h"
#include "core/Version.h"
#include "source/ChangeSource.h"
#include "core/WindowServices.h"
#include "net/CookieStore.h"
#include "platform/Terminal.h"
#include "source/RunControl.h"
#include "text/StringCtrl.h"

#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <optional>

namespace {

std::atomic<int> g_stopRequests{0};
std::atomic<int> g_stopExit{EXIT_STOPPED}; // exit code of the latest stop request

// Files given to -i and --cookies are read whole; nobody means a larger one.
constexpr qint64 kMaxInputFile = 16 * 1024 * 1024;

void writeTo(FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

void writeErr(const QString &text)
{
    writeTo(stderr, text);
}

void writeOut(const QString &text)
{
    writeTo(stdout, text);
}

// Why a retrieval read no board, as the end of the "no album was read" line.
QString whyNotRead(const ListOutcome &o)
{
    using Kind = ListOutcome::Kind;
    switch (o.kind) {
    case Kind::HttpError:
        return QStringLiteral(": HTTP %1").arg(o.status) +
               (o.loginMayHelp() ? QStringLiteral(" (the board may need a login: log in through the window's login "
                                                  "menu, or pass --cookies)")
                                 : QString());
    case Kind::TimedOut: return QStringLiteral(": timed out");
    case Kind::NetworkError: return QStringLiteral(": ") + o.detail;
    case Kind::OtherSite: return QStringLiteral(": not a board address of %1").arg(o.site);
    default: return {};
    }
}

QString jsonLine(const QJsonObject &o)
{
    return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact)) + QLatin1Char('\n');
}

// How the run talks to its user.
struct Output {
    bool download = true;  // false with --info
    bool quiet = false;    // -q: no progress, no summary
    bool verbose = false;  // -v: one line per finished picture
    bool json = false;     // --json: one object per picture and a summary on stdout
    bool terminal = false; // stderr is a terminal: a live progress line
};

// The CLI's window: the boxes hold the board's address and the save path, the grid
// chooses every album, texts go to the terminal. The run threads call in on their own
// threads; every output goes through m_mutex, so lines never interleave.
class CliServices : public WindowServices {
public:
    CliServices(AppState &app, QString savePath, const Output &output)
        : m_app(app), m_savePath(std::move(savePath)), m_out(output)
    {
    }

    // The next board; called on the main thread between boards.
    void BeginBoard(const QString &address)
    {
        std::lock_guard lock(m_mutex);
        m_address = address;
        m_phase.clear();
        m_progress.clear();
        m_lastPrinted.clear();
        m_outcome = {};
        m_poolMs = 0;
        m_poolTimer.invalidate();
    }

    QString AddressText() override
    {
        std::lock_guard lock(m_mutex);
        return m_address;
    }
    QString SavePathText() override { return m_savePath; }

    void ShowMessage(const QString &text) override
    {
        std::lock_guard lock(m_mutex);
        clearBarLocked();
        writeErr(QStringLiteral("corvadin: ") + QString(text).replace(QLatin1Char('\n'), QLatin1Char(' ')) +
                 QLatin1Char('\n'));
    }

    void SetPhaseText(const QString &text, ReportKind kind = ReportKind::Other) override
    {
        std::lock_guard lock(m_mutex);
        m_phase = text;
        if (kind == ReportKind::RunDone)
            m_progress.clear();
        // The run's last phase line stays on a terminal too: it says how the run ended.
        if (!m_out.quiet && (!m_out.terminal || kind == ReportKind::RunDone)) {
            clearBarLocked();
            writeErr(text + QLatin1Char('\n'));
        }
    }

    void SetProgressText(const QString &text, ReportKind kind = ReportKind::Other) override
    {
        std::lock_guard lock(m_mutex);
        m_progress = text;
        if (kind == ReportKind::DownloadStarted)
            m_poolTimer.start();
    }

    void BatchFinished(unsigned, int) override
    {
        std::lock_guard lock(m_mutex);
        if (m_poolTimer.isValid())
            m_poolMs += m_poolTimer.elapsed();
        m_poolTimer.invalidate();
    }

    void PictureFinished(const PictureOutcome &o) override
    {
        if (!m_out.verbose && !m_out.json)
            return;
        std::lock_guard lock(m_mutex);
        clearBarLocked();
        if (m_out.verbose)
            writeErr(o.saved ? QStringLiteral("saved: %1 (%2%3)\n")
                                   .arg(o.file, HumanBytes(double(o.bytes)),
                                        o.warning.isEmpty() ? QString() : QStringLiteral("; ") + o.warning)
                             : QStringLiteral("failed: %1 (%2)\n").arg(o.address, o.reason));
        if (m_out.json) {
            QJsonObject line{{QStringLiteral("type"), QStringLiteral("picture")},
                             {QStringLiteral("board"), m_address},
                             {QStringLiteral("address"), o.address},
                             {QStringLiteral("file"), o.file},
                             {QStringLiteral("saved"), o.saved},
                             {QStringLiteral("bytes"), o.bytes}};
            if (!o.saved)
                line.insert(QStringLiteral("reason"), o.reason);
            if (!o.warning.isEmpty())
                line.insert(QStringLiteral("warning"), o.warning);
            writeOut(jsonLine(line));
        }
    }

    // Milliseconds the worker pool ran for this board, over all its albums.
    qint64 DownloadPhaseMs()
    {
        std::lock_guard lock(m_mutex);
        return m_poolMs;
    }

    void ShowDownloadDone() override
    {
        std::lock_guard lock(m_mutex);
        clearBarLocked();
        m_progress.clear();
    }

    int GridAppendRow(int) override { return ++m_rows; }
    QList<int> ChosenAlbums() override
    {
        QList<int> all;
        for (int i = 0, n = m_app.albums.count(); i < n; ++i)
            all.append(i);
        return all;
    }

    void StartDownloadRun() override
    {
        if (m_out.download)
            DownloadCommand(m_app, *this);
    }

    void ListFinished(const ListOutcome &outcome) override
    {
        std::lock_guard lock(m_mutex);
        m_outcome = outcome;
    }
    // How this board's retrieval ended.
    ListOutcome Outcome()
    {
        std::lock_guard lock(m_mutex);
        return m_outcome;
    }

    // Called on the main thread a few times a second.
    void Render()
    {
        if (m_out.quiet)
            return;
        std::lock_guard lock(m_mutex);
        if (m_out.terminal)
            renderBarLocked();
        else if (m_progress != m_lastPrinted && m_sincePrinted.isValid() && m_sincePrinted.elapsed() < 1000)
            return;
        else if (m_progress != m_lastPrinted && !m_progress.isEmpty()) {
            writeErr(m_progress + QLatin1Char('\n'));
            m_lastPrinted = m_progress;
            m_sincePrinted.start();
        }
    }

    // Removes the progress line, so that what follows starts on a clean line.
    void Finish()
    {
        std::lock_guard lock(m_mutex);
        clearBarLocked();
    }

private:
    void renderBarLocked()
    {
        if (Terminal::TakeResized())
            m_columns = Terminal::Columns(Terminal::Stream::Error);
        if (!m_rate.isValid())
            m_rate.start();
        QString line;
        const uint32_t total = m_app.nBatchTotal;
        if (m_app.bWorkersBusy && total > 0) {
            ProgressFigures f;
            f.phase = m_phase;
            f.done = std::min(m_app.nDoneCount.load(), total);
            f.total = total;
            f.bytes = m_app.Summary().bytes;
            const double seconds = std::max<qint64>(1, m_rate.elapsed()) / 1000.0;
            f.bytesPerSecond = (f.bytes - m_bytesAtStart) / seconds;
            if (f.done > 0)
                f.secondsLeft = qint64(seconds / f.done * (total - f.done));
            line = DownloadProgressLine(f, m_columns);
        } else {
            m_rate.restart();
            m_bytesAtStart = m_app.Summary().bytes;
            if (m_phase.isEmpty() && m_progress.isEmpty())
                return;
            line = FittedLine(m_phase + QStringLiteral("  ") + m_progress, m_columns);
        }
        writeErr(QStringLiteral("\r\x1b[K") + line);
        m_barShown = true;
    }

    void clearBarLocked()
    {
        if (m_barShown) {
            writeErr(QStringLiteral("\r\x1b[K"));
            m_barShown = false;
        }
    }

    AppState &m_app;
    const QString m_savePath;
    const Output m_out;
    std::atomic<int> m_rows{0};
    std::mutex m_mutex;
    QString m_address;
    QString m_phase;
    QString m_progress;
    QString m_lastPrinted;
    QElapsedTimer m_sincePrinted;
    QElapsedTimer m_rate;
    QElapsedTimer m_poolTimer;
    qint64 m_poolMs = 0;
    qint64 m_bytesAtStart = 0;
    int m_columns = 0;
    bool m_barShown = false;
    ListOutcome m_outcome; // how the board's retrieval ended
};

// What one board gave.
struct BoardResult {
    QString address;
    int exitCode = EXIT_ALL_SAVED;
    RunSummary summary;
    double seconds = 0;
    double downloadSeconds = 0;
};

// The human summary of one board's run.
QString summaryText(const BoardResult &b, const QString &savePath)
{
    const RunSummary &s = b.summary;
    QString text = QStringLiteral("albums: %1, pictures collected: %2, saved: %3, failed: %4, %5 in %6 s "
                                  "(download phase %7 s)\n")
                       .arg(s.albums)
                       .arg(s.collected)
                       .arg(s.saved)
                       .arg(s.failed)
                       .arg(HumanBytes(double(s.bytes)))
                       .arg(b.seconds, 0, 'f', 2)
                       .arg(b.downloadSeconds, 0, 'f', 2);
    for (const QString &list : s.listFiles)
        text += QStringLiteral("download list: %1\n").arg(list);
    if (s.skipped > 0)
        text += QStringLiteral("skipped as downloaded before: %1\n").arg(s.skipped);
    for (int k = 0; k < s.failures.size() && k < 5; ++k)
        text += QStringLiteral("  failed: %1 (%2)\n").arg(s.failures[k].address, s.failures[k].reason);
    if (s.failures.size() > 5)
        text += QStringLiteral("  ... and %1 more\n").arg(s.failures.size() - 5);
    // Saved, so not failures, but the user should look at them.
    for (int k = 0; k < s.warnings.size() && k < 5; ++k)
        text += QStringLiteral("  warning: %1 (%2)\n").arg(s.warnings[k].address, s.warnings[k].warning);
    if (s.warnings.size() > 5)
        text += QStringLiteral("  ... and %1 more warnings\n").arg(s.warnings.size() - 5);
    // Incomplete listings, boards that show fewer pins than they declare, files not written.
    for (const QString &note : RunNotes(s))
        text += note + QLatin1Char('\n');
    text += QStringLiteral("saved in: %1\n").arg(savePath);
    return text;
}

QJsonObject summaryJson(const QList<BoardResult> &boards, int exitCode)
{
    QJsonArray list;
    qint64 saved = 0, failed = 0, collected = 0, bytes = 0;
    for (const BoardResult &b : boards) {
        list.append(QJsonObject{{QStringLiteral("address"), b.address},
                                {QStringLiteral("exit"), b.exitCode},
                                {QStringLiteral("albums"), b.summary.albums},
                                {QStringLiteral("collected"), b.summary.collected},
                                {QStringLiteral("saved"), b.summary.saved},
                                {QStringLiteral("failed"), b.summary.failed},
                                {QStringLiteral("warnings"), b.summary.warnings.size()},
                                {QStringLiteral("skipped"), b.summary.skipped},
                                {QStringLiteral("incompleteAlbums"), b.summary.incompleteAlbums()},
                                {QStringLiteral("writeFailures"), QJsonArray::fromStringList(b.summary.writeFailures)},
                                {QStringLiteral("bytes"), b.summary.bytes},
                                {QStringLiteral("seconds"), b.seconds}});
        saved += b.summary.saved;
        failed += b.summary.failed;
        collected += b.summary.collected;
        bytes += b.summary.bytes;
    }
    return {{QStringLiteral("type"), QStringLiteral("summary")},
            {QStringLiteral("boards"), list},
            {QStringLiteral("collected"), collected},
            {QStringLiteral("saved"), saved},
            {QStringLiteral("failed"), failed},
            {QStringLiteral("bytes"), bytes},
            {QStringLiteral("exit"), exitCode}};
}

// Runs the boards one after another on one AppState, as the window does when its user
// presses "获取相册" for each address in turn. A stop request (Ctrl-C, SIGTERM) stops the
// board in progress and skips the rest.
class BoardRunner {
public:
    BoardRunner(AppState &app, CliServices &services, const Output &out) : m_app(app), m_services(services), m_out(out) {}

    bool Stopped() const { return m_stopped; }

    BoardResult Run(const QString &address)
    {
        BoardResult result;
        result.address = address;
        QElapsedTimer elapsed;
        elapsed.start();
        m_services.BeginBoard(address);
        m_app.ResetSummary();
        if (!ListCommand(m_app, m_services)) {
            result.exitCode = EXIT_NO_ALBUM;
            return result;
        }
        // Wait for the retrieval and then for the run it started, turning Ctrl-C into
        // the window's stop: the retrieval's requests abort, a run winds down as
        // "终止下载" does.
        while (m_app.ListState != 0)
            tick();
        {
            // The retrieval ends right after it has started the run (or not).
            std::thread list;
            {
                std::lock_guard lock(m_app.threadsMutex);
                list = std::move(m_app.listThread);
            }
            if (list.joinable())
                list.join();
        }
        if (m_stopped)
            StopDownload(m_app);
        while (m_app.DownState != 0)
            tick();
        JoinFinished(m_app);
        m_services.Finish();
        result.seconds = elapsed.elapsed() / 1000.0;
        result.downloadSeconds = m_services.DownloadPhaseMs() / 1000.0;
        result.summary = m_app.Summary();
        result.exitCode = judge(address, result);
        return result;
    }

private:
    void tick()
    {
        pollStop();
        m_services.Render();
        QThread::msleep(100);
    }

    void pollStop()
    {
        const int requests = g_stopRequests.load();
        if (requests == m_stopsSeen)
            return;
        m_stopsSeen = requests;
        if (m_stopsSeen >= 2) {
            m_services.Finish();
            writeErr(QStringLiteral("corvadin: stopped at once\n"));
            std::_Exit(g_stopExit.load());
        }
        m_stopped = true;
        m_services.ShowMessage(QStringLiteral("stopping (press Ctrl-C again to quit at once)"));
        if (m_app.DownState != 0)
            StopDownload(m_app);
        else
            m_app.bQuit = true; // the retrieval's requests end now
    }

    int judge(const QString &address, const BoardResult &result)
    {
        if (m_stopped)
            return g_stopExit.load();
        const ListOutcome outcome = m_services.Outcome();
        if (outcome.kind == ListOutcome::Kind::NotABoardPage) {
            writeErr(QStringLiteral("corvadin: %1 is not a board page (no board id in it)\n").arg(address));
            return EXIT_NO_ALBUM;
        }
        if (m_app.albums.count() == 0) {
            writeErr(QStringLiteral("corvadin: no album was read from %1%2\n").arg(address, whyNotRead(outcome)));
            return EXIT_NO_ALBUM;
        }
        if (!m_out.download)
            return EXIT_ALL_SAVED;
        if (result.summary.basePathFailed)
            return EXIT_SAVE_PATH;
        return result.summary.hasFailures() ? EXIT_SOME_FAILED : EXIT_ALL_SAVED;
    }

    AppState &m_app;
    CliServices &m_services;
    const Output m_out;
    int m_stopsSeen = 0;
    bool m_stopped = false;
};

struct Toggle {
    const char *name;
    uint16_t flag;
    const char *help;
};

const Toggle kToggles[] = {
    {"list-only", OPT_LIST_ONLY, "Write a download list (.lst) instead of downloading."},
    {"names-file", OPT_NAMES_FILE, "Keep the pins' descriptions in a names file (.txt)."},
    {"fix-format", OPT_FIX_FORMAT, "Fix file extensions from the pictures' contents."},
    {"fix-order", OPT_FIX_ORDER, "Stamp file times so folders sort in board order."},
    {"skip-downloaded", OPT_SKIP_DOWNLOADED, "Skip the pictures saved before (the album's download archive) and stop at the mark of its last complete run."},
};

struct TextOption {
    const char *name;
    char16_t (ST_SAVESET::*field)[SAVESET_TEXT_UNITS];
    const char *help;
};

std::optional<uint16_t> parseUnsigned(const QString &text, uint32_t max)
{
    bool ok = false;
    const uint value = text.toUInt(&ok);
    if (!ok || value > max)
        return std::nullopt;
    return uint16_t(value);
}

// Reads a whole file, or standard input for "-". Empty with *why set on failure; `what`
// names the file in that message ("the cookie file").
std::optional<QByteArray> readInput(const QString &name, const QString &what, QString *why)
{
    QFile f;
    const bool opened = name == QLatin1String("-") ? f.open(stdin, QIODevice::ReadOnly)
                                                    : (f.setFileName(name), f.open(QIODevice::ReadOnly));
    if (!opened) {
        *why = QStringLiteral("cannot read %1 %2: %3").arg(what, name, f.errorString());
        return std::nullopt;
    }
    // A pipe gives its bytes in pieces.
    QByteArray bytes;
    for (QByteArray piece; !(piece = f.read(kMaxInputFile + 1 - bytes.size())).isEmpty();)
        if ((bytes += piece).size() > kMaxInputFile)
            break;
    if (bytes.size() > kMaxInputFile) {
        *why = QStringLiteral("%1 %2 is larger than 16 MB").arg(what, name);
        return std::nullopt;
    }
    return bytes;
}

// The addresses of an address file: one a line; blank lines and lines starting with
// "#" are skipped.
QStringList addressLines(const QByteArray &text)
{
    QStringList addresses;
    for (const QString &raw : QString::fromUtf8(text).split(QLatin1Char('\n'))) {
        const QString line = TrimWide(raw);
        if (!line.isEmpty() && !line.startsWith(QLatin1Char('#')))
            addresses << line;
    }
    return addresses;
}

} // namespace

void RequestCliStop(int exitCode)
{
    g_stopExit.store(exitCode);
    g_stopRequests.fetch_add(1);
}

int RunCli(const QStringList &arguments)
{
    Terminal::PrepareConsole();
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Downloads whole boards (albums) from the picture-board site, as the desktop window does.\n"
        "Settings come from soft.dat, shared with the window (~/.config/Corvadin, or the working folder given with -w); "
        "the options below change them for this run only."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("ADDRESS"),
                                 QStringLiteral("Board addresses, http(s)://HOST/boards/ID/, run one after another."),
                                 QStringLiteral("ADDRESS..."));
    QCommandLineOption version({QStringLiteral("V"), QStringLiteral("version")}, QStringLiteral("Print the version and exit."));
    QCommandLineOption input({QStringLiteral("i"), QStringLiteral("input-file")},
                             QStringLiteral("Also run the boards listed in FILE, one address a line (- reads standard "
                                            "input; blank lines and lines starting with # are skipped)."),
                             QStringLiteral("FILE"));
    QCommandLineOption info(QStringLiteral("info"), QStringLiteral("Only read the boards and print one JSON line per album; writes no settings or cookies."));
    QCommandLineOption json(QStringLiteral("json"),
                            QStringLiteral("Print one JSON object per picture on standard output as it finishes, then "
                                           "one summary object; the human summary goes to standard error."));
    QCommandLineOption verbose({QStringLiteral("v"), QStringLiteral("verbose")},
                               QStringLiteral("Print each picture's outcome as it finishes."));
    QCommandLineOption work({QStringLiteral("w"), QStringLiteral("work-folder")},
                            QStringLiteral("Keep soft.dat, cookies.txt, site.ini and the rest in DIR (portable mode; default: the "
                                           "desktop's folders, ~/.config/Corvadin, ~/.local/share/Corvadin, ~/.cache/Corvadin)."),
                            QStringLiteral("DIR"));
    QCommandLineOption save({QStringLiteral("o"), QStringLiteral("save-path")},
                            QStringLiteral("Save folder (default: what the window would show)."), QStringLiteral("DIR"));
    QCommandLineOption threads({QStringLiteral("j"), QStringLiteral("threads")}, QStringLiteral("Download workers, 1 to 15."),
                               QStringLiteral("N"));
    QCommandLineOption timeout(QStringLiteral("timeout"), QStringLiteral("Time-out in seconds, at least 10."), QStringLiteral("S"));
    QCommandLineOption minKb(QStringLiteral("min-kb"), QStringLiteral("Smallest picture to keep, KB (0 = no minimum)."),
                             QStringLiteral("K"));
    QCommandLineOption maxKb(QStringLiteral("max-kb"), QStringLiteral("Largest picture to keep, KB (0 = no maximum)."),
                             QStringLiteral("K"));
    QCommandLineOption nameBase(QStringLiteral("name-base"), QStringLiteral("File names from the description, the number or the address."),
                                QStringLiteral("description|number|address"));
    QCommandLineOption folderName(QStringLiteral("folder-name"), QStringLiteral("Album folder named after the album, or none."),
                                  QStringLiteral("album|none"));
    const TextOption textOptions[] = {
        {"prefix", &ST_SAVESET::szPrefix, "Text before each file name (escape codes ?1 to ?9)."},
        {"suffix", &ST_SAVESET::szSuffix, "Text after each file name."},
        {"replace-what", &ST_SAVESET::szReplaceWhat, "Texts to replace in file names, separated by |."},
        {"replace-with", &ST_SAVESET::szReplaceWith, "Their replacements, separated by |."},
        {"folder-prefix", &ST_SAVESET::szFolderPrefix, "Text before the album folder's name (?1 ?3 ?9)."},
        {"folder-suffix", &ST_SAVESET::szFolderSuffix, "Text after the album folder's name."},
    };
    QCommandLineOption quiet({QStringLiteral("q"), QStringLiteral("quiet")}, QStringLiteral("No progress and no summary."));
    QCommandLineOption saveSettings(QStringLiteral("save-settings"),
                                    QStringLiteral("Keep this run's settings in soft.dat and corvadin.ini."));
    QCommandLineOption retries(QStringLiteral("retries"),
                               QStringLiteral("Try a failed picture or pin page again up to N times, waiting longer each "
                                              "time (0 to %1; default 2: three tries in all).")
                                   .arg(RequestSettings::kMaxRetries),
                               QStringLiteral("N"));
    QCommandLineOption sleepRequest(QStringLiteral("sleep-request"),
                                    QStringLiteral("Leave at least SECONDS between the starts of two requests to the "
                                                   "site, across all workers (0 to %1, decimals allowed; default 0).")
                                        .arg(RequestSettings::kMaxSleepRequestMs / 1000),
                                    QStringLiteral("SECONDS"));
    QCommandLineOption language(QStringLiteral("language"),
                                QStringLiteral("The language of the phase and progress lines and of the messages the "
                                               "window would show: zh (Chinese) or en (English). Default: "
                                               "CORVADIN_LANGUAGE, else the system's language (Chinese unless it "
                                               "asks for English). The program's own messages are English."),
                                QStringLiteral("LANG"));
    parser.addOptions({version, input, info, json, verbose, work, save, threads, timeout, minKb, maxKb, nameBase,
                       folderName, retries, sleepRequest, quiet, saveSettings, language});
    QCommandLineOption cookies(QStringLiteral("cookies"),
                               QStringLiteral("Send the cookies of a Netscape cookies.txt (as browser extensions export "
                                              "it) in this run, e.g. a login; with --save-settings those with an expiry are "
                                              "kept in cookies.txt."),
                               QStringLiteral("FILE"));
    parser.addOption(cookies);
    QList<QCommandLineOption> textOpts;
    for (const auto &t : textOptions) {
        textOpts.append(QCommandLineOption(QString::fromLatin1(t.name), QString::fromUtf8(t.help), QStringLiteral("T")));
        parser.addOption(textOpts.last());
    }
    QList<QPair<QCommandLineOption, QCommandLineOption>> toggleOpts;
    for (const auto &t : kToggles) {
        toggleOpts.append({QCommandLineOption(QString::fromLatin1(t.name), QString::fromLatin1(t.help)),
                           QCommandLineOption(QStringLiteral("no-") + QString::fromLatin1(t.name),
                                              QStringLiteral("Turn --%1 off.").arg(QString::fromLatin1(t.name)))});
        parser.addOption(toggleOpts.last().first);
        parser.addOption(toggleOpts.last().second);
    }

    auto usage = [](const QString &text) {
        writeErr(QStringLiteral("corvadin-cli: ") + text + QStringLiteral("\nTry 'corvadin-cli --help'.\n"));
        return int(EXIT_USAGE);
    };

    if (!parser.parse(arguments))
        return usage(parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        writeOut(parser.helpText() +
                 QStringLiteral("\nExit codes: 0 every picture saved, 1 something lost (a picture, part of a listing,\n"
                                "a list, names file or archive not written), 2 usage, 3 no album read, 4 save path\n"
                                "unusable, 130 stopped (Ctrl-C), 143 stopped (SIGTERM); with several boards, the\n"
                                "highest of theirs.\n"
                                "The site is found through CORVADIN_SITE_HOST / CORVADIN_IMAGE_HOST or site.ini.\n"));
        return EXIT_ALL_SAVED;
    }
    if (parser.isSet(version)) {
        writeOut(QStringLiteral("corvadin-cli %1\n").arg(QLatin1String(kCorvadinVersion)));
        return EXIT_ALL_SAVED;
    }
    if (parser.isSet(quiet) && parser.isSet(verbose))
        return usage(QStringLiteral("--quiet and --verbose contradict each other"));
    // The texts the core shares with the window (phase and progress lines, its messages)
    // come in the chosen language; each line stays in one language.
    const LanguageChoice choice = ChooseLanguage(parser.value(language));
    if (!choice.error.isEmpty())
        return usage(choice.error);
    if (!choice.warning.isEmpty())
        writeErr(QStringLiteral("corvadin-cli: %1\n").arg(choice.warning));
    const InstalledLanguage installedLanguage(choice.language, {});

    QStringList addresses;
    for (const QString &a : parser.positionalArguments()) {
        const QString address = TrimWide(a);
        if (address.isEmpty())
            return usage(QStringLiteral("a board address is empty"));
        addresses << address;
    }
    if (parser.isSet(input)) {
        QString why;
        const auto text = readInput(parser.value(input), QStringLiteral("the address file"), &why);
        if (!text)
            return usage(why);
        addresses << addressLines(*text);
    }
    if (addresses.isEmpty())
        return usage(parser.isSet(input) ? QStringLiteral("the address file holds no board address")
                                         : QStringLiteral("the board's address is missing"));

    // Without -w the window's own locations, so a login made in the window serves here too.
    const QString workFolder = parser.value(work);
    if (parser.isSet(work) && !QDir(workFolder).exists())
        return usage(QStringLiteral("working folder %1 does not exist").arg(workFolder));
    // The cookie file is checked whole before anything runs: a bad line imports nothing.
    QStringList cookieLines;
    if (parser.isSet(cookies)) {
        const QString file = parser.value(cookies);
        QString why;
        const auto text = readInput(file, QStringLiteral("the cookie file"), &why);
        if (!text) {
            writeErr(QStringLiteral("corvadin-cli: %1\n").arg(why));
            return EXIT_USAGE;
        }
        // The message names the line and the field, never a cookie's value.
        if (!CookieStore::ParseNetscape(*text, &cookieLines, &why)) {
            writeErr(QStringLiteral("corvadin-cli: %1 is not a Netscape cookie file: %2; no cookie was imported\n").arg(file, why));
            return EXIT_USAGE;
        }
    }
    AppState app(parser.isSet(work) ? Profile::Portable(QDir(workFolder).absolutePath()) : Profile::Standard());
    // A look at a board changes nothing in the working folder, unless asked to.
    app.writesSettingsFiles = !parser.isSet(info) || parser.isSet(saveSettings);
    app.Initialise();

    // This run's settings: the stored records with the options applied.
    ST_DOWNSET down = app.DownSet();
    ST_SAVESET names = app.SaveSet();
    if (parser.isSet(threads)) {
        const auto v = parseUnsigned(parser.value(threads), 65535);
        if (!v || *v < 1 || *v > 15)
            return usage(QStringLiteral("--threads must be 1 to 15"));
        down.wThreads = *v;
    }
    if (parser.isSet(timeout)) {
        const auto v = parseUnsigned(parser.value(timeout), 65535);
        if (!v || *v < 10)
            return usage(QStringLiteral("--timeout must be at least 10 seconds"));
        down.wTimeout = *v;
    }
    for (auto [opt, field, label] : {std::tuple{&minKb, &ST_DOWNSET::wMinKB, "--min-kb"},
                                     std::tuple{&maxKb, &ST_DOWNSET::wMaxKB, "--max-kb"}}) {
        if (!parser.isSet(*opt))
            continue;
        const auto v = parseUnsigned(parser.value(*opt), 65535);
        if (!v)
            return usage(QStringLiteral("%1 must be a number from 0 to 65535").arg(QLatin1String(label)));
        down.*field = *v;
    }
    if (parser.isSet(nameBase)) {
        const QString v = parser.value(nameBase);
        const QStringList choices{QStringLiteral("description"), QStringLiteral("number"), QStringLiteral("address")};
        if (!choices.contains(v))
            return usage(QStringLiteral("--name-base must be description, number or address"));
        names.byNameBase = uint8_t(choices.indexOf(v));
    }
    if (parser.isSet(folderName)) {
        const QString v = parser.value(folderName);
        if (v != QStringLiteral("album") && v != QStringLiteral("none"))
            return usage(QStringLiteral("--folder-name must be album or none"));
        names.byFolderName = v == QStringLiteral("album") ? 0 : 1;
    }
    for (int k = 0; k < textOpts.size(); ++k) {
        if (!parser.isSet(textOpts[k]))
            continue;
        const QString v = parser.value(textOpts[k]);
        if (v.size() > SAVESET_TEXT_MAX)
            return usage(QStringLiteral("--%1 holds at most %2 characters").arg(QLatin1String(textOptions[k].name)).arg(SAVESET_TEXT_MAX));
        SetFieldText(names.*(textOptions[k].field), v, SAVESET_TEXT_MAX);
    }
    for (int k = 0; k < toggleOpts.size(); ++k) {
        const bool on = parser.isSet(toggleOpts[k].first), off = parser.isSet(toggleOpts[k].second);
        if (on && off)
            return usage(QStringLiteral("--%1 and --no-%1 contradict each other").arg(QLatin1String(kToggles[k].name)));
        if (on)
            names.wOptions |= kToggles[k].flag;
        if (off)
            names.wOptions &= uint16_t(~kToggles[k].flag);
    }
    if (parser.isSet(retries)) {
        const auto v = parseUnsigned(parser.value(retries), 65535);
        if (!v || *v > RequestSettings::kMaxRetries)
            return usage(QStringLiteral("--retries must be 0 to %1").arg(RequestSettings::kMaxRetries));
        app.requests.retries = *v;
    }
    if (parser.isSet(sleepRequest)) {
        bool ok = false;
        const double seconds = parser.value(sleepRequest).toDouble(&ok);
        if (!ok || !std::isfinite(seconds) || seconds < 0 || seconds * 1000 > RequestSettings::kMaxSleepRequestMs)
            return usage(QStringLiteral("--sleep-request must be 0 to %1 seconds")
                             .arg(RequestSettings::kMaxSleepRequestMs / 1000));
        app.requests.sleepRequestMs = uint32_t(std::lround(seconds * 1000));
    }
    QString savePath = parser.isSet(save) ? QDir::toNativeSeparators(QDir(parser.value(save)).absolutePath())
                                          : app.StartupSavePath(!parser.isSet(info)); // a look makes no folder
    {
        std::lock_guard lock(app.settingsMutex);
        app.downSetOverride = down;
        app.saveSetOverride = names;
    }
    if (parser.isSet(saveSettings)) {
        {
            std::lock_guard lock(app.settingsMutex);
            app.settings.DownSet[SITE_MODE_BOARD] = down;
            app.settings.SaveSet[SITE_MODE_BOARD] = names;
            if (parser.isSet(save))
                RememberText(app.settings.SavePathHistory, savePath);
        }
        app.SaveSettingsNow();
        if (!app.SaveRequestsNow())
            writeErr(QStringLiteral("corvadin: %1 could not be written\n").arg(app.profile.optionsFile()));
    }

    if (parser.isSet(cookies)) {
        // Without --save-settings they serve this run only: the working folder's
        // cookies.txt is not written at all in this run.
        if (!parser.isSet(saveSettings))
            CookieStore::SetSaving(false);
        CookieStore::AddLines(cookieLines);
        if (parser.isSet(saveSettings))
            CookieStore::Save();
        if (!parser.isSet(quiet))
            writeErr(QStringLiteral("corvadin: %1 cookie(s) from %2%3\n")
                         .arg(cookieLines.size())
                         .arg(parser.value(cookies))
                         .arg(parser.isSet(saveSettings) ? QStringLiteral(", kept in cookies.txt") : QString()));
    }

    Output out;
    out.download = !parser.isSet(info);
    out.quiet = parser.isSet(quiet);
    out.verbose = parser.isSet(verbose);
    out.json = parser.isSet(json);
    out.terminal = Terminal::IsTerminal(Terminal::Stream::Error);
    if (out.terminal)
        Terminal::WatchResize();
    CliServices services(app, savePath, out);
    BoardRunner runner(app, services, out);

    app.ready = 1;
    g_stopRequests = 0;
    QList<BoardResult> results;
    int worst = EXIT_ALL_SAVED;
    for (const QString &address : addresses) {
        if (runner.Stopped())
            break;
        const BoardResult b = runner.Run(address);
        results << b;
        worst = std::max(worst, b.exitCode);
        if (!out.download) {
            QString owner = app.source.strUserFolder;
            if (owner.endsWith(QDir::separator()))
                owner.chop(1);
            for (int i = 0, albums = app.albums.count(); i < albums && b.exitCode != EXIT_NO_ALBUM; ++i) {
                const ST_PERLISTRECORD r = app.albums.at(i);
                writeOut(jsonLine({{QStringLiteral("name"), r.strName},
                                   {QStringLiteral("url"), r.strUrl},
                                   {QStringLiteral("count"), qint64(r.nPicCount)},
                                   {QStringLiteral("owner"), owner}}));
            }
        } else if (!out.quiet && (b.exitCode == EXIT_ALL_SAVED || b.exitCode == EXIT_SOME_FAILED)) {
            QString text = summaryText(b, savePath);
            if (addresses.size() > 1)
                text.prepend(QStringLiteral("board: %1\n").arg(address));
            writeTo(out.json ? stderr : stdout, text);
        }
    }
    StopAll(app);
    services.Finish();
    CookieStore::Save();
    if (out.download && out.json)
        writeOut(jsonLine(summaryJson(results, worst)));
    return worst;
}
