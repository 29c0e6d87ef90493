// Local playback of channels whose recordings break off: gaps of several
// lengths in the master's recording and in the others', across a 20-minute
// file split and across midnight, files that cannot be opened, cameras that
// begin later. Every channel must show each of its recorded frames that a
// reader can open once, in time order, stay black while it has nothing to
// show and show its pictures while its recording plays.
#include "MessageHost.h"
#include "PlaybackFixture.h"
#include "RecordTestSupport.h"

#include "control/CVyrdaxCtrl.h"
#include "control/PlayState.h"
#include "control/backup/CBackupMaker.h"
#include "control/playback/CLocalPlayback.h"
#include "control/record/MovieFormat.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>

namespace {

namespace fs = std::filesystem;
using namespace vyrdax;
using platform::Variant;
using playbacktest::Segment;
using recordtest::LocalTime;
using testsupport::MessageHost;
using testsupport::PumpUntil;

// The PC times (ms) of every frame recorded for a channel in a movie file
// that has its index beside it, in time order.
std::vector<int64_t> RecordedTimes(const std::string& directory, int channel)
{
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, ".%02d.mp4", channel);
    std::vector<int64_t> times;
    for (const auto& e : fs::recursive_directory_iterator(directory)) {
        const std::string name = e.path().filename().string();
        if (name.size() < 7 || name.compare(name.size() - 7, 7, suffix) != 0 ||
            !fs::exists(e.path().string() + "i"))
            continue;
        for (const recordtest::ParsedFrame& f : recordtest::ParseMovie(e.path().string()).frames)
            times.push_back(static_cast<int64_t>(static_cast<int32_t>(recordtest::LE32(f.header + 24))) * 1000 +
                            recordtest::LE32(f.header + 20) / 1000);
    }
    std::sort(times.begin(), times.end());
    return times;
}

// A window of a channel's recording time in which another channel must be
// black (or, not `black`, must show a picture).
struct PaneWindow {
    int channel;      // must be black ...
    int byChannel;    // ... while this one shows a frame ...
    std::time_t from; // ... of this time or later
    std::time_t to;   // and before this one
    bool black = true;
};

// The path of the movie file a segment was recorded into.
std::string SegmentFile(const std::string& directory, const Segment& s)
{
    std::tm local{};
    localtime_r(&s.start, &local);
    return vyrmovie::DayDirectory(directory, local) + "/" + vyrmovie::RecordingFileName(s.prefix, local, s.channel);
}

class PlaybackGaps : public ::testing::Test {
protected:
    void SetUp() override
    {
        host.resize(800, 600);
        host.show();
        ctrl = new CVyrdaxCtrl(&host);
    }
    void TearDown() override
    {
        Variant r;
        ctrl->Invoke(DISPID_EndPlayFile, {}, &r);
        ctrl->Release();
    }

