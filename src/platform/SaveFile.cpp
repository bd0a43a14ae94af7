#include "platform/SaveFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <cerrno>
#include <cstring>
#include <filesystem>

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

const QLatin1String kTempPrefix(".corvadin-");
const QLatin1String kTempSuffix(".part");
constexpr int kTempRandomChars = 6;

// Qt's names as std::filesystem wants them (UTF-8 on POSIX, as Qt encodes them there).
std::filesystem::path fsPath(const QString &path)
{
    return std::filesystem::path(path.toStdU16String());
}

// Creates a new temporary file of a recognisable name in `folder` (ending in "/").
// NewOnly: created here and now (O_EXCL), never someone else's file or a link.
// Unbuffered: a full disk shows in write()'s answer, not in a flush whose failure is
// easy to lose (QSaveFile::commit answers true after one and leaves an empty file).
bool openTempFile(QFile &file, const QString &folder, QFileDevice::Permissions permissions)
{
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    for (int attempt = 0; attempt < 16; ++attempt) {
        QString name = kTempPrefix;
        for (int k = 0; k < kTempRandomChars; ++k)
            name += QLatin1Char(alphabet[QRandomGenerator::global()->bounded(int(sizeof alphabet) - 1)]);
        file.setFileName(folder + name + kTempSuffix);
        if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered, permissions))
            return true;
        if (!QFileInfo::exists(file.fileName()))
            return false; // not a clash of names: the folder refuses
    }
    return false;
}

// Every byte, or false. A short write (the disk filled up, a size limit) is tried again
// for the rest, so that the error behind it is known.
bool writeAll(QFile &file, const QByteArray &bytes)
{
    qint64 done = 0;
    while (done < bytes.size()) {
        const qint64 n = file.write(bytes.constData() + done, bytes.size() - done);
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

bool syncToDisk(QFile &file)
{
#ifdef Q_OS_WIN
    return _commit(file.handle()) == 0;
#else
    return ::fdatasync(file.handle()) == 0;
#endif
}

std::unique_ptr<QFile> create(const QString &path, const QByteArray &bytes, bool ownerOnly, QString *error,
                              bool waitForDisk)
{
    const QFileInfo target(path);
    // A file that is replaced keeps its permissions; a link's are not the file's.
    QFileDevice::Permissions permissions = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    const bool keep = !ownerOnly && target.exists() && !target.isSymLink() && target.isFile();
    if (!ownerOnly && !keep)
        permissions |= QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ReadOther |
                       QFileDevice::WriteOther; // less the umask
    auto file = std::make_unique<QFile>();
    const auto fail = [&](const QString &why) {
        if (error)
            *error = why;
        if (file->isOpen()) {
            file->close();
            file->remove();
        }
        return nullptr;
    };
    if (!openTempFile(*file, target.absolutePath() + QLatin1Char('/'), permissions))
        return fail(file->errorString());
    if (keep)
        file->setPermissions(target.permissions());
    if (!writeAll(*file, bytes))
        return fail(file->errorString());
    if (waitForDisk && !syncToDisk(*file))
        return fail(QString::fromLocal8Bit(std::strerror(errno)));
    std::error_code ec;
    try {
        std::filesystem::rename(fsPath(file->fileName()), fsPath(path), ec);
    } catch (const std::exception &) {
        ec = std::make_error_code(std::errc::invalid_argument); // a name std::filesystem cannot convert
    }
    if (ec)
        return fail(QString::fromLocal8Bit(ec.message()));
    return file;
}

} // namespace

bool SaveFileAtomically(const QString &path, const QByteArray &bytes, bool ownerOnly, QString *error,
                        bool waitForDisk)
{
    return create(path, bytes, ownerOnly, error, waitForDisk) != nullptr;
}

std::unique_ptr<QFile> CreateFileAtomically(const QString &path, const QByteArray &bytes, QString *error)
{
    return create(path, bytes, false, error, true);
}

bool IsTempFileName(const QString &name)
{
    static const QRegularExpression pattern(
        QStringLiteral("^\\.corvadin-[A-Za-z0-9]{%1}\\.part$").arg(kTempRandomChars));
    return pattern.match(name).hasMatch();
}

int RemoveStaleTempFiles(const QString &folder)
{
    const QDir dir(folder);
    int removed = 0;
    const QStringList names = dir.entryList({kTempPrefix + QLatin1Char('*') + kTempSuffix},
                                            QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks);
    for (const QString &name : names) {
        if (IsTempFileName(name) && QFile::remove(dir.filePath(name)))
            ++removed;
    }
    return removed;
}
