// The board page reader fed arbitrary page bytes: the values it cuts out (title and user
// name read whole and decoded as JSON strings), the album record they become and the
// owner folder level made of the owner's name.
#include "FuzzSupport.h"

#include "core/AlbumList.h"
#include "source/ChangeSource.h"
#include "source/PageParsing.h"
#include "text/StringCtrl.h"

namespace {

// Leading digits (blanks before them skipped) as the record keeps them.
uint32_t ExpectedCount(const QString &count)
{
    QStringView rest(count);
    while (!rest.isEmpty() && IsWideSpace(rest.front()))
        rest = rest.sliced(1);
    qsizetype digits = 0;
    while (digits < rest.size() && rest[digits] >= u'0' && rest[digits] <= u'9')
        ++digits;
    QStringView number = rest.first(digits);
    while (number.size() > 1 && number.front() == u'0')
        number = number.sliced(1);
    if (number.isEmpty())
        return 0;
    if (number.size() > 10)
        return PICCOUNT_UNKNOWN;
    const qulonglong value = number.toULongLong();
    return value > 0xFFFFFFFFull ? PICCOUNT_UNKNOWN : uint32_t(value);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // As the session hands a page over: UTF-8, entities decoded.
    QString text = MultiByteToText(reinterpret_cast<const char *>(data), CP_UTF8, qsizetype(size));
    DecodeHtmlEntities(text);

    const BoardPageValues v = ParseBoardPage(text);

    // The reader's steps written out here as the reference: markers searched in order,
    // each after the previous start marker; the texts people write are JSON strings.
    {
        QString rest = text;
        CutThrough(rest, QStringLiteral("app.page[\""), true);
        FUZZ_CHECK(v.boardId == ExtractBetween(rest, QStringLiteral("board_id\":"), QStringLiteral(","), EXTRACT_CONSUME));
        const fuzz::JsonReference name = fuzz::JsonValueAfter(rest, QStringLiteral("title\":\""));
        FUZZ_CHECK_TEXT(fuzz::AgreesWith(v.name, name), v.name);
        FUZZ_CHECK(v.count == ExtractBetween(rest, QStringLiteral("pin_count\":"), QStringLiteral(","), EXTRACT_CONSUME));
        const fuzz::JsonReference owner = fuzz::JsonValueAfter(rest, QStringLiteral("username\":\""));
        FUZZ_CHECK_TEXT(fuzz::AgreesWith(v.owner, owner), v.owner);
    }
    for (const QString *value : {&v.boardId, &v.count})
        FUZZ_CHECK_TEXT(text.contains(*value), *value);
    // Each value comes from a part of the page, and decoding never lengthens a text (they
    // may overlap: a search starts after the previous start marker, not after the
    // previous value).
    FUZZ_CHECK(v.boardId.size() + v.name.size() + v.count.size() + v.owner.size() <= 4 * text.size());
    FUZZ_CHECK(!v.boardId.contains(u',') && !v.count.contains(u','));
    FUZZ_CHECK_TEXT(fuzz::WellFormed(v.name) && fuzz::WellFormed(v.owner), v.name + u'|' + v.owner);
    FUZZ_CHECK_TEXT(v.pinCount == ExpectedCount(v.count), v.count);

    // The album record: its name is cleaned and unique within the list.
    AlbumList list;
    ST_PERLISTRECORD record;
    record.strName = v.name;
    record.strUrl = QStringLiteral("http://127.0.0.1/boards/") + v.boardId + QLatin1Char('/');
    record.nPicCount = v.pinCount;
    FUZZ_CHECK(AddAlbumRecord(list, record) == 1);
    FUZZ_CHECK(AddAlbumRecord(list, record) == 2);
    const QString first = list.at(0).strName;
    const QString second = list.at(1).strName;
    FUZZ_CHECK_TEXT(first != second, second);
    for (const QString &name : {first, second}) {
        FUZZ_CHECK_TEXT(!name.isEmpty() && !fuzz::HoldsRemovedCharacter(name), name);
        FUZZ_CHECK_TEXT(name != QLatin1String(".") && name != QLatin1String(".."), name);
    }

    // The owner becomes one folder level below the save path.
    QString owner = v.owner;
    CleanFileName(owner, true);
    NormaliseOwnerFolder(owner);
    // Empty when the second cleaning leaves nothing ("&amp;quot;"): no owner level then.
    if (owner.isEmpty())
        return 0;
    const QString sep = QDir::separator();
    FUZZ_CHECK_TEXT(owner.endsWith(sep), owner);
    const QString level = owner.chopped(1);
    FUZZ_CHECK_TEXT(fuzz::IsSafeName(level), level);
    FUZZ_CHECK_TEXT(QDir::cleanPath(QStringLiteral("/save/") + owner) == QStringLiteral("/save/") + level, owner);
    return 0;
}
