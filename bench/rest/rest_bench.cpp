// What each program costs while nothing new happens, beside what it costs
// while it plays or streams: every program (or the control in its test
// container) is started in a program directory of its own, brought into a
// state, left to settle, and measured from /proc over a window: processor
// time of the whole process as % of one core, wake-ups a second (context
// switches of all its threads) and its threads.
//
//   rest_bench [--settle S] [--measure S] [--top N] [--keep] [STATE|GROUP ...]
//   rest_bench --list
//
// The programs run on the Qt platform the environment names (offscreen when
// none is named; run_rest_bench.sh --xvfb runs them under Xvfb). DVRs are
// dvrsim on 127.0.0.1: sixteen channels of 704x480 at 30 fps.
#include "PlayerFolderWriter.h"
#include "ProcessCost.h"
#include "SimProcess.h"

#include "../../tests/support/EndWithTestProcess.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <thread>

namespace {

using restbench::CostMeter;
using restbench::ProcessCost;

struct Options {
    int settleSeconds = 3;
    int measureSeconds = 6;
    int topThreads = 0;
    bool keep = false;
};

void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

double LoadAverage()
{
    double load = 0;
    if (FILE* f = std::fopen("/proc/loadavg", "r")) {
        if (std::fscanf(f, "%lf", &load) != 1)
            load = 0;
        std::fclose(f);
    }
    return load;
}

// A port on 127.0.0.1 that nothing listens on: a DVR that is off.
int ClosedPort()
{
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    int port = 0;
    if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &length) == 0)
        port = ntohs(a.sin_port);
    ::close(s);
    return port;
}

// A program of the suite, running in its program directory with its output
// in files there (a pipe nobody reads would stop it when full).
class Program {
public:
    Program(const QString& directory, const QProcessEnvironment& environment) : directory_(directory)
    {
        process_.setWorkingDirectory(directory);
        process_.setProcessEnvironment(environment);
        process_.setStandardOutputFile(Path("stdout.txt"));
        process_.setStandardErrorFile(Path("stderr.txt"));
        const pid_t bench = ::getpid();
        process_.setChildProcessModifier([bench] { testsupport::EndWithTestProcess(bench); });
    }
    ~Program() { Stop(); }

    bool Start(const QString& program, const QStringList& arguments)
    {
        process_.start(program, arguments);
        return process_.waitForStarted(10000);
    }
    pid_t Pid() const { return static_cast<pid_t>(process_.processId()); }
    bool Running() { return process_.state() == QProcess::Running && !process_.waitForFinished(0); }
    QString Output() const { return ReadAll(Path("stdout.txt")); }
    QString Errors() const { return ReadAll(Path("stderr.txt")); }
    QString Path(const QString& name) const { return QDir(directory_).filePath(name); }

    // Ends it as a shutdown does (the viewers close as from their window),
    // or kills it when it does not end.
    void Stop()
    {
        if (process_.state() == QProcess::NotRunning)
            return;
        ::kill(Pid(), SIGTERM);
        if (!process_.waitForFinished(20000)) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }

private:
    static QString ReadAll(const QString& path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }

    QString directory_;
    QProcess process_;
};

// Waits until `reached` or the program ends or `timeoutMs` passes.
bool WaitFor(Program& program, const std::function<bool()>& reached, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!reached()) {
        if (!program.Running() || std::chrono::steady_clock::now() > deadline)
            return false;
        SleepMs(100);
    }
    return true;
}

struct Row {
    Row(QString stateText, QString howRun) : state(std::move(stateText)), how(std::move(howRun)) {}
    QString state, how, note;
    std::optional<ProcessCost> cost;
    double load = 0;
};

class Bench {
public:
    explicit Bench(const Options& options) : options_(options)
    {
        root_.setAutoRemove(!options.keep);
        base_ = QProcessEnvironment::systemEnvironment();
        if (!base_.contains("QT_QPA_PLATFORM"))
            base_.insert("QT_QPA_PLATFORM", "offscreen");
        base_.insert("VYR_HANDOVER_NAMESPACE", QStringLiteral("restbench%1").arg(::getpid()));
        base_.remove("VYR_TEST_TIME_DIVISOR");
    }
    QString Root() const { return root_.path(); }
    QString Platform() const { return base_.value("QT_QPA_PLATFORM"); }

