// Remote play-back from the simulator: a Time Search starts it at the
// picked day and time, and the frames it delivers can be recorded by hand,
// stopped by the forced time or a full disk, and captured.
#include "BackupViewerFixture.h"

#include "SimProcess.h"
#include "tests/support/LoopGaps.h"
#include "tests/support/SplitPeriods.h"
#include "backupviewer/BackupTexts.h"
#include "backupviewer/dialogs/CBackupDlg.h"
#include "backupviewer/dialogs/CCalendarDlg.h"
#include "control/interface/VyrdaxInterface.h"

#include <QCheckBox>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QProcess>
#include <QTimeEdit>

#include <chrono>
#include <optional>
#include <sstream>

#include <dirent.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

using namespace backupviewer;

namespace {

constexpr long kStatusRecording = 0x1C;

struct CommandLine {
    int command = -1;
    long first = 0, second = 0; // the words at +16 and +20
    std::vector<int> bytes;      // +24..+31
};

std::vector<CommandLine> Commands(const SimProcess& sim, int command)
{
    std::vector<CommandLine> out;
    for (const std::string& line : sim.logLines()) {
        std::istringstream words(line);
        std::string cmd, hex;
        CommandLine c;
        if (!(words >> cmd >> c.command >> c.first >> c.second >> hex) || cmd != "CMD" || c.command != command ||
            hex.size() != 16)
            continue;
        for (int k = 0; k < 8; ++k)
            c.bytes.push_back(std::stoi(hex.substr(2 * k, 2), nullptr, 16));
        out.push_back(c);
    }
    return out;
}

std::string JoinedLines(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines)
        text += line + "\n";
    return text;
}

// When this process last received data from 127.0.0.1:`port`, by the
// kernel's account of its connections there; none without such a connection.
std::optional<std::chrono::steady_clock::time_point> LastDataFrom(int port)
{
    std::optional<std::chrono::steady_clock::time_point> last;
    DIR* fds = opendir("/proc/self/fd");
    if (!fds)
        return last;
    while (const dirent* entry = readdir(fds)) {
        const int fd = std::atoi(entry->d_name);
        sockaddr_in peer{};
        socklen_t size = sizeof peer;
        if (fd <= 2 || getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &size) != 0 ||
            peer.sin_family != AF_INET || ntohs(peer.sin_port) != port)
            continue;
        tcp_info info{};
        socklen_t infoSize = sizeof info;
        const auto now = std::chrono::steady_clock::now();
        if (getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &infoSize) != 0)
            continue;
        const auto at = now - std::chrono::milliseconds(info.tcpi_last_data_recv);
        last = last ? std::max(*last, at) : at;
    }
    closedir(fds);
    return last;
}

class DvrPlaybackFixture : public BackupViewerFixture {
protected:
    // The movie files recorded by hand under "rec", whatever their channel.
    QStringList RecordedMovies(const QString& pattern = "F.*.mp4") const
    {
        QStringList movies;
        for (QDirIterator it(dir.filePath("rec"), {pattern}, QDir::Files, QDirIterator::Subdirectories); it.hasNext();)
            movies << it.next();
        return movies;
    }
    // The simulator's DVR of four channels, with `more` of its options.
    void StartSim(const std::vector<std::string>& more = {})
    {
        std::vector<std::string> args = {"--channels", "4", "--user", "admin", "--password", "1111",
                                         "--recordings", "3", "--size", "352x240"};
        args.insert(args.end(), more.begin(), more.end());
        std::string error;
        ASSERT_TRUE(sim.start(args, &error)) << error;
    }
    // Drops the simulator's DVR and makes a Time Search on today at `at`.
    void TimeSearch(const QTime& at, const std::vector<std::string>& simOptions = {})
    {
        StartSim(simOptions);
        AddDvr("Sim", 1, sim.port());
        Start();
        View()->DropItem(DvrItem("Sim"), FirstCellPoint());
        ASSERT_EQ(View()->Split(), 4);
        opened = QDateTime::currentDateTime();
        View()->clock = [this] { return opened; };
        const QDate today = opened.date();
        View()->runDialog = [&](QDialog& dialog) {
            auto* calendar = dynamic_cast<CCalendarDlg*>(&dialog);
            if (!calendar)
                return int(QDialog::Rejected);
            EXPECT_TRUE(PumpUntil([calendar] { return calendar->HasMonthTable(); }, 15000));
            calendar->findChild<QCheckBox*>(QString::number(CCalendarDlg::IDC_TIME_SEARCH))->setChecked(true);
            calendar->findChild<QTimeEdit*>(QString::number(CCalendarDlg::IDC_TIME))->setTime(at);
            return PickDay(*calendar, today.day());
        };
        View()->OnSearchDvr();
        ASSERT_TRUE(boxes.empty()) << boxes[0];
    }
    bool Logged(const std::string& text, int timeoutMs = 10000)
    {
        return PumpUntil([&] {
            for (const std::string& line : sim.logLines())
                if (line.find(text) != std::string::npos)
                    return true;
            return false;
        }, timeoutMs);
    }
    // Remote play-back frames have reached cell 0.
    bool Playing()
    {
        return PumpUntil([this] { return View()->Control()->GetStatus(0) & 0x01; }, 10000);
    }
    void TearDown() override
    {
        if (frame)
            CloseAndWait();
        sim.stop();
        BackupViewerFixture::TearDown();
    }

