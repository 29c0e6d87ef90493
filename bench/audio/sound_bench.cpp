// The sound path's cost while it is open and nothing plays: the receive
// thread runs, the speaker list is empty and the output keeps going on
// 256-byte buffers of silence.
//
//   sound_bench [SECONDS]   on a device that plays each buffer in real time
//       (a buffer of N bytes comes back after N / 16000 s), as a sound card
//       would; prints the process CPU and the buffers played per second.
#include "../common/ProcessMeasures.h"

#include "control/audio/SoundPath.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <thread>

namespace {

using namespace vyrdax;

// Plays buffers at 8000 16-bit samples per second, one after another.
class RealTimeDevice : public platform::AudioDevice {
public:
    ~RealTimeDevice() override { Close(); }
    int Open(platform::AudioDirection, const platform::AudioFormat& format, platform::AudioDone done) override
    {
        bytesPerSecond_ = format.samplesPerSecond * format.BlockAlign();
        done_ = std::move(done);
        stop_ = false;
        thread_ = std::thread([this] { Play(); });
        return 0;
    }
    int Queue(platform::AudioBuffer* buffer) override
    {
        std::lock_guard<std::mutex> lock(lock_);
        queued_.push_back(buffer);
        wake_.notify_all();
        return 0;
    }
    int Start() override { return 0; }
    int Reset() override
    {
        std::deque<platform::AudioBuffer*> back;
        {
            std::lock_guard<std::mutex> lock(lock_);
            back.swap(queued_);
        }
        for (auto* b : back)
            done_(b);
        return 0;
    }
    int Close() override
    {
        {
            std::lock_guard<std::mutex> lock(lock_);
            stop_ = true;
            wake_.notify_all();
        }
        if (thread_.joinable())
            thread_.join();
        Reset();
        return 0;
    }
    std::string ErrorText(int) const override { return {}; }
    long played = 0;

private:
    void Play()
    {
        auto clock = std::chrono::steady_clock::now();
        std::unique_lock<std::mutex> lock(lock_);
        while (!stop_) {
            wake_.wait(lock, [this] { return stop_ || !queued_.empty(); });
            if (stop_)
                break;
            const std::size_t bytes = queued_.front()->length;
            clock = std::max(clock, std::chrono::steady_clock::now()) +
                    std::chrono::microseconds(static_cast<long>(bytes * 1000000 / bytesPerSecond_));
            wake_.wait_until(lock, clock, [this] { return stop_; });
            if (stop_ || queued_.empty())
                break;
            platform::AudioBuffer* buffer = queued_.front();
            queued_.pop_front();
            ++played;
            lock.unlock();
            done_(buffer);
            lock.lock();
        }
    }

    std::size_t bytesPerSecond_ = 16000;
    platform::AudioDone done_;
    std::mutex lock_;
    std::condition_variable wake_;
    std::deque<platform::AudioBuffer*> queued_;
    bool stop_ = false;
    std::thread thread_;
};

} // namespace

int main(int argc, char** argv)
{
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
    RealTimeDevice* device = nullptr;
    platform::SetAudioDeviceFactory([&device] {
        auto d = std::make_unique<RealTimeDevice>();
        device = d.get();
        return d;
    });
    SoundPath sound([] { return true; });
    sound.SetAudioChannel(0);
    // Six short blocks open the output; after them only silence plays.
    std::vector<uint8_t> codes(96, 0);
    for (int i = 0; i < SoundPath::kPlayAtBlocks; ++i)
        sound.ReceiveAudio(0, codes.data(), codes.size());
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const long playedBefore = device ? device->played : 0;
    const double cpuBefore = bench::CpuSeconds();
    const auto begin = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    const double cpu = bench::CpuSeconds() - cpuBefore;
    const long played = device ? device->played - playedBefore : 0;
    std::printf("sound path open, nothing playing, for %.1f s\n", elapsed);
    std::printf("  buffers of silence  %.1f per second (256 bytes = 16 ms each)\n", played / elapsed);
    std::printf("  process CPU         %.4f cores (%.2f ms per second)\n", cpu / elapsed, cpu / elapsed * 1000);
    sound.ReceiveThreadEnded();
    return 0;
}
