// Movie player figures.
//
//   player_bench [CHANNELS] [SECONDS]   writes a backup folder of CHANNELS
//       (16 or 64) channels of 704x480 at 30 fps, 12 seconds each, and plays
//       it for SECONDS in the player's own video windows (offscreen): pictures
//       shown per second, CPU in cores, resident memory, and the drift of
//       each channel's picture against the base channel's, sampled every
//       100 ms.
#include "PlayerFolderWriter.h"
#include "RecordTestSupport.h"

#include "bench/common/ProcessMeasures.h"
#include "player/engine/PlaybackEngine.h"
#include "player/folder/BackupFolder.h"
#include "player/view/CVideoWnd.h"
#include "player/view/CellLayout.h"

#include <QApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    const int channels = argc > 1 ? std::atoi(argv[1]) : 16;
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 8;
    constexpr int kFps = 30;

    recordtest::TempDir dir;
    for (int c = 0; c < channels; ++c) {
        playertest::ChannelFiles files;
        files.slot = c;
        files.width = 704;
        files.height = 480;
        files.fps = kFps;
        files.frames = kFps * 12;
        files.gop = 15;
        playertest::WriteChannel(dir.path(), files);
    }
    zoplayer::OpenedFolder folder = zoplayer::OpenBackupFolder(dir.path());
    std::vector<zoplayer::CMovieFileReader*> readers;
    for (auto& r : folder.readers)
        readers.push_back(r.get());

    QWidget view;
    view.resize(1024, 768 - 60);
    std::array<zoplayer::ChannelWindow*, zoplayer::kEngineChannels> sinks{};
    std::vector<zoplayer::CVideoWnd*> windows;
    for (int t = 0; t < zoplayer::kEngineChannels; ++t) {
        auto* w = new zoplayer::CVideoWnd(&view, t);
        const QRect cell = zoplayer::CellRect(folder.splitMode, t, view.width(), view.height());
        if (!cell.isEmpty())
            w->setGeometry(cell);
        w->setVisible(!cell.isEmpty());
        windows.push_back(w);
        sinks[static_cast<std::size_t>(t)] = w;
    }
    view.show();

    zoplayer::SteadyPlayerClock clock;
    zoplayer::PlaybackEngine engine(readers, sinks, clock);
    if (!engine.CreateDecoders()) {
        std::fprintf(stderr, "no decoder\n");
        return 1;
    }
    engine.splitMode = folder.splitMode;
    engine.ChooseEarliestBaseChannel();
    engine.SetPlayState(zoplayer::kPlaying);
    engine.StartThreads();
    bench::Pump(1000); // let every channel reach its pace

    uint64_t shownBefore = 0;
    for (int c = 0; c < engine.ChannelCount(); ++c)
        shownBefore += engine.ShownCount(c);
    const double cpuBefore = bench::CpuSeconds();
    QElapsedTimer wall;
    wall.start();
    double driftSum = 0, driftMax = 0;
    int samples = 0;
    while (wall.elapsed() < seconds * 1000) {
        bench::Pump(100);
        const int base = engine.BaseChannel();
        const int64_t baseTime = engine.LastShownTime(base);
        double worst = 0;
        for (int c = 0; c < engine.ChannelCount(); ++c)
            worst = std::max(worst, std::abs(static_cast<double>(engine.LastShownTime(c) - baseTime)) / 1000.0);
        driftSum += worst;
        driftMax = std::max(driftMax, worst);
        ++samples;
    }
    const double elapsed = wall.elapsed() / 1000.0;
    const double cpu = bench::CpuSeconds() - cpuBefore;
    uint64_t shownAfter = 0;
    for (int c = 0; c < engine.ChannelCount(); ++c)
        shownAfter += engine.ShownCount(c);
    engine.StopThreads();

    std::printf("channels %d of 704x480 at %d fps, split %d, %.1f s\n", channels, kFps, folder.splitMode, elapsed);
    std::printf("  pictures shown   %.0f /s (recorded: %d /s)\n", (shownAfter - shownBefore) / elapsed,
                channels * kFps);
    std::printf("  CPU              %.2f cores\n", cpu / elapsed);
    std::printf("  resident memory  %.0f MiB\n", bench::ResidentMiB());
    std::printf("  drift vs base    mean of worst %.1f ms, worst %.1f ms (one frame: %.1f ms)\n",
                samples ? driftSum / samples : 0.0, driftMax, 1000.0 / kFps);
    return 0;
}