    SimProcess sim;
    QDateTime opened;
    // What an injected free-space source reports; lives as long as the view.
    std::atomic<int64_t> freeBytes{0};
};

} // namespace

TEST_F(DvrPlaybackFixture, TimeSearchPlaysTheDvrFromThePickedDayAndTimeWithoutATimeline)
{
    const QTime at(9, 41, 27);
    TimeSearch(at);
    const QDateTime wanted(opened.date(), at);
    // The month was asked for with the opening time and the month flag 0;
    // no day list follows a Time Search.
    ASSERT_TRUE(Logged("CMD 14 "));
    const std::vector<CommandLine> searches = Commands(sim, 33);
    ASSERT_FALSE(searches.empty());
    for (const CommandLine& c : searches)
        EXPECT_EQ(c.bytes[4], 0) << "only month tables are asked for";
    // The DVR's packed time: year - 2000, month, day, hour, minute, second
    // in 6, 4, 5, 5, 6 and 6 bits.
    const QDate o = opened.date();
    const QTime ot = opened.time();
    const uint32_t packedOpening = uint32_t(o.year() - 2000) | uint32_t(o.month()) << 6 | uint32_t(o.day()) << 10 |
                                   uint32_t(ot.hour()) << 15 | uint32_t(ot.minute()) << 20 | uint32_t(ot.second()) << 26;
    const CommandLine& first = searches.front();
    EXPECT_EQ(uint32_t(first.bytes[0] | first.bytes[1] << 8 | first.bytes[2] << 16) | uint32_t(first.bytes[3]) << 24,
              packedOpening);
    const std::vector<CommandLine> plays = Commands(sim, 14);
    ASSERT_EQ(plays.size(), 1u);
    EXPECT_EQ(plays[0].first, wanted.toSecsSinceEpoch());
    const QDate d = wanted.date();
    EXPECT_EQ(plays[0].bytes,
              (std::vector<int>{d.year() - 2000, d.month(), d.day(), at.hour(), at.minute(), at.second(), 0, 0}));
    EXPECT_TRUE(Logged("PLAYBACK " + std::to_string(wanted.toSecsSinceEpoch())));

    // The view stays on the video: no day data, the timeline button has
    // nothing to show.
    EXPECT_EQ(View()->Mode(), CVyrNVRView::DvrMode);
    EXPECT_EQ(View()->Bottom(), CVyrNVRView::BottomVideo);
    EXPECT_FALSE(View()->HasDayData());
    View()->OnCommand(IDC_TIMELINE);
    EXPECT_EQ(View()->Bottom(), CVyrNVRView::BottomVideo);
    ASSERT_TRUE(Playing());
    EXPECT_TRUE(View()->Control()->isConnect(0));
    // The play-back buttons steer the DVR.
    View()->OnCommand(IDC_FAST_FORWARD);
    EXPECT_TRUE(Logged("PLAYBACK SPEED 2"));
    View()->OnCommand(IDC_STOP);
    EXPECT_TRUE(Logged("PLAYBACK STOP"));
}

