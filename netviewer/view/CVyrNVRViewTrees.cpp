// The view's site trees, drag and drop onto cells, groups, and the buttons.
#include "CVyrNVRView.h"

#include "viewercore/view/SiteTree.h"
#include "netviewer/CVyrNVRDoc.h"
#include "viewercore/model/SiteRoutines.h"
#include "platform/MessageBox.h"
#include "viewercore/widgets/CButtonST.h"
#include "viewercore/widgets/ViewSkin.h"

#include <QDir>
#include <QDragEnterEvent>
#include <QMenu>
#include <QMimeData>
#include <QPainter>

namespace {

constexpr int kTreeImageChannel = kTreeImageChannelOrGroup;

struct ButtonSpec {
    int id;
    const char* tooltip;
    const char* caption; // shown when the skin has no bitmap for the button
    int in, out;         // skin faces
};

const ButtonSpec kButtons[] = {
    {IDC_GO_BACKUP, "Go To Search Backup", "Search Backup", kBitmapGoToBackupViewerIn, kBitmapGoToBackupViewerOut},
    {IDC_GO_EVENT, "Go To Event Viewer", "Event Viewer", kBitmapGoToEventViewerIn, kBitmapGoToEventViewerOut},
    {IDC_CONNECT, "Connect", "Con", kBitmapConnectIn, kBitmapConnectOut},
    {IDC_DISCONNECT, "Disconnect", "Dis", kBitmapDisconnectIn, kBitmapDisconnectOut},
    {IDC_LOCAL_SETUP, "Local Setup", "Loc", kBitmapLocalSetupIn, kBitmapLocalSetupOut},
    {IDC_DEVICE_SETUP, "Device Setup", "Dev", kBitmapDeviceSetupIn, kBitmapDeviceSetupOut},
    {IDC_DEVICE_TAB, "", "DVR", kBitmapDeviceTabActive, 0},
    {IDC_GROUP_TAB, "", "Group", kBitmapGroupTab, 0},
    {IDC_ADD_DVR, "Add DVR", "+DVR", kBitmapAddDvrIn, kBitmapAddDvrOut},
    {IDC_ADD_IP_CAMERA, "Add IP Camera", "+IP", kBitmapAddIpCameraIn, kBitmapAddIpCameraOut},
    {IDC_ADD_VIDEO_SERVER, "Add Video Server", "+VS", kBitmapAddVideoServerIn, kBitmapAddVideoServerOut},
    {IDC_SAVE_GROUP, "Save Group", "Save", kBitmapSaveGroupIn, kBitmapSaveGroupOut},
    {IDC_DVR_RECORD, "DVR Record", "D", kBitmapDvrRecordIn, kBitmapDvrRecordOut},
    {IDC_LOCAL_RECORD, "Local Record", "L", kBitmapLocalRecordIn, kBitmapLocalRecordOut},
    {IDC_CAPTURE, "Capture", "C", kBitmapCaptureIn, kBitmapCaptureOut},
    {IDC_SPLIT_4, "4 Split Mode", "4", kBitmapSplit4In, kBitmapSplit4Out},
    {IDC_SPLIT_6, "6 Split Mode", "6", kBitmapSplit6In, kBitmapSplit6Out},
    {IDC_SPLIT_9, "9 Split Mode", "9", kBitmapSplit9In, kBitmapSplit9Out},
    {IDC_SPLIT_10, "10 Split Mode", "10", kBitmapSplit10In, kBitmapSplit10Out},
    {IDC_SPLIT_16, "16 Split Mode", "16", kBitmapSplit16In, kBitmapSplit16Out},
    {IDC_SPLIT_36, "36 Split Mode", "36", kBitmapSplit36In, kBitmapSplit36Out},
    {IDC_SPLIT_64, "64 Split Mode", "64", kBitmapSplit64In, kBitmapSplit64Out},
    {IDC_FULL_SCREEN, "Full Screen Mode", "Full", kBitmapFullScreenIn, kBitmapFullScreenOut},
    {IDC_NEXT_SPLIT, "Next Split Mode", "Next", kBitmapNextSplitIn, kBitmapNextSplitOut},
};

} // namespace

