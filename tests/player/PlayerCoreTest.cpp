// The player's folder opening, reader and playback engine, on synthetic
// backup folders written from the byte layout.
#include "BudgetClock.h"
#include "PlayerFolderWriter.h"
#include "RecordTestSupport.h"

#include "control/display/XvidDecoder.h"
#include "player/engine/PlaybackEngine.h"
#include "player/folder/BackupFolder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <random>
#include <thread>
#include <tuple>

using namespace zoplayer;
using playertest::BudgetClock;
using playertest::ChannelFiles;
using playertest::FrameOffsets;
using playertest::Put16;
using playertest::Put32;
using playertest::WriteChannel;
using recordtest::TempDir;

namespace {

// Channels 0..count-1 over the same seconds.
void WriteChannels(const std::string& folder, int count, int frames = 10, int fps = ChannelFiles{}.fps)
{
    for (int c = 0; c < count; ++c) {
        ChannelFiles files;
        files.slot = c;
        files.frames = frames;
        files.fps = fps;
        WriteChannel(folder, files);
    }
}

// Decodes one frame with the decoder alone, as a reference picture.
void DecodeDirectly(vyrdax::XvidDecoder& decoder, const std::vector<uint8_t>& payload)
{
    int at = 0;
    for (int call = 0; call < 16 && at < static_cast<int>(payload.size()); ++call) {
        const auto r = decoder.Decode(payload.data() + at, static_cast<int>(payload.size()) - at);
        if (r.consumed > 0)
            at += r.consumed;
        if (r.type > 0 || r.consumed <= 0)
            break;
    }
}

// A clock that moves only when the thread sleeps.
class FakeClock : public PlayerClock {
public:
    uint32_t NowMs() override { return now; }
    void SleepMs(int ms) override { now += static_cast<uint32_t>(ms); }
    uint32_t now = 5000;
};

// Records what a playback thread draws.
class RecordingWindow : public ChannelWindow {
public:
    void SetTitle(const std::string& text) override { title = text; }
    void ShowPicture(const uint8_t* y, const uint8_t*, const uint8_t*, int width, int height) override
    {
        lastY.assign(y, y + static_cast<std::size_t>(width) * height);
        this->width = width;
        this->height = height;
        ++shown;
    }
    void ClearPicture() override { ++cleared; }
    std::string title;
    std::vector<uint8_t> lastY;
    int width = 0, height = 0, shown = 0, cleared = 0;
};

struct Engine {
    // Paced by the fake clock, or by `other`.
    explicit Engine(OpenedFolder& folder, PlayerClock* other = nullptr)
    {
        std::vector<CMovieFileReader*> readers;
        for (auto& r : folder.readers)
            readers.push_back(r.get());
        std::array<ChannelWindow*, kEngineChannels> w{};
        for (int i = 0; i < kEngineChannels; ++i)
            w[static_cast<std::size_t>(i)] = &windows[static_cast<std::size_t>(i)];
        engine = std::make_unique<PlaybackEngine>(readers, w, other ? *other : clock);
        EXPECT_TRUE(engine->CreateDecoders());
        engine->ChooseEarliestBaseChannel();
    }
    FakeClock clock;
    std::array<RecordingWindow, kEngineChannels> windows;
    std::unique_ptr<PlaybackEngine> engine;
};

// Plays channel 0 frame by frame beside a decoder fed every payload of the
// file as written; `check` looks at each step.
void PlayBesideADirectDecode(Engine& e, const std::vector<std::vector<uint8_t>>& payloads,
                             const std::function<void(std::size_t frame, const vyrdax::XvidDecoder& direct)>& check)
{
    e.engine->SetPlayState(kPlaying);
    vyrdax::XvidDecoder direct;
    ASSERT_TRUE(direct.Create());
    for (std::size_t k = 0; k < payloads.size(); ++k) {
        e.engine->RunChannelOnce(0);
        DecodeDirectly(direct, payloads[k]);
        // Every picture shown is whole and of the channel's own size.
        ASSERT_EQ(e.windows[0].width, 352);
        ASSERT_EQ(e.windows[0].lastY.size(), 352u * 240u);
        check(k, direct);
    }
}

} // namespace

TEST(PlayerFolder, SplitFollowsTheFileCountWithEightShownInNine)
{
    for (int count : {4, 6, 8, 10, 16}) {
        TempDir dir;
        WriteChannels(dir.path(), count);
        OpenedFolder f = OpenBackupFolder(dir.path());
        ASSERT_EQ(f.outcome, OpenedFolder::kOpened);
        EXPECT_EQ(f.splitMode, count == 8 ? 9 : count) << count;
        EXPECT_EQ(static_cast<int>(f.readers.size()), count);
        EXPECT_EQ(f.authenticityText, kAuthenticText);
        EXPECT_EQ(f.savedTime, "2026/12/31 11:22:33");
    }
}

TEST(PlayerFolder, MissingFilesEndWithTheirTexts)
{
    TempDir empty;
    EXPECT_EQ(OpenBackupFolder(empty.path()).outcome, OpenedFolder::kNoBackupFile);
    TempDir noIndex;
    WriteChannels(noIndex.path(), 2);
    ::unlink((noIndex.path() + "/CH01_00.m4i").c_str());
    EXPECT_EQ(OpenBackupFolder(noIndex.path()).outcome, OpenedFolder::kNoIndexFile);
}

TEST(PlayerFolder, FilesArePairedByChannelNumberWhateverTheirCaseOrOrder)
{
    TempDir dir;
    // Channels 2 and 10: by name, "CH010" sorts before "CH02".
    for (int slot : {2, 10}) {
        ChannelFiles files;
        files.slot = slot;
        files.frames = 10;
        files.startSeconds = 1000000 + slot * 100;
        WriteChannel(dir.path(), files);
    }
    ::rename((dir.path() + "/CH02_00.m4i").c_str(), (dir.path() + "/ch02_00.M4I").c_str());
    ::rename((dir.path() + "/CH010_00.mp4").c_str(), (dir.path() + "/ch010_00.mp4.part").c_str());
    OpenedFolder f = OpenBackupFolder(dir.path());
    ASSERT_EQ(f.outcome, OpenedFolder::kOpened);
    ASSERT_EQ(f.readers.size(), 2u);
    EXPECT_EQ(f.readers[0]->GetIndexRecord(0).seconds, 1000200);
    EXPECT_EQ(f.readers[1]->GetIndexRecord(0).seconds, 1001000);
    EXPECT_EQ(f.readers[0]->RecordCount(), 1);
}

TEST(PlayerFolder, ABadChecksumMarksItsChannelAndStillOpensIt)
{
    TempDir dir;
    for (int slot = 0; slot < 3; ++slot) {
        ChannelFiles files;
        files.slot = slot;
        files.frames = 10;
        files.badChecksum = slot == 1;
        WriteChannel(dir.path(), files);
    }
    OpenedFolder f = OpenBackupFolder(dir.path());
    ASSERT_EQ(f.readers.size(), 3u);
    EXPECT_EQ(f.authenticityText, kNotAuthenticatedText);
    EXPECT_EQ(f.folderStatus, kNotAuthenticated);
    EXPECT_EQ(f.channelStatus[0], kAuthentic);
    EXPECT_EQ(f.channelStatus[1], kNotAuthenticated);
    EXPECT_EQ(f.channelStatus[2], kAuthentic);
    EXPECT_FALSE(f.readers[1]->HeaderValid());
    EXPECT_EQ(f.readers[1]->ReadMovieFrame(), 1);
}

TEST(PlayerFolder, ACopiedFileLeavesCopiedEvenWhenLaterFilesAreAuthentic)
{
    TempDir dir;
    WriteChannels(dir.path(), 3);
    if (!playertest::KeepsBirthTime(dir.path() + "/CH00_00.mp4"))
        GTEST_SKIP() << "this file system keeps no birth time";
    playertest::ShiftModificationTime(dir.path() + "/CH00_00.mp4", 120);
    OpenedFolder f = OpenBackupFolder(dir.path());
    EXPECT_EQ(f.authenticityText, kCopiedText);
    EXPECT_EQ(f.folderStatus, kCopied);
    EXPECT_EQ(f.channelStatus[0], kCopied);
    EXPECT_EQ(f.channelStatus[1], kAuthentic);
}

