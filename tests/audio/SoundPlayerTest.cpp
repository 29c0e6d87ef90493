// WAV files on the default output: on the fake device, and to their end on
// ALSA's null device through the real PortAudio path.
#include "FakeAudioDevice.h"
#include "control/audio/SoundPath.h"
#include "platform/Audio.h"
#include "platform/MessageBox.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

// The player thread queues the sound after PlaySoundFile returns.
bool QueuedSoon(vyrtest::FakeAudio& fake, std::size_t count)
{
    return vyrtest::Eventually([&] { return fake.Queued() == count; });
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
    // Named for the process too: two suites side by side would otherwise
    // write, play and remove each other's files.
    const fs::path path = fs::temp_directory_path() / (std::to_string(getpid()) + "_" + name);
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

std::vector<uint8_t> Tone(std::size_t bytes, int step)
{
    std::vector<uint8_t> samples(bytes);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<uint8_t>(128 + (i % 16) * step);
    return samples;
}

TEST(SoundPlayer, ARepeatedSoundJoinsTheOnePlayingAndAnotherCutsItShort)
{
    vyrtest::FakeAudio fake;
    const std::vector<uint8_t> alarm = Tone(800, 4), other = Tone(600, 2);
    const fs::path alarmPath = WriteWave("vyr_player_alarm.wav", alarm);
    const fs::path otherPath = WriteWave("vyr_player_other.wav", other);
    ASSERT_TRUE(platform::PlaySoundFile(alarmPath.string(), false));
    ASSERT_TRUE(QueuedSoon(fake, 1));
    EXPECT_EQ(fake.state->format.bitsPerSample, 8);
    EXPECT_EQ(fake.state->format.samplesPerSecond, 8000);
    ASSERT_EQ(fake.QueuedLengths(), std::vector<std::size_t>{800});
    // The same sound again, many times: it is already playing.
    for (int i = 0; i < 50; ++i)
        ASSERT_TRUE(platform::PlaySoundFile(alarmPath.string(), false));
    // Another sound cuts it short and plays whole.
    ASSERT_TRUE(platform::PlaySoundFile(otherPath.string(), false));
    ASSERT_TRUE(vyrtest::Eventually([&] { return fake.Closes() == 1 && fake.Queued() == 1; }));
    EXPECT_EQ(fake.Opens(), 2);
    ASSERT_TRUE(fake.CompleteOldest());
    EXPECT_EQ(fake.state->played, other);
    // Its end closes the device.
    ASSERT_TRUE(vyrtest::Eventually([&] { return fake.Closes() == 2; }));
    platform::StopSound();
    EXPECT_EQ(fake.Opens(), 2);
    fs::remove(alarmPath);
    fs::remove(otherPath);
}

// Hundreds of requests in a row while the device takes its time to open:
// none of them waits for it, and only the sound asked for last plays after
// the one that was opening.
TEST(SoundPlayer, ManyRequestsInARowNeverWaitForTheDevice)
{
    vyrtest::FakeAudio fake;
    const std::vector<uint8_t> first = Tone(800, 4), second = Tone(600, 2);
    const fs::path firstPath = WriteWave("vyr_player_first.wav", first);
    const fs::path secondPath = WriteWave("vyr_player_second.wav", second);
    fake.state->holdOpens = true;
    int refused = platform::PlaySoundFile(firstPath.string(), false) ? 0 : 1;
    if (!vyrtest::Eventually([&] { return fake.OpenAttempts() == 1; })) {
        fake.ReleaseOpens();
        FAIL() << "the player never opened the device";
    }
    std::atomic<bool> allReturned{false};
    // Should a request wait for the device after all, the device opens in
    // the end and the test fails instead of hanging.
    std::thread watchdog([&] {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!allReturned && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        fake.ReleaseOpens();
    });
    for (int i = 1; i < 1000; ++i)
        refused += platform::PlaySoundFile((i % 2 ? secondPath : firstPath).string(), false) ? 0 : 1;
    bool releasedEarly;
    {
        std::lock_guard<std::mutex> lock(fake.state->lock);
        releasedEarly = !fake.state->holdOpens;
    }
    allReturned = true;
    watchdog.join();
    EXPECT_FALSE(releasedEarly);
    EXPECT_EQ(refused, 0);
    // The first request was opening; of the other 999 only the last is left.
    ASSERT_TRUE(vyrtest::Eventually([&] { return fake.Opens() == 2 && fake.Queued() == 1; }))
        << fake.Opens() << " opens, " << fake.Queued() << " queued, " << fake.Closes() << " closes";
    EXPECT_EQ(fake.QueuedLengths(), std::vector<std::size_t>{600});
    EXPECT_EQ(fake.Closes(), 1);
    platform::StopSound();
    EXPECT_EQ(fake.Opens(), 2);
    fs::remove(firstPath);
    fs::remove(secondPath);
}

TEST(SoundPlayer, ASoundIsReadOnceAndKept)
{
    vyrtest::FakeAudio fake;
    const std::vector<uint8_t> samples = Tone(400, 3);
    const fs::path path = WriteWave("vyr_player_kept.wav", samples);
    ASSERT_TRUE(platform::PlaySoundFile(path.string(), false));
    ASSERT_TRUE(QueuedSoon(fake, 1));
    platform::StopSound();
    // Gone from the disk, or changed there: what was read plays.
    std::ofstream(path, std::ios::binary | std::ios::trunc) << "not a sound";
    ASSERT_TRUE(platform::PlaySoundFile(path.string(), false));
    ASSERT_TRUE(QueuedSoon(fake, 1));
    ASSERT_TRUE(fake.CompleteOldest());
    EXPECT_EQ(fake.state->played, samples);
    fs::remove(path);
    EXPECT_TRUE(platform::PlaySoundFile(path.string(), false));
    platform::StopSound();
}

TEST(SoundPlayer, AWaitingCallReturnsWhenTheSoundHasEnded)
{
    vyrtest::FakeAudio fake;
    const std::vector<uint8_t> samples = Tone(8000, 1); // one second
    const fs::path path = WriteWave("vyr_player_wait.wav", samples);
    std::atomic<bool> returned{false};
    bool played = false;
    std::thread caller([&] {
        played = platform::PlaySoundFile(path.string(), true);
        returned = true;
    });
    ASSERT_TRUE(QueuedSoon(fake, 1));
    EXPECT_FALSE(returned.load());
    ASSERT_TRUE(fake.CompleteOldest());
    caller.join();
    EXPECT_TRUE(played);
    EXPECT_EQ(fake.state->played, samples);
    fs::remove(path);
}

// No device: a waiting call says so, a background one cannot know and
// returns at once; each asks the device once.
TEST(SoundPlayer, WithoutADeviceNothingPlaysAndNothingWaits)
{
    vyrtest::FakeAudio fake;
    fake.state->openError = -9985;
    const fs::path path = WriteWave("vyr_player_nodevice.wav", Tone(800, 4));
    EXPECT_FALSE(platform::PlaySoundFile(path.string(), true));
    EXPECT_EQ(fake.Opens(), 1);
    EXPECT_TRUE(platform::PlaySoundFile(path.string(), false));
    ASSERT_TRUE(vyrtest::Eventually([&] { return fake.Opens() == 2; }));
    platform::StopSound();
    EXPECT_EQ(fake.Closes(), 0);
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
    const fs::path path = fs::temp_directory_path() / ("vyr_player_bad_" + std::to_string(getpid()) + ".wav");
    {
        std::ofstream out(path, std::ios::binary);
        out << "RIFF\x10\0\0\0WAVEdata\xff\xff\xff\x7f";
    }
    EXPECT_FALSE(platform::PlaySoundFile(path.string(), false));
    fs::remove(path);
    // A FIFO where the sound should be has no writer: refused, not waited on.
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
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

// What the sound libraries print to standard error while a program plays
// `count` sounds and one more to its end, with ALSA set up by `config`.
std::string ProbeOutput(const std::string& config, const fs::path& sound, int count)
{
    const fs::path err = fs::temp_directory_path() / ("vyr_probe_err_" + std::to_string(getpid()) + ".txt");
    const std::string command = "ALSA_CONFIG_PATH=" + config + " " + SOUND_PROBE + " " + sound.string() + " " +
                                std::to_string(count) + " >/dev/null 2>" + err.string();
    const int status = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) <= 1) << command;
    std::ifstream in(err);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    fs::remove(err);
    return text;
}

