// Connecting and logging in: accepted, refused, nothing listening, no
// answer, and an address that cannot be resolved.
#include "LinkHarness.h"

#include "control/StatusTexts.h"

#include <map>
#include <set>

namespace {

using namespace linktest;
using namespace vyrdax;

// A host name that fails to resolve without a query leaving the machine: a
// label longer than 63 characters cannot be put into a DNS query at all.
const std::string kUnresolvable = std::string(70, 'a') + ".invalid";

uint32_t Word(const std::array<uint8_t, 76>& b, int at)
{
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

using LoginTest = LinkTest;

TEST_F(LoginTest, AcceptedLoginStartsEveryChannelWithItsDisplayIndex)
{
    SimDvr sim;
    ASSERT_TRUE(sim.Start({"--channels", "4", "--dvr-type", "7", "--right", "9", "--signal-type", "1", "--user",
                           "Operator", "--password", "secret12"}));
    // Ports above 32767 reach the control as negative shorts.
    ASSERT_GT(sim.Port(), 32767) << "the loopback's ephemeral ports are expected above 32767";
    // ID and password longer than 8 characters are cut to 8.
    ctrl->SetConnectInfo("Front", "Operator-long", "secret12345", "", "127.0.0.1", static_cast<int16_t>(sim.Port()),
                         0, 1, 1, 2);
    Bind(1, "Back", 0, sim.Port(), "127.0.0.1", "Operator-long", "secret12345");
    Bind(3, "Gate", 5, sim.Port(), "127.0.0.1", "Operator-long", "secret12345");
    ctrl->SetConnectInfo("Yard", "Operator-long", "secret12345", "", "127.0.0.1", static_cast<int16_t>(sim.Port()), 0,
                         5, 1, 7); // bound, never asked for
    EXPECT_EQ(ctrl->Port(), sim.Port());
    // The title as the host is told the channel started (the live display
    // puts its time title there soon after).
    std::map<long, QString> titleAtStart;
    host.onMessage = [&](const HostWindow::Entry& e) {
        if (e.message == WM_VIDEO_STARTED)
            titleAtStart[e.lParam] = Title(e.lParam == 2 ? 0 : e.lParam == 0 ? 1 : 3);
    };
    ASSERT_TRUE(ctrl->Connect(0));
    ASSERT_TRUE(ctrl->Connect(1));
    ASSERT_TRUE(ctrl->Connect(3));

    ASSERT_TRUE(WaitMessage(WM_VIDEO_STARTED, 0, 3));
    PumpFor(300);
    std::multiset<long> indexes;
    for (const auto& e : host.Of(WM_VIDEO_STARTED))
        indexes.insert(e.lParam);
    EXPECT_EQ(indexes, (std::multiset<long>{0, 2, 5}));
    for (long index : {0, 2, 5})
        EXPECT_EQ(titleAtStart[index].toStdString(), text::kConnectCompleted) << index;
    EXPECT_EQ(ctrl->GetDVRType(), 7);
    EXPECT_EQ(ctrl->GetUserRight(), 9);
    EXPECT_EQ(ctrl->GetVideoSignalType(), 1);
    EXPECT_TRUE(ctrl->isConnect(0));
    EXPECT_TRUE(ctrl->isConnect(3));
    EXPECT_FALSE(ctrl->isConnect(2));
    EXPECT_FALSE(ctrl->isConnect(4));
    const auto logins = sim.LogLines("LOGIN ");
    ASSERT_EQ(logins.size(), 1u);
    EXPECT_EQ(logins[0].substr(0, logins[0].find(" #")), "LOGIN Operator secret12 0 1 ACCEPT");
    EXPECT_TRUE(sim.WaitLog("MASK 0000000B"));
}

TEST_F(LoginTest, FirstFrameCarriesTheStreamHeaderInFrontOfItsOwnBytes)
{
    SimDvr sim;
    ASSERT_TRUE(sim.Start({"--channels", "1"}));
    Bind(0, "Front", 0, sim.Port());
    ASSERT_TRUE(ctrl->Connect(0));
    // The test reads the queue in the display thread's place; nothing has
    // arrived before the login, which needs the event loop.
    ctrl->Channel(0).displayThread.StopAndJoin();
    CFrameQueue& queue = ctrl->Channel(0).queue;
    ASSERT_TRUE(PumpUntil([&] { return queue.Backlog() >= 2; }, 5000));
    std::vector<uint8_t> frame(1 << 20);
    FrameInfo first, second;
    ASSERT_EQ(queue.Front(frame.data(), frame.size(), &first), 1);
    // 352 x 240 progressive, patched into bytes 23..27 of the template.
    const std::vector<uint8_t> expected{0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x20, 0x02, 0x48,
                                        0x0D, 0xC0, 0x00, 0x40, 0x00, 0x40, 0x00, 0x40, 0x00, 0x80,
                                        0x00, 0x97, 0x53, 10,   22,   8,    60,   0x28, 0x8C, 0x1F};
    EXPECT_EQ(std::vector<uint8_t>(frame.begin(), frame.begin() + 30), expected);
    // The frame's own first bytes follow, untouched: a video object plane.
    EXPECT_EQ(std::vector<uint8_t>(frame.begin() + 30, frame.begin() + 34), (std::vector<uint8_t>{0, 0, 1, 0xB6}));
    EXPECT_TRUE(first.IsKeyFrame());
    ASSERT_EQ(queue.PopFront(), 1);
    ASSERT_EQ(queue.Front(frame.data(), frame.size(), &second), 1);
    EXPECT_EQ(std::vector<uint8_t>(frame.begin(), frame.begin() + 4), (std::vector<uint8_t>{0, 0, 1, 0xB6}));
    EXPECT_FALSE(second.IsKeyFrame());
    EXPECT_EQ(second.Word(FrameInfo::kWidth), 352u);
    EXPECT_EQ(second.Word(FrameInfo::kHeight), 240u);
}

TEST_F(LoginTest, OnlyAnAcceptedReplyCodeSetsTheDvrFields)
{
    {
        // Any reply code but "refused" logs in; only 0x1001 carries fields.
        FakeDvr dvr(FakeDvr::Mode::Reply, 0x1003, 0x1000F, 33);
        ctrl->SetConnectInfo("Front", "ab", "0123456789", "", "127.0.0.1", static_cast<int16_t>(dvr.Port()), 0, 1, 3, 0);
        ASSERT_TRUE(ctrl->Connect(0));
        ASSERT_TRUE(PumpUntil([&] { return ctrl->LoggedIn(); }, 3000));
        EXPECT_EQ(ctrl->GetDVRType(), 1);
        EXPECT_EQ(ctrl->GetUserRight(), 0);
        EXPECT_EQ(ctrl->GetVideoSignalType(), 0);
        EXPECT_TRUE(ctrl->isConnect(0));

        const std::array<uint8_t, 76> login = dvr.LastLogin();
        EXPECT_EQ(std::vector<uint8_t>(login.begin(), login.begin() + 8),
                  (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8}));
        EXPECT_EQ(Word(login, 8), 1u);
        EXPECT_EQ(Word(login, 12), 1u);
        EXPECT_EQ(std::string(login.begin() + 16, login.begin() + 24), std::string("ab\0\0\0\0\0\0", 8));
        EXPECT_EQ(std::string(login.begin() + 24, login.begin() + 32), "01234567");
        EXPECT_EQ(Word(login, 36), 0u); // live view
        EXPECT_EQ(Word(login, 44), 3u); // audio option
        for (int k = 48; k < 76; ++k)
            EXPECT_EQ(login[k], 0) << k;
        ctrl->DisConnectSvr(0);
        EXPECT_FALSE(ctrl->LoggedIn());
    }
    FakeDvr accepting(FakeDvr::Mode::Reply, 0x1001, 0x1000F, 33);
    Bind(0, "Front", 0, accepting.Port());
    ASSERT_TRUE(ctrl->Connect(0));
    ASSERT_TRUE(PumpUntil([&] { return ctrl->LoggedIn(); }, 3000));
    EXPECT_EQ(ctrl->GetDVRType(), 33);
    EXPECT_EQ(ctrl->GetUserRight(), 15);
    EXPECT_EQ(ctrl->GetVideoSignalType(), 1);
}

TEST_F(LoginTest, RefusedLoginIsShownAndTriedAgainOnEveryTick)
{
    SimDvr sim;
    ASSERT_TRUE(sim.Start({"--user", "Admin"}));
    Bind(0, "Front", 0, sim.Port());
    ASSERT_TRUE(ctrl->Connect(0));
    ASSERT_TRUE(WaitTitle(0, text::kInvalidLogin));
    // The tick is 0.5 s here: several more attempts within 3 s.
    EXPECT_TRUE(sim.WaitLog("REFUSE", 4, 4000)) << sim.Count("REFUSE");
    EXPECT_FALSE(ctrl->LoggedIn());
    EXPECT_FALSE(ctrl->isConnect(0));
    EXPECT_EQ(host.Count(WM_VIDEO_STARTED), 0);
    // Stopping the channel stops the retries.
    ctrl->DisConnectSvr(0);
    PumpFor(300);
    const int attempts = sim.Count("LOGIN ");
    PumpFor(1500);
    EXPECT_EQ(sim.Count("LOGIN "), attempts);
}

TEST_F(LoginTest, RefusedLoginEndsAnEventLogSessionWithALinkError)
{
    SimDvr sim;
    ASSERT_TRUE(sim.Start({"--user", "Admin"}));
    ctrl->SetBackupMode(3);
    ctrl->SetEventInfo("DVR", "Guest", "", "127.0.0.1", static_cast<int16_t>(sim.Port()), 4, 2, 0);
    ASSERT_TRUE(ctrl->Connect(0));
    ASSERT_TRUE(WaitMessage(WM_VIDEO_LINK_ERROR, 1));
    const auto errors = host.Of(WM_VIDEO_LINK_ERROR);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].lParam, 4);
    PumpFor(1500);
    EXPECT_EQ(sim.Count("LOGIN "), 1); // one-shot: no retry
    EXPECT_EQ(host.Count(WM_VIDEO_PROGRESS), 0);
    EXPECT_FALSE(ctrl->isConnect(0));
    EXPECT_EQ(ctrl->GetSvrChannel(), 2);
}