TEST(PlayerFolder, AFileTooShortForAFrameGetsNoChannelAndACutHeaderIsNeverAuthentic)
{
    TempDir dir;
    WriteChannels(dir.path(), 3);
    // 28 bytes: skipped; the next file takes its slot.
    auto bytes = playertest::ReadBytes(dir.path() + "/CH00_00.mp4");
    bytes.resize(28);
    playertest::WriteBytes(dir.path() + "/CH00_00.mp4", bytes);
    OpenedFolder f = OpenBackupFolder(dir.path());
    ASSERT_EQ(f.readers.size(), 2u);
    // Only that file is skipped: the folder stays authentic.
    EXPECT_EQ(f.folderStatus, kAuthentic);
    EXPECT_EQ(f.authenticityText, kAuthenticText);
    EXPECT_EQ(f.channelStatus[0], kAuthentic); // channel 1 now plays in slot 0
    EXPECT_EQ(f.readers[0]->ReadMovieFrame(), 1);
    EXPECT_EQ(f.readers[0]->CurrentHeader().slot, 1);

    // 30 bytes: opened but its header is cut, so no checksum can hold.
    bytes.resize(30, 0);
    playertest::WriteBytes(dir.path() + "/CH00_00.mp4", bytes);
    OpenedFolder g = OpenBackupFolder(dir.path());
    ASSERT_EQ(g.readers.size(), 3u);
    EXPECT_FALSE(g.readers[0]->HeaderValid());
    EXPECT_EQ(g.channelStatus[0], kNotAuthenticated);
    EXPECT_EQ(g.readers[0]->ReadMovieFrame(), -1);
}

TEST(PlayerFolder, AFifoOrFolderWhereAFileShouldBeNeverHoldsTheOpening)
{
    // Where a movie file should be: reported, never waited on.
    for (const char* kind : {"fifo", "folder"}) {
        SCOPED_TRACE(kind);
        TempDir dir;
        WriteChannels(dir.path(), 2);
        const std::string movie = dir.path() + "/CH02_00.mp4";
        ASSERT_EQ(std::string(kind) == "fifo" ? ::mkfifo(movie.c_str(), 0600) : ::mkdir(movie.c_str(), 0700), 0);
        playertest::WriteBytes(dir.path() + "/CH02_00.m4i", {});
        OpenedFolder f = OpenBackupFolder(dir.path());
        EXPECT_EQ(f.outcome, OpenedFolder::kOpened);
        EXPECT_EQ(f.authenticityText, kNotAuthenticatedText);
        EXPECT_TRUE(f.readers.empty());
    }
    // Where an index file should be: the channel plays without its index.
    TempDir dir;
    WriteChannels(dir.path(), 2);
    ::unlink((dir.path() + "/CH01_00.m4i").c_str());
    ASSERT_EQ(::mkfifo((dir.path() + "/CH01_00.m4i").c_str(), 0600), 0);
    OpenedFolder f = OpenBackupFolder(dir.path());
    ASSERT_EQ(f.readers.size(), 2u);
    EXPECT_EQ(f.readers[1]->RecordCount(), 0);
    EXPECT_EQ(f.readers[1]->ReadMovieFrame(), 1);
}

TEST(PlayerIndex, ATrailingPartialRecordCountsAndTheSlotPastTheLastRepeatsIt)
{
    TempDir dir;
    std::vector<uint8_t> bytes;
    for (uint32_t k = 0; k < 3; ++k)
        for (uint32_t v : {100 + k, 0u, 32 + 1000 * k})
            for (int b = 0; b < 4; ++b)
                bytes.push_back(static_cast<uint8_t>(v >> (8 * b)));
    bytes.resize(bytes.size() - 7); // the last record keeps 5 bytes
    playertest::WriteBytes(dir.path() + "/i", bytes);
    CMovieIndex index;
    ASSERT_TRUE(index.LoadMovieIndex(dir.path() + "/i"));
    EXPECT_EQ(index.Count(), 3);
    EXPECT_EQ(index.GetRecord(2).seconds, 102);
    EXPECT_EQ(index.GetOffset(2), 0); // its offset bytes were cut
    EXPECT_EQ(index.GetOffset(1), 1032);
    EXPECT_EQ(index.GetOffset(3), index.GetOffset(2));
    EXPECT_EQ(index.GetOffset(4), 0);
    EXPECT_EQ(index.GetOffset(-1), 0);
    EXPECT_FALSE(index.LoadMovieIndex(dir.path() + "/missing"));
    EXPECT_EQ(index.Count(), 0);
}

TEST(PlayerIndex, FindTimeFindsEveryRecordAndClampsOutsideEvenNearTheLimitsOfItsSeconds)
{
    std::mt19937 random(7);
    for (int32_t base : {1000, 2147000000}) {
        TempDir dir;
        std::vector<uint8_t> bytes;
        std::vector<std::pair<int32_t, uint32_t>> times;
        int32_t s = base;
        for (int k = 0; k < 500; ++k) {
            s += static_cast<int32_t>(random() % 3);
            const uint32_t us = (random() % 10) * 100000;
            if (!times.empty() && times.back().first == s && times.back().second >= us)
                continue;
            times.push_back({s, us});
            for (uint32_t v : {static_cast<uint32_t>(s), us, static_cast<uint32_t>(32 + k)})
                for (int b = 0; b < 4; ++b)
                    bytes.push_back(static_cast<uint8_t>(v >> (8 * b)));
        }
        playertest::WriteBytes(dir.path() + "/i", bytes);
        CMovieIndex index;
        ASSERT_TRUE(index.LoadMovieIndex(dir.path() + "/i"));
        // Interpolation lands on the record or, among close neighbours, at
        // most two records away; exact matches at either end are exact.
        for (std::size_t k = 0; k < times.size(); ++k) {
            const int found = index.FindTime(-1, -1, times[k].first, static_cast<int32_t>(times[k].second));
            EXPECT_LE(std::abs(found - static_cast<int>(k)), 2) << k;
        }
        EXPECT_EQ(index.FindTime(-1, -1, times.front().first, static_cast<int32_t>(times.front().second)), 0);
        const int lastRecord = index.Count() - 1;
        EXPECT_EQ(index.FindTime(-1, -1, times.back().first, static_cast<int32_t>(times.back().second)), lastRecord);
        EXPECT_EQ(index.FindTime(-1, -1, base - 10, 0), 0);
        EXPECT_EQ(index.FindTime(-1, -1, times.back().first + 10, 0), index.Count() - 1);
    }
}

TEST(PlayerReader, FastForwardAndRewindMoveByKeyFramesPerLevel)
{
    TempDir dir;
    ChannelFiles files;
    files.frames = 60; // key frames every 10: six of them
    WriteChannel(dir.path(), files);
    CMovieFileReader reader;
    reader.OpenMovieFiles(dir.path() + "/CH00_00.mp4", dir.path() + "/CH00_00.m4i");
    ASSERT_TRUE(reader.HeaderValid());
    ASSERT_EQ(reader.RecordCount(), 6);
    ASSERT_EQ(reader.ReadNext(), 1);
    EXPECT_EQ(reader.KeyIndex(), 0);
    // Level 1 starts from the key frame of the group being shown, then
    // takes every key frame; reading one counts it.
    reader.FastForward(1);
    ASSERT_EQ(reader.ReadNext(), 1);
    EXPECT_EQ(reader.CurrentHeader().seconds, reader.GetIndexRecord(0).seconds);
    ASSERT_EQ(reader.ReadNext(), 1);
    EXPECT_EQ(reader.CurrentHeader().seconds, reader.GetIndexRecord(1).seconds);
    EXPECT_EQ(reader.KeyIndex(), 2);
    // Level 3 moves three key frames a step.
    reader.FastForward(3);
    ASSERT_EQ(reader.ReadNext(), 1);
    EXPECT_EQ(reader.CurrentHeader().seconds, reader.GetIndexRecord(4).seconds);
    EXPECT_EQ(reader.ReadNext(), 0); // past the last key frame
    EXPECT_EQ(reader.EndFlag(), kAtEnd);

    reader.SeekRecord(4);
    reader.SetKeyIndex(3);
    reader.Play();
    ASSERT_EQ(reader.ReadNext(), 1);
    EXPECT_EQ(reader.KeyIndex(), 4);
    reader.Rewind(1);
    ASSERT_EQ(reader.ReadNext(), 1);
    EXPECT_EQ(reader.CurrentHeader().seconds, reader.GetIndexRecord(2).seconds);
    EXPECT_EQ(reader.KeyIndex(), 3);
    reader.Rewind(3);
    EXPECT_EQ(reader.ReadNext(), 0);
    EXPECT_EQ(reader.KeyIndex(), 0);
    EXPECT_EQ(reader.EndFlag(), kBeforeStart);
}

