// Capture, playback and the control's two block lists, on the fake device.
#include "FakeAudioDevice.h"
#include "control/audio/SoundPath.h"
#include "platform/MessageBox.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>

namespace vyrdax {
namespace {

using vyrtest::Eventually;
using vyrtest::FakeAudio;

std::vector<uint8_t> EncodedTone(CG723Codec& codec, int samples)
{
    std::vector<int16_t> pcm(static_cast<std::size_t>(samples));
    for (int i = 0; i < samples; ++i)
        pcm[static_cast<std::size_t>(i)] = static_cast<int16_t>(6000 * std::sin(i * 0.3));
    std::vector<uint8_t> codes(static_cast<std::size_t>(CG723Codec::EncodedSize(samples)));
    codec.Encode(pcm.data(), samples, codes.data(), static_cast<int>(codes.size()));
    return codes;
}

class SoundPathTest : public ::testing::Test {
protected:
    FakeAudio fake;
    std::atomic<bool> receiving{true};
    SoundPath sound{[this] { return receiving.load(); }};
    CG723Codec encoder;
};

TEST_F(SoundPathTest, SpeakerListKeepsEighteenBlocksAndPlaysFromSix)
{
    sound.SetAudioChannel(2);
    const std::vector<uint8_t> block = EncodedTone(encoder, 256);
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(sound.ReceiveAudio(2, block.data(), block.size()));
    EXPECT_EQ(fake.state->opens, 0);
    // The sixth block asks for playback: six buffers go out, the first five
    // with the waiting blocks and one with silence.
    ASSERT_TRUE(sound.ReceiveAudio(2, block.data(), block.size()));
    EXPECT_EQ(fake.state->opens, 1);
    EXPECT_EQ(fake.QueuedLengths(), (std::vector<std::size_t>{512, 512, 512, 512, 512, 512}));
    EXPECT_EQ(sound.SpeakerBlocks(), 0);

    for (int i = 0; i < 25; ++i)
        sound.ReceiveAudio(2, block.data(), block.size());
    EXPECT_EQ(sound.SpeakerBlocks(), 18);
    // Later play requests change nothing while the output runs.
    EXPECT_EQ(fake.state->opens, 1);
}

TEST_F(SoundPathTest, OtherChannelsMutedSoundAndOversizedPayloadsAreDropped)
{
    sound.SetAudioChannel(1);
    const std::vector<uint8_t> block = EncodedTone(encoder, 256);
    EXPECT_FALSE(sound.ReceiveAudio(0, block.data(), block.size()));
    sound.SetMute(1);
    EXPECT_FALSE(sound.ReceiveAudio(1, block.data(), block.size()));
    sound.SetMute(0);
    // A payload that would decode past the work buffer is never decoded.
    std::vector<uint8_t> big(SoundPath::kMaxAudioPayload + 1, 0x55);
    EXPECT_FALSE(sound.ReceiveAudio(1, big.data(), big.size()));
    big.resize(SoundPath::kMaxAudioPayload);
    EXPECT_TRUE(sound.ReceiveAudio(1, big.data(), big.size()));
    EXPECT_EQ(sound.SpeakerBlocks(), 1);
}

TEST_F(SoundPathTest, SilenceKeepsTheOutputGoingWhileTheLinkRuns)
{
    sound.SetAudioChannel(0);
    const std::vector<uint8_t> block = EncodedTone(encoder, 256);
    for (int i = 0; i < 6; ++i)
        sound.ReceiveAudio(0, block.data(), block.size());
    ASSERT_EQ(fake.Queued(), 6u);
    // Each played buffer comes back as 256 bytes of silence.
    for (int i = 0; i < 12; ++i) {
        ASSERT_TRUE(fake.CompleteOldest());
        ASSERT_TRUE(Eventually([&] { return fake.Queued() == 6; })) << i;
    }
    const std::vector<std::size_t> lengths = fake.QueuedLengths();
    EXPECT_EQ(lengths, std::vector<std::size_t>(6, SoundPath::kSilenceBytes));
    for (std::size_t i = 6 * 512; i < fake.state->played.size(); ++i)
        ASSERT_EQ(fake.state->played[i], 0);

    // Once the link's thread has ended, played buffers are not queued again
    // and the device closes after the last.
    receiving = false;
    sound.ReceiveThreadEnded();
    ASSERT_TRUE(Eventually([&] { return fake.state->closes == 1; }));
    EXPECT_EQ(fake.Queued(), 0u);
}

TEST_F(SoundPathTest, OutputStartsAgainForTheNextLink)
{
    sound.SetAudioChannel(0);
    const std::vector<uint8_t> block = EncodedTone(encoder, 256);
    for (int i = 0; i < 6; ++i)
        sound.ReceiveAudio(0, block.data(), block.size());
    sound.ReceiveThreadEnded();
    ASSERT_TRUE(Eventually([&] { return fake.state->closes == 1; }));
    for (int i = 0; i < 6; ++i)
        sound.ReceiveAudio(0, block.data(), block.size());
    EXPECT_EQ(fake.state->opens, 2);
    EXPECT_TRUE(fake.state->open);
}

TEST_F(SoundPathTest, MicrophoneKeepsTheNewestThreeBlocks)
{
    sound.MicStart();
    ASSERT_EQ(fake.state->direction, platform::AudioDirection::Input);
    ASSERT_EQ(fake.Queued(), 3u);
    EXPECT_EQ(fake.QueuedLengths(), std::vector<std::size_t>(3, 4096));
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(fake.CompleteOldest({static_cast<uint8_t>(i * 16), 0x10}));
        ASSERT_TRUE(Eventually([&] { return fake.Queued() == 3; }));
    }
    ASSERT_TRUE(Eventually([&] { return sound.MicrophoneBlocks() == 3; }));
    std::vector<uint8_t> oldest;
    ASSERT_TRUE(sound.OldestMicrophoneBlock(oldest));
    EXPECT_EQ(oldest.size(), 768u);
    sound.DropOldestMicrophoneBlock();
    EXPECT_EQ(sound.MicrophoneBlocks(), 2);
    sound.MicStop();
    EXPECT_EQ(fake.state->closes, 1);
    EXPECT_EQ(fake.Queued(), 0u);
}

TEST_F(SoundPathTest, MicrophoneBlocksWaitOnlyForARunningLink)
{
    receiving = false;
    sound.MicStart();
    ASSERT_TRUE(fake.CompleteOldest());
    ASSERT_TRUE(Eventually([&] { return fake.Queued() == 3; }));
    EXPECT_EQ(sound.MicrophoneBlocks(), 0);
    sound.MicStop();
}

TEST_F(SoundPathTest, DeviceErrorsShowTheWaveBoxes)
{
    std::vector<std::string> texts;
    std::mutex textsLock;
    auto previous = platform::SetMessageBoxHandler([&](const std::string& text, const std::string&, unsigned type) {
        std::lock_guard<std::mutex> lock(textsLock);
        texts.push_back(text);
        EXPECT_EQ(type, platform::MB_ICONWARNING);
        return platform::IDOK;
    });
    fake.state->openError = 0x2a;
    sound.MicStart();
    sound.SetAudioChannel(0);
    const std::vector<uint8_t> block = EncodedTone(encoder, 256);
    for (int i = 0; i < 6; ++i)
        sound.ReceiveAudio(0, block.data(), block.size());
    platform::SetMessageBoxHandler(previous);
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0], "WAVEIN:2a:fake error 42 in Start()");
    EXPECT_EQ(texts[1], "WAVEOUT:2a:fake error 42 in start()");
    EXPECT_FALSE(sound.SoundIn().Running());
    EXPECT_FALSE(sound.SoundOut().Running());
}

