// Byte layouts, checksums and names of movie, index and backup files.
#include "RecordTestSupport.h"

#include "VideoLoops.h"
#include "control/record/MovieFormat.h"
#include "control/record/RecordedStream.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>
#include <sys/stat.h>

namespace {

using namespace vyrmovie;

TEST(MovieFormat, FrameHeaderFieldsLandOnTheirBytes)
{
    MovieFrameHeader h;
    h.firstStreamByte = 0x11;
    h.intervalCode = 0x22;
    h.bits = MovieFrameHeader::MakeBits(0x12345, 2, 19, 0x1F);
    h.width = 704;
    h.height = 480;
    h.year = 109;
    h.month = 3;
    h.day = 7;
    h.hour = 10;
    h.minute = 20;
    h.second = 30;
    h.microseconds = 999000;
    h.seconds = -2;
    h.streamWord = 0xBEEF;
    h.slot = 5;
    const Bytes32 b = h.Encoded();
    const uint8_t expected[32] = {0xFF, 0xFF, 0x11, 0x22, 0x45, 0x23, 0x41, 0xF3, 0xC0, 0x02, 0xE0,
                                  0x01, 109,  3,    7,    10,   20,   30,   0,    0,    0x58, 0x3E,
                                  0x0F, 0x00, 0xFE, 0xFF, 0xFF, 0xFF, 0xEF, 0xBE, 0x05, 0x00};
    EXPECT_EQ(std::memcmp(b.data(), expected, 32), 0);
    const MovieFrameHeader back = MovieFrameHeader::Decode(b.data());
    EXPECT_EQ(back.Length(), 0x12345u);
    EXPECT_FALSE(back.IsKeyFrame());
    EXPECT_EQ(back.Channel(), 3);
    EXPECT_EQ(back.Events(), 0xF);
    EXPECT_EQ(back.seconds, -2);
    EXPECT_EQ(back.Encoded(), b);
    EXPECT_TRUE(MovieFrameHeader::Decode(MovieFrameHeader{}.Encoded().data()).IsKeyFrame());
}

TEST(MovieFormat, TheEventNibbleIsNineOrMoreExactlyWhenTheStreamIsInterlaced)
{
    for (uint32_t events = 0; events < 32; ++events)
        for (bool interlaced : {false, true}) {
            const int nibble = EventNibble(events, interlaced);
            ASSERT_GE(nibble, 0);
            ASSERT_LE(nibble, 15);
            EXPECT_EQ(NibbleMarksInterlace(nibble), interlaced) << events;
            EXPECT_EQ(EventsOfNibble(nibble), static_cast<int>(events & (interlaced ? 3u : 7u))) << events;
            MovieFrameHeader h;
            h.bits = MovieFrameHeader::MakeBits(100, 0, 3, nibble);
            EXPECT_EQ(h.Interlaced(), interlaced);
            EXPECT_EQ(h.Channel(), 3);
        }
}

// Real key frames of both kinds at both sizes: the form the nibble names is
// taken when the frame decodes cleanly in it, the other form when only that
// one does (a recorder that kept bare event flags there); other frames
// follow the nibble.
TEST(RecordedStream, AKeyFrameThatDecodesOnlyInTheOtherFormOverrulesTheNibble)
{
    for (const auto& size : {std::make_pair(352, 240), std::make_pair(704, 480)})
        for (bool interlaced : {false, true}) {
            SCOPED_TRACE(std::to_string(size.first) + (interlaced ? " interlaced" : " progressive"));
            dvrsim::LoopSettings s;
            s.width = size.first;
            s.height = size.second;
            s.interlace = interlaced;
            s.loopFrames = 30;
            std::vector<dvrsim::EncodedFrame> frames;
            std::string error;
            ASSERT_TRUE(dvrsim::encodeChannelLoop(s, 2, frames, error)) << error;
            ASSERT_TRUE(frames[0].key);
            ASSERT_FALSE(frames[1].key);
            for (int nibble : {EventNibble(5, interlaced), interlaced ? 2 : 11}) {
                MovieFrameHeader h;
                h.width = static_cast<uint16_t>(s.width);
                h.height = static_cast<uint16_t>(s.height);
                std::vector<uint8_t> key = frames[0].bytes;
                key.resize(key.size() + kFramePadding);
                h.bits = MovieFrameHeader::MakeBits(static_cast<uint32_t>(frames[0].bytes.size()), 0, 0, nibble);
                EXPECT_EQ(RecordedStreamIsInterlaced(h, key.data(), h.Length()), interlaced) << nibble;
                const vyrdax::StreamHeader chosen = RecordedStreamHeader(h, key.data(), h.Length());
                EXPECT_EQ(chosen[27] & 0x30, interlaced ? 0x30 : 0x20);
                std::vector<uint8_t> next = frames[1].bytes;
                next.resize(next.size() + kFramePadding);
                h.bits = MovieFrameHeader::MakeBits(static_cast<uint32_t>(frames[1].bytes.size()), 1, 0, nibble);
                EXPECT_EQ(RecordedStreamIsInterlaced(h, next.data(), h.Length()), NibbleMarksInterlace(nibble));
            }
        }
}

TEST(MovieFormat, IndexRecordIsTimeMicrosecondsOffset)
{
    uint8_t b[12];
    IndexRecord{1236421200, 123000, 32}.Encode(b);
    const uint8_t expected[12] = {0x50, 0x4A, 0xB2, 0x49, 0x78, 0xE0, 0x01, 0x00, 32, 0, 0, 0};
    EXPECT_EQ(std::memcmp(b, expected, 12), 0);
    const IndexRecord r = IndexRecord::Decode(b);
    EXPECT_EQ(r.seconds, 1236421200);
    EXPECT_EQ(r.microseconds, 123000u);
    EXPECT_EQ(r.offset, 32u);
}

TEST(MovieFormat, BackupChecksumCoversBytesZeroToTwentyThree)
{
    EXPECT_EQ(Crc32(reinterpret_cast<const uint8_t*>("abc"), 3), 0xCA6598D0u);
    MovieFrameHeader first;
    first.year = 109;
    first.bits = MovieFrameHeader::MakeBits(1000, 0, 1, 0);
    first.seconds = 1236421200;
    first.microseconds = 0x00ABCDEF;
    std::tm saved{};
    saved.tm_year = 2009 - 1900;
    saved.tm_mon = 3;
    saved.tm_mday = 1;
    saved.tm_hour = 12;
    MovieFileHeader h = MovieFileHeader::ForBackup(first, saved);
    EXPECT_TRUE(h.IsAuthentic());
    EXPECT_EQ(h.bytes[12], 109); // the first frame's year stays as it was
    EXPECT_EQ(h.bytes[16], 9);
    EXPECT_EQ(h.bytes[17], 4);
    EXPECT_EQ(h.bytes[22], 0xAB); // upper half of the microseconds
    EXPECT_EQ(ReadLE32(h.bytes.data() + 28), Crc32(h.bytes.data(), 24));
    MovieFileHeader other = h;
    other.bytes[24] ^= 0xFF; // the time_t is not covered
    EXPECT_TRUE(other.IsAuthentic());
    for (int k = 0; k < 24; ++k) {
        other = h;
        other.bytes[static_cast<std::size_t>(k)] ^= 0x01;
        EXPECT_FALSE(other.IsAuthentic()) << k;
    }
}

TEST(MovieFormat, NamesOfRecordingsDaysAndBackups)
{
    std::tm t{};
    t.tm_year = 2009 - 1900;
    t.tm_mon = 2;
    t.tm_mday = 7;
    t.tm_hour = 10;
    t.tm_min = 2;
    t.tm_sec = 5;
    EXPECT_EQ(DayDirectory("/rec", t), "/rec/2009-03-07");
    // A recording's directory is its name's day; the clock's for a name without one.
    EXPECT_EQ(RecordingDayDirectory("/rec", "F.Garage.20091231.235959.03.mp4", t), "/rec/2009-12-31");
    EXPECT_EQ(RecordingDayDirectory("/rec", "A.Garage.20080229.235959.03.avi", t), "/rec/2008-02-29");
    EXPECT_EQ(RecordingDayDirectory("/rec", "F.Garage.20090229.235959.03.mp4", t), "/rec/2009-03-07");
    EXPECT_EQ(RecordingDayDirectory("/rec", "F.Cam0.mp4", t), "/rec/2009-03-07");
    EXPECT_EQ(RecordingFileName("F.Garage", t, 3), "F.Garage.20090307.100205.03.mp4");
    EXPECT_EQ(IndexPathFor("/rec/2009-03-07/F.Garage.20090307.100205.03.mp4"),
              "/rec/2009-03-07/F.Garage.20090307.100205.03.mp4i");
    EXPECT_EQ(BackupFolder("/bk", t), "/bk/2009-03-07-10-02-05");
    EXPECT_EQ(BackupMovieFile("/bk/x", 2), "/bk/x/CH02_00.mp4");
    EXPECT_EQ(BackupIndexFile("/bk/x", 2), "/bk/x/CH02_00.m4i");
    EXPECT_EQ(SplitMark(0), 0);
    EXPECT_EQ(SplitMark(19), 0);
    EXPECT_EQ(SplitMark(20), 20);
    EXPECT_EQ(SplitMark(59), 40);
    EXPECT_EQ(RecordingYear(109), 2009);
    EXPECT_EQ(RecordingYear(128), 2028); // not 1772
}

TEST(MovieFormat, RecordingNamesParseOnlyWhenEveryFieldIsInRange)
{
    RecordingName n;
    ASSERT_TRUE(ParseRecordingName("F.Garage.20090307.102000.03.mp4", &n));
    EXPECT_EQ(n.typeLetter, 'F');
    EXPECT_EQ(n.channelName, "Garage");
    EXPECT_EQ(n.year, 2009);
    EXPECT_EQ(n.hour, 10);
    EXPECT_EQ(n.channel, 3);
    ASSERT_TRUE(ParseRecordingName("S.Front.Door.20090307.235959.63.MP4", &n));
    EXPECT_EQ(n.channelName, "Front"); // up to the next point
    EXPECT_TRUE(ParseRecordingName("F.Garage.20080229.102000.03.mp4", nullptr)); // a leap day
    for (const char* bad : {"F.Garage.20090307.102000.64.mp4", "F.Garage.20090307.242000.03.mp4",
                            "F.Garage.20090332.102000.03.mp4", "F.Garage.20090300.102000.03.mp4",
                            "F.Garage.20090229.102000.03.mp4", "F.Garage.20090431.102000.03.mp4",
                            "F.Garage.20091307.102000.03.mp4", "F.Garage.20090007.102000.03.mp4",
                            "F.Garage.20090307.106000.03.mp4", "F.Garage.20090307.102000.03.mp4i",
                            "F.Garage.2009030.7102000.03.mp4", "x.mp4", "", "F.20090307.102000.3.mp4"})
        EXPECT_FALSE(ParseRecordingName(bad, nullptr)) << bad;
    int y, m, d;
    EXPECT_TRUE(ParseDayDirectoryName("2009-03-07", &y, &m, &d));
    EXPECT_EQ(d, 7);
    EXPECT_FALSE(ParseDayDirectoryName("2009-13-07", &y, &m, &d));
    EXPECT_FALSE(ParseDayDirectoryName("x-99", &y, &m, &d));
}

TEST(MovieFormat, TheNextSecondOfANameCarriesAsAClockAndKeepsNameAndDayDirectoryInStep)
{
    const std::pair<const char*, const char*> steps[] = {
        {"/rec/2009-03-07/F.Gate.20090307.101958.03.mp4", "/rec/2009-03-07/F.Gate.20090307.101959.03.mp4"},
        {"/rec/2009-03-07/F.Gate.20090307.101959.03.mp4", "/rec/2009-03-07/F.Gate.20090307.102000.03.mp4"},
        {"/rec/2009-03-07/F.Gate.20090307.235959.03.mp4", "/rec/2009-03-08/F.Gate.20090308.000000.03.mp4"},
        {"/rec/2008-02-28/F.Gate.20080228.235959.03.mp4", "/rec/2008-02-29/F.Gate.20080229.000000.03.mp4"},
        {"/rec/2009-02-28/F.Gate.20090228.235959.03.mp4", "/rec/2009-03-01/F.Gate.20090301.000000.03.mp4"},
        {"/rec/2009-12-31/A.Gate.20091231.235959.63.avi", "/rec/2010-01-01/A.Gate.20100101.000000.63.avi"},
        // Outside a day directory of its date the directory stays.
        {"/rec/F.Gate.20091231.235959.03.mp4", "/rec/F.Gate.20100101.000000.03.mp4"},
        {"/rec/2009-12-30/F.Gate.20091231.235959.03.mp4", "/rec/2009-12-30/F.Gate.20100101.000000.03.mp4"},
        {"2009-12-31/F.Gate.20091231.235959.03.mp4", "2010-01-01/F.Gate.20100101.000000.03.mp4"},
        {"/x2009-12-31/F.Gate.20091231.235959.03.mp4", "/x2009-12-31/F.Gate.20100101.000000.03.mp4"},
    };
    for (const auto& [from, to] : steps)
        EXPECT_EQ(NextSecondRecordingPath(from), to) << from;
    // Names that hold no time have no next second.
    for (const char* timeless : {"/rec/first.avi", "/rec/F.Cam0.mp4", "", "/rec/F.Gate.20090307.106000.03.mp4"})
        EXPECT_EQ(NextSecondRecordingPath(timeless), "") << timeless;
}

TEST(MovieFormat, ABackupFolderTakenAlreadyMovesToTheNextFreeSecondAndLeavesTheOthersAsTheyWere)
{
    namespace fs = std::filesystem;
    recordtest::TempDir out;
    const auto at = recordtest::ClockFields;
    const std::tm yearEnd = at(2027, 12, 31, 23, 59, 59);
    EXPECT_EQ(MakeBackupFolder(out.path(), yearEnd), out.path() + "/2027-12-31-23-59-59");
    // Taken by a folder and by a file of the same name: the second carries
    // into the next minute, hour, day, month and year as a clock does.
    std::ofstream(out.path() + "/2028-01-01-00-00-00") << "not a folder";
    std::ofstream(out.path() + "/2027-12-31-23-59-59/CH00_00.mp4") << "the other backup";
    EXPECT_EQ(MakeBackupFolder(out.path(), yearEnd), out.path() + "/2028-01-01-00-00-01");
    EXPECT_EQ(MakeBackupFolder(out.path(), yearEnd), out.path() + "/2028-01-01-00-00-02");
    EXPECT_TRUE(fs::is_regular_file(out.path() + "/2028-01-01-00-00-00"));
    EXPECT_EQ(fs::file_size(out.path() + "/2027-12-31-23-59-59/CH00_00.mp4"), 16u);
    EXPECT_TRUE(fs::is_empty(out.path() + "/2028-01-01-00-00-02"));
    // A leap day, and a second of a daylight-saving night read as the clock
    // fields it is: no hour is skipped or repeated.
    for (const auto& [from, to] : {std::pair{at(2028, 2, 28, 23, 59, 59), "2028-02-29-00-00-00"},
                                   std::pair{at(2027, 3, 14, 1, 59, 59), "2027-03-14-02-00-00"}}) {
        std::tm summer = from;
        summer.tm_isdst = 1;
        ASSERT_EQ(MakeBackupFolder(out.path(), summer), out.path() + "/" + BaseName(BackupFolder("", summer)));
        EXPECT_EQ(MakeBackupFolder(out.path(), summer), out.path() + "/" + to);
    }
    // What is no taken name is a failure, and nothing is made.
    errno = 0;
    EXPECT_EQ(MakeBackupFolder(out.path() + "/missing", yearEnd), "");
    EXPECT_EQ(errno, ENOENT);
    EXPECT_FALSE(fs::exists(out.path() + "/missing"));
    ::mkfifo((out.path() + "/fifo").c_str(), 0600);
    errno = 0;
    EXPECT_EQ(MakeBackupFolder(out.path() + "/fifo", yearEnd), "");
    EXPECT_EQ(errno, ENOTDIR);
    EXPECT_EQ(MakeBackupFolder(out.path(), at(9999, 12, 31, 23, 59, 59)), out.path() + "/9999-12-31-23-59-59");
    errno = 0;
    EXPECT_EQ(MakeBackupFolder(out.path(), at(9999, 12, 31, 23, 59, 59)), "") << "no second after the last";
    EXPECT_EQ(errno, EEXIST);
}

// Backups of many controls or programs started in one second, into one
// directory: each claims a folder of its own, and together they take the
// seconds from that one on without a gap.
TEST(MovieFormat, BackupFoldersClaimedSideBySideInOneSecondAreAllDifferent)
{
    recordtest::TempDir out;
    const std::tm second = recordtest::ClockFields(2027, 3, 14, 1, 59, 50);
    constexpr int kThreads = 8, kEach = 50;
    std::vector<std::vector<std::string>> made(kThreads);
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int k = 0; k < kThreads; ++k)
        threads.emplace_back([&, k] {
            ++ready;
            while (ready.load() < kThreads)
                std::this_thread::yield();
            for (int n = 0; n < kEach; ++n)
                made[static_cast<std::size_t>(k)].push_back(MakeBackupFolder(out.path(), second));
        });
    for (std::thread& thread : threads)
        thread.join();
    std::set<std::string> all;
    for (const auto& folders : made)
        for (const std::string& folder : folders) {
            EXPECT_FALSE(folder.empty());
            all.insert(folder);
        }
    EXPECT_EQ(all.size(), std::size_t(kThreads * kEach));
    std::tm last = second;
    for (int n = 1; n < kThreads * kEach; ++n)
        last = NextClockSecond(last);
    EXPECT_EQ(*all.begin(), BackupFolder(out.path(), second));
    EXPECT_EQ(*all.rbegin(), BackupFolder(out.path(), last));
    EXPECT_EQ(BaseName(*all.rbegin()), "2027-03-14-02-06-29");
}

} // namespace
