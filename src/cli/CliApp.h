// corvadin-cli: the window's "获取相册" job from a terminal.
//
// RunCli runs on the process's main thread: it parses the arguments and runs the boards
// one after another, each through the same core as the window (list thread,
// download-run thread, worker pool), showing progress; the exit code is the worst of
// the boards'. Messages, progress and -v's lines go to standard error; --info's and
// --json's JSON lines go to standard output, and so does the run summary unless --json
// puts it on standard error.
#pragma once

#include <QStringList>

// Exit codes. A run of several boards answers the highest of theirs.
enum CliExit : int {
    EXIT_ALL_SAVED = 0,
    EXIT_SOME_FAILED = 1,
    EXIT_USAGE = 2,
    EXIT_NO_ALBUM = 3,
    EXIT_SAVE_PATH = 4,
    EXIT_STOPPED = 130,    // Ctrl-C (SIGINT)
    EXIT_TERMINATED = 143, // SIGTERM
};

int RunCli(const QStringList &arguments);

// Asks the running job to stop, as the window's "终止下载" does; the program then exits
// with `exitCode` (EXIT_STOPPED or EXIT_TERMINATED). A second request quits at once.
// Async-signal-safe: it only sets flags that the main loop polls.
void RequestCliStop(int exitCode);
