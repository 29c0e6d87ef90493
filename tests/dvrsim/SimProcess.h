// Runs the real dvrsim program for a test: started on 127.0.0.1 with a free
// port and a log file, stopped with SIGTERM, never outliving the test.
#pragma once

#include <string>
#include <vector>

class SimProcess {
public:
    SimProcess() = default;
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // Adds --port 0, --log and --exit-after to `args`; waits for the port lines.
    bool start(std::vector<std::string> args, std::string* error = nullptr);
    // SIGTERM; true when the program ended by itself with exit code 0.
    bool stop();
    // SIGKILL, as a DVR that loses power: its connections end at once.
    void kill();
    // SIGSTOP, as a DVR that hangs: its connections stay open and silent.
    void freeze();
    // Waits for the program to end by itself (for start-up failures).
    int waitExit(int timeoutMs);

    int port() const { return port_; }
    int lookupPort() const { return lookupPort_; }
    std::vector<std::string> logLines() const;
    // Waits until a log line contains `text`; returns it, or "" on time-out.
    std::string waitForLog(const std::string& text, int timeoutMs = 3000) const;
    std::string stdoutText() const { return stdout_; }

private:
    bool readStartLines(bool wantLookup, std::string* error);

    int pid_ = -1;
    int stdoutFd_ = -1;
    int port_ = 0;
    int lookupPort_ = 0;
    std::string stdout_;
    std::string logPath_;
};
