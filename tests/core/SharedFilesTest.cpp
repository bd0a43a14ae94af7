// Files that several processes share in one working folder: the lock between them,
// soft.dat and cookies.txt. A process writes only what it changed, merged with what the
// others wrote meanwhile; cookies without an expiry never reach the disk. Each AppState
// here stands for a process of its own (they share nothing but the files); the cookie
// store is one per process, so the "other process" writes cookies.txt as a file.
#include "TestSupport.h"
#include "core/AppState.h"
#include "net/CookieStore.h"
#include "platform/FileLock.h"
#include "settings/RequestSettings.h"
#include "settings/SoftData.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QProcess>

#include <atomic>
#include <csignal>
#include <cstring>
#include <memory>
#include <thread>

namespace {

using namespace std::chrono_literals;

// ---------------------------------------------------------------- the lock

TEST(FileLockTest, TwoLocksOnOnePathExcludeEachOther)
{
    Sandbox box;
    const QString path = box.file(QStringLiteral("x.lock"));
    FileLock first(path), second(path);
    ASSERT_TRUE(first.lock(0));
    EXPECT_FALSE(second.lock(0));
    EXPECT_FALSE(second.lock(50));

    // A waiter gets the lock once the holder lets go.
    std::atomic<bool> got {false};
    std::thread waiter([&] { got = second.lock(10000); });
    std::this_thread::sleep_for(100ms);
    EXPECT_FALSE(got);
    first.unlock();
    waiter.join();
    EXPECT_TRUE(got);
    EXPECT_TRUE(QFile::exists(path));
    EXPECT_EQ(QFile::permissions(path) & 0x0077, 0);
}

TEST(FileLockTest, AKilledHolderLeavesNoLockAndAnotherProgramSeesOurs)
{
    // flock(1) takes the same system lock from a process of its own; with -o it alone
    // holds it (not the command it runs, cat, which ends with our pipe).
    Sandbox box;
    const QString path = box.file(QStringLiteral("x.lock"));
    QProcess holder;
    holder.start(QStringLiteral("flock"), {QStringLiteral("-o"), QStringLiteral("-x"), path, QStringLiteral("cat")});
    ASSERT_TRUE(holder.waitForStarted());
    FileLock lock(path);
    ASSERT_TRUE(waitFor([&] { return !FileLock(path).lock(0); })) << "flock(1) never took the lock";
    EXPECT_FALSE(lock.lock(100));
    ::kill(pid_t(holder.processId()), SIGKILL);
    holder.waitForFinished();
    holder.closeWriteChannel();
    EXPECT_TRUE(lock.lock(5000));

    QProcess other;
    other.start(QStringLiteral("flock"), {QStringLiteral("-n"), QStringLiteral("-x"), path, QStringLiteral("true")});
    ASSERT_TRUE(other.waitForFinished());
    EXPECT_NE(other.exitCode(), 0) << "another program took the lock we hold";
}

TEST(FileLockTest, ALockFileThatCannotBeMadeFails)
{
    Sandbox box;
    box.write(QStringLiteral("plain"), "x");
    FileLock lock(box.file(QStringLiteral("plain/x.lock")));
    EXPECT_FALSE(lock.lock(0));
    EXPECT_FALSE(lock.isLocked());
}

// ---------------------------------------------------------------- soft.dat

class SharedSettings : public ::testing::Test {
protected:
    QString folder() const { return box.path(); }

    // One process on the working folder, started.
    std::unique_ptr<AppState> process()
    {
        auto app = std::make_unique<AppState>(folder());
        app->Initialise();
        CookieStore::Open(QString()); // these tests leave cookies.txt alone
        return app;
    }

    ST_SOFTDATA stored() const
    {
        ST_SOFTDATA data;
        LoadSettings(data, folder(), false);
        return data;
    }

    static QStringList history(const char16_t (&h)[HISTORY_COUNT][HISTORY_UNITS])
    {
        QStringList out;
        for (const auto &entry : h) {
            if (entry[0])
                out << FieldText(entry);
        }
        return out;
    }

