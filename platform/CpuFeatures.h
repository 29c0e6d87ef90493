#pragma once
// The processor test: one feature word read from CPUID, for code that keeps a
// plain routine beside its MMX/SSE/SSE2 twins. Plain C++ so Qt-free libraries
// can use it.
#include <cstdint>
#include <string>

namespace platform {

constexpr uint32_t kCpuFeatureBase = 0x0001;            // always set
constexpr uint32_t kCpuFeatureStandardLeaves = 0x0002;  // leaf 0 reports leaf 1 and above
constexpr uint32_t kCpuFeatureExtendedLeaves = 0x0004;  // leaf 0x80000001 exists
constexpr uint32_t kCpuFeatureTsc = 0x0010;
constexpr uint32_t kCpuFeatureMmx = 0x0020;
constexpr uint32_t kCpuFeatureCmov = 0x0040;
constexpr uint32_t kCpuFeature3dNow = 0x0080;
constexpr uint32_t kCpuFeature3dNowExt = 0x0100;        // AMD only
// SSE sets 0x0200, 0x0400 and 0x2000 together; AMD's MMX extensions set 0x0200 alone.
constexpr uint32_t kCpuFeatureMmxExt = 0x0200;
constexpr uint32_t kCpuFeatureSse = 0x0400;
constexpr uint32_t kCpuFeatureAmdSignature588 = 0x0800;  // AMD, signature 0x588..0x5FF
constexpr uint32_t kCpuFeatureMtrr = 0x1000;
constexpr uint32_t kCpuFeatureSseFloat = 0x2000;
constexpr uint32_t kCpuFeatureSse2 = 0x4000;

// The raw words the feature word is made from.
struct CpuIdentification {
    bool cpuidAvailable = false;
    uint32_t maxStandardLeaf = 0;
    std::string vendor = "UnknownVendr";
    uint32_t signature = 0;  // leaf 1 eax
    uint32_t standardEdx = 0;  // leaf 1 edx
    uint32_t maxExtendedLeaf = 0;
    uint32_t extendedEdx = 0;  // leaf 0x80000001 edx
};

CpuIdentification ReadCpuIdentification();
uint32_t CpuFeaturesFromIdentification(const CpuIdentification& id);

// Read once per process.
uint32_t GetCpuFeatures();

// VYR_FORCE_PLAIN=1 in the environment makes routine tables pick their plain
// routines whatever the processor offers; tests and benchmarks set it. Read
// on every call, so a test can change it between selections.
bool ForcePlainRoutines();

} // namespace platform
