// Backups of recorded time ranges: which frames are copied, the checksummed
// file header (checked by Python's zlib), the folder, the host messages, and
// a disk that fills up.
#include "MessageHost.h"
#include "PlaybackFixture.h"
#include "RecordTestSupport.h"

#include "control/CVyrdaxCtrl.h"
#include "control/backup/CBackupMaker.h"
#include "control/backup/CBackupRuns.h"
#include "platform/MessageBox.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <fcntl.h>
#include <set>
#include <thread>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

namespace {

namespace fs = std::filesystem;
using namespace vyrdax;
using platform::Variant;
using recordtest::LocalTime;
using recordtest::LE32;
using recordtest::RunCommand;
using testsupport::MessageHost;
using testsupport::PumpUntil;

// A backup movie file read by its byte layout: the frames behind the 32-byte
// header, and the index beside it (".m4i").
struct BackupFile {
    bool ok = false;
    uint8_t header[32] = {};
    std::vector<recordtest::ParsedFrame> frames;
    std::vector<uint32_t> indexOffsets;
};

BackupFile ReadBackup(const std::string& folder, int slot)
{
    BackupFile b;
    const std::string movie = vyrmovie::BackupMovieFile(folder, slot);
    // The layout is a recording's: reuse the independent parser on a copy
    // whose index is named the recording way.
    const std::string copy = movie + ".check.mp4";
    fs::copy_file(movie, copy, fs::copy_options::overwrite_existing);
    fs::copy_file(vyrmovie::BackupIndexFile(folder, slot), copy + "i", fs::copy_options::overwrite_existing);
    const recordtest::ParsedMovie m = recordtest::ParseMovie(copy);
    fs::remove(copy);
    fs::remove(copy + "i");
    b.ok = m.ok && m.indexOk;
    std::copy(m.fileHeader, m.fileHeader + 32, b.header);
    b.frames = m.frames;
    b.indexOffsets = m.indexOffsets;
    return b;
}

// The frames of a recording from the first key frame at or after `start` to
// the last frame not after `end`.
std::vector<recordtest::ParsedFrame> Expected(const std::string& movie, std::time_t start, std::time_t end)
{
    const recordtest::ParsedMovie m = recordtest::ParseMovie(movie);
    std::vector<recordtest::ParsedFrame> out;
    bool started = false;
    for (const auto& f : m.frames) {
        const std::time_t t = static_cast<int32_t>(LE32(f.header + 24));
        started = started || (f.key && t >= start);
        if (!started)
            continue;
        if (t > end)
            break;
        out.push_back(f);
    }
    return out;
}

void ExpectSameFrames(const BackupFile& b, const std::vector<recordtest::ParsedFrame>& expected, int slot)
{
    ASSERT_EQ(b.frames.size(), expected.size());
    for (std::size_t k = 0; k < expected.size(); ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(b.frames[k].payload, expected[k].payload);
        EXPECT_EQ(b.frames[k].header[12], expected[k].header[12] - 100); // year from 2000
        EXPECT_EQ(b.frames[k].header[30] | b.frames[k].header[31] << 8, slot);
        EXPECT_EQ(std::memcmp(b.frames[k].header + 13, expected[k].header + 13, 17), 0);
    }
}

Variant Text(const std::string& s) { return Variant::String(std::u16string(s.begin(), s.end())); }

bool SameBytes(const std::string& a, const std::string& b)
{
    std::ifstream x(a, std::ios::binary), y(b, std::ios::binary);
    const std::string bytesA((std::istreambuf_iterator<char>(x)), {}), bytesB((std::istreambuf_iterator<char>(y)), {});
    return x && y && !bytesA.empty() && bytesA == bytesB;
}

bool PythonCrcHolds(const std::string& path)
{
    int status = -1;
    const std::string out = RunCommand("python3 -c \"import zlib,sys; h=open(sys.argv[1],'rb').read(32); "
                                "print(zlib.crc32(h[:24], 0xFFFFFFFF) ^ 0xFFFFFFFF == int.from_bytes(h[28:32], "
                                "'little'))\" " + path,
                                &status);
    return status == 0 && out == "True\n";
}

class Backup : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        zone_ = new recordtest::ScopedTimeZone("UTC");
        recordings_ = new recordtest::TempDir;
        playbacktest::WriteRecordings(recordings_->path(), playbacktest::YearEndSegments());
    }
    static void TearDownTestSuite()
    {
        delete recordings_;
        delete zone_;
    }
    static std::string Recording(const std::string& name)
    {
        return recordings_->path() + "/" + name.substr(7, 4) + "-" + name.substr(11, 2) + "-" + name.substr(13, 2) +
               "/" + name;
    }

    static recordtest::ScopedTimeZone* zone_;
    static recordtest::TempDir* recordings_;
    recordtest::TempDir out;
    std::atomic<bool> stop{false};
};

recordtest::ScopedTimeZone* Backup::zone_ = nullptr;
recordtest::TempDir* Backup::recordings_ = nullptr;

