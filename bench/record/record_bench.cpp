// Recording and local search figures.
//
//   record_bench write [SECONDS]   four simulators of 16 channels (704x480,
//       30 fps) into four controls recording all 64 channels; the writers'
//       clocks jump 20 minutes every 3 s to force splits. Prints MB/s on
//       disk, writer time per frame and the longest split.
//   record_bench avi [SECONDS]     the same 64 channels recorded into movie
//       files and AVI files at once; every 3 s each AVI file is finished and
//       a new one begun. Adds the AVI writer's time per frame and the longest
//       close (header, index copy, rename) on a receive thread.
//   record_bench avi-close [FRAMES]   one AVI file of FRAMES small frames
//       (36000: twenty minutes at 30 fps), then the time its close takes.
//   record_bench search [DAYS] [DIR]   generates DAYS day directories of
//       64 channels x 72 files (empty, last written at their file's end) and
//       times one month search and one day search.
#include "SimProcess.h"

#include "bench/common/ProcessMeasures.h"

#include "control/CVyrdaxCtrl.h"
#include "control/record/CAviWriter.h"
#include "control/record/CRecordCatalog.h"
#include "platform/MessageBox.h"

#include <QApplication>
#include <QElapsedTimer>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sys/resource.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

namespace {

using namespace vyrdax;
namespace fs = std::filesystem;
using bench::CpuSeconds;
using bench::Pump;
using bench::TreeBytes;

class Host : public QWidget, public platform::MessageReceiver {
public:
    platform::LRESULT OnMessage(uint32_t message, platform::WPARAM, platform::LPARAM) override
    {
        if (message == WM_VIDEO_STARTED)
            ++started;
        return 0;
    }
    int started = 0;

protected:
    bool event(QEvent* e) override { return platform::HandleMessageEvent(e, this) || QWidget::event(e); }
};

int Write(int seconds, bool avi)
{
    const int instances = 4, channels = 16;
    char pattern[] = "/tmp/vyr-record-bench-XXXXXX";
    const std::string dir = ::mkdtemp(pattern);
    std::vector<std::unique_ptr<SimProcess>> sims;
    for (int k = 0; k < instances; ++k) {
        sims.push_back(std::make_unique<SimProcess>());
        if (!sims.back()->start({"--channels", std::to_string(channels), "--size", "704x480", "--fps", "30"})) {
            std::fprintf(stderr, "dvrsim did not start\n");
            return 1;
        }
    }
    platform::SetMessageBoxHandler([](const std::string& text, const std::string&, unsigned) {
        std::fprintf(stderr, "message box: %s\n", text.c_str());
        return 1;
    });
    std::atomic<std::time_t> offset{0};
    RecordClock clock = [&offset] {
        RecordClockTime t = SystemRecordClock();
        t.seconds += offset.load();
        return t;
    };
    std::vector<std::unique_ptr<Host>> hosts;
    std::vector<CVyrdaxCtrl*> controls;
    for (int k = 0; k < instances; ++k) {
        hosts.push_back(std::make_unique<Host>());
        hosts.back()->resize(800, 600);
        auto* ctrl = new CVyrdaxCtrl(hosts.back().get());
        ctrl->setDispChannel(16);
        for (int ch = 0; ch < channels; ++ch)
            ctrl->SetConnectInfo("C" + std::to_string(k * channels + ch), "Guest", "", "", "127.0.0.1",
                                 static_cast<int16_t>(sims[static_cast<std::size_t>(k)]->port()), 0,
                                 static_cast<int16_t>(ch + 1), 0, static_cast<int16_t>(ch));
        ctrl->ReplaceWnd(16, 0, 0, 0, 0, 0, 0);
        ctrl->Recorder().SetClock(clock);
        for (int ch = 0; ch < channels; ++ch)
            ctrl->Connect(static_cast<int16_t>(ch));
        controls.push_back(ctrl);
    }
    QElapsedTimer wait;
    wait.start();
    while (wait.elapsed() < 30000) {
        int started = 0;
        for (auto& h : hosts)
            started += h->started;
        if (started >= instances * channels)
            break;
        Pump(50);
    }
    for (int k = 0; k < instances; ++k) {
        CVyrdaxCtrl* ctrl = controls[static_cast<std::size_t>(k)];
        ctrl->SetRecType(0);
        const RecordClockTime now = clock();
        std::tm t{};
        localtime_r(&now.seconds, &t);
        for (int ch = 0; ch < channels; ++ch) {
            const std::string prefix = "F.C" + std::to_string(k * channels + ch);
            ctrl->StartRecord(dir, vyrmovie::RecordingFileName(prefix, t, ch), prefix, 0, static_cast<int16_t>(ch));
        }
    }
    int aviRound = 0;
    auto startAvi = [&] {
        ++aviRound;
        for (int k = 0; k < instances; ++k) {
            CVyrdaxCtrl* ctrl = controls[static_cast<std::size_t>(k)];
            ctrl->SetRecType(1);
            for (int ch = 0; ch < channels; ++ch) {
                const std::string prefix = "F.C" + std::to_string(k * channels + ch);
                ctrl->StartRecord(dir, prefix + "." + std::to_string(aviRound) + ".avi", prefix, 0,
                                  static_cast<int16_t>(ch));
            }
            ctrl->SetRecType(0);
        }
    };
    if (avi)
        startAvi();
    const double cpuBefore = CpuSeconds();
    QElapsedTimer run;
    run.start();
    while (run.elapsed() < seconds * 1000) {
        Pump(3000);
        // Before the clock jumps: a start takes the split mark from the clock.
        if (avi)
            startAvi(); // each open AVI file is finished at its next frame
        offset += 20 * 60; // every writer meets a 20-minute mark at its next frame
    }
    for (CVyrdaxCtrl* ctrl : controls)
        for (int ch = 0; ch < channels; ++ch)
            ctrl->StopRecord(static_cast<int16_t>(ch));
    if (avi) {
        for (CVyrdaxCtrl* ctrl : controls) {
            ctrl->SetRecType(1);
            for (int ch = 0; ch < channels; ++ch)
                ctrl->StopRecord(static_cast<int16_t>(ch));
        }
        Pump(500);
    }
    const double elapsed = static_cast<double>(run.elapsed()) / 1000.0;
    const double cpu = CpuSeconds() - cpuBefore;

    RecordingWriter::Statistics total;
    for (CVyrdaxCtrl* ctrl : controls) {
        const RecordingWriter::Statistics s = ctrl->Recorder().Stats();
        total.frames += s.frames;
        total.bytes += s.bytes;
        total.writeNanoseconds += s.writeNanoseconds;
        total.splits += s.splits;
        total.longestSplitNanoseconds = std::max(total.longestSplitNanoseconds, s.longestSplitNanoseconds);
        total.aviFrames += s.aviFrames;
        total.aviWriteNanoseconds += s.aviWriteNanoseconds;
        total.aviCloses += s.aviCloses;
        total.longestAviCloseNanoseconds = std::max(total.longestAviCloseNanoseconds, s.longestAviCloseNanoseconds);
    }
    for (CVyrdaxCtrl* ctrl : controls)
        ctrl->Release();
    const uint64_t onDisk = TreeBytes(dir);
    std::size_t files = 0;
    for (const auto& e : fs::recursive_directory_iterator(dir))
        files += e.is_regular_file();
    std::printf("recording 64 channels 704x480 @30 fps for %.1f s\n", elapsed);
    std::printf("  frames written      %llu (%.0f per second, %.1f per channel per second)\n",
                static_cast<unsigned long long>(total.frames), total.frames / elapsed, total.frames / elapsed / 64);
    std::printf("  written             %.1f MB/s (%.1f MB on disk in %zu files)\n", onDisk / elapsed / 1e6,
                onDisk / 1e6, files);
    std::printf("  writer time/frame   %.1f us (in WriteRecordFrame, receive threads)\n",
                total.frames ? total.writeNanoseconds / 1000.0 / static_cast<double>(total.frames) : 0.0);
    std::printf("  splits              %llu, longest %.3f ms (receive thread, before the host's notice)\n",
                static_cast<unsigned long long>(total.splits), total.longestSplitNanoseconds / 1e6);
    if (avi) {
        std::printf("  AVI time/frame      %.1f us (in WriteAviFrame, %llu frames, closes included)\n",
                    total.aviFrames ? total.aviWriteNanoseconds / 1000.0 / static_cast<double>(total.aviFrames) : 0.0,
                    static_cast<unsigned long long>(total.aviFrames));
        std::printf("  AVI closes          %llu, longest %.3f ms (header, index copy and rename, receive thread)\n",
                    static_cast<unsigned long long>(total.aviCloses), total.longestAviCloseNanoseconds / 1e6);
    }
    std::printf("  process CPU         %.2f cores (decode and display of 64 channels included)\n", cpu / elapsed);
    fs::remove_all(dir);
    return 0;
}

// One day directory: 64 channels x 72 twenty-minute files.
void MakeDay(const std::string& root, int year, int month, int day)
{
    char name[160];
    std::snprintf(name, sizeof name, "%s/%04d-%02d-%02d", root.c_str(), year, month, day);
    const std::string dayDir = name;
    ::mkdir(dayDir.c_str(), 0755);
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_isdst = -1;
    const std::time_t midnight = std::mktime(&t);
    for (int ch = 0; ch < 64; ++ch) {
        for (int k = 0; k < 72; ++k) {
            std::snprintf(name, sizeof name, "%s/F.C%02d.%04d%02d%02d.%02d%02d00.%02d.mp4", dayDir.c_str(), ch, year,
                          month, day, k / 3, k % 3 * 20, ch);
            const int fd = ::open(name, O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fd < 0)
                continue;
            const timespec times[2] = {{midnight + (k + 1) * 1200 - 1, 0}, {midnight + (k + 1) * 1200 - 1, 0}};
            ::futimens(fd, times);
            ::close(fd);
        }
    }
}

int Search(int days, std::string dir)
{
    const bool own = dir.empty();
    if (own) {
        char pattern[] = "/tmp/vyr-search-bench-XXXXXX";
        dir = ::mkdtemp(pattern);
    }
    const std::string marker = dir + "/.generated-" + std::to_string(days);
    if (!fs::exists(marker)) {
        std::printf("generating %d days of 64 channels (%d files) in %s\n", days, days * 64 * 72, dir.c_str());
        const auto begin = std::chrono::steady_clock::now();
        std::tm t{};
        t.tm_year = 2009 - 1900;
        t.tm_mon = 0;
        t.tm_mday = 1;
        t.tm_hour = 12;
        t.tm_isdst = -1;
        const std::time_t first = std::mktime(&t);
        for (int d = 0; d < days; ++d) {
            const std::time_t when = first + static_cast<std::time_t>(d) * 86400;
            std::tm day{};
            localtime_r(&when, &day);
            MakeDay(dir, day.tm_year + 1900, day.tm_mon + 1, day.tm_mday);
        }
        std::ofstream(marker).close();
        std::printf("  generated in %.1f s\n",
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count());
    }
    CRecordCatalog catalog;
    auto time = [](auto&& work) {
        const auto begin = std::chrono::steady_clock::now();
        work();
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    };
    // A cold cache is not what an operator sees twice; the first run warms it.
    catalog.GetMonthDataL(dir, "*.200906*.*.mp4");
    const double month = time([&] { catalog.GetMonthDataL(dir, "*.200906*.*.mp4"); });
    int daysFound = 0;
    for (int d = 1; d <= 31; ++d)
        daysFound += catalog.MonthEntry(d) != 0;
    const double day = time([&] { catalog.GetTimeDataL(dir, "*.20090615.*.mp4"); });
    int marked = 0;
    for (int ch = 0; ch < 64; ++ch)
        for (int s = 0; s < 48; ++s)
            marked += catalog.TimeCode(ch, s) != 0;
    const std::size_t dayFiles = catalog.NamesFound().size();
    const double playbackDay = time([&] { catalog.FindRecordingFile(dir, 2009, 6, 15); });
    // The same month with a pattern that names no date after "*.": every
    // directory of the tree is read.
    const double wholeTree = time([&] { catalog.GetMonthDataL(dir, "*200906*.*.mp4"); });
    std::printf("search over %d days x 64 channels x 72 files (%d files)\n", days, days * 64 * 72);
    std::printf("  month search        %.3f s (%d days found)\n", month, daysFound);
    std::printf("  day search          %.3f s (%zu files, %d half-hours marked)\n", day, dayFiles,
                marked);
    std::printf("  playback day fill   %.3f s\n", playbackDay);
    std::printf("  month, whole tree   %.3f s (for comparison: no day directory skipped)\n", wholeTree);
    if (own)
        fs::remove_all(dir);
    return 0;
}

} // namespace

