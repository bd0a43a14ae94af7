// corvadin-cli on a terminal: the real program in a pseudo-terminal of a chosen width,
// against the local board site. Every progress line must fit the terminal's width, also
// after the terminal has been resized.
#include "CliFixture.h"
#include "cli/ProgressLine.h"

#include <QElapsedTimer>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <cerrno>
#include <csignal>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

// A child process on the slave side of a pseudo-terminal; the test reads the master.
class PtyRun {
public:
    PtyRun(const QStringList &args, const QProcessEnvironment &env, int columns)
    {
        std::vector<QByteArray> storage;
        storage.push_back(QByteArrayLiteral(CORVADIN_CLI_PATH));
        for (const QString &a : args)
            storage.push_back(a.toUtf8());
        std::vector<QByteArray> envStorage;
        for (const QString &e : env.toStringList())
            envStorage.push_back(e.toUtf8());
        std::vector<char *> argv, envp;
        for (QByteArray &a : storage)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        for (QByteArray &e : envStorage)
            envp.push_back(e.data());
        envp.push_back(nullptr);

        winsize size {};
        size.ws_row = 24;
        size.ws_col = static_cast<unsigned short>(columns);
        // Only async-signal-safe calls between fork and exec: the test has threads.
        m_pid = forkpty(&m_master, nullptr, nullptr, &size);
        if (m_pid == 0) {
            execve(argv[0], argv.data(), envp.data());
            _exit(127);
        }
    }

    ~PtyRun()
    {
        if (m_pid > 0 && !m_reaped) {
            ::kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        if (m_master >= 0)
            close(m_master);
    }

    bool started() const { return m_pid > 0; }

    // Reads what the program wrote until `until` holds for the text so far, or the
    // program has closed the terminal, or the time is up.
    QByteArray &read(const std::function<bool(const QByteArray &)> &until, int timeoutMs = 30000)
    {
        QElapsedTimer timer;
        timer.start();
        while (!m_closed && !until(m_output) && timer.elapsed() < timeoutMs) {
            pollfd p {m_master, POLLIN, 0};
            if (poll(&p, 1, 100) <= 0)
                continue;
            char buffer[4096];
            const ssize_t n = ::read(m_master, buffer, sizeof buffer);
            if (n > 0)
                m_output.append(buffer, n);
            else if (n == 0 || errno != EINTR)
                m_closed = true; // EIO: the slave side is closed
        }
        return m_output;
    }

    int exitCode()
    {
        read([](const QByteArray &) { return false; });
        int status = 0;
        if (waitpid(m_pid, &status, 0) != m_pid)
            return -1;
        m_reaped = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // Resizes the terminal; the kernel sends SIGWINCH to the program.
    void resize(int columns)
    {
        winsize size {};
        size.ws_row = 24;
        size.ws_col = static_cast<unsigned short>(columns);
        ioctl(m_master, TIOCSWINSZ, &size);
    }

private:
    int m_master = -1;
    pid_t m_pid = -1;
    bool m_closed = false;
    bool m_reaped = false;
    QByteArray m_output;
};

// The progress lines the program drew: each begins with a return and the erase sequence
// and is then drawn over (lines of their own, like the summary, may wrap as usual).
QStringList progressLines(const QByteArray &output)
{
    QStringList lines = QString::fromUtf8(output).split(QStringLiteral("\r\x1b[K"));
    lines.removeFirst();
    for (QString &line : lines) {
        const qsizetype end = line.indexOf(QRegularExpression(QStringLiteral("[\r\n]")));
        if (end >= 0)
            line.truncate(end);
    }
    lines.removeAll(QString());
    return lines;
}

bool isBarLine(const QString &line)
{
    return line.contains(QRegularExpression(QStringLiteral("\\[[#-]+\\] \\d+/\\d+")));
}

class TerminalCli : public CliFixture {
protected:
    void SetUp() override
    {
        BoardSite::Options o = site.options();
        o.bandwidthBytesPerSec = 64 * 1024;
        site.setOptions(o);
        CliFixture::SetUp();
        site.addBoard(BoardSite::makeBoard(QStringLiteral("8"), QStringLiteral("慢慢下载的相册"), QStringLiteral("u"), 10, 4,
                                           24 * 1024, 32 * 1024));
        env = environment();
        env.remove(QStringLiteral("COLUMNS"));
    }

    QStringList args(const QString &saveTo) const
    {
        return {QStringLiteral("-w"), work(), QStringLiteral("-o"), saveTo,
                QStringLiteral("-j"), QStringLiteral("2"), site.boardUrl(QStringLiteral("8"))};
    }

    QProcessEnvironment env;
};

} // namespace

TEST_F(TerminalCli, ProgressLinesFitTheTerminal)
{
    for (int columns : {40, 80, 200}) {
        SCOPED_TRACE(columns);
        PtyRun run(args(sandbox.path() + QString::number(columns)), env, columns);
        ASSERT_TRUE(run.started());
        ASSERT_EQ(run.exitCode(), 0);
        const QByteArray &output = run.read([](const QByteArray &) { return true; });
        const QStringList lines = progressLines(output);
        int bars = 0;
        for (const QString &line : lines) {
            EXPECT_LE(DisplayWidth(line), columns - 1) << line.toStdString();
            bars += isBarLine(line);
        }
        EXPECT_GE(bars, 3) << lines.join(QLatin1Char('\n')).toStdString();
        // The summary is written after the bar has been erased.
        EXPECT_TRUE(output.contains("\r\x1b[K下载完毕\r\nalbums: 1, pictures collected: 10, saved: 10, failed: 0"))
            << output.toStdString();
    }
}

TEST_F(TerminalCli, ProgressLinesFollowAResize)
{
    PtyRun run(args(sandbox.path() + QStringLiteral("resized")), env, 200);
    ASSERT_TRUE(run.started());
    // Two bar lines at 200 columns, then the terminal shrinks to 40.
    QByteArray &before = run.read([](const QByteArray &out) {
        int bars = 0;
        for (const QString &line : progressLines(out))
            bars += isBarLine(line);
        return bars >= 2;
    });
    const qsizetype resizedAt = before.size();
    bool wide = false;
    for (const QString &line : progressLines(before))
        wide = wide || DisplayWidth(line) > 60;
    EXPECT_TRUE(wide);
    run.resize(40);
    ASSERT_EQ(run.exitCode(), 0);
    QStringList after = progressLines(run.read([](const QByteArray &) { return true; }).mid(resizedAt));
    // A line being written as the size changed may still have the old width.
    if (!after.isEmpty())
        after.removeFirst();
    int bars = 0;
    for (const QString &line : after) {
        EXPECT_LE(DisplayWidth(line), 39) << line.toStdString();
        bars += isBarLine(line);
    }
    EXPECT_GE(bars, 1) << after.join(QLatin1Char('\n')).toStdString();
}
