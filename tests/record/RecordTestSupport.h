// Helpers of the recording tests: temporary directories, a settable clock,
// real MPEG-4 frames, and an independent reader of movie files written
// straight from the byte layout (it shares no code with the control's).
#pragma once

#include "control/link/FrameInfo.h"
#include "control/record/CRecordCatalog.h"
#include "control/record/RecordingWriter.h"

#include <atomic>
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

namespace recordtest {

// A fresh directory under /tmp, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// Sets TZ for the life of the object.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* zone);
    ~ScopedTimeZone();

private:
    std::string previous_;
    bool had_ = false;
};

// The writer's clock, moved by the test.
struct FakeClock {
    std::atomic<std::time_t> seconds{0};
    std::atomic<int> milliseconds{0};
    vyrdax::RecordClock clock()
    {
        return [this] { return vyrdax::RecordClockTime{seconds.load(), milliseconds.load()}; };
    }
    void advanceMs(int ms)
    {
        int m = milliseconds.load() + ms;
        seconds += m / 1000;
        milliseconds = m % 1000;
    }
};

// Runs a shell command; its output with errors, and its exit status.
std::string RunCommand(const std::string& command, int* status);

// A broken-down time of these fields, in no time zone (tm_isdst 0).
std::tm ClockFields(int year, int month, int day, int hour, int minute, int second);
std::time_t LocalTime(int year, int month, int day, int hour, int minute, int second);

struct Frame {
    std::vector<uint8_t> bytes;
    bool key = false;
};
// A channel's frames as the receive thread hands them on: frame 0 carries
// the 30-byte stream header in front. Cached per size.
const std::vector<Frame>& EncodedFrames(int width = 352, int height = 240, int count = 30, int gop = 10);

vyrdax::FrameInfo MakeInfo(const Frame& frame, int dvrChannel, int width, int height, uint32_t streamWord);

// What the independent reader finds in a movie file and its index.
struct ParsedFrame {
    uint64_t offset;
    uint32_t length;
    bool key;
    uint8_t header[32];
    std::vector<uint8_t> payload;
};
struct ParsedMovie {
    bool ok = false;            // every record complete, first at 32 and a key frame
    std::string problem;
    uint8_t fileHeader[32] = {};
    std::vector<ParsedFrame> frames;
    std::vector<uint32_t> indexOffsets;
    std::vector<int32_t> indexSeconds;
    bool indexOk = false;       // every record points at a key frame's header, ascending
};
ParsedMovie ParseMovie(const std::string& moviePath);

std::vector<std::string> ListFiles(const std::string& directory); // sorted, names only

// The host's month search pattern, "*.YYYYMM*.*.mp4".
std::string MonthPattern(int year, int month);
// The days 1..31 a month search marked, in order. Inline: the player's
// tests share this file and do not link the catalogue.
inline std::vector<int> MarkedDays(const vyrdax::CRecordCatalog& catalog)
{
    std::vector<int> days;
    for (int d = 1; d <= 31; ++d)
        if (catalog.MonthEntry(d))
            days.push_back(d);
    return days;
}
uint32_t LE32(const uint8_t* p);

// Runs a shell command; its output with stderr, and its exit status.
std::string RunCommand(const std::string& command, int* status);

// A full disk for real: runs `work` in a child process with a tmpfs of
// `bytes` bytes mounted (in a mount namespace of the child's own) at an
// empty directory it is given, then copies what the work left there into
// `keep`. The child's exit status: `work`'s result, or kNoSmallDisk when no
// such file system can be made on this machine.
constexpr int kNoSmallDisk = 77;
int RunOnSmallDisk(std::size_t bytes, const std::string& keep, const std::function<int(const std::string&)>& work);

} // namespace recordtest
