// The search page in the viewer: the page switch, the setup dialog's search
// directory and backup, and a search over what a polling pass against
// simulated DVRs stored.
#include "EventViewer/dialogs/CSystemSetupDlg.h"
#include "EventViewer/search/CEventSearchDlg.h"
#include "SimProcess.h"
#include "ViewerFixture.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QFile>
#include <QLineEdit>
#include <QTimeEdit>

#include <set>

namespace {

EventRecord Event(uint32_t key, uint16_t eventClass, uint8_t subKind, uint32_t mask, EventTime time,
                  uint8_t action = 0, uint8_t userClass = 0, std::array<uint8_t, 2> address34 = {0, 0})
{
    EventRecord r;
    r.key = key;
    r.packedTime = PackEventTime(time);
    r.eventClass = eventClass;
    r.subKind = subKind;
    r.action = action;
    r.channelMask = mask;
    r.userClass = userClass;
    r.address3 = address34[0];
    r.address4 = address34[1];
    return r;
}

std::set<uint32_t> ResultKeys(CEventSearchDlg* page)
{
    std::set<uint32_t> keys;
    for (int i = 0; i < page->ResultModel()->rowCount(); ++i)
        keys.insert(page->ResultModel()->Text(i, SearchResultModel::kId).toUInt());
    return keys;
}

} // namespace

TEST_F(ViewerFixture, TheSearchFindsWhatAPollStoredByDvrTimeTypeChannelAndAddress)
{
    const QString frontFile = dir.filePath("front.bin");
    const QString backFile = dir.filePath("back.bin");
    WriteEventsFile(frontFile, {
                                   Event(101, kClassCamera, 2, 0x1, {2024, 5, 6, 7, 0, 0}),
                                   Event(102, kClassCamera, 3, 0x4, {2024, 5, 6, 8, 0, 0}),
                                   Event(103, kClassNetworkConnect, 10, 0, {2024, 5, 6, 9, 0, 0}, 1, 15, {2, 3}),
                                   Event(104, kClassNetworkConnect, 10, 0, {2024, 5, 6, 10, 0, 0}, 1, 4, {2, 9}),
                               });
    WriteEventsFile(backFile, {
                                  Event(201, kClassCamera, 2, 0x1, {2024, 5, 7, 7, 0, 0}),
                                  Event(202, kClassPower, 10, 0, {2024, 5, 7, 8, 0, 0}),
                              });
    SimProcess front, back;
    std::string error;
    ASSERT_TRUE(front.start({"--events-file", frontFile.toStdString(), "--channels", "4"}, &error)) << error;
    ASSERT_TRUE(back.start({"--events-file", backFile.toStdString(), "--channels", "4"}, &error)) << error;
    WriteSites({{"Front", front.port(), ""}, {"Back", back.port(), ""}});
    Start();
    Pump(200);
    Monitor()->OnTracking();
    ASSERT_TRUE(PumpUntil([&] { return Monitor()->Idle(); }, 30000));
    ASSERT_EQ(Monitor()->RowText(0, 2), "Done");
    ASSERT_EQ(Monitor()->RowText(1, 2), "Done");

    EXPECT_EQ(View()->SearchPage(), nullptr);
    View()->OnCommand(IDC_SEARCH_PAGE);
    CEventSearchDlg* page = View()->SearchPage();
    ASSERT_NE(page, nullptr);
    EXPECT_TRUE(page->isVisible());
    EXPECT_FALSE(Monitor()->isVisible());
    EXPECT_EQ(page->geometry(), Monitor()->geometry());
    ASSERT_EQ(page->RowCount(), 2);

    auto search = [&] {
        page->OnSearch();
        EXPECT_TRUE(PumpUntil([&] { return !page->Searching(); }, 10000));
        return ResultKeys(page);
    };
    page->FromDay()->setDate(QDate(2024, 5, 6));
    page->ToDay()->setDate(QDate(2024, 5, 7));
    page->OnAllEvent();
    EXPECT_EQ(search(), (std::set<uint32_t>{101, 102, 103, 104, 201, 202}));
    EXPECT_EQ(page->SummaryText(), "6 Item");

    // By DVR.
    page->SetRowChecked(0, false);
    EXPECT_EQ(search(), (std::set<uint32_t>{201, 202}));
    page->SetRowChecked(0, true);
    // By time: 6 May from 07:30 to 09:00.
    page->FromTime()->setTime(QTime(7, 30, 0));
    page->ToDay()->setDate(QDate(2024, 5, 6));
    page->ToTime()->setTime(QTime(9, 0, 0));
    EXPECT_EQ(search(), (std::set<uint32_t>{102, 103}));
    page->Check(IDC_USE_DATE)->setChecked(false);
    // By type and channel.
    page->OnAllEvent();
    page->Check(IDC_SEARCH_MOTION)->setChecked(true);
    page->Check(IDC_FIRST_CHANNEL)->setChecked(true);
    EXPECT_EQ(search(), (std::set<uint32_t>{101, 201}));
    page->Check(IDC_SEARCH_MOTION)->setChecked(false);
    page->Check(IDC_SEARCH_SENSOR)->setChecked(true);
    page->Check(IDC_FIRST_CHANNEL)->setChecked(false);
    page->Check(IDC_FIRST_CHANNEL + 2)->setChecked(true);
    EXPECT_EQ(search(), (std::set<uint32_t>{102}));
    // By address.
    page->Check(IDC_SEARCH_SENSOR)->setChecked(false);
    page->Check(IDC_SEARCH_NETWORK_CONNECT)->setChecked(true);
    page->Check(IDC_USE_IP_ADDRESS)->setChecked(true);
    page->AddressEdit()->setText("10.1.2.9");
    EXPECT_EQ(search(), (std::set<uint32_t>{104}));
    EXPECT_EQ(page->ResultModel()->Text(0, SearchResultModel::kIpAddress), "010.001.002.009");
    EXPECT_EQ(page->ResultModel()->Text(0, SearchResultModel::kDvrName), "Front");

    // Back to the monitor; the search page stays.
    View()->OnCommand(IDC_MONITOR_PAGE);
    EXPECT_TRUE(Monitor()->isVisible());
    EXPECT_FALSE(page->isVisible());
    EXPECT_EQ(View()->SearchPage(), page);
    ASSERT_TRUE(CloseAndWait());
}

