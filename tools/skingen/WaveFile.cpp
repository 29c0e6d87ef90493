#include "WaveFile.h"

#include <algorithm>
#include <cmath>
#include <fstream>

namespace {

void PutU16(std::vector<uint8_t>& out, uint16_t v)
{
    out.push_back(static_cast<uint8_t>(v & 0xFF));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void PutU32(std::vector<uint8_t>& out, uint32_t v)
{
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<uint8_t>((v >> shift) & 0xFF));
}

void PutTag(std::vector<uint8_t>& out, const char* tag)
{
    out.insert(out.end(), tag, tag + 4);
}

} // namespace

std::vector<uint8_t> EncodeWave(const PcmSound& sound)
{
    const uint16_t bytesPerSample = sound.bitsPerSample == 8 ? 1 : 2;
    const uint32_t dataBytes = static_cast<uint32_t>(sound.samples.size() * bytesPerSample);
    std::vector<uint8_t> out;
    out.reserve(44 + dataBytes + 1);
    PutTag(out, "RIFF");
    PutU32(out, 36 + dataBytes + (dataBytes & 1));
    PutTag(out, "WAVE");
    PutTag(out, "fmt ");
    PutU32(out, 16);
    PutU16(out, 1); // PCM
    PutU16(out, 1); // mono
    PutU32(out, sound.sampleRate);
    PutU32(out, sound.sampleRate * bytesPerSample);
    PutU16(out, bytesPerSample);
    PutU16(out, bytesPerSample * 8);
    PutTag(out, "data");
    PutU32(out, dataBytes);
    for (double s : sound.samples) {
        const double clipped = std::clamp(s, -1.0, 1.0);
        if (bytesPerSample == 1) {
            out.push_back(static_cast<uint8_t>(std::lround(128.0 + clipped * 127.0)));
        } else {
            const auto v = static_cast<int16_t>(std::lround(clipped * 32767.0));
            PutU16(out, static_cast<uint16_t>(v));
        }
    }
    // Chunks are padded to an even length.
    if (dataBytes & 1)
        out.push_back(bytesPerSample == 1 ? 128 : 0);
    return out;
}

bool WriteWaveFile(const std::string& path, const PcmSound& sound)
{
    const std::vector<uint8_t> bytes = EncodeWave(sound);
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (!file)
        return false;
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(file.flush());
}
