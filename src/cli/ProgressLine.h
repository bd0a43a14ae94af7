// The progress line of corvadin-cli on a terminal, fitted to the terminal's width.
//
// Widths are display columns: East Asian wide and fullwidth characters (Chinese among
// them) take two, combining marks and other zero-width characters none, everything else
// one. A line is kept one column short of the terminal's width, so the cursor never
// reaches the last column and the terminal never wraps it; "\r" then rewrites it in place.
//
// Pure functions; safe on any thread.
#pragma once

#include <QString>
#include <QtGlobal>

// Display columns of the text.
int DisplayWidth(const QString &text);

// The longest head of the text at most `columns` wide. Never splits a surrogate pair and
// keeps zero-width marks with the character they follow.
QString CutToWidth(const QString &text, int columns);

// What the line shows while the worker pool downloads an album.
struct ProgressFigures {
    QString phase;           // "正在下载第1/2个图集"
    quint32 done = 0;        // pictures of the batch finished
    quint32 total = 0;       // pictures of the batch
    qint64 bytes = 0;        // bytes saved so far in this run
    double bytesPerSecond = 0;
    qint64 secondsLeft = -1; // -1: not known yet
};

// "正在下载第1/2个图集 [#####-----] 12/45  1.2 MB  512.0 KB/s  剩余 0:03", fitted to a
// terminal of `columns` columns (0: not known, 80 is assumed). Where the line does not
// fit, the bytes, then the rate, then the time left, then the phase are left out and the
// bar gets narrower; the count stays.
QString DownloadProgressLine(const ProgressFigures &figures, int columns);

// Any other line (phase and progress text), cut to a terminal of `columns` columns.
QString FittedLine(const QString &text, int columns);

// "512 B", "1.2 KB", "3.4 MB", "1.0 GB".
QString HumanBytes(double bytes);
