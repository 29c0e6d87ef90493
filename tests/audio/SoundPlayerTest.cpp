// WAV files on the default output: on the fake device, and to their end on
// ALSA's null device through the real PortAudio path.
#include "FakeAudioDevice.h"
#include "control/audio/SoundPath.h"
#include "platform/Audio.h"
#include "platform/MessageBox.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>
#include <unistd.h>

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

TEST(SoundPlayer, TheViewersSoundsPlayWhole)
{
    for (const char* name : {"alarm.wav", "capture.wav"}) {
        SCOPED_TRACE(name);
        vyrtest::FakeAudio fake;
        const std::string path = std::string(SOUND_DIRECTORY) + "/" + name;
        ASSERT_TRUE(platform::PlaySoundFile(path, false));
        ASSERT_TRUE(QueuedSoon(fake, 1));
        // The canonical 44-byte header, read here on its own.
        std::ifstream in(path, std::ios::binary);
        uint8_t h[44] = {};
        in.read(reinterpret_cast<char*>(h), sizeof h);
        EXPECT_EQ(fake.state->format.channels, h[22] | h[23] << 8);
        EXPECT_EQ(fake.state->format.samplesPerSecond, h[24] | h[25] << 8 | h[26] << 16);
        EXPECT_EQ(fake.state->format.bitsPerSample, h[34] | h[35] << 8);
        // Every sample of the data chunk, and nothing of the header.
        EXPECT_EQ(fake.QueuedLengths()[0], fs::file_size(path) - 44);
        platform::StopSound();
    }
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

// ALSA's null device as the default, for the life of the object.
class NullAlsaDevice {
public:
    NullAlsaDevice() : config_(fs::temp_directory_path() / ("vyr_asound_null_" + std::to_string(getpid()) + ".conf"))
    {
        std::ofstream(config_) << "pcm.!default { type null }\nctl.!default { type hw card 0 }\n";
        if (const char* previous = std::getenv("ALSA_CONFIG_PATH"))
            previous_ = previous;
        setenv("ALSA_CONFIG_PATH", config_.c_str(), 1);
    }
    ~NullAlsaDevice()
    {
        if (previous_.empty())
            unsetenv("ALSA_CONFIG_PATH");
        else
            setenv("ALSA_CONFIG_PATH", previous_.c_str(), 1);
        fs::remove(config_);
    }

private:
    fs::path config_;
    std::string previous_;
};

TEST(SoundPlayer, PlaysToItsEndOnTheNullDevice)
{
    NullAlsaDevice null;
    const fs::path path = WriteWave("vyr_player_null.wav", std::vector<uint8_t>(1600, 128));
    const bool played = platform::PlaySoundFile(path.string(), true);
    fs::remove(path);
    EXPECT_TRUE(played);
}

// The real device path end to end: capture fills the microphone list and
// playback takes the speaker list, with no error box.
TEST(SoundDevices, CaptureAndPlaybackRunOnTheNullDevice)
{
    NullAlsaDevice null;
    std::vector<std::string> boxes;
    std::mutex boxesLock;
    auto previous = platform::SetMessageBoxHandler([&](const std::string& text, const std::string&, unsigned) {
        std::lock_guard<std::mutex> lock(boxesLock);
        boxes.push_back(text);
        return platform::IDOK;
    });
    {
        vyrdax::SoundPath sound([] { return true; });
        sound.SetAudioChannel(0);
        sound.MicStart();
        EXPECT_TRUE(sound.SoundIn().Running());
        const std::vector<uint8_t> codes(96, 0x24);
        for (int i = 0; i < vyrdax::SoundPath::kPlayAtBlocks; ++i)
            sound.ReceiveAudio(0, codes.data(), codes.size());
        EXPECT_TRUE(sound.SoundOut().Running());
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while ((sound.MicrophoneBlocks() < 3 || sound.SpeakerBlocks() > 0) &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        EXPECT_EQ(sound.MicrophoneBlocks(), 3);
        EXPECT_EQ(sound.SpeakerBlocks(), 0);
        sound.MicStop();
        EXPECT_FALSE(sound.SoundIn().Running());
        sound.ReceiveThreadEnded();
    }
    platform::SetMessageBoxHandler(previous);
    EXPECT_TRUE(boxes.empty()) << boxes.front();
}

} // namespace

TEST(SoundPlayer, ADeviceThatNeverHandsTheBufferBackDoesNotHoldTheCaller)
{
    vyrtest::FakeAudio fake; // plays nothing unless told
    std::vector<uint8_t> samples(800, 128);
    const fs::path path = WriteWave("vyr_player_stuck.wav", samples);
    // Returns once the sound's length and a grace period have passed.
    EXPECT_TRUE(platform::PlaySoundFile(path.string(), true));
    EXPECT_EQ(fake.state->closes, 1);
    EXPECT_TRUE(fake.state->played.empty());
    fs::remove(path);
}
