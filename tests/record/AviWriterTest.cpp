// The AVI writer: its fixed header and index, files that ffprobe and ffmpeg
// accept, the recording writer's AVI requests, write faults, and a
// disconnect during an AVI recording.
#include "MessageHost.h"
#include "RecordTestSupport.h"
#include "SimProcess.h"

#include "control/CVyrdaxCtrl.h"
#include "control/record/CAviWriter.h"
#include "platform/MessageBox.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>

namespace {

using namespace vyrdax;
using platform::Variant;
namespace fs = std::filesystem;

std::vector<uint8_t> ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

uint32_t LE32(const std::vector<uint8_t>& b, std::size_t at)
{
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}
uint16_t LE16(const std::vector<uint8_t>& b, std::size_t at) { return static_cast<uint16_t>(b[at] | b[at + 1] << 8); }
std::string Tag(const std::vector<uint8_t>& b, std::size_t at) { return std::string(b.begin() + at, b.begin() + at + 4); }

// Files left in a directory tree with the given ending.
int CountFiles(const std::string& dir, const std::string& ending)
{
    int n = 0;
    for (const auto& e : fs::recursive_directory_iterator(dir))
        if (e.is_regular_file() && e.path().string().size() >= ending.size() &&
            e.path().string().compare(e.path().string().size() - ending.size(), ending.size(), ending) == 0)
            ++n;
    return n;
}

// ffprobe's view of the file: "DX50 352 240 30 30 15/1" and whether ffmpeg
// decodes it without a word.
void ExpectPlayable(const std::string& path, std::size_t frames, int width, int height, const char* rate)
{
    int status = 0;
    const std::string probe = recordtest::RunCommand(
        "ffprobe -v error -count_frames -show_entries "
        "stream=codec_tag_string,width,height,nb_frames,nb_read_frames,r_frame_rate -of default=nw=1 " + path,
        &status);
    EXPECT_EQ(status, 0) << probe;
    const std::string n = std::to_string(frames);
    EXPECT_NE(probe.find("codec_tag_string=DX50"), std::string::npos) << probe;
    EXPECT_NE(probe.find("width=" + std::to_string(width)), std::string::npos) << probe;
    EXPECT_NE(probe.find("height=" + std::to_string(height)), std::string::npos) << probe;
    EXPECT_NE(probe.find("nb_frames=" + n), std::string::npos) << probe;
    EXPECT_NE(probe.find("nb_read_frames=" + n), std::string::npos) << probe;
    EXPECT_NE(probe.find(std::string("r_frame_rate=") + rate), std::string::npos) << probe;
    const std::string decode = recordtest::RunCommand("ffmpeg -v error -i " + path + " -f null -", &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(decode, "");
}

TEST(AviWriter, OneOddKeyFrameLaysOutTheFixedHeaderChunkAndIndex)
{
    recordtest::TempDir dir;
    const std::string name = dir.path() + "/one.avi";
    std::vector<uint8_t> frame(1001);
    for (std::size_t i = 0; i < frame.size(); ++i)
        frame[i] = static_cast<uint8_t>(i * 7 + 1);
    frame[1000] = 0; // one trailing zero
    CAviWriter avi;
    ASSERT_EQ(avi.Open(name, 704, 480, frame.data(), 1001), 1);
    EXPECT_TRUE(fs::exists(name + ".str"));
    EXPECT_TRUE(fs::exists(name + ".idx"));
    ASSERT_EQ(avi.Close(name, 2997), 1);
    EXPECT_FALSE(fs::exists(name + ".str"));
    EXPECT_FALSE(fs::exists(name + ".idx"));

    const std::vector<uint8_t> b = ReadAll(name);
    ASSERT_EQ(b.size(), 6144u + 12 + 1010 + 8 + 16);
    EXPECT_EQ(Tag(b, 0), "RIFF");
    EXPECT_EQ(LE32(b, 4), 6156u + 1010 + 16);
    EXPECT_EQ(Tag(b, 8), "AVI ");
    EXPECT_EQ(Tag(b, 12), "LIST");
    EXPECT_EQ(LE32(b, 16), 4588u);
    EXPECT_EQ(Tag(b, 20), "hdrl");
    EXPECT_EQ(Tag(b, 24), "avih");
    EXPECT_EQ(LE32(b, 32), 33366u); // 100,000,000 / 2997
    EXPECT_EQ(LE32(b, 44), 16u);
    EXPECT_EQ(LE32(b, 48), 1u);
    EXPECT_EQ(LE32(b, 56), 1u);
    EXPECT_EQ(LE32(b, 64), 704u);
    EXPECT_EQ(LE32(b, 68), 480u);
    EXPECT_EQ(Tag(b, 88), "LIST");
    EXPECT_EQ(LE32(b, 92), 4244u);
    EXPECT_EQ(Tag(b, 100), "strh");
    EXPECT_EQ(Tag(b, 108), "vids");
    EXPECT_EQ(Tag(b, 112), "divx");
    EXPECT_EQ(LE32(b, 128), 1000u);  // scale
    EXPECT_EQ(LE32(b, 132), 29970u); // rate: 1,000,000,000 / 33366
    EXPECT_EQ(LE32(b, 140), 1u);     // length
    EXPECT_EQ(LE32(b, 144), 65535u);
    EXPECT_EQ(LE32(b, 148), 10000u);
    EXPECT_EQ(LE16(b, 160), 704);
    EXPECT_EQ(LE16(b, 162), 480);
    EXPECT_EQ(Tag(b, 164), "strf");
    EXPECT_EQ(LE32(b, 172), 40u);
    EXPECT_EQ(LE16(b, 184), 1);
    EXPECT_EQ(LE16(b, 186), 24);
    EXPECT_EQ(Tag(b, 188), "DX50");
    EXPECT_EQ(LE32(b, 192), 704u * 480 * 6);
    EXPECT_EQ(Tag(b, 212), "JUNK");
    EXPECT_EQ(LE32(b, 216), 4120u);
    EXPECT_STREQ(reinterpret_cast<const char*>(&b[220]), "This Movie File was made by VEK in Brightfen...");
    EXPECT_EQ(Tag(b, 4340), "LIST");
    EXPECT_EQ(LE32(b, 4344), 260u);
    EXPECT_EQ(Tag(b, 4348), "odml");
    EXPECT_EQ(Tag(b, 4352), "dmlh");
    EXPECT_EQ(LE32(b, 4356), 248u);
    EXPECT_EQ(LE32(b, 4360), 1u);
    EXPECT_EQ(Tag(b, 4608), "JUNK");
    EXPECT_EQ(LE32(b, 4612), 1528u);
    EXPECT_EQ(Tag(b, 6144), "LIST");
    EXPECT_EQ(LE32(b, 6148), 1014u);
    EXPECT_EQ(Tag(b, 6152), "movi");
    EXPECT_EQ(Tag(b, 6156), "00dc");
    EXPECT_EQ(LE32(b, 6160), 1001u);
    EXPECT_EQ(std::memcmp(&b[6164], frame.data(), 1001), 0);
    EXPECT_EQ(b[6164 + 1001], 0);
    const std::size_t idx = 6156 + 1010;
    EXPECT_EQ(Tag(b, idx), "idx1");
    EXPECT_EQ(LE32(b, idx + 4), 16u);
    EXPECT_EQ(Tag(b, idx + 8), "00dc");
    EXPECT_EQ(LE32(b, idx + 12), 16u); // the first frame is a key frame
    EXPECT_EQ(LE32(b, idx + 16), 4u);
    EXPECT_EQ(LE32(b, idx + 20), 1000u);
}

TEST(AviWriter, IndexLengthsDropUpToThreeTrailingZeros)
{
    const std::vector<uint8_t> two = {9, 9, 9, 9, 9, 0, 0};
    EXPECT_EQ(CAviWriter::IndexedLength(two.data(), 7), 5u);
    const std::vector<uint8_t> five = {9, 9, 0, 0, 0, 0, 0};
    EXPECT_EQ(CAviWriter::IndexedLength(five.data(), 7), 4u);
    EXPECT_EQ(CAviWriter::IndexedLength(five.data(), 0), 0u);
}

TEST(AviWriter, RecordedFramesPlayInFfmpeg)
{
    recordtest::TempDir dir;
    const auto& frames = recordtest::EncodedFrames(352, 240, 30, 10);
    const std::string name = dir.path() + "/clip.avi";
    CAviWriter avi;
    ASSERT_EQ(avi.Open(name, 352, 240, frames[0].bytes.data(), static_cast<uint32_t>(frames[0].bytes.size())), 1);
    for (std::size_t i = 1; i < frames.size(); ++i)
        ASSERT_EQ(avi.AddFrame(frames[i].bytes.data(), static_cast<uint32_t>(frames[i].bytes.size())), 1);
    ASSERT_EQ(avi.Close(name, 1500), 1);
    ExpectPlayable(name, frames.size(), 352, 240, "15/1");
    // Key frames are flagged in the index: every tenth.
    const std::vector<uint8_t> b = ReadAll(name);
    const std::size_t idx = b.size() - 16 * frames.size();
    for (std::size_t i = 0; i < frames.size(); ++i)
        EXPECT_EQ(LE32(b, idx + 16 * i + 4), i % 10 == 0 ? 16u : 0u) << i;
    EXPECT_EQ(CountFiles(dir.path(), ".str") + CountFiles(dir.path(), ".idx"), 0);
}

TEST(AviWriter, CloseWithoutARateUsesTheDefaultAndAFailedOpenLeavesNothing)
{
    recordtest::TempDir dir;
    const auto& frames = recordtest::EncodedFrames(352, 240, 30, 10);
    CAviWriter avi;
    EXPECT_EQ(avi.Open(dir.path() + "/missing/x.avi", 352, 240, frames[0].bytes.data(),
                       static_cast<uint32_t>(frames[0].bytes.size())),
              0);
    const std::string name = dir.path() + "/zero.avi";
    ASSERT_EQ(avi.Open(name, 352, 240, frames[0].bytes.data(), static_cast<uint32_t>(frames[0].bytes.size())), 1);
    ASSERT_EQ(avi.Close(name, 0), 1);
    EXPECT_EQ(LE32(ReadAll(name), 32), CAviWriter::kDefaultMicrosecondsPerFrame);
}

struct Notices {
    std::vector<int> stopped, faults;
    RecordingWriter::Notices Make()
    {
        RecordingWriter::Notices n;
        n.stopped = [this](int ch) { stopped.push_back(ch); };
        n.fileError = [this](int ch) { faults.push_back(ch); };
        return n;
    }
};

StreamHeader Patched(int width, int height)
{
    StreamHeader h = kStreamHeaderTemplate;
    PatchStreamHeader(h, static_cast<uint32_t>(width), static_cast<uint32_t>(height), false);
    return h;
}

TEST(AviRecording, OpenWaitsForAnIntraFrameAndPutsTheHeadersInFront)
{
    recordtest::TempDir dir;
    Notices notices;
    RecordingWriter writer(notices.Make());
    const auto& frames = recordtest::EncodedFrames(352, 240, 30, 10);
    const StreamHeader header = Patched(352, 240);
    writer.StartRecord(false, dir.path(), "A.cam.avi", "A.cam", 5);
    EXPECT_TRUE(writer.AviActive(5));
    // Frames 1..9 are predicted: nothing opens; frame 10 is intra.
    for (std::size_t i = 1; i < frames.size(); ++i)
        writer.WriteAviFrame(5, frames[i].bytes.data(), static_cast<uint32_t>(frames[i].bytes.size()), 352, 240,
                             header.data(), 3000);
    EXPECT_EQ(CountFiles(dir.path(), ".str"), 1);
    writer.StopRecord(false, 5);
    EXPECT_EQ(writer.AviRequest(5), 3);
    writer.WriteAviFrame(5, frames[0].bytes.data(), static_cast<uint32_t>(frames[0].bytes.size()), 352, 240,
                         header.data(), 3000);
    EXPECT_FALSE(writer.AviActive(5));
    EXPECT_EQ(CountFiles(dir.path(), ".str") + CountFiles(dir.path(), ".idx"), 0);
    ASSERT_EQ(CountFiles(dir.path(), ".avi"), 1);
    std::string path;
    for (const auto& e : fs::recursive_directory_iterator(dir.path()))
        if (e.path().extension() == ".avi")
            path = e.path().string();
    const std::vector<uint8_t> b = ReadAll(path);
    EXPECT_EQ(LE32(b, 6160), frames[10].bytes.size() + 30);
    EXPECT_EQ(std::memcmp(&b[6164], header.data(), 30), 0);
    EXPECT_EQ(LE32(b, 48), 20u); // frames 10..29
    ExpectPlayable(path, 20, 352, 240, "30/1");
    EXPECT_EQ(notices.stopped, std::vector<int>{5});
    EXPECT_TRUE(notices.faults.empty());
}

TEST(AviRecording, AWriteFaultStopsTheRecordingOnceAndLeavesNoTemporaryFiles)
{
    recordtest::TempDir dir;
    Notices notices;
    RecordingWriter writer(notices.Make());
    const auto& frames = recordtest::EncodedFrames(352, 240, 30, 10);
    const StreamHeader header = Patched(352, 240);
    writer.StartRecord(false, dir.path(), "F.avi", "F", 0);

    rlimit previous{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &previous), 0);
    auto previousSignal = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = previous;
    small.rlim_cur = 40000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    for (int round = 0; round < 4; ++round)
        for (const auto& f : frames)
            writer.WriteAviFrame(0, f.bytes.data(), static_cast<uint32_t>(f.bytes.size()), 352, 240,
                                 header.data(), 3000);
    setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, previousSignal);

