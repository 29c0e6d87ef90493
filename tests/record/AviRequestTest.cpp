// AVI requests of the host against the frames of the receive thread: a stop
// before the first intra frame cancels the waiting start, a second start
// replaces it, and every file plays at its channel's own frame rate, as
// ffprobe measures it.
#include "MessageHost.h"
#include "RecordTestSupport.h"
#include "SimProcess.h"

#include "control/CVyrdaxCtrl.h"
#include "control/link/DvrPacket.h"
#include "control/record/RecordingWriter.h"
#include "platform/MessageBox.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

namespace {

using namespace vyrdax;
using platform::Variant;
namespace fs = std::filesystem;

std::vector<std::string> FilesEndingIn(const std::string& dir, const std::string& ending)
{
    std::vector<std::string> found;
    for (const auto& e : fs::recursive_directory_iterator(dir)) {
        const std::string p = e.path().string();
        if (e.is_regular_file() && p.size() >= ending.size() &&
            p.compare(p.size() - ending.size(), ending.size(), ending) == 0)
            found.push_back(p);
    }
    return found;
}

struct Notices {
    std::atomic<int> stopped{0}, faults{0};
    RecordingWriter::Notices Make()
    {
        RecordingWriter::Notices n;
        n.stopped = [this](int) { ++stopped; };
        n.fileError = [this](int) { ++faults; };
        return n;
    }
};

// The stream's duration and frame count as ffprobe reads them from the file.
struct Probe {
    double duration = -1;
    long frames = -1;
};
Probe ProbeAvi(const std::string& path)
{
    int status = 0;
    const std::string out = recordtest::RunCommand(
        "ffprobe -v error -select_streams v:0 -show_entries stream=duration,nb_frames -of default=nw=1 " + path,
        &status);
    Probe p;
    EXPECT_EQ(status, 0) << out;
    const auto at = out.find("duration=");
    const auto nb = out.find("nb_frames=");
    if (at != std::string::npos)
        p.duration = std::atof(out.c_str() + at + 9);
    if (nb != std::string::npos)
        p.frames = std::atol(out.c_str() + nb + 10);
    return p;
}

class AviRequests : public ::testing::Test {
protected:
    void Feed(std::size_t from, std::size_t to, int channel = 3)
    {
        for (std::size_t i = from; i < to; ++i) {
            const auto& f = frames[i % frames.size()];
            writer.WriteAviFrame(channel, f.bytes.data(), static_cast<uint32_t>(f.bytes.size()), 352, 240,
                                 header.data(), 3000);
        }
    }

