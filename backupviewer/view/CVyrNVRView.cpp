// The backup viewer's view: start-up, skin, layout, the DVR and local
// searches, playback, the timeline and the backup.
#include "CVyrNVRView.h"

#include "backupviewer/BackupTexts.h"
#include "backupviewer/CVyrNVRDoc.h"
#include "backupviewer/dialogs/CBackupDlg.h"
#include "backupviewer/dialogs/CCalendarDlg.h"
#include "control/interface/VyrdaxInterface.h"
#include "netviewer/dialogs/CPropertyDlg.h"
#include "netviewer/dialogs/SiteRoutines.h"
#include "platform/MessageBox.h"
#include "viewercore/model/CCamera.h"
#include "viewercore/view/SiteTree.h"
#include "viewercore/widgets/CBitmapSlider.h"
#include "viewercore/widgets/CButtonST.h"
#include "viewercore/widgets/ViewSkin.h"

#include <QContextMenuEvent>
#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QScrollBar>
#include <QTimerEvent>

#include <cstring>

using namespace backupviewer;

namespace {

constexpr int kLeftMargin = 185;
constexpr int kRightMargin = 16;
constexpr int kTopMargin = 50;
constexpr int kBottomMargin = 55;
constexpr int kLeftBottomPanel = 103;
constexpr int kLeftColumnBottom = 54;
constexpr int kControlId = 500;

QImage LoadBitmap(const QString& name) { return QImage(QDir::current().filePath("image/" + name)); }

struct ButtonSpec {
    int id;
    int in, out;
    const char* caption;
    const char* tooltip;
};

const ButtonSpec kButtons[] = {
    {IDC_GO_NETWORK, kBitmapGoToNetworkViewerIn, kBitmapGoToNetworkViewerOut, "Network Viewer", "Go To Network Viewer"},
    {IDC_GO_EVENT, kBitmapGoToEventViewerIn, kBitmapGoToEventViewerOut, "Event Viewer", "Go To Event Viewer"},
    {IDC_SEARCH_DVR, kBitmapSearchDvrIn, kBitmapSearchDvrOut, "DVR", "Search DVR"},
    {IDC_SEARCH_LOCAL, kBitmapSearchLocalIn, kBitmapSearchLocalOut, "Local PC", "Search Local PC"},
    {IDC_ADD_DVR, kBitmapAddDvrIn, kBitmapAddDvrOut, "Add DVR", "Add DVR"},
    {IDC_PLACEHOLDER_1005, kBitmapSaveGroupIn, kBitmapSaveGroupOut, "-", kNotAvailable},
    // Functions this viewer does not offer: plain buttons that say so.
    {IDC_PLACEHOLDER_1030, 0, 0, "-", nullptr},
    {IDC_PLACEHOLDER_1102, 0, 0, "-", kNotAvailable},
    {IDC_PLACEHOLDER_1103, 0, 0, "-", kNotAvailable},
    {IDC_SOUND, kBitmapSoundIn, kBitmapSoundOut, "Snd", nullptr},
    {IDC_PLAY, kBitmapPlayIn, kBitmapPlayOut, ">", "Play"},
    {IDC_STOP, kBitmapStopIn, kBitmapStopOut, "[]", "Stop"},
    {IDC_PAUSE, kBitmapPauseIn, kBitmapPauseOut, "||", "Pause"},
    {IDC_REWIND, kBitmapRewindIn, kBitmapRewindOut, "<<", "Rewind"},
    {IDC_FAST_FORWARD, kBitmapFastForwardIn, kBitmapFastForwardOut, ">>", "Fast Foward"},
    {IDC_TIMELINE, kBitmapTimelineIn, kBitmapTimelineOut, "Timeline", nullptr},
    {IDC_LOCAL_RECORD, kBitmapLocalRecordIn, kBitmapLocalRecordOut, "Rec", "Local Record"},
    {IDC_CAPTURE, kBitmapCaptureIn, kBitmapCaptureOut, "Cap", "Capture"},
    {IDC_BACKUP, kBitmapBackupIn, kBitmapBackupOut, "Bak", "Backup"},
    {IDC_SPLIT_4, kBitmapSplit4In, kBitmapSplit4Out, "4", "4 Split Mode"},
    {IDC_SPLIT_6, kBitmapSplit6In, kBitmapSplit6Out, "6", "6 Split Mode"},
    {IDC_SPLIT_9, kBitmapSplit9In, kBitmapSplit9Out, "9", "9 Split Mode"},
    {IDC_SPLIT_10, kBitmapSplit10In, kBitmapSplit10Out, "10", "10 Split Mode"},
    {IDC_SPLIT_16, kBitmapSplit16In, kBitmapSplit16Out, "16", "16 Split Mode"},
    {IDC_SPLIT_36, kBitmapSplit36In, kBitmapSplit36Out, "36", "36 Split Mode"},
    {IDC_SPLIT_64, kBitmapSplit64In, kBitmapSplit64Out, "64", "64 Split Mode"},
    {IDC_FULL_SCREEN, kBitmapFullScreenIn, kBitmapFullScreenOut, "Full", "Full Screen Mode"},
    {IDC_NEXT_SPLIT, kBitmapNextSplitIn, kBitmapNextSplitOut, "Next", "Next Split Mode"},
};

const int kSplitButtons[] = {IDC_SPLIT_4, IDC_SPLIT_6, IDC_SPLIT_9, IDC_SPLIT_10, IDC_SPLIT_16,
                             IDC_SPLIT_36, IDC_SPLIT_64, IDC_FULL_SCREEN, IDC_NEXT_SPLIT};
const int kBottomBarButtons[] = {IDC_LOCAL_RECORD, IDC_CAPTURE, IDC_BACKUP};

int SplitOfButton(int id)
{
    switch (id) {
    case IDC_SPLIT_4: return 4;
    case IDC_SPLIT_6: return 6;
    case IDC_SPLIT_9: return 9;
    case IDC_SPLIT_10: return 10;
    case IDC_SPLIT_16: return 16;
    case IDC_SPLIT_36: return 36;
    case IDC_SPLIT_64: return 64;
    default: return 0;
    }
}

} // namespace

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

