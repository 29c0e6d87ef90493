#include "CComboListCtrl.h"

#include <QHeaderView>
#include <QMouseEvent>
#include <QScrollBar>

#include <algorithm>

CComboListCtrl::CComboListCtrl(QWidget* parent) : QTableWidget(parent)
{
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setShowGrid(true);
    verticalHeader()->hide();
    verticalHeader()->setDefaultSectionSize(18);
    horizontalHeader()->setHighlightSections(false);
    setStyleSheet("QTableWidget { background: #FFFFFF; }");
    edit_ = new CInPlaceEdit(viewport());
    combo_ = new CInPlaceCombo(viewport());
    edit_->onEnd = [this](int row, int column, const QString& text) { EndEdit(row, column, text); };
    combo_->onEnd = [this](int row, int column, const QString& text) { EndEdit(row, column, text); };
}

void CComboListCtrl::DeleteAllItems()
{
    edit_->Abandon();
    combo_->Abandon();
    setRowCount(0);
    shading_.clear();
}

void CComboListCtrl::SetRows(const QStringList& labels)
{
    DeleteAllItems();
    lockedRows_.clear();
    setRowCount(labels.size());
    // Sized by the rows, whatever their number.
    shading_.assign(labels.size(), false);
    for (int r = 0; r < labels.size(); ++r) {
        for (int c = 0; c < columnCount(); ++c)
            setItem(r, c, new QTableWidgetItem());
        item(r, 0)->setText(labels[r]);
    }
}

void CComboListCtrl::SetCellText(int row, int column, const QString& text)
{
    if (QTableWidgetItem* cell = item(row, column))
        cell->setText(text);
}

QString CComboListCtrl::CellText(int row, int column) const
{
    const QTableWidgetItem* cell = item(row, column);
    return cell ? cell->text() : QString();
}

void CComboListCtrl::SetEditFilter(const QString& validCharacters, int maxLength)
{
    validCharacters_ = validCharacters;
    maxLength_ = maxLength;
}

void CComboListCtrl::SetRowShaded(int row, bool shaded)
{
    if (row < 0 || row >= static_cast<int>(shading_.size()))
        return;
    shading_[row] = shaded;
    const QBrush brush{QColor::fromRgb(shaded ? kShadedColour : kNormalColour)};
    for (int c = 0; c < columnCount(); ++c)
        if (QTableWidgetItem* cell = item(row, c))
            cell->setBackground(brush);
}

bool CComboListCtrl::RowShaded(int row) const
{
    return row >= 0 && row < static_cast<int>(shading_.size()) && shading_[row];
}

bool CComboListCtrl::Contains(const std::vector<int>& list, int value) const
{
    return std::find(list.begin(), list.end(), value) != list.end();
}

void CComboListCtrl::mousePressEvent(QMouseEvent* event)
{
    const QModelIndex index = indexAt(event->position().toPoint());
    if (!index.isValid())
        return; // a click on no cell is not even a selection
    QTableWidget::mousePressEvent(event);
    if (event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier))
        return;
    // One click chooses: the drop-down opens with its list shown.
    if (EditCell(index.row(), index.column()) && combo_->Active())
        combo_->showPopup();
}

bool CComboListCtrl::EditCell(int row, int column)
{
    if (row < 0 || row >= rowCount() || column <= 0 || column >= columnCount() || Contains(lockedRows_, row))
        return false;
    if (columnWidth(column) <= 9)
        return false;
    selectRow(row);
    if (Contains(comboColumns_, column)) {
        const QStringList items = fillChoices ? fillChoices(row, column) : QStringList();
        Place(combo_, row, column);
        combo_->Begin(row, column, items, CellText(row, column));
        return true;
    }
    if (Contains(readOnlyColumns_, column))
        return false;
    Place(edit_, row, column);
    edit_->Begin(row, column, CellText(row, column), validCharacters_, maxLength_);
    return true;
}

void CComboListCtrl::Place(QWidget* editor, int row, int column)
{
    scrollToItem(item(row, column));
    QRect rect = visualRect(model()->index(row, column));
    // Bring the whole column into view.
    const int overhang = rect.right() - viewport()->width();
    if (overhang > 0)
        horizontalScrollBar()->setValue(horizontalScrollBar()->value() + overhang);
    else if (rect.left() < 0)
        horizontalScrollBar()->setValue(0);
    rect = visualRect(model()->index(row, column));
    rect.setRight(std::min(rect.right(), viewport()->width() - 1));
    editor->setGeometry(rect);
}

void CComboListCtrl::EndEdit(int row, int column, const QString& text)
{
    SetCellText(row, column, text);
    setFocus();
    if (onEndEdit)
        onEndEdit(row, column, text);
}

void CComboListCtrl::scrollContentsBy(int dx, int dy)
{
    // Scrolling ends an open edit, as the editor would drift off its cell.
    if (edit_->Active() || combo_->Active())
        setFocus();
    QTableWidget::scrollContentsBy(dx, dy);
}
