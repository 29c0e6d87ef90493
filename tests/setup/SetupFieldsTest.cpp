// The setup record's pages against both layouts: offsets, encodings, checks
// and that an untouched page stores back exactly what came from the DVR.
#include "netviewer/setup/SetupFields.h"

#include <gtest/gtest.h>

#include <limits>
#include <random>

using namespace setup;

namespace {

SetupContext Context(int dvrType)
{
    SetupContext c;
    c.dvrType = dvrType;
    c.layout = (dvrType == 4 ? 5 : dvrType) < 16 ? Layout::Small : Layout::Large;
    c.lookupHost = "10.1.2.3";
    return c;
}

std::vector<uint8_t> Blank(const SetupContext& c) { return std::vector<uint8_t>(c.RecordSize(), 0); }

std::vector<std::pair<QString, QString>> AllPages()
{
    std::vector<std::pair<QString, QString>> pages;
    for (const auto& group : DvrPageTree())
        for (const QString& page : group.pages)
            pages.emplace_back(group.parent, page);
    return pages;
}

// A random record whose listed values are valid choices, so every check passes.
std::vector<uint8_t> RandomValidRecord(const SetupContext& c, std::mt19937& rng)
{
    std::vector<uint8_t> record(c.RecordSize());
    for (auto& b : record)
        b = static_cast<uint8_t>(rng());
    const bool big = c.layout == Layout::Large;
    // Fields with checks get values that pass them.
    for (int ch = 0; ch < 16; ++ch) {
        WriteInt(record, (big ? 0x5A7C : 0x2D50) + 16 * ch + 4, ch); // distinct PTZ IDs
        for (int k = 0; k < 4; ++k)
            WriteInt(record, (big ? 0x140 : 0xA0) + 16 * ch + 4 * k, static_cast<int>(rng() % 100));
        WriteInt(record, (big ? 0x46C : 0x24C) + 16 * ch, 0);     // CIF
        WriteInt(record, (big ? 0x46C : 0x24C) + 16 * ch + 4, 9); // 1 fps
    }
    for (int k = 0; k < 2; ++k)
        WriteInt(record, (big ? 0x240 : 0x120) + 4 * k, static_cast<int>(rng() % 100));
    for (int k = 0; k < 4; ++k)
        WriteInt(record, (big ? 0x340 : 0x1A0) + 4 * k, k);
    for (int at : big ? std::vector<int>{0x5BC0, 0x5BC4, 0x5BC8, 0x5BCC, 0x5BE0, 0x5BE4}
                      : std::vector<int>{0x2E14, 0x2E18, 0x2E1C, 0x2E20, 0x2E68, 0x2E6C})
        for (int k = 0; k < 4; ++k)
            record[at + k] = static_cast<uint8_t>('0' + rng() % 10);
    for (int ch = 0; ch < 16; ++ch) // names of at most 8 characters always
        record[8 * ch] = static_cast<uint8_t>('A' + ch);
    return record;
}

PageTexts Texts(const Page& page, const std::vector<uint8_t>& r, const SetupContext& c) { return ShowPage(page, r, c); }

Page MustBuild(const QString& parent, const QString& name, const SetupContext& c, const std::vector<uint8_t>& r)
{
    auto page = BuildPage(parent, name, c, r);
    EXPECT_TRUE(page.has_value()) << qPrintable(name);
    return page ? *page : Page{};
}

// Stores `edited` and returns the offsets of the bytes that changed.
std::vector<int> ChangedBytes(const std::vector<uint8_t>& before, const std::vector<uint8_t>& after)
{
    std::vector<int> changed;
    for (std::size_t k = 0; k < before.size(); ++k)
        if (before[k] != after[k])
            changed.push_back(static_cast<int>(k));
    return changed;
}

} // namespace

TEST(SetupFields, UntouchedPagesOfRandomRecordsStoreBackByteIdentical)
{
    std::mt19937 rng(7);
    for (int dvrType : {4, 9, 12, 17, 20}) {
        const SetupContext c = Context(dvrType);
        for (int round = 0; round < 20; ++round) {
            const std::vector<uint8_t> original = RandomValidRecord(c, rng);
            std::vector<uint8_t> record = original;
            for (const auto& [parent, name] : AllPages()) {
                const Page page = MustBuild(parent, name, c, record);
                const PageTexts shown = Texts(page, record, c);
                EXPECT_EQ(StorePage(page, shown, shown, record, c), "") << qPrintable(name) << " type " << dvrType;
            }
            ASSERT_EQ(record, original) << "type " << dvrType;
        }
    }
}