    EXPECT_EQ(notices.faults, std::vector<int>{0});
    EXPECT_EQ(notices.stopped, std::vector<int>{0});
    EXPECT_FALSE(writer.AviActive(0));
    EXPECT_EQ(CountFiles(dir.path(), ".str") + CountFiles(dir.path(), ".idx") + CountFiles(dir.path(), ".avi"), 0);
}

TEST(AviRecording, StartingAgainWhileWritingFinishesTheFirstFile)
{
    recordtest::TempDir dir;
    Notices notices;
    RecordingWriter writer(notices.Make());
    const auto& frames = recordtest::EncodedFrames(352, 240, 30, 10);
    const StreamHeader header = Patched(352, 240);
    writer.StartRecord(false, dir.path(), "one.avi", "F", 1);
    for (std::size_t i = 0; i < 15; ++i)
        writer.WriteAviFrame(1, frames[i].bytes.data(), static_cast<uint32_t>(frames[i].bytes.size()), 352, 240,
                             header.data(), 3000);
    writer.StartRecord(false, dir.path(), "two.avi", "F", 1);
    for (std::size_t i = 15; i < 30; ++i)
        writer.WriteAviFrame(1, frames[i].bytes.data(), static_cast<uint32_t>(frames[i].bytes.size()), 352, 240,
                             header.data(), 3000);
    EXPECT_TRUE(writer.FinishAvi(1));
    EXPECT_FALSE(writer.FinishAvi(1));
    EXPECT_EQ(CountFiles(dir.path(), ".avi"), 2);
    EXPECT_EQ(CountFiles(dir.path(), ".str") + CountFiles(dir.path(), ".idx"), 0);
}

