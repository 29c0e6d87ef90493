// The network viewer's view: start-up, skin, layout, painting and commands.
#include "CVyrNVRView.h"
#include "netviewer/setup/CConfigDlg.h"

#include "viewercore/view/SiteTree.h"
#include "control/interface/VyrdaxInterface.h"
#include "netviewer/CVyrNVRDoc.h"
#include "platform/MessageBox.h"
#include "viewercore/widgets/CButtonST.h"

#include <QContextMenuEvent>
#include <QDir>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QTimerEvent>
#include <QTreeWidget>

namespace {

using viewer::PanelMargins;

constexpr int kTimerCloseCaller = 9999;
constexpr int kCloseCallerDelayMs = 500;
constexpr int kLeftBottomHeight = 54;

QImage LoadBitmap(const QString& name)
{
    QImage image(QDir::current().filePath("image/" + name));
    return image;
}

// Creates every missing directory of `path`, parents first; stops at the
// first that cannot be made, so it always ends.
bool CreateDirectoryTree(const QString& path)
{
    return !path.isEmpty() && QDir().mkpath(path);
}

} // namespace

CVyrNVRView::CVyrNVRView(CVyrNVRDoc* document, QWidget* parent)
    : QWidget(parent),
      document_(document),
      timers_(this, [this](unsigned id) { OnTimer(id); }),
      clock_([] { return QDateTime::currentDateTime(); }),
      diskMonitor_(this, WM_DISK_SPACE_LOW)
{
    setObjectName("101");
    setAcceptDrops(true);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    deviceTree_ = new viewer::SiteTree(this, IDC_DEVICE_TREE, false);
    groupTree_ = new viewer::SiteTree(this, IDC_GROUP_TREE, true);
    for (viewer::SiteTree* tree : {deviceTree_, groupTree_})
        tree->onContextMenu = [this](viewer::SiteTree* t, const QPoint& at) { ShowTreeMenu(t, at); };
    connectTimer_.setSingleShot(true);
    QObject::connect(&connectTimer_, &QTimer::timeout, this, [this] { ConnectNextPending(); });
}

CVyrNVRView::~CVyrNVRView()
{
    connectTimer_.stop();
    diskMonitor_.Stop();
    for (auto& control : controls_)
        control.reset(); // each control joins its own threads
}

QTreeWidget* CVyrNVRView::DeviceTree() const { return deviceTree_; }
QTreeWidget* CVyrNVRView::GroupTree() const { return groupTree_; }

int CVyrNVRView::ControlsCreated() const
{
    int n = 0;
    for (const auto& c : controls_)
        n += c != nullptr;
    return n;
}

void CVyrNVRView::LoadSkin()
{
    skin_.leftTop = LoadBitmap("left_top.bmp");
    skin_.leftTopGroup = LoadBitmap("left_top_group.bmp");
    skin_.leftLeft = LoadBitmap("left_left.bmp");
    skin_.leftRight = LoadBitmap("left_right.bmp");
    skin_.leftBottom = LoadBitmap("left_buttom.bmp");
    skin_.ptz = LoadBitmap("ptzcontrol.bmp");
    skin_.preset = LoadBitmap("preset.bmp");
    skin_.none = LoadBitmap("none.bmp");
    skin_.audio = LoadBitmap("audio.bmp");
    skin_.topStretch = LoadBitmap("top_stretch.bmp");
    skin_.bottomRight = LoadBitmap("bottom_right.bmp");
}