TEST(SetupFields, RowCountsFollowTheLayoutWhateverTheDvrReports)
{
    const std::vector<std::pair<int, int>> cases{{4, 4}, {9, 8}, {12, 8}, {17, 16}, {20, 16}};
    for (const auto& [dvrType, rows] : cases) {
        const SetupContext c = Context(dvrType);
        const auto record = Blank(c);
        EXPECT_EQ(MustBuild("Device", "PTZ Camera", c, record).rows.size(), std::size_t(rows)) << dvrType;
        const Page sensor = MustBuild("Device", "Sensor", c, record);
        EXPECT_EQ(sensor.rows.size(), std::size_t(rows + 1));
        EXPECT_EQ(sensor.rows[0].label, "ALL CH");
        EXPECT_EQ(sensor.rows.back().label, QString::asprintf("CH %.2d", rows));
    }
    EXPECT_EQ(Context(4).layout, Layout::Small);
    EXPECT_EQ(Context(12).layout, Layout::Small);
    EXPECT_EQ(Context(17).layout, Layout::Large);
    EXPECT_EQ(SetupContext::LayoutOfSize(12044), Layout::Small);
    EXPECT_EQ(SetupContext::LayoutOfSize(23736), Layout::Large);
    EXPECT_FALSE(SetupContext::LayoutOfSize(23735).has_value());
}

TEST(SetupFields, EditedCellsLandAtTheirOffsetsInBothLayouts)
{
    struct Golden {
        const char* parent;
        const char* page;
        int row, column;
        const char* text;
        int small, big;
        std::vector<uint8_t> bytes;
    };
    const std::vector<Golden> cases{
        {"Device", "PTZ Camera", 1, 0, "LG", 0x2D50 + 16 + 8, 0x5A7C + 16 + 8, {4, 0, 0, 0}},
        {"Device", "PTZ Camera", 0, 2, "20", 0x2D50 + 4, 0x5A7C + 4, {19, 0, 0, 0}},
        {"Display", "Display Misc", 4, 0, "On", 0x1C4, 0x364, {1, 0, 0, 0}}, // Playback Icon after Network
        {"Display", "Display Misc", 5, 0, "On", 0x1C0, 0x360, {1, 0, 0, 0}},
        {"System", "Password Setup", 4, 0, "1234", 0x2E68, 0x5BE0, {1, 2, 3, 4}},
        {"Display", "Channel Name Display", 2, 0, "Door", 16, 16, {'D', 'o', 'o', 'r', 0, 0, 0, 0}},
        {"Display", "Sequence", 1, 0, "01-08", 0x60 + 4, 0xC0 + 4, {0, 0, 0, 0}}, // group code set below
        {"Display", "Camera Input", 2, 3, "42", 0xA0 + 16 + 12, 0x140 + 16 + 12, {42, 0, 0, 0}},
        {"Record", "Record Quality", 3, 2, "Basic", 0x24C + 32 + 8, 0x46C + 32 + 8, {4, 0, 0, 0}},
        {"Record", "Motion Record Setup", 1, 0, "Low", 0x1AD4, 0x3574, {3, 0, 0, 0}},
        {"Record", "Record Channel Enable", 2, 3, "2 min", 0x1CC + 16 + 12, 0x36C + 16 + 12, {4, 0, 0, 0}},
        {"System", "Network", 11, 0, "56 Kbps", 0x2F00, 0x5CAC, {5, 0, 0, 0}},
        {"System", "Misc.", 2, 0, "YES", 0x2F08, 0x5CB4, {1, 0, 0, 0}},
        {"Device", "Audio Record", 0, 2, "8", 0x2E28 + 8, 0x59F4 + 8, {7, 0, 0, 0}},
    };
    for (int dvrType : {9, 17}) {
        const SetupContext c = Context(dvrType);
        for (const Golden& g : cases) {
            std::vector<uint8_t> record = Blank(c);
            for (int ch = 0; ch < 16; ++ch) // distinct PTZ IDs
                WriteInt(record, (dvrType < 16 ? 0x2D50 : 0x5A7C) + 16 * ch + 4, ch);
            for (int k = 0; k < 16; ++k) // passwords "0000"
                record[(dvrType < 16 ? 0x2E14 : 0x5BC0) + k] = '0';
            for (int k = 0; k < 8; ++k)
                record[(dvrType < 16 ? 0x2E68 : 0x5BE0) + k] = '0';
            const Page page = MustBuild(g.parent, g.page, c, record);
            const PageTexts shown = Texts(page, record, c);
            PageTexts edited = shown;
            edited[g.row][g.column] = g.text;
            std::vector<uint8_t> after = record;
            ASSERT_EQ(StorePage(page, shown, edited, after, c).toStdString(), "") << g.page;
            std::vector<uint8_t> bytes = g.bytes;
            if (QString(g.page) == "Sequence")
                bytes[0] = dvrType == 9 ? 10 : 20;
            const int at = dvrType < 16 ? g.small : g.big;
            std::vector<int> expected;
            if (QString(g.page) == "Password Setup") // '0' + digit over '0'
                bytes = {'1', '2', '3', '4'};
            for (std::size_t k = 0; k < bytes.size(); ++k)
                if (bytes[k] != 0)
                    expected.push_back(at + static_cast<int>(k));
            if (QString(g.page) == "PTZ Camera" && g.column == 2)
                expected = {at}; // the ID was 0 before: only the low byte changes
            EXPECT_EQ(ChangedBytes(record, after), expected) << g.page << " " << g.text << " type " << dvrType;
            EXPECT_EQ(Texts(page, after, c)[g.row][g.column], g.text) << g.page;
        }
    }
}

