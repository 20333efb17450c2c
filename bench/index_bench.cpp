// Times the library index over a folder of tagged MP3s, against a bare loop
// that opens each file and reads its first 64 KiB.
//
// usage: index_bench ROOT [--queries N] [--cold] [--normal-priority]
//
// In one run: the bare loop and the first index with a warm page cache (a
// fresh cache folder), a second pass over the unchanged files against
// ScanFolder alone, N searches (default 2,000) for substrings of 1 to 40
// characters of the indexed titles, artists, albums and file names (fixed
// seed), the database's size, and the memory of this process; and, for
// reference, readTrackTags alone over every file on one thread. With --cold,
// the bare loop and a first index again, each after dropping the page cache
// (needs root). --normal-priority reads at the usual priority instead of the
// idle one, for a machine that other work keeps busy. Prints one
// "name: value" line per figure.

#include "library/library_index.h"
#include "library/track_scan.h"
#include "library/track_tags.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

using namespace tallowcrest;

namespace {

using Clock = std::chrono::steady_clock;

double millisSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// A line of /proc/self/status in kB.
long statusKb(const char* key)
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with(key) && line[std::string_view(key).size()] == ':')
            return std::atol(line.c_str() + std::string_view(key).size() + 1);
    }
    return -1;
}

void writeProc(const char* file, const char* text)
{
    std::ofstream out(file);
    out << text;
    if (!out.flush())
        std::fprintf(stderr, "index_bench: cannot write %s\n", file);
}

void dropPageCache()
{
    ::sync();
    writeProc("/proc/sys/vm/drop_caches", "3");
}

double bareLoop(const std::vector<std::string>& paths)
{
    std::vector<char> buffer(64 * 1024);
    const auto start = Clock::now();
    for (const std::string& path : paths) {
        const int file = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (file >= 0) {
            if (::read(file, buffer.data(), buffer.size()) < 0)
                std::perror(path.c_str());
            ::close(file);
        }
    }
    return millisSince(start);
}

// Gives the index the list and runs events until its pass has ended.
double indexPass(LibraryIndex& index, const std::string& list)
{
    const auto start = Clock::now();
    index.update(list);
    QEventLoop loop;
    QObject::connect(&index, &LibraryIndex::indexed, &loop, [&] {
        if (!index.progress().running)
            loop.quit();
    });
    loop.exec();
    return millisSince(start);
}

double cpuMillis()
{
    rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    auto millis = [](const timeval& t) { return double(t.tv_sec) * 1000.0 + double(t.tv_usec) / 1000.0; };
    return millis(usage.ru_utime) + millis(usage.ru_stime);
}

double percentile(std::vector<double> values, double fraction)
{
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, std::size_t(fraction * double(values.size())))];
}

