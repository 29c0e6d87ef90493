// Commands to the DVR: general commands, PTZ, remote search and play-back,
// and the tables the DVR's answers fill.
#include "CVyrdaxCtrl.h"

#include "PlayState.h"
#include "control/link/LinkSettings.h"

#include <chrono>
#include <thread>

namespace vyrdax {

int CVyrdaxCtrl::PlayState() { return playback::state.load(); }

void CVyrdaxCtrl::ShowPlayStateTag(const QString& tag)
{
    for (int ch = 0; ch < kChannelCount; ++ch)
        if (CVideoPane* pane = channels_[ch].pane.data())
            pane->RightTitle()->DrawStateTitle(tag, channels_[ch].status.load());
}

void CVyrdaxCtrl::CmdToDVR(int32_t command, int32_t index, int16_t idxCh)
{
    if (!loggedIn_.load())
        return;
    const bool remote = remoteMode_ > 0;
    auto emptyQueues = [this](bool resetDisplays) {
        for (int ch = 0; ch < kChannelCount; ++ch) {
            channels_[ch].queue.Clear();
            NoteRoomInQueue(channels_[ch]);
            if (resetDisplays)
                ResetChannelDisplay(ch);
        }
    };
    // A remote play-back is paced from its first frame on: the frames that
    // find the queue full before the display has waited for one wait for
    // room as the later ones do, rather than being dropped, which skipped a
    // stretch of the recording two seconds into the play-back.
    auto paceFromTheStart = [&] {
        if (remote)
            pacing_ = true;
    };
    DvrPacketHeader h = DvrPacketHeader::Make(PACKET_CONTROL, static_cast<uint32_t>(command));
    h.SetWord(DvrPacketHeader::kArg1, static_cast<uint32_t>(index));
    h.SetWord(DvrPacketHeader::kArg2, static_cast<uint32_t>(static_cast<int32_t>(idxCh)));

    switch (command) {
    case CMD_PLAY:
        // Emptied before the display threads are woken to play, so that none
        // takes a frame from before the command.
        if (remote)
            emptyQueues(true);
        playback::RestartClock();
        paceFromTheStart();
        playback::SetState(PLAY_PLAYING);
        ShowPlayStateTag("[FPB]");
        break;
    case CMD_FAST_FORWARD:
        playback::SetState(PLAY_FAST_FORWARD);
        playback::RestartClock();
        ShowPlayStateTag("[FF]");
        break;
    case CMD_REWIND:
        playback::SetState(PLAY_REWINDING);
        playback::RestartClock();
        ShowPlayStateTag("[REW]");
        break;
    case CMD_PAUSE:
        playback::SetState(PLAY_PAUSED);
        if (remote)
            playback::RestartClock();
        ShowPlayStateTag("[PAUSE]");
        break;
    case CMD_STOP:
        playback::SetState(PLAY_STOPPED);
        if (remote) {
            playback::RestartClock();
            emptyQueues(false);
        }
        if (playbackStream_.load() && ValidChannel(idxCh) && (channels_[idxCh].status.load() & STATUS_DVR_D))
            UpdateChannelState(idxCh, 1);
        ShowPlayStateTag("[STP]");
        break;
    case CMD_RESUME:
        paceFromTheStart();
        playback::SetState(PLAY_PLAYING);
        if (remote)
            playback::RestartClock();
        ShowPlayStateTag("[FPB]");
        break;
    case CMD_SPLIT_INDEX:
        h.SetWord(DvrPacketHeader::kArg1, (static_cast<uint32_t>(index) >> 16) & 0xFFFF);
        h.SetWord(DvrPacketHeader::kArg2, static_cast<uint32_t>(index) & 0xFFFF);
        break;
    case CMD_PLAY_FROM_TIME: {
        const std::time_t stored = storedTime_.load();
        std::tm local{};
        localtime_r(&stored, &local);
        h.SetWord(DvrPacketHeader::kArg1, static_cast<uint32_t>(stored));
        h.SetByte(24, static_cast<uint8_t>(local.tm_year + 1900 - 2000));
        h.SetByte(25, static_cast<uint8_t>(local.tm_mon + 1));
        h.SetByte(26, static_cast<uint8_t>(local.tm_mday));
        h.SetByte(27, static_cast<uint8_t>(local.tm_hour));
        h.SetByte(28, static_cast<uint8_t>(local.tm_min));
        h.SetByte(29, static_cast<uint8_t>(local.tm_sec));
        if (remote) {
            emptyQueues(true);
            playback::RestartClock();
        }
        paceFromTheStart();
        playback::SetState(PLAY_PLAYING);
        ShowPlayStateTag("[FPB]");
        break;
    }
    case CMD_EVENT_LOG:
    case CMD_SEARCH: {
        const std::time_t stored = storedTime_.load();
        h.SetWord(DvrPacketHeader::kArg1, 0);
        h.SetWord(DvrPacketHeader::kArg2, 0);
        if (stored != 0) {
            h.SetWord(DvrPacketHeader::kArg3, PackDvrTime(stored));
            if (command == CMD_SEARCH)
                h.SetWord(DvrPacketHeader::kArg4, static_cast<uint32_t>(timeListFlag_.load()));
        }
        break;
    }
    default: break;
    }
    if (command == CMD_PUT_SETUP) {
        const bool large = dvrType_.load() >= kSetupRecordLargeFromDvrType;
        SendPacket(h, large ? static_cast<const void*>(setupLarge_.data()) : setupSmall_.data(),
                   large ? setupLarge_.size() : setupSmall_.size());
        return;
    }
    SendPacket(h);
}

bool CVyrdaxCtrl::PTZRControl(const std::string& command, int16_t idxCh)
{
    if (!loggedIn_.load())
        return true;
    PtzCommand ptz;
    if (!ParsePtzCommand(command, &ptz))
        return true; // a preset without its two digits sends nothing
    if (ptz.code == PTZ_MOVE_STOP || ptz.code == PTZ_ZOOM_STOP || ptz.code == PTZ_FOCUS_STOP)
        std::this_thread::sleep_for(std::chrono::milliseconds(ptzSpeed_.load() * 5));
    DvrPacketHeader h = DvrPacketHeader::Make(PACKET_PTZ, 0);
    h.SetWord(DvrPacketHeader::kArg1, ptz.code);
    h.SetWord(DvrPacketHeader::kArg2, static_cast<uint32_t>(static_cast<int32_t>(idxCh)));
    h.SetWord(DvrPacketHeader::kArg3, ptz.preset);
    return SendPacket(h);
}

bool CVyrdaxCtrl::SetPTSpeed(int16_t value)
{
    // The stop commands wait speed x 5 ms on the GUI thread: keep it within
    // half a second.
    ptzSpeed_ = std::clamp<int>(value, 0, 100);
    return true;
}

void CVyrdaxCtrl::StartDVRPlaybackTime(int32_t dtime, int32_t, int16_t)
{
    storedTime_ = static_cast<std::time_t>(static_cast<uint32_t>(dtime));
    if (loggedIn_.load()) {
        SetRemoteMode(1);
        CmdToDVR(CMD_PLAY_FROM_TIME, dtime, 0);
    } else {
        SetRemoteMode(2);
        Connect(-1);
    }
}

void CVyrdaxCtrl::GetBackupInfo(int32_t time, int16_t timeList)
{
    SetRemoteMode(1);
    if (loggedIn_.load()) {
        timeListFlag_ = timeList;
        storedTime_ = static_cast<std::time_t>(static_cast<uint32_t>(time));
        CmdToDVR(CMD_SEARCH, time, 0);
    } else if (channels_[0].assigned.load()) {
        timeListFlag_ = timeList;
        storedTime_ = static_cast<std::time_t>(static_cast<uint32_t>(time));
        Connect(-1);
    }
}

void CVyrdaxCtrl::ResumeRemoteRequest()
{
    const int mode = remoteMode_.load();
    if (mode == 1)
        CmdToDVR(CMD_SEARCH, static_cast<int32_t>(storedTime_.load()), 0);
    else if (mode == 2)
        CmdToDVR(CMD_PLAY_FROM_TIME, static_cast<int32_t>(storedTime_.load()), 0);
    else
        return;
    SetRemoteMode(1);
}

platform::Variant CVyrdaxCtrl::GetDVRData() const
{
    if (dvrType_.load() >= kSetupRecordLargeFromDvrType)
        return platform::Variant::Pointer(setupLarge_.data(), setupLarge_.size());
    return platform::Variant::Pointer(setupSmall_.data(), setupSmall_.size());
}

platform::Variant CVyrdaxCtrl::GetEventData() const
{
    if (!eventTable_)
        return platform::Variant::Pointer(nullptr, 0);
    const uint32_t count = ReadLE32(eventTable_.get());
    return platform::Variant::Pointer(eventTable_.get(), 4 + static_cast<std::size_t>(count) * kEventRecordSize);
}

platform::Variant CVyrdaxCtrl::GetMonthData() const
{
    return platform::Variant::Pointer(monthTable_.data(), monthTable_.size());
}

platform::Variant CVyrdaxCtrl::GetTimeData() const
{
    return platform::Variant::Pointer(timeList_.data(), timeList_.size());
}

} // namespace vyrdax
