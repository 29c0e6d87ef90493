// Local playback through the control's dispatch interface, the way the
// backup viewer drives it, over recordings that cross files, half-hours, days
// and a year end.
#include "MessageHost.h"
#include "PlaybackFixture.h"
#include "RecordTestSupport.h"

#include "control/CVyrdaxCtrl.h"
#include "control/PlayState.h"
#include "control/playback/CLocalPlayback.h"

#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

namespace {

using namespace vyrdax;
using platform::Variant;
using playbacktest::Black;
using recordtest::LocalTime;
using testsupport::MessageHost;
using testsupport::PumpFor;
using testsupport::PumpUntil;

Variant Text(const std::string& s) { return Variant::String(std::u16string(s.begin(), s.end())); }

// A thread of a channel other than 0 looks at the clock, decides on a wait
// of a frame's spacing or less, and is kept from it until that wait's end
// has passed, as a busy machine keeps a thread from running.
std::atomic<int> lateClockReads{0};
void ReadTheClockLate(int channel, int64_t msLeft)
{
    if (channel == 0 || msLeft > 200)
        return;
    ++lateClockReads;
    std::this_thread::sleep_for(std::chrono::milliseconds(msLeft + 3));
}
struct ScopedBeforeWaitHook {
    explicit ScopedBeforeWaitHook(CLocalPlayback::BeforeWaitHook hook)
    {
        CLocalPlayback::SetBeforeWaitHookForTests(hook);
    }
    ~ScopedBeforeWaitHook() { CLocalPlayback::SetBeforeWaitHookForTests(nullptr); }
};

class LocalPlayback : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        zone_ = new recordtest::ScopedTimeZone("UTC");
        dir_ = new recordtest::TempDir;
        playbacktest::WriteRecordings(dir_->path(), playbacktest::YearEndSegments());
    }
    static void TearDownTestSuite()
    {
        delete dir_;
        delete zone_;
    }

    void SetUp() override
    {
        host.resize(800, 600);
        host.show();
        ctrl = new CVyrdaxCtrl(&host);
        Call(DISPID_setDispChannel, {Variant::Short(4)});
        Call(DISPID_SetBackupMode, {Variant::Short(1)});
        // The local day search names the directory playback searches.
        const Variant list = Call(DISPID_GetTimeDataL, {Text(dir_->path()), Text("*.20261231.*.mp4")});
        ASSERT_EQ(list.vt, platform::VT_PTR);
        EXPECT_EQ(static_cast<const uint8_t*>(list.ptr)[4 + 0 * 48 + 20], 23); // F: manual
    }
    void TearDown() override
    {
        Call(DISPID_EndPlayFile);
        ctrl->Release();
    }

    Variant Call(int dispid, std::vector<Variant> arguments = {})
    {
        Variant r;
        EXPECT_EQ(ctrl->Invoke(dispid, arguments, &r), platform::S_OK) << dispid;
        return r;
    }
    void Start(int slot, std::time_t t)
    {
        Call(DISPID_StartLocalPlayback,
             {Variant::Short(static_cast<int16_t>(slot)), Variant::Long(static_cast<int32_t>(t))});
    }
    CLocalPlayback& Engine() { return ctrl->LocalPlayback(); }

    // The files channel 0 plays, in order, until `done` holds.
    // The files `channel` shows until `done`, from `from` (the file it
    // showed when the test turned it, which a loaded machine may leave
    // before the first look).
    std::vector<std::string> Follow(int channel, const std::function<bool()>& done, int ms,
                                    const std::string& from = "")
    {
        std::vector<std::string> seen;
        if (!from.empty())
            seen.push_back(from);
        auto note = [&] {
            const std::string path = vyrmovie::BaseName(Engine().View(channel).path);
            if (!path.empty() && (seen.empty() || seen.back() != path))
                seen.push_back(path);
        };
        PumpUntil(
            [&] {
                note();
                if (!done())
                    return false;
                // The file may have changed between the look and `done`:
                // the last one seen is the one `done` saw.
                note();
                return true;
            },
            ms);
        return seen;
    }

    static recordtest::ScopedTimeZone* zone_;
    static recordtest::TempDir* dir_;
    MessageHost host;
    CVyrdaxCtrl* ctrl = nullptr;
};

