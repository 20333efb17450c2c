#pragma once

#include <QAbstractListModel>

#include <string>
#include <vector>

#include "library/track_list.h"

namespace tallowcrest {

// The rows of the on-screen track list. Rows keep the path bytes as the
// directory gave them; the display text is decoded the way Qt decodes file
// names, so a view shows what a file dialog would.
class TrackListModel : public QAbstractListModel, public ITrackList {
    Q_OBJECT

public:
    // The row's path bytes, unchanged, as a QByteArray.
    static constexpr int PathBytesRole = Qt::UserRole;

    explicit TrackListModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    void Clear() override;
    void AddRows(std::vector<std::string> rows) override;
    int Count() const override;
    // Throws std::out_of_range for a row that is not there.
    const std::string& Row(int index) const override;
    int SelectedIndex() const override;
    // -1 clears the selection; any other index outside the rows throws
    // std::out_of_range and keeps the selection as it was.
    void SetSelectedIndex(int index) override;

signals:
    void selectedIndexChanged(int index);

private:
    std::vector<std::string> rows_;
    int selectedIndex_ = -1;
};

}  // namespace tallowcrest
