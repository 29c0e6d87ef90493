#include "SearchResultModel.h"

#include <algorithm>

namespace {

const char* const kHeaders[SearchResultModel::kColumnCount] = {"Index", "DVR Name",   "ID",     "Event Type",
                                                                "Time",  "From",       "IP Address", "Channel"};

// The compared part of a text column.
constexpr int kSortTextLength = 264;

} // namespace

void SearchResultModel::Clear()
{
    beginResetModel();
    rows_.clear();
    rows_.shrink_to_fit();
    endResetModel();
}

void SearchResultModel::Append(std::vector<SearchResultRow>& rows)
{
    if (rows.empty())
        return;
    const int first = static_cast<int>(rows_.size());
    for (std::size_t i = 0; i < rows.size(); ++i)
        rows[i].index = first + static_cast<int>(i);
    beginInsertRows(QModelIndex(), first, first + static_cast<int>(rows.size()) - 1);
    rows_.insert(rows_.end(), rows.begin(), rows.end());
    endInsertRows();
}

QString SearchResultModel::Text(int row, int column) const
{
    if (row < 0 || row >= static_cast<int>(rows_.size()))
        return {};
    const SearchResultRow& r = rows_[static_cast<std::size_t>(row)];
    switch (column) {
    case kIndex:
        return QString::number(r.index);
    case kDvrName:
        return dvrNames_.value(r.dvrRow);
    case kId:
        return QString::number(r.record.key);
    case kTime:
        return EventTimeText(r.record.packedTime);
    default:
        break;
    }
    const EventWords words = DescribeEvent(r.record);
    switch (column) {
    case kEventType:
        return words.eventType;
    case kFrom:
        // This list has always spelt a scheduled record stop this way.
        if (r.record.eventClass == kClassRecord && r.record.action != 20 && r.record.subKind == 22)
            return QStringLiteral("Schecule");
        return words.from;
    case kIpAddress:
        return words.ip;
    case kChannel:
        return words.channel;
    default:
        return {};
    }
}

void SearchResultModel::Sort(int column, bool ascending)
{
    if (column < 0 || column >= kColumnCount || rows_.empty())
        return;
    beginResetModel();
    if (column == kIndex || column == kId) {
        auto number = [column](const SearchResultRow& r) -> int64_t {
            return column == kIndex ? r.index : static_cast<int64_t>(r.record.key);
        };
        std::stable_sort(rows_.begin(), rows_.end(), [&](const SearchResultRow& a, const SearchResultRow& b) {
            return ascending ? number(a) < number(b) : number(b) < number(a);
        });
    } else {
        struct Keyed {
            QByteArray text;
            QByteArray dvr;
            std::size_t row;
        };
        std::vector<Keyed> keys;
        keys.reserve(rows_.size());
        for (std::size_t i = 0; i < rows_.size(); ++i)
            keys.push_back({Text(static_cast<int>(i), column).toLatin1().left(kSortTextLength),
                            dvrNames_.value(rows_[i].dvrRow).toLatin1().left(kSortTextLength), i});
        std::stable_sort(keys.begin(), keys.end(), [ascending](const Keyed& a, const Keyed& b) {
            const Keyed& x = ascending ? a : b;
            const Keyed& y = ascending ? b : a;
            if (x.text != y.text)
                return x.text < y.text;
            return x.dvr < y.dvr;
        });
        std::deque<SearchResultRow> sorted;
        for (const Keyed& k : keys)
            sorted.push_back(rows_[k.row]);
        rows_.swap(sorted);
    }
    endResetModel();
}

int SearchResultModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int SearchResultModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant SearchResultModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid())
        return {};
    if (role == Qt::DisplayRole)
        return Text(index.row(), index.column());
    if (role == Qt::UserRole)
        return index.row(); // the row's current position
    return {};
}

QVariant SearchResultModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < kColumnCount)
        return QString::fromLatin1(kHeaders[section]);
    return {};
}