TEST_F(LoginTest, NothingListeningShowsPortNumberIncorrectInEverySessionKind)
{
    const int port = ClosedPort();
    // Live: the text, and the session keeps trying.
    Bind(0, "Front", 3, port);
    ASSERT_TRUE(ctrl->Connect(0));
    ASSERT_TRUE(WaitTitle(0, text::kPortIncorrect));
    // A DVR that appears on the next try is logged in to.
    SimDvr sim;
    ASSERT_TRUE(sim.Start({"--channels", "1"}));
    Bind(0, "Front", 3, sim.Port());
    ASSERT_TRUE(WaitMessage(WM_VIDEO_STARTED, 0, 1, 5000));
    EXPECT_EQ(host.Count(WM_VIDEO_PROGRESS), 0);
    EXPECT_TRUE(boxes.empty());
    DestroyControl();

    // Event log: progress 2 for the channel, once.
    ctrl = new CVyrdaxCtrl(&host);
    ctrl->setDispChannel(16);
    host.messages.clear();
    ctrl->SetBackupMode(3);
    ctrl->SetEventInfo("DVR", "Guest", "", "127.0.0.1", static_cast<int16_t>(port), 6, 0, 0);
    ASSERT_TRUE(ctrl->Connect(0));
    ASSERT_TRUE(WaitMessage(WM_VIDEO_PROGRESS, 2));
    PumpFor(1000);
    ASSERT_EQ(host.Count(WM_VIDEO_PROGRESS), 1);
    EXPECT_EQ(host.Of(WM_VIDEO_PROGRESS)[0].lParam, 6);
    EXPECT_FALSE(ctrl->isConnect(0));
    EXPECT_TRUE(boxes.empty());
    DestroyControl();

    // Remote search: progress 0 and the text in a message box.
    ctrl = new CVyrdaxCtrl(&host);
    ctrl->setDispChannel(16);
    host.messages.clear();
    ctrl->SetBackupMode(1);
    Bind(0, "Front", 1, port);
    ctrl->GetBackupInfo(static_cast<int32_t>(std::time(nullptr)), 0);
    ASSERT_TRUE(WaitMessage(WM_VIDEO_PROGRESS, 0));
    PumpFor(1000);
    ASSERT_EQ(host.Count(WM_VIDEO_PROGRESS), 1);
    EXPECT_EQ(host.Of(WM_VIDEO_PROGRESS)[0].lParam, 1);
    std::lock_guard<std::mutex> lock(boxesLock);
    EXPECT_EQ(boxes, std::vector<std::string>{text::kPortIncorrect});
}

