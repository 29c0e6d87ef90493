// Recording on the PC against the simulator: by hand, on alarms, by the
// schedule; the DVR's record switch, snapshots and the disk monitor's stop.
#include "ChannelFixture.h"
#include "tests/support/SplitPeriods.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "tests/audio/FakeAudioDevice.h"

#include <atomic>
#include <thread>

namespace {

class ChannelControlTest : public ChannelFixture {};

TEST_F(ChannelControlTest, AlarmsExtendTheirRecordingsAndLeaveRecordingsByHandAlone)
{
    StartConnected();
    CGroup& group = Group();
    group.motionRecord[0] = group.sensorRecord[0] = 1;
    group.sensorRecord[1] = 1;
    group.motionRecord[2] = 1;
    group.motionRecordingTime = 2;
    group.sensorRecordingTime = 5;
    group.forcedRecordingTime = 2;

    Alarm(vyrdax::WM_VIDEO_ALARM, 0);
    EXPECT_TRUE(Status(0) & kStatusRecordAlarm);
    EXPECT_EQ(View()->TimerPeriod(kTimerMotionRecord + 0), 32000);
    // Each further alarm frame restarts the timer with the whole duration.
    group.motionRecordingTime = 0;
    Alarm(vyrdax::WM_VIDEO_ALARM, 0);
    EXPECT_EQ(View()->TimerPeriod(kTimerMotionRecord + 0), 12000);
    Alarm(vyrdax::WM_VIDEO_ALARM2, 1);
    EXPECT_TRUE(Status(1) & kStatusRecordAlarm);
    EXPECT_EQ(View()->TimerPeriod(kTimerSensorRecord + 1), 60002);
    // A cell whose flag is off does not record on its alarms.
    Alarm(vyrdax::WM_VIDEO_ALARM2, 3);
    EXPECT_FALSE(Recording(3));

    View()->SelectCell(2);
    View()->OnCommand(IDC_LOCAL_RECORD);
    EXPECT_TRUE(Status(2) & kStatusRecordByHand);
    EXPECT_EQ(View()->TimerPeriod(kTimerForcedRecord + 2), 1202000);
    Alarm(vyrdax::WM_VIDEO_ALARM, 2);
    EXPECT_EQ(View()->TimerPeriod(kTimerMotionRecord + 2), 0);
    EXPECT_TRUE(Status(2) & kStatusRecordByHand);

    // A sensor alarm extends the motion recording of cell 0: the motion
    // timer's end does not cut it short.
    Alarm(vyrdax::WM_VIDEO_ALARM2, 0);
    EXPECT_EQ(View()->TimerPeriod(kTimerSensorRecord + 0), 60002);
    ASSERT_TRUE(WaitForMovies({"M.LotA01.", "S.LotA02.", "F.LotA03."}));
    View()->OnTimer(kTimerMotionRecord + 0);
    EXPECT_TRUE(Status(0) & kStatusRecordAlarm);
    View()->OnTimer(kTimerSensorRecord + 0);
    EXPECT_FALSE(Recording(0));
    EXPECT_EQ(View()->TimerPeriod(kTimerSensorRecord + 0), 0);

    // The forced time ends the recording by hand.
    View()->OnTimer(kTimerForcedRecord + 2);
    EXPECT_FALSE(Recording(2));
    View()->OnTimer(kTimerSensorRecord + 1);
    EXPECT_FALSE(Recording(1));

    const QStringList motion = RecordingsStartingWith(recordingDirectory, "M.LotA01.20261206.125958.00.mp4");
    ASSERT_EQ(motion.size(), 1);
    EXPECT_EQ(MovieCheck(motion[0]), 0);
    const QStringList sensor = RecordingsStartingWith(recordingDirectory, "S.LotA02.20261206.125958.01.mp4");
    ASSERT_EQ(sensor.size(), 1);
    EXPECT_EQ(MovieCheck(sensor[0]), 0);
    const QStringList byHand = RecordingsStartingWith(recordingDirectory, "F.LotA03.20261206.125958.02.mp4");
    ASSERT_EQ(byHand.size(), 1);
    EXPECT_EQ(MovieCheck(byHand[0]), 0);
}

TEST_F(ChannelControlTest, LocalRecordTogglesAndDisconnectingEndsTheRecording)
{
    StartConnected();
    Group().forcedRecordingTime = 0; // no limit
    View()->SelectCell(3);
    View()->OnCommand(IDC_LOCAL_RECORD);
    EXPECT_TRUE(Status(3) & kStatusRecordByHand);
    EXPECT_EQ(View()->TimerPeriod(kTimerForcedRecord + 3), 0);
    View()->OnCommand(ID_CELL_LOCAL_RECORD);
    EXPECT_FALSE(Recording(3));

    now = now.addSecs(5);
    View()->OnCommand(IDC_LOCAL_RECORD);
    ASSERT_TRUE(Status(3) & kStatusRecordByHand);
    ASSERT_TRUE(WaitForMovies({"F.LotA04.20261206.130003.03.mp4"}));
    View()->OnCommand(ID_CELL_DISCONNECT);
    EXPECT_FALSE(Recording(3));
    EXPECT_FALSE(Control(3)->isConnect(View()->CellAt(3).channel));
    const QStringList files = RecordingsStartingWith(recordingDirectory, "F.LotA04.20261206.130003.03.mp4");
    ASSERT_EQ(files.size(), 1);
    EXPECT_EQ(MovieCheck(files[0]), 0);
    // Recording needs a connected channel.
    View()->OnCommand(IDC_LOCAL_RECORD);
    EXPECT_EQ(boxes.back(), "Please connect to the server first.");
    EXPECT_FALSE(Recording(3));

    // A channel the control disconnects by itself tells the view, which ends
    // the recording: its time limit is gone and its file is closed, so the
    // frames of a later connection do not run on into it.
    Group().forcedRecordingTime = 1;
    View()->SelectCell(0);
    View()->OnCommand(IDC_LOCAL_RECORD);
    ASSERT_TRUE(Recording(0));
    ASSERT_EQ(View()->TimerPeriod(kTimerForcedRecord + 0), 602000);
    ASSERT_TRUE(WaitForMovies({"F.LotA01."}));
    Control(0)->DisConnectSvr(View()->CellAt(0).channel);
    EXPECT_FALSE(Recording(0));
    EXPECT_EQ(View()->TimerPeriod(kTimerForcedRecord + 0), 0);
    const QStringList ended = RecordingsStartingWith(recordingDirectory, "F.LotA01.");
    ASSERT_EQ(ended.size(), 1);
    const qint64 size = QFileInfo(ended[0]).size();
    EXPECT_GT(size, 32);
    Control(0)->Connect(View()->CellAt(0).channel);
    ASSERT_TRUE(PumpUntil([this] { return Control(0)->isConnect(View()->CellAt(0).channel); }, 10000));
    Pump(1500); // frames of the new connection arrive
    EXPECT_EQ(QFileInfo(ended[0]).size(), size);
    EXPECT_EQ(MovieCheck(ended[0]), 0);
}

TEST_F(ChannelControlTest, ADvrThatGoesAwayKeepsItsRecordingsForWhenItIsBack)
{
    StartConnected();
    CGroup& group = Group();
    group.scheduleRecord[1] = 1;
    group.schedule[1][1][12] = group.schedule[1][1][13] = 1; // Sunday noon to two
    View()->OnTimer(kTimerSchedule + 1);
    View()->SelectCell(3);
    View()->OnCommand(IDC_LOCAL_RECORD);
    ASSERT_TRUE((Status(1) & kStatusRecordSchedule) && (Status(3) & kStatusRecordByHand));
    const std::time_t recordingSince = std::time(nullptr);
    ASSERT_TRUE(WaitForMovies({"R.LotA02.", "F.LotA04."}));
    // The DVR loses power: the cells say so at once, and the recordings stay
    // armed, as the operator left them, for when the DVR is back.
    sim.kill();
    // What each recording holds, over the files a 20-minute mark may have
    // split it into.
    const auto sizes = [this] {
        std::vector<qint64> bytes;
        for (const char* start : {"R.LotA02.", "F.LotA04."}) {
            bytes.push_back(0);
            for (const QString& file : RecordingsStartingWith(recordingDirectory, start))
                bytes.back() += QFileInfo(file).size();
        }
        return bytes;
    };
    EXPECT_TRUE(PumpUntil([this] { return !Control(1)->isConnect(View()->CellAt(1).channel); }, 2000));
    EXPECT_TRUE(Recording(1) && Recording(3));
    const std::vector<qint64> atTheDrop = sizes();
    ASSERT_EQ(atTheDrop.size(), 2u);
    // The DVR comes back on its address: the reconnect tick finds it and both
    // recordings go on in their files.
    const int port = sim.port();
    SimProcess back;
    ASSERT_TRUE(back.start({"--port", std::to_string(port), "--channels", "4", "--size", "352x240", "--fps", "15",
                            "--gop", "5"}));
    ASSERT_EQ(back.port(), port);
    EXPECT_TRUE(PumpUntil(
        [&] {
            const std::vector<qint64> now = sizes();
            return now.size() == 2 && now[0] > atTheDrop[0] && now[1] > atTheDrop[1];
        },
        25000))
        << "nothing recorded after the reconnect";
    EXPECT_TRUE(Recording(1) && Recording(3));
    View()->OnCommand(ID_CELL_DISCONNECT_ALL);
    EXPECT_FALSE(Recording(1) || Recording(3));
    for (const char* start : {"R.LotA02.", "F.LotA04."}) {
        const QStringList files = RecordingsStartingWith(recordingDirectory, start);
        ASSERT_GE(files.size(), 1) << start;
        EXPECT_LE(files.size(), 1 + testsupport::SplitsSince(recordingSince)) << start;
        for (const QString& file : files)
            EXPECT_EQ(MovieCheck(file), 0) << start;
    }
}

TEST_F(ChannelControlTest, DisconnectAllReachesEveryCellAndEndsTheirRecordings)
{
    StartConnected();
    for (int cell : {0, 3}) {
        View()->SelectCell(cell);
        View()->OnCommand(IDC_LOCAL_RECORD);
        ASSERT_TRUE(Recording(cell));
    }
    // The single-cell view of cell 2 shows none of the others.
    View()->SelectCell(2);
    View()->ToggleSingleCell();
    ASSERT_EQ(View()->SplitMode(), 1);
    ASSERT_EQ(View()->FirstCell(), 2);
    View()->OnCommand(ID_CELL_DISCONNECT_ALL);
    for (int cell = 0; cell < 4; ++cell) {
        EXPECT_FALSE(Control(cell)->isConnect(View()->CellAt(cell).channel)) << cell;
        EXPECT_FALSE(Recording(cell)) << cell;
    }
}

TEST_F(ChannelControlTest, ARecordingTheControlGivesUpNoLongerCountsAsOne)
{
    StartConnected();
    CGroup& group = Group();
    group.motionRecord[0] = 1;
    group.motionRecordingTime = 2;
    group.scheduleRecord[1] = 1;
    group.schedule[1][1][12] = group.schedule[1][1][13] = 1; // Sunday noon to two
    group.forcedRecordingTime = 0;
    // A plain file where the recording directory should be: nothing can be
    // created under it, whoever runs the test.
    QFile blocker(dir.filePath("blocker"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const QString good = document->Data().recordingDirectory;
    document->Data().recordingDirectory = dir.filePath("blocker/rec");

    Alarm(vyrdax::WM_VIDEO_ALARM, 0);
    View()->OnTimer(kTimerSchedule + 1);
    View()->SelectCell(2);
    View()->OnCommand(IDC_LOCAL_RECORD);
    ASSERT_TRUE((Status(0) & kStatusRecordAlarm) && (Status(1) & kStatusRecordSchedule) &&
                (Status(2) & kStatusRecordByHand));
    ASSERT_EQ(View()->TimerPeriod(kTimerMotionRecord + 0), 32000);
    // The first key frame cannot be written: the control says so and the
    // cells stop looking like recordings.
    ASSERT_TRUE(PumpUntil([this] { return !Recording(0) && !Recording(1) && !Recording(2); }, 10000));
    EXPECT_TRUE(PumpUntil([this] { return BoxesSaying("Record File Open Error!") >= 3; }, 5000));
    EXPECT_TRUE(Status(0) & kStatusLive);
    EXPECT_EQ(View()->TimerPeriod(kTimerMotionRecord + 0), 0);
    // Local Record starts again rather than toggling a recording that is gone.
    View()->OnCommand(IDC_LOCAL_RECORD);
    EXPECT_TRUE(Status(2) & kStatusRecordByHand);
    // Alarm frames and schedule tests right after a failure do not start
    // another one at once.
    Alarm(vyrdax::WM_VIDEO_ALARM, 0);
    View()->OnTimer(kTimerSchedule + 1);
    EXPECT_FALSE(Recording(0) || Recording(1));

    // A minute later, with the directory mended, both record again.
    document->Data().recordingDirectory = good;
    now = now.addSecs(61);
    Alarm(vyrdax::WM_VIDEO_ALARM, 0);
    View()->OnTimer(kTimerSchedule + 1);
    EXPECT_TRUE(Status(0) & kStatusRecordAlarm);
    EXPECT_TRUE(Status(1) & kStatusRecordSchedule);
    EXPECT_TRUE(WaitForMovies({"M.LotA01.20261206.130059.00.mp4", "R.LotA02.20261206.130059.01.mp4"}));
    View()->StopAllRecording();
    EXPECT_EQ(RecordingsStartingWith(recordingDirectory, "M.LotA01.20261206.130059.00.mp4").size(), 1);
    EXPECT_EQ(RecordingsStartingWith(recordingDirectory, "R.LotA02.20261206.130059.01.mp4").size(), 1);
}

TEST_F(ChannelControlTest, TheScheduleStartsRecordingInItsHourAndStopsAfterIt)
{
    StartConnected();
    CGroup& group = Group();
    group.scheduleRecord[1] = 1;
    group.schedule[1][1][13] = 1; // Sundays, 13:00 to 14:00
    View()->OnTimer(kTimerSchedule + 1);
    EXPECT_FALSE(Recording(1));
    now = QDateTime(QDate(2026, 12, 6), QTime(13, 0, 0));
    // The next test, at most 3 s away, starts it.
    EXPECT_EQ(View()->TimerPeriod(kTimerSchedule + 1), 3000);
    View()->OnTimer(kTimerSchedule + 1);
    EXPECT_TRUE(Status(1) & kStatusRecordSchedule);
    ASSERT_TRUE(WaitForMovies({"R.LotA02.20261206.130000.01."}));
    now = QDateTime(QDate(2026, 12, 6), QTime(13, 59, 59));
    View()->OnTimer(kTimerSchedule + 1);
    EXPECT_TRUE(Status(1) & kStatusRecordSchedule);
    now = QDateTime(QDate(2026, 12, 6), QTime(14, 0, 1));
    View()->OnTimer(kTimerSchedule + 1);
    EXPECT_FALSE(Recording(1));
    EXPECT_EQ(RecordingsStartingWith(recordingDirectory, "R.LotA02.20261206.130000.01.").size(), 1);
    // The same hour on a Monday is not in the grid; a cell without its
    // schedule flag never records by it.
    now = QDateTime(QDate(2026, 12, 7), QTime(13, 30, 0));
    View()->OnTimer(kTimerSchedule + 1);
    EXPECT_FALSE(Recording(1));
    now = QDateTime(QDate(2026, 12, 6), QTime(13, 30, 0));
    group.scheduleRecord[1] = 0;
    View()->OnTimer(kTimerSchedule + 1);
    EXPECT_FALSE(Recording(1));
    // A cleared cell loses its timers; none acts on it later.
    View()->SelectCell(1);
    View()->OnCommand(ID_CELL_CLEAR);
    EXPECT_EQ(View()->TimerPeriod(kTimerSchedule + 1), 0);
    View()->OnTimer(kTimerSchedule + 1);
    View()->OnTimer(kTimerMotionRecord + 1);
}

TEST_F(ChannelControlTest, ALowDiskStopsAllRecordingWithOneMessageAndRefusesUntilSpaceReturns)
{
    StartConnected();
    CGroup& group = Group();
    group.diskSpaceToRemain = 1; // 1000 MB
    group.motionRecord[2] = 1;
    for (int cell : {0, 1}) {
        View()->SelectCell(cell);
        View()->OnCommand(IDC_LOCAL_RECORD);
    }
    Alarm(vyrdax::WM_VIDEO_ALARM, 2);
    ASSERT_TRUE(Recording(0) && Recording(1) && Recording(2));

    // While the box stands the monitor tests again and finds the disk full.
    int nested = 0;
    auto previous = platform::SetMessageBoxHandler([&](const std::string& text, const std::string&, unsigned) {
        boxes.push_back(text);
        if (nested++ == 0) {
            View()->DiskMonitor().TestNow();
            Pump(50);
        }
        return platform::IDOK;
    });
    freeBytes = int64_t{999} * 1000000;
    View()->DiskMonitor().TestNow();
    Pump(100);
    platform::SetMessageBoxHandler(previous);
    EXPECT_EQ(BoxesSaying("Disk space is not enough."), 1);
    EXPECT_FALSE(Recording(0) || Recording(1) || Recording(2));
    EXPECT_EQ(View()->TimerPeriod(kTimerMotionRecord + 2), 0);

    // Local Record says why it does nothing at the click; an alarm says nothing.
    View()->SelectCell(0);
    View()->OnCommand(IDC_LOCAL_RECORD);
    EXPECT_EQ(BoxesSaying("Disk space is not enough."), 2);
    Alarm(vyrdax::WM_VIDEO_ALARM, 2);
    EXPECT_FALSE(Recording(0) || Recording(2));
    EXPECT_EQ(BoxesSaying("Disk space is not enough."), 2);

    freeBytes = int64_t{1000} * 1000000;
    View()->DiskMonitor().TestNow();
    View()->OnCommand(IDC_LOCAL_RECORD);
    EXPECT_TRUE(Recording(0));
    EXPECT_EQ(BoxesSaying("Disk space is not enough."), 2);
}

TEST_F(ChannelControlTest, NoRecordingStartsWithoutARecordingDirectory)
{
    StartConnected();
    Group().motionRecord[1] = 1;
    document->Data().recordingDirectory.clear();
    View()->SelectCell(0);
    View()->OnCommand(IDC_LOCAL_RECORD);
    Alarm(vyrdax::WM_VIDEO_ALARM, 1);
    EXPECT_FALSE(Recording(0) || Recording(1));
    EXPECT_EQ(View()->TimerPeriod(kTimerMotionRecord + 1), 0);
}

TEST_F(ChannelControlTest, AlarmFramesFromTheDvrStartMotionRecordings)
{
    StartConnected({"--alarm", "2", "--alarm-every", "10"});
    CGroup& group = Group();
    group.motionRecordingTime = 0;
    for (int cell = 0; cell < 4; ++cell)
        group.motionRecord[cell] = 1;
    ASSERT_TRUE(PumpUntil([this] { return (Status(0) & kStatusRecordAlarm) && (Status(3) & kStatusRecordAlarm); },
                          5000));
    EXPECT_EQ(View()->TimerPeriod(kTimerMotionRecord + 0), 12000);
    ASSERT_TRUE(WaitForMovies({"M.LotA01.", "M.LotA02.", "M.LotA03.", "M.LotA04."}));
    View()->StopAllRecording();
    const QStringList files = RecordingsStartingWith(recordingDirectory, "M.LotA0");
    ASSERT_EQ(files.size(), 4);
    for (const QString& file : files)
        EXPECT_EQ(MovieCheck(file), 0) << file.toStdString();
}

TEST_F(ChannelControlTest, DvrRecordAndCapture)
{
    StartConnected();
    View()->SelectCell(1);
    View()->OnCommand(IDC_DVR_RECORD);
    EXPECT_NE(sim.waitForLog("CMD 16 0 1 "), "");

    View()->OnCommand(IDC_CAPTURE);
    ASSERT_FALSE(boxes.empty());
    EXPECT_EQ(boxes.back(), "Capture Completed");
    QFile jpeg(captureDirectory + "/F.LotA02.20261206.125958.01.jpg");
    ASSERT_TRUE(jpeg.open(QIODevice::ReadOnly));
    EXPECT_TRUE(jpeg.read(2) == QByteArray("\xFF\xD8", 2));

    // A capture directory that cannot be made gives the failure.
    QFile blocker(dir.filePath("blocker"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    document->Data().captureDirectory = dir.filePath("blocker/cap");
    View()->OnCommand(ID_CELL_CAPTURE);
    EXPECT_EQ(boxes.back(), "Capture Failed!");

    View()->SelectCell(9);
    View()->OnCommand(IDC_CAPTURE);
    View()->OnCommand(IDC_DVR_RECORD);
    View()->OnCommand(IDC_LOCAL_RECORD);
    EXPECT_EQ(BoxesSaying("Please drag & drop DVR to the video window first."), 3);
}

TEST_F(ChannelControlTest, AlarmsBeepWhenTheGroupSaysAndACaptureSoundsToItsEnd)
{
    vyrtest::FakeAudio sound;
    // The viewer's program directory holds the skin's sounds.
    ASSERT_TRUE(QDir().mkpath(dir.filePath("sound")));
    for (const char* name : {"alarm.wav", "capture.wav"})
        ASSERT_TRUE(QFile::copy(QStringLiteral(SOUND_DIRECTORY "/") + name, dir.filePath("sound/") + name));
    const qint64 alarmBytes = QFile(dir.filePath("sound/alarm.wav")).size() - 44;
    const qint64 captureBytes = QFile(dir.filePath("sound/capture.wav")).size() - 44;
    StartConnected();
    CGroup& group = Group();

    // Heard whether the cell records its alarms or not.
    group.beep = 1;
    Alarm(vyrdax::WM_VIDEO_ALARM2, 3);
    EXPECT_FALSE(Recording(3));
    ASSERT_TRUE(PumpUntil([&] { return !sound.QueuedLengths().empty(); }, 3000));
    EXPECT_EQ(static_cast<qint64>(sound.QueuedLengths()[0]), alarmBytes);
    platform::StopSound();
    group.beep = 0;
    const int opens = sound.state->opens;
    Alarm(vyrdax::WM_VIDEO_ALARM, 3);
    Pump(200);
    EXPECT_EQ(sound.state->opens, opens);

    // The capture sound is played to its end before the box: the device
    // plays it when it comes, from a thread of its own.
    std::atomic<bool> played{false};
    std::thread device([&] {
        for (int k = 0; k < 500 && !played; ++k) {
            played = sound.CompleteOldest();
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    View()->SelectCell(1);
    View()->OnCommand(IDC_CAPTURE);
    device.join();
    EXPECT_TRUE(played);
    EXPECT_EQ(static_cast<qint64>(sound.state->played.size()), captureBytes);
    ASSERT_FALSE(boxes.empty());
    EXPECT_EQ(boxes.back(), "Capture Completed");
}

} // namespace