TEST(AviRecording, ADisconnectDuringRecordingLeavesAFinishedFile)
{
    recordtest::TempDir dir;
    SimProcess sim;
    ASSERT_TRUE(sim.start({"--channels", "1", "--size", "352x240", "--gop", "15", "--fps", "30"}));
    std::vector<std::string> boxes;
    auto previous = platform::SetMessageBoxHandler([&](const std::string& text, const std::string&, unsigned) {
        boxes.push_back(text);
        return 1;
    });
    const std::string name = "F.Cam0.avi";
    {
        testsupport::MessageHost host;
        auto* ctrl = new CVyrdaxCtrl(&host);
        ctrl->setDispChannel(0);
        ctrl->SetConnectInfo("Cam0", "Guest", "", "", "127.0.0.1", static_cast<int16_t>(sim.port()), 0, 1, 0, 0);
        ASSERT_TRUE(ctrl->Connect(0));
        ASSERT_TRUE(testsupport::PumpUntil([&] { return host.Count(WM_VIDEO_STARTED) == 1; }, 15000));
        Variant r;
        ASSERT_EQ(ctrl->Invoke(DISPID_SetRecType, {Variant::Short(1)}, &r), platform::S_OK);
        const std::u16string dir16(dir.path().begin(), dir.path().end());
        ASSERT_EQ(ctrl->Invoke(DISPID_StartRecord,
                               {Variant::String(dir16), Variant::String(u"F.Cam0.avi"), Variant::String(u"F.Cam0"),
                                Variant::Long(0), Variant::Short(0)},
                               &r),
                  platform::S_OK);
        ASSERT_TRUE(testsupport::PumpUntil([&] { return CountFiles(dir.path(), ".str") == 1; }, 5000));
        testsupport::PumpUntil([] { return false; }, 1000);
        ctrl->DisConnectSvr(0);
        EXPECT_EQ(CountFiles(dir.path(), ".str") + CountFiles(dir.path(), ".idx"), 0);
        ASSERT_EQ(CountFiles(dir.path(), ".avi"), 1);
        testsupport::PumpUntil([] { return false; }, 300);
        ctrl->Release();
    }
    platform::SetMessageBoxHandler(previous);
    EXPECT_TRUE(boxes.empty());
    std::string path;
    for (const auto& e : fs::recursive_directory_iterator(dir.path()))
        if (e.path().extension() == ".avi")
            path = e.path().string();
    int status = 0;
    const std::string decode = recordtest::RunCommand("ffmpeg -v error -i " + path + " -f null -", &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(decode, "");
    EXPECT_GT(LE32(ReadAll(path), 48), 15u);
}

} // namespace

