// End to end: sixteen channels of the simulator recorded through the
// control, played back in step through the calls the backup viewer makes,
// shown moving in every pane of a separate host process, and backed up into
// a folder that movdump accepts.
#include "EndWithTest.h"
#include "MessageHost.h"
#include "PlaybackFixture.h"
#include "RecordTestSupport.h"
#include "SimProcess.h"

#include "control/CVyrdaxCtrl.h"
#include "control/PlayState.h"
#include "control/backup/CBackupRuns.h"
#include "control/playback/CLocalPlayback.h"
#include "platform/MessageBox.h"

#include <QElapsedTimer>
#include <QImage>
#include <QProcess>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace vyrdax;
using platform::Variant;
using testsupport::MessageHost;
using playbacktest::DayPattern;
using playbacktest::SlotOf;
using testsupport::PumpUntil;

constexpr int kChannels = 16;
constexpr int kFrameMs = 33; // 30 frames a second

Variant Text(const std::string& s) { return Variant::String(std::u16string(s.begin(), s.end())); }

double MeanDifference(const QImage& a, const QImage& b, const QRect& r)
{
    double sum = 0;
    int n = 0;
    for (int y = r.top(); y < r.bottom(); y += 3)
        for (int x = r.left(); x < r.right(); x += 3, ++n)
            sum += std::abs(qGray(a.pixel(x, y)) - qGray(b.pixel(x, y)));
    return n ? sum / n : 0;
}

double MeanGray(const QImage& a, const QRect& r)
{
    double sum = 0;
    int n = 0;
    for (int y = r.top(); y < r.bottom(); y += 3)
        for (int x = r.left(); x < r.right(); x += 3, ++n)
            sum += qGray(a.pixel(x, y));
    return n ? sum / n : 0;
}

