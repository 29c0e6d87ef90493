// How long a background PlaySoundFile holds its caller (the GUI thread):
// many calls in a row, alternating two sounds, while the device is slow to
// open and plays in real time.
//
//   sound_player_bench [CALLS] [--real]   with --real on the default device (point
//       ALSA_CONFIG_PATH at a null device for a machine without sound);
//       prints the mean, 99th percentile and longest time per call.
#include "platform/Audio.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// Takes 50 ms to open, as a sound server may, and hands each buffer back
// when its time has passed.
class SlowDevice : public platform::AudioDevice {
public:
    int Open(platform::AudioDirection, const platform::AudioFormat& format, platform::AudioDone done) override
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        bytesPerSecond_ = format.samplesPerSecond * format.BlockAlign();
        done_ = std::move(done);
        return 0;
    }
    int Queue(platform::AudioBuffer* buffer) override
    {
        const auto ms = static_cast<long>(buffer->length * 1000 / static_cast<std::size_t>(bytesPerSecond_));
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(ms, 20L)));
        done_(buffer);
        return 0;
    }
    int Start() override { return 0; }
    int Reset() override { return 0; }
    int Close() override { return 0; }
    std::string ErrorText(int) const override { return "slow device"; }

private:
    int bytesPerSecond_ = 8000;
    platform::AudioDone done_;
};

std::string WriteWave(const std::string& name, std::size_t samples)
{
    const std::string path = "/tmp/" + name + std::to_string(getpid()) + ".wav";
    std::ofstream out(path, std::ios::binary);
    auto put = [&out](uint32_t v, int bytes) {
        for (int k = 0; k < bytes; ++k)
            out.put(static_cast<char>(v >> (8 * k)));
    };
    out.write("RIFF", 4);
    put(static_cast<uint32_t>(36 + samples), 4);
    out.write("WAVEfmt ", 8);
    put(16, 4), put(1, 2), put(1, 2), put(8000, 4), put(8000, 4), put(1, 2), put(8, 2);
    out.write("data", 4);
    put(static_cast<uint32_t>(samples), 4);
    for (std::size_t i = 0; i < samples; ++i)
        out.put(static_cast<char>(128 + (i % 20) * 3));
    return path;
}

} // namespace

int main(int argc, char** argv)
{
    int calls = 10000;
    bool real = false;
    for (int k = 1; k < argc; ++k) {
        if (std::strcmp(argv[k], "--real") == 0)
            real = true;
        else
            calls = std::max(1, std::atoi(argv[k]));
    }
    if (!real)
        platform::SetAudioDeviceFactory([] { return std::make_unique<SlowDevice>(); });
    const std::string alarm = WriteWave("vyr_bench_alarm", 4000), other = WriteWave("vyr_bench_other", 2400);
    std::vector<double> micros;
    micros.reserve(static_cast<std::size_t>(calls));
    for (int i = 0; i < calls; ++i) {
        const auto begin = Clock::now();
        platform::PlaySoundFile(i % 3 == 2 ? other : alarm, false);
        micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - begin).count());
    }
    platform::StopSound();
    std::sort(micros.begin(), micros.end());
    double sum = 0;
    for (double m : micros)
        sum += m;
    std::printf("%d background PlaySoundFile calls on %s\n", calls, real ? "the default device" : "a slow device");
    std::printf("  per call  mean %.2f us, 99th percentile %.2f us, longest %.2f us (the first reads the file)\n",
                sum / calls, micros[static_cast<std::size_t>(calls * 99 / 100)], micros.back());
    std::remove(alarm.c_str());
    std::remove(other.c_str());
    return 0;
}
