// Two-way sound with the DVR: the audio dispatch methods and the receive
// thread's share of the sound path.
#include "CVyrdaxCtrl.h"

#include "control/link/LinkSettings.h"

namespace vyrdax {

void CVyrdaxCtrl::MicStart()
{
    sound_->MicStart();
}

void CVyrdaxCtrl::MicStop()
{
    sound_->MicStop();
}

void CVyrdaxCtrl::AudioEnable(int16_t idxCh)
{
    sound_->SetAudioChannel(idxCh);
}

bool CVyrdaxCtrl::SetSoundMute(int32_t val)
{
    sound_->SetMute(val);
    return true;
}

bool CVyrdaxCtrl::SetMicVolume(int32_t val, int16_t idxCh)
{
    if (LoggedIn())
        CmdToDVR(CMD_MIC_LEVEL, SoundPath::MicrophoneStep(val), idxCh);
    return true;
}

bool CVyrdaxCtrl::SetSpeakerVolume(int32_t val, int16_t idxCh)
{
    if (!LoggedIn())
        return true;
    if (const std::optional<int> step = sound_->SpeakerStep(val))
        CmdToDVR(CMD_SPEAKER_LEVEL, *step, idxCh);
    return true;
}

bool CVyrdaxCtrl::SendMicrophoneBlock()
{
    std::vector<uint8_t> block;
    if (!sound_->OldestMicrophoneBlock(block))
        return false;
    const bool sent = SendPacket(DvrPacketHeader::Make(PACKET_AUDIO, static_cast<uint32_t>(block.size())),
                                 block.data(), block.size());
    // Sent or not, the block goes: newer sound matters more than a lost one.
    sound_->DropOldestMicrophoneBlock();
    return sent;
}

bool CVyrdaxCtrl::ReceiveSound(platform::WorkerThread& self, CDvrSocket& socket, const DvrPacketHeader& header)
{
    const uint32_t length = header.Word(DvrPacketHeader::kCode);
    if (length == 0 || length > kMaxPayload) {
        linkDown_ = 1;
        return false;
    }
    const int channel = static_cast<int32_t>(header.Word(DvrPacketHeader::kAudioChannel));
    // A payload that would decode past the work buffer is read past, not decoded.
    if (length > SoundPath::kMaxAudioPayload) {
        if (!Drain(self, socket, length))
            linkDown_ = 1;
        return false;
    }
    std::vector<uint8_t>& payload = sound_->PayloadBuffer();
    if (!socket.ReceiveExact(payload.data(), length, Timeouts().dataMs, self.WakeFd()))
        return false;
    return sound_->ReceiveAudio(channel, payload.data(), length);
}

} // namespace vyrdax
