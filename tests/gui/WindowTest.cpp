// The main window end to end: start-up, the list and download commands against the
// local board site, stopping and closing mid-run, and the window's own commands (drops,
// option toggles, the thumbnail toggle, the menus). Offscreen; the user's answers come
// from a scripted UserPrompts.
#include "app/AmbrelApp.h"
#include "app/AmbrelDlg.h"
#include "core/Language.h"
#include "core/AppState.h"
#include "settings/SoftData.h"
#include "splash/SplashScreenEx.h"
#include "source/ChangeSource.h"
#include "ui/ComboBox2.h"
#include "ui/DlgDownSet.h"
#include "ui/DlgFailList.h"
#include "ui/DlgFind.h"
#include "ui/DlgSaveSet.h"
#include "ui/MyGridCtrl.h"
#include "ui/UserPrompts.h"

#include "BoardSite.h"
#include "TestSupport.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDirIterator>
#include <QDropEvent>
#include <QFileInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QTableWidget>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPalette>
#include <QPushButton>
#include <QRegularExpression>
#include <QSet>
#include <QSettings>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <gtest/gtest.h>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>

using namespace std::chrono_literals;

namespace {

class ScriptedPrompts : public UserPrompts {
public:
    QStringList messages;
    QStringList questions;
    bool answerYes = false;
    QString folder; // answer of the folder browser
    QStringList opened;

    void Message(QWidget *, const QString &text, const QString &) override { messages << text; }
    std::function<void()> whileAsking; // runs while the question is open, as the user reads it
    bool AskYesNo(QWidget *, const QString &text, const QString &title) override
    {
        questions << title + QLatin1Char('|') + text;
        if (whileAsking)
            whileAsking();
        return answerYes;
    }
    QStringList startFolders; // where the folder browser and the save-as dialog opened
    QString ChooseFolder(QWidget *, const QString &, const QString &start) override
    {
        startFolders << start;
        return folder;
    }
    QString SaveFileName(QWidget *, const QString &, const QString &, const QString &start) override
    {
        startFolders << start;
        return {};
    }
    void OpenUrl(const QString &target) override { opened << target; }
};

// Contents of every file of a folder tree except the run's side files; a temporary or
// partial file shows up as contents the site never served.
QList<QByteArray> PictureFiles(const QString &folder)
{
    QList<QByteArray> pictures;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString name = it.fileName();
        if (name == QLatin1String("pic.kzv") || name == DownloadArchive::FileName() || name.endsWith(QLatin1String(".txt")) ||
            name.endsWith(QLatin1String(".lst")))
            continue;
        QFile f(path);
        if (f.open(QIODevice::ReadOnly))
            pictures << f.readAll();
    }
    return pictures;
}

// Every text a widget and its children show: titles, labels, tool tips, buttons, menu
// entries, the entries of lists the user does not type into, column headers.
QStringList ShownTexts(QWidget *root)
{
    QStringList texts{root->windowTitle()};
    const QList<QWidget *> widgets = root->findChildren<QWidget *>();
    for (QWidget *w : widgets) {
        texts << w->toolTip();
        if (auto *label = qobject_cast<QLabel *>(w))
            texts << label->text();
        else if (auto *button = qobject_cast<QAbstractButton *>(w))
            texts << button->text();
        else if (auto *group = qobject_cast<QGroupBox *>(w))
            texts << group->title();
        else if (auto *menu = qobject_cast<QMenu *>(w))
            texts << menu->title();
        else if (auto *box = qobject_cast<QComboBox *>(w); box && !box->isEditable())
            for (int i = 0; i < box->count(); ++i)
                texts << box->itemText(i);
        else if (auto *table = qobject_cast<QTableWidget *>(w))
            for (int col = 0; col < table->columnCount(); ++col)
                if (QTableWidgetItem *header = table->horizontalHeaderItem(col))
                    texts << header->text();
    }
    for (QAction *action : root->findChildren<QAction *>())
        texts << action->text();
    return texts;
}

// The texts that hold a Chinese character or punctuation mark.
QStringList Chinese(const QStringList &texts)
{
    static const QRegularExpression cjk(QStringLiteral("[\\x{3000}-\\x{9fff}\\x{ff00}-\\x{ffef}]"));
    return texts.filter(cjk);
}

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetPrompts(&prompts);
        QGuiApplication::clipboard()->clear();
        BoardSite::Options options;
        options.demoBoard = false;
        site = std::make_unique<BoardSite>(options);
        ASSERT_TRUE(site->start(0));
        site->addBoard(BoardSite::makeBoard(QStringLiteral("11"), QStringLiteral("Alpha"), QStringLiteral("alice"), 25, 7, 2048, 4096));

        work = sandbox.path() + QStringLiteral("work") + QDir::separator();
        save = sandbox.path() + QStringLiteral("save") + QDir::separator();
        QDir().mkpath(work);
        // The newest save-path history entry is what the save box shows at start-up, so
        // nothing lands outside the sandbox.
        ST_SOFTDATA data{};
        LoadSettings(data, work);
        SetFieldText(data.SavePathHistory[0], save);
        SaveSettings(data, work);
        MakeWindow();
    }

    // A window on its own state; one made while a language is installed speaks it.
    void MakeWindow()
    {
        window.reset();
        app.reset();
        app = std::make_unique<AppState>(work);
        app->site.siteHost = site->hostPort();
        app->site.defaultImageHost = site->hostPort();
        app->timings.pageTimeoutMs = 3000;
        app->timings.boardAttempts = 1;
        app->timings.boardRetryDelaySeconds = 0;
        window = std::make_unique<CAmbrelDlg>(*app);
    }

    void TearDown() override
    {
        window.reset();
        app.reset();
        site->stop();
        SetPrompts(nullptr);
    }

    void Start(const QString &address = QString(), bool splash = false)
    {
        CAmbrelDlg::Startup startup;
        startup.address = address;
        startup.splash = splash;
        window->Initialise(startup);
        ASSERT_TRUE(waitFor([&] { return window->StartupFinished() && window->isVisible(); }, 5s));
        EXPECT_EQ(app->ready, 1);
    }

    template <typename T = QWidget> T *ctl(int id) const
    {
        return window->findChild<T *>(QStringLiteral("ctl%1").arg(id));
    }
    QPushButton *button(int id) const { return ctl<QPushButton>(id); }
    QComboBox *combo(int id) const { return ctl<QComboBox>(id); }
    QString text(int id) const
    {
        if (auto *label = ctl<QLabel>(id))
            return label->text();
        if (auto *b = ctl<QAbstractButton>(id))
            return b->text();
        if (auto *box = ctl<QComboBox>(id))
            return box->currentText();
        return {};
    }
    QAction *menuEntry(int id) const { return window->findChild<QAction *>(QStringLiteral("menu%1").arg(id)); }

    bool waitPhase(const QString &phase, std::chrono::milliseconds timeout = 15s)
    {
        return waitFor([&] { return text(1009) == phase; }, timeout);
    }

    QSet<QByteArray> BoardPictures(const QString &id) const
    {
        QSet<QByteArray> bytes;
        for (const BoardSite::Pin &pin : site->board(id).pins)
            bytes.insert(site->pictureBytes(pin.key));
        return bytes;
    }

    // Albums in the list (without a retrieval), shown in the grid.
    void ShowAlbums(std::initializer_list<const char *> names)
    {
        for (const char *name : names) {
            ST_PERLISTRECORD r;
            r.strName = QString::fromUtf8(name);
            AddAlbumRecord(app->albums, r);
        }
        RebuildAlbumRows(*app, *window);
    }

    // Albums "album 0" ... of three pictures each, as a retrieval would have listed them.
    void AddAlbums(int n)
    {
        for (int i = 0; i < n; ++i) {
            ST_PERLISTRECORD r;
            r.strName = QStringLiteral("album %1").arg(i);
            r.nPicCount = 3;
            AddAlbumRecord(app->albums, r);
        }
    }

    // A board whose pictures take seconds to arrive, for stopping and closing mid-run.
    void AddSlowBoard()
    {
        site->addBoard(BoardSite::makeBoard(QStringLiteral("31"), QStringLiteral("Slow"), QStringLiteral("bob"), 40, 3, 20000, 30000));
        BoardSite::Options options = site->options();
        options.bandwidthBytesPerSec = 40000;
        site->setOptions(options);
    }

    Sandbox sandbox;
    QString work;
    QString save;
    ScriptedPrompts prompts;
    std::unique_ptr<BoardSite> site;
    std::unique_ptr<AppState> app;
    std::unique_ptr<CAmbrelDlg> window;
};

