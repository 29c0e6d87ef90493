#pragma once
// G.723 ADPCM at 24 kbit/s (3 bits per sample, 8000 samples per second), with
// the arithmetic of the public G.72x reference code. The encoder and the
// decoder keep their states across blocks for the life of the codec, because
// the DVR's stream is one continuous signal cut into blocks.
#include <cstdint>

namespace vyrdax {

class CG723Codec {
public:
    // The reference algorithm's adaptive state. The narrow field types are
    // part of the arithmetic: values wrap as the reference's do.
    struct State {
        int32_t yl;      // locked quantiser scale factor
        int16_t yu;      // unlocked quantiser scale factor
        int16_t dms;     // short-term energy estimate
        int16_t dml;     // long-term energy estimate
        int16_t ap;      // linear weighting coefficient of yl and yu
        int16_t a[2];    // pole predictor coefficients
        int16_t b[6];    // zero predictor coefficients
        int16_t pk[2];   // signs of previous partially reconstructed signals
        int16_t dq[6];   // previous quantised differences, in floating form
        int16_t sr[2];   // previous reconstructed signals, in floating form
        int8_t td;       // tone detected
    };

    CG723Codec();

    // Encodes `samples` 16-bit linear samples. Only whole groups of 8 codes
    // are written, 3 bytes each; returns the bytes written, that size alone
    // when `output` is null, or -1 (encoding nothing) when `outputSize` is
    // smaller.
    int Encode(const int16_t* pcm, int samples, uint8_t* output, int outputSize);
    // Decodes `bytes` code bytes into bytes x 8 / 3 samples, the trailing
    // bytes giving up to 7 codes after the whole groups; returns that count,
    // the count alone when `pcm` is null, or -1 when `capacity` (in samples)
    // is smaller.
    int Decode(const uint8_t* input, int bytes, int16_t* pcm, int capacity);

    static int EncodedSize(int samples) { return samples > 0 ? samples / 8 * 3 : 0; }
    static int DecodedCount(int bytes) { return bytes > 0 ? static_cast<int>(int64_t{bytes} * 8 / 3) : 0; }

    // One sample through the reference encoder / decoder.
    static int EncodeSample(int linear, State& state);
    static int DecodeSample(int code, State& state);
    static State InitialState();

    const State& EncoderState() const { return encoder_; }
    const State& DecoderState() const { return decoder_; }

private:
    State encoder_;
    State decoder_;
};

} // namespace vyrdax
