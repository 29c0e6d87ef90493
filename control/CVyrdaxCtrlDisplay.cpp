// The live decode and display thread of one channel.
#include "CVyrdaxCtrl.h"

#include "PlayState.h"
#include "control/display/ColorConversion.h"
#include "control/display/XvidDecoder.h"
#include "control/filter/Deinterlace.h"
#include "platform/MessageBox.h"

#include <QCoreApplication>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <pthread.h>

namespace vyrdax {

namespace {

constexpr const char* kDecoderInitFailed = "Decoder Initialization Failed";
constexpr int kIdleIntervalMs = 100;
constexpr int kRemoteEmptyPollsBeforeReset = 100;
constexpr int kClockRoundMs = 5;
// The decoder may read this far past a frame's end.
constexpr std::size_t kDecoderReadAhead = 1000;
constexpr std::size_t kBitstreamSize = kMaxPayload + kStreamHeaderSize + kDecoderReadAhead;
// The slowest frame interval a DVR's code can state: recordings keep the
// code's low byte. A larger code would hold the channel's display for hours.
constexpr uint32_t kSlowestIntervalCode = 255;

std::atomic<CVyrdaxCtrl::FrameHook> decodedFrameHook{nullptr};
std::atomic<CVyrdaxCtrl::RecordHook> playbackRecordHook{nullptr};

uint64_t ClockNs(clockid_t clock)
{
    timespec t{};
    clock_gettime(clock, &t);
    return static_cast<uint64_t>(t.tv_sec) * 1000000000u + static_cast<uint64_t>(t.tv_nsec);
}

uint64_t ThreadCpuNs() { return ClockNs(CLOCK_THREAD_CPUTIME_ID); }
uint64_t WallNs() { return ClockNs(CLOCK_MONOTONIC); }

int64_t NowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

bool PlausibleDvrTime(const FrameInfo& r)
{
    const int month = r.bytes[FrameInfo::kMonth], day = r.bytes[FrameInfo::kDay], hour = r.bytes[FrameInfo::kHour];
    const int minute = r.bytes[FrameInfo::kMinute], second = r.bytes[FrameInfo::kSecond];
    return month >= 1 && month <= 13 && day >= 1 && day <= 31 && hour <= 25 && minute <= 61 && second <= 61;
}

struct Pacing {
    int intervalMs;
    bool show;
};

// Keeps the queue near its target length: a short queue slows the display
// down, a long one speeds it up, and a very long one skips showing.
Pacing PaceFromBacklog(int backlog, uint32_t intervalCode, bool interlaced)
{
    const int64_t r1 = static_cast<int64_t>(std::min(intervalCode, kSlowestIntervalCode)) + 1;
    const int64_t base = interlaced ? (1000 * r1 + 15) / 30 : 1000 * r1 / 60;
    const int64_t target = interlaced ? (30 / r1) / 2 : (60 / r1) / 2;
    const int64_t d = target / 5;
    Pacing p{static_cast<int>(base), true};
    if (backlog < target - d) {
        p.intervalMs = static_cast<int>(base + 30);
    } else if (backlog > target + d) {
        p.intervalMs = static_cast<int>(std::max<int64_t>(0, base - 30));
        if (backlog > target + 5 * d) {
            p.intervalMs = 0;
            p.show = false;
        }
    }
    return p;
}

std::string FormatTime(const std::string& name, int month, int day, int year, int hour, int minute, int second)
{
    char text[600];
    std::snprintf(text, sizeof text, " %s %02d/%02d/%04d %02d:%02d:%02d", name.c_str(), month, day, year, hour,
                  minute, second);
    return text;
}

} // namespace

bool CVyrdaxCtrl::CreateDecoder(XvidDecoder& decoder)
{
    if (decoder.Create())
        return true;
    // Without a decoder no channel can ever show video.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [] {
            platform::MessageBox(nullptr, kDecoderInitFailed);
            std::_Exit(-1);
        },
        Qt::QueuedConnection);
    return false;
}

bool CVyrdaxCtrl::StartDisplayThread(int ch)
{
    if (!ValidChannel(ch))
        return false;
    ChannelSlot& slot = channels_[ch];
    if (slot.displayThread.Running())
        return true;
    // The queue is made ready and the stream headers are asked for here,
    // before the caller adds the channel to the mask, and not by the new
    // thread: a thread that starts late would otherwise throw away the first
    // frame, the only one with the headers, or undo a first frame the
    // receive thread has already announced and announce it a second time.
    // The queue first, so that the frame the flag asks for finds it ready.
    slot.queue.Create(CFrameQueue::kSlots);
    slot.firstFrame = 1;
    slot.lastWidth = 0;
    slot.lastHeight = 0;
    slot.displayThread.Start([this, ch](platform::WorkerThread& self) { DisplayThreadProc(self, ch); },
                             &playback::waiters);
    return true;
}

