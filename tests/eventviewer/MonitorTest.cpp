// The polling monitor on fake control instances: the polling limit, Stop,
// one count per row, Tracking twice, the writer, the live list and alarms.
#include "MonitorFixture.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QStyleOptionViewItem>
#include <QTreeWidget>

using namespace monitor;

TEST_F(MonitorFixture, FiveOfTwelveArePolledAtOnceAndEachFinishLetsTheNextIn)
{
    AddDvrs(12);
    Open(5);
    monitor->OnTracking();
    ASSERT_EQ(fake.polls.size(), 5u);
    for (int row = 0; row < 5; ++row) {
        EXPECT_EQ(Status(row), kStatusPolling);
        EXPECT_EQ(fake.polls[static_cast<std::size_t>(row)].row, row);
        EXPECT_EQ(fake.polls[static_cast<std::size_t>(row)].address, "127.0.0.1");
        EXPECT_EQ(fake.connects[static_cast<std::size_t>(SlotOf(row))], 1);
    }
    EXPECT_EQ(Status(5), "");
    EXPECT_EQ(monitor->Active(), 5);
    EXPECT_GE(saves, 1); // the settings are saved at each pass start

    // Each finished DVR lets the hand-out timer start the next row.
    for (int finished = 0; finished < 12; ++finished) {
        const int slot = SlotOf(finished);
        ASSERT_GE(slot, 0) << finished;
        Progress(slot, 2);
        EXPECT_EQ(Status(finished), kStatusPortIncorrect);
        if (finished + 5 < 12) {
            ASSERT_TRUE(PumpUntil([&] { return Status(finished + 5) == kStatusPolling; }, 1000)) << finished;
            EXPECT_LE(monitor->Active(), 5);
        }
    }
    EXPECT_TRUE(PassOver());
    EXPECT_EQ(monitor->Started(), 12);
    EXPECT_EQ(monitor->Done(), 12);
    EXPECT_EQ(monitor->Active(), 0);
    EXPECT_EQ(monitor->SummaryText(), "Done: 12 DVR,   Total Results: 0 Item,  Not Responding: 0 DVR");
    // The checks went into the site list's polling flags.
    for (const auto& dvr : document->deviceList)
        EXPECT_EQ(dvr->PollingFlag(), 1);
}

// Answers that come back faster than the hand-out timer ticks balance the
// started and finished counts while rows still wait: the pass goes on until
// every checked DVR has been polled and stored.
TEST_F(MonitorFixture, FastAnswersDoNotEndThePassBeforeTheWaitingRowsArePolled)
{
    for (const int maxPolling : {5, 3}) {
        SCOPED_TRACE(maxPolling);
        fake = FakeInstances{};
        document->deviceList.clear();
        ASSERT_TRUE(QDir(dir.filePath("DB")).removeRecursively());
        AddDvrs(12);
        Open(maxPolling);
        monitor->OnTracking();
        std::vector<bool> delivered(12, false);
        // Every row that is being polled answers at once.
        const bool over = PumpUntil(
            [&] {
                for (int row = 0; row < 12; ++row)
                    if (!delivered[static_cast<std::size_t>(row)] && Status(row) == kStatusPolling) {
                        delivered[static_cast<std::size_t>(row)] = true;
                        Deliver(row, {MakeEvent(static_cast<uint32_t>(100 + row), kClassCamera, 2, row)});
                    }
                return monitor->Idle();
            },
            20000);
        ASSERT_TRUE(over);
        EXPECT_EQ(monitor->Started(), 12);
        EXPECT_EQ(monitor->Done(), 12);
        EXPECT_EQ(fake.polls.size(), 12u);
        for (int row = 0; row < 12; ++row) {
            EXPECT_EQ(Status(row), kStatusDone) << row;
            const auto stored = eventdb::ReadAll(dir.filePath(QStringLiteral("DB/DVR%1.dat").arg(row + 1)));
            ASSERT_EQ(stored.size(), 1u) << row;
            EXPECT_EQ(stored[0].key, static_cast<uint32_t>(100 + row));
        }
        monitor.reset();
    }
}

