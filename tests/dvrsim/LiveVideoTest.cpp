// Login and live video of the real dvrsim program, seen through a raw client.
#include "RawDvrClient.h"
#include "SimProcess.h"
#include "TestPicture.h"

#include <gtest/gtest.h>
#include <xvid.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

std::uint32_t bit(int channel)
{
    return 1u << channel;
}

TEST(DvrSimLogin, AcceptsConfiguredUserAndReportsTheDvr)
{
    SimProcess sim;
    ASSERT_TRUE(sim.start({"--user", "admin", "--password", "1234", "--dvr-type", "9", "--right", "3",
                           "--signal-type", "1", "--channels", "8"}));
    RawDvrClient client;
    ASSERT_TRUE(client.connectTo(sim.port()));
    RawHeader reply;
    ASSERT_TRUE(client.login("admin", "1234", 0, reply));
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(reply.bytes[i], i + 1) << "magic byte " << i;
    EXPECT_EQ(reply.type(), 1u);
    EXPECT_EQ(reply.code(), 0x1001u);
    EXPECT_EQ(reply.word(32), 3u | 1u << 16);
    EXPECT_EQ(reply.word(40), 9u);
    EXPECT_NE(sim.waitForLog("LOGIN admin 1234 0 0 ACCEPT #1"), "");
    EXPECT_TRUE(sim.stop());
}

TEST(DvrSimLogin, RefusesOtherLoginsAndCutsLongTextsToEightBytes)
{
    SimProcess sim;
    ASSERT_TRUE(sim.start({"--user", "LongUserName", "--password", "secret-password"}));
    {
        RawDvrClient client;
        ASSERT_TRUE(client.connectTo(sim.port()));
        RawHeader reply;
        ASSERT_TRUE(client.login("LongUser", "wrong", 0, reply));
        EXPECT_EQ(reply.code(), 0x1002u);
        EXPECT_TRUE(client.waitClosed(3000, 0)) << "a refused client is let go";
        EXPECT_NE(sim.waitForLog("LOGIN LongUser wrong 0 0 REFUSE"), "");
    }
    {
        RawDvrClient client;
        ASSERT_TRUE(client.connectTo(sim.port()));
        RawHeader reply;
        ASSERT_TRUE(client.login("LongUserName", "secret-password", 0, reply));  // cut to 8 on the wire
        EXPECT_EQ(reply.code(), 0x1001u);
        EXPECT_NE(sim.waitForLog("LOGIN LongUser secret-p 0 0 ACCEPT"), "");
    }
    {
        SimProcess guestSim;  // default: Guest with an empty password
        ASSERT_TRUE(guestSim.start({}));
        RawDvrClient client;
        ASSERT_TRUE(client.connectTo(guestSim.port()));
        RawHeader reply;
        ASSERT_TRUE(client.login("Guest", "", 0, reply));
        EXPECT_EQ(reply.code(), 0x1001u);
        EXPECT_EQ(reply.word(40), 5u) << "a 4-channel DVR reports type 5";
        EXPECT_NE(guestSim.waitForLog("LOGIN Guest \"\" 0 0 ACCEPT"), "");
    }
    EXPECT_TRUE(sim.stop());
}

