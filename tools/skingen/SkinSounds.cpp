#include "SkinSounds.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kPi = 3.14159265358979323846;

// A bell-like note: a fundamental with a soft octave, quick attack and
// exponential decay, so it never clicks at either end.
void AddNote(PcmSound& sound, double startSeconds, double seconds, double frequency, double level)
{
    const auto rate = static_cast<double>(sound.sampleRate);
    const auto first = static_cast<size_t>(startSeconds * rate);
    const auto count = static_cast<size_t>(seconds * rate);
    if (sound.samples.size() < first + count)
        sound.samples.resize(first + count, 0.0);
    for (size_t i = 0; i < count; ++i) {
        const double t = static_cast<double>(i) / rate;
        const double attack = std::min(1.0, t / 0.01);
        const double release = std::min(1.0, static_cast<double>(count - i) / (0.02 * rate));
        const double envelope = attack * release * std::exp(-3.5 * t / seconds);
        const double wave = std::sin(2 * kPi * frequency * t) + 0.3 * std::sin(4 * kPi * frequency * t);
        sound.samples[first + i] += level * envelope * wave / 1.3;
    }
}

} // namespace

PcmSound MakeAlarmSound()
{
    PcmSound sound;
    sound.sampleRate = 8000;
    sound.bitsPerSample = 8;
    for (int round = 0; round < 3; ++round) {
        const double start = round * 0.9;
        AddNote(sound, start, 0.4, 880.0, 0.7);        // A5
        AddNote(sound, start + 0.42, 0.45, 659.25, 0.7); // E5
    }
    return sound;
}

PcmSound MakeCaptureSound()
{
    PcmSound sound;
    sound.sampleRate = 11025;
    sound.bitsPerSample = 16;
    AddNote(sound, 0.0, 0.08, 1760.0, 0.6);
    AddNote(sound, 0.09, 0.16, 2637.0, 0.5);
    return sound;
}