    recordtest::TempDir dir;
    Notices notices;
    RecordingWriter writer{notices.Make()};
    // Intra frames at 0, 10 and 20.
    const std::vector<recordtest::Frame>& frames = recordtest::EncodedFrames(352, 240, 30, 10);
    StreamHeader header = [] {
        StreamHeader h = kStreamHeaderTemplate;
        PatchStreamHeader(h, 352, 240, false);
        return h;
    }();
};

TEST_F(AviRequests, AStopBeforeTheFirstIntraFrameCancelsTheStart)
{
    writer.StartRecord(false, dir.path(), "A.cam.avi", "A.cam", 3);
    Feed(1, 5);
    writer.StopRecord(false, 3);
    EXPECT_EQ(notices.stopped.load(), 1);
    EXPECT_EQ(writer.AviRequest(3), 0);
    EXPECT_FALSE(writer.AviActive(3));
    Feed(10, 30); // intra frames pass by and open nothing
    EXPECT_TRUE(FilesEndingIn(dir.path(), ".str").empty());
    EXPECT_TRUE(FilesEndingIn(dir.path(), ".avi").empty());
    EXPECT_FALSE(writer.FinishAvi(3));

    // The channel records again as soon as it is asked to.
    writer.StartRecord(false, dir.path(), "B.cam.avi", "B.cam", 3);
    Feed(10, 20);
    writer.StopRecord(false, 3);
    Feed(20, 21);
    const auto files = FilesEndingIn(dir.path(), ".avi");
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(fs::path(files[0]).filename(), "B.cam.avi");
    EXPECT_EQ(ProbeAvi(files[0]).frames, 10);
    EXPECT_EQ(notices.faults.load(), 0);
}

TEST_F(AviRequests, ASecondStartWhileWaitingReplacesTheWaitingName)
{
    writer.StartRecord(false, dir.path(), "first.avi", "F", 3);
    Feed(1, 5);
    writer.StartRecord(false, dir.path(), "second.avi", "F", 3);
    EXPECT_EQ(writer.AviRequest(3), 1);
    EXPECT_EQ(fs::path(writer.AviPath(3)).filename(), "second.avi");
    Feed(5, 20); // opens at frame 10
    EXPECT_TRUE(writer.FinishAvi(3));
    const auto files = FilesEndingIn(dir.path(), ".avi");
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(fs::path(files[0]).filename(), "second.avi");
    EXPECT_EQ(ProbeAvi(files[0]).frames, 10);
}

// The host starts and stops while the receive thread writes, hundreds of
// times: whatever the interleaving, the last stop leaves nothing open or
// waiting, and every file that came out is whole.
TEST_F(AviRequests, StopsRacingTheReceiveThreadLeaveNothingOpenOrWaiting)
{
    std::atomic<bool> stop{false};
    std::thread receive([&] {
        for (std::size_t i = 0; !stop; ++i)
            Feed(i, i + 1);
    });
    for (int round = 0; round < 300; ++round) {
        writer.StartRecord(false, dir.path(), "r" + std::to_string(round) + ".avi", "F", 3);
        if (round % 3 == 0)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        writer.StopRecord(false, 3);
    }
    stop = true;
    receive.join();
    // A close asked for by the last stop is done at the next frame.
    Feed(0, 1);
    EXPECT_FALSE(writer.AviActive(3));
    EXPECT_EQ(writer.AviRequest(3), 0);
    Feed(0, 30);
    EXPECT_TRUE(FilesEndingIn(dir.path(), ".str").empty());
    EXPECT_TRUE(FilesEndingIn(dir.path(), ".idx").empty());
    EXPECT_EQ(notices.stopped.load(), 300);
    EXPECT_EQ(notices.faults.load(), 0);
    // Whole files: the RIFF size and the lists add up (ffprobe reads a few).
    int probed = 0;
    for (const std::string& path : FilesEndingIn(dir.path(), ".avi")) {
        std::ifstream in(path, std::ios::binary);
        const std::vector<uint8_t> b((std::istreambuf_iterator<char>(in)), {});
        ASSERT_GT(b.size(), 6164u) << path;
        auto le32 = [&b](std::size_t at) {
            return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
        };
        EXPECT_EQ(le32(4), b.size() - 8) << path;
        EXPECT_EQ(le32(6148) + 6152 + 8 + 16 * le32(48), b.size()) << path;
        if (probed++ < 5) {
            EXPECT_EQ(ProbeAvi(path).frames, static_cast<long>(le32(48))) << path;
        }
    }
}

// Frame-interval codes as DVRs send them, and the rate each means.
struct RateCase {
    uint32_t code;
    bool interlaced;
    double framesPerSecond;
};

TEST(AviRate, TheFrameIntervalCodeGivesTheRate)
{
    const RateCase cases[] = {{0, false, 60}, {1, false, 30},  {2, false, 20},  {3, true, 7.5},
                              {0, true, 30},  {1, true, 15},   {6, false, 60.0 / 7}};
    for (const RateCase& c : cases)
        EXPECT_EQ(FramesPerSecondTimes100(c.code, c.interlaced), static_cast<int>(c.framesPerSecond * 100))
            << c.code << " " << c.interlaced;
    // Codes no DVR sends still give a rate a file can carry.
    EXPECT_EQ(FramesPerSecondTimes100(0xFFFFFFFFu, false), 1);
    EXPECT_EQ(FramesPerSecondTimes100(100000, true), 1);
}

// A file plays as long as its frames took to arrive: ffprobe's duration is
// the frame count times the channel's real frame interval, to within a
// frame, at progressive and interlaced rates, whole and fractional.
TEST(AviRate, FilesLastAsLongAsTheirFramesAtTheChannelsRate)
{
    recordtest::TempDir dir;
    Notices notices;
    RecordingWriter writer(notices.Make());
    const auto& frames = recordtest::EncodedFrames(352, 240, 30, 10);
    StreamHeader header = kStreamHeaderTemplate;
    PatchStreamHeader(header, 352, 240, false);
    const RateCase cases[] = {{0, false, 60}, {1, false, 30}, {6, false, 60.0 / 7}, {0, true, 30}, {3, true, 7.5}};
    constexpr int kFrames = 90;
    int n = 0;
    for (const RateCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.code) + (c.interlaced ? " interlaced" : " progressive"));
        const std::string name = "rate" + std::to_string(n++) + ".avi";
        writer.StartRecord(false, dir.path(), name, "F", 0);
        const int rate = FramesPerSecondTimes100(c.code, c.interlaced);
        for (int i = 0; i < kFrames; ++i) {
            const auto& f = frames[static_cast<std::size_t>(i) % frames.size()];
            writer.WriteAviFrame(0, f.bytes.data(), static_cast<uint32_t>(f.bytes.size()), 352, 240, header.data(),
                                 rate);
        }
        ASSERT_TRUE(writer.FinishAvi(0));
        const auto files = FilesEndingIn(dir.path(), name);
        ASSERT_EQ(files.size(), 1u);
        const Probe p = ProbeAvi(files[0]);
        EXPECT_EQ(p.frames, kFrames);
        EXPECT_NEAR(p.duration, kFrames / c.framesPerSecond, 1 / c.framesPerSecond);
    }
    EXPECT_EQ(notices.faults.load(), 0);
}

