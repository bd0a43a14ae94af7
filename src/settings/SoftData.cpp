#include "settings/SoftData.h"

#include "platform/SaveFile.h"

#include <QFile>
#include <algorithm>
#include <cstring>

namespace {

const QString kFileName = QStringLiteral("soft.dat");

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

void LoadSettings(ST_SOFTDATA &data, const QString &workFolder)
{
    std::memset(&data, 0, sizeof data);

    bool fileRead = false;
    QFile file(workFolder + kFileName);
    if (file.open(QIODevice::ReadOnly)) {
        // A short file leaves the tail zero; it still counts as read.
        file.read(reinterpret_cast<char *>(&data), sizeof data);
        file.close();
        fileRead = true;
    }

    for (ST_DOWNSET &down : data.DownSet) {
        if (down.wThreads == 0 || down.wThreads > 15)
            down.wThreads = 5;
        if (down.wTimeout < 10)
            down.wTimeout = 30;
    }

    if (!fileRead) {
        data.SaveSet[7].wOptions |= OPT_FIX_ORDER | OPT_YUPOO_LARGE;
        data.SaveSet[8].byNameBase = 1;
        data.SaveSet[11].wOptions |= OPT_FIX_ORDER;
        data.SaveSet[16].wOptions |= OPT_FIX_ORDER;
        SetFieldText(data.SaveSet[17].szPrefix, QStringLiteral("?2) "));
    }

    SaveSettings(data, workFolder);
}

bool SaveSettings(const ST_SOFTDATA &data, const QString &workFolder)
{
    // Written to a temporary file and renamed, so a crash never leaves a torn image.
    return SaveFileAtomically(workFolder + kFileName,
                              QByteArray(reinterpret_cast<const char *>(&data), qsizetype(sizeof data)));
}

bool RememberText(char16_t (&history)[HISTORY_COUNT][HISTORY_UNITS], const QString &text)
{
    if (text.size() >= HISTORY_UNITS)
        return false;
    // Qt's case-insensitive comparison folds with Unicode simple case folding.
    for (const auto &entry : history) {
        if (QString::compare(FieldText(entry), text, Qt::CaseInsensitive) == 0)
            return false;
    }
    std::memmove(history[1], history[0], sizeof history[0] * (HISTORY_COUNT - 1));
    SetFieldText(history[0], text);
    return true;
}