TEST_F(MonitorFixture, MoreFailingDvrsThanInstancesStillAllGetPolled)
{
    AddDvrs(20);
    Open(16);
    monitor->OnTracking();
    ASSERT_EQ(fake.polls.size(), 16u);
    for (int row = 0; row < 16; ++row)
        LinkError(SlotOf(row), 1);
    ASSERT_TRUE(PumpUntil([&] { return fake.polls.size() == 20u; }, 2000));
    for (int row = 16; row < 20; ++row)
        LinkError(SlotOf(row), 0);
    EXPECT_TRUE(PassOver());
    EXPECT_EQ(Status(0), kStatusLoginError);
    EXPECT_EQ(Status(19), kStatusReceiveError);
    EXPECT_EQ(monitor->Done(), 20);
}

TEST_F(MonitorFixture, StopReleasesTheInstancesAndIgnoresLaterData)
{
    AddDvrs(2);
    Open(5);
    monitor->OnTracking();
    ASSERT_EQ(fake.polls.size(), 2u);
    monitor->OnStop();
    EXPECT_TRUE(monitor->Idle());
    EXPECT_EQ(fake.disconnects, 2);
    EXPECT_FALSE(monitor->StopButton()->isEnabled());
    Deliver(0, {MakeEvent(1, kClassCamera, 2, 1)});
    EXPECT_EQ(fake.getEventDataCalls, 0);
    Progress(SlotOf(1), 3);
    EXPECT_EQ(Status(0), kStatusPolling);
    EXPECT_EQ(Status(1), kStatusPolling);
    EXPECT_EQ(monitor->Done(), 0);
    Pump(300);
    EXPECT_FALSE(QFile::exists(dir.filePath("DB/DVR1.dat")));
    // The buttons come back after two seconds.
    EXPECT_TRUE(PumpUntil([&] { return monitor->StopButton()->isEnabled() && monitor->TrackingButton()->isEnabled(); },
                          4000));
}

TEST_F(MonitorFixture, ALateFailureAfterTimeOutCountsOnce)
{
    setenv("VYR_TEST_TIME_DIVISOR", "600", 1); // 300 ms
    AddDvrs(2);
    Open(5);
    EXPECT_EQ(monitor->PollTimeoutMs(), 300);
    QElapsedTimer clock;
    clock.start();
    monitor->OnTracking();
    const int slot0 = SlotOf(0);
    const int slot1 = SlotOf(1);
    Progress(slot1, 2);
    ASSERT_TRUE(PumpUntil([&] { return Status(0) == kStatusTimeOut; }, 3000));
    EXPECT_GE(clock.elapsed(), monitor->PollTimeoutMs()) << "timed out before its time";
    // The silent instance was still connected: its session was ended.
    EXPECT_EQ(fake.disconnects, 1);
    EXPECT_FALSE(fake.connected[static_cast<std::size_t>(slot0)]);
    EXPECT_EQ(monitor->Done(), 2);
    LinkError(slot0, 0);
    Progress(slot0, 3);
    Progress(slot1, 2);
    EXPECT_EQ(Status(0), kStatusTimeOut);
    EXPECT_EQ(monitor->Done(), 2);
    EXPECT_EQ(monitor->NotResponding(), 0);
    EXPECT_TRUE(PassOver());
}

TEST_F(MonitorFixture, TrackingTwiceWithinTwoSecondsWaitsForTheReadyTimer)
{
    AddDvrs(1);
    Open(5);
    monitor->OnTracking();
    ASSERT_EQ(fake.polls.size(), 1u);
    EXPECT_EQ(fake.polls[0].time, 0); // never written: from the beginning
    monitor->OnStop();
    QElapsedTimer clock;
    clock.start();
    monitor->OnTracking();
    EXPECT_EQ(fake.polls.size(), 1u);
    EXPECT_FALSE(monitor->TrackingButton()->isEnabled());
    ASSERT_TRUE(PumpUntil([&] { return fake.polls.size() == 2u; }, 5000));
    EXPECT_GE(clock.elapsed(), 1500);
    EXPECT_EQ(Status(0), kStatusPolling);
}