TEST(SetupFields, EncodingsShowAsTheDvrMeansThem)
{
    const SetupContext big = Context(17);
    std::vector<uint8_t> record = Blank(big);
    const uint8_t ip[4] = {192, 168, 7, 21};
    std::copy(ip, ip + 4, record.begin() + 0x5BE8);
    WriteInt(record, 0x5BD0, 1);               // PAL
    WriteInt(record, 0x5BD8, 2);               // CH17 resolution
    WriteInt(record, 0x5B80, 57);              // SEOUL
    WriteInt(record, 0x5B9C, 80);              // client port
    WriteInt(record, 0x5C78, 26);              // clock
    WriteInt(record, 0x5C7C, 12);
    WriteInt(record, 0x5C80, 9);
    WriteInt(record, 0x5C84, 7);
    WriteInt(record, 0x5C88, 5);
    WriteInt(record, 0x5C8C, 3);
    WriteInt(record, 0xC0, 19);                // sequence group 13-16
    const Page network = MustBuild("System", "Network", big, record);
    const PageTexts net = Texts(network, record, big);
    EXPECT_EQ(net[1][0], "192.168.7.21");
    EXPECT_EQ(net[7][0], "10.1.2.3");
    EXPECT_EQ(net[8][0], "0080");
    EXPECT_EQ(network.rows[10].label, "CH17 Resolution");
    EXPECT_EQ(net[10][0], "720x288");
    EXPECT_EQ(std::count(network.lockedRows.begin(), network.lockedRows.end(), 10), 0);

    const Page time = MustBuild("System", "Time Setup", big, record);
    EXPECT_EQ(Texts(time, record, big)[1][0], "NONE"); // auto time off
    WriteInt(record, 0x5B7C, 1);
    EXPECT_EQ(Texts(time, record, big)[1][0], "SEOUL");
    EXPECT_EQ(Texts(time, record, big)[4][0], "12/09/2026 07:05:03");
    EXPECT_EQ(Texts(MustBuild("Display", "Sequence", big, record), record, big)[0][0], "13-16");

    const SetupContext nine = Context(9);
    std::vector<uint8_t> small = Blank(nine);
    WriteInt(small, 0x60, 9);
    EXPECT_EQ(Texts(MustBuild("Display", "Sequence", nine, small), small, nine)[0][0], "05-08");
    // A four-channel DVR has no extra stream: "Disable", locked, never written.
    const SetupContext five = Context(4);
    std::vector<uint8_t> r5 = Blank(five);
    const Page net5 = MustBuild("System", "Network", five, r5);
    EXPECT_EQ(net5.rows[10].label, "CH05 Resolution");
    PageTexts shown = Texts(net5, r5, five);
    EXPECT_EQ(shown[10][0], "Disable");
    EXPECT_NE(std::count(net5.lockedRows.begin(), net5.lockedRows.end(), 10), 0);
    PageTexts edited = shown;
    edited[10][0] = "360x240";
    std::vector<uint8_t> after = r5;
    EXPECT_EQ(StorePage(net5, shown, edited, after, five), "");
    EXPECT_EQ(after, r5);
}