TEST_F(DvrPlaybackFixture, PlaybackIsRecordedByHandUntilTheForcedTimeAndCaptured)
{
    TimeSearch(QTime(8, 0, 0));
    ASSERT_TRUE(Logged("CMD 14 "));
    ASSERT_TRUE(Playing());
    document->SettingsGroup().forcedRecordingTime = 1;
    View()->SelectCell(0);
    View()->OnCommand(IDC_LOCAL_RECORD);
    ASSERT_TRUE(boxes.empty()) << boxes[0];
    ASSERT_TRUE(View()->Control()->GetStatus(0) & kStatusRecording);
    // Ten minutes and the two-second margin.
    EXPECT_EQ(View()->TimerPeriod(CVyrNVRView::kTimerRecordBase + 0), 602000);
    // Two and a half seconds of play-back, and on until the recording holds
    // a hundred kilobytes (some twenty-five frames here), however few frames
    // a loaded machine lets the simulator send meanwhile.
    QElapsedTimer recording;
    recording.start();
    ASSERT_TRUE(PumpUntil(
        [&] {
            const QStringList movies = RecordedMovies("*.mp4");
            return recording.elapsed() >= 2500 && movies.size() == 1 && QFileInfo(movies[0]).size() >= 100000;
        },
        60000));

    // Capture writes a JPEG of the cell into the capture directory.
    View()->OnCommand(IDC_CAPTURE);
    ASSERT_FALSE(boxes.empty());
    EXPECT_EQ(boxes.back(), kCaptureCompleted);
    QStringList pictures;
    for (QDirIterator it(dir.filePath("cap"), {"F.*.jpg"}, QDir::Files); it.hasNext();)
        pictures << it.next();
    ASSERT_EQ(pictures.size(), 1);
    QProcess djpeg;
    djpeg.setStandardOutputFile(QProcess::nullDevice());
    djpeg.start("djpeg", {pictures[0]});
    ASSERT_TRUE(djpeg.waitForFinished(10000));
    EXPECT_EQ(djpeg.exitCode(), 0) << pictures[0].toStdString();

    // The forced time ends the recording.
    View()->OnTimer(CVyrNVRView::kTimerRecordBase + 0);
    EXPECT_FALSE(View()->Control()->GetStatus(0) & kStatusRecording);
    EXPECT_EQ(View()->TimerPeriod(CVyrNVRView::kTimerRecordBase + 0), 0);
    const QStringList movies = RecordedMovies("*.mp4");
    ASSERT_EQ(movies.size(), 1);
    EXPECT_TRUE(QFileInfo(movies[0]).fileName().startsWith("F.")) << movies[0].toStdString();
    QProcess dump;
    dump.start(MOVDUMP_PROGRAM, {"--quiet", movies[0]});
    ASSERT_TRUE(dump.waitForFinished(10000));
    EXPECT_EQ(dump.exitCode(), 0) << dump.readAllStandardError().toStdString();
    // The play-back's frames, from a key frame on.
    const std::string dumped = dump.readAllStandardOutput().toStdString();
    std::istringstream summary(dumped.substr(dumped.rfind("frames ") == std::string::npos ? 0 : dumped.rfind("frames ")));
    std::string word;
    long frames = 0, keys = 0;
    summary >> word >> frames >> word >> keys;
    EXPECT_GT(frames, 10) << QFileInfo(movies[0]).size() << " bytes: " << dumped;
    EXPECT_GE(keys, 1);
}

