// The event search: filters, reader hand-out, result limits, the dialog's
// checks and a search stopped while its threads run.
#include "ScopedTimeZone.h"
#include "SearchFixture.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTreeWidget>

#include <cstdlib>
#include <ctime>
#include <random>

#include <sys/stat.h>

namespace {

enum Keys : uint32_t {
    kMotion1 = 1, kMotion2, kSensor1, kVideoLoss1, kStartManual1, kStartSchedule2, kStopManualNone,
    kStopSchedule16, kPowerOn, kPowerOff, kMenuNetwork, kMenuDvr, kAdmin192, kGuest10, kBackup, kRecordOther,
};

std::vector<EventRecord> MatrixRecords()
{
    return {
        MakeRecord({kMotion1, kClassCamera, 2, 0, 0x1}),
        MakeRecord({kMotion2, kClassCamera, 2, 0, 0x2}),
        MakeRecord({kSensor1, kClassCamera, 3, 0, 0x1}),
        MakeRecord({kVideoLoss1, kClassCamera, 1, 0, 0x1}),
        MakeRecord({kStartManual1, kClassRecord, 23, 20, 0x1}),
        MakeRecord({kStartSchedule2, kClassRecord, 22, 20, 0x2}),
        MakeRecord({kStopManualNone, kClassRecord, 23, 21, 0x0}),
        MakeRecord({kStopSchedule16, kClassRecord, 22, 21, 0x8000}),
        MakeRecord({kPowerOn, kClassPower, 10}),
        MakeRecord({kPowerOff, kClassPower, 11}),
        MakeRecord({kMenuNetwork, kClassMenuChange, 1}),
        MakeRecord({kMenuDvr, kClassMenuChange, 0}),
        MakeRecord({kAdmin192, kClassNetworkConnect, 192, 168, 0, {2024, 5, 6, 7, 8, 9}, 15, 0, 5}),
        MakeRecord({kGuest10, kClassNetworkConnect, 10, 0, 0, {2024, 5, 6, 7, 8, 9}, 3, 0, 7}),
        MakeRecord({kBackup, kClassBackupHistory, 0, 0, 0xFFFF}),
        MakeRecord({kRecordOther, kClassRecord, 23, 22, 0xFFFF}),
    };
}

class SearchMatrix : public SearchFixture {
protected:
    void SetUp() override
    {
        SearchFixture::SetUp();
        AddDvr("Lobby", MatrixRecords());
        Open();
        Check(IDC_USE_DATE, false);
    }
    std::set<uint32_t> Run()
    {
        EXPECT_TRUE(Search());
        return KeySet();
    }
};

} // namespace

TEST_F(SearchMatrix, CameraEventsNeedOneOfTheSelectedChannels)
{
    Check(IDC_SEARCH_MOTION);
    SetChannels(0x1);
    EXPECT_EQ(Run(), (std::set<uint32_t>{kMotion1}));
    SetChannels(0x3);
    EXPECT_EQ(Run(), (std::set<uint32_t>{kMotion1, kMotion2}));
    Check(IDC_SEARCH_MOTION, false);
    Check(IDC_SEARCH_SENSOR);
    Check(IDC_SEARCH_VIDEO_LOSS);
    EXPECT_EQ(Run(), (std::set<uint32_t>{kSensor1, kVideoLoss1}));
    SetChannels(0x2);
    EXPECT_TRUE(Search());
    EXPECT_EQ(page->RowStatus(0), kStatusNoData);
}

TEST_F(SearchMatrix, RecordStopIgnoresChannelsAndRecordStartDoesNot)
{
    Check(IDC_SEARCH_RECORD_STOP);
    SetChannels(0x1);
    EXPECT_EQ(Run(), (std::set<uint32_t>{kStopManualNone, kStopSchedule16}));
    SetKind(IDC_RECORD_STOP_KIND, "Schedule");
    EXPECT_EQ(Run(), (std::set<uint32_t>{kStopSchedule16}));

    Check(IDC_SEARCH_RECORD_STOP, false);
    Check(IDC_SEARCH_RECORD_START);
    SetChannels(0x2);
    EXPECT_EQ(Run(), (std::set<uint32_t>{kStartSchedule2}));
    SetChannels(0x3);
    SetKind(IDC_RECORD_START_KIND, "Manual");
    EXPECT_EQ(Run(), (std::set<uint32_t>{kStartManual1}));
    SetKind(IDC_RECORD_START_KIND, "Network");
    EXPECT_TRUE(Run().empty());
}

