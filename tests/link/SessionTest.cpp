// A live session's life: channels joining and leaving, the end of the last
// one, and a DVR that dies and comes back.
#include "LinkHarness.h"

#include "control/StatusTexts.h"

#include <cerrno>
#include <csignal>
#include <optional>
#include <set>

namespace {

using namespace linktest;
using namespace vyrdax;

using SessionTest = LinkTest;

TEST_F(SessionTest, ChannelsJoinAndLeaveThroughTheMaskAndTheLastOneLogsOut)
{
    SimDvr sim;
    ASSERT_TRUE(sim.Start({"--channels", "4"}));
    Bind(0, "Front", 4, sim.Port());
    Bind(1, "Back", 9, sim.Port());
    Bind(2, "", 1, sim.Port()); // no name
    ctrl->SetConnectInfo("High", "Guest", "", "", "127.0.0.1", static_cast<int16_t>(sim.Port()), 0, 41, 0, 11);

    EXPECT_FALSE(ctrl->Connect(2));
    EXPECT_FALSE(ctrl->Connect(40)); // the mask reaches channels 0..31 only
    EXPECT_FALSE(ctrl->ReceiveThreadRunning());
    EXPECT_FALSE(ctrl->isConnect(0));

    ASSERT_TRUE(ctrl->Connect(0));
    ASSERT_TRUE(WaitMessage(WM_VIDEO_STARTED));
    EXPECT_TRUE(sim.WaitLog("MASK 00000001"));
    ASSERT_TRUE(ctrl->Connect(1));
    EXPECT_TRUE(sim.WaitLog("MASK 00000003"));
    ASSERT_TRUE(WaitMessage(WM_VIDEO_STARTED, 0, 2));
    EXPECT_FALSE(ctrl->Connect(2));
    EXPECT_FALSE(ctrl->Connect(40));
    EXPECT_FALSE(ctrl->isConnect(2));
    PumpFor(300);
    EXPECT_EQ(sim.Count("MASK "), 2);
    EXPECT_EQ(ctrl->ChannelMask(), 3u);

    ctrl->DisConnectSvr(0);
    EXPECT_TRUE(sim.WaitLog("MASK 00000002"));
    EXPECT_FALSE(ctrl->isConnect(0));
    EXPECT_TRUE(ctrl->isConnect(1));
    EXPECT_TRUE(ctrl->LoggedIn());
    EXPECT_EQ(sim.Count("LOGOUT"), 0);
    ASSERT_EQ(host.Count(WM_VIDEO_DISCONNECTED), 1);
    EXPECT_EQ(host.Of(WM_VIDEO_DISCONNECTED)[0].lParam, 4);
    EXPECT_EQ(ctrl->GetStatus(0), 0);

    ctrl->DisConnectSvr(1);
    EXPECT_TRUE(sim.WaitLog("LOGOUT"));
    ASSERT_EQ(host.Count(WM_VIDEO_DISCONNECTED), 2);
    EXPECT_EQ(host.Of(WM_VIDEO_DISCONNECTED)[1].lParam, 9);
    EXPECT_FALSE(ctrl->LoggedIn());
    EXPECT_FALSE(ctrl->isConnect(1));
    // A session the host ended is not set up again.
    PumpFor(1500);
    EXPECT_EQ(sim.Count("LOGIN "), 1);

    // And it starts again on request.
    ASSERT_TRUE(ctrl->Connect(1));
    EXPECT_TRUE(sim.WaitLog("LOGIN ", 2));
    EXPECT_TRUE(WaitMessage(WM_VIDEO_STARTED, 0, 3));
    EXPECT_TRUE(ctrl->isConnect(1));
}

TEST_F(SessionTest, TheTestsSimulatorServesASessionLongerThanItsLeaseAndEndsWithItsObject)
{
    int pid = 0;
    {
        SimDvr sim;
        // A short lease stands for any clock: the test's hold renews it.
        sim.SetLease(1);
        ASSERT_TRUE(sim.Start({"--channels", "1", "--fps", "10"}));
        pid = sim.Pid();
        Bind(0, "Front", 0, sim.Port());
        ASSERT_TRUE(ctrl->Connect(0));
        ASSERT_TRUE(WaitMessage(WM_VIDEO_STARTED));
        for (int lease = 0; lease < 5; ++lease) {
            const uint64_t before = ctrl->Channel(0).framesShown.load();
            EXPECT_TRUE(PumpUntil([&] { return ctrl->Channel(0).framesShown.load() > before; }, 3000)) << lease;
            PumpFor(1000);
        }
        EXPECT_TRUE(ctrl->isConnect(0));
        EXPECT_EQ(sim.Count("LOGIN "), 1);
        EXPECT_EQ(sim.Count("LEASE"), 0);
        EXPECT_EQ(host.Count(WM_VIDEO_DISCONNECTED), 0);
    }
    // Gone with its object, reaped by it: the session ends.
    errno = 0;
    EXPECT_EQ(kill(pid, 0), -1);
    EXPECT_EQ(errno, ESRCH);
    EXPECT_TRUE(PumpUntil([&] { return !ctrl->LoggedIn(); }, 5000));
}

TEST_F(SessionTest, IsConnectIsFalseWhileLoggedOutWhateverTheChannelFlags)
{
    SimDvr sim;
    ASSERT_TRUE(sim.Start({"--channels", "1"}));
    Bind(0, "Front", 0, sim.Port());
    ASSERT_TRUE(ctrl->Connect(0));
    EXPECT_EQ(ctrl->Channel(0).stopped.load(), 0);
    EXPECT_FALSE(ctrl->isConnect(0)); // connecting, not yet logged in
    ASSERT_TRUE(WaitMessage(WM_VIDEO_STARTED));
    EXPECT_TRUE(ctrl->isConnect(0));
    sim.Kill();
    // 3 s of silence ends the session; the channel is still wanted.
    ASSERT_TRUE(PumpUntil([&] { return !ctrl->LoggedIn(); }, 6000));
    EXPECT_EQ(ctrl->Channel(0).stopped.load(), 0);
    EXPECT_FALSE(ctrl->isConnect(0));
}

TEST_F(SessionTest, DvrThatDiesAndComesBackIsLoggedInToAgain)
{
    SimDvr sim;
    ASSERT_TRUE(sim.Start({"--channels", "2"}));
    const int port = sim.Port();
    Bind(0, "Front", 2, port);
    Bind(1, "Back", 3, port);
    ASSERT_TRUE(ctrl->Connect(0));
    ASSERT_TRUE(ctrl->Connect(1));
    ASSERT_TRUE(WaitMessage(WM_VIDEO_STARTED, 0, 2));

    sim.Kill();
    std::set<QString> titlesSeen;
    WatchTitles(0, &titlesSeen);
    QString titleAtRestart;
    host.onMessage = [&](const HostWindow::Entry& e) {
        if (e.message == WM_VIDEO_STARTED && e.lParam == 2)
            titleAtRestart = Title(0);
    };
    const auto killedAt = std::chrono::steady_clock::now();
    std::optional<std::chrono::steady_clock::time_point> lostAt;
    auto watch = [&] {
        if (!lostAt && !ctrl->LoggedIn())
            lostAt = std::chrono::steady_clock::now();
    };
    PumpUntil(
        [&] {
            watch();
            return titlesSeen.count(text::kRequestDisconnect) > 0;
        },
        3000);
    ASSERT_TRUE(sim.Start({"--channels", "2"}, port));
    ASSERT_TRUE(PumpUntil(
        [&] {
            watch();
            return host.Count(WM_VIDEO_STARTED) >= 4;
        },
        12000));
    // The killed DVR's connection ends the old link at once, well before
    // the 3 s of silence would; the next ticks set it up again.
    ASSERT_TRUE(lostAt.has_value());
    EXPECT_LT(*lostAt - killedAt, std::chrono::milliseconds(2000));
    EXPECT_TRUE(titlesSeen.count(text::kRequestDisconnect)) << "the lost link is shown";
    std::multiset<long> indexes;
    for (const auto& e : host.Of(WM_VIDEO_STARTED))
        indexes.insert(e.lParam);
    EXPECT_EQ(indexes, (std::multiset<long>{2, 2, 3, 3}));
    EXPECT_EQ(sim.Count("LOGIN "), 1);
    EXPECT_TRUE(sim.WaitLog("MASK 00000003"));
    EXPECT_EQ(titleAtRestart.toStdString(), text::kConnectCompleted);
}

TEST_F(SessionTest, ClearInfoAndDestructionReturnWhileTheHostIsSlowToAnswer)
{
    SimDvr sim;
    ASSERT_TRUE(sim.Start({"--channels", "1", "--alarm", "6", "--alarm-every", "1"}));
    Bind(0, "Front", 0, sim.Port());
    ASSERT_TRUE(ctrl->Connect(0));
    ASSERT_TRUE(WaitMessage(WM_VIDEO_ALARM, 0, 3));
    // Every frame now sends two alarms; each keeps the receive thread
    // waiting on the host for 30 ms.
    host.handlerDelayMs = 30;
    PumpFor(300);
    ctrl->DisConnectSvr(0);
    const auto start = std::chrono::steady_clock::now();
    ctrl->ClearInfo(0);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, std::chrono::milliseconds(1000));
    EXPECT_FALSE(ctrl->ReceiveThreadRunning());
    EXPECT_FALSE(ctrl->isReady(0));

    // Destruction in the middle of a stream of host messages.
    Bind(0, "Front", 0, sim.Port());
    ASSERT_TRUE(ctrl->Connect(0));
    const int before = host.Count(WM_VIDEO_ALARM);
    ASSERT_TRUE(PumpUntil([&] { return host.Count(WM_VIDEO_ALARM) > before + 3; }, 5000));
    EXPECT_LT(DestroyControl(), kCloseBound);
}

} // namespace