void CVyrNVRView::OnInitialUpdate()
{
    fullScreen_ = false;
    savedSplitMode_ = 16;
    firstCell_ = 0;
    selectedCell_ = 0;
    SettingsDocument& data = document_->Data();
    if (data.recordingDirectory.isEmpty())
        data.recordingDirectory = DefaultRecordingDirectory();
    if (data.captureDirectory.isEmpty())
        data.captureDirectory = DefaultCaptureDirectory();
    CreateDirectoryTree(data.recordingDirectory);
    CreateDirectoryTree(data.captureDirectory);
    margins_ = PanelMargins{};
    panelMode_ = 0;
    LoadSkin();
    CreateButtons();
    CreatePanelControls();
    RestoreCurrentGroup();
    ShowDeviceTree(true);
    FillDeviceTree();
    FillGroupTree();
    if (!controls_[0]) {
        if (CDVyrdax* control = EnsureControl(0, 0)) {
            cells_[0].slot = 0;
            cells_[0].deviceName.clear();
            cells_[0].channel = 0;
            control->SetConnectInfo("", "", "", "", "", 0, 0, 1, 0, 0);
            inUse_[0] = true;
        }
    }
    initialised_ = true;
    PlaceButtons();
    LayoutCells();
    if (CGroup* group = document_->CurrentGroup(); group && group->autoConnecting == 1)
        ConnectAll();
    closeCallerTimer_ = startTimer(kCloseCallerDelayMs);
    PublishDiskSettings();
    diskMonitor_.Start();
    update();
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
        return;
    }
    QWidget::timerEvent(event);
}

CDVyrdax* CVyrNVRView::EnsureControl(int slot, int controlId)
{
    if (slot < 0 || slot >= kCells)
        return nullptr;
    if (!controls_[slot]) {
        auto control = std::make_unique<CDVyrdax>();
        if (!control->Create(this, controlId))
            return nullptr;
        control->setVersion(1);
        control->setDispChannel(static_cast<short>(splitMode_));
        control->SetBackupMode(0);
        controls_[slot] = std::move(control);
    }
    return controls_[slot].get();
}

int CVyrNVRView::FindSlotOfDevice(const QString& deviceName) const
{
    for (const Cell& c : cells_)
        if (c.slot >= 0 && !c.deviceName.isEmpty() && c.deviceName == deviceName)
            return c.slot;
    return -1;
}

int CVyrNVRView::SlotForChannel(const QString& deviceName, int channelNumber, int cell, int controlId)
{
    int slot = FindSlotOfDevice(deviceName);
    if (slot < 0) {
        slot = LowestFreeSlot();
        return slot >= 0 && EnsureControl(slot, controlId) ? slot : -1;
    }
    // The device's control already shows this channel elsewhere: it moves.
    for (int other = 0; other < kCells; ++other)
        if (other != cell && cells_[other].slot == slot && cells_[other].channel == channelNumber - 1) {
            MoveCellBinding(other, cell);
            break;
        }
    return slot;
}

void CVyrNVRView::BindGroupCamera(const CCamera& camera)
{
    const QString address = camera.addressType == CDVR::AddressFixed ? camera.addressText : QString();
    const int slot = SlotForChannel(camera.deviceName, camera.channelNumber, camera.cell, camera.cell);
    if (slot >= 0)
        BindCell(camera.cell, slot, camera, address);
}

int CVyrNVRView::LowestFreeSlot() const
{
    for (int slot = 0; slot < kCells; ++slot) {
        bool used = false;
        for (const Cell& c : cells_)
            used = used || c.slot == slot;
        if (!used)
            return slot;
    }
    return -1;
}

void CVyrNVRView::RestoreCurrentGroup()
{
    for (Cell& c : cells_)
        c = Cell{};
    SettingsDocument& data = document_->Data();
    if (!data.currentGroup) {
        data.currentGroup = std::make_unique<CGroup>(ViewerVariant::Network);
        splitMode_ = 16;
        LayoutCells();
        return;
    }
    CGroup& group = *data.currentGroup;
    splitMode_ = viewer::IsSplitMode(group.splitMode) ? group.splitMode : 16;
    LayoutCells();
    if (!group.cameras)
        group.cameras.emplace();
    for (const auto& camera : *group.cameras)
        if (camera && camera->cell >= 0 && camera->cell < kCells)
            BindGroupCamera(*camera);
}

void CVyrNVRView::BindCell(int cell, int slot, const CCamera& camera, const QString& address)
{
    CDVyrdax* control = ControlAt(slot);
    if (!control || cell < 0 || cell >= kCells)
        return;
    Cell& c = cells_[cell];
    c.slot = static_cast<int16_t>(slot);
    c.deviceName = camera.deviceName;
    c.channel = static_cast<int16_t>(camera.channelNumber - 1);
    control->SetConnectInfo(camera.channelName, camera.loginId, camera.password, camera.groupName, address,
                            static_cast<short>(camera.port), 0, static_cast<short>(camera.channelNumber),
                            static_cast<short>(camera.audioMode), static_cast<short>(cell));
    inUse_[slot] = true;
    c.emptyPainted = false;
    if (control->Widget())
        control->Widget()->show();
}

