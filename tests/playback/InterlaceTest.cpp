// Recordings of interlaced and progressive DVRs, made through the control
// from the simulator, played back locally and, backed up, by the movie
// player: every picture shown equals the decoder's own picture of the same
// frame behind the stream header of the form the DVR sent. Files whose
// frame headers carry the bare event flags (as older recorders wrote them)
// must play just as well.
#include "MessageHost.h"
#include "PlaybackFixture.h"
#include "RecordTestSupport.h"
#include "SimProcess.h"

#include "control/CVyrdaxCtrl.h"
#include "control/backup/CBackupMaker.h"
#include "control/display/StreamHeader.h"
#include "control/display/XvidDecoder.h"
#include "control/playback/CLocalPlayback.h"
#include "control/record/MovieFormat.h"
#include "player/engine/PlaybackEngine.h"
#include "player/folder/BackupFolder.h"

#include <libyuv.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;
using namespace vyrdax;
using platform::Variant;
using recordtest::LE32;
using testsupport::MessageHost;
using testsupport::PumpUntil;

struct StreamCase {
    const char* name;
    int width, height;
    bool interlaced;
    const char* alarmBits; // event flags on alarm frames
    const char* alarmEvery;
};

void PrintTo(const StreamCase& c, std::ostream* os) { *os << c.name; }

std::string OnlyMovieFile(const std::string& directory)
{
    std::string found;
    for (const auto& e : fs::recursive_directory_iterator(directory))
        if (e.path().extension() == ".mp4") {
            EXPECT_TRUE(found.empty()) << "a second file " << e.path();
            found = e.path().string();
        }
    return found;
}

int64_t FrameTimeUs(const recordtest::ParsedFrame& f)
{
    return static_cast<int64_t>(static_cast<int32_t>(LE32(f.header + 24))) * 1000000 + LE32(f.header + 20);
}

// A decoded picture: the three planes of a 4:2:0 picture.
struct Picture {
    int width = 0, height = 0;
    std::vector<uint8_t> planes; // Y, then U, then V
};

// The decoder alone, from the key frame at or before frame `j`, with the
// stream header of the DVR's own form in front.
Picture DecodeDirectly(const recordtest::ParsedMovie& movie, std::size_t j, bool interlaced)
{
    std::size_t k = j;
    while (k > 0 && !movie.frames[k].key)
        --k;
    XvidDecoder decoder;
    EXPECT_TRUE(decoder.Create());
    Picture p;
    for (std::size_t i = k; i <= j; ++i) {
        const recordtest::ParsedFrame& f = movie.frames[i];
        std::vector<uint8_t> input;
        if (i == k) {
            StreamHeader h = kStreamHeaderTemplate;
            PatchStreamHeader(h, LE32(f.header + 8) & 0xFFFF, LE32(f.header + 8) >> 16, interlaced);
            input.assign(h.begin(), h.end());
        }
        input.insert(input.end(), f.payload.begin(), f.payload.end());
        const int total = static_cast<int>(input.size());
        input.resize(input.size() + 2048, 0);
        int at = 0;
        for (int call = 0; call < 16 && at < total; ++call) {
            const XvidDecoder::Result r = decoder.Decode(input.data() + at, total - at);
            if (r.consumed <= 0)
                break;
            at += r.consumed;
            if (r.type > 0)
                break;
        }
    }
    p.width = decoder.Width();
    p.height = decoder.Height();
    const std::size_t luma = static_cast<std::size_t>(p.width) * p.height;
    p.planes.assign(decoder.Picture(), decoder.Picture() + luma + luma / 2);
    return p;
}

// How far two pictures lie apart on their even lines (the deinterlace
// filter rewrites odd lines of 480-line pictures only): the share of
// compared pixels that differ by more than 4 in any colour, in per cent.
double PercentOff(const QImage& shown, const Picture& reference)
{
    if (shown.width() != reference.width || shown.height() != reference.height)
        return 100.0;
    const int w = reference.width, h = reference.height;
    const uint8_t* y = reference.planes.data();
    const uint8_t* u = y + static_cast<std::size_t>(w) * h;
    const uint8_t* v = u + static_cast<std::size_t>(w / 2) * (h / 2);
    QImage expected(w, h, QImage::Format_RGB32);
    libyuv::I420ToARGB(y, w, u, w / 2, v, w / 2, expected.bits(), static_cast<int>(expected.bytesPerLine()), w, h);
    int off = 0, compared = 0;
    for (int row = 0; row < h; row += 2)
        for (int x = 0; x < w; ++x, ++compared) {
            const QRgb a = shown.pixel(x, row), b = expected.pixel(x, row);
            if (std::abs(qRed(a) - qRed(b)) > 4 || std::abs(qGreen(a) - qGreen(b)) > 4 ||
                std::abs(qBlue(a) - qBlue(b)) > 4)
                ++off;
        }
    return compared ? 100.0 * off / compared : 100.0;
}

