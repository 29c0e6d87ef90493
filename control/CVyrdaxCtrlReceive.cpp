// The receive thread: sends what is queued for the DVR and reads its packets.
#include "CVyrdaxCtrl.h"

#include "PlayState.h"
#include "StatusTexts.h"
#include "control/link/LinkSettings.h"

#include <chrono>
#include <cstring>
#include <pthread.h>
#include <thread>

namespace vyrdax {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kFrameBufferStep = 131072;
// A frame carries its stream headers in the gap in front of the payload.
constexpr std::size_t kFrameGap = kStreamHeaderSize;
// How long a remote frame is held back for room in its full queue before it
// is dropped: while the display paces frames, and while it does not.
constexpr auto kRoomWhilePacing = std::chrono::milliseconds(1000);
constexpr auto kRoomOtherwise = std::chrono::milliseconds(10);

std::atomic<CVyrdaxCtrl::RecordHook> receivedFrameHook{nullptr};

} // namespace

void CVyrdaxCtrl::SetReceivedFrameHookForTests(RecordHook hook)
{
    receivedFrameHook = hook;
}

bool CVyrdaxCtrl::Drain(platform::WorkerThread& self, CDvrSocket& socket, std::size_t length)
{
    // One read's time-out for the whole payload, as if it were read whole.
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(Timeouts().dataMs);
    uint8_t scratch[4096];
    while (length > 0) {
        const std::size_t n = std::min(length, sizeof scratch);
        if (!socket.ReceiveUntil(scratch, n, deadline, self.WakeFd()))
            return false;
        length -= n;
    }
    return true;
}

void CVyrdaxCtrl::ReceiveThreadProc(platform::WorkerThread& self)
{
    pthread_setname_np(pthread_self(), "vyr-receive"); // tells the threads apart in profiles
    timers_.SetTimer(kReceiveTimerId, Timeouts().reconnectTickMs);
    std::vector<uint8_t> frameBuffer(kFrameBufferStep);
    for (int ch = 0; ch < kChannelCount; ++ch)
        channels_[ch].firstFrame = 1;
    Clock::time_point lastActivity = Clock::now();
    const auto silence = std::chrono::milliseconds(Timeouts().dataMs);
    // The GUI thread is asked once to end a remote session whose link is down.
    bool remoteLossReported = false;

    while (!self.StopRequested()) {
        if (!loggedIn_.load()) {
            remoteLossReported = false;
            ExchangeLogin(self);
            // Until the next login request, or the login it carried is
            // taken: both wake the thread.
            if (!loggedIn_.load())
                self.Wait();
            lastActivity = Clock::now();
            continue;
        }
        if (Clock::now() - lastActivity > silence) {
            linkDown_ = 1;
            reconnectPending_ = 1;
        }
        if (reconnectPending_.load())
            lastActivity = Clock::now();
        if (linkDown_.load()) {
            // Written once with its final value, so the reconnect tick never
            // sees a request that is taken back a moment later.
            const bool reconnect = LiveSession() && stopped_.load() == 0;
            reconnectPending_ = reconnect ? 1 : 0;
            if (remoteMode_ > 0) {
                // Ended on the GUI thread, which tells the host and the
                // operator; until then nothing moves.
                if (!remoteLossReported) {
                    remoteLossReported = true;
                    platform::PostMessage(this, WM_DVR_REMOTE_LINK_LOST, 0, 0);
                }
                // Until the GUI thread has ended the session, or a new one
                // logs in.
                self.Wait();
                continue;
            }
            if (reconnect)
                for (int ch = 0; ch < kChannelCount; ++ch)
                    if (channels_[ch].displayIndex.load() != -1 && channels_[ch].stopped.load() == 0)
                        SetChannelStatus(text::kRequestDisconnect, ch);
            Logout();
            continue;
        }
        remoteLossReported = false;
        if (SendPendingChannelMask()) {
            lastActivity = Clock::now();
            if (remoteMode_ > 0)
                ResumeRemoteRequest();
        }
        if (linkDown_.load())
            continue;
        if (SendMicrophoneBlock())
            lastActivity = Clock::now();
        if (linkDown_.load())
            continue;

        std::shared_ptr<CDvrSocket> socket = CurrentSocket();
        DvrPacketHeader header;
        // The read ends when the silence does, not a whole time-out after
        // it began: a DVR that says nothing is taken down at its time-out.
        if (!socket || !socket->ReceiveUntil(header.bytes.data(), header.bytes.size(), lastActivity + silence,
                                             self.WakeFd())) {
            if (socket && socket->Broken())
                NoteBrokenLink(*socket);
            continue;
        }
        lastActivity = Clock::now();
        if (linkDown_.load())
            continue;
        bool read = true;
        switch (header.Type()) {
        case PACKET_VIDEO: read = HandleVideo(self, *socket, header, frameBuffer); break;
        case PACKET_AUDIO: read = HandleAudio(self, *socket, header); break;
        case PACKET_CONTROL: read = HandleControlReply(self, *socket, header); break;
        default: break;
        }
        if (socket->Broken())
            NoteBrokenLink(*socket);
        // A handler that read its payload counts as activity. One that could
        // not has already dropped the link or found it broken, or its read
        // timed out: the silence is then counted from the header, so the
        // next pass takes the link down at its time-out, not one later.
        if (read)
            lastActivity = Clock::now();
    }
    timers_.KillTimer(kReceiveTimerId);
    sound_->ReceiveThreadEnded();
}

