#include "RecordNames.h"

#include "viewercore/model/CGroup.h"

#include <algorithm>

namespace viewer {

namespace {

constexpr int kForcedSeconds[9] = {0, 600, 1200, 1800, 2400, 3000, 3600, 7200, 14400};
constexpr int kAlarmDurations[10] = {10, 20, 30, 40, 50, 1, 2, 3, 4, 5};

QChar TypeLetter(int type)
{
    switch (type) {
    case RecordMotion: return 'M';
    case RecordSensor: return 'S';
    case RecordSchedule: return 'R';
    default: return 'F';
    }
}

} // namespace

QString RemoveForbiddenNameCharacters(const QString& channelName)
{
    static const QString forbidden = QStringLiteral("\\|:/*?\"<>-_");
    QString name;
    name.reserve(channelName.size());
    for (QChar c : channelName)
        if (!forbidden.contains(c))
            name.append(c);
    return name;
}

int RecordDuration(int type, const CGroup& group)
{
    switch (type) {
    case RecordByHand: return kForcedSeconds[std::clamp<int>(group.forcedRecordingTime, 0, 8)];
    case RecordMotion: return kAlarmDurations[std::clamp<int>(group.motionRecordingTime, 0, 9)];
    case RecordSensor: return kAlarmDurations[std::clamp<int>(group.sensorRecordingTime, 0, 9)];
    default: return 0;
    }
}

int AlarmTimerMilliseconds(int duration)
{
    return duration >= 10 ? (duration + 2) * 1000 : duration * 60000 + 2;
}

RecordNames MakeRecordNames(int type, const QString& channelName, int cell, const QDateTime& now,
                            const QString& recordingDirectory, const QString& captureDirectory, bool avi)
{
    const QString name = RemoveForbiddenNameCharacters(channelName);
    const QDate d = now.date();
    const QTime t = now.time();
    const QString stamp = QString::asprintf("%04d%02d%02d.%02d%02d%02d.%02d", d.year(), d.month(), d.day(), t.hour(),
                                            t.minute(), t.second(), cell);
    const QChar letter = TypeLetter(type);
    RecordNames names;
    names.prefix = QString("%1.%2").arg(QString(letter), name);
    names.dayDirectory = recordingDirectory + QString::asprintf("/%04d-%02d-%02d", d.year(), d.month(), d.day());
    if (type == RecordSnapshot)
        names.fileName = QString("%1/F.%2.%3.jpg").arg(captureDirectory, name, stamp);
    else
        names.fileName = QString("%1.%2.%3.%4").arg(QString(letter), name, stamp, QString(avi ? "avi" : "mp4"));
    return names;
}

int ScheduleDayRow(const QDate& date)
{
    return date.dayOfWeek() % 7 + 1; // Qt counts Monday 1 .. Sunday 7
}

} // namespace viewer
