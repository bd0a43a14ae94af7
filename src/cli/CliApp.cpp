#include "cli/CliApp.h"

#include "core/AppState.h"
#include "source/RunControl.h"
#include "core/WindowServices.h"
#include "net/CookieStore.h"
#include "text/StringCtrl.h"

#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <optional>
#include <unistd.h>

namespace {

std::atomic<int> g_stopRequests{0};

void writeErr(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

void writeOut(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

QString humanBytes(double bytes)
{
    static const char *units[] = {"B", "KB", "MB", "GB"};
    int u = 0;
    while (bytes >= 1024 && u < 3) {
        bytes /= 1024;
        ++u;
    }
    return QString::number(bytes, 'f', u == 0 ? 0 : 1) + QLatin1Char(' ') + QLatin1String(units[u]);
}

QString clock(qint64 seconds)
{
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

// Why a retrieval read no board, as the end of the "no album was read" line.
QString whyNotRead(const ListOutcome &o)
{
    using Kind = ListOutcome::Kind;
    switch (o.kind) {
    case Kind::HttpError:
        return QStringLiteral(": HTTP %1").arg(o.status) +
               (o.loginMayHelp() ? QStringLiteral(" (the board may need a login: log in through the window's "
                                                  "\"<登录>\" menu, or pass --cookies)")
                                 : QString());
    case Kind::TimedOut: return QStringLiteral(": timed out");
    case Kind::NetworkError: return QStringLiteral(": ") + o.detail;
    case Kind::OtherSite: return QStringLiteral(": not a board address of %1").arg(o.site);
    default: return {};
    }
}

// The CLI's window: boxes hold the address and save path, the grid chooses every album,
// texts go to the terminal.
class CliServices : public WindowServices {
public:
    CliServices(AppState &app, QString address, QString savePath, bool download, bool quiet, bool terminal)
        : m_app(app), m_address(std::move(address)), m_savePath(std::move(savePath)), m_download(download),
          m_quiet(quiet), m_terminal(terminal)
    {
    }

    QString AddressText() override { return m_address; }
    QString SavePathText() override { return m_savePath; }

    void ShowMessage(const QString &text) override
    {
        std::lock_guard lock(m_mutex);
        clearBarLocked();
        writeErr(QStringLiteral("corvadin: ") + QString(text).replace(QLatin1Char('\n'), QLatin1Char(' ')) +
                 QLatin1Char('\n'));
    }

    void SetPhaseText(const QString &text, ReportKind = ReportKind::Other) override
    {
        std::lock_guard lock(m_mutex);
        m_phase = text;
        if (!m_quiet && !m_terminal)
            writeErr(text + QLatin1Char('\n'));
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

    // Milliseconds the worker pool ran, over all albums.
    qint64 DownloadPhaseMs()
    {
        std::lock_guard lock(m_mutex);
        return m_poolMs;
    }

    void ShowDownloadDone() override
    {
        std::lock_guard lock(m_mutex);
        clearBarLocked();
        m_phase = QStringLiteral("下载完毕");
        m_progress.clear();
        if (!m_quiet)
            writeErr(m_phase + QLatin1Char('\n'));
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
        if (m_download)
            DownloadCommand(m_app, *this);
    }

    void ListFinished(const ListOutcome &outcome) override
    {
        std::lock_guard lock(m_mutex);
        m_outcome = outcome;
    }
    ListOutcome Outcome()
    {
        std::lock_guard lock(m_mutex);
        return m_outcome;
    }

    // Called on the main thread a few times a second.
    void Render()
    {
        if (m_quiet)
            return;
        std::lock_guard lock(m_mutex);
        if (m_terminal)
            renderBarLocked();
        else if (m_progress != m_lastPrinted && m_sincePrinted.isValid() && m_sincePrinted.elapsed() < 1000)
            return;
        else if (m_progress != m_lastPrinted && !m_progress.isEmpty()) {
            writeErr(m_progress + QLatin1Char('\n'));
            m_lastPrinted = m_progress;
            m_sincePrinted.start();
        }
    }

    void Finish()
    {
        std::lock_guard lock(m_mutex);
        clearBarLocked();
    }

private:
    void renderBarLocked()
    {
        if (!m_rate.isValid())
            m_rate.start();
        QString line;
        const uint32_t total = m_app.nBatchTotal;
        if (m_app.bWorkersBusy && total > 0) {
            const uint32_t done = std::min(m_app.nDoneCount.load(), total);
            const qint64 bytes = m_app.Summary().bytes;
            const double seconds = std::max<qint64>(1, m_rate.elapsed()) / 1000.0;
            const double rate = (bytes - m_bytesAtStart) / seconds;
            const int width = 24;
            const int filled = int(width * double(done) / total);
            const double perPicture = done > 0 ? seconds / done : 0;
            line = m_phase + QStringLiteral(" [") + QString(filled, QLatin1Char('#')) +
                   QString(width - filled, QLatin1Char('-')) + QStringLiteral("] %1/%2  %3  %4/s  ETA %5")
                                                                  .arg(done)
                                                                  .arg(total)
                                                                  .arg(humanBytes(bytes), humanBytes(rate),
                                                                       done > 0 ? clock(qint64(perPicture * (total - done)))
                                                                                : QStringLiteral("--:--"));
        } else {
            m_rate.restart();
            m_bytesAtStart = m_app.Summary().bytes;
            line = m_phase + QStringLiteral("  ") + m_progress;
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
    const QString m_address;
    const QString m_savePath;
    const bool m_download;
    const bool m_quiet;
    const bool m_terminal;
    std::atomic<int> m_rows{0};
    std::mutex m_mutex;
    QString m_phase;
    QString m_progress;
    QString m_lastPrinted;
    QElapsedTimer m_sincePrinted;
    QElapsedTimer m_rate;
    QElapsedTimer m_poolTimer;
    qint64 m_poolMs = 0;
    qint64 m_bytesAtStart = 0;
    bool m_barShown = false;
    ListOutcome m_outcome; // how the retrieval ended
};

struct Toggle {
    const char *name;
    uint16_t flag;
    const char *help;
};

const Toggle kToggles[] = {
    {"list-only", OPT_LIST_ONLY, "write a download list (.lst) instead of downloading"},
    {"names-file", OPT_NAMES_FILE, "keep the pins' descriptions in a names file (.txt)"},
    {"fix-format", OPT_FIX_FORMAT, "fix file extensions from the pictures' contents"},
    {"fix-order", OPT_FIX_ORDER, "stamp file times so folders sort in board order"},
    {"skip-downloaded", OPT_SKIP_DOWNLOADED, "stop an album at the first picture of its previous run"},
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

} // namespace

void RequestCliStop()
{
    g_stopRequests.fetch_add(1);
}

int RunCli(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Downloads a whole board (album) from the picture-board site, as the window's \"获取相册\" does.\n"
        "Settings come from soft.dat in the working folder; the options below change them for this run only."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("ADDRESS"), QStringLiteral("The board's address, http(s)://HOST/boards/ID/"));
    QCommandLineOption info(QStringLiteral("info"), QStringLiteral("Only read the board and print one JSON line per album."));
    QCommandLineOption work({QStringLiteral("w"), QStringLiteral("work-folder")},
                            QStringLiteral("Working folder holding soft.dat, cookies.txt and site.ini (default: current folder)."),
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
    QCommandLineOption saveSettings(QStringLiteral("save-settings"), QStringLiteral("Keep this run's settings in soft.dat."));
    parser.addOptions({info, work, save, threads, timeout, minKb, maxKb, nameBase, folderName, quiet, saveSettings});
    QCommandLineOption cookies(QStringLiteral("cookies"),
                               QStringLiteral("Send the cookies of a Netscape cookies.txt (as browser extensions export "
                                              "it) in this run, e.g. a login; with --save-settings they are kept in the "
                                              "working folder's cookies.txt."),
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
                 QStringLiteral("\nExit codes: 0 every picture saved, 1 some failed, 2 usage, 3 no album read,\n"
                                "4 save path unusable, 130 stopped (Ctrl-C).\n"
                                "The site is found through CORVADIN_SITE_HOST / CORVADIN_IMAGE_HOST or site.ini.\n"));
        return EXIT_ALL_SAVED;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        writeOut(QStringLiteral("corvadin-cli 14.07.24.01\n"));
        return EXIT_ALL_SAVED;
    }
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 1)
        return usage(positional.isEmpty() ? QStringLiteral("the board's address is missing")
                                          : QStringLiteral("give exactly one board address"));
    const QString address = TrimWide(positional.first());
    if (address.isEmpty())
        return usage(QStringLiteral("the board's address is empty"));

    QString workFolder = parser.isSet(work) ? parser.value(work) : QDir::currentPath();
    if (!QDir(workFolder).exists())
        return usage(QStringLiteral("working folder %1 does not exist").arg(workFolder));
    // The cookie file is checked whole before anything runs: a bad line imports nothing.
    QStringList cookieLines;
    if (parser.isSet(cookies)) {
        const QString file = parser.value(cookies);
        QFile f(file);
        if (!f.open(QIODevice::ReadOnly)) {
            writeErr(QStringLiteral("corvadin-cli: cannot read the cookie file %1\n").arg(file));
            return EXIT_USAGE;
        }
        constexpr qint64 kMaxCookieFile = 16 * 1024 * 1024;
        if (f.size() > kMaxCookieFile) {
            writeErr(QStringLiteral("corvadin-cli: the cookie file %1 is larger than 16 MB\n").arg(file));
            return EXIT_USAGE;
        }
        QString why;
        // The message names the line and the field, never a cookie's value.
        if (!CookieStore::ParseNetscape(f.read(kMaxCookieFile), &cookieLines, &why)) {
            writeErr(QStringLiteral("corvadin-cli: %1 is not a Netscape cookie file: %2; no cookie was imported\n").arg(file, why));
            return EXIT_USAGE;
        }
    }
    AppState app(QDir(workFolder).absolutePath());
    app.Initialise();

    // This run's settings: the stored records with the options applied.
    ST_DOWNSET down = app.DownSet();
    ST_SAVESET names = app.SaveSet();
    if (parser.isSet(threads)) {
        const auto v = parseUnsigned(parser.value(threads), 65535);
        if (!v || *v < 1 || *v > 15)
            return usage(QStringLiteral("参数错误: --threads must be 1 to 15"));
        down.wThreads = *v;
    }
    if (parser.isSet(timeout)) {
        const auto v = parseUnsigned(parser.value(timeout), 65535);
        if (!v || *v < 10)
            return usage(QStringLiteral("参数错误: --timeout must be at least 10 seconds"));
        down.wTimeout = *v;
    }
    for (auto [opt, field, label] : {std::tuple{&minKb, &ST_DOWNSET::wMinKB, "--min-kb"},
                                     std::tuple{&maxKb, &ST_DOWNSET::wMaxKB, "--max-kb"}}) {
        if (!parser.isSet(*opt))
            continue;
        const auto v = parseUnsigned(parser.value(*opt), 65535);
        if (!v)
            return usage(QStringLiteral("参数错误: %1 must be a number from 0 to 65535").arg(QLatin1String(label)));
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
    QString savePath = parser.isSet(save) ? QDir::toNativeSeparators(QDir(parser.value(save)).absolutePath())
                                          : app.StartupSavePath();
    {
        std::lock_guard lock(app.settingsMutex);
        app.downSetOverride = down;
        app.saveSetOverride = names;
    }
    if (parser.isSet(saveSettings)) {
        std::lock_guard lock(app.settingsMutex);
        app.settings.DownSet[SITE_MODE_BOARD] = down;
        app.settings.SaveSet[SITE_MODE_BOARD] = names;
        if (parser.isSet(save))
            RememberText(app.settings.SavePathHistory, savePath);
        SaveSettings(app.settings, app.profile.configFolder());
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

    const bool infoOnly = parser.isSet(info);
    const bool beQuiet = parser.isSet(quiet);
    CliServices services(app, address, savePath, !infoOnly, beQuiet, isatty(STDERR_FILENO) == 1);

    app.ready = 1;
    g_stopRequests = 0;
    QElapsedTimer elapsed;
    elapsed.start();
    if (!ListCommand(app, services))
        return EXIT_NO_ALBUM;

    // Wait for the retrieval and then for the run it started, turning Ctrl-C into the
    // window's stop: the retrieval's requests abort, a run winds down as "终止下载" does.
    int stopsSeen = 0;
    bool stopped = false;
    auto pollStop = [&] {
        const int requests = g_stopRequests.load();
        if (requests == stopsSeen)
            return;
        stopsSeen = requests;
        if (stopsSeen >= 2) {
            services.Finish();
            writeErr(QStringLiteral("corvadin: stopped at once\n"));
            std::_Exit(EXIT_STOPPED);
        }
        stopped = true;
        services.ShowMessage(QStringLiteral("stopping (press Ctrl-C again to quit at once)"));
        if (app.DownState != 0)
            DownloadCommand(app, services); // a stop request
        else
            app.bQuit = true; // the retrieval's requests end now
    };
    while (app.ListState != 0) {
        pollStop();
        services.Render();
        QThread::msleep(100);
    }
    {
        // The retrieval ends right after it has started the run (or not).
        std::thread list;
        {
            std::lock_guard lock(app.threadsMutex);
            list = std::move(app.listThread);
        }
        if (list.joinable())
            list.join();
    }
    if (stopped && app.DownState != 0)
        DownloadCommand(app, services);
    while (app.DownState != 0) {
        pollStop();
        services.Render();
        QThread::msleep(100);
    }
    StopAll(app);
    services.Finish();
    CookieStore::Save();

    const int albums = app.albums.count();
    const ListOutcome outcome = services.Outcome();
    if (outcome.kind == ListOutcome::Kind::NotABoardPage) {
        writeErr(QStringLiteral("corvadin: %1 is not a board page (no board id in it)\n").arg(address));
        return EXIT_NO_ALBUM;
    }
    if (albums == 0 && !stopped) {
        writeErr(QStringLiteral("corvadin: no album was read from %1%2\n").arg(address, whyNotRead(outcome)));
        return EXIT_NO_ALBUM;
    }
    if (infoOnly) {
        QString owner = app.source.strUserFolder;
        if (owner.endsWith(QDir::separator()))
            owner.chop(1);
        for (int i = 0; i < albums; ++i) {
            const ST_PERLISTRECORD r = app.albums.at(i);
            QJsonObject o{{QStringLiteral("name"), r.strName},
                          {QStringLiteral("url"), r.strUrl},
                          {QStringLiteral("count"), qint64(r.nPicCount)},
                          {QStringLiteral("owner"), owner}};
            writeOut(QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact)) + QLatin1Char('\n'));
        }
        if (stopped)
            return EXIT_STOPPED;
        return albums > 0 ? EXIT_ALL_SAVED : EXIT_NO_ALBUM;
    }

    if (stopped)
        return EXIT_STOPPED;
    if (albums == 0)
        return EXIT_NO_ALBUM;
    const RunSummary s = app.Summary();
    if (s.basePathFailed)
        return EXIT_SAVE_PATH;
    if (!beQuiet) {
        QString text = QStringLiteral("albums: %1, pictures collected: %2, saved: %3, failed: %4, %5 in %6 s "
                                      "(download phase %7 s)\n")
                           .arg(s.albums)
                           .arg(s.collected)
                           .arg(s.saved)
                           .arg(s.failed)
                           .arg(humanBytes(double(s.bytes)))
                           .arg(elapsed.elapsed() / 1000.0, 0, 'f', 2)
                           .arg(services.DownloadPhaseMs() / 1000.0, 0, 'f', 2);
        for (const QString &list : s.listFiles)
            text += QStringLiteral("download list: %1\n").arg(list);
        for (int k = 0; k < s.failures.size() && k < 5; ++k)
            text += QStringLiteral("  failed: %1 (%2)\n").arg(s.failures[k].address, s.failures[k].reason);
        if (s.failures.size() > 5)
            text += QStringLiteral("  ... and %1 more\n").arg(s.failures.size() - 5);
        text += QStringLiteral("saved in: %1\n").arg(savePath);
        writeOut(text);
    }
    return s.failed > 0 ? EXIT_SOME_FAILED : EXIT_ALL_SAVED;
}
