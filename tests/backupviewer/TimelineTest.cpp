#include "backupviewer/view/CVyrNVRView.h"
#include "backupviewer/view/DayTimeline.h"

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include <cstdlib>

using namespace backupviewer;

namespace {

QColor Colour(uint32_t colorRef) { return QColor(colorRef & 0xFF, (colorRef >> 8) & 0xFF, (colorRef >> 16) & 0xFF); }

class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* zone)
    {
        if (const char* old = std::getenv("TZ"))
            previous_ = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ScopedTimeZone()
    {
        if (previous_.empty())
            unsetenv("TZ");
        else
            setenv("TZ", previous_.c_str(), 1);
        tzset();
    }

private:
    std::string previous_;
};

} // namespace

TEST(DayTimeline, GeometryCentresTheColumnsAndPlacesTheRows)
{
    const TimelineGeometry local = ComputeTimelineGeometry(QSize(1024, 768), 185, 16, 17, true);
    EXPECT_EQ(local.slotWidth, 16);
    EXPECT_EQ(local.x0, 233); // 774 = 48 * 16 + 6
    EXPECT_EQ(local.firstRowTop, 768 - 15 * 17 - 15);
    EXPECT_EQ(local.Box(0, 0), QRect(QPoint(233, local.firstRowTop), QPoint(248, local.firstRowTop + 14)));
    EXPECT_EQ(local.ScrollBarRect(), QRect(233 + 48 * 16, local.firstRowTop - 1, 15, 240));
    const TimelineGeometry dvr = ComputeTimelineGeometry(QSize(1024, 768), 185, 16, 17, false);
    EXPECT_EQ(dvr.slotWidth, 16); // 785 = 48 * 16 + 17
    EXPECT_EQ(dvr.x0, 238);
    // A width that is a multiple of 48 plus 46 splits the rest evenly.
    const TimelineGeometry odd = ComputeTimelineGeometry(QSize(185 + 16 + 49 + 480 + 46, 600), 185, 16, 17, true);
    EXPECT_EQ(odd.slotWidth, 10);
    EXPECT_EQ(odd.x0, 230 + 23);
}

TEST(DayTimeline, HitTestGivesTheSlotAndMinusOneOutside)
{
    const TimelineGeometry g = ComputeTimelineGeometry(QSize(1024, 768), 185, 16, 17, true);
    EXPECT_EQ(HitTestSlot(g, g.Box(0, 20).center()), 20);
    EXPECT_EQ(HitTestSlot(g, g.Box(15, 47).center()), 47);
    EXPECT_EQ(HitTestSlot(g, QPoint(g.x0 - 20, g.Box(3, 0).center().y())), -1); // the labels
    EXPECT_EQ(HitTestSlot(g, QPoint(g.x0 + 5, 768 - 10)), -1);                 // the legend
    EXPECT_EQ(HitTestSlot(g, QPoint(g.x0 + 48 * 16 + 2, g.Box(0, 0).center().y())), -1);
}

TEST(DayTimeline, SlotRulesOfTheTimeSearchAndTheRecordingTest)
{
    EXPECT_EQ(CVyrNVRView::SlotOfTime(10, 30), 20);
    EXPECT_EQ(CVyrNVRView::SlotOfTime(10, 31), 21);
    EXPECT_EQ(CVyrNVRView::SlotOfTime(0, 0), 0);
    EXPECT_EQ(CVyrNVRView::SlotOfTime(23, 59), 47);

    DayBlock block;
    block.bytes[4 + 20 * 48 + 7] = kCodeMotion; // channel 20, slot 7
    block.bytes[4 + 0 * 48 + 9] = 18;          // not a recording code
    EXPECT_FALSE(SlotHasRecordings(block, 17, 7)); // row 20 is not among rows 0..16
    EXPECT_TRUE(SlotHasRecordings(block, 21, 7));  // rows 0..20, whatever the scroll
    EXPECT_FALSE(SlotHasRecordings(block, 65, 9));
    EXPECT_EQ(ClampRowCount(200), 65);
    EXPECT_EQ(ClampRowCount(0), 2);
    EXPECT_EQ(TimelineHeight(17), 17 * 15 + 33);
}

