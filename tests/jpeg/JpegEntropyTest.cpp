#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "common/JpegTables.h"
#include "encoder/JpegBitWriter.h"
#include "encoder/JpegEncoderKernels.h"
#include "encoder/JpegHuffmanEncode.h"

namespace {

struct MemoryStream {
  std::unique_ptr<JpegOutputStream> stream{new JpegOutputStream{}};
  std::vector<uint8_t> buffer;
  explicit MemoryStream(size_t size, size_t guard = 0) : buffer(size + guard, 0xA5) {
    stream->file = kJpegNoFile;
    JpegInitOutput(stream.get(), buffer.data(), size);
  }
  std::vector<uint8_t> Bytes() const {
    return std::vector<uint8_t>(buffer.begin(), buffer.begin() + (stream->ptr - stream->start));
  }
};

// The bits of a byte stream with stuffing removed, as '0'/'1' text.
std::string Bits(const std::vector<uint8_t>& bytes) {
  std::string bits;
  for (size_t i = 0; i < bytes.size(); ++i) {
    for (int b = 7; b >= 0; --b) bits += ((bytes[i] >> b) & 1) ? '1' : '0';
    if (bytes[i] == 0xFF && i + 1 < bytes.size() && bytes[i + 1] == 0) ++i;
  }
  return bits;
}

std::string CodeBits(const JpegHuffmanCodeTable& t, int symbol) {
  std::string bits;
  for (int i = t.length[symbol] - 1; i >= 0; --i) bits += ((t.code[symbol] >> i) & 1) ? '1' : '0';
  return bits;
}

struct Tables {
  JpegHuffmanCodeTable dc, ac;
  Tables() {
    JpegDeriveHuffmanCodes(kJpegDcLuminanceBits, kJpegDcLuminanceValues, &dc);
    JpegDeriveHuffmanCodes(kJpegAcLuminanceBits, kJpegAcLuminanceValues, &ac);
  }
};

}  // namespace

TEST(JpegEntropy, FullPendingByteIsStuffed) {
  MemoryStream m(16);
  ASSERT_EQ(JpegPutBitsPlain(m.stream.get(), 0xFF, 8), 0);
  EXPECT_EQ(m.stream->freeBits, 0);
  EXPECT_TRUE(m.Bytes().empty());
  ASSERT_EQ(JpegPutBytes(nullptr, 0, m.stream.get()), 0);
  EXPECT_EQ(m.Bytes(), (std::vector<uint8_t>{0xFF, 0x00}));
}

TEST(JpegEntropy, MarkersPadWithOneBits) {
  MemoryStream m(16);
  ASSERT_EQ(JpegPutBitsPlain(m.stream.get(), 0xAAA, 12), 0);
  const uint8_t eoi[2] = {0xFF, 0xD9};
  ASSERT_EQ(JpegPutBytes(eoi, 2, m.stream.get()), 0);
  EXPECT_EQ(m.Bytes(), (std::vector<uint8_t>{0xAA, 0xAF, 0xFF, 0xD9}));
  EXPECT_EQ(JpegStreamBytes(m.stream.get()), 4u);
}

TEST(JpegEntropy, SequentialBlocks) {
  Tables t;
  {
    MemoryStream m(64);
    int16_t block[64] = {};
    block[0] = 5;
    int32_t lastDc = 4;
    ASSERT_EQ(EncodeBlockSequential(m.stream.get(), &t.dc, &t.ac, &lastDc, block), 0);
    JpegPutBytes(nullptr, 0, m.stream.get());
    EXPECT_EQ(lastDc, 5);
    const std::string expected = CodeBits(t.dc, 1) + "1" + CodeBits(t.ac, 0x00);
    EXPECT_EQ(Bits(m.Bytes()).substr(0, expected.size()), expected) << "DC +1, then EOB";
  }
  {
    MemoryStream m(64);
    int16_t block[64] = {};
    block[0] = 3;
    int32_t lastDc = 4;
    ASSERT_EQ(EncodeBlockSequential(m.stream.get(), &t.dc, &t.ac, &lastDc, block), 0);
    JpegPutBytes(nullptr, 0, m.stream.get());
    const std::string expected = CodeBits(t.dc, 1) + "0" + CodeBits(t.ac, 0x00);
    EXPECT_EQ(Bits(m.Bytes()).substr(0, expected.size()), expected) << "DC -1";
  }
  {
    MemoryStream m(64);
    int16_t block[64] = {};
    block[kJpegZigzag[18]] = 1;  // 17 zeros before it
    int32_t lastDc = 0;
    ASSERT_EQ(EncodeBlockSequential(m.stream.get(), &t.dc, &t.ac, &lastDc, block), 0);
    JpegPutBytes(nullptr, 0, m.stream.get());
    const std::string expected = CodeBits(t.dc, 0) + CodeBits(t.ac, 0xF0) + CodeBits(t.ac, 0x11) + "1" +
                                 CodeBits(t.ac, 0x00);
    EXPECT_EQ(Bits(m.Bytes()).substr(0, expected.size()), expected) << "ZRL and 1/1";
  }
  {
    MemoryStream m(64);
    int16_t block[64] = {};
    block[kJpegZigzag[63]] = -2;  // ends on a coefficient: no EOB
    int32_t lastDc = 0;
    ASSERT_EQ(EncodeBlockSequential(m.stream.get(), &t.dc, &t.ac, &lastDc, block), 0);
    JpegPutBytes(nullptr, 0, m.stream.get());
    const std::string expected = CodeBits(t.dc, 0) + CodeBits(t.ac, 0xF0) + CodeBits(t.ac, 0xF0) +
                                 CodeBits(t.ac, 0xF0) + CodeBits(t.ac, 0xE2) + "01";
    const std::string bits = Bits(m.Bytes());
    EXPECT_EQ(bits.substr(0, expected.size()), expected);
    EXPECT_EQ(bits.find_first_not_of('1', expected.size()), std::string::npos) << "only padding follows";
  }
}

