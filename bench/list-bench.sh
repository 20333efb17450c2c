#!/usr/bin/env bash
# Times the track-list request "00" of the real server on a large library
# against `find` over the same tree, and reports the server's memory.
#
# usage: list-bench.sh [BUILD_DIR] [ROOT] [RUNS]
#   BUILD_DIR  holds tallowcrest-server (default: <repo>/build)
#   ROOT       the library, generated when missing (default: /tmp/tallowcrest-bench/library)
#   RUNS       timed runs of each (default: 5)
#   TRACKS=N in the environment sets the library size (default: 200000)
#   ATTACH_PID=PID ATTACH_PORT=PORT in the environment: time a server that is
#              already running on the library instead of starting one
#
# The peak memory is the one during the runs: the high-water mark is reset
# before them when the kernel allows it (/proc/PID/clear_refs).
set -u

here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"
BUILD_DIR=$(cd "${1:-$bench_top/build}" && pwd) || exit 1
ROOT=${2:-/tmp/tallowcrest-bench/library}
RUNS=${3:-5}
TRACKS=${TRACKS:-200000}
SERVER=$BUILD_DIR/tallowcrest-server
PROBE=$here/list_probe.py

die() { echo "list-bench: $*" >&2; exit 1; }

bench_make_library "$ROOT" "$TRACKS" || die "cannot make the library"

WORK=$(mktemp -d /tmp/tallowcrest-list-bench.XXXXXX)
cleanup() {
    rs_stop_all
    rm -rf -- "$WORK"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

if [[ -n ${ATTACH_PID:-} ]]; then
    [[ -n ${ATTACH_PORT:-} ]] || die "ATTACH_PID needs ATTACH_PORT"
    PID=$ATTACH_PID PORT=$ATTACH_PORT
    rs_running "$PID" || die "no server with pid $PID"
    echo "list-bench: timing the running server $PID on port $PORT"
else
    [[ -x $SERVER ]] || die "server not built: $SERVER"
    rs_home "$WORK"
    rs_settings "$ROOT"
    echo "list-bench: starting the server (offscreen) on port $PORT"
    rs_serve "$SERVER"
    PID=$SERVER_PID
fi

memory_kb() { awk -v key="$1:" '$1 == key { print $2 }' "/proc/$PID/status"; }
RSS_BEFORE=$(memory_kb VmRSS)
HWM_BEFORE=$(memory_kb VmHWM)
# 5 resets the peak to the present resident size.
if echo 5 2>/dev/null >"/proc/$PID/clear_refs"; then
    HWM_SCOPE="during runs"
else
    HWM_SCOPE="since start"
fi

list_times=()
find_times=()
for ((run = 1; run <= RUNS; run++)); do
    read -r seconds bytes count < <(python3 "$PROBE" --port "$PORT" --paths "$WORK/server-paths.txt") ||
        die "run $run: the track-list request failed"
    list_times+=("$seconds")

    start=$(date +%s%N)
    find "$ROOT" -name '*[mM][pP]3' >"$WORK/find-paths.txt"
    end=$(date +%s%N)
    find_times+=("$(awk -v ns=$((end - start)) 'BEGIN { printf "%.6f", ns / 1e9 }')")
    echo "run $run: 00 ${list_times[-1]} s ($bytes bytes, $count paths), find ${find_times[-1]} s"
done
HWM_AFTER=$(memory_kb VmHWM)
RSS_AFTER=$(memory_kb VmRSS)

list_median=$(bench_median "${list_times[@]}")
find_median=$(bench_median "${find_times[@]}")

sort "$WORK/server-paths.txt" >"$WORK/server-sorted.txt"
sort "$WORK/find-paths.txt" >"$WORK/find-sorted.txt"
only_server=$(comm -23 "$WORK/server-sorted.txt" "$WORK/find-sorted.txt" | wc -l)
only_find=$(comm -13 "$WORK/server-sorted.txt" "$WORK/find-sorted.txt" | wc -l)

echo
echo "library:        $ROOT ($(wc -l <"$WORK/find-sorted.txt") files matching find)"
echo "00 median:      $list_median s"
echo "find median:    $find_median s"
awk -v l="$list_median" -v f="$find_median" 'BEGIN { r = l / f; printf "ratio 00/find:  %.3f (target <= 0.50: %s)\n", r, r <= 0.50 ? "met" : "missed" }'
echo "server memory:  VmRSS before runs $RSS_BEFORE kB (VmHWM $HWM_BEFORE kB), VmRSS after $RSS_AFTER kB, VmHWM $HWM_SCOPE $HWM_AFTER kB"
if ((only_server == 0 && only_find == 0)); then
    echo "paths:          same set as find ($(wc -l <"$WORK/server-sorted.txt"))"
else
    echo "paths:          DIFFER: $only_server only from the server, $only_find only from find"
    comm -13 "$WORK/server-sorted.txt" "$WORK/find-sorted.txt" | head -n 5 | sed 's/^/  only find:   /'
    comm -23 "$WORK/server-sorted.txt" "$WORK/find-sorted.txt" | head -n 5 | sed 's/^/  only server: /'
    exit 1
fi