    Sandbox box;
};

TEST_F(SharedSettings, EachProcessKeepsWhatTheOtherChanged)
{
    const auto window = process();
    const auto cli = process();

    // corvadin-cli --save-settings -j 9, then the window toggles an option and reads a
    // board, then the CLI reads one too.
    {
        std::lock_guard lock(cli->settingsMutex);
        cli->settings.DownSet[SITE_MODE_BOARD].wThreads = 9;
    }
    ASSERT_TRUE(cli->SaveSettingsNow());
    {
        std::lock_guard lock(window->settingsMutex);
        window->settings.SaveSet[SITE_MODE_BOARD].wOptions ^= OPT_NAMES_FILE;
    }
    ASSERT_TRUE(window->SaveSettingsNow());
    ASSERT_TRUE(window->RememberAndSave(window->settings.AddressHistory, QStringLiteral("http://h/boards/1/")));
    ASSERT_TRUE(cli->RememberAndSave(cli->settings.AddressHistory, QStringLiteral("http://h/boards/2/")));
    ASSERT_TRUE(window->RememberAndSave(window->settings.SavePathHistory, QStringLiteral("/pictures/")));

    const ST_SOFTDATA file = stored();
    EXPECT_EQ(file.DownSet[SITE_MODE_BOARD].wThreads, 9);
    EXPECT_EQ(file.SaveSet[SITE_MODE_BOARD].wOptions, OPT_NAMES_FILE);
    EXPECT_EQ(history(file.AddressHistory), QStringList({"http://h/boards/2/", "http://h/boards/1/"}));
    EXPECT_EQ(history(file.SavePathHistory), QStringList({"/pictures/"}));
    // Each process runs on with its own image: another's change shows at its next start.
    EXPECT_EQ(window->DownSet().wThreads, 5);
}

TEST_F(SharedSettings, MergePutsExactlyTheChangedFieldsOverTheFile)
{
    ST_SOFTDATA base;
    LoadSettings(base, folder());
    SetFieldText(base.AddressHistory[0], QStringLiteral("http://h/old/"));
    ST_SOFTDATA mine = base, disk = base;

    // This process: a prefix, the minimum size, two options on and one off, an address.
    base.SaveSet[SITE_MODE_BOARD].wOptions = OPT_FIX_ORDER | OPT_SKIP_DOWNLOADED;
    mine.SaveSet[SITE_MODE_BOARD].wOptions = OPT_FIX_FORMAT | OPT_LIST_ONLY | OPT_SKIP_DOWNLOADED;
    SetFieldText(mine.SaveSet[SITE_MODE_BOARD].szPrefix, QStringLiteral("mine-"));
    mine.DownSet[SITE_MODE_BOARD].wMinKB = 20;
    mine.DownSet[3].wTimeout = 99;
    RememberText(mine.AddressHistory, QStringLiteral("http://h/mine/"));
    // Meanwhile another process: the prefix too, the suffix, the threads, an option of
    // its own, an address.
    disk.SaveSet[SITE_MODE_BOARD].wOptions = OPT_FIX_ORDER | OPT_SKIP_DOWNLOADED | OPT_OPEN_FOLDER;
    SetFieldText(disk.SaveSet[SITE_MODE_BOARD].szPrefix, QStringLiteral("theirs-"));
    SetFieldText(disk.SaveSet[SITE_MODE_BOARD].szSuffix, QStringLiteral("-theirs"));
    disk.DownSet[SITE_MODE_BOARD].wThreads = 12;
    RememberText(disk.AddressHistory, QStringLiteral("http://h/theirs/"));

    const ST_SOFTDATA out = MergeSettings(disk, base, mine);
    const ST_SAVESET &names = out.SaveSet[SITE_MODE_BOARD];
    EXPECT_EQ(FieldText(names.szPrefix), QStringLiteral("mine-")); // both changed it: the later save wins
    EXPECT_EQ(FieldText(names.szSuffix), QStringLiteral("-theirs"));
    EXPECT_EQ(names.wOptions, OPT_FIX_FORMAT | OPT_LIST_ONLY | OPT_SKIP_DOWNLOADED | OPT_OPEN_FOLDER);
    EXPECT_EQ(out.DownSet[SITE_MODE_BOARD].wMinKB, 20);
    EXPECT_EQ(out.DownSet[SITE_MODE_BOARD].wThreads, 12);
    EXPECT_EQ(out.DownSet[3].wTimeout, 99);
    EXPECT_EQ(history(out.AddressHistory), QStringList({"http://h/mine/", "http://h/theirs/", "http://h/old/"}));
    EXPECT_EQ(std::memcmp(&out.SavePathHistory, &disk.SavePathHistory, sizeof out.SavePathHistory), 0);
}

TEST_F(SharedSettings, AProcessThatChangedNothingWritesNothing)
{
    const auto idle = process();
    const auto other = process();
    {
        std::lock_guard lock(other->settingsMutex);
        SetFieldText(other->settings.SaveSet[SITE_MODE_BOARD].szSuffix, QStringLiteral("_x"));
    }
    ASSERT_TRUE(other->SaveSettingsNow());
    const QByteArray theirs = box.read(QStringLiteral("soft.dat"));

    EXPECT_TRUE(idle->SaveSettingsNow());
    EXPECT_EQ(box.read(QStringLiteral("soft.dat")), theirs);
}

TEST_F(SharedSettings, AProcessThatMayNotWriteLeavesTheFolderAlone)
{
    AppState look(folder());
    look.writesSettingsFiles = false;
    look.Initialise();
    {
        std::lock_guard lock(look.settingsMutex);
        look.settings.DownSet[SITE_MODE_BOARD].wThreads = 3;
    }
    EXPECT_FALSE(look.SaveSettingsNow());
    EXPECT_TRUE(look.RememberAndSave(look.settings.AddressHistory, QStringLiteral("http://h/")));
    CookieStore::AddLines({QStringLiteral("h\tFALSE\t/\tFALSE\t4102444800\tn\tv")});
    CookieStore::Save();
    EXPECT_EQ(filesBelow(folder()), QStringList());
    CookieStore::Open(QString());
}

TEST_F(SharedSettings, ASaveWaitsForTheLock)
{
    const auto app = process();
    const QByteArray before = box.read(QStringLiteral("soft.dat"));
    FileLock other(folder() + QStringLiteral("soft.dat.lock"));
    ASSERT_TRUE(other.lock(0));
    {
        std::lock_guard lock(app->settingsMutex);
        app->settings.DownSet[SITE_MODE_BOARD].wMaxKB = 7;
    }
    std::atomic<bool> saved {false};
    std::thread save([&] { saved = app->SaveSettingsNow(); });
    std::this_thread::sleep_for(200ms);
    EXPECT_FALSE(saved);
    EXPECT_EQ(box.read(QStringLiteral("soft.dat")), before) << "written under another's lock";
    other.unlock();
    save.join();
    EXPECT_TRUE(saved);
    EXPECT_EQ(stored().DownSet[SITE_MODE_BOARD].wMaxKB, 7);
}

// ---------------------------------------------------------------- corvadin.ini

TEST_F(SharedSettings, TheOptionsFileGetsOnlyWhatAProcessChanged)
{
    const QString ini = folder() + QStringLiteral("corvadin.ini");
    const auto window = process();
    const auto cli = process();
    EXPECT_TRUE(window->SaveRequestsNow());
    EXPECT_FALSE(QFile::exists(ini)) << "written without a change";

    // corvadin-cli --save-settings --retries 5, then another process saves a request gap.
    cli->requests.retries = 5;
    ASSERT_TRUE(cli->SaveRequestsNow());
    window->requests.sleepRequestMs = 1500;
    ASSERT_TRUE(window->SaveRequestsNow());
    const RequestSettings file = LoadRequestSettings(ini);
    EXPECT_EQ(file.retries, 5) << "the later save undid the retries";
    EXPECT_EQ(file.sleepRequestMs, 1500u);

    // A file written by hand stays byte for byte while nobody changes a value.
    const QByteArray byHand = "; tuned for the slow site\n[Requests]\nRetries=4\n";
    box.write(QStringLiteral("corvadin.ini"), byHand);
    const auto idle = process();
    EXPECT_EQ(idle->requests.retries, 4);
    EXPECT_TRUE(idle->SaveRequestsNow());
    EXPECT_EQ(box.read(QStringLiteral("corvadin.ini")), byHand);
}

TEST_F(SharedSettings, TheOptionsFileReplacesALinkPlantedAtItsName)
{
    const QString ini = folder() + QStringLiteral("corvadin.ini");
    for (const bool dangling : {false, true}) {
        SCOPED_TRACE(dangling ? "dangling link" : "link to a file");
        const QString target = folder() + QStringLiteral("elsewhere/target.ini");
        QFile::remove(ini);
        QFile::remove(target);
        const QByteArray theirs = "[Requests]\nRetries=7\n";
        if (!dangling)
            box.write(QStringLiteral("elsewhere/target.ini"), theirs);
        ASSERT_TRUE(QFile::link(target, ini));

        const auto app = process();
        EXPECT_EQ(app->requests.retries, dangling ? 2 : 7); // reading through it is harmless
        app->requests.sleepRequestMs = 250;
        ASSERT_TRUE(app->SaveRequestsNow());

        EXPECT_FALSE(QFileInfo(ini).isSymLink());
        if (dangling)
            EXPECT_FALSE(QFile::exists(target)) << "created through the link";
        else
            EXPECT_EQ(box.read(QStringLiteral("elsewhere/target.ini")), theirs) << "written through the link";
        // The file that took the link's place holds every value of the process.
        const RequestSettings file = LoadRequestSettings(ini);
        EXPECT_EQ(file.retries, app->requests.retries);
        EXPECT_EQ(file.sleepRequestMs, 250u);
    }
}

TEST_F(SharedSettings, AnOptionsFileSaveWaitsForTheLock)
{
    const QString ini = folder() + QStringLiteral("corvadin.ini");
    const auto app = process();
    QLockFile other(ini + QStringLiteral(".lock"));
    ASSERT_TRUE(other.tryLock(0));
    app->requests.retries = 6;
    std::atomic<bool> saved {false};
    std::thread save([&] { saved = app->SaveRequestsNow(); });
    std::this_thread::sleep_for(200ms);
    EXPECT_FALSE(saved);
    EXPECT_FALSE(QFile::exists(ini)) << "written under another's lock";
    other.unlock();
    save.join();
    EXPECT_TRUE(saved);
    EXPECT_EQ(LoadRequestSettings(ini).retries, 6);
}

// ---------------------------------------------------------------- cookies.txt

class SharedCookies : public ::testing::Test {
protected:
    void SetUp() override { later = QString::number(QDateTime::currentSecsSinceEpoch() + 86400); }
    void TearDown() override { CookieStore::Open(QString()); }

