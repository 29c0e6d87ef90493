#pragma once
// Names and durations of the network viewer's recordings on the PC: which
// letter a record type writes, how long an alarm or a recording by hand
// lasts, and the file names the cells record into.
#include <QDateTime>
#include <QString>

class CGroup;

namespace viewer {

// Why a cell records; the snapshot is a type of its own.
enum RecordType { RecordByHand = 1, RecordMotion = 2, RecordSensor = 3, RecordSchedule = 4, RecordSnapshot = 5 };

// The channel name as it may stand in a file name: without \ | : / * ? " < >
// and without the hyphen and underscore that separate the name's fields.
QString RemoveForbiddenNameCharacters(const QString& channelName);

// Seconds a recording of `type` lasts by the group's settings; 0 is no limit.
// Alarm settings 0..4 are 10..50 seconds, 5..9 are 1..5 minutes (returned as
// the minute count below 10, as the alarm timers read them).
int RecordDuration(int type, const CGroup& group);
// Period of the alarm timers for an alarm duration: seconds (10 and more)
// get two seconds' grace, a minute count (below 10) two milliseconds.
int AlarmTimerMilliseconds(int duration);
// Period of the by-hand timer for a limited recording.
inline int ForcedTimerMilliseconds(int duration) { return (duration + 2) * 1000; }

struct RecordNames {
    QString fileName;     // within the day directory; the full path for snapshots
    QString dayDirectory; // "<recording directory>/YYYY-MM-DD"
    QString prefix;       // "F.<name>" and the like
};

// The names of a recording (types 1..4) or the snapshot path (type 5) of
// channel `channelName` shown in `cell`, at local time `now`.
RecordNames MakeRecordNames(int type, const QString& channelName, int cell, const QDateTime& now,
                            const QString& recordingDirectory, const QString& captureDirectory, bool avi);

// Day row of the schedule grid for a local date: Sunday 1 .. Saturday 7.
int ScheduleDayRow(const QDate& date);

} // namespace viewer
