// The login browser end to end, offscreen: logging in on the local board site's login
// page in a login window, the cookie reaching the session's cookie store, a protected
// board that then downloads, logging out, the session's cookies reaching the browser
// for their own host only, the login menu's start pages and the window itself. Every
// page outside loopback is blocked, so nothing leaves the machine.
#include "app/AmbrelDlg.h"
#include "core/AppState.h"
#include "net/CookieStore.h"
#include "net/URLSource2.h"
#include "settings/SoftData.h"
#include "core/SiteConfig.h"
#include "ui/DlgWebOpen.h"
#include "ui/MyGridCtrl.h"
#include "ui/SiteModes.h"
#include "ui/UserPrompts.h"

#include "BoardSite.h"
#include "TestSupport.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDateTime>
#include <QDirIterator>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QNetworkCookie>
#include <QPushButton>
#include <QSet>
#include <QStandardPaths>
#include <QTest>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineUrlRequestInterceptor>

#include <gtest/gtest.h>
#include <memory>
#include <mutex>

using namespace std::chrono_literals;

namespace {

class QuietPrompts : public UserPrompts {
public:
    QStringList messages;
    void Message(QWidget *, const QString &text, const QString &) override { messages << text; }
    bool AskYesNo(QWidget *, const QString &, const QString &) override { return false; }
    QString ChooseFolder(QWidget *, const QString &, const QString &) override { return {}; }
    QString SaveFileName(QWidget *, const QString &, const QString &, const QString &) override { return {}; }
    void OpenUrl(const QString &) override {}
};

// Lets the browser reach loopback only; remembers what it blocked.
class LoopbackOnly : public QWebEngineUrlRequestInterceptor {
public:
    void interceptRequest(QWebEngineUrlRequestInfo &info) override
    {
        const QUrl url = info.requestUrl();
        if ((url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https")) &&
            url.host() != QLatin1String("127.0.0.1")) {
            info.block(true);
            std::lock_guard lock(m_mutex);
            m_blocked << url.toString();
        }
    }
    QStringList Blocked() const
    {
        std::lock_guard lock(m_mutex);
        return m_blocked;
    }

private:
    mutable std::mutex m_mutex;
    QStringList m_blocked;
};

const char kSession[] = "corvadin_session";

// The cookie store's entry named `name`, if any.
std::optional<CookieStore::Entry> StoredCookie(const QString &name)
{
    for (const QString &line : CookieStore::Lines()) {
        const std::optional<CookieStore::Entry> e = CookieStore::Entry::FromLine(line);
        if (e && e->name == name)
            return e;
    }
    return std::nullopt;
}

class LoginTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetPrompts(&prompts);
        QGuiApplication::clipboard()->clear();
        BoardSite::Options options;
        options.demoBoard = false;
        site = std::make_unique<BoardSite>(options);
        ASSERT_TRUE(site->start(0));
        BoardSite::Board board = BoardSite::makeBoard(QStringLiteral("21"), QStringLiteral("Hidden"), QStringLiteral("carol"), 12, 5, 2048, 4096);
        board.loginRequired = true;
        site->addBoard(board);

        work = sandbox.path() + QStringLiteral("work") + QDir::separator();
        save = sandbox.path() + QStringLiteral("save") + QDir::separator();
        QDir().mkpath(work);
        ST_SOFTDATA data{};
        LoadSettings(data, work);
        SetFieldText(data.SavePathHistory[0], save);
        SaveSettings(data, work);
        MakeCore();
    }

    void TearDown() override
    {
        window.reset();
        app.reset();
        site->stop();
        SetPrompts(nullptr);
    }

    void MakeCore()
    {
        app = std::make_unique<AppState>(work);
        app->site.siteHost = site->hostPort();
        app->site.defaultImageHost = site->hostPort();
        app->timings.pageTimeoutMs = 3000;
        app->timings.boardAttempts = 1;
        app->timings.boardRetryDelaySeconds = 0;
        window = std::make_unique<CAmbrelDlg>(*app);
        CAmbrelDlg::Startup startup;
        startup.splash = false;
        window->Initialise(startup); // opens the working folder's cookies.txt
        ASSERT_TRUE(waitFor([&] { return window->StartupFinished() && window->isVisible(); }, 5s));
    }

