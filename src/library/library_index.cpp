#include "library/library_index.h"

#include "library/cover_art.h"
#include "library/index_database.h"
#include "library/index_writer.h"
#include "library/library_log.h"
#include "library/search_text.h"

#include <bit>

namespace tallowcrest {

// The answering side, on the thread that made the index; the writer reaches
// it only through queued calls.
class LibraryIndex::Worker {
public:
    Worker(LibraryIndex* index, const QString& cacheFolder, LibraryIndexOptions options)
        : m_cacheFolder(cacheFolder)
        , m_writer(cacheFolder, options, listener(index))
    {
    }

    IndexWriter::Listener listener(LibraryIndex* index)
    {
        auto onIndexThread = [index](auto call) {
            QMetaObject::invokeMethod(index, std::move(call), Qt::QueuedConnection);
        };
        return {
            [this, onIndexThread] { onIndexThread([this] { openReader(); }); },
            [index, onIndexThread] { onIndexThread([index] { emit index->indexed(); }); },
            [this, index, onIndexThread](std::uint64_t generation, std::optional<std::vector<std::int32_t>> rowOfId) {
                onIndexThread([this, index, generation, rowOfId = std::move(rowOfId)]() mutable {
                    if (generation != m_generation)
                        return;
                    m_passing = false;
                    m_mapped = rowOfId.has_value();
                    m_rowOfId = std::move(rowOfId).value_or(std::vector<std::int32_t>());
                    emit index->indexed();
                });
            },
        };
    }

    void openReader()
    {
        try {
            m_reader.emplace(m_writer.file());
            m_thumbnails.emplace(m_cacheFolder + QStringLiteral("/art"));
        } catch (const SqliteError& failure) {
            qCWarning(libraryLog).noquote() << "the library index cannot be read -" << failure.what();
        }
    }

    void update(std::string paths)
    {
        m_rows = int(std::count(paths.begin(), paths.end(), '\0'));
        m_mapped = false;
        m_passing = true;
        std::vector<std::int32_t>().swap(m_rowOfId);
        m_writer.update(++m_generation, std::move(paths));
    }

    std::optional<TrackDetails> details(std::string_view path)
    {
        if (!m_reader)
            return std::nullopt;
        try {
            if (auto found = m_reader->details(path))
                return TrackDetails {std::move(found->tags), std::move(found->artKey)};
        } catch (const SqliteError& failure) {
            qCWarning(libraryLog).noquote() << "the library index cannot be read -" << failure.what();
        }
        return std::nullopt;
    }

    SearchPage search(const QString& query, int offset, int limit)
    {
        if (!m_reader || !m_mapped)
            return {-1, {}};
        std::vector<std::uint64_t> found(std::size_t(m_rows) / 64 + 1);
        try {
            m_reader->forEachMatch(searchText(query), [&](std::int64_t id) {
                if (id >= 0 && std::size_t(id) < m_rowOfId.size() && m_rowOfId[std::size_t(id)] >= 0) {
                    const auto row = std::size_t(m_rowOfId[std::size_t(id)]);
                    found[row / 64] |= std::uint64_t(1) << (row % 64);
                }
            });
        } catch (const SqliteError& failure) {
            qCWarning(libraryLog).noquote() << "the library index cannot be searched -" << failure.what();
            return {-1, {}};
        }
        SearchPage page;
        for (std::size_t word = 0; word < found.size(); ++word) {
            const int count = std::popcount(found[word]);
            if (page.total + count > offset && int(page.rows.size()) < limit) {
                int index = page.total;
                for (std::uint64_t bits = found[word]; bits; bits &= bits - 1, ++index) {
                    if (index >= offset && int(page.rows.size()) < limit)
                        page.rows.push_back(int(word * 64) + std::countr_zero(bits));
                }
            }
            page.total += count;
        }
        return page;
    }

    QString artFile(const QString& key) const { return m_thumbnails ? m_thumbnails->fileOf(key) : QString(); }

    IndexProgress progress() const { return {m_writer.done(), m_writer.total(), m_passing && available()}; }
    bool available() const { return m_writer.available(); }

private:
    const QString m_cacheFolder;
    // Both made once the writer has made the folder and the file.
    std::optional<Thumbnails> m_thumbnails;
    std::optional<IndexReader> m_reader;
    std::uint64_t m_generation = 0;
    int m_rows = 0;
    bool m_mapped = false;
    bool m_passing = false;
    std::vector<std::int32_t> m_rowOfId;
    // Last: stopped and joined before the rest goes.
    IndexWriter m_writer;
};

LibraryIndex::LibraryIndex(QString cacheFolder, QObject* parent)
    : LibraryIndex(std::move(cacheFolder), LibraryIndexOptions {}, parent)
{
}

LibraryIndex::LibraryIndex(QString cacheFolder, LibraryIndexOptions options, QObject* parent)
    : QObject(parent)
    , m_worker(std::make_unique<Worker>(this, cacheFolder, options))
{
}

LibraryIndex::~LibraryIndex() = default;

void LibraryIndex::update(std::string paths)
{
    m_worker->update(std::move(paths));
}

std::optional<TrackDetails> LibraryIndex::details(std::string_view path) const
{
    return m_worker->details(path);
}

SearchPage LibraryIndex::search(const QString& query, int offset, int limit) const
{
    return m_worker->search(query, std::max(offset, 0), std::max(limit, 0));
}

QString LibraryIndex::artFile(const QString& key) const
{
    return m_worker->artFile(key);
}

IndexProgress LibraryIndex::progress() const
{
    return m_worker->progress();
}

bool LibraryIndex::available() const
{
    return m_worker->available();
}

}  // namespace tallowcrest
