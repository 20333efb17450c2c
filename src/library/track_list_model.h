#pragma once

#include <QAbstractListModel>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "library/track_list.h"

namespace tallowcrest {

// The rows of the on-screen track list, held as the scan wrote them: one
// text of CR LF-ended lines and the offset where each row starts, so that a
// list of hundreds of thousands of paths costs little more than their bytes.
// The display text is decoded the way Qt decodes file names, so a view shows
// what a file dialog would.
class TrackListModel : public QAbstractListModel, public ITrackList {
    Q_OBJECT

public:
    // The row's path bytes, unchanged, as a QByteArray.
    static constexpr int kPathBytesRole = Qt::UserRole;

    explicit TrackListModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    void clear() override;
    void addLines(std::string text) override;
    int count() const override;
    // Throws std::out_of_range for a row that is not there.
    std::string_view row(int index) const override;
    int selectedIndex() const override;
    // -1 clears the selection; any other index outside the rows throws
    // std::out_of_range and keeps the selection as it was.
    void setSelectedIndex(int index) override;
    void watchSelection(std::function<void()> watcher) override;

    std::uint64_t version() const override { return m_version; }

signals:
    void selectedIndexChanged(int index);

private:
    std::string m_text;
    // m_starts[i] is where row i begins; one more entry marks the end of the
    // last row's line.
    std::vector<std::size_t> m_starts;
    int m_selectedIndex = -1;
    std::uint64_t m_version = 0;
};

}  // namespace tallowcrest
