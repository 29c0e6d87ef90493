#pragma once
// The playback threads of the player: one per channel, each decoding its
// channel's frames and pacing them against the base channel's clock, so
// that all channels play in step. The view steers them through the shared
// play state and the readers' states.
#include "platform/WorkerThread.h"
#include "player/reader/PlayerMovieReader.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace vyrdax {
class XvidDecoder;
}

namespace zoplayer {

inline constexpr int kEngineChannels = 64;
// A channel whose frame lies further than this from the base channel's is
// shown black in normal play.
inline constexpr int kStepWindowSeconds = 2;
// Fast forward and rewind run the clock this many times faster.
inline constexpr int kFastDivisor = 15;
// A due time this far past the clock means a gap in the recording.
inline constexpr int64_t kGapMilliseconds = 5000;

// A wait without a limit, for a round run where nothing can wake it (on a
// test's own thread, or by a clock that only counts): it takes this long.
inline constexpr int kIdleRoundMs = 10;

// The millisecond clock and sleeps the threads pace by; tests inject one.
class PlayerClock {
public:
    virtual ~PlayerClock() = default;
    virtual uint32_t NowMs() = 0;
    virtual void SleepMs(int milliseconds) = 0;
    // Waits up to `milliseconds` (none when zero or less) on the channel's
    // thread, which every change it follows wakes; null for a round run on
    // another thread. A clock of its own counting sleeps.
    virtual void WaitMs(platform::WorkerThread* thread, int milliseconds)
    {
        (void)thread;
        SleepMs(std::max(milliseconds, 0));
    }
    // Waits without a limit, until the next change wakes the thread.
    virtual void WaitUntilWoken(platform::WorkerThread* thread)
    {
        (void)thread;
        SleepMs(kIdleRoundMs);
    }
};

class SteadyPlayerClock : public PlayerClock {
public:
    uint32_t NowMs() override;
    void SleepMs(int milliseconds) override;
    void WaitMs(platform::WorkerThread* thread, int milliseconds) override;
    void WaitUntilWoken(platform::WorkerThread* thread) override;
};

// Where a channel's pictures go: the video window of a display cell. Each
// call converts or clears and presents under the window's own lock.
class ChannelWindow {
public:
    virtual ~ChannelWindow() = default;
    virtual void SetTitle(const std::string& text) = 0;
    // A planar 4:2:0 picture: luma of width x height, chroma of half size.
    virtual void ShowPicture(const uint8_t* y, const uint8_t* u, const uint8_t* v, int width, int height) = 0;
    virtual void ClearPicture() = 0;
};

class PlaybackEngine {
public:
    // `readers` are the channel slots in order; `windows` the display cells.
    PlaybackEngine(std::vector<CMovieFileReader*> readers, std::array<ChannelWindow*, kEngineChannels> windows,
                   PlayerClock& clock);
    ~PlaybackEngine();
    PlaybackEngine(const PlaybackEngine&) = delete;
    PlaybackEngine& operator=(const PlaybackEngine&) = delete;

    // Makes one decoder per channel; false when the library refuses one.
    bool CreateDecoders();
    // Starts one thread per channel; StopThreads (or the destructor) ends
    // and joins them.
    void StartThreads();
    void StopThreads();

    // Tests only: every thread started from now on calls `hook` with its
    // channel slot before its first round, so that a test can make threads
    // start late, in an order of its choosing, as on a loaded machine. Null
    // (the default) for none.
    using StartHook = void (*)(int channel);
    static void SetStartHookForTests(StartHook hook);

    // One round of channel c's loop, as its thread runs it; tests call it
    // directly with an injected clock.
    void RunChannelOnce(int c);

    int ChannelCount() const { return static_cast<int>(readers_.size()); }
    CMovieFileReader* Reader(int c) const { return readers_[static_cast<std::size_t>(c)]; }