void CVyrNVRView::CreateWidgets()
{
    for (const ButtonSpec& spec : kButtons) {
        auto* button = new CButtonST(this, spec.id);
        button->setObjectName(QString::number(spec.id));
        viewer::SkinButton(button, spec.in, spec.out, spec.caption);
        if (spec.tooltip)
            button->SetTooltipText(spec.tooltip);
        const int id = spec.id;
        QObject::connect(button, &QPushButton::clicked, this, [this, id] { OnCommand(id); });
        buttons_[id] = button;
    }
    slider_ = new CBitmapSlider(this, IDC_SPEAKER_VOLUME);
    slider_->setObjectName(QString::number(IDC_SPEAKER_VOLUME));
    slider_->SetBitmapChannel(viewer::SkinImage(kBitmapBackupVolumeChannel));
    slider_->SetBitmapThumb(viewer::SkinImage(kBitmapSliderThumb));
    slider_->SetRange(1, 100);
    slider_->SetPos(50);
    scroll_ = new QScrollBar(Qt::Vertical, this);
    scroll_->setObjectName(QString::number(IDC_TIMELINE_SCROLL));
    scroll_->setRange(0, kSlotsPerDay);
    scroll_->hide();
    QObject::connect(scroll_, &QScrollBar::valueChanged, this, [this](int value) { SetScrollRow(value); });
}

void CVyrNVRView::LoadSkin()
{
    skin_.leftTop = LoadBitmap("left_top_bv.bmp");
    skin_.leftLeft = LoadBitmap("left_left.bmp");
    skin_.leftRight = LoadBitmap("left_right.bmp");
    skin_.leftBottom = LoadBitmap("left_buttom.bmp");
    skin_.none = LoadBitmap("none_bv.bmp");
    skin_.top = LoadBitmap("top_bv.bmp");
    skin_.topStretch = LoadBitmap("top_stretch.bmp");
    skin_.bottomRight = LoadBitmap("bottom_right_bv.bmp");
    skin_.timelineLeft = LoadBitmap("timeline_left.bmp");
    skin_.timelineStretch = LoadBitmap("timeline_stretch.bmp");
    skin_.timelineRight = LoadBitmap("timeline_right.bmp");
    skin_.scrollArea = viewer::SkinImage(kBitmapTimelineScrollArea);
    skin_.scrollBack = viewer::SkinImage(kBitmapTimelineScrollBack);
}

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

