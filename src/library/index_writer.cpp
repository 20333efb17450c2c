#include "library/index_writer.h"

#include "library/cover_art.h"
#include "library/index_database.h"
#include "library/index_text.h"
#include "library/library_log.h"
#include "library/thread_priority.h"

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <future>
#include <map>
#include <unordered_map>

namespace tallowcrest {
namespace {

constexpr int kReaders = 2;
constexpr std::size_t kBatch = 2000;
// How far the readers may run ahead of the writer.
constexpr std::size_t kWindow = 1024;
// The readers are woken for room in the ring this often, not for every slot.
constexpr std::size_t kWakeEvery = 64;
constexpr qint64 kMaxCoverFileBytes = 64 << 20;

struct FileStat {
    std::int64_t size = 0;
    std::int64_t mtime = 0;
    int error = 0;  // errno, or EINVAL for what is not a plain file
};

FileStat statFile(int folder, const char* path)
{
    struct stat info {};
    if (::fstatat(folder, path, &info, 0) != 0)
        return {0, 0, errno};
    if (!S_ISREG(info.st_mode))
        return {0, 0, EINVAL};
    return {info.st_size, std::int64_t(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec, 0};
}

// Files of the same folder follow each other in the list: each is looked up
// by name in its open folder, not by its whole path.
class FolderStat {
public:
    ~FolderStat() { closeFolder(); }
    FileStat operator()(std::string_view path)
    {
        const std::size_t slash = path.rfind('/');
        const std::string_view folder = path.substr(0, slash == std::string_view::npos ? 0 : slash + 1);
        if (folder != m_name) {
            closeFolder();
            m_name = folder;
            m_fd = folder.empty() ? -1 : ::open(std::string(folder).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        }
        // The view's text is followed by a NUL in the list.
        return m_fd >= 0 ? statFile(m_fd, path.data() + folder.size()) : statFile(AT_FDCWD, path.data());
    }

private:
    void closeFolder()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }
    std::string m_name;
    int m_fd = -1;
};

bool isGone(int error)
{
    return error == ENOENT || error == ENOTDIR;
}

void warnSkipped(std::string_view path, const QString& why)
{
    qCWarning(libraryLog).noquote() << "library index skipped"
                                    << QDebug::toString(QByteArray(path.data(), qsizetype(path.size()))) << "-" << why;
}

// Stats every row on kReaders threads, each taking runs of rows, until cancelled.
std::vector<FileStat> statAll(const std::vector<std::string_view>& rows, bool idle, const std::atomic<bool>& cancel)
{
    constexpr std::size_t kRun = 256;
    std::vector<FileStat> stats(rows.size());
    std::atomic<std::size_t> next = 0;
    std::vector<std::jthread> threads;
    for (int reader = 0; reader < kReaders; ++reader) {
        threads.emplace_back([&] {
            if (idle)
                makeThisThreadIdle();
            FolderStat stat;
            for (std::size_t from; !cancel && (from = next.fetch_add(kRun)) < rows.size();) {
                for (std::size_t row = from; row < std::min(from + kRun, rows.size()); ++row)
                    stats[row] = stat(rows[row]);
            }
        });
    }
    threads.clear();
    return stats;
}

// A track's tags and cover as read by a helper thread.
struct ReadTrack {
    TrackTags tags;
    QString artKey;
    QString text;
    QString pieces;
};

// Reads tags and covers; folder covers are looked for once per folder.
class TrackReader {
public:
    explicit TrackReader(const QString& cacheFolder) : m_thumbnails(cacheFolder + QStringLiteral("/art")) {}

    ReadTrack read(const std::string& path)
    {
        QByteArray cover;
        QString artKey;
        std::optional<TrackTags> tags = readTrackTags(path, &cover);
        if (!tags) {
            warnSkipped(path, QStringLiteral("no MPEG audio could be read"));
            tags.emplace();
        } else {
            // Thumbnails says itself when a picture cannot be read.
            artKey = m_thumbnails.store(cover);
            cover.clear();
            if (artKey.isEmpty())
                artKey = folderCover(path.substr(0, path.rfind('/') + 1));
        }
        // The search text is made here, off the writer's thread.
        QString text = indexText(*tags, path);
        QString pieces = shortPieceWords(text);
        return {*std::move(tags), artKey, std::move(text), std::move(pieces)};
    }

private:
    QString folderCover(const std::string& folder)
    {
        {
            const std::lock_guard lock(m_mutex);
            if (const auto known = m_folderCovers.find(folder); known != m_folderCovers.end())
                return known->second;
        }
        QString key;
        if (const std::string file = folderCoverFile(folder); !file.empty()) {
            QFile picture(QFile::decodeName(file.c_str()));
            if (picture.size() > kMaxCoverFileBytes)
                warnSkipped(file, QStringLiteral("a cover file of %1 bytes is too large").arg(picture.size()));
            else if (picture.open(QIODevice::ReadOnly))
                key = m_thumbnails.store(picture.readAll());
        }
        const std::lock_guard lock(m_mutex);
        return m_folderCovers.emplace(folder, key).first->second;
    }

    Thumbnails m_thumbnails;
    std::mutex m_mutex;
    std::unordered_map<std::string, QString> m_folderCovers;
};

}  // namespace

IndexWriter::IndexWriter(QString cacheFolder, LibraryIndexOptions options, Listener listener)
    : m_cacheFolder(std::move(cacheFolder))
    , m_file(indexFile(m_cacheFolder))
    , m_options(options)
    , m_listener(std::move(listener))
    , m_thread([this] { run(); })
{
}

IndexWriter::~IndexWriter()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stop = true;
        m_cancel = true;
    }
    m_wake.notify_one();
    m_thread.join();
}

