// A backup made by the control's BackUp from recordings, opened and played
// by the player: the folder holds the player and the decoder library, the
// player finds the library beside itself, every channel plays in step, and
// a changed header byte is reported while the channel still plays.
#include "EndWithTestProcess.h"
#include "MessageHost.h"
#include "PlaybackFixture.h"
#include "RecordTestSupport.h"

#include "control/CVyrdaxCtrl.h"
#include "control/backup/CBackupMaker.h"
#include "control/backup/CBackupRuns.h"
#include "control/interface/VyrdaxInterface.h"
#include "player/engine/PlaybackEngine.h"
#include "player/folder/BackupFolder.h"
#include "platform/MessageBox.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace vyrdax;
using platform::Variant;
using recordtest::LocalTime;
using recordtest::RunCommand;
using testsupport::MessageHost;
using testsupport::PumpUntil;

namespace {

constexpr int kChannels = 16;

Variant Text(const std::string& s) { return Variant::String(std::u16string(s.begin(), s.end())); }

class CountingWindow : public zoplayer::ChannelWindow {
public:
    void SetTitle(const std::string&) override {}
    void ShowPicture(const uint8_t*, const uint8_t*, const uint8_t*, int w, int h) override
    {
        if (w == 352 && h == 240)
            ++pictures;
    }
    void ClearPicture() override {}
    std::atomic<int> pictures{0};
};

// Plays the folder with real threads until every cell has shown `pictures`
// pictures and, when `inStepMoments` is set, the channels' last pictures
// have been within `stepMicroseconds` of each other at that many looks. A
// thread a loaded machine holds back shows its picture late, never early,
// and its cell lags until it runs again: the looks find the moments at
// which it does. A channel paced by anything but the common clock is never
// within a step of the others.
struct PlayedFolder {
    zoplayer::OpenedFolder folder;
    std::array<int, zoplayer::kEngineChannels> pictures{};
    int inStepMoments = 0, looks = 0;
    int64_t closestMicroseconds = INT64_MAX; // the least spread a look saw
};

PlayedFolder Play(const std::string& path, int pictures, int inStepMoments = 0, int64_t stepMicroseconds = 0)
{
    PlayedFolder played;
    played.folder = zoplayer::OpenBackupFolder(path);
    std::vector<zoplayer::CMovieFileReader*> readers;
    for (auto& r : played.folder.readers)
        readers.push_back(r.get());
    std::array<CountingWindow, zoplayer::kEngineChannels> windows;
    std::array<zoplayer::ChannelWindow*, zoplayer::kEngineChannels> sinks{};
    for (std::size_t i = 0; i < sinks.size(); ++i)
        sinks[i] = &windows[i];
    zoplayer::SteadyPlayerClock clock;
    zoplayer::PlaybackEngine engine(readers, sinks, clock);
    EXPECT_TRUE(engine.CreateDecoders());
    engine.ChooseEarliestBaseChannel();
    engine.SetPlayState(zoplayer::kPlaying);
    engine.StartThreads();
    const int channels = engine.ChannelCount();
    auto enoughPictures = [&] {
        for (int c = 0; c < channels; ++c)
            if (windows[static_cast<std::size_t>(c)].pictures.load() < pictures)
                return false;
        return true;
    };
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while ((!enoughPictures() || played.inStepMoments < inStepMoments) && !engine.AllChannelsFinished() &&
           std::chrono::steady_clock::now() < giveUp) {
        int64_t low = INT64_MAX, high = INT64_MIN;
        for (int c = 0; c < channels; ++c) {
            low = std::min(low, engine.LastShownTime(c));
            high = std::max(high, engine.LastShownTime(c));
        }
        // Only once every channel has a picture to compare.
        if (channels > 0 &&
            std::all_of(windows.begin(), windows.begin() + channels, [](auto& w) { return w.pictures.load() > 0; })) {
            ++played.looks;
            played.closestMicroseconds = std::min(played.closestMicroseconds, high - low);
            played.inStepMoments += high - low <= stepMicroseconds;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    engine.SetPlayState(zoplayer::kPaused);
    engine.StopThreads();
    for (std::size_t i = 0; i < windows.size(); ++i)
        played.pictures[i] = windows[i].pictures.load();
    return played;
}

} // namespace

TEST(PlayerEndToEnd, ABackupOfSixteenChannelsPlaysInStepAndReportsAChangedHeader)
{
    recordtest::TempDir recordings, out;
    const std::time_t start = LocalTime(2026, 12, 31, 10, 0, 0);
    std::vector<playbacktest::Segment> segments;
    for (int c = 0; c < kChannels; ++c)
        segments.push_back({c, "F.Cam" + std::to_string(c), start, 30});
    playbacktest::WriteRecordings(recordings.path(), segments);
    const int64_t mib = CBackupRuns::EstimateMiB(CBackupMaker(recordings.path(), start - 60, start + 60).EstimateKiB());
    ASSERT_GE(mib, 1) << "BackUp copies nothing from an empty range";

    // The backup maker copies the player from the program's own directory,
    // which for this test program is the player's, whatever the working one.
    ASSERT_EQ(fs::canonical(fs::path(ZOPLAYER_PROGRAM).parent_path()), fs::path(CBackupRuns::ProgramDirectories().front()));
    std::vector<std::string> boxes;
    const auto previousHandler = platform::SetMessageBoxHandler([&](const std::string& text, const std::string&, unsigned) {
        boxes.push_back(text);
        return 1;
    });
    std::string folder;
    {
        MessageHost host;
        host.resize(640, 480);
        auto* ctrl = new CVyrdaxCtrl(&host);
        ctrl->setDispChannel(4);
        Variant r;
        EXPECT_EQ(ctrl->Invoke(DISPID_BackUp,
                               {Text(recordings.path()), Text(out.path()), Variant::Long(static_cast<int32_t>(start - 60)),
                                Variant::Long(static_cast<int32_t>(start + 60)), Variant::Long(static_cast<int32_t>(mib))},
                               &r),
                  platform::S_OK);
        EXPECT_EQ(r.i, 1);
        EXPECT_TRUE(PumpUntil([&] { return host.Of(WM_VIDEO_PROGRESS).size() == 2; }, 30000));
        folder = ctrl->Backups().LastFolder();
        ctrl->Release();
    }
    platform::SetMessageBoxHandler(previousHandler);
    EXPECT_TRUE(boxes.empty());
    ASSERT_FALSE(folder.empty());

    // The folder holds the movie files, the player and the decoder library.
    const std::string library = fs::path(CBackupRuns::DecoderLibraryPath()).filename().string();
    ASSERT_TRUE(fs::exists(folder + "/ZoPlayer"));
    ASSERT_TRUE(fs::exists(folder + "/" + library));
    int status = -1;
    const std::string ldd = RunCommand("env -u LD_LIBRARY_PATH ldd " + folder + "/ZoPlayer", &status);
    EXPECT_NE(ldd.find(library + " => " + folder + "/" + library), std::string::npos) << ldd;
    EXPECT_EQ(ldd.find("libvyr"), std::string::npos) << ldd;
    EXPECT_EQ(ldd.find("not found"), std::string::npos) << ldd;

    // All channels were recorded over the same seconds: they play in step.
    PlayedFolder played = Play(folder, 5, 10, 300000);
    ASSERT_EQ(played.folder.outcome, zoplayer::OpenedFolder::kOpened);
    EXPECT_EQ(played.folder.splitMode, 16);
    ASSERT_EQ(played.folder.readers.size(), static_cast<std::size_t>(kChannels));
    // A fresh backup reads as authentic: each file's times agree.
    EXPECT_EQ(played.folder.authenticityText, zoplayer::kAuthenticText);
    for (int c = 0; c < kChannels; ++c)
        EXPECT_GE(played.pictures[static_cast<std::size_t>(c)], 5) << "cell " << c;
    EXPECT_GE(played.inStepMoments, 10) << played.looks << " looks, the closest "
                                        << played.closestMicroseconds << " us apart";

    // The program starts in the folder with nothing of the build around it.
    const std::string copy = folder + "/ZoPlayer";
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        testsupport::EndWithTestProcess(parent);
        ::chdir(folder.c_str());
        ::unsetenv("LD_LIBRARY_PATH");
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        ::execl(copy.c_str(), copy.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ASSERT_GT(pid, 0);
    // Up, however long a loaded machine takes to start it, it plays on.
    EXPECT_TRUE(testsupport::WaitUntilCatching(pid, SIGTERM, 60000)) << "the player did not come up";
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    int exitStatus = 0;
    EXPECT_EQ(::waitpid(pid, &exitStatus, WNOHANG), 0) << "the player ended at once: " << exitStatus;
    // Playing, it ends on SIGTERM (a shutdown) as when its window closes:
    // its threads joined, exit status 0. One that does not end plays for
    // ever.
    ::kill(pid, SIGTERM);
    const auto ending = std::chrono::steady_clock::now();
    pid_t ended = 0;
    while ((ended = ::waitpid(pid, &exitStatus, WNOHANG)) == 0 &&
           std::chrono::steady_clock::now() - ending < std::chrono::seconds(60))
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(ended, pid) << "still playing a minute after SIGTERM";
    if (ended != pid) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &exitStatus, 0);
    } else {
        EXPECT_TRUE(WIFEXITED(exitStatus) && WEXITSTATUS(exitStatus) == 0) << exitStatus;
    }

    // One changed byte of the checksummed header: reported, still played.
    const std::string movie = vyrmovie::BackupMovieFile(folder, 0);
    {
        std::fstream f(movie, std::ios::in | std::ios::out | std::ios::binary);
        f.seekg(20);
        const int byte = f.get();
        f.seekp(20);
        f.put(static_cast<char>(byte ^ 0x01));
    }
    PlayedFolder tampered = Play(folder, 3, 10, 300000);
    EXPECT_EQ(tampered.folder.authenticityText, zoplayer::kNotAuthenticatedText);
    EXPECT_EQ(tampered.folder.channelStatus[0], zoplayer::kNotAuthenticated);
    EXPECT_EQ(tampered.folder.channelStatus[1], zoplayer::kAuthentic);
    EXPECT_GE(tampered.pictures[0], 3);
    EXPECT_GE(tampered.inStepMoments, 10) << tampered.looks << " looks, the closest "
                                          << tampered.closestMicroseconds << " us apart";

    if (const char* keep = std::getenv("ZOPLAYER_KEEP_BACKUP"))
        fs::copy(folder, keep, fs::copy_options::recursive | fs::copy_options::overwrite_existing);
}