TEST(SetupFields, ValuesOutsideTheListsAreKept)
{
    const SetupContext c = Context(9);
    std::vector<uint8_t> record = Blank(c);
    WriteInt(record, 0x2F00, 77);       // bandwidth unknown to the client
    WriteInt(record, 0x2D28 + 4, 5);    // sensor type of CH 02 unknown
    WriteInt(record, 0x2D48, 1);        // Alarm Out
    const std::vector<uint8_t> original = record;
    const Page network = MustBuild("System", "Network", c, record);
    PageTexts shown = Texts(network, record, c);
    EXPECT_EQ(shown[11][0], "");
    EXPECT_EQ(StorePage(network, shown, shown, record, c), "");
    const Page sensor = MustBuild("Device", "Sensor", c, record);
    shown = Texts(sensor, record, c);
    PageTexts edited = shown;
    edited[0][0] = "N.C."; // the ALL CH row itself is never written
    edited[3][0] = "N.C.";
    EXPECT_EQ(StorePage(sensor, shown, edited, record, c), "");
    EXPECT_EQ(ChangedBytes(original, record), std::vector<int>{0x2D28 + 8});
}

TEST(SetupFields, EachCheckRefusesTheWholePageAndWritesNothing)
{
    struct Refusal {
        const char* parent;
        const char* page;
        std::vector<std::tuple<int, int, QString>> edits; // the first one is legal on its own
        const char* message;
    };
    const std::vector<Refusal> cases{
        {"Device", "PTZ Camera", {{0, 0, "LG"}, {1, 2, "01"}}, kPtzIdConflict},
        {"Display", "Channel Name Display", {{0, 1, "On"}, {1, 0, "NineChars"}}, kNameLength},
        {"Display", "Camera Input", {{1, 0, "5"}, {2, 1, "100"}}, kValueRange},
        {"Display Misc", "Display VGA", {{1, 0, "5"}, {0, 0, "x"}}, kValueRange},
        {"Display Misc", "PIP", {{0, 0, "CH05"}, {2, 0, "CH02"}}, kPipDistinct},
        {"System", "Password Setup", {{0, 0, "1111"}, {1, 0, "12.4"}}, kPasswordDigits},
        {"System", "Password Setup", {{0, 0, "1111"}, {2, 0, "123"}}, kPasswordDigits},
        {"Record", "Record Quality", {{1, 0, "CIF"}, {2, 0, "D1"}}, kFrameRateNegative},
    };
    const SetupContext c = Context(9);
    std::mt19937 rng(3);
    for (const Refusal& refusal : cases) {
        std::vector<uint8_t> record = RandomValidRecord(c, rng);
        WriteInt(record, 0x2E24, 1); // PAL
        for (int ch = 0; ch < 8; ++ch) { // all CIF at 25 fps: the budget is used up exactly
            WriteInt(record, 0x24C + 16 * ch, 0);
            WriteInt(record, 0x24C + 16 * ch + 4, 0);
        }
        WriteInt(record, 0x1A0 + 4, 1); // PIP Sub1 = CH02
        const Page page = MustBuild(refusal.parent, refusal.page, c, record);
        const PageTexts shown = Texts(page, record, c);
        PageTexts edited = shown;
        const auto& [r0, c0, t0] = refusal.edits[0];
        edited[r0][c0] = t0;
        std::vector<uint8_t> legal = record;
        EXPECT_EQ(StorePage(page, shown, edited, legal, c), "") << refusal.page;
        EXPECT_FALSE(legal == record && t0 != shown[r0][c0]) << refusal.page;
        for (const auto& [r, col, t] : refusal.edits)
            edited[r][col] = t;
        std::vector<uint8_t> after = record;
        EXPECT_EQ(StorePage(page, shown, edited, after, c), refusal.message) << refusal.page;
        EXPECT_EQ(after, record) << refusal.page;
    }
}