TEST(DvrSimVideo, RequestedChannelsStartWithKeyFramesAndCountTheirGroups)
{
    SimProcess sim;
    ASSERT_TRUE(sim.start({"--channels", "4", "--size", "352x240", "--fps", "30", "--gop", "10",
                           "--status-kind", "2"}));
    RawDvrClient client;
    ASSERT_TRUE(client.connectTo(sim.port()));
    RawHeader reply;
    ASSERT_TRUE(client.login("Guest", "", 0, reply));
    ASSERT_TRUE(client.setMask(bit(1) | bit(3)));

    const long now = static_cast<long>(std::time(nullptr));
    std::tm local{};
    const std::time_t t = now;
    localtime_r(&t, &local);
    std::map<std::uint32_t, std::uint32_t> nextWord;
    for (int i = 0; i < 40; ++i) {
        RawHeader h;
        std::vector<std::uint8_t> payload;
        ASSERT_TRUE(client.readVideo(h, payload, 3000)) << "frame " << i;
        const std::uint32_t channel = h.word(32);
        ASSERT_TRUE(channel == 1 || channel == 3) << channel;
        const bool first = !nextWord.count(channel);
        if (first) {
            EXPECT_EQ(h.word(16), 0u) << "first frame of a channel is a key frame";
            EXPECT_EQ(h.word(20), 0u);
        } else {
            EXPECT_EQ(h.word(20), nextWord[channel]);
        }
        EXPECT_EQ(h.word(16) == 0, h.word(20) == 0) << "key frames open the groups";
        nextWord[channel] = (h.word(20) + 1) % 10;
        EXPECT_EQ(h.word(36), 352u);
        EXPECT_EQ(h.word(40), 240u);
        EXPECT_EQ(h.word(44), 0u);
        EXPECT_EQ(h.word(52), 1u) << "30 frames/s progressive: two sixtieths apart";
        EXPECT_EQ(h.word(68), 0x1124u) << "title from the stamp bytes";
        EXPECT_EQ(h.bytes[74], 2) << "status kind";
        EXPECT_EQ(h.bytes[56], local.tm_year - 100);
        EXPECT_EQ(h.bytes[57], local.tm_mon + 1);
        EXPECT_LE(std::labs(static_cast<long>(h.word(60)) - now), 5);
        ASSERT_GE(payload.size(), 4u);
        EXPECT_EQ(payload[0], 0x00);
        EXPECT_EQ(payload[1], 0x00);
        EXPECT_EQ(payload[2], 0x01);
        EXPECT_EQ(payload[3], 0xB6) << "a plane, without stream headers";
    }
    EXPECT_EQ(nextWord.size(), 2u);

    // A new mask: channel 0 alone, from a key frame; nothing of 1 and 3 after it.
    ASSERT_TRUE(client.setMask(bit(0)));
    bool seenZero = false;
    for (int i = 0; i < 30; ++i) {
        RawHeader h;
        std::vector<std::uint8_t> payload;
        ASSERT_TRUE(client.readVideo(h, payload, 3000));
        if (h.word(32) == 0 && !seenZero) {
            EXPECT_EQ(h.word(16), 0u);
            seenZero = true;
        }
        if (seenZero) {
            EXPECT_EQ(h.word(32), 0u);
        }
    }
    EXPECT_TRUE(seenZero);
    EXPECT_NE(sim.waitForLog("MASK 0000000A #1"), "");
    EXPECT_NE(sim.waitForLog("MASK 00000001 #1"), "");
    EXPECT_TRUE(sim.stop());
}

TEST(DvrSimVideo, EveryLoginRestartsWithKeyFramesAndServesSeveralClients)
{
    SimProcess sim;
    ASSERT_TRUE(sim.start({"--channels", "2", "--gop", "5", "--alarm", "6", "--alarm-every", "3"}));
    RawDvrClient a, b;
    ASSERT_TRUE(a.connectTo(sim.port()));
    ASSERT_TRUE(b.connectTo(sim.port()));
    RawHeader reply;
    ASSERT_TRUE(a.login("Guest", "", 0, reply));
    ASSERT_TRUE(b.login("Guest", "", 0, reply));
    ASSERT_TRUE(a.setMask(bit(0)));
    ASSERT_TRUE(b.setMask(bit(1)));
    for (RawDvrClient* c : {&a, &b}) {
        int alarms = 0;
        for (int i = 0; i < 9; ++i) {
            RawHeader h;
            std::vector<std::uint8_t> payload;
            ASSERT_TRUE(c->readVideo(h, payload, 3000));
            EXPECT_EQ(h.word(32), c == &a ? 0u : 1u);
            if (i == 0) {
                EXPECT_EQ(h.word(16), 0u);
            }
            alarms += h.word(24) == 6;
            EXPECT_EQ(h.word(24) == 6, i % 3 == 2) << "every third frame carries the alarm bits";
        }
        EXPECT_EQ(alarms, 3);
    }
    // Log out and in again on the same connection: a key frame comes first.
    ASSERT_TRUE(a.sendBytes(RawDvrClient::header(1, 2)));
    EXPECT_NE(sim.waitForLog("LOGOUT #1"), "");
    // Frames sent before the logout drain; then the link is quiet.
    RawHeader h;
    std::vector<std::uint8_t> payload;
    while (a.readVideo(h, payload, 300)) {
    }
    ASSERT_TRUE(a.login("Guest", "", 0, reply));
    EXPECT_EQ(reply.code(), 0x1001u);
    ASSERT_TRUE(a.setMask(bit(1)));
    ASSERT_TRUE(a.readVideo(h, payload, 3000));
    EXPECT_EQ(h.word(32), 1u);
    EXPECT_EQ(h.word(16), 0u);
    EXPECT_TRUE(sim.stop());
}