TEST_F(SearchMatrix, MenuAndUserKinds)
{
    Check(IDC_SEARCH_MENU_CHANGE);
    EXPECT_EQ(Run(), (std::set<uint32_t>{kMenuNetwork, kMenuDvr}));
    SetKind(IDC_MENU_KIND, "DVR");
    EXPECT_EQ(Run(), (std::set<uint32_t>{kMenuDvr}));
    SetKind(IDC_MENU_KIND, "Network");
    EXPECT_EQ(Run(), (std::set<uint32_t>{kMenuNetwork}));

    Check(IDC_SEARCH_MENU_CHANGE, false);
    Check(IDC_SEARCH_NETWORK_CONNECT);
    EXPECT_EQ(Run(), (std::set<uint32_t>{kAdmin192, kGuest10}));
    SetKind(IDC_USER_KIND, "User"); // guests: any user class but 15
    EXPECT_EQ(Run(), (std::set<uint32_t>{kGuest10}));
    SetKind(IDC_USER_KIND, "Admin");
    EXPECT_EQ(Run(), (std::set<uint32_t>{kAdmin192}));

    SetKind(IDC_USER_KIND, "All");
    EXPECT_TRUE(page->Check(IDC_USE_IP_ADDRESS)->isEnabled());
    Check(IDC_USE_IP_ADDRESS);
    EXPECT_TRUE(page->AddressEdit()->isEnabled());
    page->AddressEdit()->setText("192.168.0.5");
    EXPECT_EQ(Run(), (std::set<uint32_t>{kAdmin192}));
    SetKind(IDC_USER_KIND, "User");
    EXPECT_TRUE(Run().empty());
    EXPECT_EQ(page->RowStatus(0), kStatusNoData);
}

TEST_F(SearchMatrix, PowerEventsNothingCheckedAndEverything)
{
    Check(IDC_SEARCH_POWER_ON);
    EXPECT_EQ(Run(), (std::set<uint32_t>{kPowerOn}));
    Check(IDC_SEARCH_POWER_OFF);
    EXPECT_EQ(Run(), (std::set<uint32_t>{kPowerOn, kPowerOff}));
    Check(IDC_SEARCH_POWER_ON, false);
    Check(IDC_SEARCH_POWER_OFF, false);
    EXPECT_TRUE(Run().empty());
    EXPECT_EQ(page->RowStatus(0), kStatusNoData);

    page->OnAllEvent(); // every event type and channel
    std::set<uint32_t> all;
    for (uint32_t k = kMotion1; k <= kGuest10; ++k)
        all.insert(k);
    EXPECT_EQ(Run(), all);
    EXPECT_EQ(page->RowStatus(0), kSearchStatusDone);
    EXPECT_EQ(page->SummaryText(), QStringLiteral("%1 Item").arg(all.size()));
}

TEST_F(SearchMatrix, ResultColumnsAndSort)
{
    page->OnAllEvent();
    ASSERT_TRUE(Search());
    const SearchResultModel* m = page->ResultModel();
    ASSERT_EQ(m->rowCount(), 14);
    // Rows in file order, numbered from 0.
    EXPECT_EQ(m->Text(0, SearchResultModel::kIndex), "0");
    EXPECT_EQ(m->Text(0, SearchResultModel::kDvrName), "Lobby");
    EXPECT_EQ(m->Text(0, SearchResultModel::kTime), "2024/05/06 07:08:09");
    EXPECT_EQ(m->Text(0, SearchResultModel::kEventType), "Motion");
    EXPECT_EQ(m->Text(0, SearchResultModel::kChannel), "01");
    EXPECT_EQ(m->Text(7, SearchResultModel::kEventType), "Record Stop");
    EXPECT_EQ(m->Text(7, SearchResultModel::kFrom), "Schecule");
    EXPECT_EQ(m->Text(7, SearchResultModel::kChannel), "");
    EXPECT_EQ(m->Text(5, SearchResultModel::kFrom), "Schedule");
    EXPECT_EQ(m->Text(12, SearchResultModel::kIpAddress), "192.168.000.005");
    EXPECT_EQ(m->Text(12, SearchResultModel::kFrom), "Admin");
    EXPECT_EQ(m->Text(13, SearchResultModel::kFrom), "Guest");
    EXPECT_EQ(m->headerData(6, Qt::Horizontal, Qt::DisplayRole).toString(), "IP Address");

    // First click ascending, the next descending.
    ASSERT_TRUE(page->SortResults(SearchResultModel::kId));
    ASSERT_TRUE(page->SortResults(SearchResultModel::kId));
    EXPECT_EQ(m->Text(0, SearchResultModel::kId), QString::number(kGuest10));
    EXPECT_EQ(m->Text(13, SearchResultModel::kId), QString::number(kMotion1));
    ASSERT_TRUE(page->SortResults(SearchResultModel::kEventType));
    for (int i = 1; i < m->rowCount(); ++i)
        EXPECT_LE(m->Text(i - 1, SearchResultModel::kEventType).toLatin1(),
                  m->Text(i, SearchResultModel::kEventType).toLatin1());
    EXPECT_EQ(m->Text(0, SearchResultModel::kEventType), "DVR Power Off");
}

