#pragma once
// Signals whose default action would end a program in the middle of its work.

namespace platform {

// A write past the file-size limit (`ulimit -f`) then fails with EFBIG
// instead of killing the process, so a recording, a database or a backup
// meets it as the write error it already handles and closes its files
// consistently. Called first thing in main; child processes inherit it.
void IgnoreFileSizeLimitSignal();

} // namespace platform