    // ---- what a state needs ---------------------------------------------------

    // A program directory of its own: the skin and sounds beside the
    // programs, the control registered in a registry of its own, HOME (and
    // so the default recording and database folders) inside it.
    QString ProgramDirectory(const QString& name, QProcessEnvironment* environment, bool withControl = true)
    {
        const QString dir = QDir(root_.path()).filePath(name);
        QDir().mkpath(dir);
        const QString bin = QFileInfo(VYRDAX_LIBRARY).absolutePath();
        for (const char* sub : {"image", "sound"}) {
            const QDir from(QDir(bin).filePath(sub));
            if (!from.exists())
                continue;
            QDir().mkpath(QDir(dir).filePath(sub));
            for (const QString& file : from.entryList(QDir::Files))
                QFile::copy(from.filePath(file), QDir(dir).filePath(QString(sub) + "/" + file));
        }
        *environment = base_;
        environment->insert("HOME", dir);
        environment->insert("VYR_REGISTRY", QDir(dir).filePath("registry.ini"));
        if (withControl)
            Run(REGSVR_PROGRAM, {VYRDAX_LIBRARY}, *environment);
        return dir;
    }

    bool Run(const QString& program, const QStringList& arguments, const QProcessEnvironment& environment,
             int timeoutMs = 20000)
    {
        QProcess p;
        p.setProcessEnvironment(environment);
        p.start(program, arguments);
        const bool ok = p.waitForFinished(timeoutMs) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
        if (!ok)
            std::fprintf(stderr, "rest_bench: %s failed: %s\n", qPrintable(program),
                         qPrintable(QString::fromUtf8(p.readAllStandardError())));
        return ok;
    }

    static bool StartSim(SimProcess& sim, std::vector<std::string> extra = {})
    {
        std::vector<std::string> args = {"--channels", "16", "--size", "704x480", "--fps", "30", "--interlace", "1"};
        args.insert(args.end(), extra.begin(), extra.end());
        std::string error;
        if (!sim.start(args, &error)) {
            std::fprintf(stderr, "rest_bench: dvrsim did not start: %s\n", error.c_str());
            return false;
        }
        return true;
    }

    // A backup folder of sixteen channels of 704x480 at 30 fps, `seconds`
    // long, as the player plays it.
    QString PlayerFolder(int seconds)
    {
        const QString dir = QDir(root_.path()).filePath(QStringLiteral("backup-%1s").arg(seconds));
        if (QDir(dir).exists())
            return dir;
        QDir().mkpath(dir);
        for (int c = 0; c < 16; ++c) {
            playertest::ChannelFiles files;
            files.slot = c;
            files.width = 704;
            files.height = 480;
            files.fps = 30;
            files.frames = 30 * seconds;
            files.gop = 15;
            playertest::WriteChannel(dir.toStdString(), files);
        }
        return dir;
    }

    int PlayerSeconds() const { return options_.settleSeconds + options_.measureSeconds + 6; }
    int RecordingSeconds() const { return options_.settleSeconds + options_.measureSeconds + 5; }

