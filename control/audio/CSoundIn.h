#pragma once
// Sound capture from the default wave input: three buffers stay queued on
// the device, and each filled one goes to the data callback and back.
#include "control/audio/SoundDeviceThread.h"

namespace vyrdax {

class CSoundIn : public SoundDeviceThread {
public:
    static constexpr int kQueuedBuffers = 3;

    CSoundIn();
    ~CSoundIn();

    // Refused when running or without a callback; `format` replaces the
    // stored one.
    bool Start(const CSoundFormat* format = nullptr);
    void Stop();

private:
    void OnBufferDone(platform::AudioBuffer* buffer) override;
    bool AddInputBufferToQueue(platform::AudioBuffer* buffer);
};

} // namespace vyrdax
