#include "CpuFeatures.h"

#include <cstdlib>
#include <cstring>

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#endif

namespace platform {

CpuIdentification ReadCpuIdentification()
{
    CpuIdentification id;
#if defined(__i386__) || defined(__x86_64__)
    unsigned int a = 0, b = 0, c = 0, d = 0;
    // 0 both when the instruction is missing and when leaf 0 is the last:
    // either way nothing beyond the base bit can be reported.
    if (__get_cpuid_max(0, nullptr) == 0)
        return id;
    __cpuid(0, a, b, c, d);
    id.cpuidAvailable = true;
    id.maxStandardLeaf = a;
    char vendor[12];
    std::memcpy(vendor + 0, &b, 4);
    std::memcpy(vendor + 4, &d, 4);
    std::memcpy(vendor + 8, &c, 4);
    id.vendor.assign(vendor, sizeof vendor);
    if (id.maxStandardLeaf >= 1) {
        __cpuid(1, a, b, c, d);
        id.signature = a;
        id.standardEdx = d;
    }
    __cpuid(0x80000000u, a, b, c, d);
    id.maxExtendedLeaf = a;
    if ((id.maxExtendedLeaf & 0xFFFF0000u) == 0x80000000u && id.maxExtendedLeaf >= 0x80000001u) {
        __cpuid(0x80000001u, a, b, c, d);
        id.extendedEdx = d;
    }
#endif
    return id;
}

uint32_t CpuFeaturesFromIdentification(const CpuIdentification& id)
{
    uint32_t features = kCpuFeatureBase;
    if (!id.cpuidAvailable || id.maxStandardLeaf == 0)
        return features;

    features |= kCpuFeatureStandardLeaves;
    const uint32_t edx = id.standardEdx;
    if (edx & (1u << 4))
        features |= kCpuFeatureTsc;
    if (edx & (1u << 23))
        features |= kCpuFeatureMmx;
    if (edx & (1u << 15))
        features |= kCpuFeatureCmov;
    if (edx & (1u << 12))
        features |= kCpuFeatureMtrr;
    if (edx & (1u << 25))
        features |= kCpuFeatureMmxExt | kCpuFeatureSse | kCpuFeatureSseFloat;
    if (edx & (1u << 26))
        features |= kCpuFeatureSse2;

    // Some processors answer leaf 0x80000000 with standard-leaf data.
    const bool extended = (id.maxExtendedLeaf & 0xFFFF0000u) == 0x80000000u
        && id.maxExtendedLeaf >= 0x80000001u;
    if (!extended)
        return features;
    features |= kCpuFeatureExtendedLeaves;
    const uint32_t extendedEdx = id.extendedEdx;
    if (extendedEdx & (1u << 31))
        features |= kCpuFeature3dNow;
    if (id.vendor == "AuthenticAMD") {
        if (extendedEdx & (1u << 30))
            features |= kCpuFeature3dNowExt;
        if (extendedEdx & (1u << 22))
            features |= kCpuFeatureMmxExt;
        // Unsigned, so signatures below 0x588 wrap far above the window.
        if ((id.signature & 0xFFFu) - 0x588u < 120u)
            features |= kCpuFeatureAmdSignature588;
    }
    return features;
}

uint32_t GetCpuFeatures()
{
    static const uint32_t features = CpuFeaturesFromIdentification(ReadCpuIdentification());
    return features;
}

bool ForcePlainRoutines()
{
    const char* value = std::getenv("VYR_FORCE_PLAIN");
    return value != nullptr && std::strcmp(value, "1") == 0;
}

} // namespace platform