    // Sixteen channels of the simulator recorded on the PC by the control
    // in its test container, as Local Record does, into the recording
    // folder the backup viewers' program directories share.
    bool Recordings(QDateTime* began, QString* home)
    {
        *home = QDir(root_.path()).filePath("recorded-home");
        if (recordedAt_.isValid()) {
            *began = recordedAt_;
            return true;
        }
        SimProcess sim;
        if (!StartSim(sim))
            return false;
        QProcessEnvironment environment;
        const QString dir = ProgramDirectory("recorder", &environment);
        const QString folder = QDir(*home).filePath("OXA/Recording");
        QDir().mkpath(folder);
        const QDateTime start = QDateTime::currentDateTime();
        QString script = "call setDispChannel 16\ncall SetBackupMode 0\n";
        for (int ch = 0; ch < 16; ++ch)
            script += QStringLiteral("call SetConnectInfo \"Cam%1\" \"Guest\" \"\" \"\" \"127.0.0.1\" %2 1 %3 0 %1\n"
                                     "call Connect %1\n")
                          .arg(ch)
                          .arg(sim.port())
                          .arg(ch + 1);
        for (int ch = 0; ch < 16; ++ch)
            script += "wait 0x605 30000\n";
        for (int ch = 0; ch < 16; ++ch) {
            const QString name = QStringLiteral("F.Cam%1.%2.%3.mp4")
                                     .arg(ch)
                                     .arg(start.toString("yyyyMMdd.HHmmss"))
                                     .arg(ch, 2, 10, QChar('0'));
            script += QStringLiteral("call StartRecord \"%1\" \"%2\" \"F.Cam%3\" 0 %3\n").arg(folder, name).arg(ch);
        }
        script += QStringLiteral("sleep %1\n").arg(RecordingSeconds() * 1000);
        for (int ch = 0; ch < 16; ++ch)
            script += QStringLiteral("call StopRecord %1\n").arg(ch);
        script += "call DisConnectSvr -1\nquit\n";
        const QString scriptPath = QDir(dir).filePath("record.vyrhost");
        WriteFile(scriptPath, script);
        Program host(dir, environment);
        if (!host.Start(VYRHOST_PROGRAM, {"--script", scriptPath}))
            return false;
        WaitFor(host, [] { return false; }, (RecordingSeconds() + 60) * 1000);
        const QString out = host.Output();
        if (out.contains("!") || out.count("MSG 0x605 ") < 16) {
            std::fprintf(stderr, "rest_bench: recording failed:\n%s%s\n", qPrintable(out), qPrintable(host.Errors()));
            return false;
        }
        recordedAt_ = start;
        *began = start;
        return true;
    }

    static void WriteFile(const QString& path, const QString& text)
    {
        QFile f(path);
        if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            f.write(text.toUtf8());
    }

    // The control's script of sixteen live channels of the DVR at `port`,
    // the demo's own.
    static QString LiveScript(int port)
    {
        QFile f(LIVE_SCRIPT);
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(f.readAll()).replace("@PORT@", QString::number(port));
    }

    // ---- measuring -------------------------------------------------------------

    // Settles, then measures `program` over the window.
    Row Measure(Program& program, Row row)
    {
        const auto settleEnd = std::chrono::steady_clock::now() + std::chrono::seconds(options_.settleSeconds);
        while (std::chrono::steady_clock::now() < settleEnd && program.Running())
            SleepMs(100);
        if (!program.Running())
            return Fail(program, row, "ended while settling");
        CostMeter meter(program.Pid());
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(options_.measureSeconds);
        while (std::chrono::steady_clock::now() < end) {
            SleepMs(250);
            meter.Sample();
        }
        row.cost = meter.Finish();
        row.load = LoadAverage();
        if (row.cost->processEnded)
            row.note = "ended while measured";
        return row;
    }

    Row Fail(const Program& program, Row row, const QString& why)
    {
        row.note = why;
        QString errors = program.Errors().trimmed();
        if (errors.size() > 300)
            errors = "..." + errors.right(300);
        if (!errors.isEmpty())
            std::fprintf(stderr, "rest_bench: %s: %s\n%s\n", qPrintable(row.state), qPrintable(why),
                         qPrintable(errors));
        return row;
    }

private:
    Options options_;
    QTemporaryDir root_{QDir::tempPath() + "/vyr-rest-bench-XXXXXX"};
    QProcessEnvironment base_;
    QDateTime recordedAt_;
};

// ---- the states ----------------------------------------------------------------