recordtest::ScopedTimeZone* LocalPlayback::zone_ = nullptr;
recordtest::TempDir* LocalPlayback::dir_ = nullptr;

TEST_F(LocalPlayback, AnEmptyStartSlotPlaysFromTheNextSlotAndALaterChannelStaysBlackUntilItsTime)
{
    Start(19, LocalTime(2026, 12, 31, 9, 30, 0)); // slot 19 holds nothing
    const CLocalPlayback::ChannelView v0 = Engine().View(0);
    ASSERT_TRUE(v0.hasReader);
    EXPECT_EQ(vyrmovie::BaseName(v0.path), "F.Cam0.20261231.100000.00.mp4");
    EXPECT_EQ(v0.slot, 20);
    EXPECT_EQ(v0.year, 2026);
    EXPECT_EQ(v0.month, 12);
    for (int ch = 1; ch < 5; ++ch)
        EXPECT_TRUE(Engine().View(ch).hasReader) << ch;
    EXPECT_FALSE(Engine().View(5).hasReader);
    EXPECT_EQ(ctrl->GetStatus(0), STATUS_PLAY);
    EXPECT_EQ(playback::state.load(), PLAY_PLAYING);
    EXPECT_EQ(playback::masterChannel.load(), 0); // the earliest key frame
    ASSERT_NE(ctrl->Pane(0), nullptr);
    EXPECT_EQ(ctrl->Channel(0).displayIndex.load(), 0);

    ASSERT_TRUE(PumpUntil([&] { return Engine().FramesShown(0) >= 20 && Engine().FramesShown(3) >= 5; }, 10000));
    // Channel 2 starts twenty minutes after the master: nothing of it yet.
    EXPECT_EQ(Engine().FramesShown(2), 0u);
    EXPECT_TRUE(Black(ctrl->Pane(2)->PictureCopy()));
    EXPECT_FALSE(Black(ctrl->Pane(0)->PictureCopy()));
    EXPECT_EQ(ctrl->Pane(0)->LeftTitle()->Title().toStdString(), " Cam0 2009/03/07 10:19:50  ");
    // Channels in step: the frames shown now lie within a frame period or two.
    const int64_t t0 = Engine().ShownFrameTimeMs(0), t3 = Engine().ShownFrameTimeMs(3);
    EXPECT_LE(std::abs(t0 - t3), 250) << t0 << " " << t3;
    // Channel 4 starts four seconds after channel 0: black until then, then
    // in step with it.
    EXPECT_EQ(Engine().FramesShown(4), 0u);
    ASSERT_TRUE(PumpUntil([&] { return Engine().FramesShown(4) >= 3; }, 8000));
    EXPECT_LE(std::abs(Engine().ShownFrameTimeMs(0) - Engine().ShownFrameTimeMs(4)), 250);
    EXPECT_GE(Engine().ShownFrameTimeMs(0), LocalTime(2026, 12, 31, 10, 0, 4) * int64_t{1000});
    // A double click makes a channel the master.
    Call(DISPID_MouseDbClk, {Variant::Short(3)});
    EXPECT_EQ(playback::masterChannel.load(), 3);
    EXPECT_EQ(Call(DISPID_SeekFrame, {Variant::Long(77)}).i, 1);
    EXPECT_EQ(Call(DISPID_GetPlayPos).i, 77);
}

TEST_F(LocalPlayback, AChannelFarBehindTheMasterSkipsItsFramesUntilItCatchesUp)
{
    Start(20, LocalTime(2026, 12, 31, 10, 0, 0));
    ASSERT_TRUE(PumpUntil([&] { return Engine().FramesShown(0) >= 3; }, 5000));
    // Channel 2, twenty minutes on, becomes the master.
    Call(DISPID_MouseDbClk, {Variant::Short(2)});
    ASSERT_TRUE(PumpUntil([&] { return Engine().FramesShown(2) >= 5; }, 5000));
    const uint64_t shown = Engine().FramesShown(0);
    // Channel 0 runs through its earlier files without showing them, and
    // waits in its 10:40 file for the master's time.
    EXPECT_TRUE(PumpUntil([&] { return Engine().View(0).path.find("104000") != std::string::npos; }, 5000));
    EXPECT_EQ(Engine().FramesShown(0), shown);
    EXPECT_TRUE(Black(ctrl->Pane(0)->PictureCopy()));
}