TEST_F(Backup, ARangeWithinADayCopiesFromTheFirstKeyFrameAtItsStartToTheLastFrameBeforeItsEnd)
{
    const std::time_t start = LocalTime(2026, 12, 31, 10, 0, 3), end = LocalTime(2026, 12, 31, 10, 0, 12);
    CBackupMaker maker(recordings_->path(), start, end);
    ASSERT_TRUE(maker.Run(out.path(), stop));

    const BackupFile b = ReadBackup(out.path(), 0);
    EXPECT_TRUE(b.ok);
    const auto expected = Expected(Recording("F.Cam0.20261231.100000.00.mp4"), start, end);
    ASSERT_FALSE(expected.empty());
    EXPECT_TRUE(expected.front().key);
    EXPECT_EQ(static_cast<std::time_t>(static_cast<int32_t>(LE32(expected.front().header + 24))), start);
    ExpectSameFrames(b, expected, 0);
    // The file header is the first frame's header with the save time and the checksum.
    EXPECT_EQ(std::memcmp(b.header, expected.front().header, 16), 0);
    EXPECT_EQ(std::memcmp(b.header + 22, expected.front().header + 22, 6), 0);
    EXPECT_TRUE(PythonCrcHolds(vyrmovie::BackupMovieFile(out.path(), 0)));
    // Channels with frames in the range get their files; one without none.
    EXPECT_TRUE(fs::exists(vyrmovie::BackupMovieFile(out.path(), 1)));
    EXPECT_TRUE(fs::exists(vyrmovie::BackupMovieFile(out.path(), 3)));
    EXPECT_FALSE(fs::exists(vyrmovie::BackupMovieFile(out.path(), 2)));
    EXPECT_FALSE(fs::exists(vyrmovie::BackupIndexFile(out.path(), 2)));

    // movdump takes the backup files as they are.
    for (int slot : {0, 1, 3}) {
        int status = -1;
        const std::string dump =
            RunCommand(std::string(MOVDUMP_PATH) + " --quiet " + vyrmovie::BackupMovieFile(out.path(), slot), &status);
        EXPECT_EQ(status, 0) << dump;
        EXPECT_NE(dump.find("authentic"), std::string::npos) << dump;
    }
}

TEST_F(Backup, AStartAfterAFilesLastKeyFrameCopiesNothingOfIt)
{
    const std::time_t start = LocalTime(2026, 12, 31, 10, 0, 20), end = LocalTime(2026, 12, 31, 10, 0, 29);
    CBackupMaker maker(recordings_->path(), start, end);
    ASSERT_TRUE(maker.Run(out.path(), stop));
    EXPECT_FALSE(fs::exists(vyrmovie::BackupMovieFile(out.path(), 0)));
    const BackupFile b = ReadBackup(out.path(), 1); // channel 1 runs to 10:00:25
    EXPECT_TRUE(b.ok);
    ExpectSameFrames(b, Expected(Recording("M.Cam1.20261231.100005.01.mp4"), start, end), 1);
}

TEST_F(Backup, TwoFilesOfAChannelGiveOneFileWithOneHeader)
{
    const std::time_t start = LocalTime(2026, 12, 31, 10, 0, 0), end = LocalTime(2026, 12, 31, 10, 0, 59);
    CBackupMaker maker(recordings_->path(), start, end);
    ASSERT_TRUE(maker.Run(out.path(), stop));
    const BackupFile b = ReadBackup(out.path(), 0);
    EXPECT_TRUE(b.ok);
    auto expected = Expected(Recording("F.Cam0.20261231.100000.00.mp4"), start, end);
    const auto second = Expected(Recording("F.Cam0.20261231.100030.00.mp4"), start, end);
    expected.insert(expected.end(), second.begin(), second.end());
    ExpectSameFrames(b, expected, 0);
    std::size_t keys = 0;
    for (const auto& f : expected)
        keys += f.key;
    EXPECT_EQ(b.indexOffsets.size(), keys);
    EXPECT_EQ(b.indexOffsets.front(), 32u);
}

TEST_F(Backup, ASecondRunIntoTheSameFolderStartsItsFilesAfresh)
{
    // Two backups in one second share a folder name.
    const std::time_t start = LocalTime(2026, 12, 31, 10, 0, 0), end = LocalTime(2026, 12, 31, 10, 0, 59);
    ASSERT_TRUE(CBackupMaker(recordings_->path(), start, end).Run(out.path(), stop));
    const auto size = fs::file_size(vyrmovie::BackupMovieFile(out.path(), 0));
    ASSERT_TRUE(CBackupMaker(recordings_->path(), start, end).Run(out.path(), stop));
    EXPECT_EQ(fs::file_size(vyrmovie::BackupMovieFile(out.path(), 0)), size);
    EXPECT_TRUE(ReadBackup(out.path(), 0).ok);
}

TEST_F(Backup, TheEstimateCountsEachIndexFromItsFirstToItsLastKeyFrameInTheRange)
{
    const std::time_t start = LocalTime(2026, 12, 31, 0, 0, 0), end = LocalTime(2027, 1, 1, 23, 59, 59);
    int64_t expected = 0;
    for (const auto& s : playbacktest::YearEndSegments()) {
        std::tm t{};
        localtime_r(&s.start, &t);
        const recordtest::ParsedMovie m =
            recordtest::ParseMovie(Recording(vyrmovie::RecordingFileName(s.prefix, t, s.channel)));
        ASSERT_FALSE(m.indexOffsets.empty());
        expected += (m.indexOffsets.back() - m.indexOffsets.front()) / 1024;
    }
    EXPECT_EQ(CBackupMaker(recordings_->path(), start, end).EstimateKiB(), expected);
    EXPECT_EQ(CBackupMaker(recordings_->path(), start, start).EstimateKiB(), 0);
    // An end before the first key frame in range adds nothing, never less.
    EXPECT_EQ(CBackupMaker(recordings_->path(), LocalTime(2026, 12, 31, 10, 0, 1), LocalTime(2026, 12, 31, 10, 0, 0))
                  .EstimateKiB(),
              0);
}