TEST(DayTimeline, SlotTimesFollowLocalTimeAcrossDaylightSaving)
{
    ScopedTimeZone berlin("Europe/Berlin");
    const std::optional<std::time_t> midnight = LocalMidnight(2009, 3, 29);
    ASSERT_TRUE(midnight);
    EXPECT_EQ(*midnight, 1238281200);
    EXPECT_EQ(SlotTime(*midnight, 3), std::optional<std::time_t>(1238286600)); // 01:30
    EXPECT_EQ(SlotTime(*midnight, 6), std::optional<std::time_t>(1238288400)); // 03:00, an hour later than 02:00 would be
    EXPECT_FALSE(SlotTime(*midnight, 48));
}

TEST(DayTimeline, DatesTheControlCannotTakeAreRefused)
{
    EXPECT_FALSE(LocalMidnight(1899, 12, 31));
    EXPECT_FALSE(LocalMidnight(2009, 13, 1));
    EXPECT_FALSE(LocalMidnight(2009, 2, 0));
    EXPECT_FALSE(LocalMidnight(2100, 1, 1)); // past 2^31 - 1 seconds
    EXPECT_FALSE(LocalMidnight(1960, 1, 1));
    EXPECT_TRUE(LocalMidnight(2037, 12, 31));
    EXPECT_FALSE(FitsControlTime(std::time_t(INT32_MAX) + 1));
}

TEST(DayTimeline, PaintsTheCodesTheSelectionAndTheScrolledRows)
{
    QImage image(1024, 768, QImage::Format_RGB32);
    image.fill(Qt::darkGreen);
    const TimelineGeometry g = ComputeTimelineGeometry(image.size(), 185, 16, 17, true);
    DayBlock block;
    block.bytes[4 + 0 * 48 + 20] = kCodeMotion;
    block.bytes[4 + 1 * 48 + 20] = kCodeSensor; // local searches never write it, a DVR may
    block.bytes[4 + 60 * 48 + 3] = kCodeManual;
    {
        QPainter p(&image);
        PaintTimeline(p, g, &block, 0, 30);
    }
    EXPECT_EQ(image.pixelColor(g.Box(0, 20).center()), Colour(0x00CCFF)); // orange-yellow, channel 1 at 10:00
    EXPECT_EQ(image.pixelColor(g.Box(1, 20).center()), Colour(0x00FF99));
    EXPECT_EQ(image.pixelColor(g.Box(0, 21).center()), Colour(0xFFFFFF));
    EXPECT_EQ(image.pixelColor(g.Box(5, 30).center()), Colour(0xC8BFB9)); // selection column
    EXPECT_EQ(image.pixelColor(g.Box(0, 20).topLeft()), QColor(Qt::black)); // the frame
    // Legend: the five colours one slot wide, every fifth slot.
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(image.pixelColor(g.x0 + 5 * i * g.slotWidth + g.slotWidth / 2, 768 - 14),
                  Colour(CodeColour(kCodeNetwork + i)));

    QImage scrolled(1024, 768, QImage::Format_RGB32);
    {
        QPainter p(&scrolled);
        PaintTimeline(p, g, &block, 48, -1);
    }
    // Row 12 shows channel 61 (index 60); rows never read past the block.
    EXPECT_EQ(scrolled.pixelColor(g.Box(12, 3).center()), Colour(0x0000FF));
    EXPECT_EQ(scrolled.pixelColor(g.Box(15, 3).center()), Colour(0xFFFFFF));
    QImage far(1024, 1200, QImage::Format_RGB32);
    const TimelineGeometry many = ComputeTimelineGeometry(far.size(), 185, 16, 65, false);
    {
        QPainter p(&far);
        PaintTimeline(p, many, &block, 48, -1); // channels 49..112: the missing ones white
    }
    EXPECT_EQ(far.pixelColor(many.Box(12, 3).center()), Colour(0x0000FF));
}