// The same for the Y, U and V planes the player hands its window.
double PercentOff(const Picture& shown, const Picture& reference)
{
    if (shown.width != reference.width || shown.height != reference.height || shown.planes.empty())
        return 100.0;
    const int w = reference.width, h = reference.height;
    int off = 0, compared = 0;
    for (int row = 0; row < h; row += 2)
        for (int x = 0; x < w; ++x, ++compared)
            off += std::abs(shown.planes[static_cast<std::size_t>(row) * w + x] -
                            reference.planes[static_cast<std::size_t>(row) * w + x]) > 4;
    const std::size_t luma = static_cast<std::size_t>(w) * h;
    for (std::size_t i = luma; i < reference.planes.size(); ++i, ++compared)
        off += std::abs(shown.planes[i] - reference.planes[i]) > 4;
    return 100.0 * off / compared;
}

// Rewrites bits 28..31 of every frame header the way a recorder that kept
// the bare event flags there would have left them: the opposite of what
// the stream is.
void WriteOldNibbles(const std::string& moviePath, bool interlaced)
{
    const recordtest::ParsedMovie movie = recordtest::ParseMovie(moviePath);
    std::fstream file(moviePath, std::ios::in | std::ios::out | std::ios::binary);
    for (std::size_t i = 0; i < movie.frames.size(); ++i) {
        const uint32_t events = interlaced ? i % 9 : 9 + i % 7; // never what the reader would want
        const uint32_t word = (LE32(movie.frames[i].header + 4) & 0x0FFFFFFFu) | events << 28;
        const char bytes[4] = {static_cast<char>(word), static_cast<char>(word >> 8), static_cast<char>(word >> 16),
                               static_cast<char>(word >> 24)};
        file.seekp(static_cast<std::streamoff>(movie.frames[i].offset + 4));
        file.write(bytes, 4);
    }
}

class InterlacedRecording : public ::testing::TestWithParam<StreamCase> {
protected:
    // Plays the recordings under `directory` locally; after some frames,
    // pauses and compares the picture shown with the direct decode.
    void PlayLocallyAndCompare(const std::string& directory, std::time_t began)
    {
        const std::string moviePath = OnlyMovieFile(directory);
        const recordtest::ParsedMovie movie = recordtest::ParseMovie(moviePath);
        ASSERT_TRUE(movie.ok) << movie.problem;
        MessageHost host;
        host.resize(800, 600);
        host.show();
        auto* ctrl = new CVyrdaxCtrl(&host);
        Variant r;
        ctrl->Invoke(DISPID_setDispChannel, {Variant::Short(1)}, &r);
        playbacktest::StartPlaybackOfDay(ctrl, directory, began);
        CLocalPlayback& engine = ctrl->LocalPlayback();
        // Some way into the stream, past its first group of pictures.
        EXPECT_TRUE(PumpUntil([&] { return engine.FramesShown(0) >= 20; }, 20000));
        ctrl->Invoke(DISPID_PauseFile, {}, &r);
        int64_t shownMs = -1;
        QImage shown;
        // Once nothing moves any more, the picture and its time belong together.
        PumpUntil(
            [&] {
                const int64_t before = engine.ShownFrameTimeMs(0);
                PumpUntil([] { return false; }, 200);
                shown = ctrl->Pane(0)->PictureCopy();
                shownMs = engine.ShownFrameTimeMs(0);
                return shownMs == before;
            },
            10000);
        // Frames of one millisecond share a time: the picture is one of them.
        double best = 100.0;
        for (std::size_t j = 0; j < movie.frames.size(); ++j)
            if (FrameTimeUs(movie.frames[j]) / 1000 == shownMs)
                best = std::min(best, PercentOff(shown, DecodeDirectly(movie, j, GetParam().interlaced)));
        EXPECT_LT(best, 0.5) << "shown frame at " << shownMs;
        ctrl->Invoke(DISPID_EndPlayFile, {}, &r);
        ctrl->Release();
    }

