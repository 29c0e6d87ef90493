#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "JpegCodec.h"
#include "JpegTestSupport.h"
#include "dispatch/JpegRuntime.h"
#include "platform/Registry.h"

namespace {

JpegCpuInfo Cpu(uint32_t family, uint32_t features) {
  JpegCpuInfo info{};
  info.family = family;
  info.features = features;
  return info;
}

// Points the registry at a private file and clears the test override.
class RegistryScope {
 public:
  RegistryScope() : path_(jpegtest::TempPath("registry.ini")) {
    const char* old = std::getenv("VYR_REGISTRY");
    hadRegistry_ = old != nullptr;
    if (old) oldRegistry_ = old;
    const char* cpu = std::getenv("VYR_JPEG_CPU");
    hadCpu_ = cpu != nullptr;
    if (cpu) oldCpu_ = cpu;
    setenv("VYR_REGISTRY", path_.c_str(), 1);
    unsetenv("VYR_JPEG_CPU");
    unlink(path_.c_str());
  }
  ~RegistryScope() {
    unlink(path_.c_str());
    unlink((path_ + ".lock").c_str());
    if (hadRegistry_) setenv("VYR_REGISTRY", oldRegistry_.c_str(), 1); else unsetenv("VYR_REGISTRY");
    if (hadCpu_) setenv("VYR_JPEG_CPU", oldCpu_.c_str(), 1); else unsetenv("VYR_JPEG_CPU");
  }

 private:
  std::string path_, oldRegistry_, oldCpu_;
  bool hadRegistry_ = false, hadCpu_ = false;
};

constexpr uint32_t kMmx = kCpuFeatureMmx, kSse = kCpuFeatureSse, kSse2 = kCpuFeatureSse2;

}  // namespace

TEST(JpegDispatch, ProcessorTypeRule) {
  EXPECT_EQ(JpegCpuTypeFromInfo(Cpu(5, 0)), 1);
  EXPECT_EQ(JpegCpuTypeFromInfo(Cpu(5, kMmx)), 3);
  EXPECT_EQ(JpegCpuTypeFromInfo(Cpu(6, 0)), 2);
  EXPECT_EQ(JpegCpuTypeFromInfo(Cpu(6, kSse)), 2) << "SSE without MMX";
  EXPECT_EQ(JpegCpuTypeFromInfo(Cpu(6, kMmx)), 4);
  EXPECT_EQ(JpegCpuTypeFromInfo(Cpu(6, kMmx | kSse)), 5);
  EXPECT_EQ(JpegCpuTypeFromInfo(Cpu(15, kMmx | kSse | kSse2)), 6);
  EXPECT_EQ(JpegCpuTypeFromInfo(Cpu(15, kMmx | kSse)), 0) << "family 15 without SSE2";
  EXPECT_EQ(JpegCpuTypeFromInfo(Cpu(4, kMmx | kSse | kSse2)), 0);
}

TEST(JpegDispatch, CpuInfoIsReadOnce) {
  const JpegCpuInfo& first = JpegGetCpuInfo();
  const JpegCpuInfo& second = JpegGetCpuInfo();
  EXPECT_EQ(&first, &second);
  EXPECT_EQ(first.vendor[12], '\0');
#if defined(__x86_64__)
  EXPECT_NE(first.features & kCpuFeatureSse2, 0u) << "every x86-64 processor has SSE2";
#endif
}

TEST(JpegDispatch, RegistryOverrideForcesType) {
  RegistryScope scope;
  JpegRuntime runtime{};
  EXPECT_EQ(JpegReadCpuOverride(&runtime), -1) << "no registry value";
  ASSERT_TRUE(platform::RegistryWriteInt("Software\\Vyrdax\\JpegCodec", "USECPU", 0));
  EXPECT_EQ(JpegReadCpuOverride(&runtime), 0);
  EXPECT_EQ(JpegDetectCpu(&runtime), 0);
  ASSERT_TRUE(platform::RegistryWriteInt("Software\\Vyrdax\\JpegCodec", "USECPU", 4));
  EXPECT_EQ(JpegDetectCpu(&runtime), 4);
  for (long ignored : {7L, -1L}) {
    ASSERT_TRUE(platform::RegistryWriteInt("Software\\Vyrdax\\JpegCodec", "USECPU", ignored));
    EXPECT_EQ(JpegReadCpuOverride(&runtime), -1) << ignored;
    EXPECT_EQ(JpegDetectCpu(&runtime), JpegCpuTypeFromInfo(JpegGetCpuInfo()));
  }
  setenv("VYR_JPEG_CPU", "3", 1);
  EXPECT_EQ(JpegDetectCpu(&runtime), 3) << "the environment wins for tests";
}