TEST_F(SearchFixture, WindowIsInclusiveAndImpossibleTimesAreSkipped)
{
    auto at = [](uint32_t key, EventTime t) { return MakeRecord({key, kClassPower, 10, 0, 0, t}); };
    AddDvr("Gate", {
                       at(1, {2024, 3, 9, 23, 59, 59}),
                       at(2, {2024, 3, 10, 0, 0, 0}),
                       at(3, {2024, 3, 10, 12, 0, 0}),
                       at(4, {2024, 3, 10, 23, 59, 59}),
                       at(5, {2024, 3, 11, 0, 0, 0}),
                       at(6, {2024, 0, 10, 1, 0, 0}),   // month 0
                       at(7, {2024, 13, 10, 1, 0, 0}),  // month 13
                       at(8, {2024, 3, 0, 1, 0, 0}),    // day 0
                       at(9, {2024, 3, 10, 24, 0, 0}),  // hour 24
                       at(10, {2024, 3, 10, 1, 60, 0}), // minute 60
                       at(11, {2024, 3, 10, 1, 0, 60}), // the second is not checked
                   });
    Open();
    Check(IDC_SEARCH_POWER_ON);
    SetWindow(QDateTime(QDate(2024, 3, 10), QTime(0, 0, 0)), QDateTime(QDate(2024, 3, 10), QTime(23, 59, 59)));
    ASSERT_TRUE(Search());
    EXPECT_EQ(KeySet(), (std::set<uint32_t>{2, 3, 4, 11}));

    Check(IDC_USE_DATE, false);
    ASSERT_TRUE(Search());
    EXPECT_EQ(KeySet(), (std::set<uint32_t>{1, 2, 3, 4, 5, 11}));
}

TEST_F(SearchFixture, NoDataBufferFullAndAFullBuffer)
{
    std::vector<EventRecord> many(CFileMgr::kMaxResults + 1);
    for (std::size_t i = 0; i < many.size(); ++i)
        many[i] = MakeRecord({uint32_t(i + 1), kClassCamera, 2, 0, 0x1});
    AddDvr("Overflow", many);
    many.pop_back();
    AddDvr("Exactly", many);
    AddDvr("Missing", {});
    AddDvr("Unchecked", many, false);
    Open();
    Check(IDC_USE_DATE, false);
    Check(IDC_SEARCH_MOTION);
    SetChannels(0x1);
    ASSERT_TRUE(Search());
    EXPECT_EQ(page->RowStatus(0), kStatusBufferFull);
    EXPECT_EQ(page->RowStatus(1), kSearchStatusDone);
    EXPECT_EQ(page->RowStatus(2), kStatusNoData);
    EXPECT_EQ(page->RowStatus(3), "");
    EXPECT_EQ(page->Results(), CFileMgr::kMaxResults);
    EXPECT_EQ(page->ResultModel()->rowCount(), CFileMgr::kMaxResults);
    EXPECT_EQ(page->ResultModel()->Text(CFileMgr::kMaxResults - 1, SearchResultModel::kIndex),
              QString::number(CFileMgr::kMaxResults - 1));
    for (const QString name : {"Overflow", "Exactly", "Missing"})
        for (int i = 0; i < page->ResultModel()->rowCount(); i += 9999)
            EXPECT_EQ(page->ResultModel()->Text(i, SearchResultModel::kDvrName), "Exactly") << name.toStdString();
    for (int i = 0; i < CEventSearchDlg::kReaders; ++i)
        EXPECT_TRUE(page->Reader(i).free);
    EXPECT_EQ(page->Started(), 3);
    EXPECT_EQ(page->Finished(), 3);
    EXPECT_EQ(page->Assigned(), 0);
    EXPECT_TRUE(page->SearchButton()->isEnabled());
}

