// The block interface of the codec and its packing: 8 codes of 3 bits in 3
// bytes, least significant bit first.
#include "CG723Codec.h"

#include <vector>

namespace vyrdax {

CG723Codec::CG723Codec() : encoder_(InitialState()), decoder_(InitialState()) {}

int CG723Codec::Encode(const int16_t* pcm, int samples, uint8_t* output, int outputSize)
{
    const int length = EncodedSize(samples);
    if (!output)
        return length;
    if (outputSize < length || (samples > 0 && !pcm))
        return -1;
    std::vector<uint8_t> codes(static_cast<std::size_t>(samples > 0 ? samples : 0));
    for (int i = 0; i < samples; ++i)
        codes[static_cast<std::size_t>(i)] = static_cast<uint8_t>(EncodeSample(pcm[i], encoder_));
    for (int group = 0; group < length / 3; ++group) {
        const uint8_t* c = &codes[static_cast<std::size_t>(group) * 8];
        uint32_t bits = 0;
        for (int k = 0; k < 8; ++k)
            bits |= static_cast<uint32_t>(c[k] & 7) << (3 * k);
        uint8_t* out = output + group * 3;
        out[0] = static_cast<uint8_t>(bits);
        out[1] = static_cast<uint8_t>(bits >> 8);
        out[2] = static_cast<uint8_t>(bits >> 16);
    }
    return length;
}

int CG723Codec::Decode(const uint8_t* input, int bytes, int16_t* pcm, int capacity)
{
    const int count = DecodedCount(bytes);
    if (!pcm)
        return count;
    if (capacity < count || (bytes > 0 && !input))
        return -1;
    std::vector<uint8_t> codes(static_cast<std::size_t>(count));
    // Whole groups and the trailing bytes share one bit layout: code k of
    // the stream sits at bits 3k to 3k+2.
    for (int k = 0; k < count; ++k) {
        const int bit = 3 * k;
        uint32_t window = input[bit / 8];
        if (bit / 8 + 1 < bytes)
            window |= static_cast<uint32_t>(input[bit / 8 + 1]) << 8;
        codes[static_cast<std::size_t>(k)] = static_cast<uint8_t>((window >> (bit % 8)) & 7);
    }
    for (int k = 0; k < count; ++k)
        pcm[k] = static_cast<int16_t>(DecodeSample(codes[static_cast<std::size_t>(k)], decoder_));
    return count;
}

} // namespace vyrdax