    // Records the segments, plays them from `start` until every channel has
    // shown its last frame, and checks every channel's frames and windows.
    // `afterStart` runs once playback has found its files.
    void PlayAndCheck(const std::vector<Segment>& segments, std::time_t start, const std::vector<PaneWindow>& windows,
                      const std::function<void()>& afterStart = {})
    {
        playbacktest::WriteRecordings(dir.path(), segments);
        std::vector<int> channels;
        for (const Segment& s : segments)
            if (std::find(channels.begin(), channels.end(), s.channel) == channels.end())
                channels.push_back(s.channel);
        Variant r;
        ctrl->Invoke(DISPID_setDispChannel, {Variant::Short(4)}, &r);
        CLocalPlayback& engine = ctrl->LocalPlayback();
        engine.KeepShownTimes(true);
        playbacktest::StartPlaybackOfDay(ctrl, dir.path(), start);
        if (afterStart)
            afterStart();

        std::map<int, std::vector<int64_t>> recorded;
        for (int ch : channels)
            recorded[ch] = RecordedTimes(dir.path(), ch);
        // Per window: the looks, and the looks that found the pane wrong with
        // the first time at which one did.
        std::vector<int> windowSeen(windows.size(), 0), windowWrong(windows.size(), 0);
        std::vector<int64_t> firstWrong(windows.size(), 0);
        const bool done = PumpUntil(
            [&] {
                for (std::size_t k = 0; k < windows.size(); ++k) {
                    const PaneWindow& w = windows[k];
                    const int64_t t = engine.ShownFrameTimeMs(w.byChannel);
                    if (t < w.from * 1000 || t >= w.to * 1000)
                        continue;
                    ++windowSeen[k];
                    if (playbacktest::Black(ctrl->Pane(w.channel)->PictureCopy()) != w.black && !windowWrong[k]++)
                        firstWrong[k] = t;
                }
                for (int ch : channels)
                    if (engine.ShownFrameTimeMs(ch) != recorded[ch].back())
                        return false;
                return true;
            },
            90000);
        EXPECT_TRUE(done) << "not every channel reached its last frame";
        for (int ch : channels) {
            SCOPED_TRACE("channel " + std::to_string(ch));
            const std::vector<int64_t> shown = engine.ShownTimes(ch);
            ASSERT_FALSE(recorded[ch].empty());
            // The first difference says where a channel skipped or repeated.
            const auto mismatch = std::mismatch(shown.begin(), shown.end(), recorded[ch].begin(), recorded[ch].end());
            EXPECT_TRUE(mismatch.first == shown.end() && mismatch.second == recorded[ch].end())
                << "shown " << shown.size() << " of " << recorded[ch].size() << " frames; first difference at "
                << (mismatch.first - shown.begin()) << ": shown "
                << (mismatch.first == shown.end() ? -1 : *mismatch.first) << ", recorded "
                << (mismatch.second == recorded[ch].end() ? -1 : *mismatch.second);
        }
        for (std::size_t k = 0; k < windows.size(); ++k) {
            const PaneWindow& w = windows[k];
            EXPECT_GT(windowSeen[k], 0) << "window " << k << " never watched";
            EXPECT_EQ(windowWrong[k], 0) << "channel " << w.channel << (w.black ? " not black" : " black") << " in "
                                         << windowWrong[k] << " of " << windowSeen[k] << " looks while channel "
                                         << w.byChannel << " showed its frames of " << w.from << " to " << w.to
                                         << ", first at " << firstWrong[k];
        }
    }

    recordtest::ScopedTimeZone zone{"UTC"};
    recordtest::TempDir dir;
    MessageHost host;
    CVyrdaxCtrl* ctrl = nullptr;
};

TEST_F(PlaybackGaps, GapsInTheMastersRecordingAndInAnothersSkipNoFrameOfAnyChannel)
{
    const std::time_t t0 = LocalTime(2026, 12, 14, 10, 0, 0);
    // Channel 0, the master at the start, breaks off for 6 s and for 2 s;
    // channel 2 for 8 s; channel 1 runs on throughout.
    PlayAndCheck({{0, "F.Cam0", t0, 4},
                  {0, "F.Cam0", t0 + 10, 3},
                  {0, "F.Cam0", t0 + 15, 4},
                  {1, "M.Cam1", t0, 19},
                  {2, "R.Cam2", t0 + 1, 3},
                  {2, "R.Cam2", t0 + 12, 7}},
                 t0, {{0, 1, t0 + 5, t0 + 9}, {2, 1, t0 + 6, t0 + 11}});
}

