#include "settings/SoftData.h"

#include "platform/FileLock.h"
#include "platform/SaveFile.h"

#include <QFile>
#include <algorithm>
#include <cstring>

namespace {

const QString kFileName = QStringLiteral("soft.dat");
const QString kLockName = QStringLiteral("soft.dat.lock");
// Holders keep the lock for one read and one write of 19808 bytes; a process that
// waits this long is facing a stuck holder and gives up this save.
constexpr int kLockWaitMs = 10000;

// Zeroes the image and reads the file over it; answers whether the file opened. A short
// file leaves the tail zero and still counts as read.
bool readImage(ST_SOFTDATA &data, const QString &path)
{
    std::memset(&data, 0, sizeof data);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    file.read(reinterpret_cast<char *>(&data), sizeof data);
    return true;
}

void correct(ST_SOFTDATA &data)
{
    for (ST_DOWNSET &down : data.DownSet) {
        if (down.wThreads == 0 || down.wThreads > 15)
            down.wThreads = 5;
        if (down.wTimeout < 10)
            down.wTimeout = 30;
    }
}

void firstRunDefaults(ST_SOFTDATA &data)
{
    data.SaveSet[7].wOptions |= OPT_FIX_ORDER | OPT_YUPOO_LARGE;
    data.SaveSet[8].byNameBase = 1;
    data.SaveSet[11].wOptions |= OPT_FIX_ORDER;
    data.SaveSet[16].wOptions |= OPT_FIX_ORDER;
    SetFieldText(data.SaveSet[17].szPrefix, QStringLiteral("?2) "));
}

bool writeImage(const ST_SOFTDATA &data, const QString &path)
{
    // A temporary file renamed over the old one: a crash never leaves a torn image.
    return SaveFileAtomically(path, QByteArray(reinterpret_cast<const char *>(&data), qsizetype(sizeof data)));
}

// Puts mine's value of one field over out when this process changed it.
template <typename T> void takeChanged(T &out, const T &base, const T &mine)
{
    if (std::memcmp(&base, &mine, sizeof(T)) != 0)
        std::memcpy(&out, &mine, sizeof(T));
}

// Whether the history holds the text; Qt's case-insensitive comparison folds with
// Unicode simple case folding.
bool holds(const char16_t (&history)[HISTORY_COUNT][HISTORY_UNITS], const QString &text)
{
    for (const auto &entry : history) {
        if (QString::compare(FieldText(entry), text, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

void mergeHistory(char16_t (&out)[HISTORY_COUNT][HISTORY_UNITS], const char16_t (&base)[HISTORY_COUNT][HISTORY_UNITS],
                  const char16_t (&mine)[HISTORY_COUNT][HISTORY_UNITS])
{
    for (int i = HISTORY_COUNT - 1; i >= 0; --i) {
        const QString text = FieldText(mine[i]);
        if (!text.isEmpty() && !holds(base, text))
            RememberText(out, text);
    }
}

} // namespace

QString FieldText(const char16_t *field, int units)
{
    const char16_t *end = std::find(field, field + units, u'\0');
    return QString::fromUtf16(field, end - field);
}

void SetFieldText(char16_t *field, int units, const QString &text, int maxChars)
{
    const qsizetype n = std::clamp<qsizetype>(std::min<qsizetype>(text.size(), maxChars), 0, units - 1);
    std::fill(field, field + units, u'\0');
    std::copy_n(reinterpret_cast<const char16_t *>(text.utf16()), n, field);
}

bool LoadSettings(ST_SOFTDATA &data, const QString &workFolder, bool create)
{
    const QString path = workFolder + kFileName;
    if (readImage(data, path)) {
        correct(data);
        return true;
    }
    correct(data);
    firstRunDefaults(data);
    if (!create)
        return false;
    FileLock lock(workFolder + kLockName);
    if (!lock.lock(kLockWaitMs))
        return false; // the folder cannot be written: the image works in memory
    ST_SOFTDATA made;
    if (readImage(made, path)) {
        // Another process made the file while this one waited for the lock.
        correct(made);
        data = made;
        return true;
    }
    writeImage(data, path);
    return false;
}

bool SaveSettingsChanges(const ST_SOFTDATA &mine, ST_SOFTDATA &base, const QString &workFolder)
{
    if (std::memcmp(&mine, &base, sizeof mine) == 0)
        return true;
    FileLock lock(workFolder + kLockName);
    if (!lock.lock(kLockWaitMs))
        return false;
    const QString path = workFolder + kFileName;
    ST_SOFTDATA disk;
    if (readImage(disk, path))
        correct(disk);
    else
        disk = base; // the file is gone: this process's image is all there is
    if (!writeImage(MergeSettings(disk, base, mine), path))
        return false;
    base = mine;
    return true;
}

ST_SOFTDATA MergeSettings(const ST_SOFTDATA &disk, const ST_SOFTDATA &base, const ST_SOFTDATA &mine)
{
    ST_SOFTDATA out = disk;
    for (int mode = 0; mode < SITE_MODE_COUNT; ++mode) {
        ST_DOWNSET &d = out.DownSet[mode];
        const ST_DOWNSET &db = base.DownSet[mode], &dm = mine.DownSet[mode];
        takeChanged(d.wMinKB, db.wMinKB, dm.wMinKB);
        takeChanged(d.wMaxKB, db.wMaxKB, dm.wMaxKB);
        takeChanged(d.wThreads, db.wThreads, dm.wThreads);
        takeChanged(d.wTimeout, db.wTimeout, dm.wTimeout);

        ST_SAVESET &s = out.SaveSet[mode];
        const ST_SAVESET &sb = base.SaveSet[mode], &sm = mine.SaveSet[mode];
        takeChanged(s.szPrefix, sb.szPrefix, sm.szPrefix);
        takeChanged(s.szSuffix, sb.szSuffix, sm.szSuffix);
        takeChanged(s.szReplaceWhat, sb.szReplaceWhat, sm.szReplaceWhat);
        takeChanged(s.szReplaceWith, sb.szReplaceWith, sm.szReplaceWith);
        takeChanged(s.szFolderPrefix, sb.szFolderPrefix, sm.szFolderPrefix);
        takeChanged(s.szFolderSuffix, sb.szFolderSuffix, sm.szFolderSuffix);
        takeChanged(s.byNameBase, sb.byNameBase, sm.byNameBase);
        takeChanged(s.byFolderName, sb.byFolderName, sm.byFolderName);
        // Each option is a menu entry of its own: two processes toggling two options
        // both keep theirs.
        const uint16_t toggled = sb.wOptions ^ sm.wOptions;
        s.wOptions = uint16_t((s.wOptions & ~toggled) | (sm.wOptions & toggled));
    }
    mergeHistory(out.AddressHistory, base.AddressHistory, mine.AddressHistory);
    mergeHistory(out.SavePathHistory, base.SavePathHistory, mine.SavePathHistory);
    return out;
}

bool SaveSettings(const ST_SOFTDATA &data, const QString &workFolder)
{
    FileLock lock(workFolder + kLockName);
    return lock.lock(kLockWaitMs) && writeImage(data, workFolder + kFileName);
}

bool RememberText(char16_t (&history)[HISTORY_COUNT][HISTORY_UNITS], const QString &text)
{
    if (text.size() >= HISTORY_UNITS)
        return false;
    if (holds(history, text))
        return false;
    std::memmove(history[1], history[0], sizeof history[0] * (HISTORY_COUNT - 1));
    SetFieldText(history[0], text);
    return true;
}
