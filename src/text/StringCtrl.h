// Text helpers: cutting values out of pages between fixed markers, code-page
// conversions, a lenient UTF-8 test, list-driven replacement and file-name
// cleaning. Free functions without state; safe on any thread.
//
// All searches are exact, case-sensitive and find the first occurrence from the
// start of the text. Positions and lengths count UTF-16 units.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Code pages the system converts between.
enum : int {
    CP_GBK = 936,
    CP_UTF8 = 65001,
    CP_EUCKR = 51949,
    CP_BIG5 = 950,
    CP_ANSI = CP_GBK, // there is no system "ANSI" code page here; GBK is what the rest writes
};

// ExtractBetween options.
enum : unsigned {
    EXTRACT_CONSUME = 1,  // the text is cut to what follows the start marker
    EXTRACT_OPEN_END = 2, // a missing end marker gives the whole rest
};

// Whole text to GBK; what GBK cannot hold becomes "?". Ends at the first zero byte.
QByteArray ToGbk(const QString &text);
// Exactly `count` bytes in `codePage` to text; ends at the first zero character.
// Unknown code page or nothing converted: empty text.
QString MultiByteToText(const char *bytes, int codePage, qsizetype count);
// Zero-terminated narrow text in the ANSI code page (GBK) to text.
QString AnsiToText(const char *zeroTerminated);

// Replaces seven entities, one after the other, in a fixed order.
void DecodeHtmlEntities(QString &text);

// The value between the first start marker and the next end marker.
QString ExtractBetween(QString &text, const QString &start, const QString &end, unsigned options);
// Drops the text before the marker (and the marker with throughMarker); answers its
// position, or -1 with the text unchanged.
qsizetype CutThrough(QString &text, const QString &marker, bool throughMarker);
// Keeps only the text before the marker; answers its position or -1.
qsizetype CutBefore(QString &text, const QString &marker);
// Non-overlapping occurrences, left to right. The separator is not empty.
int CountOccurrences(const QString &text, const QString &separator);
// Empties the list and fills it with count + 1 parts.
void SplitParts(const QString &text, const QString &separator, int count, QStringList &list);
// Number of separators; the list holds that many + 1 parts, or nothing when 0.
int SplitText(const QString &text, const QString &separator, QStringList &list);
// Pairwise replacement driven by two "|"-separated lists.
void ReplaceEach(QString &text, const QString &fromList, const QString &toList);

// Lenient UTF-8 shape test that also asks for at least one non-ASCII byte.
bool IsUtf8(const char *bytes, qsizetype length);

// Makes a text usable as a file or folder name; with fallback, an empty or
// over-long result becomes the local date and time "yyyyMMddHHmmss". The result is
// never "." or ".." (dots only become U+3002) and holds no lone surrogate (U+FFFD).
void CleanFileName(QString &text, bool fallback);

// Unicode white space test used by the trims (the platform's wide-character
// classification on the original platform).
bool IsWideSpace(QChar c);
// Trims IsWideSpace characters at both ends.
QString TrimWide(const QString &text);
