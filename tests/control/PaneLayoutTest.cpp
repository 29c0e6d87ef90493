#include "control/layout/PaneLayout.h"

#include <gtest/gtest.h>

namespace {

using vyrdax::CellRect;
using vyrdax::ComputeCellRect;
using vyrdax::LayoutState;

LayoutState Mode(int mode, int first = 0, int single = 0)
{
    LayoutState s;
    s.displayMode = static_cast<int16_t>(mode);
    s.firstCell = static_cast<int16_t>(first);
    s.singleCell = static_cast<int16_t>(single);
    return s;
}

TEST(PaneLayout, SixteenCellsGiveTheRemainderToTheLastColumnAndRow)
{
    const LayoutState s = Mode(16);
    int widths[4], heights[4];
    for (int c = 0; c < 4; ++c)
        widths[c] = ComputeCellRect(s, 803, 601, false, c).Width();
    for (int r = 0; r < 4; ++r)
        heights[r] = ComputeCellRect(s, 803, 601, false, r * 4).Height();
    EXPECT_EQ(widths[0], 200);
    EXPECT_EQ(widths[1], 200);
    EXPECT_EQ(widths[2], 200);
    EXPECT_EQ(widths[3], 203);
    EXPECT_EQ(heights[3], 151);
    EXPECT_EQ(heights[0], 150);
    EXPECT_TRUE(ComputeCellRect(s, 803, 601, false, 16).IsEmpty());
    EXPECT_TRUE(ComputeCellRect(s, 803, 601, false, -1).IsEmpty());
}

TEST(PaneLayout, EveryGridModeTilesTheAreaInsideTheMargins)
{
    for (int mode : {4, 9, 16, 36, 64}) {
        LayoutState s = Mode(mode);
        s.marginLeft = 7;
        s.marginTop = 30;
        s.marginRight = 5;
        s.marginBottom = 11;
        const int n = vyrdax::GridSize(mode);
        long long area = 0;
        for (int d = 0; d < mode; ++d) {
            const CellRect r = ComputeCellRect(s, 1001, 777, false, d);
            ASSERT_FALSE(r.IsEmpty()) << mode << " " << d;
            EXPECT_EQ(r.left, 7 + (d % n) * ((1001 - 12) / n));
            area += static_cast<long long>(r.Width()) * r.Height();
        }
        EXPECT_EQ(area, (1001LL - 12) * (777 - 41)) << mode;
        EXPECT_TRUE(ComputeCellRect(s, 1001, 777, false, mode).IsEmpty());
    }
}

TEST(PaneLayout, FourCellsFromTheSecondPageShowIndexesFourToSeven)
{
    const LayoutState s = Mode(4, 4);
    EXPECT_TRUE(ComputeCellRect(s, 800, 600, false, 3).IsEmpty());
    EXPECT_EQ(ComputeCellRect(s, 800, 600, false, 4), (CellRect{0, 0, 400, 300}));
    EXPECT_EQ(ComputeCellRect(s, 800, 600, false, 7), (CellRect{400, 300, 800, 600}));
    EXPECT_TRUE(ComputeCellRect(s, 800, 600, false, 8).IsEmpty());
}

TEST(PaneLayout, OneCellShowsOnlyTheSingleCellIndex)
{
    const LayoutState s = Mode(1, 0, 5);
    EXPECT_EQ(ComputeCellRect(s, 640, 480, false, 5), (CellRect{0, 0, 640, 480}));
    EXPECT_TRUE(ComputeCellRect(s, 640, 480, false, 0).IsEmpty());
}

TEST(PaneLayout, SixAndTenCellLayoutsHaveTheirBigCells)
{
    const LayoutState six = Mode(6, 2);
    EXPECT_EQ(ComputeCellRect(six, 901, 600, false, 2), (CellRect{0, 0, 600, 400}));
    EXPECT_EQ(ComputeCellRect(six, 901, 600, false, 3), (CellRect{600, 0, 901, 200}));
    EXPECT_EQ(ComputeCellRect(six, 901, 600, false, 4), (CellRect{600, 200, 901, 400}));
    EXPECT_EQ(ComputeCellRect(six, 901, 600, false, 5), (CellRect{0, 400, 300, 600}));
    EXPECT_EQ(ComputeCellRect(six, 901, 600, false, 7), (CellRect{600, 400, 901, 600}));
    EXPECT_TRUE(ComputeCellRect(six, 901, 600, false, 8).IsEmpty());
    EXPECT_TRUE(ComputeCellRect(six, 901, 600, false, 1).IsEmpty());

    const LayoutState ten = Mode(10);
    EXPECT_EQ(ComputeCellRect(ten, 1003, 700, false, 0), (CellRect{0, 0, 500, 350}));
    EXPECT_EQ(ComputeCellRect(ten, 1003, 700, false, 1), (CellRect{500, 0, 1003, 350}));
    EXPECT_EQ(ComputeCellRect(ten, 1003, 700, false, 2), (CellRect{0, 350, 250, 525}));
    EXPECT_EQ(ComputeCellRect(ten, 1003, 700, false, 9), (CellRect{750, 525, 1003, 700}));
    EXPECT_TRUE(ComputeCellRect(ten, 1003, 700, false, 10).IsEmpty());
}

TEST(PaneLayout, UnknownModesLayOutAsSixteenAndEventLogModeUsesItsFixedSpot)
{
    for (int mode : {0, 2, 17, -5, 100})
        for (int d : {0, 5, 15, 16})
            EXPECT_EQ(ComputeCellRect(Mode(mode), 800, 600, false, d), ComputeCellRect(Mode(16), 800, 600, false, d));
    for (int d : {0, 40, -1})
        EXPECT_EQ(ComputeCellRect(Mode(64), 800, 600, true, d), (CellRect{11, 65, 24, 80}));
}

} // namespace
