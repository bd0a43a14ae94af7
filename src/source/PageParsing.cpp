#include "source/PageParsing.h"

#include "core/AlbumList.h"
#include "text/StringCtrl.h"

BoardPageValues ParseBoardPage(QString text)
{
    BoardPageValues v;
    CutThrough(text, QStringLiteral("app.page[\""), true);
    v.boardId = ExtractBetween(text, QStringLiteral("board_id\":"), QStringLiteral(","), EXTRACT_CONSUME);
    v.name = ExtractBetween(text, QStringLiteral("title\":\""), QStringLiteral("\""), EXTRACT_CONSUME);
    v.count = ExtractBetween(text, QStringLiteral("pin_count\":"), QStringLiteral(","), EXTRACT_CONSUME);
    v.owner = ExtractBetween(text, QStringLiteral("username\":\""), QStringLiteral("\""), EXTRACT_CONSUME);
    v.pinCount = ParsePinCount(v.count);
    return v;
}

uint32_t ParsePinCount(const QString &text)
{
    qsizetype i = 0;
    while (i < text.size() && IsWideSpace(text[i]))
        ++i;
    uint64_t value = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        value = value * 10 + (text[i].unicode() - u'0');
        if (value > 0xFFFFFFFFull)
            return PICCOUNT_UNKNOWN;
    }
    return uint32_t(value);
}

PinPage ParsePinPage(QString text, const QString &defaultImageHost, const QString &scheme)
{
    PinPage page;
    // The cut consumes: pins are looked for only after a named host.
    const QString named = ExtractBetween(text, QStringLiteral("hbimg\":\""), QStringLiteral("\""), EXTRACT_CONSUME);
    page.imageHost = named.isEmpty() || named.size() > IMAGE_HOST_MAX_UNITS ? defaultImageHost : named;
    page.addressPrefix = scheme + page.imageHost + QLatin1Char('/');

    CutThrough(text, QStringLiteral("\"pins\""), true);

    QStringList parts;
    const int separators = SplitText(text, QStringLiteral("\"pin_id"), parts);
    text.clear();
    page.pieces.reserve(separators);
    for (int k = 1; k <= separators; ++k) {
        QString &part = parts[k];
        PinPiece piece;
        piece.cursor = ExtractBetween(part, QStringLiteral(":"), QStringLiteral(","), EXTRACT_CONSUME);
        if (!piece.cursor.isEmpty()) {
            // Each search starts where the previous marker of the piece ended.
            piece.key = ExtractBetween(part, QStringLiteral("key\":\""), QStringLiteral("\""), EXTRACT_CONSUME);
            piece.description =
                ExtractBetween(part, QStringLiteral("raw_text\":\""), QStringLiteral("\""), EXTRACT_CONSUME);
        }
        part.clear();
        page.pieces.append(std::move(piece));
    }
    return page;
}
