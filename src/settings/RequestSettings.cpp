#include "settings/RequestSettings.h"

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

bool SaveRequestSettings(const RequestSettings &settings, const QString &file)
{
    QSettings ini(file, QSettings::IniFormat);
    ini.setValue(kRetries, settings.retries);
    ini.setValue(kSleepRequest, settings.sleepRequestMs / 1000.0);
    ini.sync();
    return ini.status() == QSettings::NoError;
}
