#pragma once
// A report grid whose cells are edited where they stand: list columns open
// a drop-down the parent fills, other columns an edit box under a filter.
// Column 0 and the read-only columns are never edited; locked rows open
// nothing; shaded rows are drawn grey.
#include "CInPlaceCombo.h"
#include "CInPlaceEdit.h"

#include <QTableWidget>

#include <functional>
#include <vector>

class CComboListCtrl : public QTableWidget {
public:
    static constexpr QRgb kNormalColour = 0xFFFFFF;
    static constexpr QRgb kShadedColour = 0xE2E2E2;

    explicit CComboListCtrl(QWidget* parent);

    // Empties the rows (an open editor ends without committing).
    void DeleteAllItems();
    // A new page: row labels in column 0, cell texts, no locks, no shading.
    void SetRows(const QStringList& labels);
    void SetCellText(int row, int column, const QString& text);
    QString CellText(int row, int column) const;

    void SetLockedRows(std::vector<int> rows) { lockedRows_ = std::move(rows); }
    void SetComboColumns(std::vector<int> columns) { comboColumns_ = std::move(columns); }
    void SetReadOnlyColumns(std::vector<int> columns) { readOnlyColumns_ = std::move(columns); }
    void SetEditFilter(const QString& validCharacters, int maxLength);
    void SetRowShaded(int row, bool shaded);
    bool RowShaded(int row) const;

    // Opens the editor of a cell as a click on it does; false when none opens.
    bool EditCell(int row, int column);
    CInPlaceEdit* Edit() const { return edit_; }
    CInPlaceCombo* Combo() const { return combo_; }

    // The parent's choices for a list cell, asked before the drop-down opens.
    std::function<QStringList(int row, int column)> fillChoices;
    // After an edit ended and the cell took its text.
    std::function<void(int row, int column, const QString& text)> onEndEdit;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    bool Contains(const std::vector<int>& list, int value) const;
    void Place(QWidget* editor, int row, int column);
    void EndEdit(int row, int column, const QString& text);

    std::vector<int> lockedRows_;
    std::vector<int> comboColumns_;
    std::vector<int> readOnlyColumns_;
    std::vector<bool> shading_;
    QString validCharacters_;
    int maxLength_ = 0;
    CInPlaceEdit* edit_ = nullptr;
    CInPlaceCombo* combo_ = nullptr;
};
