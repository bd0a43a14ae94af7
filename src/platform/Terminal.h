// What a command-line front end asks of its terminal: is a stream a terminal, how many
// columns does it have, has its size changed. POSIX answers through isatty, TIOCGWINSZ
// and SIGWINCH; Windows through the console API.
//
// Threads: PrepareConsole and WatchResize are called once, on the main thread, before
// any other thread runs. The queries are safe on any thread.
#pragma once

namespace Terminal {

enum class Stream { Output, Error };

// Windows: the console shows UTF-8 output and understands the escape sequences that
// erase a line ("\r\x1b[K"). Elsewhere nothing is needed.
void PrepareConsole();

// Whether the stream is a terminal (a console on Windows), not a file or a pipe.
bool IsTerminal(Stream stream);

// Columns of the terminal behind the stream; 0 when it is none or does not say.
int Columns(Stream stream);

// Starts noticing size changes (POSIX: a SIGWINCH handler that only sets a flag).
void WatchResize();

// True once after each size change noticed since the last call. Where no signal tells
// (Windows) it is always true: the caller asks Columns again, which is cheap there.
bool TakeResized();

} // namespace Terminal