// ----------------------------------------------------------------------------------------
// Start-up

TEST_F(WindowTest, StartupShowsTheWindowReadyWithItsInitialLook)
{
    Start(QString(), true);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Corvadin"));
    EXPECT_EQ(text(1013), SiteTexts::NoticeLine());
    EXPECT_TRUE(ctl(1013)->isVisible());
    EXPECT_EQ(combo(1002)->currentIndex(), 18);
    EXPECT_FALSE(ctl(1035)->isVisible());
    EXPECT_LE(ctl(1001)->x(), ctl(1035)->x()); // the address box takes the freed room
    EXPECT_EQ(text(1004), QStringLiteral("获取相册"));
    EXPECT_TRUE(button(1004)->isDefault());
    EXPECT_EQ(text(1005), QStringLiteral("下载"));
    EXPECT_FALSE(button(1005)->isEnabled());
    EXPECT_EQ(text(1009), QString()); // no placeholder captions before the first run
    EXPECT_EQ(text(1006), QString());
    EXPECT_EQ(ctl<QGroupBox>(1011)->title(), QStringLiteral("相册列表"));
    EXPECT_EQ(text(1000), save); // history entry 0 wins
    EXPECT_EQ(ctl<CComboBox2>(1000)->ItemTexts(), QStringList{save});
    CMyGridCtrl *grid = ctl<CMyGridCtrl>(1003);
    ASSERT_NE(grid, nullptr);
    EXPECT_EQ(grid->CellText(0, 1), QStringLiteral("名称"));
    // The classic size, in the window's own font: the name column takes the room.
    // The name column takes the room the window leaves it.
    EXPECT_EQ(grid->columnWidth(1), grid->viewport()->width() - (50 + 50 + 100));
    EXPECT_GE(grid->columnWidth(1), 400);
    // The splash is gone once the window shows.
    EXPECT_TRUE(waitFor([&] { return window->findChild<CSplashScreenEx *>() == nullptr; }, 2s));
}

TEST_F(WindowTest, TheWindowFitsTheScreenAndKeepsItsSizeAndPlace)
{
    Start();
    // The classic size in the window's own font, cut to the screen (the offscreen screen
    // is 800 pixels wide, less than the classic width), never below what the layout needs.
    const QRect screen = window->screen()->availableGeometry();
    const QSize classic = window->ClassicSize();
    EXPECT_GT(classic.width(), screen.width() - 16);
    EXPECT_EQ(window->size(), classic.boundedTo(screen.size() - QSize(16, 48)).expandedTo(window->minimumSizeHint()));
    EXPECT_TRUE(screen.contains(window->geometry())) << "the bottom is on the screen";
    // Small enough for a 1366 x 768 screen at 125 % (1093 x 614, less panels and frame).
    EXPECT_LE(window->minimumSizeHint().width(), 1000);
    EXPECT_LE(window->minimumSizeHint().height(), 480);

    // Resizable, and the size and place come back at the next start.
    window->resize(640, 480);
    window->move(30, 40);
    const QRect chosen = window->geometry();
    EXPECT_EQ(chosen.size(), QSize(640, 480));
    EXPECT_TRUE(window->close());
    window = std::make_unique<CAmbrelDlg>(*app);
    app->ready = 0;
    Start();
    EXPECT_EQ(window->geometry(), chosen);

    // --window-size wins over what was kept.
    EXPECT_TRUE(window->close());
    window = std::make_unique<CAmbrelDlg>(*app);
    app->ready = 0;
    CAmbrelDlg::Startup startup;
    startup.splash = false;
    startup.windowSize = QSize(700, 500);
    window->Initialise(startup);
    ASSERT_TRUE(waitFor([&] { return window->StartupFinished() && window->isVisible(); }, 5s));
    EXPECT_EQ(window->size(), QSize(700, 500));
}

TEST_F(WindowTest, TheWindowsPlaceIsWrittenOnlyWhenItChangedAndNeverThroughALink)
{
    // corvadin.ini is a link to a file elsewhere, which holds the CLI's retries.
    const QString ini = work + QStringLiteral("corvadin.ini");
    const QByteArray theirs = "[Requests]\nRetries=7\n";
    sandbox.write(QStringLiteral("elsewhere/options.ini"), theirs);
    ASSERT_TRUE(QFile::link(sandbox.file(QStringLiteral("elsewhere/options.ini")), ini));
    Start();
    window->move(30, 40);
    EXPECT_TRUE(window->close());
    EXPECT_EQ(sandbox.read(QStringLiteral("elsewhere/options.ini")), theirs) << "written through the link";
    ASSERT_FALSE(QFileInfo(ini).isSymLink());
    {
        const QSettings kept(ini, QSettings::IniFormat);
        EXPECT_EQ(kept.value(QStringLiteral("Requests/Retries")).toInt(), 7);
        EXPECT_FALSE(kept.value(QStringLiteral("Window/Geometry")).toByteArray().isEmpty());
    }

    // Opened and closed where it was: the file is not written again (a write would drop
    // the comment).
    QFile file(ini);
    ASSERT_TRUE(file.open(QIODevice::Append));
    file.write("; the user's note\n");
    file.close();
    const QByteArray noted = sandbox.read(QStringLiteral("work/corvadin.ini"));
    window = std::make_unique<CAmbrelDlg>(*app);
    app->ready = 0;
    Start();
    EXPECT_TRUE(window->close());
    EXPECT_EQ(sandbox.read(QStringLiteral("work/corvadin.ini")), noted);
}

TEST_F(WindowTest, EveryTextStaysReadableOnADarkTheme)
{
    // A dark palette as dark desktop themes give one.
    const QPalette before = QApplication::palette();
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(45, 45, 48));
    dark.setColor(QPalette::WindowText, QColor(230, 230, 230));
    dark.setColor(QPalette::Base, QColor(30, 30, 30));
    dark.setColor(QPalette::Text, QColor(230, 230, 230));
    dark.setColor(QPalette::Button, QColor(60, 60, 64));
    dark.setColor(QPalette::ButtonText, QColor(230, 230, 230));
    dark.setColor(QPalette::Link, QColor(120, 180, 255));
    QApplication::setPalette(dark);
    Start();
    window->SetPhaseText(QStringLiteral("下载完毕"));
    QCoreApplication::processEvents();

    // No widget sets a colour of its own; the theme's palette decides.
    for (QWidget *w : window->findChildren<QWidget *>()) {
        const QString sheet = w->styleSheet();
        EXPECT_FALSE(sheet.contains(QRegularExpression(QStringLiteral("color\\s*:\\s*(?!palette)"))))
            << w->objectName().toStdString() << ": " << sheet.toStdString();
    }
    // And what they draw stands out from the window's background.
    const int background = dark.color(QPalette::Window).lightness();
    for (int id : {1013, 1009, 1034, 1032}) {
        const QImage shot = ctl(id)->grab().toImage();
        int contrast = 0;
        for (int y = 0; y < shot.height(); ++y)
            for (int x = 0; x < shot.width(); ++x)
                contrast = std::max(contrast, std::abs(QColor(shot.pixel(x, y)).lightness() - background));
        EXPECT_GT(contrast, 100) << id;
    }
    if (!qEnvironmentVariableIsEmpty("CORVADIN_SHOT_DIR"))
        window->grab().save(qEnvironmentVariable("CORVADIN_SHOT_DIR") + QStringLiteral("/dark.png"));
    window->close();
    QApplication::setPalette(before);
}

TEST_F(WindowTest, SplashCutsOutTheColourKeyAndShowsItsText)
{
    CAmbrelDlg::Startup startup;
    startup.splash = true;
    window->Initialise(startup);
    auto *splash = window->findChild<CSplashScreenEx *>();
    ASSERT_NE(splash, nullptr); // shown until the start-up worker reports
    EXPECT_EQ(splash->Text(), SiteTexts::SplashText());
    const QRegion shape = splash->mask();
    EXPECT_FALSE(shape.contains(QPoint(0, 0)));              // corner: colour key
    EXPECT_TRUE(shape.contains(splash->rect().center()));   // the board itself
    ASSERT_TRUE(waitFor([&] { return app->ready == 1 && window->isVisible(); }, 5s));

    // Sharp at 200 %: the splash has a picture at twice the size, with no pixel of the
    // colour key inside the shape it is painted into; the icon scales (SVG).
    const QImage normal(QStringLiteral(":/splash.png"));
    const QImage sharp(QStringLiteral(":/splash@2x.png"));
    ASSERT_EQ(sharp.size(), 2 * normal.size());
    const QColor key(212, 120, 120);
    int keyInside = 0;
    for (int y = 0; y < normal.height(); ++y)
        for (int x = 0; x < normal.width(); ++x)
            if (QColor(normal.pixel(x, y)) != key)
                for (int d = 0; d < 4; ++d)
                    keyInside += QColor(sharp.pixel(2 * x + d % 2, 2 * y + d / 2)) == key;
    EXPECT_EQ(keyInside, 0);
    EXPECT_EQ(window->windowIcon().actualSize(QSize(512, 512)), QSize(512, 512));
}

