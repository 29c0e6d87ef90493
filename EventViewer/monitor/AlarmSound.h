#pragma once
// The monitor's alarm sound, played on a thread of its own: reading the wave
// file and opening the sound device can take long, and the window must go on
// answering meanwhile. Requests that arrive while one is being started fold
// into one; a later sound replaces one still playing.
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

class AlarmSound {
public:
    AlarmSound() = default;
    ~AlarmSound();
    AlarmSound(const AlarmSound&) = delete;
    AlarmSound& operator=(const AlarmSound&) = delete;

    // Returns at once; the wave file `path` is played soon after.
    void Play(const std::string& path);
    // Sounds handed to the sound device so far.
    int Played() const { return played_.load(); }

private:
    void Run();

    std::mutex lock_;
    std::condition_variable wake_;
    std::string pendingPath_; // empty: nothing to play
    bool stopping_ = false;
    std::atomic<int> played_{0};
    std::thread thread_; // started with the first sound
};