    // The login profile, guarded against leaving loopback before it loads anything.
    CLoginProfile *Profile()
    {
        CLoginProfile *profile = window->LoginProfile();
        profile->Profile()->setUrlRequestInterceptor(&loopbackOnly);
        return profile;
    }

    CDlgWebOpen *OpenLogin(const QString &start)
    {
        Profile();
        return window->OpenLoginWindow(start);
    }

    QAction *menuEntry(int id) const { return window->findChild<QAction *>(QStringLiteral("menu%1").arg(id)); }
    template <typename T = QWidget> T *ctl(int id) const
    {
        return window->findChild<T *>(QStringLiteral("ctl%1").arg(id));
    }

    // "获取相册" on the protected board; waits for the phase line to show how it ended.
    void ListProtectedBoard(const QString &endPhase)
    {
        ctl<QLabel>(1009)->clear();
        ctl<QComboBox>(1001)->setEditText(site->boardUrl(QStringLiteral("21")));
        QCoreApplication::processEvents();
        window->OnListCommand();
        ASSERT_TRUE(waitFor([&] { return ctl<QLabel>(1009)->text() == endPhase; }, 20s))
            << "phase: " << ctl<QLabel>(1009)->text().toStdString();
        ASSERT_TRUE(waitFor([&] { return app->ListState == 0 && app->DownState == 0; }, 5s));
    }

    int PictureCount() const
    {
        int n = 0;
        QDirIterator it(save, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString name = QFileInfo(it.next()).fileName();
            n += name != QLatin1String("pic.kzv") && !name.endsWith(QLatin1String(".txt"));
        }
        return n;
    }

    // The Cookie header of the last request for `path` the site saw.
    QByteArray CookieHeaderOf(const QString &path) const
    {
        QByteArray header;
        for (const BoardSite::RequestRecord &r : site->requests()) {
            if (r.path == path)
                header = r.header("Cookie");
        }
        return header;
    }

    Sandbox sandbox;
    QString work;
    QString save;
    QuietPrompts prompts;
    LoopbackOnly loopbackOnly;
    std::unique_ptr<BoardSite> site;
    std::unique_ptr<AppState> app;
    std::unique_ptr<CAmbrelDlg> window;
};

} // namespace

TEST_F(LoginTest, LoggingInToStayUnlocksAProtectedBoardAlsoAfterARestart)
{
    // Without a login the site refuses the board, and the window says so.
    ListProtectedBoard(QStringLiteral("获取相册失败：网站答复 HTTP 403"));
    EXPECT_EQ(window->Grid()->RowCount(), 1) << "the board was read without a login";
    EXPECT_EQ(PictureCount(), 0);
    ASSERT_TRUE(waitFor([&] { return prompts.messages.size() == 1; }, 5s));
    EXPECT_TRUE(prompts.messages[0].contains(QStringLiteral("<登录>"))) << prompts.messages[0].toStdString();

    // "自定义登录" opens the board site's home page; its "stay logged in" link leads on (the
    // login cookie gets an expiry), and the address field follows the page.
    menuEntry(SiteModes::LOGIN_CUSTOM_ID)->trigger();
    CDlgWebOpen *login = window->LoginWindow();
    ASSERT_NE(login, nullptr);
    EXPECT_EQ(login->AddressField()->text(), site->baseUrl() + QStringLiteral("/"));
    QWebEnginePage *page = login->Browser()->page();
    ASSERT_TRUE(waitFor([&] { return page->title() == QStringLiteral("corvadin boardsite"); }, 20s)) << "no home page";
    page->runJavaScript(QStringLiteral("document.querySelector('a[href=\"/login?remember=1\"]').click();"));
    ASSERT_TRUE(waitFor([&] { return login->AddressField()->text() == site->baseUrl() + QStringLiteral("/login?remember=1"); }, 20s))
        << "the address field stayed at " << login->AddressField()->text().toStdString();
    ASSERT_TRUE(waitFor([&] { return StoredCookie(QLatin1String(kSession)).has_value(); }, 20s))
        << "the browser's login cookie never reached the session";
    const CookieStore::Entry cookie = *StoredCookie(QLatin1String(kSession));
    EXPECT_EQ(cookie.value, site->sessionToken());
    EXPECT_EQ(cookie.domain, QStringLiteral("127.0.0.1"));
    EXPECT_FALSE(cookie.includeSubdomains); // a host cookie stays with its host
    EXPECT_EQ(cookie.path, QStringLiteral("/"));

    login->close(); // the user is done: the window only hides
    EXPECT_FALSE(login->isVisible());
    ASSERT_EQ(window->LoginWindow(), login);

    ListProtectedBoard(QStringLiteral("下载完毕"));
    EXPECT_EQ(PictureCount(), 12);
    EXPECT_TRUE(CookieHeaderOf(QStringLiteral("/boards/21/")).contains(kSession));

    // The files hold secrets: the user's alone.
    ASSERT_TRUE(waitFor([&] { return sandbox.read(QStringLiteral("work/cookies.txt")).contains(kSession); }, 5s));
    EXPECT_EQ(QFile::permissions(work + QStringLiteral("cookies.txt")) & 0x0077, 0) << "cookies.txt readable by others";
    EXPECT_EQ(QFile::permissions(work + QStringLiteral("browser")) & 0x0077, 0) << "browser profile readable by others";

    // A restart of the core: a new AppState reads cookies.txt, and its requests carry the login.
    window.reset();
    app.reset();
    CookieStore::Clear();
    AppState restarted(work);
    restarted.Initialise();
    CUrlSession session;
    ASSERT_TRUE(session.Request(ST_URLREQUEST(site->baseUrl() + QStringLiteral("/t/echo"), QString(), 3000)));
    EXPECT_TRUE(CookieHeaderOf(QStringLiteral("/t/echo")).contains(QByteArray(kSession) + '=' + site->sessionToken().toUtf8()));
}