TEST_F(SearchFixture, ThirtyDvrsOverTwentyReadersAllFinish)
{
    // Listing takes longer than scanning, so every reader is taken before
    // the last DVRs are handed out.
    constexpr uint32_t kPerDvr = 20000;
    for (int d = 0; d < 30; ++d) {
        std::vector<EventRecord> records;
        for (uint32_t k = 0; k < kPerDvr; ++k)
            records.push_back(MakeRecord({uint32_t(d * 100000 + k), kClassPower, 10}));
        AddDvr(QStringLiteral("DVR%1").arg(d + 1), records);
    }
    Open();
    Check(IDC_USE_DATE, false);
    Check(IDC_SEARCH_POWER_ON);
    ASSERT_TRUE(Search());
    for (int row = 0; row < 30; ++row) {
        EXPECT_EQ(page->RowStatus(row), kSearchStatusDone) << row;
        EXPECT_FALSE(page->RowReader(row).isEmpty()) << row;
    }
    // Rows take the first free reader in row order; readers are handed out
    // again once their lists are filled.
    EXPECT_EQ(page->RowReader(0), "0");
    for (int row = 0; row < 30; ++row) {
        const int reader = page->RowReader(row).toInt();
        EXPECT_TRUE(reader >= 0 && reader < CEventSearchDlg::kReaders) << row;
    }
    EXPECT_EQ(page->Started(), 30);
    EXPECT_EQ(page->Finished(), 30);
    EXPECT_EQ(page->Results(), int(30 * kPerDvr));
    std::set<uint32_t> expected;
    for (int d = 0; d < 30; ++d)
        for (uint32_t k = 0; k < kPerDvr; ++k)
            expected.insert(uint32_t(d * 100000 + k));
    EXPECT_EQ(KeySet(), expected);
}

TEST_F(SearchFixture, DateChecksRefuseEvenWithoutDate)
{
    AddDvr("Lobby", {MakeRecord({1, kClassPower, 10})});
    Open();
    Check(IDC_USE_DATE, false);
    page->FromDay()->setDate(QDate(2024, 5, 6));
    page->ToDay()->setDate(QDate(2024, 5, 5));
    page->OnSearch();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], kDateRangeErrorDay);
    // The operator can mend the dates and search again.
    EXPECT_TRUE(page->SearchButton()->isEnabled());

    page->ToDay()->setDate(QDate(2024, 5, 6));
    page->FromTime()->setTime(QTime(10, 0, 0));
    page->ToTime()->setTime(QTime(9, 59, 59));
    page->OnSearch();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1], kDateRangeErrorTime);
    EXPECT_EQ(page->Started(), 0);

    page->ToTime()->setTime(QTime(10, 0, 0));
    ASSERT_TRUE(Search());
    EXPECT_EQ(boxes.size(), 2u);
}

TEST_F(SearchFixture, SearchKeepsTheDvrChecksAndSaves)
{
    AddDvr("A", {}, false);
    AddDvr("B", {}, true);
    Open();
    EXPECT_FALSE(page->RowChecked(0));
    EXPECT_TRUE(page->RowChecked(1));
    page->SetRowChecked(0, true);
    page->SetRowChecked(1, false);
    ASSERT_TRUE(Search());
    EXPECT_EQ(document->deviceList[0]->PollingFlag(), 1);
    EXPECT_EQ(document->deviceList[1]->PollingFlag(), 0);
    EXPECT_EQ(saves, 1);
    EXPECT_EQ(page->RowStatus(0), kStatusNoData);
}

