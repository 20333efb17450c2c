#include "library/track_list_model.h"

#include <QByteArray>
#include <QFile>

#include <iterator>
#include <stdexcept>
#include <string>

namespace tallowcrest {

TrackListModel::TrackListModel(QObject* parent) : QAbstractListModel(parent) {}

int TrackListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : Count();
}

QVariant TrackListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() < 0 || index.row() >= Count())
        return {};
    const std::string& row = rows_[static_cast<std::size_t>(index.row())];
    const QByteArray bytes(row.data(), static_cast<qsizetype>(row.size()));
    switch (role) {
    case Qt::DisplayRole:
        return QFile::decodeName(bytes);
    case PathBytesRole:
        return bytes;
    default:
        return {};
    }
}

void TrackListModel::Clear()
{
    if (!rows_.empty()) {
        beginResetModel();
        rows_.clear();
        rows_.shrink_to_fit();
        endResetModel();
    }
    SetSelectedIndex(-1);
}

void TrackListModel::AddRows(std::vector<std::string> rows)
{
    if (rows.empty())
        return;
    const int first = Count();
    beginInsertRows(QModelIndex(), first, first + static_cast<int>(rows.size()) - 1);
    if (rows_.empty()) {
        rows_ = std::move(rows);
    } else {
        rows_.reserve(rows_.size() + rows.size());
        std::move(rows.begin(), rows.end(), std::back_inserter(rows_));
    }
    endInsertRows();
}

int TrackListModel::Count() const
{
    return static_cast<int>(rows_.size());
}

const std::string& TrackListModel::Row(int index) const
{
    if (index < 0 || index >= Count())
        throw std::out_of_range("track list has no row " + std::to_string(index));
    return rows_[static_cast<std::size_t>(index)];
}

int TrackListModel::SelectedIndex() const
{
    return selectedIndex_;
}

void TrackListModel::SetSelectedIndex(int index)
{
    if (index < -1 || index >= Count())
        throw std::out_of_range("track list has no row " + std::to_string(index));
    if (index == selectedIndex_)
        return;
    selectedIndex_ = index;
    emit selectedIndexChanged(index);
}

}  // namespace tallowcrest
