#include "ProcessCost.h"

#include <algorithm>
#include <chrono>
#include <dirent.h>
#include <fstream>
#include <sstream>

namespace restbench {

namespace {

int64_t NowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// False when the thread has gone between the listing and the read.
bool ReadThread(const std::string& dir, ThreadReading* out)
{
    std::ifstream schedstat(dir + "/schedstat");
    if (!(schedstat >> out->cpuNanoseconds))
        return false;
    std::ifstream status(dir + "/status");
    std::string line;
    uint64_t voluntary = 0, involuntary = 0;
    bool seen = false;
    while (std::getline(status, line)) {
        std::istringstream words(line);
        std::string key;
        words >> key;
        if (key == "Name:") {
            std::getline(words >> std::ws, out->name);
        } else if (key == "voluntary_ctxt_switches:") {
            words >> voluntary;
            seen = true;
        } else if (key == "nonvoluntary_ctxt_switches:") {
            words >> involuntary;
        }
    }
    out->switches = voluntary + involuntary;
    return seen;
}

} // namespace

std::map<pid_t, ThreadReading> ReadThreads(pid_t pid)
{
    std::map<pid_t, ThreadReading> threads;
    const std::string taskDir = "/proc/" + std::to_string(pid) + "/task";
    DIR* dir = ::opendir(taskDir.c_str());
    if (!dir)
        return threads;
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] < '0' || entry->d_name[0] > '9')
            continue;
        ThreadReading reading;
        if (ReadThread(taskDir + "/" + entry->d_name, &reading))
            threads[static_cast<pid_t>(std::stol(entry->d_name))] = reading;
    }
    ::closedir(dir);
    return threads;
}

CostMeter::CostMeter(pid_t pid) : pid_(pid)
{
    first_ = ReadThreads(pid_);
    last_ = first_;
    mostThreads_ = static_cast<int>(first_.size());
    ended_ = first_.empty();
    startNs_ = NowNs();
}

void CostMeter::Sample()
{
    const auto now = ReadThreads(pid_);
    if (now.empty()) {
        ended_ = true;
        return;
    }
    mostThreads_ = std::max(mostThreads_, static_cast<int>(now.size()));
    for (const auto& [tid, reading] : now)
        last_[tid] = reading;
}

ProcessCost CostMeter::Finish()
{
    Sample();
    ProcessCost cost;
    cost.seconds = static_cast<double>(NowNs() - startNs_) / 1e9;
    cost.threads = mostThreads_;
    cost.processEnded = ended_;
    uint64_t cpu = 0, switches = 0;
    for (const auto& [tid, reading] : last_) {
        const auto before = first_.find(tid);
        const uint64_t cpuBefore = before == first_.end() ? 0 : before->second.cpuNanoseconds;
        const uint64_t switchesBefore = before == first_.end() ? 0 : before->second.switches;
        ThreadCost t;
        t.tid = tid;
        t.name = reading.name;
        const uint64_t threadCpu = reading.cpuNanoseconds - std::min(cpuBefore, reading.cpuNanoseconds);
        const uint64_t threadSwitches = reading.switches - std::min(switchesBefore, reading.switches);
        t.percentOfCore = 100.0 * static_cast<double>(threadCpu) / 1e9 / cost.seconds;
        t.wakeupsPerSecond = static_cast<double>(threadSwitches) / cost.seconds;
        cpu += threadCpu;
        switches += threadSwitches;
        cost.byThread.push_back(t);
    }
    cost.percentOfCore = 100.0 * static_cast<double>(cpu) / 1e9 / cost.seconds;
    cost.wakeupsPerSecond = static_cast<double>(switches) / cost.seconds;
    std::sort(cost.byThread.begin(), cost.byThread.end(), [](const ThreadCost& a, const ThreadCost& b) {
        return a.wakeupsPerSecond != b.wakeupsPerSecond ? a.wakeupsPerSecond > b.wakeupsPerSecond
                                                        : a.percentOfCore > b.percentOfCore;
    });
    return cost;
}

} // namespace restbench
