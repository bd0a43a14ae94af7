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
    QVariantMap changed;
    if (mine.retries != base.retries)
        changed.insert(kRetries, mine.retries);
    if (mine.sleepRequestMs != base.sleepRequestMs)
        changed.insert(kSleepRequest, mine.sleepRequestMs / 1000.0);
    if (!WriteOptions(file, changed))
        return false;
    base = mine;
    return true;
}

bool WriteOptions(const QString &file, QVariantMap values)
{
    const bool link = QFileInfo(file).isSymLink();
    QVariantMap kept; // what a link at the name leads to, of this program's groups
    {
        const QSettings now(file, QSettings::IniFormat);
        for (auto it = values.begin(); it != values.end();) {
            QVariant held = now.value(it.key());
            it = held.convert(it->metaType()) && held == *it ? values.erase(it) : std::next(it);
        }
        if (values.isEmpty())
            return true;
        if (link) {
            for (const QString &key : now.allKeys())
                if (key.startsWith(QLatin1String("Requests/")) || key.startsWith(QLatin1String("Window/")))
                    kept.insert(key, now.value(key));
        }
    }
    if (link && !QFile::remove(file))
        return false;
    QSettings ini(file, QSettings::IniFormat);
    for (const QVariantMap &m : {kept, values})
        for (auto it = m.cbegin(); it != m.cend(); ++it)
            ini.setValue(it.key(), *it);
    ini.sync();
    // A FormatError is about what was read: the keys are written all the same.
    return ini.status() != QSettings::AccessError;
}
