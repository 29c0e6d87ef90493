// Local playback and backup figures.
//
//   playback_bench [CHANNELS] [SECONDS]   records CHANNELS (16 or 64) channels
//       of 704x480 at 30 fps from the simulator for SECONDS (real clock), then
//       plays them back in step: frames shown per second, CPU in cores and the
//       spread of the frames on screen at normal speed, at the fastest forward
//       speed and paused; then backs the recording up and compares the copy
//       rate with cp of the same files.
#include "SimProcess.h"

#include "bench/common/ProcessMeasures.h"

#include "control/CVyrdaxCtrl.h"
#include "control/PlayState.h"
#include "control/backup/CBackupMaker.h"
#include "control/backup/CBackupRuns.h"
#include "control/playback/CLocalPlayback.h"
#include "platform/MessageBox.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sys/resource.h>
#include <unistd.h>

namespace {

using namespace vyrdax;
namespace fs = std::filesystem;
using bench::CpuSeconds;
using bench::Pump;
using bench::TreeBytes;

class Host : public QWidget, public platform::MessageReceiver {
public:
    platform::LRESULT OnMessage(uint32_t message, platform::WPARAM wParam, platform::LPARAM lParam) override
    {
        if (message == WM_VIDEO_STARTED)
            ++started;
        if (message == WM_VIDEO_PROGRESS && wParam == 0) {
            backupEnded = true;
            backupResult = lParam;
        }
        return 0;
    }
    int started = 0;
    bool backupEnded = false;
    long backupResult = 0;

protected:
    bool event(QEvent* e) override { return platform::HandleMessageEvent(e, this) || QWidget::event(e); }
};

// One simulator and one control per 16 channels, as record_bench does; a
// control names its files by its own channel index, so each control records
// into a directory of its own and the files are then renamed to the channel
// numbers 0..63 of one playback.
std::time_t Record(const std::string& dir, int channels, int seconds)
{
    const int perControl = std::min(16, channels);
    const int instances = (channels + perControl - 1) / perControl;
    std::vector<std::unique_ptr<SimProcess>> sims;
    std::vector<std::unique_ptr<Host>> hosts;
    std::vector<CVyrdaxCtrl*> controls;
    for (int k = 0; k < instances; ++k) {
        sims.push_back(std::make_unique<SimProcess>());
        if (!sims.back()->start({"--channels", std::to_string(perControl), "--size", "704x480", "--fps", "30"})) {
            std::fprintf(stderr, "dvrsim did not start\n");
            std::exit(1);
        }
        hosts.push_back(std::make_unique<Host>());
        hosts.back()->resize(800, 600);
        auto* ctrl = new CVyrdaxCtrl(hosts.back().get());
        ctrl->setDispChannel(static_cast<int16_t>(perControl));
        for (int ch = 0; ch < perControl; ++ch)
            ctrl->SetConnectInfo("C" + std::to_string(k * perControl + ch), "Guest", "", "", "127.0.0.1",
                                 static_cast<int16_t>(sims.back()->port()), 1, static_cast<int16_t>(ch + 1), 0,
                                 static_cast<int16_t>(ch));
        ctrl->ReplaceWnd(static_cast<int16_t>(perControl), 0, 0, 0, 0, 0, 0);
        for (int ch = 0; ch < perControl; ++ch)
            ctrl->Connect(static_cast<int16_t>(ch));
        controls.push_back(ctrl);
    }
    QElapsedTimer wait;
    wait.start();
    auto started = [&] {
        int n = 0;
        for (auto& h : hosts)
            n += h->started;
        return n;
    };
    while (started() < instances * perControl && wait.elapsed() < 30000)
        Pump(50);
    for (int k = 0; k < instances; ++k)
        fs::create_directories(dir + "/part" + std::to_string(k));
    const std::time_t began = std::time(nullptr);
    std::tm t{};
    localtime_r(&began, &t);
    for (int k = 0; k < instances; ++k)
        for (int ch = 0; ch < perControl; ++ch) {
            const std::string prefix = "F.C" + std::to_string(k * perControl + ch);
            controls[static_cast<std::size_t>(k)]->StartRecord(dir + "/part" + std::to_string(k),
                                                               vyrmovie::RecordingFileName(prefix, t, ch), prefix, 0,
                                                               static_cast<int16_t>(ch));
        }
    Pump(seconds * 1000);
    for (CVyrdaxCtrl* ctrl : controls) {
        for (int ch = 0; ch < perControl; ++ch)
            ctrl->StopRecord(static_cast<int16_t>(ch));
        ctrl->Release();
    }
    for (int k = 0; k < instances; ++k) {
        const fs::path part = dir + "/part" + std::to_string(k);
        for (const auto& e : fs::recursive_directory_iterator(part)) {
            if (!e.is_regular_file())
                continue;
            std::string name = e.path().filename().string();
            const bool index = name.back() == 'i';
            const std::size_t field = name.size() - (index ? 7 : 6);
            const int ch = std::stoi(name.substr(field, 2)) + k * perControl;
            name[field] = static_cast<char>('0' + ch / 10);
            name[field + 1] = static_cast<char>('0' + ch % 10);
            const fs::path target = fs::path(dir) / e.path().parent_path().filename() / name;
            fs::create_directories(target.parent_path());
            fs::rename(e.path(), target);
        }
        fs::remove_all(part);
    }
    return began;
}

struct Measure {
    double framesPerSecond = 0, cores = 0;
    int64_t medianSpread = 0, maxSpread = 0;
};

Measure Watch(CLocalPlayback& engine, int channels, int ms, bool spread)
{
    uint64_t before = 0;
    for (int ch = 0; ch < channels; ++ch)
        before += engine.FramesShown(ch);
    const double cpu = CpuSeconds();
    QElapsedTimer wall;
    wall.start();
    std::vector<int64_t> spreads;
    while (wall.elapsed() < ms) {
        Pump(20);
        if (!spread)
            continue;
        int64_t low = INT64_MAX, high = INT64_MIN;
        for (int ch = 0; ch < channels; ++ch) {
            if (engine.FramesShown(ch) == 0)
                continue; // a channel that recorded nothing
            low = std::min(low, engine.ShownFrameTimeMs(ch));
            high = std::max(high, engine.ShownFrameTimeMs(ch));
        }
        if (high >= low)
            spreads.push_back(high - low);
    }
    Measure m;
    const double seconds = static_cast<double>(wall.elapsed()) / 1000.0;
    uint64_t after = 0;
    for (int ch = 0; ch < channels; ++ch)
        after += engine.FramesShown(ch);
    m.framesPerSecond = static_cast<double>(after - before) / seconds;
    m.cores = (CpuSeconds() - cpu) / seconds;
    if (!spreads.empty()) {
        std::sort(spreads.begin(), spreads.end());
        m.medianSpread = spreads[spreads.size() / 2];
        m.maxSpread = spreads.back();
    }
    return m;
}

} // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    const int channels = argc > 1 ? std::clamp(std::atoi(argv[1]), 1, 64) : 16;
    const int seconds = argc > 2 ? std::max(8, std::atoi(argv[2])) : 20;
    platform::SetMessageBoxHandler([](const std::string& text, const std::string&, unsigned) {
        std::fprintf(stderr, "message box: %s\n", text.c_str());
        return 1;
    });
    char pattern[] = "/tmp/vyr-playback-bench-XXXXXX";
    const std::string root = ::mkdtemp(pattern);
    const std::string recordings = root + "/rec", backups = root + "/backup", copies = root + "/cp";
    fs::create_directories(recordings);
    fs::create_directories(backups);

    const std::time_t began = Record(recordings, channels, seconds);
    const std::time_t ended = std::time(nullptr);
    std::printf("recorded %d channels of 704x480 for %d s: %.1f MB\n", channels, seconds,
                static_cast<double>(TreeBytes(recordings)) / 1e6);

    Host host;
    host.resize(1280, 960);
    auto* ctrl = new CVyrdaxCtrl(&host);
    platform::Variant r;
    std::tm t{};
    localtime_r(&began, &t);
    char day[64];
    std::snprintf(day, sizeof day, "*.%04d%02d%02d.*.mp4", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday);
    ctrl->setDispChannel(static_cast<int16_t>(channels));
    ctrl->SetBackupMode(1);
    ctrl->GetTimeDataL(recordings, day);
    QElapsedTimer starting;
    starting.start();
    ctrl->LocalPlayback().StartLocalPlayback(t.tm_hour * 2 + (t.tm_min > 29), began);
    std::printf("StartLocalPlayback: %lld ms (catalogues of three months, %d files opened, panes made)\n",
                static_cast<long long>(starting.elapsed()), channels);
    ctrl->ReplaceWnd(static_cast<int16_t>(channels), 0, 0, 0, 0, 0, 0);
    CLocalPlayback& engine = ctrl->LocalPlayback();
    Pump(1500);
    int showing = 0;
    for (int ch = 0; ch < channels; ++ch)
        showing += engine.FramesShown(ch) > 0;
    std::printf("channels showing video: %d of %d\n", showing, channels);
    const Measure play = Watch(engine, channels, std::min(8000, (seconds - 4) * 1000), true);
    std::printf("normal speed:   %7.0f frames/s shown (%5.1f per channel), CPU %.2f cores, spread median %lld ms, "
                "max %lld ms\n",
                play.framesPerSecond, play.framesPerSecond / channels, play.cores,
                static_cast<long long>(play.medianSpread), static_cast<long long>(play.maxSpread));
    engine.PauseFile();
    Pump(300);
    const Measure paused = Watch(engine, channels, 2000, false);
    std::printf("paused:         %7.0f frames/s shown, CPU %.3f cores\n", paused.framesPerSecond, paused.cores);
    // Fastest forward from the start of the recording, while it lasts.
    engine.StartLocalPlayback(t.tm_hour * 2 + (t.tm_min > 29), began);
    for (int k = 0; k < 3; ++k)
        engine.PlayFile(2);
    const Measure fast = Watch(engine, channels, 500, false);
    std::printf("fast forward 3: %7.0f frames/s shown, CPU %.2f cores (speed %d)\n", fast.framesPerSecond,
                fast.cores, playback::speed.load());
    engine.EndPlayFile();

    // Backup of the whole recording against cp of the same files, three
    // times each in turn (a backup folder is named by its second); the best
    // of each counts.
    double backupRate = 0, cpRate = 0, backupBytes = 0, copyRate = 0;
    for (int round = 0; round < 3; ++round) {
        QElapsedTimer copy;
        copy.start();
        const std::string target = copies + std::to_string(round);
        const std::string command = "cp -r '" + recordings + "' '" + target + "'";
        if (std::system(command.c_str()) != 0)
            std::fprintf(stderr, "cp failed\n");
        cpRate = std::max(cpRate, static_cast<double>(TreeBytes(target)) / 1e6 / (copy.elapsed() / 1000.0));
        fs::remove_all(target);

        Pump(1100);
        host.backupEnded = false;
        copy.restart();
        if (ctrl->BackUp(recordings, backups, static_cast<int32_t>(began - 1), static_cast<int32_t>(ended),
                         1000000) != 1) {
            std::fprintf(stderr, "backup refused\n");
            return 1;
        }
        while (!host.backupEnded)
            Pump(1);
        const double seconds = copy.elapsed() / 1000.0;
        backupBytes = static_cast<double>(TreeBytes(ctrl->Backups().LastFolder()));
        backupRate = std::max(backupRate, backupBytes / 1e6 / seconds);
        if (host.backupResult != 0)
            std::fprintf(stderr, "backup failed\n");
        fs::remove_all(ctrl->Backups().LastFolder());

        // The copy alone, without the estimate and the host's messages.
        const std::string alone = backups + "/alone";
        fs::create_directories(alone);
        std::atomic<bool> stop{false};
        copy.restart();
        CBackupMaker(recordings, began - 1, ended).Run(alone, stop);
        copyRate = std::max(copyRate, static_cast<double>(TreeBytes(alone)) / 1e6 / (copy.elapsed() / 1000.0));
        fs::remove_all(alone);
    }
    std::printf("backup:         %.1f MB, best of 3: BackUp to its end message %.0f MB/s, the copy alone %.0f MB/s; "
                "cp %.0f MB/s; ratio %.2f (copy alone %.2f)\n",
                backupBytes / 1e6, backupRate, copyRate, cpRate, backupRate / cpRate, copyRate / cpRate);
    ctrl->Release();
    fs::remove_all(root);
    return 0;
}
