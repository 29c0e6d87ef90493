// Real backups, made by the backup maker from recordings, damaged where a
// file carries sizes, lengths, channel numbers and times, and played through
// the playback engine: nothing is read or written outside a buffer (the
// sanitizers watch), no wait on a damaged value holds a thread, and every
// channel left undamaged plays all its frames.
#include "BudgetClock.h"
#include "PlaybackFixture.h"
#include "PlayerFolderWriter.h"
#include "RecordTestSupport.h"

#include "control/backup/CBackupMaker.h"
#include "control/display/StreamHeader.h"
#include "control/record/MovieFormat.h"
#include "player/engine/PlaybackEngine.h"
#include "player/folder/BackupFolder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <random>
#include <thread>

namespace fs = std::filesystem;
using namespace zoplayer;
using playertest::Get32;
using playertest::Put16;
using playertest::Put32;

namespace {

constexpr int kChannels = 4;
constexpr int kRecordedSeconds = 12;
constexpr int kPlayedFrames = 40;

// Made once per run: four channels recorded over the same twelve seconds
// at 10 fps (a key frame every 10), then backed up.
const std::string& RealBackup()
{
    static recordtest::TempDir recordings, backup;
    static const bool made = [] {
        const std::time_t start = recordtest::LocalTime(2026, 12, 31, 10, 0, 0);
        std::vector<playbacktest::Segment> segments;
        for (int c = 0; c < kChannels; ++c)
            segments.push_back({c, "F.Cam" + std::to_string(c), start, kRecordedSeconds});
        playbacktest::WriteRecordings(recordings.path(), segments);
        std::atomic<bool> stop{false};
        return vyrdax::CBackupMaker(recordings.path(), start - 60, start + 60).Run(backup.path(), stop);
    }();
    EXPECT_TRUE(made);
    return backup.path();
}

struct Movie {
    std::vector<uint8_t> bytes;
    std::vector<std::size_t> frames; // offsets of the frame headers
};

Movie ReadMovie(const std::string& path)
{
    Movie m;
    m.bytes = playertest::ReadBytes(path);
    m.frames = playertest::FrameOffsets(m.bytes);
    return m;
}

template <typename T, std::size_t N>
T Pick(std::mt19937& random, const T (&values)[N])
{
    return values[random() % N];
}

// One damage of the kind `kind` to a frame (or index record) of `movie`;
// what was done, for the failure message.
std::string Damage(std::mt19937& random, int kind, Movie& movie, std::vector<uint8_t>& index, int otherChannel)
{
    auto& b = movie.bytes;
    const std::size_t frame = random() % 4 == 0 ? 0 : 1 + random() % (movie.frames.size() - 1);
    const std::size_t at = movie.frames[frame];
    const std::string where = " at frame " + std::to_string(frame);
    switch (kind) {
    case 0: { // the picture size of the frame header
        static const uint32_t sizes[] = {0, 1, 2, 7, 353, 704, 1088, 1089, 1920, 1921, 2000, 2528, 4000, 8191, 65535};
        const uint32_t w = random() % 3 == 0 ? 352 : Pick(random, sizes);
        const uint32_t h = random() % 3 == 1 ? 240 : Pick(random, sizes);
        Put16(b, at + 8, w);
        Put16(b, at + 10, h);
        return "size " + std::to_string(w) + "x" + std::to_string(h) + where;
    }
    case 1: { // the payload length, the rest of the word kept
        const uint32_t length = Get32(b, at + 4) & vyrmovie::kLengthMask;
        const uint32_t lengths[] = {0, 1, length - 1, length + 1, length + 32, vyrmovie::kMaxFramePayload,
                                    vyrmovie::kMaxFramePayload + 1, vyrmovie::kLengthMask};
        const uint32_t chosen = Pick(random, lengths) & vyrmovie::kLengthMask;
        Put32(b, at + 4, (Get32(b, at + 4) & ~vyrmovie::kLengthMask) | chosen);
        return "length " + std::to_string(chosen) + " for " + std::to_string(length) + where;
    }
    case 2: { // the channel number
        const uint32_t channels[] = {63, 64, 65, 1000, 65535, static_cast<uint32_t>(otherChannel)};
        const uint32_t chosen = Pick(random, channels);
        Put16(b, at + 30, chosen);
        return "channel " + std::to_string(chosen) + where;
    }
    case 3: { // the size in stream headers a frame carries in its payload
        for (std::size_t k = 0; k < movie.frames.size(); ++k) {
            const std::size_t p = movie.frames[k] + 32;
            if (p + vyrdax::kStreamHeaderSize <= b.size() &&
                std::equal(vyrdax::kStreamHeaderTemplate.begin(), vyrdax::kStreamHeaderTemplate.begin() + 8,
                           b.begin() + static_cast<long>(p))) {
                static const uint32_t sizes[] = {0, 2000, 2528, 4000, 8191};
                vyrdax::StreamHeader h = vyrdax::kStreamHeaderTemplate;
                const uint32_t w = Pick(random, sizes), hh = random() % 2 ? 240 : Pick(random, sizes);
                vyrdax::PatchStreamHeader(h, w, hh, false);
                std::copy(h.begin() + 23, h.begin() + 28, b.begin() + static_cast<long>(p + 23));
                return "stream headers of " + std::to_string(w) + "x" + std::to_string(hh) + " at frame " +
                       std::to_string(k);
            }
        }
        return "no stream headers to damage";
    }
    case 4: { // the frame's time
        const uint32_t seconds = Get32(b, at + 24);
        const uint32_t times[] = {0, 0x7FFFFFFFu, 0xFFFFFFFFu, seconds + (1u << 22), seconds - (1u << 22),
                                  seconds ^ (1u << (random() % 32))};
        const uint32_t chosen = Pick(random, times);
        Put32(b, at + 24, chosen);
        return "seconds " + std::to_string(chosen) + where;
    }
    case 5: { // flipped bits anywhere in the frame header
        for (int k = 0; k < 3; ++k)
            b[at + random() % 32] ^= static_cast<uint8_t>(1u << (random() % 8));
        return "header bits" + where;
    }
    default: { // an index record's offset or the index's own length
        if (index.size() >= 12 && random() % 2) {
            const std::size_t record = random() % (index.size() / 12);
            const uint32_t offsets[] = {0, 1, 31, static_cast<uint32_t>(b.size()), static_cast<uint32_t>(b.size() + 100),
                                        0xFFFFFFFFu, static_cast<uint32_t>(movie.frames[frame] + 7)};
            Put32(index, record * 12 + 8, Pick(random, offsets));
            return "index record " + std::to_string(record);
        }
        index.resize(index.size() - std::min<std::size_t>(index.size(), random() % 20));
        return "index cut to " + std::to_string(index.size());
    }
    }
}

// The phases below play some thirty seconds of recording; a damaged time
// inside the recording may add its own wait once or twice.
constexpr uint32_t kBudgetMs = 600000;

class NullWindow : public ChannelWindow {
public:
    void SetTitle(const std::string&) override {}
    void ShowPicture(const uint8_t* y, const uint8_t*, const uint8_t* v, int width, int height) override
    {
        // Reads both ends of the picture, so that a short buffer is caught.
        sum += y[0] + v[static_cast<std::size_t>(width / 2) * (height / 2) - 1];
    }
    void ClearPicture() override {}
    std::atomic<unsigned> sum{0};
};

// The engine of an opened folder, drawing into windows that read what
// they are given.
struct FolderEngine {
    FolderEngine(const std::string& path, PlayerClock& clock) : folder(OpenBackupFolder(path))
    {
        std::vector<CMovieFileReader*> readers;
        for (auto& r : folder.readers)
            readers.push_back(r.get());
        std::array<ChannelWindow*, kEngineChannels> sinks{};
        for (std::size_t i = 0; i < sinks.size(); ++i)
            sinks[i] = &windows[i];
        engine = std::make_unique<PlaybackEngine>(readers, sinks, clock);
        EXPECT_TRUE(engine->CreateDecoders());
    }
    OpenedFolder folder;
    std::array<NullWindow, kEngineChannels> windows;
    std::unique_ptr<PlaybackEngine> engine;
};

struct DamagedFolder {
    recordtest::TempDir dir;
    std::string what;
};

// Copies the real backup and damages channel `damaged` `count` times.
void MakeDamagedFolder(DamagedFolder& out, std::mt19937& random, int damaged, int count)
{
    for (const auto& entry : fs::directory_iterator(RealBackup()))
        if (entry.is_regular_file())
            fs::copy_file(entry.path(), fs::path(out.dir.path()) / entry.path().filename());
    const std::string moviePath = vyrmovie::BackupMovieFile(out.dir.path(), damaged);
    const std::string indexPath = vyrmovie::BackupIndexFile(out.dir.path(), damaged);
    Movie movie = ReadMovie(moviePath);
    std::vector<uint8_t> index = playertest::ReadBytes(indexPath);
    ASSERT_GT(movie.frames.size(), 100u);
    for (int k = 0; k < count; ++k)
        out.what += Damage(random, static_cast<int>(random() % 7), movie, index, (damaged + 1) % kChannels) + "; ";
    playertest::WriteBytes(moviePath, movie.bytes);
    playertest::WriteBytes(indexPath, index);
}

} // namespace