TEST(SetupFields, FrameRateBudgetAndHints)
{
    PageTexts texts(9, std::vector<QString>{"CIF", "25", "Excellent", "15"});
    EXPECT_EQ(AvailableFrameRate(texts, 1, 9), 0);
    texts[4][0] = "D1";
    EXPECT_EQ(AvailableFrameRate(texts, 1, 9), -75);
    EXPECT_EQ(FrameRateHint(-75, 1),
              "Size : CIF->352x288, H.D1->704x288, D1->704x576   Available Frame Rate : -75");
    PageTexts ntsc(17, std::vector<QString>{"H.D1", "10", "Good", "30"});
    EXPECT_EQ(AvailableFrameRate(ntsc, 0, 17), 2 * (240 - 8 * 20));

    std::vector<ChannelSchedule> schedules(2, ChannelSchedule{});
    PageTexts enable{{"", "", "", ""}, {"Off", "On", "1 min", "OFF"}, {"Off", "Off", "OFF", "2 min"}};
    EXPECT_EQ(ScheduleHint(enable, schedules), "Please go to \"Schedule Record\" to setup the Motion Schedule !");
    enable[2][1] = "On";
    EXPECT_EQ(ScheduleHint(enable, schedules),
              "Please go to \"Schedule Record\" to setup the Motion and Sensor Schedule !");
    schedules[0][3][5] = 4;
    schedules[1][1][0] = 3;
    EXPECT_EQ(ScheduleHint(enable, schedules), "");
}

TEST(SetupFields, ScheduleRowsMapAndOnlyChangedCellsAreWritten)
{
    for (int dvrType : {9, 17}) {
        const SetupContext c = Context(dvrType);
        std::vector<uint8_t> record = Blank(c);
        const int base = (dvrType < 16 ? 0x2D4 : 0x574) + 768 * 2;
        WriteInt(record, base + 96 * 7 + 4 * 5, 0x00070001); // every-day row, high bits kept
        WriteInt(record, base + 96 * 0 + 4 * 6, 2);
        ChannelSchedule grid = ReadSchedule(record, c.layout, 2);
        EXPECT_EQ(grid[0][5], 1);
        EXPECT_EQ(grid[1][6], 2);
        const std::vector<uint8_t> original = record;
        WriteSchedule(record, c.layout, 2, grid);
        EXPECT_EQ(record, original);
        grid[7][23] = 3;
        WriteSchedule(record, c.layout, 2, grid);
        EXPECT_EQ(ChangedBytes(original, record), std::vector<int>{base + 96 * 6 + 4 * 23});
    }
}

