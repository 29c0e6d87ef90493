// The SIMD Huffman block decoders against the plain ones: the same
// coefficients, predictor and stream position block after block, on encoded,
// truncated, corrupt and random streams, from memory and from a file.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "JpegTestSupport.h"
#include "common/JpegTables.h"
#include "decoder/JpegDecoder.h"
#include "dispatch/JpegRuntime.h"
#include "encoder/JpegBitWriter.h"
#include "encoder/JpegEncoderKernels.h"
#include "simd/JpegSimd.h"

#ifdef VYR_JPEG_HAVE_SIMD
namespace {

using Bytes = std::vector<uint8_t>;

// Bits of entropy-coded data among the first n bytes of the stream: stuffing
// and fill bytes carry none, and nothing counts after a marker.
uint64_t DataBits(const Bytes& bytes, uint64_t n) {
  uint64_t bits = 0;
  for (size_t i = 0; i < n && i < bytes.size();) {
    if (bytes[i] != 0xFF) {
      bits += 8;
      ++i;
      continue;
    }
    size_t j = i + 1;
    while (j < bytes.size() && bytes[j] == 0xFF) ++j;
    if (j >= bytes.size() || bytes[j] != 0x00 || j >= n) break;
    bits += 8;
    i = j + 1;
  }
  return bits;
}

// The reader's place in the data in bits, whichever end of its accumulator it uses.
int64_t Position(const Bytes& bytes, const JpegInputStream& in) {
  return static_cast<int64_t>(DataBits(bytes, in.consumed)) + in.padBits - in.bits;
}

struct Reader {
  std::unique_ptr<JpegInputStream> in{new JpegInputStream{}};
  explicit Reader(const Bytes& bytes, int file = kJpegNoFile) {
    in->file = file;
    in->next = file == kJpegNoFile ? bytes.data() : in->buffer;
    in->end = file == kJpegNoFile ? bytes.data() + bytes.size() : in->buffer;
    JpegClearBitState(in.get());
  }
};

struct DecodeTables {
  JpegHuffmanDecodeTable dc, ac;
  DecodeTables(const uint8_t* dcBits, const uint8_t* dcValues, const uint8_t* acBits, const uint8_t* acValues) {
    EXPECT_EQ(JpegBuildHuffmanTable(dcBits, dcValues, 0, 0, &dc), 0);
    EXPECT_EQ(JpegBuildHuffmanTable(acBits, acValues, 1, 0, &ac), 0);
  }
};

const DecodeTables& Luminance() {
  static const DecodeTables tables(kJpegDcLuminanceBits, kJpegDcLuminanceValues, kJpegAcLuminanceBits,
                                   kJpegAcLuminanceValues);
  return tables;
}

// A table with many codes longer than 8 bits and unused code space.
const DecodeTables& LongCodes() {
  static const uint8_t bits[16] = {0, 1, 1, 1, 1, 1, 1, 1, 2, 4, 8, 16, 24, 32, 40, 20};
  static const DecodeTables tables = [] {
    uint8_t dcValues[153], values[153];
    for (int i = 0; i < 153; ++i) {
      dcValues[i] = static_cast<uint8_t>(i % 12);
      values[i] = static_cast<uint8_t>((i * 37 + 1) % 256);
    }
    return DecodeTables(bits, dcValues, bits, values);
  }();
  return tables;
}

// Blocks of plausible coefficients encoded by the plain encoder, then an EOI.
Bytes EncodedBlocks(std::mt19937& rng, int blocks) {
  JpegHuffmanCodeTable dc, ac;
  JpegDeriveHuffmanCodes(kJpegDcLuminanceBits, kJpegDcLuminanceValues, &dc);
  JpegDeriveHuffmanCodes(kJpegAcLuminanceBits, kJpegAcLuminanceValues, &ac);
  Bytes buffer(blocks * 400 + 64);
  JpegOutputStream stream{};
  stream.file = kJpegNoFile;
  kJpegPlainBitWriter.init(&stream, buffer.data(), buffer.size());
  int32_t lastDc = 0;
  for (int b = 0; b < blocks; ++b) {
    int16_t block[64] = {};
    block[0] = static_cast<int16_t>(static_cast<int>(rng() % 2048) - 1024);  // differences fit size 11
    const int filled = static_cast<int>(rng() % 64);
    for (int i = 0; i < filled; ++i) {
      const int spread = rng() % 8 == 0 ? 1023 : 15;
      block[kJpegZigzag[1 + rng() % 63]] = static_cast<int16_t>(static_cast<int>(rng() % (2 * spread + 1)) - spread);
    }
    EXPECT_EQ(EncodeBlockSequential(&stream, &dc, &ac, &lastDc, block), 0);
  }
  const uint8_t eoi[2] = {0xFF, 0xD9};
  EXPECT_EQ(kJpegPlainBitWriter.putBytes(eoi, 2, &stream), 0);
  buffer.resize(stream.ptr - stream.start);
  return buffer;
}

// Damage of the kinds hostile files bring: cut short, bytes changed, fill
// bytes, stuffed and restart markers dropped in.
Bytes Damage(std::mt19937& rng, Bytes bytes) {
  const int edits = static_cast<int>(rng() % 6);
  for (int e = 0; e < edits && !bytes.empty(); ++e) {
    const size_t at = rng() % bytes.size();
    switch (rng() % 5) {
      case 0: bytes.resize(at); break;
      case 1: bytes[at] = static_cast<uint8_t>(rng()); break;
      case 2: bytes.insert(bytes.begin() + at, {0xFF, 0xFF, 0xFF, 0x00}); break;
      case 3: bytes.insert(bytes.begin() + at, {0xFF, static_cast<uint8_t>(0xD0 + rng() % 8)}); break;
      default: bytes.insert(bytes.begin() + at, 0xFF); break;
    }
  }
  return bytes;
}

Bytes RandomBytes(std::mt19937& rng, size_t size, int ffPercent) {
  Bytes bytes(size);
  for (auto& b : bytes) b = static_cast<int>(rng() % 100) < ffPercent ? 0xFF : static_cast<uint8_t>(rng());
  return bytes;
}

// Decodes the stream with the plain slots and with one processor type's twins,
// block by block, each block through the same slot (whole or skipped), and
// compares everything the scan driver sees.
void ExpectTwins(const Bytes& bytes, const DecodeTables& tables, JpegHuffmanDecodeRoutine simdDecode,
                 std::mt19937& rng, int plainFile = kJpegNoFile, int simdFile = kJpegNoFile) {
  const JpegHuffmanDecodeRoutine plain[2] = {DecodeBlockSequential, DecodeBlockDcOnly};
  const JpegHuffmanDecodeRoutine simd[2] = {simdDecode, JpegSkipBlockMmx};
  Reader a(bytes, plainFile), b(bytes, simdFile);
  int32_t dcA = static_cast<int32_t>(rng() % 65536) - 32768, dcB = dcA;
  // A few blocks past the end of the data, as a driver with a short file makes.
  for (int n = 0, after = 0; after < 3 && n < 100000; ++n) {
    const int slot = rng() % 4 == 0 ? 1 : 0;
    int16_t blockA[64], blockB[64];
    for (int i = 0; i < 64; ++i) blockA[i] = blockB[i] = static_cast<int16_t>(0x5A5A);
    ASSERT_EQ(plain[slot](a.in.get(), &tables.dc, &tables.ac, &dcA, blockA), 0);
    ASSERT_EQ(simd[slot](b.in.get(), &tables.dc, &tables.ac, &dcB, blockB), 0);
    ASSERT_EQ(dcA, dcB) << "block " << n;
    for (int i = 0; i < 64 && slot == 0; ++i) ASSERT_EQ(blockA[i], blockB[i]) << "block " << n << " coefficient " << i;
    ASSERT_EQ(Position(bytes, *a.in), Position(bytes, *b.in)) << "block " << n;
    ASSERT_EQ(JpegInputExhausted(a.in.get()), JpegInputExhausted(b.in.get())) << "block " << n;
    if (JpegInputExhausted(a.in.get())) ++after;
  }
  // Both readers stop at the same marker.
  EXPECT_EQ(a.in->pendingMarker, b.in->pendingMarker);
}

}  // namespace

