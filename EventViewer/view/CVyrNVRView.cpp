#include "CVyrNVRView.h"

#include "EventViewer/CEventViewerDoc.h"
#include "EventViewer/dialogs/CSystemSetupDlg.h"
#include "EventViewer/monitor/CEventDlg.h"
#include "EventViewer/search/CEventSearchDlg.h"
#include "control/interface/VyrdaxInterface.h"
#include "viewercore/dvyrdax/CDVyrdax.h"
#include "viewercore/widgets/CButtonST.h"
#include "viewercore/widgets/SkinResources.h"

#include <QDir>
#include <QPainter>
#include <QTimerEvent>

namespace {

constexpr QRgb kBackgroundColour = 0xE2E2E2;
// Control ids of the hidden instances.
constexpr int kFirstInstanceId = 2000;

struct ButtonSpec {
    int id;
    const char* tooltip;
    const char* caption; // shown when the skin has no bitmap for the button
    int in, out;
    QRect rect;
};

const ButtonSpec kButtons[] = {
    {IDC_GO_NETWORK_VIEWER, "Go To Network Viewer", "Network Viewer", kBitmapGoToNetworkViewerIn,
     kBitmapGoToNetworkViewerOut, QRect(12, 9, 164, 24)},
    {IDC_GO_BACKUP_VIEWER, "Go To Backup Viewer", "Backup Viewer", kBitmapGoToBackupViewerIn,
     kBitmapGoToBackupViewerOut, QRect(180, 9, 164, 24)},
    {IDC_EVENT_SETUP, "Setup", "Setup", kBitmapEventSetupIn, kBitmapEventSetupOut, QRect(363, 10, 38, 24)},
    {IDC_MONITOR_PAGE, "", "Event Monitor", kBitmapEventMonitorPageIn, kBitmapEventMonitorPageOut,
     QRect(11, 51, 164, 23)},
    {IDC_SEARCH_PAGE, "", "Event Search", kBitmapEventSearchPageIn, kBitmapEventSearchPageOut,
     QRect(178, 51, 163, 23)},
};

QImage LoadSkinFile(const QString& name)
{
    return QImage(QDir::current().filePath("image/" + name));
}

QImage SkinImage(int id)
{
    return QImage(QDir::current().filePath(SkinResourcePath(id)));
}

QColor KeyOf(int id)
{
    const SkinResource* r = FindSkinResource(id);
    const uint32_t key = r ? r->transparent : kSkinKeyOut;
    return QColor::fromRgb(key == kSkinOpaque ? 0xFF00FF : key);
}

} // namespace

CVyrNVRView::CVyrNVRView(CVyrNVRDoc* document, QWidget* parent)
    : QWidget(parent), document_(document), timers_(this, [this](unsigned id) { OnTimer(id); })
{
    setObjectName(QString::number(IDD_EVENT_VIEW));
    setAttribute(Qt::WA_OpaquePaintEvent);
}

CVyrNVRView::~CVyrNVRView()
{
    // The search's threads and the writer go before what they use.
    if (search_)
        search_->OnStop();
    // The writer goes before the instances it was fed from.
    if (monitor_)
        monitor_->Shutdown();
    for (auto& instance : instances_)
        instance.reset();
}

void CVyrNVRView::OnInitialUpdate()
{
    LoadSkin();
    for (int i = 0; i < kSlots; ++i) {
        auto instance = std::make_unique<CDVyrdax>();
        if (!instance->Create(this, kFirstInstanceId + i))
            continue;
        if (QWidget* w = instance->Widget())
            w->hide();
        instance->setDispChannel(static_cast<short>(i));
        instance->SetBackupMode(3);
        instances_[static_cast<std::size_t>(i)] = std::move(instance);
    }
    if (CDVyrdax* first = Instance(0))
        first->SetConnectInfo("", "", "", "", "", 0, 0, 1, 0, 0);
    CreateButtons();
    ShowMonitorPage();
    PlaceButtons();
    timers_.SetTimer(kTimerCloseCaller, kCloseCallerMs);
    timers_.SetTimer(kTimerBackupMode, kBackupModeMs);
    update();
}

void CVyrNVRView::LoadSkin()
{
    skin_.top = LoadSkinFile("top_event.bmp");
    skin_.topStretch = LoadSkinFile("top_stretch_event.bmp");
    skin_.topRight = LoadSkinFile("top_right_event.bmp");
    skin_.rightStretch = LoadSkinFile("event_right_stretch.bmp");
    skin_.bottomStretch = LoadSkinFile("event_bottom_stretch.bmp");
}

