// The default sound devices on PortAudio. Buffers are moved between the
// stream callback and a delivery thread, which gives the done notices, so
// that no owner code runs on the real-time callback.
#include "Audio.h"

#include <portaudio.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

namespace platform {

namespace {

// Opening and closing streams is not safe from several threads at once, and
// capture, playback and alarm sounds open devices on threads of their own.
// At namespace scope, so that it outlives every device closed at exit.
std::mutex g_portAudioLock;

// PortAudio is set up on first use, once per process, and never torn down:
// each set-up scans every host API, which takes time and makes ALSA and JACK
// print their findings. Callers hold g_portAudioLock.
PaError PortAudioReady()
{
    static bool tried = false;
    static PaError result = paNoError;
    if (!tried) {
        tried = true;
        result = Pa_Initialize();
    }
    return result;
}

class PortAudioDevice : public AudioDevice {
public:
    ~PortAudioDevice() override { Close(); }

    int Open(AudioDirection direction, const AudioFormat& format, AudioDone done) override
    {
        if (stream_)
            return -paDeviceUnavailable;
        std::lock_guard<std::mutex> global(g_portAudioLock);
        const PaError init = PortAudioReady();
        if (init != paNoError)
            return -init;
        direction_ = direction;
        frameBytes_ = static_cast<std::size_t>(format.BlockAlign());
        done_ = std::move(done);
        const PaSampleFormat sampleFormat = format.bitsPerSample == 8 ? paUInt8 : paInt16;
        const bool input = direction == AudioDirection::Input;
        PaError error = Pa_OpenDefaultStream(&stream_, input ? format.channels : 0, input ? 0 : format.channels,
                                             sampleFormat, format.samplesPerSecond, paFramesPerBufferUnspecified,
                                             &PortAudioDevice::Callback, this);
        if (error != paNoError) {
            stream_ = nullptr;
            return -error;
        }
        stopDelivery_ = false;
        delivery_ = std::thread([this] { DeliveryLoop(); });
        return 0;
    }

    int Queue(AudioBuffer* buffer) override
    {
        if (!stream_ || !buffer)
            return -paBadStreamPtr;
        {
            std::lock_guard<std::mutex> lock(lock_);
            buffer->recorded = 0;
            queued_.push_back(buffer);
        }
        // Output starts with its first buffer, as a wave device does.
        if (direction_ == AudioDirection::Output && Pa_IsStreamStopped(stream_) == 1) {
            const PaError error = Pa_StartStream(stream_);
            if (error != paNoError) {
                // Refused buffers stay with their owner, who may free them.
                std::lock_guard<std::mutex> lock(lock_);
                queued_.pop_back();
                return -error;
            }
        }
        return 0;
    }

    int Start() override
    {
        if (!stream_)
            return -paBadStreamPtr;
        if (Pa_IsStreamStopped(stream_) != 1)
            return 0;
        const PaError error = Pa_StartStream(stream_);
        return error == paNoError ? 0 : -error;
    }

    int Reset() override
    {
        if (!stream_)
            return -paBadStreamPtr;
        PaError error = paNoError;
        if (Pa_IsStreamStopped(stream_) == 0)
            error = Pa_AbortStream(stream_);
        {
            std::lock_guard<std::mutex> lock(lock_);
            offset_ = 0;
            while (!queued_.empty()) {
                finished_.push_back(queued_.front());
                queued_.pop_front();
            }
        }
        wake_.notify_all();
        WaitDelivered();
        return error == paNoError ? 0 : -error;
    }

    int Close() override
    {
        if (!stream_)
            return 0;
        const int reset = Reset();
        std::unique_lock<std::mutex> global(g_portAudioLock);
        const PaError error = Pa_CloseStream(stream_);
        stream_ = nullptr;
        {
            std::lock_guard<std::mutex> lock(lock_);
            stopDelivery_ = true;
        }
        wake_.notify_all();
        if (delivery_.joinable())
            delivery_.join();
        global.unlock();
        return error != paNoError ? -error : reset;
    }

    std::string ErrorText(int error) const override { return Pa_GetErrorText(static_cast<PaError>(-error)); }

private:
    static int Callback(const void* input, void* output, unsigned long frames, const PaStreamCallbackTimeInfo*,
                        PaStreamCallbackFlags, void* self)
    {
        static_cast<PortAudioDevice*>(self)->Transfer(static_cast<const uint8_t*>(input),
                                                      static_cast<uint8_t*>(output), frames);
        return paContinue;
    }

    void Transfer(const uint8_t* input, uint8_t* output, unsigned long frames)
    {
        std::size_t bytes = frames * frameBytes_;
        bool finishedAny = false;
        {
            std::lock_guard<std::mutex> lock(lock_);
            while (bytes > 0 && !queued_.empty()) {
                AudioBuffer* buffer = queued_.front();
                const std::size_t n = std::min(bytes, buffer->length - offset_);
                if (output) {
                    std::memcpy(output, buffer->data + offset_, n);
                    output += n;
                } else {
                    std::memcpy(buffer->data + offset_, input, n);
                    input += n;
                    buffer->recorded = offset_ + n;
                }
                offset_ += n;
                bytes -= n;
                if (offset_ >= buffer->length) {
                    finished_.push_back(buffer);
                    queued_.pop_front();
                    offset_ = 0;
                    finishedAny = true;
                }
            }
        }
        if (output && bytes > 0)
            std::memset(output, silenceByte_(), bytes);
        if (finishedAny)
            wake_.notify_all();
    }

    uint8_t silenceByte_() const { return frameBytes_ == 1 ? 0x80 : 0; }

    void DeliveryLoop()
    {
        std::unique_lock<std::mutex> lock(lock_);
        for (;;) {
            wake_.wait(lock, [this] { return stopDelivery_ || !finished_.empty(); });
            if (finished_.empty() && stopDelivery_)
                return;
            AudioBuffer* buffer = finished_.front();
            finished_.pop_front();
            ++delivering_;
            lock.unlock();
            if (done_)
                done_(buffer);
            lock.lock();
            --delivering_;
            delivered_.notify_all();
        }
    }

    void WaitDelivered()
    {
        std::unique_lock<std::mutex> lock(lock_);
        delivered_.wait(lock, [this] { return finished_.empty() && delivering_ == 0; });
    }

    PaStream* stream_ = nullptr;
    AudioDirection direction_ = AudioDirection::Output;
    std::size_t frameBytes_ = 2;
    AudioDone done_;
    std::mutex lock_;
    std::condition_variable wake_, delivered_;
    std::deque<AudioBuffer*> queued_;   // in device order; the front is in use
    std::deque<AudioBuffer*> finished_; // waiting for their done notice
    std::size_t offset_ = 0;            // into the front buffer
    int delivering_ = 0;
    bool stopDelivery_ = false;
    std::thread delivery_;
};

std::mutex g_factoryLock;
AudioDeviceFactory g_factory;

} // namespace

std::unique_ptr<AudioDevice> CreateAudioDevice()
{
    {
        std::lock_guard<std::mutex> lock(g_factoryLock);
        if (g_factory)
            return g_factory();
    }
    return std::make_unique<PortAudioDevice>();
}

AudioDeviceFactory SetAudioDeviceFactory(AudioDeviceFactory factory)
{
    std::lock_guard<std::mutex> lock(g_factoryLock);
    AudioDeviceFactory previous = std::move(g_factory);
    g_factory = std::move(factory);
    return previous;
}

} // namespace platform
