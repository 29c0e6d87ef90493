// Live video end to end: the simulator's real MPEG-4 frames over loopback,
// through the receive thread, queue, decoder and conversion into the panes.
#include "PictureCompare.h"
#include "MessageHost.h"
#include "SimProcess.h"

#include "control/CVyrdaxCtrl.h"
#include "platform/MessageBox.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRegularExpression>

#include <gtest/gtest.h>

namespace {

using namespace vyrdax;

using testsupport::MessageHost;
using testsupport::PumpUntil;

struct LiveCase {
    int width, height;
};

class LiveDisplay : public ::testing::TestWithParam<LiveCase> {};

TEST_P(LiveDisplay, EveryConnectedPaneShowsItsChannelsPicture)
{
    const LiveCase c = GetParam();
    const int channels = 4, loopFrames = 30;
    SimProcess sim;
    ASSERT_TRUE(sim.start({"--channels", std::to_string(channels), "--size",
                           std::to_string(c.width) + "x" + std::to_string(c.height), "--gop", "15", "--loop-frames",
                           std::to_string(loopFrames), "--fps", "30"}));
    auto previous = platform::SetMessageBoxHandler([](const std::string&, const std::string&, unsigned) { return 1; });
    {
        MessageHost host;
        host.resize(800, 600);
        host.show();
        auto* ctrl = new CVyrdaxCtrl(&host);
        ctrl->setDispChannel(4);
        for (int ch = 0; ch < channels; ++ch)
            ctrl->SetConnectInfo("A-0" + std::to_string(ch + 1), "Guest", "", "", "127.0.0.1",
                                 static_cast<int16_t>(sim.port()), 0, static_cast<int16_t>(ch + 1), 0,
                                 static_cast<int16_t>(ch));
        ctrl->ReplaceWnd(4, 0, 0, 0, 0, 0, 0);
        for (int ch = 0; ch < channels; ++ch)
            ASSERT_TRUE(ctrl->Connect(static_cast<int16_t>(ch)));
        ASSERT_TRUE(PumpUntil([&] { return host.Count(WM_VIDEO_STARTED) == channels; }, 15000))
            << host.Count(WM_VIDEO_STARTED);
        const QRegularExpression title(R"(^ A-0\d \d\d/\d\d/20\d\d \d\d:\d\d:\d\d$)");
        // Until every pane has shown a picture of the stream's size under a
        // time title; a loaded machine may take a while to get there.
        ASSERT_TRUE(PumpUntil(
            [&] {
                for (int ch = 0; ch < channels; ++ch) {
                    const CVideoPane* pane = ctrl->Pane(ch);
                    if (!pane || pane->PictureWidth() != c.width || pane->PictureHeight() != c.height ||
                        !title.match(pane->LeftTitle()->Title()).hasMatch())
                        return false;
                }
                return true;
            },
            60000));
        for (int ch = 0; ch < channels; ++ch) {
            CVideoPane* pane = ctrl->Pane(ch);
            ASSERT_NE(pane, nullptr);
            const QImage shown = pane->PictureCopy();
            ASSERT_EQ(shown.size(), QSize(c.width, c.height)) << ch;
            if (c.height != 480) // 480-line pictures are deinterlaced, the others shown as decoded
                EXPECT_GT(displaytest::BestPsnr(shown, ch, c.width, c.height, loopFrames, 30.0), 30.0) << ch;
            else
                EXPECT_GT(displaytest::BestPsnr(shown, ch, c.width, c.height, loopFrames, 30.0), 20.0) << ch;
            EXPECT_TRUE(title.match(pane->LeftTitle()->Title()).hasMatch())
                << pane->LeftTitle()->Title().toStdString();
            // The pane on screen is not black.
            const QImage onScreen = pane->grab().toImage();
            int lit = 0;
            for (int y = 20; y < onScreen.height(); y += 7)
                for (int x = 2; x < onScreen.width(); x += 7)
                    lit += qGray(onScreen.pixel(x, y)) > 40;
            EXPECT_GT(lit, 50) << ch;
        }
        ctrl->Release(); // joins the display and receive threads
    }
    platform::SetMessageBoxHandler(previous);
}

INSTANTIATE_TEST_SUITE_P(Sizes, LiveDisplay, ::testing::Values(LiveCase{352, 240}, LiveCase{704, 480}),
                         [](const auto& info) {
                             return std::to_string(info.param.width) + "x" + std::to_string(info.param.height);
                         });

} // namespace
