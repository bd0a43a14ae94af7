// Shared test helpers: a sandbox folder per test, waiting for a condition, and the
// environment of a child program kept inside the sandbox.
#pragma once

#include <QDir>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <chrono>
#include <functional>
#include <gtest/gtest.h>

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
