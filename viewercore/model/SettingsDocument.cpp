#include "SettingsDocument.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>

namespace {

// Far above any real settings file (a group is about 25 KB); a larger file is
// not read into memory.
constexpr qint64 kMaxSettingsFileSize = 256 * 1024 * 1024;

} // namespace

QString DefaultRecordingDirectory()
{
    return QDir::homePath() + QStringLiteral("/OXA/Recording");
}

QString DefaultCaptureDirectory()
{
    return QDir::homePath() + QStringLiteral("/OXA/Capture");
}

QString DefaultDatabaseDirectory()
{
    return QDir::homePath() + QStringLiteral("/OXA/DB");
}

SettingsDocument::SettingsDocument(ViewerVariant variant, const QString& directory)
    : settingsStamp(SettingsStampOf(variant)), m_variant(variant), m_directory(directory)
{
}

QString SettingsDocument::directory() const
{
    return m_directory.isEmpty() ? QDir::currentPath() : m_directory;
}

QString SettingsDocument::FileName(SettingsFile file)
{
    switch (file) {
    case SettingsFile::DeviceList: return QStringLiteral("device.vyr");
    case SettingsFile::Groups: return QStringLiteral("config_nv.vyr");
    case SettingsFile::HandOver: return QStringLiteral("config_nv2bv.vyr");
    case SettingsFile::WindowPlacement: return QStringLiteral("config_win.vyr");
    case SettingsFile::BackupSettings: return QStringLiteral("config_bv.vyr");
    case SettingsFile::EventSettings: return QStringLiteral("config_ev.vyr");
    }
    return {};
}

QString SettingsDocument::FilePath(SettingsFile file) const
{
    return QDir(directory()).filePath(FileName(file));
}

bool SettingsDocument::OnNewDocument()
{
    LoadFile(SettingsFile::DeviceList);
    switch (m_variant) {
    case ViewerVariant::Network:
        LoadFile(SettingsFile::Groups);
        break;
    case ViewerVariant::Backup:
        // The hand-over comes later, so the network viewer's values win.
        LoadFile(SettingsFile::BackupSettings);
        LoadFile(SettingsFile::HandOver);
        break;
    case ViewerVariant::Event:
        // Set before reading, so that a file holding an empty directory keeps
        // it while a missing or cut-short file leaves the defaults.
        if (databaseDirectory.isEmpty())
            databaseDirectory = DefaultDatabaseDirectory();
        if (searchDatabaseDirectory.isEmpty())
            searchDatabaseDirectory = databaseDirectory;
        LoadFile(SettingsFile::EventSettings);
        break;
    }
    if (m_variant != ViewerVariant::Event) {
        if (recordingDirectory.isEmpty())
            recordingDirectory = DefaultRecordingDirectory();
        if (captureDirectory.isEmpty())
            captureDirectory = DefaultCaptureDirectory();
    }
    windowPlacementLoaded = false;
    LoadFile(SettingsFile::WindowPlacement);
    settingsStamp = SettingsStampOf(m_variant);
    return true;
}

SettingsDocument::SaveReport SettingsDocument::SaveSettingsFiles()
{
    std::vector<SettingsFile> files{ SettingsFile::DeviceList };
    switch (m_variant) {
    case ViewerVariant::Network:
        files.insert(files.end(), { SettingsFile::Groups, SettingsFile::HandOver });
        break;
    case ViewerVariant::Backup:
        files.push_back(SettingsFile::BackupSettings);
        break;
    case ViewerVariant::Event:
        files.push_back(SettingsFile::EventSettings);
        break;
    }
    files.push_back(SettingsFile::WindowPlacement);

    SaveReport report;
    QStringList reasons;
    for (SettingsFile file : files) {
        QString error;
        if (!SaveFile(file, &error)) {
            report.failedFiles << FileName(file);
            reasons << error;
        }
    }
    if (report.ok()) {
        m_saveFailureReported = false;
    } else {
        report.message = QStringLiteral("The settings could not be saved (%1).").arg(reasons.join(QStringLiteral("; ")));
        report.reportNow = !m_saveFailureReported;
        m_saveFailureReported = true;
    }
    return report;
}

SettingsDocument::LoadResult SettingsDocument::LoadFile(SettingsFile file)
{
    QFile in(FilePath(file));
    if (!in.open(QIODevice::ReadOnly))
        return LoadResult::Missing;
    if (in.size() > kMaxSettingsFileSize)
        return LoadResult::Damaged;
    const QByteArray bytes = in.readAll();
    platform::ArchiveReader ar(reinterpret_cast<const uint8_t*>(bytes.constData()), static_cast<std::size_t>(bytes.size()));
    fileSelector = file;
    return Serialize(ar) ? LoadResult::Loaded : LoadResult::Damaged;
}

bool SettingsDocument::SaveFile(SettingsFile file, QString* error)
{
    fileSelector = file;
    platform::ArchiveWriter ar;
    Serialize(ar);
    const auto& bytes = ar.Bytes();

    // Written beside the old file and renamed over it, so a crash or a full
    // disk leaves the previous settings whole.
    QSaveFile out(FilePath(file));
    bool written = out.open(QIODevice::WriteOnly)
        && out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size())) == static_cast<qint64>(bytes.size());
    if (written)
        written = out.commit();
    else
        out.cancelWriting();
    if (!written && error)
        *error = FileName(file) + QStringLiteral(": ") + out.errorString();
    return written;
}

