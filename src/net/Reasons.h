// The reasons a failed request gives, in the reader's language.
//
// The HTTP session and the download pool say why a request failed in fixed English words
// ("timed out", "HTTP 404", "file not written: ..."): the CLI prints them and --json
// carries them as they are, for scripts. The window shows them in its own language through
// ReasonText. A reason made here that the table does not know (libcurl's own text for a
// rare error) is shown as it is. When the session gets a new reason, give it a row in
// Reasons.cpp.
//
// Any thread; a plain function of its text and the installed translators.
#pragma once

#include <QString>

QString ReasonText(const QString &reason);
