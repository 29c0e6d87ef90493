#pragma once
// Movie files, key-frame index files and backup files: the bytes of each
// record, the names of recordings and their day directories. Shared by the
// control and the movie player; no Qt.
#include "control/ByteOrder.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>

namespace vyrmovie {

inline constexpr std::size_t kMovieFileHeaderSize = 32;
inline constexpr std::size_t kMovieFrameHeaderSize = 32;
inline constexpr std::size_t kIndexRecordSize = 12;

inline constexpr uint16_t kFrameMarker = 0xFFFF;
inline constexpr uint32_t kLengthMask = 0xFFFFF;
inline constexpr uint32_t kFrameTypeMask = 0x600000; // zero on a key frame
inline constexpr uint16_t kRecordingSlot = 1;

// The largest frame the link admits (131072 bytes) plus the 30-byte stream
// header in front of a channel's first frame. Every reader refuses longer
// records, and every frame buffer holds at least this many bytes.
inline constexpr uint32_t kMaxFramePayload = 131072 + 30;
// Zeroed bytes behind a frame in a buffer, for the decoder's read-ahead.
inline constexpr std::size_t kFramePadding = 1064;
inline constexpr std::size_t kFrameBufferSize = kMaxFramePayload + kFramePadding;

// An index is read up to this many records (12 MiB).
inline constexpr uint32_t kMaxIndexRecords = 1048576;

inline constexpr int kMaxPictureWidth = 720;
inline constexpr int kMaxPictureHeight = 576;
inline constexpr int kChannelCount = 64;
inline constexpr int kSplitMinutes = 20;

using Bytes32 = std::array<uint8_t, 32>;

// Little-endian helpers: every on-disk field goes through these.
using vyrdax::ReadLE16;
using vyrdax::ReadLE32;
using vyrdax::WriteLE16;
using vyrdax::WriteLE32;

// Bits 28..31 of a frame header. Readers put the interlaced form of the
// stream header in front of a stream when this nibble is 9 or more, so the
// writer keeps the stream's interlace there: an interlaced stream stores
// 12 + its low two event flags (12..15), a progressive one its low three
// event flags (0..7).
inline int EventNibble(uint32_t events, bool interlaced)
{
    return interlaced ? static_cast<int>(12u | (events & 3u)) : static_cast<int>(events & 7u);
}
inline bool NibbleMarksInterlace(int nibble) { return nibble >= 9; }
// The event flags a nibble still holds.
inline int EventsOfNibble(int nibble) { return NibbleMarksInterlace(nibble) ? nibble & 3 : nibble & 7; }

// The 32-byte header in front of every frame of a movie file.
struct MovieFrameHeader {
    uint16_t marker = kFrameMarker;
    uint8_t firstStreamByte = 0; // passed on, never interpreted
    uint8_t intervalCode = 0;
    uint32_t bits = 0;           // length 0..19, type 21..22, channel%16 24..27, events 28..31
    uint16_t width = 0;
    uint16_t height = 0;
    // The DVR's own clock: year - 1900 in a recording, year - 2000 in a backup.
    uint8_t year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    uint8_t reserved[2] = {0, 0};
    uint32_t microseconds = 0; // PC arrival time
    int32_t seconds = 0;       // PC arrival time, time_t
    uint16_t streamWord = 0;
    uint16_t slot = kRecordingSlot;

    static constexpr std::size_t kSize = kMovieFrameHeaderSize;

    uint32_t Length() const { return bits & kLengthMask; }
    bool IsKeyFrame() const { return (bits & kFrameTypeMask) == 0; }
    int FrameType() const { return static_cast<int>((bits >> 21) & 3); }
    int Channel() const { return static_cast<int>((bits >> 24) & 0xF); }
    // Bits 28..31: the event flags with the stream's interlace (see EventNibble).
    int Events() const { return static_cast<int>(bits >> 28); }
    bool Interlaced() const { return NibbleMarksInterlace(Events()); }
    static uint32_t MakeBits(uint32_t length, int frameType, int channel, int events);

    void Encode(uint8_t* out) const;
    static MovieFrameHeader Decode(const uint8_t* in);
    Bytes32 Encoded() const
    {
        Bytes32 b{};
        Encode(b.data());
        return b;
    }
};
static_assert(sizeof(MovieFrameHeader) == MovieFrameHeader::kSize, "frame header is 32 bytes");

// The year of a recording frame's DVR stamp. The byte is read unsigned, so
// frames from 2028 on show their own year.
inline int RecordingYear(uint8_t yearByte) { return 1900 + yearByte; }

// The 32-byte header at offset 0 of a movie file. In a recording only bytes
// 16..21 are set; a backup's header is its first frame header with the save
// time at 16..21 and a CRC-32 of bytes 0..23 at 28..31.
struct MovieFileHeader {
    Bytes32 bytes{};
    static constexpr std::size_t kSize = kMovieFileHeaderSize;