TEST(PlaybackEndToEnd, SixteenRecordedChannelsPlayInStepShowMovingVideoAndBackUp)
{
    recordtest::TempDir dir;
    const std::string recordings = dir.path() + "/rec";
    const std::string backups = dir.path() + "/backup";
    fs::create_directories(recordings);
    fs::create_directories(backups);
    std::vector<std::string> boxes;
    auto previous = platform::SetMessageBoxHandler([&](const std::string& text, const std::string&, unsigned) {
        boxes.push_back(text);
        return 1;
    });
    std::time_t began;
    {
        SimProcess sim;
        ASSERT_TRUE(sim.start({"--channels", std::to_string(kChannels), "--size", "352x240", "--gop", "15",
                               "--loop-frames", "30", "--fps", "30"}));
        began = playbacktest::RecordFromSimulator(recordings, sim.port(), kChannels, 4);
    }
    const std::time_t ended = std::time(nullptr);

    // The backup viewer's calls: its host, playback mode, the day search,
    // then playback from the recording's start.
    MessageHost host;
    host.resize(1024, 768);
    host.show();
    auto* ctrl = new CVyrdaxCtrl(&host);
    Variant r;
    ctrl->Invoke(DISPID_setDispChannel, {Variant::Short(16)}, &r);
    playbacktest::StartPlaybackOfDay(ctrl, recordings, began);
    ctrl->ReplaceWnd(16, 0, 0, 0, 0, 0, 0);
    CLocalPlayback& engine = ctrl->LocalPlayback();
    // Every channel shows its pictures; a play-back that a loaded machine
    // lets reach the recording's end first starts again.
    ASSERT_TRUE(PumpUntil(
        [&] {
            if (engine.EndReached())
                playbacktest::StartPlaybackOfDay(ctrl, recordings, began);
            for (int ch = 0; ch < kChannels; ++ch)
                if (engine.FramesShown(ch) < 3)
                    return false;
            return true;
        },
        120000));
    // The frames on screen were recorded within a frame period of each
    // other whenever the machine lets every channel's thread run: one that a
    // loaded machine holds back shows its frame late, never early, and its
    // pane lags until the thread runs again. Looks while the channels play
    // count the moments all sixteen are within a frame period, until there
    // have been enough of them; a play-back that reaches the recording's end
    // first starts again from its beginning. A channel paced by anything but
    // the common clock is never within a frame period of the others.
    constexpr int kInStepMoments = 10;
    int inStep = 0, looks = 0;
    int64_t closest = INT64_MAX;
    QElapsedTimer looking;
    looking.start();
    while (inStep < kInStepMoments && looking.elapsed() < 120000) {
        if (engine.EndReached()) {
            playbacktest::StartPlaybackOfDay(ctrl, recordings, began);
            continue;
        }
        int64_t low = INT64_MAX, high = INT64_MIN;
        for (int ch = 0; ch < kChannels; ++ch) {
            const int64_t t = engine.ShownFrameTimeMs(ch);
            low = std::min(low, t);
            high = std::max(high, t);
        }
        // A channel not yet shown since a start has no time to compare.
        if (low > 0 && !engine.EndReached() && playback::state.load() == PLAY_PLAYING) {
            ++looks;
            closest = std::min(closest, high - low);
            inStep += high - low <= kFrameMs;
        }
        PumpUntil([] { return false; }, 23);
    }
    ::testing::Test::RecordProperty("in_step_looks", looks);
    EXPECT_GE(inStep, kInStepMoments) << looks << " looks, the closest " << closest << " ms apart";
    ctrl->Invoke(DISPID_EndPlayFile, {}, &r);
    EXPECT_EQ(ctrl->Pane(0), nullptr);

    // The same through a host process that finds the control in the
    // registry: two grabs some frames apart differ in every pane.
    {
        const std::string registry = dir.path() + "/registry.ini";
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("VYR_REGISTRY", QString::fromStdString(registry));
        env.insert("QT_QPA_PLATFORM", "offscreen");
        QProcess regsvr;
        regsvr.setProcessEnvironment(env);
        regsvr.start(REGSVR_PROGRAM, {VYRDAX_LIBRARY});
        ASSERT_TRUE(regsvr.waitForFinished(10000));
        ASSERT_EQ(regsvr.exitCode(), 0);
        QProcess vyrhost;
        vyrhost.setProcessEnvironment(env);
        testsupport::EndWithTest(vyrhost);
        vyrhost.start(VYRHOST_PROGRAM, {"--size", "1024x768"});
        ASSERT_TRUE(vyrhost.waitForStarted(5000));
        vyrhost.write(("call setDispChannel 16\n"
                       "call SetBackupMode 1\n"
                       "call GetTimeDataL \"" + recordings + "\" \"" + DayPattern(began) + "\"\n"
                       "call StartLocalPlayback " + std::to_string(SlotOf(began)) + " " + std::to_string(began) +
                       "\n"
                       "call ReplaceWnd 16 0 0 0 0 0 0\n")
                          .c_str());
        // The host answers each call with a line of its own ("= " or "! ")
        // among the messages it prints; a grab is on disk once the call
        // after it is answered.
        std::string out;
        auto answers = [&] {
            out += vyrhost.readAllStandardOutput().toStdString();
            int lines = 0;
            for (std::size_t at = 0; at < out.size(); at = out.find('\n', at) + 1) {
                if (out.compare(at, 2, "= ") == 0 || out.compare(at, 1, "!") == 0)
                    ++lines;
                if (out.find('\n', at) == std::string::npos)
                    break;
            }
            return lines;
        };
        // Two grabs some frames apart, each pair from a fresh start of the
        // play-back, until every pane has shown two pictures that differ: a
        // loaded machine may hold a pane still for a while, or take so long
        // over the grabs that the four seconds of recording have played out
        // (the panes then hold their last pictures). The first grab of each
        // pair comes a little later than the one before, up to 3 s after the
        // start: a machine that takes longer to bring sixteen channels' first
        // pictures than the first wait would otherwise grab every start
        // before its panes move.
        double brightest[kChannels] = {}, moved[kChannels] = {};
        auto everyPaneMoved = [&] {
            for (int cell = 0; cell < kChannels; ++cell)
                if (brightest[cell] <= 20.0 || moved[cell] <= 2.0)
                    return false;
            return true;
        };
        const std::string restart =
            "call StartLocalPlayback " + std::to_string(SlotOf(began)) + " " + std::to_string(began) + "\n";
        int pairs = 0;
        QElapsedTimer clock;
        clock.start();
        while (!everyPaneMoved() && clock.elapsed() < 120000) {
            const std::string first = dir.path() + "/grab" + std::to_string(pairs) + "a.png";
            const std::string second = dir.path() + "/grab" + std::to_string(pairs) + "b.png";
            const int settleMs = std::min(300 * (pairs + 1), 3000);
            vyrhost.write(((pairs > 0 ? restart : std::string()) + "sleep " + std::to_string(settleMs) + "\ngrab " +
                           first + "\nsleep 200\ngrab " + second + "\ncall GetDVRType\n")
                              .c_str());
            // The five calls above, then the restart (after the first pair)
            // and one after each pair.
            const int expected = 5 + 2 * pairs + 1;
            while (answers() < expected)
                ASSERT_TRUE(vyrhost.waitForReadyRead(30000)) << out;
            ++pairs;
            const QImage a(QString::fromStdString(first)), b(QString::fromStdString(second));
            ASSERT_FALSE(a.isNull());
            ASSERT_EQ(a.size(), b.size());
            const int cellWidth = a.width() / 4, cellHeight = a.height() / 4;
            for (int cell = 0; cell < kChannels; ++cell) {
                // The middle of the cell, below its title bars.
                const QRect middle(cell % 4 * cellWidth + cellWidth / 4, cell / 4 * cellHeight + cellHeight / 3,
                                   cellWidth / 2, cellHeight / 2);
                const double grayA = MeanGray(a, middle), grayB = MeanGray(b, middle);
                brightest[cell] = std::max({brightest[cell], grayA, grayB});
                // Moving video: two grabs that both show a picture, and differ.
                if (grayA > 20.0 && grayB > 20.0)
                    moved[cell] = std::max(moved[cell], MeanDifference(a, b, middle));
            }
        }
        vyrhost.write("call EndPlayFile\nquit\n");
        vyrhost.closeWriteChannel();
        ASSERT_TRUE(vyrhost.waitForFinished(30000));
        EXPECT_EQ(vyrhost.exitCode(), 0) << vyrhost.readAllStandardError().toStdString();
        answers();
        EXPECT_EQ(out.find('!'), std::string::npos) << out;
        for (int cell = 0; cell < kChannels; ++cell) {
            SCOPED_TRACE(cell);
            EXPECT_GT(brightest[cell], 20.0);
            EXPECT_GT(moved[cell], 2.0) << pairs << " pairs of grabs";
        }
        fs::remove(registry);
        fs::remove(registry + ".lock");
    }

    // A backup of the recording: one file per channel that movdump accepts.
    host.messages.clear();
    ASSERT_EQ(ctrl->Invoke(DISPID_BackUp,
                           {Text(recordings), Text(backups), Variant::Long(static_cast<int32_t>(began)),
                            Variant::Long(static_cast<int32_t>(ended)), Variant::Long(100000)},
                           &r),
              platform::S_OK);
    EXPECT_EQ(r.i, 1) << "estimate " << (host.messages.empty() ? -1 : host.messages.front().lParam);
    ASSERT_TRUE(PumpUntil([&] { return host.Count(WM_VIDEO_PROGRESS, 0) == 1; }, 30000));
    EXPECT_EQ(host.Of(WM_VIDEO_PROGRESS, 0).front().lParam, 0);
    const std::string folder = ctrl->Backups().LastFolder();
    for (int ch = 0; ch < kChannels; ++ch) {
        SCOPED_TRACE(ch);
        int status = -1;
        const std::string dump =
            recordtest::RunCommand(std::string(MOVDUMP_PATH) + " --quiet " + vyrmovie::BackupMovieFile(folder, ch),
                                   &status);
        EXPECT_EQ(status, 0) << dump;
        EXPECT_NE(dump.find("authentic"), std::string::npos) << dump;
    }
    ctrl->Release();
    platform::SetMessageBoxHandler(previous);
    EXPECT_TRUE(boxes.empty());
}

} // namespace