TEST_F(LoginTest, UnansweredLoginIsRetriedLiveAndEndsAnEventLogSession)
{
    FakeDvr silent(FakeDvr::Mode::NoReply);
    Bind(0, "Front", 0, silent.Port());
    ASSERT_TRUE(ctrl->Connect(0));
    // 0.5 s for the reply, then the next 0.5 s tick tries again.
    EXPECT_TRUE(PumpUntil([&] { return silent.Logins() >= 3; }, 5000)) << silent.Logins();
    EXPECT_FALSE(ctrl->LoggedIn());
    DestroyControl();

    FakeDvr silent2(FakeDvr::Mode::NoReply);
    ctrl = new CVyrdaxCtrl(&host);
    ctrl->setDispChannel(16);
    ctrl->SetBackupMode(3);
    ctrl->SetEventInfo("DVR", "Guest", "", "127.0.0.1", static_cast<int16_t>(silent2.Port()), 2, 0, 0);
    ASSERT_TRUE(ctrl->Connect(0));
    ASSERT_TRUE(WaitMessage(WM_VIDEO_PROGRESS, 3));
    EXPECT_EQ(host.Of(WM_VIDEO_PROGRESS, 3)[0].lParam, 2);
    EXPECT_EQ(silent2.Logins(), 1);
}

