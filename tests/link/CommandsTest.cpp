// Commands on the wire as the simulator logs them, and the one-shot
// sessions: event log, remote search, remote play-back, setup record.
#include "LinkHarness.h"

#include <QElapsedTimer>

#include <cstdio>
#include <ctime>

namespace {

using namespace linktest;
using namespace vyrdax;

using CommandsTest = LinkTest;

std::string Hex(const std::vector<uint8_t>& bytes)
{
    std::string s;
    char two[3];
    for (uint8_t b : bytes) {
        std::snprintf(two, sizeof two, "%02X", b);
        s += two;
    }
    return s;
}

std::vector<uint8_t> LE32(uint32_t v)
{
    return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
            static_cast<uint8_t>(v >> 24)};
}

// The DVR's packed local time, computed here independently of the control.
uint32_t Packed(std::time_t t)
{
    std::tm tm{};
    localtime_r(&t, &tm);
    return static_cast<uint32_t>((tm.tm_year + 1900 - 2000) & 63) | static_cast<uint32_t>(tm.tm_mon + 1) << 6 |
           static_cast<uint32_t>(tm.tm_mday) << 10 | static_cast<uint32_t>(tm.tm_hour) << 15 |
           static_cast<uint32_t>(tm.tm_min) << 20 | static_cast<uint32_t>(tm.tm_sec) << 26;
}

uint32_t Crc32(const uint8_t* p, std::size_t n)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t k = 0; k < n; ++k) {
        crc ^= p[k];
        for (int b = 0; b < 8; ++b)
            crc = crc & 1 ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
    return ~crc;
}

uint32_t Word(const uint8_t* p)
{
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}

TEST_F(CommandsTest, CommandsAndPtzGoOutAsTheirWireFields)
{
    SimDvr sim;
    ASSERT_TRUE(sim.Start({"--channels", "1"}));
    Bind(0, "Front", 0, sim.Port());

    // Not logged in: nothing is sent and PTZ still reports success.
    ctrl->CmdToDVR(13, 0x00050003, 0);
    EXPECT_TRUE(ctrl->PTZRControl("PS07", 0));
    PumpFor(200);
    EXPECT_EQ(sim.Count("CONNECT"), 0);

    ASSERT_TRUE(ctrl->Connect(0));
    ASSERT_TRUE(WaitMessage(WM_VIDEO_STARTED));
    ctrl->CmdToDVR(13, 0x00050003, 7);
    ctrl->CmdToDVR(7, 42, 3);
    ctrl->CmdToDVR(16, 0, -1);
    ctrl->CmdToDVR(32, 99, 5); // no stored time: all zero
    ASSERT_TRUE(sim.WaitLog("CMD 32"));
    EXPECT_EQ(Bare(sim.LogLines("CMD ")),
              (std::vector<std::string>{"CMD 13 5 3 0000000000000000", "CMD 7 42 3 0000000000000000",
                                        "CMD 16 0 -1 0000000000000000", "CMD 32 0 0 0000000000000000"}));
    // The event list nobody asked for is read past; the link carries on.
    EXPECT_TRUE(sim.WaitLog("REPLY EVENTS 100"));

    EXPECT_TRUE(ctrl->PTZRControl("PS07", 2));
    EXPECT_TRUE(ctrl->PTZRControl("PSx7", 5)); // not a preset: nothing goes out
    EXPECT_TRUE(ctrl->PTZRControl("PC12", 1));
    EXPECT_TRUE(ctrl->PTZRControl("ZZ", 1));
    EXPECT_TRUE(ctrl->PTZRControl("LU", 0));
    EXPECT_TRUE(ctrl->PTZRControl("BP", 0));
    ASSERT_TRUE(ctrl->SetPTSpeed(40));
    QElapsedTimer clock;
    clock.start();
    EXPECT_TRUE(ctrl->PTZRControl("MS", 4));
    EXPECT_GE(clock.elapsed(), 200); // speed x 5 ms before a stop
    ASSERT_TRUE(sim.WaitLog("PTZ 15"));
    EXPECT_EQ(Bare(sim.LogLines("PTZ ")), (std::vector<std::string>{"PTZ 48 7 2", "PTZ 49 12 1", "PTZ 0 0 1",
                                                                     "PTZ 1 0 0", "PTZ 20 0 0", "PTZ 15 0 4"}));
    // The wait is bounded whatever the host asks for.
    ctrl->SetPTSpeed(-5);
    EXPECT_EQ(ctrl->PtzSpeed(), 0);
    clock.restart();
    EXPECT_TRUE(ctrl->PTZRControl("FS", 0));
    EXPECT_LT(clock.elapsed(), 150);
    ctrl->SetPTSpeed(30000);
    EXPECT_EQ(ctrl->PtzSpeed(), 100);

    // Logged out on a socket still open: silent again.
    ctrl->DisConnectSvr(0);
    ASSERT_TRUE(sim.WaitLog("LOGOUT"));
    const int commands = sim.Count("CMD "), ptz = sim.Count("PTZ ");
    ctrl->CmdToDVR(13, 1, 0);
    EXPECT_TRUE(ctrl->PTZRControl("PS07", 0));
    PumpFor(300);
    EXPECT_EQ(sim.Count("CMD "), commands);
    EXPECT_EQ(sim.Count("PTZ "), ptz);
}