TEST(PlayerFuzz, DamagedSizesLengthsChannelsAndTimesOfARealBackupNeitherFaultNorStallNorStopOtherChannels)
{
    std::mt19937 random(27);
    for (int round = 0; round < 30; ++round) {
        // Mostly a channel that is not the base; now and then the base.
        const int damaged = round % 6 == 5 ? 0 : 1 + round % (kChannels - 1);
        DamagedFolder folder;
        MakeDamagedFolder(folder, random, damaged, 1 + static_cast<int>(random() % 3));
        SCOPED_TRACE("round " + std::to_string(round) + ", channel " + std::to_string(damaged) + ": " + folder.what);

        playertest::BudgetClock clock(kBudgetMs);
        FolderEngine played(folder.dir.path(), clock);
        OpenedFolder& f = played.folder;
        ASSERT_EQ(f.readers.size(), static_cast<std::size_t>(kChannels));
        PlaybackEngine& engine = *played.engine;
        clock.engine = &engine;

        auto run = [&](int state, int rounds, const std::function<void(CMovieFileReader&)>& set) {
            for (auto& r : f.readers)
                set(*r);
            engine.SetPlayState(state);
            engine.ResetBaseClock();
            for (int k = 0; k < rounds && !clock.exceeded; ++k)
                for (int c = 0; c < kChannels; ++c)
                    engine.RunChannelOnce(c);
        };
        // Plays from the start and checks that every undamaged channel
        // showed every frame it read.
        auto playFromTheStart = [&](const char* when) {
            engine.SetPlayState(kStopped);
            for (auto& r : f.readers)
                r->Reset();
            engine.ChooseEarliestBaseChannel();
            std::array<uint64_t, kChannels> before{};
            for (int c = 0; c < kChannels; ++c)
                before[static_cast<std::size_t>(c)] = engine.ShownCount(c);
            run(kPlaying, kPlayedFrames, [](CMovieFileReader& r) { r.Play(); });
            if (damaged == 0)
                return; // the base's damage may blank the others for a moment
            for (int c = 0; c < kChannels; ++c) {
                if (c == damaged)
                    continue;
                EXPECT_EQ(engine.ShownCount(c) - before[static_cast<std::size_t>(c)], static_cast<uint64_t>(kPlayedFrames))
                    << "channel " << c << " " << when;
            }
        };

        playFromTheStart("at first");
        run(kFastForward, 8, [](CMovieFileReader& r) { r.FastForward(2); });
        run(kRewind, 8, [](CMovieFileReader& r) { r.Rewind(1); });
        run(kPlaying, 10, [](CMovieFileReader& r) { r.Play(); });
        engine.pageStart = 0;
        for (int k = 0; k < 3; ++k) {
            const int c = engine.CellChannel(0);
            if (c < 0)
                break;
            f.readers[static_cast<std::size_t>(c)]->Step();
            engine.SetPlayState(kStepBack);
            engine.RunChannelOnce(c);
            f.readers[static_cast<std::size_t>(c)]->StepForward();
            engine.SetPlayState(kStepForward);
            engine.RunChannelOnce(c);
        }
        run(kPlaying, 200, [](CMovieFileReader& r) { r.Play(); }); // on to the end
        playFromTheStart("after the end");
        EXPECT_FALSE(clock.exceeded) << "a wait on a damaged value did not end";
    }
}

TEST(PlayerFuzz, UnderRunningThreadsADamagedChannelLeavesTheOthersPlaying)
{
    std::mt19937 random(2027);
    for (int round = 0; round < 6; ++round) {
        const int damaged = 1 + round % (kChannels - 1);
        DamagedFolder folder;
        MakeDamagedFolder(folder, random, damaged, 3);
        SCOPED_TRACE("round " + std::to_string(round) + ", channel " + std::to_string(damaged) + ": " + folder.what);
        SteadyPlayerClock clock;
        FolderEngine played(folder.dir.path(), clock);
        ASSERT_EQ(played.folder.readers.size(), static_cast<std::size_t>(kChannels));
        PlaybackEngine& engine = *played.engine;
        engine.ChooseEarliestBaseChannel();
        engine.SetPlayState(kPlaying);
        engine.StartThreads();
        // Ten frames a second: the undamaged channels show a picture each
        // within a few seconds however loaded the machine is.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        bool all = false;
        while (!all && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            all = true;
            for (int c = 0; c < kChannels; ++c)
                all = all && (c == damaged || engine.ShownCount(c) >= 10);
        }
        engine.SetPlayState(kStopped);
        engine.StopThreads();
        EXPECT_TRUE(all);
    }
}