TEST(JpegSimdHuffmanDecode, EncodedAndDamagedStreamsDecodeAsThePlainDecoders) {
  std::mt19937 rng(20);
  for (int n = 0; n < 400; ++n) {
    const Bytes clean = EncodedBlocks(rng, 1 + static_cast<int>(rng() % 40));
    const Bytes bytes = n % 4 == 0 ? clean : Damage(rng, clean);
    ExpectTwins(bytes, Luminance(), JpegDecodeBlockMmx, rng);
    ExpectTwins(bytes, Luminance(), JpegDecodeBlockMmxCmov, rng);
    if (HasFatalFailure()) return;
  }
}

TEST(JpegSimdHuffmanDecode, RandomStreamsWithLongAndInvalidCodes) {
  std::mt19937 rng(21);
  for (int n = 0; n < 400; ++n) {
    const Bytes bytes = RandomBytes(rng, rng() % 600, static_cast<int>(rng() % 30));
    const DecodeTables& tables = n % 2 == 0 ? Luminance() : LongCodes();
    ExpectTwins(bytes, tables, JpegDecodeBlockMmx, rng);
    ExpectTwins(bytes, tables, JpegDecodeBlockMmxCmov, rng);
    if (HasFatalFailure()) return;
  }
  // All 1-bits match no code of the luminance tables.
  ExpectTwins(Bytes(64, 0xFF), Luminance(), JpegDecodeBlockMmxCmov, rng);
  Bytes stuffed;
  for (int i = 0; i < 64; ++i) stuffed.insert(stuffed.end(), {0xFF, 0x00});
  ExpectTwins(stuffed, Luminance(), JpegDecodeBlockMmx, rng);
  ExpectTwins(stuffed, LongCodes(), JpegDecodeBlockMmxCmov, rng);
}

