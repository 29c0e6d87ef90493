// Recordings on disk for the playback and backup tests: written by the
// control's recording writer under a fake clock, with real MPEG-4 frames.
#pragma once

#include "RecordTestSupport.h"

#include <QImage>

#include <ctime>
#include <string>
#include <vector>

namespace vyrdax {
class CVyrdaxCtrl;
}

namespace playbacktest {

struct Segment {
    int channel;
    std::string prefix; // "F.Cam0"
    std::time_t start;
    int seconds;
};

// Records each segment at `fps` frames a second of 352x240 video (a key
// frame every 10 frames), then gives every movie and index file the
// last-write time of its last frame, as a live recording would leave it.
void WriteRecordings(const std::string& directory, const std::vector<Segment>& segments, int fps = 10);

// Five channels over the last day of 2026 and the first of 2027, in the
// current time zone:
//   ch0 F.Cam0  12-31 10:00:00 +20 s, 10:00:30 +20 s, 10:40:00 +20 s,
//               23:50:00 +20 s, 01-01 00:10:00 +20 s
//   ch1 M.Cam1  12-31 10:00:05 +20 s
//   ch2 S.Cam2  12-31 10:20:00 +10 s (twenty minutes after ch0)
//   ch3 R.Cam3  12-31 10:00:02 +10 s
//   ch4 F.Cam4  12-31 10:00:04 +6 s (four seconds after ch0)
std::vector<Segment> YearEndSegments();

// Connects a control to `channels` channels of the simulator on `port`,
// records them all into `directory` for `seconds` ("F.CamN" files) and
// returns the time recording began.
// The day search's pattern for the day of `t`, and the half-hour slot of `t`.
std::string DayPattern(std::time_t t);
int SlotOf(std::time_t t);

// The backup viewer's calls for local playback of the recordings under
// `directory` from `start`: playback mode, the day search, the start.
void StartPlaybackOfDay(vyrdax::CVyrdaxCtrl* ctrl, const std::string& directory, std::time_t start);

// A backup folder's movie file of `slot` with its index, read by the
// independent parser.
recordtest::ParsedMovie ParseBackup(const std::string& folder, int slot);

// Whether a pane's picture is black (no pixel brighter than grey 30).
bool Black(const QImage& image);

std::time_t RecordFromSimulator(const std::string& directory, int port, int channels, int seconds);

// Overwrites the payload of key frame `keyFrame` (0 the first) of a movie
// file with bytes no decoder takes for a picture; headers and index stay.
void DamageKeyFrame(const std::string& moviePath, int keyFrame);

} // namespace playbacktest
