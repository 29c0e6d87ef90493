// A full disk, played by the file-size limit (`ulimit -f`): every program
// ignores the signal the limit would kill it with, so what it writes meets a
// write error instead, and what it leaves behind is whole.
#include "EndWithTestProcess.h"
#include "SimProcess.h"
#include "platform/ProcessSignals.h"

#include "EventViewer/event/EventDatabase.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// A program started with SIGXFSZ at its default action (whatever the test
// process does with it), in `directory`, with `extraEnvironment`, standard
// output and error into `output`, and the file-size limit `limitBytes`
// (none when 0).
pid_t Spawn(const std::vector<std::string>& argv, const std::string& directory,
            const std::vector<std::string>& extraEnvironment, rlim_t limitBytes, const std::string& output)
{
    std::vector<std::string> environment(extraEnvironment);
    for (char** e = environ; *e; ++e)
        environment.emplace_back(*e);
    std::vector<char*> envp, args;
    for (auto& e : environment)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> argvCopy(argv);
    for (auto& a : argvCopy)
        args.push_back(a.data());
    args.push_back(nullptr);
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid != 0)
        return pid;
    testsupport::EndWithTestProcess(parent);
    std::signal(SIGXFSZ, SIG_DFL);
    if (limitBytes > 0) {
        rlimit limit{limitBytes, limitBytes};
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    const int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || ::chdir(directory.c_str()) != 0)
        _exit(120);
    dup2(out, 1);
    dup2(out, 2);
    const int nothing = ::open("/dev/null", O_RDONLY);
    dup2(nothing, 0);
    execve(args[0], args.data(), envp.data());
    _exit(121);
}

// The wait status, or -1 when the program had to be killed after
// `timeoutMs`.
int WaitFor(pid_t pid, int timeoutMs)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (Clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return status;
}

std::string ReadText(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Whether the process (running, or ended and not yet reaped) ignores SIGXFSZ.
bool IgnoresFileSizeSignal(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("SigIgn:", 0) == 0)
            return (std::stoull(line.substr(7), nullptr, 16) >> (SIGXFSZ - 1)) & 1;
    return false;
}

// Writes twice the limit in pieces; 0 when the writes past the limit failed
// with EFBIG and the process lived on.
int WritePastTheLimit(const std::string& path, bool ignoreSignal)
{
    if (ignoreSignal)
        platform::IgnoreFileSizeLimitSignal();
    rlimit limit{4096, 4096};
    setrlimit(RLIMIT_FSIZE, &limit);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        return 2;
    const std::vector<char> piece(1024, 'x');
    int refused = 0;
    for (int k = 0; k < 8; ++k)
        if (::write(fd, piece.data(), piece.size()) < 0 && errno == EFBIG)
            ++refused;
    ::close(fd);
    return refused == 4 ? 0 : 3;
}

TEST(FileSizeLimit, AWritePastTheLimitFailsInsteadOfEndingTheProcess)
{
    QTemporaryDir dir;
    for (const bool ignore : {true, false}) {
        const std::string path = dir.filePath(ignore ? "ignored" : "default").toStdString();
        const pid_t pid = fork();
        if (pid == 0) {
            std::signal(SIGXFSZ, SIG_DFL);
            _exit(WritePastTheLimit(path, ignore));
        }
        const int status = WaitFor(pid, 20000);
        if (ignore) {
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        } else {
            // Without it the limit kills: what the programs were exposed to.
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ) << status;
        }
        EXPECT_EQ(fs::file_size(path), 4096u);
    }
}