TEST_F(SearchFixture, OptionHandlers)
{
    for (const char* name : {"A", "B", "C", "D", "E"})
        AddDvr(name, {}, false);
    Open();
    EXPECT_TRUE(page->Check(IDC_USE_DATE)->isChecked());
    EXPECT_FALSE(page->Check(IDC_USE_IP_ADDRESS)->isEnabled());
    EXPECT_FALSE(page->AddressEdit()->isEnabled());
    EXPECT_EQ(page->Combo(IDC_RECORD_START_KIND)->currentText(), "All");

    // From = the third DVR, To = its second entry: rows 2 and 3.
    page->Combo(IDC_FROM_DVR)->setCurrentIndex(2);
    page->OnFromDvrChanged();
    EXPECT_EQ(page->Combo(IDC_TO_DVR)->count(), 3);
    EXPECT_EQ(page->Combo(IDC_TO_DVR)->itemText(0), "C");
    page->Combo(IDC_TO_DVR)->setCurrentIndex(1);
    page->OnToDvrChanged();
    for (int row = 0; row < 5; ++row)
        EXPECT_EQ(page->RowChecked(row), row == 2 || row == 3) << row;

    page->Check(IDC_SEARCH_ALL_DVR)->setChecked(true);
    page->OnAllDvr();
    for (int row = 0; row < 5; ++row)
        EXPECT_TRUE(page->RowChecked(row));
    page->OnDvrListRightClick();
    EXPECT_TRUE(page->RowChecked(0));
    page->OnDvrListRightClick();
    EXPECT_FALSE(page->RowChecked(4));

    page->Check(IDC_USE_DATE)->setChecked(false);
    page->OnUseDate();
    EXPECT_FALSE(page->FromDay()->isEnabled());
    EXPECT_FALSE(page->ToTime()->isEnabled());

    page->OnAllChannel();
    for (int k = 0; k < 16; ++k)
        EXPECT_TRUE(page->Check(IDC_FIRST_CHANNEL + k)->isChecked());
    page->OnAllChannel();
    EXPECT_FALSE(page->Check(IDC_FIRST_CHANNEL + 15)->isChecked());
    page->OnAllEvent();
    EXPECT_TRUE(page->Check(IDC_SEARCH_NETWORK_CONNECT)->isChecked());
    EXPECT_TRUE(page->Check(IDC_FIRST_CHANNEL)->isChecked());
    EXPECT_TRUE(page->Check(IDC_USE_IP_ADDRESS)->isEnabled());
}

TEST_F(SearchFixture, ANewSearchDirectoryIsReadByTheNextSearch)
{
    AddDvr("Lobby", {MakeRecord({1, kClassPower, 10})});
    Open();
    Check(IDC_USE_DATE, false);
    Check(IDC_SEARCH_POWER_ON);
    ASSERT_TRUE(Search());
    EXPECT_EQ(Keys(), (std::vector<uint32_t>{1}));

    const QString other = dir.filePath("Other");
    ASSERT_TRUE(QDir().mkpath(other));
    ASSERT_TRUE(eventdb::AppendBatch(other, "Lobby", {MakeRecord({7, kClassPower, 10})}).Stored());
    page->SetSearchDirectory(other);
    ASSERT_TRUE(Search());
    EXPECT_EQ(Keys(), (std::vector<uint32_t>{7}));
}

TEST_F(SearchFixture, UnusableNamesAreNeverOpened)
{
    // A file beside the database that a crafted name would reach.
    ASSERT_TRUE(eventdb::AppendBatch(dir.path(), "Outside", {MakeRecord({1, kClassPower, 10})}).Stored());
    AddDvr("../Outside", {});
    Open();
    Check(IDC_USE_DATE, false);
    Check(IDC_SEARCH_POWER_ON);
    ASSERT_TRUE(Search());
    EXPECT_EQ(page->RowStatus(0), kStatusNoData);
    EXPECT_EQ(page->Results(), 0);
}

