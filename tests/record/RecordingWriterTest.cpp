// The recording writer against real files in temporary directories, with
// its clock driven by the test.
#include "RecordTestSupport.h"

#include "control/record/CMovieFileReader.h"
#include "control/record/CRecordCatalog.h"
#include "control/record/MovieFormat.h"
#include "control/record/RecordingWriter.h"

#include <algorithm>
#include <fstream>
#include <memory>
#include <thread>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <sys/wait.h>
#include <filesystem>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

namespace {

using namespace recordtest;
using vyrdax::RecordingWriter;

struct Notices {
    std::vector<int> stopped;
    std::vector<int> errors;
    RecordingWriter::Notices make()
    {
        RecordingWriter::Notices n;
        n.stopped = [this](int ch) { stopped.push_back(ch); };
        n.fileError = [this](int ch) { errors.push_back(ch); };
        return n;
    }
};

class Writer : public ::testing::Test {
protected:
    ScopedTimeZone zone{"UTC"};
    TempDir dir;
    FakeClock clock;
    Notices notices;
    RecordingWriter writer{notices.make(), clock.clock()};

    // Feeds frames of the encoded loop, 1/30 s apart, until the clock
    // reaches `until` (seconds), starting at loop position `position`.
    int Feed(int channel, std::time_t until, int position = 0, int dvrChannel = 19)
    {
        const auto& frames = EncodedFrames();
        while (clock.seconds.load() < until) {
            const Frame& f = frames[static_cast<std::size_t>(position) % frames.size()];
            writer.WriteRecordFrame(channel, f.bytes.data(),
                                    MakeInfo(f, dvrChannel, 352, 240, static_cast<uint32_t>(position % 10)));
            ++position;
            clock.advanceMs(33);
        }
        return position;
    }
};

TEST_F(Writer, SplitsAtTheTwentyMinuteMarkIntoAFileThatStartsWithAKeyFrame)
{
    clock.seconds = LocalTime(2009, 3, 7, 10, 19, 50);
    writer.StartRecord(true, dir.path(), "F.Garage.20090307.101950.03.mp4", "F.Garage", 3);
    EXPECT_TRUE(writer.IsRecording(3));
    // Start in the middle of a group: frames before the first key frame never reach the file.
    const int sent = Feed(3, LocalTime(2009, 3, 7, 10, 20, 5), 4) - 4;

    const std::string day = dir.path() + "/2009-03-07";
    const std::vector<std::string> files = ListFiles(day);
    ASSERT_EQ(files.size(), 4u);
    EXPECT_EQ(files[0], "F.Garage.20090307.101950.03.mp4");
    EXPECT_EQ(files[1], "F.Garage.20090307.101950.03.mp4i");
    EXPECT_EQ(files[2], "F.Garage.20090307.102000.03.mp4");
    EXPECT_EQ(files[3], "F.Garage.20090307.102000.03.mp4i");
    EXPECT_EQ(notices.stopped, std::vector<int>{3}); // the split told the host
    EXPECT_TRUE(notices.errors.empty());
    EXPECT_TRUE(writer.IsRecording(3));

    writer.StopRecord(true, 3);
    EXPECT_FALSE(writer.IsRecording(3));
    EXPECT_EQ(notices.stopped.size(), 2u);

    for (int k : {0, 2}) {
        const ParsedMovie m = ParseMovie(day + "/" + files[static_cast<std::size_t>(k)]);
        ASSERT_TRUE(m.ok) << files[static_cast<std::size_t>(k)] << ": " << m.problem;
        EXPECT_TRUE(m.indexOk) << files[static_cast<std::size_t>(k)];
        ASSERT_FALSE(m.frames.empty());
        EXPECT_EQ(m.frames.front().offset, 32u);
        EXPECT_TRUE(m.frames.front().key);
        EXPECT_EQ(m.indexOffsets.front(), 32u);
    }
    // The first file runs on past the mark up to the first key frame after
    // it, which begins the second: nothing is lost at the split, only the
    // six frames before the recording's first key frame.
    const ParsedMovie first = ParseMovie(day + "/" + files[0]);
    const ParsedMovie second = ParseMovie(day + "/" + files[2]);
    const auto seconds = [](const ParsedFrame& f) { return static_cast<int32_t>(LE32(f.header + 24)); };
    EXPECT_EQ(static_cast<int>(first.frames.size() + second.frames.size()), sent - 6);
    EXPECT_GE(seconds(first.frames.back()), LocalTime(2009, 3, 7, 10, 20, 0));
    EXPECT_LT(LE32(first.frames.back().header + 20) + seconds(first.frames.back()) * 1000000LL,
              LE32(second.frames.front().header + 20) + seconds(second.frames.front()) * 1000000LL);
    for (std::size_t k = 0; k < first.frames.size(); ++k) {
        if (seconds(first.frames[k]) >= LocalTime(2009, 3, 7, 10, 20, 0)) {
            EXPECT_FALSE(first.frames[k].key) << k;
        }
    }
    EXPECT_GE(seconds(second.frames.front()), LocalTime(2009, 3, 7, 10, 20, 0));
}

// The frames of a recording by the true times in their headers and index.
std::vector<int32_t> FrameSeconds(const std::string& directory)
{
    std::vector<int32_t> all;
    for (const auto& e : std::filesystem::recursive_directory_iterator(directory))
        if (e.path().extension() == ".mp4") {
            const ParsedMovie m = ParseMovie(e.path().string());
            EXPECT_TRUE(m.ok && m.indexOk) << e.path() << ": " << m.problem;
            for (const ParsedFrame& f : m.frames)
                all.push_back(static_cast<int32_t>(LE32(f.header + 24)));
        }
    std::sort(all.begin(), all.end());
    return all;
}

// Both daylight-saving nights of Europe/Berlin, recorded from 01:30 local
// time to 03:30: frame and index times are the true seconds, one file per
// 20 minutes of the local clock, and the hour the clock repeats in autumn
// gets files of its own beside the first one's.
TEST_F(Writer, DaylightSavingNightsKeepTrueTimesAndEveryFile)
{
    ScopedTimeZone berlin("Europe/Berlin");
    struct Night {
        std::time_t from;
        std::time_t to;
        std::size_t files;
    };
    // Spring: 01:30 CET to 03:30 CEST is one hour: 01:30, 01:40, 03:00, 03:20.
    // Autumn: 01:30 CEST to 03:30 CET is three hours: 01:30, 01:40, 02:00,
    // 02:20, 02:40 (CEST), 02:00, 02:20, 02:40 (CET), 03:00, 03:20.
    for (const Night& night : {Night{LocalTime(2026, 3, 29, 1, 30, 0), LocalTime(2026, 3, 29, 3, 30, 0), 4},
                               Night{1792884600 /* 2026-10-25 01:30 CEST */, 1792895400 /* 03:30 CET */, 10}}) {
        TempDir nightDir;
        RecordingWriter nightWriter(notices.make(), clock.clock());
        clock.seconds = night.from;
        clock.milliseconds = 0;
        std::tm local{};
        localtime_r(&night.from, &local);
        nightWriter.StartRecord(true, nightDir.path(), vyrmovie::RecordingFileName("F.Door", local, 1), "F.Door", 1);
        const auto& frames = EncodedFrames();
        int sent = 0;
        // One frame a second keeps two hours of frames small; a key frame
        // every ten.
        for (std::time_t t = night.from; t < night.to; ++t, ++sent) {
            clock.seconds = t;
            const Frame& f = frames[static_cast<std::size_t>(sent % 10 == 0 ? 0 : 1 + sent % 9)];
            vyrdax::FrameInfo info = MakeInfo(f, 1, 352, 240, 0);
            info.SetWord(vyrdax::FrameInfo::kFrameType, sent % 10 == 0 ? 0 : 1);
            nightWriter.WriteRecordFrame(1, f.bytes.data(), info);
        }
        nightWriter.StopRecord(true, 1);
        const std::vector<int32_t> seconds = FrameSeconds(nightDir.path());
        ASSERT_EQ(seconds.size(), static_cast<std::size_t>(sent));
        for (std::size_t k = 0; k < seconds.size(); ++k)
            ASSERT_EQ(seconds[k], night.from + static_cast<std::time_t>(k)) << k;
        EXPECT_EQ(ListFiles(nightDir.path() + "/" + vyrmovie::DayDirectoryName(local)).size(), 2 * night.files);
    }
}

TEST_F(Writer, FrameHeadersCarryTheFieldsOfTheFrameAndThePcClock)
{
    clock.seconds = LocalTime(2009, 3, 7, 10, 0, 0);
    clock.milliseconds = 250;
    writer.StartRecord(true, dir.path(), "M.Lobby.20090307.100000.05.mp4", "M.Lobby", 5);
    const auto& frames = EncodedFrames();
    writer.WriteRecordFrame(5, frames[0].bytes.data(), MakeInfo(frames[0], 19, 352, 240, 0));
    clock.advanceMs(33);
    vyrdax::FrameInfo second = MakeInfo(frames[1], 19, 352, 240, 0x12345);
    second.SetWord(vyrdax::FrameInfo::kFrameType, 2);
    writer.WriteRecordFrame(5, frames[1].bytes.data(), second);
    writer.StopRecord(true, 5);

    const ParsedMovie m = ParseMovie(dir.path() + "/2009-03-07/M.Lobby.20090307.100000.05.mp4");
    ASSERT_TRUE(m.ok) << m.problem;
    ASSERT_EQ(m.frames.size(), 2u);
    const uint8_t* h = m.frames[1].header;
    EXPECT_EQ(h[2], 0xA5);                            // first stream byte
    EXPECT_EQ(h[3], 1);                               // interval code
    const uint32_t bits = LE32(h + 4);
    EXPECT_EQ(bits & 0xFFFFF, frames[1].bytes.size());
    EXPECT_EQ((bits >> 21) & 3, 2u);                  // frame type
    EXPECT_EQ((bits >> 24) & 0xF, 19u % 16);          // DVR channel modulo 16
    EXPECT_EQ(bits >> 28, 0x2u);                      // low event nibble of 0x12
    EXPECT_EQ(h[8] | h[9] << 8, 352);
    EXPECT_EQ(h[10] | h[11] << 8, 240);
    EXPECT_EQ(h[12], 109);                            // 2009 - 1900
    EXPECT_EQ(h[13], 3);
    EXPECT_EQ(h[14], 7);
    EXPECT_EQ(h[15], 10);
    EXPECT_EQ(h[16], 19);
    EXPECT_EQ(h[17], 50);
    EXPECT_EQ(h[18] | h[19], 0);
    EXPECT_EQ(LE32(h + 20), 283000u);                 // (250 + 33) ms in microseconds
    EXPECT_EQ(static_cast<int32_t>(LE32(h + 24)), LocalTime(2009, 3, 7, 10, 0, 0));
    EXPECT_EQ(h[28] | h[29] << 8, 0x2345);            // low 16 bits of the stream word
    EXPECT_EQ(h[30] | h[31] << 8, 1);
    // The file header holds the first frame's DVR time at 16..21, zeros elsewhere.
    for (int k = 0; k < 32; ++k) {
        if (k >= 16 && k <= 21)
            EXPECT_EQ(m.fileHeader[k], m.frames[0].header[12 + k - 16]) << k;
        else
            EXPECT_EQ(m.fileHeader[k], 0) << k;
    }
}

TEST_F(Writer, TheEventNibbleCarriesTheStreamsInterlace)
{
    clock.seconds = LocalTime(2009, 3, 7, 10, 0, 0);
    writer.StartRecord(true, dir.path(), "M.Lobby.20090307.100000.05.mp4", "M.Lobby", 5);
    const auto& frames = EncodedFrames();
    // Interlace words 1 and 0, and one the DVR never sends; events 0x12, 0x1F.
    const uint32_t interlace[4] = {1, 0, 1, 2};
    const uint32_t events[4] = {0x12, 0x1F, 0x1F, 0x1F};
    for (int k = 0; k < 4; ++k) {
        vyrdax::FrameInfo info = MakeInfo(frames[k], 19, 352, 240, 0);
        info.SetWord(vyrdax::FrameInfo::kInterlace, interlace[k]);
        info.SetWord(vyrdax::FrameInfo::kEventBits, events[k]);
        writer.WriteRecordFrame(5, frames[k].bytes.data(), info);
        clock.advanceMs(33);
    }
    writer.StopRecord(true, 5);
    const ParsedMovie m = ParseMovie(dir.path() + "/2009-03-07/M.Lobby.20090307.100000.05.mp4");
    ASSERT_EQ(m.frames.size(), 4u);
    const uint32_t expected[4] = {12 + 2, 7, 12 + 3, 7};
    for (int k = 0; k < 4; ++k)
        EXPECT_EQ(LE32(m.frames[static_cast<std::size_t>(k)].header + 4) >> 28, expected[k]) << k;
}

TEST_F(Writer, ARecordingOverMidnightContinuesInTheNextDaysDirectory)
{
    clock.seconds = LocalTime(2009, 12, 31, 23, 55, 0);
    writer.StartRecord(true, dir.path(), "R.Yard.20091231.235500.00.mp4", "R.Yard", 0);
    int position = Feed(0, LocalTime(2009, 12, 31, 23, 55, 3));
    clock.seconds = LocalTime(2010, 1, 1, 0, 4, 58); // the PC clock runs on past midnight
    Feed(0, LocalTime(2010, 1, 1, 0, 5, 2), position);
    writer.StopRecord(true, 0);

    EXPECT_EQ(ListFiles(dir.path() + "/2009-12-31"),
              (std::vector<std::string>{"R.Yard.20091231.235500.00.mp4", "R.Yard.20091231.235500.00.mp4i"}));
    const std::vector<std::string> next = ListFiles(dir.path() + "/2010-01-01");
    ASSERT_EQ(next.size(), 2u);
    EXPECT_EQ(next[0], "R.Yard.20100101.000458.00.mp4");
    const ParsedMovie m = ParseMovie(dir.path() + "/2010-01-01/" + next[0]);
    EXPECT_TRUE(m.ok) << m.problem;
    EXPECT_TRUE(m.indexOk);
    EXPECT_FALSE(m.frames.empty());
}

// The host names a recording from its clock a moment before the control
// reads the clock to open it. When midnight falls between the two readings
// the file lies in the directory of its name's day, and the catalogue marks
// that day alone and lists the file in that day's list (the list playback
// and backups take): at a month end, a year end, and the two nights a clock
// changes at midnight (one skips 00:00 to 01:00, the other repeats 23:00 to
// 00:00 and crosses midnight after the second pass).
TEST(WriterMidnight, AFileNamedBeforeMidnightAndOpenedAfterItLiesInItsNamesDay)
{
    struct Case {
        const char* zone;
        int year, month, day; // the day that begins between naming and opening
    };
    const Case cases[] = {
        {"UTC", 2027, 4, 1},
        {"UTC", 2028, 1, 1},
        {"America/Sao_Paulo", 2018, 11, 4},
        {"America/Sao_Paulo", 2019, 2, 17},
    };
    const auto& frames = EncodedFrames();
    for (const Case& k : cases) {
        SCOPED_TRACE(std::string(k.zone) + " " + std::to_string(k.year) + "-" + std::to_string(k.month) + "-" +
                     std::to_string(k.day));
        ScopedTimeZone zone(k.zone);
        TempDir dir;
        FakeClock clock;
        Notices notices;
        RecordingWriter writer(notices.make(), clock.clock());
        const std::time_t opened = LocalTime(k.year, k.month, k.day, 0, 0, 0);
        const std::time_t named = opened - 1;
        std::tm nameLocal{}, openLocal{};
        localtime_r(&named, &nameLocal);
        localtime_r(&opened, &openLocal);
        ASSERT_NE(nameLocal.tm_mday, openLocal.tm_mday);
        const std::string name = vyrmovie::RecordingFileName("F.Gate", nameLocal, 1);
        const std::string aviName = name.substr(0, name.size() - 3) + "avi";
        const std::string expected = vyrmovie::DayDirectory(dir.path(), nameLocal) + "/" + name;

        clock.seconds = opened;
        clock.milliseconds = 20; // 30 ms after the name's 23:59:59.990
        writer.StartRecord(true, dir.path(), name, "F.Gate", 1);
        writer.StartRecord(false, dir.path(), aviName, "F.Gate", 2);
        EXPECT_EQ(writer.AviPath(2), vyrmovie::DayDirectory(dir.path(), nameLocal) + "/" + aviName);
        for (int i = 0; i < 20; ++i) {
            const Frame& f = frames[static_cast<std::size_t>(i)];
            writer.WriteRecordFrame(1, f.bytes.data(), MakeInfo(f, 1, 352, 240, static_cast<uint32_t>(i % 10)));
            clock.advanceMs(33);
        }
        writer.StopRecord(true, 1);
        EXPECT_TRUE(notices.errors.empty());
        EXPECT_EQ(writer.MoviePath(1), expected);
        const ParsedMovie m = ParseMovie(expected);
        EXPECT_TRUE(m.ok && m.indexOk) << m.problem;
        EXPECT_EQ(m.frames.size(), 20u);
        EXPECT_EQ(ListFiles(vyrmovie::DayDirectory(dir.path(), openLocal)), std::vector<std::string>{});
        // The file was last written by the clock that the writer read.
        const utimbuf written{clock.seconds.load(), clock.seconds.load()};
        ASSERT_EQ(::utime(expected.c_str(), &written), 0);

        const int year = nameLocal.tm_year + 1900, month = nameLocal.tm_mon + 1, day = nameLocal.tm_mday;
        vyrdax::CRecordCatalog catalog;
        catalog.GetMonthDataL(dir.path(), MonthPattern(year, month));
        EXPECT_EQ(MarkedDays(catalog), std::vector<int>{day});
        catalog.GetMonthDataL(dir.path(), MonthPattern(k.year, k.month));
        EXPECT_EQ(MarkedDays(catalog), k.month == month ? std::vector<int>{day} : std::vector<int>{});
        catalog.FindRecordingFile(dir.path(), year, month, day);
        EXPECT_EQ(catalog.SlotFiles(1, 47), std::vector<std::string>{expected});
        EXPECT_EQ(catalog.TimeCode(1, 47), vyrdax::KIND_MANUAL);
        catalog.FindRecordingFile(dir.path(), k.year, k.month, k.day);
        EXPECT_TRUE(catalog.ChannelFiles(1).empty());
    }
}

TEST_F(Writer, ASecondStartOnlyRenamesTheNextFileAndAStopOfAnIdleChannelStillTellsTheHost)
{
    clock.seconds = LocalTime(2009, 3, 7, 10, 10, 0);
    writer.StartRecord(true, dir.path(), "F.A.20090307.101000.01.mp4", "F.A", 1);
    int position = Feed(1, LocalTime(2009, 3, 7, 10, 10, 2));
    writer.StartRecord(true, dir.path(), "S.A.20090307.101002.01.mp4", "S.A", 1);
    Feed(1, LocalTime(2009, 3, 7, 10, 20, 1), position);
    writer.StopRecord(true, 1);
    EXPECT_EQ(ListFiles(dir.path() + "/2009-03-07"),
              (std::vector<std::string>{"F.A.20090307.101000.01.mp4", "F.A.20090307.101000.01.mp4i",
                                        "S.A.20090307.102000.01.mp4", "S.A.20090307.102000.01.mp4i"}));
    notices.stopped.clear();
    writer.StopRecord(true, 9);
    EXPECT_EQ(notices.stopped, std::vector<int>{9});
}

TEST_F(Writer, AnUnwritableDirectoryStopsTheChannelWithOneMessage)
{
    std::string target = dir.path() + "/locked";
    ::mkdir(target.c_str(), 0555);
    const std::string probe = target + "/probe";
    if (FILE* f = std::fopen(probe.c_str(), "w")) { // root writes anywhere: use a read-only file system
        std::fclose(f);
        target = "/proc/self";
    }
    clock.seconds = LocalTime(2009, 3, 7, 10, 0, 0);
    writer.StartRecord(true, target, "F.A.20090307.100000.02.mp4", "F.A", 2);
    Feed(2, LocalTime(2009, 3, 7, 10, 0, 2));
    EXPECT_FALSE(writer.IsRecording(2));
    EXPECT_EQ(notices.errors, std::vector<int>{2});
    EXPECT_EQ(notices.stopped, std::vector<int>{2});
}

TEST_F(Writer, AShortWriteClosesTheFilesWithAnIndexOfWrittenFramesOnly)
{
    // The process may write no file beyond 200 kB: writes past it come
    // short, as on a full disk.
    rlimit previous{};
    ::getrlimit(RLIMIT_FSIZE, &previous);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = previous;
    limited.rlim_cur = 200 * 1024;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    clock.seconds = LocalTime(2009, 3, 7, 10, 0, 0);
    writer.StartRecord(true, dir.path(), "F.A.20090307.100000.04.mp4", "F.A", 4);
    Feed(4, LocalTime(2009, 3, 7, 10, 0, 30));
    ::setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(writer.IsRecording(4));
    EXPECT_EQ(notices.errors, std::vector<int>{4});
    EXPECT_EQ(notices.stopped, std::vector<int>{4});
    const std::string movie = dir.path() + "/2009-03-07/F.A.20090307.100000.04.mp4";
    // Cut back to the last whole frame that reached the disk.
    EXPECT_LE(std::filesystem::file_size(movie), 200u * 1024u);
    EXPECT_GT(std::filesystem::file_size(movie), 100u * 1024u);
    const ParsedMovie m = ParseMovie(movie);
    EXPECT_TRUE(m.ok) << m.problem;
    ASSERT_FALSE(m.indexOffsets.empty());
    for (uint32_t offset : m.indexOffsets) {
        auto f = std::find_if(m.frames.begin(), m.frames.end(), [&](const ParsedFrame& p) { return p.offset == offset; });
        ASSERT_NE(f, m.frames.end()) << offset; // whole frame on file
        EXPECT_TRUE(f->key);
    }
    // The control's reader plays every frame to the end of the file.
    vyrmovie::CMovieFileReader reader;
    ASSERT_EQ(reader.Open(movie, movie + "i"), 1);
    reader.Play();
    std::size_t read = 0;
    int result;
    while ((result = reader.ReadNext()) == 1)
        ++read;
    EXPECT_EQ(read, m.frames.size());
    EXPECT_EQ(reader.EndFlag(), 1);
    // movdump finds file and index in agreement.
    EXPECT_EQ(WEXITSTATUS(std::system((std::string(MOVDUMP_PATH) + " --quiet " + movie + " > /dev/null").c_str())), 0);
}

TEST_F(Writer, FramesOutsideThePictureLimitsAreNotRecorded)
{
    clock.seconds = LocalTime(2009, 3, 7, 10, 0, 0);
    writer.StartRecord(true, dir.path(), "F.A.20090307.100000.06.mp4", "F.A", 6);
    const auto& frames = EncodedFrames();
    writer.WriteRecordFrame(6, frames[0].bytes.data(), MakeInfo(frames[0], 6, 721, 240, 0));
    writer.WriteRecordFrame(6, frames[0].bytes.data(), MakeInfo(frames[0], 6, 352, 577, 0));
    EXPECT_FALSE(std::filesystem::exists(dir.path() + "/2009-03-07/F.A.20090307.100000.06.mp4"));
    writer.WriteRecordFrame(6, frames[0].bytes.data(), MakeInfo(frames[0], 6, 720, 576, 0));
    EXPECT_TRUE(writer.IsRecording(6));
    writer.StopRecord(true, 6);
    EXPECT_EQ(ParseMovie(dir.path() + "/2009-03-07/F.A.20090307.100000.06.mp4").frames.size(), 1u);
}

// Feeds the same frames to every channel in `channels`, 1/30 s apart, until
// the clock reaches `until`.
void FeedChannels(RecordingWriter& writer, FakeClock& clock, const std::vector<int>& channels, std::time_t until)
{
    const auto& frames = EncodedFrames();
    for (int position = 0; clock.seconds.load() < until; ++position) {
        const Frame& f = frames[static_cast<std::size_t>(position) % frames.size()];
        for (int ch : channels)
            writer.WriteRecordFrame(ch, f.bytes.data(), MakeInfo(f, ch, 352, 240, static_cast<uint32_t>(position % 10)));
        clock.advanceMs(33);
    }
}

// Four channels start recording at 10:00:00 of 7 March 2009.
void StartFourChannels(RecordingWriter& writer, FakeClock& clock, const std::string& directory)
{
    clock.seconds = LocalTime(2009, 3, 7, 10, 0, 0);
    clock.milliseconds = 0;
    const std::time_t now = clock.seconds.load();
    std::tm local{};
    localtime_r(&now, &local);
    for (int ch = 0; ch < 4; ++ch) {
        const std::string prefix = "F.Cam" + std::to_string(ch);
        writer.StartRecord(true, directory, vyrmovie::RecordingFileName(prefix, local, ch), prefix, ch);
    }
}

std::vector<int> Sorted(std::vector<int> v)
{
    std::sort(v.begin(), v.end());
    return v;
}

// A recording that the full disk lets hold no whole frame (nothing written
// at all, less than the file header, less than the first key frame) leaves
// no files: no empty movie file, no index. Each channel still gets its box
// and its stopped notice, once.
TEST_F(Writer, ARecordingThatHoldsNoWholeFrameLeavesNoFiles)
{
    ASSERT_GT(EncodedFrames()[0].bytes.size(), 4096u) << "the first key frame must not fit";
    const std::vector<int> channels = {0, 1, 2, 3};
    for (const rlim_t limit : {rlim_t{0}, rlim_t{20}, rlim_t{1000}}) {
        SCOPED_TRACE(limit);
        TempDir full;
        Notices fullNotices;
        RecordingWriter fullWriter(fullNotices.make(), clock.clock());
        StartFourChannels(fullWriter, clock, full.path());
        rlimit previous{};
        ::getrlimit(RLIMIT_FSIZE, &previous);
        auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = previous;
        limited.rlim_cur = limit;
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
        FeedChannels(fullWriter, clock, channels, LocalTime(2009, 3, 7, 10, 0, 3));
        for (int ch : channels)
            fullWriter.StopRecord(true, ch); // a file whose buffer never filled meets the disk here
        ::setrlimit(RLIMIT_FSIZE, &previous);
        std::signal(SIGXFSZ, oldHandler);
        EXPECT_EQ(Sorted(fullNotices.errors), channels);
        // The fault's notice, and the stop's for a channel already stopped.
        std::vector<int> twice;
        for (int ch : channels)
            twice.insert(twice.end(), {ch, ch});
        EXPECT_EQ(Sorted(fullNotices.stopped), twice);
        EXPECT_EQ(ListFiles(full.path() + "/2009-03-07"), std::vector<std::string>{});
    }

    // An index on a full disk from the start (here /dev/full), its movie
    // file not: no key frame can be found by the index, so no frame stays.
    {
        TempDir full;
        Notices fullNotices;
        RecordingWriter fullWriter(fullNotices.make(), clock.clock());
        clock.seconds = LocalTime(2009, 3, 7, 10, 0, 0);
        const std::string day = full.path() + "/2009-03-07";
        std::filesystem::create_directories(day);
        const std::string name = "F.Cam5.20090307.100000.05.mp4";
        std::filesystem::create_symlink("/dev/full", day + "/" + name + "i");
        fullWriter.StartRecord(true, full.path(), name, "F.Cam5", 5);
        FeedChannels(fullWriter, clock, {5}, LocalTime(2009, 3, 7, 10, 0, 3));
        if (fullWriter.IsRecording(5))
            fullWriter.StopRecord(true, 5);
        EXPECT_EQ(fullNotices.errors, std::vector<int>{5});
        EXPECT_EQ(ListFiles(day), std::vector<std::string>{});
    }

    // A file system with one page: the first key frame of no channel fits.
    TempDir kept;
    const int status = RunOnSmallDisk(4096, kept.path(), [this, &channels](const std::string& disk) {
        Notices diskNotices;
        RecordingWriter diskWriter(diskNotices.make(), clock.clock());
        StartFourChannels(diskWriter, clock, disk);
        FeedChannels(diskWriter, clock, channels, LocalTime(2009, 3, 7, 10, 0, 3));
        for (int ch : channels)
            if (diskWriter.IsRecording(ch))
                diskWriter.StopRecord(true, ch);
        return Sorted(diskNotices.errors) == channels ? 0 : 1;
    });
    if (status == kNoSmallDisk)
        GTEST_SKIP() << "no tmpfs can be mounted here; the file-size limit cases ran";
    EXPECT_EQ(status, 0) << "each channel reports its fault once";
    EXPECT_EQ(ListFiles(kept.path() + "/2009-03-07"), std::vector<std::string>{});
}

// A name that is taken gets the next free second, counted as a clock
// counts: into the next minute, hour, day, month and year, over a leap day,
// and on past a following second that is taken too. A name carried into
// the next day lies in that day's directory, where the catalogue's day
// searches look first.
TEST_F(Writer, ATakenNameCarriesItsSecondIntoTheNextMinuteHourDayMonthAndYear)
{
    struct Case {
        int year, month, day, hour, minute, second;
        const char* expected; // directory and name, the prefix and channel left out
    };
    const Case cases[] = {
        {2009, 3, 7, 10, 19, 58, "2009-03-07/20090307.102000"}, // 58 and 59 taken
        {2009, 3, 7, 10, 59, 59, "2009-03-07/20090307.110000"},
        {2009, 3, 7, 23, 59, 59, "2009-03-08/20090308.000000"},
        {2008, 2, 28, 23, 59, 59, "2008-02-29/20080229.000000"},
        {2009, 2, 28, 23, 59, 59, "2009-03-01/20090301.000000"},
        {2009, 12, 31, 23, 59, 59, "2010-01-01/20100101.000000"},
    };
    const auto& frames = EncodedFrames();
    int channel = 0;
    std::vector<std::pair<std::string, int>> made;
    for (const Case& k : cases) {
        SCOPED_TRACE(k.expected);
        const std::time_t when = LocalTime(k.year, k.month, k.day, k.hour, k.minute, k.second);
        std::tm local{};
        localtime_r(&when, &local);
        const std::string prefix = "F.Cam" + std::to_string(channel);
        const std::string name = vyrmovie::RecordingFileName(prefix, local, channel);
        const std::string day = vyrmovie::DayDirectory(dir.path(), local);
        std::filesystem::create_directories(day);
        // The taken names: an earlier recording of the same second (and of
        // the next one for the first case).
        std::vector<std::string> taken = {day + "/" + name};
        if (k.second == 58)
            taken.push_back(vyrmovie::NextSecondRecordingPath(taken.front()));
        for (const std::string& t : taken)
            std::ofstream(t) << "the earlier recording";

        clock.seconds = when;
        clock.milliseconds = 0;
        writer.StartRecord(true, dir.path(), name, prefix, channel);
        for (int i = 0; i < 10; ++i) { // a third of a second, within the taken second
            const Frame& f = frames[static_cast<std::size_t>(i)];
            writer.WriteRecordFrame(channel, f.bytes.data(), MakeInfo(f, channel, 352, 240, 0));
            clock.advanceMs(33);
        }
        const std::string path = writer.MoviePath(channel);
        writer.StopRecord(true, channel);

        const std::string expected = dir.path() + "/" + std::string(k.expected).substr(0, 11) + prefix + "." +
                                     std::string(k.expected).substr(11) + name.substr(prefix.size() + 16);
        EXPECT_EQ(path, expected);
        const ParsedMovie m = ParseMovie(expected);
        EXPECT_TRUE(m.ok && m.indexOk) << m.problem;
        EXPECT_EQ(m.frames.size(), 10u);
        for (const std::string& t : taken) {
            std::ifstream in(t);
            std::string text;
            std::getline(in, text);
            EXPECT_EQ(text, "the earlier recording") << t;
        }
        made.emplace_back(expected, channel);
        ++channel;
    }
    EXPECT_TRUE(notices.errors.empty());

    // The catalogue finds each file on the day its name tells, and marks
    // that day, not the day the recording began, in its month.
    for (const auto& [path, ch] : made) {
        SCOPED_TRACE(path);
        vyrmovie::RecordingName n;
        ASSERT_TRUE(vyrmovie::ParseRecordingName(vyrmovie::BaseName(path), &n));
        vyrdax::CRecordCatalog day;
        day.FindRecordingFile(dir.path(), n.year, n.month, n.day);
        const auto& files = day.ChannelFiles(ch);
        EXPECT_NE(std::find(files.begin(), files.end(), path), files.end());
        vyrdax::CRecordCatalog month;
        month.GetMonthDataL(dir.path(), MonthPattern(n.year, n.month));
        EXPECT_EQ(month.MonthEntry(n.day), 1u);
    }
    vyrdax::CRecordCatalog january;
    january.GetMonthDataL(dir.path(), "*.201001*.*.mp4");
    for (int d = 2; d <= 31; ++d)
        EXPECT_EQ(january.MonthEntry(d), 0u) << d;

    // A taken name without a time has no next second: it is refused, with
    // the box and the stopped notice, and the file keeps what it held.
    clock.seconds = LocalTime(2009, 3, 7, 12, 0, 0);
    const std::string timeless = dir.path() + "/2009-03-07/F.Cam9.mp4";
    std::ofstream(timeless) << "the earlier recording";
    writer.StartRecord(true, dir.path(), "F.Cam9.mp4", "F.Cam9", 9);
    writer.WriteRecordFrame(9, frames[0].bytes.data(), MakeInfo(frames[0], 9, 352, 240, 0));
    EXPECT_FALSE(writer.IsRecording(9));
    EXPECT_EQ(notices.errors, std::vector<int>{9});
    EXPECT_EQ(notices.stopped.back(), 9);
    std::ifstream in(timeless);
    std::string text;
    std::getline(in, text);
    EXPECT_EQ(text, "the earlier recording");
}

// Two controls record a channel of the same index and name in the same
// second, their receive threads at once, a hundred times over, into movie
// files and into AVI files: each recording gets a file of its own, and no
// file is replaced by the other's.
TEST(WriterRace, TwoRecordingsOfOneNameInOneSecondEachKeepTheirFile)
{
    ScopedTimeZone zone("UTC");
    TempDir dir;
    const auto& frames = EncodedFrames();
    constexpr int kRounds = 100;
    for (const bool movieMode : {true, false}) {
        SCOPED_TRACE(movieMode ? "movie files" : "AVI files");
        FakeClock clocks[2];
        Notices notices[2];
        std::unique_ptr<RecordingWriter> writers[2];
        for (int w = 0; w < 2; ++w)
            writers[w] = std::make_unique<RecordingWriter>(notices[w].make(), clocks[w].clock());
        const uint8_t streamHeader[30] = {};
        for (int round = 0; round < kRounds; ++round) {
            const std::time_t when = LocalTime(2009, 3, 7, 10, 0, 0) + round * 10;
            std::tm local{};
            localtime_r(&when, &local);
            std::string name = vyrmovie::RecordingFileName("F.Gate", local, 4);
            if (!movieMode)
                name = name.substr(0, name.size() - 3) + "avi";
            std::thread threads[2];
            for (int w = 0; w < 2; ++w) {
                clocks[w].seconds = when;
                clocks[w].milliseconds = 0;
                writers[w]->StartRecord(movieMode, dir.path(), name, "F.Gate", 4);
                threads[w] = std::thread([&, w] {
                    if (w == 1 && round % 2)
                        std::this_thread::sleep_for(std::chrono::microseconds(100)); // late on purpose
                    for (int i = 0; i < 10; ++i) {
                        const Frame& f = frames[static_cast<std::size_t>(i)];
                        if (movieMode)
                            writers[w]->WriteRecordFrame(4, f.bytes.data(), MakeInfo(f, 4, 352, 240, 0));
                        else
                            writers[w]->WriteAviFrame(4, f.bytes.data(), static_cast<uint32_t>(f.bytes.size()), 352,
                                                      240, streamHeader, 3000);
                        clocks[w].advanceMs(33);
                    }
                    if (movieMode)
                        writers[w]->StopRecord(true, 4);
                    else
                        writers[w]->FinishAvi(4);
                });
            }
            for (std::thread& t : threads)
                t.join();
        }
        for (int w = 0; w < 2; ++w)
            EXPECT_TRUE(notices[w].errors.empty());
        // Each round's two recordings: its second and the next.
        const std::vector<std::string> files = ListFiles(dir.path() + "/2009-03-07");
        std::size_t count = 0;
        for (const std::string& f : files) {
            if (f.size() < 4 || f.compare(f.size() - 4, 4, movieMode ? ".mp4" : ".avi") != 0)
                continue;
            ++count;
            const std::string path = dir.path() + "/2009-03-07/" + f;
            if (movieMode) {
                const ParsedMovie m = ParseMovie(path);
                EXPECT_TRUE(m.ok && m.indexOk) << f << ": " << m.problem;
                EXPECT_EQ(m.frames.size(), 10u) << f;
            } else {
                std::ifstream in(path, std::ios::binary);
                const std::vector<uint8_t> b((std::istreambuf_iterator<char>(in)), {});
                ASSERT_GT(b.size(), 52u) << f;
                EXPECT_EQ(LE32(b.data() + 48), 10u) << f; // its own ten frames
            }
        }
        EXPECT_EQ(count, 2u * kRounds);
    }
}

} // namespace
