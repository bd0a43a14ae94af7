// Where every file of the program goes. Nothing else builds these paths.
//
// Standard(): the desktop's own locations through QStandardPaths (on Linux the XDG
// folders): config for soft.dat, corvadin.ini and site.ini, data for cookies.txt and the login
// browser's profile, cache for thumbnails and the browser's cache, and the pictures
// folder for the first save folder. The window and the CLI share them.
// Portable(folder): everything in one folder, as the classic program keeps its working
// folder (--work-folder; the tests use it).
//
// A value type, fixed for the life of the program; safe to read from any thread.
#pragma once

#include <QString>
#include <QStringList>

class Profile {
public:
    static Profile Portable(const QString &folder);
    static Profile Standard();

    bool isPortable() const { return m_portable; }

    // Folders end in the native separator.
    QString configFolder() const { return m_config; }
    QString dataFolder() const { return m_data; }
    QString cacheFolder() const { return m_cache; }

    QString settingsFile() const;       // soft.dat
    QString siteFile() const;           // site.ini
    QString optionsFile() const;        // corvadin.ini: what soft.dat has no room for
    QString cookieFile() const;         // cookies.txt
    QString browserFolder() const;      // the login browser's storage
    QString browserCacheFolder() const; // the login browser's cache
    QString thumbnailFolder() const;    // album covers, "N.jpg"
    // Held by the one window of this profile for as long as it runs.
    QString instanceLockFile() const;   // corvadin.lock
    // The save folder offered before the user has chosen one.
    QString defaultSaveFolder() const { return m_save; }

    // Creates the config, data and cache folders that do not exist yet, readable by the
    // user alone (they hold the cookies). Answers whether all of them exist now.
    bool MakeFolders() const;

    // Every file and folder the profile keeps, as absolute paths without a trailing
    // separator (lock files included).
    QStringList OwnEntries() const;
    // `name` as an entry of `folder` that leaves the profile's own entries alone: a "_"
    // goes in front when folder/name (letter case aside) is one of them, so a board
    // owner or an album named "tmp", "browser" or "cookies" cannot land among them when
    // the save folder is the working folder.
    QString Unclaimed(const QString &folder, const QString &name) const;

private:
    bool m_portable = true;
    QString m_config, m_data, m_cache, m_save;
};