TEST_F(LoginTest, ALoginWithoutStayLoggedInEndsWithTheProcess)
{
    CDlgWebOpen *login = OpenLogin(site->baseUrl() + QStringLiteral("/login"));
    ASSERT_TRUE(waitFor([&] { return StoredCookie(QLatin1String(kSession)).has_value(); }, 20s));
    EXPECT_EQ(StoredCookie(QLatin1String(kSession))->expires, 0);
    CUrlSession session;
    ASSERT_TRUE(session.Request(ST_URLREQUEST(site->baseUrl() + QStringLiteral("/t/echo"), QString(), 3000)));
    EXPECT_TRUE(CookieHeaderOf(QStringLiteral("/t/echo")).contains(kSession)) << "the session lacks the login";
    login->close();
    QCoreApplication::processEvents(); // the queued save
    EXPECT_FALSE(sandbox.read(QStringLiteral("work/cookies.txt")).contains(kSession)) << "a session login on disk";

    // A restart: neither the session's store nor the browser has it.
    window.reset();
    app.reset();
    MakeCore();
    EXPECT_FALSE(StoredCookie(QLatin1String(kSession)).has_value());
    site->clearRequests();
    OpenLogin(site->baseUrl() + QStringLiteral("/t/echo"));
    ASSERT_TRUE(waitFor([&] { return site->requestCount(QStringLiteral("/t/echo")) > 0; }, 20s));
    EXPECT_FALSE(CookieHeaderOf(QStringLiteral("/t/echo")).contains(kSession)) << "the browser kept the session login";
    QTest::qWait(200); // whatever the browser reports of its store
    EXPECT_FALSE(StoredCookie(QLatin1String(kSession)).has_value());
}

TEST_F(LoginTest, LoggingOutInTheBrowserDropsTheCookieFromTheSession)
{
    CDlgWebOpen *login = OpenLogin(site->baseUrl() + QStringLiteral("/login"));
    ASSERT_TRUE(waitFor([&] { return StoredCookie(QLatin1String(kSession)).has_value(); }, 20s));

    login->AddressField()->setText(site->baseUrl() + QStringLiteral("/logout"));
    login->OpenButton()->click();
    ASSERT_TRUE(waitFor([&] { return !StoredCookie(QLatin1String(kSession)).has_value(); }, 20s))
        << "the browser dropped the cookie but the session kept it";
    ASSERT_TRUE(waitFor([&] { return !sandbox.read(QStringLiteral("work/cookies.txt")).contains(kSession); }, 5s));

    CUrlSession session;
    ASSERT_TRUE(session.Request(ST_URLREQUEST(site->baseUrl() + QStringLiteral("/t/echo"), QString(), 3000)));
    EXPECT_FALSE(CookieHeaderOf(QStringLiteral("/t/echo")).contains(kSession));
}