void CVyrNVRView::CreateButtons()
{
    for (const ButtonSpec& spec : kButtons) {
        auto* button = new CButtonST(this, spec.id);
        button->setObjectName(QString::number(spec.id));
        const QImage in = SkinImage(spec.in);
        const QImage out = SkinImage(spec.out);
        if (in.isNull() || out.isNull() ||
            button->SetBitmaps(in, KeyOf(spec.in), out, KeyOf(spec.out)) != CButtonST::BitmapsTaken)
            button->setText(spec.caption);
        else
            button->SetDrawBorder(false);
        if (spec.tooltip[0])
            button->SetTooltipText(spec.tooltip);
        button->SetFlat(true);
        const int id = spec.id;
        QObject::connect(button, &QPushButton::clicked, this, [this, id] { OnCommand(id); });
        button->show();
        buttons_[spec.id] = button;
    }
    // Shown once the caller has been closed.
    ShowHandOverButtons(false);
}

CButtonST* CVyrNVRView::Button(int id) const
{
    const auto it = buttons_.find(id);
    return it == buttons_.end() ? nullptr : it->second;
}

void CVyrNVRView::PlaceButtons()
{
    for (const ButtonSpec& spec : kButtons)
        if (CButtonST* button = Button(spec.id))
            button->setGeometry(spec.rect);
    PlacePages();
}

void CVyrNVRView::PlacePages()
{
    const QRect page(11, kSkinTopHeight, std::max(100, width() - 23), std::max(100, height() - kSkinTopHeight - 17));
    if (monitor_)
        monitor_->setGeometry(page);
    if (search_)
        search_->setGeometry(page);
}

void CVyrNVRView::ShowHandOverButtons(bool visible)
{
    handOverShown_ = visible;
    for (int id : {IDC_GO_NETWORK_VIEWER, IDC_GO_BACKUP_VIEWER})
        if (CButtonST* button = Button(id))
            button->setVisible(visible);
}

bool CVyrNVRView::HandOverButtonsVisible() const
{
    return handOverShown_;
}

void CVyrNVRView::ShowMonitorPage()
{
    if (!monitor_) {
        monitor_ = new CEventDlg(&document_->Data(), this, [this] { document_->SaveSettingsFiles(this); }, this);
        monitor_->OnInitDialog();
        // A backup, from the size warning or the setup dialog, first stops a
        // running search.
        monitor_->onBeforeBackup = [this] {
            if (search_)
                search_->OnStop();
        };
        PlacePages();
    }
    if (search_)
        search_->hide();
    monitor_->show();
    SetPageFaces();
}

void CVyrNVRView::ShowSearchPage()
{
    if (!search_) {
        search_ = new CEventSearchDlg(&document_->Data(), [this] { document_->SaveSettingsFiles(this); }, this);
        search_->OnInitDialog();
        PlacePages();
    }
    // Both pages keep running while hidden.
    if (monitor_)
        monitor_->hide();
    search_->show();
    SetPageFaces();
}

void CVyrNVRView::SetPageFaces()
{
    // The active page's button shows its "in" face for good, the other
    // one its usual pair.
    const bool searchShown = search_ && search_->isVisible();
    struct Face {
        int button, in, out;
        bool active;
    };
    const Face faces[] = {
        {IDC_MONITOR_PAGE, kBitmapEventMonitorPageIn, kBitmapEventMonitorPageOut, !searchShown},
        {IDC_SEARCH_PAGE, kBitmapEventSearchPageIn, kBitmapEventSearchPageOut, searchShown},
    };
    for (const Face& face : faces) {
        CButtonST* button = Button(face.button);
        const QImage in = SkinImage(face.in);
        const QImage out = SkinImage(face.out);
        if (!button || in.isNull() || out.isNull())
            continue;
        if (face.active)
            button->SetBitmaps(in, KeyOf(face.in), in, KeyOf(face.in));
        else
            button->SetBitmaps(in, KeyOf(face.in), out, KeyOf(face.out));
    }
}

void CVyrNVRView::OnCommand(int id)
{
    switch (id) {
    case IDC_MONITOR_PAGE:
        ShowMonitorPage();
        break;
    case IDC_EVENT_SETUP:
        OpenSystemSetup();
        break;
    case IDC_GO_NETWORK_VIEWER:
    case IDC_GO_BACKUP_VIEWER:
        if (onHandOver)
            onHandOver(id);
        break;
    case IDC_SEARCH_PAGE:
        ShowSearchPage();
        break;
    default:
        break;
    }
}

void CVyrNVRView::OpenSystemSetup()
{
    SettingsDocument& data = document_->Data();
    CSystemSetupDlg dialog(data.databaseDirectory, data.searchDatabaseDirectory, this);
    dialog.onBackup = [this] { monitor_->BackupDatabase(); };
    if (dialog.exec() != QDialog::Accepted)
        return;
    data.databaseDirectory = dialog.DatabaseDirectory();
    data.searchDatabaseDirectory = dialog.SearchDatabaseDirectory();
    document_->SaveSettingsFiles(this);
    monitor_->SetDatabaseDirectory(data.databaseDirectory);
    if (search_)
        search_->SetSearchDirectory(data.searchDatabaseDirectory);
}

