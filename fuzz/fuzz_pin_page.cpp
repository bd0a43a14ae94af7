// The pin listing reader fed arbitrary page bytes: every piece comes from the page (a pin
// starts at each "pin_id" key outside a string value, its description read whole and
// decoded as a JSON string), the records stay in proportion to the page, and the
// addresses use the page's image host.
#include "FuzzSupport.h"

#include "source/PageParsing.h"
#include "text/StringCtrl.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QString text = MultiByteToText(reinterpret_cast<const char *>(data), CP_UTF8, qsizetype(size));
    DecodeHtmlEntities(text);

    const QString defaultHost = QStringLiteral("img.example.org");
    const QString scheme = size % 2 ? QStringLiteral("https://") : QStringLiteral("http://");
    const PinPage page = ParsePinPage(text, defaultHost, scheme);

    FUZZ_CHECK(page.imageHost == defaultHost
               || (page.imageHost.size() <= IMAGE_HOST_MAX_UNITS
                   && text.contains(QStringLiteral("hbimg\":\"") + page.imageHost + u'"')));
    FUZZ_CHECK(page.addressPrefix == scheme + page.imageHost + u'/');
    // At most one piece per "pin_id in the page.
    FUZZ_CHECK(page.pieces.size() <= CountOccurrences(text, QStringLiteral("\"pin_id")));

    // The reader's steps written out here as the reference.
    {
        QString rest = text;
        const QString named = ExtractBetween(rest, QStringLiteral("hbimg\":\""), QStringLiteral("\""), EXTRACT_CONSUME);
        const QString host = named.isEmpty() || named.size() > IMAGE_HOST_MAX_UNITS ? defaultHost : named;
        FUZZ_CHECK(page.imageHost == host);
        CutThrough(rest, QStringLiteral("\"pins\""), true);
        // A pin key: "pin_id" and a colon, its first quote after an even run of backslashes.
        static const QRegularExpression pinKey(QStringLiteral(R"re((?<!\\)((?:\\\\)*)"pin_id"[ \t\r\n]*:)re"));
        QList<qsizetype> starts;
        for (auto it = pinKey.globalMatch(rest); it.hasNext();) {
            const QRegularExpressionMatch m = it.next();
            starts.append(m.capturedStart() + m.capturedLength(1));
        }
        FUZZ_CHECK(page.pieces.size() == starts.size());
        for (qsizetype k = 0; k < starts.size(); ++k) {
            const PinPiece &piece = page.pieces[k];
            const qsizetype from = starts[k] + 7; // after "pin_id
            QString part = rest.mid(from, (k + 1 < starts.size() ? starts[k + 1] : rest.size()) - from);
            const QString cursor = ExtractBetween(part, QStringLiteral(":"), QStringLiteral(","), EXTRACT_CONSUME);
            FUZZ_CHECK_TEXT(piece.cursor == cursor, piece.cursor);
            if (cursor.isEmpty())
                continue;
            const QString key = ExtractBetween(part, QStringLiteral("key\":\""), QStringLiteral("\""), EXTRACT_CONSUME);
            FUZZ_CHECK(page.AddressOf(piece) == scheme + host + u'/' + key);
            fuzz::JsonReference description = fuzz::JsonValueAfter(part, QStringLiteral("raw_text\":\""));
            // One line of the names file: each line break a space.
            description.value.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
            description.value.replace(u'\r', u' ').replace(u'\n', u' ');
            FUZZ_CHECK_TEXT(fuzz::AgreesWith(piece.description, description), piece.description);
        }
    }

    qsizetype pieceUnits = 0;
    qsizetype addressUnits = 0;
    for (const PinPiece &piece : page.pieces) {
        if (piece.cursor.isEmpty()) {
            FUZZ_CHECK(piece.key.isEmpty() && piece.description.isEmpty());
            continue;
        }
        FUZZ_CHECK_TEXT(text.contains(piece.cursor) && !piece.cursor.contains(u','), piece.cursor);
        FUZZ_CHECK_TEXT(text.contains(piece.key) && !piece.key.contains(u'"'), piece.key);
        FUZZ_CHECK_TEXT(!piece.description.contains(u'\r') && !piece.description.contains(u'\n')
                            && fuzz::WellFormed(piece.description), piece.description);
        pieceUnits += piece.cursor.size() + piece.key.size() + piece.description.size();
        addressUnits += page.AddressOf(piece).size();
    }
    // Each value comes from a part of its own piece (decoding never lengthens a text), and
    // the pieces are disjoint parts of the page.
    FUZZ_CHECK(pieceUnits <= 3 * text.size());
    // What the pins hand on (their addresses) stays in proportion to the page: a host
    // name costs at most what a real one can.
    FUZZ_CHECK(addressUnits <= pieceUnits + page.pieces.size() * (8 + IMAGE_HOST_MAX_UNITS + 1));
    return 0;
}
