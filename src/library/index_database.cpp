#include "library/index_database.h"

#include "library/index_text.h"
#include "library/library_log.h"

#include <QFile>

#include <sqlite3.h>
#include <xxhash.h>

#include <algorithm>
#include <cstdio>

namespace tallowcrest {
namespace {

constexpr const char* kSchema = R"(
CREATE TABLE tracks(id INTEGER PRIMARY KEY, key INTEGER NOT NULL, size INTEGER, mtime INTEGER, title TEXT,
  artist TEXT, album TEXT, album_artist TEXT, genre TEXT, track_no INTEGER, disc_no INTEGER, year INTEGER,
  length_ms INTEGER, art INTEGER, path BLOB);
CREATE INDEX tracks_by_key ON tracks(key);
CREATE TABLE art(id INTEGER PRIMARY KEY, key TEXT NOT NULL UNIQUE);
CREATE VIRTUAL TABLE words USING fts5(text, content='', columnsize=0, detail=full,
  tokenize='trigram case_sensitive 1');
CREATE VIRTUAL TABLE pieces USING fts5(text, content='', columnsize=0, detail=none, tokenize='ascii');
)";

std::unique_ptr<SqliteConnection> openChecked(const std::string& file, std::int64_t maxBytes)
{
    auto db = std::make_unique<SqliteConnection>(file);
    db->exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL");
    const std::int64_t version = db->number("PRAGMA user_version");
    if (db->number("SELECT count(*) FROM sqlite_schema") == 0)
        db->exec("BEGIN; " + std::string(kSchema) + "PRAGMA user_version=" + std::to_string(kIndexVersion) + "; COMMIT");
    else if (version != kIndexVersion)
        throw SqliteError(SQLITE_SCHEMA, "it is of version " + std::to_string(version));
    if (maxBytes > 0)
        db->exec("PRAGMA max_page_count=" + std::to_string(std::max<std::int64_t>(1, maxBytes / db->number("PRAGMA page_size"))));
    return db;
}

void removeIndexFiles(const std::string& file)
{
    for (const char* suffix : {"", "-wal", "-shm", "-journal"})
        std::remove((file + suffix).c_str());
}

TrackTags tagsOf(const SqliteStatement& row, int from)
{
    return {row.text(from), row.text(from + 1), row.text(from + 2), row.text(from + 3), row.text(from + 4),
            int(row.integer(from + 5)), int(row.integer(from + 6)), int(row.integer(from + 7)), row.integer(from + 8)};
}

}  // namespace

std::int64_t pathKey(std::string_view path)
{
    return std::int64_t(XXH3_64bits(path.data(), path.size()));
}

std::string indexFile(const QString& cacheFolder)
{
    return QFile::encodeName(cacheFolder).toStdString() + "/library.sqlite";
}

std::unique_ptr<IndexDatabase> IndexDatabase::open(const QString& cacheFolder, std::int64_t maxBytes)
{
    const std::string file = indexFile(cacheFolder);
    std::unique_ptr<IndexDatabase> index;
    try {
        index.reset(new IndexDatabase(openChecked(file, maxBytes)));
        return index;
    } catch (const SqliteError& unusable) {
        // Busy, locked, read-only, full or failing disks are no reason to throw the file away.
        if (unusable.code() != SQLITE_NOTADB && unusable.code() != SQLITE_CORRUPT && unusable.code() != SQLITE_SCHEMA
            && unusable.code() != SQLITE_ERROR)
            throw;
        index.reset();
        removeIndexFiles(file);
        index.reset(new IndexDatabase(openChecked(file, maxBytes)));
        qCWarning(libraryLog).noquote() << QStringLiteral("the library index %1 could not be used (%2); it is built anew")
                                               .arg(QFile::decodeName(file.c_str()), QString::fromUtf8(unusable.what()));
    }
    return index;
}

IndexDatabase::IndexDatabase(std::unique_ptr<SqliteConnection> db)
    : m_db(std::move(db))
{
    m_insert = m_db->prepare("INSERT OR REPLACE INTO tracks(id, key, size, mtime, title, artist, album, album_artist, "
                             "genre, track_no, disc_no, year, length_ms, art, path) "
                             "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15)");
    m_old = m_db->prepare("SELECT title, artist, album, album_artist, path FROM tracks WHERE id = ?");
    m_delete = m_db->prepare("DELETE FROM tracks WHERE id = ?");
    m_words = m_db->prepare("INSERT INTO words(rowid, text) VALUES(?, ?)");
    m_pieces = m_db->prepare("INSERT INTO pieces(rowid, text) VALUES(?, ?)");
    m_forgetWords = m_db->prepare("INSERT INTO words(words, rowid, text) VALUES('delete', ?, ?)");
    m_forgetPieces = m_db->prepare("INSERT INTO pieces(pieces, rowid, text) VALUES('delete', ?, ?)");
    m_path = m_db->prepare("SELECT path FROM tracks WHERE id = ?");
    m_art = m_db->prepare("INSERT OR IGNORE INTO art(key) VALUES(?)");
    m_artId = m_db->prepare("SELECT id FROM art WHERE key = ?");
}

