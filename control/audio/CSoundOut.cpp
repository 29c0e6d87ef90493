#include "CSoundOut.h"

namespace vyrdax {

CSoundOut::CSoundOut() : SoundDeviceThread("WAVEOUT") {}

CSoundOut::~CSoundOut()
{
    {
        std::lock_guard<std::recursive_mutex> lock(lock_);
        running_ = false;
        CloseDevice("in stop()");
    }
    EndThread();
}

bool CSoundOut::Start(const CSoundFormat* format)
{
    std::lock_guard<std::recursive_mutex> lock(lock_);
    if (running_ || !callback_)
        return false;
    if (format)
        format_ = *format;
    CloseDevice("in stop()"); // one still draining from a stop
    const int error = OpenDevice(platform::AudioDirection::Output);
    if (error != 0) {
        ErrorBox(error, "in start()");
        device_.reset();
        return false;
    }
    running_ = true;
    for (int i = 0; i < kQueuedBuffers; ++i) {
        platform::AudioBuffer* buffer = NewBuffer(static_cast<std::size_t>(format_.BufferBytes()));
        CSoundBuffer& block = Wrap(buffer);
        if (callback_(block) != 1 || block.Used() == 0) {
            FreeBuffer(buffer);
        } else if (!AddOutputBufferToQueue(buffer, block.Used())) {
            // A device that opens but will not play: one box, and the output
            // is closed again rather than left running with nothing queued.
            running_ = false;
            CloseDevice("in stop()");
            return false;
        }
    }
    return true;
}

bool CSoundOut::AddOutputBufferToQueue(platform::AudioBuffer* buffer, std::size_t used)
{
    buffer->length = used;
    const int error = device_->Queue(buffer);
    if (error != 0) {
        ErrorBox(error, "in AddOutputBufferToQueue()");
        FreeBuffer(buffer);
        return false;
    }
    ++queued_;
    return true;
}

void CSoundOut::OnBufferDone(platform::AudioBuffer* buffer)
{
    --queued_;
    if (running_) {
        CSoundBuffer& block = Wrap(buffer);
        block.SetUsed(0);
        if (callback_(block) == 1 && block.Used() > 0 && AddOutputBufferToQueue(buffer, block.Used()))
            return;
    }
    FreeBuffer(buffer);
    if (queued_ == 0 && !running_)
        CloseDevice("in stop()");
}

void CSoundOut::Stop()
{
    std::lock_guard<std::recursive_mutex> lock(lock_);
    if (!running_)
        return;
    running_ = false;
    if (!device_)
        return;
    const int error = device_->Reset();
    if (error != 0)
        ErrorBox(error, "in stop()");
    if (queued_ == 0)
        CloseDevice("in stop()");
}

} // namespace vyrdax