QIcon CVyrNVRView::TreeIcon(bool groupTree, int image) const
{
    const QImage strip = viewer::SkinImage(groupTree ? kBitmapGroupTreeImages : kBitmapDeviceTreeImages);
    if (!strip.isNull() && (image + 1) * kTreeImageWidth <= strip.width()) {
        // The strip's key colour shows the tree's background.
        QImage picture = strip.copy(image * kTreeImageWidth, 0, kTreeImageWidth, kTreeImageHeight)
                             .convertToFormat(QImage::Format_ARGB32);
        const QRgb key = viewer::SkinKeyOf(kBitmapDeviceTreeImages).rgb();
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x)
                if ((picture.pixel(x, y) & 0xFFFFFF) == (key & 0xFFFFFF))
                    picture.setPixel(x, y, 0);
        return QIcon(QPixmap::fromImage(picture));
    }
    // Without the skin: a small coloured mark per image.
    static const QColor colours[4] = {QColor(0x4F, 0xA3, 0xE8), QColor(0x6C, 0xCB, 0x5F), QColor(0xE8, 0xB0, 0x4F),
                                      QColor(0xC8, 0xC8, 0xC8)};
    QPixmap mark(16, 16);
    mark.fill(Qt::transparent);
    QPainter p(&mark);
    p.setBrush(colours[std::clamp(image, 0, 3)]);
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(2, 3, 12, 10, 2, 2);
    return QIcon(mark);
}

// ---- buttons ----------------------------------------------------------------

void CVyrNVRView::CreateButtons()
{
    for (const ButtonSpec& spec : kButtons) {
        auto* button = new CButtonST(this, spec.id);
        button->setObjectName(QString::number(spec.id));
        viewer::SkinButton(button, spec.in, spec.out, spec.caption);
        if (spec.tooltip[0])
            button->SetTooltipText(spec.tooltip);
        button->SetFlat(true);
        const int id = spec.id;
        QObject::connect(button, &QPushButton::clicked, this, [this, id] { OnCommand(id); });
        button->show();
        buttons_[spec.id] = button;
    }
}

void CVyrNVRView::SetHandOverButtonsVisible(bool visible)
{
    for (int id : {IDC_GO_BACKUP, IDC_GO_EVENT})
        if (auto it = buttons_.find(id); it != buttons_.end())
            it->second->setVisible(visible && !fullScreen_);
}

void CVyrNVRView::PlaceButtons()
{
    if (buttons_.empty())
        return;
    const int W = width(), H = height();
    const int ph = kPanelHeights[panelMode_];
    auto place = [this](int id, int x, int y, int w, int h) {
        if (auto it = buttons_.find(id); it != buttons_.end())
            it->second->setGeometry(x, y, w, h);
    };
    place(IDC_GO_BACKUP, 11, 41, 164, 24);
    place(IDC_GO_EVENT, 11, 69, 164, 24);
    const int top[4] = {IDC_CONNECT, IDC_DISCONNECT, IDC_LOCAL_SETUP, IDC_DEVICE_SETUP};
    for (int k = 0; k < 4; ++k)
        place(top[k], 11 + 42 * k, 97, 38, 24);
    place(IDC_DEVICE_TAB, 11, 125, 80, 23);
    place(IDC_GROUP_TAB, 95, 125, 80, 23);
    const int treeHeight = std::max(0, H - ph - 198);
    deviceTree_->setGeometry(16, 154, 155, treeHeight);
    groupTree_->setGeometry(16, 154, 155, treeHeight);
    const int add[4] = {IDC_ADD_DVR, IDC_ADD_IP_CAMERA, IDC_ADD_VIDEO_SERVER, IDC_SAVE_GROUP};
    for (int k = 0; k < 4; ++k)
        place(add[k], 17 + 39 * k, H - ph - 54 + 20, 35, 24);
    const int B = margins_.bottom;
    place(IDC_DVR_RECORD, W - 630, H - B + 12, 32, 24);
    place(IDC_LOCAL_RECORD, W - 593, H - B + 12, 32, 24);
    place(IDC_CAPTURE, W - 556, H - B + 12, 32, 24);
    const int split[9] = {IDC_SPLIT_4,  IDC_SPLIT_6,  IDC_SPLIT_9,     IDC_SPLIT_10, IDC_SPLIT_16,
                          IDC_SPLIT_36, IDC_SPLIT_64, IDC_FULL_SCREEN, IDC_NEXT_SPLIT};
    for (int k = 0; k < 9; ++k)
        place(split[k], W - 500 + 53 * k, H - B + 6, 48, 38);
    PlacePanelControls();
}

