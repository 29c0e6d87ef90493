// Live display throughput: N simulated DVRs of 16 channels of 704x480 at
// 30 fps over loopback, one control each, offscreen. Reports frames shown
// per second, CPU per shown frame against xvid decoding the same frames
// alone, and memory per channel.
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

#include <cstdio>
#include <cstring>
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


// CPU time of xvid decoding the same channels' frames with nothing else, per
// frame. As in live view, every channel has its own decoder and the channels
// take turns frame by frame (on one thread per core), so each decode finds
// its reference pictures as cold as the display threads do.
double RawDecodeMsPerFrame(int channels)
{
    dvrsim::LoopSettings s;
    s.width = 704;
    s.height = 480;
    s.interlace = true;
    s.loopFrames = 30;
    std::vector<std::vector<dvrsim::EncodedFrame>> loops(static_cast<std::size_t>(channels));
    std::string error;
    for (int ch = 0; ch < channels; ++ch)
        if (!dvrsim::encodeChannelLoop(s, ch % 16, loops[static_cast<std::size_t>(ch)], error))
            return 0;
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
    return (CpuSeconds() - start) * 1000.0 / (static_cast<double>(rounds) * s.loopFrames * channels);
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

    std::printf("channels                 %d (704x480, 30 fps, interlaced, %d DVR%s)\n", channels, dvrs,
                dvrs > 1 ? "s" : "");
    std::printf("frames shown per second  %.1f in total, %.2f per channel\n", frames / elapsed,
                frames / elapsed / channels);
    std::printf("CPU per shown frame      %.3f ms (%.2f cores)\n", frames ? cpu * 1000.0 / frames : 0.0,
                cpu / elapsed);
    std::printf("xvid decode alone        %.3f ms per frame (%d decoders taking turns, same frames)\n", rawMs,
                channels);
    std::printf("  display threads        %.3f ms per frame\n", frames ? displayCpu * 1000.0 / frames : 0.0);
    std::printf("  GUI thread (present)   %.3f ms per frame\n", frames ? guiCpu * 1000.0 / frames : 0.0);
    std::printf("  receive and others     %.3f ms per frame\n", frames ? otherCpu * 1000.0 / frames : 0.0);
    const double pathMs = frames ? (displayCpu + guiCpu) * 1000.0 / frames : 0.0;
    std::printf("display path / decode    %.2f (queue to screen: display threads and GUI thread)\n",
                rawMs > 0 ? pathMs / rawMs : 0.0);
    std::printf("largest queue backlog    %d of 59\n", worstBacklog);
    std::printf("resident memory          %.1f MiB -> %.1f MiB (%.2f MiB per channel)\n", rssBefore, rssAfter,
                (rssAfter - rssBefore) / channels);
    for (auto* c : controls)
        c->Release();
    for (auto& sim : sims)
        sim->stop();
    return 0;
}