TEST(PlayerReader, FastForwardAtTheEndKeepsTheKeyIndexWithinTheRecordsAndRewindGoesBackFromTheLast)
{
    TempDir dir;
    ChannelFiles files;
    files.frames = 60; // six key frames
    WriteChannel(dir.path(), files);
    for (int level : {1, 3}) {
        SCOPED_TRACE(level);
        CMovieFileReader reader;
        reader.OpenMovieFiles(dir.path() + "/CH00_00.mp4", dir.path() + "/CH00_00.m4i");
        ASSERT_EQ(reader.ReadNext(), 1);
        reader.FastForward(level);
        int shown = 0;
        for (int k = 0; k < 60; ++k) {
            if (reader.ReadNext() == 1)
                ++shown;
            ASSERT_LE(reader.KeyIndex(), reader.RecordCount()) << k;
        }
        // Each key frame at level 1 (the last one once), every third at 3.
        EXPECT_EQ(shown, level == 1 ? 6 : 2);
        EXPECT_EQ(reader.KeyIndex(), reader.RecordCount());
        EXPECT_EQ(reader.EndFlag(), kAtEnd);
        reader.Rewind(1);
        ASSERT_EQ(reader.ReadNext(), 1);
        EXPECT_EQ(reader.CurrentHeader().seconds, reader.GetIndexRecord(4).seconds);
        ASSERT_EQ(reader.ReadNext(), 1);
        EXPECT_EQ(reader.CurrentHeader().seconds, reader.GetIndexRecord(3).seconds);
        reader.Rewind(3);
        ASSERT_EQ(reader.ReadNext(), 1);
        EXPECT_EQ(reader.CurrentHeader().seconds, reader.GetIndexRecord(0).seconds);
        EXPECT_EQ(reader.ReadNext(), 0);
        EXPECT_EQ(reader.EndFlag(), kBeforeStart);
        // Play goes on after the first key frame, which rewind showed last.
        reader.Play();
        ASSERT_EQ(reader.ReadNext(), 1);
        EXPECT_FALSE(reader.CurrentHeader().IsKeyFrame());
        EXPECT_EQ(reader.FramesSinceKey(), 1);
    }
}

TEST(PlayerReader, StepsHandOutOneFrameAndPausedReadersNone)
{
    TempDir dir;
    WriteChannel(dir.path(), ChannelFiles{});
    CMovieFileReader reader;
    reader.OpenMovieFiles(dir.path() + "/CH00_00.mp4", dir.path() + "/CH00_00.m4i");
    reader.Pause();
    EXPECT_EQ(reader.ReadNext(), 0);
    EXPECT_EQ(reader.StepForward(), 1);
    EXPECT_EQ(reader.ReadNext(), 1);
    EXPECT_EQ(reader.ReadNext(), 0);
    reader.Step();
    EXPECT_EQ(reader.ReadNext(), 1);
    EXPECT_EQ(reader.ReadNext(), 0);
    reader.Reset();
    EXPECT_EQ(reader.State(), kStopped);
    reader.Play();
    ASSERT_EQ(reader.ReadNext(), 1);
    EXPECT_TRUE(reader.CurrentHeader().IsKeyFrame());
}

TEST(PlayerReader, CutAndOversizedFramesAreReadFailures)
{
    TempDir dir;
    ChannelFiles files;
    files.frames = 2;
    WriteChannel(dir.path(), files);
    const std::string movie = dir.path() + "/CH00_00.mp4";
    auto bytes = playertest::ReadBytes(movie);
    const std::size_t firstLength = (bytes[36] | bytes[37] << 8 | (bytes[38] & 0xF) << 16);

    auto cut = bytes;
    cut.resize(32 + 32 + firstLength - 3);
    playertest::WriteBytes(movie, cut);
    CMovieFileReader a;
    a.OpenMovieFiles(movie, "");
    EXPECT_EQ(a.ReadMovieFrame(), -3);
    EXPECT_EQ(a.EndFlag(), kAtEnd);

    cut.resize(32 + 20);
    playertest::WriteBytes(movie, cut);
    CMovieFileReader b;
    b.OpenMovieFiles(movie, "");
    EXPECT_EQ(b.ReadMovieFrame(), -2);

    auto big = bytes;
    big[36] = 0xFF;
    big[37] = 0xFF;
    big[38] = static_cast<uint8_t>(big[38] | 0x0F); // 1,048,575 bytes claimed
    playertest::WriteBytes(movie, big);
    CMovieFileReader c;
    c.OpenMovieFiles(movie, "");
    EXPECT_EQ(c.ReadMovieFrame(), -3);
}

TEST(PlayerEngine, PicturesShownEqualADirectDecodeOfTheSourceStream)
{
    TempDir dir;
    ChannelFiles files;
    files.frames = 20;
    const auto payloads = WriteChannel(dir.path(), files);
    OpenedFolder f = OpenBackupFolder(dir.path());
    Engine e(f);
    PlayBesideADirectDecode(e, payloads, [&](std::size_t k, const vyrdax::XvidDecoder& direct) {
        ASSERT_EQ(0, std::memcmp(e.windows[0].lastY.data(), direct.Picture(), 352 * 240)) << "frame " << k;
    });
    EXPECT_EQ(e.windows[0].shown, 20);
    EXPECT_EQ(e.windows[0].title.substr(0, 20), " CH01 2026/12/31 10:");
}

TEST(PlayerEngine, PacingFollowsTheBaseClockAndFarChannelsAreBlack)
{
    TempDir dir;
    ChannelFiles a;
    a.slot = 0;
    a.frames = 30;
    WriteChannel(dir.path(), a);
    ChannelFiles b = a;
    b.slot = 1;
    b.startSeconds = a.startSeconds + 10; // ten seconds later than the base
    WriteChannel(dir.path(), b);
    OpenedFolder f = OpenBackupFolder(dir.path());
    Engine e(f);
    EXPECT_EQ(e.engine->BaseChannel(), 0);
    e.engine->SetPlayState(kPlaying);

    e.engine->RunChannelOnce(0); // anchors
    ASSERT_TRUE(e.engine->Anchored());
    const uint32_t start = e.clock.now;
    for (int k = 1; k < 11; ++k)
        e.engine->RunChannelOnce(0);
    // Ten frames at 10 fps take a second of the clock.
    EXPECT_GE(e.clock.now - start, 1000u);
    EXPECT_LE(e.clock.now - start, 1000u + 11 * 2);

    e.engine->RunChannelOnce(1);
    EXPECT_EQ(e.windows[1].shown, 0);
    EXPECT_GE(e.windows[1].cleared, 1);
    EXPECT_EQ(e.windows[0].shown, 11);
}

TEST(PlayerEngine, TheNextBaseChannelAtTheEndIsTheNearestLaterOne)
{
    TempDir dir;
    for (int slot = 0; slot < 3; ++slot) {
        ChannelFiles s;
        s.slot = slot;
        s.frames = 10;
        s.startSeconds = 1000000 + (slot == 0 ? 0 : slot == 1 ? 30 : 20);
        WriteChannel(dir.path(), s);
    }
    OpenedFolder f = OpenBackupFolder(dir.path());
    Engine e(f);
    e.engine->SetPlayState(kPlaying);
    // Every channel shows its first frame, filling the cell map.
    for (int c = 0; c < 3; ++c)
        e.engine->RunChannelOnce(c);
    EXPECT_EQ(e.engine->CellChannel(2), 2);
    e.engine->SetPlayState(kFastForward);
    for (auto& r : f.readers)
        r->FastForward(1);
    // The base channel runs out of key frames: channel 2 (20 s later) is
    // nearer than channel 1 (30 s later).
    for (int k = 0; k < 4 && e.engine->BaseChannel() == 0; ++k)
        e.engine->RunChannelOnce(0);
    EXPECT_EQ(f.readers[0]->EndFlag(), kAtEnd);
    EXPECT_EQ(e.engine->BaseChannel(), 2);
    EXPECT_FALSE(e.engine->Anchored());
}

