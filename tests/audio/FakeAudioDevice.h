#pragma once
// A sound device for tests: it keeps what is queued and plays or fills a
// buffer only when the test says so, so nothing depends on timing.
#include "platform/Audio.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vyrtest {

// Waits for the sound threads to bring `condition` about; false after 10 s.
template <typename Condition>
bool Eventually(Condition condition)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

struct FakeAudioState {
    std::mutex lock;
    int opens = 0;
    int closes = 0;
    int openError = 0;  // nonzero: Open fails with it
    int queueError = 0; // nonzero: Queue refuses every buffer with it
    // While set, Open waits until the test clears it (and notifies `gate`).
    bool holdOpens = false;
    int openAttempts = 0; // Open calls, counted before they wait
    std::condition_variable gate;
    bool open = false;
    platform::AudioDirection direction = platform::AudioDirection::Output;
    platform::AudioFormat format;
    std::deque<platform::AudioBuffer*> queued;
    std::vector<std::size_t> playedLengths;
    std::vector<uint8_t> played;
    platform::AudioDone done;
};

class FakeAudioDevice : public platform::AudioDevice {
public:
    explicit FakeAudioDevice(std::shared_ptr<FakeAudioState> state) : state_(std::move(state)) {}
    ~FakeAudioDevice() override { Close(); }

    int Open(platform::AudioDirection direction, const platform::AudioFormat& format,
             platform::AudioDone done) override
    {
        std::unique_lock<std::mutex> lock(state_->lock);
        ++state_->openAttempts;
        state_->gate.wait(lock, [this] { return !state_->holdOpens; });
        ++state_->opens;
        if (state_->openError != 0)
            return state_->openError;
        state_->open = true;
        state_->direction = direction;
        state_->format = format;
        state_->done = std::move(done);
        opened_ = true;
        return 0;
    }
    int Queue(platform::AudioBuffer* buffer) override
    {
        std::lock_guard<std::mutex> lock(state_->lock);
        if (state_->queueError != 0)
            return state_->queueError;
        state_->queued.push_back(buffer);
        return 0;
    }
    int Start() override { return 0; }
    int Reset() override
    {
        std::deque<platform::AudioBuffer*> back;
        platform::AudioDone done;
        {
            std::lock_guard<std::mutex> lock(state_->lock);
            back.swap(state_->queued);
            done = state_->done;
        }
        for (platform::AudioBuffer* b : back)
            done(b);
        return 0;
    }
    int Close() override
    {
        if (!opened_)
            return 0;
        Reset();
        std::lock_guard<std::mutex> lock(state_->lock);
        opened_ = false;
        state_->open = false;
        ++state_->closes;
        return 0;
    }
    std::string ErrorText(int error) const override { return "fake error " + std::to_string(error); }

private:
    std::shared_ptr<FakeAudioState> state_;
    bool opened_ = false;
};

// Installs the fake for the life of the object.
class FakeAudio {
public:
    FakeAudio() : state(std::make_shared<FakeAudioState>())
    {
        auto s = state;
        previous_ = platform::SetAudioDeviceFactory([s] { return std::make_unique<FakeAudioDevice>(s); });
    }
    ~FakeAudio() { platform::SetAudioDeviceFactory(previous_); }

    // Plays (output) or fills with `fill` (input) the oldest queued buffer
    // and hands it back; false when none is queued.
    bool CompleteOldest(const std::vector<uint8_t>& fill = {})
    {
        platform::AudioBuffer* buffer;
        platform::AudioDone done;
        {
            std::lock_guard<std::mutex> lock(state->lock);
            if (state->queued.empty())
                return false;
            buffer = state->queued.front();
            state->queued.pop_front();
            done = state->done;
            if (state->direction == platform::AudioDirection::Output) {
                state->played.insert(state->played.end(), buffer->data, buffer->data + buffer->length);
                state->playedLengths.push_back(buffer->length);
            } else {
                for (std::size_t i = 0; i < buffer->length; ++i)
                    buffer->data[i] = fill.empty() ? 0 : fill[i % fill.size()];
                buffer->recorded = buffer->length;
            }
        }
        done(buffer);
        return true;
    }
    void ReleaseOpens()
    {
        {
            std::lock_guard<std::mutex> lock(state->lock);
            state->holdOpens = false;
        }
        state->gate.notify_all();
    }
    int OpenAttempts()
    {
        std::lock_guard<std::mutex> lock(state->lock);
        return state->openAttempts;
    }
    int Opens()
    {
        std::lock_guard<std::mutex> lock(state->lock);
        return state->opens;
    }
    int Closes()
    {
        std::lock_guard<std::mutex> lock(state->lock);
        return state->closes;
    }
    std::size_t Queued()
    {
        std::lock_guard<std::mutex> lock(state->lock);
        return state->queued.size();
    }
    std::vector<std::size_t> QueuedLengths()
    {
        std::lock_guard<std::mutex> lock(state->lock);
        std::vector<std::size_t> lengths;
        for (auto* b : state->queued)
            lengths.push_back(b->length);
        return lengths;
    }

    std::shared_ptr<FakeAudioState> state;

private:
    platform::AudioDeviceFactory previous_;
};

} // namespace vyrtest