TEST_F(Backup, ARecordCutShortEndsTheCopyAtTheLastWholeFrame)
{
    recordtest::TempDir cut;
    const std::string source = Recording("F.Cam0.20261231.100000.00.mp4");
    const std::string day = cut.path() + "/2026-12-31";
    fs::create_directories(day);
    const std::string copy = day + "/" + vyrmovie::BaseName(source);
    fs::copy_file(source, copy);
    fs::copy_file(source + "i", copy + "i");
    fs::resize_file(copy, fs::file_size(copy) - 100);
    const std::time_t start = LocalTime(2026, 12, 31, 10, 0, 0), end = LocalTime(2026, 12, 31, 10, 1, 0);
    CBackupMaker maker(cut.path(), start, end);
    ASSERT_TRUE(maker.Run(out.path(), stop));
    auto expected = Expected(source, start, end);
    expected.pop_back();
    const BackupFile b = ReadBackup(out.path(), 0);
    EXPECT_TRUE(b.ok);
    ExpectSameFrames(b, expected, 0);
}

TEST_F(Backup, AZeroLengthRecordEndsTheCopyAfterItsHeaderIsCopiedAndIndexed)
{
    recordtest::TempDir cut;
    const std::string source = Recording("F.Cam0.20261231.100000.00.mp4");
    const recordtest::ParsedMovie m = recordtest::ParseMovie(source);
    ASSERT_GT(m.frames.size(), 12u);
    const recordtest::ParsedFrame& ending = m.frames[10];
    ASSERT_TRUE(ending.key);
    const std::string day = cut.path() + "/2026-12-31";
    fs::create_directories(day);
    const std::string copy = day + "/" + vyrmovie::BaseName(source);
    fs::copy_file(source, copy);
    fs::copy_file(source + "i", copy + "i");
    {
        std::fstream f(copy, std::ios::in | std::ios::out | std::ios::binary);
        uint8_t word[4];
        std::memcpy(word, ending.header + 4, 4);
        word[0] = word[1] = 0;
        word[2] &= 0xF0; // length 0, type and channel kept
        f.seekp(static_cast<std::streamoff>(ending.offset + 4));
        f.write(reinterpret_cast<const char*>(word), 4);
    }
    const std::time_t start = LocalTime(2026, 12, 31, 10, 0, 0), end = LocalTime(2026, 12, 31, 10, 1, 0);
    ASSERT_TRUE(CBackupMaker(cut.path(), start, end).Run(out.path(), stop));
    const BackupFile b = ReadBackup(out.path(), 0);
    EXPECT_TRUE(b.ok);
    ASSERT_EQ(b.frames.size(), 11u);
    EXPECT_EQ(b.frames.back().length, 0u);
    // Its index record points at its header, the file's last bytes.
    EXPECT_EQ(b.indexOffsets.back(), b.frames.back().offset);
    EXPECT_EQ(fs::file_size(vyrmovie::BackupMovieFile(out.path(), 0)), b.frames.back().offset + 32);
}

TEST(BackupDays, ADaylightSavingNightNeitherSkipsNorRepeatsADay)
{
    recordtest::ScopedTimeZone berlin("Europe/Berlin");
    auto days = [](std::time_t start, std::time_t end) {
        std::vector<int> seen;
        CBackupMaker("/nonexistent", start, end).ForEachDay([&](int, int m, int d) { seen.push_back(m * 100 + d); });
        return seen;
    };
    // 29 March 2026 has 23 hours, 25 October 2026 has 25.
    EXPECT_EQ(days(LocalTime(2026, 3, 28, 23, 30, 0), LocalTime(2026, 3, 30, 0, 30, 0)),
              (std::vector<int>{328, 329, 330}));
    EXPECT_EQ(days(LocalTime(2026, 10, 24, 0, 30, 0), LocalTime(2026, 10, 26, 0, 30, 0)),
              (std::vector<int>{1024, 1025, 1026}));
    EXPECT_EQ(days(LocalTime(2026, 12, 31, 23, 0, 0), LocalTime(2027, 1, 1, 1, 0, 0)), (std::vector<int>{1231, 101}));

    recordtest::TempDir recordings, out;
    playbacktest::WriteRecordings(recordings.path(), {{0, "F.Night", LocalTime(2026, 3, 28, 23, 40, 0), 3},
                                                      {0, "F.Night", LocalTime(2026, 3, 29, 12, 0, 0), 3},
                                                      {0, "F.Night", LocalTime(2026, 3, 30, 0, 10, 0), 3}});
    std::atomic<bool> stop{false};
    CBackupMaker maker(recordings.path(), LocalTime(2026, 3, 28, 23, 30, 0), LocalTime(2026, 3, 30, 0, 30, 0));
    ASSERT_TRUE(maker.Run(out.path(), stop));
    const BackupFile b = ReadBackup(out.path(), 0);
    EXPECT_TRUE(b.ok);
    EXPECT_EQ(b.frames.size(), 90u); // three files of 3 s at 10 frames a second
}

// ---- through the control -------------------------------------------------------

