// The event viewer against simulated DVRs on 127.0.0.1: one serving events,
// one refusing the login, one silent after the login, a port with nothing
// listening and a socket that takes the connection and never answers.
#include "SimProcess.h"
#include "ViewerFixture.h"
#include "LoopGaps.h"
#include "NetworkWaits.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTreeWidget>

#include <arpa/inet.h>
#include <array>
#include <netinet/in.h>
#include <optional>
#include <sys/socket.h>

namespace {

// A listening socket on 127.0.0.1 that never accepts: the kernel completes
// the connection, nobody answers.
class SilentListener {
public:
    SilentListener()
    {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (fd_ >= 0 && bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && listen(fd_, 4) == 0 &&
            getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) == 0)
            port_ = ntohs(a.sin_port);
    }
    ~SilentListener()
    {
        if (fd_ >= 0)
            close(fd_);
    }
    int port() const { return port_; }

private:
    int fd_ = -1;
    int port_ = 0;
};

// A port that was free a moment ago and has nothing listening on it.
int ClosedPort()
{
    SilentListener probe;
    return probe.port();
}

void AppendEvents(const QString& path, uint32_t firstKey, int count)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::Append));
    for (int i = 0; i < count; ++i) {
        const uint32_t key = firstKey + static_cast<uint32_t>(i);
        EventRecord r = MakeEvent(key, kClassCamera, 1 + key % 3, static_cast<int>(key));
        uint8_t bytes[24];
        r.ToBytes(bytes);
        ASSERT_EQ(file.write(reinterpret_cast<const char*>(bytes), 24), 24);
    }
}

std::vector<uint32_t> StoredKeys(const QString& path)
{
    std::vector<uint32_t> keys;
    for (const EventRecord& r : eventdb::ReadAll(path))
        keys.push_back(r.key);
    return keys;
}

} // namespace

