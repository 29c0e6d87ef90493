// Sound the simulated DVR sends: a G.723 24 kbit/s block of 256 ms per
// channel, a tone whose pitch tells the channel (400 Hz + 100 Hz per channel).
#pragma once

#include "control/audio/CG723Codec.h"

#include <cstdint>
#include <vector>

namespace dvrsim {

class SimSound {
public:
    static constexpr int kBlockSamples = 2048;  // 768 code bytes, 256 ms
    static constexpr int kBlockMilliseconds = 256;

    explicit SimSound(int channels);
    // The channel's next block; its encoder runs on across blocks.
    std::vector<std::uint8_t> nextBlock(int channel);
    static double toneHz(int channel) { return 400.0 + 100.0 * channel; }

private:
    std::vector<vyrdax::CG723Codec> codecs_;
    std::vector<long> samplesSent_;
};

}  // namespace dvrsim