TEST_F(WindowTest, ClipboardTextPrefillsTheAddressBox)
{
    const struct {
        QString clipboard;
        QString expected;
    } cases[] = {
        {QStringLiteral("  http://a.example/boards/1/  "), QStringLiteral("http://a.example/boards/1/")},
        {QString(199, QLatin1Char('x')), QString(199, QLatin1Char('x'))},
        {QString(200, QLatin1Char('x')), QString()},
        {QStringLiteral("   "), QString()},
    };
    for (const auto &c : cases) {
        QGuiApplication::clipboard()->setText(c.clipboard);
        CAmbrelDlg dialog(*app);
        CAmbrelDlg::Startup startup;
        startup.splash = false;
        dialog.Initialise(startup);
        EXPECT_EQ(dialog.findChild<QComboBox *>(QStringLiteral("ctl1001"))->currentText(), c.expected)
            << c.clipboard.size() << " characters";
        ASSERT_TRUE(waitFor([&] { return app->ready == 1 && dialog.isVisible(); }, 5s));
        dialog.close();
        app->ready = 0;
    }
}

// ----------------------------------------------------------------------------------------
// Run control

TEST_F(WindowTest, ListAndDownloadEndToEnd)
{
    // Each look is seen while the site holds the request of its phase.
    const QString firstPicture = QLatin1Char('/') + site->board(QStringLiteral("11")).pins[0].key;
    site->holdRequests(QStringLiteral("/boards/11/"));
    Start(site->boardUrl(QStringLiteral("11")));

    button(1004)->click();
    ASSERT_TRUE(waitFor([&] { return site->heldRequests() == 1 && text(1004) == QStringLiteral("终止获取"); }, 5s));
    EXPECT_EQ(text(1009), QStringLiteral("正在获取相册列表，请稍等..."));
    EXPECT_FALSE(ctl(1013)->isVisible()); // the notice line is gone for good
    EXPECT_FALSE(button(1005)->isEnabled());
    EXPECT_FALSE(ctl(1001)->isEnabled());
    EXPECT_FALSE(ctl(1014)->isEnabled());
    EXPECT_FALSE(ctl(1034)->isEnabled());

    site->holdRequests(firstPicture); // the board page goes on
    ASSERT_TRUE(waitFor([&] { return site->heldRequests() == 1 && text(1005) == QStringLiteral("终止下载"); }, 10s));
    EXPECT_FALSE(button(1004)->isEnabled());
    EXPECT_FALSE(ctl(1000)->isEnabled());
    EXPECT_FALSE(ctl(1007)->isEnabled());

    site->releaseRequests();
    ASSERT_TRUE(waitPhase(QStringLiteral("下载完毕")));
    EXPECT_EQ(text(1004), QStringLiteral("获取相册"));
    EXPECT_TRUE(button(1004)->isEnabled());
    EXPECT_EQ(text(1005), QStringLiteral("下载"));
    EXPECT_TRUE(button(1005)->isEnabled());
    EXPECT_TRUE(ctl(1000)->isEnabled());
    EXPECT_EQ(text(1006), QString());
    EXPECT_EQ(ctl<QGroupBox>(1011)->title(), QStringLiteral("相册列表(共1个)"));

    CMyGridCtrl *grid = ctl<CMyGridCtrl>(1003);
    ASSERT_EQ(grid->RowCount(), 2);
    EXPECT_EQ(grid->CellText(1, 0), QStringLiteral("0001"));
    EXPECT_EQ(grid->CellText(1, 1), QStringLiteral("Alpha"));
    EXPECT_EQ(grid->CellText(1, 2), QStringLiteral("  25"));
    EXPECT_EQ(grid->ItemData(1, 0), 0);

    const QList<QByteArray> files = PictureFiles(save + QStringLiteral("alice"));
    EXPECT_EQ(files.size(), 25);
    const QSet<QByteArray> expected = BoardPictures(QStringLiteral("11"));
    for (const QByteArray &bytes : files)
        EXPECT_TRUE(expected.contains(bytes)) << "a picture differs from what the site served";
    EXPECT_TRUE(QFile::exists(save + QStringLiteral("alice/Alpha/pic.kzv")));
    // The address went into the history and the box's item list.
    EXPECT_EQ(FieldText(app->settings.AddressHistory[0]), site->boardUrl(QStringLiteral("11")));
    EXPECT_TRUE(ctl<CComboBox2>(1001)->ItemTexts().contains(site->boardUrl(QStringLiteral("11"))));
    EXPECT_TRUE(prompts.messages.isEmpty()) << prompts.messages.join(QLatin1Char('\n')).toStdString();

    // "下载" again downloads the chosen album once more: a run starts, asks for every
    // picture again and ends.
    site->holdRequests(firstPicture);
    button(1005)->click();
    ASSERT_TRUE(waitFor([&] { return site->heldRequests() == 1 && text(1005) == QStringLiteral("终止下载"); }, 10s));
    site->releaseRequests();
    ASSERT_TRUE(waitFor([&] { return text(1005) == QStringLiteral("下载") && app->DownState == 0 &&
                                     text(1009) == QStringLiteral("下载完毕"); }, 15s));
    for (const BoardSite::Pin &pin : site->board(QStringLiteral("11")).pins)
        EXPECT_EQ(site->requestCount(QLatin1Char('/') + pin.key), 2) << pin.key.toStdString();
}

TEST_F(WindowTest, ListCommandBeforeReadyDoesNothing)
{
    // Not initialised: the ready flag is still 0.
    ctl<QComboBox>(1001)->setEditText(site->boardUrl(QStringLiteral("11")));
    button(1004)->click();
    EXPECT_EQ(app->ListState, 0);
    EXPECT_EQ(text(1004), QStringLiteral("获取相册"));
    QCoreApplication::processEvents();
    EXPECT_EQ(site->requestCount(QStringLiteral("/boards/")), 0);
}

TEST_F(WindowTest, SecondPressDuringRetrievalIsAStopRequest)
{
    site->holdRequests(QStringLiteral("/boards/11/")); // until the test ends
    Start(site->boardUrl(QStringLiteral("11")));

    button(1004)->click();
    EXPECT_EQ(app->ListState, 1);
    ASSERT_TRUE(waitFor([&] { return site->heldRequests() == 1; }, 5s));
    button(1004)->click();
    EXPECT_EQ(app->ListState, 2);
    button(1004)->click();
    EXPECT_EQ(app->ListState, 2); // stays a stop request; nothing new starts
    // The request is abandoned at once: the retrieval ends as stopped, and no run starts.
    ASSERT_TRUE(waitPhase(QStringLiteral("已终止获取"), 5s));
    ASSERT_TRUE(waitFor([&] { return app->ListState == 0 && text(1004) == QStringLiteral("获取相册"); }, 5s));
    EXPECT_EQ(app->DownState, 0);
    EXPECT_FALSE(button(1005)->isEnabled());
    EXPECT_EQ(ctl<CMyGridCtrl>(1003)->RowCount(), 1);
    EXPECT_TRUE(prompts.messages.isEmpty());
}

TEST_F(WindowTest, AddressWithoutBoardsShowsTheHintAndKeepsDownloadDisabled)
{
    Start(site->baseUrl() + QStringLiteral("/users/5/"));
    button(1004)->click();
    // The message says what is wrong; the phase line does not read as a finished retrieval.
    ASSERT_TRUE(waitPhase(QStringLiteral("地址有误，没有获取相册"), 5s)) << text(1009).toStdString();
    ASSERT_TRUE(waitFor([&] { return app->ListState == 0 && text(1004) == QStringLiteral("获取相册"); }, 5s));
    EXPECT_FALSE(button(1005)->isEnabled());
    EXPECT_EQ(ctl<QGroupBox>(1011)->title(), QStringLiteral("相册列表(共0个)"));
    ASSERT_EQ(prompts.messages.size(), 1);
    EXPECT_EQ(prompts.messages[0], SiteTexts::BoardAddressHint(app->site.siteHost).replace(QLatin1Char('^'), QLatin1Char('\n')));
}

