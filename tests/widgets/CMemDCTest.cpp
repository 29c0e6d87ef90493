#include "viewercore/widgets/CMemDC.h"

#include <QBuffer>
#include <QPdfWriter>

#include <gtest/gtest.h>

namespace {

const QColor kWhite(255, 255, 255);
const QColor kRed(255, 0, 0);
const QColor kBlue(0, 0, 255);
const QColor kGreen(0, 255, 0);

} // namespace

TEST(MemDC, CopiesToTheTargetOnlyWhenDestroyed)
{
    QImage target(50, 50, QImage::Format_ARGB32_Premultiplied);
    target.fill(kWhite);
    QPainter painter(&target);
    painter.setBackground(kGreen);
    {
        CMemDC dc(painter, QRect(10, 10, 20, 20));
        EXPECT_TRUE(dc.IsOffScreen());
        dc->fillRect(QRect(10, 10, 5, 5), kRed);
        dc->fillRect(QRect(28, 28, 10, 10), kBlue); // cut off at 29
        EXPECT_EQ(target.pixelColor(11, 11), kWhite);
    }
    EXPECT_EQ(target.pixelColor(11, 11), kRed);
    EXPECT_EQ(target.pixelColor(20, 20), kGreen); // the background colour fills the rest
    EXPECT_EQ(target.pixelColor(29, 29), kBlue);
    EXPECT_EQ(target.pixelColor(31, 31), kWhite); // outside the rectangle
    EXPECT_EQ(target.pixelColor(5, 5), kWhite);
}

TEST(MemDC, StartsFromTheTargetPixelsWhenAsked)
{
    QImage target(40, 40, QImage::Format_ARGB32_Premultiplied);
    target.fill(kWhite);
    target.setPixelColor(15, 15, kBlue);
    QPainter painter(&target);
    painter.setBackground(kGreen);
    {
        CMemDC dc(painter, QRect(10, 10, 10, 10), true);
        dc->fillRect(QRect(12, 12, 1, 1), kRed);
    }
    EXPECT_EQ(target.pixelColor(15, 15), kBlue);
    EXPECT_EQ(target.pixelColor(12, 12), kRed);
    EXPECT_EQ(target.pixelColor(18, 18), kWhite);
}

TEST(MemDC, DefaultRectangleIsTheClipBox)
{
    QImage target(40, 40, QImage::Format_ARGB32_Premultiplied);
    target.fill(kWhite);
    QPainter painter(&target);
    painter.setClipRect(QRect(5, 5, 10, 10));
    {
        CMemDC dc(painter, QRect(), true);
        EXPECT_EQ(dc.Rect(), QRect(5, 5, 10, 10));
        dc->fillRect(QRect(0, 0, 40, 40), kRed);
    }
    painter.end();
    EXPECT_EQ(target.pixelColor(6, 6), kRed);
    EXPECT_EQ(target.pixelColor(20, 20), kWhite);
}

TEST(MemDC, PrintTargetsAreDrawnOnDirectly)
{
    QBuffer pdf;
    pdf.open(QIODevice::WriteOnly);
    QPdfWriter writer(&pdf);
    QPainter painter(&writer);
    {
        CMemDC dc(painter, QRect(0, 0, 100, 100));
        EXPECT_FALSE(dc.IsOffScreen());
        EXPECT_EQ(&dc.Painter(), &painter);
        dc->fillRect(QRect(0, 0, 100, 100), kRed);
    }
    painter.end();
    EXPECT_TRUE(pdf.data().startsWith("%PDF"));
}
