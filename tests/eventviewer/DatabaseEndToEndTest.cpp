// What a poll stores against simulated DVRs on 127.0.0.1: same-second bursts
// poll after poll, a DVR's clock that went back, a database cut short by the
// disk, and the clock-change nights of two zones on the PC while the DVRs'
// clocks do not jump.
#include "EventViewer/search/CEventSearchDlg.h"
#include "ScopedTimeZone.h"
#include "SimProcess.h"
#include "ViewerFixture.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QTreeWidget>

#include <algorithm>

namespace {

EventRecord At(uint32_t key, EventTime time)
{
    EventRecord r;
    r.key = key;
    r.packedTime = PackEventTime(time);
    r.eventClass = kClassRecord;
    r.subKind = 23;
    r.action = 20;
    r.channelMask = 1u << (key % 16);
    return r;
}

std::vector<uint32_t> StoredKeysOf(const QString& path)
{
    std::vector<uint32_t> keys;
    for (const EventRecord& r : eventdb::ReadAll(path))
        keys.push_back(r.key);
    return keys;
}

std::vector<uint32_t> KeysUpTo(uint32_t last)
{
    std::vector<uint32_t> keys;
    for (uint32_t k = 1; k <= last; ++k)
        keys.push_back(k);
    return keys;
}

} // namespace

class PollFixture : public ViewerFixture {
protected:
    void SetUp() override
    {
        ViewerFixture::SetUp();
        RelaxTimeouts();
    }
    void Pass() { ASSERT_TRUE(RunPass(240000)); }
};

// Twenty events of one second (sixteen channels starting to record at once
// and more): three passes store and list each of them once.
TEST_F(PollFixture, SameSecondBurstsAreStoredAndListedOnce)
{
    std::vector<EventRecord> log;
    for (uint32_t k = 1; k <= 3; ++k)
        log.push_back(At(k, {2026, 12, 9, 12, 10, static_cast<int>(k)}));
    for (uint32_t k = 4; k <= 23; ++k)
        log.push_back(At(k, {2026, 12, 9, 12, 11, 0}));
    const QString eventsFile = dir.filePath("burst.bin");
    WriteEventsFile(eventsFile, log);
    SimProcess sim;
    std::string error;
    ASSERT_TRUE(sim.start({"--events-file", eventsFile.toStdString(), "--channels", "16"}, &error)) << error;
    WriteSites({{"Burst", sim.port(), ""}});
    Start();
    Pump(200);
    const QString db = dir.filePath("DB/Burst.dat");
    for (int pass = 0; pass < 3; ++pass) {
        SCOPED_TRACE(pass);
        Pass();
        EXPECT_EQ(Monitor()->RowText(0, 2).toStdString(), "Done");
        EXPECT_EQ(StoredKeysOf(db), KeysUpTo(23));
        EXPECT_EQ(Monitor()->EventList()->topLevelItemCount(), pass == 0 ? 23 : 0);
        EXPECT_EQ(Monitor()->RowText(0, 1), "2026/12/09 12:11:00");
    }
    // The later passes were answered with the whole second again.
    EXPECT_NE(sim.waitForLog("REPLY EVENTS 20"), "");
    ASSERT_TRUE(CloseAndWait());
}

// The DVR's clock went back an hour: its log holds events of 10:00-10:59,
// then of 09:00-09:39. Asked from 09:39 it sends the hour of 10 again at
// every pass: three passes store and list each event once.
TEST_F(PollFixture, EventsOfAClockThatWentBackAreStoredAndListedOnce)
{
    std::vector<EventRecord> log;
    uint32_t key = 0;
    for (int minute = 0; minute < 60; ++minute)
        log.push_back(At(++key, {2026, 12, 9, 10, minute, 0}));
    for (int minute = 0; minute < 40; ++minute)
        log.push_back(At(++key, {2026, 12, 9, 9, minute, 0}));
    const QString eventsFile = dir.filePath("clock.bin");
    WriteEventsFile(eventsFile, log);
    SimProcess sim;
    std::string error;
    ASSERT_TRUE(sim.start({"--events-file", eventsFile.toStdString(), "--channels", "16"}, &error)) << error;
    WriteSites({{"Clock", sim.port(), ""}});
    Start();
    Pump(200);
    const QString db = dir.filePath("DB/Clock.dat");
    for (int pass = 0; pass < 3; ++pass) {
        SCOPED_TRACE(pass);
        Pass();
        EXPECT_EQ(Monitor()->RowText(0, 2).toStdString(), "Done");
        std::vector<uint32_t> stored = StoredKeysOf(db);
        std::sort(stored.begin(), stored.end());
        EXPECT_EQ(stored, KeysUpTo(100));
        EXPECT_EQ(Monitor()->EventList()->topLevelItemCount(), pass == 0 ? 100 : 0);
        EXPECT_EQ(Monitor()->RowText(0, 1), "2026/12/09 09:39:00");
    }
    // The later passes were answered with the hour of 10 and 09:39.
    EXPECT_NE(sim.waitForLog("REPLY EVENTS 61"), "");
    ASSERT_TRUE(CloseAndWait());
}

