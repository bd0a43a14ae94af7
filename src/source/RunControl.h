// The list and download commands and the threads they start. Called on the thread
// that owns the window (the GUI thread, the CLI's main thread); StartDownloadRun may
// also be called from the list thread when a retrieval has read a board.
//
// Threads are owned by AppState and joined, never detached: StopAll asks every run to
// stop, aborts transfers in flight and joins.
#pragma once

class AppState;
class WindowServices;

// List command: when ready and idle, empties the album list and starts the list thread;
// while a retrieval runs, turns into a stop request. The window empties its grid first.
// Answers false when nothing was started. Shows "Create thread:GetListFunc failed."
// when the thread cannot start.
bool ListCommand(AppState &app, WindowServices &w);
// Download command: when idle, starts the download-run thread; while a run is in
// progress, a stop request (StopDownload).
bool DownloadCommand(AppState &app, WindowServices &w);
// Asks a download run in progress to stop (DownState 3, bStopWorkers 1); does nothing
// when none is in progress, not even when one has just ended. For callers that mean a
// stop only ("终止下载", Ctrl-C): DownloadCommand would start a new run after the end.
void StopDownload(AppState &app);
// "重新下载" of the failure list: when idle, starts the download-run thread on the
// failed pictures of the last run (RetryFailures); answers false when a run is in
// progress or there is nothing to retry.
bool RetryCommand(AppState &app, WindowServices &w);
// Stops every run, aborts transfers and joins the threads. No new run starts afterwards.
void StopAll(AppState &app);
// Joins threads that have finished their work (cheap; safe to call any time).
void JoinFinished(AppState &app);