TEST_F(LocalPlayback, FastForwardPressedFourTimesRunsAtSpeedsOneTwoThreeThree)
{
    Start(20, LocalTime(2026, 12, 31, 10, 0, 0));
    std::vector<int> speeds;
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(Engine().PlayFile(2), 1);
        speeds.push_back(playback::speed.load());
        EXPECT_EQ(playback::state.load(), PLAY_FAST_FORWARD);
    }
    EXPECT_EQ(speeds, (std::vector<int>{1, 2, 3, 3}));
    // Media time runs far faster than the wall clock whenever the machine
    // lets the threads run: over some stretch of at least 300 ms, started
    // afresh each second, the pictures shown move on more than ten times as
    // far as the wall clock (at normal speed they never would).
    ASSERT_TRUE(PumpUntil([&] { return Engine().FramesShown(0) >= 2; }, 30000));
    QElapsedTimer wall;
    wall.start();
    int64_t baseWallMs = 0, baseMediaMs = Engine().ShownFrameTimeMs(0), bestAdvance = 0;
    EXPECT_TRUE(PumpUntil(
        [&] {
            const int64_t now = wall.elapsed(), media = Engine().ShownFrameTimeMs(0);
            if (now - baseWallMs >= 300 && media - baseMediaMs > 10 * (now - baseWallMs))
                return true;
            bestAdvance = std::max(bestAdvance, (media - baseMediaMs) / std::max<int64_t>(1, now - baseWallMs));
            if (now - baseWallMs >= 1000) {
                baseWallMs = now;
                baseMediaMs = media;
            }
            return false;
        },
        60000))
        << "media time ran at most " << bestAdvance << " times the wall clock";

    EXPECT_EQ(Call(DISPID_PlayFile, {Variant::Long(3)}).vt, platform::VT_EMPTY); // published without a result
    EXPECT_EQ(playback::state.load(), PLAY_REWINDING);
    EXPECT_EQ(playback::speed.load(), 1);
    EXPECT_EQ(Engine().PlayFile(7), 7);
    Call(DISPID_PauseFile);
    EXPECT_EQ(playback::state.load(), PLAY_PAUSED);
    const uint64_t shown = Engine().FramesShown(0);
    PumpUntil([] { return false; }, 200);
    EXPECT_LE(Engine().FramesShown(0), shown + 1);
}

TEST_F(LocalPlayback, ForwardCrossesFilesSlotsDaysAndTheYearEndAndRewindComesBack)
{
    Start(20, LocalTime(2026, 12, 31, 10, 0, 0));
    for (int k = 0; k < 3; ++k)
        Call(DISPID_PlayFile, {Variant::Long(2)});
    const std::vector<std::string> forward = Follow(
        0, [&] { return Engine().View(0).path.find("20270101") != std::string::npos; }, 30000);
    EXPECT_EQ(forward, (std::vector<std::string>{
                           "F.Cam0.20261231.100000.00.mp4", "F.Cam0.20261231.100030.00.mp4",
                           "F.Cam0.20261231.104000.00.mp4", "F.Cam0.20261231.235000.00.mp4",
                           "F.Cam0.20270101.001000.00.mp4"}));
    EXPECT_EQ(Engine().View(0).year, 2027);
    EXPECT_EQ(Engine().View(0).month, 1);

    const std::string turnedIn = vyrmovie::BaseName(Engine().View(0).path);
    Call(DISPID_PlayFile, {Variant::Long(3)});
    // Back from entry 0 of a slot comes entry 0 of the nearest earlier one.
    // Every file reports its start on the way; the first file of the
    // recordings reports it for good.
    const std::vector<std::string> back = Follow(
        0,
        [&] {
            const CLocalPlayback::ChannelView v = Engine().View(0);
            return v.endFlag == 2 && v.path.find("20261231.100000") != std::string::npos;
        },
        30000, turnedIn);
    EXPECT_EQ(back, (std::vector<std::string>{
                        "F.Cam0.20270101.001000.00.mp4", "F.Cam0.20261231.235000.00.mp4",
                        "F.Cam0.20261231.104000.00.mp4", "F.Cam0.20261231.100000.00.mp4"}));
    PumpUntil([] { return false; }, 500);
    EXPECT_EQ(Engine().View(0).endFlag, 2);
    EXPECT_EQ(vyrmovie::BaseName(Engine().View(0).path), "F.Cam0.20261231.100000.00.mp4");
    EXPECT_EQ(Engine().View(0).month, 11); // walked back through the month before, then stopped
}