std::vector<TrackStamp> IndexDatabase::stamps()
{
    std::vector<TrackStamp> stamps;
    stamps.reserve(std::size_t(m_db->number("SELECT count(*) FROM tracks")));
    SqliteStatement all = m_db->prepare("SELECT key, id, size, mtime FROM tracks");
    while (all.step())
        stamps.push_back({all.integer(0), all.integer(1), all.integer(2), all.integer(3)});
    std::sort(stamps.begin(), stamps.end());
    return stamps;
}

std::int64_t IndexDatabase::nextId()
{
    return m_db->number("SELECT coalesce(max(id), 0) + 1 FROM tracks");
}

std::string IndexDatabase::pathOf(std::int64_t id)
{
    m_path.bind(1, id);
    std::string path = m_path.step() ? std::string(m_path.blob(0)) : std::string();
    m_path.reset();
    return path;
}

std::int64_t IndexDatabase::artId(const QString& key)
{
    m_art.bind(1, key).run();
    m_artId.bind(1, key);
    const std::int64_t id = m_artId.step() ? m_artId.integer(0) : 0;
    m_artId.reset();
    return id;
}

void IndexDatabase::rollback()
{
    if (!sqlite3_get_autocommit(m_db->handle()))
        m_db->exec("ROLLBACK");
}

void IndexDatabase::forgetSearchText(std::int64_t id)
{
    m_old.bind(1, id);
    if (!m_old.step())
        return;
    TrackTags old;
    old.title = m_old.text(0), old.artist = m_old.text(1), old.album = m_old.text(2), old.albumArtist = m_old.text(3);
    const QString text = indexText(old, m_old.blob(4));
    m_old.reset();
    m_forgetWords.bind(1, id).bind(2, text).run();
    m_forgetPieces.bind(1, id).bind(2, shortPieceWords(text)).run();
}

void IndexDatabase::put(const TrackRecord& record, bool known)
{
    const std::int64_t id = record.stamp.id;
    if (known)
        forgetSearchText(id);
    const TrackTags& tags = record.tags;
    m_insert.bind(1, id).bind(2, record.stamp.key).bind(3, record.stamp.size).bind(4, record.stamp.mtime);
    m_insert.bind(5, tags.title).bind(6, tags.artist).bind(7, tags.album).bind(8, tags.albumArtist).bind(9, tags.genre);
    m_insert.bind(10, tags.trackNumber).bind(11, tags.discNumber).bind(12, tags.year).bind(13, tags.lengthMs);
    (record.artId ? m_insert.bind(14, record.artId) : m_insert.bindNull(14)).bindBlob(15, record.path).run();
    const QString text = indexText(tags, record.path);
    m_words.bind(1, id).bind(2, text).run();
    m_pieces.bind(1, id).bind(2, shortPieceWords(text)).run();
}

void IndexDatabase::remove(std::int64_t id)
{
    forgetSearchText(id);
    m_delete.bind(1, id).run();
}

void IndexDatabase::settle(bool merge)
{
    if (merge)
        m_db->exec("INSERT INTO words(words) VALUES('optimize'); INSERT INTO pieces(pieces) VALUES('optimize')");
    m_db->exec("PRAGMA wal_checkpoint(TRUNCATE)");
    sqlite3_db_release_memory(m_db->handle());
}

IndexReader::IndexReader(const std::string& file)
    : m_db(file)
{
    m_db.exec("PRAGMA query_only=1; PRAGMA cache_size=-1024");
    m_details = m_db.prepare("SELECT path, title, artist, album, album_artist, genre, track_no, disc_no, year, "
                             "length_ms, (SELECT key FROM art WHERE art.id = tracks.art) FROM tracks WHERE key = ?");
    m_words = m_db.prepare("SELECT rowid FROM words WHERE words MATCH ?");
    m_pieces = m_db.prepare("SELECT rowid FROM pieces WHERE pieces MATCH ?");
    m_all = m_db.prepare("SELECT id FROM tracks");
}

std::optional<IndexReader::Found> IndexReader::details(std::string_view path)
{
    m_details.bind(1, pathKey(path));
    std::optional<Found> found;
    while (!found && m_details.step()) {
        if (m_details.blob(0) == path)
            found = Found {tagsOf(m_details, 1), m_details.text(10)};
    }
    m_details.reset();
    return found;
}

void IndexReader::forEachMatch(const QString& folded, const std::function<void(std::int64_t)>& found)
{
    if (folded.contains(QChar(kFieldEnd)))
        return;
    const int length = characterCount(folded);
    SqliteStatement& query = length == 0 ? m_all : length <= 2 ? m_pieces : m_words;
    if (length > 2)
        query.bind(1, u'"' + QString(folded).replace(QStringLiteral("\""), QStringLiteral("\"\"")) + u'"');
    else if (length > 0)
        query.bind(1, shortPieceWord(folded));
    while (query.step())
        found(query.integer(0));
}

}  // namespace tallowcrest
