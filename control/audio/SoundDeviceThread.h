#pragma once
// What capture and playback share: a thread of their own that takes the
// device's buffer-done notices in order, the buffers lent to the device, and
// the error box.
#include "control/audio/CSoundBuffer.h"
#include "control/audio/CSoundFormat.h"
#include "platform/Audio.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace vyrdax {

// Returns 1 when the buffer holds data to use.
using SoundCallback = std::function<int(CSoundBuffer&)>;

class SoundDeviceThread {
public:
    SoundDeviceThread(const SoundDeviceThread&) = delete;
    SoundDeviceThread& operator=(const SoundDeviceThread&) = delete;

    void SetFormat(const CSoundFormat& format);
    CSoundFormat Format() const;
    void SetCallback(SoundCallback callback);
    bool Running() const;
    int QueuedBuffers() const;

protected:
    // `prefix` is "WAVEIN" or "WAVEOUT".
    explicit SoundDeviceThread(const char* prefix);
    ~SoundDeviceThread();

    // Ends the thread; the owner has stopped its device first.
    void EndThread();
    // Called on the thread for each buffer the device hands back.
    virtual void OnBufferDone(platform::AudioBuffer* buffer) = 0;

    // Shows "<prefix>:%x:%s %s" with the device's text for `error`.
    void ErrorBox(int error, const char* context);
    platform::AudioBuffer* NewBuffer(std::size_t bytes); // callers hold lock_
    void FreeBuffer(platform::AudioBuffer* buffer);       // callers hold lock_
    CSoundBuffer& Wrap(platform::AudioBuffer* buffer);    // callers hold lock_
    // Opens a new device; its notices come to this thread.
    int OpenDevice(platform::AudioDirection direction);   // callers hold lock_
    void CloseDevice(const char* context);               // callers hold lock_

    mutable std::recursive_mutex lock_; // device, buffers, format, flags
    CSoundFormat format_;
    SoundCallback callback_;
    bool running_ = false;
    int queued_ = 0;
    std::unique_ptr<platform::AudioDevice> device_;

private:
    struct Notice {
        platform::AudioBuffer* buffer;
        unsigned generation;
    };
    struct LentBuffer {
        std::unique_ptr<CSoundBuffer> block;
        platform::AudioBuffer header;
    };
    void ThreadLoop();

    const char* prefix_;
    unsigned generation_ = 0;
    std::map<platform::AudioBuffer*, std::unique_ptr<LentBuffer>> buffers_;
    std::mutex noticeLock_;
    std::condition_variable noticeWake_;
    std::deque<Notice> notices_;
    bool endThread_ = false;
    std::thread thread_;
};

} // namespace vyrdax
