#include "AlarmSound.h"

#include "platform/Audio.h"

AlarmSound::~AlarmSound()
{
    {
        std::lock_guard<std::mutex> guard(lock_);
        stopping_ = true;
        pendingPath_.clear();
    }
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

void AlarmSound::Play(const std::string& path)
{
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (stopping_)
            return;
        pendingPath_ = path;
        if (!thread_.joinable())
            thread_ = std::thread([this] { Run(); });
    }
    wake_.notify_one();
}

void AlarmSound::Run()
{
    std::unique_lock<std::mutex> guard(lock_);
    for (;;) {
        wake_.wait(guard, [this] { return stopping_ || !pendingPath_.empty(); });
        if (stopping_)
            return;
        const std::string path = std::move(pendingPath_);
        pendingPath_.clear();
        guard.unlock();
        // A PC without a sound device stays silent.
        platform::PlaySoundFile(path, false);
        ++played_;
        guard.lock();
    }
}
