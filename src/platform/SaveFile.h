// Writing a small file whole or not at all: a temporary file beside it, renamed over it
// when every byte is written. Safe on any thread.
#pragma once

#include <QByteArray>
#include <QString>

// Answers whether the file now holds exactly `bytes`; on failure the old file (if any)
// is left as it was. ownerOnly makes it readable and writable by the user alone.
bool SaveFileAtomically(const QString &path, const QByteArray &bytes, bool ownerOnly = false);
