#pragma once

#include "library/track_tags.h"

#include <QObject>
#include <QString>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tallowcrest {

// One track as the index knows it.
struct TrackDetails {
    TrackTags tags;
    // The key of its cover's thumbnail (Thumbnails::store); empty for none.
    QString art;
};

// The rows of the indexed list that a search found, in list order. A total
// of -1 says the index cannot answer (yet): the caller searches file names.
struct SearchPage {
    int total = 0;
    std::vector<int> rows;
};

struct IndexProgress {
    int done = 0;
    int total = 0;
    bool running = false;
};

struct LibraryIndexOptions {
    // Caps the database file, so that tests can see a full disk; 0: no cap.
    qint64 maxDatabaseBytes = 0;
    // Reading at idle CPU and I/O priority; tests on a busy machine turn it off.
    bool idlePriority = true;
};

// The tags, covers and search text of the list's tracks, kept in an SQLite
// file in the cache folder so that a restart reads only what changed. The
// reading runs in the background at idle priority; every call here answers at
// once from what is already indexed. An index that cannot be opened or kept
// leaves a line in the log and the program runs on without it: details()
// answers nothing and search() gives a total of -1. The file is opened on the
// writing thread, so constructing the index delays nothing.
class LibraryIndex : public QObject {
    Q_OBJECT

public:
    // `cacheFolder` holds the database and the thumbnails; it is made if need be.
    explicit LibraryIndex(QString cacheFolder, QObject* parent = nullptr);
    LibraryIndex(QString cacheFolder, LibraryIndexOptions options, QObject* parent = nullptr);
    ~LibraryIndex() override;

    // The list was filled anew: `paths` holds its rows in order, each ended
    // by a NUL byte. Reads the files whose size or time changed, drops the
    // records of files that are gone, and from now on search() answers in
    // rows of this list.
    void update(std::string paths);

    std::optional<TrackDetails> details(std::string_view path) const;
    // Rows whose title, artist, album, album artist or file name contains
    // `query`, ignoring case and accents; `limit` rows from `offset` on, and
    // how many there are in all. Total -1 until the pass over the current
    // list has mapped every row, and when there is no index.
    SearchPage search(const QString& query, int offset, int limit) const;
    // The thumbnail file of a key details() gave; empty for any other text.
    QString artFile(const QString& key) const;
    IndexProgress progress() const;
    bool available() const;

signals:
    // Tracks were read and written (about once a second while reading), or
    // the reading ended: details() and progress() may answer differently.
    void indexed();

private:
    class Worker;
    std::unique_ptr<Worker> m_worker;
};

}  // namespace tallowcrest
