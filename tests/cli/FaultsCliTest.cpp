// corvadin-cli against faults a user meets: killed mid-album and run again, writes that
// fail (a file-size limit, a full or read-only file system, a folder in a picture's
// place) and a hostile site. The real program in a child process, the local board site
// on loopback.
#include "CliFixture.h"
#include "core/DownloadArchive.h"

#include <algorithm>
#include <QCryptographicHash>
#include <QDirIterator>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

#include <QThread>

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <optional>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

QByteArray sha256(const QByteArray &bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool isTempName(const QString &name)
{
    static const QRegularExpression pattern(QStringLiteral("^\\.corvadin-[A-Za-z0-9]{6}\\.part$"));
    return pattern.match(name).hasMatch();
}


// Whether `unshare` can give a child its own mount namespace here (root, or user
// namespaces); answers the options to use, or nothing.
std::optional<QStringList> mountNamespace()
{
    for (const QStringList &options : {QStringList{QStringLiteral("-m")}, QStringList{QStringLiteral("-r"), QStringLiteral("-m")}}) {
        QProcess p;
        p.start(QStringLiteral("unshare"), options + QStringList{QStringLiteral("sh"), QStringLiteral("-c"),
                                                                 QStringLiteral("mount -t tmpfs tmpfs /mnt")});
        if (p.waitForFinished(10000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0)
            return options;
    }
    return std::nullopt;
}

class FaultsCli : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(site.start()); }
    // Nothing the program did went into the home folder.
    void TearDown() override { EXPECT_TRUE(entriesIn(home()).isEmpty()) << entriesIn(home()).join(u' ').toStdString(); }

    // A case's folders: its working folder and its save folder.
    QString work(const QString &root) const { return root + QStringLiteral("work"); }
    QString save(const QString &root) const { return root + QStringLiteral("save"); }
    QString home() const { return sandbox.path() + QStringLiteral("home"); }

    // The CLI's environment: the site's hosts, a home folder in the sandbox, and the
    // album folder of `root` as $ALBUM for wrappers.
    QProcessEnvironment environment(const QString &root) const
    {
        QProcessEnvironment env = sandboxedEnvironment(home());
        env.insert(QStringLiteral("CORVADIN_SITE_HOST"), site.hostPort());
        env.insert(QStringLiteral("CORVADIN_IMAGE_HOST"), site.hostPort());
        env.insert(QStringLiteral("ALBUM"), save(root) + QStringLiteral("/u/t"));
        return env;
    }

    // The CLI's command line on the working folder of `root` (and its save folder unless
    // args name one).
    QStringList command(const QString &root, QStringList args) const
    {
        QDir().mkpath(work(root));
        if (!args.contains(QStringLiteral("-o")))
            args = QStringList{QStringLiteral("-o"), save(root)} + args;
        return QStringList{QStringLiteral(CORVADIN_CLI_PATH), QStringLiteral("-w"), work(root)} + args;
    }

    // Starts the CLI with `wrapper` in front of it (a program and its arguments that end
    // up running the CLI) and `modifier` run in the child before it starts.
    QProcess *start(const QString &root, const QStringList &args, const QStringList &wrapper = {},
                    std::function<void()> modifier = {})
    {
        auto *p = new QProcess;
        p->setProcessEnvironment(environment(root));
        if (modifier)
            p->setChildProcessModifier(modifier);
        const QStringList cli = command(root, args);
        const QStringList all = wrapper + cli;
        p->start(all.first(), all.mid(1));
        p->waitForStarted();
        return p;
    }

    CliResult run(const QString &root, const QStringList &args, const QStringList &wrapper = {},
               std::function<void()> modifier = {})
    {
        std::unique_ptr<QProcess> p(start(root, args, wrapper, std::move(modifier)));
        EXPECT_TRUE(p->waitForFinished(60000)) << "the run did not end";
        return {p->exitCode(), QString::fromUtf8(p->readAllStandardOutput()), QString::fromUtf8(p->readAllStandardError())};
    }

    // Runs the CLI as run() does, but waits for it with wait4, which answers the child's
    // own peak memory in KB (what RUSAGE_CHILDREN answers mixes in every child so far).
    // Its output goes to the files `logs`.out and `logs`.err.
    CliResult runMeasured(const QString &root, const QStringList &args, const QString &logs, long *peakKb)
    {
        std::vector<QByteArray> argBytes, envBytes;
        for (const QString &a : command(root, args))
            argBytes.push_back(QFile::encodeName(a));
        for (const QString &e : environment(root).toStringList())
            envBytes.push_back(e.toLocal8Bit());
        std::vector<char *> argv, envp;
        for (QByteArray &a : argBytes)
            argv.push_back(a.data());
        for (QByteArray &e : envBytes)
            envp.push_back(e.data());
        argv.push_back(nullptr);
        envp.push_back(nullptr);
        const QByteArray out = QFile::encodeName(logs + QStringLiteral(".out"));
        const QByteArray err = QFile::encodeName(logs + QStringLiteral(".err"));
        posix_spawn_file_actions_t files;
        posix_spawn_file_actions_init(&files);
        posix_spawn_file_actions_addopen(&files, STDOUT_FILENO, out.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&files, STDERR_FILENO, err.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        pid_t pid = 0;
        const int spawned = posix_spawn(&pid, argv[0], &files, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&files);
        if (spawned != 0) {
            ADD_FAILURE() << "cannot start the CLI: " << strerror(spawned);
            return {};
        }
        int status = 0;
        rusage usage {};
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (wait4(pid, &status, WNOHANG, &usage) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                ADD_FAILURE() << "the run did not end";
                ::kill(pid, SIGKILL);
                wait4(pid, &status, 0, &usage);
                break;
            }
            QThread::msleep(20);
        }
        *peakKb = usage.ru_maxrss;
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, QString::fromUtf8(readFile(QString::fromLocal8Bit(out))),
                QString::fromUtf8(readFile(QString::fromLocal8Bit(err)))};
    }

    // The picture of `b` whose bytes these are; -1 when none.
    int pictureOf(const BoardSite::Board &b, const QByteArray &bytes) const
    {
        for (int i = 0; i < b.pins.size(); ++i)
            if (site.pictureBytes(b.pins[i].key) == bytes)
                return i;
        return -1;
    }

    Sandbox sandbox;
    BoardSite site;
};

} // namespace