void CVyrdaxCtrl::SetRemoteMode(int mode)
{
    remoteMode_ = mode;
    WakeDisplayThreads();
}

void CVyrdaxCtrl::WakeDisplayThreads()
{
    for (ChannelSlot& slot : channels_)
        slot.displayThread.Wake();
    // The receive thread of a lost remote link waits for the session's end,
    // which a change of mode may make its own.
    receiveThread_.Wake();
}

void CVyrdaxCtrl::NoteRoomInQueue(ChannelSlot& slot)
{
    if (slot.awaitingRoom.exchange(false))
        receiveThread_.Wake();
}

void CVyrdaxCtrl::RunPlaybackClock(int channel, const FrameInfo& record)
{
    const int64_t s = record.Word(FrameInfo::kStreamTime);
    const int64_t u = record.Word(FrameInfo::kStreamMicroseconds);
    // The reference is read once: another channel may set a new one while
    // this one works out its frame's time from it.
    const int64_t baseSeconds = playback::baseSeconds.load();
    const int64_t baseMicroseconds = playback::baseMicroseconds.load();
    const int64_t baseWall = playback::baseWallMs.load();
    const int64_t ahead = baseSeconds > 0 ? (s - baseSeconds) * 1000 + (u - baseMicroseconds) / 1000 : 0;
    const int64_t due = baseWall + ahead;
    int64_t now = NowMs();
    if (const RecordHook hook = playbackRecordHook.load())
        hook(channel, record);
    if (baseSeconds == 0) {
        // The frame becomes the reference and is shown at once; it says
        // nothing of whether the display paces, which a play command has
        // already told the link.
    } else if (due - now > 1000) {
        if (playback::baseChannel.load() == channel)
            playback::baseSeconds = 0;
    } else {
        // Until the frame's time, a change of play state or a stop: each of
        // them wakes the thread. The pacing flag is measured in the 5-ms
        // rounds the wait once took.
        platform::WorkerThread& thread = channels_[channel].displayThread;
        const int64_t start = now;
        while (now < due && playback::state.load() == PLAY_PLAYING && thread.WaitUntilMs(due))
            now = NowMs();
        const bool pacing = NowMs() - start > 2 * kClockRoundMs;
        // The receive thread holds a frame back for room only while the
        // display paces: it lets go once the display no longer does.
        if (pacing_.exchange(pacing) && !pacing)
            for (ChannelSlot& slot : channels_)
                NoteRoomInQueue(slot);
    }
    if (playback::baseSeconds.load() == 0) {
        playback::baseSeconds = s;
        playback::baseMicroseconds = u;
        playback::baseWallMs = NowMs();
        playback::baseChannel = channel;
    }
}

void CVyrdaxCtrl::SetDecodedFrameHookForTests(FrameHook hook)
{
    decodedFrameHook = hook;
}

void CVyrdaxCtrl::SetPlaybackClockHookForTests(RecordHook hook)
{
    playbackRecordHook = hook;
}

void CVyrdaxCtrl::AwaitFrame(platform::WorkerThread& self, ChannelSlot& slot, bool remote, int64_t& nextTake,
                             int& emptyPolls)
{
    // The queue is looked at every take interval while it stays empty;
    // those looks are counted here rather than made. The thread sleeps
    // until a frame comes, or until the look that resets a remote
    // channel's pane is due, and then takes up the same 100-ms steps.
    const int64_t emptyStart = nextTake;
    slot.awaitingFrame = true;
    if (slot.queue.Backlog() == -1) {
        if (remote && emptyPolls <= kRemoteEmptyPollsBeforeReset)
            self.WaitUntilMs(emptyStart + int64_t{kRemoteEmptyPollsBeforeReset + 1 - emptyPolls} * kIdleIntervalMs);
        else
            self.Wait();
    }
    slot.awaitingFrame = false;
    const int64_t steps = std::max<int64_t>(0, (NowMs() - emptyStart) / kIdleIntervalMs);
    if (steps == 0)
        return; // the next look is one interval after this one
    // The looks due while the thread slept came before anything it woke
    // for, and found the queue empty; the next is the first one after now,
    // so a frame is taken when those looks would have taken it. Still
    // empty (the look that resets the pane is due), the last look is made
    // at once instead, as it finds what it would have found.
    const int64_t empty = slot.queue.Backlog() == -1 ? steps - 1 : steps;
    nextTake = emptyStart + empty * kIdleIntervalMs;
    if (remote)
        emptyPolls = static_cast<int>(std::min<int64_t>(emptyPolls + empty, kRemoteEmptyPollsBeforeReset + 1));
}

