#include "PlaybackFixture.h"

#include "MessageHost.h"
#include "RecordTestSupport.h"

#include "control/CVyrdaxCtrl.h"

#include "control/record/MovieFormat.h"
#include "control/record/RecordingWriter.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/time.h>

namespace playbacktest {

namespace fs = std::filesystem;
using recordtest::LocalTime;

void WriteRecordings(const std::string& directory, const std::vector<Segment>& segments, int fps)
{
    recordtest::FakeClock clock;
    vyrdax::RecordingWriter::Notices notices;
    notices.stopped = [](int) {};
    notices.fileError = [](int) {};
    vyrdax::RecordingWriter writer(notices, clock.clock());
    const auto& frames = recordtest::EncodedFrames(352, 240, 30, 10);
    for (const Segment& s : segments) {
        clock.seconds = s.start;
        clock.milliseconds = 0;
        std::tm local{};
        localtime_r(&s.start, &local);
        writer.StartRecord(true, directory, vyrmovie::RecordingFileName(s.prefix, local, s.channel), s.prefix,
                           s.channel);
        for (int k = 0; clock.seconds.load() < s.start + s.seconds; ++k) {
            const recordtest::Frame& f = frames[static_cast<std::size_t>(k) % frames.size()];
            writer.WriteRecordFrame(s.channel, f.bytes.data(),
                                    recordtest::MakeInfo(f, s.channel, 352, 240, static_cast<uint32_t>(k % 10)));
            clock.advanceMs(1000 / fps);
        }
        writer.StopRecord(true, s.channel);
    }
    for (const auto& entry : fs::recursive_directory_iterator(directory)) {
        const std::string path = entry.path().string();
        if (entry.path().extension() != ".mp4")
            continue;
        const recordtest::ParsedMovie movie = recordtest::ParseMovie(path);
        if (movie.frames.empty())
            continue;
        const std::time_t last = static_cast<int32_t>(recordtest::LE32(movie.frames.back().header + 24));
        struct timeval times[2] = {{last, 0}, {last, 0}};
        ::utimes(path.c_str(), times);
        ::utimes((path + "i").c_str(), times);
    }
}

std::vector<Segment> YearEndSegments()
{
    return {
        {0, "F.Cam0", LocalTime(2026, 12, 31, 10, 0, 0), 20},
        {0, "F.Cam0", LocalTime(2026, 12, 31, 10, 0, 30), 20},
        {0, "F.Cam0", LocalTime(2026, 12, 31, 10, 40, 0), 20},
        {0, "F.Cam0", LocalTime(2026, 12, 31, 23, 50, 0), 20},
        {0, "F.Cam0", LocalTime(2027, 1, 1, 0, 10, 0), 20},
        {1, "M.Cam1", LocalTime(2026, 12, 31, 10, 0, 5), 20},
        {2, "S.Cam2", LocalTime(2026, 12, 31, 10, 20, 0), 10},
        {3, "R.Cam3", LocalTime(2026, 12, 31, 10, 0, 2), 10},
        {4, "F.Cam4", LocalTime(2026, 12, 31, 10, 0, 4), 6},
    };
}

std::string DayPattern(std::time_t t)
{
    std::tm local{};
    localtime_r(&t, &local);
    char pattern[64];
    std::snprintf(pattern, sizeof pattern, "*.%04d%02d%02d.*.mp4", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday);
    return pattern;
}

int SlotOf(std::time_t t)
{
    std::tm local{};
    localtime_r(&t, &local);
    return local.tm_hour * 2 + (local.tm_min > 29);
}

void StartPlaybackOfDay(vyrdax::CVyrdaxCtrl* ctrl, const std::string& directory, std::time_t start)
{
    using platform::Variant;
    auto text = [](const std::string& s) { return Variant::String(std::u16string(s.begin(), s.end())); };
    Variant r;
    ctrl->Invoke(vyrdax::DISPID_SetBackupMode, {Variant::Short(1)}, &r);
    EXPECT_EQ(ctrl->Invoke(vyrdax::DISPID_GetTimeDataL, {text(directory), text(DayPattern(start))}, &r),
              platform::S_OK);
    ctrl->Invoke(vyrdax::DISPID_StartLocalPlayback,
                 {Variant::Short(static_cast<int16_t>(SlotOf(start))), Variant::Long(static_cast<int32_t>(start))},
                 &r);
}

recordtest::ParsedMovie ParseBackup(const std::string& folder, int slot)
{
    // The layout is a recording's: a copy named the recording way.
    const std::string copy = folder + "/check" + std::to_string(slot) + ".mp4";
    fs::copy_file(vyrmovie::BackupMovieFile(folder, slot), copy, fs::copy_options::overwrite_existing);
    fs::copy_file(vyrmovie::BackupIndexFile(folder, slot), copy + "i", fs::copy_options::overwrite_existing);
    recordtest::ParsedMovie movie = recordtest::ParseMovie(copy);
    fs::remove(copy);
    fs::remove(copy + "i");
    return movie;
}

bool Black(const QImage& image)
{
    for (int y = 0; y < image.height(); y += 5)
        for (int x = 0; x < image.width(); x += 5)
            if (qGray(image.pixel(x, y)) > 30)
                return false;
    return true;
}

std::time_t RecordFromSimulator(const std::string& directory, int port, int channels, int seconds)
{
    using testsupport::PumpUntil;
    testsupport::MessageHost host;
    auto* ctrl = new vyrdax::CVyrdaxCtrl(&host);
    ctrl->setDispChannel(16);
    for (int ch = 0; ch < channels; ++ch)
        ctrl->SetConnectInfo("Cam" + std::to_string(ch), "Guest", "", "", "127.0.0.1", static_cast<int16_t>(port), 1,
                             static_cast<int16_t>(ch + 1), 0, static_cast<int16_t>(ch));
    for (int ch = 0; ch < channels; ++ch)
        EXPECT_TRUE(ctrl->Connect(static_cast<int16_t>(ch)));
    EXPECT_TRUE(PumpUntil([&] { return host.Count(vyrdax::WM_VIDEO_STARTED) == channels; }, 20000));
    const std::time_t began = std::time(nullptr);
    for (int ch = 0; ch < channels; ++ch) {
        std::tm t{};
        localtime_r(&began, &t);
        const std::string prefix = "F.Cam" + std::to_string(ch);
        ctrl->StartRecord(directory, vyrmovie::RecordingFileName(prefix, t, ch), prefix, 0, static_cast<int16_t>(ch));
    }
    // For `seconds`, and on until every channel has brought a second's
    // frames (each one recorded as it comes), however few a loaded machine
    // lets the simulator send meanwhile.
    std::vector<uint64_t> atStart;
    for (int ch = 0; ch < channels; ++ch)
        atStart.push_back(ctrl->Channel(ch).framesShown.load());
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    EXPECT_TRUE(PumpUntil(
        [&] {
            if (std::chrono::steady_clock::now() < until)
                return false;
            for (int ch = 0; ch < channels; ++ch)
                if (ctrl->Channel(ch).framesShown.load() < atStart[static_cast<std::size_t>(ch)] + 30)
                    return false;
            return true;
        },
        seconds * 1000 + 120000))
        << "a channel brought too few frames";
    for (int ch = 0; ch < channels; ++ch)
        ctrl->StopRecord(static_cast<int16_t>(ch));
    ctrl->Release();
    return began;
}

void DamageKeyFrame(const std::string& moviePath, int keyFrame)
{
    const recordtest::ParsedMovie movie = recordtest::ParseMovie(moviePath);
    int seen = 0;
    for (const recordtest::ParsedFrame& f : movie.frames) {
        if (!f.key || seen++ != keyFrame)
            continue;
        std::fstream file(moviePath, std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(static_cast<std::streamoff>(f.offset + 32));
        const std::string noise(f.length, '\x5a');
        file.write(noise.data(), static_cast<std::streamsize>(noise.size()));
        ASSERT_TRUE(file.good()) << moviePath;
        return;
    }
    FAIL() << moviePath << " has no key frame " << keyFrame;
}

} // namespace playbacktest