TEST_F(FaultsCli, KilledMidAlbumThenRunAgainWithSkipDownloaded)
{
    // Slow pictures, and a cookie with every one, so that cookies.txt is written again
    // and again while the kill lands.
    BoardSite::Options o = site.options();
    o.bandwidthBytesPerSec = 200 * 1024;
    o.cookieOnPictures = true;
    site.setOptions(o);
    const BoardSite::Board b = BoardSite::makeBoard(QStringLiteral("60"), QStringLiteral("t"), QStringLiteral("u"), 150,
                                                    60, 16 * 1024, 32 * 1024);
    site.addBoard(b);
    const QString root = sandbox.path();
    const QString album = save(root) + QStringLiteral("/u/t/");
    const QStringList args = {QStringLiteral("-o"), save(root), QStringLiteral("-j"), QStringLiteral("3"),
                              QStringLiteral("--name-base"), QStringLiteral("number"), site.boardUrl(b.id)};

    std::unique_ptr<QProcess> first(start(root, args));
    ASSERT_TRUE(waitFor([&] { return QDir(album).entryList(QDir::Files).size() >= 20; }, std::chrono::seconds(30)));
    const QByteArray softBefore = readFile(work(root) + QStringLiteral("/soft.dat"));
    ::kill(pid_t(first->processId()), SIGKILL);
    ASSERT_TRUE(first->waitForFinished(10000));
    EXPECT_EQ(first->exitStatus(), QProcess::CrashExit);

    // The settings and the cookies are whole; every picture there is whole; at most
    // temporary files of the writes in flight, and no mark file; the download archive
    // names what was saved.
    EXPECT_EQ(softBefore.size(), 19808);
    EXPECT_EQ(readFile(work(root) + QStringLiteral("/soft.dat")), softBefore);
    auto expectCookiesWhole = [&] {
        const QList<QByteArray> lines = readFile(work(root) + QStringLiteral("/cookies.txt")).split('\n');
        bool seen = false;
        for (const QByteArray &line : lines) {
            if (line.trimmed().isEmpty() || (line.startsWith('#') && !line.startsWith("#HttpOnly_")))
                continue;
            const QList<QByteArray> fields = line.split('\t');
            EXPECT_EQ(fields.size(), 7) << line.toStdString();
            seen = seen || (fields.size() == 7 && fields[5] == "corvadin_seen");
        }
        EXPECT_TRUE(seen) << "the cookie of the pictures is kept";
    };
    expectCookiesWhole();
    int whole = 0;
    QList<int> saved; // the pins whose pictures the killed run saved
    for (const QString &name : QDir(album).entryList(QDir::Files | QDir::Hidden)) {
        if (isTempName(name) || name == DownloadArchive::FileName())
            continue;
        EXPECT_NE(name, QStringLiteral("pic.kzv"));
        saved << pictureOf(b, readFile(album + name));
        EXPECT_GE(saved.last(), 0) << name.toStdString() << " is not a whole picture";
        ++whole;
    }
    EXPECT_GE(whole, 20);
    EXPECT_LT(whole, 150);
    // What a kill inside a write leaves (rare enough that it is put there by hand).
    sandbox.write(QStringLiteral("save/u/t/.corvadin-K1ll3d.part"), QByteArray(5000, 'x'));

    // Run again at full speed with "不下载以前下载过的图片": no mark file was written, so
    // the whole listing is read; the archive leaves out what the killed run saved, the
    // rest is fetched under the same numbers.
    o.bandwidthBytesPerSec = 0;
    site.setOptions(o);
    site.clearRequests();
    const CliResult again = run(root, QStringList{QStringLiteral("--skip-downloaded")} + args);
    EXPECT_EQ(again.exitCode, 0) << again.err.toStdString();
    EXPECT_TRUE(again.out.contains(QStringLiteral("saved: %1, failed: 0").arg(150 - whole))) << again.out.toStdString();
    // (A request of the killed run may reach the site's log late, so the check is on the
    // pictures it had saved: none is fetched again.)
    for (int i : saved)
        EXPECT_EQ(site.requestCount(QLatin1Char('/') + b.pins.value(i).key), 0) << i;
    QStringList expected{QStringLiteral("pic.kzv"), DownloadArchive::FileName()};
    for (int i = 0; i < b.pins.size(); ++i) {
        expected << QStringLiteral("%1.jpg").arg(i + 1);
        EXPECT_EQ(sha256(readFile(album + expected.last())), sha256(site.pictureBytes(b.pins[i].key))) << i;
    }
    expected.sort();
    EXPECT_EQ(filesBelow(album), expected);
    EXPECT_EQ(readFile(work(root) + QStringLiteral("/soft.dat")).size(), 19808);
    expectCookiesWhole();

    // And once more: the album is complete, the mark ends it at its first picture.
    site.clearRequests();
    const CliResult third = run(root, QStringList{QStringLiteral("--skip-downloaded")} + args);
    EXPECT_EQ(third.exitCode, 0) << third.err.toStdString();
    EXPECT_TRUE(third.out.contains(QStringLiteral("pictures collected: 0"))) << third.out.toStdString();
    EXPECT_EQ(site.requestCount(QLatin1Char('/') + b.pins[0].key), 0);
}

