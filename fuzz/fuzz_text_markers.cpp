// The marker helpers (ExtractBetween, CutThrough, CutBefore, SplitText, ReplaceEach) and
// CleanFileName on arbitrary texts and markers.
#include "FuzzSupport.h"

#include "text/StringCtrl.h"

namespace {

// Qt's own replacement as the reference; an empty pattern changes nothing.
QString QtReplaced(QString text, const QString &from, const QString &to)
{
    if (!from.isEmpty())
        text.replace(from, to);
    return text;
}

void CheckExtract(const QString &text, const QString &start, const QString &end)
{
    for (unsigned options = 0; options < 4; ++options) {
        QString cut = text;
        const QString value = ExtractBetween(cut, start, end, options);
        const qsizetype at = text.indexOf(start);
        if (at < 0) {
            FUZZ_CHECK(value.isEmpty() && cut == text);
            continue;
        }
        const QStringView rest = QStringView(text).sliced(at + start.size());
        // The value is the head of what follows the start marker, up to the first end marker.
        FUZZ_CHECK(rest.startsWith(value));
        if (rest.contains(end))
            FUZZ_CHECK(value.size() == rest.indexOf(end));
        else
            FUZZ_CHECK(value == ((options & EXTRACT_OPEN_END) ? rest : QStringView()));
        FUZZ_CHECK(cut == ((options & EXTRACT_CONSUME) ? rest.toString() : text));
    }
}

void CheckCuts(const QString &text, const QString &marker)
{
    const qsizetype first = text.indexOf(marker);
    for (const bool through : {false, true}) {
        QString cut = text;
        FUZZ_CHECK(CutThrough(cut, marker, through) == first);
        if (first < 0)
            FUZZ_CHECK(cut == text);
        else
            FUZZ_CHECK(cut == text.mid(first + (through ? marker.size() : 0)));
    }
    QString head = text;
    FUZZ_CHECK(CutBefore(head, marker) == first);
    FUZZ_CHECK(head == (first < 0 ? text : text.left(first)));
}

void CheckSplit(const QString &text, const QString &separator)
{
    QStringList parts;
    const int count = SplitText(text, separator, parts);
    FUZZ_CHECK(count == CountOccurrences(text, separator));
    if (count == 0) {
        FUZZ_CHECK(parts.isEmpty());
        FUZZ_CHECK(separator.isEmpty() || !text.contains(separator));
        return;
    }
    // Bounded by the text: at most one part per separator's length of text.
    FUZZ_CHECK(count <= text.size() / separator.size());
    FUZZ_CHECK(parts.size() == count + 1);
    FUZZ_CHECK(parts.join(separator) == text);
    for (const QString &part : std::as_const(parts))
        FUZZ_CHECK(!part.contains(separator));
}

void CheckReplaceEach(const QString &text, const QString &fromList, const QString &toList)
{
    QString replaced = text;
    ReplaceEach(replaced, fromList, toList);
    const QChar bar(u'|');
    QString expected = text;
    if (fromList.count(bar) != toList.count(bar)) {
        expected = QtReplaced(expected, fromList, toList);
    } else {
        const QStringList from = fromList.split(bar);
        const QStringList to = toList.split(bar);
        for (qsizetype i = 0; i < from.size(); ++i)
            expected = QtReplaced(expected, from.at(i), to.at(i));
    }
    FUZZ_CHECK_TEXT(replaced == expected, replaced);
}

void CheckClean(const QString &text, bool fallback)
{
    QString name = text;
    CleanFileName(name, fallback);
    FUZZ_CHECK_TEXT(!fuzz::HoldsRemovedCharacter(name), name);
    // Never this folder or the parent (a leading dot may stay: ". ?a" gives ".a").
    FUZZ_CHECK_TEXT(name.isEmpty() || name.count(u'.') < name.size(), name);
    if (!name.isEmpty())
        FUZZ_CHECK_TEXT(!IsWideSpace(name.front()) && !IsWideSpace(name.back()), name);
    if (fallback)
        FUZZ_CHECK_TEXT(!name.isEmpty() && name.size() < 1000, name);
    else
        FUZZ_CHECK_TEXT(name.size() <= text.size(), name); // entities only ever shrink
    FUZZ_CHECK_TEXT(fuzz::WellFormed(name), name);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider p(data, size);
    const QString start = fuzz::TakeText(p, 12);
    const QString end = fuzz::TakeText(p, 12);
    const QString fromList = fuzz::TakeText(p, 40);
    const QString toList = fuzz::TakeText(p, 40);
    const bool fallback = p.ConsumeBool();
    const QString text = fuzz::TakeText(p, 1 << 16);

    CheckExtract(text, start, end);
    CheckCuts(text, start);
    CheckSplit(text, start);
    CheckSplit(text, end);
    CheckReplaceEach(text, fromList, toList);
    CheckClean(text, fallback);
    return 0;
}
