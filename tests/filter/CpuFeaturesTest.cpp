#include "platform/CpuFeatures.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace platform;

namespace {

CpuIdentification Processor(const char* vendor, uint32_t signature, uint32_t edx,
                            uint32_t maxExtendedLeaf = 0, uint32_t extendedEdx = 0)
{
    CpuIdentification id;
    id.cpuidAvailable = true;
    id.maxStandardLeaf = 13;
    id.vendor = vendor;
    id.signature = signature;
    id.standardEdx = edx;
    id.maxExtendedLeaf = maxExtendedLeaf;
    id.extendedEdx = extendedEdx;
    return id;
}

constexpr uint32_t kEdxTsc = 1u << 4, kEdxMtrr = 1u << 12, kEdxCmov = 1u << 15,
                   kEdxMmx = 1u << 23, kEdxSse = 1u << 25, kEdxSse2 = 1u << 26;

} // namespace

TEST(CpuFeatures, WithoutCpuidOrLeavesOnlyTheBaseBit)
{
    EXPECT_EQ(CpuFeaturesFromIdentification(CpuIdentification{}), kCpuFeatureBase);
    CpuIdentification leafZeroOnly = Processor("GenuineIntel", 0x6FB, ~0u, 0x80000008u, ~0u);
    leafZeroOnly.maxStandardLeaf = 0;
    EXPECT_EQ(CpuFeaturesFromIdentification(leafZeroOnly), kCpuFeatureBase);
}

TEST(CpuFeatures, StandardLeafBits)
{
    const uint32_t all = kEdxTsc | kEdxMtrr | kEdxCmov | kEdxMmx | kEdxSse | kEdxSse2;
    EXPECT_EQ(CpuFeaturesFromIdentification(Processor("GenuineIntel", 0xF29, all)),
              0x0001u | 0x0002u | 0x0010u | 0x0020u | 0x0040u | 0x1000u | 0x0200u | 0x0400u | 0x2000u | 0x4000u);
    // SSE2 alone is enough for the 8-pixel routine; MMX alone gives only its bit.
    EXPECT_EQ(CpuFeaturesFromIdentification(Processor("GenuineIntel", 0xF29, kEdxSse2)),
              kCpuFeatureBase | kCpuFeatureStandardLeaves | kCpuFeatureSse2);
    EXPECT_EQ(CpuFeaturesFromIdentification(Processor("GenuineIntel", 0x543, kEdxMmx)),
              kCpuFeatureBase | kCpuFeatureStandardLeaves | kCpuFeatureMmx);
}

TEST(CpuFeatures, ExtendedLeafBitsDependOnVendor)
{
    const uint32_t amdExtended = (1u << 31) | (1u << 30) | (1u << 22);
    const uint32_t base = kCpuFeatureBase | kCpuFeatureStandardLeaves | kCpuFeatureMmx | kCpuFeatureExtendedLeaves;
    EXPECT_EQ(CpuFeaturesFromIdentification(Processor("GenuineIntel", 0x58C, kEdxMmx, 0x80000001u, amdExtended)),
              base | kCpuFeature3dNow);
    EXPECT_EQ(CpuFeaturesFromIdentification(Processor("AuthenticAMD", 0x580, kEdxMmx, 0x80000001u, amdExtended)),
              base | kCpuFeature3dNow | kCpuFeature3dNowExt | kCpuFeatureMmxExt);
    // No extended leaf, or a leaf 0x80000000 answering with standard data.
    EXPECT_EQ(CpuFeaturesFromIdentification(Processor("AuthenticAMD", 0x580, kEdxMmx, 0x80000000u, amdExtended)),
              base & ~kCpuFeatureExtendedLeaves);
    EXPECT_EQ(CpuFeaturesFromIdentification(Processor("AuthenticAMD", 0x580, kEdxMmx, 0x0000000Du, amdExtended)),
              base & ~kCpuFeatureExtendedLeaves);
}

TEST(CpuFeatures, AmdSignatureWindowUsesTheLowTwelveBits)
{
    auto signatureBit = [](uint32_t signature) {
        return (CpuFeaturesFromIdentification(Processor("AuthenticAMD", signature, kEdxMmx, 0x80000001u, 0))
                & kCpuFeatureAmdSignature588) != 0;
    };
    EXPECT_FALSE(signatureBit(0x587));
    EXPECT_TRUE(signatureBit(0x588));
    EXPECT_TRUE(signatureBit(0x5FF));
    EXPECT_FALSE(signatureBit(0x600));
    EXPECT_TRUE(signatureBit(0x1058C));
    EXPECT_FALSE(signatureBit(0x00A20F12));
}

#if defined(__x86_64__) || defined(__i386__)
TEST(CpuFeatures, ThisProcessorAgreesWithTheCompiler)
{
    const uint32_t features = GetCpuFeatures();
    EXPECT_EQ((features & kCpuFeatureMmx) != 0, __builtin_cpu_supports("mmx") != 0);
    EXPECT_EQ((features & kCpuFeatureSse) != 0, __builtin_cpu_supports("sse") != 0);
    EXPECT_EQ((features & kCpuFeatureSse2) != 0, __builtin_cpu_supports("sse2") != 0);
    EXPECT_EQ(ReadCpuIdentification().vendor.size(), 12u);
}
#endif

TEST(CpuFeatures, ForcePlainOnlyForOne)
{
    unsetenv("VYR_FORCE_PLAIN");
    EXPECT_FALSE(ForcePlainRoutines());
    setenv("VYR_FORCE_PLAIN", "0", 1);
    EXPECT_FALSE(ForcePlainRoutines());
    setenv("VYR_FORCE_PLAIN", "1", 1);
    EXPECT_TRUE(ForcePlainRoutines());
    unsetenv("VYR_FORCE_PLAIN");
}