TEST_F(CommandsTest, EventLogSessionFetchesTheLogAndEnds)
{
    SimDvr sim;
    ASSERT_TRUE(sim.Start({"--channels", "4", "--events", "37"}));
    ctrl->SetBackupMode(3);
    ctrl->SetEventInfo("DVR 1", "Guest", "", "127.0.0.1", static_cast<int16_t>(sim.Port()), 6, 3, 0);
    EXPECT_FALSE(ctrl->isConnect(0));
    ASSERT_TRUE(ctrl->Connect(0));
    EXPECT_TRUE(ctrl->isConnect(0)); // connecting counts
    ASSERT_TRUE(WaitMessage(WM_VIDEO_PROGRESS, 0));
    EXPECT_EQ(host.Of(WM_VIDEO_PROGRESS, 0)[0].lParam, 6);
    EXPECT_TRUE(ctrl->isConnect(0));
    ctrl->CmdToDVR(32, 0, 0);
    ASSERT_TRUE(WaitMessage(WM_VIDEO_PROGRESS, 1));
    EXPECT_EQ(host.Of(WM_VIDEO_PROGRESS, 1)[0].lParam, 6);
    EXPECT_EQ(Bare(sim.LogLines("LOGIN ")), std::vector<std::string>{"LOGIN Guest \"\" 323 0 ACCEPT"});
    EXPECT_EQ(Bare(sim.LogLines("CMD ")), std::vector<std::string>{"CMD 32 0 0 0000000000000000"});
    // No channel is asked for in an event-log session.
    for (const auto& mask : Bare(sim.LogLines("MASK")))
        EXPECT_EQ(mask, "MASK 00000000");

    platform::Variant events = ctrl->GetEventData();
    ASSERT_EQ(events.vt, platform::VT_PTR);
    const auto* table = static_cast<const uint8_t*>(events.ptr);
    ASSERT_NE(table, nullptr);
    ASSERT_EQ(Word(table), 37u);
    EXPECT_EQ(events.ptrSize, 4u + 37 * 24);
    for (uint32_t k = 0; k < 37; ++k) {
        const uint8_t* r = table + 4 + k * 24;
        EXPECT_EQ(Word(r), k + 1) << k;            // the key
        EXPECT_EQ(r[8] | r[9] << 8, 31 + k % 6) << k; // the event class
    }
    EXPECT_TRUE(sim.WaitLog("LOGOUT"));
    EXPECT_TRUE(PumpUntil([&] { return !ctrl->isConnect(0); }, 3000));
    EXPECT_FALSE(ctrl->isReady(0));
    EXPECT_EQ(ctrl->GetSvrChannel(), 3);

    // The next poll asks from a time: only the newer records come.
    const std::time_t since = std::time(nullptr) - 20 * 60 - 30;
    ctrl->SetEventInfo("DVR 1", "Guest", "", "127.0.0.1", static_cast<int16_t>(sim.Port()), 6, 3,
                       static_cast<int32_t>(since));
    ASSERT_TRUE(ctrl->Connect(0));
    ASSERT_TRUE(WaitMessage(WM_VIDEO_PROGRESS, 0, 2));
    ctrl->CmdToDVR(32, 0, 0);
    ASSERT_TRUE(WaitMessage(WM_VIDEO_PROGRESS, 1, 2));
    EXPECT_EQ(Bare(sim.LogLines("CMD ")).back(), "CMD 32 0 0 " + Hex(LE32(Packed(since))) + "00000000");
    events = ctrl->GetEventData();
    table = static_cast<const uint8_t*>(events.ptr);
    ASSERT_EQ(Word(table), 20u);
    EXPECT_EQ(Word(table + 4), 18u);
}

