// One window per working folder: a second start of the real program hands its address
// and folder to the window that is open and ends; on another folder it opens its own
// window; a first start that was killed keeps no later one out; the socket lives where no
// other user can take its name first.
#include "app/AmbrelDlg.h"
#include "app/SingleInstance.h"
#include "core/AppState.h"
#include "settings/SoftData.h"
#include "ui/UserPrompts.h"

#include "TestSupport.h"

#include <QComboBox>
#include <QFileInfo>
#include <QProcess>

#include <gtest/gtest.h>
#include <memory>
#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

using namespace std::chrono_literals;

namespace {

class SingleInstanceTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        for (QProcess *p : std::as_const(children)) {
            p->kill();
            p->waitForFinished(5000);
            delete p;
        }
    }

    // The real program on `work` with `args`, its files kept in the sandbox.
    QProcess *start(const QString &work, const QStringList &args)
    {
        auto *p = new QProcess;
        children << p;
        QProcessEnvironment env = sandboxedEnvironment(sandbox.path() + QStringLiteral("home"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        p->setProcessEnvironment(env);
        p->setWorkingDirectory(sandbox.path());
        p->start(QStringLiteral(CORVADIN_GUI_PATH), QStringList{QStringLiteral("-w"), work} + args);
        EXPECT_TRUE(p->waitForStarted(10000));
        return p;
    }

    // Whether a process holds the folder: its lock cannot be taken.
    static bool held(const QString &work)
    {
        FileLock lock(Profile::Portable(work).instanceLockFile());
        return !lock.lock(0);
    }

    Sandbox sandbox;
    QList<QProcess *> children;
};

TEST_F(SingleInstanceTest, ASecondStartHandsItsAddressAndFolderToTheOpenWindow)
{
    const QString work = sandbox.path() + QStringLiteral("work");
    const QString save = sandbox.path() + QStringLiteral("save") + QDir::separator();
    const QString other = sandbox.path() + QStringLiteral("other");
    QDir().mkpath(work);
    QDir().mkpath(other);
    {
        ST_SOFTDATA data{};
        LoadSettings(data, work + QDir::separator());
        SetFieldText(data.SavePathHistory[0], save);
        SaveSettings(data, work + QDir::separator());
    }
    // This test's window is the first on the folder, wired as the program wires it.
    AppState app(work);
    CSingleInstance first(app.profile);
    ASSERT_EQ(first.Start({}), CSingleInstance::Role::First);
    CAmbrelDlg window(app);
    QObject::connect(&first, &CSingleInstance::targetsReceived, &window, &CAmbrelDlg::HandOver);
    CAmbrelDlg::Startup startup;
    startup.splash = false;
    window.Initialise(startup);
    ASSERT_TRUE(waitFor([&] { return window.StartupFinished() && window.isVisible(); }, 5s));
    window.showMinimized();

    // As a browser opens a board link with the program, and a file manager a folder.
    const QString board = QStringLiteral("http://127.0.0.1:1/boards/77/");
    QProcess *second = start(work, {board, other});
    ASSERT_TRUE(waitFor([&] { return second->state() == QProcess::NotRunning; }, 20s));
    EXPECT_EQ(second->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second->exitCode(), 0) << second->readAllStandardError().toStdString();
    ASSERT_TRUE(waitFor([&] { return window.findChild<QComboBox *>(QStringLiteral("ctl1001"))->currentText() == board; }, 5s));
    EXPECT_EQ(window.findChild<QComboBox *>(QStringLiteral("ctl1000"))->currentText(), other + QDir::separator());
    EXPECT_FALSE(window.isMinimized()); // raised

    // A start without targets only raises the window.
    QProcess *third = start(work, {});
    ASSERT_TRUE(waitFor([&] { return third->state() == QProcess::NotRunning; }, 20s));
    EXPECT_EQ(third->exitCode(), 0);
    EXPECT_EQ(window.findChild<QComboBox *>(QStringLiteral("ctl1001"))->currentText(), board);
    window.close();
}

TEST_F(SingleInstanceTest, EachFolderHasItsOwnWindowAndAKilledOneKeepsNoneOut)
{
    const QString one = sandbox.path() + QStringLiteral("one");
    const QString two = sandbox.path() + QStringLiteral("two");
    QDir().mkpath(one);
    QDir().mkpath(two);

    QProcess *first = start(one, {QStringLiteral("--no-splash")});
    ASSERT_TRUE(waitFor([&] { return held(one); }, 20s)) << first->readAllStandardError().toStdString();
    // Another folder: a window of its own, which keeps running.
    QProcess *beside = start(two, {QStringLiteral("--no-splash")});
    ASSERT_TRUE(waitFor([&] { return held(two); }, 20s)) << beside->readAllStandardError().toStdString();
    EXPECT_EQ(first->state(), QProcess::Running);
    // The same folder again: handed over, ended.
    QProcess *again = start(one, {QStringLiteral("http://127.0.0.1:1/boards/5/")});
    ASSERT_TRUE(waitFor([&] { return again->state() == QProcess::NotRunning; }, 20s));
    EXPECT_EQ(again->exitCode(), 0) << again->readAllStandardError().toStdString();
    EXPECT_EQ(first->state(), QProcess::Running);

    // Killed: its lock goes with it, and its socket is replaced by the next first start.
    first->kill();
    ASSERT_TRUE(first->waitForFinished(10000));
    EXPECT_FALSE(held(one));
    QProcess *next = start(one, {QStringLiteral("--no-splash")});
    ASSERT_TRUE(waitFor([&] { return held(one); }, 20s)) << next->readAllStandardError().toStdString();
    QProcess *handed = start(one, {});
    ASSERT_TRUE(waitFor([&] { return handed->state() == QProcess::NotRunning; }, 20s));
    EXPECT_EQ(handed->exitCode(), 0);
    EXPECT_EQ(next->state(), QProcess::Running);
}

#ifdef Q_OS_UNIX
// The name is predictable (a hash of the user and the folder). In the shared temporary
// folder another user could make a socket of that name first: the window could then not
// listen, and a second start would hand its addresses to the stranger. So it lives in a
// folder only its user can enter.
TEST(SingleInstanceName, TheSocketLivesInAFolderOnlyItsUserCanEnter)
{
    Sandbox sandbox;
    const QFileInfo socket(CSingleInstance::ServerName(Profile::Portable(sandbox.path())));
    ASSERT_TRUE(socket.isAbsolute()) << socket.filePath().toStdString();
    const QFileInfo folder(socket.absolutePath());
    EXPECT_TRUE(folder.isDir());
    EXPECT_NE(folder.canonicalFilePath(), QFileInfo(QDir::tempPath()).canonicalFilePath());
    EXPECT_EQ(folder.ownerId(), ::getuid());
    const QFile::Permissions others = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup | QFile::ReadOther |
                                      QFile::WriteOther | QFile::ExeOther;
    EXPECT_EQ(folder.permissions() & others, QFile::Permissions()) << folder.filePath().toStdString();
}
#endif

} // namespace
