#include "SoundDeviceThread.h"

#include "platform/MessageBox.h"

#include <cstdio>

namespace vyrdax {

namespace {
constexpr std::size_t kErrorTextLength = 100;
}

SoundDeviceThread::SoundDeviceThread(const char* prefix) : prefix_(prefix)
{
    thread_ = std::thread([this] { ThreadLoop(); });
}

SoundDeviceThread::~SoundDeviceThread()
{
    EndThread();
}

void SoundDeviceThread::EndThread()
{
    {
        std::lock_guard<std::mutex> lock(noticeLock_);
        endThread_ = true;
    }
    noticeWake_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

void SoundDeviceThread::SetFormat(const CSoundFormat& format)
{
    std::lock_guard<std::recursive_mutex> lock(lock_);
    format_ = format;
}

CSoundFormat SoundDeviceThread::Format() const
{
    std::lock_guard<std::recursive_mutex> lock(lock_);
    return format_;
}

void SoundDeviceThread::SetCallback(SoundCallback callback)
{
    std::lock_guard<std::recursive_mutex> lock(lock_);
    callback_ = std::move(callback);
}

bool SoundDeviceThread::Running() const
{
    std::lock_guard<std::recursive_mutex> lock(lock_);
    return running_;
}

int SoundDeviceThread::QueuedBuffers() const
{
    std::lock_guard<std::recursive_mutex> lock(lock_);
    return queued_;
}

void SoundDeviceThread::ErrorBox(int error, const char* context)
{
    std::string text = device_ ? device_->ErrorText(error) : std::string();
    if (text.size() > kErrorTextLength)
        text.resize(kErrorTextLength);
    char message[256];
    std::snprintf(message, sizeof message, "%s:%x:%s %s", prefix_, static_cast<unsigned>(error), text.c_str(),
                  context);
    platform::MessageBox(nullptr, message, {}, platform::MB_ICONWARNING);
}

platform::AudioBuffer* SoundDeviceThread::NewBuffer(std::size_t bytes)
{
    auto lent = std::make_unique<LentBuffer>();
    lent->block = std::make_unique<CSoundBuffer>(bytes);
    lent->header.data = lent->block->Data();
    lent->header.length = bytes;
    platform::AudioBuffer* header = &lent->header;
    buffers_[header] = std::move(lent);
    return header;
}

void SoundDeviceThread::FreeBuffer(platform::AudioBuffer* buffer)
{
    buffers_.erase(buffer);
}

CSoundBuffer& SoundDeviceThread::Wrap(platform::AudioBuffer* buffer)
{
    return *buffers_.at(buffer)->block;
}

int SoundDeviceThread::OpenDevice(platform::AudioDirection direction)
{
    device_ = platform::CreateAudioDevice();
    const unsigned generation = ++generation_;
    return device_->Open(direction, format_.DeviceFormat(), [this, generation](platform::AudioBuffer* buffer) {
        {
            std::lock_guard<std::mutex> lock(noticeLock_);
            notices_.push_back(Notice{buffer, generation});
        }
        noticeWake_.notify_all();
    });
}

void SoundDeviceThread::CloseDevice(const char* context)
{
    if (!device_)
        return;
    const int error = device_->Close();
    if (error != 0)
        ErrorBox(error, context);
    device_.reset();
    queued_ = 0;
    // Notices of the closed device still on their way find no device: their
    // buffers are freed as they arrive.
}

void SoundDeviceThread::ThreadLoop()
{
    for (;;) {
        Notice notice{};
        {
            std::unique_lock<std::mutex> lock(noticeLock_);
            noticeWake_.wait(lock, [this] { return endThread_ || !notices_.empty(); });
            if (notices_.empty())
                return;
            notice = notices_.front();
            notices_.pop_front();
        }
        std::lock_guard<std::recursive_mutex> lock(lock_);
        if (buffers_.count(notice.buffer) == 0)
            continue;
        if (notice.generation != generation_ || !device_) {
            FreeBuffer(notice.buffer);
            continue;
        }
        OnBufferDone(notice.buffer);
    }
}

} // namespace vyrdax
