#!/usr/bin/env bash
# Compares ScanFolder with find(1) on a synthetic 200,000-track library.
#
# usage: scan-bench.sh BUILD_DIR [ROOT] [RUNS]
#
# Builds the library under ROOT unless a complete one is there, then times
# ScanFolder (inside scan_bench) and `find ROOT -name '*[mM][pP]3'` in
# alternation, RUNS times each after one warm-up run of both, and prints both
# medians and their ratio. Fails when the two do not find the same paths.
set -euo pipefail

build_dir=${1:?usage: scan-bench.sh BUILD_DIR [ROOT] [RUNS]}
root=${2:-/tmp/tallowcrest-bench/library}
runs=${3:-7}
scan_bench=$build_dir/bench/scan_bench
[[ -x $scan_bench ]] || { echo "no $scan_bench; build the scan_bench target first" >&2; exit 2; }

source "$(dirname "$0")/lib.sh"
bench_make_library "$root" 200000

now_ns() { date +%s%N; }

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

time_find() {
    local start end
    start=$(now_ns)
    find "$root" -name '*[mM][pP]3' > /dev/null
    end=$(now_ns)
    awk -v ns=$((end - start)) 'BEGIN { printf "%.2f\n", ns / 1e6 }'
}

time_scan() {
    "$scan_bench" "$root" --runs 1 | sed -n 's/^scan median \([0-9.]*\) ms.*/\1/p'
}

# Warm the cache for both before anything is timed.
time_find > /dev/null
time_scan > /dev/null

scan_times=()
find_times=()
for ((run = 0; run < runs; ++run)); do
    scan_times+=("$(time_scan)")
    find_times+=("$(time_find)")
done

scan_median=$(printf '%s\n' "${scan_times[@]}" | median)
find_median=$(printf '%s\n' "${find_times[@]}" | median)
echo "library:     $root"
echo "scan runs:   ${scan_times[*]} ms"
echo "find runs:   ${find_times[*]} ms"
echo "scan median: $scan_median ms"
echo "find median: $find_median ms"
awk -v s="$scan_median" -v f="$find_median" 'BEGIN { printf "ratio:       %.3f (scan / find, target <= 0.5)\n", s / f }'

lists=$(mktemp -d)
trap 'rm -rf "$lists"' EXIT
"$scan_bench" "$root" --runs 1 --print 2> /dev/null | LC_ALL=C sort > "$lists/scan"
find "$root" -name '*[mM][pP]3' | LC_ALL=C sort > "$lists/find"
if cmp -s "$lists/scan" "$lists/find"; then
    echo "same paths:  yes ($(wc -l < "$lists/scan") each)"
else
    echo "same paths:  NO" >&2
    diff "$lists/scan" "$lists/find" | head -20 >&2
    exit 1
fi