TEST_F(LocalPlayback, RewindAfterTheEndOfTheRecordingsSeeksBackToTheLastFrameAndWalksBack)
{
    Start(20, LocalTime(2026, 12, 31, 10, 0, 0));
    for (int k = 0; k < 3; ++k)
        Call(DISPID_PlayFile, {Variant::Long(2)});
    // Past the month after the start month nothing more opens: the walk
    // stops in the month after that.
    ASSERT_TRUE(PumpUntil([&] { return Engine().View(0).month == 2; }, 30000));
    EXPECT_TRUE(Engine().EndReached());
    EXPECT_EQ(vyrmovie::BaseName(Engine().View(0).path), "F.Cam0.20270101.001000.00.mp4");
    EXPECT_EQ(Engine().View(0).endFlag, 1);
    const std::string turnedIn = vyrmovie::BaseName(Engine().View(0).path);
    Call(DISPID_PlayFile, {Variant::Long(3)});
    const std::vector<std::string> back = Follow(
        0, [&] { return Engine().View(0).path.find("20261231.1040") != std::string::npos; }, 30000, turnedIn);
    EXPECT_EQ(back, (std::vector<std::string>{"F.Cam0.20270101.001000.00.mp4", "F.Cam0.20261231.235000.00.mp4",
                                              "F.Cam0.20261231.104000.00.mp4"}));
    EXPECT_FALSE(Engine().EndReached());
    EXPECT_EQ(playback::state.load(), PLAY_REWINDING);
}

TEST_F(LocalPlayback, JanuaryRewindsIntoDecemberOfTheYearBefore)
{
    Start(0, LocalTime(2027, 1, 1, 0, 0, 0));
    ASSERT_EQ(vyrmovie::BaseName(Engine().View(0).path), "F.Cam0.20270101.001000.00.mp4");
    Call(DISPID_PlayFile, {Variant::Long(3)});
    const std::vector<std::string> back = Follow(
        0, [&] { return Engine().View(0).path.find("20261231.2350") != std::string::npos; }, 20000);
    ASSERT_FALSE(back.empty());
    EXPECT_EQ(back.back(), "F.Cam0.20261231.235000.00.mp4");
    EXPECT_EQ(Engine().View(0).year, 2026);
}

