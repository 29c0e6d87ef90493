#include "NetworkWaits.h"

#include <atomic>
#include <chrono>
#include <cstring>

#include <dlfcn.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>

namespace testsupport {

namespace {

std::atomic<bool> watching{false};
std::atomic<pthread_t> watched{};
std::atomic<int> waits{0};
std::atomic<int64_t> longestUs{0};

bool OnAnInternetSocket(const pollfd* fds, nfds_t count)
{
    for (nfds_t k = 0; k < count; ++k) {
        sockaddr_storage address{};
        socklen_t size = sizeof address;
        if (fds[k].fd >= 0 && getsockname(fds[k].fd, reinterpret_cast<sockaddr*>(&address), &size) == 0 &&
            (address.ss_family == AF_INET || address.ss_family == AF_INET6))
            return true;
    }
    return false;
}

// The event loop's own waits come from Qt or GLib.
bool FromTheEventLoop(void* caller)
{
    Dl_info info{};
    if (!dladdr(caller, &info) || !info.dli_fname)
        return false;
    return std::strstr(info.dli_fname, "libglib") || std::strstr(info.dli_fname, "libQt6Core");
}

} // namespace

NetworkWaits::NetworkWaits()
{
    waits = 0;
    longestUs = 0;
    watched = pthread_self();
    watching = true;
}

NetworkWaits::~NetworkWaits() { watching = false; }

int NetworkWaits::Count() const { return waits.load(); }

int64_t NetworkWaits::LongestMs() const { return longestUs.load() / 1000; }

} // namespace testsupport

// Found before the C library's poll by every caller in the process, the
// control's library loaded by a viewer included.
extern "C" int poll(pollfd* fds, nfds_t count, int timeout)
{
    using PollFunction = int (*)(pollfd*, nfds_t, int);
    static const auto real = reinterpret_cast<PollFunction>(dlsym(RTLD_NEXT, "poll"));
    using namespace testsupport;
    if (timeout == 0 || !watching.load() || !pthread_equal(pthread_self(), watched.load()) ||
        FromTheEventLoop(__builtin_return_address(0)) || !OnAnInternetSocket(fds, count))
        return real(fds, count, timeout);
    // A send with room in the socket's buffer, or a read of what has come,
    // waits for nothing.
    const int readyNow = real(fds, count, 0);
    if (readyNow != 0)
        return readyNow;
    const auto start = std::chrono::steady_clock::now();
    const int ready = real(fds, count, timeout);
    const int64_t us =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count();
    ++waits;
    int64_t longest = longestUs.load();
    while (us > longest && !longestUs.compare_exchange_weak(longest, us)) {
    }
    return ready;
}