namespace {

// The host finishing and restarting a channel's AVI while its receive
// thread writes: every file that comes out is whole.
TEST(AviRecording, FinishingWhileTheReceiveThreadWritesLeavesWholeFiles)
{
    recordtest::TempDir dir;
    Notices notices;
    RecordingWriter writer(notices.Make());
    const auto& frames = recordtest::EncodedFrames(352, 240, 30, 10);
    const StreamHeader header = Patched(352, 240);
    std::atomic<bool> stop{false};
    writer.StartRecord(false, dir.path(), "r0.avi", "F", 2);
    std::thread receive([&] {
        for (std::size_t i = 0; !stop; i = (i + 1) % frames.size())
            writer.WriteAviFrame(2, frames[i].bytes.data(), static_cast<uint32_t>(frames[i].bytes.size()), 352, 240,
                                 header.data(), 3000);
    });
    for (int round = 1; round <= 200; ++round) {
        std::this_thread::sleep_for(std::chrono::microseconds(500));
        writer.FinishAvi(2);
        writer.StartRecord(false, dir.path(), "r" + std::to_string(round) + ".avi", "F", 2);
    }
    stop = true;
    receive.join();
    writer.FinishAvi(2);
    EXPECT_TRUE(notices.faults.empty());
    EXPECT_EQ(CountFiles(dir.path(), ".str") + CountFiles(dir.path(), ".idx"), 0);
    int files = 0;
    for (const auto& e : fs::recursive_directory_iterator(dir.path())) {
        if (e.path().extension() != ".avi")
            continue;
        ++files;
        const std::vector<uint8_t> b = ReadAll(e.path().string());
        ASSERT_GT(b.size(), 6164u);
        EXPECT_EQ(LE32(b, 4), b.size() - 8) << e.path();
        EXPECT_EQ(LE32(b, 6148) + 6152 + 8 + 16 * LE32(b, 48), b.size()) << e.path();
    }
    EXPECT_GT(files, 0);
}

} // namespace

