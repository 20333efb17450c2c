// Times ScanFolder over a folder tree.
//
// usage: scan_bench ROOT [--runs N] [--print]
//
// Prints the median wall time of N scans (default 5) and the number of track
// lines. With --print the lines of the last scan go to stdout, one per line,
// and the figures go to stderr instead.

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "library/track_list_model.h"
#include "library/track_scan.h"

namespace {

double CpuMillis()
{
    rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    auto millis = [](const timeval& t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
    return millis(usage.ru_utime) + millis(usage.ru_stime);
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

int Usage()
{
    std::fprintf(stderr, "usage: scan_bench ROOT [--runs N] [--print]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string root;
    int runs = 5;
    bool print = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--runs" && i + 1 < argc) {
            runs = std::atoi(argv[++i]);
        } else if (argument == "--print") {
            print = true;
        } else if (root.empty() && !argument.starts_with("--")) {
            root = argument;
        } else {
            return Usage();
        }
    }
    if (root.empty() || runs < 1)
        return Usage();

    const std::string folder = tallowcrest::withTrailingSeparator(root);
    std::vector<double> millis;
    std::vector<double> cpuMillis;
    std::string buffer;
    for (int run = 0; run < runs; ++run) {
        // Every run starts from an empty buffer that owns no memory yet, as
        // the first scan after start-up does.
        std::string().swap(buffer);
        const double cpuStart = CpuMillis();
        const auto start = std::chrono::steady_clock::now();
        tallowcrest::ScanFolder(folder, buffer);
        const auto stop = std::chrono::steady_clock::now();
        cpuMillis.push_back(CpuMillis() - cpuStart);
        millis.push_back(std::chrono::duration<double, std::milli>(stop - start).count());
    }

    tallowcrest::TrackListModel lines;
    lines.addLines(buffer);
    std::FILE* figures = print ? stderr : stdout;
    std::fprintf(figures, "scan median %.2f ms (cpu %.2f ms) over %d runs, %d lines\n", Median(millis),
                 Median(cpuMillis), runs, lines.count());
    if (print) {
        for (int row = 0; row < lines.count(); ++row) {
            const std::string_view line = lines.row(row);
            std::fwrite(line.data(), 1, line.size(), stdout);
            std::fputc('\n', stdout);
        }
    }
    return 0;
}