// Without a working output the DVR's sound keeps coming, a block every
// 256 ms: the failure is told once, and the output is tried again only when
// the operator listens again or a new session starts.
TEST_F(SoundPathTest, AnOutputThatWillNotStartIsToldOnceUntilTheOperatorListensAgain)
{
    std::vector<std::string> texts;
    std::mutex textsLock;
    auto previous = platform::SetMessageBoxHandler([&](const std::string& text, const std::string&, unsigned) {
        std::lock_guard<std::mutex> lock(textsLock);
        texts.push_back(text);
        return platform::IDOK;
    });
    auto boxes = [&] {
        std::lock_guard<std::mutex> lock(textsLock);
        return texts.size();
    };
    const std::vector<uint8_t> block = EncodedTone(encoder, 256);
    auto receive = [&](int blocks) {
        for (int i = 0; i < blocks; ++i)
            sound.ReceiveAudio(0, block.data(), block.size());
    };
    sound.SetAudioChannel(0);
    fake.state->openError = 0x2a;
    receive(60);
    EXPECT_EQ(boxes(), 1u);
    EXPECT_EQ(fake.Opens(), 1);
    EXPECT_TRUE(sound.OutputFailed());

    sound.SetMute(1);
    receive(10);
    sound.SetMute(0); // listening again
    receive(60);
    EXPECT_EQ(boxes(), 2u);
    EXPECT_EQ(fake.Opens(), 2);

    sound.SessionStarted();
    receive(60);
    EXPECT_EQ(boxes(), 3u);
    EXPECT_EQ(fake.Opens(), 3);

    // A device that opens but refuses to play: one box, and it is closed.
    fake.state->openError = 0;
    fake.state->queueError = 0x2b;
    sound.SetMute(0);
    receive(60);
    EXPECT_EQ(boxes(), 4u);
    EXPECT_EQ(fake.Opens(), 4);
    EXPECT_EQ(fake.Closes(), 1);
    EXPECT_FALSE(sound.SoundOut().Running());

    // Once the device works, listening again starts the output.
    fake.state->queueError = 0;
    sound.SetMute(0);
    receive(1);
    EXPECT_TRUE(sound.SoundOut().Running());
    EXPECT_FALSE(sound.OutputFailed());
    EXPECT_EQ(fake.Queued(), 6u);
    platform::SetMessageBoxHandler(previous);
    ASSERT_EQ(texts.size(), 4u);
    EXPECT_EQ(texts[0], "WAVEOUT:2a:fake error 42 in start()");
    EXPECT_EQ(texts[3], "WAVEOUT:2b:fake error 43 in AddOutputBufferToQueue()");
    sound.ReceiveThreadEnded();
}

