#include "SocketIo.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace dvrsim {

namespace {

using Clock = std::chrono::steady_clock;

int remainingMs(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

// Waits for `events` in slices so that the stop flag is seen promptly.
IoResult waitFor(int fd, short events, const std::atomic<bool>& stop, Clock::time_point deadline,
                 bool forever)
{
    for (;;) {
        if (stop.load())
            return IoResult::Stopped;
        int slice = kStopPollMs;
        if (!forever) {
            const int left = remainingMs(deadline);
            if (left == 0)
                return IoResult::TimedOut;
            slice = left < slice ? left : slice;
        }
        pollfd p{fd, events, 0};
        const int n = ::poll(&p, 1, slice);
        if (n < 0 && errno != EINTR)
            return IoResult::Failed;
        if (n > 0) {
            if (p.revents & (events | POLLHUP | POLLERR))
                return IoResult::Ok;
            if (p.revents & POLLNVAL)
                return IoResult::Failed;
        }
    }
}

}  // namespace

Socket& Socket::operator=(Socket&& other) noexcept
{
    if (this != &other) {
        close();
        fd_ = other.release();
    }
    return *this;
}

int Socket::release()
{
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

void Socket::close()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

void Socket::abortOnClose() const
{
    if (fd_ < 0)
        return;
    linger hard{};
    hard.l_onoff = 1;
    hard.l_linger = 0;
    ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
}

void Socket::shutdownRead() const
{
    if (fd_ >= 0)
        ::shutdown(fd_, SHUT_RD);
}

void Socket::shutdownBoth() const
{
    if (fd_ >= 0)
        ::shutdown(fd_, SHUT_RDWR);
}

IoResult sendAll(int fd, const void* data, std::size_t length, const std::atomic<bool>& stop, int timeoutMs)
{
    const auto* p = static_cast<const std::uint8_t*>(data);
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (length > 0) {
        const ssize_t n = ::send(fd, p, length, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            p += n;
            length -= static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            return errno == EPIPE || errno == ECONNRESET ? IoResult::Closed : IoResult::Failed;
        const IoResult w = waitFor(fd, POLLOUT, stop, deadline, false);
        if (w != IoResult::Ok)
            return w;
    }
    return IoResult::Ok;
}

IoResult receiveAll(int fd, void* data, std::size_t length, const std::atomic<bool>& stop,
                    int firstByteTimeoutMs, int restTimeoutMs)
{
    auto* p = static_cast<std::uint8_t*>(data);
    bool first = true;
    auto deadline = Clock::now() + std::chrono::milliseconds(firstByteTimeoutMs < 0 ? 0 : firstByteTimeoutMs);
    while (length > 0) {
        const ssize_t n = ::recv(fd, p, length, MSG_DONTWAIT);
        if (n > 0) {
            if (first) {
                first = false;
                deadline = Clock::now() + std::chrono::milliseconds(restTimeoutMs);
            }
            p += n;
            length -= static_cast<std::size_t>(n);
            continue;
        }
        if (n == 0)
            return IoResult::Closed;
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            return errno == ECONNRESET ? IoResult::Closed : IoResult::Failed;
        const IoResult w = waitFor(fd, POLLIN, stop, deadline, first && firstByteTimeoutMs < 0);
        if (w != IoResult::Ok)
            return w;
    }
    return IoResult::Ok;
}

IoResult waitReadable(int fd, const std::atomic<bool>& stop, int timeoutMs)
{
    return waitFor(fd, POLLIN, stop, Clock::now() + std::chrono::milliseconds(timeoutMs), false);
}

bool parseIPv4(const std::string& dotted, std::uint8_t out[4])
{
    in_addr a{};
    if (::inet_pton(AF_INET, dotted.c_str(), &a) != 1)
        return false;
    std::memcpy(out, &a.s_addr, 4);  // network order: out[0] is the first number
    return true;
}

bool isLoopbackAddress(const std::string& dotted)
{
    std::uint8_t b[4];
    return parseIPv4(dotted, b) && b[0] == 127;
}

Socket listenOn(const std::string& address, int port, std::string& error)
{
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::inet_pton(AF_INET, address.c_str(), &sa.sin_addr) != 1) {
        error = "not an IPv4 address: " + address;
        return Socket();
    }
    Socket s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!s.valid()) {
        error = std::string("socket: ") + std::strerror(errno);
        return Socket();
    }
    const int one = 1;
    ::setsockopt(s.fd(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(s.fd(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        error = "bind " + address + ":" + std::to_string(port) + ": " + std::strerror(errno);
        return Socket();
    }
    if (::listen(s.fd(), 64) != 0) {
        error = std::string("listen: ") + std::strerror(errno);
        return Socket();
    }
    return s;
}

int boundPort(int fd)
{
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) != 0)
        return -1;
    return ntohs(sa.sin_port);
}

std::string peerName(int fd)
{
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&sa), &len) != 0)
        return "?";
    char text[INET_ADDRSTRLEN] = "?";
    ::inet_ntop(AF_INET, &sa.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(sa.sin_port));
}

}  // namespace dvrsim
