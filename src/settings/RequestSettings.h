// The settings soft.dat has no room for: how often a failed request is tried again and
// how far apart requests to one host are. soft.dat keeps its 19808-byte layout; these
// live in a small INI file beside it (Profile::optionsFile, "corvadin.ini"):
//
//   [Requests]
//   Retries=2          ; a failed picture or pin page is tried again this often (0-10)
//   SleepRequest=0     ; least seconds between two requests to one host (0-600, decimals)
//   [Window]
//   Geometry=...       ; the window's size and place (the window's own)
//
// The window and the CLI read them at start-up; only the CLI's --save-settings writes
// [Requests], only the window [Window]. A missing file, key or value out of range gives
// the default. Plain values; any thread.
//
// Several processes share the file as they share soft.dat. Every write goes through
// WriteOptions: a process writes only the keys it changed, and only when it changed one.
// QSettings does the merge: under its lock file ("corvadin.ini.lock", there while a write
// is under way; a dead holder's is taken over) it reads the file again, puts the changed
// keys over it and replaces the file through a temporary file and a rename. That lock is
// all this file needs (a FileLock beside it would add nothing, and one of the same name
// would clash with it). Comments do not survive a write.
#pragma once

#include <QString>
#include <QVariantMap>
#include <cstdint>

struct RequestSettings {
    static constexpr int kMaxRetries = 10;
    static constexpr uint32_t kMaxSleepRequestMs = 600 * 1000;

    int retries = 2;             // tries after the first: three in all
    uint32_t sleepRequestMs = 0; // least gap between two requests to one host

    bool operator==(const RequestSettings &) const = default;
};

RequestSettings LoadRequestSettings(const QString &file);
// Writes the keys in which `mine` differs from `base` (the values as loaded or last
// saved) with WriteOptions, then base = mine. Writes nothing when nothing differs.
// Answers whether the file holds mine's changes.
bool SaveRequestSettingsChanges(const RequestSettings &mine, RequestSettings &base, const QString &file);

// Puts `values` ("Group/Key" -> value) over what the file holds now and keeps the other
// keys. A value the file holds already is not written again, and nothing is written when
// no value is left. A symbolic link at the file's name is never written through
// (QSettings would write its target, or create it when the link dangles): it is removed,
// and the file that takes its place holds what the link led to in [Requests] and
// [Window], with `values` over it. Answers false when the file could not be written.
bool WriteOptions(const QString &file, QVariantMap values);