class ControlBackup : public Backup {
protected:
    void SetUp() override
    {
        host.resize(640, 480);
        ctrl = new CVyrdaxCtrl(&host);
        ctrl->setDispChannel(4);
        previous = platform::SetMessageBoxHandler([this](const std::string& text, const std::string&, unsigned) {
            boxes.push_back(text);
            return 1;
        });
    }
    void TearDown() override
    {
        ctrl->Release();
        platform::SetMessageBoxHandler(previous);
    }
    int32_t BackUp(std::time_t start, std::time_t end, int32_t diskSize)
    {
        Variant r;
        EXPECT_EQ(ctrl->Invoke(DISPID_BackUp,
                               {Text(recordings_->path()), Text(out.path()),
                                Variant::Long(static_cast<int32_t>(start)), Variant::Long(static_cast<int32_t>(end)),
                                Variant::Long(diskSize)},
                               &r),
                  platform::S_OK);
        return r.i;
    }
    std::vector<MessageHost::Entry> Progress() const { return host.Of(WM_VIDEO_PROGRESS); }
    // A folder holds the whole range from `from` to `to`: every channel
    // frame for frame as the backup maker copies it alone, each file whole
    // to movdump, and the player beside them. The channels it holds.
    int ExpectComplete(const std::string& folder, std::time_t from, std::time_t to)
    {
        recordtest::TempDir made;
        std::atomic<bool> stop{false};
        EXPECT_TRUE(CBackupMaker(recordings_->path(), from, to).Run(made.path(), stop));
        int channels = 0;
        for (int slot = 0; slot < 64; ++slot) {
            SCOPED_TRACE(slot);
            const std::string movie = vyrmovie::BackupMovieFile(folder, slot);
            EXPECT_EQ(fs::exists(movie), fs::exists(vyrmovie::BackupMovieFile(made.path(), slot)));
            if (!fs::exists(movie))
                continue;
            ++channels;
            const BackupFile b = ReadBackup(folder, slot), alone = ReadBackup(made.path(), slot);
            EXPECT_TRUE(b.ok);
            EXPECT_TRUE(alone.ok);
            EXPECT_EQ(b.frames.size(), alone.frames.size());
            for (std::size_t k = 0; k < std::min(b.frames.size(), alone.frames.size()); ++k) {
                EXPECT_EQ(b.frames[k].payload, alone.frames[k].payload) << k;
                EXPECT_EQ(std::memcmp(b.frames[k].header, alone.frames[k].header, 32), 0) << k;
            }
            EXPECT_EQ(b.indexOffsets, alone.indexOffsets);
            int status = -1;
            const std::string dump = RunCommand(std::string(MOVDUMP_PATH) + " --quiet " + movie, &status);
            EXPECT_EQ(status, 0) << dump;
        }
        EXPECT_TRUE(SameBytes(folder + "/ZoPlayer", ZOPLAYER_PROGRAM));
        return channels;
    }

    const std::time_t start = LocalTime(2026, 12, 31, 0, 0, 0), end = LocalTime(2027, 1, 1, 23, 59, 59);
    MessageHost host;
    CVyrdaxCtrl* ctrl = nullptr;
    std::vector<std::string> boxes;
    platform::MessageBoxHandler previous;
};

