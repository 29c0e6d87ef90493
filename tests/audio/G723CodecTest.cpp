// The G.723 24 kbit/s codec against sox's decoder, which carries the
// reference arithmetic, and the block interface's sizes and states.
#include "control/audio/CG723Codec.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace vyrdax {
namespace {

namespace fs = std::filesystem;

bool SoxAvailable() { return std::system("sox --version >/dev/null 2>&1") == 0; }

void PutBE32(std::vector<uint8_t>& out, uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(v >> shift));
}

// A Sun audio file of G.723 3-bit codes: 28-byte header, encoding 25.
std::vector<uint8_t> AuFile(const std::vector<uint8_t>& codes)
{
    std::vector<uint8_t> au = {'.', 's', 'n', 'd'};
    PutBE32(au, 28);
    PutBE32(au, static_cast<uint32_t>(codes.size()));
    PutBE32(au, 25);
    PutBE32(au, 8000);
    PutBE32(au, 1);
    PutBE32(au, 0);
    au.insert(au.end(), codes.begin(), codes.end());
    return au;
}

class TempDir {
public:
    TempDir()
    {
        char pattern[] = "/tmp/g723testXXXXXX";
        path_ = mkdtemp(pattern);
    }
    ~TempDir() { fs::remove_all(path_); }
    fs::path operator/(const std::string& name) const { return path_ / name; }

private:
    fs::path path_;
};

void WriteFile(const fs::path& path, const void* data, std::size_t size)
{
    std::ofstream out(path, std::ios::binary);
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
}

std::vector<uint8_t> ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// sox's decode of our codes, as 16-bit little-endian samples.
std::vector<int16_t> SoxDecode(const std::vector<uint8_t>& codes)
{
    TempDir dir;
    const std::vector<uint8_t> au = AuFile(codes);
    WriteFile(dir / "c.au", au.data(), au.size());
    const std::string command =
        "sox " + (dir / "c.au").string() + " -t raw -e signed -b 16 -L " + (dir / "out.raw").string();
    if (std::system(command.c_str()) != 0)
        return {};
    const std::vector<uint8_t> raw = ReadFile(dir / "out.raw");
    std::vector<int16_t> pcm(raw.size() / 2);
    for (std::size_t i = 0; i < pcm.size(); ++i)
        pcm[i] = static_cast<int16_t>(raw[2 * i] | (raw[2 * i + 1] << 8));
    return pcm;
}

// Speech-like input: tones that glide, bursts of noise and stretches of
// silence, at speaking levels. sox reads the logarithm of a zero magnitude as
// 1 where the reference code reads 0; the two part only when a predictor
// coefficient is zero while the signal is near full scale, which speech at
// these levels never reaches.
std::vector<int16_t> SpeechLike(int samples, unsigned seed)
{
    std::mt19937 random(seed);
    std::normal_distribution<double> noise(0.0, 1.0);
    std::vector<int16_t> pcm(static_cast<std::size_t>(samples));
    double phase = 0;
    for (int i = 0; i < samples; ++i) {
        const int segment = (i / 2000) % 4;
        double v = 0;
        if (segment == 0) {
            phase += 2 * M_PI * (300.0 + 0.2 * (i % 2000)) / 8000.0;
            v = 9000 * std::sin(phase) + 2000 * std::sin(3 * phase);
        } else if (segment == 1) {
            v = 3000 * noise(random);
        } else if (segment == 2) {
            v = 0;
        } else {
            phase += 2 * M_PI * 1100.0 / 8000.0;
            v = 7000 * std::sin(phase) + 500 * noise(random);
        }
        pcm[static_cast<std::size_t>(i)] = static_cast<int16_t>(std::lround(std::fmax(-32768, std::fmin(32767, v))));
    }
    return pcm;
}

TEST(G723Codec, BlockSizes)
{
    CG723Codec codec;
    std::vector<int16_t> pcm(256, 100);
    EXPECT_EQ(codec.Encode(pcm.data(), 256, nullptr, 0), 96);
    std::vector<uint8_t> codes(96);
    EXPECT_EQ(codec.Encode(pcm.data(), 256, codes.data(), 95), -1);
    EXPECT_EQ(codec.Encode(pcm.data(), 256, codes.data(), 96), 96);

    std::vector<int16_t> out(256);
    EXPECT_EQ(codec.Decode(codes.data(), 96, nullptr, 0), 256);
    EXPECT_EQ(codec.Decode(codes.data(), 96, out.data(), 255), -1);
    EXPECT_EQ(codec.Decode(codes.data(), 96, out.data(), 256), 256);

    // 4 bytes: a whole group of 8 and two codes from the fourth byte.
    EXPECT_EQ(codec.Decode(codes.data(), 4, nullptr, 0), 10);
    // A microphone buffer of 2048 samples gives 768 bytes.
    EXPECT_EQ(codec.Encode(nullptr, 2048, nullptr, 0), 768);
}

TEST(G723Codec, CountNotAMultipleOfEightReportsWhatItWrites)
{
    CG723Codec codec;
    std::vector<int16_t> pcm(13, 1000);
    // 13 samples: one whole group; the size query, the capacity check and
    // the result all say 3.
    EXPECT_EQ(codec.Encode(pcm.data(), 13, nullptr, 0), 3);
    std::vector<uint8_t> out(8, 0xEE);
    EXPECT_EQ(codec.Encode(pcm.data(), 13, out.data(), 3), 3);
    EXPECT_EQ(out[3], 0xEE);
}