void IndexWriter::update(std::uint64_t generation, std::string paths)
{
    m_total = int(std::count(paths.begin(), paths.end(), '\0'));
    m_done = 0;
    {
        const std::lock_guard lock(m_mutex);
        m_next = List {generation, std::move(paths)};
        m_cancel = true;
    }
    m_wake.notify_one();
}

void IndexWriter::run()
{
    // Fixed thresholds: otherwise glibc raises them after the first large
    // picture is freed, and what a pass frees stays with the process.
    ::mallopt(M_MMAP_THRESHOLD, 2 << 20);
    ::mallopt(M_TRIM_THRESHOLD, 2 << 20);
    if (m_options.idlePriority)
        makeThisThreadIdle();
    if (!openIndex()) {
        m_available = false;
        return;
    }
    m_listener.opened();
    for (;;) {
        List list;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stop || m_next; });
            if (m_stop)
                return;
            list = std::move(*m_next);
            m_next.reset();
            m_cancel = false;
        }
        pass(std::move(list));
        // Only now is everything the pass held freed, the readers' folder
        // covers among it, so the pages can go back to the system.
        ::malloc_trim(0);
    }
}

bool IndexWriter::openIndex()
{
    const QString shown = QDir::toNativeSeparators(m_cacheFolder);
    if (!QDir().mkpath(m_cacheFolder) || ::access(QFile::encodeName(m_cacheFolder).constData(), W_OK | X_OK) != 0) {
        qCWarning(libraryLog).noquote() << "cannot write the cache folder" << shown << "- running without a library index";
        return false;
    }
    try {
        m_db = IndexDatabase::open(m_cacheFolder, m_options.maxDatabaseBytes);
        return true;
    } catch (const SqliteError& failure) {
        qCWarning(libraryLog).noquote() << "cannot keep a library index in" << shown << "-" << failure.what()
                                        << "- running without one";
        return false;
    }
}

