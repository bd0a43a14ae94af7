// The persisted settings image: "soft.dat" in the working folder, stored byte for
// byte. 19808 bytes, little-endian, texts UTF-16LE and NUL-terminated inside their
// fixed fields, one download record and one naming record per site mode.
//
// Owned by AppState; changed on the GUI thread (dialogs, option toggles) and, for
// the address history, by the list thread. Callers hold AppState::settingsMutex.
#pragma once

#include <QString>
#include <bit>
#include <cstddef>
#include <cstdint>

inline constexpr int SITE_MODE_COUNT = 24;
inline constexpr int SITE_MODE_BOARD = 18; // the picture-board site, the only active mode
inline constexpr int HISTORY_COUNT = 5;
inline constexpr int HISTORY_UNITS = 400;      // 399 characters and a NUL
inline constexpr int SAVESET_TEXT_UNITS = 40;  // the dialog stores at most 38 characters
inline constexpr int SAVESET_TEXT_MAX = 38;

// wOptions bits.
enum : uint16_t {
    OPT_FIX_FORMAT = 0x0001,
    OPT_FIX_ORDER = 0x0002,
    OPT_NAMES_FILE = 0x0004,
    OPT_LIST_ONLY = 0x0008,
    OPT_OPEN_FOLDER = 0x0010,
    OPT_TAOBAO_MAIN = 0x0020,
    OPT_SKIP_DOWNLOADED = 0x0040,
    OPT_YUPOO_LARGE = 0x0080,
    OPT_TAOBAO_DESC = 0x0100,
};

struct ST_DOWNSET {
    uint16_t wMinKB;   // smallest picture to keep, KB (0 = no minimum)
    uint16_t wMaxKB;   // largest picture to keep, KB (0 = no maximum)
    uint16_t wThreads; // download workers, 1 to 15
    uint16_t wTimeout; // seconds, at least 10
};

struct ST_SAVESET {
    char16_t szPrefix[SAVESET_TEXT_UNITS];
    char16_t szSuffix[SAVESET_TEXT_UNITS];
    char16_t szReplaceWhat[SAVESET_TEXT_UNITS];
    char16_t szReplaceWith[SAVESET_TEXT_UNITS];
    char16_t szFolderPrefix[SAVESET_TEXT_UNITS];
    char16_t szFolderSuffix[SAVESET_TEXT_UNITS];
    uint16_t wOptions;   // OPT_* bits
    uint8_t byNameBase;  // 0 description, 1 number, 2 address
    uint8_t byFolderName; // 0 album name, 1 none
};

struct ST_SOFTDATA {
    ST_DOWNSET DownSet[SITE_MODE_COUNT];
    ST_SAVESET SaveSet[SITE_MODE_COUNT];
    char16_t AddressHistory[HISTORY_COUNT][HISTORY_UNITS];  // entry 0 is the newest
    char16_t SavePathHistory[HISTORY_COUNT][HISTORY_UNITS];
};

static_assert(std::endian::native == std::endian::little, "soft.dat is stored in host order");
static_assert(sizeof(ST_DOWNSET) == 8);
static_assert(sizeof(ST_SAVESET) == 484);
static_assert(offsetof(ST_SAVESET, wOptions) == 480);
static_assert(offsetof(ST_SAVESET, byNameBase) == 482);
static_assert(offsetof(ST_SOFTDATA, SaveSet) == 192);
static_assert(offsetof(ST_SOFTDATA, AddressHistory) == 11808);
static_assert(offsetof(ST_SOFTDATA, SavePathHistory) == 15808);
static_assert(sizeof(ST_SOFTDATA) == 19808);

// Text of a fixed NUL-terminated field (stops at the first NUL or the field's end).
QString FieldText(const char16_t *field, int units);
template <int N> QString FieldText(const char16_t (&field)[N]) { return FieldText(field, N); }
// Stores at most maxChars units of text, NUL-terminated, the rest of the field zeroed.
void SetFieldText(char16_t *field, int units, const QString &text, int maxChars);
template <int N> void SetFieldText(char16_t (&field)[N], const QString &text, int maxChars = N - 1)
{
    SetFieldText(field, N, text, maxChars);
}

// Reading and writing "soft.dat" (workFolder ends in a separator). Several processes
// may share one working folder (the window, corvadin-cli runs): a process writes the file
// only when it changed something, and then only what it changed, so that a change
// another process saved meanwhile stays. Every write takes the lock "soft.dat.lock"
// beside the file (platform/FileLock), rereads the file and replaces it atomically.
//
// Out-of-range thread and time-out values are corrected whenever the file is read; a
// load does not write the corrected values back (a load is a read, and every reader
// corrects the same way); the next save writes them.

// Fills the image from the file and applies the corrections. When the file cannot be
// read, the first-run defaults apply and, with `create`, the file is created with them
// (unless another process created it meanwhile: then that one is read). An existing
// file is never written. Answers whether the image came from a file.
bool LoadSettings(ST_SOFTDATA &data, const QString &workFolder, bool create = true);

// Writes into the file what `mine` changed since `base` (the image as loaded or last
// saved by this process): under the lock it rereads the file and puts over it each
// field whose value differs between base and mine (MergeSettings), then replaces the
// file. On success base becomes mine. Writes nothing and answers true when nothing
// changed; answers false when the file could not be locked or written (base stays, so
// the next save tries again).
bool SaveSettingsChanges(const ST_SOFTDATA &mine, ST_SOFTDATA &base, const QString &workFolder);

// What SaveSettingsChanges writes: `disk` with this process's changes put over it.
// A field is a number or text of a record, each option bit of wOptions on its own; of
// the two histories, the entries mine holds and base lacked go on top of disk's, oldest
// first (RememberText), so entries another process added stay too.
ST_SOFTDATA MergeSettings(const ST_SOFTDATA &disk, const ST_SOFTDATA &base, const ST_SOFTDATA &mine);

// Replaces the file with the whole image, under the lock. Answers whether it was
// written; a file that cannot be written is left alone.
bool SaveSettings(const ST_SOFTDATA &data, const QString &workFolder);

// Puts text at the top of a five-entry history unless it has 400 or more characters or
// equals an entry ignoring case; answers true when it was put there.
bool RememberText(char16_t (&history)[HISTORY_COUNT][HISTORY_UNITS], const QString &text);
