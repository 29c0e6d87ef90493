// Blocking-style socket I/O with deadlines that also wake on a stop flag, so
// no thread of the simulator can hang on a silent or vanished peer.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

namespace dvrsim {

class Socket {
public:
    Socket() = default;
    explicit Socket(int fd) : fd_(fd) {}
    ~Socket() { close(); }
    Socket(Socket&& other) noexcept : fd_(other.release()) {}
    Socket& operator=(Socket&& other) noexcept;
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    int fd() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int release();
    void close();
    // Ends both directions so a thread blocked in poll on it wakes up.
    void shutdownBoth() const;
    // The close that follows sends a reset instead of an orderly end.
    void abortOnClose() const;
    void shutdownRead() const;

private:
    int fd_ = -1;
};

enum class IoResult { Ok, Closed, TimedOut, Stopped, Failed };

// How often waits look at the stop flag.
constexpr int kStopPollMs = 50;

// Sends all bytes within `timeoutMs`.
IoResult sendAll(int fd, const void* data, std::size_t length, const std::atomic<bool>& stop,
                 int timeoutMs);

// Receives exactly `length` bytes. Waits up to `firstByteTimeoutMs` for the
// first byte (-1: until stopped) and then `restTimeoutMs` for the rest.
IoResult receiveAll(int fd, void* data, std::size_t length, const std::atomic<bool>& stop,
                    int firstByteTimeoutMs, int restTimeoutMs);

// Waits until fd is readable; TimedOut after timeoutMs.
IoResult waitReadable(int fd, const std::atomic<bool>& stop, int timeoutMs);

bool isLoopbackAddress(const std::string& dotted);
bool parseIPv4(const std::string& dotted, std::uint8_t out[4]);
Socket listenOn(const std::string& address, int port, std::string& error);
int boundPort(int fd);
std::string peerName(int fd);

}  // namespace dvrsim