TEST_F(ControlBackup, ABackupTellsItsEstimateThenItsEndAndLeavesAFolderThatPlaysAnywhere)
{
    const int64_t mib = CBackupRuns::EstimateMiB(CBackupMaker(recordings_->path(), start, end).EstimateKiB());
    ASSERT_GE(mib, 1) << "the fixture must hold at least 1 MiB";
    const std::time_t before = std::time(nullptr);
    // The player comes from the program's directory, wherever the host's
    // working directory is: here one that holds a program of that name too.
    const fs::path previousDirectory = fs::current_path();
    recordtest::TempDir elsewhere;
    std::ofstream(elsewhere.path() + "/ZoPlayer") << "not the player";
    fs::current_path(elsewhere.path());
    EXPECT_EQ(BackUp(start, end, static_cast<int32_t>(mib)), 1);
    fs::current_path(previousDirectory);
    ASSERT_TRUE(PumpUntil([&] { return Progress().size() == 2; }, 20000));
    EXPECT_EQ(Progress()[0], (MessageHost::Entry{WM_VIDEO_PROGRESS, 1, static_cast<long>(mib)}));
    EXPECT_EQ(Progress()[1], (MessageHost::Entry{WM_VIDEO_PROGRESS, 0, 0}));
    EXPECT_TRUE(boxes.empty());

    const std::string folder = ctrl->Backups().LastFolder();
    std::tm t{};
    localtime_r(&before, &t);
    EXPECT_EQ(fs::path(folder).parent_path().string(), out.path());
    EXPECT_EQ(vyrmovie::BaseName(folder).substr(0, 11), vyrmovie::BackupFolder("", t).substr(1, 11));
    // The player compares creation and last-write times: a backup file
    // reads as written at once.
    struct statx sx {};
    if (::statx(AT_FDCWD, vyrmovie::BackupMovieFile(folder, 0).c_str(), 0, STATX_BTIME | STATX_MTIME, &sx) == 0 &&
        (sx.stx_mask & STATX_BTIME)) {
        EXPECT_EQ(sx.stx_mtime.tv_sec, sx.stx_btime.tv_sec);
        EXPECT_EQ(sx.stx_mtime.tv_nsec, sx.stx_btime.tv_nsec);
    }
    const std::string library = CBackupRuns::DecoderLibraryPath();
    ASSERT_FALSE(library.empty());
    EXPECT_TRUE(SameBytes(folder + "/" + fs::path(library).filename().string(), library)) << library;
    EXPECT_TRUE(SameBytes(folder + "/ZoPlayer", ZOPLAYER_PROGRAM));
    for (int slot = 0; slot < 4; ++slot) {
        SCOPED_TRACE(slot);
        const std::string movie = vyrmovie::BackupMovieFile(folder, slot);
        EXPECT_TRUE(ReadBackup(folder, slot).ok);
        EXPECT_TRUE(PythonCrcHolds(movie));
        int status = -1;
        const std::string dump = RunCommand(std::string(MOVDUMP_PATH) + " --quiet " + movie, &status);
        EXPECT_EQ(dump.find("ERROR"), std::string::npos) << dump;
        EXPECT_EQ(status, 0);
    }
    // A damaged header is an error to movdump.
    const std::string movie = vyrmovie::BackupMovieFile(folder, 0);
    {
        std::fstream f(movie, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(9);
        f.put('\x7F');
    }
    EXPECT_FALSE(PythonCrcHolds(movie));
    int status = -1;
    EXPECT_NE(RunCommand(std::string(MOVDUMP_PATH) + " --quiet " + movie, &status).find("checksum"), std::string::npos);
    EXPECT_EQ(status, 1);
}

TEST_F(ControlBackup, ARangeOfLessThanAMebibyteIsStillBackedUp)
{
    // The shortest range from 10:00 that holds anything at all.
    const std::time_t minuteStart = LocalTime(2026, 12, 31, 10, 0, 0);
    std::time_t minuteEnd = minuteStart;
    int64_t kib = 0;
    while (kib == 0 && minuteEnd < minuteStart + 60)
        kib = CBackupMaker(recordings_->path(), minuteStart, ++minuteEnd).EstimateKiB();
    ASSERT_GT(kib, 0);
    ASSERT_LT(kib, 1024) << "the range must hold less than 1 MiB";
    EXPECT_EQ(CBackupRuns::EstimateMiB(kib), 1);
    EXPECT_EQ(CBackupRuns::EstimateMiB(0), 0);
    EXPECT_EQ(CBackupRuns::EstimateMiB(1024), 1);
    EXPECT_EQ(CBackupRuns::EstimateMiB(1025), 2);
    EXPECT_EQ(BackUp(minuteStart, minuteEnd, 1), 1);
    ASSERT_TRUE(PumpUntil([&] { return Progress().size() == 2; }, 20000));
    EXPECT_EQ(Progress()[0], (MessageHost::Entry{WM_VIDEO_PROGRESS, 1, 1}));
    EXPECT_EQ(Progress()[1], (MessageHost::Entry{WM_VIDEO_PROGRESS, 0, 0}));
    EXPECT_TRUE(ReadBackup(ctrl->Backups().LastFolder(), 0).ok);
}

TEST_F(ControlBackup, RefusedBackupsCreateNothing)
{
    const int64_t mib = CBackupRuns::EstimateMiB(CBackupMaker(recordings_->path(), start, end).EstimateKiB());
    EXPECT_EQ(BackUp(start, end, static_cast<int32_t>(mib - 1)), 0);
    EXPECT_EQ(BackUp(LocalTime(2025, 5, 1, 0, 0, 0), LocalTime(2025, 5, 2, 0, 0, 0), 100000), 0);
    PumpUntil([] { return false; }, 100);
    EXPECT_EQ(host.LParams(WM_VIDEO_PROGRESS), (std::vector<int>{static_cast<int>(mib), 0}));
    EXPECT_EQ(host.Count(WM_VIDEO_PROGRESS, 0), 0);
    EXPECT_TRUE(recordtest::ListFiles(out.path()).empty());
}

TEST_F(ControlBackup, AFolderTakenAlreadyMovesTheBackupToTheNextFreeSecondAndLeavesItAsItWas)
{
    // The folders of the next seconds are there already, as backups started
    // a moment before would have made them.
    const std::time_t now = std::time(nullptr);
    std::vector<std::string> taken;
    for (std::time_t t = now; t < now + 20; ++t) {
        std::tm local{};
        localtime_r(&t, &local);
        taken.push_back(vyrmovie::BackupFolder(out.path(), local));
        fs::create_directories(taken.back());
        std::ofstream(taken.back() + "/CH00_00.mp4") << "the other backup";
    }
    const int64_t mib = CBackupRuns::EstimateMiB(CBackupMaker(recordings_->path(), start, end).EstimateKiB());
    EXPECT_EQ(BackUp(start, end, static_cast<int32_t>(mib)), 1);
    ASSERT_LT(std::time(nullptr), now + 20);
    ASSERT_TRUE(PumpUntil([&] { return host.Count(WM_VIDEO_PROGRESS, 0) == 1; }, 20000));
    EXPECT_EQ(Progress(), (std::vector<MessageHost::Entry>{{WM_VIDEO_PROGRESS, 1, static_cast<long>(mib)},
                                                           {WM_VIDEO_PROGRESS, 0, 0}}));
    const std::time_t free = now + 20;
    std::tm local{};
    localtime_r(&free, &local);
    EXPECT_EQ(ctrl->Backups().LastFolder(), vyrmovie::BackupFolder(out.path(), local));
    EXPECT_EQ(ExpectComplete(ctrl->Backups().LastFolder(), start, end), 5);
    for (const std::string& folder : taken) {
        std::ifstream kept(folder + "/CH00_00.mp4");
        std::string text;
        std::getline(kept, text);
        EXPECT_EQ(text, "the other backup") << folder;
        EXPECT_EQ(recordtest::ListFiles(folder).size(), 1u) << folder;
    }
    EXPECT_TRUE(boxes.empty());
}

// Two presses of the dialog's button in one second, the second once the
// first backup has ended, then two backups side by side: each backup gets a
// folder of its own and completes.
TEST_F(ControlBackup, BackUpTwiceInOneSecondAndTwiceSideBySideGivesEachItsOwnCompleteFolder)
{
    // A short range, as an operator backs up a clip: channels 0, 1, 3 and 4.
    const std::time_t from = LocalTime(2026, 12, 31, 10, 0, 0), to = LocalTime(2026, 12, 31, 10, 0, 10);
    const int32_t mib = static_cast<int32_t>(CBackupRuns::EstimateMiB(CBackupMaker(recordings_->path(), from, to).EstimateKiB()));
    // Both presses fall in one second of the clock that names the folders,
    // however long the first backup takes on a loaded machine.
    static std::time_t second;
    second = std::time(nullptr);
    CBackupRuns::SetFolderClockForTests([] { return second; });
    struct WallClockAgain {
        ~WallClockAgain() { CBackupRuns::SetFolderClockForTests(nullptr); }
    } wallClockAgain;
    std::vector<std::string> folders;
    {
        const int ended = host.Count(WM_VIDEO_PROGRESS, 0);
        ASSERT_EQ(BackUp(from, to, mib), 1);
        folders.push_back(ctrl->Backups().LastFolder());
        ASSERT_TRUE(PumpUntil([&] { return host.Count(WM_VIDEO_PROGRESS, 0) == ended + 1; }, 20000));
        ASSERT_EQ(BackUp(from, to, mib), 1);
        folders.push_back(ctrl->Backups().LastFolder());
        ASSERT_TRUE(PumpUntil([&] { return host.Count(WM_VIDEO_PROGRESS, 0) == ended + 2; }, 20000));
    }
    for (const std::time_t t : {second, second + 1}) {
        std::tm local{};
        localtime_r(&t, &local);
        EXPECT_EQ(folders[static_cast<std::size_t>(t - second)], vyrmovie::BackupFolder(out.path(), local));
    }
    CBackupRuns::SetFolderClockForTests(nullptr);

    const int ended = host.Count(WM_VIDEO_PROGRESS, 0);
    ASSERT_EQ(BackUp(from, to, mib), 1);
    folders.push_back(ctrl->Backups().LastFolder());
    ASSERT_EQ(BackUp(from, to, mib), 1);
    folders.push_back(ctrl->Backups().LastFolder());
    ASSERT_TRUE(PumpUntil([&] { return host.Count(WM_VIDEO_PROGRESS, 0) == ended + 2; }, 30000));
    EXPECT_EQ(std::set<std::string>(folders.begin(), folders.end()).size(), 4u);
    std::size_t files = 0;
    for (const auto& e : fs::recursive_directory_iterator(out.path()))
        files += e.is_regular_file() ? 1 : 0;
    EXPECT_EQ(files, 4u * (4 * 2 + 2)) << "a movie and an index per channel, the player and the library";
    for (const MessageHost::Entry& e : host.Of(WM_VIDEO_PROGRESS, 0))
        EXPECT_EQ(e.lParam, 0);
    for (const std::string& folder : folders) {
        SCOPED_TRACE(folder);
        EXPECT_EQ(ExpectComplete(folder, from, to), 4);
    }
    EXPECT_TRUE(boxes.empty());
}

// The process may write no file beyond `limit` bytes: writes past it fail
// as on a full disk.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t limit)
    {
        ::getrlimit(RLIMIT_FSIZE, &previous_);
        oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = previous_;
        limited.rlim_cur = limit;
        EXPECT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &previous_);
        std::signal(SIGXFSZ, oldHandler_);
    }

