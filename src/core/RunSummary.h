// What a download run did: one outcome per picture, and the run's totals, for the
// CLI's summary, the window's failure list and the tests. Plain values.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// Outcome of one picture of a batch, for the run summary.
struct PictureOutcome {
    QString address;
    QString file;    // full path
    bool saved = false;
    QString reason;  // why it failed; empty when saved
    qint64 bytes = 0;
    QString warning; // saved, but not quite as it should be ("the site keeps it cut short")
};

// What a download run did, for the CLI's summary and the tests.
struct RunSummary {
    int albums = 0;        // albums chosen
    int collected = 0;     // pictures collected over the run
    int saved = 0;
    int failed = 0;
    qint64 bytes = 0;
    QList<PictureOutcome> failures; // every failed picture, in batch order
    QList<PictureOutcome> warnings; // every saved picture with a warning, in finishing order
    QStringList listFiles;          // download lists written (OPT_LIST_ONLY)
    bool stopped = false;
    bool basePathFailed = false;    // the save path could not be used
};