qint64 fileBytes(const QString& file)
{
    return QFileInfo(file).exists() ? QFileInfo(file).size() : 0;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    std::string root;
    int queryCount = 2000;
    bool cold = false;
    LibraryIndexOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--queries" && i + 1 < argc)
            queryCount = std::atoi(argv[++i]);
        else if (argument == "--cold")
            cold = true;
        else if (argument == "--normal-priority")
            options.idlePriority = false;
        else if (root.empty() && !argument.starts_with("--"))
            root = argument;
        else
            root.clear(), i = argc;
    }
    if (root.empty() || queryCount < 1) {
        std::fprintf(stderr, "usage: index_bench ROOT [--queries N] [--cold] [--normal-priority]\n");
        return 2;
    }

    std::string lines;
    ScanFolder(withTrailingSeparator(root), lines);
    std::vector<std::string> paths;
    std::string list;
    for (std::size_t start = 0, end; (end = lines.find("\r\n", start)) != std::string::npos; start = end + 2) {
        paths.emplace_back(lines, start, end - start);
        list += paths.back() + '\0';
    }
    std::string().swap(lines);
    std::printf("tracks: %zu\n", paths.size());

    std::vector<double> scans;
    for (int run = 0; run < 5; ++run) {
        std::string buffer;
        const auto start = Clock::now();
        ScanFolder(withTrailingSeparator(root), buffer);
        scans.push_back(millisSince(start));
    }
    std::printf("scan alone ms: %.1f\n", percentile(scans, 0.5));

    bareLoop(paths);
    std::printf("bare loop warm ms: %.0f\n", bareLoop(paths));
    {
        // What the first index cannot do without: every file's tags and cover read once, on one thread.
        const auto start = Clock::now();
        for (const std::string& path : paths) {
            QByteArray cover;
            readTrackTags(path, &cover);
        }
        std::printf("tags alone ms: %.0f\n", millisSince(start));
    }

    QTemporaryDir cache;
    {
        writeProc("/proc/self/clear_refs", "5");  // VmHWM starts again from VmRSS
        const long before = statusKb("VmRSS");
        LibraryIndex index(cache.path(), options);
        const double cpuBefore = cpuMillis();
        std::printf("first index warm ms: %.0f\n", indexPass(index, list));
        std::printf("first index cpu ms: %.0f\n", cpuMillis() - cpuBefore);
        std::printf("rss before kb: %ld\npeak during first index kb: %ld\nrss after first index kb: %ld\n", before,
                    statusKb("VmHWM"), statusKb("VmRSS"));
        const double rescanCpu = cpuMillis();
        std::printf("rescan ms: %.0f\n", indexPass(index, list));
        std::printf("rescan cpu ms: %.0f\n", cpuMillis() - rescanCpu);

        std::mt19937 random(17);
        std::vector<double> times, shortTimes;
        long found = 0;
        for (int query = 0; query < queryCount; ++query) {
            const std::string& path = paths[random() % paths.size()];
            const TrackTags tags = index.details(path).value_or(TrackDetails {}).tags;
            const std::string_view name = TrackTitle(path);
            std::vector<QString> fields {QString::fromUtf8(name.data(), qsizetype(name.size()))};
            for (const QString& field : {tags.title, tags.artist, tags.album, tags.albumArtist})
                if (!field.isEmpty())
                    fields.push_back(field);
            const QString& field = fields[random() % fields.size()];
            const int length = std::min(int(random() % 40) + 1, int(field.size()));
            const QString text = field.mid(int(random() % (field.size() - length + 1)), length);
            const auto start = Clock::now();
            const SearchPage page = index.search(text, 0, 50);
            (text.size() <= 2 ? shortTimes : times).push_back(millisSince(start));
            found += page.total;
            if (page.total <= 0)
                std::fprintf(stderr, "index_bench: \"%s\" found %d\n", qPrintable(text), page.total);
        }
        std::vector<double> all = times;
        all.insert(all.end(), shortTimes.begin(), shortTimes.end());
        std::printf("queries: %d\nsearch median ms: %.3f\nsearch p99 ms: %.3f\nsearch max ms: %.3f\n", queryCount,
                    percentile(all, 0.5), percentile(all, 0.99), percentile(all, 1.0));
        if (!shortTimes.empty())
            std::printf("short queries: %zu\nshort search median ms: %.3f\nshort search max ms: %.3f\n",
                        shortTimes.size(), percentile(shortTimes, 0.5), percentile(shortTimes, 1.0));
        std::printf("mean total: %.0f\n", double(found) / queryCount);
    }
    const QString file = QDir(cache.path()).filePath("library.sqlite");
    const qint64 bytes = fileBytes(file) + fileBytes(file + "-wal");
    std::printf("database bytes: %lld\nbytes per track: %.0f\n", bytes, double(bytes) / double(paths.size()));

    if (cold) {
        dropPageCache();
        std::printf("bare loop cold ms: %.0f\n", bareLoop(paths));
        QTemporaryDir coldCache;
        LibraryIndex index(coldCache.path(), options);
        dropPageCache();
        std::printf("first index cold ms: %.0f\n", indexPass(index, list));
    }
    return 0;
}
