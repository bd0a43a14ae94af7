// Where every file of the program goes. Nothing else builds these paths.
//
// Standard(): the desktop's own locations through QStandardPaths (on Linux the XDG
// folders): config for soft.dat, corvadin.ini and site.ini, data for cookies.txt and the login
// browser's profile, cache for thumbnails and the browser's cache, and the pictures
// folder for the first save folder.
// Portable(folder): everything in one folder, as the classic program keeps its working
// folder (--work-folder; the tests use it).
//
// A value type, fixed for the life of the program; safe to read from any thread.
#pragma once

#include <QString>

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
    // The save folder offered before the user has chosen one.
    QString defaultSaveFolder() const { return m_save; }

private:
    bool m_portable = true;
    QString m_config, m_data, m_cache, m_save;
};
