// The simulator's own tables and options, without the network.
#include "DvrRecords.h"
#include "SimOptions.h"
#include "Wire.h"

#include <gtest/gtest.h>

namespace {

using namespace dvrsim;

TEST(DvrSimOptions, FrameIntervalCodeFollowsRateAndInterlace)
{
    SimOptions o;
    std::string message;
    bool help = false;
    ASSERT_TRUE(parseOptions({"--fps", "30", "--interlace", "1"}, o, message, help));
    EXPECT_EQ(o.frameIntervalCode(), 0u);
    ASSERT_TRUE(parseOptions({"--fps=15", "--interlace=0"}, o, message, help));
    EXPECT_EQ(o.frameIntervalCode(), 3u);
    ASSERT_TRUE(parseOptions({"--fps", "60"}, o, message, help));
    EXPECT_EQ(o.frameIntervalCode(), 0u);
    ASSERT_TRUE(parseOptions({"--gop", "12", "--loop-frames", "13"}, o, message, help));
    EXPECT_EQ(o.resolvedLoopFrames(), 24) << "whole groups";
    EXPECT_FALSE(parseOptions({"--size", "640x480"}, o, message, help));
    EXPECT_FALSE(parseOptions({"--channels", "0"}, o, message, help));
    EXPECT_FALSE(parseOptions({"--fault", "melt"}, o, message, help));
    EXPECT_FALSE(parseOptions({"--help"}, o, message, help));
    EXPECT_TRUE(help);
}

TEST(DvrSimRecords, PackedTimeOrdersAcrossMonthsAndYears)
{
    std::tm a{}, b{};
    a.tm_year = 124, a.tm_mon = 11, a.tm_mday = 31, a.tm_hour = 23, a.tm_min = 59, a.tm_sec = 59;
    b.tm_year = 125, b.tm_mon = 0, b.tm_mday = 1;
    EXPECT_LT(packedTimeOrder(packTime(a)), packedTimeOrder(packTime(b)));
    const std::tm back = unpackTime(packTime(a));
    EXPECT_EQ(back.tm_year, 124);
    EXPECT_EQ(back.tm_mon, 11);
    EXPECT_EQ(back.tm_mday, 31);
    EXPECT_EQ(back.tm_sec, 59);
}

TEST(DvrSimRecords, CalendarCrossesMonthStart)
{
    std::tm t{};
    t.tm_year = 125, t.tm_mon = 2, t.tm_mday = 2, t.tm_hour = 10, t.tm_isdst = -1;  // 2 March 2025
    const RecordingCalendar calendar(4, 2, std::mktime(&t));
    EXPECT_TRUE(calendar.hasRecordings(2025, 3, 2));
    EXPECT_TRUE(calendar.hasRecordings(2025, 3, 1));
    EXPECT_TRUE(calendar.hasRecordings(2025, 2, 28));
    EXPECT_TRUE(calendar.hasRecordings(2025, 2, 27));
    EXPECT_FALSE(calendar.hasRecordings(2025, 2, 26));
    const auto february = calendar.monthTable(packTime(t) - (1u << 6));  // same day number, month 2
    EXPECT_EQ(getU32(&february[27 * 4]), 1u);
    EXPECT_EQ(getU32(&february[26 * 4]), 0u);
}

TEST(DvrSimRecords, SetupRecordSizeFollowsDvrType)
{
    EXPECT_EQ(setupRecordSizeFor(15), 12044u);
    EXPECT_EQ(setupRecordSizeFor(16), 23736u);
}

}  // namespace
