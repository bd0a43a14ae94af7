#include "platform/Terminal.h"

#include <QtGlobal>
#include <atomic>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <csignal>
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace Terminal {

#ifdef Q_OS_WIN

namespace {
HANDLE handle(Stream stream)
{
    return GetStdHandle(stream == Stream::Output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
}
} // namespace

void PrepareConsole()
{
    SetConsoleOutputCP(CP_UTF8);
    for (Stream s : {Stream::Output, Stream::Error}) {
        DWORD mode = 0;
        if (GetConsoleMode(handle(s), &mode))
            SetConsoleMode(handle(s), mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    }
}

bool IsTerminal(Stream stream)
{
    DWORD mode = 0;
    return GetConsoleMode(handle(stream), &mode) != FALSE;
}

int Columns(Stream stream)
{
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(handle(stream), &info))
        return 0;
    return info.srWindow.Right - info.srWindow.Left + 1;
}

void WatchResize()
{
}

bool TakeResized()
{
    return true;
}

#else

namespace {
std::atomic<bool> g_resized{true};

static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler needs a lock-free flag");

void onResize(int)
{
    g_resized.store(true, std::memory_order_relaxed);
}

int descriptor(Stream stream)
{
    return stream == Stream::Output ? STDOUT_FILENO : STDERR_FILENO;
}
} // namespace

void PrepareConsole()
{
}

bool IsTerminal(Stream stream)
{
    return isatty(descriptor(stream)) == 1;
}

int Columns(Stream stream)
{
    winsize size {};
    if (ioctl(descriptor(stream), TIOCGWINSZ, &size) != 0)
        return 0;
    return size.ws_col;
}

void WatchResize()
{
    struct sigaction action {};
    action.sa_handler = onResize;
    sigemptyset(&action.sa_mask);
    // Restarted, so a resize never fails a read or a write elsewhere with EINTR.
    action.sa_flags = SA_RESTART;
    sigaction(SIGWINCH, &action, nullptr);
}

bool TakeResized()
{
    return g_resized.exchange(false, std::memory_order_relaxed);
}

#endif

} // namespace Terminal
