// Runs the real dvrsim program for a test: started on 127.0.0.1 with a free
// port and a log file, it lives exactly as long as the test holds it. No
// clock ends it while its object lives, however slow the machine; it ends
// when the object ends it, at once when the test's process dies, and, as a
// last guard, a lease after the test stops renewing it (a stopped or hung
// test process).
#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class SimProcess {
public:
    // Far longer than any test may run: it only ever ends a simulator whose
    // test has stopped renewing it.
    static constexpr int kDefaultLeaseSeconds = 1800;

    SimProcess() = default;
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // For the next start: how long the simulator outlives the last renewal.
    void setLease(int seconds) { leaseSeconds_ = seconds; }

    // Adds --port 0 (a later --port in `args` wins), --log and --lease to
    // `args`; waits for the port lines.
    bool start(std::vector<std::string> args, std::string* error = nullptr);
    // SIGTERM; true when the program ended by itself with exit code 0.
    bool stop();
    // SIGKILL, as a DVR that loses power: its connections end at once.
    void kill();
    // SIGSTOP, as a DVR that hangs: its connections stay open and silent.
    void freeze();
    // Waits for the program to end by itself (for start-up failures).
    int waitExit(int timeoutMs);

    int pid() const { return pid_; }
    int port() const { return port_; }
    int lookupPort() const { return lookupPort_; }
    std::vector<std::string> logLines() const { return logLinesOf(logPath_); }
    // The lines of a simulator's log, also one another process started.
    static std::vector<std::string> logLinesOf(const std::string& path);
    const std::string& logPath() const { return logPath_; }
    // Waits until a log line contains `text`; returns it, or "" on time-out.
    std::string waitForLog(const std::string& text, int timeoutMs = 3000) const;
    std::string stdoutText() const { return stdout_; }

private:
    bool readStartLines(bool wantLookup, std::string* error);
    void startRenewals(int leaseFd);
    void stopRenewals();
    void ended();

    int pid_ = -1;
    int stdoutFd_ = -1;
    int port_ = 0;
    int lookupPort_ = 0;
    int leaseSeconds_ = kDefaultLeaseSeconds;
    std::string stdout_;
    std::string logPath_;

    std::thread renewer_;
    std::mutex renewLock_;
    std::condition_variable renewWake_;
    bool renewing_ = false;
};
