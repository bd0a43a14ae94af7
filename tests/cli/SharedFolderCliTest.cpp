// Two real processes on one working folder: corvadin-cli runs while another process
// writes soft.dat or cookies.txt (a second corvadin-cli, or the stand-in for the login
// browser). Neither undoes what the other saved. The order is fixed by holding the
// run's board page on the local board site until the other process has finished.
#include "CliFixture.h"
#include "net/CookieStore.h"
#include "settings/SoftData.h"

#include <QDateTime>
#include <QFileInfo>
#include <QProcess>

#include <memory>

namespace {

using namespace std::chrono_literals;

class SharedFolderCli : public CliFixture {
protected:
    void SetUp() override
    {
        CliFixture::SetUp();
        held = BoardSite::makeBoard(QStringLiteral("31"), QStringLiteral("Held"), QStringLiteral("dora"), 24, 9, 2048, 4096);
        held.holdBoardPage = true;
        site.addBoard(held);
    }

    // Starts a run on the held board and waits until it asks for the board page: by then
    // it has read soft.dat and cookies.txt.
    std::unique_ptr<QProcess> startHeldRun(const QStringList &extra = {})
    {
        auto run = startCli(extra + QStringList{site.boardUrl(held.id)});
        EXPECT_TRUE(waitFor([&] { return site.requestCount(QStringLiteral("/boards/31/")) > 0; }, 20s));
        return run;
    }
    void release()
    {
        held.holdBoardPage = false;
        site.addBoard(held);
    }

    // The cookies of cookies.txt as name=value, sorted.
    QStringList storedCookies() const
    {
        QStringList out;
        for (const QByteArray &l : sandbox.read(QStringLiteral("work/cookies.txt")).split('\n')) {
            if (const std::optional<CookieStore::Entry> e = CookieStore::Entry::FromLine(QString::fromUtf8(l)))
                out << e->name + QLatin1Char('=') + e->value;
        }
        out.sort();
        return out;
    }

    BoardSite::Board held;
};

TEST_F(SharedFolderCli, ARunKeepsTheLoginTheBrowserSavedMeanwhile)
{
    // Every picture answer sets a persistent cookie, so the run writes cookies.txt
    // again and again, and at its end.
    BoardSite::Options o = site.options();
    o.cookieOnPictures = true;
    site.setOptions(o);
    const QString later = QString::number(QDateTime::currentSecsSinceEpoch() + 86400);
    sandbox.write(QStringLiteral("work/cookies.txt"),
                  ("127.0.0.1\tFALSE\t/\tFALSE\t" + later + "\tearlier\tkept\n").toUtf8());

    auto run = startHeldRun();
    // The login window of another process: a login kept ("stay logged in") and one
    // that ends with that process.
    auto login = start(QStringLiteral(CORVADIN_LOGIN_STAND_IN_PATH),
                       {work() + QStringLiteral("/cookies.txt"),
                        QStringLiteral("#HttpOnly_127.0.0.1\tFALSE\t/\tFALSE\t%1\tcorvadin_session\tsecret").arg(later),
                        QStringLiteral("127.0.0.1\tFALSE\t/\tFALSE\t0\tcorvadin_short\tsecret2")});
    const CliResult saved = finish(*login);
    ASSERT_EQ(saved.exitCode, 0) << saved.err.toStdString();
    EXPECT_EQ(storedCookies(), QStringList({"corvadin_session=secret", "earlier=kept"}));

    release();
    const CliResult r = finish(*run);
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();

    const QStringList jar = storedCookies();
    EXPECT_TRUE(jar.contains(QStringLiteral("corvadin_session=secret"))) << "the run wiped the login";
    EXPECT_TRUE(jar.contains(QStringLiteral("earlier=kept")));
    EXPECT_FALSE(jar.join(QLatin1Char(' ')).contains(QStringLiteral("corvadin_short")));
    // The run's own cookie is there too (each picture answer set it anew).
    bool seen = false;
    for (const BoardSite::Pin &pin : held.pins)
        seen = seen || jar.contains(QStringLiteral("corvadin_seen=") + pin.key);
    EXPECT_TRUE(seen) << jar.join(QLatin1Char(' ')).toStdString();
    EXPECT_EQ(QFile::permissions(work() + QStringLiteral("/cookies.txt")) & 0x0077, 0);
}

TEST_F(SharedFolderCli, ASettingsChangeSurvivesAnotherRunsSave)
{
    auto run = startHeldRun(); // remembers its address in soft.dat once it has read the board
    const CliResult change = finish(*startCli({QStringLiteral("--save-settings"), QStringLiteral("-j"), QStringLiteral("9"),
                                            QStringLiteral("--names-file"), QStringLiteral("--info"),
                                            site.boardUrl(QStringLiteral("1001"))}));
    ASSERT_EQ(change.exitCode, 0) << change.err.toStdString();
    release();
    const CliResult r = finish(*run);
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();

    ST_SOFTDATA stored;
    ASSERT_TRUE(LoadSettings(stored, work() + QDir::separator(), false));
    EXPECT_EQ(stored.DownSet[SITE_MODE_BOARD].wThreads, 9) << "--save-settings -j 9 was undone";
    EXPECT_EQ(stored.SaveSet[SITE_MODE_BOARD].wOptions, OPT_NAMES_FILE);
    EXPECT_EQ(FieldText(stored.AddressHistory[0]), site.boardUrl(QStringLiteral("31")));
    EXPECT_EQ(FieldText(stored.AddressHistory[1]), site.boardUrl(QStringLiteral("1001")));
}

TEST_F(SharedFolderCli, InfoLeavesTheWorkingFolderAsItWas)
{
    const QString url = site.boardUrl(QStringLiteral("1001"));
    // A first look creates nothing; a look at a folder in use changes nothing.
    CliResult r = finish(*startCli({QStringLiteral("--info"), url}));
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(filesBelow(work()), QStringList());

    ASSERT_EQ(finish(*startCli({QStringLiteral("--save-settings"), QStringLiteral("--info"), url})).exitCode, 0);
    const QString later = QString::number(QDateTime::currentSecsSinceEpoch() + 86400);
    sandbox.write(QStringLiteral("work/cookies.txt"), ("127.0.0.1\tFALSE\t/\tFALSE\t" + later + "\tn\tv\n").toUtf8());
    const QStringList files = filesBelow(work());
    const QByteArray settings = sandbox.read(QStringLiteral("work/soft.dat"));
    const QByteArray cookies = sandbox.read(QStringLiteral("work/cookies.txt"));
    r = finish(*startCli({QStringLiteral("--info"), url + QStringLiteral("?from=look")})); // an address not in the history
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(filesBelow(work()), files);
    EXPECT_EQ(sandbox.read(QStringLiteral("work/soft.dat")), settings);
    EXPECT_EQ(sandbox.read(QStringLiteral("work/cookies.txt")), cookies);
}

} // namespace

