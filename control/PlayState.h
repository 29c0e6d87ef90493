#pragma once
// Play state and play-back clock, one of each for every control in the
// process: remote play-back commands and local play-back set them, the
// display threads pace by them.
#include <atomic>
#include <cstdint>

namespace vyrdax::playback {

// 0 stopped, 1 playing, 2 paused, 3 rewinding, 4 fast-forwarding.
inline std::atomic<int> state{0};

// The reference of remote play-back pacing: the stream time of the frame
// shown at `baseWallMs`. baseSeconds 0 means no reference yet.
inline std::atomic<int64_t> baseSeconds{0};
inline std::atomic<int64_t> baseMicroseconds{0};
inline std::atomic<int64_t> baseWallMs{0};
inline std::atomic<int> baseChannel{-1};

// The next frame shown becomes the new reference.
inline void RestartClock() { baseSeconds = 0; }

} // namespace vyrdax::playback
