#include "control/filter/Deinterlace.h"
#include "control/filter/DeinterlaceKernels.h"
#include "platform/CpuFeatures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

using namespace vyrdax;

namespace {

using Plane = std::vector<uint8_t>;

constexpr DeinterlaceThresholds kDefaultThresholds{1, 73};

struct NamedRoutine {
    const char* name;
    DeinterlaceRoutine routine;
    DeinterlaceRoutine twin;  // the plain routine it must equal
};

// Every routine this processor can run, each with its plain twin.
std::vector<NamedRoutine> RunnableRoutines()
{
    std::vector<NamedRoutine> routines{
        {"eight-pixel plain", DeinterlaceEightPixelPlain, DeinterlaceEightPixelPlain},
        {"four-pixel plain", DeinterlaceFourPixelPlain, DeinterlaceFourPixelPlain},
    };
#if VYR_DEINTERLACE_X86
    const uint32_t features = platform::GetCpuFeatures();
    if (features & platform::kCpuFeatureSse2)
        routines.push_back({"SSE2", DeinterlaceEightPixelSse2, DeinterlaceEightPixelPlain});
    if (features & platform::kCpuFeatureMmx)
        routines.push_back({"MMX", DeinterlaceFourPixelMmx, DeinterlaceFourPixelPlain});
#endif
    return routines;
}

std::vector<NamedRoutine> SimdRoutines()
{
    std::vector<NamedRoutine> routines = RunnableRoutines();
    routines.erase(routines.begin(), routines.begin() + 2);
    return routines;
}

DeinterlaceRoutine RoutineOf(DeinterlaceRoutineId id)
{
    switch (id) {
    case DeinterlaceRoutineId::kEightPixelPlain: return DeinterlaceEightPixelPlain;
    case DeinterlaceRoutineId::kFourPixelPlain: return DeinterlaceFourPixelPlain;
#if VYR_DEINTERLACE_X86
    case DeinterlaceRoutineId::kEightPixelSse2: return DeinterlaceEightPixelSse2;
    case DeinterlaceRoutineId::kFourPixelMmx: return DeinterlaceFourPixelMmx;
#endif
    default: return nullptr;
    }
}

// Runs a routine over a three-line column plus a fourth line (two pairs), and
// returns the filtered middle pixel.
uint8_t FilterMiddle(DeinterlaceRoutine routine, uint8_t above, uint8_t middle, uint8_t below,
                     DeinterlaceThresholds thresholds)
{
    // Wide enough that the SIMD routines reach the pixel in a full group.
    constexpr int kWidth = 8;
    Plane plane(4 * kWidth);
    for (int x = 0; x < kWidth; ++x) {
        plane[x] = above;
        plane[kWidth + x] = middle;
        plane[2 * kWidth + x] = below;
        plane[3 * kWidth + x] = middle;
    }
    routine(plane.data(), kWidth, 2, thresholds);
    for (int x = 1; x < kWidth; ++x)
        EXPECT_EQ(plane[kWidth + x], plane[kWidth]) << "pixel " << x;
    EXPECT_EQ(plane[3 * kWidth], middle) << "the last odd line changed";
    return plane[kWidth];
}

Plane Stripes(int width, int height, uint8_t even, uint8_t odd)
{
    Plane plane(static_cast<size_t>(width) * height);
    for (int row = 0; row < height; ++row)
        std::fill_n(plane.begin() + static_cast<size_t>(row) * width, width, row % 2 ? odd : even);
    return plane;
}

uint8_t At(const Plane& plane, int width, int row, int x) { return plane[static_cast<size_t>(row) * width + x]; }

} // namespace

