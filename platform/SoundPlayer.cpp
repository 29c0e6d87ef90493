// Alarm and capture sounds: a PCM WAV file played on the default output,
// in the background or to its end. A new background sound stops the one
// before it.
#include "Audio.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>
#include <vector>

namespace platform {

namespace {

uint32_t LE32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24); }
uint16_t LE16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

struct WaveSound {
    AudioFormat format;
    std::vector<uint8_t> samples;
};

// Reads the "fmt " and "data" chunks of a RIFF WAVE file; only plain PCM.
bool ReadWave(const std::string& path, WaveSound& sound)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    const std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (file.size() < 12 || std::string(file.begin(), file.begin() + 4) != "RIFF" || std::string(file.begin() + 8, file.begin() + 12) != "WAVE")
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
            sound.samples.assign(file.begin() + static_cast<long>(body), file.begin() + static_cast<long>(body + whole));
            haveData = true;
        }
        at = body + size + (size & 1);
    }
    return haveData && !sound.samples.empty();
}

// One sound from open to its end; Stop cuts it short from another thread.
// Only the playing thread calls the device.
class Playback {
public:
    bool Open(const WaveSound& sound)
    {
        device_ = CreateAudioDevice();
        if (device_->Open(AudioDirection::Output, sound.format, [this](AudioBuffer*) {
                std::lock_guard<std::mutex> lock(lock_);
                ended_ = true;
                wake_.notify_all();
            }) != 0) {
            device_.reset();
            return false;
        }
        samples_ = sound.samples;
        const auto bytesPerSecond =
            static_cast<long long>(sound.format.samplesPerSecond) * sound.format.BlockAlign();
        lengthMs_ = static_cast<long long>(samples_.size()) * 1000 / std::max(1LL, bytesPerSecond);
        buffer_.data = samples_.data();
        buffer_.length = samples_.size();
        return true;
    }

    void PlayToEnd()
    {
        if (device_->Queue(&buffer_) == 0) {
            // A device that never hands the buffer back must not hold its
            // caller (the GUI thread, for a capture) for ever.
            std::unique_lock<std::mutex> lock(lock_);
            wake_.wait_for(lock, std::chrono::milliseconds(lengthMs_ + kDeviceGraceMs),
                           [this] { return ended_ || stopping_; });
        }
        // Closing cuts a sound that is still playing short.
        device_->Close();
    }

    void Stop()
    {
        std::lock_guard<std::mutex> lock(lock_);
        stopping_ = true;
        wake_.notify_all();
    }

private:
    static constexpr long long kDeviceGraceMs = 2000;
    std::unique_ptr<AudioDevice> device_;
    std::vector<uint8_t> samples_;
    long long lengthMs_ = 0;
    AudioBuffer buffer_;
    std::mutex lock_;
    std::condition_variable wake_;
    bool ended_ = false;
    bool stopping_ = false;
};

// The background sound and its thread.
class BackgroundSound {
public:
    ~BackgroundSound() { Stop(); }

    bool Play(const WaveSound& sound)
    {
        Stop();
        auto playback = std::make_shared<Playback>();
        if (!playback->Open(sound))
            return false;
        std::lock_guard<std::mutex> lock(lock_);
        current_ = playback;
        thread_ = std::thread([playback] { playback->PlayToEnd(); });
        return true;
    }

    void Stop()
    {
        std::shared_ptr<Playback> playback;
        std::thread thread;
        {
            std::lock_guard<std::mutex> lock(lock_);
            playback = std::move(current_);
            thread = std::move(thread_);
        }
        if (playback)
            playback->Stop();
        if (thread.joinable())
            thread.join();
    }

private:
    std::mutex lock_;
    std::shared_ptr<Playback> current_;
    std::thread thread_;
};

BackgroundSound& Background()
{
    static BackgroundSound sound;
    return sound;
}

} // namespace

bool PlaySoundFile(const std::string& path, bool wait)
{
    WaveSound sound;
    if (!ReadWave(path, sound))
        return false;
    if (!wait)
        return Background().Play(sound);
    Background().Stop();
    Playback playback;
    if (!playback.Open(sound))
        return false;
    playback.PlayToEnd();
    return true;
}

void StopSound()
{
    Background().Stop();
}

} // namespace platform
