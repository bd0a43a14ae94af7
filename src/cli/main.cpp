#include "cli/CliApp.h"

#include <QCoreApplication>
#include <csignal>

namespace {
void onInterrupt(int)
{
    RequestCliStop(EXIT_STOPPED);
}

void onTerminate(int)
{
    RequestCliStop(EXIT_TERMINATED);
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    // The name chooses the standard folders: the same as the window's, so both share
    // settings and logins.
    QCoreApplication::setApplicationName(QStringLiteral("Corvadin"));
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onTerminate);
#ifdef SIGXFSZ
    // Past a file-size limit (ulimit -f) a write should fail with EFBIG, which fails that
    // one picture, instead of ending the process.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    return RunCli(QCoreApplication::arguments());
}
