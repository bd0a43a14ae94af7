// The configuration values of the board site and the texts the original kept enciphered.
//
// SITE_HOST and DEFAULT_IMAGE_HOST are read, in this order, from the environment
// (CORVADIN_SITE_HOST, CORVADIN_IMAGE_HOST), from "site.ini" in the config folder
// (keys SiteHost and ImageHost in the [Site] group), else the built-in defaults,
// which point at the bundled board site. A host may carry a port ("127.0.0.1:8090").
// Without an image host of its own, the site host serves the pictures too.
//
// A plain value: AppState loads it when it is made and holds it; the run threads only
// read it, so it is set (tests do) only while no run is going.
#pragma once

#include <QString>
#include <QStringList>

struct SiteConfig {
    QString siteHost;         // SITE_HOST
    QString defaultImageHost; // DEFAULT_IMAGE_HOST

    // "http://" + siteHost + "/boards/"
    QString BoardPrefix() const;
    // "http://" + siteHost + "/": where "自定义登录" opens, to log in to the board site.
    QString HomePage() const;

    static SiteConfig Load(const QString &iniFile); // the path of site.ini
};

inline constexpr const char *BUILTIN_SITE_HOST = "127.0.0.1:8090";

// Texts shown to the user.
namespace SiteTexts {
QString AddressMissing();   // address empty or not an http address
QString BoardAddressHint(const QString &siteHost); // every "^" becomes a line break before it is shown
QString NoAlbumChosen();
QString NoticeLine();
QString SplashText();
QString ProductPage();
QString AboutSecondLine();
} // namespace SiteTexts
