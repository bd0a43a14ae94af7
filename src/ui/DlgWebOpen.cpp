#include "ui/DlgWebOpen.h"

#include "net/CookieStore.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkCookie>
#include <QPushButton>
#include <QShortcut>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QTimer>
#include <QVBoxLayout>
#include <QWebEngineCookieStore>
#include <QWebEnginePage>
#include <QWebEngineProfile>

#include <algorithm>

namespace {

// The template's 470 x 381 dialog units at the main window's scale.
constexpr int kWidth = 846;
constexpr int kHeight = 698;
constexpr int kFieldGap = 5; // the address field ends this far left of "打开"

bool utf8Text(const QByteArray &bytes, QString *text)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    *text = decoder(bytes);
    return !decoder.hasError();
}

} // namespace

// ---------------------------------------------------------------------------------------
// CLoginProfile

CLoginProfile::CLoginProfile(const QString &folder, const QString &cacheFolder, QObject *parent)
    : QObject(parent)
{
    // The browser's cookies and stored logins: the user alone may read them.
    const auto ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
    for (const QString &f : {folder, cacheFolder}) {
        QDir().mkpath(f);
        QFile::setPermissions(f, ownerOnly);
    }

    // A named profile starts in the engine's default place, <application data>/
    // QtWebEngine/<name>, and makes that folder (and later writes its preferences
    // there) before it can be pointed at ours. What it makes there that did not exist
    // before is removed again with the profile.
    QStringList bases;
    for (const auto location : {QStandardPaths::AppDataLocation, QStandardPaths::AppLocalDataLocation}) {
        QString base = QStandardPaths::writableLocation(location);
        if (base.isEmpty())
            base = QDir::homePath() + QStringLiteral("/.") + QCoreApplication::applicationName();
        if (!bases.contains(base))
            bases << base;
    }
    for (const QString &base : std::as_const(bases)) {
        const QString engine = base + QStringLiteral("/QtWebEngine");
        if (!QFileInfo::exists(engine))
            m_strays << engine;
        if (!QFileInfo::exists(base))
            m_strays << base;
    }

    m_profile = new QWebEngineProfile(QStringLiteral("corvadin"), this);
    m_profile->setPersistentStoragePath(folder);
    m_profile->setCachePath(cacheFolder);
    // Only cookies with an expiry go to the folder; a session cookie (a login made
    // without "stay logged in") ends with the process, as in the session's store.
    m_profile->setPersistentCookiesPolicy(QWebEngineProfile::AllowPersistentCookies);

    QWebEngineCookieStore *cookies = m_profile->cookieStore();
    connect(cookies, &QWebEngineCookieStore::cookieAdded, this, &CLoginProfile::OnCookieAdded);
    connect(cookies, &QWebEngineCookieStore::cookieRemoved, this, &CLoginProfile::OnCookieRemoved);
    // The session's cookies go to the browser; they are at least as new as the browser's
    // own copies, which every change since has been mirrored into the session. Then the
    // browser reports all it holds, which fills the session with anything it lacks.
    for (const QString &line : CookieStore::Lines()) {
        QNetworkCookie cookie;
        QUrl origin;
        if (CookieFromLine(line, &cookie, &origin))
            cookies->setCookie(cookie, origin);
    }
    cookies->loadAllCookies();
}

CLoginProfile::~CLoginProfile()
{
    CookieStore::SaveIfChanged();
    delete m_profile; // its last writes go before the strays do
    m_profile = nullptr;
    for (const QString &stray : std::as_const(m_strays)) {
        // Only what the engine made: a folder that held something else stays.
        QDir dir(stray);
        if (stray.endsWith(QStringLiteral("/QtWebEngine")))
            dir.removeRecursively();
        else
            QDir().rmdir(stray);
    }
}

QString CLoginProfile::CookieLine(const QNetworkCookie &cookie)
{
    CookieStore::Entry e;
    if (!utf8Text(cookie.name(), &e.name) || !utf8Text(cookie.value(), &e.value))
        return {};
    e.domain = cookie.domain();
    e.includeSubdomains = e.domain.startsWith(QLatin1Char('.'));
    e.path = cookie.path().isEmpty() ? QStringLiteral("/") : cookie.path();
    e.secure = cookie.isSecure();
    e.httpOnly = cookie.isHttpOnly();
    e.expires = cookie.isSessionCookie() ? 0 : std::max<qint64>(1, cookie.expirationDate().toSecsSinceEpoch());
    const QString line = e.Line();
    // Whatever the store could not read back (no name or domain, control characters) stays out.
    return CookieStore::Entry::FromLine(line) ? line : QString();
}

bool CLoginProfile::CookieFromLine(const QString &line, QNetworkCookie *cookie, QUrl *origin)
{
    const std::optional<CookieStore::Entry> e = CookieStore::Entry::FromLine(line);
    if (!e)
        return false;
    QString host = e->domain;
    if (host.startsWith(QLatin1Char('.')))
        host.remove(0, 1);
    if (host.isEmpty())
        return false;
    QUrl url;
    url.setScheme(e->secure ? QStringLiteral("https") : QStringLiteral("http"));
    url.setHost(host);
    url.setPath(e->path);
    if (!url.isValid())
        return false;
    QNetworkCookie c(e->name.toUtf8(), e->value.toUtf8());
    c.setPath(e->path);
    c.setSecure(e->secure);
    c.setHttpOnly(e->httpOnly);
    if (e->expires > 0)
        c.setExpirationDate(QDateTime::fromSecsSinceEpoch(e->expires, Qt::UTC));
    if (e->includeSubdomains)
        c.setDomain(QLatin1Char('.') + host);
    *cookie = c;
    *origin = url;
    return true;
}

