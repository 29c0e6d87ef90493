// The backup viewer's searches and playback: the DVR and local searches
// through the calendar, the two source modes, the playback buttons and the
// backup dialog.
#include "CVyrNVRView.h"

#include "backupviewer/BackupTexts.h"
#include "backupviewer/CVyrNVRDoc.h"
#include "backupviewer/dialogs/CBackupDlg.h"
#include "backupviewer/dialogs/CCalendarDlg.h"
#include "platform/MessageBox.h"
#include "viewercore/widgets/ViewSkin.h"

#include <QDir>
#include <QFileInfo>

#include <cstring>

using namespace backupviewer;

bool CVyrNVRView::ControlReady()
{
    return control_ && !control_->GetChannelName(0).isEmpty() && mode_ == DvrMode && control_->isReady(0);
}

bool CVyrNVRView::SetChosenDay(int year, int month, int day)
{
    const std::optional<std::time_t> midnight = LocalMidnight(year, month, day);
    if (!midnight) {
        platform::MessageBox(this, kDateOutOfRange);
        return false;
    }
    chosenDay_ = *midnight;
    return true;
}

bool CVyrNVRView::AskDvrMonth(int year, int month)
{
    if (!control_ || cells_[currentCell_].control < 0)
        return false;
    if (!SetChosenDay(year, month, 1))
        return false;
    // The answer does not name its month, and a request made while the
    // control is still connecting replaces the one before: one request at a
    // time, the newest waiting for the answer to the one in flight.
    if (monthRequestInFlight_) {
        monthWaiting_ = chosenDay_;
        return true;
    }
    monthRequestInFlight_ = true;
    AskDvr(chosenDay_, 0);
    return true;
}

void CVyrNVRView::LeaveLocalMode()
{
    if (control_) {
        control_->StopFile();
        control_->EndPlayFile();
    }
    mode_ = DvrMode;
}

void CVyrNVRView::EnterLocalMode()
{
    if (mode_ == LocalMode)
        return;
    StopAllRecording();
    if (control_) {
        DisconnectDvr();
        control_->ClearInfo(-1);
    }
    ClearCameras();
    for (Cell& c : cells_)
        c = Cell{};
    if (control_)
        control_->CloseDispThread();
    mode_ = LocalMode;
}

void CVyrNVRView::StartDvrPlayback(std::time_t t, int cell)
{
    if (!FitsControlTime(t)) {
        platform::MessageBox(this, kDateOutOfRange);
        return;
    }
    if (!control_)
        return;
    remoteSessionAsked_ = true;
    control_->StartDVRPlaybackTime(static_cast<long>(t), cell, 0);
}

void CVyrNVRView::AskDvr(std::time_t t, int timeList)
{
    if (!control_)
        return;
    remoteSessionAsked_ = true;
    control_->GetBackupInfo(static_cast<long>(t), static_cast<short>(timeList));
}

void CVyrNVRView::DisconnectDvr()
{
    remoteSessionAsked_ = false;
    if (control_)
        control_->DisConnectSvr(-1);
}

bool CVyrNVRView::RemoteSessionHasEnded()
{
    // While a session is asked for or runs, the control keeps its channels
    // live; one that it has ended leaves them neither connected nor live.
    // No new session begins while the backup dialog is open, so the end of
    // a backup never finds a session that ended unseen.
    return remoteSessionAsked_ && control_ && !control_->isConnect(0) && !(control_->GetStatus(0) & kStatusLive);
}

void CVyrNVRView::StartLocalPlayback(int slot, std::time_t t)
{
    if (!FitsControlTime(t)) {
        platform::MessageBox(this, kDateOutOfRange);
        return;
    }
    if (control_)
        control_->StartLocalPlayback(static_cast<short>(slot), static_cast<long>(t));
}