// --- writes that fail: one case each, so a case that cannot run here is counted as skipped

namespace {

constexpr qint64 kFileSizeLimit = 8 * 1024;

// Lists the album folder's files with their hashes after the run, from inside the mount
// namespace, where the album folder vanishes with it.
const char kListFiles[] = "; rc=$?; find \"$ALBUM\" -type f -exec sha256sum {} +; exit $rc";

struct WriteFailure {
    const char *name;
    // Where the case needs a mount namespace: never, only as root (whom permissions do
    // not stop), or always.
    enum { Never, AsRoot, Always } needsNamespace;
    // Prepares the album folder; answers the wrapper to run the CLI with, given the
    // options that give `unshare` a mount namespace here.
    QStringList (*prepare)(const QString &album, const QStringList &unshare);
    void (*modifier)(); // run in the child before the CLI starts; may be null
    // Which pictures must be saved (the others must fail); null: decided by what the run
    // reports, as on a full disk.
    bool (*saves)(int i, qsizetype size);
    bool filesListedByWrapper; // the album folder vanishes with the namespace
    QStringList reasons;       // what the summary may give as the reason
};

class FaultsCliWrites : public FaultsCli, public ::testing::WithParamInterface<WriteFailure> {};

} // namespace

TEST_P(FaultsCliWrites, FailThosePicturesAndTheRunGoesOn)
{
    const WriteFailure &c = GetParam();
    QStringList unshare;
    if (c.needsNamespace == WriteFailure::Always || (c.needsNamespace == WriteFailure::AsRoot && geteuid() == 0)) {
        const std::optional<QStringList> ns = mountNamespace();
        if (!ns)
            GTEST_SKIP() << "no mount namespace here: `unshare -m` needs root with CAP_SYS_ADMIN (or user namespaces)";
        unshare = *ns;
    }
    // Pictures of 3 to 12 KB, named 1.jpg, 2.jpg ... in save/u/t/.
    const BoardSite::Board b = BoardSite::makeBoard(QStringLiteral("61"), QStringLiteral("t"), QStringLiteral("u"), 24,
                                                    61, 3 * 1024, 12 * 1024);
    site.addBoard(b);
    const QString root = sandbox.path();
    const QString album = save(root) + QStringLiteral("/u/t/");
    // soft.dat exists from an earlier run; this run would save it (a new address in the
    // history), which must leave it whole even when the write fails.
    const CliResult info = run(root, {QStringLiteral("--save-settings"), QStringLiteral("--info"), site.boardUrl(QStringLiteral("1001"))});
    ASSERT_EQ(info.exitCode, 0) << info.err.toStdString();
    const QByteArray soft = readFile(work(root) + QStringLiteral("/soft.dat"));
    ASSERT_EQ(soft.size(), 19808);

    const QStringList wrapper = c.prepare(album, unshare);
    const CliResult r = run(root,
                         {QStringLiteral("-o"), save(root), QStringLiteral("-j"), QStringLiteral("4"),
                          QStringLiteral("--name-base"), QStringLiteral("number"), site.boardUrl(b.id)},
                         wrapper, c.modifier);
    QFile::setPermissions(album, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

    // What is in the album folder: name -> bytes' hash.
    QMap<QString, QByteArray> files;
    if (c.filesListedByWrapper) {
        static const QRegularExpression line(QStringLiteral("^([0-9a-f]{64})  (.*)$"), QRegularExpression::MultilineOption);
        for (auto it = line.globalMatch(r.out); it.hasNext();) {
            const auto m = it.next();
            files.insert(m.captured(2).mid(album.size()), m.captured(1).toLatin1());
        }
    } else {
        for (const QString &name : filesBelow(album))
            files.insert(name, sha256(readFile(album + name)));
    }

    int saved = 0;
    for (int i = 0; i < b.pins.size(); ++i) {
        const QByteArray bytes = site.pictureBytes(b.pins[i].key);
        const QString name = QStringLiteral("%1.jpg").arg(i + 1);
        const bool there = files.contains(name);
        if (there) {
            EXPECT_EQ(files.value(name), sha256(bytes)) << name.toStdString() << " is not whole";
            ++saved;
        }
        if (c.saves) {
            EXPECT_EQ(there, c.saves(i, bytes.size())) << name.toStdString();
        }
    }
    for (const QString &name : files.keys())
        EXPECT_TRUE(name == QStringLiteral("pic.kzv") || name == DownloadArchive::FileName() ||
                    QRegularExpression(QStringLiteral("^[0-9]+\\.jpg$")).match(name).hasMatch())
            << "left behind: " << name.toStdString();
    const int failed = int(b.pins.size()) - saved;
    EXPECT_GT(failed, 0);
    EXPECT_EQ(r.exitCode, 1) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("saved: %1, failed: %2").arg(saved).arg(failed))) << r.out.toStdString();
    bool reasonGiven = false;
    for (const QString &reason : c.reasons)
        reasonGiven = reasonGiven || r.out.contains(QStringLiteral("(file not written: %1)").arg(reason));
    EXPECT_TRUE(reasonGiven) << r.out.toStdString();
    EXPECT_EQ(readFile(work(root) + QStringLiteral("/soft.dat")).size(), 19808);
    if (c.modifier) {
        EXPECT_EQ(readFile(work(root) + QStringLiteral("/soft.dat")), soft) << "a failed save keeps the old settings";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FaultsCliWrites,
    ::testing::Values(
        WriteFailure{"FileSizeLimit", WriteFailure::Never,
                     [](const QString &, const QStringList &) { return QStringList(); },
                     [] { // as `ulimit -f`
                         rlimit r {};
                         getrlimit(RLIMIT_FSIZE, &r);
                         r.rlim_cur = kFileSizeLimit;
                         setrlimit(RLIMIT_FSIZE, &r);
                     },
                     [](int, qsizetype size) { return size <= kFileSizeLimit; }, false, {QStringLiteral("File too large")}},
        WriteFailure{"AFolderWhereAPictureShouldBe", WriteFailure::Never,
                     [](const QString &album, const QStringList &) {
                         QDir().mkpath(album + QStringLiteral("3.jpg"));
                         return QStringList();
                     },
                     nullptr, [](int i, qsizetype) { return i != 2; }, false, {QStringLiteral("Is a directory")}},
        // As root permissions do not stop a write: a read-only bind mount does.
        WriteFailure{"ReadOnlyAlbumFolder", WriteFailure::AsRoot,
                     [](const QString &album, const QStringList &unshare) {
                         QDir().mkpath(album);
                         if (unshare.isEmpty()) {
                             QFile::setPermissions(album, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
                             return QStringList();
                         }
                         return QStringList{QStringLiteral("unshare")} + unshare +
                                QStringList{QStringLiteral("sh"), QStringLiteral("-c"),
                                            QStringLiteral("mount --bind \"$ALBUM\" \"$ALBUM\" && mount -o remount,bind,ro "
                                                           "\"$ALBUM\" && exec \"$@\""),
                                            QStringLiteral("sh")};
                     },
                     nullptr, [](int, qsizetype) { return false; }, false,
                     {QStringLiteral("Read-only file system"), QStringLiteral("Permission denied")}},
        // A tmpfs of 48 KB on the album folder fills after a few pictures.
        WriteFailure{"FullFileSystem", WriteFailure::Always,
                     [](const QString &album, const QStringList &unshare) {
                         QDir().mkpath(album);
                         return QStringList{QStringLiteral("unshare")} + unshare +
                                QStringList{QStringLiteral("sh"), QStringLiteral("-c"),
                                            QStringLiteral("mount -t tmpfs -o size=48k tmpfs \"$ALBUM\" && \"$@\"") +
                                                QLatin1String(kListFiles),
                                            QStringLiteral("sh")};
                     },
                     nullptr, nullptr, true, {QStringLiteral("No space left on device")}}),
    [](const ::testing::TestParamInfo<WriteFailure> &info) { return std::string(info.param.name); });

TEST_F(FaultsCli, AHostileSiteEndsInBoundedTimeAndWritesNothingOutside)
{
    struct Case {
        const char *what;
        bool gzip;
        std::function<void(BoardSite::Board &)> make;
        int exitCode;
        const char *says; // on standard error (exit 3) or standard output
        QString owner, album; // where the pictures go below the save folder
    };
    const QList<Case> cases = {
        {"endless board page", false, [](BoardSite::Board &b) { b.endlessBoardPage = true; }, 3, "no album was read",
         {}, {}},
        {"endless compressed board page", true, [](BoardSite::Board &b) { b.endlessBoardPage = true; }, 3,
         "no album was read", {}, {}},
        {"redirect loop", false, [](BoardSite::Board &b) { b.redirectLoop = true; }, 3, "no album was read", {}, {}},
        // The same pins on every page: the first pin page repeats the board page's 20,
        // which were read already, so the album ends with them.
        {"a cursor that never advances", false,
         [](BoardSite::Board &b) {
             b.declaredPinCount = 1000000;
             b.repeatFirstPage = true;
         },
         0, "saved: 20, failed: 0", QStringLiteral("u"), QStringLiteral("t")},
        {"names built to escape", false,
         [](BoardSite::Board &b) {
             b.title = QStringLiteral("../../../outside");
             b.username = QStringLiteral("../../etc");
             const QStringList names = {QStringLiteral("../../etc/passwd"), QStringLiteral("/etc/x"),
                                        QStringLiteral("C:\\x"), QStringLiteral(".."), QStringLiteral("CON"),
                                        QStringLiteral("//\\\\//"), QString(400, QChar(0x957F)),
                                        QStringLiteral("a/../../b")};
             for (int i = 0; i < b.pins.size(); ++i)
                 b.pins[i].description = names[i % names.size()];
         },
         0, "saved: 30, failed: 0", QStringLiteral("etc"), QStringLiteral("outside")},
    };
    int n = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        BoardSite::Options o = site.options();
        o.gzipPages = c.gzip;
        site.setOptions(o);
        BoardSite::Board b = BoardSite::makeBoard(QString::number(70 + n), QStringLiteral("t"), QStringLiteral("u"), 30,
                                                  70 + n, 2048, 4096);
        c.make(b);
        site.addBoard(b);
        site.clearRequests();
        // The save folder lies deep in the case's folder, so that a name climbing out of
        // it would land in the case's folder.
        const QString root = sandbox.path() + QString::number(n++) + QLatin1Char('/');
        const QString savePath = root + QStringLiteral("deep/er/save");
        long peakKb = -1;
        const CliResult r = runMeasured(root, {QStringLiteral("-o"), savePath, site.boardUrl(b.id)},
                                     sandbox.file(QString::number(n - 1)), &peakKb);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err.toStdString();
        // The program never held much more than one capped page.
        EXPECT_GT(peakKb, 0);
        EXPECT_LT(peakKb, 512 * 1024) << "KB";
        EXPECT_TRUE((c.exitCode == 3 ? r.err : r.out).contains(QString::fromUtf8(c.says)))
            << r.out.toStdString() << r.err.toStdString();
        EXPECT_LE(site.requestCount(QStringLiteral("/boards/") + b.id + QLatin1Char('/')), c.exitCode == 3 ? 11 : 3);
        const QString albumPath = QStringLiteral("deep/er/save/%1/%2/").arg(c.owner, c.album);
        for (const QString &path : filesBelow(root))
            EXPECT_TRUE(path.startsWith(QStringLiteral("work/")) || (!c.owner.isEmpty() && path.startsWith(albumPath)))
                << path.toStdString();
    }
}