TEST_F(LoginTest, SessionCookiesReachTheBrowserForTheirOwnHostOnly)
{
    const QString later = QString::number(QDateTime::currentSecsSinceEpoch() + 86400);
    CookieStore::AddLines({
        QStringLiteral("127.0.0.1\tFALSE\t/\tFALSE\t0\tplain\tone"),
        QStringLiteral("#HttpOnly_127.0.0.1\tFALSE\t/t/\tFALSE\t%1\thidden\ttwo").arg(later),
        QStringLiteral("127.0.0.1\tFALSE\t/boards/\tFALSE\t0\tnarrow\tfour"), // another path
        QStringLiteral(".example.invalid\tTRUE\t/\tFALSE\t0\tfar\tfive"), // another domain
    });
    OpenLogin(site->baseUrl() + QStringLiteral("/t/echo"));
    ASSERT_TRUE(waitFor([&] { return site->requestCount(QStringLiteral("/t/echo")) > 0; }, 20s));
    const QByteArray sent = CookieHeaderOf(QStringLiteral("/t/echo"));
    EXPECT_TRUE(sent.contains("plain=one")) << sent.constData();
    EXPECT_TRUE(sent.contains("hidden=two")) << sent.constData();
    EXPECT_FALSE(sent.contains("narrow=")) << sent.constData();
    EXPECT_FALSE(sent.contains("far=")) << sent.constData();
    // The browser's copies come back unchanged: still one cookie of each, same scope.
    const std::optional<CookieStore::Entry> far = StoredCookie(QStringLiteral("far"));
    ASSERT_TRUE(far.has_value());
    EXPECT_EQ(far->domain, QStringLiteral(".example.invalid"));
    EXPECT_EQ(CookieStore::Lines().size(), 4);
}

TEST_F(LoginTest, APopUpOfALoginPageSharesTheProfile)
{
    // A login page that opens its form in a pop-up window, as some services do.
    const QByteArray script = "<script>window.open('/login', 'login', 'width=400,height=300');</script>";
    CDlgWebOpen *login = OpenLogin(site->baseUrl() + QStringLiteral("/t/bytes?ctype=text/html&body=") +
                                   QString::fromLatin1(QUrl::toPercentEncoding(QString::fromLatin1(script))));
    ASSERT_TRUE(waitFor([&] { return StoredCookie(QLatin1String(kSession)).has_value(); }, 20s))
        << "the pop-up's cookie never reached the session";
    QList<CExplorer1 *> popups;
    for (CExplorer1 *view : login->findChildren<CExplorer1 *>()) {
        if (view->isWindow())
            popups << view;
    }
    ASSERT_EQ(popups.size(), 1);
    EXPECT_EQ(popups[0]->page()->profile(), window->LoginProfile()->Profile());
}

TEST_F(LoginTest, CookiesConvertBetweenBrowserAndStoreKeepingTheirScope)
{
    const QString later = QString::number(QDateTime::currentSecsSinceEpoch() + 3600);
    const struct {
        QString line;
        QString origin;   // the address the browser is given the cookie for
        QString domain;   // its domain attribute: none for a host cookie, or the browser
                          // would widen it to subdomains
        QString reported; // the domain the browser reports it with
    } cases[] = {
        {QStringLiteral("127.0.0.1\tFALSE\t/\tFALSE\t0\ta\t1"), QStringLiteral("http://127.0.0.1/"), QString(),
         QStringLiteral("127.0.0.1")},
        {QStringLiteral("#HttpOnly_.example.org\tTRUE\t/x/\tTRUE\t%1\tb\t2 3").arg(later),
         QStringLiteral("https://example.org/x/"), QStringLiteral(".example.org"), QStringLiteral(".example.org")},
        {QStringLiteral("host.example.org\tFALSE\t/\tFALSE\t0\tc\t"), QStringLiteral("http://host.example.org/"),
         QString(), QStringLiteral("host.example.org")},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.line.toStdString());
        QNetworkCookie cookie;
        QUrl origin;
        ASSERT_TRUE(CLoginProfile::CookieFromLine(c.line, &cookie, &origin));
        EXPECT_EQ(origin.toString(), c.origin);
        EXPECT_EQ(cookie.domain(), c.domain);
        // The way back, as the browser reports it.
        cookie.setDomain(c.reported);
        EXPECT_EQ(CLoginProfile::CookieLine(cookie), c.line);
    }
    QNetworkCookie bad("na\tme", "v");
    bad.setDomain(QStringLiteral("h"));
    EXPECT_TRUE(CLoginProfile::CookieLine(bad).isEmpty());
    QNetworkCookie noName(QByteArray(), "v");
    noName.setDomain(QStringLiteral("h"));
    EXPECT_TRUE(CLoginProfile::CookieLine(noName).isEmpty());
}