void IndexWriter::pass(List list)
{
    // Views into the list, each followed by its NUL.
    std::vector<std::string_view> rows;
    for (std::size_t start = 0, end; (end = list.paths.find('\0', start)) != std::string::npos; start = end + 1)
        rows.emplace_back(list.paths.data() + start, end - start);
    const bool idle = m_options.idlePriority;
    // The helpers stat the files while this thread reads what the index knows of them.
    auto statting = std::async(std::launch::async, [&] { return statAll(rows, idle, m_cancel); });

    struct Work {
        std::size_t row;
        TrackStamp stamp;
        bool known;
    };
    std::vector<Work> todo;
    std::vector<std::int64_t> gone;
    std::vector<std::int32_t> idOfRow(rows.size(), -1);
    std::int64_t nextId = 0;
    try {
        const std::vector<TrackStamp> known = m_db->stamps();
        nextId = m_db->nextId();
        std::vector<std::int64_t> keys(rows.size());
        std::transform(rows.begin(), rows.end(), keys.begin(), pathKey);
        const std::vector<FileStat> stats = statting.get();
        std::vector<bool> listed(known.size());
        for (std::size_t row = 0; row < rows.size() && !m_cancel; ++row) {
            const std::int64_t key = keys[row];
            const TrackStamp* match = nullptr;
            for (auto at = std::lower_bound(known.begin(), known.end(), TrackStamp {key, INT64_MIN});
                 at != known.end() && at->key == key; ++at)
                listed[std::size_t(at - known.begin())] = true, match = &*at;
            const FileStat& file = stats[row];
            if (file.error != 0) {
                warnSkipped(rows[row], file.error == EINVAL ? QStringLiteral("not a plain file")
                                                            : QString::fromLocal8Bit(std::strerror(file.error)));
                if (match && isGone(file.error))
                    gone.push_back(match->id);
                ++m_done;
            } else if (match && match->size == file.size && match->mtime == file.mtime) {
                idOfRow[row] = std::int32_t(match->id);
                ++m_done;
            } else {
                todo.push_back({row, {key, match ? match->id : nextId++, file.size, file.mtime}, match != nullptr});
            }
        }
        for (std::size_t at = 0; at < known.size() && !m_cancel; ++at) {
            if (!listed[at] && isGone(statFile(AT_FDCWD, m_db->pathOf(known[at].id).c_str()).error))
                gone.push_back(known[at].id);
        }
    } catch (const SqliteError& failure) {
        qCWarning(libraryLog).noquote() << "the library index could not be read -" << failure.what();
        if (!m_cancel)
            m_listener.ended(list.generation, std::nullopt);
        return;
    }

    // The helpers read ahead of the writer, into a ring of kWindow slots.
    TrackReader reader(m_cacheFolder);
    std::mutex mutex;
    std::condition_variable readCv, writtenCv;
    std::vector<std::optional<ReadTrack>> ring(std::min(kWindow, std::max<std::size_t>(todo.size(), 1)));
    std::size_t claimed = 0, written = 0;
    std::atomic<bool> stopReading = false;
    std::vector<std::jthread> helpers;
    for (int helper = 0; helper < kReaders; ++helper) {
        helpers.emplace_back([&] {
            if (idle)
                makeThisThreadIdle();
            for (;;) {
                std::size_t at;
                {
                    std::unique_lock lock(mutex);
                    writtenCv.wait(lock, [&] { return stopReading || claimed < std::min(todo.size(), written + ring.size()); });
                    if (stopReading)
                        return;
                    at = claimed++;
                }
                ReadTrack track = reader.read(std::string(rows[todo[at].row]));
                {
                    const std::lock_guard lock(mutex);
                    ring[at % ring.size()] = std::move(track);
                }
                readCv.notify_one();
            }
        });
    }

    std::unordered_map<QString, std::int64_t> artIds;
    std::vector<std::pair<std::size_t, std::int64_t>> batch;
    auto lastNews = std::chrono::steady_clock::now();
    auto commit = [&] {
        m_db->commit();
        for (const auto& [row, id] : batch)
            idOfRow[row] = std::int32_t(id);
        m_done += int(batch.size());
        batch.clear();
        if (const auto now = std::chrono::steady_clock::now(); now - lastNews >= std::chrono::seconds(1)) {
            lastNews = now;
            m_listener.wrote();
        }
    };
    try {
        m_db->begin();
        for (const std::int64_t id : gone)
            m_db->remove(id);
        for (std::size_t at = 0; at < todo.size() && !m_cancel; ++at) {
            ReadTrack track;
            {
                std::unique_lock lock(mutex);
                readCv.wait(lock, [&] { return ring[at % ring.size()].has_value(); });
                track = *std::exchange(ring[at % ring.size()], std::nullopt);
                written = at + 1;
            }
            if (written % kWakeEvery == 0)
                writtenCv.notify_all();
            std::int64_t artId = 0;
            if (!track.artKey.isEmpty()) {
                auto [known, added] = artIds.try_emplace(track.artKey, 0);
                artId = added ? (known->second = m_db->artId(track.artKey)) : known->second;
            }
            const Work& work = todo[at];
            m_db->put({work.stamp, rows[work.row], track.tags, artId, track.text, track.pieces}, work.known);
            batch.emplace_back(work.row, work.stamp.id);
            if (batch.size() == kBatch) {
                commit();
                m_db->begin();
            }
        }
        commit();
    } catch (const SqliteError& failure) {
        qCWarning(libraryLog).noquote() << "the library index stopped writing -" << failure.what();
        m_db->rollback();
    }
    {
        const std::lock_guard lock(mutex);
        stopReading = true;
    }
    writtenCv.notify_all();
    helpers.clear();
    if (m_cancel)
        return;

    std::vector<std::int32_t> rowOfId(std::size_t(nextId), -1);
    for (std::size_t row = 0; row < rows.size(); ++row) {
        if (idOfRow[row] >= 0)
            rowOfId[std::size_t(idOfRow[row])] = std::int32_t(row);
    }
    // Nothing of the pass stays in memory once it has ended.
    const auto drop = [](auto& held) { std::decay_t<decltype(held)>().swap(held); };
    drop(rows), drop(list.paths), drop(todo), drop(gone), drop(idOfRow);
    try {
        m_db->settle();
    } catch (const SqliteError& failure) {
        qCWarning(libraryLog).noquote() << "the library index could not be tidied -" << failure.what();
    }
    m_listener.ended(list.generation, std::move(rowOfId));
}

}  // namespace tallowcrest
