// The settings soft.dat has no room for: how often a failed request is tried again and
// how far apart requests to one host are. soft.dat keeps its 19808-byte layout; these
// live in a small INI file beside it (Profile::optionsFile, "corvadin.ini"):
//
//   [Requests]
//   Retries=2          ; a failed picture or pin page is tried again this often (0-10)
//   SleepRequest=0     ; least seconds between two requests to one host (0-600, decimals)
//
// The window and the CLI read them at start-up; only the CLI's --save-settings writes
// them. A missing file, key or value out of range gives the default. Plain values;
// any thread.
#pragma once

#include <QString>
#include <cstdint>

struct RequestSettings {
    static constexpr int kMaxRetries = 10;
    static constexpr uint32_t kMaxSleepRequestMs = 600 * 1000;

    int retries = 2;             // tries after the first: three in all
    uint32_t sleepRequestMs = 0; // least gap between two requests to one host
};

RequestSettings LoadRequestSettings(const QString &file);
// Writes the two keys, keeping whatever else the file holds (QSettings: a lock file
// while writing, a temporary file renamed into place). Answers whether it was written.
bool SaveRequestSettings(const RequestSettings &settings, const QString &file);