TEST_F(WindowTest, FailedRetrievalsSayHowInThePhaseLineAndAMessage)
{
    BoardSite::Board locked = BoardSite::makeBoard(QStringLiteral("21"), QStringLiteral("Hidden"), QStringLiteral("carol"), 5, 2);
    locked.loginRequired = true;
    site->addBoard(locked);
    BoardSite::Board bare;
    bare.id = QStringLiteral("22");
    bare.rawPage = "<html>" + QByteArray(300, 'x') + "</html>";
    site->addBoard(bare);
    Start();
    const struct {
        const char *what;
        QString address;
        QString phase;
        QString message; // a piece of it; empty: no message
    } cases[] = {
        {"protected board without a login", site->boardUrl(QStringLiteral("21")), QStringLiteral("获取相册失败：网站答复 HTTP 403"),
         QStringLiteral("请在菜单“<登录>”中选择“自定义登录”")},
        {"unknown board", site->boardUrl(QStringLiteral("99")), QStringLiteral("获取相册失败：网站答复 HTTP 404"),
         QStringLiteral("网站上没有这个画板（HTTP 404）")},
        {"not a board page", site->boardUrl(QStringLiteral("22")), QStringLiteral("获取相册失败：这不是画板页面"),
         QStringLiteral("不是画板页面")},
        {"board of another site", QStringLiteral("http://elsewhere.invalid/boards/1/"),
         QStringLiteral("不是 %1 的画板地址，没有获取相册").arg(site->hostPort()), site->hostPort()},
        {"not an address", QStringLiteral("boards/1"), QStringLiteral("地址有误，没有获取相册"), SiteTexts::AddressMissing()},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        prompts.messages.clear();
        combo(1001)->setEditText(c.address);
        button(1004)->click();
        ASSERT_TRUE(waitPhase(c.phase, 10s)) << text(1009).toStdString();
        ASSERT_TRUE(waitFor([&] { return app->ListState == 0 && text(1004) == QStringLiteral("获取相册"); }, 5s));
        EXPECT_EQ(app->DownState, 0);
        EXPECT_FALSE(button(1005)->isEnabled());
        EXPECT_EQ(ctl<QGroupBox>(1011)->title(), QStringLiteral("相册列表(共0个)"));
        ASSERT_EQ(prompts.messages.size(), 1);
        EXPECT_TRUE(prompts.messages[0].contains(c.message)) << prompts.messages[0].toStdString();
    }
    // Only a protected board suggests logging in.
    EXPECT_FALSE(CAmbrelDlg::ListEndMessage({ListOutcome::Kind::HttpError, 404, {}, {}}).contains(QStringLiteral("<登录>")));
    EXPECT_TRUE(CAmbrelDlg::ListEndMessage({ListOutcome::Kind::HttpError, 401, {}, {}}).contains(QStringLiteral("<登录>")));
}

TEST_F(WindowTest, EmptySavePathStopsTheRunWithAMessage)
{
    Start(site->boardUrl(QStringLiteral("11")));
    ctl<QComboBox>(1000)->setEditText(QString());
    button(1004)->click();
    ASSERT_TRUE(waitFor([&] { return prompts.messages.contains(QStringLiteral("请先设置保存路径")); }, 10s));
    ASSERT_TRUE(waitFor([&] { return app->DownState == 0 && app->ListState == 0; }, 5s));
    EXPECT_EQ(text(1005), QStringLiteral("下载"));
    EXPECT_TRUE(button(1004)->isEnabled());
    EXPECT_TRUE(PictureFiles(save).isEmpty());
}

TEST_F(WindowTest, StopDuringDownloadLeavesOnlyCompletePictures)
{
    AddSlowBoard();
    Start(site->boardUrl(QStringLiteral("31")));
    button(1004)->click();
    ASSERT_TRUE(waitFor([&] { return text(1005) == QStringLiteral("终止下载") && app->bWorkersBusy == 1; }, 10s));
    button(1005)->click();
    EXPECT_EQ(app->DownState, 3);
    EXPECT_EQ(app->bStopWorkers, 1);
    ASSERT_TRUE(waitPhase(QStringLiteral("已终止下载"), 10s));
    EXPECT_EQ(text(1005), QStringLiteral("下载"));
    EXPECT_TRUE(app->Summary().stopped);

    const QList<QByteArray> files = PictureFiles(save);
    EXPECT_LT(files.size(), 40);
    const QSet<QByteArray> expected = BoardPictures(QStringLiteral("31"));
    for (const QByteArray &bytes : files)
        EXPECT_TRUE(expected.contains(bytes)) << "partial picture of " << bytes.size() << " bytes";
    EXPECT_FALSE(QFile::exists(save + QStringLiteral("bob/Slow/pic.kzv"))); // no mark for a stopped album
}

TEST_F(WindowTest, StopWhilePagingReadsAsAStop)
{
    // The site holds the first pin page until the test ends: the stop lands while it is
    // on its way.
    site->addBoard(BoardSite::makeBoard(QStringLiteral("32"), QStringLiteral("Pages"), QStringLiteral("dan"), 60, 4));
    site->holdRequests(QStringLiteral("/boards/32/?"));
    Start(site->boardUrl(QStringLiteral("32")));
    button(1004)->click();
    ASSERT_TRUE(waitFor([&] { return site->heldRequests() == 1 && text(1005) == QStringLiteral("终止下载"); }, 10s));
    button(1005)->click();
    ASSERT_TRUE(waitPhase(QStringLiteral("已终止下载"), 5s)) << text(1009).toStdString();
    EXPECT_EQ(text(1005), QStringLiteral("下载"));
    EXPECT_EQ(text(1006), QString());
    EXPECT_TRUE(app->Summary().stopped);
    EXPECT_EQ(site->requestCount(QStringLiteral("/boards/32/?")), 1); // no page after the stop
    // The board page's pins were downloading meanwhile: what was saved is whole.
    const QSet<QByteArray> expected = BoardPictures(QStringLiteral("32"));
    const QList<QByteArray> saved = PictureFiles(save);
    EXPECT_LE(saved.size(), 20);
    for (const QByteArray &bytes : saved)
        EXPECT_TRUE(expected.contains(bytes)) << "partial picture of " << bytes.size() << " bytes";
    // "终止下载" pressed once more as the done look arrives starts no new run.
    window->ShowDownloading(); // the look a late click still sees
    button(1005)->click();
    EXPECT_EQ(app->DownState, 0);
    window->ShowDownloadDone();
}

TEST_F(WindowTest, ClosingDuringARunStopsAndJoinsEverything)
{
    AddSlowBoard();
    Start(site->boardUrl(QStringLiteral("31")));
    button(1004)->click();
    ASSERT_TRUE(waitFor([&] { return text(1005) == QStringLiteral("终止下载") && app->bWorkersBusy == 1; }, 10s));

    // Asked first; No keeps the window and the run.
    prompts.answerYes = false;
    EXPECT_FALSE(window->close());
    EXPECT_EQ(prompts.questions, QStringList{QStringLiteral("提示|正在获取或下载相册。要终止并退出吗？")});
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->IsClosing());
    EXPECT_EQ(app->DownState, 1);

    prompts.answerYes = true;
    EXPECT_TRUE(window->close());
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(window->IsClosing());
    EXPECT_FALSE(app->listThread.joinable());
    EXPECT_FALSE(app->runThread.joinable());
    EXPECT_EQ(app->bWorkersBusy, 0);

    const QSet<QByteArray> expected = BoardPictures(QStringLiteral("31"));
    for (const QByteArray &bytes : PictureFiles(save))
        EXPECT_TRUE(expected.contains(bytes)) << "partial picture of " << bytes.size() << " bytes";
    // Nothing starts any more.
    button(1004)->click();
    EXPECT_EQ(app->ListState, 0);
}

TEST_F(WindowTest, ClosingDuringARetrievalReturns)
{
    // The site holds the board page; the close must not wait for it. Should it wait, the
    // page is let go after 20 s, so the test ends either way.
    site->holdRequests(QStringLiteral("/boards/11/"));
    Start(site->boardUrl(QStringLiteral("11")));
    button(1004)->click();
    ASSERT_TRUE(waitFor([&] { return site->heldRequests() == 1 && text(1004) == QStringLiteral("终止获取"); }, 5s));
    std::atomic<bool> closed {false};
    std::thread releaser([&] {
        for (int i = 0; i < 2000 && !closed; ++i)
            std::this_thread::sleep_for(10ms);
        site->releaseRequests();
    });
    prompts.answerYes = true;
    window->close();
    EXPECT_EQ(prompts.questions.size(), 1);
    const bool returnedWhileHeld = site->heldRequests() == 1;
    closed = true;
    releaser.join();
    EXPECT_TRUE(returnedWhileHeld) << "the close waited for the page";
    EXPECT_FALSE(app->listThread.joinable());
    EXPECT_FALSE(app->runThread.joinable());
    EXPECT_TRUE(prompts.messages.isEmpty());
}

