// Names, durations and schedule rows of the viewer's recordings, and the
// disk monitor's verdicts and their notices.
#include "viewercore/view/DiskSpaceMonitor.h"
#include "viewercore/view/RecordNames.h"
#include "platform/Messages.h"
#include "viewercore/model/CGroup.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QObject>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

using namespace viewer;

namespace {

TEST(RecordNames, ChannelNamesLoseEveryCharacterThatCannotStandInAFileName)
{
    EXPECT_EQ(RemoveForbiddenNameCharacters("Lot_A-01"), "LotA01");
    EXPECT_EQ(RemoveForbiddenNameCharacters(R"(a\b|c:d/e*f?g"h<i>j-k_l)"), "abcdefghijkl");
    EXPECT_EQ(RemoveForbiddenNameCharacters("Gate 2.x"), "Gate 2.x");
    EXPECT_EQ(RemoveForbiddenNameCharacters(""), "");
}

TEST(RecordNames, DurationsFollowTheGroupsSettings)
{
    CGroup group;
    group.forcedRecordingTime = 0;
    EXPECT_EQ(RecordDuration(RecordByHand, group), 0);
    group.forcedRecordingTime = 1;
    EXPECT_EQ(RecordDuration(RecordByHand, group), 600);
    group.forcedRecordingTime = 8;
    EXPECT_EQ(RecordDuration(RecordByHand, group), 14400);
    EXPECT_EQ(ForcedTimerMilliseconds(600), 602000);
    group.motionRecordingTime = 2;
    EXPECT_EQ(AlarmTimerMilliseconds(RecordDuration(RecordMotion, group)), 32000);
    group.motionRecordingTime = 0;
    EXPECT_EQ(AlarmTimerMilliseconds(RecordDuration(RecordMotion, group)), 12000);
    group.sensorRecordingTime = 5; // one minute
    EXPECT_EQ(AlarmTimerMilliseconds(RecordDuration(RecordSensor, group)), 60002);
    group.sensorRecordingTime = 9;
    EXPECT_EQ(AlarmTimerMilliseconds(RecordDuration(RecordSensor, group)), 300002);
    // Settings out of range from a damaged file stay inside the tables.
    group.sensorRecordingTime = 77;
    group.forcedRecordingTime = -3;
    EXPECT_EQ(RecordDuration(RecordSensor, group), 5);
    EXPECT_EQ(RecordDuration(RecordByHand, group), 0);
    EXPECT_EQ(RecordDuration(RecordSchedule, group), 0);
}

TEST(RecordNames, FileNamesCarryTypeLetterTimeAndCell)
{
    const QDateTime at(QDate(2026, 3, 7), QTime(9, 5, 4));
    RecordNames n = MakeRecordNames(RecordByHand, "Lot_A-01", 7, at, "/rec", "/cap", false);
    EXPECT_EQ(n.fileName, "F.LotA01.20260307.090504.07.mp4");
    EXPECT_EQ(n.prefix, "F.LotA01");
    EXPECT_EQ(n.dayDirectory, "/rec/2026-03-07");
    n = MakeRecordNames(RecordMotion, "Gate-02", 12, at, "/rec", "/cap", true);
    EXPECT_EQ(n.fileName, "M.Gate02.20260307.090504.12.avi");
    EXPECT_EQ(n.prefix, "M.Gate02");
    EXPECT_EQ(MakeRecordNames(RecordSensor, "G", 0, at, "/rec", "/cap", false).fileName,
              "S.G.20260307.090504.00.mp4");
    EXPECT_EQ(MakeRecordNames(RecordSchedule, "G", 63, at, "/rec", "/cap", false).prefix, "R.G");
    EXPECT_EQ(MakeRecordNames(RecordSnapshot, "Gate-02", 3, at, "/rec", "/cap", true).fileName,
              "/cap/F.Gate02.20260307.090504.03.jpg");
}

TEST(RecordNames, ScheduleRowsRunFromSundayOne)
{
    EXPECT_EQ(ScheduleDayRow(QDate(2026, 12, 6)), 1); // a Sunday
    EXPECT_EQ(ScheduleDayRow(QDate(2026, 12, 7)), 2);
    EXPECT_EQ(ScheduleDayRow(QDate(2026, 12, 12)), 7); // a Saturday
}

constexpr uint32_t kLowMessage = platform::WM_USER + 0x300;

// Counts the monitor's notices.
class NoticeCounter : public QObject, public platform::MessageReceiver {
public:
    bool event(QEvent* e) override { return platform::HandleMessageEvent(e, this) || QObject::event(e); }
    platform::LRESULT OnMessage(uint32_t message, platform::WPARAM, platform::LPARAM) override
    {
        if (message == kLowMessage)
            ++notices;
        return 0;
    }
    int notices = 0;
};

void PumpEvents() { QCoreApplication::sendPostedEvents(); }

TEST(DiskSpaceMonitor, ThresholdsAndVerdicts)
{
    EXPECT_EQ(DiskSpaceMonitor::ThresholdMegabytes(0), 700);
    EXPECT_EQ(DiskSpaceMonitor::ThresholdMegabytes(5), 5000);
    EXPECT_EQ(DiskSpaceMonitor::ThresholdMegabytes(9), 5000);
    NoticeCounter counter;
    DiskSpaceMonitor monitor(&counter, kLowMessage);
    int64_t free = 1999999999; // 1999 MB of 10^6 bytes
    monitor.SetFreeSpaceSource([&free](const QString& directory) { return directory == "/rec" ? free : -1; });
    monitor.SetSettings("/rec", 2); // 2000 MB must stay free
    monitor.TestNow();
    PumpEvents();
    EXPECT_FALSE(monitor.SpaceSufficient());
    EXPECT_EQ(counter.notices, 1);
    free = 2000000000;
    monitor.TestNow();
    PumpEvents();
    EXPECT_TRUE(monitor.SpaceSufficient());
    EXPECT_EQ(counter.notices, 1);
    // A directory that cannot be measured decides nothing.
    free = 0;
    monitor.SetSettings("/elsewhere", 2);
    monitor.TestNow();
    PumpEvents();
    EXPECT_TRUE(monitor.SpaceSufficient());
    EXPECT_EQ(counter.notices, 1);
    // The real measure of an existing directory is a number of bytes.
    EXPECT_GE(DiskSpaceMonitor::FreeBytesOf("/"), 0);
    EXPECT_LT(DiskSpaceMonitor::FreeBytesOf("/no/such/directory"), 0);
}

TEST(DiskSpaceMonitor, TheThreadTestsAtOnceAndStopsPromptly)
{
    NoticeCounter counter;
    DiskSpaceMonitor monitor(&counter, kLowMessage);
    monitor.SetFreeSpaceSource([](const QString&) { return int64_t{100} * 1000000; });
    monitor.SetSettings("/rec", 0);
    monitor.Start();
    QElapsedTimer clock;
    clock.start();
    while (counter.notices == 0 && clock.elapsed() < 3000) {
        QEventLoop loop;
        loop.processEvents(QEventLoop::AllEvents, 20);
    }
    EXPECT_EQ(counter.notices, 1);
    EXPECT_FALSE(monitor.SpaceSufficient());
    clock.restart();
    monitor.Stop(); // wakes the thread in its sleep
    EXPECT_LT(clock.elapsed(), 500);
    EXPECT_FALSE(monitor.Running());
}

// The view replaces the monitor's settings and source while its thread tests.
TEST(DiskSpaceMonitor, SettingsChangeWhileTestsRun)
{
    NoticeCounter counter;
    DiskSpaceMonitor monitor(&counter, kLowMessage);
    std::atomic<bool> stop{false};
    std::vector<std::thread> testers;
    for (int k = 0; k < 3; ++k)
        testers.emplace_back([&] {
            while (!stop.load())
                monitor.TestNow();
        });
    for (int k = 0; k < 500; ++k) {
        monitor.SetSettings(QString("/rec/%1").arg(k), k % 6);
        const int64_t bytes = int64_t{k % 2 ? 100 : 9000} * 1000000;
        monitor.SetFreeSpaceSource([bytes](const QString&) { return bytes; });
    }
    stop = true;
    for (auto& t : testers)
        t.join();
    monitor.SetFreeSpaceSource([](const QString&) { return int64_t{9000} * 1000000; });
    monitor.TestNow();
    EXPECT_TRUE(monitor.SpaceSufficient());
    QCoreApplication::removePostedEvents(&counter);
}

} // namespace
