#include "viewercore/view/CellLayout.h"

#include <gtest/gtest.h>

namespace {

using namespace viewer;

// A field of 1000 x 700 inside the panels.
const QSize kClient(186 + 1000 + 16, 50 + 700 + 55);

TEST(CellLayout, TenCellsHaveTwoBigCellsOverTwoRowsOfFour)
{
    const PanelMargins m;
    EXPECT_EQ(CellRectangle(0, 10, 0, 0, kClient, m), QRect(186, 50, 500, 350));
    EXPECT_EQ(CellRectangle(1, 10, 0, 0, kClient, m), QRect(686, 50, 500, 350));
    EXPECT_EQ(CellRectangle(2, 10, 0, 0, kClient, m).topLeft(), QPoint(186, 400));
    EXPECT_EQ(CellRectangle(9, 10, 0, 0, kClient, m), QRect(936, 575, 250, 175));
    EXPECT_TRUE(CellRectangle(10, 10, 0, 0, kClient, m).isEmpty());
}

TEST(CellLayout, EveryLayoutTilesTheFieldAndHitTestsAgreeWithIt)
{
    const PanelMargins m;
    const QSize client(186 + 1003 + 16, 50 + 701 + 55);
    for (int split : {1, 4, 6, 9, 10, 16, 36, 64}) {
        const int first = split == 64 ? 0 : split; // the second page where there is one
        long long area = 0;
        for (int k = 0; k < (split == 1 ? 1 : split); ++k) {
            const int cell = split == 1 ? 7 : first + k;
            if (cell >= 64)
                break;
            const QRect r = CellRectangle(cell, split, first, 7, client, m);
            ASSERT_FALSE(r.isEmpty()) << split << " " << cell;
            area += static_cast<long long>(r.width()) * r.height();
            // Every corner and the middle of a cell hit that cell.
            for (const QPoint& p : {r.topLeft(), r.bottomRight(), r.center()})
                EXPECT_EQ(HitTestCell(p, split, first, 7, client, m), cell) << split << " " << cell;
        }
        if (first + split <= 64 || split == 1) {
            EXPECT_EQ(area, 1003LL * 701) << split;
        }
        EXPECT_EQ(HitTestCell(QPoint(10, 10), split, first, 7, client, m), -1);
        EXPECT_EQ(HitTestCell(QPoint(client.width() - 5, 60), split, first, 7, client, m), -1);
    }
}

TEST(CellLayout, CellsOffThePageHaveNoRectangleAndUnknownSplitsActAsSixteen)
{
    const PanelMargins m;
    EXPECT_TRUE(CellRectangle(3, 4, 4, 0, kClient, m).isEmpty());
    EXPECT_FALSE(CellRectangle(4, 4, 4, 0, kClient, m).isEmpty());
    EXPECT_EQ(CellRectangle(5, 7, 0, 0, kClient, m), CellRectangle(5, 16, 0, 0, kClient, m));
    EXPECT_EQ(GridDimension(7), 4);
    // A page near the end: cells past 63 do not exist.
    EXPECT_EQ(HitTestCell(CellRectangle(63, 16, 48, 0, kClient, m).center(), 16, 48, 0, kClient, m), 63);
}

} // namespace
