#include "settings/RequestSettings.h"

#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include <cmath>

namespace {

const QString kRetries = QStringLiteral("Requests/Retries");
const QString kSleepRequest = QStringLiteral("Requests/SleepRequest");

} // namespace

RequestSettings LoadRequestSettings(const QString &file)
{
    const QSettings ini(file, QSettings::IniFormat);
    RequestSettings s;
    bool ok = false;
    const int retries = ini.value(kRetries).toInt(&ok);
    if (ok && retries >= 0 && retries <= RequestSettings::kMaxRetries)
        s.retries = retries;
    const double seconds = ini.value(kSleepRequest).toDouble(&ok);
    if (ok && std::isfinite(seconds) && seconds >= 0 && seconds * 1000 <= RequestSettings::kMaxSleepRequestMs)
        s.sleepRequestMs = uint32_t(std::lround(seconds * 1000));
    return s;
}

bool SaveRequestSettingsChanges(const RequestSettings &mine, RequestSettings &base, const QString &file)
{
    if (mine == base)
        return true;
    // QSettings opens the file and its replacement through a link at the name (a dangling
    // one included): what stands there goes first, and then the file holds all of mine.
    const bool replaced = QFileInfo(file).isSymLink();
    if (replaced && !QFile::remove(file))
        return false;
    QSettings ini(file, QSettings::IniFormat);
    if (replaced || mine.retries != base.retries)
        ini.setValue(kRetries, mine.retries);
    if (replaced || mine.sleepRequestMs != base.sleepRequestMs)
        ini.setValue(kSleepRequest, mine.sleepRequestMs / 1000.0);
    ini.sync();
    if (ini.status() == QSettings::AccessError)
        return false; // (a FormatError is about what was read: the keys are written)
    base = mine;
    return true;
}