TEST_F(WindowTest, EnterInTheAddressBoxPressesGetAlbums)
{
    Start(site->boardUrl(QStringLiteral("11")));
    QTest::keyClick(ctl<QComboBox>(1001)->lineEdit(), Qt::Key_Return);
    EXPECT_NE(app->ListState, 0);
    ASSERT_TRUE(waitPhase(QStringLiteral("下载完毕")));
}

// ----------------------------------------------------------------------------------------
// The window's own commands

TEST_F(WindowTest, AddressBoxClassifiesAsTheUserTypes)
{
    Start();
    const struct {
        QString address;
        int mode;
        int kind; // -1: the album-kind list is hidden
    } cases[] = {
        {QStringLiteral("http://t.qq.com/someone"), 0, 2},
        {QStringLiteral("http://qun.qq.com/group/1"), 0, 1},
        {QStringLiteral("http://user.qzone.qq.com/12345"), 0, 0},
        {QStringLiteral("http://www.163.com/x?from=taobao.com/"), 2, -1}, // first row wins
        {QStringLiteral("https://") + site->hostPort() + QStringLiteral("/boards/5/"), 18, -1},
        {QStringLiteral("no address at all"), 18, -1},                    // left as it was
    };
    QComboBox *address = combo(1001);
    QWidget *kinds = ctl(1035);
    const int right = address->x() + address->width();
    for (const auto &c : cases) {
        address->lineEdit()->clear();
        QTest::keyClicks(address->lineEdit(), c.address);
        EXPECT_EQ(combo(1002)->currentIndex(), c.mode) << c.address.toStdString();
        EXPECT_EQ(kinds->isVisible(), c.kind >= 0) << c.address.toStdString();
        if (c.kind >= 0) {
            EXPECT_EQ(combo(1035)->currentIndex(), c.kind) << c.address.toStdString();
            EXPECT_GT(address->x(), kinds->x() + kinds->width());
        } else {
            EXPECT_LE(address->x(), kinds->x()); // the address box takes the list's room
        }
        EXPECT_EQ(address->x() + address->width(), right); // the right edge stays
    }
    EXPECT_EQ(app->source.siteMode, SITE_MODE_BOARD);
}

TEST_F(WindowTest, ThumbnailsFromAnotherThread)
{
    Start();
    Sandbox pictures;
    QImage picture(300, 200, QImage::Format_RGB32);
    picture.fill(Qt::red);
    ASSERT_TRUE(picture.save(pictures.file(QStringLiteral("0.jpg")), "JPG"));
    pictures.write(QStringLiteral("1.jpg"), "not a picture");

    int good = -2, bad = -2;
    std::thread worker([&] {
        good = window->AddThumbnail(pictures.file(QStringLiteral("0.jpg")));
        bad = window->AddThumbnail(pictures.file(QStringLiteral("1.jpg")));
    });
    ASSERT_TRUE(waitFor([&] { return bad != -2; }, 5s));
    worker.join();
    EXPECT_EQ(good, 0);
    EXPECT_EQ(bad, -1); // a cover that is no picture: a cell without one, and no message
    EXPECT_EQ(ctl<CMyGridCtrl>(1003)->ImageCount(), 1);
    QCoreApplication::processEvents();
    EXPECT_TRUE(prompts.messages.isEmpty());
}

TEST_F(WindowTest, ABoardsThumbnailIsItsFirstPin)
{
    Start(site->boardUrl(QStringLiteral("11")));
    ctl<QCheckBox>(1014)->click(); // thumbnails on
    ASSERT_TRUE(waitFor([&] { return app->ConvertState == 0; }, 5s));
    button(1004)->click();
    ASSERT_TRUE(waitPhase(QStringLiteral("下载完毕")));
    CMyGridCtrl *grid = ctl<CMyGridCtrl>(1003);
    ASSERT_EQ(grid->RowCount(), 1);
    EXPECT_EQ(grid->CellText(0, 0), QStringLiteral("1.Alpha"));
    EXPECT_EQ(grid->ImageCount(), 1);
    ASSERT_NE(grid->item(0, 0), nullptr);
    EXPECT_FALSE(grid->item(0, 0)->icon().isNull()) << "the cell shows no picture";
    // The thumbnail is the first pin's picture.
    const QImage cover = QImage::fromData(site->pictureBytes(site->board(QStringLiteral("11")).pins[0].key));
    const QImage kept(app->profile.thumbnailFolder() + QStringLiteral("0.jpg"));
    EXPECT_FALSE(kept.isNull());
    EXPECT_EQ(kept.size(), cover.size());
    EXPECT_TRUE(prompts.messages.isEmpty()) << prompts.messages.join(u'|').toStdString();
}

TEST_F(WindowTest, TaobaoOptionsExcludeEachOther)
{
    Start();
    const struct {
        uint16_t before;
        uint16_t toggled;
        uint16_t after;
    } cases[] = {
        {OPT_TAOBAO_DESC, OPT_TAOBAO_MAIN, OPT_TAOBAO_MAIN},
        {OPT_TAOBAO_MAIN, OPT_TAOBAO_DESC, OPT_TAOBAO_DESC},
        {OPT_TAOBAO_MAIN | OPT_FIX_ORDER, OPT_TAOBAO_MAIN, OPT_FIX_ORDER},
        {OPT_TAOBAO_DESC, OPT_TAOBAO_DESC, 0},
        {OPT_TAOBAO_MAIN, OPT_FIX_FORMAT, OPT_TAOBAO_MAIN | OPT_FIX_FORMAT},
    };
    for (const auto &c : cases) {
        app->settings.SaveSet[SITE_MODE_BOARD].wOptions = c.before;
        window->ToggleOption(c.toggled);
        EXPECT_EQ(app->settings.SaveSet[SITE_MODE_BOARD].wOptions, c.after) << c.before << " ^ " << c.toggled;
        ST_SOFTDATA stored{};
        LoadSettings(stored, work);
        EXPECT_EQ(stored.SaveSet[SITE_MODE_BOARD].wOptions, c.after) << "saved";
    }
    // The menu shows the flags; the mode-bound entries stay disabled in the board mode.
    app->settings.SaveSet[SITE_MODE_BOARD].wOptions = OPT_LIST_ONLY | OPT_TAOBAO_MAIN;
    window->RefreshSettingsMenu();
    EXPECT_TRUE(menuEntry(32802)->isChecked());
    EXPECT_TRUE(menuEntry(32802)->isEnabled());
    EXPECT_FALSE(menuEntry(32800)->isChecked());
    EXPECT_TRUE(menuEntry(32808)->isChecked());
    for (int id : {32808, 32814, 32776})
        EXPECT_FALSE(menuEntry(id)->isEnabled()) << id;
    // Choosing an option entry toggles its flag.
    menuEntry(32800)->trigger();
    EXPECT_EQ(app->settings.SaveSet[SITE_MODE_BOARD].wOptions, OPT_LIST_ONLY | OPT_TAOBAO_MAIN | OPT_FIX_FORMAT);
    EXPECT_TRUE(menuEntry(32800)->isChecked());
}

