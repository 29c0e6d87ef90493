// A DVR that misbehaves: the control survives each fault, stays usable and
// is destroyed promptly afterwards.
#include "LinkHarness.h"
#include "LoopGaps.h"
#include "NetworkWaits.h"
#include "control/StatusTexts.h"
#include "control/link/CDvrSocket.h"
#include "control/link/LinkSettings.h"
#include "control/record/MovieFormat.h"
#include "platform/Registry.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <limits>
#include <optional>
#include <memory>
#include <random>
#include <set>

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
        // Silence ends the link after 3 s, a closed or broken one at once;
        // the next tick logs in again.
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
    EXPECT_LT(DestroyControl(), kCloseBound);
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
    EXPECT_LT(DestroyControl(), kCloseBound);
}

// ---- a connection that ends ------------------------------------------------------

// A connected pair on 127.0.0.1: ours (the control's socket) and the peer's
// end as a plain descriptor.
struct SocketPair {
    vyrdax::CDvrSocket ours;
    int peer = -1;
    SocketPair()
    {
        int port = 0;
        const int listener = ListenOnLoopback(1, &port);
        if (listener >= 0 && ours.StartConnect("127.0.0.1", static_cast<uint16_t>(port)) == 0)
            peer = accept(listener, nullptr, nullptr);
        if (listener >= 0)
            close(listener);
    }
    ~SocketPair()
    {
        if (peer >= 0)
            close(peer);
    }
    void Reset()
    {
        linger hard{1, 0};
        setsockopt(peer, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        close(peer);
        peer = -1;
    }
};

// Milliseconds, for what a failed check prints.
template <typename Duration>
double Ms(Duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

template <typename F>
std::chrono::milliseconds Took(F&& f)
{
    const auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
}

TEST(DvrSocketTest, ClosedOrResetConnectionFailsAtOnceAndSilentOneWaitsItsTimeOut)
{
    using namespace std::chrono_literals;
    for (const bool reset : {false, true}) {
        SCOPED_TRACE(reset ? "reset" : "closed");
        SocketPair pair;
        ASSERT_GE(pair.peer, 0);
        // Bytes sent before the end are still read whole.
        const uint8_t sent[5] = {1, 2, 3, 4, 5};
        ASSERT_EQ(send(pair.peer, sent, sizeof sent, 0), 5);
        uint8_t got[5] = {};
        ASSERT_TRUE(pair.ours.ReceiveExact(got, 5, 60000));
        EXPECT_EQ(std::vector<uint8_t>(got, got + 5), std::vector<uint8_t>(sent, sent + 5));

        std::thread ender([&] {
            std::this_thread::sleep_for(100ms);
            if (reset)
                pair.Reset();
            else
                shutdown(pair.peer, SHUT_RDWR);
        });
        uint8_t header[76];
        bool received = true;
        // A read waiting when the connection ends comes back at once, not
        // after its minute.
        EXPECT_LT(Took([&] { received = pair.ours.ReceiveExact(header, sizeof header, 60000); }), 5s);
        ender.join();
        EXPECT_FALSE(received);
        EXPECT_TRUE(pair.ours.Broken());
        // Every later call knows: neither a send nor a read waits.
        std::vector<uint8_t> record(12044, 0x5A);
        bool later = true;
        EXPECT_LT(Took([&] {
                      later = pair.ours.SendExact(record.data(), record.size(), 60000) ||
                              pair.ours.ReceiveExact(header, sizeof header, 60000);
                  }),
                  1s);
        EXPECT_FALSE(later);
    }
    // A peer that stays but says nothing is waited for, and is not broken;
    // made on a window's thread, that wait is what the window tests count.
    SocketPair silent;
    ASSERT_GE(silent.peer, 0);
    uint8_t header[76];
    bool received = true;
    testsupport::NetworkWaits waits;
    EXPECT_GE(Took([&] { received = silent.ours.ReceiveExact(header, sizeof header, 400); }), 390ms);
    EXPECT_GE(waits.Count(), 1);
    EXPECT_GE(waits.LongestMs(), 390);
    EXPECT_FALSE(received);
    EXPECT_FALSE(silent.ours.Broken());
    // Our own shutdown (a new connection replacing this one) is no break.
    silent.ours.Shutdown();
    EXPECT_FALSE(silent.ours.ReceiveExact(header, sizeof header, 60000));
    EXPECT_FALSE(silent.ours.Broken());
}

TEST(DvrSocketTest, AWaitEndsNoSoonerThanItsTimeOutAndWhatHasComeIsTakenPastIt)
{
    using namespace std::chrono;
    SocketPair pair;
    ASSERT_GE(pair.peer, 0);
    uint8_t header[76];
    // Time-outs of whole milliseconds begun anywhere within a millisecond,
    // and deadlines that fall between two: none ends before its time.
    std::mt19937 random(47);
    for (int round = 0; round < 120; ++round) {
        SCOPED_TRACE(round);
        std::this_thread::sleep_for(microseconds(random() % 1000));
        const int timeoutMs = 2 + round % 9;
        const auto start = steady_clock::now();
        EXPECT_FALSE(pair.ours.ReceiveExact(header, sizeof header, timeoutMs));
        EXPECT_GE(Ms(steady_clock::now() - start), timeoutMs);
        const auto deadline = steady_clock::now() + microseconds(200 + random() % 3000);
        EXPECT_FALSE(pair.ours.ReceiveUntil(header, sizeof header, deadline));
        EXPECT_GT(Ms(steady_clock::now() - deadline), 0.0);
    }
    EXPECT_FALSE(pair.ours.Broken());
    // Bytes that are already there are taken even once the deadline has
    // passed; only a wait for more fails, and the rest is then read whole.
    uint8_t sent[76];
    for (int k = 0; k < 76; ++k)
        sent[k] = static_cast<uint8_t>(k * 7);
    ASSERT_EQ(send(pair.peer, sent, sizeof sent, 0), 76);
    ASSERT_TRUE(pair.ours.ReceiveUntil(header, sizeof header, steady_clock::now() - seconds(1)));
    EXPECT_EQ(std::vector<uint8_t>(header, header + 76), std::vector<uint8_t>(sent, sent + 76));
    ASSERT_EQ(send(pair.peer, sent, 40, 0), 40);
    EXPECT_FALSE(pair.ours.ReceiveUntil(header, sizeof header, steady_clock::now() - seconds(1)));
    EXPECT_FALSE(pair.ours.Broken());
}

TEST_F(FaultTest, SetupUploadOnAConnectionThatEndedTellsTheHostThroughIsConnect)
{
    using namespace std::chrono_literals;
    // The upload is made while the receive thread waits on the host, so
    // that only the upload's own send can find the connection gone.
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        SimDvr sim;
        ASSERT_TRUE(sim.Start({"--channels", "1"}));
        Bind(0, "Front", 0, sim.Port());
        bool connectedAfter = true, loggedInBefore = false;
        std::chrono::milliseconds took{0};
        host.onMessage = [&](const HostWindow::Entry& e) {
            if (e.message != WM_VIDEO_STARTED)
                return;
            sim.Kill();
            std::this_thread::sleep_for(200ms);
            loggedInBefore = ctrl->isConnect(0);
            took = Took([&] { ctrl->CmdToDVR(19, 0, 0); });
            connectedAfter = ctrl->isConnect(0);
        };
        host.messages.clear();
        ASSERT_TRUE(ctrl->Connect(0));
        ASSERT_TRUE(WaitMessage(WM_VIDEO_STARTED, 0, 1, 8000));
        host.onMessage = nullptr;
        EXPECT_TRUE(loggedInBefore) << "the receive thread saw the end first";
        EXPECT_FALSE(connectedAfter);
        EXPECT_LT(took, 1s);
        // The receive thread then ends the session as for any lost link.
        EXPECT_TRUE(PumpUntil([&] { return !ctrl->LoggedIn(); }, 2000));
        ctrl->DisConnectSvr(0);
        EXPECT_TRUE(PumpUntil([&] { return !ctrl->LoggedIn(); }, 2000));
    }
}

// ---- a remote session whose DVR goes away ---------------------------------------

// A remote play-back session, channel 0 recording it, ended by the DVR in
// one of the ways it can go away.
class LostRemoteSessionTest : public LinkTest, public ::testing::WithParamInterface<const char*> {
protected:
    // Plays back from the DVR, records channel 0, then loses the DVR;
    // returns when the loss has been seen, with the time it took.
    std::chrono::milliseconds PlayAndLose(SimDvr& sim, const std::string& kind, QTemporaryDir& recordings,
                                          std::string* movie, testsupport::LoopGaps& gaps)
    {
        std::vector<std::string> args = {"--channels", "2", "--fps", "15", "--gop", "5"};
        if (kind != "kill")
            args.insert(args.end(), {"--fault", kind, "--fault-after", kind == "silence" ? "0" : "60"});
        EXPECT_TRUE(sim.Start(args));
        gaps.Resume();
        ctrl->SetBackupMode(1);
        Bind(0, "Front", 0, sim.Port());
        Bind(1, "Back", 1, sim.Port());
        requestedAt = std::chrono::steady_clock::now();
        ctrl->StartDVRPlaybackTime(static_cast<int32_t>(std::time(nullptr) - 600), 0, 0);
        // A silent DVR takes the login and the request, and then says
        // nothing more; the request is the session's last activity.
        EXPECT_TRUE(sim.WaitLog(kind == "silence" ? "CMD " : "PLAYBACK"));
        if (kind != "silence") {
            ctrl->SetRecType(0);
            EXPECT_EQ(ctrl->StartRecord(recordings.path().toStdString(), "F.Front.20260101.000000.00.mp4", "F.Front",
                                        0, 0),
                      0);
            ctrl->SetStatus(0, STATUS_RECORD_MANUAL | STATUS_LIVE);
            EXPECT_TRUE(PumpUntil(
                [&] {
                    *movie = ctrl->Recorder().MoviePath(0);
                    return !movie->empty() && QFileInfo(QString::fromStdString(*movie)).size() > 32;
                },
                5000));
        }
        auto lostAt = std::chrono::steady_clock::now();
        if (kind == "kill") {
            sim.Kill();
            gaps.Resume(); // the test's own wait for the simulator's end
            lostAt = std::chrono::steady_clock::now();
        } else if (kind != "silence") {
            EXPECT_TRUE(sim.WaitLog("FAULT"));
            lostAt = std::chrono::steady_clock::now();
        }
        EXPECT_TRUE(WaitMessage(WM_VIDEO_PROGRESS, 0, 2, 8000)) << "the host was not told";
        const auto toldAt = host.Of(WM_VIDEO_PROGRESS, 0).front().at;
        sinceRequest = std::chrono::duration_cast<std::chrono::milliseconds>(toldAt - requestedAt);
        return std::chrono::duration_cast<std::chrono::milliseconds>(toldAt - lostAt);
    }
    std::chrono::steady_clock::time_point requestedAt;
    std::chrono::milliseconds sinceRequest{0};
};

TEST_P(LostRemoteSessionTest, EndsAsASessionThatCouldNotConnectAndTheNextRequestConnectsAfresh)
{
    using namespace std::chrono_literals;
    const std::string kind = GetParam();
    SimDvr sim;
    QTemporaryDir recordings;
    ASSERT_TRUE(recordings.isValid());
    std::string movie;
    testsupport::LoopGaps gaps;
    testsupport::NetworkWaits waits;
    const auto seenAfter = PlayAndLose(sim, kind, recordings, &movie, gaps);
    // Closed, reset or killed: at once. Silent: at the data time-out (3 s
    // here) after the request, never before it, and not a second later.
    const std::chrono::milliseconds timeout(Timeouts().dataMs);
    if (kind == "silence") {
        EXPECT_GE(sinceRequest.count(), timeout.count());
        EXPECT_LT(seenAfter.count(), (timeout + 1000ms).count());
    } else {
        EXPECT_LT(seenAfter, 2000ms);
    }

    // Each assigned channel is told once, the panes say so, and the operator
    // is told why.
    PumpFor(300);
    EXPECT_EQ(host.LParams(WM_VIDEO_PROGRESS), (std::vector<int>{0, 1}));
    {
        std::lock_guard<std::mutex> lock(boxesLock);
        EXPECT_EQ(boxes, std::vector<std::string>{text::kDvrLost});
    }
    EXPECT_FALSE(ctrl->LoggedIn());
    EXPECT_FALSE(ctrl->isConnect(0));
    // The disconnected pane of a named channel.
    EXPECT_EQ(Title(0).toStdString(), "Front is Ready");
    EXPECT_EQ(ctrl->GetStatus(0), 0);
    EXPECT_EQ(ctrl->GetStatus(1), 0);
    if (kind != "silence") {
        // What was recorded up to the loss is kept, with its index.
        EXPECT_FALSE(ctrl->IsRecording(0));
        EXPECT_GT(QFileInfo(QString::fromStdString(vyrmovie::IndexPathFor(movie))).size(), 0);
    }
    // The window answered while the session ended: nothing on its thread
    // waited for the lost DVR, on its socket or on a thread that did.
    EXPECT_EQ(waits.Count(), 0) << "the longest " << waits.LongestMs() << " ms";
    EXPECT_LT(gaps.LongestAsleep(), 1000) << "the longest gap " << gaps.Longest() << " ms";

    // Once the DVR is back, the next search and the next play-back connect
    // afresh with no further step.
    const int port = sim.Port();
    if (kind != "kill")
        sim.Stop();
    ASSERT_TRUE(sim.Start({"--channels", "2", "--recordings", "3"}, port));
    host.messages.clear();
    ctrl->GetBackupInfo(static_cast<int32_t>(std::time(nullptr)), 0);
    ASSERT_TRUE(WaitMessage(WM_VIDEO_MONTH_DATA, -1, 1, 8000));
    const auto* month = static_cast<const uint8_t*>(ctrl->GetMonthData().ptr);
    EXPECT_NE(std::count(month, month + 128, 0), 128) << "the month with recordings is marked";
    ctrl->StartDVRPlaybackTime(static_cast<int32_t>(std::time(nullptr) - 600), 0, 0);
    EXPECT_TRUE(sim.WaitLog("PLAYBACK"));
    EXPECT_TRUE(PumpUntil([&] { return ctrl->isConnect(0); }, 5000));
    EXPECT_EQ(host.Count(WM_VIDEO_PROGRESS), 0);
    ctrl->DisconnectBackup();
    EXPECT_TRUE(sim.WaitLog("LOGOUT"));
    std::lock_guard<std::mutex> lock(boxesLock);
    EXPECT_EQ(boxes.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Ends, LostRemoteSessionTest, ::testing::Values("close", "reset", "kill", "silence"));

// Display threads held with decoded frames of channel 0, as a loaded
// machine holds them, until the test lets them go: `holdsWanted` frames are
// held, each until `framesLetGo` reaches its number.
std::atomic<int> holdsWanted{0};
std::atomic<int> framesHeld{0};
std::atomic<int> framesLetGo{0};

void HoldFramesOfChannelZero(int channel)
{
    if (channel != 0)
        return;
    int wanted = holdsWanted.load();
    do {
        if (wanted <= 0)
            return;
    } while (!holdsWanted.compare_exchange_weak(wanted, wanted - 1));
    const int number = ++framesHeld;
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (framesLetGo.load() < number && std::chrono::steady_clock::now() < giveUp)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

struct Unhook {
    ~Unhook()
    {
        framesLetGo = std::numeric_limits<int>::max();
        CVyrdaxCtrl::SetDecodedFrameHookForTests(nullptr);
    }
};

TEST_F(FaultTest, AFrameDecodedBeforeARemoteSessionEndsTitlesNoPaneAfterIt)
{
    // The session ends, by the host or by the DVR, while a display thread
    // holds a frame between its decode and its title: the pane must still
    // tell the session is over afterwards.
    CVyrdaxCtrl::SetDecodedFrameHookForTests(&HoldFramesOfChannelZero);
    Unhook unhook;
    for (const bool byTheDvr : {false, true}) {
        SCOPED_TRACE(byTheDvr ? "lost DVR" : "ended by the host");
        SimDvr sim;
        ASSERT_TRUE(sim.Start({"--channels", "2", "--fps", "30", "--gop", "5"}));
        ctrl->SetBackupMode(1);
        Bind(0, "Front", 0, sim.Port());
        Bind(1, "Back", 1, sim.Port());
        host.messages.clear();
        ctrl->StartDVRPlaybackTime(static_cast<int32_t>(std::time(nullptr) - 600), 0, 0);
        ASSERT_TRUE(PumpUntil([&] { return ctrl->Channel(0).framesShown.load() >= 3; }, 30000));
        framesHeld = 0;
        framesLetGo = 0;
        holdsWanted = 1;
        ASSERT_TRUE(PumpUntil([&] { return framesHeld.load() == 1; }, 30000));
        if (byTheDvr) {
            sim.Kill();
            ASSERT_TRUE(WaitMessage(WM_VIDEO_PROGRESS, 0, 2, 30000));
        } else {
            ctrl->DisConnectSvr(-1);
        }
        EXPECT_FALSE(ctrl->LoggedIn());
        framesLetGo = 1;
        // Nothing more comes that could title the pane.
        PumpFor(200);
        EXPECT_EQ(Title(0).toStdString(), "Front is Ready");
        EXPECT_EQ(Title(1).toStdString(), "Back is Ready");
    }
}

TEST_F(FaultTest, AFrameDecodedBeforeALiveLinkIsLostTitlesNoPaneOfTheNextSession)
{
    // A display thread holds a frame between its decode and its title for
    // the whole reconnect: the new session's pane must not show it.
    CVyrdaxCtrl::SetDecodedFrameHookForTests(&HoldFramesOfChannelZero);
    Unhook unhook;
    SimDvr sim;
    ASSERT_TRUE(sim.Start({"--channels", "1", "--fps", "30", "--gop", "5"}));
    const int port = sim.Port();
    Bind(0, "Front", 0, port);
    ASSERT_TRUE(ctrl->Connect(0));
    ASSERT_TRUE(PumpUntil([&] { return ctrl->Channel(0).framesShown.load() >= 3; }, 30000));
    framesHeld = 0;
    framesLetGo = 0;
    holdsWanted = 1;
    ASSERT_TRUE(PumpUntil([&] { return framesHeld.load() == 1; }, 30000));
    sim.Kill();
    ASSERT_TRUE(PumpUntil([&] { return !ctrl->LoggedIn(); }, 30000));
    ASSERT_TRUE(sim.Start({"--channels", "1", "--fps", "30", "--gop", "5"}, port));
    ASSERT_TRUE(WaitMessage(WM_VIDEO_STARTED, 0, 2, 30000));
    // The old frame goes on; the first of the new session is held before
    // its title, so the pane's title is what the old frame left.
    holdsWanted = 1;
    framesLetGo = 1;
    ASSERT_TRUE(PumpUntil([&] { return framesHeld.load() == 2; }, 30000));
    EXPECT_EQ(Title(0).toStdString(), text::kConnectCompleted);
    framesLetGo = 2;
}

// A key frame of channel 0 stamped at `second` past 12:30, sent once the
// control has sent a type-5 packet of code `after`.
HostileStep KeyFrameStep(uint8_t second, uint32_t after)
{
    Video v;
    v.second = second;
    v.payload = RealFrames()[0].bytes;
    HostileStep step;
    step.bytes = VideoPacket(v);
    step.afterCommand = after;
    return step;
}

TEST_F(FaultTest, FramesStillQueuedWhenALiveLinkIsLostAreNotShownInTheNextSession)
{
    // The display holds the session's first frame while the rest queue up
    // behind it and the DVR closes the link. Let go once the next session
    // is logged in, it shows none of them: the pane tells "Connect
    // Completed" until the new session's own first frame.
    CVyrdaxCtrl::SetDecodedFrameHookForTests(&HoldFramesOfChannelZero);
    Unhook unhook;
    ASSERT_FALSE(RealFrames().empty());
    constexpr int kFramesOfTheLostSession = 10;
    constexpr uint32_t kAskForTheNextFrame = 7; // a command the DVR only logs
    auto keyFrame = KeyFrameStep;
    FakeDvr dvr([&](int login) {
        HostileScript script;
        script.loginReply = Header(PACKET_SESSION, LOGIN_ACCEPTED);
        if (login == 0) {
            // The first frame, and once the display holds it the rest and
            // the end of the link.
            script.steps.push_back(keyFrame(0, CONTROL_CHANNEL_MASK));
            for (int k = 1; k < kFramesOfTheLostSession; ++k)
                script.steps.push_back(keyFrame(static_cast<uint8_t>(k), kAskForTheNextFrame));
            script.steps.back().end = HostileStep::End::Close;
        } else {
            script.steps.push_back(keyFrame(59, kAskForTheNextFrame));
        }
        return script;
    });
    Bind(0, "Front", 0, dvr.Port());
    framesHeld = 0;
    framesLetGo = 0;
    holdsWanted = 1;
    ASSERT_TRUE(ctrl->Connect(0));
    ChannelSlot& slot = ctrl->Channel(0);
    ASSERT_TRUE(PumpUntil([&] { return framesHeld.load() == 1; }, 30000));
    ctrl->CmdToDVR(static_cast<int32_t>(kAskForTheNextFrame), 0, 0);
    ASSERT_TRUE(PumpUntil([&] { return slot.queue.Backlog() == kFramesOfTheLostSession - 2; }, 30000));
    ASSERT_TRUE(PumpUntil([&] { return dvr.Logins() == 2 && ctrl->LoggedIn(); }, 30000));

    // The held frame goes on; whatever the display takes next is held.
    holdsWanted = 1;
    framesLetGo = 1;
    ASSERT_TRUE(PumpUntil(
        [&] { return framesHeld.load() == 2 || (slot.awaitingFrame.load() && slot.queue.Backlog() == -1); }, 30000));
    EXPECT_EQ(framesHeld.load(), 1) << "a frame of the lost session was taken in the next";
    EXPECT_EQ(slot.framesShown.load(), 0u);

    ctrl->CmdToDVR(static_cast<int32_t>(kAskForTheNextFrame), 0, 0);
    ASSERT_TRUE(PumpUntil([&] { return framesHeld.load() == 2; }, 30000));
    EXPECT_EQ(host.Count(WM_VIDEO_STARTED), 2);
    EXPECT_EQ(Title(0).toStdString(), text::kConnectCompleted);
    framesLetGo = 2;
    EXPECT_TRUE(PumpUntil([&] { return slot.framesShown.load() == 1; }, 30000));
    EXPECT_EQ(Title(0).toStdString(), " Front 06/15/2024 12:30:59");
}

// Channel 0's display is held in its next take, between the frame and the
// login it is taken in, until the next session is logged in or, when the
// take keeps that login out, a while after the DVR has answered it.
std::atomic<const ChannelSlot*> takeToHold{nullptr};
std::atomic<CVyrdaxCtrl*> controlOfTheTake{nullptr};
std::atomic<FakeDvr*> dvrOfTheTake{nullptr};
std::atomic<int> takesHeld{0};
void HoldTheTakeThroughTheLogin(const ChannelSlot& slot)
{
    const ChannelSlot* wanted = &slot;
    if (!takeToHold.compare_exchange_strong(wanted, nullptr))
        return;
    using Clock = std::chrono::steady_clock;
    const auto giveUp = Clock::now() + std::chrono::seconds(30);
    std::optional<Clock::time_point> answered;
    while (Clock::now() < giveUp) {
        if (dvrOfTheTake.load()->Logins() == 2) {
            if (controlOfTheTake.load()->LoggedIn())
                break;
            if (!answered)
                answered = Clock::now();
            // Long past the few milliseconds the login takes once answered.
            if (Clock::now() - *answered > std::chrono::milliseconds(1500))
                break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ++takesHeld;
}

TEST_F(FaultTest, AFrameTakenAsALostLiveLinkLogsInAgainIsNotShownInTheNextSession)
{
    // The DVR sends a frame and closes the link; the display takes the frame
    // and is held in the take while the control logs in again. The frame is
    // the lost session's wherever the login comes: the take and the login
    // it is taken in go together, so the login waits for the take or the
    // take comes after the login has emptied the queue.
    ASSERT_FALSE(RealFrames().empty());
    constexpr uint32_t kAskForTheNextFrame = 7, kCloseTheLink = 16; // commands the DVR only logs
    auto keyFrame = [&](uint8_t second) { return KeyFrameStep(second, kAskForTheNextFrame); };
    FakeDvr dvr([&](int login) {
        HostileScript script;
        script.loginReply = Header(PACKET_SESSION, LOGIN_ACCEPTED);
        if (login == 0) {
            script.steps.push_back(KeyFrameStep(0, CONTROL_CHANNEL_MASK));
            script.steps.push_back(keyFrame(1));
            HostileStep close;
            close.afterCommand = kCloseTheLink;
            close.end = HostileStep::End::Close;
            script.steps.push_back(close);
        } else {
            script.steps.push_back(keyFrame(59));
        }
        return script;
    });
    Bind(0, "Front", 0, dvr.Port());
    ChannelSlot& slot = ctrl->Channel(0);
    controlOfTheTake = ctrl;
    dvrOfTheTake = &dvr;
    takesHeld = 0;
    ChannelSlot::takeHookForTests = &HoldTheTakeThroughTheLogin;
    struct UnhookTheTake {
        ~UnhookTheTake()
        {
            ChannelSlot::takeHookForTests = nullptr;
            takeToHold = nullptr;
        }
    } unhook;
    ASSERT_TRUE(ctrl->Connect(0));
    ASSERT_TRUE(PumpUntil([&] { return slot.framesShown.load() == 1; }, 30000));
    takeToHold = &slot;
    ctrl->CmdToDVR(static_cast<int32_t>(kAskForTheNextFrame), 0, 0);
    ASSERT_TRUE(PumpUntil([&] { return takeToHold.load() == nullptr; }, 30000));
    ctrl->CmdToDVR(static_cast<int32_t>(kCloseTheLink), 0, 0);
    ASSERT_TRUE(PumpUntil([&] { return takesHeld.load() == 1; }, 60000));
    ASSERT_TRUE(PumpUntil([&] { return dvr.Logins() == 2 && ctrl->LoggedIn(); }, 30000));
    ASSERT_TRUE(PumpUntil([&] { return slot.awaitingFrame.load() && slot.queue.Backlog() == -1; }, 30000));
    EXPECT_EQ(slot.framesShown.load(), 1u) << "a frame of the lost session was shown in the next";

    ctrl->CmdToDVR(static_cast<int32_t>(kAskForTheNextFrame), 0, 0);
    ASSERT_TRUE(PumpUntil([&] { return slot.framesShown.load() == 2; }, 30000));
    EXPECT_EQ(Title(0).toStdString(), " Front 06/15/2024 12:30:59");
}

TEST_F(FaultTest, ARemoteSessionLostAsTheHostEndsOrReusesItEndsOnceAndTheNextOneWorks)
{
    // The host's own end, or its next request, lands anywhere from before
    // the receive thread has seen the loss to after it has been handled.
    std::mt19937 random(20261209);
    for (int run = 0; run < 40; ++run) {
        SCOPED_TRACE(run);
        SimDvr sim;
        ASSERT_TRUE(sim.Start({"--channels", "2", "--recordings", "3"}));
        if (!ctrl) {
            ctrl = new CVyrdaxCtrl(&host);
            ctrl->setDispChannel(16);
        }
        host.messages.clear();
        {
            std::lock_guard<std::mutex> lock(boxesLock);
            boxes.clear();
        }
        ctrl->SetBackupMode(1);
        Bind(0, "Front", 0, sim.Port());
        Bind(1, "Back", 1, sim.Port());
        ctrl->StartDVRPlaybackTime(static_cast<int32_t>(std::time(nullptr) - 600), 0, 0);
        ASSERT_TRUE(sim.WaitLog("PLAYBACK"));
        ASSERT_TRUE(PumpUntil([&] { return ctrl->isConnect(0); }, 3000));
        const int port = sim.Port();
        sim.Kill();
        // A quarter of the runs answer before the GUI thread has run at all.
        if (run % 4 != 0)
            PumpFor(static_cast<int>(random() % 40));
        const bool search = run % 2 == 1;
        // Only the GUI thread ends a remote session: logged in here, the
        // loss has not been handled yet.
        const bool lossUnhandled = ctrl->LoggedIn();
        if (search)
            ctrl->GetBackupInfo(static_cast<int32_t>(std::time(nullptr)), 0);
        else
            ctrl->DisconnectBackup();
        // The host's own end is over at once. A search goes out over the
        // lost link and ends with it; made once the loss was told, it opens
        // a session of its own that the closed port refuses.
        const std::size_t endsTold = !search ? 0 : lossUnhandled ? 1 : 2;
        const auto settled = [&] {
            std::lock_guard<std::mutex> lock(boxesLock);
            return !ctrl->LoggedIn() && !ctrl->isConnect(0) && boxes.size() >= endsTold &&
                   host.LParams(WM_VIDEO_PROGRESS).size() >= 2 * boxes.size();
        };
        EXPECT_TRUE(PumpUntil(settled, 30000)) << "the end was not told";
        EXPECT_FALSE(ctrl->LoggedIn());
        EXPECT_FALSE(ctrl->isConnect(0));
        {
            std::lock_guard<std::mutex> lock(boxesLock);
            EXPECT_LE(boxes.size(), 2u);
            for (const std::string& box : boxes)
                EXPECT_TRUE(box == text::kDvrLost || box == text::kPortIncorrect) << box;
        }
        // Every end told is told to both channels, once each.
        const std::vector<int> told = host.LParams(WM_VIDEO_PROGRESS);
        EXPECT_EQ(told.size() % 2, 0u);
        EXPECT_LE(told.size(), 4u);
        // The DVR is back: the next search is answered. A loaded machine may
        // hold the simulator's answer to the login past the control's time-out
        // for it (half a second here): that search then ends as one that
        // could not connect, never before the time-out, and the next one is
        // answered. A notice left over from the lost session would come
        // before it.
        ASSERT_TRUE(sim.Start({"--channels", "2", "--recordings", "3"}, port));
        const std::size_t boxesBefore = [&] {
            std::lock_guard<std::mutex> lock(boxesLock);
            return boxes.size();
        }();
        bool answered = false;
        for (int attempt = 0; attempt < 5 && !answered; ++attempt) {
            host.messages.clear();
            const auto asked = std::chrono::steady_clock::now();
            ctrl->GetBackupInfo(static_cast<int32_t>(std::time(nullptr)), 0);
            ASSERT_TRUE(PumpUntil(
                [&] { return host.Count(WM_VIDEO_MONTH_DATA) > 0 || host.Count(WM_VIDEO_PROGRESS) >= 2; }, 30000));
            answered = host.Count(WM_VIDEO_MONTH_DATA) > 0;
            if (!answered) {
                ASSERT_GE(host.Of(WM_VIDEO_PROGRESS).front().at - asked,
                          std::chrono::milliseconds(Timeouts().loginReplyMs))
                    << "a notice of the lost session reached the next one";
                std::lock_guard<std::mutex> lock(boxesLock);
                ASSERT_EQ(boxes.size(), boxesBefore) << "the unanswered login was told with a box";
            }
        }
        ASSERT_TRUE(answered);
        EXPECT_EQ(host.Count(WM_VIDEO_PROGRESS), 0);
        EXPECT_TRUE(sim.WaitLog("LOGOUT"));
    }
}

TEST_F(FaultTest, ARemoteSessionRefusedAtLoginTellsTheHostAsOneThatCouldNotConnect)
{
    SimDvr sim;
    ASSERT_TRUE(sim.Start({"--channels", "2", "--password", "right"}));
    ctrl->SetBackupMode(1);
    Bind(0, "Front", 0, sim.Port());
    Bind(1, "Back", 1, sim.Port());
    ctrl->GetBackupInfo(static_cast<int32_t>(std::time(nullptr)), 0);
    ASSERT_TRUE(WaitMessage(WM_VIDEO_PROGRESS, 0, 2));
    EXPECT_EQ(host.LParams(WM_VIDEO_PROGRESS), (std::vector<int>{0, 1}));
    EXPECT_EQ(ctrl->GetStatus(0), 0) << "no channel is left live";
    EXPECT_FALSE(ctrl->isConnect(0));
    std::lock_guard<std::mutex> lock(boxesLock);
    EXPECT_EQ(boxes, std::vector<std::string>{text::kInvalidLogin});
}

// ---- a DVR that goes silent ----------------------------------------------------

// A control on a DVR of its own that answers the login and says what its
// FakeDvr says: a live one comes back by itself after each end, a remote
// play-back is asked for again by the test.
struct WatchedControl {
    WatchedControl(bool remoteSession, int signOfLifeMs)
        : remote(remoteSession), dvr(FakeDvr::Mode::Watch, LOGIN_ACCEPTED, 0, 0, signOfLifeMs)
    {
        ctrl = new CVyrdaxCtrl(&host);
        ctrl->setDispChannel(16);
        if (remote)
            ctrl->SetBackupMode(1);
        ctrl->SetConnectInfo("Front", "Guest", "", "", "127.0.0.1", static_cast<int16_t>(dvr.Port()), 0, 1, 0, 0);
    }
    ~WatchedControl() { delete ctrl; }
    void Begin()
    {
        ++begun;
        if (remote)
            ctrl->StartDVRPlaybackTime(static_cast<int32_t>(std::time(nullptr) - 600), 0, 0);
        else
            ctrl->Connect(0);
    }
    int Ended() const { return remote ? host.Count(WM_VIDEO_PROGRESS) : EndedAtTheDvr(); }
    int EndedAtTheDvr() const
    {
        const auto sessions = dvr.Sessions();
        return static_cast<int>(std::count_if(sessions.begin(), sessions.end(), [](auto& s) { return s.ended; }));
    }

    bool remote;
    FakeDvr dvr;
    HostWindow host;
    CVyrdaxCtrl* ctrl = nullptr;
    int begun = 0;
};

TEST_F(FaultTest, ASilentDvrIsTakenDownAtItsTimeOutInEverySessionLiveAndRemote)
{
    using namespace std::chrono_literals;
    const std::chrono::milliseconds timeout(Timeouts().dataMs);
    // The receive thread decides the end at the time-out, and a remote
    // session's end is carried out on the window's thread: a loaded machine
    // makes it late by as long as it holds those threads from running, for
    // which the window's longest gap stands. A time-out missed by rounding
    // makes it a whole time-out late, past this bound while the machine
    // holds the window for less than two seconds.
    const auto margin = 1000ms;
    testsupport::LoopGaps gaps;
    constexpr int kSessions = 8;
    // Three live and three remote controls side by side, each on its own
    // DVR, which sends one packet once the control's first is in.
    std::vector<std::unique_ptr<WatchedControl>> controls;
    for (int k = 0; k < 6; ++k) {
        controls.push_back(std::make_unique<WatchedControl>(k % 2 == 1, 0));
        controls.back()->Begin();
    }
    ASSERT_TRUE(PumpUntil(
        [&] {
            bool all = true;
            for (auto& c : controls) {
                // The next play-back once the last one has ended.
                if (c->remote && c->Ended() == c->begun && c->begun < kSessions)
                    c->Begin();
                all = all && c->Ended() >= kSessions && c->EndedAtTheDvr() >= kSessions;
            }
            return all;
        },
        300000));

    std::vector<double> silences;
    for (auto& c : controls) {
        SCOPED_TRACE(c->remote ? "remote" : "live");
        const auto sessions = c->dvr.Sessions();
        ASSERT_GE(sessions.size(), static_cast<std::size_t>(kSessions));
        for (int k = 0; k < kSessions; ++k) {
            SCOPED_TRACE(k);
            const FakeDvr::Session& s = sessions[k];
            ASSERT_TRUE(s.ended);
            EXPECT_EQ(s.sent, 1);
            // Live view logs out; a remote session's socket is shut.
            EXPECT_EQ(s.byLogout, !c->remote);
            // Silent for the time-out from the DVR's last word, and taken down
            // within the bound of the last word either side said (the
            // control's own packets count as its activity).
            const double silence = Ms(s.Silence());
            EXPECT_GE(silence, Ms(timeout)) << "taken down before the DVR was silent for the time-out";
            EXPECT_LT(Ms(s.QuietBeforeTheEnd()), Ms(timeout + margin) + gaps.Longest())
                << "taken down a time-out late; the window's longest gap " << gaps.Longest() << " ms";
            silences.push_back(silence);
        }
        if (c->remote) {
            // Each end was told to the host once, as a session that could
            // not connect.
            EXPECT_EQ(c->host.Count(WM_VIDEO_PROGRESS, 0), kSessions);
        }
    }
    {
        std::lock_guard<std::mutex> lock(boxesLock);
        EXPECT_EQ(boxes, std::vector<std::string>(3 * kSessions, text::kDvrLost));
    }
    std::sort(silences.begin(), silences.end());
    std::printf("silences of %zu sessions, time-out %lld ms: %.1f .. %.1f ms, median %.1f ms; the window's longest "
                "gap %lld ms\n",
                silences.size(), static_cast<long long>(timeout.count()), silences.front(), silences.back(),
                silences[silences.size() / 2], static_cast<long long>(gaps.Longest()));
    controls.clear();
}

TEST_F(FaultTest, ADvrThatSpeaksJustBeforeEachTimeOutIsNeverTakenDown)
{
    using namespace std::chrono_literals;
    const std::chrono::milliseconds timeout(Timeouts().dataMs);
    const auto period = timeout - 500ms;
    std::vector<std::unique_ptr<WatchedControl>> controls;
    for (const bool remote : {false, true}) {
        controls.push_back(std::make_unique<WatchedControl>(remote, static_cast<int>(period.count())));
        controls.back()->Begin();
    }
    ASSERT_TRUE(PumpUntil(
        [&] {
            for (auto& c : controls)
                if (c->dvr.Sessions().empty() || c->dvr.Sessions()[0].sent < 1)
                    return false;
            return true;
        },
        10000));
    // Five time-outs of a DVR that says one thing a little before each.
    PumpFor(static_cast<int>(5 * timeout.count()));
    for (auto& c : controls) {
        SCOPED_TRACE(c->remote ? "remote" : "live");
        const auto sessions = c->dvr.Sessions();
        ASSERT_EQ(sessions.size(), 1u) << "logged in again";
        ASSERT_LT(Ms(sessions[0].longestGap), Ms(timeout)) << "the DVR itself was late";
        EXPECT_GE(sessions[0].sent, 6);
        EXPECT_FALSE(sessions[0].ended);
        EXPECT_TRUE(c->ctrl->LoggedIn());
        EXPECT_TRUE(c->ctrl->isConnect(0));
        EXPECT_EQ(c->host.Count(WM_VIDEO_PROGRESS), 0);
    }
    std::lock_guard<std::mutex> lock(boxesLock);
    EXPECT_TRUE(boxes.empty());
}

// ---- the product's own time-outs -------------------------------------------------
// These run in a ctest entry of their own without the time divisor, which
// would also shorten the waits they look for; under it they skip.

bool RealTimeouts()
{
    return vyrdax::Timeouts().dataMs == 60000;
}

class LostLinkTest : public LinkTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(LostLinkTest, RealTimeoutsTheEndIsSeenAtOnceAndTheLinkComesBackWithItsTitles)
{
    if (!RealTimeouts())
        GTEST_SKIP() << "runs with the product's time-outs only";
    using namespace std::chrono_literals;
    const std::string kind = GetParam();
    SimDvr sim;
    // 30 frames a second in all: a fault comes some 5 s into the session.
    std::vector<std::string> args = {"--channels", "2", "--fps", "15", "--gop", "5"};
    if (kind != "kill")
        args.insert(args.end(), {"--fault", kind, "--fault-after", "150"});
    ASSERT_TRUE(sim.Start(args));
    const int port = sim.Port();
    Bind(0, "Front", 0, port);
    Bind(1, "Back", 1, port);
    testsupport::LoopGaps gaps;
    testsupport::NetworkWaits waits;
    ASSERT_TRUE(ctrl->Connect(0));
    ASSERT_TRUE(ctrl->Connect(1));
    ASSERT_TRUE(WaitMessage(WM_VIDEO_STARTED, 0, 2, 8000));

    // Channel 0 records by hand into movie files.
    QTemporaryDir recordings;
    ASSERT_TRUE(recordings.isValid());
    ctrl->SetRecType(0);
    ASSERT_EQ(ctrl->StartRecord(recordings.path().toStdString(), "F.Front.20260101.000000.00.mp4", "F.Front", 0, 0),
              0);
    ctrl->SetStatus(0, STATUS_RECORD_MANUAL);
    std::string movie;
    ASSERT_TRUE(PumpUntil(
        [&] {
            movie = ctrl->Recorder().MoviePath(0);
            return !movie.empty() && QFileInfo(QString::fromStdString(movie)).size() > 32;
        },
        5000));

    std::set<QString> titles;
    WatchTitles(0, &titles);
    // Channel 0's title as its start is told: the receive thread sets it and
    // waits for the host before the frame reaches the display, which titles
    // it with the frame's time soon after.
    QString titleAtStart;
    host.onMessage = [&](const HostWindow::Entry& e) {
        if (e.message == WM_VIDEO_STARTED && e.lParam == 0)
            titleAtStart = Title(0);
    };
    auto endedAt = std::chrono::steady_clock::now();
    if (kind == "kill") {
        sim.Kill();
        gaps.Resume(); // the test's own wait for the simulator's end
        endedAt = std::chrono::steady_clock::now();
    } else {
        ASSERT_TRUE(PumpUntil([&] { return sim.Count("FAULT") > 0; }, 10000));
        endedAt = std::chrono::steady_clock::now();
    }
    // Commands of the window meanwhile come back at once, whatever state the
    // link is in when they are made.
    std::chrono::milliseconds slowestCommand{0};
    ASSERT_TRUE(PumpUntil(
        [&] {
            slowestCommand = std::max(slowestCommand, Took([&] { ctrl->CmdToDVR(7, 0, 0); }));
            return !ctrl->LoggedIn();
        },
        3000))
        << "the end of the connection was not noticed";
    const auto noticed = std::chrono::steady_clock::now() - endedAt;
    EXPECT_LT(noticed, 2s);
    EXPECT_FALSE(ctrl->isConnect(0));
    EXPECT_LT(slowestCommand, 1s);

    // The recording stays armed through the reconnect: what the DVR sends
    // once it is back goes on into the recording.
    EXPECT_TRUE(ctrl->IsRecording(0));
    EXPECT_NE(ctrl->GetStatus(0) & STATUS_RECORD_MANUAL, 0);
    EXPECT_TRUE(host.LParams(WM_VIDEO_RECORD_STOPPED).empty());
    const auto recordedBytes = [&] {
        const std::string now = ctrl->Recorder().MoviePath(0);
        return now == movie ? QFileInfo(QString::fromStdString(movie)).size() : std::numeric_limits<qint64>::max();
    };
    const qint64 atTheDrop = recordedBytes();

    // The reconnect tick sets the link up again, with its titles.
    if (kind == "kill") {
        const qint64 before = gaps.LongestAsleep();
        ASSERT_TRUE(sim.Start({"--channels", "2", "--fps", "15", "--gop", "5"}, port));
        EXPECT_LT(before, 1000);
        gaps.Resume();
    }
    ASSERT_TRUE(PumpUntil([&] { return host.Count(WM_VIDEO_STARTED) >= 4; }, 25000));
    EXPECT_TRUE(titles.count(text::kRequestDisconnect)) << "the lost link is shown";
    EXPECT_TRUE(titles.count(text::kTryingConnect));
    EXPECT_EQ(titleAtStart.toStdString(), text::kConnectCompleted) << "as the channel started again";
    EXPECT_TRUE(PumpUntil([&] { return recordedBytes() > atTheDrop; }, 10000)) << "nothing recorded after the reconnect";
    ctrl->StopRecord(0);
    EXPECT_FALSE(ctrl->IsRecording(0));
    EXPECT_GT(QFileInfo(QString::fromStdString(vyrmovie::IndexPathFor(movie))).size(), 0);
    // The window answered throughout: nothing on its thread waited for the
    // DVR, on its socket or on a thread that did.
    EXPECT_EQ(waits.Count(), 0) << "the longest " << waits.LongestMs() << " ms";
    EXPECT_LT(gaps.LongestAsleep(), 1000) << "the longest gap " << gaps.Longest() << " ms";
    EXPECT_LT(DestroyControl(), kCloseBound);
}

INSTANTIATE_TEST_SUITE_P(Ends, LostLinkTest, ::testing::Values("close", "reset", "kill"));

// Accepts connections and closes each at once, noting when it came.
class ClosingListener {
public:
    ClosingListener()
    {
        fd_ = ListenOnLoopback(8, &port_);
        thread_ = std::thread([this] {
            while (!stop_) {
                pollfd p{fd_, POLLIN, 0};
                if (poll(&p, 1, 20) <= 0)
                    continue;
                const int client = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
                if (client < 0)
                    continue;
                const auto at = std::chrono::steady_clock::now();
                close(client);
                std::lock_guard<std::mutex> lock(lock_);
                accepted_.push_back(at);
            }
        });
    }
    ~ClosingListener()
    {
        stop_ = true;
        thread_.join();
        if (fd_ >= 0)
            close(fd_);
    }
    int Port() const { return port_; }
    std::vector<std::chrono::steady_clock::time_point> Accepted() const
    {
        std::lock_guard<std::mutex> lock(lock_);
        return accepted_;
    }

private:
    int fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    mutable std::mutex lock_;
    std::vector<std::chrono::steady_clock::time_point> accepted_;
    std::thread thread_;
};

// Every time-out of the link at once, each on a peer that makes the
// control wait it out: a DVR silent after its login (live and remote), a
// connect nobody answers, a login nobody answers and a lookup service
// that hangs up. Each ends at its time, never before it and not a second
// after it.
void EachWaitOfTheLinkEndsAtItsTime()
{
    using Clock = std::chrono::steady_clock;
    using namespace std::chrono_literals;
    const LinkTimeouts& timeouts = Timeouts();
    const auto ms = [](int value) { return std::chrono::milliseconds(value); };
    const auto margin = 1000ms;

    std::vector<std::unique_ptr<WatchedControl>> silent;
    for (const bool remote : {false, true}) {
        silent.push_back(std::make_unique<WatchedControl>(remote, 0));
        silent.back()->Begin();
    }

    BlackholePort blackhole;
    ASSERT_TRUE(blackhole.Ready()) << "this kernel answers connects to a full accept queue";
    HostWindow connectHost;
    std::unique_ptr<CVyrdaxCtrl> connecting(new CVyrdaxCtrl(&connectHost));
    connecting->setDispChannel(16);
    connecting->SetConnectInfo("Front", "Guest", "", "", "127.0.0.1", static_cast<int16_t>(blackhole.Port()), 0, 1,
                               0, 0);
    const Clock::time_point connectBegun = Clock::now();
    ASSERT_TRUE(connecting->Connect(0));

    FakeDvr mute(FakeDvr::Mode::NoReply);
    HostWindow loginHost;
    std::unique_ptr<CVyrdaxCtrl> loggingIn(new CVyrdaxCtrl(&loginHost));
    loggingIn->setDispChannel(16);
    loggingIn->SetBackupMode(3);
    loggingIn->SetEventInfo("DVR", "Guest", "", "127.0.0.1", static_cast<int16_t>(mute.Port()), 2, 0, 0);
    const Clock::time_point loginBegun = Clock::now();
    ASSERT_TRUE(loggingIn->Connect(0));

    ClosingListener lookupService;
    ASSERT_GT(lookupService.Port(), 0);
    platform::RegistryWriteString(kControlRegistryKey, "LookupHost", "127.0.0.1");
    platform::RegistryWriteInt(kControlRegistryKey, "LookupPort", lookupService.Port());
    HostWindow lookupHost;
    std::unique_ptr<CVyrdaxCtrl> lookingUp(new CVyrdaxCtrl(&lookupHost));
    lookingUp->setDispChannel(16);
    lookingUp->SetConnectInfo("Front", "DVR7", "pw", "", "", 9201, 0, 1, 0, 0);
    ASSERT_TRUE(lookingUp->UsesLookup());
    const Clock::time_point lookupBegun = Clock::now();
    ASSERT_TRUE(lookingUp->Connect(0));

    std::optional<Clock::time_point> connectTimedOut, loginSeen;
    ASSERT_TRUE(PumpUntil(
        [&] {
            if (!connectTimedOut && connecting->Pane(0)->LeftTitle()->Title() == text::kConnectionTimeout)
                connectTimedOut = Clock::now();
            if (!loginSeen && mute.Logins() >= 1)
                loginSeen = Clock::now();
            for (auto& c : silent)
                if (c->Ended() < 1 || c->EndedAtTheDvr() < 1)
                    return false;
            return connectTimedOut && loginHost.Count(WM_VIDEO_PROGRESS, 3) >= 1 &&
                   lookupService.Accepted().size() >= 2;
        },
        5 * 60000));

    for (auto& c : silent) {
        SCOPED_TRACE(c->remote ? "remote" : "live");
        const FakeDvr::Session s = c->dvr.Sessions().front();
        EXPECT_GE(Ms(s.Silence()), timeouts.dataMs);
        EXPECT_LT(Ms(s.Silence()), Ms(ms(timeouts.dataMs) + margin));
    }
    // Seen by the window's title, which the test reads between events.
    EXPECT_GE(Ms(*connectTimedOut - connectBegun), timeouts.connectMs);
    EXPECT_LT(Ms(*connectTimedOut - connectBegun), Ms(ms(timeouts.connectMs) + margin));
    const Clock::time_point loginTimedOut = loginHost.Of(WM_VIDEO_PROGRESS, 3).front().at;
    EXPECT_GE(Ms(loginTimedOut - loginBegun), timeouts.loginReplyMs);
    EXPECT_LT(Ms(loginTimedOut - *loginSeen), Ms(ms(timeouts.loginReplyMs) + margin));
    const auto lookups = lookupService.Accepted();
    EXPECT_GE(Ms(lookups[1] - lookupBegun), timeouts.lookupRetryMs);
    EXPECT_LT(Ms(lookups[1] - lookups[0]), Ms(ms(timeouts.lookupRetryMs) + margin));
    PumpFor(300);
    EXPECT_EQ(loginHost.Count(WM_VIDEO_PROGRESS), 1) << "the unanswered login was ended more than once";
    std::printf("silences %.1f / %.1f ms, connect %.1f ms, login reply %.1f ms, lookup retry %.1f ms\n",
                Ms(silent[0]->dvr.Sessions().front().Silence()), Ms(silent[1]->dvr.Sessions().front().Silence()),
                Ms(*connectTimedOut - connectBegun), Ms(loginTimedOut - *loginSeen), Ms(lookups[1] - lookups[0]));
}

TEST_F(FaultTest, EachWaitOfTheLinkEndsAtItsTimeNotBeforeItNorASecondAfter)
{
    if (RealTimeouts())
        GTEST_SKIP() << "the entry of the product's time-outs runs its own copy";
    EachWaitOfTheLinkEndsAtItsTime();
}

TEST_F(FaultTest, RealTimeoutsEachWaitOfTheLinkEndsAtItsTimeNotBeforeItNorASecondAfter)
{
    if (!RealTimeouts())
        GTEST_SKIP() << "runs with the product's time-outs only";
    EachWaitOfTheLinkEndsAtItsTime();
}

TEST_F(FaultTest, RealTimeoutsSilentDvrEndsAfterTheDataTimeOutAsBefore)
{
    if (!RealTimeouts())
        GTEST_SKIP() << "runs with the product's time-outs only";
    using namespace std::chrono_literals;
    SimDvr sim;
    ASSERT_TRUE(sim.Start({"--channels", "1", "--fault", "silence"}));
    Bind(0, "Front", 0, sim.Port());
    testsupport::LoopGaps gaps;
    testsupport::NetworkWaits waits;
    ASSERT_TRUE(ctrl->Connect(0));
    ASSERT_TRUE(PumpUntil([&] { return ctrl->LoggedIn(); }, 8000));
    const auto loggedInAt = std::chrono::steady_clock::now();
    std::set<QString> titles;
    // Open and quiet is not an end: the session stays until its minute is up.
    PumpUntil([&] { return !ctrl->LoggedIn(); }, 55000);
    EXPECT_TRUE(ctrl->LoggedIn()) << "a silent DVR was dropped before the data time-out";
    ASSERT_TRUE(PumpUntil(
        [&] {
            titles.insert(Title(0));
            return !ctrl->LoggedIn();
        },
        10000));
    EXPECT_GE(std::chrono::steady_clock::now() - loggedInAt, 59s);
    EXPECT_TRUE(titles.count(text::kRequestDisconnect));
    // The window answered all the minute: nothing on its thread waited for
    // the silent DVR, on its socket or on a thread that did.
    EXPECT_EQ(waits.Count(), 0) << "the longest " << waits.LongestMs() << " ms";
    EXPECT_LT(gaps.LongestAsleep(), 1000) << "the longest gap " << gaps.Longest() << " ms";
    EXPECT_LT(DestroyControl(), kCloseBound);
}

} // namespace
