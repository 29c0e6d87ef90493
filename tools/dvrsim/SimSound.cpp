#include "SimSound.h"

#include <cmath>

namespace dvrsim {

SimSound::SimSound(int channels) : codecs_(static_cast<std::size_t>(channels)), samplesSent_(codecs_.size(), 0) {}

std::vector<std::uint8_t> SimSound::nextBlock(int channel)
{
    const auto c = static_cast<std::size_t>(channel);
    std::vector<std::int16_t> pcm(kBlockSamples);
    const double step = 2 * M_PI * toneHz(channel) / 8000.0;
    for (int i = 0; i < kBlockSamples; ++i)
        pcm[static_cast<std::size_t>(i)] =
            static_cast<std::int16_t>(std::lround(8000 * std::sin(step * static_cast<double>(samplesSent_[c] + i))));
    samplesSent_[c] += kBlockSamples;
    std::vector<std::uint8_t> codes(static_cast<std::size_t>(vyrdax::CG723Codec::EncodedSize(kBlockSamples)));
    codecs_[c].Encode(pcm.data(), kBlockSamples, codes.data(), static_cast<int>(codes.size()));
    return codes;
}

}  // namespace dvrsim
