// The faults dvrsim injects on request, as a client meets them.
#include "RawDvrClient.h"
#include "SimProcess.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace {

void startAndRequest(SimProcess& sim, RawDvrClient& client, std::vector<std::string> args)
{
    ASSERT_TRUE(sim.start(std::move(args)));
    ASSERT_TRUE(client.connectTo(sim.port()));
    RawHeader reply;
    ASSERT_TRUE(client.login("Guest", "", 0, reply));
    ASSERT_EQ(reply.code(), 0x1001u);
    ASSERT_TRUE(client.setMask(1));
}

TEST(DvrSimFaults, CloseDropsTheLinkAfterTheGivenFrames)
{
    SimProcess sim;
    RawDvrClient client;
    startAndRequest(sim, client, {"--fault", "close", "--fault-after", "5"});
    RawHeader h;
    std::vector<std::uint8_t> payload;
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(client.readVideo(h, payload, 3000)) << i;
    EXPECT_TRUE(client.waitClosed(3000, 0)) << "nothing after the fifth frame";
    EXPECT_NE(sim.waitForLog("FAULT close #1"), "");
    EXPECT_NE(sim.waitForLog("CLOSE fault #1"), "");
    EXPECT_TRUE(sim.stop());
}

TEST(DvrSimFaults, CloseEndsInOrderAndResetBreaksTheLink)
{
    for (const char* kind : {"close", "reset"}) {
        SCOPED_TRACE(kind);
        SimProcess sim;
        RawDvrClient client;
        startAndRequest(sim, client, {"--fault", kind, "--fault-after", "3"});
        RawHeader h;
        std::vector<std::uint8_t> payload;
        for (int i = 0; i < 3; ++i)
            ASSERT_TRUE(client.readVideo(h, payload, 3000)) << i;
        EXPECT_EQ(client.endOfLink(3000), std::string(kind) == "close" ? 0 : ECONNRESET);
        EXPECT_NE(sim.waitForLog(std::string("FAULT ") + kind + " #1"), "");
        EXPECT_TRUE(sim.stop());
    }
}

TEST(DvrSimFaults, SilenceSendsNothingAfterTheLoginReply)
{
    SimProcess sim;
    RawDvrClient client;
    startAndRequest(sim, client, {"--fault", "silence", "--keepalive", "1"});
    ASSERT_TRUE(client.command(18, 0, 0));
    EXPECT_TRUE(client.quietFor(1500));
    EXPECT_NE(sim.waitForLog("CMD 18 0 0"), "") << "commands are still read and logged";
    EXPECT_TRUE(sim.stop());
}

TEST(DvrSimFaults, OversizeAndBadChannelComeOnceAmidGoodFrames)
{
    {
        SimProcess sim;
        RawDvrClient client;
        startAndRequest(sim, client, {"--fault", "oversize", "--fault-after", "2"});
        RawHeader h;
        std::vector<std::uint8_t> payload;
        ASSERT_TRUE(client.readVideo(h, payload, 3000));
        ASSERT_TRUE(client.readVideo(h, payload, 3000));
        ASSERT_TRUE(client.readHeader(h, 3000));
        EXPECT_EQ(h.type(), 2u);
        ASSERT_EQ(h.code(), 131073u);
        ASSERT_TRUE(client.readBytes(payload, 131073, 3000)) << "the oversized payload follows";
        ASSERT_TRUE(client.readVideo(h, payload, 3000)) << "then good frames again";
        EXPECT_EQ(h.word(32), 0u);
        EXPECT_TRUE(sim.stop());
    }
    {
        SimProcess sim;
        RawDvrClient client;
        startAndRequest(sim, client, {"--fault", "bad-channel", "--fault-after", "1"});
        RawHeader h;
        std::vector<std::uint8_t> payload;
        ASSERT_TRUE(client.readVideo(h, payload, 3000));
        EXPECT_EQ(h.word(32), 0u);
        ASSERT_TRUE(client.readVideo(h, payload, 3000));
        EXPECT_EQ(h.word(32), 99u);
        ASSERT_TRUE(client.readVideo(h, payload, 3000));
        EXPECT_EQ(h.word(32), 0u);
        EXPECT_EQ(h.word(20), 1u) << "the channel's own stream goes on unbroken";
        EXPECT_TRUE(sim.stop());
    }
}

TEST(DvrSimFaults, GarbageAndBadEventCount)
{
    {
        SimProcess sim;
        RawDvrClient client;
        startAndRequest(sim, client, {"--fault", "garbage", "--fault-after", "1"});
        RawHeader h;
        std::vector<std::uint8_t> payload;
        ASSERT_TRUE(client.readVideo(h, payload, 3000));
        ASSERT_TRUE(client.readHeader(h, 3000));
        bool magic = true;
        for (int i = 0; i < 8; ++i)
            magic = magic && h.bytes[i] == i + 1;
        EXPECT_FALSE(magic);
        EXPECT_TRUE(sim.stop());
    }
    {
        SimProcess sim;
        RawDvrClient client;
        ASSERT_TRUE(sim.start({"--fault", "bad-count"}));
        ASSERT_TRUE(client.connectTo(sim.port()));
        RawHeader h;
        ASSERT_TRUE(client.login("Guest", "", 323, h));
        ASSERT_TRUE(client.command(32, 0, 0));
        do {
            ASSERT_TRUE(client.readHeader(h, 3000));
        } while (h.code() == 1);
        EXPECT_EQ(h.code(), 0x20u);
        EXPECT_EQ(h.word(16), 100000u);
        std::vector<std::uint8_t> records;
        EXPECT_TRUE(client.readBytes(records, 100000u * 24, 10000));
        EXPECT_TRUE(sim.stop());
    }
}

}  // namespace

namespace {

TEST(DvrSimFaults, ClientBytesWithoutThePacketMagicCloseOnlyThatLink)
{
    SimProcess sim;
    ASSERT_TRUE(sim.start({}));
    RawDvrClient bad, good;
    ASSERT_TRUE(bad.connectTo(sim.port()));
    ASSERT_TRUE(good.connectTo(sim.port()));
    std::vector<std::uint8_t> junk(76);
    for (std::size_t i = 0; i < junk.size(); ++i)
        junk[i] = static_cast<std::uint8_t>(i * 37 + 11);
    ASSERT_TRUE(bad.sendBytes(junk));
    EXPECT_TRUE(bad.waitClosed(3000, 0));
    EXPECT_NE(sim.waitForLog("BAD-MAGIC #1"), "");
    RawHeader reply;
    ASSERT_TRUE(good.login("Guest", "", 0, reply));
    EXPECT_EQ(reply.code(), 0x1001u);
    // A sound packet longer than the link allows cannot be skipped safely.
    ASSERT_TRUE(good.sendBytes(RawDvrClient::header(3, 131073)));
    EXPECT_TRUE(good.waitClosed(3000));
    EXPECT_NE(sim.waitForLog("CLOSE bad-length #2"), "");
    EXPECT_TRUE(sim.stop());
}

}  // namespace
