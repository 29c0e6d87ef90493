// Alarm and capture sounds: PCM WAV files played on the default output by one
// player thread. Each file is read once and kept. A caller only hands the
// player its request, so a background sound never holds the caller's (GUI)
// thread, and every device call is made on the player thread.
//
// The player holds at most the sound playing and one waiting: a request for
// the sound already playing (or already waiting) joins it; any other sound
// cuts the one playing short and takes the place of the one waiting.
#include "Audio.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// An alarm or capture sound is a few seconds long; a larger file is refused
// rather than read whole on the caller's thread.
constexpr off_t kLargestSoundFile = 16 << 20;
// Beyond the sound's own length: a device that never hands the buffer back
// must not hold the player (or a waiting caller) for ever.
constexpr long long kDeviceGraceMs = 2000;
// What a waiting caller allows the player for opening the device.
constexpr long long kOpenAllowanceMs = 5000;

uint32_t LE32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24); }
uint16_t LE16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

struct WaveSound {
    AudioFormat format;
    std::vector<uint8_t> samples;

    long long LengthMs() const
    {
        const long long bytesPerSecond = static_cast<long long>(format.samplesPerSecond) * format.BlockAlign();
        return static_cast<long long>(samples.size()) * 1000 / std::max(1LL, bytesPerSecond);
    }
};

// The whole of a regular file. A FIFO or device under the sound's name is
// refused without waiting for a writer.
bool ReadRegularFile(const std::string& path, std::vector<uint8_t>& bytes)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info {};
    bool ok = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size <= kLargestSoundFile;
    if (ok) {
        bytes.resize(static_cast<std::size_t>(info.st_size));
        std::size_t got = 0;
        while (got < bytes.size()) {
            const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
            if (n <= 0)
                break;
            got += static_cast<std::size_t>(n);
        }
        bytes.resize(got);
    }
    ::close(fd);
    return ok;
}

// Reads the "fmt " and "data" chunks of a RIFF WAVE file; only plain PCM.
bool ReadWave(const std::string& path, WaveSound& sound)
{
    std::vector<uint8_t> file;
    if (!ReadRegularFile(path, file))
        return false;
    if (file.size() < 12 || std::string(file.begin(), file.begin() + 4) != "RIFF" ||
        std::string(file.begin() + 8, file.begin() + 12) != "WAVE")
        return false;
    bool haveFormat = false, haveData = false;
    std::size_t at = 12;
    while (at + 8 <= file.size() && !haveData) {
        const std::string id(file.begin() + static_cast<long>(at), file.begin() + static_cast<long>(at) + 4);
        const uint32_t size = LE32(&file[at + 4]);
        const std::size_t body = at + 8;
        if (size > file.size() - body)
            return false;
        if (id == "fmt " && size >= 16) {
            const uint16_t tag = LE16(&file[body]);
            sound.format.channels = LE16(&file[body + 2]);
            sound.format.samplesPerSecond = static_cast<int>(LE32(&file[body + 4]));
            sound.format.bitsPerSample = LE16(&file[body + 14]);
            if (tag != 1 || sound.format.channels < 1 || sound.format.channels > 2 ||
                (sound.format.bitsPerSample != 8 && sound.format.bitsPerSample != 16) ||
                sound.format.samplesPerSecond <= 0)
                return false;
            haveFormat = true;
        } else if (id == "data" && haveFormat) {
            const std::size_t whole = size / static_cast<std::size_t>(sound.format.BlockAlign()) *
                                      static_cast<std::size_t>(sound.format.BlockAlign());
            sound.samples.assign(file.begin() + static_cast<long>(body),
                                 file.begin() + static_cast<long>(body + whole));
            haveData = true;
        }
        at = body + size + (size & 1);
    }
    return haveData && !sound.samples.empty();
}

class SoundPlayer {
public:
    SoundPlayer() : thread_([this] { Run(); }) {}

