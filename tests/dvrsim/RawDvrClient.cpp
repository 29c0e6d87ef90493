#include "RawDvrClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>

namespace {

void put32(std::uint8_t* p, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

}  // namespace

RawDvrClient::~RawDvrClient()
{
    close();
}

void RawDvrClient::close()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

bool RawDvrClient::connectTo(int port)
{
    close();
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<std::uint16_t>(port));
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return fd_ >= 0 && ::connect(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
}

std::vector<std::uint8_t> RawDvrClient::header(std::uint32_t type, std::uint32_t word12,
                                               const std::vector<std::pair<std::size_t, std::uint32_t>>& fields)
{
    std::vector<std::uint8_t> h(76, 0);
    for (int i = 0; i < 8; ++i)
        h[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i + 1);
    put32(&h[8], type);
    put32(&h[12], word12);
    for (const auto& f : fields)
        put32(&h[f.first], f.second);
    return h;
}

bool RawDvrClient::sendBytes(const std::vector<std::uint8_t>& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool RawDvrClient::login(const std::string& id, const std::string& password, std::uint32_t sessionKind,
                         RawHeader& reply)
{
    std::vector<std::uint8_t> h = header(1, 1, {{36, sessionKind}});
    std::memcpy(&h[16], id.data(), std::min<std::size_t>(8, id.size()));
    std::memcpy(&h[24], password.data(), std::min<std::size_t>(8, password.size()));
    return sendBytes(h) && readHeader(reply, 10000);
}

bool RawDvrClient::setMask(std::uint32_t mask)
{
    return sendBytes(header(5, 0, {{16, mask}}));
}

bool RawDvrClient::command(std::uint32_t command, std::uint32_t at16, std::uint32_t at20, std::uint32_t at24,
                           std::uint32_t at28)
{
    return sendBytes(header(5, command, {{16, at16}, {20, at20}, {24, at24}, {28, at28}}));
}

bool RawDvrClient::readBytes(std::vector<std::uint8_t>& out, std::size_t length, int timeoutMs)
{
    out.resize(length);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::size_t done = 0;
    while (done < length) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0)
            return false;
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left)) <= 0)
            continue;
        const ssize_t n = ::recv(fd_, out.data() + done, length - done, 0);
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool RawDvrClient::readHeader(RawHeader& header, int timeoutMs)
{
    std::vector<std::uint8_t> bytes;
    if (!readBytes(bytes, 76, timeoutMs))
        return false;
    std::memcpy(header.bytes, bytes.data(), 76);
    return true;
}

bool RawDvrClient::readVideo(RawHeader& header, std::vector<std::uint8_t>& payload, int timeoutMs)
{
    for (;;) {
        if (!readHeader(header, timeoutMs))
            return false;
        if (header.type() == 5 && header.code() == 1)
            continue;
        if (header.type() != 2 || header.code() == 0 || header.code() > 131072)
            return false;
        return readBytes(payload, header.code(), timeoutMs);
    }
}

bool RawDvrClient::waitClosed(int timeoutMs, std::size_t maxBytes)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::size_t received = 0;
    std::uint8_t sink[65536];
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0)
            continue;
        const ssize_t n = ::recv(fd_, sink, sizeof sink, 0);
        if (n <= 0)
            return received <= maxBytes;
        received += static_cast<std::size_t>(n);
    }
    return false;
}

int RawDvrClient::endOfLink(int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::uint8_t sink[65536];
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0)
            continue;
        const ssize_t n = ::recv(fd_, sink, sizeof sink, 0);
        if (n == 0)
            return 0;
        if (n < 0 && errno != EINTR && errno != EAGAIN)
            return errno;
    }
    return -1;
}

bool RawDvrClient::quietFor(int timeoutMs)
{
    pollfd p{fd_, POLLIN, 0};
    return ::poll(&p, 1, timeoutMs) == 0;
}

std::uint32_t packedLocalTime(long timeValue)
{
    const std::time_t t = static_cast<std::time_t>(timeValue);
    std::tm local{};
    localtime_r(&t, &local);
    return std::uint32_t((local.tm_year + 1900 - 2000) & 63) | std::uint32_t(local.tm_mon + 1) << 6 |
           std::uint32_t(local.tm_mday) << 10 | std::uint32_t(local.tm_hour) << 15 |
           std::uint32_t(local.tm_min) << 20 | std::uint32_t(local.tm_sec) << 26;
}

std::vector<std::uint8_t> streamHeaderFor(int w, int h, bool interlace)
{
    std::vector<std::uint8_t> t = {0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x20, 0x02, 0x48,
                                   0x0D, 0xC0, 0x00, 0x40, 0x00, 0x40, 0x00, 0x40, 0x00, 0x80,
                                   0x00, 0x97, 0x53, 0x0A, 0x2C, 0x08, 0x3C, 0x28, 0x8C, 0x1F};
    t[23] = static_cast<std::uint8_t>(10 + (w >> 12));
    t[24] = static_cast<std::uint8_t>((w >> 4) & 0xFF);
    t[25] = static_cast<std::uint8_t>(((w & 15) << 4) + ((h >> 10) & 7) + 8);
    t[26] = static_cast<std::uint8_t>((h >> 2) & 0xFF);
    t[27] = static_cast<std::uint8_t>(((h & 3) << 6) + (interlace ? 0x38 : 0x28));
    return t;
}
