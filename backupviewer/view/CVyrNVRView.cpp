// The backup viewer's view: construction and start-up, the command and
// message dispatch, input events and the stops before the frame closes. The
// areas live beside it: panels and skin, cells, trees, searches and
// playback, the timeline, and recording.
#include "CVyrNVRView.h"

#include "backupviewer/BackupTexts.h"
#include "backupviewer/CVyrNVRDoc.h"
#include "backupviewer/dialogs/CBackupDlg.h"
#include "backupviewer/dialogs/CCalendarDlg.h"
#include "control/interface/VyrdaxInterface.h"
#include "platform/MessageBox.h"
#include "viewercore/dialogs/CPropertyDlg.h"
#include "viewercore/model/CCamera.h"
#include "viewercore/view/SiteTree.h"
#include "viewercore/widgets/CBitmapSlider.h"
#include "viewercore/widgets/CButtonST.h"

#include <QDir>
#include <QKeyEvent>
#include <QScrollBar>
#include <QTimerEvent>

#include <cstring>

using namespace backupviewer;

CVyrNVRView::CVyrNVRView(CVyrNVRDoc* document, QWidget* parent)
    : QWidget(parent),
      clock([] { return QDateTime::currentDateTime(); }),
      document_(document),
      timers_(this, [this](unsigned id) { OnTimer(id); }),
      diskMonitor_(this, WM_BACKUP_DISK_LOW)
{
    setObjectName("101");
    setAcceptDrops(true);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    margins_ = viewer::PanelMargins{kLeftMargin, kTopMargin, kRightMargin, kBottomMargin};
    deviceTree_ = new viewer::SiteTree(this, IDC_DEVICE_TREE, false);
    groupTree_ = new viewer::SiteTree(this, IDC_GROUP_TREE, true);
    groupTree_->hide();
    deviceTree_->onContextMenu = [this](viewer::SiteTree* t, const QPoint& at) { ShowTreeMenu(t, at); };
    CreateWidgets();
}

CVyrNVRView::~CVyrNVRView()
{
    diskMonitor_.Stop();
    control_.reset(); // the control joins its own threads
}

QTreeWidget* CVyrNVRView::DeviceTree() const { return deviceTree_; }

CButtonST* CVyrNVRView::Button(int id) const
{
    const auto it = buttons_.find(id);
    return it == buttons_.end() ? nullptr : it->second;
}

int CVyrNVRView::Exec(QDialog& dialog) { return runDialog ? runDialog(dialog) : dialog.exec(); }

void CVyrNVRView::OnInitialUpdate()
{
    SettingsDocument& data = document_->Data();
    if (data.recordingDirectory.isEmpty())
        data.recordingDirectory = DefaultRecordingDirectory();
    if (data.captureDirectory.isEmpty())
        data.captureDirectory = DefaultCaptureDirectory();
    QDir().mkpath(data.recordingDirectory);
    QDir().mkpath(data.captureDirectory);
    hasDayData_ = false;
    fullScreen_ = false;
    savedSplit_ = 16;
    savedFirstCell_ = 0;
    firstCell_ = 0;
    currentCell_ = 0;
    LoadSkin();
    for (Cell& cell : cells_)
        cell = Cell{};
    CGroup& group = document_->SettingsGroup();
    split_ = viewer::IsSplitMode(group.splitMode) ? group.splitMode : 16;
    if (!control_) {
        auto control = std::make_unique<CDVyrdax>();
        if (control->Create(this, kControlId)) {
            control_ = std::move(control);
            control_->setVersion(1);
            control_->setDispChannel(static_cast<short>(split_));
            for (int i = 0; i < 4; ++i) {
                cells_[i] = Cell{0, QString(), static_cast<int16_t>(i)};
                control_->SetBackupMode(1);
                control_->SetConnectInfo("", "", "", "", "", 0, 0, static_cast<short>(i + 1), 1, static_cast<short>(i));
            }
        }
    }
    if (group.cameras) {
        int bound = 0;
        for (const auto& camera : *group.cameras) {
            if (!camera || bound++ >= kCells)
                break;
            if (camera->cell >= 0 && camera->cell < kCells)
                BindCamera(camera->cell, *camera);
        }
    }
    PublishDiskSettings();
    diskMonitor_.Start();
    FillDeviceTree();
    initialised_ = true;
    PlaceWidgets();
    ShowBottom(BottomVideo);
    LayoutCells();
    closeCallerTimer_ = startTimer(kCloseCallerDelayMs);
    update();
}

void CVyrNVRView::OnCommand(int id)
{
    if (const int split = SplitOfButton(id)) {
        SetSplit(split);
        return;
    }
    switch (id) {
    case IDC_SEARCH_DVR:
    case ID_CELL_DVR_SEARCH: OnSearchDvr(); break;
    case IDC_SEARCH_LOCAL:
    case ID_CELL_LOCAL_SEARCH: OnSearchLocal(); break;
    case IDC_ADD_DVR: {
        CPropertyDlg dialog(document_->Data(), CPropertyDlg::ModeAddDvr, this);
        if (Exec(dialog) == QDialog::Accepted) {
            FillDeviceTree();
            document_->SaveAll(this);
        }
        break;
    }
    case IDC_PLACEHOLDER_1005:
    case IDC_PLACEHOLDER_1030:
    case IDC_PLACEHOLDER_1102:
    case IDC_PLACEHOLDER_1103: platform::MessageBox(this, kNotAvailable); break;
    case IDC_FULL_SCREEN: ToggleFullScreen(); break;
    case IDC_NEXT_SPLIT: NextSplit(); break;
    case IDC_LOCAL_RECORD:
    case ID_CELL_LOCAL_RECORD: OnLocalRecord(); break;
    case IDC_CAPTURE:
    case ID_CELL_CAPTURE: OnCapture(); break;
    case IDC_GO_NETWORK:
    case IDC_GO_EVENT:
        if (onHandOver)
            onHandOver(id);
        break;
    case IDC_REWIND:
    case IDC_PLAY:
    case IDC_STOP:
    case IDC_PAUSE:
    case IDC_FAST_FORWARD: OnPlaybackButton(id); break;
    case IDC_SOUND: OnSound(); break;
    case IDC_TIMELINE:
        if (hasDayData_)
            ShowBottom(bottom_ == BottomTimeline ? BottomVideo : BottomTimeline);
        break;
    case IDC_BACKUP: OnBackup(); break;
    case ID_CELL_PROPERTIES: ShowCellProperties(); break;
    case ID_CELL_DISCONNECT:
        StopAllRecording();
        DisconnectDvr();
        break;
    default: break;
    }
}

