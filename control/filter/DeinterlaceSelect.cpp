// The routine table and the process-wide choice.
#include "Deinterlace.h"
#include "DeinterlaceKernels.h"

#include "platform/CpuFeatures.h"

#include <atomic>

namespace vyrdax {

namespace {

DeinterlaceRoutine RoutineFor(DeinterlaceRoutineId id)
{
    switch (id) {
    case DeinterlaceRoutineId::kEightPixelPlain:
        return DeinterlaceEightPixelPlain;
    case DeinterlaceRoutineId::kFourPixelPlain:
        return DeinterlaceFourPixelPlain;
#if VYR_DEINTERLACE_X86
    case DeinterlaceRoutineId::kEightPixelSse2:
        return DeinterlaceEightPixelSse2;
    case DeinterlaceRoutineId::kFourPixelMmx:
        return DeinterlaceFourPixelMmx;
#endif
    default:
        return nullptr;
    }
}

// Routine and thresholds in one word, so that a display thread filtering
// while another control instance re-initialises never sees half a choice:
// bits 0-15 K1, 16-31 K2, 32-39 the routine.
std::atomic<uint64_t> g_selection{0};

} // namespace

DeinterlaceRoutineId SelectDeinterlaceRoutine(uint32_t cpuFeatures, bool forcePlain)
{
#if VYR_DEINTERLACE_X86
    const bool simd = !forcePlain;
#else
    const bool simd = false;
#endif
    // A plain routine keeps the rounding of the SIMD routine it stands in for.
    if (cpuFeatures & platform::kCpuFeatureSse2)
        return simd ? DeinterlaceRoutineId::kEightPixelSse2 : DeinterlaceRoutineId::kEightPixelPlain;
    if ((cpuFeatures & platform::kCpuFeatureMmx) && simd)
        return DeinterlaceRoutineId::kFourPixelMmx;
    return DeinterlaceRoutineId::kFourPixelPlain;
}

void InitDeinterlace(int edgeWeight, int combThreshold)
{
    const DeinterlaceRoutineId id = SelectDeinterlaceRoutine(platform::GetCpuFeatures(), platform::ForcePlainRoutines());
    const uint64_t word = static_cast<uint64_t>(static_cast<uint16_t>(edgeWeight))
        | static_cast<uint64_t>(static_cast<uint16_t>(combThreshold)) << 16
        | static_cast<uint64_t>(id) << 32;
    g_selection.store(word, std::memory_order_release);
}

void Deinterlace(int width, int height, uint8_t* y, uint8_t* /*u*/, uint8_t* /*v*/)
{
    const uint64_t word = g_selection.load(std::memory_order_acquire);
    const DeinterlaceRoutine routine = RoutineFor(static_cast<DeinterlaceRoutineId>(word >> 32));
    if (routine == nullptr || y == nullptr || width <= 0 || height < 4)
        return;
    const DeinterlaceThresholds thresholds{static_cast<uint16_t>(word), static_cast<uint16_t>(word >> 16)};
    routine(y, width, height / 2, thresholds);
}

DeinterlaceRoutineId CurrentDeinterlaceRoutine()
{
    return static_cast<DeinterlaceRoutineId>(g_selection.load(std::memory_order_acquire) >> 32);
}

} // namespace vyrdax