TEST_F(LoginTest, QqEntryOpensTheNumbersOwnSpaceOnlyForAlbumKindZero)
{
    const QString page = SiteModes::LoginPage(CAmbrelDlg::ID_LOGIN_QQ, app->site.HomePage());
    Profile();
    // Site mode 0 shows the album-kind list.
    ctl<QComboBox>(1002)->setCurrentIndex(0);
    window->ApplySiteMode();
    ASSERT_EQ(ctl<QComboBox>(1035)->count(), 3);
    const struct {
        int kind;
        QString address;
        QString start;
    } cases[] = {
        {0, QStringLiteral("123456789"), page + QStringLiteral("123456789")},
        {1, QStringLiteral("123456789"), page},
        {2, QStringLiteral("123456789"), page},
        {0, QString(), page},
        {0, QStringLiteral("12345 6"), page},
        {0, QStringLiteral("１２３"), page}, // full-width digits are not 0-9
        {0, QStringLiteral("http://user.qzone.qq.com/1/"), page},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.address.toStdString() + " kind " + std::to_string(c.kind));
        ctl<QComboBox>(1035)->setCurrentIndex(c.kind);
        ctl<QComboBox>(1001)->setEditText(c.address);
        menuEntry(CAmbrelDlg::ID_LOGIN_QQ)->trigger();
        CDlgWebOpen *login = window->LoginWindow();
        ASSERT_NE(login, nullptr);
        EXPECT_EQ(login->StartAddress(), c.start);
        EXPECT_EQ(login->AddressField()->text(), c.start);
        // Opened at once (and stopped at the loopback guard).
        EXPECT_TRUE(waitFor([&] { return loopbackOnly.Blocked().contains(c.start); }, 10s));
        login->close();
    }
}

TEST_F(LoginTest, TwoLoginEntriesLeaveTwoWindows)
{
    Profile();
    for (int id : {32781, 32782, 32789, 32790, 32791, 32792, 32793, 32794, 32803, 32813, 32815, 32795})
        EXPECT_TRUE(menuEntry(id)->isEnabled()) << id;

    menuEntry(32789)->trigger(); // 百度
    CDlgWebOpen *first = window->LoginWindow();
    menuEntry(32795)->trigger(); // 自定义登录
    CDlgWebOpen *second = window->LoginWindow();
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first, second);
    EXPECT_EQ(first->StartAddress(), SiteModes::LoginPage(32789, app->site.HomePage()));
    EXPECT_EQ(second->StartAddress(), site->baseUrl() + QStringLiteral("/"));
    EXPECT_EQ(window->findChildren<CDlgWebOpen *>().size(), 2);
    EXPECT_TRUE(first->isVisible());
    EXPECT_TRUE(second->isVisible());

    // Closing one hides it; the next entry opens a third window rather than reusing it.
    first->close();
    QCoreApplication::processEvents();
    EXPECT_FALSE(first->isVisible());
    EXPECT_TRUE(second->isVisible());
    menuEntry(32815)->trigger();
    EXPECT_EQ(window->findChildren<CDlgWebOpen *>().size(), 3);
}