struct DecodeCase {
    const char* size;
    int width;
    int height;
    int interlace;
};

class DvrSimDecode : public ::testing::TestWithParam<DecodeCase> {};

// The first frame, behind the 30-byte stream header a client supplies, must
// decode as MPEG-4 of the configured size and show the channel's picture.
TEST_P(DvrSimDecode, FirstFrameDecodesBehindTheClientsStreamHeader)
{
    const DecodeCase c = GetParam();
    SimProcess sim;
    ASSERT_TRUE(sim.start({"--channels", "3", "--size", c.size, "--interlace", std::to_string(c.interlace),
                           "--gop", "4"}));
    RawDvrClient client;
    ASSERT_TRUE(client.connectTo(sim.port()));
    RawHeader reply;
    ASSERT_TRUE(client.login("Guest", "", 0, reply));
    ASSERT_TRUE(client.setMask(bit(2)));

    xvid_gbl_init_t init{};
    init.version = XVID_VERSION;
    xvid_global(nullptr, XVID_GBL_INIT, &init, nullptr);
    xvid_dec_create_t create{};
    create.version = XVID_VERSION;
    ASSERT_GE(xvid_decore(nullptr, XVID_DEC_CREATE, &create, nullptr), 0);
    std::vector<std::uint8_t> picture(static_cast<std::size_t>(c.width * c.height * 3 / 2));
    dvrsim::I420Picture expected(c.width, c.height);

    for (int frame = 0; frame < 4; ++frame) {
        RawHeader h;
        std::vector<std::uint8_t> payload;
        ASSERT_TRUE(client.readVideo(h, payload, 3000));
        EXPECT_EQ(h.word(36), static_cast<std::uint32_t>(c.width));
        EXPECT_EQ(h.word(40), static_cast<std::uint32_t>(c.height));
        EXPECT_EQ(h.word(44), static_cast<std::uint32_t>(c.interlace));
        std::vector<std::uint8_t> stream;
        if (frame == 0)
            stream = streamHeaderFor(c.width, c.height, c.interlace != 0);
        stream.insert(stream.end(), payload.begin(), payload.end());
        const std::size_t length = stream.size();
        stream.resize(length + 1000, 0);

        int position = 0, produced = 0, volWidth = 0, volHeight = 0;
        for (int call = 0; call < 3 && produced <= 0; ++call) {
            xvid_dec_frame_t f{};
            f.version = XVID_VERSION;
            f.general = XVID_LOWDELAY;
            f.bitstream = stream.data() + position;
            f.length = static_cast<int>(length) - position;
            f.output.csp = XVID_CSP_I420;
            f.output.plane[0] = picture.data();
            f.output.stride[0] = c.width;
            xvid_dec_stats_t stats{};
            stats.version = XVID_VERSION;
            const int used = xvid_decore(create.handle, XVID_DEC_DECODE, &f, &stats);
            ASSERT_GT(used, 0);
            position += used;
            if (stats.type == XVID_TYPE_VOL) {
                volWidth = stats.data.vol.width;
                volHeight = stats.data.vol.height;
            }
            produced = stats.type;
        }
        ASSERT_GT(produced, 0) << "frame " << frame << " gave a picture";
        EXPECT_EQ(produced, frame == 0 ? XVID_TYPE_IVOP : XVID_TYPE_PVOP);
        EXPECT_NEAR(position, static_cast<int>(length), 8) << "the decoder took the whole frame";
        if (frame == 0) {
            EXPECT_EQ(volWidth, c.width);
            EXPECT_EQ(volHeight, c.height);
        }
        // The loop starts at frame 0 of channel 2's picture.
        dvrsim::paintTestPicture(expected, 2, frame, 8, 30.0);
        double squared = 0;
        for (int i = 0; i < c.width * c.height; ++i) {
            const double d = double(picture[static_cast<std::size_t>(i)]) - expected.data[static_cast<std::size_t>(i)];
            squared += d * d;
        }
        const double psnr = 10 * std::log10(255.0 * 255.0 / (squared / (c.width * c.height) + 1e-9));
        EXPECT_GT(psnr, 30.0) << "frame " << frame;
    }
    xvid_decore(create.handle, XVID_DEC_DESTROY, nullptr, nullptr);
    EXPECT_TRUE(sim.stop());
}