TEST(DeinterlaceRoutines, ThresholdIsStrict)
{
    // a = 31, b = 10, c = 15: 21 * 5 - (16 * 16 >> 3) = 73, kept.
    // a = 32: 22 * 5 - (17 * 17 >> 3) = 74, replaced.
    for (const NamedRoutine& r : RunnableRoutines()) {
        SCOPED_TRACE(r.name);
        EXPECT_EQ(FilterMiddle(r.routine, 62, 20, 30, kDefaultThresholds), 20);
        EXPECT_EQ(FilterMiddle(r.routine, 62, 20, 30, {1, 72}), 46);
        EXPECT_NE(FilterMiddle(r.routine, 64, 20, 31, kDefaultThresholds), 20);
        // K1 weighs the edge term: twice 36 brings 110 below the threshold.
        EXPECT_EQ(FilterMiddle(r.routine, 64, 20, 31, {2, 73}), 20);
    }
}

TEST(DeinterlaceRoutines, AverageRoundsAsItsRoutine)
{
    for (const NamedRoutine& r : RunnableRoutines()) {
        SCOPED_TRACE(r.name);
        const bool rounded = r.twin == DeinterlaceEightPixelPlain;
        EXPECT_EQ(FilterMiddle(r.routine, 64, 20, 31, kDefaultThresholds), rounded ? 48 : 47);
        EXPECT_EQ(FilterMiddle(r.routine, 255, 0, 255, kDefaultThresholds), rounded ? 255 : 254);
        // A line brighter than both neighbours goes too.
        EXPECT_EQ(FilterMiddle(r.routine, 1, 255, 3, kDefaultThresholds), rounded ? 2 : 1);
    }
}

TEST(DeinterlaceRoutines, ArithmeticWrapsAtSixteenBits)
{
    for (const NamedRoutine& r : RunnableRoutines()) {
        SCOPED_TRACE(r.name);
        // K2 = 0xFFFF is -1: a flat-looking pixel (score 0 with K1 = 0) goes.
        EXPECT_EQ(FilterMiddle(r.routine, 10, 10, 200, {0, 0xFFFF}), 105);
        EXPECT_EQ(FilterMiddle(r.routine, 10, 10, 200, {0, 0}), 10);
        // a - c = 8 gives an edge term of 8 * 0x2000 = 0x10000, which wraps to 0,
        // so comb 240 passes.
        EXPECT_EQ(FilterMiddle(r.routine, 80, 40, 64, {0x2000, 73}), 72);
        EXPECT_EQ(FilterMiddle(r.routine, 80, 40, 64, {0x1000, 73}), 40);
    }
}

TEST(DeinterlaceRoutines, StripesFlattenExceptTheLastOddLine)
{
    constexpr int kWidth = 704, kHeight = 480;
    for (const NamedRoutine& r : RunnableRoutines()) {
        SCOPED_TRACE(r.name);
        Plane plane = Stripes(kWidth, kHeight, 0, 255);
        r.routine(plane.data(), kWidth, kHeight / 2, kDefaultThresholds);
        for (int row = 0; row < kHeight; ++row) {
            const uint8_t expected = row % 2 == 0 ? 0 : row == kHeight - 1 ? 255 : 0;
            for (int x = 0; x < kWidth; x += 97)
                ASSERT_EQ(At(plane, kWidth, row, x), expected) << "row " << row << " x " << x;
            ASSERT_EQ(At(plane, kWidth, row, kWidth - 1), expected) << "row " << row;
        }
    }
}