void CVyrdaxCtrl::DisplayThreadProc(platform::WorkerThread& self, int channel)
{
    pthread_setname_np(pthread_self(), "vyr-display"); // tells the threads apart in profiles
    ChannelSlot& slot = channels_[channel];

    XvidDecoder decoder;
    if (!CreateDecoder(decoder))
        return;
    std::vector<uint8_t> bitstream(kBitstreamSize, 0);
    uint32_t runningCount = 0;
    int emptyPolls = 0;
    int64_t nextTake = 0;
    int takeInterval = 0;

    while (!self.StopRequested()) {
        const bool remote = remoteMode_ > 0;
        const int playState = playback::state.load();
        // Each wait below lasts until what it waits for changes; whoever
        // changes it (a play command, a login, a frame queued, a stop)
        // wakes the thread.
        if (remote && (playState == PLAY_STOPPED || playState == PLAY_PAUSED)) {
            self.Wait();
            continue;
        }
        if (!loggedIn_.load() || slot.displayRestart.load() == 0) {
            self.Wait();
            continue;
        }
        const int64_t now = NowMs();
        if (now < nextTake + takeInterval) {
            self.WaitUntilMs(nextTake + takeInterval);
            continue;
        }
        nextTake = now;
        const int backlog = slot.queue.Backlog();
        if (backlog == -1) {
            takeInterval = kIdleIntervalMs;
            queueFull_ = false;
            if (remote && ++emptyPolls > kRemoteEmptyPollsBeforeReset)
                ResetChannelDisplay(channel);
            AwaitFrame(self, slot, remote, nextTake, emptyPolls);
            continue;
        }
        if (remote)
            emptyPolls = 0;
        FrameInfo record;
        uint32_t session = 0;
        const int taken =
            slot.TakeFrame(bitstream.data(), kMaxPayload + kStreamHeaderSize, &record, loginSerial_, &session);
        NoteRoomInQueue(slot);
        if (taken != 1)
            continue; // nothing, or a frame longer than any the link admits
        const uint32_t length = record.Length();
        const uint32_t width = record.Word(FrameInfo::kWidth);
        const uint32_t height = record.Word(FrameInfo::kHeight);
        if (width > static_cast<uint32_t>(kMaxPictureWidth) || height > static_cast<uint32_t>(kMaxPictureHeight) ||
            !PlausibleDvrTime(record))
            continue;
        // The decoder reads ahead of the frame: those bytes are always zero.
        std::memset(bitstream.data() + length, 0, kDecoderReadAhead);

        const bool interlaced = record.Word(FrameInfo::kInterlace) != 0;
        const Pacing pacing = PaceFromBacklog(backlog, record.Word(FrameInfo::kIntervalCode), interlaced);
        takeInterval = pacing.intervalMs;
        if (!loggedIn_.load())
            continue;

        bool show = true;
        if (length > 0 && bitstream[0] == 0) {
            const uint32_t expected = record.IsKeyFrame() ? 0 : runningCount;
            bool mismatched = record.Word(FrameInfo::kStreamWord) != expected;
            if (slot.resynchronise.load()) {
                if (record.IsKeyFrame())
                    slot.resynchronise = false;
                else
                    mismatched = true;
            }
            runningCount = expected + 1;

            int position = 0;
            int consumed = 0;
            const uint64_t decodeStart = ThreadCpuNs();
            for (int call = 0; call < 3; ++call) {
                const int readable = static_cast<int>(length + kDecoderReadAhead) - position;
                const XvidDecoder::Result r = decoder.Decode(bitstream.data() + position, readable);
                if (r.consumed > 0) {
                    position += r.consumed;
                    consumed += r.consumed;
                }
                if (r.type > 0 || position >= static_cast<int>(length))
                    break;
            }
            slot.displayTimes.decodeNs += ThreadCpuNs() - decodeStart;
            // What the decoder took of the frame, stream headers included,
            // must be the frame.
            const int64_t L = length;
            if (mismatched || consumed < L - 8 || consumed > L + 8 || linkDown_.load())
                show = false;
        }
        if ((!pacing.show && !remote) || record.Word(FrameInfo::kChannel) != static_cast<uint32_t>(channel))
            show = false;
        // A remote session shows only what the DVR plays back. Until it has
        // taken the play command, and again after a stop, it sends live
        // video: such a frame would pass for play-back and become the
        // clock's reference, which every play-back frame then trails, shown
        // as fast as the DVR sends. Live frames are still decoded, for the
        // stream headers the first of them may carry.
        if (remote && !record.IsPlayback())
            show = false;
        if (!show)
            continue;

        const int pictureWidth = decoder.Width();
        const int pictureHeight = decoder.Height();
        if (pictureWidth <= 0 || pictureHeight <= 0 || pictureWidth > kMaxDecodeWidth ||
            pictureHeight > kMaxDecodeHeight)
            continue;
        uint8_t* Y = decoder.Picture();
        uint8_t* U = Y + static_cast<std::size_t>(pictureWidth) * pictureHeight;
        uint8_t* V = U + static_cast<std::size_t>(pictureWidth / 2) * (pictureHeight / 2);
        if (pictureHeight == 480) {
            const uint64_t start = ThreadCpuNs();
            Deinterlace(pictureWidth, 480, Y, U, V);
            slot.displayTimes.deinterlaceNs += ThreadCpuNs() - start;
        }

        CVideoPane* pane = slot.pane.data();
        if (slot.stopped.load() == 1) {
            std::lock_guard<std::recursive_mutex> lock(slot.displayLock);
            if (pane) {
                pane->ClearSurface();
                pane->PresentFrame();
            }
            continue;
        }

        if (const FrameHook hook = decodedFrameHook.load())
            hook(channel);
        const uint64_t lockStart = WallNs();
        std::lock_guard<std::recursive_mutex> lock(slot.displayLock);
        slot.displayTimes.lockWaitNs += WallNs() - lockStart;
        // The end of a session resets the pane under this lock once it is no
        // longer logged in: a frame taken before the end neither titles nor
        // paints a pane that already tells the session is over, nor one that
        // a new session has taken over meanwhile (a decode held up for the
        // whole reconnect).
        if (!loggedIn_.load() || loginSerial_.load() != session)
            continue;
        const uint32_t titleTime = record.Word(FrameInfo::kTitleTime);
        const std::string name = GetChannelName(static_cast<int16_t>(channel));
        const int month = record.bytes[FrameInfo::kMonth], day = record.bytes[FrameInfo::kDay];
        const int year = 2000 + record.bytes[FrameInfo::kYear], hour = record.bytes[FrameInfo::kHour];
        const int minute = record.bytes[FrameInfo::kMinute], second = record.bytes[FrameInfo::kSecond];
        if (record.Word(FrameInfo::kTitleForm) & 1) {
            if (slot.status.load() & STATUS_DVR_D) {
                SetChannelStatus(FormatTime(name, month, day, year, hour, minute, second), channel);
            } else {
                char text[600];
                std::snprintf(text, sizeof text, " %s No Video", name.c_str());
                SetChannelStatus(text, channel);
            }
        } else if (titleTime == 0x1124) {
            SetChannelStatus(FormatTime(name, month, day, year, hour, minute, second), channel);
        } else if (titleTime != 0) {
            const std::time_t t = static_cast<std::time_t>(titleTime);
            std::tm local{};
            localtime_r(&t, &local);
            SetChannelStatus(FormatTime(name, local.tm_mon + 1, local.tm_mday, local.tm_year + 1900, local.tm_hour,
                                        local.tm_min, local.tm_sec),
                             channel);
        }

        if (remote && playback::state.load() == PLAY_PLAYING)
            RunPlaybackClock(channel, record);
        if (pane) {
            const uint64_t cpuStart = ThreadCpuNs(), wallStart = WallNs();
            pane->ShowYV12Frame(Y, U, V, pictureWidth, pictureHeight);
            pane->PresentFrame();
            const uint64_t cpu = ThreadCpuNs() - cpuStart, wall = WallNs() - wallStart;
            slot.displayTimes.convertNs += cpu;
            // What the conversion did not spend computing it spent waiting,
            // mostly for the pane's picture while the GUI thread paints it.
            slot.displayTimes.lockWaitNs += wall > cpu ? wall - cpu : 0;
        }
        ++slot.framesShown;
    }
    slot.queue.Clear();
    slot.queue.Free();
}

} // namespace vyrdax