TEST(G723Codec, SizeQueryKeepsBothStates)
{
    CG723Codec codec;
    std::vector<int16_t> pcm = SpeechLike(256, 1);
    std::vector<uint8_t> codes(96);
    codec.Encode(pcm.data(), 256, codes.data(), 96);
    codec.Decode(codes.data(), 96, std::vector<int16_t>(256).data(), 256);
    const CG723Codec::State encoder = codec.EncoderState();
    const CG723Codec::State decoder = codec.DecoderState();
    codec.Encode(pcm.data(), 256, nullptr, 0);
    codec.Decode(codes.data(), 96, nullptr, 0);
    EXPECT_EQ(std::memcmp(&encoder, &codec.EncoderState(), sizeof encoder), 0);
    EXPECT_EQ(std::memcmp(&decoder, &codec.DecoderState(), sizeof decoder), 0);
}

TEST(G723Codec, StateRunsOnAcrossBlocks)
{
    const std::vector<int16_t> pcm = SpeechLike(4096, 2);
    CG723Codec whole, split;
    std::vector<uint8_t> a(1536), b(768), c(768);
    ASSERT_EQ(whole.Encode(pcm.data(), 4096, a.data(), 1536), 1536);
    ASSERT_EQ(split.Encode(pcm.data(), 2048, b.data(), 768), 768);
    ASSERT_EQ(split.Encode(pcm.data() + 2048, 2048, c.data(), 768), 768);
    b.insert(b.end(), c.begin(), c.end());
    EXPECT_EQ(a, b);

    std::vector<int16_t> wholeOut(4096), splitOut(4096);
    ASSERT_EQ(whole.Decode(a.data(), 1536, wholeOut.data(), 4096), 4096);
    ASSERT_EQ(split.Decode(b.data(), 768, splitOut.data(), 2048), 2048);
    ASSERT_EQ(split.Decode(b.data() + 768, 768, splitOut.data() + 2048, 2048), 2048);
    EXPECT_EQ(wholeOut, splitOut);
}

TEST(G723Codec, PackingIsLeastSignificantBitFirst)
{
    // Codes 0..7 in order: bits 3k..3k+2 hold k.
    std::vector<uint8_t> group = {0x88, 0xC6, 0xFA};
    CG723Codec codec;
    CG723Codec::State reference = CG723Codec::InitialState();
    std::vector<int16_t> pcm(8);
    ASSERT_EQ(codec.Decode(group.data(), 3, pcm.data(), 8), 8);
    for (int k = 0; k < 8; ++k)
        EXPECT_EQ(pcm[static_cast<std::size_t>(k)], CG723Codec::DecodeSample(k, reference)) << k;
}

TEST(G723Codec, DecoderMatchesSoxBitForBit)
{
    if (!SoxAvailable())
        GTEST_SKIP() << "sox is not installed";
    // Codes from speech-like sound, then silence.
    std::vector<uint8_t> codes;
    {
        CG723Codec encoder;
        const std::vector<int16_t> pcm = SpeechLike(16000, 3);
        codes.resize(6000);
        ASSERT_EQ(encoder.Encode(pcm.data(), 16000, codes.data(), 6000), 6000);
    }
    codes.insert(codes.end(), 300, 0x00);

    CG723Codec decoder;
    std::vector<int16_t> ours(static_cast<std::size_t>(CG723Codec::DecodedCount(static_cast<int>(codes.size()))));
    ASSERT_EQ(decoder.Decode(codes.data(), static_cast<int>(codes.size()), ours.data(), static_cast<int>(ours.size())),
              static_cast<int>(ours.size()));
    const std::vector<int16_t> sox = SoxDecode(codes);
    ASSERT_EQ(sox.size(), ours.size());
    for (std::size_t i = 0; i < ours.size(); ++i)
        ASSERT_EQ(ours[i], sox[i]) << "sample " << i;
}

TEST(G723Codec, EncoderCodesDecodeAlikeInSoxAndHere)
{
    if (!SoxAvailable())
        GTEST_SKIP() << "sox is not installed";
    for (unsigned seed : {5u, 6u}) {
        const std::vector<int16_t> pcm = SpeechLike(8000, seed);
        CG723Codec codec;
        std::vector<uint8_t> codes(3000);
        ASSERT_EQ(codec.Encode(pcm.data(), 8000, codes.data(), 3000), 3000);
        std::vector<int16_t> ours(8000);
        ASSERT_EQ(codec.Decode(codes.data(), 3000, ours.data(), 8000), 8000);
        EXPECT_EQ(SoxDecode(codes), ours);
        // The encoder's own reconstruction follows the input.
        double error = 0, energy = 0;
        for (std::size_t i = 0; i < pcm.size(); ++i) {
            error += std::pow(pcm[i] - ours[i], 2);
            energy += std::pow(pcm[i], 2);
        }
        EXPECT_LT(error, energy * 0.1) << seed;
    }
}

TEST(G723Codec, SilenceFromFreshStates)
{
    if (!SoxAvailable())
        GTEST_SKIP() << "sox is not installed";
    CG723Codec codec;
    std::vector<int16_t> silence(800, 0), out(800);
    std::vector<uint8_t> codes(300);
    ASSERT_EQ(codec.Encode(silence.data(), 800, codes.data(), 300), 300);
    ASSERT_EQ(codec.Decode(codes.data(), 300, out.data(), 800), 800);
    EXPECT_EQ(SoxDecode(codes), out);
    for (int16_t v : out)
        EXPECT_LE(std::abs(v), 64);
}

} // namespace
} // namespace vyrdax
