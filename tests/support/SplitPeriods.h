// How many 20-minute marks a recording has crossed since a moment: each
// one starts a new movie file, so a test that meets one sees a file more
// than its recording alone would make.
#pragma once

#include <ctime>

namespace testsupport {

inline long SplitPeriod(std::time_t t)
{
    std::tm local{};
    localtime_r(&t, &local);
    return ((static_cast<long>(local.tm_year) * 366 + local.tm_yday) * 24 + local.tm_hour) * 3 + local.tm_min / 20;
}

inline int SplitsSince(std::time_t from)
{
    return static_cast<int>(SplitPeriod(std::time(nullptr)) - SplitPeriod(from));
}

} // namespace testsupport
