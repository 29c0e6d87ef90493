#include "CSoundIn.h"

#include <chrono>
#include <thread>

namespace vyrdax {

namespace {
// How long a stop waits for the device to hand its buffers back.
constexpr auto kStopWait = std::chrono::milliseconds(1000);
} // namespace

CSoundIn::CSoundIn() : SoundDeviceThread("WAVEIN") {}

CSoundIn::~CSoundIn()
{
    {
        std::lock_guard<std::recursive_mutex> lock(lock_);
        running_ = false;
        CloseDevice("in stop()");
    }
    EndThread();
}

bool CSoundIn::Start(const CSoundFormat* format)
{
    std::lock_guard<std::recursive_mutex> lock(lock_);
    if (running_ || !callback_)
        return false;
    if (format)
        format_ = *format;
    CloseDevice("in Start()"); // one left over from a stop that timed out
    int error = OpenDevice(platform::AudioDirection::Input);
    if (error != 0) {
        ErrorBox(error, "in Start()");
        device_.reset();
        return false;
    }
    for (int i = 0; i < kQueuedBuffers; ++i)
        if (!AddInputBufferToQueue(NewBuffer(static_cast<std::size_t>(format_.BufferBytes())))) {
            CloseDevice("in Start()");
            return false;
        }
    error = device_->Start();
    if (error != 0) {
        ErrorBox(error, "in Start()");
        CloseDevice("in Start()");
        return false;
    }
    running_ = true;
    return true;
}

bool CSoundIn::AddInputBufferToQueue(platform::AudioBuffer* buffer)
{
    const int error = device_->Queue(buffer);
    if (error != 0) {
        ErrorBox(error, "in AddInputBufferToQueue()");
        FreeBuffer(buffer);
        return false;
    }
    ++queued_;
    return true;
}

void CSoundIn::OnBufferDone(platform::AudioBuffer* buffer)
{
    --queued_;
    if (!running_) {
        FreeBuffer(buffer);
        return;
    }
    CSoundBuffer& block = Wrap(buffer);
    block.SetUsed(buffer->length);
    callback_(block);
    AddInputBufferToQueue(buffer);
}

void CSoundIn::Stop()
{
    {
        std::lock_guard<std::recursive_mutex> lock(lock_);
        if (!running_ || !device_)
            return;
        // Cleared first, so the buffers the reset hands back are not queued again.
        running_ = false;
        const int error = device_->Reset();
        if (error != 0) {
            ErrorBox(error, "in stop()");
            return;
        }
    }
    const auto deadline = std::chrono::steady_clock::now() + kStopWait;
    while (QueuedBuffers() > 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::lock_guard<std::recursive_mutex> lock(lock_);
    if (!running_)
        CloseDevice("in stop()");
}

} // namespace vyrdax