private:
    rlimit previous_{};
    void (*oldHandler_)(int) = nullptr;
};

TEST_F(ControlBackup, APlayerOrDecoderThatDoesNotFitLeavesNoFolder)
{
    const int64_t mib = CBackupRuns::EstimateMiB(CBackupMaker(recordings_->path(), start, end).EstimateKiB());
    {
        FileSizeLimit limit(100 * 1024); // less than the decoder library
        EXPECT_EQ(BackUp(start, end, static_cast<int32_t>(mib)), 0);
    }
    EXPECT_EQ(Progress(), (std::vector<MessageHost::Entry>{{WM_VIDEO_PROGRESS, 1, static_cast<long>(mib)},
                                                          {WM_VIDEO_PROGRESS, 0, -1}}));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].rfind("Fail To Copy ", 0), 0u) << boxes[0];
    EXPECT_TRUE(recordtest::ListFiles(out.path()).empty()); // no folder, no part copy
    PumpUntil([] { return false; }, 200);
    EXPECT_EQ(host.Count(WM_VIDEO_PROGRESS, 0), 1); // and no copy thread
}

// A channel whose frames outgrow what a backup file's 32-bit index offsets
// address (here a lowered limit, as the full 4 GiB would take that much
// writing) ends at its last whole frame that fits, with a consistent index;
// the other channels are copied whole, and the run reports a failure.
TEST_F(Backup, AChannelThatOutgrowsItsFileEndsAtItsLastWholeFrameAndTheRunFails)
{
    const std::time_t from = LocalTime(2026, 12, 31, 0, 0, 0), to = LocalTime(2027, 1, 1, 23, 59, 59);
    recordtest::TempDir whole;
    std::atomic<bool> stop{false};
    ASSERT_TRUE(CBackupMaker(recordings_->path(), from, to).Run(whole.path(), stop));
    const BackupFile full = ReadBackup(whole.path(), 0);
    ASSERT_TRUE(full.ok);
    const uint64_t wholeSize = fs::file_size(vyrmovie::BackupMovieFile(whole.path(), 0));
    EXPECT_EQ(CBackupMaker::kLargestFile, 0xFFFFFFFFu);

    for (const uint64_t limit : {wholeSize / 3, wholeSize / 3 + 17, wholeSize - 1}) {
        SCOPED_TRACE(limit);
        recordtest::TempDir cut;
        EXPECT_FALSE(CBackupMaker(recordings_->path(), from, to, limit).Run(cut.path(), stop));
        const BackupFile b = ReadBackup(cut.path(), 0);
        EXPECT_TRUE(b.ok); // whole frames, every index record on a key frame's header
        const uint64_t size = fs::file_size(vyrmovie::BackupMovieFile(cut.path(), 0));
        EXPECT_LE(size, limit);
        // Exactly the frames that fit: the next one would not have.
        ASSERT_LT(b.frames.size(), full.frames.size());
        EXPECT_GT(size + 32 + full.frames[b.frames.size()].length, limit);
        for (std::size_t k = 0; k < b.frames.size(); ++k)
            ASSERT_EQ(b.frames[k].payload, full.frames[k].payload) << k;
        for (int ch = 1; ch < 5; ++ch)
            EXPECT_EQ(ReadBackup(cut.path(), ch).frames.size(), ReadBackup(whole.path(), ch).frames.size()) << ch;
    }
}

