#pragma once
// The search's result list: rows kept as the record and its DVR, their texts
// made when shown, appended in batches so that millions of rows stay light.
#include "EventViewer/event/EventRecord.h"

#include <QAbstractTableModel>
#include <QStringList>

#include <deque>
#include <vector>

struct SearchResultRow {
    int index = 0;  // "Index": the row's position when it was added
    int dvrRow = 0; // into the DVR names
    EventRecord record;
};

class SearchResultModel : public QAbstractTableModel {
public:
    enum Column { kIndex, kDvrName, kId, kEventType, kTime, kFrom, kIpAddress, kChannel, kColumnCount };

    using QAbstractTableModel::QAbstractTableModel;

    void SetDvrNames(const QStringList& names) { dvrNames_ = names; }
    void Clear();
    // Numbers the rows from the current count on.
    void Append(std::vector<SearchResultRow>& rows);
    // Numbers as "Index" and "ID", the rest as 8-bit texts with the DVR name
    // breaking ties in the same direction.
    void Sort(int column, bool ascending);

    QString Text(int row, int column) const;
    const SearchResultRow& Row(int row) const { return rows_[static_cast<std::size_t>(row)]; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    QStringList dvrNames_;
    // In blocks: a list of millions of rows grows without copying itself
    // into ever larger memory, which cost more than everything else of
    // listing them.
    std::deque<SearchResultRow> rows_;
};
