// Live display throughput: N simulated DVRs of 16 channels of 704x480 at
// 30 fps over loopback, one control each, offscreen. Reports frames shown
// per second, CPU per shown frame against two references of xvid decoding
// the same frames alone (turns on one thread per core, and one thread per
// channel paced at 30 fps as live view runs), where the display threads'
// time goes, and memory per channel.
//   display_bench [--dvrs N] [--seconds S]
#include "SimProcess.h"
#include "bench/common/ProcessMeasures.h"
#include "VideoLoops.h"

#include "control/CVyrdaxCtrl.h"
#include "control/display/XvidDecoder.h"
#include "control/link/DvrPacket.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <sys/resource.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <memory>
#include <thread>

namespace {

using bench::CpuSeconds;
using bench::ResidentMiB;
using bench::Pump;

// CPU seconds of this process's threads, split into the display threads,
// the GUI thread and the rest (receive threads and others).
struct ThreadCpu {
    double display = 0, gui = 0, other = 0;
};

ThreadCpu ThreadCpuSeconds()
{
    ThreadCpu t;
    const long ticks = sysconf(_SC_CLK_TCK);
    const std::string self = std::to_string(getpid());
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(entry.path() / "comm");
        std::string name;
        std::getline(comm, name);
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        std::getline(stat, line);
        const auto close = line.rfind(')');
        if (close == std::string::npos)
            continue;
        std::istringstream fields(line.substr(close + 2));
        std::string field;
        double utime = 0, stime = 0;
        for (int k = 3; k <= 15 && fields >> field; ++k) {
            if (k == 14)
                utime = std::stod(field);
            if (k == 15)
                stime = std::stod(field);
        }
        const double seconds = (utime + stime) / static_cast<double>(ticks);
        if (name == "vyr-display")
            t.display += seconds;
        else if (entry.path().filename() == self)
            t.gui += seconds;
        else
            t.other += seconds;
    }
    return t;
}


std::vector<std::vector<dvrsim::EncodedFrame>> EncodeLoops(int channels, int loopFrames)
{
    dvrsim::LoopSettings s;
    s.width = 704;
    s.height = 480;
    s.interlace = true;
    s.loopFrames = loopFrames;
    std::vector<std::vector<dvrsim::EncodedFrame>> loops(static_cast<std::size_t>(channels));
    std::string error;
    for (int ch = 0; ch < channels; ++ch)
        if (!dvrsim::encodeChannelLoop(s, ch % 16, loops[static_cast<std::size_t>(ch)], error))
            return {};
    return loops;
}

// CPU time of xvid decoding the same channels' frames with nothing else, per
// frame. As in live view, every channel has its own decoder and the channels
// take turns frame by frame (on one thread per core), so each decode finds
// its reference pictures as cold as the display threads do.
double RawDecodeMsPerFrame(int channels)
{
    const auto loops = EncodeLoops(channels, 30);
    if (loops.empty())
        return 0;
    const int loopFrames = 30;
    const int rounds = 10;
    const int workers = std::max(1, std::min(channels, static_cast<int>(std::thread::hardware_concurrency())));
    const double start = CpuSeconds();
    std::vector<std::thread> threads;
    for (int w = 0; w < workers; ++w)
        threads.emplace_back([&loops, w, workers, channels] {
            std::vector<std::unique_ptr<vyrdax::XvidDecoder>> decoders;
            std::vector<int> mine;
            std::vector<uint8_t> buffer(200000, 0);
            vyrdax::StreamHeader h = vyrdax::kStreamHeaderTemplate;
            vyrdax::PatchStreamHeader(h, 704, 480, true);
            for (int ch = w; ch < channels; ch += workers) {
                decoders.push_back(std::make_unique<vyrdax::XvidDecoder>());
                decoders.back()->Create();
                std::memcpy(buffer.data(), h.data(), h.size());
                decoders.back()->Decode(buffer.data(), 30);
                mine.push_back(ch);
            }
            for (int r = 0; r < rounds; ++r)
                for (std::size_t f = 0; f < loops[0].size(); ++f)
                    for (std::size_t d = 0; d < mine.size(); ++d) {
                        const auto& frame = loops[static_cast<std::size_t>(mine[d])][f];
                        std::memcpy(buffer.data(), frame.bytes.data(), frame.bytes.size());
                        std::memset(buffer.data() + frame.bytes.size(), 0, 1000);
                        decoders[d]->Decode(buffer.data(), static_cast<int>(frame.bytes.size() + 1000));
                    }
        });
    for (auto& t : threads)
        t.join();
    return (CpuSeconds() - start) * 1000.0 / (static_cast<double>(rounds) * loopFrames * channels);
}

