#include "SimProcess.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#ifndef DVRSIM_PATH
#error "DVRSIM_PATH must name the dvrsim program"
#endif

namespace {

// Even a test that crashes leaves no simulator behind.
constexpr int kSafetyExitSeconds = 60;

}  // namespace

SimProcess::~SimProcess()
{
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
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
    args.insert(args.begin(), {DVRSIM_PATH, "--port", "0", "--log", logPath_, "--exit-after",
                               std::to_string(kSafetyExitSeconds)});

    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return false;
    const pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(127);
        ::dup2(pipeFds[1], STDOUT_FILENO);
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    stdoutFd_ = pipeFds[0];
    if (pid_ < 0)
        return false;
    return readStartLines(wantLookup, error);
}

bool SimProcess::readStartLines(bool wantLookup, std::string* error)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
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
    pid_ = -1;
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
            pid_ = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
}

std::vector<std::string> SimProcess::logLines() const
{
    std::vector<std::string> lines;
    std::ifstream in(logPath_);
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
