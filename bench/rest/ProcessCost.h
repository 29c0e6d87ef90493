#pragma once
// What another process costs over a window, read from /proc: the processor
// time and the context switches (voluntary and involuntary: each is the
// thread going to sleep or being pushed off, so their sum counts how often
// it runs) of every one of its threads.
#include <sys/types.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace restbench {

struct ThreadReading {
    std::string name;
    uint64_t cpuNanoseconds = 0; // schedstat: time on a processor
    uint64_t switches = 0;       // voluntary + involuntary context switches
};

// Every thread of `pid` now, by thread id; empty once the process is gone.
std::map<pid_t, ThreadReading> ReadThreads(pid_t pid);

struct ThreadCost {
    pid_t tid = 0;
    std::string name;
    double percentOfCore = 0;
    double wakeupsPerSecond = 0;
};

struct ProcessCost {
    double seconds = 0;
    double percentOfCore = 0; // the whole process, 100 = one core
    double wakeupsPerSecond = 0;
    int threads = 0;          // the most alive at one reading
    std::vector<ThreadCost> byThread; // busiest first
    bool processEnded = false;
};

// Reads the process at the start of a window and as often as asked during
// it, so that a thread that ends within the window still counts up to its
// last reading; a thread born within it counts from zero.
class CostMeter {
public:
    explicit CostMeter(pid_t pid);
    void Sample();
    ProcessCost Finish();

private:
    pid_t pid_;
    int64_t startNs_ = 0;
    std::map<pid_t, ThreadReading> first_, last_;
    int mostThreads_ = 0;
    bool ended_ = false;
};

} // namespace restbench
