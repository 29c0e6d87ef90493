#pragma once
// Where the skin and the sounds live, relative to the program's directory.
// The bitmaps are named by the views that load them; the two sounds stand in
// for the programs' WAVE resources 183 (alarm) and 184 (capture).

inline constexpr const char* kSkinDirectory = "image";
inline constexpr const char* kAlarmSoundFile = "sound/alarm.wav";     // WAVE 183
inline constexpr const char* kCaptureSoundFile = "sound/capture.wav"; // WAVE 184
