#include "platform/SaveFile.h"

#include <QSaveFile>

bool SaveFileAtomically(const QString &path, const QByteArray &bytes, bool ownerOnly)
{
    QSaveFile file(path);
    // Unbuffered, so a full disk shows in the write's count: a buffered QSaveFile can
    // commit a short file when only its final flush fails.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return false;
    if (ownerOnly)
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    if (file.write(bytes) != bytes.size())
        return false; // the destructor throws the temporary file away
    return file.commit();
}
