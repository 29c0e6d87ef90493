// The view's channel control: connecting and disconnecting cells, recording
// on the PC by hand, by schedule and on alarms, the DVR's record switch,
// snapshots, the cells' timers and the disk monitor's verdicts.
//
// Every start and stop of a recording runs on the GUI thread; the disk
// monitor only measures and posts, so no lock orders the two.
#include "CVyrNVRView.h"

#include "control/interface/VyrdaxInterface.h"
#include "netviewer/CVyrNVRDoc.h"
#include "platform/Audio.h"
#include "platform/MessageBox.h"
#include "viewercore/widgets/CBitmapSlider.h"
#include "viewercore/widgets/SkinFiles.h"

#include <QDir>

using viewer::RecordType;

namespace {

constexpr int kScheduleTestMs = 3000;
constexpr int kRetryAfterFailureSeconds = 60;

} // namespace

bool CVyrNVRView::CellUsable(int cell) const
{
    return cell >= 0 && cell < kCells && cells_[cell].slot >= 0 && ControlAt(cells_[cell].slot);
}

// ---- connecting -------------------------------------------------------------

void CVyrNVRView::ConnectSelected()
{
    const int cell = selectedCell_;
    CDVyrdax* control = CellUsable(cell) ? ControlAt(cells_[cell].slot) : nullptr;
    const short ch = CellUsable(cell) ? cells_[cell].channel : 0;
    if (!control || !control->isReady(ch) || control->GetChannelName(ch).isEmpty()) {
        platform::MessageBox(this, kDropDvrFirst);
        return;
    }
    control->Connect(ch);
}

void CVyrNVRView::DisconnectSelected()
{
    const int cell = selectedCell_;
    if (!CellUsable(cell)) {
        platform::MessageBox(this, kDropDvrFirst);
        return;
    }
    StopChannel(cell);
    ControlAt(cells_[cell].slot)->DisConnectSvr(cells_[cell].channel);
}

void CVyrNVRView::ConnectAll()
{
    document_->SaveAll(this);
    pendingConnects_.clear();
    for (int cell = firstCell_; cell < firstCell_ + splitMode_ && cell < kCells; ++cell)
        pendingConnects_.push_back(cell);
    // One cell every 50 ms, from the event loop, so the window stays live.
    ConnectNextPending();
}

void CVyrNVRView::ConnectNextPending()
{
    while (!pendingConnects_.empty()) {
        const int cell = pendingConnects_.front();
        pendingConnects_.erase(pendingConnects_.begin());
        const Cell& c = cells_[cell];
        CDVyrdax* control = ControlAt(c.slot);
        if (!control || !inUse_[c.slot] || !control->isReady(c.channel) || control->GetChannelName(c.channel).isEmpty())
            continue;
        control->Connect(c.channel);
        if (!pendingConnects_.empty())
            connectTimer_.start(kConnectStepMs);
        return;
    }
}

void CVyrNVRView::DisconnectPage()
{
    pendingConnects_.clear();
    for (int cell = firstCell_; cell < firstCell_ + splitMode_ && cell < kCells; ++cell)
        if (CellUsable(cell)) {
            StopChannel(cell);
            ControlAt(cells_[cell].slot)->DisConnectSvr(cells_[cell].channel);
        }
}

void CVyrNVRView::StopAllChannels()
{
    pendingConnects_.clear();
    connectTimer_.stop();
    for (int cell = 0; cell < kCells; ++cell)
        if (CellUsable(cell)) {
            StopChannel(cell);
            ControlAt(cells_[cell].slot)->DisConnectSvr(cells_[cell].channel);
        }
}

int CVyrNVRView::BusyChannels()
{
    int busy = 0;
    for (int cell = 0; cell < kCells; ++cell) {
        if (!CellUsable(cell))
            continue;
        CDVyrdax* control = ControlAt(cells_[cell].slot);
        if (control->isConnect(cells_[cell].channel)) {
            StopChannel(cell);
            control->DisConnectSvr(cells_[cell].channel);
            ++busy;
        }
    }
    return busy;
}

// ---- recording --------------------------------------------------------------

void CVyrNVRView::StopChannel(int cell)
{
    if (!CellUsable(cell))
        return;
    CDVyrdax* control = ControlAt(cells_[cell].slot);
    const short ch = cells_[cell].channel;
    if (control->GetStatus(ch) & kStatusRecording) {
        stoppingCell_ = cell;
        control->StopRecord(ch);
        stoppingCell_ = -1;
        KillViewTimer(kTimerForcedRecord + cell);
        KillViewTimer(kTimerMotionRecord + cell);
        KillViewTimer(kTimerSensorRecord + cell);
    }
    control->SetStatus(ch, kStatusLive);
}

