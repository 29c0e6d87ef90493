#include "MessageRecorder.h"
#include "viewercore/widgets/CBitmapSlider.h"

#include <QImage>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace {

constexpr int kSliderId = 1069;
const QColor kChannelColour(40, 80, 120);
const QColor kActiveChannelColour(200, 160, 0);
const QColor kThumbColour(250, 250, 250);
const QColor kThumbKey(0, 255, 0);

QImage Filled(int w, int h, const QColor& colour)
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

// A 10 x 15 thumb whose two outer columns are the key colour (its top-left
// pixel), so they must show the channel.
QImage Thumb()
{
    QImage thumb = Filled(10, 15, kThumbColour);
    for (int y = 0; y < 15; ++y) {
        thumb.setPixelColor(0, y, kThumbKey);
        thumb.setPixelColor(9, y, kThumbKey);
    }
    return thumb;
}

struct SliderFixture : ::testing::Test {
    void SetUp() override
    {
        parent = std::make_unique<MessageRecorder>();
        parent->resize(300, 100);
        slider = new CBitmapSlider(parent.get(), kSliderId);
        // Usable length 100 - 10 = 90 pixels; the thumb centre runs 5..95.
        ASSERT_TRUE(slider->SetBitmapChannel(Filled(100, 15, kChannelColour)));
        ASSERT_TRUE(slider->SetBitmapThumb(Thumb()));
        slider->SetRange(0, 100);
        slider->SetPos(0);
        parent->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(parent.get()));
    }

    std::unique_ptr<MessageRecorder> parent;
    CBitmapSlider* slider = nullptr;
};

} // namespace

TEST_F(SliderFixture, SizesItselfToTheChannelAndClampsPositions)
{
    EXPECT_EQ(slider->size(), QSize(100, 15));
    slider->SetRange(1, 100);
    slider->SetPos(0);
    EXPECT_EQ(slider->GetPos(), 1);
    slider->SetPos(150);
    EXPECT_EQ(slider->GetPos(), 100);
    slider->SetPos(42);
    EXPECT_EQ(slider->GetPos(), 42);
}

TEST_F(SliderFixture, MapsPositionsToThumbCentresAndBack)
{
    EXPECT_EQ(slider->PosToPixel(0), 5);
    EXPECT_EQ(slider->PosToPixel(50), 50);
    EXPECT_EQ(slider->PosToPixel(100), 95);
    EXPECT_EQ(slider->PosToPixel(33), 5 + 29); // trunc(90 * 33 / 100)
    EXPECT_EQ(slider->PixelToPos(5), 0);
    EXPECT_EQ(slider->PixelToPos(50), 50);
    EXPECT_EQ(slider->PixelToPos(95), 100);
    EXPECT_EQ(slider->PixelToPos(-40), 0);
    EXPECT_EQ(slider->PixelToPos(400), 100);

    slider->SetMargin(6, 0, 4, 0); // usable 100 - 6 - 4 - 10 = 80
    EXPECT_EQ(slider->PosToPixel(0), 11);
    EXPECT_EQ(slider->PosToPixel(100), 91);
    EXPECT_EQ(slider->PixelToPos(51), 50);
}

TEST_F(SliderFixture, DraggingPostsMovingAndReleasePostsMoved)
{
    // A press on the thumb keeps the grip: nothing moves yet.
    QTest::mousePress(slider, Qt::LeftButton, {}, QPoint(7, 7));
    EXPECT_TRUE(slider->IsDragging());
    EXPECT_TRUE(parent->Take().empty());

    // The grip was 2 px right of the centre: x 52 puts the centre at 50.
    QTest::mouseMove(slider, QPoint(52, 7));
    auto messages = parent->Take();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].message, WM_SLIDER_MOVING);
    EXPECT_EQ(messages[0].message, 0x28D1u);
    EXPECT_EQ(messages[0].wParam, static_cast<platform::WPARAM>(kSliderId));
    EXPECT_EQ(messages[0].lParam, 50);
    EXPECT_EQ(slider->GetPos(), 50);

    // Past the right end: the thumb stops at the margin, the position at max.
    QTest::mouseMove(slider, QPoint(280, 7));
    messages = parent->Take();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].lParam, 100);
    EXPECT_EQ(slider->GetPos(), 100);

    // Further out changes nothing and posts nothing.
    QTest::mouseMove(slider, QPoint(290, 7));
    EXPECT_TRUE(parent->Take().empty());

    // Past the left end.
    QTest::mouseMove(slider, QPoint(-60, 7));
    messages = parent->Take();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].lParam, 0);

    QTest::mouseRelease(slider, Qt::LeftButton, {}, QPoint(-60, 7));
    messages = parent->Take();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].message, WM_SLIDER_MOVED);
    EXPECT_EQ(messages[0].message, 0x28D2u);
    EXPECT_EQ(messages[0].wParam, static_cast<platform::WPARAM>(kSliderId));
    EXPECT_EQ(messages[0].lParam, 0);
    EXPECT_FALSE(slider->IsDragging());
}

