#include "SoundPath.h"

#include <cstring>

namespace vyrdax {

SoundPath::SoundPath(std::function<bool()> receiveThreadRunning)
    : receiveThreadRunning_(std::move(receiveThreadRunning)), workBuffer_(kWorkBufferBytes / 2), payloadBuffer_(kWorkBufferBytes)
{
    CSoundFormat microphone;
    microphone.SetSamplesPerBuffer(kMicrophoneSamplesPerBuffer);
    soundIn_.SetFormat(microphone);
    soundIn_.SetCallback([this](CSoundBuffer& buffer) { return MicrophoneRoutine(buffer); });

    CSoundFormat speaker;
    speaker.SetBitsPerSample(16);
    speaker.SetChannels(1);
    speaker.SetSamplesPerSecond(8000);
    speaker.SetSamplesPerBuffer(kSpeakerSamplesPerBuffer);
    soundOut_.SetFormat(speaker);
    soundOut_.SetCallback([this](CSoundBuffer& buffer) { return SpeakerRoutine(buffer); });
}

SoundPath::~SoundPath() = default;

void SoundPath::MicStart()
{
    soundIn_.Start(nullptr);
}

void SoundPath::MicStop()
{
    soundIn_.Stop();
}

void SoundPath::SetMute(int mute)
{
    mute_ = mute;
    if (mute == 0)
        outputFailed_ = false;
}

int SoundPath::MicrophoneStep(int level)
{
    if (level >= 1 && level <= 10)
        return 3;
    if (level >= 11 && level <= 20)
        return 2;
    if (level >= 21 && level <= 30)
        return 1;
    if (level >= 31 && level <= 40)
        return 0;
    if (level >= 41 && level <= 50)
        return -1;
    return level;
}

std::optional<int> SoundPath::SpeakerStep(int level)
{
    if (level >= 0 && level <= 5) {
        mute_ = 1;
        return std::nullopt;
    }
    mute_ = 0;
    if (level >= 6 && level <= 20)
        return 7;
    if (level >= 21 && level <= 40)
        return 6;
    if (level >= 41 && level <= 60)
        return 5;
    if (level >= 61 && level <= 80)
        return 0;
    if (level >= 81 && level <= 100)
        return 1;
    return level;
}

bool SoundPath::ReceiveAudio(int channel, const uint8_t* payload, std::size_t length)
{
    if (channel != audioChannel_.load() || mute_.load() != 0)
        return false;
    if (length == 0 || length > kMaxAudioPayload)
        return false;
    int samples;
    {
        std::lock_guard<std::mutex> lock(decoderLock_);
        samples = codec_.Decode(payload, static_cast<int>(length), workBuffer_.data(),
                                static_cast<int>(workBuffer_.size()));
    }
    if (samples <= 0)
        return false;
    const auto* bytes = reinterpret_cast<const uint8_t*>(workBuffer_.data());
    std::size_t count;
    {
        std::lock_guard<std::mutex> lock(speakerLock_);
        speakerList_.emplace_back(bytes, bytes + static_cast<std::size_t>(samples) * 2);
        if (speakerList_.size() > static_cast<std::size_t>(kSpeakerListLimit))
            speakerList_.pop_front();
        count = speakerList_.size();
    }
    // A start refused because the output already runs is no failure; one
    // that leaves it stopped has shown its box and is not repeated.
    if (count >= static_cast<std::size_t>(kPlayAtBlocks) && !outputFailed_.load() && !soundOut_.Start(nullptr) &&
        !soundOut_.Running())
        outputFailed_ = true;
    return true;
}

int SoundPath::SpeakerRoutine(CSoundBuffer& buffer)
{
    std::lock_guard<std::mutex> lock(speakerLock_);
    if (speakerList_.empty()) {
        // While the link runs the output never runs dry: silence keeps it going.
        if (receiveThreadRunning_ && receiveThreadRunning_()) {
            const std::size_t n = std::min(kSilenceBytes, buffer.Size());
            std::memset(buffer.Data(), 0, n);
            buffer.SetUsed(n);
        } else {
            buffer.SetUsed(0);
        }
        return 1;
    }
    const std::vector<uint8_t>& block = speakerList_.front();
    const std::size_t n = std::min(block.size(), buffer.Size());
    std::memcpy(buffer.Data(), block.data(), n);
    buffer.SetUsed(n);
    speakerList_.pop_front();
    return 1;
}

int SoundPath::MicrophoneRoutine(CSoundBuffer& buffer)
{
    const int samples = static_cast<int>(buffer.Used() / 2);
    std::vector<uint8_t> encoded(static_cast<std::size_t>(CG723Codec::EncodedSize(samples)));
    {
        std::lock_guard<std::mutex> lock(encoderLock_);
        std::vector<int16_t> pcm(static_cast<std::size_t>(samples));
        std::memcpy(pcm.data(), buffer.Data(), pcm.size() * 2);
        codec_.Encode(pcm.data(), samples, encoded.data(), static_cast<int>(encoded.size()));
    }
    std::lock_guard<std::mutex> lock(microphoneLock_);
    if (microphoneList_.empty() && !(receiveThreadRunning_ && receiveThreadRunning_()))
        return 0;
    microphoneList_.push_back(std::move(encoded));
    if (microphoneList_.size() > static_cast<std::size_t>(kMicrophoneListLimit))
        microphoneList_.pop_front();
    return 1;
}

bool SoundPath::OldestMicrophoneBlock(std::vector<uint8_t>& block)
{
    std::lock_guard<std::mutex> lock(microphoneLock_);
    if (microphoneList_.empty())
        return false;
    block = microphoneList_.front();
    return true;
}

void SoundPath::DropOldestMicrophoneBlock()
{
    std::lock_guard<std::mutex> lock(microphoneLock_);
    if (!microphoneList_.empty())
        microphoneList_.pop_front();
}

void SoundPath::ReceiveThreadEnded()
{
    soundOut_.Stop();
}

int SoundPath::SpeakerBlocks() const
{
    std::lock_guard<std::mutex> lock(speakerLock_);
    return static_cast<int>(speakerList_.size());
}

int SoundPath::MicrophoneBlocks() const
{
    std::lock_guard<std::mutex> lock(microphoneLock_);
    return static_cast<int>(microphoneList_.size());
}

} // namespace vyrdax
