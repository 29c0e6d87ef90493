// Local playback of channels whose recordings break off: gaps of several
// lengths in the master's recording and in the others', across a 20-minute
// file split and across midnight. Every channel must show each of its
// recorded frames once, in time order, and stay black while it has nothing
// to show.
#include "MessageHost.h"
#include "PlaybackFixture.h"
#include "RecordTestSupport.h"

#include "control/CVyrdaxCtrl.h"
#include "control/PlayState.h"
#include "control/backup/CBackupMaker.h"
#include "control/playback/CLocalPlayback.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>

namespace {

namespace fs = std::filesystem;
using namespace vyrdax;
using platform::Variant;
using playbacktest::Segment;
using recordtest::LocalTime;
using testsupport::MessageHost;
using testsupport::PumpUntil;

// The PC times (ms) of every frame recorded for a channel, in time order.
std::vector<int64_t> RecordedTimes(const std::string& directory, int channel)
{
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, ".%02d.mp4", channel);
    std::vector<int64_t> times;
    for (const auto& e : fs::recursive_directory_iterator(directory)) {
        const std::string name = e.path().filename().string();
        if (name.size() < 7 || name.compare(name.size() - 7, 7, suffix) != 0)
            continue;
        for (const recordtest::ParsedFrame& f : recordtest::ParseMovie(e.path().string()).frames)
            times.push_back(static_cast<int64_t>(static_cast<int32_t>(recordtest::LE32(f.header + 24))) * 1000 +
                            recordtest::LE32(f.header + 20) / 1000);
    }
    std::sort(times.begin(), times.end());
    return times;
}

// A window of a channel's recording time in which another channel must be black.
struct BlackWindow {
    int channel;      // must be black ...
    int byChannel;    // ... while this one shows a frame ...
    std::time_t from; // ... of this time or later
    std::time_t to;   // and before this one
};

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
    void PlayAndCheck(const std::vector<Segment>& segments, std::time_t start, const std::vector<BlackWindow>& black)
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

        std::map<int, std::vector<int64_t>> recorded;
        for (int ch : channels)
            recorded[ch] = RecordedTimes(dir.path(), ch);
        std::vector<int> blackSeen(black.size(), 0);
        const bool done = PumpUntil(
            [&] {
                for (std::size_t k = 0; k < black.size(); ++k) {
                    const BlackWindow& w = black[k];
                    const int64_t t = engine.ShownFrameTimeMs(w.byChannel);
                    if (t < w.from * 1000 || t >= w.to * 1000)
                        continue;
                    ++blackSeen[k];
                    EXPECT_TRUE(playbacktest::Black(ctrl->Pane(w.channel)->PictureCopy()))
                        << "channel " << w.channel << " while channel " << w.byChannel << " shows " << t;
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
        for (std::size_t k = 0; k < black.size(); ++k)
            EXPECT_GT(blackSeen[k], 0) << "window " << k << " never watched";
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

} // namespace