TEST_F(MonitorFixture, ABatchIsStoredShownAndSetsTheNextStartTime)
{
    AddDvrs(1);
    Open(5);
    monitor->OnTracking();
    const int slot = SlotOf(0);
    Progress(slot, 0);
    ASSERT_EQ(fake.commands.size(), 1u);
    EXPECT_EQ(fake.commands[0].slot, slot);
    EXPECT_EQ(fake.commands[0].command, 32);
    EXPECT_EQ(fake.commands[0].index, 0);

    std::vector<EventRecord> first;
    for (uint32_t k = 1; k <= 5; ++k)
        first.push_back(MakeEvent(k, kClassCamera, 2, static_cast<int>(k)));
    Deliver(0, first);
    EXPECT_EQ(fake.getEventDataCalls, 1);
    // The instance reuses its table: the monitor has its own copy.
    fake.tables[static_cast<std::size_t>(slot)].assign(4, 0);
    ASSERT_TRUE(PassOver());
    EXPECT_EQ(Status(0), kStatusDone);
    EXPECT_EQ(monitor->RowText(0, 1), "2024/05/06 07:08:05");
    EXPECT_EQ(monitor->EventList()->topLevelItemCount(), 5);
    EXPECT_EQ(monitor->EventList()->topLevelItem(0)->text(0), "1");
    EXPECT_EQ(monitor->EventList()->topLevelItem(0)->text(1), "DVR1");
    EXPECT_EQ(monitor->EventList()->topLevelItem(0)->text(3), "Motion");
    // The times are shown whole: their columns are as wide as the lists'
    // own delegates ask for them.
    for (QTreeWidget* list : {monitor->EventList(), monitor->DvrList()}) {
        const int column = list == monitor->EventList() ? 4 : 1;
        const QModelIndex index = list->model()->index(0, column);
        ASSERT_EQ(index.data().toString().size(), 19) << index.data().toString().toStdString();
        QStyleOptionViewItem option;
        option.font = list->font();
        option.fontMetrics = list->fontMetrics();
        option.features = QStyleOptionViewItem::HasDisplay;
        EXPECT_GE(list->columnWidth(column), list->itemDelegate()->sizeHint(option, index).width());
    }
    EXPECT_EQ(monitor->SummaryText(), "Done: 1 DVR,   Total Results: 5 Item,  Not Responding: 0 DVR");
    EXPECT_EQ(eventdb::ReadAll(dir.filePath("DB/DVR1.dat")).size(), 5u);

    // The next pass starts from the newest stored time; a batch of five
    // whose first record is stored adds four rows.
    monitor->OnStop();
    monitor->OnTracking();
    ASSERT_TRUE(PumpUntil([&] { return fake.polls.size() == 2u; }, 5000));
    std::tm t{};
    t.tm_year = 124;
    t.tm_mon = 4;
    t.tm_mday = 6;
    t.tm_hour = 7;
    t.tm_min = 8;
    t.tm_sec = 5;
    t.tm_isdst = -1;
    EXPECT_EQ(fake.polls[1].time, static_cast<long>(std::mktime(&t)));
    std::vector<EventRecord> second{first.back()};
    for (uint32_t k = 6; k <= 9; ++k)
        second.push_back(MakeEvent(k, kClassCamera, 2, static_cast<int>(k)));
    Deliver(0, second);
    ASSERT_TRUE(PassOver());
    EXPECT_EQ(monitor->EventList()->topLevelItemCount(), 4);
    EXPECT_EQ(monitor->RowText(0, 1), "2024/05/06 07:08:09");
    EXPECT_EQ(eventdb::ReadAll(dir.filePath("DB/DVR1.dat")).size(), 9u);
}