void CVyrNVRView::StopAllRecording()
{
    for (int cell = 0; cell < kCells; ++cell)
        StopChannel(cell);
}

void CVyrNVRView::OnRecordStopped(int cell)
{
    if (!CellUsable(cell) || cell == stoppingCell_)
        return;
    CDVyrdax* control = ControlAt(cells_[cell].slot);
    const short ch = cells_[cell].channel;
    const long status = control->GetStatus(ch);
    if (status & kStatusRecording)
        return; // a 20-minute split: the recording goes on in a new file
    // The control gave the recording up: nothing of it may stop a later one.
    KillViewTimer(kTimerForcedRecord + cell);
    KillViewTimer(kTimerMotionRecord + cell);
    KillViewTimer(kTimerSensorRecord + cell);
    if (status & kStatusLive)
        control->SetStatus(ch, kStatusLive);
    recordFailedAt_[cell] = Now();
}

viewer::RecordNames CVyrNVRView::MakeRecordFileName(int type, int cell)
{
    const SettingsDocument& data = document_->Data();
    // No directory is ever made from an empty one: its day folders would
    // land at the file system's root.
    for (const QString& directory : {data.recordingDirectory, data.captureDirectory})
        if (!directory.isEmpty())
            QDir().mkpath(directory);
    const CGroup* group = document_->CurrentGroup();
    const bool avi = group && group->recordingFileFormat != 0;
    QString channelName;
    if (CellUsable(cell))
        channelName = ControlAt(cells_[cell].slot)->GetChannelName(cells_[cell].channel);
    viewer::RecordNames names = viewer::MakeRecordNames(type, channelName, cell, Now(), data.recordingDirectory,
                                                              data.captureDirectory, avi);
    if (type != viewer::RecordSnapshot && !data.recordingDirectory.isEmpty())
        QDir().mkdir(names.dayDirectory);
    return names;
}

void CVyrNVRView::StartChannelRecording(int mode, int type, int cell)
{
    if (!CellUsable(cell))
        return;
    CDVyrdax* control = ControlAt(cells_[cell].slot);
    const short ch = cells_[cell].channel;
    if (mode == 1) {
        if (!control->isConnect(ch)) {
            platform::MessageBox(this, kConnectFirst);
            return;
        }
        const long command = (control->GetStatus(ch) & kStatusDvrRecording) ? kCmdDvrRecordStop : kCmdDvrRecordStart;
        control->CmdToDVR(command, 0, ch);
        return;
    }
    const CGroup* group = document_->CurrentGroup();
    if (!group)
        return;
    PublishDiskSettings();
    if (!diskMonitor_.SpaceSufficient())
        return;
    const long status = control->GetStatus(ch);
    // Local Record toggles: pressed on a recording cell it ends the recording.
    if (type == viewer::RecordByHand && (status & kStatusRecording)) {
        StopChannel(cell);
        return;
    }
    const qint64 sinceFailure = recordFailedAt_[cell].isValid() ? recordFailedAt_[cell].secsTo(Now()) : -1;
    if (type != viewer::RecordByHand && sinceFailure >= 0 && sinceFailure < kRetryAfterFailureSeconds)
        return;
    control->SetRecType(group->recordingFileFormat);
    if (!(status & kStatusLive) || (status & kStatusRecording))
        return;
    const viewer::RecordNames names = MakeRecordFileName(type, cell);
    if (!diskMonitor_.SpaceSufficient())
        return;
    if (control->StartRecord(document_->Data().recordingDirectory, names.fileName, names.prefix, 0, ch) != 0)
        return;
    const int duration = viewer::RecordDuration(type, *group);
    switch (type) {
    case viewer::RecordByHand:
        if (duration != 0)
            SetViewTimer(kTimerForcedRecord + cell, viewer::ForcedTimerMilliseconds(duration));
        control->SetStatus(ch, kStatusRecordByHand);
        break;
    case viewer::RecordMotion:
        SetViewTimer(kTimerMotionRecord + cell, viewer::AlarmTimerMilliseconds(duration));
        control->SetStatus(ch, kStatusRecordAlarm);
        break;
    case viewer::RecordSensor:
        SetViewTimer(kTimerSensorRecord + cell, viewer::AlarmTimerMilliseconds(duration));
        control->SetStatus(ch, kStatusRecordAlarm);
        break;
    case viewer::RecordSchedule: control->SetStatus(ch, kStatusRecordSchedule); break;
    default: break;
    }
}

