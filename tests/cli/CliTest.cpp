// corvadin-cli as a user runs it: the real program in a child process against the local
// board site on loopback.
#include "BoardSite.h"
#include "TestSupport.h"

#include <QDirIterator>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <csignal>

namespace {

struct Result {
    int exitCode = -1;
    QString out;
    QString err;
};

class Cli : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(site.start());
        QDir().mkpath(work());
    }

    // Nothing the program did went into the home folder.
    void TearDown() override { EXPECT_TRUE(entriesIn(home()).isEmpty()) << entriesIn(home()).join(u' ').toStdString(); }

    QString work() const { return sandbox.path() + QStringLiteral("work"); }
    QString save() const { return sandbox.path() + QStringLiteral("save"); }
    QString home() const { return sandbox.path() + QStringLiteral("home"); }

    // Runs in the sandbox: the working folder, and the save folder unless args name one.
    QProcess *start(QStringList args)
    {
        auto *p = new QProcess;
        QProcessEnvironment env = sandboxedEnvironment(home());
        env.insert(QStringLiteral("CORVADIN_SITE_HOST"), site.hostPort());
        env.insert(QStringLiteral("CORVADIN_IMAGE_HOST"), site.hostPort());
        p->setProcessEnvironment(env);
        if (!args.contains(QStringLiteral("-o")))
            args = QStringList{QStringLiteral("-o"), save()} + args;
        p->start(QStringLiteral(CORVADIN_CLI_PATH), QStringList{QStringLiteral("-w"), work()} + args);
        p->waitForStarted();
        return p;
    }

    Result run(const QStringList &args)
    {
        std::unique_ptr<QProcess> p(start(args));
        EXPECT_TRUE(p->waitForFinished(60000));
        return {p->exitCode(), QString::fromUtf8(p->readAllStandardOutput()), QString::fromUtf8(p->readAllStandardError())};
    }

    QStringList files(const QString &root) const
    {
        QStringList all;
        QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext())
            all << it.next().mid(root.size());
        all.sort();
        return all;
    }

    Sandbox sandbox;
    BoardSite site;
};

} // namespace

TEST_F(Cli, InfoPrintsOneJsonObjectPerAlbum)
{
    const Result r = run({QStringLiteral("--info"), site.boardUrl(QStringLiteral("1001"))});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QStringList lines = r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 1);
    const QJsonObject o = QJsonDocument::fromJson(lines[0].toUtf8()).object();
    EXPECT_EQ(o.value(QStringLiteral("name")).toString(), QStringLiteral("演示相册"));
    EXPECT_EQ(o.value(QStringLiteral("url")).toString(), site.boardUrl(QStringLiteral("1001")));
    EXPECT_EQ(o.value(QStringLiteral("count")).toInt(), 45);
    EXPECT_EQ(o.value(QStringLiteral("owner")).toString(), QStringLiteral("demo"));
    // No picture was asked for, and soft.dat remembers the address.
    EXPECT_EQ(site.requestCount(QStringLiteral("/boards/")), 1);
    EXPECT_EQ(QFileInfo(work() + QStringLiteral("/soft.dat")).size(), 19808);
}

