#include "text/StringCtrl.h"

#include <QDateTime>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QStringMatcher>

namespace {

// ICU names of the code pages we convert between; nullptr for an unknown one.
const char *EncodingName(int codePage)
{
    switch (codePage) {
    case CP_GBK: return "GBK";
    case CP_UTF8: return "UTF-8";
    case CP_EUCKR: return "EUC-KR";
    case CP_BIG5: return "Big5";
    default: return nullptr;
    }
}

// Every non-overlapping occurrence of `from` (not empty) replaced by `to`, left to
// right. One pass that builds a new text, so hostile pages with many hits stay linear.
void ReplaceAll(QString &text, QStringView from, QStringView to)
{
    if (from.isEmpty())
        return;
    const QStringMatcher matcher(from);
    qsizetype hit = matcher.indexIn(text, 0);
    if (hit < 0)
        return;
    QString out;
    out.reserve(text.size());
    qsizetype pos = 0;
    while (hit >= 0) {
        out.append(QStringView(text).sliced(pos, hit - pos));
        out.append(to);
        pos = hit + from.size();
        hit = matcher.indexIn(text, pos);
    }
    out.append(QStringView(text).sliced(pos));
    text = std::move(out);
}

// Empty, or nothing but "." characters.
bool DotsOnly(const QString &text)
{
    for (const QChar c : text)
        if (c != u'.')
            return false;
    return true;
}

} // namespace

QByteArray ToGbk(const QString &text)
{
    // The encoder writes "?" for what GBK cannot hold, one per character.
    QStringEncoder encoder("GBK", QStringConverter::Flag::Stateless);
    QByteArray bytes = encoder.encode(text);
    const qsizetype zero = bytes.indexOf('\0');
    if (zero >= 0)
        bytes.truncate(zero);
    return bytes;
}

QString MultiByteToText(const char *bytes, int codePage, qsizetype count)
{
    const char *name = EncodingName(codePage);
    if (!name || !bytes || count <= 0)
        return {};
    // Stateless: a sequence cut off at the end becomes a replacement character instead
    // of being held back. A leading byte-order mark is kept as a character, as the
    // platform converter of the original design did.
    QStringDecoder decoder(name, QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
    if (!decoder.isValid())
        return {};
    QString text = decoder.decode(QByteArrayView(bytes, count));
    const qsizetype zero = text.indexOf(QChar(u'\0'));
    if (zero >= 0)
        text.truncate(zero);
    return text;
}

QString AnsiToText(const char *zeroTerminated)
{
    if (!zeroTerminated)
        return {};
    return MultiByteToText(zeroTerminated, CP_ANSI, qstrlen(zeroTerminated));
}

void DecodeHtmlEntities(QString &text)
{
    // The order matters: "&amp;" goes second, so a doubly escaped "&quot;" keeps one
    // level while the later entities are decoded twice.
    static const struct {
        const char16_t *entity;
        const char16_t *replacement;
    } table[] = {
        {u"&quot;", u"\""}, {u"&amp;", u"&"},      {u"&lt;", u"<"},  {u"&gt;", u">"},
        {u"&nbsp;", u" "},  {u"&hellip;", u"\u2026"}, {u"&#39;", u"'"},
    };
    if (!text.contains(QChar(u'&')))
        return;
    for (const auto &entry : table)
        ReplaceAll(text, QStringView(entry.entity), QStringView(entry.replacement));
}

QString ExtractBetween(QString &text, const QString &start, const QString &end, unsigned options)
{
    const qsizetype at = text.indexOf(start);
    if (at < 0)
        return {};
    const qsizetype restFrom = at + start.size();
    const QStringView rest = QStringView(text).sliced(restFrom);
    QString result;
    if (options & EXTRACT_OPEN_END)
        result = rest.toString();
    const qsizetype endAt = rest.indexOf(end);
    if (endAt >= 0)
        result = rest.first(endAt).toString();
    if (options & EXTRACT_CONSUME)
        text.remove(0, restFrom);
    return result;
}

qsizetype CutThrough(QString &text, const QString &marker, bool throughMarker)
{
    const qsizetype at = text.indexOf(marker);
    if (at < 0)
        return -1;
    text.remove(0, throughMarker ? at + marker.size() : at);
    return at;
}

qsizetype CutBefore(QString &text, const QString &marker)
{
    const qsizetype at = text.indexOf(marker);
    if (at < 0)
        return -1;
    text.truncate(at);
    return at;
}

int CountOccurrences(const QString &text, const QString &separator)
{
    if (separator.isEmpty())
        return 0;
    const QStringMatcher matcher(separator);
    int count = 0;
    for (qsizetype at = matcher.indexIn(text, 0); at >= 0; at = matcher.indexIn(text, at + separator.size()))
        ++count;
    return count;
}

void SplitParts(const QString &text, const QString &separator, int count, QStringList &list)
{
    list.clear();
    if (count < 0)
        return;
    list.reserve(count + 1);
    const QStringMatcher matcher(separator);
    qsizetype pos = 0;
    for (int i = 0; i <= count; ++i) {
        const qsizetype at = matcher.indexIn(text, pos);
        if (at >= 0) {
            list.append(text.sliced(pos, at - pos));
            pos = at + separator.size();
        } else {
            list.append(text.sliced(pos));
        }
    }
}

int SplitText(const QString &text, const QString &separator, QStringList &list)
{
    const int count = CountOccurrences(text, separator);
    list.clear();
    if (count == 0)
        return 0;
    SplitParts(text, separator, count, list);
    return count;
}

void ReplaceEach(QString &text, const QString &fromList, const QString &toList)
{
    const QString bar(QChar(u'|'));
    const int fromCount = CountOccurrences(fromList, bar);
    const int toCount = CountOccurrences(toList, bar);
    if (fromCount != toCount) {
        ReplaceAll(text, fromList, toList);
        return;
    }
    QStringList from, to;
    SplitParts(fromList, bar, fromCount, from);
    SplitParts(toList, bar, toCount, to);
    // In list order: a later pair sees what the earlier ones produced.
    for (qsizetype i = 0; i < from.size(); ++i)
        ReplaceAll(text, from.at(i), to.at(i));
}

bool IsUtf8(const char *bytes, qsizetype length)
{
    if (!bytes || length <= 0)
        return false;
    int expected = 0;
    bool sawHigh = false;
    for (qsizetype i = 0; i < length; ++i) {
        const unsigned char b = static_cast<unsigned char>(bytes[i]);
        if (b >= 0x80)
            sawHigh = true;
        if (expected > 0) {
            if (b < 0x80 || b > 0xBF)
                return false;
            --expected;
            continue;
        }
        if (b < 0x80)
            continue;
        if (b <= 0xBF)
            return false; // continuation byte with no lead
        if (b <= 0xDF)
            expected = 1;
        else if (b <= 0xEF)
            expected = 2;
        else if (b <= 0xF7)
            expected = 3;
        else if (b <= 0xFB || b >= 0xFE)
            expected = 4;
        else
            expected = 5; // 0xFC, 0xFD
    }
    return expected == 0 && sawHigh;
}

// The original platform classified white space with iswspace in a Unicode locale.
// QChar::isSpace is its closest match here: the C0 spaces 0x09-0x0D and 0x20, U+0085,
// and the Unicode separators (U+00A0, U+1680, U+2000-U+200A, U+2028, U+2029, U+202F,
// U+205F, U+3000). Zero-width characters such as U+200B and U+FEFF are not space.
bool IsWideSpace(QChar c)
{
    return c.isSpace();
}

QString TrimWide(const QString &text)
{
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && IsWideSpace(text.at(first)))
        ++first;
    while (last > first && IsWideSpace(text.at(last - 1)))
        --last;
    if (first == 0 && last == text.size())
        return text;
    return text.sliced(first, last - first);
}

