#include "cli/CliApp.h"

#include <QCoreApplication>
#include <csignal>

namespace {
void onSignal(int)
{
    RequestCliStop();
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("corvadin-cli"));
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    return RunCli(QCoreApplication::arguments());
}
