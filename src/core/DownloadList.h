// The pictures of the album being collected: four lists of equal length where entry i
// of each belongs to picture i, and the album folder.
//
// The run thread fills it (naming) and reads it (list and mark files, fix-up passes).
// The worker pool never reads it: the run thread hands each picture it names to the
// album's own batch (DownloadBatch), so workers of a stopped batch cannot see the next
// album's lists. The GUI thread reads the folder ("打开" while downloading) through
// folder().
#pragma once

#include <QString>
#include <QStringList>
#include <mutex>

struct DownloadList {
    QStringList addresses; // picture address, or "first\r\nfallback"
    QStringList fileNames; // file name without folder (or an absolute path)
    QStringList headers;   // extra request header lines per picture; empty for board pins
    QStringList descriptions; // the pin's description as handed over (the names file)
    int skipped = 0;          // pins left out because the download archive holds them
    bool folderDecided = false; // the album folder is set, its mark and archive read
    QString firstPin;         // address of the album's first pin (its newest), collected or not

    // Empties the lists and resets the folder (an album starts).
    void reset(const QString &baseFolder)
    {
        addresses.clear();
        fileNames.clear();
        headers.clear();
        descriptions.clear();
        skipped = 0;
        folderDecided = false;
        firstPin.clear();
        setFolder(baseFolder);
    }
    // Pins handed over for this album so far, collected or skipped.
    int pinsMet() const { return int(addresses.size()) + skipped; }
    QString folder() const
    {
        std::lock_guard lock(m_folderMutex);
        return m_folder;
    }
    void setFolder(const QString &folder)
    {
        std::lock_guard lock(m_folderMutex);
        m_folder = folder;
    }

private:
    mutable std::mutex m_folderMutex;
    QString m_folder; // the album folder, ending in a separator
};