// Through the control against the simulator: a host that starts an AVI and
// stops it before the channel's next intra frame gets its stopped notice and
// no file; a recording at the DVR's rate lasts as long as it was recorded.
class AviFromDvr : public ::testing::Test {
protected:
    void SetUp() override
    {
        previousBoxes_ = platform::SetMessageBoxHandler([this](const std::string& text, const std::string&, unsigned) {
            boxes.push_back(text);
            return platform::IDOK;
        });
    }
    void TearDown() override { platform::SetMessageBoxHandler(previousBoxes_); }

    // Connects channel 0 and waits for its first picture.
    bool Connect(CVyrdaxCtrl* ctrl, SimProcess& sim)
    {
        const int started = host.Count(WM_VIDEO_STARTED);
        ctrl->setDispChannel(0);
        ctrl->SetConnectInfo("Cam0", "Guest", "", "", "127.0.0.1", static_cast<int16_t>(sim.port()), 0, 1, 0, 0);
        return ctrl->Connect(0) &&
               testsupport::PumpUntil([&] { return host.Count(WM_VIDEO_STARTED) > started; }, 20000);
    }
    void Invoke(CVyrdaxCtrl* ctrl, int dispid, std::vector<Variant> args)
    {
        Variant r;
        ASSERT_EQ(ctrl->Invoke(dispid, std::move(args), &r), platform::S_OK);
    }
    void StartAvi(CVyrdaxCtrl* ctrl, const std::u16string& name)
    {
        Invoke(ctrl, DISPID_SetRecType, {Variant::Short(1)});
        const std::u16string dir16(dir.path().begin(), dir.path().end());
        Invoke(ctrl, DISPID_StartRecord,
               {Variant::String(dir16), Variant::String(name), Variant::String(u"A.Cam0"), Variant::Long(0),
                Variant::Short(0)});
    }