Row PlayerState(Bench& bench, const QString& state)
{
    Row row{"ZoPlayer, 16 channels, " + state, state == "paused" || state == "stopped" ? "driver" : "program"};
    // A short folder reaches its end soon; the others play past the window.
    const int seconds = state == "ended" ? 2 : bench.PlayerSeconds();
    const QString folder = bench.PlayerFolder(seconds);
    QProcessEnvironment environment;
    bench.ProgramDirectory("player-" + state, &environment, false);
    Program player(folder, environment);
    if (row.how == "driver") {
        if (!player.Start(PLAYER_HOST, {state}))
            return bench.Fail(player, row, "did not start");
        if (!WaitFor(player, [&] { return player.Output().contains("READY"); }, 20000))
            return bench.Fail(player, row, "did not reach the state: " + player.Output().trimmed());
    } else {
        if (!player.Start(ZOPLAYER_PROGRAM, {folder}))
            return bench.Fail(player, row, "did not start");
        // Playing from the start; the end comes after the files' length.
        WaitFor(player, [] { return false; }, state == "ended" ? (seconds + 3) * 1000 : 1500);
    }
    return bench.Measure(player, row);
}

Row NetworkState(Bench& bench, const QString& state)
{
    Row row{state == "offline" ? "VyrNetwork, 64 cells of 4 DVRs, all offline" : "VyrNetwork, 16 cells, " + state,
            "program"};
    QProcessEnvironment environment;
    const QString dir = bench.ProgramDirectory("network-" + state, &environment);
    Program viewer(dir, environment);
    SimProcess sim;
    QStringList setup;
    if (state == "offline") {
        setup << "--split" << "64";
        for (int d = 0; d < 4; ++d)
            setup << "--port" << QString::number(ClosedPort());
    } else {
        if (!Bench::StartSim(sim, state == "refusing" ? std::vector<std::string>{"--user", "admin", "--password", "1111"}
                                                       : std::vector<std::string>{}))
            return bench.Fail(viewer, row, "no dvrsim");
        setup << "--port" << QString::number(sim.port());
    }
    if (!bench.Run(NVSETUP_PROGRAM, QStringList{"--dir", dir, "--channels", "16", "--name", "Bench"} + setup,
                   environment))
        return bench.Fail(viewer, row, "nvsetup failed");
    if (!viewer.Start(VYRNETWORK_PROGRAM, {}))
        return bench.Fail(viewer, row, "did not start");
    if (state == "offline") {
        WaitFor(viewer, [] { return false; }, 2000);
    } else if (state == "refusing") {
        if (!WaitFor(viewer, [&] { return !sim.waitForLog("REFUSE", 0).empty(); }, 30000))
            return bench.Fail(viewer, row, "no login was refused");
    } else {
        if (!WaitFor(viewer, [&] { return !sim.waitForLog("MASK 0000FFFF", 0).empty(); }, 30000))
            return bench.Fail(viewer, row, "did not ask for the sixteen channels");
        if (state == "gone") {
            WaitFor(viewer, [] { return false; }, 1000);
            sim.kill(); // as a DVR that loses power
        }
    }
    return bench.Measure(viewer, row);
}

Row ControlState(Bench& bench, const QString& state)
{
    Row row{"control in vyrhost, 16 channels, " + state, "program"};
    QProcessEnvironment environment;
    const QString dir = bench.ProgramDirectory("control-" + state, &environment);
    Program host(dir, environment);
    if (state == "idle") {
        // Nothing to read on its standard input, which stays open.
        row.state = "vyrhost waiting on its input, nothing to do";
        if (!host.Start(VYRHOST_PROGRAM, {}))
            return bench.Fail(host, row, "did not start");
        WaitFor(host, [] { return false; }, 1000);
        return bench.Measure(host, row);
    }
    SimProcess sim;
    if (!Bench::StartSim(sim, state == "refusing" ? std::vector<std::string>{"--user", "admin", "--password", "1111"}
                                                   : std::vector<std::string>{}))
        return bench.Fail(host, row, "no dvrsim");
    QString script = Bench::LiveScript(sim.port());
    if (script.isEmpty())
        return bench.Fail(host, row, "no live script");
    if (state != "refusing")
        for (int ch = 0; ch < 16; ++ch)
            script += "wait 0x605 30000\n";
    // Each channel disconnected as the operator disconnects a cell; the
    // whole session's logout (-1) would be set up again at the next tick.
    if (state == "disconnected") {
        script += "sleep 1000\n";
        for (int ch = 0; ch < 16; ++ch)
            script += "call DisConnectSvr " + QString::number(ch) + "\n";
    }
    // The grab marks the end of the script; the host stays open after it.
    script += "grab \"" + host.Path("ready.png") + "\"\n";
    Bench::WriteFile(host.Path("state.vyrhost"), script);
    if (!host.Start(VYRHOST_PROGRAM, {"--size", "1024x768", "--script", host.Path("state.vyrhost"), "--stay"}))
        return bench.Fail(host, row, "did not start");
    if (!WaitFor(host, [&] { return QFileInfo::exists(host.Path("ready.png")); }, 60000))
        return bench.Fail(host, row, "the script did not run through: " + host.Output().right(200));
    if (state == "refusing" && !WaitFor(host, [&] { return !sim.waitForLog("REFUSE", 0).empty(); }, 30000))
        return bench.Fail(host, row, "no login was refused");
    if (state == "gone")
        sim.kill();
    return bench.Measure(host, row);
}