// A write cut short by the disk left part of a record: the viewer starts with
// the last whole record's time, polls from it, and the file and the search
// hold every event once.
TEST_F(PollFixture, ADatabaseCutShortIsPolledFromItsLastWholeRecord)
{
    std::vector<EventRecord> log;
    for (uint32_t k = 1; k <= 20; ++k)
        log.push_back(At(k, {2026, 12, 9, 12, static_cast<int>(k), 0}));
    const QString eventsFile = dir.filePath("log.bin");
    WriteEventsFile(eventsFile, log);
    SimProcess sim;
    std::string error;
    ASSERT_TRUE(sim.start({"--events-file", eventsFile.toStdString(), "--channels", "16"}, &error)) << error;
    const std::vector<int> cuts{1, 16, 23};
    std::vector<std::tuple<QString, int, QString>> sites;
    for (int cut : cuts)
        sites.emplace_back(QStringLiteral("Cut%1").arg(cut), sim.port(), QString());
    WriteSites(sites);
    ASSERT_TRUE(QDir().mkpath(dir.filePath("DB")));
    for (int cut : cuts) {
        const QString path = dir.filePath(QStringLiteral("DB/Cut%1.dat").arg(cut));
        WriteEventsFile(path, std::vector<EventRecord>(log.begin(), log.begin() + 10));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::Append));
        uint8_t bytes[24];
        log[10].ToBytes(bytes);
        ASSERT_EQ(file.write(reinterpret_cast<const char*>(bytes), cut), cut);
    }
    Start();
    Pump(200);
    for (int row = 0; row < 3; ++row)
        EXPECT_EQ(Monitor()->RowText(row, 1), "2026/12/09 12:10:00") << row;
    Pass();
    for (int row = 0; row < 3; ++row) {
        const QString path = dir.filePath(QStringLiteral("DB/Cut%1.dat").arg(cuts[static_cast<std::size_t>(row)]));
        EXPECT_EQ(Monitor()->RowText(row, 2), "Done") << row;
        EXPECT_EQ(StoredKeysOf(path), KeysUpTo(20)) << row;
        EXPECT_EQ(QFileInfo(path).size(), 20 * 24) << row;
    }
    // The search reads every event, once, and nothing else.
    View()->OnCommand(IDC_SEARCH_PAGE);
    CEventSearchDlg* page = View()->SearchPage();
    ASSERT_NE(page, nullptr);
    page->Check(IDC_SEARCH_RECORD_START)->setChecked(true);
    for (int k = 0; k < 16; ++k)
        page->Check(IDC_FIRST_CHANNEL + k)->setChecked(true);
    page->Check(IDC_USE_DATE)->setChecked(false);
    page->OnSearch();
    ASSERT_TRUE(PumpUntil([&] { return !page->Searching(); }, 30000));
    std::multiset<uint32_t> found;
    for (int i = 0; i < page->ResultModel()->rowCount(); ++i)
        found.insert(page->ResultModel()->Text(i, SearchResultModel::kId).toUInt());
    std::multiset<uint32_t> expected;
    for (int copy = 0; copy < 3; ++copy)
        for (uint32_t k = 1; k <= 20; ++k)
            expected.insert(k);
    EXPECT_EQ(found, expected);
    ASSERT_TRUE(CloseAndWait());
}

// The DVR's clock runs through the night the PC's clock changes. Stored
// events up to a reading the PC's clock skips: the next poll still asks from
// there, and the events after it are fetched, once.
TEST_F(PollFixture, TheSpringNightIsPolledByTheDvrsOwnClock)
{
    for (const ClockChangeZone& zone : kClockChangeZones) {
        SCOPED_TRACE(zone.name);
        ScopedTimeZone inZone(zone.name);
        const int month = zone.springMonth, day = zone.springDay, hour = zone.skippedHour;
        const std::vector<EventRecord> log{
            At(1, {2024, month, day, hour - 1, 50, 0}), At(2, {2024, month, day, hour, 10, 0}),
            At(3, {2024, month, day, hour, 20, 0}),     At(4, {2024, month, day, hour, 40, 0}),
            At(5, {2024, month, day, hour + 1, 5, 0}),
        };
        const QString eventsFile = dir.filePath("spring.bin");
        WriteEventsFile(eventsFile, log);
        SimProcess sim;
        std::string error;
        ASSERT_TRUE(sim.start({"--events-file", eventsFile.toStdString(), "--channels", "16"}, &error)) << error;
        ASSERT_TRUE(QDir(dir.filePath("DB")).removeRecursively());
        WriteSites({{"Spring", sim.port(), ""}});
        ASSERT_TRUE(QDir().mkpath(dir.filePath("DB")));
        WriteEventsFile(dir.filePath("DB/Spring.dat"), {log[0], log[1]});
        Start();
        Pump(200);
        Pass();
        EXPECT_EQ(Monitor()->RowText(0, 2), "Done");
        EXPECT_EQ(StoredKeysOf(dir.filePath("DB/Spring.dat")), KeysUpTo(5));
        EXPECT_EQ(Monitor()->EventList()->topLevelItemCount(), 3);
        // Asked from just before the skip: the stored 02:10 came again, and
        // nothing before the stored time.
        EXPECT_NE(sim.waitForLog("REPLY EVENTS 4"), "");
        ASSERT_TRUE(CloseAndWait());
        frame.reset();
        document.reset();
    }
}