TEST(DeinterlaceRoutines, EdgesAndSmoothPicturesAreKept)
{
    constexpr int kWidth = 720, kHeight = 480;
    std::mt19937 random(7);
    for (const NamedRoutine& r : RunnableRoutines()) {
        SCOPED_TRACE(r.name);
        Plane edge(static_cast<size_t>(kWidth) * kHeight, 0);
        std::fill(edge.begin() + kWidth * 240, edge.end(), 255);
        Plane filtered = edge;
        r.routine(filtered.data(), kWidth, kHeight / 2, kDefaultThresholds);
        EXPECT_EQ(filtered, edge) << "hard edge";

        // Odd lines at the average of their neighbours, either rounding.
        Plane smooth(static_cast<size_t>(kWidth) * kHeight);
        for (int row = 0; row < kHeight; row += 2)
            for (int x = 0; x < kWidth; ++x)
                smooth[static_cast<size_t>(row) * kWidth + x] = static_cast<uint8_t>(random());
        for (int row = 1; row + 1 < kHeight; row += 2)
            for (int x = 0; x < kWidth; ++x) {
                const int sum = At(smooth, kWidth, row - 1, x) + At(smooth, kWidth, row + 1, x);
                smooth[static_cast<size_t>(row) * kWidth + x] = static_cast<uint8_t>((sum + (x & 1)) >> 1);
            }
        filtered = smooth;
        r.routine(filtered.data(), kWidth, kHeight / 2, kDefaultThresholds);
        EXPECT_EQ(filtered, smooth) << "smooth picture";

        // One line pair has no odd line with a line below it.
        Plane pair = Stripes(kWidth, 2, 0, 255);
        filtered = pair;
        r.routine(filtered.data(), kWidth, 1, kDefaultThresholds);
        EXPECT_EQ(filtered, pair) << "one pair";
    }
}

TEST(DeinterlaceRoutines, SimdEqualsItsPlainTwinOnRandomPlanes)
{
    const std::vector<NamedRoutine> simd = SimdRoutines();
    if (simd.empty())
        GTEST_SKIP() << "no SIMD routine on this processor";
    std::mt19937 random(20240611);
    std::vector<int> widths;
    for (int w = 1; w <= 40; ++w)
        widths.push_back(w);
    for (int w : {63, 64, 65, 179, 180, 181, 352, 703, 704, 705, 720})
        widths.push_back(w);
    const int heights[] = {0, 1, 2, 3, 4, 5, 6, 7, 9, 16, 17, 33};
    size_t replaced = 0;
    for (const NamedRoutine& r : simd) {
        SCOPED_TRACE(r.name);
        for (int width : widths)
            for (int height : heights)
                for (int round = 0; round < 3; ++round) {
                    // Full-range noise, noise around a level, and combed noise,
                    // with the usual thresholds and with any 16-bit ones.
                    Plane plane(static_cast<size_t>(width) * height);
                    const int level = static_cast<int>(random() % 256);
                    for (size_t i = 0; i < plane.size(); ++i) {
                        const int row = static_cast<int>(i / width);
                        const int noise = static_cast<int>(random() % 256);
                        plane[i] = static_cast<uint8_t>(round == 0 ? noise
                                                        : round == 1 ? std::clamp(level + noise / 8 - 16, 0, 255)
                                                                     : (row % 2 ? 255 - noise / 4 : noise / 4));
                    }
                    const DeinterlaceThresholds thresholds = round == 1
                        ? DeinterlaceThresholds{static_cast<uint16_t>(random()), static_cast<uint16_t>(random())}
                        : kDefaultThresholds;
                    Plane expected = plane;
                    Plane actual = plane;
                    r.twin(expected.data(), width, height / 2, thresholds);
                    r.routine(actual.data(), width, height / 2, thresholds);
                    ASSERT_EQ(actual, expected) << "width " << width << " height " << height << " round " << round
                                                << " K1 " << thresholds.edgeWeight << " K2 " << thresholds.combThreshold;
                    for (size_t i = 0; i < plane.size(); ++i)
                        replaced += plane[i] != actual[i];
                }
    }
    EXPECT_GT(replaced, 10000u) << "the planes hardly exercise the filter";
}

TEST(DeinterlaceRoutines, OnlyInnerOddLinesChange)
{
    constexpr int kWidth = 37, kHeight = 11;  // odd width and height
    std::mt19937 random(3);
    for (const NamedRoutine& r : RunnableRoutines()) {
        SCOPED_TRACE(r.name);
        Plane plane(kWidth * kHeight);
        for (uint8_t& pixel : plane)
            pixel = static_cast<uint8_t>(random());
        Plane filtered = plane;
        r.routine(filtered.data(), kWidth, kHeight / 2, kDefaultThresholds);
        bool anyChanged = false;
        for (int row = 0; row < kHeight; ++row) {
            const bool mayChange = row % 2 == 1 && row <= 2 * (kHeight / 2) - 3;
            for (int x = 0; x < kWidth; ++x) {
                if (!mayChange) {
                    ASSERT_EQ(At(filtered, kWidth, row, x), At(plane, kWidth, row, x)) << "row " << row;
                }
                anyChanged |= At(filtered, kWidth, row, x) != At(plane, kWidth, row, x);
            }
        }
        EXPECT_TRUE(anyChanged);
    }
}