    ~SoundPlayer()
    {
        {
            std::lock_guard<std::mutex> lock(lock_);
            quit_ = true;
            cut_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }

    // The sound of a file, read on its first use only; null when the file
    // is no PCM WAV file (it is tried again next time).
    std::shared_ptr<const WaveSound> Load(const std::string& path)
    {
        {
            std::lock_guard<std::mutex> lock(cacheLock_);
            const auto found = cache_.find(path);
            if (found != cache_.end())
                return found->second;
        }
        auto sound = std::make_shared<WaveSound>();
        if (!ReadWave(path, *sound))
            return nullptr;
        std::lock_guard<std::mutex> lock(cacheLock_);
        return cache_.emplace(path, std::move(sound)).first->second;
    }

    // Hands the sound to the player; with `wait`, returns once it has ended
    // (true) or could not be played (false).
    bool Play(const std::shared_ptr<const WaveSound>& sound, bool wait)
    {
        const auto waiter = wait ? std::make_shared<Waiter>() : nullptr;
        std::unique_lock<std::mutex> lock(lock_);
        if (next_ && next_->sound == sound) {
            next_->Join(waiter);
        } else if (!next_ && playing_ && playing_->sound == sound && !cut_) {
            playing_->Join(waiter);
        } else {
            if (next_)
                Finish(*next_, false);
            next_.emplace(Request{sound, {}});
            next_->Join(waiter);
            cut_ = true;
        }
        wake_.notify_all();
        if (!waiter)
            return true;
        const auto bound = std::chrono::milliseconds(sound->LengthMs() + kDeviceGraceMs + kOpenAllowanceMs);
        finished_.wait_for(lock, bound, [&waiter] { return waiter->done; });
        return waiter->played;
    }

    // Cuts the sound playing short, forgets the one waiting, and returns
    // once the device is closed.
    void Stop()
    {
        std::unique_lock<std::mutex> lock(lock_);
        if (next_) {
            Finish(*next_, false);
            next_.reset();
        }
        cut_ = true;
        wake_.notify_all();
        finished_.wait_for(lock, std::chrono::milliseconds(kDeviceGraceMs + kOpenAllowanceMs),
                           [this] { return !playing_ && !next_; });
    }

private:
    struct Waiter {
        bool done = false;
        bool played = false;
    };
    struct Request {
        std::shared_ptr<const WaveSound> sound;
        std::vector<std::shared_ptr<Waiter>> waiters;
        void Join(const std::shared_ptr<Waiter>& waiter)
        {
            if (waiter)
                waiters.push_back(waiter);
        }
    };

    // Callers hold lock_.
    void Finish(Request& request, bool played)
    {
        for (const auto& waiter : request.waiters) {
            waiter->done = true;
            waiter->played = played;
        }
        request.waiters.clear();
        finished_.notify_all();
    }

    void Run()
    {
        std::unique_lock<std::mutex> lock(lock_);
        for (;;) {
            wake_.wait(lock, [this] { return quit_ || next_; });
            if (quit_)
                break;
            playing_ = std::move(next_);
            next_.reset();
            cut_ = false;
            ended_ = false;
            const std::shared_ptr<const WaveSound> sound = playing_->sound;
            lock.unlock();
            const bool opened = PlayOnce(*sound, lock);
            lock.lock();
            Finish(*playing_, opened);
            playing_.reset();
            finished_.notify_all();
        }
        if (next_)
            Finish(*next_, false);
    }

    // Plays one sound to its end or until it is cut; false when no device
    // opened. Called without lock_, which it takes while it waits.
    bool PlayOnce(const WaveSound& sound, std::unique_lock<std::mutex>& lock)
    {
        std::unique_ptr<AudioDevice> device = CreateAudioDevice();
        const int error = device->Open(AudioDirection::Output, sound.format, [this](AudioBuffer*) {
            std::lock_guard<std::mutex> guard(lock_);
            ended_ = true;
            wake_.notify_all();
        });
        if (error != 0)
            return false;
        // The device plays from a buffer of its own; the kept sound is shared.
        samples_.assign(sound.samples.begin(), sound.samples.end());
        AudioBuffer buffer;
        buffer.data = samples_.data();
        buffer.length = samples_.size();
        if (device->Queue(&buffer) == 0) {
            lock.lock();
            wake_.wait_for(lock, std::chrono::milliseconds(sound.LengthMs() + kDeviceGraceMs),
                           [this] { return ended_ || cut_ || quit_; });
            lock.unlock();
        }
        // Closing cuts a sound that is still playing short.
        device->Close();
        return true;
    }

    std::mutex cacheLock_;
    std::map<std::string, std::shared_ptr<const WaveSound>> cache_;

    std::mutex lock_;
    std::condition_variable wake_;     // to the player thread
    std::condition_variable finished_; // to waiting callers
    std::optional<Request> playing_, next_;
    bool cut_ = false;   // the sound playing is to end now
    bool ended_ = false; // the device handed the sound back
    bool quit_ = false;
    std::vector<uint8_t> samples_; // the player thread's
    std::thread thread_;
};

SoundPlayer& Player()
{
    static SoundPlayer player;
    return player;
}

} // namespace

bool PlaySoundFile(const std::string& path, bool wait)
{
    const std::shared_ptr<const WaveSound> sound = Player().Load(path);
    return sound && Player().Play(sound, wait);
}

void StopSound()
{
    Player().Stop();
}

} // namespace platform
