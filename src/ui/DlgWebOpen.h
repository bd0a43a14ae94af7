// The login browser: CDlgWebOpen, a small browser window in which the user logs in to a
// web service by hand and then closes it, and CLoginProfile, the one browser profile
// that every login window uses.
//
// CLoginProfile keeps the browser's cookies and storage in the profile's browser folder
// and its cache in the browser cache folder, and nothing anywhere else, and mirrors every cookie the browser holds, receives or drops into the
// session's cookie store (net/CookieStore), so the next request of any thread carries
// the login. When it is created it hands the session's cookies to the browser first.
// Each cookie stays with the hosts it belongs to: it is copied with its own domain,
// host-only flag, path, secure and HttpOnly flags and expiry, never to another domain.
// A cookie without an expiry lives as long as the process, in the browser as in the
// session's store: neither the browser's folder nor cookies.txt keeps it.
//
// GUI thread only. The main window owns its CLoginProfile and its login windows (as
// children) and destroys the windows before the profile, whose pages must go first.
// A CDlgWebOpen never destroys itself: closing it only hides it.
#pragma once

#include <QDialog>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <QWebEngineView>

class QLabel;
class QLineEdit;
class QNetworkCookie;
class QPushButton;
class QWebEngineProfile;

class CLoginProfile : public QObject {
    Q_OBJECT
public:
    // folder: where the browser keeps its data, cacheFolder its cache (both created,
    // readable by the user alone).
    CLoginProfile(const QString &folder, const QString &cacheFolder, QObject *parent = nullptr);
    ~CLoginProfile() override;

    QWebEngineProfile *Profile() const { return m_profile; }

    // A browser cookie as a cookie-store line; empty when the store cannot hold it (no
    // name, no domain, tabs or line breaks, bytes that are not UTF-8).
    static QString CookieLine(const QNetworkCookie &cookie);
    // A cookie-store line as a browser cookie and the address it is set for. A host-only
    // cookie gets no domain attribute, so the browser keeps it to that host alone.
    static bool CookieFromLine(const QString &line, QNetworkCookie *cookie, QUrl *origin);

private:
    void OnCookieAdded(const QNetworkCookie &cookie);
    void OnCookieRemoved(const QNetworkCookie &cookie);
    void QueueSave();

    QWebEngineProfile *m_profile = nullptr;
    // Folders the engine made in its default place before it was pointed at ours; they
    // go with the profile.
    QStringList m_strays;
    bool m_saveQueued = false;
};

// The browser control of the login window. Links that ask for a new tab open in the
// same view; pop-up windows (some logins use one) get a plain browser window of their
// own on the same profile, which closes when its page asks.
class CExplorer1 : public QWebEngineView {
    Q_OBJECT
public:
    CExplorer1(QWebEngineProfile *profile, QWidget *parent);

protected:
    QWebEngineView *createWindow(QWebEnginePage::WebWindowType type) override;
};

class CDlgWebOpen : public QDialog {
    Q_OBJECT
public:
    // Control ids; objectNames are "edit1001", "browser1025", "button1026".
    enum { IDD = 133, IDC_ADDRESS = 1001, IDC_BROWSER = 1025, IDC_OPEN = 1026 };

    // owner: the main window, which owns the login window. profile: the login profile;
    // it must outlive the window.
    CDlgWebOpen(QWebEngineProfile *profile, QWidget *owner);

    // The page to open when the window is initialised; may be empty.
    void SetStartAddress(const QString &address) { m_startAddress = address; }
    QString StartAddress() const { return m_startAddress; }

    // Centres the window on its owner; with a start address puts it into the address
    // field and opens it, else puts the clipboard's text into the field and opens nothing.
    // From then on the field follows the page (links, redirects, forms), except while
    // the user is editing it. Esc closes the window wherever the focus is, the page
    // included.
    void Initialise();
    // "打开" (also Enter in the address field): opens the field's address.
    void OnOpen();

    QLineEdit *AddressField() const { return m_address; }
    QPushButton *OpenButton() const { return m_open; }
    CExplorer1 *Browser() const { return m_browser; }

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    QString m_startAddress;
    QLabel *m_label = nullptr;
    QLineEdit *m_address = nullptr;
    QPushButton *m_open = nullptr;
    CExplorer1 *m_browser = nullptr;
};
