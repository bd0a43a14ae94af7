// corvadin-cli --cookies: a Netscape cookies.txt as browser extensions export it lets a
// run read a board that needs a login; a malformed file is refused whole; the working
// folder's cookies.txt changes only with --save-settings. The real program in a child
// process against the local board site on loopback.
#include "CliFixture.h"

#include <QDirIterator>
#include <QFile>
#include <QProcess>

namespace {

class CookiesCli : public CliFixture {
protected:
    void SetUp() override
    {
        CliFixture::SetUp();
        BoardSite::Board board = BoardSite::makeBoard(QStringLiteral("21"), QStringLiteral("Hidden"), QStringLiteral("carol"), 12, 5, 2048, 4096);
        board.loginRequired = true;
        site.addBoard(board);
        // A cookie the working folder already keeps.
        sandbox.write(QStringLiteral("work/cookies.txt"), kStoredJar);
        QFile::setPermissions(work() + QStringLiteral("/cookies.txt"), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }

    QByteArray token() const { return site.sessionToken().toUtf8(); }

    QString cookieFile(const QByteArray &text)
    {
        sandbox.write(QStringLiteral("import.txt"), text);
        return sandbox.file(QStringLiteral("import.txt"));
    }

    int pictures() const
    {
        int n = 0;
        QDirIterator it(save(), QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            n += QFileInfo(it.next()).fileName() != QLatin1String("pic.kzv");
        return n;
    }

    static constexpr const char *kStoredJar = "# Netscape HTTP Cookie File\n127.0.0.1\tFALSE\t/\tFALSE\t4102444800\tearlier\tkept\n";
};

} // namespace

TEST_F(CookiesCli, ALoginCookieFromTheFileOpensAProtectedBoard)
{
    const struct {
        const char *what;
        QByteArray text;
    } files[] = {
        {"plain lines", "127.0.0.1\tFALSE\t/\tFALSE\t0\tcorvadin_session\t" + token() + "\n"
                        ".example.invalid\tTRUE\t/\tFALSE\t0\telsewhere\tx\n"},
        {"as an extension exports it",
         "\xEF\xBB\xBF# Netscape HTTP Cookie File\r\n# https://curl.se/docs/http-cookies.html\r\n\r\n"
         "#HttpOnly_127.0.0.1\tFALSE\t/\tFALSE\t4102444800.5\tcorvadin_session\t" + token() + "\r\n"
         ".example.invalid\tTRUE\t/\tTRUE\t0\tempty\t\r\n"},
    };
    for (const auto &f : files) {
        SCOPED_TRACE(f.what);
        QDir(save()).removeRecursively();
        site.clearRequests();
        const CliResult r = run({QStringLiteral("--cookies"), cookieFile(f.text), QStringLiteral("-o"), save(),
                              site.boardUrl(QStringLiteral("21"))});
        EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
        EXPECT_EQ(pictures(), 12);
        EXPECT_TRUE(r.err.contains(QStringLiteral("2 cookie(s)"))) << r.err.toStdString();
        // The value was sent, never shown.
        bool sent = false;
        for (const BoardSite::RequestRecord &req : site.requests()) {
            sent = sent || (req.path == QLatin1String("/boards/21/") && req.header("Cookie").contains(token()));
            // The other domain's cookies stay with their domain.
            EXPECT_FALSE(req.header("Cookie").contains("elsewhere") || req.header("Cookie").contains("empty"));
        }
        EXPECT_TRUE(sent);
        EXPECT_FALSE(r.out.toUtf8().contains(token()) || r.err.toUtf8().contains(token()));
        // For this run only: the working folder's cookies.txt is as it was.
        EXPECT_EQ(sandbox.read(QStringLiteral("work/cookies.txt")), QByteArray(kStoredJar));
    }
}

TEST_F(CookiesCli, SaveSettingsKeepsTheImportedCookiesThatHaveAnExpiry)
{
    // A login kept until 2100, and a session cookie (expiry 0), which serves this run only.
    const QString file = cookieFile("#HttpOnly_127.0.0.1\tFALSE\t/\tFALSE\t4102444800\tcorvadin_session\t" + token() + "\n"
                                    "127.0.0.1\tFALSE\t/\tFALSE\t0\tcorvadin_short\tx\n");
    const CliResult r = run({QStringLiteral("--cookies"), file, QStringLiteral("--save-settings"), QStringLiteral("--info"),
                          site.boardUrl(QStringLiteral("21"))});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QByteArray jar = sandbox.read(QStringLiteral("work/cookies.txt"));
    EXPECT_TRUE(jar.contains("#HttpOnly_127.0.0.1\tFALSE\t/\tFALSE\t4102444800\tcorvadin_session\t" + token()));
    EXPECT_TRUE(jar.contains("\tearlier\tkept"));
    EXPECT_FALSE(jar.contains("corvadin_short"));
    EXPECT_EQ(QFile::permissions(work() + QStringLiteral("/cookies.txt")) & 0x0077, 0);

    // The next run needs no --cookies.
    const CliResult again = run({QStringLiteral("--info"), site.boardUrl(QStringLiteral("21"))});
    EXPECT_EQ(again.exitCode, 0) << again.err.toStdString();

    // A login that was only a session cookie is gone with the run that imported it.
    sandbox.write(QStringLiteral("work/cookies.txt"), kStoredJar);
    const CliResult session = run({QStringLiteral("--cookies"), cookieFile("127.0.0.1\tFALSE\t/\tFALSE\t0\tcorvadin_session\t" + token() + "\n"),
                                QStringLiteral("--save-settings"), QStringLiteral("--info"), site.boardUrl(QStringLiteral("21"))});
    ASSERT_EQ(session.exitCode, 0) << session.err.toStdString();
    EXPECT_FALSE(sandbox.read(QStringLiteral("work/cookies.txt")).contains("corvadin_session"));
}

TEST_F(CookiesCli, AMalformedFileIsRefusedWholeNamingTheLine)
{
    const QByteArray good = "127.0.0.1\tFALSE\t/\tFALSE\t0\tcorvadin_session\t" + token() + "\n";
    const struct {
        const char *what;
        QByteArray line;
        const char *says;
    } cases[] = {
        {"five fields", "127.0.0.1\tFALSE\t/\tFALSE\t0", "7 tab-separated fields, found 5"},
        {"spaces for tabs", "127.0.0.1 FALSE / FALSE 0 n v", "found 1"},
        {"subdomain flag", "127.0.0.1\tYES\t/\tFALSE\t0\tn\tv", "field 2"},
        {"path", "127.0.0.1\tFALSE\tboards\tFALSE\t0\tn\tv", "path (field 3)"},
        {"secure flag", "127.0.0.1\tFALSE\t/\t1\t0\tn\tv", "field 4"},
        {"expiry", "127.0.0.1\tFALSE\t/\tFALSE\ttomorrow\tn\tv", "expiry (field 5)"},
        {"no name", "127.0.0.1\tFALSE\t/\tFALSE\t0\t\tsecretvalue", "name (field 6)"},
        {"no domain", "\tFALSE\t/\tFALSE\t0\tn\tv", "domain (field 1)"},
        {"not UTF-8", "127.0.0.1\tFALSE\t/\tFALSE\t0\tn\t\xff\xfe", "not UTF-8"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        site.clearRequests();
        const CliResult r = run({QStringLiteral("--cookies"), cookieFile("# comment\n" + good + c.line + "\n" + good),
                              QStringLiteral("--save-settings"), QStringLiteral("--info"), site.boardUrl(QStringLiteral("21"))});
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_TRUE(r.err.contains(QStringLiteral("line 3: "))) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(QString::fromUtf8(c.says))) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(QStringLiteral("no cookie was imported"))) << r.err.toStdString();
        EXPECT_FALSE(r.err.toUtf8().contains(token()) || r.err.contains(QStringLiteral("secretvalue")));
        EXPECT_EQ(site.requestCount(), 0) << "the run went on";
        EXPECT_EQ(sandbox.read(QStringLiteral("work/cookies.txt")), QByteArray(kStoredJar));
    }