TEST(JpegSimdHuffmanDecode, FileInputAcrossBufferRefills) {
  std::mt19937 rng(22);
  for (int n = 0; n < 6; ++n) {
    const Bytes bytes = n % 2 == 0 ? EncodedBlocks(rng, 600) : Damage(rng, EncodedBlocks(rng, 600));
    const std::string path = jpegtest::TempPath("huffman-twins.bin");
    jpegtest::WriteFile(path, bytes);
    const int plainFile = JpegFileOpen(path.c_str(), kJpegAccessRead);
    const int simdFile = JpegFileOpen(path.c_str(), kJpegAccessRead);
    ASSERT_NE(plainFile, kJpegNoFile);
    ASSERT_NE(simdFile, kJpegNoFile);
    ExpectTwins(bytes, Luminance(), n % 3 == 0 ? JpegDecodeBlockMmx : JpegDecodeBlockMmxCmov, rng, plainFile,
                simdFile);
    JpegFileClose(plainFile);
    JpegFileClose(simdFile);
    if (HasFatalFailure()) return;
  }
}

TEST(JpegSimdHuffmanDecode, EdgeCases) {
  const DecodeTables& t = Luminance();
  for (JpegHuffmanDecodeRoutine decode : {JpegDecodeBlockMmx, JpegDecodeBlockMmxCmov}) {
    // DC size 1 ("010" then bit 1) and end of block ("1010"), twice: 32767 + 1
    // wraps. Then fill bytes before a stuffed FF, and a marker.
    const Bytes bytes = {0x5A, 0x5A, 0xFF, 0xFF, 0xFF, 0x00, 0xFF, 0xD3};
    Reader r(bytes);
    int32_t lastDc = 32767;
    int16_t block[64];
    ASSERT_EQ(decode(r.in.get(), &t.dc, &t.ac, &lastDc, block), 0);
    EXPECT_EQ(lastDc, -32768);
    EXPECT_EQ(block[0], -32768);
    for (int i = 1; i < 64; ++i) EXPECT_EQ(block[i], 0);
    ASSERT_EQ(decode(r.in.get(), &t.dc, &t.ac, &lastDc, block), 0);
    EXPECT_EQ(lastDc, -32767);
    // The rest: FF FF FF 00 is one data byte 0xFF, all four bytes taken, then the marker.
    ASSERT_EQ(decode(r.in.get(), &t.dc, &t.ac, &lastDc, block), 0);
    EXPECT_EQ(r.in->pendingMarker, 0xD3);
    EXPECT_EQ(r.in->consumed, bytes.size());
    EXPECT_TRUE(JpegInputExhausted(r.in.get()));
  }
}

