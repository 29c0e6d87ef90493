// The link under concurrency: channel requests that cross the receive
// thread's mask send, and a DVR that takes the connection but never answers
// its login beside one that streams, in the same window.
#include "LinkHarness.h"

#include "control/StatusTexts.h"

#include <QElapsedTimer>
#include <QTimer>

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

TEST_F(ConcurrencyTest, ChannelsConnectedInQuickSuccessionAllStart)
{
    SimDvr sim;
    ASSERT_TRUE(sim.Start({"--channels", "16", "--size", "352x240"}));
    constexpr int kRuns = 200;
    std::mt19937 random(4);
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
        std::vector<int> started = host.LParams(WM_VIDEO_STARTED);
        std::sort(started.begin(), started.end());
        EXPECT_EQ(started, (std::vector<int>{0, 1, 2, 3}));
        if (HasFailure())
            return;
        DestroyControl();
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

    // The GUI thread's event loop, measured by how late a 20 ms timer fires.
    QElapsedTimer clock;
    clock.start();
    qint64 lastTick = clock.elapsed();
    qint64 worstLateMs = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        worstLateMs = std::max(worstLateMs, now - lastTick - 20);
        lastTick = now;
    });
    ticker.start(20);

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
    ticker.stop();
    EXPECT_LE(worstLateMs, 200);
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
