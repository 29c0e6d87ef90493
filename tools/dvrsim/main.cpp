// dvrsim: a DVR and address-lookup simulator for the tests of the DVR clients.
#include "DvrServer.h"
#include "LookupServer.h"
#include "SimContext.h"
#include "SimOptions.h"
#include "SocketIo.h"
#include "VideoLoops.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <poll.h>
#include <thread>
#include <unistd.h>

using namespace dvrsim;

namespace {

volatile std::sig_atomic_t signalled = 0;

void onSignal(int)
{
    signalled = 1;
}

void installSignalHandlers()
{
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

// Standard input as the hold a test keeps on the simulator: each byte renews
// it; its end (the test's process is gone) or a silence longer than the
// lease (the test is stopped or hung) ends the simulator, whatever its age.
class Lease {
public:
    explicit Lease(int seconds) : seconds_(seconds), renewed_(std::chrono::steady_clock::now()) {}

    // Waits up to `ms` for a renewal; why the lease ended, or nullptr while it holds.
    const char* wait(int ms)
    {
        pollfd p{STDIN_FILENO, POLLIN, 0};
        if (::poll(&p, 1, ms) > 0) {
            char buffer[256];
            const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
            if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN))
                return "standard input closed";
            if (n > 0)
                renewed_ = std::chrono::steady_clock::now();
        }
        if (std::chrono::steady_clock::now() - renewed_ > std::chrono::seconds(seconds_))
            return "lease ran out";
        return nullptr;
    }

private:
    int seconds_;
    std::chrono::steady_clock::time_point renewed_;
};

int fail(const std::string& message)
{
    std::fprintf(stderr, "dvrsim: %s\n", message.c_str());
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    SimOptions options;
    std::string message;
    bool wantsHelp = false;
    if (!parseOptions(std::vector<std::string>(argv + 1, argv + argc), options, message, wantsHelp)) {
        if (wantsHelp) {
            std::fputs(message.c_str(), stdout);
            return 0;
        }
        return fail(message);
    }
    if (!isLoopbackAddress(options.bindAddress) && !options.allowNonLoopback) {
        std::uint8_t ignored[4];
        return fail(parseIPv4(options.bindAddress, ignored)
                        ? "refusing to listen on " + options.bindAddress +
                              " outside 127.0.0.0/8 without --allow-nonloopback"
                        : "not an IPv4 address: " + options.bindAddress);
    }
    installSignalHandlers();

    SimLog log;
    if (!log.open(options.logFile, message))
        return fail(message);

    LoopSettings settings;
    settings.width = options.width;
    settings.height = options.height;
    settings.fps = options.fps;
    settings.gop = options.gop;
    settings.loopFrames = options.resolvedLoopFrames();
    settings.interlace = options.interlace != 0;
    settings.quant = options.quant;
    VideoLoops video;
    if (!video.build(settings, options.channels, 0, message))
        return fail(message);

    SimContext context(options, video, log);
    if (!options.eventsFile.empty()) {
        if (!loadEvents(options.eventsFile, context.events, message))
            return fail(message);
    } else {
        context.events = generateEvents(options.events, options.channels, std::time(nullptr));
    }
    if (!options.setupFile.empty() && !context.setup.loadFile(options.setupFile, message))
        return fail(message);

    DvrServer dvr(context);
    if (!dvr.listen(message))
        return fail(message);
    context.dvrPort = dvr.port();
    LookupServer lookupServer(context);
    if (options.lookupPort >= 0 && !lookupServer.listen(message))
        return fail(message);

    std::printf("listening on %d\n", dvr.port());
    if (options.lookupPort >= 0)
        std::printf("lookup listening on %d\n", lookupServer.port());
    std::fflush(stdout);

    std::atomic<bool> stop{false};
    if (options.lookupPort >= 0)
        lookupServer.start(stop);
    // Signals, the run-time limit and the lease are watched here; the servers watch `stop`.
    std::thread watcher([&] {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(options.exitAfterSeconds);
        Lease lease(options.leaseSeconds);
        while (!signalled && !(options.exitAfterSeconds > 0 && std::chrono::steady_clock::now() >= deadline)) {
            if (options.leaseSeconds <= 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(kStopPollMs));
            } else if (const char* ended = lease.wait(kStopPollMs)) {
                log.line(std::string("LEASE ENDED: ") + ended);
                std::fprintf(stderr, "dvrsim: %s, stopping\n", ended);
                break;
            }
        }
        stop = true;
    });
    dvr.run(stop);
    watcher.join();
    lookupServer.join();
    log.line("STOP");
    return 0;
}