// The sound libraries have their say once per program, when the device
// layer is set up, whatever the number of sounds: on the null device and
// with no device at all.
TEST(SoundPlayer, NothingIsPrintedPerSound)
{
    const fs::path sound = WriteWave("vyr_player_probe.wav", std::vector<uint8_t>(80, 128));
    const fs::path null = fs::temp_directory_path() / ("vyr_probe_null_" + std::to_string(getpid()) + ".conf");
    const fs::path none = fs::temp_directory_path() / ("vyr_probe_none_" + std::to_string(getpid()) + ".conf");
    std::ofstream(null) << "pcm.!default { type null }\nctl.!default { type hw card 0 }\n";
    std::ofstream(none) << "pcm.!default { type hw card 31 }\nctl.!default { type hw card 31 }\n";
    for (const fs::path& config : {null, none}) {
        SCOPED_TRACE(config.string());
        const std::string once = ProbeOutput(config.string(), sound, 0);
        const std::string many = ProbeOutput(config.string(), sound, 12);
        EXPECT_EQ(std::count(many.begin(), many.end(), '\n'), std::count(once.begin(), once.end(), '\n'))
            << "one sound:\n" << once << "thirteen sounds:\n" << many;
    }
    fs::remove(null);
    fs::remove(none);
    fs::remove(sound);
}

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
