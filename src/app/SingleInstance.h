// One window per working folder. The first start of the program for a profile holds a
// lock file in the profile's config folder for as long as it runs and listens on a local
// socket named after that folder; a later start finds the lock taken, hands its targets
// (the addresses and paths of its command line) to the first over the socket and ends.
//
// The lock is the system's own (FileLock), so a first start that crashed leaves nothing
// that keeps the next one out; its stale socket is replaced by the next first start.
//
// GUI thread (or the main thread before the window exists). The window's layer only: the
// core never links Qt Network.
#pragma once

#include "platform/FileLock.h"

#include <QObject>
#include <QStringList>
#include <memory>

class Profile;
class QLocalServer;
class QDeadlineTimer;
class QLocalSocket;

class CSingleInstance : public QObject {
    Q_OBJECT
public:
    explicit CSingleInstance(const Profile &profile, QObject *parent = nullptr);
    ~CSingleInstance() override;

    enum class Role {
        First,    // this process holds the folder and listens (or cannot, see Start)
        HandedOver, // another process holds it and took the targets
        NoAnswer, // another process holds it but did not answer in time
    };
    // Becomes the first process of the folder, or hands `targets` to the one that is.
    // When the lock file cannot be made at all (a folder that cannot be written), this
    // process goes on as the first, without a listener.
    Role Start(const QStringList &targets, int timeoutMs = 5000);

    // The socket's name for a profile: the same for every start on the same folder by
    // the same user, different otherwise. On POSIX a path in the user's runtime folder.
    static QString ServerName(const Profile &profile);

Q_SIGNALS:
    // A later start handed over its targets (possibly none: it only asks to be shown).
    void targetsReceived(const QStringList &targets);

private:
    bool HandOver(QLocalSocket &socket, const QStringList &targets, const QDeadlineTimer &deadline);
    void OnConnection();

    QString m_name;
    QString m_lockPath;
    FileLock m_lock;
    QLocalServer *m_server = nullptr;
};