TEST_F(MonitorFixture, HiddenTypesAreStoredButNotShownAndBeepsSoundUnlessMuted)
{
    AddDvrs(2);
    // Motion hidden; Sensor and Record shown with a beep; the rest shown.
    Open(5, {0, 2, 2, 1, 1, 1, 1, 1});
    EXPECT_FALSE(monitor->ShowCheck(kTypeMotion)->isChecked());
    EXPECT_EQ(monitor->AlarmCombo(kTypeSensor)->currentText(), "Beep");
    monitor->OnTracking();
    Deliver(0, {MakeEvent(1, kClassCamera, 2, 1), MakeEvent(2, kClassCamera, 3, 2),
                MakeEvent(3, kClassRecord, 22, 3, 20), MakeEvent(4, kClassRecord, 22, 4, 21),
                MakeEvent(5, kClassBackupHistory, 0, 5), MakeEvent(6, kClassCamera, 4, 6),
                MakeEvent(7, 99, 0, 7)});
    ASSERT_TRUE(PumpUntil([&] { return Status(0) == kStatusDone; }, 3000));
    EXPECT_EQ(eventdb::ReadAll(dir.filePath("DB/DVR1.dat")).size(), 7u);
    QTreeWidget* list = monitor->EventList();
    ASSERT_EQ(list->topLevelItemCount(), 5);
    EXPECT_EQ(list->topLevelItem(0)->text(3), "Sensor");
    EXPECT_EQ(list->topLevelItem(1)->text(3), "Record Start");
    EXPECT_EQ(list->topLevelItem(1)->text(7), "01");
    EXPECT_EQ(list->topLevelItem(2)->text(3), "Record Stop");
    EXPECT_EQ(list->topLevelItem(2)->text(7), "");
    EXPECT_EQ(list->topLevelItem(3)->text(3), "Backup History");
    EXPECT_EQ(list->topLevelItem(4)->text(3), "");
    EXPECT_EQ(list->topLevelItem(4)->text(7), "01");
    // Two beeping records, one alarm: a batch sounds once.
    EXPECT_EQ(monitor->AlarmsStarted(), 1);

    // A "Not Responding" sounds whatever the settings and mutes the beeps
    // for four seconds.
    Progress(SlotOf(1), 3);
    EXPECT_EQ(monitor->AlarmsStarted(), 2);
    EXPECT_TRUE(monitor->AlarmMuted());
    EXPECT_EQ(monitor->NotResponding(), 1);
    EXPECT_TRUE(PassOver());
    monitor->OnStop();
    monitor->OnTracking();
    ASSERT_TRUE(PumpUntil([&] { return fake.polls.size() == 4u; }, 5000));
    Progress(SlotOf(1), 3);
    EXPECT_EQ(monitor->AlarmsStarted(), 3);
    Deliver(0, {MakeEvent(8, kClassCamera, 3, 8)});
    ASSERT_TRUE(PassOver());
    EXPECT_EQ(monitor->AlarmsStarted(), 3);
    EXPECT_EQ(monitor->EventList()->topLevelItemCount(), 1);
}

TEST_F(MonitorFixture, EveryPassEndsWhateverGoesWrong)
{
    AddDvrs(3);
    document->deviceList[2]->name = "../outside";
    Open(5);
    // The database directory cannot be made: a file stands in its place.
    QFile blocker(dir.filePath("DB"));
    ASSERT_TRUE(QDir(dir.filePath("DB")).removeRecursively());
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    monitor->OnTracking();
    EXPECT_EQ(Status(2), kStatusInvalidName);
    ASSERT_EQ(fake.polls.size(), 2u);
    // A batch that is not there ends its row.
    Progress(SlotOf(1), 1);
    EXPECT_EQ(Status(1), kStatusNoEventData);
    // A file that will not open is tried a few times, then the row ends.
    for (int attempt = 1; attempt <= CEventDlg::kMaxWriteTries; ++attempt) {
        ASSERT_TRUE(PumpUntil([&] { return Status(0) == kStatusPolling; }, 2000)) << attempt;
        Deliver(0, {MakeEvent(1, kClassCamera, 2, 1)});
        ASSERT_TRUE(PumpUntil([&] { return Status(0) != kStatusWriteDb && Status(0) != kStatusReady; }, 2000));
    }
    EXPECT_EQ(Status(0), kStatusDatabaseError);
    EXPECT_TRUE(PassOver());
    EXPECT_EQ(fake.polls.size(), 1u + CEventDlg::kMaxWriteTries);
    EXPECT_EQ(monitor->Done(), 2);
}

TEST_F(MonitorFixture, AnUncheckedReadyRowIsStillWritten)
{
    AddDvrs(2);
    Open(5);
    monitor->OnTracking();
    // The first batch starts the writer; the second waits as "Ready".
    Deliver(0, {MakeEvent(1, kClassCamera, 2, 1)});
    Deliver(1, {MakeEvent(2, kClassCamera, 2, 2)});
    monitor->SetRowChecked(1, false);
    EXPECT_TRUE(PassOver());
    EXPECT_EQ(Status(0), kStatusDone);
    EXPECT_EQ(Status(1), kStatusDone);
    EXPECT_EQ(eventdb::ReadAll(dir.filePath("DB/DVR2.dat")).size(), 1u);
}