    static MovieFileHeader ForRecording(const MovieFrameHeader& firstFrame);
    static MovieFileHeader ForBackup(const MovieFrameHeader& firstFrame, const std::tm& savedLocal);

    uint32_t StoredChecksum() const { return ReadLE32(bytes.data() + 28); }
    uint32_t ComputeChecksum() const;
    void Seal() { WriteLE32(bytes.data() + 28, ComputeChecksum()); }
    bool IsAuthentic() const { return StoredChecksum() == ComputeChecksum(); }
};
static_assert(sizeof(MovieFileHeader) == MovieFileHeader::kSize, "movie file header is 32 bytes");

// One record of a key-frame index file.
struct IndexRecord {
    int32_t seconds = 0;
    uint32_t microseconds = 0;
    uint32_t offset = 0; // of the key frame's frame header
    static constexpr std::size_t kSize = kIndexRecordSize;

    void Encode(uint8_t* out) const;
    static IndexRecord Decode(const uint8_t* in);
};
static_assert(sizeof(IndexRecord) == IndexRecord::kSize, "index record is 12 bytes");

// CRC-32, reflected polynomial 0xEDB88320, no final inversion.
uint32_t Crc32(const uint8_t* data, std::size_t length, uint32_t crc = 0);

// ---- names --------------------------------------------------------------

// The 20-minute period a minute belongs to: 0, 20 or 40.
inline int SplitMark(int minute) { return minute / kSplitMinutes * kSplitMinutes; }

std::string DayDirectoryName(const std::tm& local);                        // "2009-03-07"
std::string DayDirectory(const std::string& recordDirectory, const std::tm& local);
// Days of a month of the Gregorian calendar; 0 for a month outside 1..12.
int DaysInMonth(int year, int month);
std::string RecordingFileName(const std::string& prefix, const std::tm& local, int channel);
std::string IndexPathFor(const std::string& moviePath); // path + "i"
std::string BackupFolder(const std::string& backupDirectory, const std::tm& local);
// Makes the folder of a backup started at `local`: that second's, or where
// another backup holds it already, the next free second's, carrying as a
// clock does, so that two backups of one second never share a folder and
// every folder keeps the name's format. The folder made, or empty with
// errno telling (no backup directory, no right to write, no free second in
// a day's worth).
std::string MakeBackupFolder(const std::string& backupDirectory, const std::tm& local);
std::string BackupMovieFile(const std::string& folder, int slot);
std::string BackupIndexFile(const std::string& folder, int slot);

// The last component of a path.
std::string BaseName(const std::string& path);

// What a recording's file name says: "X.NAME.YYYYMMDD.HHMMSS.CC.mp4".
struct RecordingName {
    char typeLetter = 0;
    std::string channelName;
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    int channel = 0;
};
// False for a name that does not follow the format or holds a field out of
// range (a day its month does not have, hour 0..23, minute and second 0..59,
// channel 0..63).
bool ParseRecordingName(const std::string& baseName, RecordingName* out);
// The name's date and time as a broken-down time (tm_isdst 0), for the
// caller to read in the clock it means.
std::tm BrokenDownTime(const RecordingName& name);

// The day directory a recording file belongs in: that of the date its name
// tells ("X.NAME.YYYYMMDD.HHMMSS.CC" with any extension), so that a name the
// host made in the last moment of a day never lands in the next day's
// directory however late the file is opened; that of `local` for a name
// that tells no date.
std::string RecordingDayDirectory(const std::string& recordDirectory, const std::string& fileName,
                                  const std::tm& local);

// "YYYY-MM-DD", strictly; false for anything else.
bool ParseDayDirectoryName(const std::string& name, int* year, int* month, int* day);

// The broken-down time one second after `t`, read as a clock's fields in no
// time zone: a second of the hour a daylight-saving night repeats or skips
// carries like any other. tm_year past 9999 means none.
std::tm NextClockSecond(const std::tm& t);

// The path of a recording file ("X.NAME.YYYYMMDD.HHMMSS.CC.mp4", or ".avi")
// named one second later, the second carrying into the minute, hour, day,
// month and year as a clock does. A file in the day directory of its date
// moves to the day directory of the new date, so that a name and its
// directory never tell different days. Empty for a name that holds no time.
std::string NextSecondRecordingPath(const std::string& path);

// Gives a new recording file a name no other file has: `claim` tries one
// path and returns false with errno EEXIST when the name is taken; the
// following seconds of a recording name are tried then (a day's worth at
// most), their day directory made where the name carries into a new day.
// The path claimed, or empty (a name without a time that is taken, or
// another fault, errno telling).
std::string ClaimFreeRecordingName(const std::string& path, const std::function<bool(const std::string&)>& claim);

} // namespace vyrmovie
