// The board site's page readers as pure functions: page text in, records out. No
// network, no files, no state; safe on any thread. ReadBoardPage and EnumeratePins
// fetch the pages and act on these records; the fuzz targets feed them arbitrary text.
//
// Every value is cut out of the text between fixed markers (StringCtrl's helpers), so
// the work and the size of the records grow linearly with the text.
#pragma once

#include <QList>
#include <QString>
#include <cstdint>

// What a board page says about its board; texts as they stand in the page (not cleaned).
struct BoardPageValues {
    QString boardId;   // after "board_id":, up to the next ","
    QString name;      // "title"
    QString count;     // "pin_count" as written
    QString owner;     // "username"
    uint32_t pinCount = 0; // count's leading digits; PICCOUNT_UNKNOWN when too large
};

// One piece of a pin listing: the text after one "pin_id marker. Texts as they stand in
// the page (escapes kept).
struct PinPiece {
    QString cursor;      // the pin id; empty for a piece without one (it is then not a pin)
    QString key;         // the picture's key; empty when cursor is empty
    QString description; // "raw_text"; empty when cursor is empty
};

// A page of pins (the board page or a pin page).
struct PinPage {
    QString imageHost;       // the host the addresses use
    QString addressPrefix;   // scheme + imageHost + "/"
    QList<PinPiece> pieces;  // every piece in page order, empty-id ones included;
                             // none when the page holds no "pin_id

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
// IMAGE_HOST_MAX_UNITS, defaultImageHost), then the pieces after "pins". scheme is
// "http://" or "https://".
PinPage ParsePinPage(QString text, const QString &defaultImageHost, const QString &scheme);
