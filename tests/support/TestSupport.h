// Shared test helpers: a sandbox folder per test, waiting for a condition, the
// environment of a child program kept inside the sandbox, and peak-memory growth.
#pragma once

#include <QDir>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <ostream>

QT_BEGIN_NAMESPACE
// Failure messages show texts as text (found by argument-dependent lookup).
inline void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}
QT_END_NAMESPACE

// A fresh temporary folder, removed when the test ends. path() ends in a separator.
class Sandbox {
public:
    Sandbox();
    QString path() const;                 // with a trailing separator
    QString file(const QString &relative) const;
    QByteArray read(const QString &relative) const;
    void write(const QString &relative, const QByteArray &bytes) const;

private:
    QTemporaryDir m_dir;
};

// Every file below root (hidden ones included), as paths relative to it, sorted.
QStringList filesBelow(const QString &root);

// Polls pred (and the Qt event loop of this thread, if any) until it holds or the time
// is up; answers whether it held.
bool waitFor(const std::function<bool()> &pred, std::chrono::milliseconds timeout = std::chrono::seconds(10));

// The environment for a program a test starts: this process's, with HOME set to `home`
// (a folder of the test's sandbox, created here) and the XDG folders unset, so that
// anything the program writes by default lands in the sandbox, where the test can see it.
QProcessEnvironment sandboxedEnvironment(const QString &home);

// The names of everything in a folder, hidden entries included; none for a missing folder.
QStringList entriesIn(const QString &folder);

// How much this process's peak memory grows from construction on. Linux keeps one
// high-water mark per process that never goes down; it is reset here
// (/proc/self/clear_refs), so what earlier tests held does not count.
class PeakMemory {
public:
    PeakMemory();
    // KB above the resident size at construction; -1 where the mark cannot be reset or read.
    qint64 growthKb() const;

private:
    qint64 m_startKb = -1;
};