// Once Cam0's first frame anchors the clock, every other channel waits for
// its own first frame: Cam3 two seconds, Cam4 four, Cam1 five and Cam2, twenty
// minutes after Cam0, twenty minutes (eighty seconds at fast forward). The
// stop cuts every wait, so the join waits only for the frame each thread has
// in hand: a few milliseconds, up to about two seconds with the sanitizers
// while two suites run side by side. A wait the stop does not cut holds the
// join for Cam2's twenty minutes (eighty seconds at fast forward), far past
// the bound.
// Rounds stop at once or once the clock is anchored, and go on until enough
// of them stopped threads that were pacing.
TEST_F(LocalPlayback, EndPlayFileWhileThreadsWaitForTheirFramesEndsEveryThread)
{
    constexpr qint64 kEndedWithinMs = 6000;
    constexpr int kRounds = 15, kMostRounds = 60, kAnchoredStops = 8;
    int anchored = 0;
    int round = 0;
    for (; round < kRounds || (anchored < kAnchoredStops && round < kMostRounds); ++round) {
        SCOPED_TRACE(round);
        Start(20, LocalTime(2026, 12, 31, 10, 0, 0));
        if (round % 3 == 1)
            Call(DISPID_PlayFile, {Variant::Long(2)});
        if (round % 2 == 1)
            PumpUntil([] { return playback::baseSeconds.load() != 0; }, 10000);
        PumpFor(20 + 17 * (round % 5));
        anchored += playback::baseSeconds.load() != 0;
        QElapsedTimer timer;
        timer.start();
        Call(DISPID_EndPlayFile);
        EXPECT_LT(timer.elapsed(), kEndedWithinMs) << "a thread went on waiting for its frame after the stop";
        for (int ch = 0; ch < 5; ++ch) {
            EXPECT_FALSE(Engine().View(ch).hasReader);
            EXPECT_FALSE(Engine().View(ch).threadRunning);
            EXPECT_EQ(ctrl->Pane(ch), nullptr);
        }
    }
    EXPECT_GE(anchored, kAnchoredStops) << round << " rounds";
}

// Every frame wait of Cam1, Cam3 and Cam4 begins after the moment it was to
// end: each returns at once and the channels go on in step with Cam0, the
// master, whose file plays on and wakes nobody meanwhile.
TEST_F(LocalPlayback, AClockReadLateBetweenTheCheckAndTheWaitHoldsNoChannelBack)
{
    lateClockReads = 0;
    ScopedBeforeWaitHook hook(&ReadTheClockLate);
    Start(20, LocalTime(2026, 12, 31, 10, 0, 0));
    // Cam3 (from 10:00:02) and Cam4 (from 10:00:04) show three and one and
    // a half seconds of their frames by 10:00:05.5 of Cam0, eight seconds
    // of play at most on a busy machine.
    EXPECT_TRUE(PumpUntil([&] { return Engine().FramesShown(3) >= 30 && Engine().FramesShown(4) >= 15; }, 15000))
        << Engine().FramesShown(3) << " and " << Engine().FramesShown(4) << " frames shown";
    EXPECT_LE(Engine().ShownFrameTimeMs(0), LocalTime(2026, 12, 31, 10, 0, 8) * int64_t{1000});
    EXPECT_LE(std::abs(Engine().ShownFrameTimeMs(0) - Engine().ShownFrameTimeMs(3)), 500);
    EXPECT_GT(lateClockReads.load(), 20);
}

TEST_F(LocalPlayback, StopFileClearsThePanesAndKeepsTheFilesOpen)
{
    Start(20, LocalTime(2026, 12, 31, 10, 0, 0));
    ASSERT_TRUE(PumpUntil([&] { return Engine().FramesShown(0) >= 5; }, 5000));
    Call(DISPID_StopFile);
    EXPECT_EQ(playback::state.load(), PLAY_PAUSED);
    EXPECT_TRUE(Black(ctrl->Pane(0)->PictureCopy()));
    EXPECT_EQ(ctrl->Pane(0)->LeftTitle()->Title().toStdString(), "Cam0");
    EXPECT_TRUE(Engine().View(0).hasReader);
    Call(DISPID_PlayFile, {Variant::Long(1)});
    const uint64_t shown = Engine().FramesShown(0);
    EXPECT_TRUE(PumpUntil([&] { return Engine().FramesShown(0) > shown + 3; }, 5000));
}

TEST(PackedTime, BoundsAreCheckedOnSignedBytes)
{
    vyrmovie::MovieFrameHeader h;
    h.month = 13, h.day = 31, h.hour = 25, h.minute = 61, h.second = 61;
    EXPECT_TRUE(IsValidPackedTime(h));
    h.month = 0;
    EXPECT_FALSE(IsValidPackedTime(h));
    h.month = 3, h.hour = 200; // -56 as a signed byte
    EXPECT_FALSE(IsValidPackedTime(h));
    h.hour = 10, h.second = 62;
    EXPECT_FALSE(IsValidPackedTime(h));
}

} // namespace