TEST_F(ControlBackup, DestroyingTheControlStopsARunningBackup)
{
    const int64_t mib = CBackupRuns::EstimateMiB(CBackupMaker(recordings_->path(), start, end).EstimateKiB());
    EXPECT_EQ(BackUp(start, end, static_cast<int32_t>(mib)), 1);
    ctrl->Release(); // joins the backup thread, whether it ended or not
    ctrl = new CVyrdaxCtrl(&host);
}

// ---- through a host program in a program directory of its own ---------------

// The host program, the control and the libraries they load, copied into a
// directory of their own with the player of the test's choosing, the
// control registered from there; the host runs from another working
// directory, which holds a "ZoPlayer" that is no player.
class BackupFromAProgramDirectory : public Backup {
protected:
    void MakeProgramDirectory(const std::string& player)
    {
        program = top.path() + "/program";
        working = top.path() + "/working";
        backups = top.path() + "/backups";
        for (const std::string& d : {program, working, backups})
            fs::create_directories(d);
        std::ofstream(working + "/ZoPlayer") << "not the player";
        const fs::path bin = fs::path(VYRHOST_PROGRAM).parent_path();
        fs::copy_file(VYRHOST_PROGRAM, program + "/vyrhost");
        for (const auto& e : fs::directory_iterator(bin))
            if (e.path().extension() == ".so")
                fs::copy_file(e.path(), program + "/" + e.path().filename().string());
        if (!player.empty())
            fs::copy_file(player, program + "/ZoPlayer");
        int status = -1;
        const std::string output =
            RunCommand(Environment() + std::string(REGSVR_PROGRAM) + " " + program + "/" +
                           fs::path(VYRDAX_LIBRARY).filename().string(), &status);
        ASSERT_EQ(status, 0) << output;
    }
    std::string Environment() const
    {
        return "HOME=" + top.path() + " VYR_REGISTRY=" + top.path() + "/registry.ini QT_QPA_PLATFORM=offscreen TZ=UTC ";
    }
    // The host backs up the fixture's range into `into`; `before` and
    // `after` stand around it in the shell (a file-size limit, a file
    // system).
    std::string RunBackUp(const std::string& into, const std::string& before, int* status,
                          const std::string& after = "")
    {
        std::ofstream(top.path() + "/script.txt")
            << "call setDispChannel 1\n"
               "call BackUp \"" << recordings_->path() << "\" \"" << into << "\" " << start << " " << end
            << " 100000\n"
               "wait 0x60F 10000\n"
               "wait 0x60F 60000\n"
               "quit\n";
        return RunCommand(before + "cd " + working + " && " + Environment() + program + "/vyrhost --script " +
                              top.path() + "/script.txt" + after,
                          status);
    }
    std::vector<std::string> BackupFolders(const std::string& directory) const
    {
        std::vector<std::string> folders;
        for (const auto& e : fs::directory_iterator(directory))
            folders.push_back(e.path().string());
        return folders;
    }
    // Every movie file left plays: movdump accepts it, it holds frames, and
    // no index is left without its movie file. The channels that are there.
    int ExpectEveryMovieFileConsistent(const std::string& folder)
    {
        int movies = 0;
        for (int slot = 0; slot < 64; ++slot) {
            SCOPED_TRACE(slot);
            const std::string movie = vyrmovie::BackupMovieFile(folder, slot);
            if (!fs::exists(movie)) {
                EXPECT_FALSE(fs::exists(vyrmovie::BackupIndexFile(folder, slot)));
                continue;
            }
            ++movies;
            int status = -1;
            const std::string dump = RunCommand(std::string(MOVDUMP_PATH) + " --quiet " + movie, &status);
            EXPECT_EQ(status, 0) << dump;
            EXPECT_GT(recordtest::ParseMovie(movie).frames.size(), 0u);
        }
        return movies;
    }

    const std::time_t start = LocalTime(2026, 12, 31, 0, 0, 0), end = LocalTime(2027, 1, 1, 23, 59, 59);
    recordtest::TempDir top;
    std::string program, working, backups;
};

TEST_F(BackupFromAProgramDirectory, ThePlayerComesFromTheProgramsDirectoryNotTheWorkingOne)
{
    MakeProgramDirectory(ZOPLAYER_PROGRAM);
    int status = -1;
    const std::string output = RunBackUp(backups, "", &status);
    EXPECT_EQ(status, 0) << output;
    EXPECT_NE(output.find("MSG 0x60F 0 0"), std::string::npos) << output;
    EXPECT_EQ(output.find("BOX"), std::string::npos) << output;
    const auto folders = BackupFolders(backups);
    ASSERT_EQ(folders.size(), 1u) << output;
    EXPECT_TRUE(SameBytes(folders[0] + "/ZoPlayer", ZOPLAYER_PROGRAM));
    const std::string library = CBackupRuns::DecoderLibraryPath();
    EXPECT_TRUE(SameBytes(folders[0] + "/" + fs::path(library).filename().string(), library));
    EXPECT_EQ(ExpectEveryMovieFileConsistent(folders[0]), 5);
}

