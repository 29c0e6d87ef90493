#pragma once
// The backup viewer's own texts, used exactly as they stand.

namespace backupviewer {

inline constexpr const char* kDropDvrFirst = "Please drag & drop DVR to the video window first.";
inline constexpr const char* kConnectFirst = "Please connect to the server first.";
inline constexpr const char* kNotAvailable = "Not Available";
inline constexpr const char* kCaptureCompleted = "Capture Completed";
inline constexpr const char* kCaptureFailed = "Capture Failed!";
inline constexpr const char* kDiskSpaceLow = "Disk space is not enough.";
inline constexpr const char* kDateOutOfRange = "The date is out of range.";

inline constexpr const char* kSelectDate = "Select date on the calendar";
inline constexpr const char* kNoRecordedData = "The date selected has no recorded data";

inline constexpr const char* kEndBeforeStart = "End time should be later than start time.";
inline constexpr const char* kBackupCompleted = "Backup completed.";
inline constexpr const char* kBackupFailed = "Backup failed.";
inline constexpr const char* kBackupInProcess = "Backup in process...";
inline constexpr const char* kNoRecordedFile = "No recorded file available.";
inline constexpr const char* kNotEnoughSpace = "Not enough memory. Check your memory space.";

} // namespace backupviewer