TEST_F(Cli, BadInputGetsAClearMessageAndAnExitCode)
{
    sandbox.write(QStringLiteral("afile"), "x");
    site.addBoard([] {
        BoardSite::Board b;
        b.id = QStringLiteral("5");
        b.rawPage = QByteArray(300, 'x'); // no markers at all
        return b;
    }());
    BoardSite::Board locked = BoardSite::makeBoard(QStringLiteral("6"), QStringLiteral("Locked"), QStringLiteral("u"), 2, 1);
    locked.loginRequired = true;
    site.addBoard(locked);
    struct Case {
        const char *what;
        QStringList args;
        int exitCode;
        const char *says; // a piece of the message on standard error
    };
    const QList<Case> cases = {
        {"no address", {}, 2, "address"},
        {"two addresses", {QStringLiteral("a"), QStringLiteral("b")}, 2, "one"},
        {"unknown option", {QStringLiteral("--frobnicate"), QStringLiteral("x")}, 2, "frobnicate"},
        {"threads 0", {QStringLiteral("-j"), QStringLiteral("0"), site.boardUrl(QStringLiteral("1001"))}, 2, "1 to 15"},
        {"threads 16", {QStringLiteral("-j"), QStringLiteral("16"), site.boardUrl(QStringLiteral("1001"))}, 2, "1 to 15"},
        {"time-out 9", {QStringLiteral("--timeout"), QStringLiteral("9"), site.boardUrl(QStringLiteral("1001"))}, 2, "at least 10"},
        {"bad name base", {QStringLiteral("--name-base"), QStringLiteral("colour"), site.boardUrl(QStringLiteral("1001"))}, 2, "name-base"},
        {"prefix too long", {QStringLiteral("--prefix"), QString(39, QLatin1Char('p')), site.boardUrl(QStringLiteral("1001"))}, 2, "38"},
        {"empty address", {QStringLiteral("  ")}, 2, "empty"},
        {"not a board address", {QStringLiteral("--info"), site.baseUrl() + QStringLiteral("/users/x/")}, 3, "boards"},
        {"not http", {QStringLiteral("--info"), QStringLiteral("boards/1001")}, 3, "http"},
        {"another host", {QStringLiteral("--info"), QStringLiteral("http://example.invalid/boards/1001/")}, 3,
         "no album was read from http://example.invalid/boards/1001/: not a board address of 127.0.0.1:"},
        {"unreachable site", {QStringLiteral("--info"), QStringLiteral("http://127.0.0.1:1/boards/1/")}, 3, "no album"},
        {"login required", {QStringLiteral("--info"), site.boardUrl(QStringLiteral("6"))}, 3, ": HTTP 403 (the board may need a login"},
        {"page without markers", {QStringLiteral("--info"), site.boardUrl(QStringLiteral("5"))}, 3, "not a board page"},
        {"save path below a file", {QStringLiteral("-o"), sandbox.file(QStringLiteral("afile/sub")), site.boardUrl(QStringLiteral("1001"))}, 4, "请检测设置的保存路径是否有误"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const Result r = run(c.args);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(QString::fromUtf8(c.says))) << r.err.toStdString();
    }
    EXPECT_FALSE(QDir(save()).exists());
}

TEST_F(Cli, DownloadsTheBoardWithTheNamesOfTheSettings)
{
    const Result r = run({QStringLiteral("-o"), save(), QStringLiteral("--name-base"), QStringLiteral("number"),
                          QStringLiteral("--prefix"), QStringLiteral("?9-"), QStringLiteral("-j"), QStringLiteral("4"),
                          site.boardUrl(QStringLiteral("1001"))});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("saved: 45, failed: 0"))) << r.out.toStdString();

    const QString folder = save() + QStringLiteral("/demo/演示相册/");
    const BoardSite::Board demo = site.board(QStringLiteral("1001"));
    for (int i = 0; i < 45; ++i) {
        QFile f(folder + QStringLiteral("0001-%1.jpg").arg(i + 1));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << i;
        EXPECT_EQ(f.readAll(), site.pictureBytes(demo.pins[i].key));
    }
    EXPECT_TRUE(QFile::exists(folder + QStringLiteral("pic.kzv")));

    // The run's options were not kept: a second --info run sees the stored defaults.
    QFile soft(work() + QStringLiteral("/soft.dat"));
    ASSERT_TRUE(soft.open(QIODevice::ReadOnly));
    const QByteArray image = soft.readAll();
    EXPECT_EQ(uint8_t(image[192 + 18 * 484 + 482]), 0); // byNameBase still "描述"
}