// Each program sets the signal aside first thing; a program that ends at
// once (it has nothing to show) is looked at before it is reaped.
TEST(FileSizeLimit, EveryProgramIgnoresTheSignalFromItsStart)
{
    QTemporaryDir dir;
    const std::string home = dir.path().toStdString();
    const std::vector<std::string> environment = {
        "QT_QPA_PLATFORM=offscreen", "HOME=" + home, "VYR_REGISTRY=" + home + "/registry.ini",
        "VYR_HANDOVER_NAMESPACE=fsizeprograms" + std::to_string(getpid())};
    for (const char* program : {VYRNETWORK_PROGRAM, VYRBACKUP_PROGRAM, VYREVENT_PROGRAM, ZOPLAYER_PROGRAM,
                                VYRHOST_PROGRAM}) {
        SCOPED_TRACE(program);
        const pid_t pid = Spawn({program}, home, environment, 0, home + "/output.txt");
        ASSERT_GT(pid, 0);
        const auto deadline = Clock::now() + std::chrono::seconds(30);
        bool ignores = false;
        while (!(ignores = IgnoresFileSizeSignal(pid)) && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_TRUE(ignores) << ReadText(home + "/output.txt");
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
}

// The event database at the limit: a batch that fits is stored, the next
// one that does not is refused, and the file reads back as the whole
// records stored before it.
TEST(FileSizeLimit, TheEventDatabaseAtTheLimitKeepsWholeRecords)
{
    QTemporaryDir dir;
    auto batchFrom = [](uint32_t firstKey, std::size_t count) {
        std::vector<EventRecord> batch(count);
        for (std::size_t i = 0; i < count; ++i) {
            batch[i].key = firstKey + static_cast<uint32_t>(i);
            batch[i].packedTime = static_cast<uint32_t>(0x12345 + firstKey + i);
            batch[i].eventClass = 2;
        }
        return batch;
    };
    const std::vector<EventRecord> fits = batchFrom(1000, 10), overflows = batchFrom(2000, 400);
    const pid_t pid = fork();
    if (pid == 0) {
        std::signal(SIGXFSZ, SIG_DFL);
        platform::IgnoreFileSizeLimitSignal();
        rlimit limit{1000, 1000}; // 41 records and a part of one
        setrlimit(RLIMIT_FSIZE, &limit);
        const bool first = eventdb::AppendBatch(dir.path(), "Gate", fits).Stored();
        const eventdb::AppendResult second = eventdb::AppendBatch(dir.path(), "Gate", overflows);
        _exit(first && second.opened && !second.Stored() ? 0 : 4);
    }
    const int status = WaitFor(pid, 30000);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);
    const std::vector<EventRecord> stored = eventdb::ReadAll(eventdb::DatabaseFilePath(dir.path(), "Gate"));
    ASSERT_EQ(stored.size(), fits.size());
    for (std::size_t i = 0; i < stored.size(); ++i)
        EXPECT_EQ(stored[i].key, fits[i].key) << i;
    EXPECT_EQ(fs::file_size(eventdb::DatabaseFilePath(dir.path(), "Gate").toStdString()), 10u * 24);
}

// The control in the test container, recording a channel of the simulator
// into movie files and then into an AVI file, with a limit that each file
// reaches within seconds.
class ControlAtTheLimit : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.isValid());
        home_ = dir_.path().toStdString();
        environment_ = {"QT_QPA_PLATFORM=offscreen", "HOME=" + home_, "VYR_REGISTRY=" + home_ + "/registry.ini"};
        const pid_t regsvr = Spawn({REGSVR_PROGRAM, VYRDAX_LIBRARY}, home_, environment_, 0, home_ + "/regsvr.txt");
        const int status = WaitFor(regsvr, 20000);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << ReadText(home_ + "/regsvr.txt");
    }
    // dvrsim on a free port; the port, or 0.
    int StartSimulator(const std::vector<std::string>& options)
    {
        std::string error;
        if (!simulator_.start(options, &error)) {
            ADD_FAILURE() << "dvrsim did not start: " << error;
            return 0;
        }
        return simulator_.port();
    }

    // Runs vyrhost on `script` under the limit; its wait status.
    int RunHost(const std::string& script, rlim_t limitBytes, std::string* output)
    {
        const std::string scriptPath = home_ + "/script.txt";
        std::ofstream(scriptPath) << script;
        const std::string outputPath = home_ + "/vyrhost.txt";
        const pid_t pid =
            Spawn({VYRHOST_PROGRAM, "--script", scriptPath}, home_, environment_, limitBytes, outputPath);
        const int status = WaitFor(pid, 180000);
        *output = ReadText(outputPath);
        return status;
    }

    std::vector<std::string> Files(const std::string& ending) const
    {
        std::vector<std::string> found;
        for (const auto& e : fs::recursive_directory_iterator(home_ + "/rec")) {
            const std::string p = e.path().string();
            if (p.size() >= ending.size() && p.compare(p.size() - ending.size(), ending.size(), ending) == 0)
                found.push_back(p);
        }
        return found;
    }

    QTemporaryDir dir_;
    std::string home_;
    std::vector<std::string> environment_;
    SimProcess simulator_;
};

