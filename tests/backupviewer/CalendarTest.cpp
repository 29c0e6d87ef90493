#include "backupviewer/BackupTexts.h"
#include "backupviewer/dialogs/CCalendarDlg.h"
#include "backupviewer/dialogs/CalendarGrid.h"
#include "platform/MessageBox.h"

#include <QProcess>
#include <QSpinBox>

#include <gtest/gtest.h>

using namespace backupviewer;

TEST(CalendarGrid, AgreesWithPythonForEveryMonthFrom1900To5000)
{
    QProcess python;
    python.start("python3", {"-c", "import calendar\n"
                                   "for y in range(1900, 5001):\n"
                                   "  for m in range(1, 13):\n"
                                   "    w, n = calendar.monthrange(y, m)\n"
                                   "    print(y, m, (w + 1) % 7, n)\n"});
    ASSERT_TRUE(python.waitForFinished(60000));
    const QList<QByteArray> lines = python.readAllStandardOutput().split('\n');
    int checked = 0;
    for (const QByteArray& line : lines) {
        const QList<QByteArray> f = line.split(' ');
        if (f.size() != 4)
            continue;
        const int y = f[0].toInt(), m = f[1].toInt();
        ASSERT_EQ(FirstWeekdayOfMonth(y, m), f[2].toInt()) << y << "-" << m;
        ASSERT_EQ(DaysInMonth(y, m), f[3].toInt()) << y << "-" << m;
        ++checked;
    }
    EXPECT_EQ(checked, 3101 * 12);
}

TEST(CalendarGrid, MonthsFillSixRowsSundayFirst)
{
    EXPECT_EQ(DaysInMonth(2000, 2), 29);
    EXPECT_EQ(DaysInMonth(1900, 2), 28);
    EXPECT_EQ(DaysInMonth(2100, 2), 28);
    const std::array<int, 42> march2009 = MonthGrid(2009, 3);
    EXPECT_EQ(march2009[0], 1); // a Sunday
    EXPECT_EQ(march2009[30], 31);
    EXPECT_EQ(march2009[35], 0); // five rows
    const std::array<int, 42> may2010 = MonthGrid(2010, 5); // begins on a Saturday, 31 days
    EXPECT_EQ(may2010[6], 1);
    EXPECT_EQ(may2010[36], 31);
}

class CalendarDialog : public ::testing::Test {
protected:
    void SetUp() override
    {
        previous = platform::SetMessageBoxHandler([this](const std::string& text, const std::string&, unsigned) {
            boxes.push_back(text);
            return platform::IDOK;
        });
    }
    void TearDown() override { platform::SetMessageBoxHandler(previous); }
    platform::MessageBoxHandler previous;
    std::vector<std::string> boxes;
};

TEST_F(CalendarDialog, LocalMonthsAreQueriedByPatternAndOkNeedsARecordedDay)
{
    std::vector<QString> patterns;
    CCalendarDlg dialog(CCalendarDlg::LocalSearch);
    dialog.queryLocalMonth = [&](const QString& pattern, CCalendarDlg::MonthTable* table) {
        patterns.push_back(pattern);
        table->fill(0);
        (*table)[15] = 1;
        return true;
    };
    dialog.Open(2009, 3);
    ASSERT_EQ(patterns.size(), 1u);
    EXPECT_EQ(patterns[0], "*.200903*.*.mp4");
    EXPECT_EQ(dialog.windowTitle(), "Local Search Dialog");

    dialog.OnOK();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], kSelectDate);
    ASSERT_TRUE(dialog.PickAt(CCalendarDlg::CellRect(13).center())); // the 14th
    dialog.OnOK();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1], kNoRecordedData);
    EXPECT_FALSE(dialog.PickAt(QPoint(5, 5)));
    ASSERT_TRUE(dialog.PickAt(CCalendarDlg::CellRect(14).center()));
    dialog.OnOK();
    EXPECT_EQ(boxes.size(), 2u);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.SelectedDay(), 15);
    EXPECT_EQ(dialog.SearchPattern(), "*.20090315.*.mp4");

    dialog.ShowMonth(2009, 4);
    EXPECT_EQ(patterns.back(), "*.200904*.*.mp4");
}

TEST_F(CalendarDialog, DvrMonthsAreAskedAndClearedUntilTheAnswer)
{
    std::vector<std::pair<int, int>> asked;
    CCalendarDlg dialog(CCalendarDlg::DvrSearch);
    dialog.askDvrMonth = [&](int y, int m) {
        asked.emplace_back(y, m);
        return true;
    };
    dialog.Open(2026, 12);
    EXPECT_TRUE(asked.empty()); // the view asked before opening
    CCalendarDlg::MonthTable table{};
    table[3] = 1;
    dialog.SetMonthTable(table);
    EXPECT_EQ(dialog.Table()[3], 1);
    dialog.ShowMonth(2027, 1);
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0], std::make_pair(2027, 1));
    EXPECT_EQ(dialog.Table()[3], 0);
    // The year stays within 1900..5000.
    auto* year = dialog.findChild<QSpinBox*>("1011");
    ASSERT_NE(year, nullptr);
    year->setValue(5000);
    year->stepUp();
    EXPECT_EQ(dialog.Year(), 5000);
    year->setValue(1900);
    year->stepDown();
    EXPECT_EQ(dialog.Year(), 1900);
}
