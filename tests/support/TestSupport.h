// Shared test helpers: a sandbox folder per test and waiting for a condition.
#pragma once

#include <QDir>
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