namespace {

TEST(AviRecording, AFileNearItsSizeLimitIsFinishedAndANewOneStartsUnderASplitName)
{
    recordtest::TempDir dir;
    recordtest::ScopedTimeZone zone("UTC");
    Notices notices;
    recordtest::FakeClock clock;
    clock.seconds = recordtest::LocalTime(2026, 3, 7, 10, 0, 0);
    constexpr uint64_t kLimit = 60000;
    RecordingWriter writer(notices.Make(), clock.clock(), kLimit);
    const auto& frames = recordtest::EncodedFrames(352, 240, 30, 10);
    const StreamHeader header = Patched(352, 240);
    writer.StartRecord(false, dir.path(), "first.avi", "F.cam", 5);
    for (int round = 0; round < 3; ++round)
        for (const auto& f : frames) {
            writer.WriteAviFrame(5, f.bytes.data(), static_cast<uint32_t>(f.bytes.size()), 352, 240, header.data(),
                                 3000);
            clock.advanceMs(1000);
        }
    writer.FinishAvi(5);
    EXPECT_TRUE(notices.faults.empty());
    EXPECT_EQ(CountFiles(dir.path(), ".str") + CountFiles(dir.path(), ".idx"), 0);
    std::vector<std::string> names;
    for (const auto& e : fs::recursive_directory_iterator(dir.path()))
        if (e.path().extension() == ".avi") {
            names.push_back(e.path().filename().string());
            EXPECT_LE(fs::file_size(e.path()), kLimit) << e.path();
            int status = 0;
            EXPECT_EQ(recordtest::RunCommand("ffmpeg -v error -i " + e.path().string() + " -f null -", &status), "");
            EXPECT_EQ(status, 0);
        }
    std::sort(names.begin(), names.end());
    ASSERT_GE(names.size(), 2u);
    EXPECT_EQ(names[0].rfind("F.cam.20260307.10", 0), 0u) << names[0];
    EXPECT_EQ(names[0].substr(names[0].size() - 7), ".05.avi") << names[0];
    EXPECT_EQ(names.back(), "first.avi");
}

} // namespace