bool CVyrdaxCtrl::HandleVideo(platform::WorkerThread& self, CDvrSocket& socket, const DvrPacketHeader& header,
                              std::vector<uint8_t>& frameBuffer)
{
    const uint32_t length = header.Word(DvrPacketHeader::kCode);
    const uint32_t width = header.Word(DvrPacketHeader::kVideoWidth);
    const uint32_t height = header.Word(DvrPacketHeader::kVideoHeight);
    const uint32_t channel = header.Word(DvrPacketHeader::kVideoChannel);
    if (length == 0 || length > kMaxPayload) {
        // No payload of that size can be read past safely: the link is
        // taken down and set up again rather than parsing frame bytes as
        // headers.
        linkDown_ = 1;
        return false;
    }
    if (width > static_cast<uint32_t>(kMaxPictureWidth) || height > static_cast<uint32_t>(kMaxPictureHeight) ||
        channel >= static_cast<uint32_t>(kChannelCount)) {
        if (Drain(self, socket, length))
            return true;
        linkDown_ = 1;
        return false;
    }
    ChannelSlot& slot = channels_[channel];
    if (static_cast<int>(width) != slot.lastWidth.load() || static_cast<int>(height) != slot.lastHeight.load()) {
        slot.firstFrame = 1;
        slot.lastWidth = static_cast<int>(width);
        slot.lastHeight = static_cast<int>(height);
    }
    if (frameBuffer.size() < length + kFrameGap)
        frameBuffer.resize((length + kFrameGap + kFrameBufferStep - 1) / kFrameBufferStep * kFrameBufferStep);
    std::memset(frameBuffer.data(), 0, frameBuffer.size());
    if (!socket.ReceiveExact(frameBuffer.data() + kFrameGap, length, Timeouts().dataMs, self.WakeFd()))
        return false;

    FrameInfo info = header.ToFrameInfo();
    const uint8_t* frame = frameBuffer.data() + kFrameGap;
    uint32_t frameLength = length;
    const uint8_t statusByte = header.Byte(DvrPacketHeader::kVideoStatusByte);
    if (slot.firstFrame.load()) {
        // The stream headers always go into the gap in front of the frame,
        // never over its own bytes.
        frame = frameBuffer.data();
        if (frameBuffer[kFrameGap] == 0 && info.IsKeyFrame()) {
            SetChannelStatus(text::kConnectCompleted, static_cast<int>(channel));
            SendHostMessage(WM_VIDEO_STARTED, 0, slot.displayIndex.load(), &self.StopFlag());
        }
        slot.firstFrame = 0;
        StreamHeader streamHeader = kStreamHeaderTemplate;
        PatchStreamHeader(streamHeader, width, height, header.Word(DvrPacketHeader::kVideoInterlace) == 1);
        std::memcpy(frameBuffer.data(), streamHeader.data(), kStreamHeaderSize);
        frameLength += kStreamHeaderSize;
        playbackStream_ = statusByte == FrameInfo::kPlaybackState;
    }
    info.SetWord(FrameInfo::kLength, frameLength);

    if (IsRecording(static_cast<int>(channel)))
        WriteRecordFrame(static_cast<int>(channel), frame, info);
    if (recorder_->AviActive(static_cast<int>(channel)))
        WriteAviFrame(static_cast<int>(channel), frame, frameLength, header);

    if (const RecordHook hook = receivedFrameHook.load())
        hook(static_cast<int>(channel), info);

    if (slot.stopped.load() == 1)
        return true;
    UpdateChannelState(static_cast<int>(channel), static_cast<int8_t>(statusByte));
    if (remoteMode_ == 0) {
        slot.QueueFrame(frame, info);
    } else if (playback::state.load() == PLAY_STOPPED) {
        // A stopped play-back shows nothing, and the next play command
        // empties the queues. What the DVR sent for the play-back before it
        // took the stop, and the live video it sends after it, would only
        // wait on the link to pass for the next play-back's frames: they are
        // let go as they come, so the link is clear of them by then.
    } else if (!slot.QueueFrame(frame, info)) {
        // Remote play-back holds the link back while the display paces
        // frames, which slows the DVR down through TCP. The frame waits for
        // room (the display's take, an emptied queue), for the display to
        // stop pacing, or for its time, and is dropped after that; a stop
        // lets it go at once, as it does every frame after it.
        queueFull_ = true;
        const bool pacing = pacing_.load();
        const Clock::time_point giveUp = Clock::now() + (pacing ? kRoomWhilePacing : kRoomOtherwise);
        for (;;) {
            // Told before the look, so that room made after it ends the wait.
            slot.awaitingRoom = true;
            if (playback::state.load() == PLAY_STOPPED || slot.QueueFrame(frame, info) ||
                (pacing && !pacing_.load()) || Clock::now() >= giveUp || !self.WaitUntil(giveUp))
                break;
        }
        slot.awaitingRoom = false;
    }
    const uint32_t events = header.Word(DvrPacketHeader::kVideoEventBits);
    if (events & 2)
        SendHostMessage(WM_VIDEO_ALARM, 0, slot.displayIndex.load(), &self.StopFlag());
    if (events & 4)
        SendHostMessage(WM_VIDEO_ALARM2, 0, slot.displayIndex.load(), &self.StopFlag());
    if (!loggedIn_.load())
        SetChannelStatus(text::kDisconnected, static_cast<int>(channel));
    return true;
}

