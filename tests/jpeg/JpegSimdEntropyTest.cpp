// The wide bit writer and its block encoders give the plain writer's bytes.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <unistd.h>
#include <vector>

#include "JpegTestSupport.h"
#include "common/JpegTables.h"
#include "encoder/JpegBitWriter.h"
#include "encoder/JpegEncoderKernels.h"
#include "simd/JpegSimd.h"

#ifdef VYR_JPEG_HAVE_SIMD
namespace {

struct Stream {
  std::unique_ptr<JpegOutputStream> stream{new JpegOutputStream{}};
  std::vector<uint8_t> buffer;
  Stream(const JpegBitWriterFamily& family, size_t size, int file = kJpegNoFile) : buffer(size + 16, 0xA5) {
    stream->file = file;
    family.init(stream.get(), buffer.data(), size);
  }
  JpegOutputStream* operator->() { return stream.get(); }
  JpegOutputStream* get() { return stream.get(); }
  std::vector<uint8_t> Bytes() const {
    return std::vector<uint8_t>(buffer.begin(), buffer.begin() + (stream->ptr - stream->start));
  }
};

struct Tables {
  JpegHuffmanCodeTable dc, ac;
  Tables() {
    JpegDeriveHuffmanCodes(kJpegDcLuminanceBits, kJpegDcLuminanceValues, &dc);
    JpegDeriveHuffmanCodes(kJpegAcLuminanceBits, kJpegAcLuminanceValues, &ac);
  }
};

std::vector<uint8_t> Write(const JpegBitWriterFamily& family, const std::vector<std::pair<uint32_t, int>>& fields,
                           const std::vector<uint8_t>& marker) {
  Stream s(family, 1 << 16);
  for (const auto& [value, count] : fields) EXPECT_EQ(s->family->putBits(s.get(), value, count), 0);
  EXPECT_EQ(s->family->putBytes(marker.data(), marker.size(), s.get()), 0);
  EXPECT_EQ(JpegStreamBytes(s.get()), s.Bytes().size());
  return s.Bytes();
}

TEST(JpegSimdEntropy, StuffingOfEveryArrangementOfFfBytes) {
  using Bytes = std::vector<uint8_t>;
  const Bytes none;
  EXPECT_EQ(Write(kJpegSimdBitWriter, {{0xFFFF, 16}, {0xFF44, 16}, {0x55, 8}}, none),
            (Bytes{0xFF, 0, 0xFF, 0, 0xFF, 0, 0x44, 0x55}));
  EXPECT_EQ(Write(kJpegSimdBitWriter, {{0x11223344, 32}}, none), (Bytes{0x11, 0x22, 0x33, 0x44}));
  EXPECT_EQ(Write(kJpegSimdBitWriter, {{0x11FFFFFF, 32}}, none), (Bytes{0x11, 0xFF, 0, 0xFF, 0, 0xFF, 0}));
  EXPECT_EQ(Write(kJpegSimdBitWriter, {{0xFF22FF44, 32}}, none), (Bytes{0xFF, 0, 0x22, 0xFF, 0, 0x44}));
  EXPECT_EQ(Write(kJpegSimdBitWriter, {{0xFFFFFFFF, 32}, {0xFFFFFF, 24}}, none), (Bytes{0xFF, 0, 0xFF, 0, 0xFF, 0, 0xFF, 0, 0xFF, 0, 0xFF, 0, 0xFF, 0}));
  // Pending bits end in a byte padded with 1-bits before raw bytes.
  EXPECT_EQ(Write(kJpegSimdBitWriter, {{0, 1}}, none), (Bytes{0x7F}));
  EXPECT_EQ(Write(kJpegSimdBitWriter, {{1, 1}}, none), (Bytes{0xFF, 0}));
  EXPECT_EQ(Write(kJpegSimdBitWriter, {{0xAAA, 12}}, {0xFF, 0xD9}), (Bytes{0xAA, 0xAF, 0xFF, 0xD9}));
  EXPECT_EQ(Write(kJpegSimdBitWriter, {}, {0xFF, 0xD9}), (Bytes{0xFF, 0xD9}));
}

TEST(JpegSimdEntropy, RandomFieldsGiveThePlainWritersBytes) {
  std::mt19937 rng(4);
  for (int n = 0; n < 300; ++n) {
    std::vector<std::pair<uint32_t, int>> fields;
    const int count = static_cast<int>(rng() % 400);
    for (int i = 0; i < count; ++i) {
      const int length = 1 + static_cast<int>(rng() % 16);
      // Runs of 1-bits make 0xFF bytes in every arrangement.
      const uint32_t value = rng() % 3 == 0 ? 0xFFFFu : static_cast<uint32_t>(rng());
      fields.push_back({value & ((1u << length) - 1u), length});
    }
    const std::vector<uint8_t> marker{0xFF, 0xD0};
    ASSERT_EQ(Write(kJpegSimdBitWriter, fields, marker), Write(kJpegPlainBitWriter, fields, marker)) << n;
  }
}

TEST(JpegSimdEntropy, BlockEncodersGiveThePlainEncodersBytes) {
  Tables t;
  std::mt19937 rng(8);
  for (int n = 0; n < 2000; ++n) {
    Stream plain(kJpegPlainBitWriter, 1 << 16), list(kJpegSimdBitWriter, 1 << 16), whole(kJpegSimdBitWriter, 1 << 16);
    int32_t lastPlain = 0, lastList = 0, lastWhole = 0;
    for (int b = 0; b < 20; ++b) {
      int16_t block[64] = {};
      const int density = static_cast<int>(rng() % 6);
      for (int i = 0; i < 64; ++i) {
        if (density == 5 || rng() % (1u << density) == 0) {
          const int magnitude = rng() % 10 == 0 ? 1023 : 1 << (rng() % 8);
          block[i] = static_cast<int16_t>(static_cast<int>(rng() % (2 * magnitude + 1)) - magnitude);
        }
      }
      if (b % 7 == 3) block[kJpegZigzag[63]] = 5;  // no end-of-block code
      if (b % 5 == 0) block[0] = static_cast<int16_t>(lastPlain);
      ASSERT_EQ(EncodeBlockSequential(plain.get(), &t.dc, &t.ac, &lastPlain, block), 0);
      ASSERT_EQ(EncodeBlockFromList(list.get(), &t.dc, &t.ac, &lastList, block), 0);
      ASSERT_EQ(JpegEncodeBlockMmx(whole.get(), &t.dc, &t.ac, &lastWhole, block), 0);
    }
    ASSERT_EQ(lastList, lastPlain);
    ASSERT_EQ(lastWhole, lastPlain);
    for (Stream* s : {&plain, &list, &whole}) ASSERT_EQ((*s)->family->finish(s->get()), 0);
    ASSERT_EQ(list.Bytes(), plain.Bytes()) << n;
    ASSERT_EQ(whole.Bytes(), plain.Bytes()) << n;
  }
}

TEST(JpegSimdEntropy, BlockEncodersRefuseASymbolWithoutCode) {
  Tables t;
  JpegHuffmanCodeTable partial = t.ac;
  partial.length[0xF0] = 0;
  int16_t block[64] = {};
  block[kJpegZigzag[40]] = 3;  // a run of 39 zeros needs ZRL
  Stream s(kJpegSimdBitWriter, 256);
  int32_t lastDc = 0;
  EXPECT_EQ(EncodeBlockFromList(s.get(), &t.dc, &partial, &lastDc, block), -6);
  EXPECT_EQ(JpegEncodeBlockMmx(s.get(), &t.dc, &partial, &lastDc, block), -6);
}

TEST(JpegSimdEntropy, MemoryOutputNeverPassesTheBufferEnd) {
  std::mt19937 rng(2);
  for (size_t size = 0; size < 64; ++size) {
    Stream s(kJpegSimdBitWriter, size);
    int result = 0;
    for (int i = 0; i < 100 && result == 0; ++i) result = s->family->putBits(s.get(), rng() % 3 ? 0xFFFF : rng() & 0xFFFF, 16);
    if (result == 0) result = s->family->finish(s.get());
    EXPECT_EQ(result, -28) << size;
    for (size_t i = size; i < s.buffer.size(); ++i) ASSERT_EQ(s.buffer[i], 0xA5) << "size " << size;
  }
}

TEST(JpegSimdEntropy, FileOutputGivesTheMemoryBytes) {
  std::mt19937 rng(6);
  std::vector<std::pair<uint32_t, int>> fields;
  for (int i = 0; i < 20000; ++i) fields.push_back({rng() % 4 ? 0xFFu : rng() & 0xFFF, 12});
  const std::string path = jpegtest::TempPath("simd-entropy.bin");
  const int file = JpegFileOpen(path.c_str(), kJpegAccessWrite);
  ASSERT_NE(file, kJpegNoFile);
  Stream s(kJpegSimdBitWriter, 0, file);
  for (const auto& [value, count] : fields) ASSERT_EQ(s->family->putBits(s.get(), value, count), 0);
  ASSERT_EQ(s->family->finish(s.get()), 0);
  JpegFileClose(file);
  const std::vector<uint8_t> written = jpegtest::ReadFile(path);
  unlink(path.c_str());
  EXPECT_EQ(written, Write(kJpegPlainBitWriter, fields, {}));
  EXPECT_EQ(JpegStreamBytes(s.get()), written.size());
}

TEST(JpegSimdEntropy, InitResetsTheWholeStream) {
  Stream s(kJpegSimdBitWriter, 64);
  ASSERT_EQ(s->family->putBits(s.get(), 0x1234, 16), 0);
  s->flushedBytes = 99;
  kJpegSimdBitWriter.init(s.get(), s.buffer.data(), 64);
  EXPECT_EQ(s->flushedBytes, 0u);
  EXPECT_EQ(s->pendingBits, 0);
  EXPECT_EQ(s->wideAccumulator, 0u);
  EXPECT_EQ(s->family, &kJpegSimdBitWriter);
}

}  // namespace
#endif