TEST_F(LoginTest, WindowLooksAndResizesAsTheTemplateSays)
{
    // Without a start address the clipboard's text goes into the field and nothing opens.
    QGuiApplication::clipboard()->setText(QStringLiteral("http://127.0.0.1:1/from-clipboard"));
    CDlgWebOpen *login = OpenLogin(QString());
    EXPECT_EQ(login->windowTitle(), QStringLiteral("登录成功后手动关闭对话框"));
    EXPECT_EQ(login->AddressField()->objectName(), QStringLiteral("edit1001"));
    EXPECT_EQ(login->AddressField()->text(), QStringLiteral("http://127.0.0.1:1/from-clipboard"));
    EXPECT_TRUE(login->Browser()->url().isEmpty());
    EXPECT_EQ(login->OpenButton()->objectName(), QStringLiteral("button1026"));
    EXPECT_EQ(login->OpenButton()->text(), QStringLiteral("打开"));
    EXPECT_TRUE(login->OpenButton()->isDefault());
    EXPECT_NE(login->findChild<QLabel *>(), nullptr);
    EXPECT_EQ(login->findChild<QLabel *>()->text(), QStringLiteral("网址："));
    EXPECT_TRUE(login->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_TRUE(login->windowFlags() & Qt::WindowMaximizeButtonHint);

    for (const QSize size : {QSize(700, 500), QSize(1200, 900), QSize(846, 698)}) {
        login->resize(size);
        QCoreApplication::processEvents();
        const QRect button = login->OpenButton()->geometry();
        const QRect field = login->AddressField()->geometry();
        const QRect browser = login->Browser()->geometry();
        EXPECT_EQ(button.right(), login->width() - 1) << size.width();
        EXPECT_EQ(field.right() + 1 + 5, button.left()) << size.width();
        EXPECT_EQ(browser.right(), login->width() - 1);
        EXPECT_EQ(browser.bottom(), login->height() - 1);
        EXPECT_GT(browser.top(), field.bottom() - 2);
    }

    // Esc hides the window; it is not destroyed and stays the newest one.
    QTest::keyClick(login->AddressField(), Qt::Key_Escape);
    EXPECT_FALSE(login->isVisible());
    EXPECT_EQ(window->LoginWindow(), login);
}

TEST_F(LoginTest, EscClosesTheWindowWhereverTheFocusIs)
{
    // A login form whose page keeps every key to itself, as pages with their own pop-ups do.
    const QByteArray form = "<title>form</title><input id=name autofocus>"
                            "<script>document.addEventListener('keydown', e => e.preventDefault(), true);</script>";
    CDlgWebOpen *login = OpenLogin(site->baseUrl() + QStringLiteral("/t/bytes?ctype=text/html&body=") +
                                   QString::fromLatin1(QUrl::toPercentEncoding(QString::fromLatin1(form))));
    QWebEnginePage *page = login->Browser()->page();
    ASSERT_TRUE(waitFor([&] { return page->title() == QStringLiteral("form"); }, 20s));
    for (QWidget *target : {static_cast<QWidget *>(login->OpenButton()), login->Browser()->focusProxy()}) {
        ASSERT_NE(target, nullptr);
        // As the user has it: the window shown and active, the focus on the target.
        login->show();
        login->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(login));
        target->setFocus();
        QTest::keyClick(target, Qt::Key_Escape);
        EXPECT_TRUE(waitFor([&] { return !login->isVisible(); }, 2s)) << target->metaObject()->className();
    }
}

TEST_F(LoginTest, TheBrowsersStorageStaysInTheProfile)
{
    // Everything the engine would make in its default place, below the user's data folder.
    QStringList defaults;
    for (const auto location : {QStandardPaths::AppDataLocation, QStandardPaths::AppLocalDataLocation,
                                QStandardPaths::CacheLocation})
        defaults << QStandardPaths::writableLocation(location) + QStringLiteral("/QtWebEngine");
    OpenLogin(site->baseUrl() + QStringLiteral("/login"));
    ASSERT_TRUE(waitFor([&] { return StoredCookie(QLatin1String(kSession)).has_value(); }, 20s));
    EXPECT_FALSE(entriesIn(work + QStringLiteral("browser")).isEmpty());
    EXPECT_TRUE(QFileInfo(app->profile.browserCacheFolder()).isDir());
    window.reset(); // the profile goes with the window
    for (const QString &folder : defaults)
        EXPECT_FALSE(QFileInfo::exists(folder)) << folder.toStdString() << ": " << filesBelow(folder).join(u' ').toStdString();
}
