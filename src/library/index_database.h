#pragma once

#include "library/sqlite_connection.h"
#include "library/track_tags.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tallowcrest {

// Bump on any change of the tables or of what indexText() makes of a track:
// an index of another version is built anew.
inline constexpr int kIndexVersion = 1;

std::int64_t pathKey(std::string_view path);
std::string indexFile(const QString& cacheFolder);

// How a file looked when it was last read.
struct TrackStamp {
    std::int64_t key = 0;
    std::int64_t id = 0;
    std::int64_t size = 0;
    std::int64_t mtime = 0;
    auto operator<=>(const TrackStamp&) const = default;
};

struct TrackRecord {
    TrackStamp stamp;
    std::string_view path;
    TrackTags tags;
    std::int64_t artId = 0;  // 0 for none
    // indexText() and shortPieceWords() of it, made by whoever read the tags.
    QString text;
    QString pieces;
};

// The writing side of the index file; used by one thread only.
class IndexDatabase {
public:
    // Opens the index file in cacheFolder, making it anew (and logging why)
    // when it is not a database of this version. Throws SqliteError when
    // neither can be had. maxBytes > 0 caps the file's size.
    static std::unique_ptr<IndexDatabase> open(const QString& cacheFolder, std::int64_t maxBytes);

    // Every track's stamp, ordered by key.
    std::vector<TrackStamp> stamps();
    std::int64_t nextId();
    std::string pathOf(std::int64_t id);
    std::int64_t artId(const QString& key);

    void begin() { m_db->exec("BEGIN"); }
    void commit() { m_db->exec("COMMIT"); }
    void rollback();
    // Inserts the record, or replaces the track of the same id when `known`.
    void put(const TrackRecord& record, bool known);
    void remove(std::int64_t id);
    // After a pass: folds the log into the file and lets go of cached pages.
    // The search tables merge their segments when a level holds 16: merging
    // everything after a large pass costs more than it saves searches.
    void settle();

private:
    explicit IndexDatabase(std::unique_ptr<SqliteConnection> db);
    void prepare();
    void forgetSearchText(std::int64_t id);

    std::unique_ptr<SqliteConnection> m_db;
    SqliteStatement m_insert, m_update, m_old, m_delete, m_words, m_pieces, m_forgetWords, m_forgetPieces, m_path, m_art,
        m_artId;
};

// The reading side, for the thread that answers questions.
class IndexReader {
public:
    // Throws SqliteError.
    explicit IndexReader(const std::string& file);

    struct Found {
        TrackTags tags;
        QString artKey;
    };
    std::optional<Found> details(std::string_view path);
    // Calls `found` with the id of every track whose search text holds the
    // folded query.
    void forEachMatch(const QString& folded, const std::function<void(std::int64_t)>& found);

    // What the search functions registered with SQLite work with.
    struct Search {
        const std::function<void(std::int64_t)>* found = nullptr;
        // Where each phrase of the query lies after the first one.
        std::vector<int> offsets;
    };

private:
    SqliteConnection m_db;
    std::unique_ptr<Search> m_search = std::make_unique<Search>();
    SqliteStatement m_details, m_phraseRows, m_pieceRows, m_rowsAtOffsets, m_all;
};

}  // namespace tallowcrest
