#include "TestSupport.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QThread>

namespace {

// The suites expect the source texts: every program they start speaks Chinese whatever
// the machine's locale; a test of the language choice sets the variables it tries.
const bool g_sourceLanguage = [] {
    qputenv("CORVADIN_LANGUAGE", "zh");
    return true;
}();

} // namespace

Sandbox::Sandbox() : m_dir(QDir::tempPath() + QStringLiteral("/corvadin-test-XXXXXX"))
{
}

QString Sandbox::path() const
{
    return QDir::toNativeSeparators(m_dir.path()) + QDir::separator();
}

QString Sandbox::file(const QString &relative) const
{
    return path() + relative;
}

QByteArray Sandbox::read(const QString &relative) const
{
    QFile f(file(relative));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

void Sandbox::write(const QString &relative, const QByteArray &bytes) const
{
    const QString p = file(relative);
    QDir().mkpath(QFileInfo(p).absolutePath());
    QFile f(p);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(bytes);
}

bool waitFor(const std::function<bool()> &pred, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!pred()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        if (QCoreApplication::instance())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
    }
    return true;
}

QStringList filesBelow(const QString &root)
{
    QStringList all;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        all << it.next().mid(root.size());
    all.sort();
    return all;
}

QProcessEnvironment sandboxedEnvironment(const QString &home)
{
    QDir().mkpath(home);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home);
    for (const char *name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"})
        env.remove(QString::fromLatin1(name));
    return env;
}

QStringList entriesIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
}

namespace {

// A "VmXXX:  1234 kB" line of /proc/self/status, in KB; -1 when missing.
qint64 statusKb(const QByteArray &key)
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (line.startsWith(key + ':'))
            return line.mid(key.size() + 1).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

} // namespace

PeakMemory::PeakMemory()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly | QIODevice::Unbuffered) && clear.write("5") == 1) // 5: reset the peak
        m_startKb = statusKb("VmRSS");
}

qint64 PeakMemory::growthKb() const
{
    const qint64 peak = statusKb("VmHWM");
    return m_startKb < 0 || peak < 0 ? -1 : peak - m_startKb;
}