    QString jar() const { return box.file(QStringLiteral("cookies.txt")); }
    // A cookie line for 127.0.0.1; expires "0" makes a session cookie.
    QString line(const QString &name, const QString &value, const QString &expires = QString()) const
    {
        return QStringLiteral("127.0.0.1\tFALSE\t/\tFALSE\t%1\t%2\t%3").arg(expires.isEmpty() ? later : expires, name, value);
    }
    // What another process leaves in the file.
    void writeJar(const QStringList &lines) const
    {
        box.write(QStringLiteral("cookies.txt"), "# Netscape HTTP Cookie File\n" + lines.join(QLatin1Char('\n')).toUtf8() + '\n');
    }
    QStringList fileCookies() const
    {
        QStringList out;
        for (const QByteArray &l : box.read(QStringLiteral("cookies.txt")).split('\n')) {
            if (const std::optional<CookieStore::Entry> e = CookieStore::Entry::FromLine(QString::fromUtf8(l)))
                out << e->name + QLatin1Char('=') + e->value;
        }
        out.sort();
        return out;
    }
    QStringList memoryCookies() const
    {
        QStringList out;
        for (const QString &l : CookieStore::Lines()) {
            if (const std::optional<CookieStore::Entry> e = CookieStore::Entry::FromLine(l))
                out << e->name + QLatin1Char('=') + e->value;
        }
        out.sort();
        return out;
    }

