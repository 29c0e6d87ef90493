#pragma once
// The TCP connection to a DVR: a POSIX socket that connects without blocking
// and moves exact byte counts under a time-out. Reads and writes may come
// from the receive thread and the GUI thread at once; Shutdown from any
// thread wakes whoever waits on it.
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace vyrdax {

// The socket error codes the link reports connection results with.
inline constexpr int WSAECONNREFUSED = 10061;
inline constexpr int WSAETIMEDOUT = 10060;
inline constexpr int WSAEHOSTUNREACH = 10065;
inline constexpr int WSAENETUNREACH = 10051;
inline constexpr int WSAHOST_NOT_FOUND = 11001;
inline constexpr int WSAEGENERIC = 10000; // plus errno for anything else

int WinsockErrorFromErrno(int error);

class CDvrSocket {
public:
    using Clock = std::chrono::steady_clock;

    CDvrSocket() = default;
    ~CDvrSocket();
    CDvrSocket(const CDvrSocket&) = delete;
    CDvrSocket& operator=(const CDvrSocket&) = delete;

    // Starts connecting. Returns 0 when the attempt is under way (or already
    // finished; see ConnectResult), else the error code of an attempt that
    // failed at once (an address that does not resolve, no socket).
    int StartConnect(const std::string& address, uint16_t port);
    int Fd() const { return fd_; }
    // After the socket became writable: 0 when connected, else the error code.
    int ConnectResult();

    // Exactly `length` bytes, or false once more than `timeoutMs` has passed
    // since the call began (never sooner), the socket was shut down,
    // `wakeFd` became readable (the caller is stopping), or the connection
    // was closed by the peer or broke. A closed or broken connection fails
    // at once, now and on every later call; only a silent one waits out the
    // time-out.
    bool ReceiveExact(void* buffer, std::size_t length, int timeoutMs, int wakeFd = -1);
    bool SendExact(const void* buffer, std::size_t length, int timeoutMs, int wakeFd = -1);
    // The same, with the time-out given as the moment it is over: false only
    // once the clock has passed `deadline`.
    bool ReceiveUntil(void* buffer, std::size_t length, Clock::time_point deadline, int wakeFd = -1);

    // True once the peer closed the connection or it broke (reset, error).
    bool Broken() const { return broken_.load(); }

    void Shutdown();

private:
    bool Transfer(void* buffer, std::size_t length, Clock::time_point deadline, int wakeFd, bool sending);

    int fd_ = -1;
    std::atomic<bool> shutDown_{false};
    std::atomic<bool> broken_{false};
};

} // namespace vyrdax