TEST_F(LoginTest, ConnectThatGetsNoAnswerTimesOut)
{
    BlackholePort blackhole;
    if (!blackhole.Ready())
        GTEST_SKIP() << "this kernel answers connects to a full accept queue";
    // Live: "Connection Timeout!" after the (shortened) 1 s connect time-out.
    Bind(0, "Front", 0, blackhole.Port());
    ASSERT_TRUE(ctrl->Connect(0));
    EXPECT_EQ(Title(0), text::kTryingConnect);
    ASSERT_TRUE(WaitTitle(0, text::kConnectionTimeout, 4000));
    DestroyControl();

    for (int mode : {3, 1}) {
        SCOPED_TRACE(mode);
        ctrl = new CVyrdaxCtrl(&host);
        ctrl->setDispChannel(16);
        host.messages.clear();
        ctrl->SetBackupMode(static_cast<int16_t>(mode));
        if (mode == 3) {
            ctrl->SetEventInfo("DVR", "Guest", "", "127.0.0.1", static_cast<int16_t>(blackhole.Port()), 8, 0, 0);
            ASSERT_TRUE(ctrl->Connect(0));
        } else {
            Bind(0, "Front", 8, blackhole.Port());
            ctrl->GetBackupInfo(static_cast<int32_t>(std::time(nullptr)), 1);
        }
        const long kind = mode == 3 ? 3 : 0;
        ASSERT_TRUE(WaitMessage(WM_VIDEO_PROGRESS, kind, 1, 4000));
        EXPECT_EQ(host.Of(WM_VIDEO_PROGRESS, kind)[0].lParam, 8);
        PumpFor(600);
        EXPECT_EQ(host.Count(WM_VIDEO_PROGRESS), 1);
        DestroyControl();
    }
}

TEST_F(LoginTest, UnresolvableAddressIsRetriedLiveAndEndsOneShotSessions)
{
    SimDvr sim;
    ASSERT_TRUE(sim.Start({"--channels", "1"}));
    Bind(0, "Front", 0, sim.Port(), kUnresolvable);
    ASSERT_TRUE(ctrl->Connect(0));
    PumpFor(800);
    EXPECT_FALSE(ctrl->LoggedIn());
    EXPECT_EQ(sim.Count("CONNECT"), 0);
    // The next tick takes the address the host gives meanwhile.
    Bind(0, "Front", 0, sim.Port());
    ASSERT_TRUE(WaitMessage(WM_VIDEO_STARTED, 0, 1, 4000));
    DestroyControl();

    for (int mode : {3, 1}) {
        SCOPED_TRACE(mode);
        ctrl = new CVyrdaxCtrl(&host);
        ctrl->setDispChannel(16);
        host.messages.clear();
        ctrl->SetBackupMode(static_cast<int16_t>(mode));
        if (mode == 3) {
            ctrl->SetEventInfo("DVR", "Guest", "", kUnresolvable, static_cast<int16_t>(sim.Port()), 5, 0, 0);
            ASSERT_TRUE(ctrl->Connect(0));
            EXPECT_TRUE(ctrl->isConnect(0) || host.Count(WM_VIDEO_PROGRESS) > 0);
        } else {
            Bind(0, "Front", 5, sim.Port(), kUnresolvable);
            ctrl->GetBackupInfo(static_cast<int32_t>(std::time(nullptr)), 0);
        }
        const long kind = mode == 3 ? 3 : 0;
        ASSERT_TRUE(WaitMessage(WM_VIDEO_PROGRESS, kind, 1, 3000));
        EXPECT_EQ(host.Of(WM_VIDEO_PROGRESS, kind)[0].lParam, 5);
        // The notice comes first, then the session is dropped.
        EXPECT_TRUE(PumpUntil([&] { return !ctrl->isConnect(0); }, 3000));
        DestroyControl();
    }
}

} // namespace