TEST_F(DvrPlaybackFixture, AFullDiskStopsThePlaybackRecordingWithOneBoxAndBlocksTheButton)
{
    TimeSearch(QTime(8, 0, 0));
    ASSERT_TRUE(Logged("CMD 14 "));
    ASSERT_TRUE(Playing());
    View()->OnCommand(IDC_LOCAL_RECORD);
    ASSERT_TRUE(View()->Control()->GetStatus(0) & kStatusRecording);
    // Under way, with its file, however late a loaded machine brings the
    // first key frame.
    ASSERT_TRUE(PumpUntil([this] { return !RecordedMovies().isEmpty(); }, 30000));

    // 699 MB free against the 700 MB of setting 0. The monitor starts again
    // on the injected source: its first pass tests at once, the next one
    // only nine seconds later, which the waits below stay short of.
    constexpr int kSoonerThanTheNextPassMs = 8000;
    freeBytes = 699'000'000;
    View()->DiskMonitor().Stop();
    View()->DiskMonitor().SetFreeSpaceSource([this](const QString&) { return freeBytes.load(); });
    View()->DiskMonitor().Start();
    ASSERT_TRUE(PumpUntil([this] { return !boxes.empty(); }, kSoonerThanTheNextPassMs));
    Pump(200);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], kDiskSpaceLow);
    EXPECT_FALSE(View()->Control()->GetStatus(0) & kStatusRecording);
    // The button does nothing until a test finds enough space.
    View()->OnCommand(IDC_LOCAL_RECORD);
    EXPECT_FALSE(View()->Control()->GetStatus(0) & kStatusRecording);
    EXPECT_EQ(boxes.size(), 1u);
    freeBytes = 700'000'000;
    View()->DiskMonitor().Stop();
    View()->DiskMonitor().Start();
    ASSERT_TRUE(PumpUntil([this] { return View()->DiskMonitor().SpaceSufficient(); }, kSoonerThanTheNextPassMs));
    View()->OnCommand(IDC_LOCAL_RECORD);
    EXPECT_TRUE(View()->Control()->GetStatus(0) & kStatusRecording);
    View()->OnCommand(IDC_LOCAL_RECORD);
    EXPECT_FALSE(View()->Control()->GetStatus(0) & kStatusRecording);

    ASSERT_GE(RecordedMovies().size(), 1);
}

// ---- the DVR goes away during play-back -------------------------------------------