TEST(SetupFields, ChecksJudgeOnlyTheCellsTheOperatorChanged)
{
    const SetupContext c = Context(9);
    std::vector<uint8_t> record = Blank(c);
    WriteInt(record, 0xA0, -1549622880);  // CH 01 brightness, as a DVR may send it
    WriteInt(record, 0x124, 150);         // VGA contrast
    record[0x2E18] = 0xA3;                // User1 password: not digits
    WriteInt(record, 0x2D50 + 4, 3);      // PTZ IDs of CH 01 and CH 02 alike
    WriteInt(record, 0x2D50 + 16 + 4, 3);
    for (int ch = 2; ch < 8; ++ch)
        WriteInt(record, 0x2D50 + 16 * ch + 4, 10 + ch);
    WriteInt(record, 0x1A0, 2);           // PIP Main and Sub1 alike
    WriteInt(record, 0x1A4, 2);
    for (int ch = 0; ch < 8; ++ch)        // D1 at 30 fps: far over the budget
        WriteInt(record, 0x24C + 16 * ch, 2);
    for (int ch = 0; ch < 8; ++ch)
        for (int k = 0; k < 4; ++k)
            record[8 * ch + k] = 'A';
    for (int at : {0x2E14, 0x2E1C, 0x2E20, 0x2E68, 0x2E6C})
        for (int k = 0; k < 4; ++k)
            record[at + k] = '0';
    const std::vector<uint8_t> original = record;

    struct Case {
        const char* parent;
        const char* page;
        int row, column;
        QString legal, refused; // an edit the check lets pass, and one it refuses
        const char* message;
        int offset;             // where the legal edit lands
    };
    const std::vector<Case> cases{
        {"Display", "Camera Input", 1, 1, "40", "100", kValueRange, 0xA0 + 4},
        {"Display Misc", "Display VGA", 0, 0, "40", "1x", kValueRange, 0x120},
        {"System", "Password Setup", 2, 0, "1234", "12", kPasswordDigits, 0x2E1C},
        {"Device", "PTZ Camera", 0, 0, "LG", "", kPtzIdConflict, 0x2D50 + 8},
        {"Display Misc", "PIP", 2, 0, "CH05", "CH03", kPipDistinct, 0x1A8},
        {"Record", "Record Quality", 1, 2, "Basic", "", kFrameRateNegative, 0x24C + 8},
    };
    for (const Case& k : cases) {
        const Page page = MustBuild(k.parent, k.page, c, record);
        const PageTexts shown = Texts(page, record, c);
        std::vector<uint8_t> after = record;
        // Untouched, whatever it holds, the page goes back as it came.
        EXPECT_EQ(StorePage(page, shown, shown, after, c).toStdString(), "") << k.page;
        EXPECT_EQ(after, original) << k.page;
        // A legal change elsewhere on the page stores that change alone.
        PageTexts edited = shown;
        edited[k.row][k.column] = k.legal;
        EXPECT_EQ(StorePage(page, shown, edited, after, c).toStdString(), "") << k.page;
        for (int b : ChangedBytes(original, after))
            EXPECT_TRUE(b >= k.offset && b < k.offset + 4) << k.page << " byte " << b;
        EXPECT_FALSE(ChangedBytes(original, after).empty()) << k.page;
    }
    // A changed value is still judged, against the untouched ones too.
    struct Refusal {
        const char* parent;
        const char* page;
        int row, column;
        QString text;
        const char* message;
    };
    const std::vector<Refusal> refusals{
        {"Display", "Camera Input", 2, 0, "100", kValueRange},
        {"Display Misc", "Display VGA", 0, 0, "1x", kValueRange},
        {"System", "Password Setup", 0, 0, "12", kPasswordDigits},
        {"Device", "PTZ Camera", 3, 2, "04", kPtzIdConflict}, // the untouched IDs of CH 01 and 02
        {"Display Misc", "PIP", 3, 0, "CH03", kPipDistinct},
        {"Record", "Record Quality", 1, 0, "", nullptr},     // filled below: makes it worse
        {"Display", "Channel Name Display", 0, 0, "NineChars", kNameLength},
    };
    for (const Refusal& k : refusals) {
        const Page page = MustBuild(k.parent, k.page, c, record);
        const PageTexts shown = Texts(page, record, c);
        PageTexts edited = shown;
        std::vector<uint8_t> after = record;
        if (!k.message) {
            // The DVR is over the budget already: lowering a size passes,
            // raising one does not.
            edited[1][0] = "CIF";
            EXPECT_EQ(StorePage(page, shown, edited, after, c).toStdString(), "");
            EXPECT_EQ(ChangedBytes(original, after), std::vector<int>{0x24C});
            WriteInt(after, 0x24C + 16, 1); // CH 02 lowered to H.D1 as well
            const PageTexts lower = Texts(page, after, c);
            edited = lower;
            edited[1][0] = "D1";
            edited[2][0] = "D1";
            const std::vector<uint8_t> before = after;
            EXPECT_EQ(StorePage(page, lower, edited, after, c).toStdString(), kFrameRateNegative);
            EXPECT_EQ(after, before);
            continue;
        }
        edited[k.row][k.column] = k.text;
        EXPECT_EQ(StorePage(page, shown, edited, after, c).toStdString(), k.message) << k.page;
        EXPECT_EQ(after, original) << k.page;
    }
}