TEST_F(ControlAtTheLimit, LocalRecordingStopsAtTheLimitAndLeavesConsistentFiles)
{
    const int port = StartSimulator({"--channels", "1", "--size", "704x480", "--interlace", "1", "--fps", "30"});
    ASSERT_GT(port, 0) << ReadText(home_ + "/dvrsim.txt");
    fs::create_directories(home_ + "/rec");
    const std::string rec = home_ + "/rec";
    const std::string script = "call setDispChannel 1\n"
                               "call SetConnectInfo \"Cam0\" \"Guest\" \"\" \"\" \"127.0.0.1\" " +
                               std::to_string(port) +
                               " 0 1 0 0\n"
                               "call Connect 0\n"
                               "wait 0x605 30000\n"
                               "call SetRecType 0\n"
                               "call StartRecord \"" + rec + "\" \"F.Cam0.mp4\" \"F.Cam0\" 0 0\n"
                               "wait 0x607 60000\n"
                               "call SetRecType 1\n"
                               "call StartRecord \"" + rec + "\" \"A.Cam0.avi\" \"A.Cam0\" 0 0\n"
                               "wait 0x607 60000\n"
                               "sleep 300\n"
                               "call DisConnectSvr 0\n"
                               "quit\n";
    std::string output;
    const int status = RunHost(script, 300 * 1024, &output);
    ASSERT_TRUE(WIFEXITED(status)) << "status " << status << "\n" << output;
    EXPECT_EQ(WEXITSTATUS(status), 0) << output;
    // Each file's write error: the box and the stopped notice.
    std::size_t boxes = 0;
    for (std::size_t at = 0; (at = output.find("BOX Record File Open Error!", at)) != std::string::npos; ++at)
        ++boxes;
    EXPECT_EQ(boxes, 2u) << output;

    const auto movies = Files(".mp4");
    ASSERT_FALSE(movies.empty());
    for (const std::string& movie : movies) {
        SCOPED_TRACE(movie);
        EXPECT_LE(fs::file_size(movie), 300u * 1024);
        const std::string dumpOutput = home_ + "/movdump.txt";
        const int dump = WaitFor(Spawn({MOVDUMP_PROGRAM, movie, "--quiet"}, home_, {}, 0, dumpOutput), 30000);
        EXPECT_TRUE(WIFEXITED(dump) && WEXITSTATUS(dump) == 0) << ReadText(dumpOutput);
    }
    // An AVI file that could not be finished leaves no temporary files.
    EXPECT_TRUE(Files(".str").empty());
    EXPECT_TRUE(Files(".idx").empty());
}

