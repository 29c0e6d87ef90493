// Month and day searches over generated recording trees.
#include "RecordTestSupport.h"

#include "control/record/CRecordCatalog.h"
#include "control/record/MovieFormat.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <utime.h>

namespace {

using namespace recordtest;
using vyrdax::CRecordCatalog;
using vyrdax::MatchWildcard;

// A tiny file, last written at the given local time.
void Touch(const std::string& path, std::time_t lastWrite)
{
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path) << "x";
    utimbuf times{lastWrite, lastWrite};
    ::utime(path.c_str(), &times);
}

class Catalog : public ::testing::Test {
protected:
    ScopedTimeZone zone{"UTC"};
    TempDir dir;
    CRecordCatalog catalog;
    std::string Day(const char* name) { return dir.path() + "/" + name + "/"; }
};

TEST_F(Catalog, ADayMarksEveryHalfHourAFileCoversWithItsKind)
{
    Touch(Day("2009-03-07") + "F.Cam.20090307.101500.02.mp4", LocalTime(2009, 3, 7, 10, 52, 0));
    Touch(Day("2009-03-07") + "F.Cam.20090307.101500.02.mp4i", LocalTime(2009, 3, 7, 10, 52, 0));
    Touch(Day("2009-03-07") + "M.Cam.20090307.120000.05.mp4", LocalTime(2009, 3, 7, 12, 20, 0));
    Touch(Day("2009-03-07") + "F.Cam.20090307.121000.05.mp4", LocalTime(2009, 3, 7, 12, 10, 5));
    Touch(Day("2009-03-07") + "R.Cam.20090307.230000.07.mp4", LocalTime(2009, 3, 7, 23, 10, 0));
    Touch(Day("2009-03-07") + "S.Cam.20090307.080000.09.mp4", LocalTime(2009, 3, 7, 8, 20, 0));
    // The day's last file closes at midnight and is last written the next day.
    Touch(Day("2009-03-07") + "R.Cam.20090307.234000.07.mp4", LocalTime(2009, 3, 8, 0, 0, 0));
    // Another day, names that do not parse, and out-of-range fields.
    Touch(Day("2009-03-08") + "F.Cam.20090308.101500.02.mp4", LocalTime(2009, 3, 8, 10, 52, 0));
    Touch(Day("2009-03-07") + "F.Cam.20090307.101500.64.mp4", LocalTime(2009, 3, 7, 10, 52, 0));
    Touch(Day("2009-03-07") + "F.Cam.20090307.251500.02.mp4", LocalTime(2009, 3, 7, 10, 52, 0));
    Touch(Day("2009-03-07") + "X.20090307..mp4", LocalTime(2009, 3, 7, 10, 52, 0));

    const uint8_t* list = catalog.GetTimeDataL(dir.path(), "*.20090307.*.mp4");
    ASSERT_EQ(list, catalog.TimeList());
    EXPECT_EQ(list[4 + 2 * 48 + 20], 23);
    EXPECT_EQ(list[4 + 2 * 48 + 21], 23);
    EXPECT_EQ(catalog.SlotFiles(2, 20), catalog.SlotFiles(2, 21));
    ASSERT_EQ(catalog.SlotFiles(2, 20).size(), 1u);
    EXPECT_EQ(catalog.SlotFiles(2, 20)[0], Day("2009-03-07") + "F.Cam.20090307.101500.02.mp4");
    EXPECT_EQ(list[4 + 2 * 48 + 19], 0);
    EXPECT_EQ(list[4 + 2 * 48 + 22], 0);
    // Motion and manual in one slot: manual (the higher code) wins.
    EXPECT_EQ(catalog.TimeCode(5, 24), 23);
    EXPECT_EQ(catalog.SlotFiles(5, 24).size(), 2u);
    EXPECT_EQ(catalog.TimeCode(7, 46), 22);
    EXPECT_EQ(catalog.TimeCode(7, 47), 22);
    EXPECT_EQ(catalog.SlotFiles(7, 47).size(), 1u);
    // Sensor recordings are listed but not marked.
    EXPECT_EQ(catalog.TimeCode(9, 16), 0);
    EXPECT_EQ(catalog.SlotFiles(9, 16).size(), 1u);
    EXPECT_EQ(catalog.ChannelFiles(9).size(), 1u);
    // Only the six good names of the day are found, in name order.
    EXPECT_EQ(catalog.NamesFound(),
              (std::vector<std::string>{"F.Cam.20090307.101500.02.mp4", "F.Cam.20090307.121000.05.mp4",
                                        "M.Cam.20090307.120000.05.mp4", "R.Cam.20090307.230000.07.mp4",
                                        "R.Cam.20090307.234000.07.mp4", "S.Cam.20090307.080000.09.mp4"}));
    int marked = 0;
    for (int k = 4; k < 3076; ++k)
        marked += list[k] != 0;
    EXPECT_EQ(marked, 5); // ch 2: 20-21; ch 5: 24; ch 7: 46-47

    // A second search lists only what it finds.
    catalog.GetTimeDataL(dir.path(), "*.20090308.*.mp4");
    EXPECT_EQ(catalog.TimeCode(2, 20), 23);
    EXPECT_EQ(catalog.TimeCode(5, 24), 0);
    EXPECT_TRUE(catalog.SlotFiles(5, 24).empty());
    EXPECT_EQ(catalog.NamesFound().size(), 1u);
}

