// The view's side of the DVR Configuration dialog: opening it on the
// selected cell, handing it the setup record, and taking over the local
// settings on OK.
#include "CVyrNVRView.h"

#include "netviewer/CVyrNVRDoc.h"
#include "netviewer/setup/CConfigDlg.h"
#include "platform/MessageBox.h"
#include "platform/Registry.h"

namespace {

// The control's lookup host, which the "Server IP" row shows.
constexpr const char* kControlRegistryKey = "Software\\Vyrdax\\VyrdaxCtrl";

QString LookupHost()
{
    return QString::fromStdString(
        platform::RegistryReadString(kControlRegistryKey, "LookupHost").value_or("127.0.0.1"));
}

} // namespace

CConfigDlg& CVyrNVRView::EnsureConfigDialog()
{
    if (!configDlg_) {
        configDlg_ = std::make_unique<CConfigDlg>(this);
        configDlg_->applyLocal = [this](const CGroup& copy, const QString& recording, const QString& capture) {
            ApplyLocalSettings(copy, recording, capture);
        };
        configDlg_->saveSettings = [this] { document_->SaveAll(this); };
    }
    return *configDlg_;
}

void CVyrNVRView::OnDeviceSetup()
{
    short ch = 0;
    if (selectedCell_ < 0 || selectedCell_ >= kCells || cells_[selectedCell_].slot < 0)
        return;
    if (!SelectedCellMayControl(kNoSetupRight, false))
        return;
    CDVyrdax* control = SelectedControl(&ch);
    const CGroup* group = document_->CurrentGroup();
    bool hasDvr = false;
    if (group && group->cameras)
        for (const auto& camera : *group->cameras)
            hasDvr = hasDvr || (camera && camera->deviceKind == CDVR::DeviceDVR);
    if (!hasDvr)
        return;
    CConfigDlg& dialog = EnsureConfigDialog();
    CConfigDlg::Opening opening;
    opening.mode = CConfigDlg::ModeDvr;
    opening.dvrType = control->GetDVRType();
    opening.control = control;
    opening.channel = ch;
    opening.cell = selectedCell_;
    opening.group = group;
    opening.recordingDirectory = document_->Data().recordingDirectory;
    opening.captureDirectory = document_->Data().captureDirectory;
    opening.lookupHost = LookupHost();
    dialog.Begin(opening);
    control->CmdToDVR(kCmdSetupRequest, 0, ch);
    dialog.open();
}

void CVyrNVRView::OnLocalSetup()
{
    if (selectedCell_ < 0 || selectedCell_ >= kCells || cells_[selectedCell_].slot < 0)
        return;
    short ch = 0;
    if (!SelectedControl(&ch)) {
        platform::MessageBox(this, kDropDvrFirst);
        return;
    }
    CConfigDlg& dialog = EnsureConfigDialog();
    CConfigDlg::Opening opening;
    opening.mode = CConfigDlg::ModeLocal;
    opening.cell = selectedCell_;
    opening.group = document_->CurrentGroup();
    opening.recordingDirectory = document_->Data().recordingDirectory;
    opening.captureDirectory = document_->Data().captureDirectory;
    dialog.Begin(opening);
    dialog.open();
}

void CVyrNVRView::OnSetupData(int dvrType, int cell)
{
    if (!configDlg_ || !configDlg_->isVisible() || configDlg_->CurrentMode() != CConfigDlg::ModeDvr ||
        cell != configDlg_->Cell() || !CellUsable(cell))
        return;
    const DVyrdaxTable table = ControlAt(cells_[cell].slot)->GetDVRData();
    configDlg_->OnSetupData(dvrType, table.data, table.size);
}

void CVyrNVRView::ApplyLocalSettings(const CGroup& copy, const QString& recordingDirectory,
                                     const QString& captureDirectory)
{
    CGroup* group = document_->CurrentGroup();
    SettingsDocument& data = document_->Data();
    if (group) {
        group->beep = copy.beep;
        group->autoConnecting = copy.autoConnecting;
        group->recordingFileFormat = copy.recordingFileFormat;
        group->motionRecordingTime = copy.motionRecordingTime;
        group->sensorRecordingTime = copy.sensorRecordingTime;
        group->forcedRecordingTime = copy.forcedRecordingTime;
        group->diskSpaceToRemain = copy.diskSpaceToRemain;
    }
    if (recordingDirectory != data.recordingDirectory) {
        platform::MessageBox(this, kChangedRecordingFolder);
        StopAllRecording();
        recordFailedAt_.fill(QDateTime()); // the new directory may well be writable
    }
    data.recordingDirectory = recordingDirectory;
    data.captureDirectory = captureDirectory;
    if (group) {
        group->motionRecord = copy.motionRecord;
        group->sensorRecord = copy.sensorRecord;
        group->scheduleRecord = copy.scheduleRecord;
        group->schedule = copy.schedule;
    }
    PublishDiskSettings();
}