// A base that ends hands the clock over to a channel that plays on: one still
// in the base's last second at once, one that starts after the base ended
// (and so was nobody to hand over to then) with its first frame. Either
// plays its frames paced from there, not unpaced through its file.
TEST(PlayerEngine, AFinishedBaseHandsTheClockToTheChannelThatPlaysOn)
{
    struct Case {
        const char* name;
        int laterStartSeconds, baseFrames, otherFrames;
        bool startsAfterTheBase;
    };
    for (const Case& c : {Case{"in the base's last second", 0, 5, 10, false},
                          Case{"starting after the base ended", 3, 10, 20, true}}) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        ChannelFiles base;
        base.frames = c.baseFrames;
        WriteChannel(dir.path(), base);
        ChannelFiles other = base;
        other.slot = 1;
        other.frames = c.otherFrames;
        other.startSeconds += c.laterStartSeconds;
        WriteChannel(dir.path(), other);
        OpenedFolder f = OpenBackupFolder(dir.path());
        Engine e(f);
        ASSERT_EQ(e.engine->BaseChannel(), 0);
        e.engine->SetPlayState(kPlaying);
        // The base plays to its end and reads past it, the other channel
        // beside it or not yet.
        for (int k = 0; k < c.baseFrames; ++k) {
            e.engine->RunChannelOnce(0);
            if (!c.startsAfterTheBase)
                e.engine->RunChannelOnce(1);
        }
        e.engine->RunChannelOnce(0);
        e.engine->RunChannelOnce(0);
        ASSERT_TRUE(f.readers[0]->Finished());
        const int rest = c.startsAfterTheBase ? c.otherFrames : c.otherFrames - c.baseFrames;
        const uint32_t start = e.clock.now;
        for (int k = 0; k < rest; ++k)
            e.engine->RunChannelOnce(1);
        EXPECT_EQ(e.engine->BaseChannel(), 1);
        EXPECT_EQ(e.windows[1].shown, c.otherFrames);
        // Its first frame after the hand-over anchors the clock; each of the
        // others is a frame interval later.
        const uint32_t paced = static_cast<uint32_t>(rest - 1) * 100;
        EXPECT_GE(e.clock.now - start, paced);
        EXPECT_LE(e.clock.now - start, paced + 2 * static_cast<uint32_t>(rest));
    }
}

TEST(PlayerEngine, EachStepBackGoesOneFrameFurtherAcrossKeyFramesWhateverTheGroupLength)
{
    // (group length, frame shown when stepping back, presses)
    for (auto [gop, shownFrame, presses] : {std::tuple{10, 13, 6}, std::tuple{15, 17, 5}, std::tuple{15, 31, 18},
                                            std::tuple{10, 10, 2}, std::tuple{10, 1, 3}}) {
        SCOPED_TRACE(std::to_string(gop) + " " + std::to_string(shownFrame));
        TempDir dir;
        ChannelFiles files;
        files.frames = 40;
        files.gop = gop;
        const auto payloads = WriteChannel(dir.path(), files);
        // The picture of every frame, from one decoder fed the file in order.
        std::vector<std::vector<uint8_t>> pictures;
        vyrdax::XvidDecoder direct;
        ASSERT_TRUE(direct.Create());
        for (const auto& payload : payloads) {
            DecodeDirectly(direct, payload);
            pictures.emplace_back(direct.Picture(), direct.Picture() + 352 * 240);
        }
        OpenedFolder f = OpenBackupFolder(dir.path());
        Engine e(f);
        e.engine->SetPlayState(kPlaying);
        for (int k = 0; k <= shownFrame; ++k)
            e.engine->RunChannelOnce(0);
        ASSERT_TRUE(e.windows[0].lastY == pictures[static_cast<std::size_t>(shownFrame)]);
        e.engine->pageStart = 0;
        f.readers[0]->Pause();
        int expected = shownFrame;
        for (int press = 1; press <= presses; ++press) {
            SCOPED_TRACE("press " + std::to_string(press));
            // Nothing comes before the first frame: it stays.
            expected = std::max(expected - 1, 0);
            f.readers[0]->Step();
            e.engine->SetPlayState(kStepBack);
            e.engine->RunChannelOnce(0);
            ASSERT_TRUE(e.windows[0].lastY == pictures[static_cast<std::size_t>(expected)]);
            EXPECT_EQ(f.readers[0]->FramesSinceKey(), expected % gop);
            EXPECT_EQ(f.readers[0]->KeyIndex(), expected / gop);
        }
        // Stepping forward from there shows the frame after it.
        f.readers[0]->StepForward();
        e.engine->SetPlayState(kStepForward);
        e.engine->RunChannelOnce(0);
        EXPECT_TRUE(e.windows[0].lastY == pictures[static_cast<std::size_t>(expected + 1)]);
    }
}

TEST(PlayerEngine, AFrameWithAChannelPastTheCellsIsSkipped)
{
    TempDir dir;
    ChannelFiles files;
    files.frames = 10;
    WriteChannel(dir.path(), files);
    auto bytes = playertest::ReadBytes(dir.path() + "/CH00_00.mp4");
    bytes[32 + 30] = 200; // the first frame claims channel 200
    playertest::WriteBytes(dir.path() + "/CH00_00.mp4", bytes);
    OpenedFolder f = OpenBackupFolder(dir.path());
    Engine e(f);
    e.engine->SetPlayState(kPlaying);
    e.engine->RunChannelOnce(0);
    for (int cell = 0; cell < kEngineChannels; ++cell)
        EXPECT_EQ(e.engine->CellChannel(cell), -1);
    e.engine->RunChannelOnce(0);
    EXPECT_EQ(e.engine->CellChannel(0), 0);
}

TEST(PlayerEngine, ThreadsPlayAndStopPromptlyUnderARealClock)
{
    TempDir dir;
    WriteChannels(dir.path(), 4);
    OpenedFolder f = OpenBackupFolder(dir.path());
    std::vector<CMovieFileReader*> readers;
    for (auto& r : f.readers)
        readers.push_back(r.get());
    std::array<RecordingWindow, kEngineChannels> windows;
    std::array<ChannelWindow*, kEngineChannels> w{};
    for (int i = 0; i < 4; ++i)
        w[static_cast<std::size_t>(i)] = &windows[static_cast<std::size_t>(i)];
    SteadyPlayerClock clock;
    for (int round = 0; round < 20; ++round) {
        PlaybackEngine engine(readers, w, clock);
        ASSERT_TRUE(engine.CreateDecoders());
        engine.ChooseEarliestBaseChannel();
        engine.SetPlayState(kPlaying);
        engine.StartThreads();
        std::this_thread::sleep_for(std::chrono::milliseconds(round % 5 * 3));
        engine.SetPlayState(round % 2 ? kPaused : kStopped);
        engine.StopThreads();
        for (auto& r : f.readers)
            r->Reset(), r->Play();
    }
    SUCCEED();
}