// ---- trees ------------------------------------------------------------------

void CVyrNVRView::ShowDeviceTree(bool device)
{
    deviceTreeShown_ = device;
    // The shown tree's tab takes its active face.
    if (auto tab = buttons_.find(IDC_DEVICE_TAB); tab != buttons_.end())
        viewer::SetSkinFace(tab->second, device ? kBitmapDeviceTabActive : kBitmapDeviceTab);
    if (auto tab = buttons_.find(IDC_GROUP_TAB); tab != buttons_.end())
        viewer::SetSkinFace(tab->second, device ? kBitmapGroupTab : kBitmapGroupTabActive);
    deviceTree_->setVisible(device && !fullScreen_);
    groupTree_->setVisible(!device && !fullScreen_);
    update(0, 0, 186, 154);
}

void CVyrNVRView::InsertDvrIntoTree(const CDVR& dvr)
{
    QTreeWidgetItem* item = deviceTree_->InsertSorted(dvr.name, TreeIcon(false, std::clamp(dvr.deviceKind, 0, 2)));
    for (const auto& channel : dvr.channels)
        if (channel)
            viewer::SiteTree::InsertSortedChild(item, channel->name, TreeIcon(false, kTreeImageChannel));
}

void CVyrNVRView::InsertGroupIntoTree(const CGroup& group)
{
    QTreeWidgetItem* item = groupTree_->InsertSorted(group.name, TreeIcon(true, kTreeImageChannel));
    if (!group.cameras)
        return;
    for (const auto& camera : *group.cameras) {
        if (!camera || camera->cell >= kCells)
            continue;
        auto* child = new QTreeWidgetItem(QStringList{camera->channelName});
        child->setIcon(0, TreeIcon(true, std::clamp(camera->deviceKind, 0, 2)));
        item->addChild(child);
    }
}

void CVyrNVRView::FillDeviceTree()
{
    deviceTree_->clear();
    for (const auto& dvr : document_->Data().deviceList)
        if (dvr)
            InsertDvrIntoTree(*dvr);
}

void CVyrNVRView::FillGroupTree()
{
    groupTree_->clear();
    for (const auto& group : document_->Data().groupList)
        if (group)
            InsertGroupIntoTree(*group);
}

void CVyrNVRView::RemoveGroupTreeItem(const QString& name)
{
    for (int k = 0; k < groupTree_->topLevelItemCount(); ++k)
        if (groupTree_->topLevelItem(k)->text(0) == name) {
            delete groupTree_->takeTopLevelItem(k);
            return;
        }
}