// A month marks the days its recordings' names tell, wherever the day
// lists find them: a recording outside the day directories too.
TEST_F(Catalog, AMonthMarksTheDaysItsRecordingsAreNamedFor)
{
    Touch(Day("2009-03-07") + "F.Cam.20090307.101500.02.mp4", LocalTime(2009, 3, 7, 10, 52, 0));
    Touch(Day("2009-03-31") + "M.Cam.20090331.101500.02.mp4", LocalTime(2009, 3, 31, 10, 52, 0));
    Touch(Day("2009-03-12") + "F.Cam.20090312.101500.02.mp4i", LocalTime(2009, 3, 12, 10, 52, 0));
    Touch(Day("2009-04-02") + "F.Cam.20090402.101500.02.mp4", LocalTime(2009, 4, 2, 10, 52, 0));
    Touch(Day("2009-03-15") + "notes.txt", LocalTime(2009, 3, 15, 10, 0, 0));
    // Names of the pattern that are no recording's: no day list holds them.
    Touch(Day("2009-03-25") + "F.Cam.20090325.101500.64.mp4", LocalTime(2009, 3, 25, 10, 52, 0));
    Touch(dir.path() + "/x-99/F.Cam.20090309.101500.02.mp4", LocalTime(2009, 3, 9, 10, 52, 0));
    Touch(dir.path() + "/old/2009-03-20/F.Cam.20090320.101500.02.MP4", LocalTime(2009, 3, 20, 10, 52, 0));

    const uint8_t* table = catalog.GetMonthDataL(dir.path(), "*.200903*.*.mp4");
    ASSERT_EQ(table, catalog.MonthTable());
    // 12 holds only an index file, 15 no recording; case does not matter.
    EXPECT_EQ(MarkedDays(catalog), (std::vector<int>{7, 9, 20, 31}));
    CRecordCatalog day;
    day.GetTimeDataL(dir.path(), "*.20090309.*.mp4");
    EXPECT_EQ(day.ChannelFiles(2), std::vector<std::string>{dir.path() + "/x-99/F.Cam.20090309.101500.02.mp4"});
    day.GetTimeDataL(dir.path(), "*.20090325.*.mp4");
    EXPECT_TRUE(day.NamesFound().empty());

    catalog.GetMonthDataL(dir.path(), "*.200902*.*.mp4"); // a month with no recordings
    EXPECT_EQ(MarkedDays(catalog), std::vector<int>{});
    catalog.GetMonthDataL(dir.path() + "/missing", "*.200903*.*.mp4");
    EXPECT_EQ(MarkedDays(catalog), std::vector<int>{});
}

