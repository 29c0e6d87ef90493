#include "SimProcess.h"

// Relative: the benchmarks build this file without the tests' include paths.
#include "../support/EndWithTestProcess.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <pthread.h>
#include <sys/wait.h>
#include <unistd.h>

#ifndef DVRSIM_PATH
#error "DVRSIM_PATH must name the dvrsim program"
#endif

SimProcess::~SimProcess()
{
    kill();
    stopRenewals();
    if (stdoutFd_ >= 0)
        ::close(stdoutFd_);
    if (!logPath_.empty())
        std::remove(logPath_.c_str());
}

bool SimProcess::start(std::vector<std::string> args, std::string* error)
{
    // A restart reads only the new program's lines: the old "listening"
    // line would name the port before anything listens on it again.
    kill();
    if (stdoutFd_ >= 0)
        ::close(stdoutFd_);
    stdoutFd_ = -1;
    stdout_.clear();
    port_ = lookupPort_ = 0;
    if (!logPath_.empty())
        std::remove(logPath_.c_str());
    char pattern[] = "/tmp/dvrsim-test-log-XXXXXX";
    const int logFd = ::mkstemp(pattern);
    if (logFd < 0)
        return false;
    ::close(logFd);
    logPath_ = pattern;
    bool wantLookup = false;
    for (const auto& a : args)
        wantLookup = wantLookup || a == "--lookup-port";
    args.insert(args.begin(), {DVRSIM_PATH, "--port", "0", "--log", logPath_, "--lease",
                               std::to_string(std::max(1, leaseSeconds_))});
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    // Both ends the test keeps are closed on exec, so that no other program
    // the test starts holds the simulator's lease or output.
    int outputFds[2], leaseFds[2];
    if (::pipe2(outputFds, O_CLOEXEC) != 0)
        return false;
    if (::pipe2(leaseFds, O_CLOEXEC) != 0) {
        ::close(outputFds[0]);
        ::close(outputFds[1]);
        return false;
    }
    // A renewal meets a full pipe when the simulator is frozen: it is dropped,
    // not waited for.
    ::fcntl(leaseFds[1], F_SETFL, O_NONBLOCK);
    const pid_t parent = ::getpid();
    // The kernel's death signal follows the thread that forks, not the
    // process; from another thread it would end the simulator with that
    // thread, and the lease alone must tell the test's end.
    const bool fromMainThread = ::gettid() == parent;
    pid_ = ::fork();
    if (pid_ == 0) {
        if (fromMainThread)
            testsupport::EndWithTestProcess(parent);
        ::dup2(leaseFds[0], STDIN_FILENO);
        ::dup2(outputFds[1], STDOUT_FILENO);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(outputFds[1]);
    ::close(leaseFds[0]);
    stdoutFd_ = outputFds[0];
    if (pid_ < 0) {
        ::close(leaseFds[1]);
        return false;
    }
    startRenewals(leaseFds[1]);
    return readStartLines(wantLookup, error);
}

void SimProcess::startRenewals(int leaseFd)
{
    stopRenewals();
    renewing_ = true;
    const auto every = std::chrono::milliseconds(std::clamp(leaseSeconds_ * 250, 50, 1000));
    renewer_ = std::thread([this, leaseFd, every] {
        // A simulator that has just died must not take the test with it.
        sigset_t pipeSignal;
        sigemptyset(&pipeSignal);
        sigaddset(&pipeSignal, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
        std::unique_lock<std::mutex> lock(renewLock_);
        while (renewing_) {
            const char sign = '.';
            if (::write(leaseFd, &sign, 1) < 0) {
                // full (a frozen simulator) or closed (an ended one): nothing to do
            }
            renewWake_.wait_for(lock, every, [this] { return !renewing_; });
        }
        ::close(leaseFd);
    });
}

void SimProcess::stopRenewals()
{
    {
        std::lock_guard<std::mutex> lock(renewLock_);
        renewing_ = false;
    }
    renewWake_.notify_all();
    if (renewer_.joinable())
        renewer_.join();
}

void SimProcess::ended()
{
    pid_ = -1;
    stopRenewals();
}

bool SimProcess::readStartLines(bool wantLookup, std::string* error)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
        const auto dvr = stdout_.find("listening on ");
        const auto lookup = stdout_.find("lookup listening on ");
        const bool haveDvr = dvr != std::string::npos && stdout_.find('\n', dvr) != std::string::npos;
        const bool haveLookup = lookup != std::string::npos && stdout_.find('\n', lookup) != std::string::npos;
        if (haveDvr && (!wantLookup || haveLookup)) {
            port_ = std::atoi(stdout_.c_str() + dvr + 13);
            if (haveLookup)
                lookupPort_ = std::atoi(stdout_.c_str() + lookup + 20);
            return port_ > 0;
        }
        pollfd p{stdoutFd_, POLLIN, 0};
        if (::poll(&p, 1, 100) > 0) {
            char buffer[512];
            const ssize_t n = ::read(stdoutFd_, buffer, sizeof buffer);
            if (n <= 0)
                break;
            stdout_.append(buffer, static_cast<std::size_t>(n));
        }
    }
    if (error)
        *error = "no listening line; stdout: " + stdout_;
    return false;
}

bool SimProcess::stop()
{
    if (pid_ <= 0)
        return false;
    ::kill(pid_, SIGTERM);
    return waitExit(5000) == 0;
}

void SimProcess::kill()
{
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    ended();
}

void SimProcess::freeze()
{
    if (pid_ > 0)
        ::kill(pid_, SIGSTOP);
}

int SimProcess::waitExit(int timeoutMs)
{
    if (pid_ <= 0)
        return -1;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int status = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        const pid_t r = ::waitpid(pid_, &status, WNOHANG);
        if (r == pid_) {
            ended();
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
}

std::vector<std::string> SimProcess::logLinesOf(const std::string& path)
{
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::string SimProcess::waitForLog(const std::string& text, int timeoutMs) const
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    do {
        for (const auto& line : logLines())
            if (line.find(text) != std::string::npos)
                return line;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } while (std::chrono::steady_clock::now() < deadline);
    return "";
}