// ---- layout -----------------------------------------------------------------

void CVyrNVRView::SetSplitMode(int splitMode)
{
    splitMode_ = viewer::IsSplitMode(splitMode) ? splitMode : 16;
    firstCell_ = 0;
    LayoutCells();
    SelectCell(0);
}

QRect CVyrNVRView::FieldCellRect(int cell) const
{
    return viewer::CellRectangle(cell, splitMode_, firstCell_, selectedCell_, size(), margins_);
}

int CVyrNVRView::HitTestCell(const QPoint& point) const
{
    return viewer::HitTestCell(point, splitMode_, firstCell_, selectedCell_, size(), margins_);
}

void CVyrNVRView::LayoutCells()
{
    if (CGroup* group = document_->CurrentGroup())
        group->splitMode = static_cast<int16_t>(splitMode_);
    auto place = [this](int slot) {
        if (CDVyrdax* control = ControlAt(slot); control && inUse_[slot])
            control->ReplaceWnd(static_cast<short>(splitMode_), static_cast<short>(firstCell_),
                                static_cast<short>(selectedCell_), static_cast<short>(margins_.left),
                                static_cast<short>(margins_.top), static_cast<short>(margins_.right),
                                static_cast<short>(margins_.bottom));
    };
    const int selectedSlot = selectedCell_ >= 0 && selectedCell_ < kCells ? cells_[selectedCell_].slot : -1;
    // The selected cell's control goes first after the single cell was left
    // and last in split 1, so its pane is the one on top.
    if (singleJustLeft_ && selectedSlot >= 0)
        place(selectedSlot);
    for (int slot = 0; slot < kCells; ++slot)
        if (slot != selectedSlot)
            place(slot);
    if (!singleJustLeft_ && selectedSlot >= 0)
        place(selectedSlot);
    singleJustLeft_ = false;

    for (int cell = 0; cell < kCells; ++cell) {
        cells_[cell].rect = FieldCellRect(cell);
        cells_[cell].emptyPainted = cells_[cell].slot < 0 && !cells_[cell].rect.isEmpty();
    }
    if (splitMode_ != 1 && (selectedCell_ < firstCell_ || selectedCell_ >= firstCell_ + splitMode_))
        selectedCell_ = firstCell_;
    MarkSelectedCell(selectedCell_);
    update();
}

void CVyrNVRView::SelectCell(int cell)
{
    if (cell < 0 || cell >= kCells)
        return;
    selectedCell_ = cell;
    MarkSelectedCell(cell);
}

void CVyrNVRView::MarkSelectedCell(int highlighted)
{
    for (int cell = 0; cell < kCells; ++cell) {
        const Cell& c = cells_[cell];
        if (c.slot < 0 || c.rect.isEmpty())
            continue;
        if (CDVyrdax* control = ControlAt(c.slot))
            control->SetSelection(c.channel, cell == highlighted ? 1 : 0);
    }
}

void CVyrNVRView::ToggleSingleCell()
{
    if (splitMode_ == 1) {
        splitMode_ = savedSplitMode_;
        firstCell_ = savedFirstCell_;
        singleJustLeft_ = true;
    } else {
        savedSplitMode_ = splitMode_;
        savedFirstCell_ = firstCell_;
        splitMode_ = 1;
        firstCell_ = selectedCell_;
    }
    LayoutCells();
}

void CVyrNVRView::NextPage()
{
    int highest = 0;
    if (CGroup* group = document_->CurrentGroup(); group && group->cameras)
        for (const auto& camera : *group->cameras)
            if (camera && camera->cell < kCells)
                highest = std::max(highest, static_cast<int>(camera->cell));
    firstCell_ += splitMode_;
    if (firstCell_ > highest || firstCell_ >= kCells)
        firstCell_ = 0;
    selectedCell_ = firstCell_;
    LayoutCells();
}