namespace {

constexpr const char* kDvrLostBox = "Connection to the DVR was lost";

class LostDvrPlaybackTest : public DvrPlaybackFixture, public ::testing::WithParamInterface<const char*> {
protected:
    // Plays today at 08:00 from a DVR that goes away as `kind` says, with
    // cell 0 recording by hand; returns how long the loss took to be told,
    // less the longest time the machine held the window's loop meanwhile
    // (the window tells it).
    std::chrono::milliseconds PlayAndLose(const std::string& kind)
    {
        // A key frame every half second. Ten seconds of four channels before
        // the fault, or a kill only once the recording has its file: a
        // search and play-back slowed by a loaded machine still starts the
        // recording's file before the DVR goes.
        std::vector<std::string> options = {"--fps", "10", "--gop", "5"};
        if (kind == "close" || kind == "reset")
            options.insert(options.end(), {"--fault", kind, "--fault-after", "400"});
        TimeSearch(QTime(8, 0, 0), options);
        EXPECT_TRUE(Logged("CMD 14 "));
        EXPECT_TRUE(Playing());
        View()->SelectCell(0);
        View()->OnCommand(IDC_LOCAL_RECORD);
        recordingSince_ = std::time(nullptr);
        EXPECT_TRUE(View()->Control()->GetStatus(0) & kStatusRecording);
        auto lostAt = std::chrono::steady_clock::now();
        std::optional<testsupport::LoopGaps> gaps;
        if (kind == "kill") {
            EXPECT_TRUE(PumpUntil([this] { return !RecordedMovies().isEmpty(); }, 30000));
            Pump(500);
            // Gone once its end has been reaped, which a loaded machine may
            // take a while over: the test's wait, not the window's.
            sim.kill();
            lostAt = std::chrono::steady_clock::now();
            gaps.emplace();
        } else {
            // The event loop runs meanwhile, as the operator's does: frames
            // left unread when the reset comes are lost with it.
            gaps.emplace();
            EXPECT_TRUE(Logged("FAULT", 30000));
            lostAt = std::chrono::steady_clock::now();
        }
        EXPECT_TRUE(PumpUntil([this] { return !boxes.empty(); }, 10000 + gaps->Longest()))
            << "the operator was not told";
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - lostAt) -
               std::chrono::milliseconds(gaps->Longest());
    }
    // The session has ended as the operator sees it.
    void ExpectEnded()
    {
        Pump(300);
        ASSERT_EQ(boxes, std::vector<std::string>{kDvrLostBox});
        for (short ch = 0; ch < 4; ++ch) {
            EXPECT_FALSE(View()->Control()->isConnect(ch));
            EXPECT_EQ(View()->Control()->GetStatus(ch), 0) << ch;
        }
        // The recording ended with the session, with its index.
        // A 20-minute mark met on the way starts a file more.
        const QStringList movies = RecordedMovies();
        ASSERT_GE(movies.size(), 1);
        EXPECT_LE(movies.size(), 1 + testsupport::SplitsSince(recordingSince_));
        for (const QString& movie : movies) {
            QProcess dump;
            dump.start(MOVDUMP_PROGRAM, {"--quiet", movie});
            ASSERT_TRUE(dump.waitForFinished(10000));
            EXPECT_EQ(dump.exitCode(), 0) << dump.readAllStandardError().toStdString();
        }
        // The play-back buttons on an ended session do nothing, and say nothing.
        View()->OnCommand(IDC_STOP);
        View()->OnCommand(IDC_PLAY);
        Pump(200);
        EXPECT_EQ(boxes.size(), 1u);
    }
    // The DVR is back on its port; "Search DVR" shows its days and a day's
    // slot plays, with nothing else asked of the operator.
    void ExpectTheDvrPlaysAgain(const std::string& kind)
    {
        const int port = sim.port();
        if (kind != "kill")
            sim.stop();
        StartSim({"--port", std::to_string(port)});
        ASSERT_EQ(sim.port(), port);
        const QDate today = opened.date();
        bool marked = false;
        View()->runDialog = [&](QDialog& dialog) {
            auto* calendar = dynamic_cast<CCalendarDlg*>(&dialog);
            if (!calendar)
                return int(QDialog::Rejected);
            // A loaded machine may hold the restarted simulator a while
            // before it answers: the test waits for the month, not a time.
            marked = PumpUntil([&] { return calendar->HasMonthTable() && calendar->Table()[today.day()] != 0; },
                               60000);
            return PickDay(*calendar, today.day());
        };
        View()->OnSearchDvr();
        EXPECT_TRUE(marked) << "the month came without today's recordings";

        ASSERT_TRUE(PumpUntil([this] { return View()->HasDayData(); }, 60000));
        int slot = -1;
        for (int s = 0; s < kSlotsPerDay && slot < 0; ++s)
            if (SlotHasRecordings(View()->Day(), View()->RowCount(), s))
                slot = s;
        ASSERT_GE(slot, 0);
        const int plays = static_cast<int>(Commands(sim, 14).size());
        ASSERT_TRUE(View()->OnTimelineClick(View()->Timeline().Box(0, slot).center()));
        EXPECT_TRUE(PumpUntil([&] { return static_cast<int>(Commands(sim, 14).size()) > plays; }, 10000));
        EXPECT_TRUE(Playing());
        EXPECT_TRUE(PumpUntil([this] { return View()->Control()->isConnect(0); }, 10000));
        EXPECT_EQ(boxes.size(), 1u);
    }
    std::time_t recordingSince_ = 0; // when the recording by hand began
};

} // namespace

TEST_P(LostDvrPlaybackTest, TheOperatorIsToldTheCellsDisconnectAndTheDvrPlaysAgainOnceBack)
{
    const std::string kind = GetParam();
    const auto told = PlayAndLose(kind);
    EXPECT_LT(told, std::chrono::milliseconds(2000));
    ExpectEnded();
    ExpectTheDvrPlaysAgain(kind);
}

INSTANTIATE_TEST_SUITE_P(Ends, LostDvrPlaybackTest, ::testing::Values("close", "reset", "kill"));

