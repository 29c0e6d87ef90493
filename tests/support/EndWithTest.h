// A program a test starts ends with the test: the test ends it, or the
// kernel does once the test's process has died, however it died.
#pragma once

#include <QProcess>

#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

namespace testsupport {

// Call before start, from the test's own thread: the kernel's death signal
// follows the thread that starts the program.
inline void EndWithTest(QProcess& process)
{
    const pid_t parent = ::getpid();
    process.setChildProcessModifier([parent] {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) // the test died before the line above
            ::_exit(127);
    });
}

} // namespace testsupport