TEST_F(PlaybackGaps, AMasterGapAcrossMidnightAndAChannelSplitAtMidnightPlayEveryFrame)
{
    const std::time_t t0 = LocalTime(2026, 12, 14, 23, 59, 50);
    // Channel 1 is the master (earliest) and breaks off for 7 s over
    // midnight; channel 0 records through midnight, where its file splits.
    PlayAndCheck({{1, "F.Cam1", t0, 5},
                  {1, "F.Cam1", t0 + 12, 6},
                  {0, "F.Cam0", t0 + 1, 16},
                  {3, "F.Cam3", t0 + 2, 3},
                  {3, "F.Cam3", t0 + 14, 3}},
                 t0, {{1, 0, t0 + 6, t0 + 11}, {3, 0, t0 + 6, t0 + 13}});
}

TEST_F(PlaybackGaps, AMasterGapAtATwentyMinuteSplitPlaysEveryFrame)
{
    const std::time_t t0 = LocalTime(2026, 12, 14, 10, 19, 52);
    // Channel 0 records across 10:20:00, where its file splits; channel 1,
    // the master, stops at 10:19:56 and starts again at 10:20:03.
    PlayAndCheck({{1, "F.Cam1", t0, 4}, {1, "F.Cam1", t0 + 11, 6}, {0, "F.Cam0", t0 + 1, 15}}, t0,
                 {{1, 0, t0 + 5, t0 + 10}});
}

// Played forward across the autumn night of Europe/Berlin: the 02:10 file
// of each of the two 02:00 hours (the second one named a second later,
// never over the first), and a recording through the moment the clock goes
// back, which splits into a file named 02:00:00 again. Every frame plays,
// in true time order.
TEST_F(PlaybackGaps, TheAutumnNightPlaysBothOfItsTwoOClockHoursInOrder)
{
    recordtest::ScopedTimeZone berlin("Europe/Berlin");
    const std::time_t firstTen = 1792887000; // 2026-10-25 02:10:00 CEST
    const std::time_t secondTen = firstTen + 3600; // 02:10:00 CET
    const std::time_t beforeChange = 1792889992; // 02:59:52 CEST
    PlayAndCheck({{0, "F.Cam0", firstTen, 4}, {0, "F.Cam0", beforeChange, 16}, {0, "F.Cam0", secondTen, 4},
                  {1, "F.Cam1", firstTen + 1, 3}, {1, "F.Cam1", secondTen + 1, 3}},
                 firstTen, {});
    const std::vector<std::string> files = recordtest::ListFiles(dir.path() + "/2026-10-25");
    EXPECT_EQ(files, (std::vector<std::string>{
                         "F.Cam0.20261025.020000.00.mp4", "F.Cam0.20261025.020000.00.mp4i",
                         "F.Cam0.20261025.021000.00.mp4", "F.Cam0.20261025.021000.00.mp4i",
                         "F.Cam0.20261025.021001.00.mp4", "F.Cam0.20261025.021001.00.mp4i",
                         "F.Cam0.20261025.025952.00.mp4", "F.Cam0.20261025.025952.00.mp4i",
                         "F.Cam1.20261025.021001.01.mp4", "F.Cam1.20261025.021001.01.mp4i",
                         "F.Cam1.20261025.021002.01.mp4", "F.Cam1.20261025.021002.01.mp4i"}));
    // A backup of the night holds every frame of a channel in true time order.
    const std::string folder = dir.path() + "/backup";
    fs::create_directories(folder);
    std::atomic<bool> stop{false};
    ASSERT_TRUE(CBackupMaker(dir.path(), firstTen - 60, secondTen + 60).Run(folder, stop));
    for (int ch : {0, 1}) {
        const recordtest::ParsedMovie backup = playbacktest::ParseBackup(folder, ch);
        EXPECT_TRUE(backup.ok && backup.indexOk) << backup.problem;
        std::vector<int64_t> times;
        for (const recordtest::ParsedFrame& f : backup.frames)
            times.push_back(static_cast<int64_t>(static_cast<int32_t>(recordtest::LE32(f.header + 24))) * 1000 +
                            recordtest::LE32(f.header + 20) / 1000);
        EXPECT_EQ(times, RecordedTimes(dir.path(), ch)) << ch;
    }
}