TEST_F(FaultsCli, LargePicturesGoToDiskWithoutBeingHeldInMemory)
{
    // Four pictures of 48 MB with four workers: held whole, they would take 192 MB.
    BoardSite::Board b = BoardSite::makeBoard(QStringLiteral("80"), QStringLiteral("t"), QStringLiteral("u"), 4, 80,
                                              48 * 1024 * 1024, 48 * 1024 * 1024, {BoardSite::Kind::Jpeg, BoardSite::Kind::Png});
    site.addBoard(b);
    const QString root = sandbox.path() + QStringLiteral("large/");
    long peakKb = -1;
    const CliResult r = runMeasured(root, {QStringLiteral("-j"), QStringLiteral("4"), site.boardUrl(b.id)},
                                 sandbox.file(QStringLiteral("large")), &peakKb);
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_GT(peakKb, 0);
    EXPECT_LT(peakKb, 96 * 1024) << "KB";
    int whole = 0;
    QDirIterator it(save(root), QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (path.endsWith(QStringLiteral(".jpg")))
            whole += pictureOf(b, readFile(path)) >= 0 ? 1 : 0;
    }
    EXPECT_EQ(whole, 4);
}

TEST_F(FaultsCli, EveryPictureReachesTheDiskBeforeItsNameAndTheFolderAfterTheBatch)
{
    // What the system calls show: each picture's temporary file is synced (fdatasync)
    // before it is renamed to the picture's name, the album folder is synced (fsync)
    // after the last rename of the album, and the download archive's lines are synced.
    if (QStandardPaths::findExecutable(QStringLiteral("strace")).isEmpty())
        GTEST_SKIP() << "strace is not installed (scripts/setup.sh installs it)";
    const BoardSite::Board b = BoardSite::makeBoard(QStringLiteral("81"), QStringLiteral("t"), QStringLiteral("u"), 6, 81);
    site.addBoard(b);
    const QString root = sandbox.path() + QStringLiteral("sync/");
    const QString trace = sandbox.file(QStringLiteral("trace"));
    const CliResult r = run(root, {QStringLiteral("-j"), QStringLiteral("3"), QStringLiteral("--names-file"), site.boardUrl(b.id)},
                         {QStringLiteral("strace"), QStringLiteral("-f"), QStringLiteral("-y"), QStringLiteral("-qq"),
                          QStringLiteral("-e"), QStringLiteral("trace=fdatasync,fsync,rename,renameat,renameat2"),
                          QStringLiteral("-o"), trace,
                          // The leak check of a sanitizer build cannot run under a tracer.
                          QStringLiteral("env"),
                          QStringLiteral("ASAN_OPTIONS=") + qEnvironmentVariable("ASAN_OPTIONS") + QStringLiteral(":detect_leaks=0")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QString album = save(root) + QStringLiteral("/u/t");
    QStringList synced;       // temporary files synced so far
    QStringList renamed;      // pictures renamed into place after their sync
    int lastAlbumRename = -1, albumSync = -1, line = 0;
    static const QRegularExpression partName(QStringLiteral("(/[^<>\"]*\\.corvadin-[A-Za-z0-9]{6}\\.part)"));
    const QStringList lines = QString::fromUtf8(readFile(trace)).split(u'\n');
    for (const QString &l : lines) {
        ++line;
        const QRegularExpressionMatch part = partName.match(l);
        if (l.contains(QStringLiteral("fdatasync(")) && part.hasMatch()) {
            synced << part.captured(1);
        } else if (l.contains(QStringLiteral("rename")) && part.hasMatch() && l.contains(album)) {
            EXPECT_TRUE(synced.contains(part.captured(1))) << "renamed before its sync: " << l.toStdString();
            if (l.contains(QStringLiteral(".jpg\"")))
                renamed << part.captured(1);
            lastAlbumRename = line;
        } else if (l.contains(QStringLiteral("fsync(")) && l.contains(QStringLiteral("<") + album + QStringLiteral(">"))) {
            albumSync = line;
        }
    }
    EXPECT_EQ(renamed.size(), 6) << readFile(trace).toStdString();
    EXPECT_GT(albumSync, lastAlbumRename) << "the album folder is synced after its last rename";
    const QString archiveSync = QStringLiteral("<%1/.corvadin-archive>)").arg(album);
    EXPECT_TRUE(std::any_of(lines.cbegin(), lines.cend(), [&](const QString &l) {
        return l.contains(QStringLiteral("fdatasync(")) && l.contains(archiveSync);
    })) << "the archive's lines are synced";
}
