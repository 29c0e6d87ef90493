// End to end: the simulator's live video over loopback into a control that
// records two channels through its dispatch interface; the files are read
// back by the control's reader, by movdump, by this test's own parser and
// by ffmpeg, and found again by the local day search.
#include "MessageHost.h"
#include "RecordTestSupport.h"
#include "SimProcess.h"

#include "control/CVyrdaxCtrl.h"
#include "control/link/DvrPacket.h"
#include "control/record/CMovieFileReader.h"
#include "platform/MessageBox.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sys/wait.h>

namespace {

using namespace vyrdax;
using platform::Variant;
using recordtest::ParsedMovie;
using recordtest::RunCommand;

using testsupport::MessageHost;
using testsupport::PumpUntil;

Variant Path(const std::string& s) { return Variant::String(std::u16string(s.begin(), s.end())); }

// Seconds of the PC clock until the next mark a short recording must not
// cross to stay one file in one half-hour: the 20-minute splits and the
// half-hour of the day search (midnight and the clock changes fall on them).
int SecondsToTheNextMark()
{
    const std::time_t now = std::time(nullptr);
    std::tm t{};
    localtime_r(&now, &t);
    const int intoTheHour = t.tm_min * 60 + t.tm_sec;
    for (const int mark : {1200, 1800, 2400, 3600})
        if (mark > intoTheHour)
            return mark - intoTheHour;
    return 0;
}

TEST(ControlRecord, LiveChannelsRecordIntoFilesThatPlayBackFrameForFrame)
{
    recordtest::TempDir dir;
    SimProcess sim;
    ASSERT_TRUE(sim.start({"--channels", "2", "--size", "352x240", "--gop", "15", "--loop-frames", "30", "--fps",
                           "30"}));
    std::vector<std::string> boxes;
    auto previous = platform::SetMessageBoxHandler([&](const std::string& text, const std::string&, unsigned) {
        boxes.push_back(text);
        return 1;
    });
    std::string names[2];
    {
        MessageHost host;
        host.resize(640, 480);
        host.show();
        auto* ctrl = new CVyrdaxCtrl(&host);
        ctrl->setDispChannel(4);
        for (int ch = 0; ch < 2; ++ch)
            ctrl->SetConnectInfo("Cam" + std::to_string(ch), "Guest", "", "", "127.0.0.1",
                                 static_cast<int16_t>(sim.port()), 0, static_cast<int16_t>(ch + 1), 0,
                                 static_cast<int16_t>(ch + 2));
        ctrl->ReplaceWnd(4, 0, 0, 0, 0, 0, 0);
        for (int ch = 0; ch < 2; ++ch)
            ASSERT_TRUE(ctrl->Connect(static_cast<int16_t>(ch)));
        ASSERT_TRUE(PumpUntil([&] { return host.Count(WM_VIDEO_STARTED) == 2; }, 15000));

        // The splits at the marks have tests of their own; here one file a
        // channel is wanted, so a start just before a mark waits until after it.
        ASSERT_TRUE(PumpUntil([] { return SecondsToTheNextMark() >= 30; }, 60000));
        Variant r;
        ASSERT_EQ(ctrl->Invoke(DISPID_SetRecType, {Variant::Short(0)}, &r), platform::S_OK);
        for (int ch = 0; ch < 2; ++ch) {
            const std::time_t now = std::time(nullptr);
            std::tm t{};
            localtime_r(&now, &t);
            names[ch] = vyrmovie::RecordingFileName("F.Cam" + std::to_string(ch), t, ch);
            ASSERT_EQ(ctrl->Invoke(DISPID_StartRecord,
                                   {Path(dir.path()), Path(names[ch]), Path("F.Cam" + std::to_string(ch)),
                                    Variant::Long(0), Variant::Short(static_cast<int16_t>(ch))},
                                   &r),
                      platform::S_OK);
            EXPECT_EQ(r.vt, platform::VT_I4);
            EXPECT_EQ(r.i, 0);
        }
        PumpUntil([] { return false; }, 3000);
        for (int ch = 0; ch < 2; ++ch)
            ASSERT_EQ(ctrl->Invoke(DISPID_StopRecord, {Variant::Short(static_cast<int16_t>(ch))}, &r),
                      platform::S_OK);
        EXPECT_EQ(host.LParams(WM_VIDEO_RECORD_STOPPED), (std::vector<int>{2, 3}));

        // The day search finds both channels in the current half-hour.
        const std::time_t now = std::time(nullptr);
        std::tm t{};
        localtime_r(&now, &t);
        char pattern[64];
        std::snprintf(pattern, sizeof pattern, "*.%04d%02d%02d.*.mp4", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday);
        ASSERT_EQ(ctrl->Invoke(DISPID_GetTimeDataL, {Path(dir.path()), Path(pattern)}, &r), platform::S_OK);
        ASSERT_EQ(r.vt, platform::VT_PTR);
        ASSERT_EQ(r.ptrSize, 3076u);
        const uint8_t* list = static_cast<const uint8_t*>(r.ptr);
        const int slot = t.tm_hour * 2 + (t.tm_min > 29);
        EXPECT_EQ(list[4 + 0 * 48 + slot], 23);
        EXPECT_EQ(list[4 + 1 * 48 + slot], 23);
        ctrl->Release();
    }
    platform::SetMessageBoxHandler(previous);
    EXPECT_TRUE(boxes.empty());

    for (int ch = 0; ch < 2; ++ch) {
        SCOPED_TRACE(ch);
        const std::time_t now = std::time(nullptr);
        std::tm t{};
        localtime_r(&now, &t);
        const std::string movie = vyrmovie::DayDirectory(dir.path(), t) + "/" + names[ch];
        const ParsedMovie m = recordtest::ParseMovie(movie);
        ASSERT_TRUE(m.ok) << m.problem;
        EXPECT_TRUE(m.indexOk);
        ASSERT_GT(m.frames.size(), 40u);
        EXPECT_EQ(vyrmovie::ReadLE32(m.frames[0].header + 4) >> 24 & 0xF, static_cast<uint32_t>(ch));

        // The control's reader plays every frame back, byte for byte.
        vyrmovie::CMovieFileReader reader;
        ASSERT_EQ(reader.Open(movie, movie + "i"), 1);
        EXPECT_EQ(reader.ChannelIndex(), ch);
        reader.Play();
        std::size_t read = 0;
        while (reader.ReadNext() == 1) {
            ASSERT_LT(read, m.frames.size());
            const auto& payload = m.frames[read].payload;
            ASSERT_EQ(reader.PayloadLength(), payload.size());
            EXPECT_EQ(std::memcmp(reader.Payload(), payload.data(), payload.size()), 0) << read;
            ++read;
        }
        EXPECT_EQ(read, m.frames.size());
        EXPECT_EQ(reader.EndFlag(), 1);

        int status = -1;
        const std::string dump = recordtest::RunCommand(std::string(MOVDUMP_PATH) + " " + movie, &status);
        EXPECT_EQ(status, 0) << dump;
        EXPECT_NE(dump.find("frames " + std::to_string(m.frames.size()) + " "), std::string::npos) << dump;

        // The bare stream decodes in ffmpeg without a complaint: the stream
        // header goes in front, as the playback does, unless the first frame has it.
        const std::string stream = dir.path() + "/ch" + std::to_string(ch) + ".m4v";
        {
            std::ofstream out(stream, std::ios::binary);
            const auto& first = m.frames[0].payload;
            if (!(first.size() > 4 && first[0] == 0 && first[1] == 0 && first[2] == 1 && first[3] == 0)) {
                StreamHeader h = kStreamHeaderTemplate;
                PatchStreamHeader(h, vyrmovie::ReadLE16(m.frames[0].header + 8), vyrmovie::ReadLE16(m.frames[0].header + 10),
                                  false);
                out.write(reinterpret_cast<const char*>(h.data()), static_cast<std::streamsize>(h.size()));
            }
            for (const auto& f : m.frames)
                out.write(reinterpret_cast<const char*>(f.payload.data()), static_cast<std::streamsize>(f.payload.size()));
        }
        // The simulator replays a loop, so its frame clock starts over every
        // loop; the frames are renumbered after decoding for the null muxer.
        const std::string errors = recordtest::RunCommand(
            "ffmpeg -nostdin -v error -f m4v -i " + stream + " -vf setpts=N/30/TB -f null -", &status);
        EXPECT_EQ(status, 0);
        EXPECT_EQ(errors, "");
        const std::string count = recordtest::RunCommand("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                                      "stream=nb_read_frames,width,height -of csv=p=0 -f m4v " + stream,
                                      &status);
        EXPECT_EQ(count, "352,240," + std::to_string(m.frames.size()) + "\n");
    }
}

} // namespace
