// corvadin-cli as a user runs it: the real program in a child process against the local
// board site on loopback, kept inside the test's sandbox (a working folder, a save folder
// and a home folder that must stay empty). Base fixture of the CLI suites.
#pragma once

#include "BoardSite.h"
#include "TestSupport.h"

#include <QProcess>

#include <memory>

// How a child program ended and what it wrote.
struct CliResult {
    int exitCode = -1;
    QString out;
    QString err;
};

class CliFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(site.start());
        QDir().mkpath(work());
    }

    // Nothing the programs did went into the home folder.
    void TearDown() override { EXPECT_TRUE(entriesIn(home()).isEmpty()) << entriesIn(home()).join(u' ').toStdString(); }

    QString work() const { return sandbox.path() + QStringLiteral("work"); }
    QString save() const { return sandbox.path() + QStringLiteral("save"); }
    QString home() const { return sandbox.path() + QStringLiteral("home"); }

    // The environment of every program the test starts: its home in the sandbox, and the
    // site's hosts in CORVADIN_SITE_HOST and CORVADIN_IMAGE_HOST.
    virtual QProcessEnvironment environment() const
    {
        QProcessEnvironment env = sandboxedEnvironment(home());
        env.insert(QStringLiteral("CORVADIN_SITE_HOST"), site.hostPort());
        env.insert(QStringLiteral("CORVADIN_IMAGE_HOST"), site.hostPort());
        return env;
    }

    // Starts `program` in environment(), in `folder` when one is given.
    std::unique_ptr<QProcess> start(const QString &program, const QStringList &args, const QString &folder = {}) const
    {
        auto p = std::make_unique<QProcess>();
        p->setProcessEnvironment(environment());
        if (!folder.isEmpty())
            p->setWorkingDirectory(folder);
        p->start(program, args);
        p->waitForStarted();
        return p;
    }

    // corvadin-cli on the working folder, and on the save folder unless args name one.
    std::unique_ptr<QProcess> startCli(QStringList args) const
    {
        if (!args.contains(QStringLiteral("-o")))
            args = QStringList{QStringLiteral("-o"), save()} + args;
        return start(QStringLiteral(CORVADIN_CLI_PATH), QStringList{QStringLiteral("-w"), work()} + args);
    }

    // Waits for the end (a minute at the most: a program that waited as long as a
    // throttling site asks, or for ever, fails here) and collects what it wrote.
    static CliResult finish(QProcess &p)
    {
        EXPECT_TRUE(p.waitForFinished(60000)) << "the program did not end";
        return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
    }

    // startCli with `input` on the standard input, then finish.
    CliResult run(const QStringList &args, const QByteArray &input = {}) const
    {
        const std::unique_ptr<QProcess> p = startCli(args);
        p->write(input);
        p->closeWriteChannel();
        return finish(*p);
    }

    Sandbox sandbox;
    BoardSite site;
};
