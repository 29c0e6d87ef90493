// Snapshots of a pane: a JPEG file of the last picture at its own size, with
// the title stamped in, read back by libjpeg-turbo's djpeg.
#include "control/CVyrdaxCtrl.h"
#include "platform/MessageBox.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

using namespace vyrdax;

// djpeg's decode of a JPEG file as an image; null when djpeg refuses it.
QImage DecodeWithDjpeg(const std::string& path)
{
    QProcess djpeg;
    djpeg.start("djpeg", {"-pnm", QString::fromStdString(path)});
    if (!djpeg.waitForFinished(10000) || djpeg.exitCode() != 0)
        return {};
    QImage image;
    image.loadFromData(djpeg.readAllStandardOutput(), "PPM");
    return image;
}

class SnapshotTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path() / ("vyr-snap-" + std::to_string(getpid()) + "-" +
                                             ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
        previous_ = platform::SetMessageBoxHandler([this](const std::string& text, const std::string&, unsigned) {
            boxes.push_back(text);
            return platform::IDOK;
        });
        host.resize(800, 600);
        ctrl = new CVyrdaxCtrl(&host);
        ctrl->SetConnectInfo("Gate-03", "Guest", "", "", "127.0.0.1", 9201, 0, 1, 0, 0);
        ctrl->ReplaceWnd(16, 0, 0, 0, 0, 0, 0);
        ctrl->Pane(0)->setGeometry(0, 0, 200, 150);
        // A 720 x 480 picture: a grey ramp across, blue at the bottom.
        std::vector<uint8_t> y(720 * 480), u(360 * 240, 128), v(360 * 240, 128);
        for (int row = 0; row < 480; ++row)
            for (int col = 0; col < 720; ++col)
                y[row * 720 + col] = static_cast<uint8_t>(30 + col / 4);
        for (int row = 200; row < 240; ++row)
            for (int col = 0; col < 360; ++col)
                u[row * 360 + col] = 220;
        ctrl->Pane(0)->ShowYV12Frame(y.data(), u.data(), v.data(), 720, 480);
        ctrl->SetStatus(0, STATUS_LIVE);
    }
    void TearDown() override
    {
        platform::SetMessageBoxHandler(previous_);
        fs::remove_all(dir_);
    }
    std::string Path(const char* name) const { return (dir_ / name).string(); }

    fs::path dir_;
    platform::MessageBoxHandler previous_;
    std::vector<std::string> boxes;
    QWidget host;
    CVyrdaxCtrl* ctrl = nullptr;
};

TEST_F(SnapshotTest, IsTheWholePictureWithTheTitleStampedIn)
{
    ctrl->Pane(0)->LeftTitle()->SetTitle(" Gate-03 12/09/2026 10:20:30");
    const QImage before = ctrl->Pane(0)->PictureCopy();
    ASSERT_TRUE(ctrl->SaveToBMP(Path("snap.jpg"), 0));
    const QImage jpeg = DecodeWithDjpeg(Path("snap.jpg"));
    ASSERT_EQ(jpeg.size(), QSize(720, 480)); // its own size, not the pane's
    const QImage after = ctrl->Pane(0)->PictureCopy();
    // The stamp is in the pane's picture until the next frame replaces it.
    int stamped = 0;
    for (int y = 10; y < 22; ++y)
        for (int x = 10; x < 150; ++x)
            stamped += after.pixelColor(x, y) != before.pixelColor(x, y);
    EXPECT_GT(stamped, 40);
    // The file shows the picture: the ramp, the blue band and the white text.
    EXPECT_NEAR(jpeg.pixelColor(600, 100).red(), after.pixelColor(600, 100).red(), 6);
    EXPECT_NEAR(jpeg.pixelColor(100, 100).green(), after.pixelColor(100, 100).green(), 6);
    EXPECT_GT(jpeg.pixelColor(360, 450).blue(), jpeg.pixelColor(360, 450).red() + 60);
    int white = 0;
    for (int y = 10; y < 22; ++y)
        for (int x = 10; x < 150; ++x)
            white += qGray(jpeg.pixel(x, y)) > 200;
    EXPECT_GT(white, 20);
    EXPECT_TRUE(boxes.empty());
}

TEST_F(SnapshotTest, AnEmptyTitleLeavesTheBarePicture)
{
    ctrl->Pane(0)->LeftTitle()->SetTitle("");
    const QImage before = ctrl->Pane(0)->PictureCopy();
    ASSERT_TRUE(ctrl->SaveToBMP(Path("bare.jpg"), 0));
    EXPECT_EQ(ctrl->Pane(0)->PictureCopy(), before);
    const QImage jpeg = DecodeWithDjpeg(Path("bare.jpg"));
    ASSERT_FALSE(jpeg.isNull());
    EXPECT_LT(qGray(jpeg.pixel(20, 15)), 60);
}

TEST_F(SnapshotTest, NothingIsWrittenWithoutStatusOrWhereNoFileCanBe)
{
    ctrl->SetChannelStatus("Disconnected", 0); // status word 0
    EXPECT_FALSE(ctrl->SaveToBMP(Path("none.jpg"), 0));
    EXPECT_FALSE(fs::exists(Path("none.jpg")));
    EXPECT_FALSE(ctrl->SaveToBMP(Path("x.jpg"), 5));  // no pane
    EXPECT_FALSE(ctrl->SaveToBMP(Path("x.jpg"), 99)); // no such channel
    EXPECT_TRUE(boxes.empty());

    ctrl->SetStatus(0, STATUS_LIVE);
    const std::string unwritable = Path("no-such-dir/snap.jpg");
    EXPECT_FALSE(ctrl->SaveToBMP(unwritable, 0));
    EXPECT_FALSE(fs::exists(unwritable));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], "ERROR!!!!");
}

} // namespace
