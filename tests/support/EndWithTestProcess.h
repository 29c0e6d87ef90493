// A program a test starts ends with the test: the test ends it, or the
// kernel does once the test's process has died, however it died.
#pragma once

#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

namespace testsupport {

// Called in a child just forked from the test's thread (the kernel's death
// signal follows the thread that forks, not the process), before it execs:
// `test` is the test's pid, taken before the fork. Async-signal-safe.
inline void EndWithTestProcess(pid_t test)
{
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != test) // the test died before the line above
        ::_exit(127);
}

} // namespace testsupport
