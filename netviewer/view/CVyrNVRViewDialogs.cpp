// The view's dialogs: properties of DVRs and cameras, adding a DVR, saving
// the current group.
#include "CVyrNVRView.h"

#include "netviewer/CVyrNVRDoc.h"
#include "viewercore/dialogs/CPropertyDlg.h"

#include <QTreeWidget>

void CVyrNVRView::OpenDvrProperties(const QString& dvrName, const QString& channelName)
{
    CPropertyDlg dialog(document_->Data(), CPropertyDlg::ModeEditDvr, this);
    dialog.SetDvrName(dvrName);
    dialog.SetChannelName(channelName);
    // A DVR whose cameras are on screen keeps its connection fields.
    bool shown = false;
    if (CGroup* group = document_->CurrentGroup(); group && group->cameras)
        for (const auto& camera : *group->cameras)
            shown = shown || (camera && camera->deviceName == dvrName);
    dialog.SetReadOnly(shown);
    if (dialog.exec() != QDialog::Accepted)
        return;
    FillDeviceTree();
    document_->SaveAll(this);
}

void CVyrNVRView::OpenCameraProperties(const QString& groupName, const QString& channelName)
{
    CPropertyDlg dialog(document_->Data(), CPropertyDlg::ModeEditCamera, this);
    dialog.SetDvrName(groupName);
    dialog.SetChannelName(channelName);
    if (dialog.exec() != QDialog::Accepted)
        return;
    FillGroupTree();
    document_->SaveAll(this);
}

void CVyrNVRView::OnAddDvr()
{
    CPropertyDlg dialog(document_->Data(), CPropertyDlg::ModeAddDvr, this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    if (const CDVR* added = dialog.GetResult())
        InsertDvrIntoTree(*added);
    document_->SaveAll(this);
}

void CVyrNVRView::OnSaveGroup()
{
    CGroup* current = document_->CurrentGroup();
    if (!current)
        return;
    current->splitMode = static_cast<int16_t>(splitMode_);
    CSaveGroupDlg dialog(document_->Data(), *this, this);
    dialog.SetCurrentName(current->name);
    if (dialog.exec() == QDialog::Accepted)
        document_->SaveAll(this);
}
