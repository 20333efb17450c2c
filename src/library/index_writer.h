#pragma once

#include "library/library_index.h"

#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace tallowcrest {

class IndexDatabase;

// The thread that owns the index file: it opens (or rebuilds) it, and for
// every list it is given stats the files, has two helper threads read the
// tags of those that changed and writes them in batches. The callbacks run on
// its thread.
class IndexWriter {
public:
    struct Listener {
        // The file is there to be read.
        std::function<void()> opened;
        // Tracks were written; called about once a second at most.
        std::function<void()> wrote;
        // The pass over list `generation` ended: rowOfId maps every track id
        // to its row of that list (-1: none), or is nullopt when the index
        // could not be read. Not called for a pass cut short by a newer list.
        std::function<void(std::uint64_t generation, std::optional<std::vector<std::int32_t>> rowOfId)> ended;
    };

    IndexWriter(QString cacheFolder, LibraryIndexOptions options, Listener listener);
    ~IndexWriter();

    // Starts a pass over `paths` (each ended by a NUL), stopping any running one.
    void update(std::uint64_t generation, std::string paths);
    int done() const { return m_done; }
    int total() const { return m_total; }
    bool available() const { return m_available; }
    const std::string& file() const { return m_file; }

private:
    struct List {
        std::uint64_t generation = 0;
        std::string paths;
    };
    void run();
    bool openIndex();
    void pass(List list);

    const QString m_cacheFolder;
    const std::string m_file;
    const LibraryIndexOptions m_options;
    const Listener m_listener;
    std::unique_ptr<IndexDatabase> m_db;
    std::atomic<int> m_done = 0;
    std::atomic<int> m_total = 0;
    std::atomic<bool> m_available = true;
    std::atomic<bool> m_cancel = false;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::optional<List> m_next;
    bool m_stop = false;
    std::thread m_thread;
};

}  // namespace tallowcrest
