// A program a test starts ends with the test: the test ends it, or the
// kernel does once the test's process has died, however it died.
#pragma once

#include <chrono>
#include <csignal>
#include <fstream>
#include <string>
#include <sys/prctl.h>
#include <thread>
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

// Waits until the program `pid` has its own handler for `signal` (its
// start, however long a loaded machine makes it, has come that far), for at
// most `ms`: a signal sent sooner would end it the default way.
inline bool WaitUntilCatching(pid_t pid, int signal, int ms)
{
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        std::ifstream status("/proc/" + std::to_string(pid) + "/status");
        if (!status.is_open())
            return false; // it has ended
        for (std::string line; std::getline(status, line);)
            if (line.rfind("SigCgt:", 0) == 0 && (std::stoull(line.substr(7), nullptr, 16) >> (signal - 1)) & 1)
                return true;
        if (std::chrono::steady_clock::now() >= giveUp)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

} // namespace testsupport