    // The play state every thread follows; a change wakes them all, and so
    // does setting it again (a step pressed once more).
    int PlayState() const { return playState_.load(); }
    void SetPlayState(int state);
    // Wakes every channel's thread to look again at what it follows: after
    // the readers' states or positions were changed from outside.
    void WakeThreads() { waiters_.WakeAll(); }

    std::atomic<int> splitMode{16};
    std::atomic<int> pageStart{0};

    int BaseChannel() const { return baseChannel_.load(); }
    void SetBaseChannel(int c);
    // The channel slot whose frames cell `cell` shows, or -1.
    int CellChannel(int cell) const;
    void SetRefresh(int c);

    void ChooseEarliestBaseChannel();
    void ChooseBaseChannel(bool forward, int firstCell, int lastCell);
    void ResetBaseClock();
    void SyncChannelsToBase();
    // Every channel has been read to the end of its file.
    bool AllChannelsFinished() const;
    void SetChannelCaption(int cell);
    bool Anchored() const;

    // Pictures shown and cells blanked by channel, for tests and benchmarks.
    uint64_t ShownCount(int c) const;
    uint64_t BlankedCount(int c) const;
    // The time of the picture a channel showed last, in microseconds.
    int64_t LastShownTime(int c) const;
    // Frames a channel dropped as damaged (a size, or a time, it cannot have).
    uint64_t DroppedCount(int c) const;
    // How often the clock took an anchor. Each anchor after the first shows
    // the base's frame in hand at once, about one frame interval early.
    uint64_t AnchorCount() const { return anchors_.load(); }

private:
    struct Channel;
    int DecodeFrame(Channel& channel, const uint8_t* data, int length, int maxCalls);
    void DropUntilKeyFrame(Channel& channel);
    // Shows the frame before the one shown; false when there is none.
    bool StepBack(Channel& channel, CMovieFileReader& reader, PlayerFrame& frame);
    void ChooseBaseChannelLocked(bool forward, int firstCell, int lastCell);
    // Nothing more to play going forward (or back): read to its end, or
    // rewound past its first key frame.
    static bool EndedGoing(bool forward, const CMovieFileReader& reader);
    // When a frame of `seconds` and `microseconds` is due after the anchor,
    // in play state s.
    int64_t DueLocked(int s, int32_t seconds, int32_t microseconds) const;
    // The round of channel c in play state s once the state lets it play.
    void PlayFrame(int c, int s);
    // True while channel c, not the base, must leave its next frame unread:
    // the clock waits for the base channel's next frame to anchor it.
    bool AwaitsTheAnchor(int c);
    void UnanchorLocked();
    void MarkAnchorPassedLocked();
    // Channel c's waits: up to `milliseconds`, or until a change wakes it.
    void WaitRound(int c, int milliseconds);
    void WaitRoundUntilWoken(int c);

    std::vector<CMovieFileReader*> readers_;
    std::array<ChannelWindow*, kEngineChannels> windows_;
    PlayerClock& clock_;
    std::vector<std::unique_ptr<Channel>> channels_;
    std::array<std::atomic<int>, kEngineChannels> cellMap_;
    std::atomic<int> baseChannel_{0};

    // Guards the choice of the base channel and the clock's anchor.
    mutable std::mutex globalLock_;
    bool anchored_ = false;
    int32_t anchorSeconds_ = 0;
    int32_t anchorMicroseconds_ = 0;
    uint32_t anchorWallMs_ = 0;
    // Each un-anchoring of the clock starts a new generation. The base
    // channel passes one when it has a round of play without a frame to
    // anchor on; the other channels then go on without the anchor.
    uint64_t clockGeneration_ = 0;
    uint64_t anchorPassedGeneration_ = UINT64_MAX;
    std::atomic<uint64_t> anchors_{0};

    std::atomic<bool> stop_{false};
    std::atomic<int> playState_{kStopped};
    // The channels' threads; each wait of theirs ends at a change.
    platform::WakeGroup waiters_;
};

} // namespace zoplayer
