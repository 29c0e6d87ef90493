#pragma once
// The deinterlace filter: removes comb artefacts from 480-line pictures by
// rewriting, in place, luma pixels of odd lines that stick out from both
// even neighbours in the same direction. One routine and one pair of
// thresholds per process, shared by the control and the player.
#include <cstdint>

namespace vyrdax {

enum class DeinterlaceRoutineId : uint8_t {
    kNone = 0,          // InitDeinterlace not called yet: Deinterlace does nothing
    kEightPixelSse2,
    kEightPixelPlain,   // the SSE2 routine's twin, one pixel at a time
    kFourPixelMmx,
    kFourPixelPlain,    // the MMX routine's twin
};

// Selects the routine from the processor's features (the 8-pixel one with
// SSE2, else the 4-pixel one; their plain twins when VYR_FORCE_PLAIN=1 or
// without MMX) and stores K1, the weight of the vertical-edge term, and K2,
// the comb threshold. Both are kept as 16-bit values (the low 16 bits).
// May be called again at any time, from any thread.
void InitDeinterlace(int edgeWeight, int combThreshold);

// Filters the luma plane `y` (width x height bytes, rows packed) in place
// as height / 2 line pairs. The chroma planes are not touched. Does nothing
// for a null plane, a width below 1 or fewer than two line pairs.
void Deinterlace(int width, int height, uint8_t* y, uint8_t* u, uint8_t* v);

// The routine InitDeinterlace chose.
DeinterlaceRoutineId CurrentDeinterlaceRoutine();

// The choice InitDeinterlace makes for a feature word of platform::GetCpuFeatures.
DeinterlaceRoutineId SelectDeinterlaceRoutine(uint32_t cpuFeatures, bool forcePlain);

} // namespace vyrdax