bool CVyrdaxCtrl::HandleAudio(platform::WorkerThread& self, CDvrSocket& socket, const DvrPacketHeader& header)
{
    return ReceiveSound(self, socket, header);
}

bool CVyrdaxCtrl::HandleControlReply(platform::WorkerThread& self, CDvrSocket& socket, const DvrPacketHeader& header)
{
    switch (header.Code()) {
    case REPLY_EVENT_LIST: {
        const uint32_t count = header.Word(DvrPacketHeader::kArg1);
        // A failed or impossible read leaves no count over stale records.
        if (eventTable_)
            WriteLE32(eventTable_.get(), 0);
        if (count > kMaxEventRecords || !eventTable_) {
            if (!eventTable_ && count <= kMaxEventRecords && Drain(self, socket, count * kEventRecordSize))
                return true; // a list nobody asked for
            DropLinkOf(socket, 0);
            return false;
        }
        std::vector<uint8_t> records(static_cast<std::size_t>(count) * kEventRecordSize);
        if (!socket.ReceiveExact(records.data(), records.size(), Timeouts().dataMs, self.WakeFd())) {
            DropLinkOf(socket, 0);
            self.SleepFor(10);
            return false;
        }
        // Dropped first: the host reads the table and may poll again at once.
        // A list that arrives after the host began another session is not
        // that session's.
        const int index = channels_[0].displayIndex.load();
        const bool current = DropLinkOf(socket, -1, [&] {
            // A DVR with nothing new answers with no records at all: there
            // is nothing to copy then, and an empty list has no storage.
            if (!records.empty())
                std::memcpy(eventTable_.get() + 4, records.data(), records.size());
            WriteLE32(eventTable_.get(), count);
        });
        if (current)
            SendHostMessage(WM_VIDEO_PROGRESS, 1, index, &self.StopFlag());
        return true;
    }
    case REPLY_SEARCH: {
        const bool timeList = timeListFlag_.load() != 0;
        std::vector<uint8_t> answer(timeList ? kTimeListSize : kMonthTableSize);
        if (!socket.ReceiveExact(answer.data(), answer.size(), Timeouts().dataMs, self.WakeFd())) {
            DropLinkOf(socket, -1);
            self.SleepFor(10);
            return false;
        }
        auto keep = [&] {
            if (timeList)
                std::memcpy(timeList_.data(), answer.data(), answer.size());
            else
                std::memcpy(monthTable_.data(), answer.data(), answer.size());
        };
        // A one-shot search is over before the host is told, so a search
        // it asks for next opens a session of its own.
        if (!(channels_[0].status.load() & (0x40 | 0x80 | 0x100))) {
            if (!DropLinkOf(socket, -1, keep))
                return true;
        } else {
            keep();
        }
        if (timeList)
            SendHostMessage(WM_VIDEO_TIME_DATA, 0, 0, &self.StopFlag());
        else
            SendHostMessage(WM_VIDEO_MONTH_DATA, static_cast<platform::WPARAM>(dvrType_.load()), 0,
                            &self.StopFlag());
        return true;
    }
    case REPLY_SETUP_RECORD: {
        const bool large = dvrType_.load() >= kSetupRecordLargeFromDvrType;
        std::vector<uint8_t> record(large ? kSetupRecordLargeSize : kSetupRecordSmallSize);
        if (!socket.ReceiveExact(record.data(), record.size(), Timeouts().dataMs, self.WakeFd())) {
            self.SleepFor(10);
            return false;
        }
        std::memcpy(large ? setupLarge_.data() : setupSmall_.data(), record.data(), record.size());
        const uint32_t channel = header.Word(DvrPacketHeader::kArg1);
        const int displayIndex =
            channel < static_cast<uint32_t>(kChannelCount) ? channels_[channel].displayIndex.load() : -1;
        SendHostMessage(WM_VIDEO_DVR_DATA, static_cast<platform::WPARAM>(dvrType_.load()), displayIndex,
                        &self.StopFlag());
        return true;
    }
    default: return true; // nothing follows the header
    }
}

} // namespace vyrdax