TEST_F(CommandsTest, DisconnectEndsAnEventLogSessionThatIsStillConnecting)
{
    BlackholePort blackhole;
    if (!blackhole.Ready())
        GTEST_SKIP() << "this kernel answers connects to a full accept queue";
    ctrl->SetBackupMode(3);
    ctrl->SetEventInfo("DVR 1", "Guest", "", "127.0.0.1", static_cast<int16_t>(blackhole.Port()), 1, 0, 0);
    ASSERT_TRUE(ctrl->Connect(0));
    EXPECT_TRUE(ctrl->isConnect(0));
    ctrl->DisConnectSvr(0);
    EXPECT_FALSE(ctrl->isConnect(0));
    PumpFor(1500); // past the connect time-out: nothing more happens
    EXPECT_EQ(host.Count(WM_VIDEO_PROGRESS), 0);
}

TEST_F(CommandsTest, RemoteSearchAsksForTheMonthThenTheDayAndDropsTheLink)
{
    SimDvr sim;
    ASSERT_TRUE(sim.Start({"--channels", "4", "--recordings", "3"}));
    ctrl->SetBackupMode(1);
    Bind(0, "Front", 0, sim.Port());
    Bind(1, "Back", 1, sim.Port());
    const std::time_t now = std::time(nullptr);
    ctrl->GetBackupInfo(static_cast<int32_t>(now), 0);
    ASSERT_TRUE(WaitMessage(WM_VIDEO_MONTH_DATA));
    EXPECT_EQ(host.Of(WM_VIDEO_MONTH_DATA)[0].wParam, 5); // the DVR type
    const std::string packed = Hex(LE32(Packed(now)));
    EXPECT_EQ(Bare(sim.LogLines("LOGIN ")), std::vector<std::string>{"LOGIN Guest \"\" 323 0 ACCEPT"});
    std::vector<std::string> order;
    for (const auto& l : sim.Log())
        if (l.rfind("MASK", 0) == 0 || l.rfind("CMD", 0) == 0)
            order.push_back(Bare(l));
    EXPECT_EQ(order, (std::vector<std::string>{"MASK 00000003", "CMD 33 0 0 " + packed + "00000000"}));
    platform::Variant month = ctrl->GetMonthData();
    ASSERT_EQ(month.ptrSize, 128u);
    const auto* m = static_cast<const uint8_t*>(month.ptr);
    EXPECT_NE(std::count(m, m + 128, 0), 128) << "the month with recordings is marked";
    EXPECT_TRUE(sim.WaitLog("LOGOUT"));
    EXPECT_FALSE(ctrl->LoggedIn());

    ctrl->GetBackupInfo(static_cast<int32_t>(now), 1);
    ASSERT_TRUE(WaitMessage(WM_VIDEO_TIME_DATA));
    EXPECT_EQ(Bare(sim.LogLines("CMD ")).back(), "CMD 33 0 0 " + packed + "01000000");
    platform::Variant day = ctrl->GetTimeData();
    ASSERT_EQ(day.ptrSize, 3076u);
    const auto* d = static_cast<const uint8_t*>(day.ptr);
    EXPECT_NE(std::count(d, d + 3076, 0), 3076) << "today has recordings";
    EXPECT_TRUE(sim.WaitLog("LOGOUT", 2));
    EXPECT_EQ(sim.Count("LOGIN "), 2);
    EXPECT_EQ(host.Count(WM_VIDEO_MONTH_DATA), 1);
}