TEST_F(SharedFolderCli, ARunEnteringAnAlbumLeavesTheTemporaryFilesOfAnotherRunAlone)
{
    // One run downloads a large picture slowly into the album folder; a second run enters
    // the same album folder meanwhile (listing it only). The first run's temporary file
    // is its own and stays; one that a killed run left there goes.
    BoardSite::Board b = BoardSite::makeBoard(QStringLiteral("33"), QStringLiteral("Shared"), QStringLiteral("eve"), 6, 11, 2048, 4096);
    b.pins[0].size = 2 * 1024 * 1024;
    site.addBoard(b);
    BoardSite::Options o = site.options();
    o.bandwidthBytesPerSec = 200 * 1024; // about 10 s for the large one
    site.setOptions(o);
    const QString album = save() + QStringLiteral("/eve/Shared/");

    auto slow = startCli({QStringLiteral("-j"), QStringLiteral("2"), site.boardUrl(b.id)});
    QString part;
    ASSERT_TRUE(waitFor([&] {
        for (const QString &name : entriesIn(album))
            if (name.endsWith(QStringLiteral(".part")) && QFileInfo(album + name).size() > 100 * 1024)
                part = name;
        return !part.isEmpty();
    }, 20s)) << "no picture on its way";
    sandbox.write(QStringLiteral("save/eve/Shared/.corvadin-K1ll3d.part"), "left by a killed run");

    const CliResult lister = finish(*startCli({QStringLiteral("--list-only"), site.boardUrl(b.id)}));
    ASSERT_EQ(lister.exitCode, 0) << lister.err.toStdString();
    EXPECT_FALSE(QFile::exists(album + QStringLiteral(".corvadin-K1ll3d.part")));
    EXPECT_TRUE(QFile::exists(album + part) || QFile::exists(album + QStringLiteral("第1张：山间的小路.jpg")))
        << "the running download's file was removed";

    const CliResult r = finish(*slow);
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString() << r.out.toStdString();
    EXPECT_EQ(sandbox.read(QStringLiteral("save/eve/Shared/第1张：山间的小路.jpg")), site.pictureBytes(b.pins[0].key));
    for (const QString &name : entriesIn(album))
        EXPECT_FALSE(name.endsWith(QStringLiteral(".part"))) << name.toStdString();
}
