// The movie index and file reader: record sequences of every play state,
// seeks, and damaged files and indexes.
#include "RecordTestSupport.h"

#include "control/record/CMovieFileReader.h"
#include "control/record/CMovieIndex.h"
#include "control/record/MovieFormat.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace {

using namespace vyrmovie;
using recordtest::TempDir;

// A movie of `frames` frames, a key frame every `gop`; frame k arrives at
// second base + k / 10 and (k % 10) * 100000 microseconds. Payload bytes
// carry the frame number so a read can be told apart.
struct Movie {
    std::string path;
    std::vector<uint32_t> keyOffsets;
    std::vector<std::pair<int32_t, uint32_t>> keyTimes;
};

constexpr int32_t kBase = 1236420000;

Movie WriteMovie(const std::string& path, int frames, int gop)
{
    Movie m;
    m.path = path;
    std::ofstream movie(path, std::ios::binary);
    std::ofstream index(path + "i", std::ios::binary);
    MovieFrameHeader first;
    first.year = 109;
    const MovieFileHeader fh = MovieFileHeader::ForRecording(first);
    movie.write(reinterpret_cast<const char*>(fh.bytes.data()), 32);
    uint32_t position = 32;
    for (int k = 0; k < frames; ++k) {
        const bool key = k % gop == 0;
        const uint32_t length = 100 + static_cast<uint32_t>(k);
        MovieFrameHeader h;
        h.bits = MovieFrameHeader::MakeBits(length, key ? 0 : 1, 3, 0);
        h.width = 352;
        h.height = 240;
        h.seconds = kBase + k / 10;
        h.microseconds = static_cast<uint32_t>(k % 10) * 100000;
        const Bytes32 b = h.Encoded();
        movie.write(reinterpret_cast<const char*>(b.data()), 32);
        std::vector<char> payload(length, static_cast<char>(k));
        movie.write(payload.data(), static_cast<std::streamsize>(length));
        if (key) {
            uint8_t rec[12];
            IndexRecord{h.seconds, h.microseconds, position}.Encode(rec);
            index.write(reinterpret_cast<const char*>(rec), 12);
            m.keyOffsets.push_back(position);
            m.keyTimes.emplace_back(h.seconds, h.microseconds);
        }
        position += 32 + length;
    }
    return m;
}

// The frame number of the frame a reader holds.
int FrameNumber(const CMovieFileReader& r) { return r.Payload()[0]; }

class Reader : public ::testing::Test {
protected:
    TempDir dir;
    // 100 frames, key frames 0, 10, ..., 90: ten index records.
    Movie movie = WriteMovie(dir.path() + "/F.Cam.20090307.100000.03.mp4", 100, 10);
    CMovieFileReader reader;
    void SetUp() override { ASSERT_EQ(reader.Open(movie.path, movie.path + "i"), 1); }
};

TEST_F(Reader, PlayReadsEveryFrameThenReportsTheEnd)
{
    EXPECT_EQ(reader.ReadNext(), 0); // reset state shows nothing
    reader.Play();
    for (int k = 0; k < 100; ++k) {
        ASSERT_EQ(reader.ReadNext(), 1) << k;
        EXPECT_EQ(FrameNumber(reader), k);
        EXPECT_EQ(reader.FramesSinceKey(), k % 10);
    }
    EXPECT_EQ(reader.KeyFrameCounter(), 9);
    EXPECT_EQ(reader.ReadNext(), -1);
    EXPECT_EQ(reader.EndFlag(), 1);
    EXPECT_EQ(reader.ChannelIndex(), 3);
    EXPECT_EQ(reader.ChannelName(), "Cam");
}