void CVyrNVRView::ShowTreeMenu(QTreeWidget* tree, const QPoint& globalPos)
{
    QTreeWidgetItem* item = tree->currentItem();
    if (!item)
        return;
    QMenu menu(this);
    if (tree == deviceTree_) {
        treeMenuShown_ = true;
        menu.addAction("Delete")->setData(ID_TREE_DELETE);
        menu.addAction("Properties")->setData(ID_TREE_PROPERTIES);
    } else {
        QAction* remove = menu.addAction("Remove");
        remove->setData(ID_GROUP_REMOVE);
        remove->setEnabled(!item->parent());
        QAction* properties = menu.addAction("Properties");
        properties->setData(ID_GROUP_PROPERTIES);
        properties->setEnabled(item->parent() != nullptr);
    }
    QAction* chosen = menu.exec(globalPos);
    if (!chosen)
        return;
    // The item may be gone if the trees were refilled meanwhile.
    item = tree->currentItem();
    if (!item)
        return;
    switch (chosen->data().toInt()) {
    case ID_TREE_DELETE:
        if (item->parent())
            site::RemoveChannel(document_->Data(), item->parent()->text(0), item->text(0));
        else
            site::RemoveDvrByName(document_->Data(), item->text(0));
        delete item;
        break;
    case ID_TREE_PROPERTIES:
        if (item->parent())
            OpenDvrProperties(item->parent()->text(0), item->text(0));
        else
            OpenDvrProperties(item->text(0), QString());
        break;
    case ID_GROUP_REMOVE:
        if (!item->parent()) {
            site::RemoveGroupByName(document_->Data(), item->text(0));
            delete item;
        }
        break;
    case ID_GROUP_PROPERTIES:
        if (item->parent())
            OpenCameraProperties(item->parent()->text(0), item->text(0));
        break;
    default: break;
    }
}

// ---- drag and drop ----------------------------------------------------------

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
    const QByteArray source = event->mimeData()->data(viewer::kTreeItemMime);
    viewer::SiteTree* tree = source.toInt() == IDC_GROUP_TREE ? groupTree_ : deviceTree_;
    if (QTreeWidgetItem* item = tree->DraggedItem()) {
        event->acceptProposedAction();
        DropItem(item, event->position().toPoint());
    }
}

void CVyrNVRView::DropItem(QTreeWidgetItem* item, const QPoint& point)
{
    if (!item)
        return;
    const int cell = HitTestCell(point);
    if (cell < 0)
        return;
    const bool fromGroupTree = item->treeWidget() == groupTree_;
    if (!fromGroupTree) {
        if (!item->parent()) {
            CDVR* dvr = site::FindDvr(document_->Data(), item->text(0));
            if (!dvr)
                return;
            int c = cell;
            for (std::size_t k = 0; k < dvr->channels.size() && c < firstCell_ + splitMode_ && c < kCells; ++k, ++c)
                if (dvr->channels[k])
                    BindChannel(c, *dvr, static_cast<int>(k), true);
        } else {
            CDVR* dvr = site::FindDvr(document_->Data(), item->parent()->text(0));
            if (!dvr)
                return;
            for (std::size_t k = 0; k < dvr->channels.size(); ++k)
                if (dvr->channels[k] && dvr->channels[k]->name == item->text(0)) {
                    BindChannel(cell, *dvr, static_cast<int>(k), false);
                    break;
                }
        }
        document_->SaveAll(this);
    } else {
        if (item->parent())
            return;
        CGroup* found = site::FindGroup(document_->Data(), item->text(0));
        if (!found)
            return;
        ClearAllCells();
        LoadGroup(*found);
        CGroup* group = document_->CurrentGroup();
        if (viewer::IsSplitMode(group->splitMode) && group->splitMode != splitMode_) {
            splitMode_ = group->splitMode;
            firstCell_ = 0;
            LayoutCells();
        }
        document_->SaveAll(this);
        int lastCell = -1;
        for (const auto& camera : *group->cameras) {
            if (!camera || camera->cell < 0 || camera->cell >= kCells)
                continue;
            BindGroupCamera(*camera);
            lastCell = std::max(lastCell, static_cast<int>(camera->cell));
        }
        // Cells past the group's last camera keep nothing connected; the
        // cameras just bound are left alone.
        for (int c = lastCell + 1; c < kCells; ++c)
            if (CDVyrdax* control = ControlAt(cells_[c].slot))
                control->DisConnectSvr(cells_[c].channel);
        LayoutCells();
    }
    MarkSelectedCell(cell);
    selectedCell_ = cell;
}