Row BackupState(Bench& bench, const QString& state)
{
    Row row{"VyrBackup, 16 channels of the PC, " + state, "driver"};
    QDateTime began;
    QString home;
    if (!bench.Recordings(&began, &home)) {
        row.note = "no recordings";
        return row;
    }
    QProcessEnvironment environment;
    const QString dir = bench.ProgramDirectory("backup-" + state, &environment);
    QFile::link(QDir(home).filePath("OXA"), QDir(dir).filePath("OXA"));
    Program viewer(dir, environment);
    if (!viewer.Start(BACKUP_HOST, {state, QString::number(began.toSecsSinceEpoch()),
                                    QString::number(bench.RecordingSeconds())}))
        return bench.Fail(viewer, row, "did not start");
    if (!WaitFor(viewer, [&] { return viewer.Output().contains("READY"); }, (bench.RecordingSeconds() + 40) * 1000))
        return bench.Fail(viewer, row, "did not reach the state: " + viewer.Output().trimmed());
    return bench.Measure(viewer, row);
}

Row EventState(Bench& bench, const QString&)
{
    Row row{"VyrEvent, between polling passes", "driver"};
    SimProcess sim;
    QProcessEnvironment environment;
    const QString dir = bench.ProgramDirectory("event", &environment);
    Program viewer(dir, environment);
    if (!Bench::StartSim(sim))
        return bench.Fail(viewer, row, "no dvrsim");
    if (!bench.Run(NVSETUP_PROGRAM, {"--dir", dir, "--port", QString::number(sim.port()), "--channels", "16"},
                   environment))
        return bench.Fail(viewer, row, "nvsetup failed");
    if (!viewer.Start(EVENT_HOST, {}))
        return bench.Fail(viewer, row, "did not start");
    if (!WaitFor(viewer, [&] { return viewer.Output().contains("READY"); }, 150000))
        return bench.Fail(viewer, row, "did not reach the state: " + viewer.Output().trimmed());
    row.note = "first pass: " + viewer.Output().section("READY", 1).trimmed();
    return bench.Measure(viewer, row);
}

struct StateEntry {
    const char* name;
    std::function<Row(Bench&, const QString&)> run;
    const char* argument;
};

const std::vector<StateEntry>& States()
{
    static const std::vector<StateEntry> states = {
        {"player-playing", PlayerState, "playing"},
        {"player-paused", PlayerState, "paused"},
        {"player-stopped", PlayerState, "stopped"},
        {"player-ended", PlayerState, "ended"},
        {"network-streaming", NetworkState, "streaming"},
        {"network-gone", NetworkState, "gone"},
        {"network-refusing", NetworkState, "refusing"},
        {"network-offline", NetworkState, "offline"},
        {"control-streaming", ControlState, "streaming"},
        {"control-gone", ControlState, "gone"},
        {"control-refusing", ControlState, "refusing"},
        {"control-disconnected", ControlState, "disconnected"},
        {"control-idle", ControlState, "idle"},
        {"backup-playing", BackupState, "playing"},
        {"backup-paused", BackupState, "paused"},
        {"backup-stopped", BackupState, "stopped"},
        {"backup-ended", BackupState, "ended"},
        {"event-between-passes", EventState, ""},
    };
    return states;
}