void CLoginProfile::OnCookieAdded(const QNetworkCookie &cookie)
{
    const QString line = CookieLine(cookie);
    if (line.isEmpty())
        return;
    CookieStore::AddLines({line});
    QueueSave();
}

void CLoginProfile::OnCookieRemoved(const QNetworkCookie &cookie)
{
    // The browser reports a replaced cookie as removed before it reports the new one.
    QString name;
    if (!utf8Text(cookie.name(), &name))
        return;
    CookieStore::Remove(cookie.domain(), cookie.path().isEmpty() ? QStringLiteral("/") : cookie.path(), name);
    QueueSave();
}

void CLoginProfile::QueueSave()
{
    // A login sets several cookies at once: write the file once they are in.
    if (m_saveQueued)
        return;
    m_saveQueued = true;
    QTimer::singleShot(0, this, [this] {
        m_saveQueued = false;
        CookieStore::SaveIfChanged();
    });
}

// ---------------------------------------------------------------------------------------
// CExplorer1

CExplorer1::CExplorer1(QWebEngineProfile *profile, QWidget *parent) : QWebEngineView(parent)
{
    setPage(new QWebEnginePage(profile, this));
}

QWebEngineView *CExplorer1::createWindow(QWebEnginePage::WebWindowType type)
{
    if (type != QWebEnginePage::WebBrowserWindow && type != QWebEnginePage::WebDialog)
        return this;
    // Owned by the login window, so its page goes before the profile.
    auto *popup = new CExplorer1(page()->profile(), window());
    popup->setWindowFlag(Qt::Window);
    popup->setAttribute(Qt::WA_DeleteOnClose);
    popup->resize(640, 520);
    connect(popup->page(), &QWebEnginePage::windowCloseRequested, popup, &QWidget::close);
    connect(popup->page(), &QWebEnginePage::titleChanged, popup, &QWidget::setWindowTitle);
    popup->show();
    return popup;
}

// ---------------------------------------------------------------------------------------
// CDlgWebOpen

CDlgWebOpen::CDlgWebOpen(QWebEngineProfile *profile, QWidget *owner)
    : QDialog(owner, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                         Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("dialog%1").arg(int(IDD)));
    setWindowTitle(tr("登录成功后手动关闭对话框"));
    setModal(false);

    m_label = new QLabel(tr("网址："), this);
    m_address = new QLineEdit(this);
    m_address->setObjectName(QStringLiteral("edit%1").arg(int(IDC_ADDRESS)));
    m_open = new QPushButton(tr("打开"), this);
    m_open->setObjectName(QStringLiteral("button%1").arg(int(IDC_OPEN)));
    m_open->setDefault(true);
    m_browser = new CExplorer1(profile, this);
    m_browser->setObjectName(QStringLiteral("browser%1").arg(int(IDC_BROWSER)));

    // The layout gives the resize rules: the browser keeps its left and top edges and
    // fills the rest, "打开" sits on the right edge, the field stretches up to 5 pixels
    // left of it.
    auto *row = new QHBoxLayout;
    row->setContentsMargins(8, 6, 0, 0);
    row->setSpacing(0);
    row->addWidget(m_label);
    row->addSpacing(4);
    row->addWidget(m_address, 1);
    row->addSpacing(kFieldGap);
    row->addWidget(m_open);
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(4);
    outer->addLayout(row);
    outer->addWidget(m_browser, 1);
    resize(kWidth, kHeight);

    connect(m_open, &QPushButton::clicked, this, &CDlgWebOpen::OnOpen);
    // The field shows where the page is, unless the user is typing another address.
    connect(m_browser, &QWebEngineView::urlChanged, this, [this](const QUrl &url) {
        if (url.isEmpty() || (m_address->hasFocus() && m_address->isModified()))
            return;
        m_address->setText(url.toString());
    });
    // Esc closes the window wherever the focus is: the page does not swallow it.
    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    escape->setContext(Qt::WindowShortcut);
    connect(escape, &QShortcut::activated, this, &QDialog::reject);
}

void CDlgWebOpen::Initialise()
{
    if (QWidget *owner = parentWidget()) {
        QRect frame = frameGeometry();
        frame.moveCenter(owner->frameGeometry().center());
        move(frame.topLeft());
    }
    if (!m_startAddress.isEmpty()) {
        m_address->setText(m_startAddress);
        OnOpen();
    } else if (QClipboard *clipboard = QGuiApplication::clipboard()) {
        m_address->setText(clipboard->text().trimmed());
    }
}

void CDlgWebOpen::OnOpen()
{
    const QString text = m_address->text().trimmed();
    if (text.isEmpty())
        return;
    // Like a browser's address bar: "example.com" means http://example.com.
    m_browser->load(QUrl::fromUserInput(text));
}

void CDlgWebOpen::keyPressEvent(QKeyEvent *event)
{
    // Enter that a web page left unhandled must not press "打开" and leave the page.
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    QWidget *focus = focusWidget();
    if (enter && focus && (focus == m_browser || m_browser->isAncestorOf(focus))) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}
