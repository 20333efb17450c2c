// Times filling the on-screen track list from a scan's text, as start-up and
// the list request do (split the lines, hand them to the model), against
// splitting the lines alone, the least any fill costs.
//
// usage: list_fill_bench [ROWS] [RUNS]
#include "library/track_list_model.h"
#include "library/track_scan.h"

#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

template <typename Fill>
double TimeMs(Fill fill)
{
    const auto start = Clock::now();
    fill();
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int rows = argc > 1 ? std::atoi(argv[1]) : 200000;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 9;

    std::string buffer;
    for (int i = 0; i < rows; ++i)
        buffer += "/home/me/Music/Artist " + std::to_string(i / 100) + "/Album " + std::to_string(i / 10) + "/" +
                  std::to_string(i) + " Song.mp3\r\n";

    std::vector<double> model;
    std::vector<double> copy;
    // Each step frees what it made before the next one runs, so neither pays
    // for fresh pages the other's memory forced.
    for (int run = 0; run < runs; ++run) {
        {
            std::vector<std::string> lines;
            copy.push_back(TimeMs([&] { lines = tallowcrest::SplitTrackLines(buffer); }));
            if (static_cast<int>(lines.size()) != rows)
                return 1;
        }
        {
            tallowcrest::TrackListModel list;
            list.AddRows({"stale"});
            model.push_back(TimeMs([&] {
                list.Clear();
                list.AddRows(tallowcrest::SplitTrackLines(buffer));
            }));
            if (list.Count() != rows)
                return 1;
        }
    }
    const double modelMs = Median(model);
    const double copyMs = Median(copy);
    std::printf("rows:          %d\n", rows);
    std::printf("list fill:     %.2f ms (median of %d)\n", modelMs, runs);
    std::printf("split alone:   %.2f ms\n", copyMs);
    std::printf("ratio:         %.2f (fill / split)\n", modelMs / copyMs);
    return 0;
}