namespace {

// What a playback thread draws, counted so that the test's thread can read
// it while the threads run.
class CountingWindow : public ChannelWindow {
public:
    void SetTitle(const std::string& text) override
    {
        std::lock_guard<std::mutex> guard(lock);
        title = text;
        ++titles;
    }
    void ShowPicture(const uint8_t*, const uint8_t*, const uint8_t*, int, int) override { ++shown; }
    void ClearPicture() override { ++cleared; }
    std::string Title()
    {
        std::lock_guard<std::mutex> guard(lock);
        return title;
    }
    std::mutex lock;
    std::string title;
    std::atomic<int> titles{0}, shown{0}, cleared{0};
};

// Until `done`, for at most 30 s: what a thread woken by the change does at
// once may still take a while on a loaded machine.
bool WaitFor(const std::function<bool()>& done)
{
    for (int k = 0; k < 3000; ++k) {
        if (done())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return done();
}

} // namespace

// The threads sleep while nothing changes and follow every change at once:
// a paused or finished channel resumes with the next play, a step pressed
// twice shows two frames, and a channel whose file has ended sets its
// caption once rather than again and again.
TEST(PlayerEngine, WaitingThreadsFollowEveryChangeAndAFinishedChannelRests)
{
    constexpr int kChannels = 4;
    TempDir dir;
    WriteChannels(dir.path(), kChannels, 20, 20);
    OpenedFolder f = OpenBackupFolder(dir.path());
    std::vector<CMovieFileReader*> readers;
    for (auto& r : f.readers)
        readers.push_back(r.get());
    std::array<CountingWindow, kEngineChannels> windows;
    std::array<ChannelWindow*, kEngineChannels> w{};
    for (int i = 0; i < kChannels; ++i)
        w[static_cast<std::size_t>(i)] = &windows[static_cast<std::size_t>(i)];
    SteadyPlayerClock clock;
    auto shownByAll = [&](int atLeast) {
        for (int c = 0; c < kChannels; ++c)
            if (windows[static_cast<std::size_t>(c)].shown.load() < atLeast)
                return false;
        return true;
    };
    auto everyEnded = [&] {
        for (int c = 0; c < kChannels; ++c)
            if (windows[static_cast<std::size_t>(c)].Title() != " CH0" + std::to_string(c + 1) + " ")
                return false;
        return true;
    };
    for (int round = 0; round < 6; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        for (auto& window : windows) {
            window.shown = 0;
            window.SetTitle("");
        }
        PlaybackEngine engine(readers, w, clock);
        ASSERT_TRUE(engine.CreateDecoders());
        engine.ChooseEarliestBaseChannel();
        // Paused before the threads start (even rounds) or after.
        if (round % 2 == 0)
            engine.SetPlayState(kPaused);
        engine.StartThreads();
        if (round % 2 == 1) {
            for (auto& r : f.readers)
                r->Play();
            engine.SetPlayState(kPlaying);
            ASSERT_TRUE(WaitFor([&] { return shownByAll(1); }));
            engine.SetPlayState(kPaused);
        }
        for (auto& r : f.readers)
            r->Play();
        engine.ResetBaseClock();
        engine.SetPlayState(kPlaying);
        ASSERT_TRUE(WaitFor([&] { return shownByAll(2); })) << "a paused thread missed the play";

        // Stepping: the cell's channel shows one frame per press, also when
        // the step state is set again.
        engine.SetPlayState(kPaused);
        for (auto& r : f.readers)
            r->Pause();
        engine.WakeThreads();
        engine.pageStart = 0;
        const int stepChannel = engine.CellChannel(0);
        ASSERT_GE(stepChannel, 0);
        CountingWindow& stepped = windows[static_cast<std::size_t>(stepChannel)];
        // A frame read before the pause may still be shown.
        ASSERT_TRUE(WaitFor([&] {
            const int before = stepped.shown.load();
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            return stepped.shown.load() == before;
        }));
        for (int press = 1; press <= 2; ++press) {
            const int before = stepped.shown.load();
            engine.Reader(stepChannel)->StepForward();
            engine.SetPlayState(kStepForward);
            ASSERT_TRUE(WaitFor([&] { return stepped.shown.load() == before + 1; })) << "step " << press;
        }

        // To the end of every file, where each channel sets its caption.
        for (auto& r : f.readers)
            r->Play();
        engine.ResetBaseClock();
        engine.SetPlayState(kPlaying);
        ASSERT_TRUE(WaitFor(everyEnded)) << "a channel never finished";
        // The last channels to end may still be setting their captions;
        // then nothing changes, and no thread has a reason to wake: over a
        // while that a polling thread would fill with captions, none comes.
        auto drawn = [&] {
            std::array<int, 2 * kChannels> counts{};
            for (int c = 0; c < kChannels; ++c) {
                counts[static_cast<std::size_t>(2 * c)] = windows[static_cast<std::size_t>(c)].titles.load();
                counts[static_cast<std::size_t>(2 * c + 1)] = windows[static_cast<std::size_t>(c)].cleared.load();
            }
            return counts;
        };
        auto settled = drawn();
        ASSERT_TRUE(WaitFor([&] {
            const auto before = drawn();
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            settled = drawn();
            return settled == before;
        })) << "finished channels kept drawing their captions";
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_EQ(drawn(), settled);

        // Stopped and played again from the start, as the view's buttons do:
        // the finished threads wake and play.
        engine.SetPlayState(kStopped);
        for (auto& r : f.readers)
            r->Reset();
        engine.ChooseEarliestBaseChannel();
        for (auto& window : windows)
            window.shown = 0;
        for (auto& r : f.readers)
            r->Play();
        engine.ResetBaseClock();
        engine.SetPlayState(kPlaying);
        ASSERT_TRUE(WaitFor([&] { return shownByAll(3); })) << "a finished thread missed the play";
        engine.StopThreads();
        for (auto& r : f.readers)
            r->Reset();
    }
}

namespace {

// Every playback thread a test starts waits before its first round, as on a
// busy machine; the base channel's thread notes, as it starts, how many
// frames the other channels have put on screen (shown or blanked) so far.
std::array<std::atomic<int>, kEngineChannels> lateStartMs{};
std::atomic<PlaybackEngine*> lateEngine{nullptr};
std::atomic<int64_t> framesBeforeTheBase{-1};

void StartLate(int channel)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(lateStartMs[static_cast<std::size_t>(channel)].load()));
    PlaybackEngine* engine = lateEngine.load();
    if (!engine || channel != engine->BaseChannel())
        return;
    int64_t frames = 0;
    for (int c = 0; c < engine->ChannelCount(); ++c)
        if (c != channel)
            frames += static_cast<int64_t>(engine->ShownCount(c) + engine->BlankedCount(c));
    framesBeforeTheBase = frames;
}

} // namespace