TEST(JpegEntropy, SymbolWithoutCodeIsAnError) {
  Tables t;
  MemoryStream m(64);
  int16_t block[64] = {};
  block[1] = 1;
  JpegHuffmanCodeTable partial = t.ac;
  partial.length[0x01] = 0;
  int32_t lastDc = 0;
  EXPECT_EQ(EncodeBlockSequential(m.stream.get(), &t.dc, &partial, &lastDc, block), -6);
}

TEST(JpegEntropy, MemoryOutputNeverPassesItsEnd) {
  Tables t;
  // Blocks of large coefficients produce many bytes, some of them 0xFF.
  int16_t block[64];
  for (int i = 0; i < 64; ++i) block[i] = static_cast<int16_t>((i * 97) % 2000 - 1000);
  for (size_t size = 1; size < 120; ++size) {
    MemoryStream m(size, 16);
    int32_t lastDc = 0;
    int32_t result = 0;
    for (int n = 0; n < 4 && result == 0; ++n) result = EncodeBlockSequential(m.stream.get(), &t.dc, &t.ac, &lastDc, block);
    if (result == 0) result = JpegPutBytes(reinterpret_cast<const uint8_t*>("\xFF\xD9"), 2, m.stream.get());
    EXPECT_TRUE(result == 0 || result == -28) << size;
    for (size_t i = size; i < size + 16; ++i) ASSERT_EQ(m.buffer[i], 0xA5) << "byte past the end, size " << size;
  }
}

TEST(JpegEntropy, LongEndOfBandRunIsFlushedAtLimit) {
  JpegHuffmanCodeTable ac{};
  // A table giving every run symbol a 4-bit code.
  for (int n = 0; n <= 14; ++n) {
    ac.code[n * 16] = static_cast<uint16_t>(n);
    ac.length[n * 16] = 4;
  }
  MemoryStream m(64);
  JpegProgressiveCoder coder;
  coder.stream = m.stream.get();
  coder.acTable = &ac;
  int16_t empty[64] = {};
  for (uint32_t i = 0; i < kJpegMaxEobRun - 1; ++i) ASSERT_EQ(EncodeAcFirst(&coder, empty, 1, 63, 0), 0);
  EXPECT_TRUE(m.Bytes().empty());
  EXPECT_EQ(coder.eobRun, kJpegMaxEobRun - 1);
  ASSERT_EQ(EncodeAcFirst(&coder, empty, 1, 63, 0), 0);
  EXPECT_EQ(coder.eobRun, 0u);
  JpegPutBytes(nullptr, 0, m.stream.get());
  // EOB14 (code 14 = 1110) then the 14 low bits of 32767.
  EXPECT_EQ(Bits(m.Bytes()).substr(0, 18), "1110" + std::string(14, '1'));
}

TEST(JpegEntropy, CountingPassSeesTheSymbolsTheEncoderWrites) {
  Tables t;
  uint32_t frequencies[kJpegFrequencySlots] = {};
  JpegProgressiveCoder counter;
  counter.acFrequencies = frequencies;
  int16_t block[64] = {};
  block[kJpegZigzag[1]] = 12;
  block[kJpegZigzag[20]] = -3;
  int16_t empty[64] = {};
  ASSERT_EQ(EncodeAcFirst(&counter, block, 1, 63, 1), 0);
  ASSERT_EQ(EncodeAcFirst(&counter, empty, 1, 63, 1), 0);
  ASSERT_EQ(EncodeAcFirst(&counter, empty, 1, 63, 1), 0);
  ASSERT_EQ(EmitEobRun(&counter), 0);
  EXPECT_EQ(frequencies[0x03], 1u);   // 12 >> 1 = 6, size 3
  EXPECT_EQ(frequencies[0xF0], 1u);   // 18 zeros before the second
  EXPECT_EQ(frequencies[0x21], 1u);   // -3 >> 1 (of the magnitude) = 1, run 2
  EXPECT_EQ(frequencies[0x10], 1u);   // the run of three empty bands: EOB1
  uint32_t total = 0;
  for (uint32_t f : frequencies) total += f;
  EXPECT_EQ(total, 4u);
}
