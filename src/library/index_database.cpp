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
CREATE INDEX tracks_by_key ON tracks(key, size, mtime);
CREATE TABLE art(id INTEGER PRIMARY KEY, key TEXT NOT NULL UNIQUE);
CREATE VIRTUAL TABLE words USING fts5(text, content='', columnsize=0, detail=full,
  tokenize='trigram case_sensitive 1');
CREATE VIRTUAL TABLE pieces USING fts5(text, content='', columnsize=0, detail=none, tokenize='ascii');
INSERT INTO words(words, rank) VALUES('automerge', 0);
INSERT INTO pieces(pieces, rank) VALUES('automerge', 0);
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

// A query's one phrase, every row of it found inside SQLite rather than by a
// step of the statement per row. Called for the first row only.
void phraseRows(const Fts5ExtensionApi* api, Fts5Context* fts, sqlite3_context* context, int, sqlite3_value**)
{
    const int code = api->xQueryPhrase(fts, 0, api->xUserData(fts), [](const Fts5ExtensionApi* api, Fts5Context* fts,
                                                                         void* search) {
        (*static_cast<IndexReader::Search*>(search)->found)(api->xRowid(fts));
        return SQLITE_OK;
    });
    if (code != SQLITE_OK)
        sqlite3_result_error_code(context, code);
}

// A row whose phrase i lies offsets[i] after phrase 0: the query's trigrams
// at every third place (and its last) spell the whole query.
void rowAtOffsets(const Fts5ExtensionApi* api, Fts5Context* fts, sqlite3_context*, int, sqlite3_value**)
{
    auto* search = static_cast<IndexReader::Search*>(api->xUserData(fts));
    const int phrases = api->xPhraseCount(fts);
    Fts5PhraseIter first;
    int column = 0;
    int start = 0;
    for (api->xPhraseFirst(fts, 0, &first, &column, &start); start >= 0; api->xPhraseNext(fts, &first, &column, &start)) {
        bool all = true;
        for (int phrase = 1; phrase < phrases && all; ++phrase) {
            const int wanted = start + search->offsets[std::size_t(phrase)];
            Fts5PhraseIter at;
            int place = 0;
            api->xPhraseFirst(fts, phrase, &at, &column, &place);
            while (place >= 0 && place < wanted)
                api->xPhraseNext(fts, &at, &column, &place);
            all = place == wanted;
        }
        if (all) {
            (*search->found)(api->xRowid(fts));
            return;
        }
    }
}

QString quoted(const QString& phrase)
{
    return u'"' + QString(phrase).replace(QStringLiteral("\""), QStringLiteral("\"\"")) + u'"';
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
    // No OR REPLACE: a statement that may undo itself makes the search tables write out what they hold so far,
    // a segment per track.
    m_insert = m_db->prepare("INSERT INTO tracks(id, key, size, mtime, title, artist, album, album_artist, genre, "
                             "track_no, disc_no, year, length_ms, art, path) "
                             "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15)");
    m_update = m_db->prepare("UPDATE tracks SET key = ?2, size = ?3, mtime = ?4, title = ?5, artist = ?6, album = ?7, "
                             "album_artist = ?8, genre = ?9, track_no = ?10, disc_no = ?11, year = ?12, "
                             "length_ms = ?13, art = ?14, path = ?15 WHERE id = ?1");
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
    // From the index alone, which holds all four.
    SqliteStatement all = m_db->prepare("SELECT key, id, size, mtime FROM tracks ORDER BY key");
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
    SqliteStatement& row = known ? m_update : m_insert;
    row.bind(1, id).bind(2, record.stamp.key).bind(3, record.stamp.size).bind(4, record.stamp.mtime);
    row.bind(5, tags.title).bind(6, tags.artist).bind(7, tags.album).bind(8, tags.albumArtist).bind(9, tags.genre);
    row.bind(10, tags.trackNumber).bind(11, tags.discNumber).bind(12, tags.year).bind(13, tags.lengthMs);
    (record.artId ? row.bind(14, record.artId) : row.bindNull(14)).bindBlob(15, record.path).run();
    m_words.bind(1, id).bind(2, record.text).run();
    m_pieces.bind(1, id).bind(2, record.pieces).run();
}

void IndexDatabase::remove(std::int64_t id)
{
    forgetSearchText(id);
    m_delete.bind(1, id).run();
}

void IndexDatabase::settle()
{
    m_db->exec("PRAGMA wal_checkpoint(TRUNCATE)");
    sqlite3_db_release_memory(m_db->handle());
}

IndexReader::IndexReader(const std::string& file)
    : m_db(file)
{
    m_db.exec("PRAGMA query_only=1; PRAGMA cache_size=-1024");
    fts5_api* fts5 = nullptr;
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(m_db.handle(), "SELECT fts5(?1)", -1, &statement, nullptr) == SQLITE_OK) {
        sqlite3_bind_pointer(statement, 1, static_cast<void*>(&fts5), "fts5_api_ptr", nullptr);
        sqlite3_step(statement);
    }
    sqlite3_finalize(statement);
    if (!fts5)
        throw SqliteError(SQLITE_ERROR, "this SQLite has no full-text search");
    fts5->xCreateFunction(fts5, "phrase_rows", m_search.get(), phraseRows, nullptr);
    fts5->xCreateFunction(fts5, "row_at_offsets", m_search.get(), rowAtOffsets, nullptr);
    m_phraseRows = m_db.prepare("SELECT phrase_rows(words) FROM words WHERE words MATCH ? LIMIT 1");
    m_pieceRows = m_db.prepare("SELECT phrase_rows(pieces) FROM pieces WHERE pieces MATCH ? LIMIT 1");
    m_rowsAtOffsets = m_db.prepare("SELECT row_at_offsets(words) FROM words WHERE words MATCH ?");
    m_details = m_db.prepare("SELECT path, title, artist, album, album_artist, genre, track_no, disc_no, year, "
                             "length_ms, (SELECT key FROM art WHERE art.id = tracks.art) FROM tracks WHERE key = ?");
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
    const QList<uint> codes = folded.toUcs4();
    const auto length = int(codes.size());
    m_search->found = &found;
    m_search->offsets.clear();
    QString match;
    for (int at = 0; length > 3 && at < length - 2; at = std::min(at + 3, length - 3)) {
        m_search->offsets.push_back(at);
        match += (match.isEmpty() ? QString() : QStringLiteral(" AND ")) + quoted(QString::fromUcs4(reinterpret_cast<const char32_t*>(codes.data()) + at, 3));
        if (at == length - 3)
            break;
    }
    SqliteStatement& query = length == 0 ? m_all : length <= 2 ? m_pieceRows : length == 3 ? m_phraseRows : m_rowsAtOffsets;
    if (length > 3)
        query.bind(1, match);
    else if (length == 3)
        query.bind(1, quoted(folded));
    else if (length > 0)
        query.bind(1, shortPieceWord(folded));
    while (query.step()) {
        if (length == 0)
            found(query.integer(0));
    }
}

}  // namespace tallowcrest