TEST_F(DvrPlaybackFixture, ADvrThatHangsEndsThePlaybackAtItsMinuteOfSilence)
{
    TimeSearch(QTime(8, 0, 0));
    ASSERT_TRUE(Logged("CMD 14 "));
    ASSERT_TRUE(Playing());
    // Open and silent: no end, no reset; only the minute of silence tells.
    // It runs from the last data the control received, which a loaded
    // machine may have kept the simulator from sending for a while before
    // it froze: the kernel's account of the connection tells when that was.
    // A simulator that has already ended cannot hang: its connection's end
    // is seen at once, rightly, and tells nothing of the minute.
    ASSERT_TRUE(boxes.empty()) << "the session ended before the DVR froze: " << boxes[0];
    ASSERT_EQ(sim.waitExit(50), -1) << "the simulator ended before it froze";
    sim.freeze();
    const auto frozenAt = std::chrono::steady_clock::now();
    std::optional<std::chrono::steady_clock::time_point> lastData;
    ASSERT_TRUE(PumpUntil(
        [&] {
            if (const auto at = LastDataFrom(sim.port()))
                lastData = lastData ? std::max(*lastData, *at) : *at;
            return !boxes.empty();
        },
        75000));
    const auto now = std::chrono::steady_clock::now();
    ASSERT_TRUE(lastData.has_value()) << "no connection to the simulator";
    EXPECT_GE(now - *lastData, std::chrono::seconds(59)) << "the simulator's log:\n" << JoinedLines(sim.logLines());
    EXPECT_LT(now - frozenAt, std::chrono::seconds(65));
    Pump(300);
    EXPECT_EQ(boxes, std::vector<std::string>{kDvrLostBox});
    EXPECT_FALSE(View()->Control()->isConnect(0));
    EXPECT_EQ(View()->Control()->GetStatus(0), 0);
}

TEST_F(DvrPlaybackFixture, ABackupRunsOnThroughTheLossOfTheDvrAndEndsOnItsOwnNotice)
{
    TimeSearch(QTime(8, 0, 0));
    ASSERT_TRUE(Logged("CMD 14 "));
    ASSERT_TRUE(Playing());
    std::vector<std::string> statuses;
    View()->runDialog = [&](QDialog& dialog) {
        auto* backup = dynamic_cast<CBackupDlg*>(&dialog);
        if (!backup)
            return int(QDialog::Rejected);
        // A backup that runs until the test ends it as the control's backup
        // thread does: its estimate first, its end when it is done.
        backup->startBackup = [this](const QString&, long, long, long) {
            View()->OnMessage(vyrdax::WM_VIDEO_PROGRESS, CBackupDlg::kProgressEstimate, 1);
            return 1L;
        };
        const QDateTime now = QDateTime::currentDateTime();
        backup->SetRange(now.addSecs(-60), now.addSecs(60));
        backup->OnBackup();
        statuses.push_back(backup->StatusText().toStdString());
        // The end of a backup while the DVR still plays is the backup's.
        View()->OnMessage(vyrdax::WM_VIDEO_PROGRESS, CBackupDlg::kProgressEnd, 0);
        statuses.push_back(backup->StatusText().toStdString());

        backup->OnBackup();
        sim.kill();
        EXPECT_TRUE(PumpUntil([this] { return !boxes.empty(); }, 10000));
        Pump(300);
        statuses.push_back(backup->StatusText().toStdString());
        EXPECT_FALSE(backup->CloseEnabled()) << "the lost DVR ended the backup";
        View()->OnMessage(vyrdax::WM_VIDEO_PROGRESS, CBackupDlg::kProgressEnd, 0);
        statuses.push_back(backup->StatusText().toStdString());
        EXPECT_TRUE(backup->CloseEnabled());
        return int(QDialog::Rejected);
    };
    View()->OnCommand(IDC_BACKUP);
    EXPECT_EQ(statuses, (std::vector<std::string>{kBackupInProcess, kBackupCompleted, kBackupInProcess,
                                                  kBackupCompleted}));
    EXPECT_EQ(boxes, std::vector<std::string>{kDvrLostBox});
}