void PrintHeader()
{
    std::printf("%-52s %-7s %13s %11s %8s %6s  %s\n", "state", "how", "% of one core", "wake-ups/s", "threads",
                "load", "note");
}

void PrintRow(const Row& row)
{
    if (row.cost)
        std::printf("%-52s %-7s %13.1f %11.0f %8d %6.1f  %s\n", qPrintable(row.state), qPrintable(row.how),
                    row.cost->percentOfCore, row.cost->wakeupsPerSecond, row.cost->threads, row.load,
                    qPrintable(row.note));
    else
        std::printf("%-52s %-7s %13s %11s %8s %6s  %s\n", qPrintable(row.state), qPrintable(row.how), "-", "-", "-",
                    "-", qPrintable(row.note.isEmpty() ? QStringLiteral("failed") : row.note));
}

void PrintThreads(const Row& row, int top)
{
    if (!row.cost)
        return;
    for (int k = 0; k < top && k < static_cast<int>(row.cost->byThread.size()); ++k) {
        const restbench::ThreadCost& t = row.cost->byThread[static_cast<std::size_t>(k)];
        std::printf("    %-20s tid %-8d %7.2f %% %9.0f /s\n", t.name.c_str(), static_cast<int>(t.tid),
                    t.percentOfCore, t.wakeupsPerSecond);
    }
}

int Usage()
{
    std::fprintf(stderr,
                 "usage: rest_bench [--settle S] [--measure S] [--top N] [--keep] [STATE|GROUP ...]\n"
                 "       rest_bench --list\n"
                 "GROUP is the part of a state's name before the dash (player, network, control,\n"
                 "backup, event); no state or group runs them all.\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    Options options;
    QStringList wanted;
    for (int k = 1; k < argc; ++k) {
        const std::string a = argv[k];
        auto number = [&](int low) {
            if (k + 1 >= argc)
                std::exit(Usage());
            return std::max(low, std::atoi(argv[++k]));
        };
        if (a == "--settle")
            options.settleSeconds = number(0);
        else if (a == "--measure")
            options.measureSeconds = number(1);
        else if (a == "--top")
            options.topThreads = number(0);
        else if (a == "--keep")
            options.keep = true;
        else if (a == "--list") {
            for (const StateEntry& s : States())
                std::printf("%s\n", s.name);
            return 0;
        } else if (a == "--help" || a == "-h" || a[0] == '-')
            return Usage();
        else
            wanted << QString::fromStdString(a);
    }
    std::vector<const StateEntry*> chosen;
    for (const StateEntry& s : States()) {
        const QString name = s.name;
        if (wanted.isEmpty() || wanted.contains(name) || wanted.contains(name.section('-', 0, 0)))
            chosen.push_back(&s);
    }
    for (const QString& w : wanted)
        if (std::none_of(States().begin(), States().end(), [&](const StateEntry& s) {
                return w == s.name || w == QString(s.name).section('-', 0, 0);
            })) {
            std::fprintf(stderr, "rest_bench: no state or group \"%s\" (--list names them)\n", qPrintable(w));
            return 2;
        }

    Bench bench(options);
    std::printf("platform %s, settle %d s, measure %d s, %ld processors; in %s\n", qPrintable(bench.Platform()),
                options.settleSeconds, options.measureSeconds, sysconf(_SC_NPROCESSORS_ONLN), qPrintable(bench.Root()));
    PrintHeader();
    std::fflush(stdout);
    std::vector<Row> rows;
    for (const StateEntry* s : chosen) {
        rows.push_back(s->run(bench, s->argument));
        PrintRow(rows.back());
        PrintThreads(rows.back(), options.topThreads);
        std::fflush(stdout);
    }
    if (rows.size() > 1) {
        std::printf("\n");
        PrintHeader();
        for (const Row& row : rows)
            PrintRow(row);
    }
    const bool allMeasured = std::all_of(rows.begin(), rows.end(), [](const Row& r) { return r.cost.has_value(); });
    return allMeasured ? 0 : 1;
}