TEST_F(Reader, FastForwardAndRewindMoveByKeyFrames)
{
    reader.Reset();
    reader.Play();
    ASSERT_EQ(reader.ReadNext(), 1); // key frame of record 0: the counter stands at 1
    EXPECT_EQ(reader.KeyFrameCounter(), 1);
    reader.FastForward();
    std::vector<int> seen;
    while (reader.ReadNext() == 1)
        seen.push_back(FrameNumber(reader));
    // Records 2, 4, 6, 8, then the record of number `count` is the last again.
    EXPECT_EQ(seen, (std::vector<int>{20, 40, 60, 80, 90}));
    EXPECT_EQ(reader.EndFlag(), 1);

    reader.SeekTime(movie.keyTimes[5].first, movie.keyTimes[5].second);
    reader.Play();
    ASSERT_EQ(reader.ReadNext(), 1);
    EXPECT_EQ(FrameNumber(reader), 50);
    reader.Rewind();
    seen.clear();
    while (reader.ReadNext() == 1)
        seen.push_back(FrameNumber(reader));
    EXPECT_EQ(seen, (std::vector<int>{40, 30, 20, 10, 0}));
    EXPECT_EQ(reader.EndFlag(), 2);
    EXPECT_EQ(reader.KeyFrameCounter(), 0);

    // A larger step skips more key frames.
    reader.SeekTime(movie.keyTimes[0].first, 0);
    reader.Play();
    ASSERT_EQ(reader.ReadNext(), 1);
    reader.SetStepSize(3);
    reader.FastForward();
    seen.clear();
    while (reader.ReadNext() == 1)
        seen.push_back(FrameNumber(reader));
    EXPECT_EQ(seen, (std::vector<int>{40, 80}));
}

TEST_F(Reader, StepsHandOutTheFrameOnceAndPauseShowsNothing)
{
    EXPECT_EQ(reader.StepForward(), 1);
    EXPECT_EQ(FrameNumber(reader), 0);
    EXPECT_EQ(reader.ReadNext(), 1);
    EXPECT_EQ(reader.ReadNext(), 0);
    EXPECT_EQ(reader.Step(), 1);
    EXPECT_EQ(reader.ReadNext(), 1);
    EXPECT_EQ(reader.ReadNext(), 0);
    reader.Pause();
    EXPECT_EQ(reader.ReadNext(), 0);
    EXPECT_EQ(reader.StepSize(), 1);
    reader.Reset();
    reader.Play();
    ASSERT_EQ(reader.ReadNext(), 1);
    EXPECT_EQ(FrameNumber(reader), 0);
}

TEST_F(Reader, SeeksFindTheKeyFrameOfATime)
{
    // Exactly the time of record 4.
    reader.SeekTime(movie.keyTimes[4].first, movie.keyTimes[4].second);
    reader.Play();
    ASSERT_EQ(reader.ReadNext(), 1);
    EXPECT_EQ(FrameNumber(reader), 40);
    // A time between key frames goes to the next later second's key frame.
    reader.SeekTime(kBase + 2, 500000);
    ASSERT_EQ(reader.ReadNext(), 1);
    EXPECT_EQ(FrameNumber(reader), 30);
    // Within the last second of the file: the last key frame.
    reader.SeekTime(kBase + 9, 300000);
    ASSERT_EQ(reader.ReadNext(), 1);
    EXPECT_EQ(FrameNumber(reader), 90);
    // The last key frame, then rewinding skips back from count - 3.
    reader.SeekLastKeyFrame();
    std::vector<int> seen;
    while (reader.ReadNext() == 1)
        seen.push_back(FrameNumber(reader));
    EXPECT_EQ(seen.front(), 70);
    EXPECT_EQ(seen.back(), 0);
    EXPECT_EQ(reader.EndFlag(), 2);
}

TEST(MovieIndex, LookupsClampAndRepeatTheLastRecord)
{
    TempDir dir;
    const Movie m = WriteMovie(dir.path() + "/F.C.20090307.100000.00.mp4", 50, 10);
    CMovieIndex index;
    ASSERT_TRUE(index.Load(m.path + "i"));
    EXPECT_EQ(index.Count(), 5);
    EXPECT_EQ(index.GetOffset(0), 32u);
    EXPECT_EQ(index.GetOffset(5), m.keyOffsets[4]); // the count: the last again
    EXPECT_EQ(index.GetOffset(6), 0u);
    EXPECT_EQ(index.GetOffset(-1), 0u);
    EXPECT_EQ(index.LastOffset(), m.keyOffsets[4]);
    EXPECT_EQ(index.GetRecord(99).offset, m.keyOffsets[4]);
    EXPECT_EQ(index.GetRecord(-3).offset, 32u);
    EXPECT_EQ(index.FindTime(-1, -1, kBase + 4, 999999), 5); // past the last: the count
    EXPECT_EQ(index.FindTime(2, 2, kBase, 0), 2);
    // Same second, nearest microseconds (records hold 0 us each, one a second).
    EXPECT_EQ(index.FindNearest(1, kBase + 1, 400000), 1);
    EXPECT_EQ(index.FindNearest(2, kBase + 2, 0), 2);  // equal microseconds
    EXPECT_EQ(index.FindNearest(4, kBase + 4, 5), 4);  // past the last record: no neighbour
}

