#pragma once
// Sound devices: the default wave input or output, opened with a PCM format,
// fed with buffers that come back through a done notice once played or
// filled. The real device sits on PortAudio; tests put a fake behind the
// same interface.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace platform {

struct AudioFormat {
    int channels = 1;
    int samplesPerSecond = 8000;
    int bitsPerSample = 16; // 8 (unsigned) or 16 (signed)
    int BlockAlign() const { return bitsPerSample / 8 * channels; }
};

// A buffer lent to a device between Queue and its done notice. `length`
// bytes are played, or filled for input; `recorded` tells how many were
// filled when an input buffer comes back.
struct AudioBuffer {
    uint8_t* data = nullptr;
    std::size_t length = 0;
    std::size_t recorded = 0;
};

enum class AudioDirection { Input, Output };

// Called from the device's own thread; it must not call back into the device.
using AudioDone = std::function<void(AudioBuffer*)>;

class AudioDevice {
public:
    virtual ~AudioDevice() = default;
    // Each returns 0 or an error number that ErrorText explains.
    virtual int Open(AudioDirection direction, const AudioFormat& format, AudioDone done) = 0;
    // Output plays queued buffers in order as soon as they arrive; input
    // fills them in order once started.
    virtual int Queue(AudioBuffer* buffer) = 0;
    virtual int Start() = 0;
    // Stops; every queued buffer has been handed to the done notice when it
    // returns. The device stays open.
    virtual int Reset() = 0;
    // Resets and closes.
    virtual int Close() = 0;
    virtual std::string ErrorText(int error) const = 0;
};

using AudioDeviceFactory = std::function<std::unique_ptr<AudioDevice>()>;

// The system's default device, or what the installed factory makes.
std::unique_ptr<AudioDevice> CreateAudioDevice();
// Replaces the factory (an empty one restores the real device); returns the
// previous one.
AudioDeviceFactory SetAudioDeviceFactory(AudioDeviceFactory factory);

// Plays a PCM WAV file (8- or 16-bit, mono or stereo) on the default output,
// on a player thread of its own; each file is read on its first use only.
// In the background it returns at once without touching the device: a new
// sound cuts one still playing short, while a request for the sound already
// playing joins it. Waiting, it returns when the sound has ended. False when
// the file cannot be read, or (waiting) when no device opens.
bool PlaySoundFile(const std::string& path, bool wait);
// Stops a background sound; returns once its device is closed.
void StopSound();

} // namespace platform