// A FIFO (or a folder) named like a DVR's file is no database: the search
// goes past it with "No Data" instead of waiting for a writer that never
// comes, finds the others, and Stop and a new search still work.
TEST_F(SearchFixture, AFifoOrAFolderWhereAFileShouldBeIsNoData)
{
    AddDvr("Pipe", {});
    ASSERT_EQ(mkfifo(QFile::encodeName(database + "/Pipe.dat").constData(), 0600), 0);
    AddDvr("Folder", {});
    ASSERT_TRUE(QDir().mkpath(database + "/Folder.dat"));
    AddDvr("Gate", {MakeRecord({7, kClassPower, 10})});
    Open();
    Check(IDC_USE_DATE, false);
    Check(IDC_SEARCH_POWER_ON);
    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(Search());
        EXPECT_EQ(page->RowStatus(0), kStatusNoData);
        EXPECT_EQ(page->RowStatus(1), kStatusNoData);
        EXPECT_EQ(KeySet(), (std::set<uint32_t>{7}));
        page->OnStop();
    }
}

// A search stopped at any point, again and again: every thread is joined,
// no reader stays taken and the next search still finds everything. A round
// stops at a random moment, or once a reader scans, or once rows are listed
// while others are still to come; rounds go on until both of those moments
// have been stopped in often enough, however slowly a loaded machine reaches
// them.
TEST_F(SearchFixture, StoppedWhileRunningRepeatedly)
{
    std::set<uint32_t> expected;
    for (int d = 0; d < 24; ++d) {
        std::vector<EventRecord> records;
        const int count = d % 4 == 0 ? 0 : 200 + d * 50;
        for (int k = 0; k < count; ++k) {
            const uint32_t key = uint32_t(d * 100000 + k);
            records.push_back(MakeRecord({key, kClassCamera, 2, 0, 0x1}));
            expected.insert(key);
        }
        AddDvr(QStringLiteral("DVR%1").arg(d + 1), records);
    }
    Open();
    Check(IDC_USE_DATE, false);
    Check(IDC_SEARCH_MOTION);
    SetChannels(0xFFFF);
    std::mt19937 random(17);
    constexpr int kRounds = 300, kMostRounds = 3000, kScanningStops = 30, kListingStops = 10;
    int scanning = 0, listing = 0; // rounds stopped in the middle of each
    int round = 0;
    for (; round < kRounds || ((scanning < kScanningStops || listing < kListingStops) && round < kMostRounds);
         ++round) {
        page->OnSearch();
        if (round % 3 == 0) {
            // Up to 12 ms of the search before the stop.
            const int64_t runFor = static_cast<int64_t>(random() % 12000) * 1000;
            QElapsedTimer clock;
            clock.start();
            while (clock.nsecsElapsed() < runFor)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        } else {
            const bool toList = round % 3 == 2;
            PumpUntil(
                [&] {
                    return !page->Searching() || (toList ? page->Results() > 0 : page->Started() > page->Finished());
                },
                30000);
            for (int k = static_cast<int>(random() % 4); k > 0; --k)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        }
        if (random() % 2)
            platform::ServeSentMessages();
        scanning += page->Started() > page->Finished();
        listing += page->Results() > 0 && page->Searching();
        page->OnStop();
        ASSERT_FALSE(page->Searching());
        for (int i = 0; i < CEventSearchDlg::kReaders; ++i)
            ASSERT_TRUE(page->Reader(i).free) << round;
        // Nothing left over reaches the list after the stop.
        const int rows = page->ResultModel()->rowCount();
        QCoreApplication::processEvents();
        ASSERT_EQ(page->ResultModel()->rowCount(), rows);
    }
    ASSERT_GE(scanning, kScanningStops) << round << " rounds";
    ASSERT_GE(listing, kListingStops) << round << " rounds";
    ASSERT_TRUE(Search());
    EXPECT_EQ(KeySet(), expected);
    EXPECT_EQ(page->Results(), static_cast<int>(expected.size()));
}

// The page closed in the middle of a search.
TEST_F(SearchFixture, DestroyedWhileSearching)
{
    for (int d = 0; d < 5; ++d) {
        std::vector<EventRecord> records(20000, MakeRecord({1, kClassCamera, 2, 0, 0x1}));
        AddDvr(QStringLiteral("DVR%1").arg(d + 1), records);
    }
    for (int round = 0; round < 50; ++round) {
        Open();
        Check(IDC_USE_DATE, false);
        Check(IDC_SEARCH_MOTION);
        SetChannels(0x1);
        page->OnSearch();
        for (int i = 0; i < round % 7; ++i)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        page.reset();
        QCoreApplication::processEvents();
    }
}