TEST(MovieIndex, FindTimeFindsAKeyFrameLaterInTheStartSecond)
{
    TempDir dir;
    const std::string path = dir.path() + "/x.mp4i";
    {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        const IndexRecord records[3] = {{100, 0, 32}, {101, 300000, 500}, {102, 700000, 900}};
        for (const IndexRecord& r : records) {
            uint8_t bytes[12];
            r.Encode(bytes);
            std::fwrite(bytes, 1, sizeof bytes, f);
        }
        std::fclose(f);
    }
    CMovieIndex index;
    ASSERT_TRUE(index.Load(path));
    EXPECT_EQ(index.FindTime(-1, -1, 100, 0), 0);
    EXPECT_EQ(index.FindTime(-1, -1, 101, 0), 1); // .300 lies inside the second started at .000
    EXPECT_EQ(index.FindTime(-1, -1, 101, 300000), 1);
    EXPECT_EQ(index.FindTime(-1, -1, 101, 300001), 2);
    EXPECT_EQ(index.FindTime(-1, -1, 102, 800000), 3); // past the last: the count
}

TEST(MovieIndex, FindNearestPicksTheCloserRecordOfTheSameSecond)
{
    TempDir dir;
    const std::string path = dir.path() + "/idx";
    {
        std::ofstream out(path, std::ios::binary);
        for (uint32_t us : {100000u, 400000u, 800000u}) {
            uint8_t rec[12];
            IndexRecord{kBase, us, 32 + us / 1000}.Encode(rec);
            out.write(reinterpret_cast<const char*>(rec), 12);
        }
    }
    CMovieIndex index;
    ASSERT_TRUE(index.Load(path));
    EXPECT_EQ(index.FindNearest(0, kBase, 300000), 1);
    EXPECT_EQ(index.FindNearest(0, kBase, 250000), 0); // equal distance keeps i
    EXPECT_EQ(index.FindNearest(2, kBase, 500000), 1);
    EXPECT_EQ(index.FindNearest(2, kBase, 600000), 2); // equal distance keeps i
    EXPECT_EQ(index.FindNearest(0, kBase, 50000), 0);  // no record before 0
}

TEST(MovieIndex, EmptyPartialAndOversizedIndexesStayInBounds)
{
    TempDir dir;
    const std::string empty = dir.path() + "/empty";
    std::ofstream(empty, std::ios::binary).close();
    CMovieIndex index;
    ASSERT_TRUE(index.Load(empty));
    EXPECT_EQ(index.Count(), 0);
    EXPECT_EQ(index.GetOffset(0), 0u);
    EXPECT_EQ(index.FindTime(-1, -1, kBase, 0), 0);
    EXPECT_FALSE(index.Load(dir.path() + "/missing"));
    EXPECT_EQ(index.Count(), 0);

    // Two records and 7 stray bytes: the stray bytes are no record.
    const std::string partial = dir.path() + "/partial";
    {
        std::ofstream out(partial, std::ios::binary);
        uint8_t rec[12];
        IndexRecord{kBase, 0, 32}.Encode(rec);
        out.write(reinterpret_cast<const char*>(rec), 12);
        IndexRecord{kBase + 1, 0, 500}.Encode(rec);
        out.write(reinterpret_cast<const char*>(rec), 12);
        out.write("\x01\x02\x03\x04\x05\x06\x07", 7);
    }
    ASSERT_TRUE(index.Load(partial));
    EXPECT_EQ(index.Count(), 2);
    EXPECT_EQ(index.GetOffset(2), 500u);

    // One record more than the table holds: the rest is not read.
    const std::string big = dir.path() + "/big";
    {
        std::vector<uint8_t> bytes((static_cast<std::size_t>(kMaxIndexRecords) + 1) * 12);
        for (std::size_t k = 0; k <= kMaxIndexRecords; ++k)
            IndexRecord{kBase, 0, static_cast<uint32_t>(32 + k)}.Encode(bytes.data() + k * 12);
        std::ofstream(big, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                   static_cast<std::streamsize>(bytes.size()));
    }
    ASSERT_TRUE(index.Load(big));
    EXPECT_EQ(index.Count(), static_cast<int>(kMaxIndexRecords));
    EXPECT_EQ(index.GetOffset(static_cast<int>(kMaxIndexRecords)), 32u + kMaxIndexRecords - 1);
}

