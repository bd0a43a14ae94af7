// What a download run did: one outcome per picture, and the run's totals, for the
// CLI's summary, the window's failure list and the tests. Plain values.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <cstdint>

// Outcome of one picture of a batch, for the run summary.
struct PictureOutcome {
    QString address;
    QString file;    // full path
    bool saved = false;
    QString reason;  // why it failed, in the session's English words (ReasonText); empty when saved
    qint64 bytes = 0;
    QString warning; // saved, but not quite as it should be ("the site keeps it cut short")
    // Set by the run for failed pictures: the album (index into RunSummary::albumList)
    // and the pin's description, so that the picture can be tried again on its own.
    int album = -1;
    QString description{};
};

// One album of a run, as far as it got.
struct AlbumOutcome {
    QString name;
    QString folder;          // the album folder, ending in a separator
    uint32_t declared = 0;   // pins the board says it has
    int listed = 0;          // pins its listing handed over (collected or skipped)
    int skipped = 0;         // of those, left out as downloaded before (the archive)
    bool listingComplete = false; // the listing reached its end or the earlier mark
    bool endedAtMark = false;     // it ended at the earlier run's mark
    int failed = 0;          // pictures of its batch that were not saved
    QString firstAddress;    // its newest pin: the mark to write once every picture is saved
    bool namesWritten = false; // the names file holds the failed pictures' lines too
};

// What a download run did, for the CLI's summary and the tests.
struct RunSummary {
    int albums = 0;        // albums chosen
    int collected = 0;     // pictures collected over the run
    int saved = 0;
    int failed = 0;
    qint64 bytes = 0;
    int skipped = 0;       // pins left out as downloaded before
    QList<PictureOutcome> failures; // every failed picture (a run puts each album's in board order)
    QList<PictureOutcome> warnings; // every saved picture with a warning, in finishing order
    QList<AlbumOutcome> albumList;  // the albums the run went through, in order
    QStringList listFiles;          // download lists written (OPT_LIST_ONLY)
    QStringList writeFailures;      // "PATH: reason" of every list, names file or
                                    // archive that could not be written whole
    bool stopped = false;
    bool basePathFailed = false;    // the save path could not be used

    // Albums whose listing ended early (a pin page failed): not all of it was collected.
    int incompleteAlbums() const
    {
        int n = 0;
        for (const AlbumOutcome &a : albumList)
            n += a.listingComplete ? 0 : 1;
        return n;
    }
    // Something was lost: a picture, part of a listing, a file that could not be written.
    bool hasFailures() const { return failed > 0 || incompleteAlbums() > 0 || !writeFailures.isEmpty(); }
};
