// The link under concurrency: channel requests that cross the receive
// thread's mask send, and a DVR that takes the connection but never answers
// its login beside one that streams, in the same window.
#include "LinkHarness.h"
#include "LoopGaps.h"
#include "NetworkWaits.h"

#include "control/StatusTexts.h"
#include "control/link/LinkSettings.h"

#include <memory>
#include <numeric>
#include <random>

namespace {

using namespace linktest;
using namespace vyrdax;

using ConcurrencyTest = LinkTest;

// The mask of the simulator's newest "MASK xxxxxxxx #n" line, or -1.
long LastMask(const SimDvr& sim)
{
    const std::vector<std::string> lines = sim.LogLines("MASK ");
    if (lines.empty())
        return -1;
    const std::string bare = Bare(lines.back());
    return std::stol(bare.substr(bare.find(' ') + 1), nullptr, 16);
}

void SpinFor(std::chrono::microseconds span)
{
    const auto end = std::chrono::steady_clock::now() + span;
    while (std::chrono::steady_clock::now() < end) {
    }
}

// Every thread the control starts waits before its body runs, as on a busy
// machine: `least` to `most` milliseconds, at random.
std::atomic<int> lateLeastMs{0}, lateMostMs{0};

void StartLate()
{
    thread_local std::mt19937 random(std::random_device{}());
    const int least = lateLeastMs.load(), most = lateMostMs.load();
    const int ms = most > least ? least + static_cast<int>(random() % static_cast<unsigned>(most - least + 1)) : least;
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

class LateThreads {
public:
    LateThreads(int leastMs, int mostMs)
    {
        lateLeastMs = leastMs;
        lateMostMs = mostMs;
        platform::WorkerThread::SetStartHookForTests(&StartLate);
    }
    ~LateThreads() { platform::WorkerThread::SetStartHookForTests(nullptr); }
    LateThreads(const LateThreads&) = delete;
    LateThreads& operator=(const LateThreads&) = delete;
};

bool AllShowPictures(const std::vector<CVyrdaxCtrl*>& controls, int channels)
{
    for (CVyrdaxCtrl* c : controls)
        for (int ch = 0; ch < channels; ++ch)
            if (c->Channel(ch).framesShown.load() == 0)
                return false;
    return true;
}

std::string Black(const std::vector<CVyrdaxCtrl*>& controls, int channels)
{
    std::string black;
    for (std::size_t k = 0; k < controls.size(); ++k)
        for (int ch = 0; ch < channels; ++ch)
            if (controls[k]->Channel(ch).framesShown.load() == 0)
                black += " " + std::to_string(k) + ":" + std::to_string(ch);
    return black;
}

TEST_F(ConcurrencyTest, ChannelsConnectedInQuickSuccessionAllStart)
{
    SimDvr sim;
    ASSERT_TRUE(sim.Start({"--channels", "16", "--size", "352x240"}));
    constexpr int kRuns = 200;
    std::mt19937 random(4);
    // Display and receive threads start up to 100 ms late, in any order
    // with the frames that arrive: every channel must still get the frame
    // with the stream headers to its decoder.
    LateThreads late(0, 100);
    for (int run = 0; run < kRuns; ++run) {
        SCOPED_TRACE(run);
        if (!ctrl)
            ctrl = new CVyrdaxCtrl(&host);
        ctrl->setDispChannel(4);
        host.messages.clear();
        for (int ch = 0; ch < 4; ++ch)
            Bind(ch, "CH" + std::to_string(ch + 1), ch, sim.Port());
        ctrl->ReplaceWnd(4, 0, 0, 0, 0, 0, 0);
        ASSERT_TRUE(ctrl->Connect(0));
        ASSERT_TRUE(WaitMessage(WM_VIDEO_STARTED, 0, 1, 10000));
        // In quick succession, a little apart at random, so that requests
        // land at every moment of the receive thread's mask send.
        for (int16_t ch = 1; ch <= 3; ++ch) {
            SpinFor(std::chrono::microseconds(random() % 1500));
            ASSERT_TRUE(ctrl->Connect(ch));
        }
        ASSERT_TRUE(WaitMessage(WM_VIDEO_STARTED, 0, 4, 5000)) << host.Count(WM_VIDEO_STARTED);
        EXPECT_TRUE(PumpUntil([&] { return LastMask(sim) == 0xF; }, 2000)) << LastMask(sim);
        EXPECT_TRUE(PumpUntil([&] { return AllShowPictures({ctrl}, 4); }, 5000)) << Black({ctrl}, 4);
        std::vector<int> started = host.LParams(WM_VIDEO_STARTED);
        std::sort(started.begin(), started.end());
        EXPECT_EQ(started, (std::vector<int>{0, 1, 2, 3}));
        if (HasFailure())
            return;
        DestroyControl();
    }
}

TEST_F(ConcurrencyTest, SixtyFourCellsOfFourDvrsAllShowPicturesWhenEveryThreadStartsLate)
{
    constexpr int kDvrs = 4, kChannels = 16;
    std::vector<std::unique_ptr<SimDvr>> sims;
    for (int d = 0; d < kDvrs; ++d) {
        sims.push_back(std::make_unique<SimDvr>());
        ASSERT_TRUE(sims.back()->Start({"--channels", "16", "--size", "352x240", "--fps", "10", "--gop", "10"}));
    }
    std::mt19937 random(31);
    // 150 ms late for every thread, as seen on a loaded PC, then at random
    // up to 150 ms.
    const std::pair<int, int> delays[] = {{150, 150}, {0, 150}, {150, 150}, {0, 150}};
    for (int run = 0; run < 4; ++run) {
        SCOPED_TRACE(run);
        LateThreads late(delays[run].first, delays[run].second);
        host.messages.clear();
        std::vector<std::unique_ptr<CVyrdaxCtrl>> owned;
        std::vector<CVyrdaxCtrl*> controls;
        for (int d = 0; d < kDvrs; ++d) {
            owned.push_back(std::make_unique<CVyrdaxCtrl>(&host));
            CVyrdaxCtrl* c = owned.back().get();
            controls.push_back(c);
            c->setDispChannel(64);
            for (int ch = 0; ch < kChannels; ++ch)
                c->SetConnectInfo("D" + std::to_string(d) + "C" + std::to_string(ch), "Guest", "", "", "127.0.0.1",
                                  static_cast<int16_t>(sims[static_cast<std::size_t>(d)]->Port()), 0,
                                  static_cast<int16_t>(ch + 1), 0, static_cast<int16_t>(d * kChannels + ch));
            c->ReplaceWnd(64, 0, 0, 0, 0, 0, 0);
        }
        // DVR after DVR, channel after channel, with the layout changed
        // now and then while the links come up.
        const int16_t layouts[] = {64, 16, 4, 36};
        for (int ch = 0; ch < kChannels; ++ch) {
            for (CVyrdaxCtrl* c : controls)
                ASSERT_TRUE(c->Connect(static_cast<int16_t>(ch)));
            if (random() % 3 == 0) {
                const int16_t layout = layouts[random() % 4];
                for (CVyrdaxCtrl* c : controls)
                    c->ReplaceWnd(layout, 0, 0, 0, 0, 0, 0);
            }
            PumpFor(static_cast<int>(random() % 20));
        }
        EXPECT_TRUE(PumpUntil([&] { return AllShowPictures(controls, kChannels); }, 30000))
            << "black:" << Black(controls, kChannels);
        // Announced once per cell, and not again later.
        PumpFor(500);
        std::vector<int> started = host.LParams(WM_VIDEO_STARTED);
        std::sort(started.begin(), started.end());
        std::vector<int> cells(kDvrs * kChannels);
        std::iota(cells.begin(), cells.end(), 0);
        EXPECT_EQ(started, cells);
        for (CVyrdaxCtrl* c : controls)
            EXPECT_EQ(c->ChannelMask(), 0xFFFFu);
        owned.clear();
        if (HasFailure())
            return;
    }
}

TEST_F(ConcurrencyTest, MaskEndsAsTheLastCallAskedWhileFramesArrive)
{
    SimDvr sim;
    ASSERT_TRUE(sim.Start({"--channels", "8", "--size", "352x240", "--fps", "60"}));
    for (int ch = 0; ch < 8; ++ch)
        Bind(ch, "CH" + std::to_string(ch + 1), ch, sim.Port());
    ASSERT_TRUE(ctrl->Connect(0));
    ASSERT_TRUE(WaitMessage(WM_VIDEO_STARTED, 0, 1, 10000));

    // Channel 0 stays on so that the session lives; 1..7 come and go.
    std::mt19937 random(20261209);
    uint32_t expected = 1;
    for (int call = 0; call < 600; ++call) {
        const int ch = 1 + static_cast<int>(random() % 7);
        if (random() % 2) {
            ASSERT_TRUE(ctrl->Connect(static_cast<int16_t>(ch)));
            expected |= 1u << ch;
        } else {
            ctrl->DisConnectSvr(static_cast<int16_t>(ch));
            expected &= ~(1u << ch);
        }
        if (random() % 4 == 0)
            PumpFor(static_cast<int>(random() % 3));
    }
    EXPECT_EQ(ctrl->ChannelMask(), expected);
    EXPECT_TRUE(PumpUntil([&] { return LastMask(sim) == static_cast<long>(expected); }, 5000))
        << std::hex << LastMask(sim) << " != " << expected;
    // Nothing later undoes it.
    PumpFor(300);
    EXPECT_EQ(LastMask(sim), static_cast<long>(expected));
    EXPECT_TRUE(ctrl->LoggedIn());
    EXPECT_EQ(sim.Count("LOGIN "), 1);
}

TEST_F(ConcurrencyTest, SilentDvrHoldsUpNeitherTheWindowNorTheOtherDvr)
{
    SimDvr sim;
    ASSERT_TRUE(sim.Start({"--channels", "4", "--size", "352x240"}));
    FakeDvr silent(FakeDvr::Mode::NoReply);
    for (int ch = 0; ch < 4; ++ch)
        Bind(ch, "CH" + std::to_string(ch + 1), ch, sim.Port());
    auto* other = new CVyrdaxCtrl(&host);
    other->setDispChannel(16);
    other->SetConnectInfo("Silent", "Guest", "", "", "127.0.0.1", static_cast<int16_t>(silent.Port()), 0, 1, 0, 8);

    for (int ch = 0; ch < 4; ++ch)
        ASSERT_TRUE(ctrl->Connect(static_cast<int16_t>(ch)));
    ASSERT_TRUE(other->Connect(0));
    ASSERT_TRUE(WaitMessage(WM_VIDEO_STARTED, 0, 4, 10000));

    // The window answers throughout: no call on its thread waits for the
    // silent DVR, neither on its socket nor on a thread that waits for its
    // login reply, which would sleep until the reply's time-out.
    testsupport::LoopGaps gaps;
    testsupport::NetworkWaits waits;

    // Over 25 s (the link's time-outs shortened twentyfold: a login reply
    // is given up after 0.5 s and tried again on the next tick), every
    // second must bring the streaming DVR's pictures.
    int stillSeconds = 0;
    for (int second = 0; second < 25; ++second) {
        uint64_t before = 0;
        for (int ch = 0; ch < 4; ++ch)
            before += ctrl->Channel(ch).framesShown.load();
        PumpFor(1000);
        uint64_t after = 0;
        for (int ch = 0; ch < 4; ++ch)
            after += ctrl->Channel(ch).framesShown.load();
        if (after == before)
            ++stillSeconds;
    }
    EXPECT_EQ(waits.Count(), 0) << "the longest " << waits.LongestMs() << " ms";
    EXPECT_LT(gaps.LongestAsleep(), Timeouts().loginReplyMs) << "the longest gap " << gaps.Longest() << " ms";
    EXPECT_EQ(stillSeconds, 0);
    // The silent DVR was tried again and again, as on any unanswered login.
    EXPECT_GE(silent.Logins(), 10);
    EXPECT_FALSE(other->LoggedIn());
    EXPECT_EQ(other->Pane(0)->LeftTitle()->Title(), text::kTryingConnect);
    // An unanswered live login tells the host nothing; it is simply tried again.
    for (const auto& m : host.messages)
        EXPECT_NE(m.lParam, 8) << std::hex << m.message;
    EXPECT_TRUE(ctrl->LoggedIn());
    EXPECT_EQ(sim.Count("LOGIN "), 1);

    // Destroyed while its receive thread waits for the login reply.
    const auto start = std::chrono::steady_clock::now();
    delete other;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
}

TEST_F(ConcurrencyTest, HostEndingASessionWhileTheLoginIsAnsweredGetsNoLateNotice)
{
    // The host ends an event-log session while its login is under way; the
    // unanswered login must not end it a second time.
    FakeDvr silent(FakeDvr::Mode::NoReply);
    ctrl->SetBackupMode(3);
    ctrl->SetEventInfo("DVR", "Guest", "", "127.0.0.1", static_cast<int16_t>(silent.Port()), 2, 0, 0);
    ASSERT_TRUE(ctrl->Connect(0));
    ASSERT_TRUE(PumpUntil([&] { return silent.Logins() >= 1; }, 3000));
    ctrl->DisConnectSvr(0);
    PumpFor(1200);
    EXPECT_EQ(host.Count(WM_VIDEO_PROGRESS), 0);
    EXPECT_EQ(silent.Logins(), 1);

    // The next session on the same instance still ends on its own time-out.
    ASSERT_TRUE(ctrl->Connect(0));
    ASSERT_TRUE(WaitMessage(WM_VIDEO_PROGRESS, 3));
    EXPECT_EQ(host.Count(WM_VIDEO_PROGRESS), 1);
    EXPECT_EQ(host.Of(WM_VIDEO_PROGRESS, 3)[0].lParam, 2);
}

} // namespace