class DeinterlaceFilter : public ::testing::Test {
protected:
    void SetUp() override { unsetenv("VYR_FORCE_PLAIN"); }
    void TearDown() override { unsetenv("VYR_FORCE_PLAIN"); }
};

TEST_F(DeinterlaceFilter, SelectionTable)
{
    using platform::kCpuFeatureMmx;
    using platform::kCpuFeatureSse2;
    const uint32_t base = platform::kCpuFeatureBase;
#if VYR_DEINTERLACE_X86
    EXPECT_EQ(SelectDeinterlaceRoutine(base | kCpuFeatureMmx | kCpuFeatureSse2, false), DeinterlaceRoutineId::kEightPixelSse2);
    EXPECT_EQ(SelectDeinterlaceRoutine(base | kCpuFeatureMmx, false), DeinterlaceRoutineId::kFourPixelMmx);
#endif
    EXPECT_EQ(SelectDeinterlaceRoutine(base | kCpuFeatureMmx | kCpuFeatureSse2, true), DeinterlaceRoutineId::kEightPixelPlain);
    EXPECT_EQ(SelectDeinterlaceRoutine(base | kCpuFeatureMmx, true), DeinterlaceRoutineId::kFourPixelPlain);
    EXPECT_EQ(SelectDeinterlaceRoutine(base, false), DeinterlaceRoutineId::kFourPixelPlain);
}

TEST_F(DeinterlaceFilter, InitPicksSse2UnlessForcedPlain)
{
    InitDeinterlace(1, 73);
#if VYR_DEINTERLACE_X86
    const bool sse2 = (platform::GetCpuFeatures() & platform::kCpuFeatureSse2) != 0;
    EXPECT_EQ(CurrentDeinterlaceRoutine(), sse2 ? DeinterlaceRoutineId::kEightPixelSse2 : DeinterlaceRoutineId::kFourPixelMmx);
#endif
    setenv("VYR_FORCE_PLAIN", "1", 1);
    InitDeinterlace(1, 73);
    const DeinterlaceRoutineId forced = CurrentDeinterlaceRoutine();
    EXPECT_TRUE(forced == DeinterlaceRoutineId::kEightPixelPlain || forced == DeinterlaceRoutineId::kFourPixelPlain);
    if (platform::GetCpuFeatures() & platform::kCpuFeatureSse2) {
        EXPECT_EQ(forced, DeinterlaceRoutineId::kEightPixelPlain);
    }
}

TEST_F(DeinterlaceFilter, RunsTheSelectedRoutineWithTheStoredThresholds)
{
    constexpr int kWidth = 704, kHeight = 480;
    std::mt19937 random(11);
    Plane plane(kWidth * kHeight);
    for (uint8_t& pixel : plane)
        pixel = static_cast<uint8_t>(random());
    for (bool forcePlain : {false, true}) {
        if (forcePlain)
            setenv("VYR_FORCE_PLAIN", "1", 1);
        for (DeinterlaceThresholds thresholds : {DeinterlaceThresholds{1, 73}, DeinterlaceThresholds{3, 0xFFF0}}) {
            InitDeinterlace(thresholds.edgeWeight, static_cast<int16_t>(thresholds.combThreshold));
            Plane expected = plane;
            RoutineOf(CurrentDeinterlaceRoutine())(expected.data(), kWidth, kHeight / 2, thresholds);
            Plane actual = plane;
            Deinterlace(kWidth, kHeight, actual.data(), nullptr, nullptr);
            EXPECT_EQ(actual, expected) << "K1 " << thresholds.edgeWeight << " forced " << forcePlain;
            EXPECT_NE(actual, plane);
        }
    }
    // Only the low 16 bits of each threshold are kept.
    InitDeinterlace(1 + 0x10000, 73 - 0x20000);
    Plane expected = plane;
    RoutineOf(CurrentDeinterlaceRoutine())(expected.data(), kWidth, kHeight / 2, kDefaultThresholds);
    Plane actual = plane;
    Deinterlace(kWidth, kHeight, actual.data(), nullptr, nullptr);
    EXPECT_EQ(actual, expected);
}