void CVyrNVRView::BindCamera(int cell, const CCamera& camera)
{
    cells_[cell] = Cell{0, camera.deviceName, static_cast<int16_t>(camera.channelNumber - 1)};
    if (!control_)
        return;
    control_->SetBackupMode(1);
    const QString address = camera.addressType == 0 ? camera.addressText : QString();
    control_->SetConnectInfo(camera.channelName, camera.loginId, camera.password, "", address,
                             static_cast<short>(camera.port), 0, static_cast<short>(camera.channelNumber),
                             static_cast<short>(camera.audioMode), static_cast<short>(cell));
}

void CVyrNVRView::FillDeviceTree()
{
    deviceTree_->clear();
    for (const auto& dvr : document_->Data().deviceList) {
        if (!dvr)
            continue;
        QTreeWidgetItem* item = deviceTree_->InsertSorted(dvr->name, QIcon());
        for (const auto& channel : dvr->channels)
            if (channel)
                viewer::SiteTree::InsertSortedChild(item, channel->name, QIcon());
    }
}

void CVyrNVRView::ShowHandOverButtons(bool visible)
{
    Button(IDC_GO_NETWORK)->setVisible(visible);
    Button(IDC_GO_EVENT)->setVisible(visible);
}

void CVyrNVRView::PlaceWidgets()
{
    const int W = width(), H = height();
    auto place = [this](int id, int x, int y, int w, int h) {
        if (CButtonST* b = Button(id))
            b->setGeometry(x, y, w, h);
    };
    place(IDC_GO_NETWORK, 11, 41, 164, 24);
    place(IDC_GO_EVENT, 11, 69, 164, 24);
    place(IDC_SEARCH_DVR, 11, 97, 80, 24);
    place(IDC_SEARCH_LOCAL, 95, 97, 80, 24);
    // The left column's lower panel holds two rows: "Add DVR" and the first
    // unavailable function, then the other three unavailable ones.
    const int panelTop = H - kLeftBottomPanel - kLeftColumnBottom;
    place(IDC_ADD_DVR, 11, panelTop + 3, 80, 24);
    place(IDC_PLACEHOLDER_1005, 95, panelTop + 3, 80, 24);
    place(IDC_PLACEHOLDER_1030, 11, panelTop + 28, 52, 24);
    place(IDC_PLACEHOLDER_1102, 67, panelTop + 28, 52, 24);
    place(IDC_PLACEHOLDER_1103, 123, panelTop + 28, 52, 24);
    place(IDC_SOUND, 16, H - kLeftBottomPanel + 8, 30, 24);
    slider_->setGeometry(51, H - kLeftBottomPanel + 11, 95, 15);
    const int playX[] = {17, 48, 79, 110, 141};
    const int playIds[] = {IDC_PLAY, IDC_STOP, IDC_PAUSE, IDC_REWIND, IDC_FAST_FORWARD};
    for (int i = 0; i < 5; ++i)
        place(playIds[i], playX[i], H - kLeftBottomPanel + 35, 30, 24);
    place(IDC_TIMELINE, 11, H - 30, 164, 24);
    const int bottom = margins_.bottom;
    place(IDC_LOCAL_RECORD, W - 630, H - bottom + 12, 32, 24);
    place(IDC_CAPTURE, W - 593, H - bottom + 12, 32, 24);
    place(IDC_BACKUP, W - 556, H - bottom + 12, 32, 24);
    for (int i = 0; i < 9; ++i)
        place(kSplitButtons[i], W + 53 * i - 500, H - bottom + 6, 48, 38);
    const int treeTop = 153;
    deviceTree_->setGeometry(16, treeTop, 155, std::max(0, H - kLeftBottomPanel - kLeftColumnBottom - treeTop));
    groupTree_->setGeometry(11, 90, 178, std::max(0, H - kLeftBottomPanel - kLeftColumnBottom - 90));
}

// ---- layout ----------------------------------------------------------------

void CVyrNVRView::LayoutCells()
{
    document_->SettingsGroup().splitMode = static_cast<int16_t>(split_);
    if (split_ != 1 && (currentCell_ < firstCell_ || currentCell_ > firstCell_ + split_ - 1 || currentCell_ >= kCells))
        currentCell_ = firstCell_;
    if (control_)
        control_->ReplaceWnd(static_cast<short>(split_), static_cast<short>(firstCell_),
                             static_cast<short>(currentCell_), static_cast<short>(margins_.left),
                             static_cast<short>(margins_.top), static_cast<short>(margins_.right),
                             static_cast<short>(margins_.bottom));
    update();
}