TEST_F(WindowTest, MenusHoldEveryEntryWithItsId)
{
    Start();
    // Each menu opens with Alt and its letter.
    const QStringList popups = {QStringLiteral("<登录>(&L)"), QStringLiteral("<设置>(&S)"), QStringLiteral("<导入/导出>(&I)"),
                                QStringLiteral("<辅助功能>(&T)"), QString(13, QLatin1Char(' ')), QStringLiteral("<帮助>(&H)")};
    QStringList shown;
    for (QAction *a : window->MenuBar()->actions())
        shown << a->text();
    EXPECT_EQ(shown, popups);

    const QList<int> settingsIds = {32778, 32779, 0, 32802, 32804, 0, 32799, 32800, 32774, 32812, 0, 32808, 32814, 32776};
    QList<int> ids;
    for (QAction *a : window->findChild<QMenu *>(QStringLiteral("popupSettings"))->actions())
        ids << (a->isSeparator() ? 0 : a->data().toInt());
    EXPECT_EQ(ids, settingsIds);
    for (int id : {32781, 32782, 32789, 32790, 32791, 32792, 32793, 32794, 32803, 32813, 32815, 32795}) {
        ASSERT_NE(menuEntry(id), nullptr) << id;
        EXPECT_TRUE(menuEntry(id)->isEnabled()) << id;
    }
    EXPECT_EQ(menuEntry(32775)->text(), QStringLiteral("版本信息(&V)"));

    // The help entries open the README (here the source tree's); the entries that would
    // do nothing are disabled.
    const QString readme = CAmbrelDlg::ReadmeFile();
    ASSERT_FALSE(readme.isEmpty());
    EXPECT_TRUE(QFileInfo(readme).isFile());
    for (int id : {32806, 32773, 32772})
        menuEntry(id)->trigger();
    EXPECT_EQ(prompts.opened, QStringList(3, readme));
    for (int id : {32809, 32810, 32811, 32807})
        EXPECT_FALSE(menuEntry(id)->isEnabled()) << id;
    // "关于" of the system menu sits in the help menu, beside "版本信息".
    QAction *aboutEntry = menuEntry(CAmbrelDlg::ID_SYS_ABOUT);
    ASSERT_NE(aboutEntry, nullptr);
    EXPECT_EQ(QString(aboutEntry->text()).remove(QStringLiteral("(&A)")), QStringLiteral("关于"));
    EXPECT_EQ(aboutEntry->menuRole(), QAction::AboutRole);

    std::unique_ptr<QDialog> about(window->CreateAboutBox());
    EXPECT_EQ(about->windowTitle(), QStringLiteral("关于"));
    EXPECT_EQ(about->findChild<QLabel *>(QStringLiteral("about1014"))->text(), QStringLiteral("版本号：14.07.24.01"));
    EXPECT_EQ(about->findChild<QLabel *>(QStringLiteral("aboutSecondLine"))->text(), SiteTexts::AboutSecondLine());
}

// Started in English, the window, its dialogs and the texts the core writes into it are
// English; the album data stays as the site has it.
TEST_F(WindowTest, StartedInEnglishEveryTextIsEnglish)
{
    const InstalledLanguage english(Language::English, {QStringLiteral("qtbase")});
    MakeWindow();
    Start(site->boardUrl(QStringLiteral("11")));
    EXPECT_EQ(text(1004), QStringLiteral("Fetch Albums"));
    EXPECT_EQ(text(1005), QStringLiteral("Download"));
    EXPECT_EQ(text(1013), QStringLiteral("Paste a board's address and press “Fetch Albums” to download the whole board."));
    EXPECT_EQ(combo(1002)->currentText(), QStringLiteral("Boards"));
    QStringList menus;
    for (QAction *a : window->MenuBar()->actions())
        menus << a->text().trimmed();
    EXPECT_EQ(menus, (QStringList{QStringLiteral("&Login"), QStringLiteral("&Settings"), QStringLiteral("&Import/Export"),
                                  QStringLiteral("&Tools"), QString(), QStringLiteral("&Help")}));

    // A run: the core's phase, progress and caption texts come in English too.
    site->holdRequests(QLatin1Char('/') + site->board(QStringLiteral("11")).pins[0].key);
    button(1004)->click();
    // The first picture is asked for as soon as it is named, which may come before the
    // window has shown the phase: wait for both.
    ASSERT_TRUE(waitFor([&] {
        return site->heldRequests() == 1 && text(1005) == QStringLiteral("Stop Download")
               && text(1009) == QStringLiteral("Downloading album 1/1");
    }, 10s)) << text(1009).toStdString();
    EXPECT_TRUE(Chinese(ShownTexts(window.get())).isEmpty()) << Chinese(ShownTexts(window.get())).join(QLatin1Char('|')).toStdString();
    site->releaseRequests();
    ASSERT_TRUE(waitPhase(QStringLiteral("Download complete"))) << text(1009).toStdString();
    EXPECT_EQ(ctl<QGroupBox>(1011)->title(), QStringLiteral("Albums (1)"));
    EXPECT_EQ(ctl<CMyGridCtrl>(1003)->CellText(1, 1), QStringLiteral("Alpha"));
    EXPECT_TRUE(Chinese(ShownTexts(window.get())).isEmpty()) << Chinese(ShownTexts(window.get())).join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(prompts.messages.isEmpty()) << prompts.messages.join(QLatin1Char('\n')).toStdString();

    // The dialogs, the help texts and the command line's help.
    ST_DOWNSET down{};
    ST_SAVESET names{};
    CDlgDownSet downSet(&down, window.get());
    CDlgSaveSet saveSet(&names, window.get());
    CDlgFind find(window.get());
    find.SetMode(0);
    CDlgFailList failList(window.get());
    PictureOutcome failure;
    failure.address = QStringLiteral("http://x/1");
    failure.file = QStringLiteral("/tmp/1.jpg");
    failure.reason = QStringLiteral("HTTP 404");
    failList.SetFailures({failure});
    std::unique_ptr<QDialog> about(window->CreateAboutBox());
    for (QWidget *dialog : {static_cast<QWidget *>(&downSet), static_cast<QWidget *>(&saveSet),
                            static_cast<QWidget *>(&find), static_cast<QWidget *>(&failList),
                            static_cast<QWidget *>(about.get())})
        EXPECT_TRUE(Chinese(ShownTexts(dialog)).isEmpty()) << Chinese(ShownTexts(dialog)).join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(failList.windowTitle(), QStringLiteral("Failed Pictures"));
    EXPECT_TRUE(Chinese({CDlgSaveSet::HelpText()}).isEmpty());
    StartOptions options;
    QString help;
    int exitCode = -1;
    EXPECT_FALSE(ParseStartOptions({QStringLiteral("corvadin"), QStringLiteral("--help")}, &options, &help, &exitCode));
    EXPECT_EQ(exitCode, 0);
    EXPECT_TRUE(help.contains(QStringLiteral("Press “Fetch Albums” once start-up is done."))) << help.toStdString();
    EXPECT_TRUE(Chinese({help}).isEmpty()) << help.toStdString();
}

// Qt's own dialogs follow the language: their buttons say 是/否 in Chinese.
TEST_F(WindowTest, QtsOwnButtonsSpeakTheChosenLanguage)
{
    const auto yesText = [] {
        QMessageBox box(QMessageBox::Question, QString(), QString(), QMessageBox::Yes | QMessageBox::No);
        return box.button(QMessageBox::Yes)->text();
    };
    {
        const InstalledLanguage chinese(Language::Chinese, {QStringLiteral("qtbase")});
        EXPECT_TRUE(chinese.missing().isEmpty()) << "Qt's translations are missing (Debian: qt6-translations-l10n)";
        EXPECT_EQ(yesText(), QStringLiteral("是(&Y)"));
    }
    const InstalledLanguage english(Language::English, {QStringLiteral("qtbase")});
    EXPECT_EQ(yesText(), QStringLiteral("&Yes"));
}

TEST_F(WindowTest, ThumbnailToggleDuringARebuild)
{
    Start();
    AddAlbums(50);
    QCheckBox *thumbs = ctl<QCheckBox>(1014);
    CMyGridCtrl *grid = ctl<CMyGridCtrl>(1003);

    // On: the rebuild waits for this thread to add its first row, so it is still running
    // at the second click. Answered No: the rebuild goes on, the box stays checked.
    thumbs->click();
    ASSERT_EQ(app->ConvertState, 1);
    EXPECT_FALSE(ctl(1034)->isEnabled());
    EXPECT_FALSE(ctl(1036)->isEnabled());
    prompts.answerYes = false;
    thumbs->click();
    EXPECT_EQ(prompts.questions, QStringList{QStringLiteral("提示|模式转换未完成,是否中断?")});
    EXPECT_TRUE(thumbs->isChecked());
    EXPECT_EQ(app->ConvertState, 1);
    ASSERT_TRUE(waitFor([&] { return app->ConvertState == 0; }, 10s));
    QCoreApplication::processEvents();
    EXPECT_EQ(grid->rowCount(), 9); // 50 thumbnails, 6 a row
    EXPECT_EQ(grid->columnCount(), 6);
    EXPECT_EQ(grid->CellText(0, 0), QStringLiteral("1.album 0"));
    EXPECT_EQ(grid->CellText(8, 1), QStringLiteral("50.album 49"));

    // Off, and answered Yes: the rebuild stops early, the box keeps its new state.
    thumbs->click();
    ASSERT_EQ(app->ConvertState, 1);
    EXPECT_TRUE(ctl(1034)->isEnabled());
    prompts.answerYes = true;
    thumbs->click();
    EXPECT_FALSE(thumbs->isChecked());
    EXPECT_EQ(app->bThumbMode, 0);
    ASSERT_TRUE(waitFor([&] { return app->ConvertState == 0; }, 10s));
    QCoreApplication::processEvents();
    EXPECT_LT(grid->RowCount(), 51);
}