TEST_F(ViewerFixture, ABackupStopsARunningSearchAndSetupGivesTheReadersTheirDirectory)
{
    WriteSites({{"Gate", 9, ""}});
    const QString db = dir.filePath("DB");
    ASSERT_TRUE(QDir().mkpath(db));
    std::vector<EventRecord> many(60000);
    for (std::size_t i = 0; i < many.size(); ++i)
        many[i] = Event(uint32_t(i + 1), kClassCamera, 2, 0x1, {2024, 5, 6, 7, 8, 9});
    ASSERT_TRUE(eventdb::AppendBatch(db, "Gate", many).Stored());
    Start();
    View()->OnCommand(IDC_SEARCH_PAGE);
    CEventSearchDlg* page = View()->SearchPage();
    ASSERT_NE(page, nullptr);
    page->Check(IDC_USE_DATE)->setChecked(false);
    page->OnAllEvent();
    page->OnSearch();
    ASSERT_TRUE(page->Searching());
    // What the size warning's OK and "BackUp DataBase" both do.
    Monitor()->BackupDatabase();
    EXPECT_TRUE(page->Stopped());
    EXPECT_FALSE(page->Searching());
    EXPECT_EQ(boxes.back(), "Backup Complete");

    // The readers read from where the setup dialog points next.
    const QString other = dir.filePath("Elsewhere");
    ASSERT_TRUE(QDir().mkpath(other));
    ASSERT_TRUE(eventdb::AppendBatch(other, "Gate", {many[0], many[1]}).Stored());
    QTimer::singleShot(100, [&] {
        auto* setup = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(setup, nullptr);
        setup->findChild<QLineEdit*>(QString::number(IDC_SEARCH_DATABASE_EDIT))->setText(other);
        setup->accept();
    });
    View()->OpenSystemSetup();
    EXPECT_EQ(page->SearchDirectory(), other);
    page->OnSearch();
    ASSERT_TRUE(PumpUntil([&] { return !page->Searching(); }, 10000));
    EXPECT_EQ(page->Results(), 2);
    ASSERT_TRUE(CloseAndWait());
}
