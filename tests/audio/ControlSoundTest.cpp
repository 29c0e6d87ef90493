// Two-way sound between the control and the simulated DVR, on the fake
// sound device: volume commands, the DVR's sound reaching the speaker, and
// the microphone's blocks reaching the DVR.
#include "FakeAudioDevice.h"
#include "LinkHarness.h"

#include <cstring>

namespace {

using namespace linktest;
using namespace vyrdax;
using platform::Variant;

using ControlSoundTest = LinkTest;

// Sign changes in 16-bit little-endian samples, past the codec's settling.
int ZeroCrossings(const uint8_t* data, std::size_t bytes)
{
    int crossings = 0;
    int16_t previous = 0;
    for (std::size_t i = 200; i + 1 < bytes; i += 2) {
        int16_t v;
        std::memcpy(&v, data + i, 2);
        if ((v >= 0) != (previous >= 0) && i > 200)
            ++crossings;
        previous = v;
    }
    return crossings;
}

bool Invoke(CVyrdaxCtrl* ctrl, int dispid, std::vector<Variant> args, Variant* result = nullptr)
{
    Variant r;
    return ctrl->Invoke(dispid, args, result ? result : &r) == platform::S_OK;
}

TEST_F(ControlSoundTest, VolumeStepsGoToTheDvrOnlyWhileLoggedIn)
{
    vyrtest::FakeAudio fake;
    SimDvr sim;
    ASSERT_TRUE(sim.Start({"--channels", "4"}));
    Bind(0, "Front", 0, sim.Port());

    Variant r;
    ASSERT_TRUE(Invoke(ctrl, DISPID_SetMicVolume, {Variant::Long(15), Variant::Short(0)}, &r));
    EXPECT_EQ(r.i, 1);
    ASSERT_TRUE(Invoke(ctrl, DISPID_SetSpeakerVolume, {Variant::Long(3), Variant::Short(0)}, &r));
    EXPECT_EQ(r.i, 1);
    EXPECT_EQ(ctrl->Sound().Mute(), 0); // logged out: nothing at all

    ASSERT_TRUE(ctrl->Connect(0));
    ASSERT_TRUE(WaitMessage(WM_VIDEO_STARTED));
    ASSERT_TRUE(Invoke(ctrl, DISPID_SetMicVolume, {Variant::Long(15), Variant::Short(0)}, &r));
    EXPECT_EQ(r.i, 1);
    ASSERT_TRUE(Invoke(ctrl, DISPID_SetMicVolume, {Variant::Long(77), Variant::Short(2)}));
    ASSERT_TRUE(Invoke(ctrl, DISPID_SetSpeakerVolume, {Variant::Long(70), Variant::Short(1)}, &r));
    EXPECT_EQ(r.i, 1);
    ASSERT_TRUE(Invoke(ctrl, DISPID_SetSpeakerVolume, {Variant::Long(3), Variant::Short(1)}));
    EXPECT_EQ(ctrl->Sound().Mute(), 1);
    ASSERT_TRUE(Invoke(ctrl, DISPID_SetSpeakerVolume, {Variant::Long(90), Variant::Short(1)}));
    EXPECT_EQ(ctrl->Sound().Mute(), 0);
    ASSERT_TRUE(sim.WaitLog("CMD 20 1 1"));

    std::vector<std::string> commands;
    for (const std::string& line : sim.LogLines("CMD 2"))
        commands.push_back(Bare(line).substr(0, 10));
    EXPECT_EQ(commands, (std::vector<std::string>{"CMD 21 2 0", "CMD 21 77 ", "CMD 20 0 1", "CMD 20 1 1"}));

    ASSERT_TRUE(Invoke(ctrl, DISPID_SetSoundMute, {Variant::Long(1)}, &r));
    EXPECT_EQ(r.i, 1);
    EXPECT_EQ(ctrl->Sound().Mute(), 1);
}

TEST_F(ControlSoundTest, TheAudioChannelsSoundReachesTheSpeaker)
{
    vyrtest::FakeAudio fake;
    SimDvr sim;
    ASSERT_TRUE(sim.Start({"--channels", "4", "--audio", "1"}));
    Bind(0, "Front", 0, sim.Port());
    Bind(3, "Yard", 1, sim.Port());
    ASSERT_TRUE(Invoke(ctrl, DISPID_AudioEnable, {Variant::Short(3)}));
    ASSERT_TRUE(ctrl->Connect(0));
    ASSERT_TRUE(ctrl->Connect(3));
    // Six blocks of 2048 samples start the output with six buffers.
    ASSERT_TRUE(PumpUntil([&] { return fake.Queued() == 6; }, 8000));
    EXPECT_EQ(fake.state->format.samplesPerSecond, 8000);
    EXPECT_EQ(fake.state->format.bitsPerSample, 16);
    ASSERT_TRUE(fake.CompleteOldest());
    // Channel 3's tone is 700 Hz: 2 x 700 x 0.256 s sign changes per block.
    const std::vector<uint8_t>& played = fake.state->played;
    ASSERT_EQ(played.size(), 4096u);
    const int crossings = ZeroCrossings(played.data(), played.size());
    const double expected = 2 * 700 * (4096 - 200) / 2 / 8000.0;
    EXPECT_NEAR(crossings, expected, expected * 0.1);

    // The receive thread's end stops the output; it drains and closes.
    ctrl->DisConnectSvr(0);
    ctrl->DisConnectSvr(3);
    ctrl->ClearInfo(0);
    ctrl->ClearInfo(3);
    EXPECT_FALSE(ctrl->ReceiveThreadRunning());
    EXPECT_TRUE(PumpUntil([&] { return fake.state->closes == 1; }, 5000));
}

TEST_F(ControlSoundTest, MutedOrOtherChannelsAreNotPlayed)
{
    vyrtest::FakeAudio fake;
    SimDvr sim;
    ASSERT_TRUE(sim.Start({"--channels", "2", "--audio", "1"}));
    Bind(0, "Front", 0, sim.Port());
    ASSERT_TRUE(Invoke(ctrl, DISPID_AudioEnable, {Variant::Short(1)}));
    ASSERT_TRUE(ctrl->Connect(0));
    ASSERT_TRUE(sim.WaitLog("MASK 00000001"));
    PumpFor(2000); // about eight blocks of channel 0
    EXPECT_EQ(fake.state->opens, 0);
    EXPECT_EQ(ctrl->Sound().SpeakerBlocks(), 0);
    ASSERT_TRUE(Invoke(ctrl, DISPID_AudioEnable, {Variant::Short(0)}));
    ctrl->SetSoundMute(1);
    PumpFor(1000);
    EXPECT_EQ(ctrl->Sound().SpeakerBlocks(), 0);
    ctrl->SetSoundMute(0);
    EXPECT_TRUE(PumpUntil([&] { return ctrl->Sound().SpeakerBlocks() > 0 || fake.state->opens > 0; }, 5000));
}

// A PC without a working output: the DVR's sound keeps coming every 256 ms,
// and the operator is told once, and once more each time listening is
// turned on again.
TEST_F(ControlSoundTest, AnOutputThatFailsIsToldOncePerListening)
{
    vyrtest::FakeAudio fake;
    fake.state->openError = -9985;
    SimDvr sim;
    ASSERT_TRUE(sim.Start({"--channels", "1", "--audio", "1"}));
    Bind(0, "Front", 0, sim.Port());
    ASSERT_TRUE(Invoke(ctrl, DISPID_AudioEnable, {Variant::Short(0)}));
    ASSERT_TRUE(ctrl->Connect(0));
    auto boxCount = [this] {
        std::lock_guard<std::mutex> lock(boxesLock);
        return boxes.size();
    };
    ASSERT_TRUE(PumpUntil([&] { return boxCount() == 1; }, 10000));
    PumpFor(4000); // sixteen more blocks
    EXPECT_EQ(boxCount(), 1u);
    EXPECT_EQ(fake.Opens(), 1);
    ASSERT_TRUE(Invoke(ctrl, DISPID_SetSoundMute, {Variant::Long(1)}));
    ASSERT_TRUE(Invoke(ctrl, DISPID_SetSoundMute, {Variant::Long(0)}));
    ASSERT_TRUE(PumpUntil([&] { return boxCount() == 2; }, 10000));
    PumpFor(3000);
    EXPECT_EQ(boxCount(), 2u);
    EXPECT_EQ(fake.Opens(), 2);
    std::lock_guard<std::mutex> lock(boxesLock);
    EXPECT_EQ(boxes[0].rfind("WAVEOUT:", 0), 0u) << boxes[0];
}

TEST_F(ControlSoundTest, MicrophoneBlocksGoToTheDvr)
{
    vyrtest::FakeAudio fake;
    SimDvr sim;
    ASSERT_TRUE(sim.Start({"--channels", "4"}));
    Bind(0, "Front", 0, sim.Port());
    ASSERT_TRUE(ctrl->Connect(0));
    ASSERT_TRUE(WaitMessage(WM_VIDEO_STARTED));
    ASSERT_TRUE(Invoke(ctrl, DISPID_MicStart, {}));
    ASSERT_EQ(fake.Queued(), 3u);
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(fake.CompleteOldest({0x10, 0x20, 0xF0, 0xDF}));
        ASSERT_TRUE(sim.WaitLog("AUDIO 768 0", i + 1)) << i;
        ASSERT_TRUE(PumpUntil([&] { return fake.Queued() == 3; }, 2000));
    }
    ASSERT_TRUE(Invoke(ctrl, DISPID_MicStop, {}));
    EXPECT_EQ(fake.state->closes, 1);
    PumpFor(300);
    EXPECT_EQ(sim.Count("AUDIO 768 0"), 3);
}

} // namespace
