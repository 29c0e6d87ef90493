#include "control/display/CTitleBarWnd.h"

#include <QCoreApplication>
#include <QImage>

#include <gtest/gtest.h>

namespace {

using vyrdax::CTitleBarWnd;

QImage Render(CTitleBarWnd& bar)
{
    QCoreApplication::processEvents();
    return bar.grab().toImage();
}

bool Near(const QColor& a, const QColor& b, int tolerance = 40)
{
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance &&
           std::abs(a.blue() - b.blue()) <= tolerance;
}

int CountColumns(const QImage& image, int x0, int x1, const QColor& colour)
{
    int n = 0;
    for (int x = x0; x <= x1; ++x)
        for (int y = 0; y < image.height(); ++y)
            if (Near(image.pixelColor(x, y), colour, 30)) {
                ++n;
                break;
            }
    return n;
}

class TitleBarTest : public ::testing::Test {
protected:
    QWidget parent;
    CTitleBarWnd* bar = new CTitleBarWnd(&parent);
    void SetUp() override
    {
        bar->setGeometry(0, 0, 70, CTitleBarWnd::kHeight);
        parent.show();
    }
};

TEST_F(TitleBarTest, DvrPlaybackAndDvrStateBoxesWithTheFastForwardGlyph)
{
    bar->DrawStateTitle("[FF]", 0x240);
    EXPECT_EQ(bar->Title(), "[FF]");
    const QImage image = Render(*bar);
    EXPECT_GE(CountColumns(image, 0, 9, QColor(103, 203, 70)), 8);     // green D box
    EXPECT_TRUE(Near(image.pixelColor(15, 5), QColor(255, 0, 0)));    // its red dot
    EXPECT_GE(CountColumns(image, 21, 26, Qt::white), 5);              // the double triangle
    EXPECT_EQ(CountColumns(image, 30, 49, QColor(249, 172, 39)), 0);   // no L box
}

TEST_F(TitleBarTest, RecordingShowsOnlyTheLocalBoxWithItsDot)
{
    bar->DrawStateTitle("", 0x4);
    bar->DrawStateTitle("", 0x14); // title untouched
    const QImage image = Render(*bar);
    EXPECT_GE(CountColumns(image, 30, 39, QColor(249, 172, 39)), 8);
    EXPECT_TRUE(Near(image.pixelColor(45, 5), QColor(255, 0, 0)));
    EXPECT_EQ(CountColumns(image, 0, 10, QColor(103, 203, 70)), 0);
    EXPECT_EQ(CountColumns(image, 50, 69, Qt::white), 0);
    EXPECT_EQ(bar->Title(), "");
}

TEST_F(TitleBarTest, LocalPlayStatesAndTheirTitles)
{
    bar->DrawStateTitle("", 0x1000);
    EXPECT_EQ(bar->Title(), "[FPB]");
    QImage image = Render(*bar);
    EXPECT_GE(CountColumns(image, 30, 39, QColor(249, 172, 39)), 8);
    EXPECT_FALSE(Near(image.pixelColor(45, 5), QColor(255, 0, 0))); // no dot without recording
    EXPECT_GE(CountColumns(image, 41, 46, Qt::white), 5);

    bar->DrawStateTitle("", 0x2000);
    EXPECT_EQ(bar->Title(), "[PAUSE]");
    image = Render(*bar);
    EXPECT_EQ(CountColumns(image, 41, 45, Qt::white), 4); // two double bars

    bar->DrawStateTitle("", 0x4000);
    EXPECT_EQ(bar->Title(), "[STP]");
    image = Render(*bar);
    EXPECT_GE(CountColumns(image, 42, 46, Qt::white), 4);

    bar->DrawStateTitle("anything", 2); // states 0..2 empty the title
    EXPECT_EQ(bar->Title(), "");
    image = Render(*bar);
    for (int x = 0; x < 70; x += 3)
        ASSERT_EQ(image.pixelColor(x, 5), QColor(Qt::black)) << x;
}

TEST_F(TitleBarTest, PlainTitleIsGreyOnBlackAndCutAtTheEdge)
{
    bar->setGeometry(0, 0, 40, CTitleBarWnd::kHeight);
    bar->SetTitle("Lobby-01 is Ready and a lot more text");
    EXPECT_EQ(bar->State(), -1);
    const QImage image = Render(*bar);
    ASSERT_EQ(image.width(), 40);
    int grey = 0;
    for (int x = 0; x < 40; ++x)
        for (int y = 0; y < image.height(); ++y)
            grey += image.pixelColor(x, y).red() > 120;
    EXPECT_GT(grey, 20);
}

} // namespace