TEST(SoundFormat, SettersRecomputeAlignAndRate)
{
    CSoundFormat f;
    EXPECT_EQ(f.BlockAlign(), 2);
    EXPECT_EQ(f.AverageBytesPerSecond(), 16000);
    EXPECT_EQ(f.SamplesPerBuffer(), 20);
    f.SetChannels(2);
    f.SetSamplesPerSecond(11025);
    EXPECT_EQ(f.BlockAlign(), 4);
    EXPECT_EQ(f.AverageBytesPerSecond(), 44100);
}

TEST(SoundVolume, LevelsMapToDvrSteps)
{
    EXPECT_EQ(SoundPath::MicrophoneStep(1), 3);
    EXPECT_EQ(SoundPath::MicrophoneStep(20), 2);
    EXPECT_EQ(SoundPath::MicrophoneStep(21), 1);
    EXPECT_EQ(SoundPath::MicrophoneStep(40), 0);
    EXPECT_EQ(SoundPath::MicrophoneStep(50), -1);
    EXPECT_EQ(SoundPath::MicrophoneStep(0), 0);
    EXPECT_EQ(SoundPath::MicrophoneStep(77), 77);
    EXPECT_EQ(SoundPath::MicrophoneStep(-4), -4);

    FakeAudio fake;
    SoundPath sound([] { return false; });
    EXPECT_FALSE(sound.SpeakerStep(3).has_value());
    EXPECT_EQ(sound.Mute(), 1);
    EXPECT_EQ(sound.SpeakerStep(70), 0);
    EXPECT_EQ(sound.Mute(), 0);
    EXPECT_EQ(sound.SpeakerStep(6), 7);
    EXPECT_EQ(sound.SpeakerStep(40), 6);
    EXPECT_EQ(sound.SpeakerStep(41), 5);
    EXPECT_EQ(sound.SpeakerStep(100), 1);
    EXPECT_EQ(sound.SpeakerStep(101), 101);
    EXPECT_EQ(sound.SpeakerStep(-1), -1);
}

} // namespace
} // namespace vyrdax

namespace vyrdax {
namespace {

// Capture, playback and the receive thread all at once on both lists.
TEST(SoundPathRace, ThreeThreadsShareTheListsSafely)
{
    vyrtest::FakeAudio fake;
    SoundPath sound([] { return true; });
    sound.SetAudioChannel(0);
    CG723Codec encoder;
    const std::vector<uint8_t> block = EncodedTone(encoder, 256);
    std::atomic<bool> done{false};
    std::thread receiver([&] {
        std::vector<uint8_t> mic;
        for (int i = 0; i < 2000; ++i) {
            sound.ReceiveAudio(0, block.data(), block.size());
            if (sound.OldestMicrophoneBlock(mic)) {
                EXPECT_EQ(mic.size(), 768u);
                sound.DropOldestMicrophoneBlock();
            }
            EXPECT_LE(sound.SpeakerBlocks(), SoundPath::kSpeakerListLimit);
        }
        done = true;
    });
    std::thread player([&] {
        while (!done)
            if (!fake.CompleteOldest())
                std::this_thread::yield();
    });
    std::thread capture([&] {
        std::vector<uint8_t> pcm(4096, 0x11);
        for (int i = 0; i < 2000; ++i) {
            CSoundBuffer buffer(pcm.data(), pcm.size());
            EXPECT_EQ(sound.MicrophoneRoutine(buffer), 1);
            EXPECT_LE(sound.MicrophoneBlocks(), SoundPath::kMicrophoneListLimit);
        }
    });
    receiver.join();
    player.join();
    capture.join();
    sound.ReceiveThreadEnded();
    while (fake.CompleteOldest()) {
    }
    EXPECT_TRUE(Eventually([&] { return !fake.state->open; }));
}

} // namespace
} // namespace vyrdax