void CVyrNVRView::timerEvent(QTimerEvent* event)
{
    if (!timers_.Dispatch(event->timerId()))
        QWidget::timerEvent(event);
}

void CVyrNVRView::OnTimer(unsigned id)
{
    timers_.KillTimer(id);
    if (id == kTimerBackupMode) {
        if (CDVyrdax* first = Instance(0)) {
            first->SetBackupMode(0);
            first->ClearInfo(0);
            first->SetBackupMode(3);
        }
    } else if (id == kTimerCloseCaller) {
        if (onCloseCaller)
            onCloseCaller();
    }
}

void CVyrNVRView::resizeEvent(QResizeEvent*)
{
    PlaceButtons();
}

void CVyrNVRView::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const int W = width(), H = height();
    p.fillRect(rect(), QColor::fromRgb(kBackgroundColour));
    if (!skin_.top.isNull())
        p.drawImage(0, 0, skin_.top);
    const int topRightX = W - 136;
    if (!skin_.topStretch.isNull() && topRightX > 414)
        p.drawImage(QRect(414, 0, topRightX - 414, skin_.topStretch.height()), skin_.topStretch);
    if (!skin_.topRight.isNull())
        p.drawImage(topRightX, 0, skin_.topRight);
    const int top = skin_.top.isNull() ? kSkinTopHeight : skin_.top.height();
    if (!skin_.rightStretch.isNull() && H > 90) {
        p.drawImage(QRect(7, top, skin_.rightStretch.width(), H - 90), skin_.rightStretch);
        p.drawImage(QRect(W - 13, top, skin_.rightStretch.width(), H - 90), skin_.rightStretch);
    }
    if (!skin_.bottomStretch.isNull())
        p.drawImage(QRect(9, H - 15, W - 19, skin_.bottomStretch.height()), skin_.bottomStretch);
}

bool CVyrNVRView::event(QEvent* e)
{
    if (platform::HandleMessageEvent(e, this))
        return true;
    return QWidget::event(e);
}

platform::LRESULT CVyrNVRView::OnMessage(uint32_t message, platform::WPARAM wParam, platform::LPARAM lParam)
{
    if ((message == vyrdax::WM_VIDEO_PROGRESS || message == vyrdax::WM_VIDEO_LINK_ERROR) && monitor_)
        monitor_->OnInstanceNotice(message, wParam, lParam);
    return 0;
}

// ---- the instances ---------------------------------------------------------------

CDVyrdax* CVyrNVRView::Instance(int slot) const
{
    return slot >= 0 && slot < kSlots ? instances_[static_cast<std::size_t>(slot)].get() : nullptr;
}

int CVyrNVRView::InstancesCreated() const
{
    int n = 0;
    for (const auto& instance : instances_)
        n += instance != nullptr;
    return n;
}

int CVyrNVRView::DisconnectAll()
{
    int connected = 0;
    for (const auto& instance : instances_) {
        if (instance && instance->isConnect(0)) {
            ++connected;
            instance->DisConnectSvr(0);
        }
    }
    return connected;
}

void CVyrNVRView::SetEventInfo(int slot, const QString& dvrName, const QString& id, const QString& pwd,
                               const QString& addr, short port, short idxDisp, short idxPolling, long time)
{
    if (CDVyrdax* instance = Instance(slot))
        instance->SetEventInfo(dvrName, id, pwd, addr, port, idxDisp, idxPolling, time);
}

void CVyrNVRView::Connect(int slot)
{
    if (CDVyrdax* instance = Instance(slot))
        instance->Connect(0);
}

DVyrdaxTable CVyrNVRView::GetEventData(int slot)
{
    CDVyrdax* instance = Instance(slot);
    return instance ? instance->GetEventData() : DVyrdaxTable{};
}

bool CVyrNVRView::isConnect(int slot)
{
    CDVyrdax* instance = Instance(slot);
    return instance && instance->isConnect(0);
}

void CVyrNVRView::DisConnectSvr(int slot)
{
    if (CDVyrdax* instance = Instance(slot))
        instance->DisConnectSvr(0);
}

void CVyrNVRView::ClearInfo(int slot)
{
    if (CDVyrdax* instance = Instance(slot))
        instance->ClearInfo(0);
}

void CVyrNVRView::CmdToDVR(int slot, long command, long index)
{
    if (CDVyrdax* instance = Instance(slot))
        instance->CmdToDVR(command, index, 0);
}