// A program directory without the player: the backup cannot carry it, is
// reported failed with the copy-failure box, and leaves no folder.
TEST_F(BackupFromAProgramDirectory, ABackupThatCannotCarryThePlayerFailsAndLeavesNoFolder)
{
    MakeProgramDirectory("");
    int status = -1;
    const std::string output = RunBackUp(backups, "", &status);
    EXPECT_EQ(status, 0) << output;
    EXPECT_NE(output.find("MSG 0x60F 0 -1"), std::string::npos) << output;
    EXPECT_NE(output.find("BOX Fail To Copy " + backups + "/"), std::string::npos) << output;
    EXPECT_NE(output.find("/ZoPlayer " + program + "/ZoPlayer\n"), std::string::npos) << output;
    EXPECT_TRUE(BackupFolders(backups).empty()) << output;
}

// A target no folder can be made in, read-only or no directory at all, is a
// failed backup however many seconds there are to try, and nothing is left.
TEST_F(BackupFromAProgramDirectory, ATargetThatTakesNoFolderIsAFailedBackup)
{
    MakeProgramDirectory(ZOPLAYER_PROGRAM);
    int status = -1;
    std::ofstream(top.path() + "/file") << "not a directory";
    std::string output = RunBackUp(top.path() + "/file", "", &status);
    EXPECT_EQ(status, 0) << output;
    EXPECT_NE(output.find("MSG 0x60F 0 -1"), std::string::npos) << output;
    EXPECT_EQ(output.find("BOX"), std::string::npos) << output;
    RunCommand("unshare -rm true", &status);
    if (status != 0)
        GTEST_SKIP() << "no file system can be mounted read-only here";
    output = RunBackUp(backups, "unshare -rm sh -c 'mount -t tmpfs -o size=1m,ro tmpfs " + backups + " && ", &status,
                       "; s=$?; echo listing; ls -A " + backups + "; echo end; exit $s'");
    EXPECT_EQ(status, 0) << output;
    EXPECT_NE(output.find("MSG 0x60F 0 -1"), std::string::npos) << output;
    EXPECT_EQ(output.find("BOX"), std::string::npos) << output;
    EXPECT_NE(output.find("listing\nend\n"), std::string::npos) << "the read-only target holds nothing: " << output;
}

// A full disk, played by the file-size limit: with a small stand-in for the
// player, the limit lets the player and the decoder library in but not
// channel 0's recordings. The backup is reported failed (the dialog says
// "Backup failed."), and no folder is left that would play a part of the
// range as the whole of it.
TEST_F(BackupFromAProgramDirectory, AFullDiskEndsTheBackupAsFailed)
{
    const std::string standIn = top.path() + "/player-stand-in";
    std::ofstream(standIn) << "a player";
    MakeProgramDirectory(standIn);
    const uint64_t limit = fs::file_size(CBackupRuns::DecoderLibraryPath()) + 100 * 1024;
    recordtest::TempDir whole;
    ASSERT_TRUE(CBackupMaker(recordings_->path(), start, end).Run(whole.path(), stop));
    ASSERT_GT(fs::file_size(vyrmovie::BackupMovieFile(whole.path(), 0)), limit) << "channel 0 must meet the limit";
    int status = -1;
    const std::string output = RunBackUp(backups, "ulimit -f " + std::to_string(limit / 512) + " && ", &status); // blocks of 512 bytes
    EXPECT_EQ(status, 0) << output;
    EXPECT_NE(output.find("MSG 0x60F 0 -1"), std::string::npos) << output;
    EXPECT_EQ(output.find("BOX"), std::string::npos) << output;
    EXPECT_TRUE(BackupFolders(backups).empty()) << output;
}

// A disk that fills for real (a small tmpfs) while five channels are backed
// up: whatever the point at which the disk is full, before the first movie
// file or after some channels, the backup is reported failed and leaves no
// folder.
TEST_F(BackupFromAProgramDirectory, ABackupCutByAFullDiskLeavesNoFolder)
{
    int status = -1;
    RunCommand("unshare -rm true", &status);
    if (status != 0)
        GTEST_SKIP() << "no tmpfs can be mounted here; the file-size limit case runs";
    MakeProgramDirectory(ZOPLAYER_PROGRAM);
    recordtest::TempDir whole;
    ASSERT_TRUE(CBackupMaker(recordings_->path(), start, end).Run(whole.path(), stop));
    uint64_t movies = 0;
    for (int slot = 0; slot < 5; ++slot)
        movies += fs::file_size(vyrmovie::BackupMovieFile(whole.path(), slot));
    const uint64_t carried =
        fs::file_size(ZOPLAYER_PROGRAM) + fs::file_size(CBackupRuns::DecoderLibraryPath()) + 16 * 1024;
    for (const uint64_t room : {uint64_t{16 * 1024}, movies / 7, movies / 3, movies * 3 / 5, movies * 9 / 10}) {
        SCOPED_TRACE(room);
        const std::string disk = top.path() + "/disk" + std::to_string(room);
        const std::string kept = disk + "-kept";
        fs::create_directories(disk);
        fs::create_directories(kept);
        const std::string size = std::to_string((carried + room) / 4096 * 4096);
        const std::string output =
            RunBackUp(disk, "unshare -rm sh -c 'mount -t tmpfs -o size=" + size + " tmpfs " + disk + " && ", &status,
                      "; s=$?; cp -a " + disk + "/. " + kept + "/; exit $s'");
        EXPECT_EQ(status, 0) << output;
        EXPECT_NE(output.find("MSG 0x60F 0 -1"), std::string::npos) << output;
        EXPECT_TRUE(BackupFolders(kept).empty()) << output;
    }
}

} // namespace
