#include "viewercore/widgets/CButtonST.h"

#include <QApplication>
#include <QMouseEvent>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

const QColor kParentColour(0, 128, 0);
const QColor kFaceColour(30, 30, 90);
const QColor kInBody(200, 40, 40);
const QColor kOutBody(40, 40, 200);
const QColor kDisabledProbe(128, 128, 128);

// A 20 x 20 bitmap: a 10 x 10 body in the middle, the rest in `key`.
QImage KeyedBitmap(const QColor& body, const QColor& key)
{
    QImage image(20, 20, QImage::Format_RGB32);
    image.fill(key);
    for (int y = 5; y < 15; ++y)
        for (int x = 5; x < 15; ++x)
            image.setPixelColor(x, y, body);
    return image;
}

struct ButtonFixture : ::testing::Test {
    void SetUp() override
    {
        parent = std::make_unique<QWidget>();
        parent->resize(100, 60);
        QPalette palette = parent->palette();
        palette.setColor(QPalette::Window, kParentColour);
        parent->setPalette(palette);
        parent->setAutoFillBackground(true);
        button = new CButtonST(parent.get(), 1045);
        button->setGeometry(10, 10, 40, 40); // bitmap at 10..29, its body at 15..24
        button->SetColor(CButtonST::BackgroundIn, kFaceColour, false);
        button->SetColor(CButtonST::BackgroundOut, kFaceColour, false);
        button->SetColor(CButtonST::BackgroundFocus, kFaceColour, false);
        ASSERT_EQ(button->SetBitmaps(KeyedBitmap(kInBody, CButtonST::kInTransparentColour),
                                     KeyedBitmap(kOutBody, CButtonST::kOutTransparentColour)),
                  CButtonST::BitmapsTaken);
    }

    // The button's picture as the parent shows it, in button coordinates.
    QImage Picture() const
    {
        return parent->grab(button->geometry()).toImage();
    }

    void MoveMouse(const QPoint& at)
    {
        QMouseEvent move(QEvent::MouseMove, QPointF(at), button->mapToGlobal(QPointF(at)), Qt::NoButton,
                         Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(button, &move);
    }

    std::unique_ptr<QWidget> parent;
    CButtonST* button = nullptr;
};

struct HookRecorder : CButtonST::PtzHook {
    struct Call {
        bool down;
        CButtonST* button;
        bool wasDown; // the button's own state when the hook ran
    };
    void OnPtzButtonDown(CButtonST* b) override { calls.push_back({true, b, b->isDown()}); }
    void OnPtzButtonUp(CButtonST* b) override { calls.push_back({false, b, b->isDown()}); }
    std::vector<Call> calls;
};

} // namespace

TEST_F(ButtonFixture, KeyColouredPixelsShowTheButtonFace)
{
    const QImage out = Picture();
    EXPECT_EQ(out.pixelColor(20, 20), kOutBody);
    EXPECT_EQ(out.pixelColor(12, 12), kFaceColour); // magenta key of the out-bitmap
    EXPECT_EQ(out.pixelColor(2, 20), kFaceColour);

    MoveMouse(QPoint(20, 20));
    const QImage in = Picture();
    EXPECT_EQ(in.pixelColor(20, 20), kInBody);
    EXPECT_EQ(in.pixelColor(12, 12), kFaceColour); // cyan key of the in-bitmap
}

TEST_F(ButtonFixture, TransparentDrawShowsTheParentThroughKeyPixels)
{
    button->SetTransparentDraw(false);
    EXPECT_TRUE(button->IsTransparentDraw());
    const QImage out = Picture();
    EXPECT_EQ(out.pixelColor(20, 20), kOutBody);
    EXPECT_EQ(out.pixelColor(12, 12), kParentColour);
    EXPECT_EQ(out.pixelColor(2, 20), kParentColour);

    MoveMouse(QPoint(20, 20));
    const QImage in = Picture();
    EXPECT_EQ(in.pixelColor(20, 20), kInBody);
    EXPECT_EQ(in.pixelColor(12, 12), kParentColour);
}

TEST_F(ButtonFixture, BackupViewerFormKeysTheFirstBitmapWithTheGivenColour)
{
    const QColor key(10, 20, 30);
    ASSERT_EQ(button->SetBitmaps(KeyedBitmap(kInBody, key), key, KeyedBitmap(kOutBody, CButtonST::kOutTransparentColour)),
              CButtonST::BitmapsTaken);
    button->SetTransparentDraw(false);
    MoveMouse(QPoint(20, 20));
    EXPECT_EQ(Picture().pixelColor(12, 12), kParentColour);
}