void CVyrNVRView::SetSplit(int split)
{
    ShowBottom(BottomVideo);
    split_ = viewer::IsSplitMode(split) ? split : 16;
    firstCell_ = 0;
    LayoutCells();
    SelectCell(firstCell_);
}

int CVyrNVRView::HitTestCell(const QPoint& point) const
{
    return viewer::HitTestCell(point, split_, firstCell_, currentCell_, size(), margins_);
}

void CVyrNVRView::NextSplit()
{
    int limit = kCells;
    if (mode_ == DvrMode) {
        // Pages end after the highest cell a camera of the group uses.
        int highest = 0;
        const CGroup& group = document_->SettingsGroup();
        if (group.cameras)
            for (const auto& camera : *group.cameras)
                if (camera)
                    highest = std::max(highest, std::min<int>(camera->cell, kCells - 1));
        limit = highest + 1;
    }
    firstCell_ += split_;
    if (firstCell_ >= limit || firstCell_ >= kCells)
        firstCell_ = 0;
    currentCell_ = firstCell_;
    LayoutCells();
}

void CVyrNVRView::ToggleSingleCell()
{
    if (control_)
        control_->MouseDbClk(static_cast<short>(currentCell_));
    if (split_ == 1) {
        split_ = savedSplit_;
        firstCell_ = savedFirstCell_;
    } else {
        savedSplit_ = split_;
        savedFirstCell_ = firstCell_;
        split_ = 1;
        firstCell_ = currentCell_;
    }
    LayoutCells();
}

void CVyrNVRView::ToggleFullScreen()
{
    fullScreen_ = !fullScreen_;
    margins_ = fullScreen_ ? viewer::PanelMargins{0, 0, 0, 0}
                           : viewer::PanelMargins{kLeftMargin, kTopMargin, kRightMargin, kBottomMargin};
    const bool shown = !fullScreen_;
    deviceTree_->setVisible(shown);
    slider_->setVisible(shown);
    for (auto& [id, button] : buttons_)
        button->setVisible(shown);
    if (onFullScreen)
        onFullScreen(fullScreen_);
    if (!fullScreen_) {
        ShowBottom(BottomVideo);
        PlaceWidgets();
    }
    LayoutCells();
}

void CVyrNVRView::SelectCell(int cell)
{
    if (cell < 0 || cell >= kCells)
        return;
    currentCell_ = cell;
    treeMenuShown_ = false;
    if (control_) {
        const int last = split_ == 1 ? currentCell_ : std::min(firstCell_ + split_, kCells) - 1;
        for (int c = split_ == 1 ? currentCell_ : firstCell_; c <= last; ++c)
            control_->SetSelection(static_cast<short>(c), c == currentCell_);
        // Every cell is empty in local mode: no sound to enable there.
        if (mode_ == DvrMode && cells_[cell].control >= 0)
            control_->AudioEnable(cells_[cell].channel);
    }
    update();
}

// ---- the DVR drop ----------------------------------------------------------

void CVyrNVRView::ClearCameras()
{
    CGroup& group = document_->SettingsGroup();
    if (group.cameras)
        group.cameras->clear();
    else
        group.cameras.emplace();
}

void CVyrNVRView::DropItem(QTreeWidgetItem* item, const QPoint& point)
{
    const int cell = HitTestCell(point);
    if (!item || item->parent() || cell < 0 || cell >= kCells)
        return;
    CDVR* dvr = site::FindDvr(document_->Data(), item->text(0));
    if (!dvr)
        return;
    const int entries = static_cast<int>(dvr->channels.size());
    split_ = entries == 17 ? 16 : (viewer::IsSplitMode(entries) ? entries : split_);
    firstCell_ = 0;
    LayoutCells();
    hasDayData_ = false;
    ShowBottom(BottomVideo);
    if (mode_ == LocalMode)
        LeaveLocalMode();
    else {
        StopAllRecording();
        if (control_)
            control_->DisConnectSvr(-1);
    }
    if (control_)
        control_->ClearInfo(-1);
    ClearCameras();
    for (Cell& c : cells_)
        c = Cell{};
    CGroup& group = document_->SettingsGroup();
    for (int k = 0; k < entries && k < kCells; ++k) {
        const CChannel* channel = dvr->channels[k].get();
        if (!channel)
            continue;
        std::unique_ptr<CCamera> camera = CCamera::ForChannel(*dvr, *channel, k);
        BindCamera(k, *camera);
        group.cameras->push_back(std::move(camera)); // cells ascend with k
    }
    LayoutCells();
    document_->SaveAll(this);
    deviceTree_->setCurrentItem(item);
}