    // Backs the recordings up and plays the folder in the movie player's
    // engine: each picture shown equals the direct decode of its frame.
    void BackUpPlayAndCompare(const std::string& directory, std::time_t began, const std::string& folder)
    {
        fs::create_directories(folder);
        std::atomic<bool> stop{false};
        CBackupMaker maker(directory, began - 5, began + 60);
        ASSERT_TRUE(maker.Run(folder, stop));
        const recordtest::ParsedMovie movie = playbacktest::ParseBackup(folder, 0);
        ASSERT_TRUE(movie.ok && movie.indexOk) << movie.problem;

        zoplayer::OpenedFolder opened = zoplayer::OpenBackupFolder(folder);
        ASSERT_EQ(opened.outcome, zoplayer::OpenedFolder::kOpened);
        std::vector<zoplayer::CMovieFileReader*> readers;
        for (auto& reader : opened.readers)
            readers.push_back(reader.get());
        std::array<zoplayer::ChannelWindow*, zoplayer::kEngineChannels> windows{};
        windows[0] = &window_;
        zoplayer::PlaybackEngine engine(readers, windows, clock_);
        ASSERT_TRUE(engine.CreateDecoders());
        engine.ChooseEarliestBaseChannel();
        engine.SetPlayState(zoplayer::kPlaying);
        const std::size_t frames = std::min<std::size_t>(movie.frames.size(), 40);
        for (std::size_t j = 0; j < frames; ++j) {
            engine.RunChannelOnce(0);
            ASSERT_EQ(engine.LastShownTime(0), FrameTimeUs(movie.frames[j])) << "frame " << j;
            ASSERT_LT(PercentOff(window_.picture, DecodeDirectly(movie, j, GetParam().interlaced)), 0.5)
                << "frame " << j;
        }
    }

    class Clock : public zoplayer::PlayerClock {
    public:
        uint32_t NowMs() override { return now; }
        void SleepMs(int ms) override { now += static_cast<uint32_t>(ms); }
        uint32_t now = 5000;
    };
    class Window : public zoplayer::ChannelWindow {
    public:
        void SetTitle(const std::string&) override {}
        void ShowPicture(const uint8_t* y, const uint8_t* u, const uint8_t* v, int width, int height) override
        {
            const std::size_t luma = static_cast<std::size_t>(width) * height;
            picture.width = width;
            picture.height = height;
            picture.planes.assign(y, y + luma);
            picture.planes.insert(picture.planes.end(), u, u + luma / 4);
            picture.planes.insert(picture.planes.end(), v, v + luma / 4);
        }
        void ClearPicture() override {}
        Picture picture;
    };
    Clock clock_;
    Window window_;
};

TEST_P(InterlacedRecording, PlaysCleanlyLocallyAndInThePlayerAsWrittenAndWithOldEventNibbles)
{
    const StreamCase& c = GetParam();
    recordtest::TempDir dir;
    const std::string recordings = dir.path() + "/rec";
    fs::create_directories(recordings);
    std::time_t began;
    {
        SimProcess sim;
        ASSERT_TRUE(sim.start({"--channels", "1", "--size", std::to_string(c.width) + "x" + std::to_string(c.height),
                               "--interlace", c.interlaced ? "1" : "0", "--gop", "15", "--loop-frames", "30",
                               "--alarm", c.alarmBits, "--alarm-every", c.alarmEvery}));
        began = playbacktest::RecordFromSimulator(recordings, sim.port(), 1, 3);
    }
    const std::string moviePath = OnlyMovieFile(recordings);
    ASSERT_FALSE(moviePath.empty());
    const recordtest::ParsedMovie movie = recordtest::ParseMovie(moviePath);
    ASSERT_TRUE(movie.ok && movie.indexOk) << movie.problem;
    ASSERT_GE(movie.frames.size(), 30u);
    // Every frame header names the stream's interlace where readers look.
    const uint32_t alarm = static_cast<uint32_t>(std::stoul(c.alarmBits, nullptr, 0));
    for (const recordtest::ParsedFrame& f : movie.frames) {
        const int nibble = static_cast<int>(LE32(f.header + 4) >> 28);
        ASSERT_EQ(vyrmovie::NibbleMarksInterlace(nibble), c.interlaced) << nibble;
        ASSERT_TRUE(vyrmovie::EventsOfNibble(nibble) == 0 ||
                    static_cast<uint32_t>(vyrmovie::EventsOfNibble(nibble)) == (alarm & (c.interlaced ? 3u : 7u)))
            << nibble;
    }

    {
        SCOPED_TRACE("local playback as written");
        PlayLocallyAndCompare(recordings, began);
    }
    {
        SCOPED_TRACE("movie player as written");
        BackUpPlayAndCompare(recordings, began, dir.path() + "/backup");
    }
    WriteOldNibbles(moviePath, c.interlaced);
    {
        SCOPED_TRACE("local playback with bare event flags");
        PlayLocallyAndCompare(recordings, began);
    }
    {
        SCOPED_TRACE("movie player with bare event flags");
        BackUpPlayAndCompare(recordings, began, dir.path() + "/backup-old");
    }
}

INSTANTIATE_TEST_SUITE_P(Streams, InterlacedRecording,
                         ::testing::Values(StreamCase{"Interlaced704x480", 704, 480, true, "0x6", "2"},
                                           StreamCase{"Progressive704x480", 704, 480, false, "0xB", "1"},
                                           StreamCase{"Progressive352x240", 352, 240, false, "0x5", "3"}),
                         [](const ::testing::TestParamInfo<StreamCase>& info) { return std::string(info.param.name); });

} // namespace