TEST_F(ButtonFixture, HoverSwitchesBitmapsUntilLeaveOrDeactivation)
{
    EXPECT_FALSE(button->IsHovered());
    MoveMouse(QPoint(20, 20));
    EXPECT_TRUE(button->IsHovered());
    EXPECT_EQ(Picture().pixelColor(20, 20), kInBody);

    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(button, &leave);
    EXPECT_FALSE(button->IsHovered());
    EXPECT_EQ(Picture().pixelColor(20, 20), kOutBody);

    // A move outside the button (while it holds the mouse) ends it too.
    MoveMouse(QPoint(20, 20));
    MoveMouse(QPoint(60, 20));
    EXPECT_FALSE(button->IsHovered());

    // The window is not active here, so an activation change ends hover.
    MoveMouse(QPoint(20, 20));
    ASSERT_TRUE(button->IsHovered());
    QEvent deactivated(QEvent::ActivationChange);
    QApplication::sendEvent(button, &deactivated);
    EXPECT_FALSE(button->IsHovered());

    MoveMouse(QPoint(20, 20));
    button->setEnabled(false);
    EXPECT_FALSE(button->IsHovered());
}

TEST_F(ButtonFixture, NonFlatButtonsDoNotHover)
{
    button->SetFlat(false);
    MoveMouse(QPoint(20, 20));
    EXPECT_FALSE(button->IsHovered());
    EXPECT_EQ(Picture().pixelColor(20, 20), kOutBody);
}

TEST_F(ButtonFixture, OutBitmapIsOptionalAndFailuresLeaveNoBitmaps)
{
    ASSERT_EQ(button->SetBitmaps(KeyedBitmap(kInBody, CButtonST::kInTransparentColour)), CButtonST::BitmapsTaken);
    EXPECT_EQ(Picture().pixelColor(20, 20), kInBody);

    EXPECT_EQ(button->SetBitmaps(QImage(), KeyedBitmap(kOutBody, CButtonST::kOutTransparentColour)),
              CButtonST::BitmapSizeUnreadable);
    EXPECT_FALSE(button->HasBitmaps());
    EXPECT_EQ(Picture().pixelColor(20, 20), kFaceColour);
}

TEST_F(ButtonFixture, DisabledButtonGreysItsImage)
{
    button->setEnabled(false);
    const QColor body = Picture().pixelColor(20, 20);
    EXPECT_EQ(body.red(), body.green());
    EXPECT_EQ(body.green(), body.blue());
    EXPECT_NE(body, kOutBody);
}

TEST_F(ButtonFixture, CheckBoxModeTogglesOnClickAndShowsTheCheckedBitmap)
{
    button->SetCheckBoxMode(true);
    parent->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(parent.get()));
    EXPECT_FALSE(button->GetCheck());

    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(20, 20));
    EXPECT_TRUE(button->GetCheck());
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(button, &leave);
    EXPECT_EQ(Picture().pixelColor(20, 20), kInBody);

    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(20, 20));
    EXPECT_FALSE(button->GetCheck());
    // Unchecked shows the out-bitmap even under the pointer.
    MoveMouse(QPoint(20, 20));
    EXPECT_EQ(Picture().pixelColor(20, 20), kOutBody);

    button->SetCheck(true);
    EXPECT_TRUE(button->GetCheck());
}

TEST_F(ButtonFixture, PressAndReleaseReachTheHookBeforeTheButton)
{
    HookRecorder hook;
    button->SetPtzHook(&hook);
    parent->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(parent.get()));
    int clicks = 0;
    QObject::connect(button, &QAbstractButton::clicked, [&] { ++clicks; });

    QTest::mousePress(button, Qt::LeftButton, {}, QPoint(20, 20));
    ASSERT_EQ(hook.calls.size(), 1u);
    EXPECT_TRUE(hook.calls[0].down);
    EXPECT_EQ(hook.calls[0].button, button);
    EXPECT_FALSE(hook.calls[0].wasDown);
    EXPECT_TRUE(button->isDown());

    QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(20, 20));
    ASSERT_EQ(hook.calls.size(), 2u);
    EXPECT_FALSE(hook.calls[1].down);
    EXPECT_TRUE(hook.calls[1].wasDown);
    EXPECT_EQ(clicks, 1);

    QTest::mouseClick(button, Qt::RightButton, {}, QPoint(20, 20));
    EXPECT_EQ(hook.calls.size(), 2u);

    button->SetPtzHook(nullptr);
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(20, 20));
    EXPECT_EQ(hook.calls.size(), 2u);
    EXPECT_EQ(clicks, 2);
}

TEST_F(ButtonFixture, TooltipFollowsTextAndActivation)
{
    button->SetTooltipText(QStringLiteral("Zoom In"));
    EXPECT_EQ(button->toolTip(), QStringLiteral("Zoom In"));
    button->ActivateTooltip(false);
    EXPECT_TRUE(button->toolTip().isEmpty());
    button->ActivateTooltip(true);
    EXPECT_EQ(button->toolTip(), QStringLiteral("Zoom In"));
    button->SetTooltipText(QStringLiteral("Not Available"), false);
    EXPECT_TRUE(button->toolTip().isEmpty());
}