uint64_t ThreadCpuNs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<uint64_t>(t.tv_sec) * 1000000000u + static_cast<uint64_t>(t.tv_nsec);
}

// CPU time per frame of xvid decoding the same frames in as many threads as
// the display path runs, one per channel, each paced at 30 frames a second:
// the decoder under the same parallel load, without queues, conversion,
// deinterlacing or painting.
double ParallelDecodeMsPerFrame(int channels, int seconds)
{
    const auto loops = EncodeLoops(channels, 30);
    if (loops.empty())
        return 0;
    std::atomic<uint64_t> cpuNs{0}, frames{0};
    std::vector<std::thread> threads;
    const auto start = std::chrono::steady_clock::now() + std::chrono::milliseconds(100);
    const auto end = start + std::chrono::seconds(seconds);
    for (int ch = 0; ch < channels; ++ch)
        threads.emplace_back([&, ch] {
            vyrdax::XvidDecoder decoder;
            decoder.Create();
            std::vector<uint8_t> buffer(200000, 0);
            vyrdax::StreamHeader h = vyrdax::kStreamHeaderTemplate;
            vyrdax::PatchStreamHeader(h, 704, 480, true);
            std::memcpy(buffer.data(), h.data(), h.size());
            decoder.Decode(buffer.data(), 30);
            const auto& loop = loops[static_cast<std::size_t>(ch)];
            auto due = start + std::chrono::microseconds(ch * 33333 / channels);
            std::size_t f = 0;
            uint64_t mine = 0, count = 0;
            while (due < end) {
                std::this_thread::sleep_until(due);
                const auto& frame = loop[f];
                f = (f + 1) % loop.size();
                const uint64_t before = ThreadCpuNs();
                std::memcpy(buffer.data(), frame.bytes.data(), frame.bytes.size());
                std::memset(buffer.data() + frame.bytes.size(), 0, 1000);
                decoder.Decode(buffer.data(), static_cast<int>(frame.bytes.size() + 1000));
                mine += ThreadCpuNs() - before;
                ++count;
                due += std::chrono::microseconds(33333);
            }
            cpuNs += mine;
            frames += count;
        });
    for (auto& t : threads)
        t.join();
    return frames ? static_cast<double>(cpuNs.load()) / 1e6 / static_cast<double>(frames.load()) : 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    int dvrs = 1, seconds = 20;
    for (int k = 1; k + 1 < argc; k += 2) {
        if (!std::strcmp(argv[k], "--dvrs"))
            dvrs = std::max(1, std::min(4, std::atoi(argv[k + 1])));
        else if (!std::strcmp(argv[k], "--seconds"))
            seconds = std::max(5, std::atoi(argv[k + 1]));
    }
    const int channelsPerDvr = 16;

    std::vector<std::unique_ptr<SimProcess>> sims;
    for (int d = 0; d < dvrs; ++d) {
        sims.push_back(std::make_unique<SimProcess>());
        if (!sims.back()->start({"--channels", "16", "--size", "704x480", "--fps", "30", "--interlace", "1"})) {
            std::fprintf(stderr, "display_bench: dvrsim did not start\n");
            return 1;
        }
    }
    QWidget host;
    host.resize(1280, 960);
    host.show();
    const double rssBefore = ResidentMiB();
    std::vector<vyrdax::CVyrdaxCtrl*> controls;
    for (int d = 0; d < dvrs; ++d) {
        auto* ctrl = new vyrdax::CVyrdaxCtrl(&host);
        ctrl->setDispChannel(64);
        for (int ch = 0; ch < channelsPerDvr; ++ch)
            ctrl->SetConnectInfo("D" + std::to_string(d) + "-" + std::to_string(ch), "Guest", "", "", "127.0.0.1",
                                 static_cast<int16_t>(sims[d]->port()), 0, static_cast<int16_t>(ch + 1), 0,
                                 static_cast<int16_t>(d * channelsPerDvr + ch));
        ctrl->ReplaceWnd(64, 0, 0, 0, 0, 0, 0);
        for (int ch = 0; ch < channelsPerDvr; ++ch)
            ctrl->Connect(static_cast<int16_t>(ch));
        controls.push_back(ctrl);
    }
    Pump(3000); // connect, first key frames, queues settle

    auto shown = [&] {
        uint64_t total = 0;
        for (auto* c : controls)
            for (int ch = 0; ch < channelsPerDvr; ++ch)
                total += c->Channel(ch).framesShown.load();
        return total;
    };
    const uint64_t framesBefore = shown();
    const double cpuBefore = CpuSeconds();
    const ThreadCpu threadsBefore = ThreadCpuSeconds();
    auto stageTimes = [&] {
        std::array<uint64_t, 4> t{};
        for (auto* c : controls)
            for (int ch = 0; ch < channelsPerDvr; ++ch) {
                const auto& d = c->Channel(ch).displayTimes;
                t[0] += d.decodeNs.load();
                t[1] += d.convertNs.load();
                t[2] += d.deinterlaceNs.load();
                t[3] += d.lockWaitNs.load();
            }
        return t;
    };
    const std::array<uint64_t, 4> stagesBefore = stageTimes();
    int worstBacklog = -1;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < seconds * 1000) {
        Pump(500);
        for (auto* c : controls)
            for (int ch = 0; ch < channelsPerDvr; ++ch)
                worstBacklog = std::max(worstBacklog, c->Channel(ch).queue.Backlog());
    }
    const double elapsed = clock.elapsed() / 1000.0;
    const uint64_t frames = shown() - framesBefore;
    const double cpu = CpuSeconds() - cpuBefore;
    const ThreadCpu threadsAfter = ThreadCpuSeconds();
    const std::array<uint64_t, 4> stagesAfter = stageTimes();
    const double displayCpu = threadsAfter.display - threadsBefore.display;
    const double guiCpu = threadsAfter.gui - threadsBefore.gui;
    const double otherCpu = threadsAfter.other - threadsBefore.other;
    const double rssAfter = ResidentMiB();
    const int channels = dvrs * channelsPerDvr;
    for (auto* c : controls)
        for (int ch = 0; ch < channelsPerDvr; ++ch)
            c->DisConnectSvr(static_cast<int16_t>(ch));
    Pump(500);
    const double rawMs = RawDecodeMsPerFrame(channels);
    const double parallelMs = ParallelDecodeMsPerFrame(channels, std::min(seconds, 10));
    auto stageMs = [&](int k) {
        return frames ? static_cast<double>(stagesAfter[k] - stagesBefore[k]) / 1e6 / static_cast<double>(frames)
                      : 0.0;
    };

    std::printf("channels                 %d (704x480, 30 fps, interlaced, %d DVR%s)\n", channels, dvrs,
                dvrs > 1 ? "s" : "");
    std::printf("frames shown per second  %.1f in total, %.2f per channel\n", frames / elapsed,
                frames / elapsed / channels);
    std::printf("CPU per shown frame      %.3f ms (%.2f cores)\n", frames ? cpu * 1000.0 / frames : 0.0,
                cpu / elapsed);
    std::printf("xvid decode alone        %.3f ms per frame (%d decoders taking turns, one thread per core)\n",
                rawMs, channels);
    std::printf("xvid decode in parallel  %.3f ms per frame (%d threads, one per channel, 30 fps each)\n",
                parallelMs, channels);
    std::printf("  display threads        %.3f ms per frame\n", frames ? displayCpu * 1000.0 / frames : 0.0);
    std::printf("    decode               %.3f ms per frame (processor time)\n", stageMs(0));
    std::printf("    colour conversion    %.3f ms per frame\n", stageMs(1));
    std::printf("    deinterlace          %.3f ms per frame\n", stageMs(2));
    std::printf("    rest (queue, titles) %.3f ms per frame\n",
                (frames ? displayCpu * 1000.0 / frames : 0.0) - stageMs(0) - stageMs(1) - stageMs(2));
    std::printf("    waiting on locks     %.3f ms per frame (wall time, not processor time)\n", stageMs(3));
    std::printf("  GUI thread (present)   %.3f ms per frame\n", frames ? guiCpu * 1000.0 / frames : 0.0);
    std::printf("  receive and others     %.3f ms per frame\n", frames ? otherCpu * 1000.0 / frames : 0.0);
    const double pathMs = frames ? (displayCpu + guiCpu) * 1000.0 / frames : 0.0;
    std::printf("display path / decode    %.2f against turns on one thread per core\n",
                rawMs > 0 ? pathMs / rawMs : 0.0);
    std::printf("display path / parallel  %.2f against one thread per channel (path: display and GUI threads)\n",
                parallelMs > 0 ? pathMs / parallelMs : 0.0);
    std::printf("largest queue backlog    %d of 59\n", worstBacklog);
    std::printf("resident memory          %.1f MiB -> %.1f MiB (%.2f MiB per channel)\n", rssBefore, rssAfter,
                (rssAfter - rssBefore) / channels);
    for (auto* c : controls)
        c->Release();
    for (auto& sim : sims)
        sim->stop();
    return 0;
}
