// link_bench: how much the DVR link costs at full load. Four controls in one
// process each receive 16 channels of 704x480 at 30 fps from their own
// simulator on 127.0.0.1. A consumer thread per control stands in for the
// display threads and empties the frame queues, counting what the receive
// thread delivered; the backlog of every queue is sampled on the way.
//
//   link_bench [--seconds S] [--controls N] [--channels C] [--with-display]
// With --with-display the control's own display threads decode and draw
// beside the consumers, which then count only the frames they win.
#include "SimProcess.h"
#include "control/CVyrdaxCtrl.h"

#include <QApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace vyrdax;

// Empties one control's queues, as its display threads will.
struct Consumer {
    CVyrdaxCtrl* ctrl = nullptr;
    int channels = 0;
    std::atomic<bool> stop{false};
    std::atomic<bool> counting{false};
    std::vector<std::atomic<long>> frames = std::vector<std::atomic<long>>(kChannelCount);
    std::atomic<long long> bytes{0};
    std::atomic<int> maxBacklog{-1};
    std::thread thread;

    void Run()
    {
        std::vector<uint8_t> buffer(1 << 20);
        while (!stop.load()) {
            bool any = false;
            for (int ch = 0; ch < channels; ++ch) {
                CFrameQueue& queue = ctrl->Channel(ch).queue;
                const int backlog = queue.Backlog();
                if (counting.load() && backlog > maxBacklog.load())
                    maxBacklog = backlog;
                FrameInfo info;
                while (queue.Front(buffer.data(), buffer.size(), &info) == 1) {
                    queue.PopFront();
                    any = true;
                    if (counting.load()) {
                        ++frames[ch];
                        bytes += info.Length();
                    }
                }
            }
            if (!any)
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
};

double CpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void Pump(int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    int seconds = 20, controls = 4, channels = 16;
    bool withDisplay = false;
    for (int k = 1; k < argc; ++k) {
        const bool hasValue = k + 1 < argc;
        if (!std::strcmp(argv[k], "--with-display"))
            withDisplay = true;
        else if (!std::strcmp(argv[k], "--seconds") && hasValue)
            seconds = std::max(1, std::atoi(argv[++k]));
        else if (!std::strcmp(argv[k], "--controls") && hasValue)
            controls = std::clamp(std::atoi(argv[++k]), 1, 16);
        else if (!std::strcmp(argv[k], "--channels") && hasValue)
            channels = std::clamp(std::atoi(argv[++k]), 1, 32);
    }

    std::vector<std::unique_ptr<SimProcess>> sims;
    for (int c = 0; c < controls; ++c) {
        sims.push_back(std::make_unique<SimProcess>());
        if (!sims.back()->start({"--channels", std::to_string(channels), "--size", "704x480", "--fps", "30"})) {
            std::fprintf(stderr, "link_bench: dvrsim did not start\n");
            return 1;
        }
    }
    QWidget host;
    host.resize(1280, 960);
    std::vector<CVyrdaxCtrl*> ctrls;
    std::vector<std::unique_ptr<Consumer>> consumers;
    for (int c = 0; c < controls; ++c) {
        auto* ctrl = new CVyrdaxCtrl(&host);
        ctrl->setDispChannel(16);
        for (int ch = 0; ch < channels; ++ch)
            ctrl->SetConnectInfo("CH" + std::to_string(ch + 1), "Guest", "", "", "127.0.0.1",
                                 static_cast<int16_t>(sims[c]->port()), 0, static_cast<int16_t>(ch + 1), 0,
                                 static_cast<int16_t>(ch));
        ctrls.push_back(ctrl);
        auto consumer = std::make_unique<Consumer>();
        consumer->ctrl = ctrl;
        consumer->channels = channels;
        consumer->thread = std::thread([raw = consumer.get()] { raw->Run(); });
        consumers.push_back(std::move(consumer));
    }
    for (CVyrdaxCtrl* ctrl : ctrls) {
        for (int ch = 0; ch < channels; ++ch)
            ctrl->Connect(static_cast<int16_t>(ch));
        // The consumers stand in for the display threads, so that only the
        // link is measured; no frame has arrived yet (the logins need the
        // event loop).
        if (!withDisplay)
            for (int ch = 0; ch < channels; ++ch)
                ctrl->Channel(ch).displayThread.StopAndJoin();
    }
    Pump(3000); // logins, masks, first key frames

    for (auto& c : consumers)
        c->counting = true;
    const double cpuStart = CpuSeconds();
    const auto wallStart = std::chrono::steady_clock::now();
    Pump(seconds * 1000);
    for (auto& c : consumers)
        c->counting = false;
    const double cpu = CpuSeconds() - cpuStart;
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();

    long total = 0;
    double minFps = 1e9, maxFps = 0;
    long long bytes = 0;
    int maxBacklog = -1;
    for (auto& c : consumers) {
        for (int ch = 0; ch < channels; ++ch) {
            const long n = c->frames[ch].load();
            total += n;
            minFps = std::min(minFps, n / wall);
            maxFps = std::max(maxFps, n / wall);
        }
        bytes += c->bytes.load();
        maxBacklog = std::max(maxBacklog, c->maxBacklog.load());
    }
    bool allLoggedIn = true;
    for (CVyrdaxCtrl* ctrl : ctrls)
        allLoggedIn = allLoggedIn && ctrl->LoggedIn();

    std::printf("controls %d x channels %d (704x480, 30 fps offered), %.1f s%s\n", controls, channels, wall,
                withDisplay ? ", display threads running" : "");
    std::printf("frames received      %ld  (%.1f frames/s in total, %.2f MB/s)\n", total, total / wall,
                bytes / wall / 1e6);
    std::printf("per channel          %.2f .. %.2f frames/s\n", minFps, maxFps);
    std::printf("CPU of the process   %.2f s = %.1f %% of one core, %.1f us per frame\n", cpu, 100.0 * cpu / wall,
                total ? 1e6 * cpu / total : 0.0);
    std::printf("largest backlog seen %d of %d slots\n", maxBacklog, CFrameQueue::kSlots);
    std::printf("all sessions logged in at the end: %s\n", allLoggedIn ? "yes" : "no");

    for (auto& c : consumers) {
        c->stop = true;
        c->thread.join();
    }
    const auto destroyStart = std::chrono::steady_clock::now();
    for (CVyrdaxCtrl* ctrl : ctrls)
        delete ctrl;
    std::printf("destroying the controls took %.0f ms\n",
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - destroyStart).count());
    return allLoggedIn && total > 0 ? 0 : 1;
}
