#pragma once
// The control's two-way sound with the DVR: the G.723 codec, the capture and
// playback devices, the speaker list (decoded blocks from the DVR waiting to
// be played) and the microphone list (encoded blocks waiting to be sent).
//
// Three threads meet here: capture appends microphone blocks, playback takes
// speaker blocks, and the receive thread appends speaker blocks and takes
// microphone blocks. Each list has its own lock, held only while the list
// changes or a block is copied.
#include "control/audio/CG723Codec.h"
#include "control/audio/CSoundIn.h"
#include "control/audio/CSoundOut.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

namespace vyrdax {

class SoundPath {
public:
    static constexpr int kMicrophoneSamplesPerBuffer = 2048;
    static constexpr int kSpeakerSamplesPerBuffer = 160000;
    static constexpr int kMicrophoneListLimit = 3;
    static constexpr int kSpeakerListLimit = 18;
    static constexpr int kPlayAtBlocks = 6;
    static constexpr std::size_t kSilenceBytes = 256;
    // Decoded sound never outgrows the receive thread's 131,072-byte work
    // buffer: 65,536 samples come from at most this many code bytes.
    static constexpr std::size_t kWorkBufferBytes = 131072;
    static constexpr std::size_t kMaxAudioPayload = kWorkBufferBytes / 2 * 3 / 8;

    // `receiveThreadRunning` tells whether the DVR link's receive thread runs.
    explicit SoundPath(std::function<bool()> receiveThreadRunning);
    ~SoundPath();
    SoundPath(const SoundPath&) = delete;
    SoundPath& operator=(const SoundPath&) = delete;

    void MicStart();
    void MicStop();
    void SetAudioChannel(int channel) { audioChannel_ = channel; }
    int AudioChannel() const { return audioChannel_.load(); }
    // Listening again (mute 0) lets a failed output be tried once more.
    void SetMute(int mute);
    int Mute() const { return mute_.load(); }

    // The DVR steps of the two volume levels; none when nothing is sent.
    static int MicrophoneStep(int level);
    // Sets or clears the mute flag as the level says.
    std::optional<int> SpeakerStep(int level);

    // Receive thread: one audio payload of `channel`. Kept only for the
    // audio channel while not muted; decoded, appended (the list holds at
    // most 18 blocks) and playback asked for from 6 blocks on. True when kept.
    bool ReceiveAudio(int channel, const uint8_t* payload, std::size_t length);
    // Receive thread: where an audio payload is read, kWorkBufferBytes long.
    std::vector<uint8_t>& PayloadBuffer() { return payloadBuffer_; }
    // Receive thread: the oldest microphone block, copied; false when none.
    bool OldestMicrophoneBlock(std::vector<uint8_t>& block);
    void DropOldestMicrophoneBlock();
    // Receive thread, as it ends: the output stops, so that the next
    // thread's first play request starts it again.
    void ReceiveThreadEnded();
    // A new session with the DVR: an output that failed is tried again at
    // its next play request.
    void SessionStarted() { outputFailed_ = false; }
    // Whether the output failed to start and waits for the operator (or the
    // next session) before it is tried again.
    bool OutputFailed() const { return outputFailed_.load(); }

    // The playback and capture callbacks.
    int SpeakerRoutine(CSoundBuffer& buffer);
    int MicrophoneRoutine(CSoundBuffer& buffer);

    int SpeakerBlocks() const;
    int MicrophoneBlocks() const;
    CSoundIn& SoundIn() { return soundIn_; }
    CSoundOut& SoundOut() { return soundOut_; }

private:
    std::function<bool()> receiveThreadRunning_;
    CG723Codec codec_;
    std::mutex encoderLock_; // the encoder state, used by capture
    std::mutex decoderLock_; // the decoder state and work buffer, used by the receive thread
    std::atomic<int> audioChannel_{-1};
    std::atomic<int> mute_{0};
    // Set when the output would not start: a machine without a working
    // device is told once, not at every block the DVR sends.
    std::atomic<bool> outputFailed_{false};

    mutable std::mutex speakerLock_;
    std::deque<std::vector<uint8_t>> speakerList_;
    mutable std::mutex microphoneLock_;
    std::deque<std::vector<uint8_t>> microphoneList_;
    std::vector<int16_t> workBuffer_;
    std::vector<uint8_t> payloadBuffer_;

    CSoundIn soundIn_;
    CSoundOut soundOut_;
};

} // namespace vyrdax
