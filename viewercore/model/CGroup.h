#pragma once
// A saved group: a screen layout of cells bound to DVR channels, with the
// local recording setup of that layout.
#include "CCamera.h"
#include "ModelArchive.h"

#include <QString>

#include <array>
#include <optional>

class CGroup {
public:
    static constexpr const char* kClassName = "CGroup";
    static constexpr uint16_t kSchema = 1;
    static constexpr int kCellCount = 64;
    static constexpr int kDayRows = 8; // row 0 every day, rows 1..7 Sunday..Saturday
    static constexpr int kHours = 24;

    using CameraList = ObjectList<CCamera>;
    using ScheduleGrid = std::array<std::array<std::array<int16_t, kHours>, kDayRows>, kCellCount>;

    // The defaults of the given viewer's new group, with an empty camera list.
    explicit CGroup(ViewerVariant variant = ViewerVariant::Network);
    // The copy of CopyFrom: flags, schedule, the eight settings and the name;
    // the cameras deep-copied, or no camera list at all when noCameras is set.
    CGroup(const CGroup& source, bool noCameras);
    static std::unique_ptr<CGroup> CopyFrom(const CGroup& source, bool noCameras);

    // Split modes the view lays out.
    static bool IsValidSplitMode(int splitMode);

    void Serialize(platform::ArchiveWriter& ar, const ArchiveContext& context) const;
    void Serialize(platform::ArchiveReader& ar, const ArchiveContext& context);

    QString name;
    int16_t splitMode = 16;
    int16_t recordingFileFormat = 0; // 0 movie file, else AVI
    int16_t motionRecordingTime = 2;
    int16_t sensorRecordingTime = 2;
    int16_t forcedRecordingTime = 2;
    int16_t diskSpaceToRemain = 0;
    int16_t beep = 0;
    int16_t autoConnecting = 0;
    std::array<int16_t, kCellCount> motionRecord{};
    std::array<int16_t, kCellCount> sensorRecord{};
    std::array<int16_t, kCellCount> scheduleRecord{};
    ScheduleGrid schedule{}; // [cell][day row][hour]
    std::optional<CameraList> cameras; // absent only in a copy made without cameras
};
