// Commands, PTZ, event log, recordings search, setup record and remote
// play-back against the real dvrsim program.
#include "RawDvrClient.h"
#include "SimProcess.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>

namespace {

std::uint32_t word(const std::vector<std::uint8_t>& b, std::size_t offset)
{
    return std::uint32_t(b[offset]) | std::uint32_t(b[offset + 1]) << 8 | std::uint32_t(b[offset + 2]) << 16 |
           std::uint32_t(b[offset + 3]) << 24;
}

long unpackedTime(std::uint32_t packed)
{
    std::tm t{};
    t.tm_year = int(packed & 63) + 100;
    t.tm_mon = int((packed >> 6) & 15) - 1;
    t.tm_mday = int((packed >> 10) & 31);
    t.tm_hour = int((packed >> 15) & 31);
    t.tm_min = int((packed >> 20) & 63);
    t.tm_sec = int((packed >> 26) & 63);
    t.tm_isdst = -1;
    return static_cast<long>(std::mktime(&t));
}

// Logs in to a freshly started simulator.
void startAndLogin(SimProcess& sim, RawDvrClient& client, std::vector<std::string> args,
                   std::uint32_t sessionKind = 0)
{
    ASSERT_TRUE(sim.start(std::move(args)));
    ASSERT_TRUE(client.connectTo(sim.port()));
    RawHeader reply;
    ASSERT_TRUE(client.login("Guest", "", sessionKind, reply));
    ASSERT_EQ(reply.code(), 0x1001u);
}

// The next packet that is not a keep-alive.
bool readReply(RawDvrClient& client, RawHeader& h)
{
    do {
        if (!client.readHeader(h, 3000))
            return false;
    } while (h.type() == 5 && h.code() == 1);
    return true;
}

TEST(DvrSimCommands, LogsEveryCommandPtzAndSoundPacketAsSent)
{
    SimProcess sim;
    RawDvrClient client;
    startAndLogin(sim, client, {}, 323);
    ASSERT_TRUE(client.command(13, 5, 3));  // the control splits index 0x00050003 so
    ASSERT_TRUE(client.command(16, 0, 0xFFFFFFFF));
    ASSERT_TRUE(client.command(14, 1234567890, 0, 0x0C0B0A09, 0x00000D0E));
    auto ptz = RawDvrClient::header(4, 0, {{16, 48}, {20, 2}, {24, 7}});
    ASSERT_TRUE(client.sendBytes(ptz));
    auto sound = RawDvrClient::header(3, 768, {});
    sound.resize(76 + 768, 0x55);
    ASSERT_TRUE(client.sendBytes(sound));
    ASSERT_TRUE(client.setMask(0xF));
    ASSERT_TRUE(client.sendBytes(RawDvrClient::header(1, 2)));

    EXPECT_NE(sim.waitForLog("CMD 13 5 3 0000000000000000 #1"), "");
    EXPECT_NE(sim.waitForLog("CMD 16 0 -1 0000000000000000 #1"), "");
    EXPECT_NE(sim.waitForLog("CMD 14 1234567890 0 090A0B0C0E0D0000 #1"), "");
    EXPECT_NE(sim.waitForLog("PLAYBACK 1234567890 #1"), "");
    EXPECT_NE(sim.waitForLog("PTZ 48 7 2 #1"), "");
    EXPECT_NE(sim.waitForLog("AUDIO 768 0 #1"), "");
    EXPECT_NE(sim.waitForLog("MASK 0000000F #1"), "");
    EXPECT_NE(sim.waitForLog("LOGOUT #1"), "");
    EXPECT_TRUE(sim.stop());
}

TEST(DvrSimCommands, EventLogAnswersRecordsFromTheAskedTime)
{
    SimProcess sim;
    RawDvrClient client;
    startAndLogin(sim, client, {"--events", "10"}, 323);
    ASSERT_TRUE(client.command(32, 0, 0, 0, 0));
    RawHeader h;
    ASSERT_TRUE(readReply(client, h));
    ASSERT_EQ(h.type(), 5u);
    ASSERT_EQ(h.code(), 0x20u);
    ASSERT_EQ(h.word(16), 10u);
    std::vector<std::uint8_t> records;
    ASSERT_TRUE(client.readBytes(records, 10 * 24, 3000));
    for (std::uint32_t k = 0; k < 10; ++k) {
        EXPECT_EQ(word(records, k * 24), k + 1) << "key";
        const std::uint32_t eventClass = records[k * 24 + 8] | records[k * 24 + 9] << 8;
        EXPECT_EQ(eventClass, 31 + k % 6);
    }
    // One a minute, the newest a minute before start-up.
    const long now = static_cast<long>(std::time(nullptr));
    for (std::uint32_t k = 0; k + 1 < 10; ++k)
        EXPECT_EQ(unpackedTime(word(records, (k + 1) * 24 + 4)) - unpackedTime(word(records, k * 24 + 4)), 60);
    const long newest = unpackedTime(word(records, 9 * 24 + 4));
    EXPECT_LE(newest, now - 60);
    EXPECT_GT(newest, now - 180);

    // From the time of record 6 on: records 6..9.
    ASSERT_TRUE(client.command(32, 0, 0, word(records, 6 * 24 + 4), 0));
    ASSERT_TRUE(readReply(client, h));
    ASSERT_EQ(h.code(), 0x20u);
    EXPECT_EQ(h.word(16), 4u);
    std::vector<std::uint8_t> later;
    ASSERT_TRUE(client.readBytes(later, 4 * 24, 3000));
    EXPECT_EQ(word(later, 0), 7u);
    EXPECT_NE(sim.waitForLog("REPLY EVENTS 4 #1"), "");
    EXPECT_TRUE(sim.stop());
}

TEST(DvrSimCommands, EventsFileIsServedAsStored)
{
    char path[] = "/tmp/dvrsim-events-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    std::vector<std::uint8_t> stored(3 * 24);
    for (std::size_t i = 0; i < stored.size(); ++i)
        stored[i] = static_cast<std::uint8_t>(i * 3 + 1);
    ASSERT_EQ(write(fd, stored.data(), stored.size()), static_cast<ssize_t>(stored.size()));
    close(fd);
    SimProcess sim;
    RawDvrClient client;
    startAndLogin(sim, client, {"--events-file", path}, 323);
    ASSERT_TRUE(client.command(32, 0, 0));
    RawHeader h;
    ASSERT_TRUE(readReply(client, h));
    ASSERT_EQ(h.word(16), 3u);
    std::vector<std::uint8_t> got;
    ASSERT_TRUE(client.readBytes(got, stored.size(), 3000));
    EXPECT_EQ(got, stored);

    // Records added to the file are served at the next command 32.
    std::vector<std::uint8_t> more(2 * 24, 0x77);
    FILE* file = std::fopen(path, "ab");
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(std::fwrite(more.data(), more.size(), 1, file), 1u);
    std::fclose(file);
    ASSERT_TRUE(client.command(32, 0, 0));
    ASSERT_TRUE(readReply(client, h));
    ASSERT_EQ(h.word(16), 5u);
    ASSERT_TRUE(client.readBytes(got, 5 * 24, 3000));
    EXPECT_EQ(std::vector<std::uint8_t>(got.begin() + 72, got.end()), more);

    // A file that is gone leaves the list read at start-up.
    std::remove(path);
    ASSERT_TRUE(client.command(32, 0, 0));
    ASSERT_TRUE(readReply(client, h));
    ASSERT_EQ(h.word(16), 3u);
    ASSERT_TRUE(client.readBytes(got, stored.size(), 3000));
    EXPECT_EQ(got, stored);
    EXPECT_NE(sim.waitForLog("EVENTS-FILE"), "");
    EXPECT_TRUE(sim.stop());
}

TEST(DvrSimCommands, SearchAnswersMonthTableAndDayTimeList)
{
    SimProcess sim;
    RawDvrClient client;
    startAndLogin(sim, client, {"--channels", "3", "--recordings", "1"}, 323);
    const long now = static_cast<long>(std::time(nullptr));
    const std::uint32_t today = packedLocalTime(now);
    const int day = static_cast<int>((today >> 10) & 31);

    ASSERT_TRUE(client.command(33, 0, 0, today, 0));
    RawHeader h;
    ASSERT_TRUE(readReply(client, h));
    ASSERT_EQ(h.type(), 5u);
    ASSERT_EQ(h.code(), 0x21u);
    std::vector<std::uint8_t> month;
    ASSERT_TRUE(client.readBytes(month, 128, 3000));
    for (int d = 1; d <= 31; ++d)
        EXPECT_EQ(word(month, static_cast<std::size_t>(d) * 4) != 0, d == day) << "day " << d;

    ASSERT_TRUE(client.command(33, 0, 0, today, 1));
    ASSERT_TRUE(readReply(client, h));
    ASSERT_EQ(h.code(), 0x21u);
    std::vector<std::uint8_t> list;
    ASSERT_TRUE(client.readBytes(list, 3076, 3000));
    int recorded = 0;
    for (int row = 0; row < 64; ++row)
        for (int slot = 0; slot < 48; ++slot) {
            const std::uint8_t code = list[4 + static_cast<std::size_t>(row * 48 + slot)];
            if (row >= 3) {
                EXPECT_EQ(code, 0) << "row " << row;
            } else {
                EXPECT_TRUE(code == 0 || (code >= 19 && code <= 23)) << int(code);
            }
            recorded += code != 0;
        }
    EXPECT_GT(recorded, 3 * 48 / 2);

    // Two days ago has no recordings.
    ASSERT_TRUE(client.command(33, 0, 0, packedLocalTime(now - 2 * 86400), 1));
    ASSERT_TRUE(readReply(client, h));
    ASSERT_TRUE(client.readBytes(list, 3076, 3000));
    for (std::size_t i = 4; i < list.size(); ++i)
        ASSERT_EQ(list[i], 0) << i;
    EXPECT_NE(sim.waitForLog("REPLY DAY #1"), "");
    EXPECT_TRUE(sim.stop());
}

TEST(DvrSimCommands, SetupRecordHasTheLayoutOfTheDvrTypeAndKeepsUploads)
{
    for (const auto& [type, size] : {std::pair<const char*, std::size_t>{"9", 12044}, {"17", 23736}}) {
        SimProcess sim;
        RawDvrClient client;
        startAndLogin(sim, client, {"--dvr-type", type});
        ASSERT_TRUE(client.command(18, 0, 3));
        RawHeader h;
        std::vector<std::uint8_t> record;
        // Live frames are not asked for (no mask), so the reply comes next.
        ASSERT_TRUE(readReply(client, h));
        ASSERT_EQ(h.type(), 5u);
        ASSERT_EQ(h.code(), 0x12u);
        EXPECT_EQ(h.word(16), 3u) << "channel of the request";
        ASSERT_TRUE(client.readBytes(record, size, 3000));
        for (std::size_t i = 0; i < size; i += 997)
            ASSERT_EQ(record[i], i % 251) << i;

        for (std::size_t i = 0; i < size; ++i)
            record[i] = static_cast<std::uint8_t>(record[i] ^ 0x5A);
        auto upload = RawDvrClient::header(5, 19, {{20, 3}});
        upload.insert(upload.end(), record.begin(), record.end());
        ASSERT_TRUE(client.sendBytes(upload));
        char expected[64];
        std::snprintf(expected, sizeof expected, "SETUP-UPLOAD %zu %08lX #1", size,
                      crc32(0, record.data(), static_cast<uInt>(record.size())));
        EXPECT_NE(sim.waitForLog(expected), "") << expected;

        ASSERT_TRUE(client.command(18, 0, 0));
        ASSERT_TRUE(readReply(client, h));
        ASSERT_EQ(h.code(), 0x12u);
        std::vector<std::uint8_t> again;
        ASSERT_TRUE(client.readBytes(again, size, 3000));
        EXPECT_EQ(again, record);
        EXPECT_TRUE(sim.stop());
    }
}

TEST(DvrSimCommands, RemotePlaybackStreamsFromTheAskedTimeAndPauses)
{
    SimProcess sim;
    RawDvrClient client;
    startAndLogin(sim, client, {"--channels", "2", "--gop", "5"}, 323);
    ASSERT_TRUE(client.setMask(3));
    EXPECT_TRUE(client.quietFor(400)) << "a search session gets no live video";

    const std::uint32_t start = 1500000000;
    ASSERT_TRUE(client.command(14, start, 0));
    RawHeader h;
    std::vector<std::uint8_t> payload;
    for (int i = 0; i < 6; ++i) {
        ASSERT_TRUE(client.readVideo(h, payload, 3000));
        EXPECT_EQ(h.bytes[74], 0xFF) << "play-back stream";
        EXPECT_GE(h.word(60), start);
        EXPECT_LE(h.word(60), start + 2);
        if (i < 2) {
            EXPECT_EQ(h.word(16), 0u) << "each channel starts with a key frame";
        }
    }
    ASSERT_TRUE(client.command(10, 0, 0));
    EXPECT_NE(sim.waitForLog("PLAYBACK PAUSE #1"), "");
    // Frames sent before the pause drain, then nothing comes.
    while (client.readVideo(h, payload, 300)) {
    }
    ASSERT_TRUE(client.command(8, 0, 0));
    ASSERT_TRUE(client.readVideo(h, payload, 3000));
    EXPECT_EQ(h.bytes[74], 0xFF);
    EXPECT_NE(sim.waitForLog("PLAYBACK SPEED 2 #1"), "");
    EXPECT_TRUE(sim.stop());
}

TEST(DvrSimCommands, PlaybackPacedByTcpGoesOutAsFastAsReadAfterTheSeeksLiveVideo)
{
    // A live session: after command 14 live video goes on for the seek, then
    // the play-back comes as fast as it is read, its stream times one frame
    // interval apart from the asked time on.
    SimProcess sim;
    RawDvrClient client;
    startAndLogin(sim, client, {"--channels", "1", "--fps", "30", "--playback-pace", "tcp", "--seek-ms", "400"});
    ASSERT_TRUE(client.setMask(1));
    RawHeader h;
    std::vector<std::uint8_t> payload;
    ASSERT_TRUE(client.readVideo(h, payload, 3000));
    EXPECT_NE(h.bytes[74], 0xFF) << "live video before the play-back";
    const std::uint32_t start = 1500000000;
    ASSERT_TRUE(client.command(14, start, 0));
    int live = 0;
    do {
        ASSERT_TRUE(client.readVideo(h, payload, 3000));
        live += h.bytes[74] != 0xFF;
    } while (h.bytes[74] != 0xFF);
    EXPECT_GE(live, 3) << "live video goes on while the DVR seeks";
    EXPECT_NE(sim.waitForLog("PLAYBACK 1500000000 #1"), "");
    // Five seconds of recording, read as fast as the test reads.
    constexpr int kFrames = 150;
    const auto begin = std::chrono::steady_clock::now();
    double last = h.word(60) + h.word(64) / 1e6;
    EXPECT_EQ(h.word(60), start);
    EXPECT_EQ(h.word(16), 0u) << "the play-back starts with a key frame";
    for (int i = 1; i < kFrames; ++i) {
        ASSERT_TRUE(client.readVideo(h, payload, 3000));
        ASSERT_EQ(h.bytes[74], 0xFF);
        const double stamp = h.word(60) + h.word(64) / 1e6;
        ASSERT_NEAR(stamp - last, 1.0 / 30, 3e-6) << "frame " << i;
        last = stamp;
    }
    const auto took = std::chrono::steady_clock::now() - begin;
    EXPECT_LT(took, std::chrono::milliseconds(2500)) << "paced in real time";
    // A pause holds it, a stop goes back to live video.
    ASSERT_TRUE(client.command(10, 0, 0));
    EXPECT_NE(sim.waitForLog("PLAYBACK PAUSE #1"), "");
    ASSERT_TRUE(client.command(11, 0, 0));
    EXPECT_NE(sim.waitForLog("PLAYBACK STOP #1"), "");
    do {
        ASSERT_TRUE(client.readVideo(h, payload, 3000));
    } while (h.bytes[74] == 0xFF);
    EXPECT_TRUE(sim.stop());
}

TEST(DvrSimCommands, KeepAliveFillsSilenceOfAnIdleSession)
{
    SimProcess sim;
    RawDvrClient client;
    startAndLogin(sim, client, {"--keepalive", "1"}, 323);
    RawHeader h;
    ASSERT_TRUE(client.readHeader(h, 2500));
    EXPECT_EQ(h.type(), 5u);
    EXPECT_EQ(h.code(), 1u);
    EXPECT_TRUE(sim.stop());
}

}  // namespace