// Earlier versions took a recording's day directory from a later reading
// of the clock than its name, so a name of a day's last second can lie in
// the next day's directory beside that day's own files. It is marked on its
// name's day and no other, listed in that day's list and not in the next
// day's: at a month end, a year end and the two nights a clock changes at
// midnight (00:00 skipped to 01:00; 23:00 to 00:00 repeated).
TEST(CatalogMidnight, ANameOfADaysLastSecondInTheNextDaysDirectoryStaysOnItsDay)
{
    ScopedTimeZone zone("America/Sao_Paulo");
    struct Case {
        const char* lastSecond; // the recording's name, channel 1
        const char* next;       // a recording of the next day, channel 1
        int year, month, day;   // the next day
        uint8_t code;
    };
    const Case cases[] = {
        {"M.Cam.20270331.235959.01.mp4", "F.Cam.20270401.002000.01.mp4", 2027, 4, 1, vyrdax::KIND_MOTION},
        {"F.Cam.20271231.235959.01.mp4", "F.Cam.20280101.002000.01.mp4", 2028, 1, 1, vyrdax::KIND_MANUAL},
        {"R.Cam.20181103.235959.01.mp4", "F.Cam.20181104.012000.01.mp4", 2018, 11, 4, vyrdax::KIND_SCHEDULE},
        {"F.Cam.20190216.235959.01.mp4", "F.Cam.20190217.002000.01.mp4", 2019, 2, 17, vyrdax::KIND_MANUAL},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.lastSecond);
        TempDir dir;
        char nextDay[16];
        std::snprintf(nextDay, sizeof nextDay, "%04d-%02d-%02d", k.year, k.month, k.day);
        const std::string directory = dir.path() + "/" + nextDay + "/";
        // The first file runs to the next split after midnight, the second to the one after.
        const std::time_t midnight = LocalTime(k.year, k.month, k.day, 0, 0, 0);
        Touch(directory + k.lastSecond, midnight + 20 * 60);
        Touch(directory + k.next, midnight + 40 * 60);
        vyrmovie::RecordingName last, next;
        ASSERT_TRUE(vyrmovie::ParseRecordingName(k.lastSecond, &last));
        ASSERT_TRUE(vyrmovie::ParseRecordingName(k.next, &next));

        CRecordCatalog catalog;
        catalog.GetMonthDataL(dir.path(), MonthPattern(last.year, last.month));
        const bool sameMonth = last.month == k.month;
        const std::vector<int> both{last.day, k.day}, lastOnly{last.day}, nextOnly{k.day};
        EXPECT_EQ(MarkedDays(catalog), sameMonth ? both : lastOnly);
        catalog.GetMonthDataL(dir.path(), MonthPattern(k.year, k.month));
        EXPECT_EQ(MarkedDays(catalog), sameMonth ? both : nextOnly);

        char pattern[32];
        std::snprintf(pattern, sizeof pattern, "*.%04d%02d%02d.*.mp4", last.year, last.month, last.day);
        catalog.GetTimeDataL(dir.path(), pattern);
        EXPECT_EQ(catalog.ChannelFiles(1), std::vector<std::string>{directory + k.lastSecond});
        EXPECT_EQ(catalog.TimeCode(1, 47), k.code);
        EXPECT_EQ(catalog.TimeCode(1, 46), 0);
        catalog.FindRecordingFile(dir.path(), last.year, last.month, last.day);
        EXPECT_EQ(catalog.SlotFiles(1, 47), std::vector<std::string>{directory + k.lastSecond});
        catalog.FindRecordingFile(dir.path(), k.year, k.month, k.day);
        EXPECT_EQ(catalog.ChannelFiles(1), std::vector<std::string>{directory + k.next});
    }
}