TEST_F(Cli, SaveSettingsKeepsTheRunsOptions)
{
    const Result r = run({QStringLiteral("--info"), QStringLiteral("--save-settings"), QStringLiteral("-j"),
                          QStringLiteral("9"), QStringLiteral("--names-file"), site.boardUrl(QStringLiteral("1001"))});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    QFile soft(work() + QStringLiteral("/soft.dat"));
    ASSERT_TRUE(soft.open(QIODevice::ReadOnly));
    const QByteArray image = soft.readAll();
    EXPECT_EQ(uint8_t(image[18 * 8 + 4]), 9);                  // wThreads
    EXPECT_EQ(uint8_t(image[192 + 18 * 484 + 480]) & 0x04, 4); // OPT_NAMES_FILE
}

TEST_F(Cli, FailedPicturesAreListedAndGiveExitCode1)
{
    BoardSite::Board b = BoardSite::makeBoard(QStringLiteral("7"), QStringLiteral("faulty"), QStringLiteral("u"), 6, 3);
    b.pins[1].fault = BoardSite::Fault::Status404;
    b.pins[4].fault = BoardSite::Fault::Reset;
    site.addBoard(b);
    const Result r = run({QStringLiteral("-o"), save(), site.boardUrl(QStringLiteral("7"))});
    EXPECT_EQ(r.exitCode, 1) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("saved: 4, failed: 2"))) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(site.pictureUrl(b.pins[1].key))) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("404"))) << r.out.toStdString();
}

TEST_F(Cli, ListOnlyWritesTheDownloadList)
{
    const Result r = run({QStringLiteral("-o"), save(), QStringLiteral("--list-only"), site.boardUrl(QStringLiteral("1001"))});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(files(save()), QStringList{QStringLiteral("/demo/演示相册/演示相册.lst")});
    EXPECT_TRUE(r.out.contains(QStringLiteral("演示相册.lst")));
}

TEST_F(Cli, CtrlCStopsTheRunLikeTheStopButton)
{
    BoardSite::Options o = site.options();
    o.bandwidthBytesPerSec = 48 * 1024;
    site.setOptions(o);
    BoardSite::Board b = BoardSite::makeBoard(QStringLiteral("8"), QStringLiteral("slow"), QStringLiteral("u"), 12, 4,
                                              64 * 1024, 96 * 1024);
    site.addBoard(b);
    std::unique_ptr<QProcess> p(start({QStringLiteral("-o"), save(), QStringLiteral("-j"), QStringLiteral("2"),
                                       site.boardUrl(QStringLiteral("8"))}));
    ASSERT_TRUE(waitFor([&] { return site.requestCount(QLatin1Char('/') + b.pins[1].key) > 0; }, std::chrono::seconds(20)));
    ::kill(pid_t(p->processId()), SIGINT);
    ASSERT_TRUE(p->waitForFinished(20000));
    EXPECT_EQ(p->exitCode(), 130) << p->readAllStandardError().toStdString();

    // No partial file and no mark file: every file there is a whole picture.
    const QString folder = save() + QStringLiteral("/u/slow/");
    EXPECT_FALSE(QFile::exists(folder + QStringLiteral("pic.kzv")));
    for (const QString &name : QDir(folder).entryList(QDir::Files | QDir::Hidden)) {
        QFile f(folder + name);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        bool whole = false;
        for (const auto &pin : b.pins)
            whole = whole || bytes == site.pictureBytes(pin.key);
        EXPECT_TRUE(whole) << name.toStdString();
    }
}

TEST_F(Cli, HelpListsEverything)
{
    const Result r = run({QStringLiteral("--help")});
    EXPECT_EQ(r.exitCode, 0);
    for (const char *option : {"--info", "--work-folder", "--save-path", "--threads", "--timeout", "--min-kb", "--max-kb",
                               "--name-base", "--prefix", "--suffix", "--replace-what", "--replace-with",
                               "--folder-prefix", "--folder-suffix", "--folder-name", "--list-only", "--no-list-only",
                               "--names-file", "--fix-format", "--fix-order", "--skip-downloaded", "--save-settings",
                               "--quiet", "Exit codes"})
        EXPECT_TRUE(r.out.contains(QString::fromLatin1(option))) << option;
}
