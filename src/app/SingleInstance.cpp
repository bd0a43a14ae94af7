#include "app/SingleInstance.h"

#include "core/Profile.h"
#include "platform/Platform.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <memory>

namespace {

// The answer of the first process once it has the targets.
constexpr char kAck = 'k';
// How long one connection may take to deliver its targets.
constexpr int kReadTimeoutMs = 5000;

QByteArray frame(const QStringList &targets)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_0);
    out << targets;
    return bytes;
}

} // namespace

CSingleInstance::CSingleInstance(const Profile &profile, QObject *parent)
    : QObject(parent), m_name(ServerName(profile)), m_lockPath(profile.instanceLockFile()), m_lock(m_lockPath)
{
}

CSingleInstance::~CSingleInstance() = default;

QString CSingleInstance::ServerName(const Profile &profile)
{
    // The user's id tells users apart; the canonical folder tells "-w ." from "-w $PWD".
    QString folder = QFileInfo(profile.configFolder()).canonicalFilePath();
    if (folder.isEmpty())
        folder = QDir::cleanPath(profile.configFolder());
    const QByteArray key = (Platform::UserId() + QLatin1Char('\n') + folder).toUtf8();
    const QString name = QStringLiteral("corvadin-") +
                         QString::fromLatin1(QCryptographicHash::hash(key, QCryptographicHash::Sha256).toHex().left(24));
#ifdef Q_OS_UNIX
    // In the user's runtime folder (XDG_RUNTIME_DIR: the user's own, mode 0700, which Qt
    // checks), not in the shared temporary folder, where another user could take the
    // predictable name first and receive what a second start hands over.
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (!runtime.isEmpty())
        return runtime + QLatin1Char('/') + name;
#endif
    return name; // Windows: a named pipe, created with the user's access only
}

CSingleInstance::Role CSingleInstance::Start(const QStringList &targets, int timeoutMs)
{
    // The holder may still be starting, or just ending: until the time is up, try both
    // to take the folder and to reach its holder.
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        if (m_lock.lock(0)) {
            // Ours now: a socket left by a first start that crashed goes.
            QLocalServer::removeServer(m_name);
            m_server = new QLocalServer(this);
            m_server->setSocketOptions(QLocalServer::UserAccessOption);
            if (m_server->listen(m_name))
                connect(m_server, &QLocalServer::newConnection, this, &CSingleInstance::OnConnection);
            return Role::First;
        }
        // No lock file at all (a folder that cannot be written): nobody can hold this
        // folder, so this start goes on alone.
        if (!QFileInfo::exists(m_lockPath))
            return Role::First;
        QLocalSocket socket;
        socket.connectToServer(m_name);
        if (socket.waitForConnected(200))
            return HandOver(socket, targets, deadline) ? Role::HandedOver : Role::NoAnswer;
        if (deadline.hasExpired())
            return Role::NoAnswer;
        QThread::msleep(100);
    }
}

bool CSingleInstance::HandOver(QLocalSocket &socket, const QStringList &targets, const QDeadlineTimer &deadline)
{
    const auto remaining = [&deadline] { return int(std::max<qint64>(deadline.remainingTime(), 1)); };
    socket.write(frame(targets));
    if (!socket.waitForBytesWritten(remaining()))
        return false;
    while (socket.bytesAvailable() == 0 && !deadline.hasExpired() && socket.state() == QLocalSocket::ConnectedState)
        socket.waitForReadyRead(remaining());
    char ack = 0;
    return socket.getChar(&ack) && ack == kAck;
}

void CSingleInstance::OnConnection()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        // A sender that never completes its message is dropped.
        QTimer::singleShot(kReadTimeoutMs, socket, [socket] { socket->abort(); });
        auto stream = std::make_shared<QDataStream>(socket);
        stream->setVersion(QDataStream::Qt_6_0);
        const auto read = [this, socket, stream] {
            stream->startTransaction();
            QStringList targets;
            *stream >> targets;
            if (!stream->commitTransaction())
                return; // more to come
            socket->putChar(kAck);
            socket->flush();
            socket->disconnectFromServer();
            Q_EMIT targetsReceived(targets);
        };
        connect(socket, &QLocalSocket::readyRead, this, read);
        if (socket->bytesAvailable() > 0)
            read();
    }
}
