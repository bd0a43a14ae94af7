// corvadin-cli: the window's "获取相册" job from a terminal.
//
// RunCli runs on the process's main thread: it parses the arguments, reads the board
// through the same core as the window (list thread, download-run thread, worker pool),
// shows progress and answers the exit code. Messages go to standard error; --info's
// JSON lines and the run summary to standard output.
#pragma once

#include <QStringList>

// Exit codes.
enum CliExit : int {
    EXIT_ALL_SAVED = 0,
    EXIT_SOME_FAILED = 1,
    EXIT_USAGE = 2,
    EXIT_NO_ALBUM = 3,
    EXIT_SAVE_PATH = 4,
    EXIT_STOPPED = 130,
};

int RunCli(const QStringList &arguments);

// Asks the running job to stop, as the window's "终止下载" does. Async-signal-safe: it
// only sets a flag that the main loop polls.
void RequestCliStop();
