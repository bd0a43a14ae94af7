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
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
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

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// Takes the writer's lock on a temporary file just created. False when a clean-up in
// another process removed the file between its creation and the lock (it found it
// unlocked): the caller makes another.
bool lockAsOwner(QFile &file)
{
#ifdef Q_OS_WIN
    Q_UNUSED(file);
    return true; // an open file cannot be removed
#else
    int rc;
    do
        rc = ::flock(file.handle(), LOCK_EX);
    while (rc != 0 && errno == EINTR);
    struct stat st {};
    return rc == 0 && ::fstat(file.handle(), &st) == 0 && st.st_nlink > 0;
#endif
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
        if (file.open(QIODevice::ReadWrite | QIODevice::NewOnly | QIODevice::Unbuffered, permissions)) {
            if (lockAsOwner(file))
                return true;
            file.close();
            continue;
        }
        if (!QFileInfo::exists(file.fileName()))
            return false; // not a clash of names: the folder refuses
    }
    return false;
}

bool syncToDisk(QFile &file)
{
#ifdef Q_OS_WIN
    return _commit(file.handle()) == 0;
#else
    return ::fdatasync(file.handle()) == 0;
#endif
}

#ifndef Q_OS_WIN
// Removes a temporary file unless its writer holds the lock on it.
bool removeIfUnowned(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    // No link is followed, and no FIFO planted under such a name blocks the open.
    const int fd = ::open(name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool removed = false;
    struct stat opened {}, named {};
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode)
        && ::lstat(name.constData(), &named) == 0 && named.st_dev == opened.st_dev && named.st_ino == opened.st_ino)
        removed = ::unlink(name.constData()) == 0;
    ::close(fd);
    return removed;
}
#endif

} // namespace

PartFile::PartFile() = default;

PartFile::~PartFile()
{
    Discard();
}

bool PartFile::Open(const QString &targetPath, bool ownerOnly, QString *error)
{
    Discard();
    const QFileInfo target(targetPath);
    // A file that is replaced keeps its permissions; a link's are not the file's.
    QFileDevice::Permissions permissions = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    const bool keep = !ownerOnly && target.exists() && !target.isSymLink() && target.isFile();
    if (!ownerOnly && !keep)
        permissions |= QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ReadOther |
                       QFileDevice::WriteOther; // less the umask
    auto file = std::make_unique<QFile>();
    if (!openTempFile(*file, target.absolutePath() + QLatin1Char('/'), permissions)) {
        if (error)
            *error = file->errorString();
        return false;
    }
    if (keep)
        file->setPermissions(target.permissions());
    m_file = std::move(file);
    m_target = targetPath;
    m_size = 0;
    return true;
}

bool PartFile::isOpen() const
{
    return m_file != nullptr;
}

bool PartFile::Write(const char *data, qint64 size, QString *error)
{
    if (!m_file)
        return false;
    // A short write (the disk filled up, a size limit) is tried again for the rest, so
    // that the error behind it is known.
    qint64 done = 0;
    while (done < size) {
        const qint64 n = m_file->write(data + done, size - done);
        if (n <= 0) {
            if (error)
                *error = m_file->errorString();
            return false;
        }
        done += n;
    }
    m_size += size;
    return true;
}

std::unique_ptr<QFile> PartFile::Commit(bool waitForDisk, QString *error)
{
    if (!m_file)
        return nullptr;
    const auto fail = [&](const QString &why) -> std::unique_ptr<QFile> {
        if (error)
            *error = why;
        Discard();
        return nullptr;
    };
    if (waitForDisk && !syncToDisk(*m_file))
        return fail(systemError());
    std::error_code ec;
    try {
        std::filesystem::rename(fsPath(m_file->fileName()), fsPath(m_target), ec);
    } catch (const std::exception &) {
        ec = std::make_error_code(std::errc::invalid_argument); // a name std::filesystem cannot convert
    }
    if (ec)
        return fail(QString::fromLocal8Bit(ec.message()));
    m_target.clear();
    m_size = 0;
    return std::move(m_file);
}

void PartFile::Discard()
{
    if (!m_file)
        return;
    m_file->close();
    m_file->remove();
    m_file.reset();
    m_target.clear();
    m_size = 0;
}

bool SaveFileAtomically(const QString &path, const QByteArray &bytes, bool ownerOnly, QString *error,
                        bool waitForDisk)
{
    PartFile part;
    return part.Open(path, ownerOnly, error) && part.Write(bytes.constData(), bytes.size(), error)
           && part.Commit(waitForDisk, error) != nullptr;
}

std::unique_ptr<QFile> CreateFileAtomically(const QString &path, const QByteArray &bytes, QString *error)
{
    PartFile part;
    if (!part.Open(path, false, error) || !part.Write(bytes.constData(), bytes.size(), error))
        return nullptr;
    return part.Commit(true, error);
}

std::unique_ptr<QFile> OpenForAppending(const QString &path, QString *error)
{
    const auto refused = [error] {
        if (error)
            *error = systemError();
        return nullptr;
    };
    auto file = std::make_unique<QFile>(path);
#ifdef Q_OS_WIN
    const QFileInfo info(path);
    if (info.isSymLink() || (info.exists() && !info.isFile()))
        return nullptr;
    if (!file->open(QIODevice::ReadWrite | QIODevice::Append | QIODevice::Unbuffered)) {
        if (error)
            *error = file->errorString();
        return nullptr;
    }
    if (file->size() > 0) {
        char last = 0;
        if (!file->seek(file->size() - 1) || !file->getChar(&last) || last != '\n')
            return nullptr;
    }
    return file;
#else
    const QByteArray name = QFile::encodeName(path);
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 3; ++attempt) {
        fd = ::open(name.constData(), O_RDWR | O_APPEND | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0 && errno == ENOENT) {
            // Not there yet: made here, and never through a link (O_EXCL refuses one).
            fd = ::open(name.constData(), O_RDWR | O_APPEND | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
            if (fd < 0 && errno == EEXIST)
                continue; // another writer made it meanwhile, or a link stands there
        }
        if (fd < 0)
            return errno == ELOOP ? nullptr : refused();
    }
    if (fd < 0)
        return nullptr;
    struct stat st {};
    char last = '\n';
    const bool lines = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
                       (st.st_size == 0 || (::pread(fd, &last, 1, st.st_size - 1) == 1 && last == '\n'));
    if (!lines || !file->open(fd, QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered,
                              QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return nullptr;
    }
    return file;
#endif
}

bool SyncFile(QFile &file, QString *error)
{
    const bool ok = syncToDisk(file);
    if (!ok && error)
        *error = systemError();
    return ok;
}

bool SyncFolder(const QString &folder, QString *error)
{
#ifdef Q_OS_WIN
    Q_UNUSED(folder);
    Q_UNUSED(error);
    return true;
#else
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    bool ok = fd >= 0 && ::fsync(fd) == 0;
    if (!ok && error)
        *error = systemError();
    if (fd >= 0)
        ::close(fd);
    return ok;
#endif
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
        if (!IsTempFileName(name))
            continue;
#ifdef Q_OS_WIN
        if (QFile::remove(dir.filePath(name))) // fails while its writer has it open
            ++removed;
#else
        if (removeIfUnowned(dir.filePath(name)))
            ++removed;
#endif
    }
    return removed;
}