TEST_F(ViewerFixture, APassEndsEveryKindOfDvrAndASecondPassStoresOnlyNewEvents)
{
    // Three DVRs must answer their logins in time: 2.5 s rather than the
    // divisor's 0.5 s, which a loaded machine can miss; the silent one then
    // waits out 45 s.
    RelaxTimeouts(4);
    const QString eventsFile = dir.filePath("sim-events.bin");
    AppendEvents(eventsFile, 1, 5);
    SimProcess events, refusing, silent;
    std::string error;
    ASSERT_TRUE(events.start({"--events-file", eventsFile.toStdString(), "--channels", "4"}, &error)) << error;
    ASSERT_TRUE(refusing.start({"--password", "secret", "--channels", "4"}, &error)) << error;
    ASSERT_TRUE(silent.start({"--fault", "silence", "--channels", "4"}, &error)) << error;
    SilentListener neverAnswers;
    ASSERT_GT(neverAnswers.port(), 0);
    const int closedPort = ClosedPort();
    WriteSites({{"Events", events.port(), ""},
                {"Refusing", refusing.port(), ""},
                {"Silent", silent.port(), ""},
                {"Closed", closedPort, ""},
                {"NoAnswer", neverAnswers.port(), ""}});
    Start();
    ASSERT_EQ(View()->InstancesCreated(), 16);
    CEventDlg* monitor = Monitor();
    ASSERT_NE(monitor, nullptr);
    EXPECT_EQ(monitor->PollTimeoutMs(), 45000);
    Pump(200); // the start-up timers of the view
    monitor->OnTracking();
    ASSERT_TRUE(PumpUntil([&] { return monitor->Idle(); }, 120000));
    EXPECT_EQ(monitor->RowText(0, 2), "Done");
    EXPECT_EQ(monitor->RowText(1, 2), "Login Error");
    EXPECT_EQ(monitor->RowText(2, 2), "Time Out");
    EXPECT_EQ(monitor->RowText(3, 2), "Port Number Incorrect");
    EXPECT_EQ(monitor->RowText(4, 2), "Not Responding");
    EXPECT_EQ(monitor->Done(), 5);
    EXPECT_EQ(monitor->NotResponding(), 1);
    EXPECT_GE(monitor->AlarmsStarted(), 1); // "Not Responding" sounds with every alarm off
    EXPECT_EQ(monitor->RowText(0, 1), "2024/05/06 07:08:05");
    EXPECT_EQ(StoredKeys(dir.filePath("DB/Events.dat")), (std::vector<uint32_t>{1, 2, 3, 4, 5}));
    EXPECT_EQ(monitor->EventList()->topLevelItemCount(), 5);
    EXPECT_NE(events.waitForLog("REPLY EVENTS 5"), "");
    EXPECT_NE(silent.waitForLog("CMD 32"), "");
    EXPECT_FALSE(QFile::exists(dir.filePath("DB/Refusing.dat")));

    // The site list keeps the checks; the second pass polls the events DVR
    // alone, from its newest stored event.
    for (int row = 1; row < 5; ++row)
        monitor->SetRowChecked(row, false);
    AppendEvents(eventsFile, 6, 3);
    monitor->OnStop();
    monitor->OnTracking();
    ASSERT_TRUE(PumpUntil([&] { return !monitor->Idle(); }, 5000));
    ASSERT_TRUE(PumpUntil([&] { return monitor->Idle(); }, 20000));
    EXPECT_EQ(monitor->RowText(0, 2), "Done");
    EXPECT_EQ(monitor->RowText(1, 2), "");
    // The DVR answered from the newest stored event on: that one again and
    // the three new ones; only the new ones are stored and shown.
    EXPECT_NE(events.waitForLog("REPLY EVENTS 4"), "");
    EXPECT_EQ(StoredKeys(dir.filePath("DB/Events.dat")), (std::vector<uint32_t>{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(monitor->EventList()->topLevelItemCount(), 3);
    EXPECT_EQ(monitor->RowText(0, 1), "2024/05/06 07:08:08");

    ASSERT_TRUE(CloseAndWait());
    for (int slot = 0; slot < 16; ++slot)
        EXPECT_FALSE(View()->isConnect(slot)) << slot;
    // Every check went into "device.vyr".
    SettingsDocument saved(ViewerVariant::Event, dir.path());
    saved.OnNewDocument();
    ASSERT_EQ(saved.deviceList.size(), 5u);
    EXPECT_EQ(saved.deviceList[0]->PollingFlag(), 1);
    EXPECT_EQ(saved.deviceList[1]->PollingFlag(), 0);
}

// A DVR with nothing in its log answers each poll with a list of no events:
// the row ends "Done" every pass, nothing is stored or listed, and nobody is
// told of an error.
TEST_F(ViewerFixture, ADvrWithAnEmptyLogEndsEachPassDoneAndStoresNothing)
{
    RelaxTimeouts();
    const QString eventsFile = dir.filePath("empty-events.bin");
    WriteEventsFile(eventsFile, {});
    SimProcess sim;
    std::string error;
    ASSERT_TRUE(sim.start({"--events-file", eventsFile.toStdString(), "--channels", "4"}, &error)) << error;
    WriteSites({{"Empty", sim.port(), ""}});
    Start();
    CEventDlg* monitor = Monitor();
    ASSERT_NE(monitor, nullptr);
    for (int pass = 1; pass <= 2; ++pass) {
        SCOPED_TRACE(pass);
        ASSERT_TRUE(RunPass(60000));
        EXPECT_EQ(monitor->RowText(0, 2), "Done");
        int emptyReplies = 0;
        for (const std::string& line : sim.logLines())
            emptyReplies += line.rfind("REPLY EVENTS 0 ", 0) == 0;
        EXPECT_EQ(emptyReplies, pass);
        EXPECT_EQ(monitor->NotResponding(), 0);
        EXPECT_EQ(monitor->EventList()->topLevelItemCount(), 0);
        EXPECT_TRUE(StoredKeys(dir.filePath("DB/Empty.dat")).empty());
        EXPECT_EQ(QFileInfo(dir.filePath("DB/Empty.dat")).size(), 0);
        EXPECT_EQ(monitor->RowText(0, 1), "0") << "no event, so no time of the newest";
    }
    EXPECT_TRUE(boxes.empty()) << boxes.front();
    ASSERT_TRUE(CloseAndWait());
}

namespace {

int LoginLines(const SimProcess& sim)
{
    int logins = 0;
    for (const std::string& line : sim.logLines())
        logins += line.rfind("LOGIN ", 0) == 0;
    return logins;
}

} // namespace

// More DVRs than "Maximum Polling No." on one simulator that answers at once:
// one pass polls every one of them, once, and stores its whole log.
TEST_F(ViewerFixture, OnePassPollsEveryDvrBeyondTheMaximumPollingNumber)
{
    RelaxTimeouts();
    SimProcess sim;
    std::string error;
    ASSERT_TRUE(sim.start({"--events", "50", "--channels", "4"}, &error)) << error;
    int loginsBefore = 0;
    for (const int maxPolling : {5, 3}) {
        SCOPED_TRACE(maxPolling);
        ASSERT_TRUE(QDir(dir.filePath("DB")).removeRecursively());
        std::vector<std::tuple<QString, int, QString>> sites;
        for (int i = 1; i <= 12; ++i)
            sites.emplace_back(QStringLiteral("R%1").arg(i, 2, 10, QLatin1Char('0')), sim.port(), QString());
        WriteSites(sites, maxPolling);
        Start();
        CEventDlg* monitor = Monitor();
        ASSERT_NE(monitor, nullptr);
        Pump(200);
        ASSERT_TRUE(RunPass(240000));
        EXPECT_EQ(monitor->Done(), 12);
        EXPECT_EQ(monitor->SummaryText(), "Done: 12 DVR,   Total Results: 600 Item,  Not Responding: 0 DVR");
        for (int row = 0; row < 12; ++row) {
            EXPECT_EQ(monitor->RowText(row, 2).toStdString(), "Done") << row;
            const QString path = dir.filePath(QStringLiteral("DB/R%1.dat").arg(row + 1, 2, 10, QLatin1Char('0')));
            EXPECT_EQ(StoredKeys(path).size(), 50u) << row;
        }
        // Each DVR logged in once in the pass.
        ASSERT_TRUE(PumpUntil([&] { return LoginLines(sim) >= loginsBefore + 12; }, 5000));
        Pump(300);
        EXPECT_EQ(LoginLines(sim), loginsBefore + 12);
        loginsBefore = LoginLines(sim);
        ASSERT_TRUE(CloseAndWait());
        frame.reset();
        document.reset();
    }
}

// Thirty DVRs over the sixteen instances, some silent after the login and
// some refusing it: every one ends in the pass, the answering ones with
// their whole log stored.
TEST_F(ViewerFixture, ThirtyDvrsSomeSilentSomeRefusingAllEndInOnePass)
{
    // The silent ones wait out the per-DVR time-out: 90 s.
    RelaxTimeouts(2);
    SimProcess answering, silent, refusing;
    std::string error;
    ASSERT_TRUE(answering.start({"--events", "50", "--channels", "4"}, &error)) << error;
    ASSERT_TRUE(silent.start({"--fault", "silence", "--channels", "4"}, &error)) << error;
    ASSERT_TRUE(refusing.start({"--password", "secret", "--channels", "4"}, &error)) << error;
    std::vector<std::tuple<QString, int, QString>> sites;
    std::vector<QString> expected;
    for (int i = 0; i < 30; ++i) {
        const QString name = QStringLiteral("S%1").arg(i + 1, 2, 10, QLatin1Char('0'));
        if (i % 6 == 2) {
            sites.emplace_back(name, silent.port(), QString());
            expected.push_back("Time Out");
        } else if (i % 6 == 4) {
            sites.emplace_back(name, refusing.port(), QString());
            expected.push_back("Login Error");
        } else {
            sites.emplace_back(name, answering.port(), QString());
            expected.push_back("Done");
        }
    }
    WriteSites(sites, 16);
    Start();
    CEventDlg* monitor = Monitor();
    ASSERT_NE(monitor, nullptr);
    Pump(200);
    ASSERT_TRUE(RunPass(400000));
    EXPECT_EQ(monitor->Done(), 30);
    for (int row = 0; row < 30; ++row) {
        EXPECT_EQ(monitor->RowText(row, 2), expected[static_cast<std::size_t>(row)])
            << row << " " << monitor->RowText(row, 2).toStdString();
        const QString path = dir.filePath(QStringLiteral("DB/S%1.dat").arg(row + 1, 2, 10, QLatin1Char('0')));
        EXPECT_EQ(StoredKeys(path).size(), expected[static_cast<std::size_t>(row)] == "Done" ? 50u : 0u) << row;
    }
    ASSERT_TRUE(CloseAndWait());
}

// DVRs whose connection ends after the login (closed, reset, killed while
// the log is asked for), one that stays silent and one that sends garbage
// instead of its log, with the control's own
// minute of data time-out: the window answers throughout, every row ends at
// the monitor's own time-out, and the next pass comes its interval later.
TEST_F(ViewerFixture, ConnectionsThatEndAfterTheLoginEndTheirRowsOnTimeAndTheWindowAnswers)
{
    SimProcess closing, resetting, killed, silent, garbage;
    std::string error;
    ASSERT_TRUE(closing.start({"--fault", "close", "--fault-after", "0", "--channels", "4"}, &error)) << error;
    ASSERT_TRUE(resetting.start({"--fault", "reset", "--fault-after", "0", "--channels", "4"}, &error)) << error;
    ASSERT_TRUE(killed.start({"--fault", "silence", "--channels", "4"}, &error)) << error;
    ASSERT_TRUE(silent.start({"--fault", "silence", "--channels", "4"}, &error)) << error;
    ASSERT_TRUE(garbage.start({"--fault", "garbage", "--fault-after", "0", "--channels", "4"}, &error)) << error;
    WriteSites({{"Closing", closing.port(), ""},
                {"Resetting", resetting.port(), ""},
                {"Killed", killed.port(), ""},
                {"Silent", silent.port(), ""},
                {"Garbage", garbage.port(), ""}});
    {
        SettingsDocument doc(ViewerVariant::Event, dir.path());
        doc.OnNewDocument();
        doc.eventSettings.intervalNumber = 0; // a pass every minute
        doc.eventSettings.intervalUnit = 0;
        ASSERT_TRUE(doc.SaveSettingsFiles().ok());
    }
    // The monitor's 180 s become 9 s; the control, which takes its time-outs
    // at its first session, keeps its own minute, the wait that froze.
    RelaxTimeouts(20);
    Start();
    unsetenv("VYR_TEST_TIME_DIVISOR");
    struct RestoreDivisor {
        ~RestoreDivisor() { RelaxTimeouts(20); } // as the test main sets it for the tests after
    } restore;
    CEventDlg* monitor = Monitor();
    ASSERT_NE(monitor, nullptr);
    ASSERT_EQ(monitor->PollTimeoutMs(), 9000);
    Pump(200);
    // The window answers throughout: no call on its thread waits for a DVR,
    // on its socket or on a thread that does, as the control's minute of
    // data time-out once made it.
    testsupport::LoopGaps gaps;
    testsupport::NetworkWaits waits;
    QElapsedTimer clock;
    clock.start();
    monitor->OnTracking();
    ASSERT_TRUE(PumpUntil([&] { return !monitor->Idle(); }, 5000));
    // The DVR loses power while it is asked for its log.
    ASSERT_TRUE(PumpUntil(
        [&] {
            for (const std::string& line : killed.logLines())
                if (line.find("CMD 32") != std::string::npos)
                    return true;
            return false;
        },
        5000));
    killed.kill();
    gaps.Resume(); // the test's own wait for the simulator's end
    // The closing and the resetting DVR may each take the request just
    // before their link ends; an answer starts the polling interval anew.
    std::optional<qint64> lastAnswer;
    std::array<bool, 2> answered{};
    ASSERT_TRUE(PumpUntil(
        [&] {
            for (int row = 0; row < 2; ++row) {
                const QString status = monitor->RowText(row, 2);
                if (!answered[static_cast<std::size_t>(row)] &&
                    (status == "Ready" || status == "Write DB" || status == "Done")) {
                    answered[static_cast<std::size_t>(row)] = true;
                    lastAnswer = clock.elapsed();
                }
            }
            return monitor->Idle();
        },
        30000));
    const qint64 passEnded = clock.elapsed();
    // A row's time-out runs from its poll, which began after the clock did.
    // The monitor's timers fire on the window's loop: a loaded machine that
    // holds the loop makes them that much late, and no more.
    EXPECT_GE(passEnded, monitor->PollTimeoutMs());
    EXPECT_LT(passEnded, 12000 + gaps.Longest()) << "a row outlasted its time-out; the longest gap of the loop "
                                                 << gaps.Longest() << " ms";
    for (int row = 0; row < 2; ++row)
        EXPECT_EQ(monitor->RowText(row, 2), answered[static_cast<std::size_t>(row)] ? "Done" : "Time Out")
            << row << " " << monitor->RowText(row, 2).toStdString();
    for (int row = 2; row < 4; ++row)
        EXPECT_EQ(monitor->RowText(row, 2), "Time Out") << row;
    EXPECT_EQ(waits.Count(), 0) << "the longest " << waits.LongestMs() << " ms";
    EXPECT_LT(gaps.LongestAsleep(), 1000) << "the longest gap " << gaps.Longest() << " ms";

    // The next pass starts one polling interval (a minute) after the end,
    // or after the last answer when a DVR answered.
    ASSERT_TRUE(PumpUntil([&] { return !monitor->Idle(); }, 75000 + gaps.Longest()));
    const qint64 interval = clock.elapsed() - lastAnswer.value_or(passEnded);
    EXPECT_GE(interval, 60000 - 2500);
    EXPECT_LE(interval, 60000 + 2500 + gaps.Longest()) << "the longest gap of the loop " << gaps.Longest() << " ms";
    EXPECT_EQ(waits.Count(), 0) << "the longest " << waits.LongestMs() << " ms";
    EXPECT_LT(gaps.LongestAsleep(), 1000) << "the longest gap " << gaps.Longest() << " ms";
    ASSERT_TRUE(CloseAndWait());
}