    recordtest::TempDir dir;
    testsupport::MessageHost host;
    std::vector<std::string> boxes;

private:
    platform::MessageBoxHandler previousBoxes_;
};

TEST_F(AviFromDvr, AStopBeforeTheNextIntraFrameRecordsNothing)
{
    SimProcess sim;
    // The first frame is a key frame; the next comes 2 s later.
    ASSERT_TRUE(sim.start({"--channels", "1", "--size", "352x240", "--fps", "60", "--gop", "120"}));
    auto* ctrl = new CVyrdaxCtrl(&host);
    ASSERT_TRUE(Connect(ctrl, sim));
    StartAvi(ctrl, u"A.Cam0.avi");
    Invoke(ctrl, DISPID_StopRecord, {Variant::Short(0)});
    EXPECT_EQ(host.Count(WM_VIDEO_RECORD_STOPPED), 1);
    // Two intra frames go by.
    testsupport::PumpUntil([] { return false; }, 4500);
    EXPECT_TRUE(FilesEndingIn(dir.path(), ".str").empty());
    EXPECT_TRUE(FilesEndingIn(dir.path(), ".avi").empty());
    ctrl->DisConnectSvr(0);
    testsupport::PumpUntil([] { return false; }, 200);
    ctrl->Release();
    EXPECT_TRUE(FilesEndingIn(dir.path(), ".avi").empty());
    EXPECT_TRUE(boxes.empty());
}

TEST_F(AviFromDvr, ARecordingLastsAsLongAsItWasRecordedAtEveryRate)
{
    struct Case {
        const char* fps;
        const char* interlace;
        const char* size;
        double framesPerSecond;
    };
    for (const Case& c : {Case{"30", "0", "352x240", 30}, Case{"60", "0", "352x240", 60},
                          Case{"7.5", "1", "704x480", 7.5}, Case{"15", "1", "704x480", 15}}) {
        SCOPED_TRACE(std::string(c.fps) + " fps, interlace " + c.interlace);
        SimProcess sim;
        ASSERT_TRUE(sim.start({"--channels", "1", "--size", c.size, "--fps", c.fps, "--interlace", c.interlace,
                               "--gop", "1"}));
        auto* ctrl = new CVyrdaxCtrl(&host);
        ASSERT_TRUE(Connect(ctrl, sim));
        const std::u16string name = u"A.Cam0." + std::u16string(c.fps, c.fps + std::strlen(c.fps)) + u".avi";
        const auto begin = std::chrono::steady_clock::now();
        StartAvi(ctrl, name);
        testsupport::PumpUntil([] { return false; }, 3000);
        Invoke(ctrl, DISPID_StopRecord, {Variant::Short(0)});
        const double recorded = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        ASSERT_TRUE(testsupport::PumpUntil([&] { return FilesEndingIn(dir.path(), ".str").empty(); }, 5000));
        ctrl->DisConnectSvr(0);
        testsupport::PumpUntil([] { return false; }, 200);
        ctrl->Release();

        const auto files = FilesEndingIn(dir.path(), std::string(name.begin(), name.end()));
        ASSERT_EQ(files.size(), 1u);
        const Probe p = ProbeAvi(files[0]);
        // The file's own clock is exact ...
        EXPECT_NEAR(p.duration, p.frames / c.framesPerSecond, 1 / c.framesPerSecond);
        // ... and matches the time recorded, which a loaded machine blurs by
        // a little: 15 frames per second for every rate would be off by half
        // or more.
        EXPECT_NEAR(p.duration, recorded, 2 / c.framesPerSecond + 0.2 * recorded);
        std::printf("%s fps: %ld frames, %.3f s in the file, %.3f s recorded\n", c.fps, p.frames, p.duration,
                    recorded);
    }
    EXPECT_TRUE(boxes.empty());
}

} // namespace