void CVyrNVRView::OnSearchDvr()
{
    if (!ControlReady()) {
        platform::MessageBox(this, kDropDvrFirst);
        return;
    }
    CCalendarDlg dialog(CCalendarDlg::DvrSearch, this);
    dialog.SetBackground(viewer::SkinImage(kBitmapCalendarBackground));
    dialog.askDvrMonth = [this](int year, int month) { return AskDvrMonth(year, month); };
    const QDateTime now = clock();
    calendar_ = &dialog;
    monthWaiting_.reset();
    const std::time_t nowTime = now.toSecsSinceEpoch();
    chosenDay_ = nowTime;
    if (FitsControlTime(nowTime)) {
        monthRequestInFlight_ = true;
        AskDvr(nowTime, 0);
    }
    dialog.Open(now.date().year(), now.date().month());
    const int result = Exec(dialog);
    calendar_ = nullptr;
    monthRequestInFlight_ = false;
    monthWaiting_.reset();
    if (result == QDialog::Accepted) {
        mode_ = DvrMode;
        StopAllRecording();
        DisconnectDvr();
        hasDayData_ = false;
        const int year = dialog.Year(), month = dialog.Month(), day = dialog.SelectedDay();
        if (dialog.TimeSearch()) {
            const QDateTime at(QDate(year, month, day), dialog.ChosenTime());
            StopAllRecording();
            StartDvrPlayback(at.toSecsSinceEpoch(), currentCell_);
            ShowBottom(BottomVideo);
        } else if (SetChosenDay(year, month, day)) {
            AskDvr(chosenDay_, 1);
            ShowBottom(BottomTimeline);
        }
        LayoutCells();
    } else if (!(control_->GetStatus(static_cast<short>(cells_[currentCell_].channel)) & 0x40)) {
        StopAllRecording();
        DisconnectDvr();
    }
}

void CVyrNVRView::OnSearchLocal()
{
    if (!control_)
        return;
    const QString recordingDirectory = document_->Data().recordingDirectory;
    CCalendarDlg dialog(CCalendarDlg::LocalSearch, this);
    dialog.SetBackground(viewer::SkinImage(kBitmapCalendarBackground));
    dialog.queryLocalMonth = [this, recordingDirectory](const QString& pattern, CCalendarDlg::MonthTable* table) {
        const DVyrdaxTable answer = control_->GetMonthDataL(recordingDirectory, pattern);
        if (!answer.data || answer.size < sizeof *table)
            return false;
        std::memcpy(table->data(), answer.data, sizeof *table);
        return true;
    };
    const QDate today = clock().date();
    dialog.Open(today.year(), today.month());
    if (Exec(dialog) != QDialog::Accepted)
        return;
    if (!SetChosenDay(dialog.Year(), dialog.Month(), dialog.SelectedDay()))
        return;
    EnterLocalMode();
    const DVyrdaxTable answer = control_->GetTimeDataL(recordingDirectory, dialog.SearchPattern());
    DayBlock block;
    if (answer.data && answer.size >= kDayBlockSize)
        std::memcpy(block.bytes.data(), answer.data, kDayBlockSize);
    if (dialog.TimeSearch()) {
        hasDayData_ = false;
        const QTime time = dialog.ChosenTime();
        std::tm tm{};
        localtime_r(&chosenDay_, &tm);
        tm.tm_hour = time.hour();
        tm.tm_min = time.minute();
        tm.tm_sec = time.second();
        tm.tm_isdst = -1;
        StartLocalPlayback(SlotOfTime(time.hour(), time.minute()), std::mktime(&tm));
        ShowBottom(BottomVideo);
        LayoutCells();
        return;
    }
    SetDayBlock(block, 17);
    ShowBottom(BottomTimeline);
}

void CVyrNVRView::OnPlaybackButton(int id)
{
    if (!control_)
        return;
    if (mode_ == DvrMode) {
        // Remote play-back commands: 8 fast forward, 9 rewind, 10 pause, 11 stop, 12 play.
        const long command = id == IDC_REWIND ? 9 : id == IDC_PLAY ? 12 : id == IDC_STOP ? 11 : id == IDC_PAUSE ? 10 : 8;
        control_->CmdToDVR(command, 0, 0);
        return;
    }
    switch (id) {
    case IDC_REWIND: control_->PlayFile(3); break;
    case IDC_PLAY: control_->PlayFile(1); break;
    case IDC_STOP: control_->StopFile(); break;
    case IDC_PAUSE: control_->PauseFile(); break;
    case IDC_FAST_FORWARD: control_->PlayFile(2); break;
    default: break;
    }
}

void CVyrNVRView::OnBackup()
{
    if (!control_)
        return;
    if (mode_ == LocalMode) {
        control_->StopFile();
        control_->EndPlayFile();
    }
    const QString recordingDirectory = document_->Data().recordingDirectory;
    // The folder of the last backup dialog, while it still exists.
    CBackupDlg dialog(this, QFileInfo(lastBackupFolder_).isDir() ? lastBackupFolder_ : QDir::homePath());
    dialog.startBackup = [this, recordingDirectory](const QString& folder, long start, long end, long freeMiB) {
        return control_->BackUp(recordingDirectory, folder, start, end, freeMiB);
    };
    backupDialog_ = &dialog;
    Exec(dialog);
    backupDialog_ = nullptr;
    lastBackupFolder_ = dialog.BackupDirectory();
}