TEST(JpegDispatch, InitFillsEverySlotTheEncoderUses) {
  RegistryScope scope;
  for (int type = 0; type <= 6; ++type) {
    setenv("VYR_JPEG_CPU", std::to_string(type).c_str(), 1);
    JpegCoreProperties props;
    std::memset(&props, 0, sizeof(props));
    ASSERT_EQ(JpegInit(&props), 0);
    const JpegRuntime* runtime = props.props.runtime;
    EXPECT_EQ(runtime->cpuType, type);
    const JpegRoutineTable& table = runtime->routines;
    EXPECT_NE(table.forwardDct[0], nullptr);
    EXPECT_NE(table.forwardDct[1], nullptr);
    EXPECT_NE(table.quantize[0], nullptr);
    EXPECT_NE(table.quantize[1], nullptr);
    EXPECT_NE(table.bitWriter, nullptr);
    EXPECT_NE(table.encodeBlock, nullptr);
    int inputs = 0;
    for (JpegInputKernel kernel : table.inputKernels) inputs += kernel != nullptr;
    EXPECT_EQ(inputs, 15);
    JpegFree(&props);
  }
}

TEST(JpegDispatch, ProcessorTypesWithTheSameKernelsWriteTheSameStream) {
  // The SIMD quantisers round from a high half, so the MMX types may write
  // other bytes than the plain ones; a picture must still decode within one
  // or two levels of the plain type's, through the plain decoder as well.
  RegistryScope scope;
  constexpr int kWidth = 61, kHeight = 45;
  std::vector<uint8_t> streams[7];
  std::vector<uint8_t> pictures[7];
  for (int type = 0; type <= 6; ++type) {
    setenv("VYR_JPEG_CPU", std::to_string(type).c_str(), 1);
    jpegtest::Encoder e;
    e.SetRgb(kWidth, kHeight);
    e.props.quality = 100;
    ASSERT_EQ(e.WriteMemory(), 0);
    streams[type] = e.output;
    setenv("VYR_JPEG_CPU", "0", 1);
    ASSERT_EQ(jpegtest::DecodeImage(streams[type], COLOR_YCBCR, 3, kWidth, kHeight, 3, COLOR_RGB, &pictures[type]), 0);
  }
  for (int type : {1, 2}) EXPECT_EQ(streams[type], streams[0]) << "type " << type;
  for (int type : {4, 5}) EXPECT_EQ(streams[type], streams[3]) << "type " << type;
  for (int type = 1; type <= 6; ++type) {
    const jpegtest::Difference d = jpegtest::Compare(pictures[type], pictures[0]);
    EXPECT_LE(d.max, 2) << "type " << type;
    EXPECT_LT(d.mean, 0.1) << "type " << type;
  }
}

TEST(JpegDispatch, EveryProcessorTypeDecodesWithinTheKernelsBoundOfThePlainDecoder) {
  RegistryScope scope;
  // Odd sizes: clipped edge MCUs go through the plain workers, inner ones
  // through the twins.
  constexpr int kWidth = 257, kHeight = 131;
  jpegtest::Encoder e;
  e.SetRgb(kWidth, kHeight, 9);
  e.props.quality = 85;
  ASSERT_EQ(e.WriteMemory(), 0);
  std::vector<uint8_t> pictures[7];
  for (int type = 0; type <= 6; ++type) {
    setenv("VYR_JPEG_CPU", std::to_string(type).c_str(), 1);
    ASSERT_EQ(jpegtest::DecodeImage(e.output, COLOR_YCBCR, 3, kWidth, kHeight, 3, COLOR_RGB, &pictures[type]), 0);
  }
  for (int type : {1, 2}) EXPECT_EQ(pictures[type], pictures[0]) << "type " << type;
  for (int type = 4; type <= 6; ++type) EXPECT_EQ(pictures[type], pictures[3]) << "type " << type;
  // The twins' inverse transform may put a luma or chroma sample one off, and
  // their red and blue terms may come out one lower: one from Y, up to two
  // from a chroma sample (359/256 and 454/256 per step) and one from the
  // term's rounding make four.
  const jpegtest::Difference d = jpegtest::Compare(pictures[3], pictures[0]);
  EXPECT_LE(d.max, 4);
  EXPECT_LT(d.mean, 0.5);
}
