#pragma once
// RIFF/WAVE files of plain PCM, mono, 8-bit (unsigned) or 16-bit (signed).
#include <cstdint>
#include <string>
#include <vector>

struct PcmSound {
    uint32_t sampleRate = 8000;
    uint16_t bitsPerSample = 16; // 8 or 16
    std::vector<double> samples; // -1.0 .. 1.0
};

// The file's bytes: the 44-byte header and the samples.
std::vector<uint8_t> EncodeWave(const PcmSound& sound);
bool WriteWaveFile(const std::string& path, const PcmSound& sound);
