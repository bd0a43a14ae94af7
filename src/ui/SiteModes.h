// Site modes of the top row and the classification of a typed address.
//
// Pure functions and constant tables; callable from any thread. The board site's match
// text is not a constant: it is the configured SITE_HOST, passed in by the caller.
#pragma once

#include <QString>
#include <QStringList>

namespace SiteModes {

inline constexpr int TABLE_ROWS = 22;     // rows of the classification table
inline constexpr int BOARD_ROW = 22;      // its last row: the picture-board site

// Display name of site mode 0..23 (empty outside that range).
QString ModeName(int mode);
// All 24 display names in mode order (entry n is mode n).
QStringList ModeNames();

// Classification table, rows 1..22.
int RowMode(int row);                        // site mode the row gives, -1 outside 1..22
// Match text of a row; row 22 answers boardSiteHost + "/" (the host as configured).
QString RowPattern(int row, const QString &boardSiteHost);

inline constexpr const char *QQ_WEIBO_PATTERN = "t.qq.com";
inline constexpr const char *QQ_GROUP_PATTERN = "qun.qq.com";

// Album kinds of mode 0, the entries of the album-kind list in this order.
QStringList AlbumKindNames();

// Login menu: command ids 32781..32815 (32795 is the custom entry, which opens the
// board site's home page, siteHomePage). Answers the page for an id, empty for an id
// that has none.
QString LoginPage(int commandId, const QString &siteHomePage);
inline constexpr int LOGIN_FIRST_ID = 32781;
inline constexpr int LOGIN_LAST_ID = 32815;
inline constexpr int LOGIN_CUSTOM_ID = 32795;

} // namespace SiteModes

// Classifies an address. Without "http://" or "https://" in it, answers currentMode
// unchanged and leaves *albumKind alone. Otherwise the first table row whose match text
// occurs at position 1 or later gives the mode (currentMode when none does); when that
// mode is 0 and albumKind is given, *albumKind becomes 2 (Tencent Weibo host), 1 (QQ
// group host) or 0.
int ClassifySiteMode(const QString &address, int currentMode, const QString &boardSiteHost, int *albumKind);
