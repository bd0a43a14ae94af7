// Where the files go: the desktop's standard folders, the portable working folder, and
// the program's own files never taken by a board's folders or files.
#include "core/Profile.h"

#include "TestSupport.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <gtest/gtest.h>

namespace {

// The standard locations of a home and XDG folders inside the sandbox, restored after.
class StandardFolders : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char *name : kNames)
            saved.append(qgetenv(name));
        qputenv("HOME", QFile::encodeName(sandbox.path() + QStringLiteral("home")));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(sandbox.path() + QStringLiteral("config")));
        qputenv("XDG_DATA_HOME", QFile::encodeName(sandbox.path() + QStringLiteral("data")));
        qputenv("XDG_CACHE_HOME", QFile::encodeName(sandbox.path() + QStringLiteral("cache")));
        savedName = QCoreApplication::applicationName();
        QCoreApplication::setApplicationName(QStringLiteral("Corvadin"));
    }
    void TearDown() override
    {
        for (int i = 0; i < int(std::size(kNames)); ++i) {
            if (saved[i].isNull())
                qunsetenv(kNames[i]);
            else
                qputenv(kNames[i], saved[i]);
        }
        QCoreApplication::setApplicationName(savedName);
    }
    QString in(const QString &relative) const { return QDir::toNativeSeparators(sandbox.path() + relative); }

    static constexpr const char *kNames[] = {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"};
    Sandbox sandbox;
    QList<QByteArray> saved;
    QString savedName;
};

TEST_F(StandardFolders, EachKindOfFileHasItsFolder)
{
    const Profile p = Profile::Standard();
    const QChar sep = QDir::separator();
    EXPECT_FALSE(p.isPortable());
    const QString config = in(QStringLiteral("config/Corvadin/"));
    const QString data = in(QStringLiteral("data/Corvadin/"));
    const QString cache = in(QStringLiteral("cache/Corvadin/"));
    EXPECT_EQ(p.settingsFile(), config + QStringLiteral("soft.dat"));
    EXPECT_EQ(p.siteFile(), config + QStringLiteral("site.ini"));
    EXPECT_EQ(p.optionsFile(), config + QStringLiteral("corvadin.ini"));
    EXPECT_EQ(p.cookieFile(), data + QStringLiteral("cookies.txt"));
    EXPECT_EQ(p.browserFolder(), data + QStringLiteral("browser") + sep);
    EXPECT_EQ(p.browserCacheFolder(), cache + QStringLiteral("browser") + sep);
    EXPECT_EQ(p.thumbnailFolder(), cache + QStringLiteral("thumbnails") + sep);
    EXPECT_EQ(p.defaultSaveFolder(), in(QStringLiteral("home/Pictures/Corvadin/")));

    // Made on demand, readable by the user alone.
    EXPECT_FALSE(QFileInfo::exists(config));
    EXPECT_TRUE(p.MakeFolders());
    for (const QString &folder : {config, data, cache}) {
        ASSERT_TRUE(QFileInfo(folder).isDir()) << folder.toStdString();
        EXPECT_EQ(QFileInfo(folder).permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther), 0);
    }

    // A folder the user chose as the save folder is checked against every profile folder.
    EXPECT_EQ(p.Unclaimed(data, QStringLiteral("browser")), QStringLiteral("_browser"));
    EXPECT_EQ(p.Unclaimed(cache, QStringLiteral("thumbnails")), QStringLiteral("_thumbnails"));
    EXPECT_EQ(p.Unclaimed(p.defaultSaveFolder(), QStringLiteral("browser")), QStringLiteral("browser"));
}

TEST(PortableProfile, TheWorkingFolderHoldsEverythingAndBoardsKeepOut)
{
    Sandbox sandbox;
    const QString work = QDir::toNativeSeparators(sandbox.path() + QStringLiteral("work/"));
    const Profile p = Profile::Portable(sandbox.path() + QStringLiteral("work"));
    EXPECT_TRUE(p.isPortable());
    for (const QString &folder : {p.configFolder(), p.dataFolder(), p.cacheFolder(), p.defaultSaveFolder()})
        EXPECT_EQ(folder, work);
    EXPECT_EQ(p.thumbnailFolder(), work + QStringLiteral("tmp") + QDir::separator());

    const struct {
        const char *name;
        const char *expected;
    } cases[] = {
        {"tmp", "_tmp"},           {"TMP", "_TMP"}, // letter case aside, as some file systems see it
        {"browser", "_browser"},   {"soft.dat", "_soft.dat"},
        {"cookies.txt", "_cookies.txt"}, {"site.ini", "_site.ini"},
        {"corvadin.ini", "_corvadin.ini"}, {"soft.dat.lock", "_soft.dat.lock"},
        {"corvadin.lock", "_corvadin.lock"},
        {"alice", "alice"},        {"cookies", "cookies"}, {"tmp2", "tmp2"}, {"", ""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(p.Unclaimed(work, QString::fromUtf8(c.name)), QString::fromUtf8(c.expected)) << c.name;
    // Below the working folder, or anywhere else, a name is only a name.
    EXPECT_EQ(p.Unclaimed(work + QStringLiteral("alice"), QStringLiteral("tmp")), QStringLiteral("tmp"));
    EXPECT_EQ(p.Unclaimed(sandbox.path() + QStringLiteral("save"), QStringLiteral("soft.dat")), QStringLiteral("soft.dat"));
}

} // namespace