INSTANTIATE_TEST_SUITE_P(Sizes, DvrSimDecode,
                         ::testing::Values(DecodeCase{"352x240", 352, 240, 0}, DecodeCase{"704x480", 704, 480, 1},
                                           DecodeCase{"720x576", 720, 576, 0}),
                         [](const auto& info) { return std::string("s") + info.param.size; });

TEST(DvrSimProcess, StopsPromptlyOnSigtermWhileStreaming)
{
    SimProcess sim;
    ASSERT_TRUE(sim.start({"--channels", "2"}));
    RawDvrClient client;
    ASSERT_TRUE(client.connectTo(sim.port()));
    RawHeader reply;
    ASSERT_TRUE(client.login("Guest", "", 0, reply));
    ASSERT_TRUE(client.setMask(3));
    std::vector<std::uint8_t> payload;
    ASSERT_TRUE(client.readVideo(reply, payload, 3000));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(sim.stop());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(sim.logLines().back(), "STOP");
}

// The simulator still serves video and takes new logins.
::testing::AssertionResult Serves(int port)
{
    RawDvrClient client;
    RawHeader reply;
    std::vector<std::uint8_t> payload;
    if (!client.connectTo(port) || !client.login("Guest", "", 0, reply) || !client.setMask(1))
        return ::testing::AssertionFailure() << "no login on port " << port;
    if (!client.readVideo(reply, payload, 5000))
        return ::testing::AssertionFailure() << "no video on port " << port;
    return ::testing::AssertionSuccess();
}

// Gone: no process, or one that has ended and waits only to be reaped by
// whoever inherited it.
bool Ended(int pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line))
        return true;
    const auto close = line.rfind(')');
    return close != std::string::npos && close + 2 < line.size() && line[close + 2] == 'Z';
}

