#include "source/PageParsing.h"

#include "core/AlbumList.h"
#include "text/StringCtrl.h"

namespace {

const QString kPinKey = QStringLiteral("\"pin_id");

// Whether the quote at text[quote] is escaped: an odd run of backslashes before it.
bool IsEscaped(QStringView text, qsizetype quote)
{
    qsizetype slashes = 0;
    while (quote - slashes > 0 && text[quote - slashes - 1] == u'\\')
        ++slashes;
    return slashes % 2 == 1;
}

// Where each "pin_id" key starts: "pin_id with an unescaped quote, the key's closing
// quote and, after blanks, a colon. Inside a string value the quotes are escaped, and a
// value that merely begins with the letters is followed by something else.
QList<qsizetype> PinKeys(QStringView text)
{
    QList<qsizetype> keys;
    for (qsizetype at = text.indexOf(kPinKey); at >= 0; at = text.indexOf(kPinKey, at + kPinKey.size())) {
        qsizetype i = at + kPinKey.size();
        if (i >= text.size() || text[i] != u'"' || IsEscaped(text, at))
            continue;
        ++i;
        while (i < text.size() && (text[i] == u' ' || text[i] == u'\t' || text[i] == u'\r' || text[i] == u'\n'))
            ++i;
        if (i < text.size() && text[i] == u':')
            keys.append(at);
    }
    return keys;
}

// The value of four hex digits at text[at], or -1.
int Hex4(QStringView text, qsizetype at)
{
    if (at + 4 > text.size())
        return -1;
    int value = 0;
    for (qsizetype i = at; i < at + 4; ++i) {
        const char16_t c = text[i].unicode();
        int d;
        if (c >= u'0' && c <= u'9')
            d = c - u'0';
        else if (c >= u'a' && c <= u'f')
            d = c - u'a' + 10;
        else if (c >= u'A' && c <= u'F')
            d = c - u'A' + 10;
        else
            return -1;
        value = value * 16 + d;
    }
    return value;
}

} // namespace

BoardPageValues ParseBoardPage(QString text)
{
    BoardPageValues v;
    CutThrough(text, QStringLiteral("app.page[\""), true);
    v.boardId = ExtractBetween(text, QStringLiteral("board_id\":"), QStringLiteral(","), EXTRACT_CONSUME);
    v.name = ExtractJsonString(text, QStringLiteral("title\":\""));
    v.count = ExtractBetween(text, QStringLiteral("pin_count\":"), QStringLiteral(","), EXTRACT_CONSUME);
    v.owner = ExtractJsonString(text, QStringLiteral("username\":\""));
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

    const QList<qsizetype> keys = PinKeys(text);
    page.pieces.reserve(keys.size());
    for (qsizetype k = 0; k < keys.size(); ++k) {
        const qsizetype from = keys[k] + kPinKey.size();
        const qsizetype to = k + 1 < keys.size() ? keys[k + 1] : text.size();
        QString part = text.mid(from, to - from);
        PinPiece piece;
        piece.cursor = ExtractBetween(part, QStringLiteral(":"), QStringLiteral(","), EXTRACT_CONSUME);
        if (!piece.cursor.isEmpty()) {
            // Each search starts where the previous marker of the piece ended.
            piece.key = ExtractBetween(part, QStringLiteral("key\":\""), QStringLiteral("\""), EXTRACT_CONSUME);
            piece.description = ExtractJsonString(part, QStringLiteral("raw_text\":\""));
            piece.description.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
            piece.description.replace(u'\r', u' ');
            piece.description.replace(u'\n', u' ');
        }
        page.pieces.append(std::move(piece));
    }
    return page;
}

QString ReadJsonString(QStringView text, qsizetype from, qsizetype *end)
{
    QString value;
    const qsizetype n = text.size();
    qsizetype i = from;
    while (i < n) {
        const char16_t c = text[i].unicode();
        if (c == u'"') {
            if (end)
                *end = i;
            return value;
        }
        if (c != u'\\' || i + 1 >= n) {
            value += QChar(c);
            ++i;
            continue;
        }
        char16_t decoded = 0;
        switch (text[i + 1].unicode()) {
        case u'"': decoded = u'"'; break;
        case u'\\': decoded = u'\\'; break;
        case u'/': decoded = u'/'; break;
        case u'b': decoded = u'\b'; break;
        case u'f': decoded = u'\f'; break;
        case u'n': decoded = u'\n'; break;
        case u'r': decoded = u'\r'; break;
        case u't': decoded = u'\t'; break;
        case u'u': {
            const int unit = Hex4(text, i + 2);
            if (unit < 0)
                break;
            i += 6;
            if (QChar::isLowSurrogate(char32_t(unit))) {
                value += QChar(QChar::ReplacementCharacter);
            } else if (QChar::isHighSurrogate(char32_t(unit))) {
                const int low = i + 1 < n && text[i] == u'\\' && text[i + 1] == u'u' ? Hex4(text, i + 2) : -1;
                if (low >= 0 && QChar::isLowSurrogate(char32_t(low))) {
                    value += QChar(char16_t(unit));
                    value += QChar(char16_t(low));
                    i += 6;
                } else {
                    value += QChar(QChar::ReplacementCharacter);
                }
            } else {
                value += QChar(char16_t(unit));
            }
            continue;
        }
        default: break;
        }
        if (decoded) {
            value += QChar(decoded);
            i += 2;
        } else {
            value += QChar(c); // no escape: the backslash stays, what follows is read as usual
            ++i;
        }
    }
    if (end)
        *end = -1;
    return {};
}

QString ExtractJsonString(QString &text, const QString &marker)
{
    const qsizetype at = text.indexOf(marker);
    if (at < 0)
        return {};
    text.remove(0, at + marker.size());
    return ReadJsonString(text, 0);
}