platform::LRESULT CVyrNVRView::OnMessage(uint32_t message, platform::WPARAM wParam, platform::LPARAM lParam)
{
    switch (message) {
    case vyrdax::WM_VIDEO_SELECT: SelectCell(static_cast<int>(wParam)); return 0;
    case vyrdax::WM_VIDEO_TOGGLE: ToggleSingleCell(); return 0;
    case vyrdax::WM_VIDEO_PROGRESS:
        if (wParam == 0 && RemoteSessionHasEnded()) {
            // The remote session failed or its DVR was lost: no answer will
            // come, and a backup still running goes on.
            remoteSessionAsked_ = false;
            monthRequestInFlight_ = false;
            return 0;
        }
        if (backupDialog_)
            backupDialog_->OnProgress(wParam, lParam);
        else if (wParam == 0)
            monthRequestInFlight_ = false;
        return 0;
    case vyrdax::WM_VIDEO_TIME_DATA:
        if (control_) {
            // A search the control has answered and ended.
            remoteSessionAsked_ = control_->isConnect(0);
            const DVyrdaxTable answer = control_->GetTimeData();
            if (answer.data && answer.size >= kDayBlockSize) {
                DayBlock block;
                std::memcpy(block.bytes.data(), answer.data, kDayBlockSize);
                SetDayBlock(block, rowCount_);
                if (bottom_ == BottomTimeline)
                    ShowBottom(BottomTimeline);
            }
        }
        return 0;
    case vyrdax::WM_VIDEO_MONTH_DATA:
        if (!calendar_)
            return 0;
        rowCount_ = ClampRowCount(static_cast<int>(wParam));
        monthRequestInFlight_ = false;
        if (control_)
            remoteSessionAsked_ = control_->isConnect(0);
        if (monthWaiting_ && control_) {
            // This answer is for a month no longer shown.
            monthRequestInFlight_ = true;
            AskDvr(*monthWaiting_, 0);
            monthWaiting_.reset();
            return 0;
        }
        if (control_) {
            const DVyrdaxTable answer = control_->GetMonthData();
            if (answer.data && answer.size >= vyrdax::kMonthTableSize) {
                CCalendarDlg::MonthTable table{};
                std::memcpy(table.data(), answer.data, sizeof table);
                calendar_->SetMonthTable(table);
            }
        }
        return 0;
    case WM_SLIDER_MOVED:
        if (static_cast<int>(wParam) == IDC_SPEAKER_VOLUME)
            OnSliderMoved(static_cast<int>(lParam));
        return 0;
    case WM_BACKUP_DISK_LOW: OnDiskSpaceLow(); return 0;
    default: return 0;
    }
}

bool CVyrNVRView::event(QEvent* e)
{
    if (platform::HandleMessageEvent(e, this))
        return true;
    return QWidget::event(e);
}

void CVyrNVRView::timerEvent(QTimerEvent* event)
{
    if (timers_.Dispatch(event->timerId()))
        return;
    if (event->timerId() == closeCallerTimer_) {
        killTimer(closeCallerTimer_);
        closeCallerTimer_ = 0;
        if (onCloseCaller)
            onCloseCaller();
    }
}

void CVyrNVRView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && OnTimelineClick(event->position().toPoint()))
        return;
    QWidget::mousePressEvent(event);
}

void CVyrNVRView::keyPressEvent(QKeyEvent* event)
{
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && (event->modifiers() & Qt::AltModifier)) {
        ToggleFullScreen();
        return;
    }
    if (event->key() == Qt::Key_Escape && fullScreen_)
        ToggleFullScreen();
    QWidget::keyPressEvent(event);
}

void CVyrNVRView::resizeEvent(QResizeEvent*)
{
    if (!initialised_)
        return;
    if (!fullScreen_)
        PlaceWidgets();
    if (bottom_ == BottomTimeline && Timeline().scrolls)
        scroll_->setGeometry(Timeline().ScrollBarRect());
    LayoutCells();
}

void CVyrNVRView::StopForClose()
{
    if (mode_ == LocalMode) {
        if (control_) {
            control_->StopFile();
            control_->EndPlayFile();
        }
        return;
    }
    StopAllRecording();
    DisconnectDvr();
}

int CVyrNVRView::BusyChannels()
{
    if (!control_)
        return 0;
    int busy = 0;
    for (int c = 0; c < kCells; ++c)
        busy += cells_[c].control >= 0 && control_->isConnect(static_cast<short>(c));
    if (busy) {
        StopAllRecording();
        DisconnectDvr();
    }
    return busy;
}
