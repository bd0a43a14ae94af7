// The board site's page readers as pure functions: page text in, records out. No
// network, no files, no state; safe on any thread. ReadBoardPage and EnumeratePins
// fetch the pages and act on these records; the fuzz targets feed them arbitrary text.
//
// Every value is cut out of the text between fixed markers (StringCtrl's helpers), so
// the work and the size of the records grow linearly with the text. The texts people
// write (board title, user name, pin description) are JSON string values: they are read
// whole, up to the first quote no backslash escapes, and decoded (ReadJsonString).
#pragma once

#include <QList>
#include <QString>
#include <cstdint>

// What a board page says about its board; not cleaned.
struct BoardPageValues {
    QString boardId;   // after "board_id":, up to the next ","; empty: not a board page
    QString name;      // "title", decoded
    QString count;     // "pin_count" as written
    QString owner;     // "username", decoded
    uint32_t pinCount = 0; // count's leading digits; PICCOUNT_UNKNOWN when too large
};

// One piece of a pin listing: the text after one "pin_id" key.
struct PinPiece {
    QString cursor;      // the pin id as written; empty for a piece without one (it is
                         // then not a pin)
    QString key;         // the picture's key as written; empty when cursor is empty
    QString description; // "raw_text", decoded, on one line (each line break is a space:
                         // the names file holds one description per line); empty when
                         // cursor is empty
};

// A page of pins (the board page or a pin page).
struct PinPage {
    QString imageHost;       // the host the addresses use
    QString addressPrefix;   // scheme + imageHost + "/"
    QList<PinPiece> pieces;  // every piece in page order, empty-id ones included;
                             // none when the page holds no "pin_id" key

    // The picture address of a piece. Built on demand, so a page of many pins does not
    // hold a copy of the host per pin.
    QString AddressOf(const PinPiece &piece) const { return addressPrefix + piece.key; }
};

// A named image host longer than this is no host name (253 characters and a port): the
// default is used instead, so a hostile page cannot have one huge name copied into the
// address of every pin.
inline constexpr qsizetype IMAGE_HOST_MAX_UNITS = 261;

// Board page: the values of the object after app.page[" (searched in order, each search
// starting after the previous marker).
BoardPageValues ParseBoardPage(QString text);

// Leading decimal digits (blanks before them skipped) as a pin count; no digits give 0,
// more than 32 bits PICCOUNT_UNKNOWN.
uint32_t ParsePinCount(const QString &text);

// Pin listing: the image host named by hbimg":" (else, or when longer than
// IMAGE_HOST_MAX_UNITS, defaultImageHost), then the pieces after "pins". A piece starts
// after each "pin_id" key: "pin_id whose quote no backslash escapes, then the key's
// closing quote and, after blanks, a colon. The same letters inside a description are
// text, not a pin. scheme is "http://" or "https://".
PinPage ParsePinPage(QString text, const QString &defaultImageHost, const QString &scheme);

// A JSON string value read whole: from text[from] up to the first quote that no
// backslash escapes, its escapes decoded: \" \\ \/ \b \f \n \r \t and \uXXXX (any
// case), a surrogate pair written as two \u escapes giving one character and a lone
// surrogate U+FFFD. A backslash that starts no such escape is kept as it stands. Sets
// *end to the closing quote's index. Without a closing quote the value is empty and
// *end is -1, as a missing end marker gives nothing. Linear in the value's length.
QString ReadJsonString(QStringView text, qsizetype from, qsizetype *end = nullptr);
// The JSON string value after `marker` (which ends with the value's opening quote), read
// whole (ReadJsonString). Cuts the text as ExtractBetween with EXTRACT_CONSUME does: it
// starts right after the marker afterwards, and is left as it was without the marker.
QString ExtractJsonString(QString &text, const QString &marker);
