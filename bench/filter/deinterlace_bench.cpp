// Times each deinterlace routine on a 704 x 480 luma plane (a D1 picture as
// the DVRs send it), one call per frame, and prints nanoseconds per frame.
//   deinterlace_bench [--frames N]
#include "control/filter/DeinterlaceKernels.h"
#include "platform/CpuFeatures.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

using namespace vyrdax;

namespace {

constexpr int kWidth = 704;
constexpr int kHeight = 480;

// Gradients with noise, and the odd field shifted sideways as a moving
// subject leaves it, so that about a third of the odd pixels are combed.
std::vector<uint8_t> CombedPicture()
{
    std::vector<uint8_t> plane(static_cast<size_t>(kWidth) * kHeight);
    uint32_t state = 1;
    for (int row = 0; row < kHeight; ++row) {
        const int shift = row % 2 ? 24 : 0;
        for (int x = 0; x < kWidth; ++x) {
            state = state * 1664525u + 1013904223u;
            const int noise = static_cast<int>((state >> 24) % 9) - 4;
            const int bar = ((x + shift) / 48) % 2 ? 170 : 40;
            const int value = bar + (row * 60) / kHeight + noise;
            plane[static_cast<size_t>(row) * kWidth + x] = static_cast<uint8_t>(std::clamp(value, 0, 255));
        }
    }
    return plane;
}

void Time(const char* name, DeinterlaceRoutine routine, const std::vector<uint8_t>& source, int frames)
{
    std::vector<uint8_t> work(source.size());
    std::vector<double> nanoseconds;
    nanoseconds.reserve(frames);
    size_t changed = 0;
    for (int frame = 0; frame < frames; ++frame) {
        std::memcpy(work.data(), source.data(), source.size());
        const auto start = std::chrono::steady_clock::now();
        routine(work.data(), kWidth, kHeight / 2, DeinterlaceThresholds{1, 73});
        const auto end = std::chrono::steady_clock::now();
        nanoseconds.push_back(std::chrono::duration<double, std::nano>(end - start).count());
        if (frame == 0)
            for (size_t i = 0; i < work.size(); ++i)
                changed += work[i] != source[i];
    }
    std::sort(nanoseconds.begin(), nanoseconds.end());
    double total = 0;
    for (double value : nanoseconds)
        total += value;
    const double median = nanoseconds[nanoseconds.size() / 2];
    std::printf("%-18s median %9.0f ns/frame  mean %9.0f ns/frame  %8.0f frames/s  (%zu pixels replaced)\n",
                name, median, total / frames, 1e9 / median, changed);
}

} // namespace

int main(int argc, char** argv)
{
    int frames = 2000;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--frames") == 0)
            frames = std::max(1, std::atoi(argv[++i]));

    const std::vector<uint8_t> source = CombedPicture();
    std::printf("%d x %d luma, %d frames per routine\n", kWidth, kHeight, frames);
    Time("eight-pixel plain", DeinterlaceEightPixelPlain, source, frames);
    Time("four-pixel plain", DeinterlaceFourPixelPlain, source, frames);
#if VYR_DEINTERLACE_X86
    const uint32_t features = platform::GetCpuFeatures();
    if (features & platform::kCpuFeatureSse2)
        Time("SSE2 (8 pixels)", DeinterlaceEightPixelSse2, source, frames);
    if (features & platform::kCpuFeatureMmx)
        Time("MMX (4 pixels)", DeinterlaceFourPixelMmx, source, frames);
#endif
    return 0;
}
