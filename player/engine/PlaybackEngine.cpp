#include "PlaybackEngine.h"

#include "control/display/StreamHeader.h"
#include "control/record/RecordedStream.h"
#include "control/display/XvidDecoder.h"
#include "control/filter/Deinterlace.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <limits>
#include <thread>

namespace zoplayer {

namespace {

constexpr int kDecodeCalls = 16;
constexpr int kStepBackDecodeCalls = 3;
constexpr int kDeinterlacedHeight = 480;
// Step back decodes at most this many frames of a group.
constexpr int kMaxGroupFrames = 600;
// Frames after a channel's last key frame, or before its first, lie at most
// this far from the key frame's time.
constexpr int64_t kSpanMarginSeconds = 60;

std::atomic<PlaybackEngine::StartHook> startHook{nullptr};

// The states in which frames are paced by the base channel's clock.
bool Paced(int state) { return state == kPlaying || state == kFastForward || state == kRewind; }

bool DecodableSize(int width, int height)
{
    return width > 0 && height > 0 && width <= vyrdax::kMaxDecodeWidth && height <= vyrdax::kMaxDecodeHeight;
}

std::string FrameCaption(const MovieFrameHeader& h, int cell)
{
    char text[96];
    std::snprintf(text, sizeof text, " CH%02d %04d/%02d/%02d %02d:%02d:%02d  ", cell + 1,
                  static_cast<int8_t>(h.year) + 2000, static_cast<int8_t>(h.month), static_cast<int8_t>(h.day),
                  static_cast<int8_t>(h.hour), static_cast<int8_t>(h.minute), static_cast<int8_t>(h.second));
    return text;
}

} // namespace

uint32_t SteadyPlayerClock::NowMs()
{
    using namespace std::chrono;
    return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void SteadyPlayerClock::SleepMs(int milliseconds)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void SteadyPlayerClock::WaitMs(platform::WorkerThread* thread, int milliseconds)
{
    if (thread)
        thread->WaitFor(milliseconds);
    else
        PlayerClock::WaitMs(thread, milliseconds);
}

void SteadyPlayerClock::WaitUntilWoken(platform::WorkerThread* thread)
{
    if (thread)
        thread->Wait();
    else
        PlayerClock::WaitUntilWoken(thread);
}

struct PlaybackEngine::Channel {
    std::unique_ptr<vyrdax::XvidDecoder> decoder;
    PlayerFrame frame;
    std::vector<uint8_t> stream;
    int lastWidth = 0;
    int lastHeight = 0;
    bool headerNeeded = true;
    // After a dropped frame the pictures that follow lack their reference:
    // nothing is decoded until the next key frame.
    bool awaitKeyFrame = false;
    // The seconds the channel's key frames span, when its index says.
    bool spanKnown = false;
    int64_t firstSeconds = 0;
    int64_t lastSeconds = 0;
    int64_t due = 0;
    std::atomic<bool> refresh{false};
    std::atomic<uint64_t> shown{0};
    std::atomic<uint64_t> blanked{0};
    std::atomic<uint64_t> dropped{0};
    std::atomic<int64_t> lastShown{0};
    platform::WorkerThread thread;
};

PlaybackEngine::PlaybackEngine(std::vector<CMovieFileReader*> readers,
                               std::array<ChannelWindow*, kEngineChannels> windows, PlayerClock& clock)
    : readers_(std::move(readers)), windows_(windows), clock_(clock)
{
    if (readers_.size() > kEngineChannels)
        readers_.resize(kEngineChannels);
    for (auto& cell : cellMap_)
        cell = -1;
    for (std::size_t c = 0; c < readers_.size(); ++c) {
        channels_.push_back(std::make_unique<Channel>());
        Channel& channel = *channels_.back();
        channel.stream.assign(vyrdax::kStreamHeaderSize + vyrmovie::kFrameBufferSize, 0);
        // Lowest and highest rather than first and last: a damaged record
        // widens the span and never takes a good frame out of it.
        const CMovieFileReader& reader = *readers_[c];
        for (int i = 0; i < reader.RecordCount(); ++i) {
            const int64_t seconds = reader.GetIndexRecord(i).seconds;
            channel.firstSeconds = channel.spanKnown ? std::min(channel.firstSeconds, seconds) : seconds;
            channel.lastSeconds = channel.spanKnown ? std::max(channel.lastSeconds, seconds) : seconds;
            channel.spanKnown = true;
        }
    }
}

PlaybackEngine::~PlaybackEngine() { StopThreads(); }

uint64_t PlaybackEngine::ShownCount(int c) const { return channels_[static_cast<std::size_t>(c)]->shown.load(); }
uint64_t PlaybackEngine::BlankedCount(int c) const { return channels_[static_cast<std::size_t>(c)]->blanked.load(); }
int64_t PlaybackEngine::LastShownTime(int c) const { return channels_[static_cast<std::size_t>(c)]->lastShown.load(); }
uint64_t PlaybackEngine::DroppedCount(int c) const { return channels_[static_cast<std::size_t>(c)]->dropped.load(); }

bool PlaybackEngine::CreateDecoders()
{
    for (auto& channel : channels_) {
        channel->decoder = std::make_unique<vyrdax::XvidDecoder>();
        if (!channel->decoder->Create())
            return false;
    }
    return true;
}

void PlaybackEngine::SetStartHookForTests(StartHook hook) { startHook = hook; }

void PlaybackEngine::StartThreads()
{
    stop_ = false;
    for (std::size_t c = 0; c < channels_.size(); ++c) {
        if (channels_[c]->thread.Running())
            continue;
        channels_[c]->thread.Start(
            [this, c, hook = startHook.load()](platform::WorkerThread& self) {
                if (hook)
                    hook(static_cast<int>(c));
                while (!stop_.load() && !self.StopRequested())
                    RunChannelOnce(static_cast<int>(c));
            },
            &waiters_);
    }
}

void PlaybackEngine::StopThreads()
{
    stop_ = true;
    for (auto& channel : channels_)
        channel->thread.RequestStop();
    for (auto& channel : channels_)
        channel->thread.StopAndJoin();
}

void PlaybackEngine::SetPlayState(int state)
{
    playState_ = state;
    WakeThreads();
}

void PlaybackEngine::WaitRound(int c, int milliseconds)
{
    platform::WorkerThread& thread = channels_[static_cast<std::size_t>(c)]->thread;
    clock_.WaitMs(thread.IsCurrentThread() ? &thread : nullptr, milliseconds);
}

void PlaybackEngine::WaitRoundUntilWoken(int c)
{
    platform::WorkerThread& thread = channels_[static_cast<std::size_t>(c)]->thread;
    clock_.WaitUntilWoken(thread.IsCurrentThread() ? &thread : nullptr);
}

void PlaybackEngine::MarkAnchorPassedLocked()
{
    if (anchorPassedGeneration_ == clockGeneration_)
        return;
    anchorPassedGeneration_ = clockGeneration_;
    WakeThreads(); // the channels that wait for the anchor go on
}

void PlaybackEngine::SetBaseChannel(int c)
{
    std::lock_guard<std::mutex> guard(globalLock_);
    if (c >= 0 && c < ChannelCount() && baseChannel_.load() != c) {
        baseChannel_ = c;
        WakeThreads(); // a channel that waited for the old base's anchor may be the base now
    }
}

int PlaybackEngine::CellChannel(int cell) const
{
    if (cell < 0 || cell >= kEngineChannels)
        return -1;
    return cellMap_[static_cast<std::size_t>(cell)].load();
}

void PlaybackEngine::SetRefresh(int c)
{
    if (c >= 0 && c < ChannelCount()) {
        channels_[static_cast<std::size_t>(c)]->refresh = true;
        channels_[static_cast<std::size_t>(c)]->thread.Wake();
    }
}

bool PlaybackEngine::Anchored() const
{
    std::lock_guard<std::mutex> guard(globalLock_);
    return anchored_;
}

void PlaybackEngine::ResetBaseClock()
{
    {
        std::lock_guard<std::mutex> guard(globalLock_);
        UnanchorLocked();
    }
    for (auto& channel : channels_)
        channel->refresh = true;
    WakeThreads();
}

void PlaybackEngine::UnanchorLocked()
{
    anchored_ = false;
    ++clockGeneration_;
    // A channel waiting for its frame paces by the old anchor: it stops
    // waiting, or counts again from the anchor that follows.
    WakeThreads();
}

bool PlaybackEngine::AwaitsTheAnchor(int c)
{
    std::lock_guard<std::mutex> guard(globalLock_);
    return !anchored_ && c != baseChannel_.load() && anchorPassedGeneration_ != clockGeneration_;
}

int64_t PlaybackEngine::DueLocked(int s, int32_t seconds, int32_t microseconds) const
{
    const int64_t S0 = anchorSeconds_, U0 = anchorMicroseconds_;
    if (s == kRewind)
        return (U0 - microseconds) / 1000 + (S0 - seconds) * 1000;
    return std::max<int64_t>((microseconds - U0) / 1000 + (seconds - S0) * 1000, 0);
}

void PlaybackEngine::ChooseEarliestBaseChannel()
{
    if (readers_.empty())
        return;
    {
        std::lock_guard<std::mutex> guard(globalLock_);
        int best = 0;
        IndexRecord bestRecord = readers_[0]->GetIndexRecord(0);
        for (int c = 1; c < ChannelCount(); ++c) {
            const IndexRecord r = readers_[static_cast<std::size_t>(c)]->GetIndexRecord(0);
            const auto key = [](const IndexRecord& x) {
                return std::make_pair(static_cast<uint32_t>(x.seconds), x.microseconds);
            };
            if (key(r) < key(bestRecord)) {
                best = c;
                bestRecord = r;
            }
        }
        baseChannel_ = best;
    }
    ResetBaseClock();
}

void PlaybackEngine::ChooseBaseChannel(bool forward, int firstCell, int lastCell)
{
    {
        std::lock_guard<std::mutex> guard(globalLock_);
        const int before = baseChannel_.load();
        ChooseBaseChannelLocked(forward, firstCell, lastCell);
        // The same base and a clock already waiting for its anchor: nothing
        // to reset, and no thread to wake. A finished base channel asks
        // again every time it is woken; were it to wake the others each
        // time, they would wake it in turn without end.
        if (baseChannel_.load() == before && !anchored_)
            return;
    }
    ResetBaseClock();
}

bool PlaybackEngine::EndedGoing(bool forward, const CMovieFileReader& reader)
{
    return forward ? reader.Finished() : reader.EndFlag() == kBeforeStart;
}

void PlaybackEngine::ChooseBaseChannelLocked(bool forward, int firstCell, int lastCell)
{
    if (readers_.empty())
        return;
    const int base = baseChannel_.load();
    const int64_t t = readers_[static_cast<std::size_t>(base)]->FrameSeconds();
    // A base with nothing more to play that way hands over to the nearest
    // channel still playing at or after its time (at or before it in
    // rewind), even one in the same second: as the base it would hold the
    // clock with no frame to anchor it on.
    const bool handOver = EndedGoing(forward, *readers_[static_cast<std::size_t>(base)]);
    int choice = base;
    int64_t bestDistance = std::numeric_limits<int64_t>::max();
    for (int cell = std::max(firstCell, 0); cell <= std::min(lastCell, kEngineChannels - 1); ++cell) {
        const int c = CellChannel(cell);
        if (c < 0 || c >= ChannelCount())
            continue;
        const CMovieFileReader* reader = readers_[static_cast<std::size_t>(c)];
        const int64_t s = reader->FrameSeconds();
        if (handOver) {
            const int64_t distance = forward ? s - t : t - s;
            if (c != base && !EndedGoing(forward, *reader) && distance >= 0 && distance < bestDistance) {
                bestDistance = distance;
                choice = c;
            }
            continue;
        }
        if (reader->Finished())
            continue;
        const int end = reader->EndFlag();
        if (forward) {
            if (s == t && (end == kNotAtEnd || end == kBeforeStart))
                break;
            if (s > t && s - t < bestDistance) {
                bestDistance = s - t;
                choice = c;
            }
        } else {
            if (cell == base)
                continue;
            if (s == t && (end == kNotAtEnd || end == kAtEnd))
                break;
            if (s < t && t - s < bestDistance) {
                bestDistance = t - s;
                choice = c;
            }
        }
    }
    baseChannel_ = choice;
}

void PlaybackEngine::SyncChannelsToBase()
{
    const int base = baseChannel_.load();
    if (base < 0 || base >= ChannelCount())
        return;
    const MovieFrameHeader h = readers_[static_cast<std::size_t>(base)]->CurrentHeader();
    for (int c = 0; c < ChannelCount(); ++c)
        if (c != base)
            readers_[static_cast<std::size_t>(c)]->SeekTime(h.seconds, static_cast<int32_t>(h.microseconds));
    WakeThreads(); // a channel at the end of its file may have frames to read again
}

bool PlaybackEngine::AllChannelsFinished() const
{
    for (const CMovieFileReader* reader : readers_)
        if (!reader->Finished())
            return false;
    return true;
}

void PlaybackEngine::SetChannelCaption(int cell)
{
    if (cell < 0 || cell >= kEngineChannels)
        return;
    ChannelWindow* window = windows_[static_cast<std::size_t>(cell)];
    if (!window || playState_.load() >= kStepForward)
        return;
    char text[16];
    std::snprintf(text, sizeof text, " CH%02d ", cell + 1);
    window->SetTitle(text);
    window->ClearPicture();
}

int PlaybackEngine::DecodeFrame(Channel& channel, const uint8_t* data, int length, int maxCalls)
{
    if (!channel.decoder)
        return 0;
    int position = 0;
    for (int call = 0; call < maxCalls && position < length; ++call) {
        // The decoder is given what is left of the frame, never more.
        const vyrdax::XvidDecoder::Result r = channel.decoder->Decode(data + position, length - position);
        if (r.consumed > 0)
            position += r.consumed;
        if (r.type > 0)
            return 1;
        if (r.consumed <= 0)
            break;
    }
    return 0;
}

bool PlaybackEngine::StepBack(Channel& channel, CMovieFileReader& reader, PlayerFrame& frame)
{
    // The frame before the shown one is decoded from its group's key frame:
    // the shown frame's own group when frames precede it there, else the
    // group before, however long it is. The reader is then left on it as
    // play would have left it, so the next press goes one frame further.
    const int64_t shown = reader.FramePosition();
    const int64_t shownKey = reader.KeyFramePosition();
    const int keyIndex = reader.KeyIndex();
    const int framesSinceKey = reader.FramesSinceKey();
    int64_t start = shownKey;
    int frames = framesSinceKey;
    int stepKeyIndex = keyIndex;
    if (frames == 0) {
        start = reader.KeyFrameBefore(shown);
        frames = kMaxGroupFrames;
        stepKeyIndex = keyIndex - 1;
    }
    int decoded = 0;
    int64_t last = 0;
    if (start > 0) {
        reader.SeekFrame(start);
        for (; decoded < frames; ++decoded) {
            if (reader.ReadMovieFrame() < 1 || reader.FramePosition() >= shown)
                break;
            last = reader.FramePosition();
            reader.CopyFrame(&frame);
            DecodeFrame(channel, frame.payload.data(), static_cast<int>(frame.header.Length()), kStepBackDecodeCalls);
        }
    }
    if (decoded == 0) {
        // Nothing before it (or an index that says otherwise): stay on it.
        reader.ReturnToFrame(shown, shownKey, keyIndex, framesSinceKey);
        return false;
    }
    reader.ReturnToFrame(last, start, stepKeyIndex, decoded - 1);
    return true;
}

void PlaybackEngine::DropUntilKeyFrame(Channel& channel)
{
    channel.awaitKeyFrame = true;
    // The key frame gets stream headers of its own size again, whatever
    // size the decoder was last told.
    channel.headerNeeded = true;
    ++channel.dropped;
}

void PlaybackEngine::RunChannelOnce(int c)
{
    if (c < 0 || c >= ChannelCount())
        return;
    const int s = playState_.load();
    if (s == kStopped || s == kPaused) {
        WaitRoundUntilWoken(c); // until the play state changes
        return;
    }
    if (!Paced(s)) {
        PlayFrame(c, s);
        return;
    }
    // A frame read before the clock has its anchor would be paced by
    // nothing: whichever thread runs first would race through its file
    // until the base channel's first frame anchors the clock, and its
    // pictures would then lie ahead of the others'. The other channels
    // wait for that frame instead, whatever order the threads start in.
    if (AwaitsTheAnchor(c)) {
        // The clock is being reset already: nothing to cut short.
        channels_[static_cast<std::size_t>(c)]->refresh = false;
        WaitRoundUntilWoken(c); // until the anchor is set, passed or reset
        return;
    }
    uint64_t generation;
    {
        std::lock_guard<std::mutex> guard(globalLock_);
        generation = clockGeneration_;
    }
    PlayFrame(c, s);
    // A base round that ends with the clock still waiting, nobody having
    // reset it meanwhile, had no frame to anchor on (one dropped as
    // damaged): the others go on without the anchor until it comes.
    std::lock_guard<std::mutex> guard(globalLock_);
    if (c == baseChannel_.load() && !anchored_ && clockGeneration_ == generation)
        MarkAnchorPassedLocked();
}

void PlaybackEngine::PlayFrame(int c, int s)
{
    Channel& channel = *channels_[static_cast<std::size_t>(c)];
    CMovieFileReader& reader = *readers_[static_cast<std::size_t>(c)];
    PlayerFrame& frame = channel.frame;

    const int r = reader.ReadNext(&frame);
    if (r == kFrameRefused && !reader.Finished()) {
        // The reader has moved on to the next key frame: the channel goes
        // on with it next round; as the base it holds nobody up, the clock
        // going on by its anchor, or without it as for any dropped frame.
        DropUntilKeyFrame(channel);
        return;
    }
    if (r < 1) {
        if (c == baseChannel_.load()) {
            ChooseBaseChannel(s != kRewind, 0, 32);
            // Still the base in play, it has no frame to anchor the clock
            // on; a new base anchors it with its next frame.
            std::lock_guard<std::mutex> guard(globalLock_);
            if (c == baseChannel_.load() && Paced(s))
                MarkAnchorPassedLocked();
        }
        SetChannelCaption(frame.Cell());
        // Nothing more to read until the operator moves: every play
        // command, seek and change of the base wakes the thread.
        WaitRoundUntilWoken(c);
        return;
    }
    const int cell = frame.Cell();
    // The channel number comes from the file: a cell the player does not
    // have is skipped.
    if (cell >= kEngineChannels)
        return;
    if (s != kStepBack) {
        // A size no decoder buffer is made for never reaches the decoder.
        if (!DecodableSize(frame.header.width, frame.header.height)) {
            DropUntilKeyFrame(channel);
            return;
        }
        if (channel.awaitKeyFrame && !frame.header.IsKeyFrame()) {
            ++channel.dropped;
            return;
        }
        channel.awaitKeyFrame = false;
    }
    if (frame.header.width != channel.lastWidth || frame.header.height != channel.lastHeight) {
        channel.lastWidth = frame.header.width;
        channel.lastHeight = frame.header.height;
        channel.headerNeeded = true;
    }

    if (s == kStepBack) {
        if (CellChannel(pageStart.load()) != c) {
            WaitRoundUntilWoken(c);
            return;
        }
        if (!StepBack(channel, reader, frame))
            return; // nothing before the first frame
    }

    const std::string caption = FrameCaption(frame.header, cell);
    const uint8_t* data = frame.payload.data();
    int length = static_cast<int>(frame.header.Length());
    if (channel.headerNeeded && s != kStepBack) {
        const vyrdax::StreamHeader header =
            vyrmovie::RecordedStreamHeader(frame.header, frame.payload.data(), frame.header.Length());
        std::memcpy(channel.stream.data(), header.data(), header.size());
        std::memcpy(channel.stream.data() + header.size(), frame.payload.data(),
                    frame.payload.size() < channel.stream.size() - header.size() ? frame.payload.size()
                                                                                 : channel.stream.size() - header.size());
        channel.headerNeeded = false;
        data = channel.stream.data();
        length += static_cast<int>(header.size());
    }
    cellMap_[static_cast<std::size_t>(cell)] = c;
    // A base that ended before this channel started, or with no channel then
    // at or past its time, is handed over as soon as one is.
    if (Paced(s) && c != baseChannel_.load() &&
        EndedGoing(s != kRewind, *readers_[static_cast<std::size_t>(baseChannel_.load())]))
        ChooseBaseChannel(s != kRewind, 0, 32);
    if (s != kStepBack) {
        DecodeFrame(channel, data, length, kDecodeCalls);
        // Stream headers inside the frame announced a size the decoder did
        // not take: the frame has no picture of its own.
        if (channel.decoder && channel.decoder->SizeRefused()) {
            DropUntilKeyFrame(channel);
            return;
        }
    }

    const int32_t S = frame.header.seconds;
    const int32_t U = static_cast<int32_t>(frame.header.microseconds);
    if (s != kStepForward && s != kStepBack) {
        // A time outside the channel's recording is damage: paced, it would
        // hold the thread (or, on the base channel, the clock) for as long
        // as the time is wrong. Decoded already, it keeps the pictures after
        // it whole.
        if (channel.spanKnown && (S < channel.firstSeconds - kSpanMarginSeconds ||
                                  S > channel.lastSeconds + kSpanMarginSeconds)) {
            ++channel.dropped;
            return;
        }
        bool anchored;
        uint32_t W0;
        uint64_t generation;
        int64_t due = 0;
        {
            std::lock_guard<std::mutex> guard(globalLock_);
            anchored = anchored_;
            W0 = anchorWallMs_;
            generation = clockGeneration_;
            if (anchored)
                due = DueLocked(s, S, U);
        }
        channel.due = due;
        const int divisor = (s == kFastForward || s == kRewind) ? kFastDivisor : 1;
        int64_t elapsed = anchored ? static_cast<int64_t>(static_cast<uint32_t>(clock_.NowMs() - W0)) : 0;
        const int base = baseChannel_.load();
        const int64_t baseSeconds = readers_[static_cast<std::size_t>(base)]->FrameSeconds();
        if (s == kFastForward && S > baseSeconds + 60)
            SetChannelCaption(cell);
        else if (s == kRewind && due / kFastDivisor > elapsed + kGapMilliseconds)
            SetChannelCaption(cell);
        else if (s == kPlaying && due > elapsed + kGapMilliseconds)
            SetChannelCaption(cell);
        if (splitMode.load() == 1 && CellChannel(pageStart.load()) == c && due > elapsed + kGapMilliseconds) {
            channel.due = due = 0;
            std::lock_guard<std::mutex> guard(globalLock_);
            UnanchorLocked();
        }
        if (c == base && s == kPlaying && due > elapsed + kGapMilliseconds)
            ChooseBaseChannel(false, 0, 32);
        // The base channel never waits out a gap, at any speed: the clock
        // re-anchors on its next frame instead.
        if (c == baseChannel_.load() && due / divisor > elapsed + kGapMilliseconds) {
            channel.due = due = 0;
            std::lock_guard<std::mutex> guard(globalLock_);
            UnanchorLocked();
        }
        while (due / divisor > elapsed && !stop_.load()) {
            // Stopped or paused, and any other new state: the due time was
            // worked out for this one's speed and direction.
            if (playState_.load() != s)
                break;
            if (channel.refresh.exchange(false))
                break;
            // Until the frame is due; a refresh, a new play state or a clock
            // reset or un-anchored wakes the thread sooner.
            WaitRound(c, static_cast<int>(std::min<int64_t>(due / divisor - elapsed, INT32_MAX)));
            {
                std::lock_guard<std::mutex> guard(globalLock_);
                if (!anchored_)
                    break; // the clock was reset: pace from the new anchor
                if (clockGeneration_ != generation) {
                    // Anchored again while the thread waited: the frame is
                    // due by the new anchor, not the old one.
                    generation = clockGeneration_;
                    channel.due = due = DueLocked(s, S, U);
                }
                W0 = anchorWallMs_;
            }
            elapsed = static_cast<int64_t>(static_cast<uint32_t>(clock_.NowMs() - W0));
        }
        clock_.SleepMs(1);
        if (c == baseChannel_.load()) {
            std::lock_guard<std::mutex> guard(globalLock_);
            if (!anchored_) {
                anchored_ = true;
                anchorSeconds_ = S;
                anchorMicroseconds_ = U;
                anchorWallMs_ = clock_.NowMs();
                ++anchors_;
                WakeThreads(); // the channels that wait for the anchor
            }
        }
    }

    const int now = playState_.load();
    const int64_t baseSeconds = readers_[static_cast<std::size_t>(baseChannel_.load())]->FrameSeconds();
    bool show;
    if (now == kPlaying)
        show = S >= baseSeconds - kStepWindowSeconds && S <= baseSeconds + kStepWindowSeconds;
    else if (now == kPaused)
        show = S <= baseSeconds + kStepWindowSeconds;
    else
        show = now != kStopped;
    ChannelWindow* window = windows_[static_cast<std::size_t>(cell)];
    vyrdax::XvidDecoder* decoder = channel.decoder.get();
    if (show && decoder && decoder->HasPicture()) {
        const int w = decoder->Width(), h = decoder->Height();
        uint8_t* y = decoder->Picture();
        uint8_t* u = y + static_cast<std::size_t>(w) * h;
        uint8_t* v = u + static_cast<std::size_t>(w) * h / 4;
        if (h == kDeinterlacedHeight)
            vyrdax::Deinterlace(w, h, y, u, v);
        if (window) {
            window->SetTitle(caption);
            window->ShowPicture(y, u, v, w, h);
        }
        channel.lastShown = static_cast<int64_t>(S) * 1000000 + U;
        ++channel.shown;
    } else {
        if (window)
            window->ClearPicture();
        ++channel.blanked;
    }
}

} // namespace zoplayer
