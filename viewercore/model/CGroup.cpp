#include "CGroup.h"

#include <algorithm>

CGroup::CGroup(ViewerVariant variant)
    : cameras(std::in_place)
{
    if (variant == ViewerVariant::Backup) {
        motionRecordingTime = sensorRecordingTime = forcedRecordingTime = 0;
        beep = autoConnecting = 1;
        motionRecord.fill(1);
        sensorRecord.fill(1);
        scheduleRecord.fill(1);
    }
}

CGroup::CGroup(const CGroup& source, bool noCameras)
    : name(source.name), splitMode(source.splitMode), recordingFileFormat(source.recordingFileFormat),
      motionRecordingTime(source.motionRecordingTime), sensorRecordingTime(source.sensorRecordingTime),
      forcedRecordingTime(source.forcedRecordingTime), diskSpaceToRemain(source.diskSpaceToRemain),
      beep(source.beep), autoConnecting(source.autoConnecting), motionRecord(source.motionRecord),
      sensorRecord(source.sensorRecord), scheduleRecord(source.scheduleRecord), schedule(source.schedule)
{
    if (noCameras)
        return;
    cameras.emplace();
    if (!source.cameras)
        return;
    // A deep copy: the cameras keep the name of the group they belong to.
    for (const auto& camera : *source.cameras) {
        if (!camera)
            continue;
        cameras->push_back(std::make_unique<CCamera>(*camera));
    }
}

std::unique_ptr<CGroup> CGroup::CopyFrom(const CGroup& source, bool noCameras)
{
    return std::make_unique<CGroup>(source, noCameras);
}

bool CGroup::IsValidSplitMode(int splitMode)
{
    static constexpr int kSplits[] = { 1, 4, 6, 9, 10, 16, 36, 64 };
    return std::find(std::begin(kSplits), std::end(kSplits), splitMode) != std::end(kSplits);
}

void CGroup::Serialize(platform::ArchiveWriter& ar, const ArchiveContext& context) const
{
    ar.WriteI16(beep);
    ar.WriteI16(autoConnecting);
    WriteArchiveString(ar, name);
    // Split mode and file format go twice; readers keep the second pair.
    for (int copy = 0; copy < 2; ++copy) {
        ar.WriteI16(splitMode);
        ar.WriteI16(recordingFileFormat);
    }
    ar.WriteI16(motionRecordingTime);
    ar.WriteI16(sensorRecordingTime);
    ar.WriteI16(forcedRecordingTime);
    ar.WriteI16(diskSpaceToRemain);
    for (int cell = 0; cell < kCellCount; ++cell) {
        ar.WriteI16(motionRecord[cell]);
        ar.WriteI16(sensorRecord[cell]);
        ar.WriteI16(scheduleRecord[cell]);
    }
    // Hour-major in the file, day-major in memory.
    for (int cell = 0; cell < kCellCount; ++cell)
        for (int hour = 0; hour < kHours; ++hour)
            for (int day = 0; day < kDayRows; ++day)
                ar.WriteI16(schedule[cell][day][hour]);
    WriteObjectList(ar, cameras ? &*cameras : nullptr, context);
}

void CGroup::Serialize(platform::ArchiveReader& ar, const ArchiveContext& context)
{
    beep = ar.ReadI16();
    autoConnecting = ar.ReadI16();
    name = ReadArchiveString(ar);
    for (int copy = 0; copy < 2; ++copy) {
        splitMode = ar.ReadI16();
        recordingFileFormat = ar.ReadI16();
    }
    // The view has a layout only for these.
    if (!IsValidSplitMode(splitMode))
        throw platform::ArchiveException(platform::ArchiveException::BadValue, "unknown split mode");
    motionRecordingTime = ar.ReadI16();
    sensorRecordingTime = ar.ReadI16();
    forcedRecordingTime = ar.ReadI16();
    diskSpaceToRemain = ar.ReadI16();
    for (int cell = 0; cell < kCellCount; ++cell) {
        motionRecord[cell] = ar.ReadI16();
        sensorRecord[cell] = ar.ReadI16();
        scheduleRecord[cell] = ar.ReadI16();
    }
    for (int cell = 0; cell < kCellCount; ++cell)
        for (int hour = 0; hour < kHours; ++hour)
            for (int day = 0; day < kDayRows; ++day)
                schedule[cell][day][hour] = ar.ReadI16();
    CameraList read;
    const bool hasList = ReadObjectList(ar, read, context);
    if (hasList)
        cameras = std::move(read);
    else
        cameras.reset();
}