void CVyrNVRView::ToggleFullScreen()
{
    fullScreen_ = !fullScreen_;
    margins_ = fullScreen_ ? PanelMargins{0, 0, 0, 0} : PanelMargins{};
    if (onFullScreen)
        onFullScreen(fullScreen_);
    deviceTree_->setVisible(!fullScreen_ && deviceTreeShown_);
    groupTree_->setVisible(!fullScreen_ && !deviceTreeShown_);
    for (auto& [id, button] : buttons_)
        button->setVisible(!fullScreen_);
    PlaceButtons();
    LayoutCells();
}

void CVyrNVRView::resizeEvent(QResizeEvent*)
{
    if (!initialised_)
        return;
    PlaceButtons();
    LayoutCells();
}

// ---- painting ---------------------------------------------------------------

void CVyrNVRView::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const int W = width(), H = height();
    p.fillRect(rect(), QColor(0x10, 0x18, 0x28));
    if (!fullScreen_) {
        const int ph = kPanelHeights[panelMode_];
        const QImage& top = deviceTreeShown_ ? skin_.leftTop : skin_.leftTopGroup;
        p.drawImage(0, 0, top);
        const int edge = H - ph - 114;
        if (edge > 0) {
            p.drawImage(QRect(0, 154, 16, edge), skin_.leftLeft);
            p.drawImage(QRect(169, 154, 17, edge), skin_.leftRight);
        }
        p.drawImage(0, H - ph - kLeftBottomHeight, skin_.leftBottom);
        const QImage* panels[4] = {&skin_.none, &skin_.ptz, &skin_.preset, &skin_.audio};
        p.drawImage(0, H - ph, *panels[panelMode_]);
        p.drawImage(QRect(185, 0, W - 186, 50), skin_.topStretch);
        p.drawImage(QRect(W - 16, 0, 16, H - 55), skin_.topStretch);
        p.drawImage(QRect(186, H - 55, std::max(0, W - 646 - 186), 55), skin_.topStretch);
        p.drawImage(W - 646, H - 55, skin_.bottomRight);
    }
    const QRect field(QPoint(margins_.left, margins_.top),
                      QPoint(W - margins_.right - 1, H - margins_.bottom - 1));
    QFont font("DejaVu Sans");
    font.setPixelSize(11);
    p.setFont(font);
    for (int cell = 0; cell < kCells; ++cell) {
        const Cell& c = cells_[cell];
        if (!c.emptyPainted || c.rect.isEmpty())
            continue;
        p.fillRect(c.rect, Qt::black);
        p.setPen(QColor(0x20, 0x20, 0x20));
        p.drawRect(c.rect.adjusted(0, 0, -1, -1));
        if (field.contains(c.rect)) {
            p.setPen(QColor(200, 200, 200));
            p.drawText(c.rect.topLeft() + QPoint(2, 1 + QFontMetrics(font).ascent()), kEmptyCellText);
        }
    }
}

// ---- messages and commands --------------------------------------------------

bool CVyrNVRView::event(QEvent* e)
{
    if (platform::HandleMessageEvent(e, this))
        return true;
    return QWidget::event(e);
}

void CVyrNVRView::keyPressEvent(QKeyEvent* event)
{
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && (event->modifiers() & Qt::AltModifier)) {
        ToggleFullScreen();
        return;
    }
    if (event->key() == Qt::Key_Escape && fullScreen_) {
        ToggleFullScreen();
        return;
    }
    QWidget::keyPressEvent(event);
}