TEST_F(MonitorFixture, TheSizeWarningOffersABackup)
{
    AddDvrs(1);
    Open(5);
    QFile big(dir.filePath("DB/DVR1.dat"));
    ASSERT_TRUE(big.open(QIODevice::WriteOnly));
    ASSERT_TRUE(big.resize(30000000));
    big.close();
    boxAnswer = platform::IDOK;
    monitor->OnTracking();
    Deliver(0, {MakeEvent(1, kClassCamera, 2, 1)});
    ASSERT_TRUE(PumpUntil([&] { return boxes.size() >= 2; }, 3000));
    EXPECT_EQ(boxes[0], eventdb::kSizeWarningText);
    EXPECT_EQ(boxes[1], eventdb::kBackupCompleteText);
    EXPECT_TRUE(monitor->Idle());
    EXPECT_TRUE(monitor->StopRequested());
    // The new database starts with the DVR's last record.
    const std::vector<EventRecord> seeded = eventdb::ReadAll(dir.filePath("DB/DVR1.dat"));
    ASSERT_EQ(seeded.size(), 1u);
    EXPECT_EQ(seeded[0].key, 1u);
}

TEST_F(MonitorFixture, TheLiveListSortsOnlyWhenThePassIsOverAndToggles)
{
    AddDvrs(2);
    Open(5);
    monitor->OnTracking();
    Deliver(0, {MakeEvent(30, kClassCamera, 2, 1), MakeEvent(4, kClassCamera, 3, 2)});
    ASSERT_TRUE(PumpUntil([&] { return Status(0) == kStatusDone; }, 3000));
    EXPECT_FALSE(monitor->SortEventList(2)); // DVR2 still polling
    Deliver(1, {MakeEvent(200, kClassCamera, 2, 3)});
    ASSERT_TRUE(PassOver());
    QTreeWidget* list = monitor->EventList();
    auto column = [list](int c) {
        QStringList texts;
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            texts << list->topLevelItem(i)->text(c);
        return texts;
    };
    ASSERT_TRUE(monitor->SortEventList(2));
    EXPECT_EQ(column(2), (QStringList{"4", "30", "200"})); // numbers, not texts
    ASSERT_TRUE(monitor->SortEventList(2));
    EXPECT_EQ(column(2), (QStringList{"200", "30", "4"}));
    ASSERT_TRUE(monitor->SortEventList(3));
    EXPECT_EQ(column(3), (QStringList{"Motion", "Motion", "Sensor"}));
    EXPECT_EQ(column(1), (QStringList{"DVR1", "DVR2", "DVR1"})); // ties by DVR name
}

TEST_F(MonitorFixture, TheLiveListIsEmptiedBeforeItsRow65537AndKeepsCounting)
{
    AddDvrs(2);
    Open(5);
    monitor->OnTracking();
    std::vector<EventRecord> first, second;
    for (uint32_t k = 0; k < 40000; ++k) {
        first.push_back(MakeEvent(k + 1, kClassBackupHistory, 0, 0));
        second.push_back(MakeEvent(k + 1, kClassBackupHistory, 0, 1));
    }
    Deliver(0, first);
    Deliver(1, second);
    // Generous: a sanitised build on a loaded machine lists 80,000 rows slowly.
    ASSERT_TRUE(PassOver(180000));
    QTreeWidget* list = monitor->EventList();
    ASSERT_EQ(list->topLevelItemCount(), 80000 - 65536);
    EXPECT_EQ(list->topLevelItem(0)->text(0), "65537");
    EXPECT_EQ(monitor->Results(), 80000);
}