TEST_F(CommandsTest, RemotePlaybackRequestedBeforeLoginGoesOutAfterTheFirstMask)
{
    SimDvr sim;
    ASSERT_TRUE(sim.Start({"--channels", "2"}));
    ctrl->SetBackupMode(1);
    Bind(0, "Front", 0, sim.Port());
    const std::time_t from = std::time(nullptr) - 3600;
    ctrl->StartDVRPlaybackTime(static_cast<int32_t>(from), 0, 0);
    ASSERT_TRUE(sim.WaitLog("PLAYBACK"));
    std::tm tm{};
    localtime_r(&from, &tm);
    const std::vector<uint8_t> local{static_cast<uint8_t>(tm.tm_year + 1900 - 2000),
                                     static_cast<uint8_t>(tm.tm_mon + 1),
                                     static_cast<uint8_t>(tm.tm_mday),
                                     static_cast<uint8_t>(tm.tm_hour),
                                     static_cast<uint8_t>(tm.tm_min),
                                     static_cast<uint8_t>(tm.tm_sec),
                                     0,
                                     0};
    std::vector<std::string> order;
    for (const auto& l : sim.Log())
        if (l.rfind("LOGIN", 0) == 0 || l.rfind("MASK", 0) == 0 || l.rfind("CMD", 0) == 0)
            order.push_back(Bare(l));
    EXPECT_EQ(order, (std::vector<std::string>{"LOGIN Guest \"\" 0 0 ACCEPT", "MASK 00000001",
                                               "CMD 14 " + std::to_string(from) + " 0 " + Hex(local)}));
    // Play-back frames arrive (status byte 0xFF) and fill the queue.
    EXPECT_TRUE(PumpUntil([&] { return ctrl->Channel(0).queue.Backlog() >= 0; }, 3000));
    ctrl->DisconnectBackup();
    EXPECT_TRUE(sim.WaitLog("LOGOUT"));
    EXPECT_FALSE(ctrl->LoggedIn());
}

TEST_F(CommandsTest, SetupRecordComesInTheDvrTypesLayoutAndGoesBack)
{
    for (int type : {7, 16}) {
        SCOPED_TRACE(type);
        SimDvr sim;
        ASSERT_TRUE(sim.Start({"--channels", "4", "--dvr-type", std::to_string(type)}));
        if (!ctrl) {
            ctrl = new CVyrdaxCtrl(&host);
            ctrl->setDispChannel(16);
        }
        host.messages.clear();
        Bind(0, "Front", 1, sim.Port());
        Bind(2, "Side", 9, sim.Port());
        ASSERT_TRUE(ctrl->Connect(0));
        ASSERT_TRUE(WaitMessage(WM_VIDEO_STARTED));
        ctrl->CmdToDVR(18, 0, 2);
        ASSERT_TRUE(WaitMessage(WM_VIDEO_DVR_DATA));
        const auto notice = host.Of(WM_VIDEO_DVR_DATA)[0];
        EXPECT_EQ(notice.wParam, type);
        EXPECT_EQ(notice.lParam, 9); // the display index of the channel named in the reply
        platform::Variant record = ctrl->GetDVRData();
        const std::size_t size = type < 16 ? 12044 : 23736;
        ASSERT_EQ(record.ptrSize, size);
        auto* bytes = static_cast<uint8_t*>(const_cast<void*>(record.ptr));
        bool asServed = true;
        for (std::size_t k = 0; k < size; ++k)
            asServed = asServed && bytes[k] == k % 251;
        EXPECT_TRUE(asServed);
        // The configuration dialog edits in place, then uploads.
        bytes[0] = 0xAB;
        bytes[size - 1] = 0xCD;
        const uint32_t crc = Crc32(bytes, size);
        ctrl->CmdToDVR(19, 0, 0);
        ASSERT_TRUE(sim.WaitLog("SETUP-UPLOAD"));
        char expected[64];
        std::snprintf(expected, sizeof expected, "SETUP-UPLOAD %zu %08X", size, crc);
        EXPECT_EQ(Bare(sim.LogLines("SETUP-UPLOAD")[0]), expected);
        // The link is still in step: the next request is answered with it.
        ctrl->CmdToDVR(18, 0, 0);
        ASSERT_TRUE(WaitMessage(WM_VIDEO_DVR_DATA, -1, 2));
        EXPECT_EQ(static_cast<const uint8_t*>(ctrl->GetDVRData().ptr)[0], 0xAB);
        DestroyControl();
    }
}

} // namespace