TEST(MovieReaderFaults, CutAndOversizedRecordsEndTheFileWithoutReadingPastIt)
{
    TempDir dir;
    const Movie m = WriteMovie(dir.path() + "/F.C.20090307.100000.00.mp4", 20, 10);
    const auto size = std::filesystem::file_size(m.path);

    // Cut inside the last payload: -3; inside the last header: -2.
    for (auto [cut, expected] : {std::pair<uintmax_t, int>{size - 5, -3}, {size - 119 - 10, -2}}) {
        const std::string copy = dir.path() + "/F.C.20090307.100000.01.mp4";
        std::filesystem::copy_file(m.path, copy, std::filesystem::copy_options::overwrite_existing);
        std::filesystem::copy_file(m.path + "i", copy + "i", std::filesystem::copy_options::overwrite_existing);
        std::filesystem::resize_file(copy, cut);
        CMovieFileReader reader;
        ASSERT_EQ(reader.Open(copy, copy + "i"), 1);
        reader.Play();
        int frames = 0, result;
        while ((result = reader.ReadNext()) == 1)
            ++frames;
        EXPECT_EQ(frames, 19);
        EXPECT_EQ(result, expected);
        EXPECT_EQ(reader.EndFlag(), 1);
    }

    // A length field far beyond any frame: a read failure, nothing read.
    {
        std::fstream f(m.path, std::ios::in | std::ios::out | std::ios::binary);
        uint8_t word[4];
        WriteLE32(word, MovieFrameHeader::MakeBits(kLengthMask, 0, 0, 0));
        f.seekp(32 + 4);
        f.write(reinterpret_cast<const char*>(word), 4);
    }
    CMovieFileReader reader;
    ASSERT_EQ(reader.Open(m.path, m.path + "i"), 1);
    reader.Play();
    EXPECT_EQ(reader.ReadNext(), -3);
    EXPECT_EQ(reader.EndFlag(), 1);
    EXPECT_LE(reader.PayloadLength(), kMaxFramePayload);

    // The largest frame the link gives is accepted.
    const std::string big = dir.path() + "/F.C.20090307.100000.02.mp4";
    {
        std::ofstream out(big, std::ios::binary);
        const Bytes32 fh{};
        out.write(reinterpret_cast<const char*>(fh.data()), 32);
        MovieFrameHeader h;
        h.bits = MovieFrameHeader::MakeBits(kMaxFramePayload, 0, 0, 0);
        const Bytes32 b = h.Encoded();
        out.write(reinterpret_cast<const char*>(b.data()), 32);
        std::vector<char> payload(kMaxFramePayload, 7);
        out.write(payload.data(), static_cast<std::streamsize>(payload.size()));
        std::ofstream(big + "i", std::ios::binary).close();
    }
    CMovieFileReader large;
    ASSERT_EQ(large.Open(big, big + "i"), 1);
    large.Play();
    EXPECT_EQ(large.ReadNext(), 1);
    EXPECT_EQ(large.Payload()[kMaxFramePayload - 1], 7);
    EXPECT_EQ(large.Payload()[kMaxFramePayload], 0); // zeroed read-ahead
    // An empty index: a seek reports the end.
    large.SeekTime(kBase, 0);
    EXPECT_EQ(large.EndFlag(), 1);
}

TEST(MovieReaderFaults, OpenFailsWithoutTheIndexOrTheFileAndAClosedReaderReportsTheEnd)
{
    TempDir dir;
    const Movie m = WriteMovie(dir.path() + "/F.C.20090307.100000.00.mp4", 10, 10);
    CMovieFileReader reader;
    EXPECT_EQ(reader.Open(m.path, m.path + "x"), 0);
    EXPECT_EQ(reader.DataPath(), m.path);
    EXPECT_EQ(reader.Open(m.path + "x", m.path + "i"), 0);
    ASSERT_EQ(reader.Open(m.path, m.path + "i"), 1);
    reader.Close();
    EXPECT_EQ(reader.ReadFrame(), -1);
    EXPECT_EQ(reader.EndFlag(), 1);
}

TEST(MovieReaderNames, ChannelAndNameComeFromTheFilesOwnName)
{
    CMovieFileReader reader;
    reader.ParseFileName("/home/a.b/v1.2/2009-03-07/F.Garage.20090307.102000.03.mp4");
    EXPECT_EQ(reader.ChannelIndex(), 3);
    EXPECT_EQ(reader.ChannelName(), "Garage");
    reader.ParseFileName("x");
    EXPECT_EQ(reader.ChannelIndex(), 0);
    EXPECT_EQ(reader.ChannelName(), "");
}

} // namespace