TEST_F(MonitorFixture, SettingsWordsConnectionTextAndTheCheckToggles)
{
    AddDvrs(2, false);
    document->deviceList[1]->addressType = CDVR::AddressLookup;
    Open(7, {0, 1, 2, 0, 0, 0, 0, 2});
    EXPECT_EQ(monitor->MaxPollingCombo()->currentText(), "7");
    EXPECT_FALSE(monitor->ShowCheck(kTypeMotion)->isChecked());
    EXPECT_TRUE(monitor->ShowCheck(kTypeSensor)->isChecked());
    EXPECT_EQ(monitor->AlarmCombo(kTypeSensor)->currentText(), "Off");
    EXPECT_EQ(monitor->AlarmCombo(kTypeRecord)->currentText(), "Beep");

    // "All Event" checks every box, then clears them, saving each time.
    const int savesBefore = saves;
    monitor->OnAllEvent();
    EXPECT_EQ(document->eventSettings.eventWords, (std::array<uint16_t, 8>{1, 1, 2, 1, 1, 1, 1, 2}));
    monitor->OnAllEvent();
    EXPECT_EQ(document->eventSettings.eventWords, (std::array<uint16_t, 8>{}));
    EXPECT_EQ(saves, savesBefore + 2);
    EXPECT_EQ(document->eventSettings.maximumPolling, 6);

    QTreeWidget* list = monitor->DvrList();
    emit list->itemClicked(list->topLevelItem(0), 0);
    EXPECT_EQ(monitor->findChild<QLabel*>("8654")->text(), "IP: 127.0.0.1, ID : admin, Port: 9000");
    emit list->itemClicked(list->topLevelItem(1), 0);
    EXPECT_EQ(monitor->findChild<QLabel*>("8654")->text(), "QUORIX, ID : admin, Port: 9001");

    // An empty database directory from the settings never becomes a path.
    monitor->SetDatabaseDirectory(QString());
    EXPECT_EQ(monitor->DatabaseDirectory(), DefaultDatabaseDirectory());

    // A right click checks every row, the next one clears them.
    EXPECT_EQ(list->topLevelItem(0)->checkState(0), Qt::Unchecked);
    emit list->customContextMenuRequested(QPoint(5, 5));
    EXPECT_EQ(list->topLevelItem(0)->checkState(0), Qt::Checked);
    EXPECT_EQ(list->topLevelItem(1)->checkState(0), Qt::Checked);
    emit list->customContextMenuRequested(QPoint(5, 5));
    EXPECT_EQ(list->topLevelItem(1)->checkState(0), Qt::Unchecked);
}

TEST_F(MonitorFixture, WritersRacingStopAndTheEndOfTheMonitorLoseAndRepeatNothing)
{
    AddDvrs(8);
    std::vector<EventRecord> batch;
    for (uint32_t k = 1; k <= 50; ++k)
        batch.push_back(MakeEvent(k, kClassCamera, 2, static_cast<int>(k)));
    for (int round = 0; round < 120; ++round) {
        fake = FakeInstances{};
        Open(8);
        monitor->OnTracking();
        for (int row = 0; row < 8; ++row) {
            // As a DVR answers: from the newest stored event on.
            const std::size_t stored =
                eventdb::ReadAll(dir.filePath(QStringLiteral("DB/DVR%1.dat").arg(row + 1))).size();
            Deliver(row, std::vector<EventRecord>(batch.begin() + static_cast<long>(stored ? stored - 1 : 0),
                                                  batch.end()));
        }
        // A writer is running: the pass is stopped, or the monitor goes, or
        // the pass runs to its end.
        switch (round % 3) {
        case 0:
            monitor->OnStop();
            Pump(1);
            break;
        case 1:
            break;
        case 2:
            ASSERT_TRUE(PassOver());
            for (int row = 0; row < 8; ++row)
                EXPECT_EQ(Status(row), monitor::kStatusDone);
            break;
        }
        monitor.reset();
        // Every batch is the same: whatever was written holds each event once.
        for (int row = 0; row < 8; ++row) {
            const std::vector<EventRecord> stored =
                eventdb::ReadAll(dir.filePath(QStringLiteral("DB/DVR%1.dat").arg(row + 1)));
            ASSERT_TRUE(stored.empty() || stored.size() == batch.size()) << round << " " << stored.size();
        }
    }
}

TEST_F(MonitorFixture, RowsFarDownTheListTimeOutToo)
{
    setenv("VYR_TEST_TIME_DIVISOR", "600", 1); // 300 ms
    AddDvrs(1100, false);
    AddDvrs(2, true);
    Open(5);
    monitor->OnTracking();
    ASSERT_EQ(fake.polls.size(), 2u);
    EXPECT_EQ(fake.polls[0].row, 1100);
    ASSERT_TRUE(PassOver(3000));
    EXPECT_EQ(Status(1100), kStatusTimeOut);
    EXPECT_EQ(Status(1101), kStatusTimeOut);
    EXPECT_EQ(monitor->Done(), 2);
}

