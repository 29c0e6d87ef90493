#include "CDvrSocket.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <limits>

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vyrdax {

int WinsockErrorFromErrno(int error)
{
    switch (error) {
    case 0: return 0;
    case ECONNREFUSED: return WSAECONNREFUSED;
    case ETIMEDOUT: return WSAETIMEDOUT;
    case EHOSTUNREACH: return WSAEHOSTUNREACH;
    case ENETUNREACH: return WSAENETUNREACH;
    default: return WSAEGENERIC + error;
    }
}

CDvrSocket::~CDvrSocket()
{
    if (fd_ >= 0)
        close(fd_);
}

int CDvrSocket::StartConnect(const std::string& address, uint16_t port)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (address.empty() || getaddrinfo(address.c_str(), nullptr, &hints, &found) != 0 || !found)
        return WSAHOST_NOT_FOUND;
    sockaddr_in target{};
    std::memcpy(&target, found->ai_addr, sizeof target);
    freeaddrinfo(found);
    target.sin_port = htons(port);

    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd_ < 0)
        return WinsockErrorFromErrno(errno);
    int one = 1;
    setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (connect(fd_, reinterpret_cast<sockaddr*>(&target), sizeof target) == 0 || errno == EINPROGRESS)
        return 0;
    return WinsockErrorFromErrno(errno);
}

int CDvrSocket::ConnectResult()
{
    if (fd_ < 0)
        return WSAEGENERIC;
    int error = 0;
    socklen_t size = sizeof error;
    if (getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &size) != 0)
        error = errno;
    return WinsockErrorFromErrno(error);
}

void CDvrSocket::Shutdown()
{
    shutDown_ = true;
    if (fd_ >= 0)
        shutdown(fd_, SHUT_RDWR);
}

bool CDvrSocket::ReceiveExact(void* buffer, std::size_t length, int timeoutMs, int wakeFd)
{
    return Transfer(buffer, length, Clock::now() + std::chrono::milliseconds(timeoutMs), wakeFd, false);
}

bool CDvrSocket::SendExact(const void* buffer, std::size_t length, int timeoutMs, int wakeFd)
{
    return Transfer(const_cast<void*>(buffer), length, Clock::now() + std::chrono::milliseconds(timeoutMs), wakeFd,
                    true);
}

bool CDvrSocket::ReceiveUntil(void* buffer, std::size_t length, Clock::time_point deadline, int wakeFd)
{
    return Transfer(buffer, length, deadline, wakeFd, false);
}

bool CDvrSocket::Transfer(void* buffer, std::size_t length, Clock::time_point deadline, int wakeFd, bool sending)
{
    if (length == 0)
        return true;
    if (fd_ < 0 || broken_.load())
        return false;
    auto* bytes = static_cast<uint8_t*>(buffer);
    std::size_t done = 0;
    while (done < length) {
        if (shutDown_.load())
            return false;
        // poll counts whole milliseconds: rounded up, so that a wait never
        // ends short of the deadline and makes its caller wait a whole
        // time-out more. Past the deadline what has already come is still
        // taken; only a wait for more fails.
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        const int waitMs = static_cast<int>(std::clamp<int64_t>(left, 0, std::numeric_limits<int>::max()));
        pollfd fds[2] = {};
        fds[0].fd = fd_;
        fds[0].events = sending ? POLLOUT : POLLIN;
        nfds_t count = 1;
        if (wakeFd >= 0) {
            fds[1].fd = wakeFd;
            fds[1].events = POLLIN;
            count = 2;
        }
        const int ready = poll(fds, count, waitMs);
        if (ready < 0 && errno != EINTR)
            return false;
        if (ready > 0 && wakeFd >= 0 && (fds[1].revents & POLLIN))
            return false;
        ssize_t n = 0;
        if (ready > 0 && (fds[0].revents & (POLLIN | POLLOUT | POLLERR | POLLHUP))) {
            n = sending ? send(fd_, bytes + done, length - done, MSG_NOSIGNAL) : recv(fd_, bytes + done, length - done, 0);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
                // Closed by the peer or broken: nothing more will ever move,
                // so no caller waits for it. Our own shutdown is a stop, not
                // a break.
                if (!shutDown_.load())
                    broken_ = true;
                return false;
            }
        }
        if (n > 0)
            done += static_cast<std::size_t>(n);
        else if (Clock::now() > deadline)
            return false;
    }
    return true;
}

} // namespace vyrdax