    Sandbox box;
    QString later;
};

TEST_F(SharedCookies, AProcessWritesOnlyTheCookiesItChanged)
{
    writeJar({line(QStringLiteral("kept"), QStringLiteral("1")), line(QStringLiteral("refreshed"), QStringLiteral("old")),
              line(QStringLiteral("dropped"), QStringLiteral("1")), line(QStringLiteral("shortened"), QStringLiteral("1"))});
    CookieStore::Open(jar());

    // Meanwhile the login browser of another process saves a login and refreshes a cookie.
    writeJar({line(QStringLiteral("kept"), QStringLiteral("1")), line(QStringLiteral("refreshed"), QStringLiteral("new")),
              line(QStringLiteral("dropped"), QStringLiteral("1")), line(QStringLiteral("shortened"), QStringLiteral("1")),
              line(QStringLiteral("login"), QStringLiteral("secret"))});

    // This process: a new cookie, a log-out, a cookie turned into a session cookie.
    CookieStore::AddLines({line(QStringLiteral("mine"), QStringLiteral("2")),
                           line(QStringLiteral("shortened"), QStringLiteral("2"), QStringLiteral("0"))});
    CookieStore::Remove(QStringLiteral("127.0.0.1"), QStringLiteral("/"), QStringLiteral("dropped"));
    ASSERT_TRUE(CookieStore::Save());

    EXPECT_EQ(fileCookies(), QStringList({"kept=1", "login=secret", "mine=2", "refreshed=new"}));
    EXPECT_EQ(QFile::permissions(jar()) & 0x0077, 0);
}

TEST_F(SharedCookies, SessionCookiesLiveInMemoryOnly)
{
    // A file from an earlier version still holds a session cookie.
    writeJar({line(QStringLiteral("old_session"), QStringLiteral("1"), QStringLiteral("0")),
              line(QStringLiteral("stay"), QStringLiteral("1"))});
    CookieStore::Open(jar());
    EXPECT_EQ(memoryCookies(), QStringList({"stay=1"}));

    CookieStore::AddLines({line(QStringLiteral("session"), QStringLiteral("s"), QStringLiteral("0")),
                           line(QStringLiteral("persistent"), QStringLiteral("p"))});
    EXPECT_EQ(memoryCookies(), QStringList({"persistent=p", "session=s", "stay=1"}));
    ASSERT_TRUE(CookieStore::Save());
    EXPECT_EQ(fileCookies(), QStringList({"persistent=p", "stay=1"}));

    CookieStore::Open(jar()); // the next process
    EXPECT_EQ(memoryCookies(), QStringList({"persistent=p", "stay=1"}));
}

TEST_F(SharedCookies, AProcessThatChangedNothingWritesNothing)
{
    writeJar({line(QStringLiteral("a"), QStringLiteral("1"))});
    CookieStore::Open(jar());
    writeJar({line(QStringLiteral("b"), QStringLiteral("2"))}); // another process logged out and in
    const QByteArray theirs = box.read(QStringLiteral("cookies.txt"));

    CookieStore::AddLines({line(QStringLiteral("a"), QStringLiteral("1")),                      // no change
                           line(QStringLiteral("s"), QStringLiteral("session"), QStringLiteral("0"))}); // memory only
    EXPECT_TRUE(CookieStore::Save());
    CookieStore::SaveIfChanged();
    EXPECT_EQ(box.read(QStringLiteral("cookies.txt")), theirs);
}

} // namespace