TEST_F(MonitorFixture, NotRespondingPlaysTheAlarmWaveFromTheSoundDirectory)
{
    // The viewer runs in its program directory, where the skin's sounds are.
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(QStringLiteral(SOUND_DIRECTORY "/..")));
    AddDvrs(1);
    Open();
    monitor->OnTracking();
    ASSERT_TRUE(PumpUntil([&] { return fake.polls.size() == 1u; }, 3000));
    Progress(SlotOf(0), 3);
    EXPECT_EQ(monitor->AlarmsStarted(), 1);
    EXPECT_TRUE(PumpUntil([&] { return !sound.QueuedLengths().empty(); }, 3000));
    const auto length = QFile(QStringLiteral(SOUND_DIRECTORY "/alarm.wav")).size();
    ASSERT_FALSE(sound.QueuedLengths().empty());
    // The data chunk of the canonical 44-byte header, played without waiting.
    EXPECT_EQ(static_cast<qint64>(sound.QueuedLengths()[0]), length - 44);
    EXPECT_EQ(sound.state->format.samplesPerSecond, 8000);
    platform::StopSound();
    QDir::setCurrent(previous);
}

// A batch of 65,536 beeping events: stored and listed in one go, and one
// alarm, played away from the window's thread on the test's sound device.
TEST_F(MonitorFixture, AFullBatchOfBeepingEventsSoundsOnceAndLeavesTheWindowFree)
{
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(QStringLiteral(SOUND_DIRECTORY "/..")));
    AddDvrs(1);
    Open(5, {2, 2, 2, 2, 2, 2, 2, 2});
    monitor->OnTracking();
    std::vector<EventRecord> batch;
    for (uint32_t k = 0; k < 65536; ++k) {
        EventRecord r = MakeEvent(k + 1, kClassCamera, 2, static_cast<int>(k % 60));
        r.packedTime = PackEventTime({2024, 5, 6, 7 + static_cast<int>(k / 3600), static_cast<int>(k / 60 % 60),
                                      static_cast<int>(k % 60)});
        batch.push_back(r);
    }
    Deliver(0, batch);
    // Generous: on a loaded machine listing the rows takes a while, a sound
    // per record took minutes.
    ASSERT_TRUE(PassOver(120000));
    EXPECT_EQ(Status(0), kStatusDone);
    EXPECT_EQ(eventdb::ReadAll(dir.filePath("DB/DVR1.dat")).size(), 65536u);
    EXPECT_EQ(monitor->EventList()->topLevelItemCount(), 65536);
    EXPECT_EQ(monitor->AlarmsStarted(), 1);
    // The one sound reaches the device.
    EXPECT_TRUE(PumpUntil([&] { return !sound.QueuedLengths().empty(); }, 10000));
    {
        std::lock_guard<std::mutex> lock(sound.state->lock);
        EXPECT_EQ(sound.state->opens, 1);
    }
    platform::StopSound();
    QDir::setCurrent(previous);
}

// The sound thread against the window's thread: sounds asked for in bursts
// and the player destroyed at once, hundreds of times; requests fold, every
// thread is joined, and the sounds reach the device.
TEST_F(MonitorFixture, AlarmSoundsAskedForAndDestroyedInARace)
{
    const std::string wave = QStringLiteral(SOUND_DIRECTORY "/alarm.wav").toStdString();
    int played = 0;
    for (int round = 0; round < 300; ++round) {
        AlarmSound alarm;
        const int asked = 1 + round % 5;
        for (int k = 0; k < asked; ++k)
            alarm.Play(wave);
        if (round % 3 == 0)
            PumpUntil([&] { return alarm.Played() > 0; }, 5000);
        ASSERT_LE(alarm.Played(), asked);
        played += alarm.Played();
    }
    EXPECT_GE(played, 100); // every third round waited for its sound
    EXPECT_FALSE(sound.QueuedLengths().empty());
    platform::StopSound();
}
