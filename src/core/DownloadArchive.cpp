#include "core/DownloadArchive.h"

#include "platform/Platform.h"
#include "platform/SaveFile.h"

#include <QFile>

namespace {

bool fitsOnALine(const QString &text)
{
    return !text.contains(u'\t') && !text.contains(u'\n') && !text.contains(u'\r');
}

QByteArray line(const QString &address, const QString &fileName)
{
    return address.toUtf8() + '\t' + fileName.toUtf8() + '\n';
}

} // namespace

DownloadArchive::DownloadArchive() = default;
DownloadArchive::~DownloadArchive() = default;

QString DownloadArchive::FileName()
{
    return QStringLiteral(".corvadin-archive");
}

void DownloadArchive::Open(const QString &folder)
{
    Close();
    std::lock_guard lock(m_mutex);
    m_folder = folder;
    QFile file(folder + FileName());
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QByteArray bytes = file.readAll();
    // Only whole lines: a last line without its LF is what a crash left of a write.
    qsizetype start = 0;
    for (qsizetype end = bytes.indexOf('\n'); end >= 0; start = end + 1, end = bytes.indexOf('\n', start)) {
        const QByteArray entry = bytes.mid(start, end - start);
        const qsizetype tab = entry.indexOf('\t');
        const QString address = QString::fromUtf8(tab < 0 ? entry : entry.left(tab));
        const QString name = tab < 0 ? QString() : QString::fromUtf8(entry.mid(tab + 1));
        if (!address.isEmpty() && !address.contains(u'\r')) {
            assign(address, name);
            m_atOpen.insert(address);
        }
    }
}

void DownloadArchive::assign(const QString &address, const QString &fileName)
{
    const auto known = m_nameOf.constFind(address);
    if (known == m_nameOf.cend())
        m_order.append(address);
    else if (!known->isEmpty() && m_addressOf.value(*known) == address)
        m_addressOf.remove(*known); // renamed
    // A name holds one picture: an earlier picture of that name no longer has a file.
    const QString earlier = m_addressOf.value(fileName);
    if (!fileName.isEmpty() && !earlier.isEmpty() && earlier != address)
        m_nameOf.insert(earlier, QString());
    m_nameOf.insert(address, fileName);
    if (!fileName.isEmpty())
        m_addressOf.insert(fileName, address);
}

QString DownloadArchive::Close()
{
    std::lock_guard lock(m_mutex);
    // The album's lines reach the disk with its pictures: after a power loss the archive
    // still knows every picture it saved (else they would come again as "(1)" copies).
    if (m_file && m_error.isEmpty()) {
        if (QString why; !SyncFile(*m_file, &why))
            m_error = why;
    }
    m_file.reset();
    m_folder.clear();
    m_nameOf.clear();
    m_addressOf.clear();
    m_order.clear();
    m_atOpen.clear();
    return std::exchange(m_error, QString());
}

QString DownloadArchive::folder() const
{
    std::lock_guard lock(m_mutex);
    return m_folder;
}

bool DownloadArchive::Contains(const QString &address) const
{
    std::lock_guard lock(m_mutex);
    return m_nameOf.contains(address);
}

bool DownloadArchive::SavedBefore(const QString &address) const
{
    std::lock_guard lock(m_mutex);
    return m_atOpen.contains(address);
}

QString DownloadArchive::AddressOf(const QString &fileName) const
{
    std::lock_guard lock(m_mutex);
    return m_addressOf.value(fileName);
}

QHash<QString, QString> DownloadArchive::Files() const
{
    std::lock_guard lock(m_mutex);
    return m_addressOf;
}

void DownloadArchive::Record(const QString &address, const QString &fileName)
{
    std::lock_guard lock(m_mutex);
    if (m_folder.isEmpty() || address.isEmpty() || !fitsOnALine(address) || !fitsOnALine(fileName))
        return;
    if (m_nameOf.contains(address) && m_nameOf.value(address) == fileName)
        return; // the same picture saved again under the same name
    assign(address, fileName);
    if (!m_error.isEmpty())
        return; // the file failed already; the album goes on without it

    const QString path = m_folder + FileName();
    const QByteArray bytes = line(address, fileName);
    if (!m_file) {
        // Appended to the file as it stands, where another run writing into this album
        // appends too; replaced whole (what Open read, with this record) only when its
        // last line was cut by a crash or the name holds a link.
        QString why;
        m_file = OpenForAppending(path, &why);
        const bool replace = !m_file && why.isEmpty();
        if (replace) {
            QByteArray whole;
            for (const QString &a : std::as_const(m_order))
                whole += line(a, m_nameOf.value(a));
            m_file = CreateFileAtomically(path, whole, &why);
        }
        if (!m_file) {
            m_error = why;
            return;
        }
        Platform::SetHidden(path);
        if (replace)
            return; // this record is in it
    }
    if (m_file->write(bytes) != bytes.size()) {
        m_error = m_file->errorString();
        m_file.reset(); // a torn line is dropped by the next reader; nothing more goes after it
    }
}