TEST(JpegSimdHuffmanDecode, WholePicturesDecodeAsWithThePlainDecoders) {
  // Plain kernels everywhere else, so that only the Huffman slots differ.
  const jpegtest::ForcedCpu plain(0);
  constexpr int kWidth = 150, kHeight = 100;
  const std::vector<uint8_t> rgb = jpegtest::MakeRgb(kWidth, kHeight, 20);
  std::mt19937 rng(23);
  for (const char* options : {"-sample 2x2", "-sample 2x2 -restart 1", "-sample 1x1 -quality 100", "-sample 2x1 -restart 2"}) {
    const Bytes clean = jpegtest::Cjpeg(rgb, kWidth, kHeight, options);
    ASSERT_FALSE(clean.empty());
    for (int n = 0; n < 12; ++n) {
      Bytes bytes = clean;
      // Damage behind the headers only, so that the picture is read at all.
      for (int e = 0; n > 0 && e < 1 + n % 3; ++e) {
        const size_t at = clean.size() / 2 + rng() % (clean.size() / 2);
        if (rng() % 3 == 0)
          bytes.resize(std::min(bytes.size(), at));
        else if (at < bytes.size())
          bytes[at] = static_cast<uint8_t>(rng());
      }
      const JpegRect region = n % 2 == 0 ? JpegRect{0, 0, 0, 0} : JpegRect{33, 17, 121, 80};
      std::vector<uint8_t> pictures[2];
      int32_t results[2];
      for (int twin = 0; twin < 2; ++twin) {
        jpegtest::Decoder d;
        d.SetBuffer(kWidth, kHeight, 3, COLOR_RGB);
        d.SetStream(bytes, COLOR_YCBCR, 3);
        d.props.props.region_of_interest = region;
        if (twin == 1) {
          d.props.props.runtime->routines.huffmanDecode[0] = n % 3 == 0 ? JpegDecodeBlockMmx : JpegDecodeBlockMmxCmov;
          d.props.props.runtime->routines.huffmanDecode[1] = JpegSkipBlockMmx;
        }
        results[twin] = d.Read();
        pictures[twin] = d.pixels;
      }
      EXPECT_EQ(results[0], results[1]) << options << " " << n;
      EXPECT_TRUE(pictures[0] == pictures[1]) << options << " " << n;
    }
  }
}

TEST(JpegSimdHuffmanDecode, SlotsByProcessorType) {
  for (int type = 0; type <= 6; ++type) {
    JpegRoutineTable table;
    JpegFillRoutineTable(&table, type);
    const bool mmx = type >= 3;
    EXPECT_EQ(table.huffmanDecode[0], !mmx ? DecodeBlockSequential
                                           : type == 3 ? JpegDecodeBlockMmx : JpegDecodeBlockMmxCmov)
        << type;
    EXPECT_EQ(table.huffmanDecode[1], mmx ? JpegSkipBlockMmx : DecodeBlockDcOnly) << type;
  }
}
#endif