int AviClose(int frames)
{
    char pattern[] = "/tmp/vyr-avi-bench-XXXXXX";
    const std::string dir = ::mkdtemp(pattern);
    const std::string name = dir + "/close.avi";
    std::vector<uint8_t> frame(1500, 0x5A);
    frame[4] = 0x10;
    CAviWriter avi;
    if (!avi.Open(name, 704, 480, frame.data(), static_cast<uint32_t>(frame.size())))
        return 1;
    for (int i = 1; i < frames; ++i)
        avi.AddFrame(frame.data(), static_cast<uint32_t>(frame.size()));
    const auto begin = std::chrono::steady_clock::now();
    const int closed = avi.Close(name, 1500);
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - begin).count();
    std::printf("AVI close of %d frames (index %.1f KiB): %.3f ms%s\n", frames, frames * 16 / 1024.0, ms,
                closed ? "" : " (failed)");
    fs::remove_all(dir);
    return closed ? 0 : 1;
}

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "avi-close")
        return AviClose(argc > 2 ? std::atoi(argv[2]) : 36000);
    if (mode == "search")
        return Search(argc > 2 ? std::atoi(argv[2]) : 365, argc > 3 ? argv[3] : "");
    if (mode == "write" || mode == "avi") {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QApplication app(argc, argv);
        return Write(argc > 2 ? std::atoi(argv[2]) : 15, mode == "avi");
    }
    std::fprintf(stderr, "usage: record_bench write|avi [SECONDS] | avi-close [FRAMES] | search [DAYS] [DIR]\n");
    return 2;
}
