// WAV files on the default output: on the fake device, and to their end on
// ALSA's null device through the real PortAudio path.
#include "FakeAudioDevice.h"
#include "platform/Audio.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;

// The background thread queues the sound after PlaySoundFile returns.
bool QueuedSoon(vyrtest::FakeAudio& fake, std::size_t count)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (fake.Queued() != count)
        if (std::chrono::steady_clock::now() > deadline)
            return false;
    return true;
}

void Put16(std::ofstream& out, uint16_t v) { out.put(static_cast<char>(v & 0xFF)).put(static_cast<char>(v >> 8)); }
void Put32(std::ofstream& out, uint32_t v)
{
    Put16(out, static_cast<uint16_t>(v));
    Put16(out, static_cast<uint16_t>(v >> 16));
}

// An 8-bit unsigned mono file, as the skin generator writes the alarm sound.
fs::path WriteWave(const std::string& name, const std::vector<uint8_t>& samples, int rate = 8000)
{
    const fs::path path = fs::temp_directory_path() / name;
    std::ofstream out(path, std::ios::binary);
    out.write("RIFF", 4);
    Put32(out, static_cast<uint32_t>(36 + samples.size()));
    out.write("WAVEfmt ", 8);
    Put32(out, 16);
    Put16(out, 1);
    Put16(out, 1);
    Put32(out, static_cast<uint32_t>(rate));
    Put32(out, static_cast<uint32_t>(rate));
    Put16(out, 1);
    Put16(out, 8);
    out.write("data", 4);
    Put32(out, static_cast<uint32_t>(samples.size()));
    out.write(reinterpret_cast<const char*>(samples.data()), static_cast<std::streamsize>(samples.size()));
    return path;
}

TEST(SoundPlayer, BackgroundSoundGoesToTheDeviceAndStops)
{
    vyrtest::FakeAudio fake;
    std::vector<uint8_t> samples(800);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<uint8_t>(128 + (i % 16) * 4);
    const fs::path path = WriteWave("vyr_player_fake.wav", samples);
    ASSERT_TRUE(platform::PlaySoundFile(path.string(), false));
    EXPECT_EQ(fake.state->format.bitsPerSample, 8);
    EXPECT_EQ(fake.state->format.samplesPerSecond, 8000);
    ASSERT_TRUE(QueuedSoon(fake, 1));
    ASSERT_EQ(fake.QueuedLengths(), std::vector<std::size_t>{800});
    // A second sound stops the first.
    ASSERT_TRUE(platform::PlaySoundFile(path.string(), false));
    EXPECT_EQ(fake.state->closes, 1);
    ASSERT_TRUE(QueuedSoon(fake, 1));
    ASSERT_TRUE(fake.CompleteOldest());
    EXPECT_EQ(fake.state->played, samples);
    platform::StopSound();
    EXPECT_EQ(fake.state->closes, 2);
    fs::remove(path);
}

TEST(SoundPlayer, UnreadableFilesAreRefused)
{
    vyrtest::FakeAudio fake;
    EXPECT_FALSE(platform::PlaySoundFile("/nonexistent/alarm.wav", true));
    const fs::path path = fs::temp_directory_path() / "vyr_player_bad.wav";
    {
        std::ofstream out(path, std::ios::binary);
        out << "RIFF\x10\0\0\0WAVEdata\xff\xff\xff\x7f";
    }
    EXPECT_FALSE(platform::PlaySoundFile(path.string(), false));
    EXPECT_EQ(fake.state->opens, 0);
    fs::remove(path);
}

TEST(SoundPlayer, PlaysToItsEndOnTheNullDevice)
{
    const fs::path config = fs::temp_directory_path() / "vyr_asound_null.conf";
    {
        std::ofstream out(config);
        out << "pcm.!default { type null }\nctl.!default { type hw card 0 }\n";
    }
    const char* previous = std::getenv("ALSA_CONFIG_PATH");
    setenv("ALSA_CONFIG_PATH", config.c_str(), 1);
    const fs::path path = WriteWave("vyr_player_null.wav", std::vector<uint8_t>(1600, 128));
    const bool played = platform::PlaySoundFile(path.string(), true);
    if (previous)
        setenv("ALSA_CONFIG_PATH", previous, 1);
    else
        unsetenv("ALSA_CONFIG_PATH");
    fs::remove(path);
    fs::remove(config);
    EXPECT_TRUE(played);
}

} // namespace
