#pragma once
// The data and file side of the viewers' document (CVyrNVRDoc): the site
// model, the directories and the window placement, and the settings files
// that keep them between runs. The GUI document wraps one of these.
#include "CDVR.h"
#include "CGroup.h"
#include "ModelArchive.h"
#include "ViewerVariant.h"

#include <QString>
#include <QStringList>

#include <array>
#include <memory>

// Which file Serialize handles. The network viewer has device list, groups,
// hand-over and window placement; the backup viewer device list, its own
// settings, hand-over (read only) and window placement; the event viewer
// device list, its own settings and window placement.
enum class SettingsFile { DeviceList, Groups, HandOver, WindowPlacement, BackupSettings, EventSettings };

struct WindowRect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
};

// The event viewer's eleven words of "config_ev.vyr".
struct EventViewerSettings {
    uint16_t maximumPolling = 4; // selection index: 4 = five DVRs at a time
    uint16_t intervalNumber = 29; // selection index: 29 = 30
    uint16_t intervalUnit = 0; // 0 "min", 1 "hour"
    // Motion, Sensor, Record, Video Loss, DVR Power On, DVR Power Off, Menu
    // Change, Network Connect: 0 hidden, 1 shown, 2 shown with a beep.
    std::array<uint16_t, 8> eventWords{};
};

QString DefaultRecordingDirectory();
QString DefaultCaptureDirectory();
QString DefaultDatabaseDirectory();

class SettingsDocument {
public:
    static constexpr uint32_t kCaptionStyleBits = 0x00C00000;

    enum class LoadResult { Missing, Loaded, Damaged };

    struct SaveReport {
        QStringList failedFiles;
        // Set on the first failing save after a good one, so that the
        // operator is told once and not at every drop or connect.
        bool reportNow = false;
        QString message;
        bool ok() const { return failedFiles.isEmpty(); }
    };

    // `directory` holds the settings files; empty means the process's current
    // directory at the time of each load and save.
    explicit SettingsDocument(ViewerVariant variant = ViewerVariant::Network, const QString& directory = QString());

    ViewerVariant variant() const { return m_variant; }
    QString directory() const;
    static QString FileName(SettingsFile file);
    QString FilePath(SettingsFile file) const;

    // Loads this viewer's settings files in its order, applies the defaults
    // and sets the stamp back to the viewer's own.
    bool OnNewDocument();
    // Writes this viewer's settings files; each replaces the old file only
    // once it has been written whole.
    SaveReport SaveSettingsFiles();

    LoadResult LoadFile(SettingsFile file);
    bool SaveFile(SettingsFile file, QString* error = nullptr);

    // One operation for every file, switched by fileSelector: the stamp, then
    // the file's contents. Reading keeps what came before a damaged part and
    // returns false; it never throws.
    void Serialize(platform::ArchiveWriter& ar) const;
    bool Serialize(platform::ArchiveReader& ar);

    SettingsFile fileSelector = SettingsFile::DeviceList;
    // Written first in every file; a file read sets it to the file's stamp
    // (the camera records consult it) until the end of loading.
    uint32_t settingsStamp;

    bool windowPlacementLoaded = false;
    WindowRect windowRect;
    // The network viewer's frame style; the backup and event viewers keep
    // their window state (0 closed, 2 or 3 handed over) in the same place.
    uint32_t windowStyle = 0;

    ObjectList<CDVR> deviceList;
    ObjectList<CGroup> groupList; // network viewer
    // The network viewer's current group; the backup viewer's settings group.
    std::unique_ptr<CGroup> currentGroup;
    QString recordingDirectory;
    QString captureDirectory;

    // Event viewer.
    QString databaseDirectory;
    QString searchDatabaseDirectory;
    EventViewerSettings eventSettings;

private:
    ArchiveContext Context() const { return { m_variant, settingsStamp }; }
    void ReadContents(platform::ArchiveReader& ar);
    void WriteContents(platform::ArchiveWriter& ar) const;
    static void WriteGroupObject(platform::ArchiveWriter& ar, const CGroup* group, const ArchiveContext& context);
    std::unique_ptr<CGroup> ReadGroupObject(platform::ArchiveReader& ar) const;

    ViewerVariant m_variant;
    QString m_directory;
    bool m_saveFailureReported = false;
};