TEST_F(WindowTest, AStopAnsweredAfterTheRebuildEndedLeavesNothingBehind)
{
    Start();
    AddAlbums(30);
    QCheckBox *thumbs = ctl<QCheckBox>(1014);
    thumbs->click();
    ASSERT_EQ(app->ConvertState, 1);
    // "中断?" stays open until the rebuild has ended (the box serves events meanwhile),
    // then the answer is Yes: there is nothing left to stop.
    prompts.answerYes = true;
    prompts.whileAsking = [&] { waitFor([&] { return app->ConvertState == 0; }, 10s); };
    thumbs->click();
    prompts.whileAsking = nullptr;
    ASSERT_EQ(app->ConvertState, 0) << "a stop is left for a rebuild that has ended";

    // The next toggle asks nothing and rebuilds, and the list command does not wait for a
    // rebuild that will never come.
    thumbs->click();
    EXPECT_EQ(prompts.questions.size(), 1);
    ASSERT_TRUE(waitFor([&] { return app->ConvertState == 0; }, 10s));
    button(1004)->click();
    EXPECT_TRUE(waitFor([&] { return app->ListState == 0; }, 10s));
}

// Sends a drag and a drop of `mime` to the window; answers whether both were taken.
bool Drop(QWidget *window, const QMimeData &mime)
{
    QDragEnterEvent enter(QPoint(100, 100), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window, &enter);
    if (!enter.isAccepted())
        return false;
    QDropEvent drop(QPointF(100, 100), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window, &drop);
    return drop.isAccepted();
}

TEST_F(WindowTest, DroppedFoldersAndFilesSetTheSaveFolder)
{
    Start();
    const QString base = sandbox.path();
    const QChar sep = QDir::separator();
    QDir().mkpath(base + QStringLiteral("pics"));
    QDir().mkpath(base + QStringLiteral("pics.old"));
    sandbox.write(QStringLiteral("pics/a.jpg"), "x");
    sandbox.write(QStringLiteral("notes"), "x");
    const struct {
        QString dropped;
        QString expected;
    } cases[] = {
        {base + QStringLiteral("pics") + sep + QStringLiteral("a.jpg"), base + QStringLiteral("pics") + sep}, // a file: its folder
        {base + QStringLiteral("pics.old"), base + QStringLiteral("pics.old") + sep}, // a folder, dot or not
        {base + QStringLiteral("notes"), base},                                      // a file without a dot
    };
    for (const auto &c : cases) {
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(c.dropped)});
        EXPECT_TRUE(Drop(window.get(), mime)) << c.dropped.toStdString();
        EXPECT_EQ(text(1000), c.expected) << c.dropped.toStdString();
        EXPECT_EQ(FieldText(app->settings.SavePathHistory[0]), c.expected);
        EXPECT_TRUE(ctl<CComboBox2>(1000)->ItemTexts().contains(c.expected));
    }
    ST_SOFTDATA stored{};
    LoadSettings(stored, work);
    EXPECT_EQ(FieldText(stored.SavePathHistory[0]), base);

    // A path that is not there leaves the save folder alone.
    QMimeData gone;
    gone.setUrls({QUrl::fromLocalFile(base + QStringLiteral("gone") + sep + QStringLiteral("b.jpg"))});
    Drop(window.get(), gone);
    EXPECT_EQ(text(1000), base);
}

TEST_F(WindowTest, DroppedWebAddressesGoToTheAddressBox)
{
    Start();
    const QString board = site->boardUrl(QStringLiteral("11"));
    const QString before = text(1000);
    // As a link (a browser's drag) and as text (a selected address).
    QMimeData link;
    link.setUrls({QUrl(board)});
    link.setText(board);
    EXPECT_TRUE(Drop(window.get(), link));
    EXPECT_EQ(text(1001), board);
    EXPECT_EQ(text(1000), before) << "a web address is never a save folder";
    EXPECT_EQ(combo(1002)->currentIndex(), SITE_MODE_BOARD); // classified as typed

    const QString other = QStringLiteral("https://") + site->hostPort() + QStringLiteral("/boards/99/");
    QMimeData plain;
    plain.setText(QStringLiteral("  ") + other + QStringLiteral("\n"));
    EXPECT_TRUE(Drop(window.get(), plain));
    EXPECT_EQ(text(1001), other);

    // Other text is not taken.
    QMimeData words;
    words.setText(QStringLiteral("just some words"));
    EXPECT_FALSE(Drop(window.get(), words));
    EXPECT_EQ(text(1001), other);
}

TEST_F(WindowTest, EscStopsWhatRunsAndOtherwiseKeepsTheWindow)
{
    Start(site->boardUrl(QStringLiteral("11")));
    // Idle: nothing to stop, and the window stays.
    QTest::keyClick(window.get(), Qt::Key_Escape);
    QTest::keyClick(ctl(1001), Qt::Key_Escape); // from the address box as well
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->IsClosing());
    EXPECT_TRUE(prompts.questions.isEmpty());

    // During a download: "终止下载".
    AddSlowBoard();
    combo(1001)->setEditText(site->boardUrl(QStringLiteral("31")));
    button(1004)->click();
    ASSERT_TRUE(waitFor([&] { return text(1005) == QStringLiteral("终止下载") && app->bWorkersBusy == 1; }, 10s));
    QTest::keyClick(ctl(1003), Qt::Key_Escape);
    ASSERT_TRUE(waitPhase(QStringLiteral("已终止下载"), 10s)) << text(1009).toStdString();
    EXPECT_TRUE(app->Summary().stopped);
    EXPECT_TRUE(window->isVisible());

    // During a retrieval (its board page held at the site): "终止获取".
    site->holdRequests(QStringLiteral("/boards/31/"));
    button(1004)->click();
    ASSERT_TRUE(waitFor([&] { return site->heldRequests() == 1 && text(1004) == QStringLiteral("终止获取"); }, 5s));
    QTest::keyClick(window.get(), Qt::Key_Escape);
    ASSERT_TRUE(waitPhase(QStringLiteral("已终止获取"), 5s)) << text(1009).toStdString();
    EXPECT_TRUE(window->isVisible());
    site->releaseRequests();
}

TEST_F(WindowTest, CtrlFOpensTheFindBoxWhichSelectsOneRowAtATime)
{
    Start();
    ShowAlbums({"cats", "dogs", "cats and dogs"});
    CMyGridCtrl *grid = ctl<CMyGridCtrl>(1003);
    EXPECT_EQ(grid->selectionMode(), QAbstractItemView::ExtendedSelection);

    QTest::keySequence(window.get(), QKeySequence::Find);
    ASSERT_NE(window->FindBox(), nullptr);
    EXPECT_TRUE(window->FindBox()->isVisible());
    EXPECT_EQ(grid->selectionMode(), QAbstractItemView::SingleSelection);
    // A click that would extend the selection picks one row while the box is open.
    grid->selectRow(0);
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, Qt::ControlModifier,
                      grid->visualRect(grid->model()->index(2, 1)).center());
    EXPECT_EQ(grid->selectionModel()->selectedRows().size(), 1);

    // "×" gives the grid its several rows back.
    window->FindBox()->findChild<QPushButton *>(QStringLiteral("button1699"))->click();
    EXPECT_FALSE(window->FindBox()->isVisible());
    EXPECT_EQ(grid->selectionMode(), QAbstractItemView::ExtendedSelection);
    // So does the thumbnail view, which hides the box.
    QTest::keySequence(window.get(), QKeySequence::Find);
    EXPECT_EQ(grid->selectionMode(), QAbstractItemView::SingleSelection);
    ctl<QCheckBox>(1014)->click();
    EXPECT_FALSE(window->FindBox()->isVisible());
    EXPECT_EQ(grid->selectionMode(), QAbstractItemView::ExtendedSelection);
    ASSERT_TRUE(waitFor([&] { return app->ConvertState == 0; }, 10s));
    // Ctrl+F finds nothing to open in the thumbnail view.
    QTest::keySequence(window.get(), QKeySequence::Find);
    EXPECT_FALSE(window->FindBox()->isVisible());
}

