#include "CalendarGrid.h"

namespace backupviewer {

int FirstWeekdayOfYear(int y)
{
    return (4 + y + (y + 3) / 4 - (y - 1701) / 100 + (y - 1601) / 400 + 3) % 7;
}

int DaysInMonth(int year, int month)
{
    static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12)
        return 0;
    if (month == 2)
        return (FirstWeekdayOfYear(year + 1) - FirstWeekdayOfYear(year) + 7) % 7 == 2 ? 29 : 28;
    return days[month - 1];
}

int FirstWeekdayOfMonth(int year, int month)
{
    int days = 0;
    for (int m = 1; m < month; ++m)
        days += DaysInMonth(year, m);
    return (FirstWeekdayOfYear(year) + days) % 7;
}

std::array<int, 42> MonthGrid(int year, int month)
{
    std::array<int, 42> grid{};
    const int first = FirstWeekdayOfMonth(year, month);
    const int days = DaysInMonth(year, month);
    for (int d = 1; d <= days; ++d)
        grid[first + d - 1] = d;
    return grid;
}

} // namespace backupviewer
