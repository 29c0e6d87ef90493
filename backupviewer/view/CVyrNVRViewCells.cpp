// The backup viewer's cells: split layouts and pages, the single-cell
// toggle, full screen, the selection and the cell menu.
#include "CVyrNVRView.h"

#include "backupviewer/CVyrNVRDoc.h"
#include "viewercore/dialogs/CPropertyDlg.h"
#include "viewercore/model/CCamera.h"
#include "viewercore/view/SiteTree.h"
#include "viewercore/widgets/CBitmapSlider.h"
#include "viewercore/widgets/CButtonST.h"

#include <QContextMenuEvent>
#include <QMenu>

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

int CVyrNVRView::SplitOfButton(int id)
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