TEST_F(Catalog, NeighboursOfJanuaryAndDecemberFindNothing)
{
    Touch(Day("2009-01-01") + "F.Cam.20090101.001500.02.mp4", LocalTime(2009, 1, 1, 0, 52, 0));
    Touch(Day("2009-12-31") + "F.Cam.20091231.001500.02.mp4", LocalTime(2009, 12, 31, 0, 52, 0));
    catalog.FindRecordingFile(dir.path(), 2009, 0, 31);
    EXPECT_TRUE(catalog.NamesFound().empty());
    catalog.FindRecordingFile(dir.path(), 2009, 13, 1);
    EXPECT_TRUE(catalog.NamesFound().empty());
    catalog.FindRecordingFile(dir.path(), 2009, 1, 1);
    EXPECT_EQ(catalog.SlotFiles(2, 0).size(), 1u);
    EXPECT_EQ(catalog.SlotFiles(2, 1).size(), 1u);
}

TEST(CatalogTimeZone, ADaylightSavingDayKeepsTheSlotsOfTheLocalClock)
{
    ScopedTimeZone zone("Europe/Berlin");
    TempDir dir;
    // 29 March 2009: the clocks went from 02:00 to 03:00.
    Touch(dir.path() + "/2009-03-29/F.Cam.20090329.014000.01.mp4", LocalTime(2009, 3, 29, 3, 10, 0));
    Touch(dir.path() + "/2009-03-29/F.Cam.20090329.034000.01.mp4", LocalTime(2009, 3, 29, 4, 0, 0));
    CRecordCatalog catalog;
    catalog.GetTimeDataL(dir.path(), "*.20090329.*.mp4");
    std::vector<int> slots;
    for (int s = 0; s < 48; ++s)
        if (catalog.TimeCode(1, s))
            slots.push_back(s);
    EXPECT_EQ(slots, (std::vector<int>{3, 4, 5, 6, 7, 8}));
    catalog.GetMonthDataL(dir.path(), "*.200903*.*.mp4");
    EXPECT_EQ(MarkedDays(catalog), std::vector<int>{29});
}

TEST(CatalogWildcards, MatchWithoutRegardToCaseAndNoMoreThanThePatternSays)
{
    EXPECT_TRUE(MatchWildcard("*.20090307.*.mp4", "F.Cam.20090307.101500.02.mp4"));
    EXPECT_TRUE(MatchWildcard("*.20090307.*.mp4", "f.cam.20090307.101500.02.MP4"));
    EXPECT_FALSE(MatchWildcard("*.20090307.*.mp4", "F.Cam.20090307.101500.02.mp4i"));
    EXPECT_FALSE(MatchWildcard("*.20090307.*.mp4", "F.Cam.20090308.101500.02.mp4"));
    EXPECT_TRUE(MatchWildcard("*.200903*.*.mp4", "F.Cam.20090331.101500.02.mp4"));
    EXPECT_TRUE(MatchWildcard("*.*", "README"));
    EXPECT_TRUE(MatchWildcard("ch?_00.mp4", "CH1_00.mp4"));
    EXPECT_FALSE(MatchWildcard("ch?_00.mp4", "CH12_00.mp4"));
    EXPECT_TRUE(MatchWildcard("a*b*c", "aXbYbZc"));
    EXPECT_FALSE(MatchWildcard("a*b*c", "aXbYbZ"));
    EXPECT_TRUE(MatchWildcard("", ""));
    EXPECT_FALSE(MatchWildcard("", "a"));
}

TEST(CatalogText, FindsTextAcrossChunkBordersWithoutRegardToCase)
{
    TempDir dir;
    const std::string path = dir.path() + "/t";
    std::string content(3000, '.');
    content.replace(119, 6, "Needle"); // across the first border (chunks of 122 for a 6-byte text)
    std::ofstream(path) << content;
    CRecordCatalog catalog;
    int progress = 0;
    catalog.progress = [&](int code, void*) { progress += code == 3; };
    EXPECT_TRUE(catalog.FileContainsText(path, "nEEDLE"));
    EXPECT_FALSE(catalog.FileContainsText(path, "needles"));
    EXPECT_GE(progress, 1);
    EXPECT_FALSE(catalog.FileContainsText(path, ""));
    EXPECT_FALSE(catalog.FileContainsText(dir.path() + "/missing", "x"));
}

} // namespace