// Played forward across the spring night, where 02:00 CET becomes 03:00 CEST.
TEST_F(PlaybackGaps, TheSpringNightPlaysOnAcrossTheSkippedHour)
{
    recordtest::ScopedTimeZone berlin("Europe/Berlin");
    const std::time_t start = LocalTime(2026, 3, 29, 1, 59, 52);
    PlayAndCheck({{0, "F.Cam0", start, 16}, {1, "F.Cam1", start + 2, 4}, {1, "F.Cam1", start + 10, 4}}, start, {});
    EXPECT_TRUE(fs::exists(dir.path() + "/2026-03-29/F.Cam0.20260329.030000.00.mp4"));
}

// A channel of three files whose middle one cannot be opened, deleted after
// the day search found it: the channel goes on to the third file, which
// plays whole and is seen.
TEST_F(PlaybackGaps, AMiddleFileDeletedAfterTheSearchIsPassedOverAndTheThirdFilePlays)
{
    const std::time_t t0 = LocalTime(2026, 12, 14, 10, 0, 0);
    const std::vector<Segment> segments = {{0, "F.Cam0", t0, 5}, {0, "F.Cam0", t0 + 5, 5}, {0, "F.Cam0", t0 + 10, 5}};
    const std::string middle = SegmentFile(dir.path(), segments[1]);
    PlayAndCheck(segments, t0, {{0, 0, t0 + 11, t0 + 14, false}}, [&] {
        ASSERT_TRUE(fs::remove(middle));
        fs::remove(middle + "i");
    });
}

// Sixteen cameras; camera 5's middle file has no index (a folder copied
// without its index files). Its pane is black for that file's span while
// the other fifteen play, then shows its third file in step with them.
TEST_F(PlaybackGaps, AMiddleFileWithoutItsIndexLeavesItsPaneBlackForItsSpanAndTheThirdFilePlaysInStep)
{
    const std::time_t t0 = LocalTime(2026, 12, 14, 10, 0, 0);
    std::vector<Segment> segments;
    for (int ch = 0; ch < 16; ++ch) {
        const std::string prefix = "F.Cam" + std::to_string(ch);
        if (ch != 5) {
            segments.push_back({ch, prefix, t0, 15});
            continue;
        }
        for (int k = 0; k < 3; ++k)
            segments.push_back({ch, prefix, t0 + 5 * k, 5});
    }
    const std::string middle = SegmentFile(dir.path(), {5, "F.Cam5", t0 + 5, 5});
    PlayAndCheck(segments, t0, {{5, 0, t0 + 6, t0 + 9}, {5, 0, t0 + 11, t0 + 14, false}},
                 [&] { ASSERT_TRUE(fs::remove(middle + "i")); });
}

// One camera records from 10:29:50 in eight files, fifteen from 10:30:04,
// in the next half-hour; playback starts from the 10:00 half-hour. The
// fifteen are black until their time, however often the first camera's
// file changes meanwhile, and then play in step with it, not when its last
// file ends.
TEST_F(PlaybackGaps, CamerasWhoseRecordingBeginsInTheNextHalfHourAppearAtTheirTimeInStep)
{
    const std::time_t first = LocalTime(2026, 12, 14, 10, 29, 50);
    const std::time_t later = first + 14;
    std::vector<Segment> segments;
    for (int k = 0; k < 8; ++k)
        segments.push_back({0, "F.Cam0", first + 2 * k, k < 7 ? 2 : 8});
    std::vector<PaneWindow> windows;
    for (int ch = 1; ch < 16; ++ch) {
        segments.push_back({ch, "F.Cam" + std::to_string(ch), later, 6});
        windows.push_back({ch, 0, first, later - 1});
        windows.push_back({ch, 0, later + 1, later + 5, false});
    }
    PlayAndCheck(segments, LocalTime(2026, 12, 14, 10, 0, 0), windows);
}

} // namespace
