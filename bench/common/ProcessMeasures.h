#pragma once
// What the benchmarks measure of their own process, and the event loop they
// run as a host would.
#include <QEventLoop>
#include <QTimer>

#include <fstream>
#include <sys/resource.h>
#include <unistd.h>

namespace bench {

// CPU seconds of the whole process, user and system.
inline double CpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

inline double ResidentMiB()
{
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

// Runs the event loop for `ms` milliseconds.
inline void Pump(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace bench
