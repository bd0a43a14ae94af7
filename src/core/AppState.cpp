#include "core/AppState.h"

#include "net/CookieStore.h"
#include "net/URLSource2.h"

#include <QDir>
#include <QStandardPaths>

#include <algorithm>

bool RequestStop(std::atomic<uint8_t> &state, uint8_t stop)
{
    uint8_t now = state;
    while (now != 0 && now != stop && !state.compare_exchange_weak(now, stop)) {
    }
    return now != 0;
}

bool SetUnlessStopped(std::atomic<uint8_t> &state, uint8_t to, uint8_t stop)
{
    uint8_t now = state;
    while (now != stop && !state.compare_exchange_weak(now, to)) {
    }
    return now != stop;
}

AppState::AppState(const Profile &profile) : profile(profile)
{
    site = SiteConfig::Load(profile.siteFile());
}

AppState::~AppState() = default;

void AppState::Initialise()
{
    // The standard locations may not exist yet on a first run.
    if (writesSettingsFiles)
        profile.MakeFolders();
    {
        std::lock_guard lock(settingsMutex);
        LoadSettings(settings, profile.configFolder(), writesSettingsFiles);
        m_storedSettings = settings;
        requests = LoadRequestSettings(profile.optionsFile());
        m_storedRequests = requests;
    }
    CookieStore::Open(profile.cookieFile());
    CookieStore::SetSaving(writesSettingsFiles);
}

void AppState::ApplyRetryPolicy(ST_URLREQUEST &request) const
{
    request.attempts = uint8_t(1 + std::clamp(requests.retries, 0, RequestSettings::kMaxRetries));
    request.backoffBaseMs = timings.backoffBaseMs;
    request.backoffMaxMs = timings.backoffMaxMs;
    ApplyPacing(request);
}

void AppState::ApplyPacing(ST_URLREQUEST &request) const
{
    request.retryAfterMaxMs = timings.retryAfterMaxMs;
    request.requestGapMs = requests.sleepRequestMs;
}

ST_DOWNSET AppState::DownSet() const
{
    std::lock_guard lock(settingsMutex);
    return downSetOverride ? *downSetOverride : settings.DownSet[SITE_MODE_BOARD];
}

ST_SAVESET AppState::SaveSet() const
{
    std::lock_guard lock(settingsMutex);
    return saveSetOverride ? *saveSetOverride : settings.SaveSet[SITE_MODE_BOARD];
}

QString AppState::StartupSavePath(bool create) const
{
    {
        std::lock_guard lock(settingsMutex);
        const QString newest = FieldText(settings.SavePathHistory[0]);
        if (!newest.isEmpty())
            return newest;
    }
    const QString sep = QDir::separator();
    QString folder = profile.defaultSaveFolder();
    if (profile.isPortable()) {
        const QString lower = folder.toLower();
        const QString temp = QDir::toNativeSeparators(QDir(QDir::tempPath()).canonicalPath()).toLower() + sep;
        const bool temporary = lower.contains(sep + QStringLiteral("temp") + sep) ||
                               lower.contains(sep + QStringLiteral("locals")) || lower.startsWith(temp);
        if (!temporary)
            return folder;
        QString documents = QDir::toNativeSeparators(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation));
        if (!documents.endsWith(sep))
            documents += sep;
        folder = documents + QStringLiteral("Corvadin") + sep;
    }
    if (create)
        QDir().mkpath(folder);
    return folder;
}

bool AppState::SaveSettingsNow()
{
    std::lock_guard lock(settingsMutex);
    return saveSettingsLocked();
}

bool AppState::saveSettingsLocked()
{
    return writesSettingsFiles && SaveSettingsChanges(settings, m_storedSettings, profile.configFolder());
}

bool AppState::SaveRequestsNow()
{
    std::lock_guard lock(settingsMutex);
    return writesSettingsFiles && SaveRequestSettingsChanges(requests, m_storedRequests, profile.optionsFile());
}

bool AppState::RememberAndSave(char16_t (&history)[HISTORY_COUNT][HISTORY_UNITS], const QString &text)
{
    std::lock_guard lock(settingsMutex);
    const bool added = RememberText(history, text);
    if (added)
        saveSettingsLocked();
    return added;
}

RunSummary AppState::Summary() const
{
    std::lock_guard lock(m_summaryMutex);
    return m_summary;
}

void AppState::ResetSummary()
{
    std::lock_guard lock(m_summaryMutex);
    m_summary = {};
}

void AppState::AddOutcome(const PictureOutcome &outcome)
{
    if (outcome.saved) {
        const QString folder = archive.folder();
        if (!folder.isEmpty() && outcome.file.startsWith(folder) && !outcome.file.mid(folder.size()).contains(QDir::separator()))
            archive.Record(outcome.address, outcome.file.mid(folder.size()));
    }
    std::lock_guard lock(m_summaryMutex);
    if (outcome.saved) {
        ++m_summary.saved;
        m_summary.bytes += outcome.bytes;
        if (!outcome.warning.isEmpty())
            m_summary.warnings.append(outcome);
    } else {
        ++m_summary.failed;
        m_summary.failures.append(outcome);
    }
}