void CVyrNVRView::BindChannel(int cell, const CDVR& dvr, int channelIndex, bool wholeDvr)
{
    const CChannel& channel = *dvr.channels[static_cast<std::size_t>(channelIndex)];
    if (cells_[cell].slot >= 0)
        ClearCell(cell);
    std::unique_ptr<CCamera> camera = CCamera::ForChannel(dvr, channel, cell);
    const QString address = dvr.addressType == CDVR::AddressFixed ? dvr.addressText : QString();

    const int slot = SlotForChannel(dvr.name, channel.number, cell, wholeDvr ? 500 + cell : cell);
    if (slot < 0)
        return;
    const CCamera bound = *camera;
    AddCameraToGroup(std::move(camera));
    BindCell(cell, slot, bound, address);
    LayoutCells();
}

void CVyrNVRView::MoveCellBinding(int from, int to)
{
    if (from == to || from < 0 || from >= kCells || to < 0 || to >= kCells)
        return;
    // The cell's timers cannot follow it: its recording ends before it moves.
    StopChannel(from);
    KillCellTimers(from);
    cells_[to] = cells_[from];
    cells_[from] = Cell{};
    CGroup* group = document_->CurrentGroup();
    if (!group || !group->cameras)
        return;
    auto& cameras = *group->cameras;
    // The moved camera takes its new cell; the list stays in cell order.
    for (auto it = cameras.begin(); it != cameras.end(); ++it) {
        if (*it && (*it)->cell == from) {
            std::unique_ptr<CCamera> moved = std::move(*it);
            cameras.erase(it);
            moved->cell = to;
            AddCameraToGroup(std::move(moved));
            break;
        }
    }
}

void CVyrNVRView::RemoveCameraOfCell(int cell)
{
    CGroup* group = document_->CurrentGroup();
    if (!group || !group->cameras)
        return;
    auto& cameras = *group->cameras;
    for (auto it = cameras.begin(); it != cameras.end(); ++it)
        if (*it && (*it)->cell == cell) {
            cameras.erase(it);
            return;
        }
}

void CVyrNVRView::ClearCell(int cell)
{
    if (cell < 0 || cell >= kCells)
        return;
    Cell& c = cells_[cell];
    StopChannel(cell);
    KillCellTimers(cell);
    if (CDVyrdax* control = ControlAt(c.slot)) {
        control->DisConnectSvr(c.channel);
        control->ClearInfo(c.channel);
    }
    RemoveCameraOfCell(cell);
    c.slot = -1;
    c.deviceName.clear();
    c.channel = -1;
    c.emptyPainted = !c.rect.isEmpty();
    update(c.rect);
}

void CVyrNVRView::ClearAllCells()
{
    for (int cell = 0; cell < kCells; ++cell)
        if (cells_[cell].slot >= 0)
            ClearCell(cell);
    if (CGroup* group = document_->CurrentGroup(); group && group->cameras)
        group->cameras->clear();
}

void CVyrNVRView::AddCameraToGroup(std::unique_ptr<CCamera> camera)
{
    CGroup* group = document_->CurrentGroup();
    if (!group || !camera)
        return;
    if (!group->cameras)
        group->cameras.emplace();
    auto& cameras = *group->cameras;
    for (auto& existing : cameras)
        if (existing && existing->cell == camera->cell) {
            *existing = *camera;
            return;
        }
    auto at = cameras.begin();
    while (at != cameras.end() && (!*at || (*at)->cell <= camera->cell))
        ++at;
    cameras.insert(at, std::move(camera));
}

void CVyrNVRView::LoadGroup(const CGroup& group)
{
    SettingsDocument& data = document_->Data();
    std::unique_ptr<CGroup> copy = CGroup::CopyFrom(group, false);
    if (!copy->cameras)
        copy->cameras.emplace();
    data.currentGroup = std::move(copy);
    PublishDiskSettings();
}

void CVyrNVRView::AddSavedGroup(const QString& name, bool overwrite)
{
    CGroup* current = document_->CurrentGroup();
    if (!current)
        return;
    if (overwrite)
        RemoveGroupTreeItem(name);
    current->name = name;
    if (const CGroup* stored = site::StoreCurrentGroup(document_->Data()))
        InsertGroupIntoTree(*stored);
}