bool EndsWithin(int pid, std::chrono::milliseconds span)
{
    const auto deadline = std::chrono::steady_clock::now() + span;
    while (!Ended(pid)) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

bool HasLine(const std::vector<std::string>& lines, const std::string& text)
{
    return std::find(lines.begin(), lines.end(), text) != lines.end();
}

TEST(DvrSimProcess, HeldByItsTestItOutlivesItsLeaseManyTimesOverAndEndsWithItsObject)
{
    int pid = 0, port = 0;
    {
        SimProcess sim;
        // A short lease stands for any clock: the test's hold renews it.
        sim.setLease(1);
        ASSERT_TRUE(sim.start({"--channels", "2"}));
        pid = sim.pid();
        port = sim.port();
        RawDvrClient client;
        RawHeader reply;
        ASSERT_TRUE(client.connectTo(port));
        ASSERT_TRUE(client.login("Guest", "", 0, reply));
        ASSERT_TRUE(client.setMask(3));
        std::vector<std::uint8_t> payload;
        const auto start = std::chrono::steady_clock::now();
        int packets = 0;
        while (std::chrono::steady_clock::now() - start < std::chrono::seconds(5)) {
            ASSERT_TRUE(client.readVideo(reply, payload, 3000)) << "after " << packets << " packets";
            ++packets;
        }
        // Frozen for longer than the lease, it is still there when it thaws:
        // renewals wait in the pipe rather than block the test.
        sim.freeze();
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        ::kill(pid, SIGCONT);
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        EXPECT_TRUE(Serves(port));
        EXPECT_FALSE(Ended(pid));
        const std::vector<std::string> log = sim.logLines();
        EXPECT_EQ(std::count_if(log.begin(), log.end(), [](const std::string& l) { return l.rfind("LEASE", 0) == 0; }),
                  0);
    }
    // Reaped by its object. (Its port may already serve another test's
    // simulator: ports are given out again at once.)
    errno = 0;
    EXPECT_EQ(::kill(pid, 0), -1);
    EXPECT_EQ(errno, ESRCH);
}

// A test process of its own that starts a simulator and then waits to be
// ended by the test: it reports the simulator's pid, port and log.
struct HeldElsewhere {
    pid_t testPid = -1;
    int pid = 0, port = 0;
    std::string logPath;
};

HeldElsewhere StartInAnotherTestProcess(bool fromAThreadThatEnds, int leaseSeconds)
{
    int fds[2];
    HeldElsewhere held;
    if (::pipe(fds) != 0)
        return held;
    held.testPid = ::fork();
    if (held.testPid == 0) {
        ::close(fds[0]);
        auto* sim = new SimProcess; // the process is killed, never ends it
        sim->setLease(leaseSeconds);
        bool started = false;
        if (fromAThreadThatEnds)
            std::thread([&] { started = sim->start({"--channels", "1"}); }).join();
        else
            started = sim->start({"--channels", "1"});
        std::string line = "0 0 -\n";
        if (started)
            line = std::to_string(sim->pid()) + " " + std::to_string(sim->port()) + " " + sim->logPath() + "\n";
        if (::write(fds[1], line.data(), line.size()) < 0)
            ::_exit(3);
        for (;;)
            ::pause();
    }
    ::close(fds[1]);
    std::string text;
    char buffer[64];
    while (text.find('\n') == std::string::npos) {
        const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
        if (n <= 0)
            break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fds[0]);
    std::istringstream fields(text);
    fields >> held.pid >> held.port >> held.logPath;
    return held;
}

void EndTestProcess(HeldElsewhere& held)
{
    if (held.testPid > 0) {
        ::kill(held.testPid, SIGKILL);
        ::waitpid(held.testPid, nullptr, 0);
        held.testPid = -1;
    }
}

TEST(DvrSimProcess, EndsAtOnceWhenItsTestsProcessDiesHoweverItWasStarted)
{
    for (const bool fromAThreadThatEnds : {false, true}) {
        SCOPED_TRACE(fromAThreadThatEnds ? "started from a thread that has ended" : "started from the test's thread");
        HeldElsewhere held = StartInAnotherTestProcess(fromAThreadThatEnds, SimProcess::kDefaultLeaseSeconds);
        ASSERT_GT(held.pid, 0);
        // The starting thread's end is not the test's end.
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        EXPECT_TRUE(Serves(held.port));
        EXPECT_FALSE(Ended(held.pid));
        // Started from the test's thread, the kernel kills it, even frozen,
        // when it could not read the end of its standard input.
        if (!fromAThreadThatEnds)
            ::kill(held.pid, SIGSTOP);
        EndTestProcess(held);
        EXPECT_TRUE(EndsWithin(held.pid, std::chrono::seconds(10)));
        // Otherwise the end of its standard input tells it, and it stops as
        // on SIGTERM.
        const std::vector<std::string> log = SimProcess::logLinesOf(held.logPath);
        EXPECT_EQ(HasLine(log, "LEASE ENDED: standard input closed"), fromAThreadThatEnds);
        EXPECT_EQ(HasLine(log, "STOP"), fromAThreadThatEnds);
        std::remove(held.logPath.c_str());
    }
}

TEST(DvrSimProcess, EndsAfterItsLeaseWhenItsTestIsStoppedForGood)
{
    HeldElsewhere held = StartInAnotherTestProcess(false, 1);
    ASSERT_GT(held.pid, 0);
    EXPECT_TRUE(Serves(held.port));
    ::kill(held.testPid, SIGSTOP);
    const auto stopped = std::chrono::steady_clock::now();
    EXPECT_TRUE(EndsWithin(held.pid, std::chrono::seconds(15)));
    EXPECT_GE(std::chrono::steady_clock::now() - stopped, std::chrono::milliseconds(900));
    const std::vector<std::string> log = SimProcess::logLinesOf(held.logPath);
    EXPECT_TRUE(HasLine(log, "LEASE ENDED: lease ran out"));
    EXPECT_TRUE(HasLine(log, "STOP"));
    EndTestProcess(held);
    std::remove(held.logPath.c_str());
}

TEST(DvrSimProcess, RefusesToListenOutsideLoopback)
{
    SimProcess sim;
    EXPECT_FALSE(sim.start({"--bind", "10.1.2.3"}));
    EXPECT_EQ(sim.waitExit(3000), 2);
    SimProcess bad;
    EXPECT_FALSE(bad.start({"--channels", "65"}));
    EXPECT_EQ(bad.waitExit(3000), 2);
}

}  // namespace