void SettingsDocument::Serialize(platform::ArchiveWriter& ar) const
{
    ar.WriteU32(settingsStamp);
    WriteContents(ar);
}

bool SettingsDocument::Serialize(platform::ArchiveReader& ar)
{
    try {
        settingsStamp = ar.ReadU32();
        ReadContents(ar);
    } catch (const platform::ArchiveException&) {
        return false;
    }
    return true;
}

void SettingsDocument::WriteGroupObject(platform::ArchiveWriter& ar, const CGroup* group, const ArchiveContext& context)
{
    if (!group)
        ar.WriteNullObject();
    else if (ar.WriteObjectTag(group, CGroup::kClassName, CGroup::kSchema))
        group->Serialize(ar, context);
}

std::unique_ptr<CGroup> SettingsDocument::ReadGroupObject(platform::ArchiveReader& ar) const
{
    if (!ar.ReadObjectTag(CGroup::kClassName, CGroup::kSchema))
        return nullptr;
    auto group = std::make_unique<CGroup>(m_variant);
    group->Serialize(ar, Context());
    return group;
}

void SettingsDocument::WriteContents(platform::ArchiveWriter& ar) const
{
    const ArchiveContext context = Context();
    switch (fileSelector) {
    case SettingsFile::DeviceList:
        WriteObjectList(ar, &deviceList, context);
        break;
    case SettingsFile::Groups:
        WriteArchiveString(ar, recordingDirectory);
        WriteArchiveString(ar, captureDirectory);
        WriteObjectList(ar, &groupList, context);
        WriteGroupObject(ar, currentGroup.get(), context);
        break;
    case SettingsFile::HandOver: {
        WriteArchiveString(ar, recordingDirectory);
        WriteArchiveString(ar, captureDirectory);
        // Without a current group the backup viewer gets a new group's values.
        const CGroup fallback(m_variant);
        const CGroup& group = currentGroup ? *currentGroup : fallback;
        ar.WriteI16(group.recordingFileFormat);
        ar.WriteI16(group.forcedRecordingTime);
        ar.WriteI16(group.diskSpaceToRemain);
        ar.WriteI16(group.autoConnecting);
        break;
    }
    case SettingsFile::WindowPlacement:
        ar.WriteI32(windowRect.left);
        ar.WriteI32(windowRect.top);
        ar.WriteI32(windowRect.right);
        ar.WriteI32(windowRect.bottom);
        ar.WriteU32(m_variant == ViewerVariant::Network ? (windowStyle | kCaptionStyleBits) : windowStyle);
        break;
    case SettingsFile::BackupSettings:
        WriteGroupObject(ar, currentGroup.get(), context);
        break;
    case SettingsFile::EventSettings:
        WriteArchiveString(ar, databaseDirectory);
        WriteArchiveString(ar, searchDatabaseDirectory);
        ar.WriteU16(eventSettings.maximumPolling);
        ar.WriteU16(eventSettings.intervalNumber);
        ar.WriteU16(eventSettings.intervalUnit);
        for (uint16_t word : eventSettings.eventWords)
            ar.WriteU16(word);
        break;
    }
}

void SettingsDocument::ReadContents(platform::ArchiveReader& ar)
{
    const ArchiveContext context = Context();
    switch (fileSelector) {
    case SettingsFile::DeviceList:
        deviceList.clear();
        ReadObjectList(ar, deviceList, context);
        break;
    case SettingsFile::Groups:
        recordingDirectory = ReadArchiveString(ar);
        captureDirectory = ReadArchiveString(ar);
        groupList.clear();
        currentGroup.reset();
        ReadObjectList(ar, groupList, context);
        currentGroup = ReadGroupObject(ar);
        break;
    case SettingsFile::HandOver:
        recordingDirectory = ReadArchiveString(ar);
        captureDirectory = ReadArchiveString(ar);
        if (!currentGroup) {
            currentGroup = std::make_unique<CGroup>(m_variant);
            currentGroup->splitMode = 16;
        }
        currentGroup->recordingFileFormat = ar.ReadI16();
        currentGroup->forcedRecordingTime = ar.ReadI16();
        currentGroup->diskSpaceToRemain = ar.ReadI16();
        currentGroup->autoConnecting = ar.ReadI16();
        break;
    case SettingsFile::WindowPlacement: {
        // The rectangle is one 16-byte block: the placement counts only when
        // the whole block was there.
        uint8_t block[16];
        ar.ReadBytes(block, sizeof block);
        platform::ArchiveReader rect(block, sizeof block);
        windowRect = { rect.ReadI32(), rect.ReadI32(), rect.ReadI32(), rect.ReadI32() };
        windowPlacementLoaded = true;
        windowStyle = ar.ReadU32();
        break;
    }
    case SettingsFile::BackupSettings:
        currentGroup = ReadGroupObject(ar);
        break;
    case SettingsFile::EventSettings:
        databaseDirectory = ReadArchiveString(ar);
        searchDatabaseDirectory = ReadArchiveString(ar);
        eventSettings.maximumPolling = ar.ReadU16();
        eventSettings.intervalNumber = ar.ReadU16();
        eventSettings.intervalUnit = ar.ReadU16();
        for (uint16_t& word : eventSettings.eventWords)
            word = ar.ReadU16();
        break;
    }
}
