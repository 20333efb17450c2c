// Times filling the on-screen track list from a scan's text, as start-up and
// the list request do (the model takes the text and marks where each row
// starts), against finding the line ends alone, the least any fill costs.
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
            std::size_t lines = 0;
            copy.push_back(TimeMs([&] {
                for (std::size_t at = buffer.find("\r\n"); at != std::string::npos; at = buffer.find("\r\n", at + 2))
                    ++lines;
            }));
            if (static_cast<int>(lines) != rows)
                return 1;
        }
        {
            tallowcrest::TrackListModel list;
            list.addLines("stale\r\n");
            std::string text = buffer;
            model.push_back(TimeMs([&] {
                list.clear();
                list.addLines(std::move(text));
            }));
            if (list.count() != rows)
                return 1;
        }
    }
    const double modelMs = Median(model);
    const double copyMs = Median(copy);
    std::printf("rows:          %d\n", rows);
    std::printf("list fill:     %.2f ms (median of %d)\n", modelMs, runs);
    std::printf("line ends:     %.2f ms\n", copyMs);
    std::printf("ratio:         %.2f (fill / line ends)\n", modelMs / copyMs);
    return 0;
}