bool CVyrNVRView::SelectedCellReady()
{
    const int cell = selectedCell_;
    if (CellUsable(cell) && ControlAt(cells_[cell].slot)->isReady(cells_[cell].channel))
        return true;
    platform::MessageBox(this, kDropDvrFirst);
    return false;
}

void CVyrNVRView::LocalRecordSelected()
{
    const int cell = selectedCell_;
    if (!SelectedCellReady())
        return;
    if (!ControlAt(cells_[cell].slot)->isConnect(cells_[cell].channel)) {
        platform::MessageBox(this, kConnectFirst);
        return;
    }
    // Refused for the monitor's reason, said at the click rather than at
    // its next test.
    if (!diskMonitor_.SpaceSufficient()) {
        platform::MessageBox(this, kDiskSpaceLow);
        return;
    }
    StartChannelRecording(0, viewer::RecordByHand, cell);
}

void CVyrNVRView::DvrRecordSelected()
{
    const int cell = selectedCell_;
    if (!SelectedCellReady())
        return;
    StartChannelRecording(1, viewer::RecordByHand, cell);
}

void CVyrNVRView::CaptureSelected()
{
    const int cell = selectedCell_;
    if (!SelectedCellReady())
        return;
    const viewer::RecordNames names = MakeRecordFileName(viewer::RecordSnapshot, cell);
    if (!ControlAt(cells_[cell].slot)->SaveToBMP(names.fileName, cells_[cell].channel)) {
        platform::MessageBox(this, kCaptureFailed);
        return;
    }
    platform::PlaySoundFile(kCaptureSoundFile, true);
    platform::MessageBox(this, kCaptureCompleted);
}

// ---- schedule and alarms ----------------------------------------------------

bool CVyrNVRView::IsScheduledNow(int cell) const
{
    const CGroup* group = document_->CurrentGroup();
    if (!group || cell < 0 || cell >= kCells || group->scheduleRecord[cell] == 0)
        return false;
    const QDateTime now = Now();
    const int row = viewer::ScheduleDayRow(now.date());
    return group->schedule[cell][row][now.time().hour()] == 1;
}

void CVyrNVRView::StartScheduleRecording(int cell)
{
    if (CellUsable(cell) && (ControlAt(cells_[cell].slot)->GetStatus(cells_[cell].channel) & kStatusLive))
        StartChannelRecording(0, viewer::RecordSchedule, cell);
}

void CVyrNVRView::OnAlarm(int cell, int type)
{
    const CGroup* group = document_->CurrentGroup();
    if (!group || !CellUsable(cell))
        return;
    const auto& flags = type == viewer::RecordMotion ? group->motionRecord : group->sensorRecord;
    if (flags[cell] == 1)
        RecordOnAlarm(cell, type, *group);
    // Heard for every alarm, whether the cell records it or not.
    if (group->beep != 0)
        platform::PlaySoundFile(kAlarmSoundFile, false);
}

void CVyrNVRView::RecordOnAlarm(int cell, int type, const CGroup& group)
{
    const long status = ControlAt(cells_[cell].slot)->GetStatus(cells_[cell].channel);
    if (status & (kStatusRecordByHand | kStatusRecordSchedule))
        return; // a recording by hand or by schedule goes on as it is
    if (status & kStatusRecordAlarm) {
        const unsigned timer = (type == viewer::RecordMotion ? kTimerMotionRecord : kTimerSensorRecord) + cell;
        SetViewTimer(timer, viewer::AlarmTimerMilliseconds(viewer::RecordDuration(type, group)));
    } else {
        StartChannelRecording(0, type, cell);
    }
}

// ---- timers -----------------------------------------------------------------

void CVyrNVRView::SetViewTimer(unsigned id, int milliseconds)
{
    timerPeriods_[id] = milliseconds;
    timers_.SetTimer(id, milliseconds);
}

void CVyrNVRView::KillViewTimer(unsigned id)
{
    timerPeriods_.erase(id);
    timers_.KillTimer(id);
}

