#pragma once
// Signals whose default action would end a program in the middle of its work.
#include <functional>

namespace platform {

// A write past the file-size limit (`ulimit -f`) then fails with EFBIG
// instead of killing the process, so a recording, a database or a backup
// meets it as the write error it already handles and closes its files
// consistently. Called first thing in main; child processes inherit it.
void IgnoreFileSizeLimitSignal();

// SIGTERM, SIGINT and SIGHUP (a shutdown or logout, Ctrl+C, a closed
// terminal) end the program as closing its window does. The handler only
// writes a byte; `close` runs from the event loop, after any modal dialog or
// message box open at that moment has been cancelled so that its own loop
// unwinds. Signals that come while a close is under way call `close` again:
// it must not close twice. A signal the program was started with ignored
// (nohup, a background job) stays ignored. Called after the application
// object exists; a later call replaces `close`, and an empty `close` gives
// the signals back their default action.
void CloseOnTerminationSignals(std::function<void()> close);

} // namespace platform