// Random and extreme records, DVR types and cell texts through every page:
// nothing overflows (the sanitizers watch), and a store writes only inside
// the fields the page stores.
TEST(SetupFields, HostileRecordsAndTextsNeverFaultOrWriteOutsideThePage)
{
    std::mt19937 rng(2026);
    const std::vector<int> dvrTypes{std::numeric_limits<int>::min(), -1, 0, 1, 2, 4, 5, 9, 12, 16, 17, 20, 255,
                                    std::numeric_limits<int>::max()};
    const std::vector<int32_t> extremes{std::numeric_limits<int32_t>::max(), std::numeric_limits<int32_t>::min(),
                                        -1, 0, 1, 4, 99, 100, 0x7FFF, -0x8000};
    const QStringList hostileTexts{"", "2147483647", "2147483648", "-1", "99999999999999", "CH00", "CH-1",
                                   "01-16", "\xC3\xA9\xC3\xA9", "12.4", "On", "0000", "999", QString(300, 'x')};
    for (int round = 0; round < 40; ++round) {
        for (int dvrType : dvrTypes) {
            SetupContext c = Context(dvrType);
            // Every kind of record below in both layouts.
            c.layout = round / 4 % 2 ? Layout::Large : Layout::Small;
            std::vector<uint8_t> record(c.RecordSize());
            switch (round % 4) {
            case 0:
                for (auto& b : record)
                    b = static_cast<uint8_t>(rng());
                break;
            case 1: std::fill(record.begin(), record.end(), 0xFF); break;
            default:
                // Every aligned word an extreme value.
                for (std::size_t at = 0; at + 4 <= record.size(); at += 4)
                    WriteInt(record, static_cast<int>(at), extremes[rng() % extremes.size()]);
            }
            for (const auto& [parent, name] : AllPages()) {
                const Page page = MustBuild(parent, name, c, record);
                const PageTexts shown = Texts(page, record, c);
                PageTexts edited = shown;
                for (std::size_t r = 0; r < page.rows.size(); ++r)
                    for (std::size_t col = 0; col < page.rows[r].cells.size(); ++col) {
                        if (rng() % 3 != 0)
                            continue;
                        const QStringList choices = FieldChoices(page.rows[r].cells[col]);
                        edited[r][col] = !choices.isEmpty() && rng() % 2 ? choices[rng() % choices.size()]
                                                                         : hostileTexts[rng() % hostileTexts.size()];
                    }
                std::vector<bool> writable(record.size(), false);
                for (const Row& row : page.rows)
                    for (const Field& f : row.cells) {
                        if (!f.stored || f.offset < 0)
                            continue;
                        const int width = f.kind == FieldKind::Text ? f.width : 4;
                        for (int k = 0; k < width && f.offset + k < static_cast<int>(record.size()); ++k)
                            writable[f.offset + k] = true;
                    }
                const std::vector<uint8_t> before = record;
                StorePage(page, shown, edited, record, c);
                ASSERT_EQ(record.size(), before.size());
                for (int b : ChangedBytes(before, record))
                    ASSERT_TRUE(writable[b]) << qPrintable(name) << " wrote byte " << b;
                AvailableFrameRate(edited, round % 2, c.EffectiveN());
            }
            for (int ch = 0; ch < c.Channels(); ++ch) {
                ChannelSchedule grid = ReadSchedule(record, c.layout, ch);
                const std::vector<uint8_t> before = record;
                WriteSchedule(record, c.layout, ch, grid);
                ASSERT_EQ(record, before);
            }
        }
    }
    // The largest values show as their numbers, not wrapped round.
    const SetupContext big = Context(17);
    std::vector<uint8_t> record = Blank(big);
    WriteInt(record, 0x5A7C + 4, std::numeric_limits<int32_t>::max()); // PTZ ID of CH 01
    WriteInt(record, 0x5C78, std::numeric_limits<int32_t>::max());     // the DVR clock's year - 2000
    EXPECT_EQ(Texts(MustBuild("Device", "PTZ Camera", big, record), record, big)[0][2], "2147483648");
    EXPECT_EQ(Texts(MustBuild("System", "Time Setup", big, record), record, big)[4][0],
              "00/00/2147485647 00:00:00");
    SetupContext hostile;
    hostile.dvrType = std::numeric_limits<int>::min();
    EXPECT_EQ(hostile.Channels(), 1);
}