TEST_F(DeinterlaceFilter, ChromaPlanesAreNotTouched)
{
    constexpr int kWidth = 720, kHeight = 480;
    InitDeinterlace(1, 73);
    Plane picture(kWidth * kHeight * 3 / 2);
    // Every plane striped line by line.
    const size_t lumaSize = kWidth * kHeight;
    for (size_t i = 0; i < picture.size(); ++i)
        picture[i] = (i < lumaSize ? i / kWidth : (i - lumaSize) / (kWidth / 2)) % 2 ? 255 : 0;
    const Plane before = picture;
    uint8_t* y = picture.data();
    uint8_t* u = y + kWidth * kHeight;
    uint8_t* v = y + kWidth * kHeight * 5 / 4;
    Deinterlace(kWidth, kHeight, y, u, v);
    EXPECT_TRUE(std::equal(picture.begin() + kWidth * kHeight, picture.end(), before.begin() + kWidth * kHeight));
    EXPECT_NE(picture, before) << "the luma stripes should have been filtered";
}

TEST_F(DeinterlaceFilter, OddSizesStayInsideThePlane)
{
    // Exactly sized planes: a step past the last pixel shows under ASan, one
    // into the next line as a changed even line.
    InitDeinterlace(1, 73);
    for (bool forcePlain : {false, true}) {
        if (forcePlain)
            setenv("VYR_FORCE_PLAIN", "1", 1);
        InitDeinterlace(1, 73);
        for (int width : {1, 3, 4, 7, 9, 12, 15, 180, 703}) {
            for (int height : {0, 1, 2, 3, 5, 481}) {
                Plane plane = Stripes(width, height, 0, 255);
                Deinterlace(width, height, plane.empty() ? nullptr : plane.data(), nullptr, nullptr);
                for (int row = 0; row < height; ++row) {
                    const bool flattened = row % 2 == 1 && row <= 2 * (height / 2) - 3;
                    const uint8_t expected = row % 2 == 1 && !flattened ? 255 : 0;
                    ASSERT_EQ(At(plane, width, row, 0), expected) << width << "x" << height << " row " << row;
                    ASSERT_EQ(At(plane, width, row, width - 1), expected) << width << "x" << height << " row " << row;
                }
            }
        }
    }
}

TEST_F(DeinterlaceFilter, RefusesNullAndEmptyPlanes)
{
    InitDeinterlace(1, 73);
    Deinterlace(704, 480, nullptr, nullptr, nullptr);
    Plane plane = Stripes(8, 6, 0, 255);
    const Plane before = plane;
    Deinterlace(0, 6, plane.data(), nullptr, nullptr);
    Deinterlace(-8, 6, plane.data(), nullptr, nullptr);
    Deinterlace(8, -6, plane.data(), nullptr, nullptr);
    EXPECT_EQ(plane, before);
    Deinterlace(8, 6, plane.data(), nullptr, nullptr);
    EXPECT_NE(plane, before);
}

TEST(DeinterlaceFilterDeathTest, DoesNothingBeforeInit)
{
    // A fresh process, so that no other test has initialised the filter.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            Plane plane = Stripes(16, 8, 0, 255);
            const Plane before = plane;
            Deinterlace(16, 8, plane.data(), nullptr, nullptr);
            const bool untouched = plane == before && CurrentDeinterlaceRoutine() == DeinterlaceRoutineId::kNone;
            std::exit(untouched ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}