// The night's repeated and skipped readings are searched by the DVR's clock:
// the same events give the same result whatever else their file holds (the
// zone's conversion of a neighbour must not sway them), in a zone that
// changes by an hour and in one that changes by half an hour.
TEST_F(SearchFixture, ClockChangeNightsAreSearchedByTheDvrsClockWhateverTheNeighbours)
{
    int dvr = 0;
    for (const ClockChangeZone& zone : kClockChangeZones) {
        SCOPED_TRACE(zone.name);
        ScopedTimeZone inZone(zone.name);
        for (const bool autumn : {true, false}) {
            const int month = autumn ? zone.autumnMonth : zone.springMonth;
            const int day = autumn ? zone.autumnDay : zone.springDay;
            const int hour = autumn ? zone.repeatedHour : zone.skippedHour;
            const int minute = autumn ? zone.repeatedMinute : zone.skippedMinute;
            auto at = [&](uint32_t key, int addMinutes, int h, int d) {
                const int m = minute + addMinutes;
                return MakeRecord({key, kClassPower, 10, 0, 0, {2024, month, d, h + m / 60, m % 60, 5}});
            };
            // Three events in the night's odd half hour, two just outside
            // the window.
            std::vector<EventRecord> alone{at(1, 0, hour, day), at(2, 10, hour, day), at(3, 20, hour, day)};
            std::vector<EventRecord> crowded;
            const EventRecord summer = MakeRecord({100, kClassPower, 10, 0, 0, {2024, 7, 1, hour, 10, 0}});
            const EventRecord winter = MakeRecord({101, kClassPower, 10, 0, 0, {2024, 12, 1, hour, 10, 0}});
            for (const EventRecord& r : alone) {
                crowded.push_back(autumn ? summer : winter);
                EventRecord copy = r;
                copy.key += 10;
                crowded.push_back(copy);
                crowded.push_back(autumn ? winter : summer);
            }
            crowded.push_back(at(102, 0, hour - 1, day));
            crowded.push_back(at(103, 0, hour + 1, day));
            const QString a = QStringLiteral("Alone%1").arg(dvr), b = QStringLiteral("Crowded%1").arg(dvr);
            ++dvr;
            AddDvr(a, alone);
            AddDvr(b, crowded);
            page.reset();
            Open();
            Check(IDC_SEARCH_POWER_ON);
            const QDate date(2024, month, day);
            SetWindow(QDateTime(date, QTime(hour, minute, 0)), QDateTime(date, QTime(hour, minute + 29, 59)));
            ASSERT_TRUE(Search());
            EXPECT_EQ(KeySet(), (std::set<uint32_t>{1, 2, 3, 11, 12, 13})) << (autumn ? "autumn" : "spring");
        }
    }
}

// No search directory in the settings: the readers read where the monitor
// then writes, and a crafted name never leaves it.
TEST_F(SearchFixture, AnEmptySearchDirectoryReadsTheDefaultDatabase)
{
    struct HomeGuard {
        QByteArray previous = qgetenv("HOME");
        ~HomeGuard() { qputenv("HOME", previous); }
    } home;
    qputenv("HOME", dir.filePath("home").toLocal8Bit());
    const QString fallback = DefaultDatabaseDirectory();
    ASSERT_TRUE(fallback.startsWith(dir.filePath("home")));
    ASSERT_TRUE(QDir().mkpath(fallback));
    ASSERT_TRUE(eventdb::AppendBatch(fallback, "Lobby", {MakeRecord({5, kClassPower, 11})}).Stored());
    AddDvr("Lobby", {});
    document->searchDatabaseDirectory.clear();
    Open();
    EXPECT_EQ(page->SearchDirectory(), fallback);
    Check(IDC_USE_DATE, false);
    Check(IDC_SEARCH_POWER_OFF);
    page->OnSearch();
    // No sorting while the search runs.
    EXPECT_FALSE(page->SortResults(SearchResultModel::kId));
    EXPECT_TRUE(PumpUntil([this] { return !page->Searching(); }, 10000));
    EXPECT_EQ(Keys(), (std::vector<uint32_t>{5}));
    EXPECT_TRUE(page->SortResults(SearchResultModel::kId));
}