int CVyrNVRView::TimerPeriod(unsigned id) const
{
    auto it = timerPeriods_.find(id);
    return it != timerPeriods_.end() && timers_.IsActive(id) ? it->second : 0;
}

void CVyrNVRView::KillCellTimers(int cell)
{
    for (unsigned base : {kTimerForcedRecord, kTimerMotionRecord, kTimerSensorRecord, kTimerSchedule})
        KillViewTimer(base + static_cast<unsigned>(cell));
}

void CVyrNVRView::OnTimer(unsigned id)
{
    const unsigned base = id / 1000 * 1000;
    const int cell = static_cast<int>(id - base);
    if (cell < 0 || cell >= kCells)
        return;
    if (!CellUsable(cell)) {
        KillCellTimers(cell);
        return;
    }
    switch (base) {
    case kTimerForcedRecord: {
        KillViewTimer(id);
        const CGroup* group = document_->CurrentGroup();
        if (group && group->forcedRecordingTime != 0)
            StopChannel(cell);
        break;
    }
    case kTimerMotionRecord:
    case kTimerSensorRecord: {
        KillViewTimer(id);
        // An alarm of the other kind extended the recording: its timer ends it.
        const unsigned other = (base == kTimerMotionRecord ? kTimerSensorRecord : kTimerMotionRecord) + cell;
        if (!timers_.IsActive(other))
            StopChannel(cell);
        break;
    }
    case kTimerSchedule: {
        const long status = ControlAt(cells_[cell].slot)->GetStatus(cells_[cell].channel);
        const bool scheduled = IsScheduledNow(cell);
        if (scheduled && !(status & kStatusRecording))
            StartScheduleRecording(cell);
        else if (!scheduled && (status & kStatusRecordSchedule))
            StopChannel(cell);
        break;
    }
    default: break;
    }
}

// ---- disk space -------------------------------------------------------------

void CVyrNVRView::PublishDiskSettings()
{
    const CGroup* group = document_->CurrentGroup();
    diskMonitor_.SetSettings(document_->Data().recordingDirectory, group ? group->diskSpaceToRemain : 0);
}

void CVyrNVRView::OnDiskSpaceLow()
{
    StopAllRecording();
    // The monitor tests again while the box is up; one box at a time.
    if (diskBoxShown_)
        return;
    diskBoxShown_ = true;
    platform::MessageBox(this, kDiskSpaceLow);
    diskBoxShown_ = false;
}

// ---- host messages of the channels ------------------------------------------

platform::LRESULT CVyrNVRView::OnMessage(uint32_t message, platform::WPARAM wParam, platform::LPARAM lParam)
{
    const int cell = static_cast<int>(lParam);
    switch (message) {
    case vyrdax::WM_VIDEO_SELECT: {
        const int selected = static_cast<int>(wParam);
        if (selected < 0 || selected >= kCells)
            return 0;
        selectedCell_ = selected;
        treeMenuShown_ = false;
        MarkSelectedCell(selected);
        if (CDVyrdax* control = ControlAt(cells_[selected].slot))
            control->AudioEnable(cells_[selected].channel);
        return 0;
    }
    case vyrdax::WM_VIDEO_TOGGLE: ToggleSingleCell(); return 0;
    case vyrdax::WM_VIDEO_STARTED:
        if (CellUsable(cell)) {
            if (IsScheduledNow(cell))
                StartScheduleRecording(cell);
            SetViewTimer(kTimerSchedule + cell, kScheduleTestMs);
        }
        return 0;
    case vyrdax::WM_VIDEO_ALARM: OnAlarm(cell, viewer::RecordMotion); return 0;
    case vyrdax::WM_VIDEO_ALARM2: OnAlarm(cell, viewer::RecordSensor); return 0;
    case vyrdax::WM_VIDEO_DISCONNECTED:
        if (CellUsable(cell) && (ControlAt(cells_[cell].slot)->GetStatus(cells_[cell].channel) & kStatusRecording))
            StopChannel(cell);
        return 0;
    case vyrdax::WM_VIDEO_RECORD_STOPPED: OnRecordStopped(cell); return 0;
    case vyrdax::WM_VIDEO_DVR_DATA: OnSetupData(static_cast<int>(wParam), cell); return 0;
    case WM_SLIDER_MOVED: OnSliderMoved(static_cast<int>(wParam), static_cast<int>(lParam)); return 0;
    case WM_DISK_SPACE_LOW: OnDiskSpaceLow(); return 0;
    default: return 0;
    }
}
