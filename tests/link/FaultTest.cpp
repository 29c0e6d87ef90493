// A DVR that misbehaves: the control survives each fault, stays usable and
// is destroyed promptly afterwards.
#include "LinkHarness.h"

namespace {

using namespace linktest;
using namespace vyrdax;

struct VideoFault {
    const char* kind;
    bool relogin; // the link is dropped and set up again
};

class VideoFaultTest : public LinkTest, public ::testing::WithParamInterface<VideoFault> {};

TEST_P(VideoFaultTest, ControlSurvivesAndConnectsElsewhereAfterwards)
{
    const VideoFault fault = GetParam();
    SimDvr bad;
    ASSERT_TRUE(bad.Start({"--channels", "2", "--fault", fault.kind, "--fault-after", "10"}));
    Bind(0, "Front", 0, bad.Port());
    Bind(1, "Back", 1, bad.Port());
    ASSERT_TRUE(ctrl->Connect(0));
    ASSERT_TRUE(ctrl->Connect(1));
    ctrl->Channel(0).displayThread.StopAndJoin(); // the test reads channel 0's queue itself
    if (std::string(fault.kind) != "silence") {
        EXPECT_TRUE(bad.WaitLog("FAULT", 1, 5000));
    }
    if (fault.relogin) {
        // Silence ends the link after 3 s; a dead peer also holds the logout
        // for its 3 s send time-out before the next tick.
        EXPECT_TRUE(bad.WaitLog("LOGIN ", 2, 12000)) << bad.Count("LOGIN ");
    } else {
        CFrameQueue& queue = ctrl->Channel(0).queue;
        PumpFor(1000);
        EXPECT_EQ(bad.Count("LOGIN "), 1);
        if (std::string(fault.kind) == "bad-channel") {
            // The frame for channel 99 is read past; the stream goes on.
            queue.Clear();
            EXPECT_TRUE(PumpUntil([&] { return queue.Backlog() >= 5; }, 3000));
            EXPECT_TRUE(ctrl->LoggedIn());
        }
    }

    SimDvr good;
    ASSERT_TRUE(good.Start({"--channels", "2"}));
    ctrl->DisConnectSvr(0);
    ctrl->DisConnectSvr(1);
    host.messages.clear();
    Bind(0, "Front", 0, good.Port());
    Bind(1, "Back", 1, good.Port());
    ASSERT_TRUE(ctrl->Connect(0));
    ASSERT_TRUE(ctrl->Connect(1));
    ASSERT_TRUE(WaitMessage(WM_VIDEO_STARTED, 0, 2, 8000));
    EXPECT_TRUE(good.WaitLog("MASK 00000003"));
    EXPECT_LT(DestroyControl(), std::chrono::milliseconds(1000));
}

INSTANTIATE_TEST_SUITE_P(Kinds, VideoFaultTest,
                         ::testing::Values(VideoFault{"silence", true}, VideoFault{"close", true},
                                           VideoFault{"garbage", false}, VideoFault{"oversize", true},
                                           VideoFault{"bad-channel", false}),
                         [](const auto& info) {
                             std::string name = info.param.kind;
                             name.erase(std::remove(name.begin(), name.end(), '-'), name.end());
                             return name;
                         });

using FaultTest = LinkTest;

uint32_t Count(const platform::Variant& events)
{
    const auto* p = static_cast<const uint8_t*>(events.ptr);
    return p ? p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24 : 0xFFFFFFFFu;
}

TEST_F(FaultTest, EventCountBeyondTheTableIsRefusedAndLeavesNoStaleCount)
{
    SimDvr good, bad;
    ASSERT_TRUE(good.Start({"--channels", "1", "--events", "100"}));
    ASSERT_TRUE(bad.Start({"--channels", "1", "--fault", "bad-count"}));
    ctrl->SetBackupMode(3);
    auto poll = [&](SimDvr& sim, int round) {
        ctrl->SetEventInfo("DVR", "Guest", "", "127.0.0.1", static_cast<int16_t>(sim.Port()), 5, 0, 0);
        EXPECT_TRUE(ctrl->Connect(0));
        EXPECT_TRUE(WaitMessage(WM_VIDEO_PROGRESS, 0, round));
        ctrl->CmdToDVR(32, 0, 0);
    };
    poll(good, 1);
    ASSERT_TRUE(WaitMessage(WM_VIDEO_PROGRESS, 1));
    EXPECT_EQ(Count(ctrl->GetEventData()), 100u);

    poll(bad, 2);
    ASSERT_TRUE(WaitMessage(WM_VIDEO_LINK_ERROR, 0));
    EXPECT_EQ(host.Of(WM_VIDEO_LINK_ERROR, 0)[0].lParam, 5);
    EXPECT_EQ(Count(ctrl->GetEventData()), 0u);
    EXPECT_EQ(host.Count(WM_VIDEO_PROGRESS, 1), 1);
    // The error is told before the link is dropped; the drop follows.
    EXPECT_TRUE(PumpUntil([&] { return !ctrl->isConnect(0); }, 3000));

    poll(good, 3);
    ASSERT_TRUE(WaitMessage(WM_VIDEO_PROGRESS, 1, 2));
    EXPECT_EQ(Count(ctrl->GetEventData()), 100u);
    EXPECT_LT(DestroyControl(), std::chrono::milliseconds(1000));
}

} // namespace
