#include "library/track_list_model.h"

#include <QByteArray>
#include <QFile>

#include <stdexcept>

namespace tallowcrest {

namespace {

constexpr std::string_view kLineEnd = "\r\n";

}  // namespace

TrackListModel::TrackListModel(QObject* parent) : QAbstractListModel(parent) {}

int TrackListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : count();
}

QVariant TrackListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() < 0 || index.row() >= count())
        return {};
    const std::string_view path = row(index.row());
    const QByteArray bytes(path.data(), static_cast<qsizetype>(path.size()));
    switch (role) {
    case Qt::DisplayRole:
        return QFile::decodeName(bytes);
    case kPathBytesRole:
        return bytes;
    default:
        return {};
    }
}

void TrackListModel::clear()
{
    if (!m_starts.empty()) {
        beginResetModel();
        std::string().swap(m_text);
        std::vector<std::size_t>().swap(m_starts);
        ++m_version;
        endResetModel();
    }
    setSelectedIndex(-1);
}

void TrackListModel::addLines(std::string text)
{
    if (text.empty())
        return;
    // A cut-short last line gets its line end, so every row ends alike.
    if (!text.ends_with(kLineEnd))
        text.append(kLineEnd);
    std::vector<std::size_t> starts;
    for (std::size_t at = 0; at < text.size();) {
        starts.push_back(at);
        const std::size_t end = text.find(kLineEnd, at);
        at = end + kLineEnd.size();
    }

    const int first = count();
    beginInsertRows(QModelIndex(), first, first + static_cast<int>(starts.size()) - 1);
    if (m_starts.empty()) {
        m_text = std::move(text);
        m_starts = std::move(starts);
    } else {
        m_starts.pop_back();
        for (const std::size_t start : starts)
            m_starts.push_back(start + m_text.size());
        m_text += text;
    }
    m_starts.push_back(m_text.size());
    ++m_version;
    endInsertRows();
}

int TrackListModel::count() const
{
    return m_starts.empty() ? 0 : static_cast<int>(m_starts.size() - 1);
}

std::string_view TrackListModel::row(int index) const
{
    if (index < 0 || index >= count())
        throw std::out_of_range("track list has no row " + std::to_string(index));
    const auto at = static_cast<std::size_t>(index);
    return std::string_view(m_text).substr(m_starts[at], m_starts[at + 1] - m_starts[at] - kLineEnd.size());
}

void TrackListModel::watchSelection(std::function<void()> watcher)
{
    connect(this, &TrackListModel::selectedIndexChanged, this, [watcher = std::move(watcher)] { watcher(); });
}

int TrackListModel::selectedIndex() const
{
    return m_selectedIndex;
}

void TrackListModel::setSelectedIndex(int index)
{
    if (index < -1 || index >= count())
        throw std::out_of_range("track list has no row " + std::to_string(index));
    if (index == m_selectedIndex)
        return;
    m_selectedIndex = index;
    emit selectedIndexChanged(index);
}

}  // namespace tallowcrest