// Four channels start recording on a disk that takes no frame: each gets
// its box and its stopped notice, and no file is left, not even an empty
// movie file and index that the catalogue would list.
TEST_F(ControlAtTheLimit, RecordingsThatHoldNoWholeFrameLeaveNoFiles)
{
    const int port = StartSimulator({"--channels", "4", "--size", "704x480", "--fps", "30"});
    ASSERT_GT(port, 0) << ReadText(home_ + "/dvrsim.txt");
    const std::string rec = home_ + "/rec";
    fs::create_directories(rec);
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    std::string script = "call setDispChannel 4\n";
    for (int ch = 0; ch < 4; ++ch)
        script += "call SetConnectInfo \"Cam" + std::to_string(ch) + "\" \"Guest\" \"\" \"\" \"127.0.0.1\" " +
                  std::to_string(port) + " 0 " + std::to_string(ch + 1) + " 0 " + std::to_string(ch) +
                  "\ncall Connect " + std::to_string(ch) + "\n";
    for (int ch = 0; ch < 4; ++ch)
        script += "wait 0x605 30000\n";
    script += "call SetRecType 0\n";
    for (int ch = 0; ch < 4; ++ch) {
        char name[64];
        std::snprintf(name, sizeof name, "F.Cam%d.%04d%02d%02d.%02d%02d%02d.%02d.mp4", ch, local.tm_year + 1900,
                      local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, ch);
        script += "call StartRecord \"" + rec + "\" \"" + name + "\" \"F.Cam" + std::to_string(ch) + "\" 0 " +
                  std::to_string(ch) + "\n";
    }
    for (int ch = 0; ch < 4; ++ch)
        script += "wait 0x607 60000\n";
    script += "sleep 300\ncall DisConnectSvr -1\nquit\n";
    std::string output;
    const int status = RunHost(script, 1000, &output);
    ASSERT_TRUE(WIFEXITED(status)) << "status " << status << "\n" << output;
    EXPECT_EQ(WEXITSTATUS(status), 0) << output;
    std::size_t boxes = 0;
    for (std::size_t at = 0; (at = output.find("BOX Record File Open Error!", at)) != std::string::npos; ++at)
        ++boxes;
    EXPECT_EQ(boxes, 4u) << output;
    EXPECT_TRUE(Files(".mp4").empty()) << output;
    EXPECT_TRUE(Files(".mp4i").empty()) << output;
}

TEST_F(ControlAtTheLimit, ABackupAtTheLimitEndsAsFailedAndTheProgramLivesOn)
{
    const int port = StartSimulator({"--channels", "1", "--size", "704x480", "--fps", "30"});
    ASSERT_GT(port, 0) << ReadText(home_ + "/dvrsim.txt");
    const std::string rec = home_ + "/rec", backup = home_ + "/backup";
    fs::create_directories(rec);
    fs::create_directories(backup);
    // A few seconds of recording, made without a limit, named as the
    // viewers name them so that the backup finds it.
    const std::time_t start = std::time(nullptr) - 2;
    std::tm local{};
    localtime_r(&start, &local);
    char name[64];
    std::strftime(name, sizeof name, "F.Cam0.%Y%m%d.%H%M%S.00.mp4", &local);
    std::string output;
    int status = RunHost("call setDispChannel 1\n"
                         "call SetConnectInfo \"Cam0\" \"Guest\" \"\" \"\" \"127.0.0.1\" " + std::to_string(port) +
                             " 0 1 0 0\n"
                             "call Connect 0\n"
                             "wait 0x605 30000\n"
                             "call SetRecType 0\n"
                             "call StartRecord \"" + rec + "\" \"" + name + "\" \"F.Cam0\" 0 0\n"
                             "sleep 8000\n"
                             "call StopRecord 0\n"
                             "call DisConnectSvr 0\n"
                             "quit\n",
                         0, &output);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << output;
    const std::time_t end = std::time(nullptr) + 2;
    uint64_t recorded = 0;
    for (const std::string& movie : Files(".mp4"))
        recorded += fs::file_size(movie);
    ASSERT_GT(recorded, 2u << 20) << "a backup is estimated in whole MiB";

    constexpr rlim_t kLimit = 512 * 1024;
    status = RunHost("call setDispChannel 1\n"
                     "call BackUp \"" + rec + "\" \"" + backup + "\" " + std::to_string(start) + " " +
                         std::to_string(end) +
                         " 100000\n"
                         "wait 0x60F 10000\n"
                         "wait 0x60F 60000\n"
                         "quit\n",
                     kLimit, &output);
    ASSERT_TRUE(WIFEXITED(status)) << "status " << status << "\n" << output;
    EXPECT_EQ(WEXITSTATUS(status), 0) << output;
    // The dialog is told the backup failed. The player goes into the folder
    // first and is larger than the limit, so its copy fails and nothing of
    // the backup is left behind: no folder that would not play by itself.
    EXPECT_NE(output.find("MSG 0x60F 0 -1"), std::string::npos) << output;
    EXPECT_TRUE(fs::is_empty(backup)) << output;
}

} // namespace