void CVyrNVRView::OnCommand(int id)
{
    switch (id) {
    case IDC_CONNECT: ConnectAll(); break;
    case IDC_DISCONNECT: DisconnectPage(); break;
    case IDC_SPLIT_4: SetSplitMode(4); break;
    case IDC_SPLIT_6: SetSplitMode(6); break;
    case IDC_SPLIT_9: SetSplitMode(9); break;
    case IDC_SPLIT_10: SetSplitMode(10); break;
    case IDC_SPLIT_16: SetSplitMode(16); break;
    case IDC_SPLIT_36: SetSplitMode(36); break;
    case IDC_SPLIT_64: SetSplitMode(64); break;
    case IDC_FULL_SCREEN: ToggleFullScreen(); break;
    case IDC_NEXT_SPLIT: NextPage(); break;
    case IDC_DEVICE_TAB: ShowDeviceTree(true); break;
    case IDC_GROUP_TAB: ShowDeviceTree(false); break;
    case IDC_ADD_DVR: OnAddDvr(); break;
    case IDC_SAVE_GROUP: OnSaveGroup(); break;
    case IDC_ADD_IP_CAMERA:
    case IDC_ADD_VIDEO_SERVER: platform::MessageBox(this, kNotAvailable); break;
    case IDC_GO_BACKUP:
    case IDC_GO_EVENT:
        if (onHandOver)
            onHandOver(id);
        break;
    case ID_CELL_CONNECT: ConnectSelected(); break;
    case ID_CELL_DISCONNECT: DisconnectSelected(); break;
    case ID_CELL_CLEAR:
        if (!CellUsable(selectedCell_))
            platform::MessageBox(this, kDropDvrFirst);
        else
            ClearCell(selectedCell_);
        break;
    case ID_CELL_CLEAR_ALL: ClearAllCells(); break;
    case ID_CELL_CONNECT_ALL: ConnectAll(); break;
    case ID_CELL_DISCONNECT_ALL: StopAllChannels(); break; // every cell, shown or not
    case ID_CELL_PROPERTIES:
        if (!CellUsable(selectedCell_))
            platform::MessageBox(this, kDropDvrFirst);
        else
            ShowCellProperties();
        break;
    case IDC_DVR_RECORD:
    case ID_CELL_DVR_RECORD: DvrRecordSelected(); break;
    case IDC_LOCAL_RECORD:
    case ID_CELL_LOCAL_RECORD: LocalRecordSelected(); break;
    case IDC_CAPTURE:
    case ID_CELL_CAPTURE: CaptureSelected(); break;
    case IDC_PTZ_PANEL:
    case IDC_PRESET_PANEL:
    case IDC_AUDIO_PANEL: OnPanelButton(id); break;
    case IDC_PRESET_GO:
    case IDC_PRESET_SET:
    case IDC_PRESET_CLEAR: OnPresetCommand(id); break;
    case IDC_LISTEN: OnListen(); break;
    case IDC_DEVICE_SETUP: OnDeviceSetup(); break;
    case IDC_LOCAL_SETUP: OnLocalSetup(); break;
    default: break;
    }
}

void CVyrNVRView::ShowCellMenu(const QPoint& globalPos)
{
    int found = -1;
    if (splitMode_ == 1) {
        const Cell& c = cells_[selectedCell_];
        if (CDVyrdax* control = ControlAt(c.slot); control && control->PointInRect(c.channel, globalPos.x(), globalPos.y()))
            found = selectedCell_;
    } else {
        for (int cell = firstCell_; cell < firstCell_ + splitMode_ && cell < kCells && found < 0; ++cell) {
            const Cell& c = cells_[cell];
            if (CDVyrdax* control = ControlAt(c.slot); control && control->PointInRect(c.channel, globalPos.x(), globalPos.y()))
                found = cell;
        }
    }
    if (found < 0)
        return;
    selectedCell_ = found;
    MarkSelectedCell(found);
    QMenu menu(this);
    const struct {
        const char* text;
        int id;
    } items[] = {{"Connect", ID_CELL_CONNECT},       {"Disconnect", ID_CELL_DISCONNECT},
                 {nullptr, 0},                       {"Connect All", ID_CELL_CONNECT_ALL},
                 {"Disconnect All", ID_CELL_DISCONNECT_ALL}, {nullptr, 0},
                 {"DVR Record", ID_CELL_DVR_RECORD}, {"Local Record", ID_CELL_LOCAL_RECORD},
                 {"Capture", ID_CELL_CAPTURE},       {nullptr, 0},
                 {"Clear", ID_CELL_CLEAR},           {"Clear All", ID_CELL_CLEAR_ALL},
                 {nullptr, 0},                       {"Properties", ID_CELL_PROPERTIES}};
    for (const auto& item : items) {
        if (!item.text) {
            menu.addSeparator();
            continue;
        }
        QAction* action = menu.addAction(item.text);
        action->setData(item.id);
    }
    if (QAction* chosen = menu.exec(globalPos))
        OnCommand(chosen->data().toInt());
}

void CVyrNVRView::contextMenuEvent(QContextMenuEvent* event)
{
    if (treeMenuShown_)
        return;
    ShowCellMenu(event->globalPos());
}