TEST_F(WindowTest, FolderAndExportDialogsOpenInTheSavePath)
{
    Start();
    const QString missing = save + QStringLiteral("not") + QDir::separator() + QStringLiteral("yet");
    ctl<QComboBox>(1000)->setEditText(missing); // nothing of it exists yet
    window->OnExport();
    QDir().mkpath(save);
    ctl<QPushButton>(1007)->click();
    window->OnExport();
    ctl<QComboBox>(1000)->setEditText(save);
    ctl<QPushButton>(1007)->click();
    // The nearest folder that exists on the way to the save path.
    EXPECT_EQ(prompts.startFolders, (QStringList{QDir::cleanPath(sandbox.path()), QDir::cleanPath(save),
                                                 QDir::cleanPath(save), save}));
}

TEST_F(WindowTest, ChosenFolderAlreadyInTheHistoryLeavesItAlone)
{
    Start();
    const QString upper = save.toUpper();
    prompts.folder = upper.left(upper.size() - 1); // without the separator
    ctl<QPushButton>(1007)->click();
    EXPECT_EQ(text(1000), upper);
    EXPECT_EQ(FieldText(app->settings.SavePathHistory[0]), save);
    EXPECT_EQ(FieldText(app->settings.SavePathHistory[1]), QString());
    EXPECT_EQ(ctl<CComboBox2>(1000)->ItemTexts(), QStringList{save});

    // "打开" opens what the box shows while no download runs.
    ctl<QPushButton>(1008)->click();
    EXPECT_EQ(prompts.opened, QStringList{upper});

    prompts.folder.clear(); // cancelled: nothing changes
    ctl<QPushButton>(1007)->click();
    EXPECT_EQ(text(1000), upper);
}

TEST_F(WindowTest, FilterRebuildsOnlyMatchingRows)
{
    Start();
    ShowAlbums({"cats", "dogs", "cats and dogs"});
    CMyGridCtrl *grid = ctl<CMyGridCtrl>(1003);
    ASSERT_EQ(grid->RowCount(), 4);

    // The find box is modeless and kept; filtering hides it.
    window->OnFind();
    ASSERT_NE(window->FindBox(), nullptr);
    EXPECT_TRUE(window->FindBox()->isVisible());
    EXPECT_EQ(window->FindBox()->mode, 1);

    // "筛选": the modal box in filter mode, answered with the keyword.
    QTimer::singleShot(0, window.get(), [&] {
        for (CDlgFind *box : window->findChildren<CDlgFind *>()) {
            if (box->mode != 0)
                continue;
            box->findChild<QLineEdit *>(QStringLiteral("edit1639"))->setText(QStringLiteral("dogs"));
            box->findChild<QPushButton *>(QStringLiteral("button1006"))->click();
        }
    });
    window->OnFilter();
    EXPECT_FALSE(window->FindBox()->isVisible());
    ASSERT_EQ(grid->RowCount(), 3);
    EXPECT_EQ(grid->CellText(1, 0), QStringLiteral("0001"));
    EXPECT_EQ(grid->CellText(2, 1), QStringLiteral("cats and dogs"));
    EXPECT_EQ(grid->ItemData(2, 0), 2);
    EXPECT_TRUE(app->strFilter.isEmpty());
    // Select all chooses every album shown for a run.
    ctl<QCheckBox>(1012)->click();
    EXPECT_EQ(window->ChosenAlbums(), (QList<int>{1, 2}));
    ctl<QCheckBox>(1012)->click();
    EXPECT_TRUE(window->ChosenAlbums().isEmpty());
    // The caption says a filter is on and how many albums it shows.
    EXPECT_EQ(ctl<QGroupBox>(1011)->title(), QStringLiteral("相册列表(筛选“dogs”：显示2个，共3个)"));
    const auto filterBy = [&](const QString &keyword) {
        QTimer::singleShot(0, window.get(), [&] {
            for (CDlgFind *box : window->findChildren<CDlgFind *>()) {
                if (box->mode != 0)
                    continue;
                box->findChild<QLineEdit *>(QStringLiteral("edit1639"))->setText(keyword);
                box->findChild<QPushButton *>(QStringLiteral("button1006"))->click();
            }
        });
        window->OnFilter();
    };
    filterBy(QStringLiteral("xyz"));
    EXPECT_EQ(grid->RowCount(), 1);
    EXPECT_EQ(ctl<QGroupBox>(1011)->title(), QStringLiteral("相册列表(筛选“xyz”：显示0个，共3个)"));
    filterBy(QString()); // no keyword: every album again
    EXPECT_EQ(grid->RowCount(), 4);
    EXPECT_EQ(ctl<QGroupBox>(1011)->title(), QStringLiteral("相册列表(共3个)"));

    // A find that matches nothing says so; one that matches says nothing.
    window->OnFind();
    auto *keyword = window->FindBox()->findChild<QLineEdit *>(QStringLiteral("edit1639"));
    auto *next = window->FindBox()->findChild<QPushButton *>(QStringLiteral("button1006"));
    keyword->setText(QStringLiteral("xyz"));
    next->click();
    EXPECT_EQ(prompts.messages, QStringList{QStringLiteral("找不到“xyz”")});
    keyword->setText(QStringLiteral("dogs"));
    next->click();
    EXPECT_EQ(prompts.messages.size(), 1);
    EXPECT_EQ(grid->FocusRow(), 2);
    window->FindBox()->hide();

}

// ----------------------------------------------------------------------------------------
// Failures

TEST_F(WindowTest, ARunWithFailuresListsThemAndTheButtonFetchesJustThoseAgain)
{
    BoardSite::Board b = BoardSite::makeBoard(QStringLiteral("12"), QStringLiteral("Gaps"), QStringLiteral("carol"), 10, 12, 2048, 4096);
    b.pins[2].fault = BoardSite::Fault::WrongType;
    b.pins[7].fault = BoardSite::Fault::Status404;
    site->addBoard(b);
    Start(site->boardUrl(QStringLiteral("12")));
    button(1004)->click();
    ASSERT_TRUE(waitPhase(QStringLiteral("下载完毕，2张失败")));

    ASSERT_TRUE(waitFor([&] { return window->FailList() && window->FailList()->isVisible(); }, 5s));
    CDlgFailList *list = window->FailList();
    EXPECT_EQ(list->windowTitle(), QStringLiteral("失败列表"));
    QTableWidget *table = list->Table();
    ASSERT_EQ(table->rowCount(), 2);
    QStringList reasons;
    for (int row = 0; row < 2; ++row) {
        EXPECT_TRUE(table->item(row, 2)->text() == site->pictureUrl(b.pins[2].key) ||
                    table->item(row, 2)->text() == site->pictureUrl(b.pins[7].key));
        reasons << table->item(row, 1)->text();
    }
    // In the window's language, where the CLI says "not a picture (text/html)".
    reasons.sort();
    EXPECT_EQ(reasons, (QStringList{QStringLiteral("HTTP 404"), QStringLiteral("不是图片（网站答复了网页）")}));
    EXPECT_FALSE(QFile::exists(save + QStringLiteral("carol/Gaps/pic.kzv"))); // not done yet

    // The site mends them; the button fetches those two and nothing else.
    b.pins[2].fault = BoardSite::Fault::None;
    b.pins[7].fault = BoardSite::Fault::None;
    site->addBoard(b);
    site->clearRequests();
    ASSERT_TRUE(list->RetryButton()->isEnabled());
    list->RetryButton()->click();
    ASSERT_TRUE(waitFor([&] { return text(1009) == QStringLiteral("下载完毕") && app->DownState == 0; }, 15s));
    EXPECT_EQ(site->requestCount(QStringLiteral("/")), 2);
    EXPECT_EQ(site->requestCount(QLatin1Char('/') + b.pins[2].key), 1);
    EXPECT_EQ(site->requestCount(QLatin1Char('/') + b.pins[7].key), 1);
    EXPECT_EQ(table->rowCount(), 0);
    EXPECT_FALSE(list->RetryButton()->isEnabled());
    const QList<QByteArray> files = PictureFiles(save + QStringLiteral("carol"));
    EXPECT_EQ(files.size(), 10);
    const QSet<QByteArray> expected = BoardPictures(QStringLiteral("12"));
    for (const QByteArray &bytes : files)
        EXPECT_TRUE(expected.contains(bytes));
    // Every picture of the album is there now: the mark moves.
    EXPECT_TRUE(QFile::exists(save + QStringLiteral("carol/Gaps/pic.kzv")));
    EXPECT_TRUE(prompts.messages.isEmpty()) << prompts.messages.join(QLatin1Char('\n')).toStdString();
}

} // namespace