TEST(PlayerEngine, ChannelsWaitForTheBaseClockWhicheverThreadStartsFirst)
{
    // Four channels recorded over the same seconds; the base is the first.
    constexpr int kChannels = 4;
    TempDir dir;
    WriteChannels(dir.path(), kChannels, 60);
    std::array<RecordingWindow, kEngineChannels> windows;
    std::array<ChannelWindow*, kEngineChannels> w{};
    for (int i = 0; i < kChannels; ++i)
        w[static_cast<std::size_t>(i)] = &windows[static_cast<std::size_t>(i)];
    SteadyPlayerClock clock;
    std::mt19937 random(41);
    PlaybackEngine::SetStartHookForTests(&StartLate);
    for (int round = 0; round < 24; ++round) {
        // The threads start one after the other, 30 ms apart, in a random
        // order in which the base comes first, second, third or last.
        std::array<int, kChannels> order{0, 1, 2, 3};
        std::shuffle(order.begin(), order.end(), random);
        std::swap(*std::find(order.begin(), order.end(), 0), order[static_cast<std::size_t>(round % kChannels)]);
        for (int rank = 0; rank < kChannels; ++rank)
            lateStartMs[static_cast<std::size_t>(order[static_cast<std::size_t>(rank)])] = rank * 30;
        SCOPED_TRACE("round " + std::to_string(round) + ", base started " + std::to_string(round % kChannels + 1) +
                     " of " + std::to_string(kChannels));

        OpenedFolder f = OpenBackupFolder(dir.path());
        std::vector<CMovieFileReader*> readers;
        for (auto& r : f.readers)
            readers.push_back(r.get());
        PlaybackEngine engine(readers, w, clock);
        ASSERT_TRUE(engine.CreateDecoders());
        engine.ChooseEarliestBaseChannel();
        ASSERT_EQ(engine.BaseChannel(), 0);
        framesBeforeTheBase = -1;
        lateEngine = &engine;
        engine.SetPlayState(kPlaying);
        engine.StartThreads();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        auto allShown = [&] {
            for (int c = 0; c < kChannels; ++c)
                if (engine.ShownCount(c) < 3)
                    return false;
            return true;
        };
        while (!allShown() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        engine.SetPlayState(kPaused);
        engine.StopThreads();
        lateEngine = nullptr;

        // Nothing ran on its own time before the clock's anchor was there.
        EXPECT_EQ(framesBeforeTheBase.load(), 0);
        // Every channel showed its frames one after the other from its
        // first, none blanked as out of step: its last picture is its
        // first frame's time plus a frame for every picture after it.
        for (int c = 0; c < kChannels; ++c) {
            SCOPED_TRACE("channel " + std::to_string(c));
            EXPECT_EQ(engine.BlankedCount(c), 0u);
            EXPECT_GE(engine.ShownCount(c), 3u);
            EXPECT_EQ(engine.LastShownTime(c), 1000000LL * 1000000 + (static_cast<int64_t>(engine.ShownCount(c)) - 1) * 100000);
        }
    }
    PlaybackEngine::SetStartHookForTests(nullptr);
}

TEST(PlayerEngine, AChannelLongerThanTheBasePlaysOnToItsEndWhenTheBaseEnds)
{
    // Same start; the base ends after one second, the other goes on for
    // two more. Its thread runs first in every round, as if the base's
    // always started late.
    TempDir dir;
    for (int slot = 0; slot < 2; ++slot) {
        ChannelFiles files;
        files.slot = slot;
        files.frames = slot == 0 ? 10 : 30;
        WriteChannel(dir.path(), files);
    }
    OpenedFolder f = OpenBackupFolder(dir.path());
    BudgetClock clock(60000);
    Engine e(f, &clock);
    clock.engine = e.engine.get();
    ASSERT_EQ(e.engine->BaseChannel(), 0);
    e.engine->SetPlayState(kPlaying);
    e.engine->RunChannelOnce(1);
    EXPECT_EQ(e.engine->ShownCount(1) + e.engine->BlankedCount(1), 0u) << "a frame read before the anchor";
    for (int k = 0; k < 40 && !clock.exceeded; ++k) {
        e.engine->RunChannelOnce(1);
        e.engine->RunChannelOnce(0);
    }
    EXPECT_FALSE(clock.exceeded) << "a channel waited for a base that had ended";
    EXPECT_EQ(e.engine->ShownCount(0), 10u);
    EXPECT_EQ(e.engine->ShownCount(1), 30u);
    EXPECT_EQ(e.engine->BlankedCount(1), 0u);
    EXPECT_EQ(e.engine->BaseChannel(), 1);
    // Three seconds of recording took three seconds of the clock.
    EXPECT_GE(clock.now - clock.start, 2900u);
    EXPECT_LE(clock.now - clock.start, 3600u);
}

TEST(PlayerEngine, ButtonActionsBesideRunningThreadsKeepEveryReaderUsable)
{
    TempDir dir;
    WriteChannels(dir.path(), 4);
    OpenedFolder f = OpenBackupFolder(dir.path());
    std::vector<CMovieFileReader*> readers;
    for (auto& r : f.readers)
        readers.push_back(r.get());
    std::array<RecordingWindow, kEngineChannels> windows;
    std::array<ChannelWindow*, kEngineChannels> w{};
    for (int i = 0; i < 4; ++i)
        w[static_cast<std::size_t>(i)] = &windows[static_cast<std::size_t>(i)];
    SteadyPlayerClock clock;
    PlaybackEngine engine(readers, w, clock);
    ASSERT_TRUE(engine.CreateDecoders());
    engine.ChooseEarliestBaseChannel();
    engine.SetPlayState(kPlaying);
    engine.StartThreads();
    std::mt19937 random(11);
    for (int round = 0; round < 400; ++round) {
        CMovieFileReader& r = *f.readers[random() % 4];
        switch (random() % 9) {
        case 0: for (auto& x : f.readers) x->Play(); engine.SetPlayState(kPlaying); break;
        case 1: for (auto& x : f.readers) x->Pause(); engine.SetPlayState(kPaused); break;
        case 2: for (auto& x : f.readers) x->FastForward(1 + static_cast<int>(random() % 3)); engine.SetPlayState(kFastForward); break;
        case 3: for (auto& x : f.readers) x->Rewind(1 + static_cast<int>(random() % 3)); engine.SetPlayState(kRewind); break;
        case 4: r.StepForward(); engine.SetPlayState(kStepForward); break;
        case 5: r.Step(); engine.SetPlayState(kStepBack); break;
        case 6: for (auto& x : f.readers) x->Reset(); break;
        case 7: engine.SyncChannelsToBase(); break;
        default: engine.ChooseBaseChannel(random() % 2, 0, 32); break;
        }
        if (round % 50 == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    // Back to the start and playing: every channel shows pictures again.
    engine.SetPlayState(kStopped);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    for (auto& x : f.readers)
        x->Reset(), x->Play();
    std::array<uint64_t, 4> before{};
    for (int c = 0; c < 4; ++c)
        before[static_cast<std::size_t>(c)] = engine.ShownCount(c);
    engine.ChooseEarliestBaseChannel();
    engine.SetPlayState(kPlaying);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    bool all = false;
    while (!all && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        all = true;
        for (int c = 0; c < 4; ++c)
            all = all && engine.ShownCount(c) > before[static_cast<std::size_t>(c)];
    }
    engine.StopThreads();
    EXPECT_TRUE(all);
}

TEST(PlayerEngine, ADamagedFileIsPlayedWithoutFaultAndEveryUndamagedChannelStillPlays)
{
    std::mt19937 random(3);
    for (int round = 0; round < 30; ++round) {
        TempDir dir;
        for (int slot = 0; slot < 3; ++slot) {
            ChannelFiles files;
            files.slot = slot;
            files.frames = 20;
            WriteChannel(dir.path(), files);
        }
        // The base channel is the first; the damage goes to another.
        const int damaged = 1 + round % 2;
        const std::string moviePath = dir.path() + "/CH0" + std::to_string(damaged) + "_00.mp4";
        const std::string indexPath = dir.path() + "/CH0" + std::to_string(damaged) + "_00.m4i";
        auto movie = playertest::ReadBytes(moviePath);
        auto index = playertest::ReadBytes(indexPath);
        // Damage frame headers, payloads and index records alike.
        for (int k = 0; k < 12; ++k)
            movie[32 + random() % (movie.size() - 32)] = static_cast<uint8_t>(random());
        for (int k = 0; k < 3 && !index.empty(); ++k)
            index[random() % index.size()] = static_cast<uint8_t>(random());
        movie.resize(movie.size() - random() % 500);
        playertest::WriteBytes(moviePath, movie);
        playertest::WriteBytes(indexPath, index);
        OpenedFolder f = OpenBackupFolder(dir.path());
        ASSERT_EQ(f.readers.size(), 3u);
        Engine e(f);
        // A damaged index may claim the earliest time: the base stays put.
        e.engine->SetBaseChannel(0);
        e.engine->ResetBaseClock();
        auto runAll = [&](int rounds) {
            for (int k = 0; k < rounds; ++k)
                for (int c = 0; c < 3; ++c)
                    e.engine->RunChannelOnce(c);
        };
        e.engine->SetPlayState(kPlaying);
        runAll(20);
        // Every frame of the undamaged channels was shown, in its own cell.
        for (int c = 0; c < 3; ++c) {
            if (c == damaged)
                continue;
            EXPECT_EQ(e.engine->ShownCount(c), 20u) << "channel " << c << ", round " << round;
            EXPECT_EQ(e.windows[static_cast<std::size_t>(c)].width, 352) << "channel " << c;
        }
        const int states[] = {kFastForward, kRewind, kPlaying};
        for (int state : states) {
            for (auto& r : f.readers) {
                if (state == kFastForward)
                    r->FastForward(2);
                else if (state == kRewind)
                    r->Rewind(1);
                else
                    r->Play();
            }
            e.engine->SetPlayState(state);
            e.engine->ResetBaseClock();
            runAll(25);
        }
        f.readers[static_cast<std::size_t>(damaged)]->Step();
        e.engine->SetPlayState(kStepBack);
        e.engine->RunChannelOnce(damaged);
    }
}

TEST(PlayerEngine, AFrameOfASizeNoBufferIsMadeForIsDroppedAndTheChannelGoesOnAtTheNextKeyFrame)
{
    // (frame patched, width, height): a P-frame drops the rest of its group,
    // a key frame its whole group.
    const std::tuple<int, int, int> cases[] = {{13, 4000, 480}, {13, 352, 2528}, {13, 2000, 600}, {13, 0, 240},
                                              {13, 352, 0},     {10, 65535, 65535}, {10, 1921, 240}};
    for (auto [patched, width, height] : cases) {
        SCOPED_TRACE(std::to_string(patched) + ": " + std::to_string(width) + "x" + std::to_string(height));
        TempDir dir;
        ChannelFiles files;
        files.frames = 30;
        const auto payloads = WriteChannel(dir.path(), files);
        const std::string movie = dir.path() + "/CH00_00.mp4";
        auto bytes = playertest::ReadBytes(movie);
        const std::size_t at = FrameOffsets(bytes)[static_cast<std::size_t>(patched)];
        Put16(bytes, at + 8, static_cast<uint32_t>(width));
        Put16(bytes, at + 10, static_cast<uint32_t>(height));
        playertest::WriteBytes(movie, bytes);

        OpenedFolder f = OpenBackupFolder(dir.path());
        Engine e(f);
        const int dropped = 20 - patched;
        PlayBesideADirectDecode(e, payloads, [&](std::size_t k, const vyrdax::XvidDecoder& direct) {
            // From the key frame on, the pictures are those of an undamaged file.
            if (k >= 20) {
                ASSERT_EQ(0, std::memcmp(e.windows[0].lastY.data(), direct.Picture(), 352 * 240)) << "frame " << k;
            }
        });
        EXPECT_EQ(e.engine->DroppedCount(0), static_cast<uint64_t>(dropped));
        EXPECT_EQ(e.windows[0].shown, 30 - dropped);
    }
}

TEST(PlayerEngine, ADamagedTimeOnAChannelThatIsNotTheBaseHoldsNeitherItsThreadNorTheOthers)
{
    TempDir dir;
    for (int slot = 0; slot < 2; ++slot) {
        ChannelFiles files;
        files.slot = slot;
        files.frames = 30;
        WriteChannel(dir.path(), files);
    }
    const std::string movie = dir.path() + "/CH01_00.mp4";
    auto bytes = playertest::ReadBytes(movie);
    const auto offsets = FrameOffsets(bytes);
    // About 48 days ahead (one bit), the last second a 32-bit time has, and
    // long before the recording.
    Put32(bytes, offsets[5] + 24, 1000000u + (1u << 22));
    Put32(bytes, offsets[7] + 24, 0x7FFFFFFFu);
    Put32(bytes, offsets[9] + 24, 1000000u - 100000u);
    playertest::WriteBytes(movie, bytes);

    OpenedFolder f = OpenBackupFolder(dir.path());
    ASSERT_EQ(f.readers.size(), 2u);
    // Thirty frames at 10 fps take three seconds; a minute is plenty.
    BudgetClock clock(60000);
    Engine e(f, &clock);
    clock.engine = e.engine.get();
    ASSERT_EQ(e.engine->BaseChannel(), 0);
    e.engine->SetPlayState(kPlaying);
    for (int k = 0; k < 30 && !clock.exceeded; ++k) {
        e.engine->RunChannelOnce(0);
        e.engine->RunChannelOnce(1);
    }
    EXPECT_FALSE(clock.exceeded) << "a wait on a damaged time did not end";
    EXPECT_EQ(e.engine->DroppedCount(1), 3u);
    EXPECT_EQ(e.windows[1].shown, 27);
    EXPECT_EQ(e.windows[0].shown, 30);
    EXPECT_EQ(e.engine->DroppedCount(0), 0u);
}

namespace {

// A backup played by its channels' threads on the steady clock, each window
// counting what it is given.
struct ThreadedPlay {
    explicit ThreadedPlay(const std::string& folder) : f(OpenBackupFolder(folder))
    {
        for (auto& r : f.readers)
            readers.push_back(r.get());
        for (int i = 0; i < kEngineChannels; ++i)
            w[static_cast<std::size_t>(i)] = &windows[static_cast<std::size_t>(i)];
        engine = std::make_unique<PlaybackEngine>(readers, w, clock);
        EXPECT_TRUE(engine->CreateDecoders());
        engine->ChooseEarliestBaseChannel();
    }
    ~ThreadedPlay() { engine->StopThreads(); }
    int Count() const { return static_cast<int>(readers.size()); }
    // Every reader in `state` at `level`, then the play state and a reset
    // clock, as the view's buttons do.
    void Press(int state, int level = 1)
    {
        for (CMovieFileReader* r : readers) {
            if (state == kFastForward)
                r->FastForward(level);
            else if (state == kRewind)
                r->Rewind(level);
            else
                r->Play();
        }
        engine->SetPlayState(state);
        engine->ResetBaseClock();
    }
    bool All(const std::function<bool(CMovieFileReader&)>& test) const
    {
        for (CMovieFileReader* r : readers)
            if (!test(*r))
                return false;
        return true;
    }
    OpenedFolder f;
    std::vector<CMovieFileReader*> readers;
    std::array<CountingWindow, kEngineChannels> windows;
    std::array<ChannelWindow*, kEngineChannels> w{};
    SteadyPlayerClock clock;
    std::unique_ptr<PlaybackEngine> engine;
};

// The time of frame k of a channel written from `files`, in microseconds.
int64_t FrameTime(const ChannelFiles& files, int k)
{
    const int64_t micros = static_cast<int64_t>(k) * 1000000 / files.fps;
    const int64_t gap = files.gapFromFrame >= 0 && k >= files.gapFromFrame ? files.gapSeconds : 0;
    return (files.startSeconds + gap) * 1000000LL + micros;
}

// Until `done`, for at most `ms`.
bool WaitUpTo(int ms, const std::function<bool()>& done)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

double SecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Sixteen channels of 10 frames a second: (start after the first, frames).
struct SpanCase {
    const char* name;
    std::function<std::pair<int, int>(int channel)> span;
};

const SpanCase kSpanCases[] = {
    // The base ends first, every other channel then in the same second
    // (one of them ending in that second too).
    {"BaseEndsFirstWithTheOthersInItsSecond", [](int c) { return std::pair{0, c == 0 ? 20 : c == 1 ? 25 : 40}; }},
    // Four channels start each second, the last ones as the base ends.
    {"StaggeredStartsBaseEndsFirst", [](int c) { return std::pair{c / 4, 30}; }},
    // The base ends last, the others end one after the other before it.
    {"BaseEndsLast", [](int c) { return std::pair{c == 0 ? 0 : c % 4, c == 0 ? 60 : 20}; }},
};

// Each test runs cases in which the base ends first, a last one beside.
const std::vector<std::vector<int>> kSpanGroups = {{0, 2}, {1}};

class PlayerSpans : public ::testing::TestWithParam<int> {};

} // namespace

// Every channel plays to the end of its own file in step, whichever channel
// ends first and whenever the others start, with threads starting late.
TEST_P(PlayerSpans, EveryChannelPlaysToTheEndOfItsOwnFileInStep)
{
    for (int spanCase : kSpanGroups[static_cast<std::size_t>(GetParam())]) {
        const SpanCase& spans = kSpanCases[spanCase];
        SCOPED_TRACE(spans.name);
        constexpr int kChannels = 16;
        TempDir dir;
        std::vector<ChannelFiles> files(kChannels);
        int64_t firstTime = INT64_MAX, lastTime = 0;
        for (int c = 0; c < kChannels; ++c) {
            ChannelFiles& file = files[static_cast<std::size_t>(c)];
            file.slot = c;
            file.startSeconds += spans.span(c).first;
            file.frames = spans.span(c).second;
            WriteChannel(dir.path(), file);
            firstTime = std::min(firstTime, FrameTime(file, 0));
            lastTime = std::max(lastTime, FrameTime(file, file.frames - 1));
        }
        for (int c = 0; c < kChannels; ++c)
            lateStartMs[static_cast<std::size_t>(c)] = (c * 37) % 120;
        PlaybackEngine::SetStartHookForTests(&StartLate);
        ThreadedPlay play(dir.path());
        ASSERT_EQ(play.engine->BaseChannel(), 0);
        const auto start = std::chrono::steady_clock::now();
        play.engine->SetPlayState(kPlaying);
        play.engine->StartThreads();
        const double recorded = static_cast<double>(lastTime - firstTime) / 1e6;
        const bool finished = WaitUpTo(static_cast<int>(recorded * 1000) + 20000,
                                       [&] { return play.All([](CMovieFileReader& r) { return r.Finished(); }); });
        const double took = SecondsSince(start);
        PlaybackEngine::SetStartHookForTests(nullptr);
        ASSERT_TRUE(finished);
        // Paced all the way: no channel ran through its file on its own.
        const uint64_t anchors = play.engine->AnchorCount();
        EXPECT_GE(took, playertest::PacedPlayLowerBound(recorded, anchors, ChannelFiles{}.fps))
            << anchors << " anchors";
        for (int c = 0; c < kChannels; ++c) {
            SCOPED_TRACE("channel " + std::to_string(c));
            const ChannelFiles& file = files[static_cast<std::size_t>(c)];
            EXPECT_EQ(play.engine->LastShownTime(c), FrameTime(file, file.frames - 1));
            EXPECT_GE(play.engine->ShownCount(c), static_cast<uint64_t>(file.frames - 2));
            EXPECT_LE(play.engine->BlankedCount(c), playertest::PacedPlayBlanksAllowed(anchors));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(PlayerEngine, PlayerSpans, ::testing::Range(0, 2),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return std::string(kSpanCases[kSpanGroups[static_cast<std::size_t>(info.param)][0]].name);
                         });

// Fast forward and rewind across a gap that every channel shares: the base
// re-anchors the clock past it and every channel follows at once, in the
// sixteen view and the single view.
TEST(PlayerEngine, FastForwardAndRewindAcrossACommonGapKeepEveryChannelMoving)
{
    constexpr int kChannels = 16;
    TempDir dir;
    // A key frame a second, 50 s before and 50 s after 190 s unrecorded.
    ChannelFiles file;
    file.frames = 100;
    file.fps = 1;
    file.gop = 1;
    file.gapFromFrame = 50;
    file.gapSeconds = 190;
    for (int c = 0; c < kChannels; ++c) {
        file.slot = c;
        WriteChannel(dir.path(), file);
    }
    const int64_t beforeGap = FrameTime(file, 49), afterGap = FrameTime(file, 50);
    constexpr int64_t kSecond = 1000000;
    for (int split : {16, 1}) {
        SCOPED_TRACE("split " + std::to_string(split));
        ThreadedPlay play(dir.path());
        play.engine->splitMode = split;
        play.engine->pageStart = 0;
        // Fast forward from five seconds before the gap.
        for (CMovieFileReader* r : play.readers)
            r->SeekTime(static_cast<int32_t>(FrameTime(file, 45) / kSecond), 0);
        play.Press(kFastForward);
        play.engine->StartThreads();
        const int base = play.engine->BaseChannel();
        // Once the base has gone 20 s of recording past the gap (1.3 s at
        // fifteen times), every channel is past it too; one pacing by the
        // anchor before the gap would stand still for 190 / 15 s.
        ASSERT_TRUE(WaitUpTo(20000, [&] { return play.engine->LastShownTime(base) >= afterGap + 20 * kSecond; }));
        for (int c = 0; c < kChannels; ++c)
            EXPECT_GE(play.engine->LastShownTime(c), afterGap) << "channel " << c << " stood still in fast forward";
        // And back across it in rewind.
        play.Press(kRewind);
        ASSERT_TRUE(WaitUpTo(20000, [&] { return play.engine->LastShownTime(base) <= beforeGap - 20 * kSecond; }));
        for (int c = 0; c < kChannels; ++c)
            EXPECT_LE(play.engine->LastShownTime(c), beforeGap) << "channel " << c << " stood still in rewind";
        EXPECT_EQ(play.engine->BaseChannel(), base);
    }
}

// A key frame whose length no recorder writes is passed over to the next key
// frame in play, rewind and fast forward, on a plain channel and on the
// base; the others play in step meanwhile.
TEST(PlayerEngine, ADamagedKeyFrameIsPassedOverInEveryModeOnAPlainChannelAndOnTheBase)
{
    constexpr int kChannels = 4;
    for (int damaged : {1, 0}) {
        SCOPED_TRACE("damaged channel " + std::to_string(damaged));
        TempDir dir;
        ChannelFiles file;
        file.frames = 30;
        file.gop = 5;
        for (int c = 0; c < kChannels; ++c) {
            file.slot = c;
            WriteChannel(dir.path(), file);
        }
        // The third key frame.
        playertest::RefuseFrame(dir.path() + "/CH0" + std::to_string(damaged) + "_00.mp4", 10);

        ThreadedPlay play(dir.path());
        ASSERT_EQ(play.engine->BaseChannel(), 0);
        const int other = damaged == 0 ? 1 : 0;
        auto shown = [&](int c) { return static_cast<int64_t>(play.engine->ShownCount(c)); };

        // Play: the damaged key frame's group is left out, nothing else.
        const auto start = std::chrono::steady_clock::now();
        play.engine->SetPlayState(kPlaying);
        play.engine->StartThreads();
        ASSERT_TRUE(WaitUpTo(30000, [&] { return play.All([](CMovieFileReader& r) { return r.Finished(); }); }));
        EXPECT_GE(SecondsSince(start), 2.6) << "channels ran unpaced";
        for (int c = 0; c < kChannels; ++c) {
            SCOPED_TRACE("channel " + std::to_string(c));
            EXPECT_EQ(play.engine->LastShownTime(c), FrameTime(file, 29));
            EXPECT_EQ(shown(c), c == damaged ? 25 : 30);
            EXPECT_EQ(play.engine->BlankedCount(c), 0u);
        }
        EXPECT_EQ(play.engine->DroppedCount(damaged), 1u);

        // Rewind to the first key frame, then fast forward to the last: the
        // damaged channel shows every key frame but that one.
        const std::tuple<int, int64_t, std::function<bool(CMovieFileReader&)>> modes[] = {
            {kRewind, FrameTime(file, 0), [](CMovieFileReader& r) { return r.EndFlag() == kBeforeStart; }},
            {kFastForward, FrameTime(file, 25), [](CMovieFileReader& r) { return r.Finished(); }},
        };
        for (const auto& [state, endTime, ended] : modes) {
            SCOPED_TRACE(state == kRewind ? "rewind" : "fast forward");
            const int64_t damagedBefore = shown(damaged), otherBefore = shown(other);
            const uint64_t droppedBefore = play.engine->DroppedCount(damaged);
            play.Press(state);
            EXPECT_TRUE(WaitUpTo(10000, [&] {
                if (!play.All(ended))
                    return false;
                for (int c = 0; c < kChannels; ++c)
                    if (play.engine->LastShownTime(c) != endTime)
                        return false;
                return true;
            })) << "the damaged channel stopped";
            EXPECT_GE(shown(other) - otherBefore, 3);
            EXPECT_EQ(shown(damaged) - damagedBefore, shown(other) - otherBefore - 1);
            EXPECT_EQ(play.engine->DroppedCount(damaged), droppedBefore + 1);
        }
    }
}

// A channel at the end of its file that the channels' synchronisation moves
// back into it (the nine view's layout button) reads again at once.
TEST(PlayerEngine, AFinishedChannelSynchronisedBackIntoItsFilePlaysAgain)
{
    TempDir dir;
    for (int c = 0; c < 2; ++c) {
        ChannelFiles file;
        file.slot = c;
        file.frames = c == 0 ? 100 : 20;
        WriteChannel(dir.path(), file);
    }
    ThreadedPlay play(dir.path());
    ASSERT_EQ(play.engine->BaseChannel(), 0);
    play.engine->SetPlayState(kPlaying);
    play.engine->StartThreads();
    ASSERT_TRUE(WaitUpTo(20000, [&] {
        return play.readers[1]->Finished() && play.engine->LastShownTime(0) >= FrameTime(ChannelFiles{}, 25);
    }));
    const uint64_t drawn = play.engine->ShownCount(1) + play.engine->BlankedCount(1);
    play.engine->SyncChannelsToBase();
    // The base plays on for seven seconds more, and nothing else changes.
    EXPECT_TRUE(WaitUpTo(4000, [&] { return play.engine->ShownCount(1) + play.engine->BlankedCount(1) > drawn; }));
}
