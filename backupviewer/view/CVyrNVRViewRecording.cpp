// The backup viewer's recording by hand of the current cell, snapshots, the
// speaker and the disk monitor's stops.
#include "CVyrNVRView.h"

#include "backupviewer/BackupTexts.h"
#include "backupviewer/CVyrNVRDoc.h"
#include "platform/Audio.h"
#include "platform/MessageBox.h"
#include "viewercore/widgets/CBitmapSlider.h"

#include <QDir>

using namespace backupviewer;

namespace {

// Channel status words of the control.
constexpr long kStatusRecordByHand = 0x04;
constexpr long kStatusRecording = 0x1C;
constexpr const char* kCaptureSound = "sound/capture.wav";

} // namespace

viewer::RecordNames CVyrNVRView::MakeSaveName(int type, int cell)
{
    if (!control_)
        return {};
    std::lock_guard<std::mutex> lock(fileNameLock_);
    const SettingsDocument& data = document_->Data();
    QDir().mkpath(data.recordingDirectory);
    QDir().mkpath(data.captureDirectory);
    const bool avi = document_->SettingsGroup().recordingFileFormat != 0;
    viewer::RecordNames names =
        viewer::MakeRecordNames(type, control_->GetChannelName(static_cast<short>(cell)), cell, clock(),
                                data.recordingDirectory, data.captureDirectory, avi);
    if (type != viewer::RecordSnapshot)
        QDir().mkpath(names.dayDirectory);
    return names;
}

void CVyrNVRView::OnLocalRecord()
{
    const int cell = currentCell_;
    if (!control_ || !control_->isReady(static_cast<short>(cell))) {
        platform::MessageBox(this, kDropDvrFirst);
        return;
    }
    if (!control_->isConnect(static_cast<short>(cell))) {
        platform::MessageBox(this, kConnectFirst);
        return;
    }
    std::lock_guard<std::mutex> lock(recordStartLock_);
    if (cells_[cell].control < 0 || !diskMonitor_.SpaceSufficient())
        return;
    const long status = control_->GetStatus(static_cast<short>(cell));
    if (status & kStatusRecording) {
        StopCell(cell);
        return;
    }
    const CGroup& group = document_->SettingsGroup();
    control_->SetRecType(group.recordingFileFormat);
    if (!(status & kStatusLive) || !diskMonitor_.SpaceSufficient())
        return;
    const viewer::RecordNames names = MakeSaveName(viewer::RecordByHand, cell);
    // The prefix keeps the type letter on the files that continue a recording.
    if (control_->StartRecord(document_->Data().recordingDirectory, names.fileName, names.prefix, 0,
                              static_cast<short>(cell)) != 0)
        return;
    const int duration = viewer::RecordDuration(viewer::RecordByHand, group);
    if (duration > 0)
        SetViewTimer(kTimerRecordBase + cell, viewer::ForcedTimerMilliseconds(duration));
    control_->SetStatus(static_cast<short>(cell), kStatusRecordByHand);
}

void CVyrNVRView::StopCell(int cell)
{
    if (!control_ || cell < 0 || cell >= kCells)
        return;
    std::lock_guard<std::mutex> lock(stopLock_);
    if (!(control_->GetStatus(static_cast<short>(cell)) & kStatusRecording))
        return;
    control_->StopRecord(static_cast<short>(cell));
    KillViewTimer(kTimerRecordBase + cell);
    control_->SetStatus(static_cast<short>(cell), kStatusLive);
}

void CVyrNVRView::StopAllRecording()
{
    for (int cell = 0; cell < kCells; ++cell)
        StopCell(cell);
}

void CVyrNVRView::OnCapture()
{
    if (!control_) {
        platform::MessageBox(this, kDropDvrFirst);
        return;
    }
    const viewer::RecordNames names = MakeSaveName(viewer::RecordSnapshot, currentCell_);
    if (!control_->SaveToBMP(names.fileName, static_cast<short>(currentCell_))) {
        platform::MessageBox(this, kCaptureFailed);
        return;
    }
    platform::PlaySoundFile(QDir::current().filePath(kCaptureSound).toStdString(), true);
    platform::MessageBox(this, kCaptureCompleted);
}

void CVyrNVRView::OnSound()
{
    if (!control_)
        return;
    if (!soundMuted_) {
        control_->SetSoundMute(1);
        soundMuted_ = true;
        return;
    }
    slider_->SetPos(std::clamp(slider_->GetPos(), slider_->GetRangeMin(), slider_->GetRangeMax()));
    slider_->update();
    control_->SetSoundMute(0);
    control_->SetSpeakerVolume(slider_->GetPos(), 0);
    soundMuted_ = false;
}

void CVyrNVRView::OnSliderMoved(int position)
{
    slider_->SetPos(std::clamp(position, slider_->GetRangeMin(), slider_->GetRangeMax()));
    slider_->update();
    if (!soundMuted_ && control_)
        control_->SetSpeakerVolume(slider_->GetPos(), 0);
}

void CVyrNVRView::SetViewTimer(unsigned id, int ms)
{
    timerPeriods_[id] = ms;
    timers_.SetTimer(id, ms);
}

void CVyrNVRView::KillViewTimer(unsigned id)
{
    timerPeriods_.erase(id);
    timers_.KillTimer(id);
}

int CVyrNVRView::TimerPeriod(unsigned id) const
{
    const auto it = timerPeriods_.find(id);
    return it != timerPeriods_.end() && timers_.IsActive(id) ? it->second : 0;
}

void CVyrNVRView::OnTimer(unsigned id)
{
    if (id < kTimerRecordBase || id >= kTimerRecordBase + kCells)
        return;
    KillViewTimer(id);
    if (control_ && viewer::RecordDuration(viewer::RecordByHand, document_->SettingsGroup()) != 0)
        StopCell(static_cast<int>(id - kTimerRecordBase));
}

void CVyrNVRView::PublishDiskSettings()
{
    diskMonitor_.SetSettings(document_->Data().recordingDirectory, document_->SettingsGroup().diskSpaceToRemain);
}

void CVyrNVRView::OnDiskSpaceLow()
{
    // The monitor only measures; the stops happen here, on the GUI thread.
    StopAllRecording();
    if (diskBoxShown_)
        return;
    diskBoxShown_ = true;
    platform::MessageBox(this, kDiskSpaceLow);
    diskBoxShown_ = false;
}