    const CliResult missing = run({QStringLiteral("--cookies"), sandbox.file(QStringLiteral("nothing.txt")), QStringLiteral("--info"),
                                site.boardUrl(QStringLiteral("21"))});
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_TRUE(missing.err.contains(QStringLiteral("cannot read the cookie file"))) << missing.err.toStdString();
}

namespace {

// Without -w the program keeps to the desktop's standard folders: the same ones the
// window uses, so a login made in the window's browser serves the command line.
class StandardFoldersCli : public CookiesCli {
protected:
    void TearDown() override {}

    // Started in the working folder without -w: the current folder plays no part.
    CliResult runStandard(const QStringList &args) const
    {
        return finish(*start(QStringLiteral(CORVADIN_CLI_PATH), args, work()));
    }
};

TEST_F(StandardFoldersCli, ALoginTheWindowKeptOpensAProtectedBoardHere)
{
    // --info writes nothing anywhere, not even the folders.
    CliResult r = runStandard({QStringLiteral("--info"), site.boardUrl(QStringLiteral("21"))});
    EXPECT_EQ(r.exitCode, 3) << r.err.toStdString(); // needs the login
    EXPECT_TRUE(entriesIn(home()).isEmpty()) << entriesIn(home()).join(u' ').toStdString();

    // The window's browser keeps its login in the data folder (the stand-in writes it as
    // the window does).
    const QString cookies = home() + QStringLiteral("/.local/share/Corvadin/cookies.txt");
    QDir().mkpath(QFileInfo(cookies).path());
    QProcess login;
    login.start(QStringLiteral(CORVADIN_LOGIN_STAND_IN_PATH),
                {cookies, QStringLiteral("127.0.0.1\tFALSE\t/\tFALSE\t4102444800\tcorvadin_session\t") +
                              QString::fromUtf8(token())});
    ASSERT_TRUE(login.waitForFinished(10000));
    ASSERT_EQ(login.exitCode(), 0);

    // (--retries: corvadin.ini is written only for a value that changes.)
    r = runStandard({QStringLiteral("-j"), QStringLiteral("3"), QStringLiteral("--retries"), QStringLiteral("4"),
                     QStringLiteral("--save-settings"), site.boardUrl(QStringLiteral("21"))});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    // Settings in the config folder, pictures in the pictures folder, nothing in the
    // current folder.
    EXPECT_TRUE(QFileInfo(home() + QStringLiteral("/.config/Corvadin/soft.dat")).isFile());
    EXPECT_TRUE(QFileInfo(home() + QStringLiteral("/.config/Corvadin/corvadin.ini")).isFile());
    QStringList pictures = filesBelow(home() + QStringLiteral("/Pictures/Corvadin/carol/Hidden"));
    pictures.removeIf([](const QString &f) { return !f.endsWith(QLatin1String(".jpg")); }); // the board's are JPEGs
    EXPECT_EQ(pictures.size(), 12) << pictures.join(u'|').toStdString();
    EXPECT_FALSE(QFileInfo::exists(home() + QStringLiteral("/.local/share/Corvadin/soft.dat")));
    EXPECT_TRUE(entriesIn(work()).contains(QStringLiteral("cookies.txt"))); // the fixture's only
    EXPECT_EQ(entriesIn(work()).size(), 1);
}

} // namespace
