#pragma once
// Sound playback on the default wave output: six buffers filled by the data
// callback, each refilled and queued again when it has played, until the
// output is stopped.
#include "control/audio/SoundDeviceThread.h"

namespace vyrdax {

class CSoundOut : public SoundDeviceThread {
public:
    static constexpr int kQueuedBuffers = 6;

    CSoundOut();
    ~CSoundOut();

    // Refused when running or without a callback; `format` replaces the
    // stored one.
    bool Start(const CSoundFormat* format = nullptr);
    // The device closes once the last buffer is back.
    void Stop();

private:
    void OnBufferDone(platform::AudioBuffer* buffer) override;
    bool AddOutputBufferToQueue(platform::AudioBuffer* buffer, std::size_t used);
};

} // namespace vyrdax
