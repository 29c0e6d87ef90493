// Synthetic backup folders for the player's tests, written straight from the
// byte layout of movie, frame-header and index records (no code of the
// player or the control writes them).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace playertest {

struct ChannelFiles {
    int slot = 0;               // the channel number in the file name and frame headers
    int32_t startSeconds = 1000000;
    int frames = 30;
    int fps = 10;
    int width = 352;
    int height = 240;
    bool badChecksum = false;
    int gop = 10;
    // Frames from this one on are recorded `gapSeconds` later: a span
    // without recording (none when negative).
    int gapFromFrame = -1;
    int32_t gapSeconds = 0;
};

// The least time a paced play of `recordedSeconds` at `fps` frames a second
// takes, with a margin load cannot eat: each anchor of the clock after the
// first shows the base's frame in hand at once, a frame interval early.
double PacedPlayLowerBound(double recordedSeconds, uint64_t anchors, int fps);
// The black pictures a channel of an undamaged paced play may show: two,
// and one more for each anchor after the first, since each reset of the
// clock cuts every channel's wait short and a channel then holding a frame
// more than two seconds from the base's shows it black.
uint64_t PacedPlayBlanksAllowed(uint64_t anchors);

// The reflected CRC-32 with start value 0 and no final inversion.
uint32_t ReferenceCrc32(const uint8_t* data, std::size_t length);

// Writes "CH0<slot>_00.mp4" and "CH0<slot>_00.m4i" into `folder` with real
// MPEG-4 frames, frame times stepping by 1/fps from startSeconds. Returns
// the payload of every frame, in order.
std::vector<std::vector<uint8_t>> WriteChannel(const std::string& folder, const ChannelFiles& files);

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);
// Little-endian fields of a file's bytes.
void Put16(std::vector<uint8_t>& bytes, std::size_t at, uint32_t value);
void Put32(std::vector<uint8_t>& bytes, std::size_t at, uint32_t value);
uint32_t Get32(const std::vector<uint8_t>& bytes, std::size_t at);
// The offsets of the frame headers of a movie file's bytes, by their lengths.
std::vector<std::size_t> FrameOffsets(const std::vector<uint8_t>& movie);
std::vector<uint8_t> ReadBytes(const std::string& path);
// Makes frame `frame` of a movie file claim a length no recorder writes, so
// that the reader refuses it.
void RefuseFrame(const std::string& moviePath, int frame);
// Cuts the last `bytes` off a movie file, inside its last frame.
void CutMovieEnd(const std::string& moviePath, std::size_t bytes);
// Gives the file a last-write time `secondsAfterBirth` seconds after now.
void ShiftModificationTime(const std::string& path, int secondsAfterBirth);
// True when the file system of `path` keeps birth times.
bool KeepsBirthTime(const std::string& path);

} // namespace playertest
