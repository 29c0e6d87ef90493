// The backup viewer's DVR tree: filling it, dropping a DVR on the cells,
// which binds its channels, and the tree's menu.
#include "CVyrNVRView.h"

#include "backupviewer/CVyrNVRDoc.h"
#include "viewercore/dialogs/CPropertyDlg.h"
#include "viewercore/model/CCamera.h"
#include "viewercore/model/SiteRoutines.h"
#include "viewercore/view/SiteTree.h"

#include <QDropEvent>
#include <QMenu>
#include <QMimeData>

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
        DisconnectDvr();
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