void CVyrNVRView::dragEnterEvent(QDragEnterEvent* event)
{
    if (event->mimeData()->hasFormat(viewer::kTreeItemMime))
        event->acceptProposedAction();
}

void CVyrNVRView::dragMoveEvent(QDragMoveEvent* event)
{
    if (event->mimeData()->hasFormat(viewer::kTreeItemMime))
        event->acceptProposedAction();
}

void CVyrNVRView::dropEvent(QDropEvent* event)
{
    if (!event->mimeData()->hasFormat(viewer::kTreeItemMime))
        return;
    DropItem(deviceTree_->DraggedItem(), event->position().toPoint());
    event->acceptProposedAction();
}

// ---- searches ----------------------------------------------------------------

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
    control_->GetBackupInfo(static_cast<long>(chosenDay_), 0);
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
        control_->DisConnectSvr(-1);
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
    if (control_)
        control_->StartDVRPlaybackTime(static_cast<long>(t), cell, 0);
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
        control_->GetBackupInfo(static_cast<long>(nowTime), 0);
    }
    dialog.Open(now.date().year(), now.date().month());
    const int result = Exec(dialog);
    calendar_ = nullptr;
    monthRequestInFlight_ = false;
    monthWaiting_.reset();
    if (result == QDialog::Accepted) {
        mode_ = DvrMode;
        StopAllRecording();
        control_->DisConnectSvr(-1);
        hasDayData_ = false;
        const int year = dialog.Year(), month = dialog.Month(), day = dialog.SelectedDay();
        if (dialog.TimeSearch()) {
            const QDateTime at(QDate(year, month, day), dialog.ChosenTime());
            StopAllRecording();
            StartDvrPlayback(at.toSecsSinceEpoch(), currentCell_);
            ShowBottom(BottomVideo);
        } else if (SetChosenDay(year, month, day)) {
            control_->GetBackupInfo(static_cast<long>(chosenDay_), 1);
            ShowBottom(BottomTimeline);
        }
        LayoutCells();
    } else if (!(control_->GetStatus(static_cast<short>(cells_[currentCell_].channel)) & 0x40)) {
        StopAllRecording();
        control_->DisConnectSvr(-1);
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

// ---- timeline ----------------------------------------------------------------

void CVyrNVRView::SetDayBlock(const DayBlock& block, int rowCount)
{
    day_ = block;
    hasDayData_ = true;
    rowCount_ = ClampRowCount(rowCount);
    selectedSlot_ = -1;
    update();
}

void CVyrNVRView::SetScrollRow(int row)
{
    scrollRow_ = std::clamp(row, 0, LastScrollRow(rowCount_, mode_ == LocalMode));
    if (scroll_->value() != scrollRow_)
        scroll_->setValue(scrollRow_);
    update();
}

TimelineGeometry CVyrNVRView::Timeline() const
{
    return ComputeTimelineGeometry(size(), fullScreen_ ? 0 : kLeftMargin, fullScreen_ ? 0 : kRightMargin, rowCount_,
                                   mode_ == LocalMode);
}

void CVyrNVRView::ShowBottom(BottomMode mode)
{
    bottom_ = mode;
    cellAtModeChange_ = currentCell_;
    if (mode == BottomVideo)
        scrollBitmapRepaint_ = true;
    const bool timeline = mode == BottomTimeline;
    margins_.bottom = fullScreen_ ? 0 : timeline ? TimelineHeight(rowCount_) : kBottomMargin;
    for (int id : kBottomBarButtons)
        Button(id)->setVisible(!timeline && !fullScreen_);
    for (int id : kSplitButtons)
        Button(id)->setVisible(!timeline && !fullScreen_);
    const TimelineGeometry g = Timeline();
    if (timeline && g.scrolls) {
        scroll_->setRange(0, LastScrollRow(rowCount_, mode_ == LocalMode));
        scroll_->setGeometry(g.ScrollBarRect());
        scroll_->show();
    } else {
        scroll_->hide();
    }
    // Rows that do not scroll start at channel 1, whatever the last search left.
    scrollRow_ = g.scrolls ? std::min(scrollRow_, LastScrollRow(rowCount_, mode_ == LocalMode)) : 0;
    if (initialised_) {
        PlaceWidgets();
        LayoutCells();
    }
    update();
}

bool CVyrNVRView::OnTimelineClick(const QPoint& point)
{
    if (!hasDayData_ || bottom_ != BottomTimeline)
        return false;
    const TimelineGeometry g = Timeline();
    const int slot = HitTestSlot(g, point);
    if (slot < 0)
        return false;
    selectedSlot_ = slot;
    update();
    if (!SlotHasRecordings(day_, rowCount_, slot))
        return true;
    const std::optional<std::time_t> t = SlotTime(chosenDay_, slot);
    if (!t) {
        platform::MessageBox(this, kDateOutOfRange);
        return true;
    }
    if (mode_ == LocalMode)
        StartLocalPlayback(slot, *t);
    else if (control_) {
        StopCell(cellAtModeChange_);
        StartDvrPlayback(*t, 0);
    }
    ShowBottom(BottomVideo);
    LayoutCells();
    return true;
}

// ---- events ------------------------------------------------------------------

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
        if (control_)
            control_->DisConnectSvr(-1);
        break;
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

platform::LRESULT CVyrNVRView::OnMessage(uint32_t message, platform::WPARAM wParam, platform::LPARAM lParam)
{
    switch (message) {
    case vyrdax::WM_VIDEO_SELECT: SelectCell(static_cast<int>(wParam)); return 0;
    case vyrdax::WM_VIDEO_TOGGLE: ToggleSingleCell(); return 0;
    case vyrdax::WM_VIDEO_PROGRESS:
        if (backupDialog_)
            backupDialog_->OnProgress(wParam, lParam);
        else if (wParam == 0)
            monthRequestInFlight_ = false; // the remote session failed: no answer will come
        return 0;
    case vyrdax::WM_VIDEO_TIME_DATA:
        if (control_) {
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
        if (monthWaiting_ && control_) {
            // This answer is for a month no longer shown.
            monthRequestInFlight_ = true;
            control_->GetBackupInfo(static_cast<long>(*monthWaiting_), 0);
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

void CVyrNVRView::ShowTreeMenu(QTreeWidget* tree, const QPoint& globalPos)
{
    treeMenuShown_ = true;
    QTreeWidgetItem* item = tree->currentItem();
    if (!item)
        return;
    QMenu menu(this);
    QAction* remove = menu.addAction("Delete");
    QAction* properties = menu.addAction("Properties");
    QAction* chosen = menu.exec(globalPos);
    const QString dvrName = item->parent() ? item->parent()->text(0) : item->text(0);
    if (chosen == remove) {
        const bool removed = item->parent() ? site::RemoveChannel(document_->Data(), dvrName, item->text(0))
                                            : site::RemoveDvrByName(document_->Data(), dvrName);
        if (removed) {
            delete item;
            document_->SaveAll(this);
        }
    } else if (chosen == properties) {
        OpenDvrProperties(dvrName, item->parent() ? item->text(0) : QString());
    }
}

void CVyrNVRView::OpenDvrProperties(const QString& dvrName, const QString& channelName)
{
    CPropertyDlg dialog(document_->Data(), CPropertyDlg::ModeEditDvr, this);
    dialog.SetDvrName(dvrName);
    dialog.SetChannelName(channelName);
    // A DVR whose cameras are bound keeps its connection fields.
    bool bound = false;
    const CGroup& group = document_->SettingsGroup();
    if (group.cameras)
        for (const auto& camera : *group.cameras)
            bound = bound || (camera && camera->deviceName == dvrName);
    dialog.SetReadOnly(bound);
    if (Exec(dialog) != QDialog::Accepted)
        return;
    FillDeviceTree();
    document_->SaveAll(this);
}

void CVyrNVRView::ShowCellProperties()
{
    const int cell = currentCell_;
    if (!control_ || cells_[cell].control < 0)
        return;
    const QString channelName = control_->GetChannelName(static_cast<short>(cell));
    CGroup& group = document_->SettingsGroup();
    if (!group.cameras)
        return;
    for (const auto& camera : *group.cameras) {
        if (!camera || camera->channelName != channelName || camera->cell != cell)
            continue;
        const bool hasDvr = !camera->deviceName.isEmpty();
        CPropertyDlg dialog(document_->Data(), hasDvr ? CPropertyDlg::ModeEditDvr : CPropertyDlg::ModeEditCamera, this);
        dialog.SetDvrName(hasDvr ? camera->deviceName : group.name);
        dialog.SetChannelName(channelName);
        dialog.SetReadOnly(true);
        Exec(dialog);
        return;
    }
}

void CVyrNVRView::contextMenuEvent(QContextMenuEvent* event)
{
    if (treeMenuShown_ || !control_)
        return;
    const QPoint at = event->pos();
    if (split_ != 1 || !control_->PointInRect(static_cast<short>(currentCell_), at.x(), at.y())) {
        const int cell = HitTestCell(at);
        if (cell < 0)
            return;
        SelectCell(cell);
    }
    QMenu menu(this);
    const std::pair<const char*, int> items[] = {{"DVR Search", ID_CELL_DVR_SEARCH},
                                                 {"Local Search", ID_CELL_LOCAL_SEARCH},
                                                 {"Disconnect", ID_CELL_DISCONNECT},
                                                 {"Local Record", ID_CELL_LOCAL_RECORD},
                                                 {"Capture", ID_CELL_CAPTURE},
                                                 {"Properties", ID_CELL_PROPERTIES}};
    for (const auto& [text, id] : items) {
        QAction* action = menu.addAction(text);
        const int command = id;
        QObject::connect(action, &QAction::triggered, this, [this, command] { OnCommand(command); });
    }
    menu.exec(event->globalPos());
}

// ---- painting ----------------------------------------------------------------

void CVyrNVRView::PaintSkin(QPainter& p)
{
    const int W = width(), H = height();
    p.fillRect(rect(), QColor(0x0F, 0x3A, 0x79));
    auto draw = [&p](const QImage& image, const QRect& target) {
        if (!image.isNull() && target.isValid())
            p.drawImage(target, image);
    };
    draw(skin_.leftTop, QRect(0, 0, 185, 153));
    const int leftBottomTop = H - kLeftColumnBottom - kLeftBottomPanel;
    draw(skin_.leftLeft, QRect(0, 153, 16, leftBottomTop - 153));
    draw(skin_.leftRight, QRect(169, 153, 16, leftBottomTop - 153));
    draw(skin_.leftBottom, QRect(0, leftBottomTop, kLeftMargin, kLeftColumnBottom));
    draw(skin_.none, QRect(0, H - kLeftBottomPanel, kLeftMargin, kLeftBottomPanel));
    draw(skin_.top, QRect(kLeftMargin, 0, std::min(730, W - kLeftMargin), 50));
    if (W - kLeftMargin > 730)
        draw(skin_.topStretch, QRect(kLeftMargin + 730, 0, W - kLeftMargin - 730, 50));
    draw(skin_.topStretch, QRect(W - kRightMargin, 50, kRightMargin, H - 50 - kBottomMargin));
    if (bottom_ == BottomVideo) {
        draw(skin_.topStretch, QRect(kLeftMargin, H - kBottomMargin, W - kLeftMargin - 643, kBottomMargin));
        draw(skin_.bottomRight, QRect(W - 643, H - kBottomMargin, 643, kBottomMargin));
    } else {
        const int h = margins_.bottom;
        draw(skin_.timelineLeft, QRect(kLeftMargin, H - h, 100, h));
        draw(skin_.timelineStretch, QRect(kLeftMargin + 100, H - h, W - kLeftMargin - 130, h));
        draw(skin_.timelineRight, QRect(W - 30, H - h, 30, h));
    }
}

void CVyrNVRView::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    if (fullScreen_) {
        p.fillRect(rect(), Qt::black);
        return;
    }
    PaintSkin(p);
    if (bottom_ == BottomTimeline && hasDayData_) {
        PaintTimeline(p, Timeline(), &day_, scrollRow_, selectedSlot_);
        PaintScrollArea(p);
    }
}

void CVyrNVRView::PaintScrollArea(QPainter& p)
{
    if (!Timeline().scrolls)
        return;
    // The scroll bar sits on this area; the first drawing after the video
    // was back gets the backing bitmap so no stale cell shows around it.
    const QImage& image = scrollBitmapRepaint_ ? skin_.scrollBack : skin_.scrollArea;
    scrollBitmapRepaint_ = false;
    if (!image.isNull())
        p.drawImage(Timeline().ScrollBarRect(), image);
}

// ---- close -----------------------------------------------------------------

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
    if (control_)
        control_->DisConnectSvr(-1);
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
        control_->DisConnectSvr(-1);
    }
    return busy;
}