namespace {

TEST(AviRecording, AFileThatCannotBeCreatedStopsTheRecordingOnce)
{
    Notices notices;
    RecordingWriter writer(notices.Make());
    const auto& frames = recordtest::EncodedFrames(352, 240, 30, 10);
    const StreamHeader header = Patched(352, 240);
    writer.StartRecord(false, "/proc/no-such-directory", "x.avi", "F", 7);
    for (int i = 0; i < 3; ++i)
        writer.WriteAviFrame(7, frames[0].bytes.data(), static_cast<uint32_t>(frames[0].bytes.size()), 352, 240,
                             header.data(), 3000);
    EXPECT_EQ(notices.faults, std::vector<int>{7});
    EXPECT_EQ(notices.stopped, std::vector<int>{7});
    EXPECT_FALSE(writer.AviActive(7));
}

// An AVI whose name another file has replaces nothing: a recording name
// takes its next free second, here into the next day, month and year (and
// the next day's directory), whether the name was taken before the
// recording began or while it ran; a taken name without a time is refused
// before anything is recorded, with the box and the stopped notice. Three
// channels at once.
TEST(AviRecording, AnAviWhoseNameIsTakenReplacesNothing)
{
    recordtest::TempDir dir;
    recordtest::ScopedTimeZone zone("UTC");
    Notices notices;
    recordtest::FakeClock clock;
    clock.seconds = recordtest::LocalTime(2026, 12, 31, 23, 59, 59);
    RecordingWriter writer(notices.Make(), clock.clock());
    const auto& frames = recordtest::EncodedFrames(352, 240, 30, 10);
    const StreamHeader header = Patched(352, 240);
    const std::string day = dir.path() + "/2026-12-31";
    fs::create_directories(day);
    const std::string before = "A.cam1.20261231.235959.01.avi", during = "A.cam2.20261231.235959.02.avi";
    std::ofstream(day + "/" + before) << "the earlier recording";
    std::ofstream(day + "/taken.avi") << "the earlier recording";
    writer.StartRecord(false, dir.path(), before, "A.cam1", 1);
    writer.StartRecord(false, dir.path(), during, "A.cam2", 2);
    writer.StartRecord(false, dir.path(), "taken.avi", "A.cam3", 3);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        for (int ch : {1, 2, 3})
            writer.WriteAviFrame(ch, frames[i].bytes.data(), static_cast<uint32_t>(frames[i].bytes.size()), 352, 240,
                                 header.data(), 3000);
        if (i == 0)
            std::ofstream(day + "/" + during) << "the earlier recording";
        clock.advanceMs(1);
    }
    EXPECT_TRUE(writer.FinishAvi(1));
    EXPECT_TRUE(writer.FinishAvi(2));
    EXPECT_FALSE(writer.FinishAvi(3));

    for (const std::string& name : {before, during, std::string("taken.avi")}) {
        std::ifstream in(day + "/" + name);
        std::string text;
        std::getline(in, text);
        EXPECT_EQ(text, "the earlier recording") << name;
    }
    for (const char* carried : {"A.cam1.20270101.000000.01.avi", "A.cam2.20270101.000000.02.avi"}) {
        SCOPED_TRACE(carried);
        const std::string path = dir.path() + "/2027-01-01/" + carried;
        ASSERT_TRUE(fs::exists(path));
        ExpectPlayable(path, frames.size(), 352, 240, "30/1");
    }
    EXPECT_EQ(CountFiles(dir.path(), ".avi"), 5);
    EXPECT_EQ(CountFiles(dir.path(), ".str") + CountFiles(dir.path(), ".idx"), 0);
    EXPECT_EQ(notices.faults, std::vector<int>{3});
    EXPECT_EQ(notices.stopped, std::vector<int>{3});
}

} // namespace