void CleanFileName(QString &text, bool fallback)
{
    DecodeHtmlEntities(text);

    // Runs of spaces become one space (what repeating "  " -> " " until none is left
    // gives), in one pass.
    {
        QString collapsed;
        collapsed.reserve(text.size());
        for (qsizetype i = 0; i < text.size(); ++i) {
            const QChar c = text.at(i);
            if (c == u' ' && i > 0 && text.at(i - 1) == u' ')
                continue;
            collapsed.append(c);
        }
        text = std::move(collapsed);
    }

    text = TrimWide(text);

    // A name of dots only would mean "this folder" or "the parent".
    if (DotsOnly(text))
        text.fill(QChar(0x3002));

    // Characters a file name cannot hold; each is independent of the others, so one
    // pass gives what the steps in table order give.
    {
        QString kept;
        kept.reserve(text.size());
        for (const QChar c : std::as_const(text)) {
            switch (c.unicode()) {
            case u'\r': case u'\n': case u'\\': case u'/': case u':': case u'*':
            case u'?': case u'"': case u'<': case u'>': case u'|': case u'\a':
                break;
            case u'\t':
                kept.append(QChar(u'_'));
                break;
            default:
                kept.append(c);
            }
        }
        text = std::move(kept);
    }

    qsizetype last = text.size();
    while (last > 0 && text.at(last - 1) == u'.')
        --last;
    text.truncate(last);
    qsizetype first = 0;
    while (first < text.size() && text.at(first) == u'.')
        ++first;
    text.remove(0, first);

    text = TrimWide(text);

    // Blanks next to removed characters shield dots from the cuts above ("? .. ?" gives
    // ".."), so the dots-only rule holds for the result as well.
    if (DotsOnly(text))
        text.fill(QChar(0x3002));
    // A surrogate without its partner has no file-system form: it would be written as a
    // replacement character, and two different names could land on one file.
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            ++i;
        else if (c.isSurrogate())
            text[i] = QChar::ReplacementCharacter;
    }

    if (fallback && (text.isEmpty() || text.size() >= 1000))
        text = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddHHmmss"));
}
