#pragma once
#include "WaveFile.h"

// Two-tone chime repeated three times, about 2.7 s: 8000 samples a second, 8 bits.
PcmSound MakeAlarmSound();
// A short bright double click like a camera shutter: 11025 samples a second.
PcmSound MakeCaptureSound();
