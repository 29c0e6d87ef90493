#pragma once
// Play state and play-back clock, one of each for every control in the
// process: remote play-back commands and local play-back set them, the
// display and local play-back threads pace by them.
#include "platform/WorkerThread.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>

namespace vyrdax::playback {

// The display and local play-back threads of every control in the process:
// each waits for a change of what follows and is woken by whoever makes it.
inline platform::WakeGroup waiters;
inline void WakeWaiters() { waiters.WakeAll(); }

// 0 stopped, 1 playing, 2 paused, 3 rewinding, 4 fast-forwarding (the values
// of PlayStateValue); 5 and 6 are step modes that no method here sets.
// Changed through SetState, which wakes the threads that wait on it.
inline std::atomic<int> state{0};
inline void SetState(int value)
{
    state = value;
    WakeWaiters();
}

// The reference of play-back pacing: the stream time of the frame shown at
// `baseWallMs`. baseSeconds 0 means no reference yet.
inline std::atomic<int64_t> baseSeconds{0};
inline std::atomic<int64_t> baseMicroseconds{0};
inline std::atomic<int64_t> baseWallMs{0};
inline std::atomic<int> baseChannel{-1};

// The next frame shown becomes the new reference.
inline void RestartClock()
{
    baseSeconds = 0;
    WakeWaiters();
}

// Local play-back: fast forward and rewind speed 1..3, the master channel
// whose frames set the pace, the master's current frame time and picture
// height, and one release flag per channel that ends a frame's wait.
inline std::atomic<int> speed{1};
inline std::atomic<int> masterChannel{0};
inline std::atomic<int64_t> masterFrameSeconds{0};
inline std::atomic<int> masterHeight{0};
inline std::array<std::atomic<int>, 64> releaseFlags{};

// Master selection and the reference change together under this lock.
inline std::recursive_mutex globalLock;

} // namespace vyrdax::playback
