#pragma once
// The calendar's month grid: six rows of seven days, Sunday first.
#include <array>

namespace backupviewer {

// Weekday of January 1 of `year` (0 = Sunday), Gregorian.
int FirstWeekdayOfYear(int year);
int DaysInMonth(int year, int month);
// Weekday of the first of the month (0 = Sunday).
int FirstWeekdayOfMonth(int year, int month);
// Day numbers of the 42 cells, row by row; 0 outside the month.
std::array<int, 42> MonthGrid(int year, int month);

} // namespace backupviewer
