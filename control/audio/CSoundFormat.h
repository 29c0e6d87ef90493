#pragma once
// A PCM wave format and the number of samples in each device buffer.
#include "platform/Audio.h"

namespace vyrdax {

class CSoundFormat {
public:
    static constexpr int kDefaultSamplesPerBuffer = 20;

    CSoundFormat() { Recompute(); }

    void SetBitsPerSample(int bits) { bitsPerSample_ = bits; Recompute(); }
    void SetChannels(int channels) { channels_ = channels; Recompute(); }
    void SetSamplesPerSecond(int rate) { samplesPerSecond_ = rate; Recompute(); }
    void SetSamplesPerBuffer(int samples) { samplesPerBuffer_ = samples; }

    int FormatTag() const { return 1; } // PCM
    int BitsPerSample() const { return bitsPerSample_; }
    int Channels() const { return channels_; }
    int SamplesPerSecond() const { return samplesPerSecond_; }
    int BlockAlign() const { return blockAlign_; }
    int AverageBytesPerSecond() const { return averageBytesPerSecond_; }
    int SamplesPerBuffer() const { return samplesPerBuffer_; }
    int BufferBytes() const { return blockAlign_ * samplesPerBuffer_; }

    platform::AudioFormat DeviceFormat() const
    {
        platform::AudioFormat f;
        f.channels = channels_;
        f.samplesPerSecond = samplesPerSecond_;
        f.bitsPerSample = bitsPerSample_;
        return f;
    }

private:
    void Recompute()
    {
        blockAlign_ = bitsPerSample_ / 8 * channels_;
        averageBytesPerSecond_ = samplesPerSecond_ * blockAlign_;
    }

    int bitsPerSample_ = 16;
    int channels_ = 1;
    int samplesPerSecond_ = 8000;
    int samplesPerBuffer_ = kDefaultSamplesPerBuffer;
    int blockAlign_ = 2;
    int averageBytesPerSecond_ = 16000;
};

} // namespace vyrdax