TEST_F(SliderFixture, PressAwayFromTheThumbJumpsThere)
{
    slider->SetRange(1, 100);
    slider->SetPos(1);
    QTest::mousePress(slider, Qt::LeftButton, {}, QPoint(77, 7));
    auto messages = parent->Take();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].message, WM_SLIDER_MOVING);
    // 1 + trunc((77 - 5) / 90 * 99) = 1 + 79
    EXPECT_EQ(messages[0].lParam, 80);
    QTest::mouseRelease(slider, Qt::LeftButton, {}, QPoint(77, 7));
    messages = parent->Take();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].message, WM_SLIDER_MOVED);
    EXPECT_EQ(messages[0].lParam, 80);
}

TEST_F(SliderFixture, ReleaseWithoutMovingStillReportsThePosition)
{
    slider->SetPos(50);
    QTest::mouseClick(slider, Qt::LeftButton, {}, QPoint(50, 7));
    const auto messages = parent->Take();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].message, WM_SLIDER_MOVED);
    EXPECT_EQ(messages[0].lParam, 50);
}

TEST_F(SliderFixture, DisabledSliderIgnoresTheMouse)
{
    slider->setEnabled(false);
    QTest::mouseClick(slider, Qt::LeftButton, {}, QPoint(80, 7));
    EXPECT_TRUE(parent->Take().empty());
    EXPECT_EQ(slider->GetPos(), 0);
}

TEST_F(SliderFixture, VerticalSliderRunsTopToBottom)
{
    ASSERT_TRUE(slider->SetBitmapChannel(Filled(15, 100, kChannelColour)));
    ASSERT_TRUE(slider->SetBitmapThumb(Thumb().transformed(QTransform().rotate(90))));
    slider->SetVertical(true);
    EXPECT_EQ(slider->PosToPixel(50), 50);
    QTest::mousePress(slider, Qt::LeftButton, {}, QPoint(7, 95));
    auto messages = parent->Take();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].lParam, 100);
    QTest::mouseRelease(slider, Qt::LeftButton, {}, QPoint(7, 95));
}

TEST_F(SliderFixture, PaintsTheThumbThroughItsKeyAndTheActiveChannelBeforeIt)
{
    ASSERT_TRUE(slider->SetBitmapChannel(Filled(100, 15, kChannelColour), Filled(100, 15, kActiveChannelColour)));
    slider->SetPos(50); // thumb spans x 45..54
    const QImage picture = slider->grab().toImage();
    EXPECT_EQ(picture.pixelColor(50, 7), kThumbColour);
    // Key columns of the thumb show the channel under them.
    EXPECT_EQ(picture.pixelColor(45, 7), kActiveChannelColour);
    EXPECT_EQ(picture.pixelColor(54, 7), kChannelColour);
    EXPECT_EQ(picture.pixelColor(10, 7), kActiveChannelColour);
    EXPECT_EQ(picture.pixelColor(90, 7), kChannelColour);

    slider->setEnabled(false);
    const QImage disabled = slider->grab().toImage();
    EXPECT_EQ(disabled.pixelColor(10, 7), kChannelColour);
}

TEST(BitmapSlider, MissingBitmapsAndEmptyRangesNeverDivideByZero)
{
    MessageRecorder parent;
    parent.resize(200, 50);
    auto* slider = new CBitmapSlider(&parent, 1062);
    EXPECT_FALSE(slider->SetBitmapChannel(QImage()));
    EXPECT_FALSE(slider->SetBitmapThumb(QImage()));
    parent.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&parent));

    slider->resize(0, 0);
    slider->SetRange(1, 100);
    slider->SetPos(60);
    EXPECT_EQ(slider->GetPos(), 60);
    EXPECT_EQ(slider->PixelToPos(30), 1);
    slider->grab();

    // A real size but no thumb, then an empty range, then an inverted one.
    slider->resize(80, 15);
    QTest::mouseClick(slider, Qt::LeftButton, {}, QPoint(40, 7));
    slider->SetRange(5, 5);
    slider->SetPos(9);
    EXPECT_EQ(slider->GetPos(), 5);
    EXPECT_EQ(slider->PosToPixel(5), 0);
    QTest::mouseClick(slider, Qt::LeftButton, {}, QPoint(70, 7));
    slider->SetRange(10, 0);
    slider->SetPos(3);
    EXPECT_EQ(slider->GetPos(), 10);
    QTest::mouseClick(slider, Qt::LeftButton, {}, QPoint(20, 7));
    slider->grab();

    const auto messages = parent.Take();
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back().message, WM_SLIDER_MOVED);
    EXPECT_EQ(messages.back().lParam, 10);
}
