#!/usr/bin/env bash
# Times the track-list request "00" of the real server on a large library
# against `find` over the same tree, and reports the server's memory.
#
# usage: list-bench.sh [BUILD_DIR] [ROOT] [RUNS]
#   BUILD_DIR  holds tallowcrest-server (default: <repo>/build)
#   ROOT       the library, generated when missing (default: /tmp/tallowcrest-bench/library)
#   RUNS       timed runs of each (default: 5)
#   TRACKS=N in the environment sets the library size (default: 200000)
set -u

here=$(cd "$(dirname "$0")" && pwd)
top=$(git -C "$here" rev-parse --show-toplevel)
BUILD_DIR=$(cd "${1:-$top/build}" && pwd) || exit 1
ROOT=${2:-/tmp/tallowcrest-bench/library}
RUNS=${3:-5}
TRACKS=${TRACKS:-200000}
SERVER=$BUILD_DIR/tallowcrest-server
PROBE=$here/list_probe.py

die() { echo "list-bench: $*" >&2; exit 1; }
[[ -x $SERVER ]] || die "server not built: $SERVER"

if [[ ! -f $ROOT.complete ]]; then
    echo "list-bench: making a library of $TRACKS tracks under $ROOT"
    rm -rf -- "$ROOT"
    mkdir -p "$(dirname "$ROOT")"
    python3 "$top/../shared/bench/make-library.py" "$ROOT" --tracks "$TRACKS" || die "cannot make the library"
    touch "$ROOT.complete"
fi

WORK=$(mktemp -d /tmp/tallowcrest-list-bench.XXXXXX)
SERVER_PID=
cleanup() {
    if [[ -n $SERVER_PID ]]; then
        kill "$SERVER_PID" 2>/dev/null
        wait "$SERVER_PID" 2>/dev/null
    fi
    rm -rf -- "$WORK"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

export HOME=$WORK/home XDG_CONFIG_HOME=$WORK/config XDG_RUNTIME_DIR=$WORK/runtime
mkdir -p "$HOME" "$XDG_CONFIG_HOME/TallowcrestServer" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
PORT=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
printf '[Settings]\nDir=%s\nPort=%s\n' "$ROOT" "$PORT" >"$XDG_CONFIG_HOME/TallowcrestServer/TallowcrestServer.conf"

listening() { [[ -n $(ss -ltnH "sport = :$PORT") ]]; }
memory_kb() { awk -v key="$1:" '$1 == key { print $2 }' "/proc/$SERVER_PID/status"; }

echo "list-bench: starting the server (offscreen) on port $PORT"
QT_QPA_PLATFORM=offscreen "$SERVER" >"$WORK/server.log" 2>&1 &
SERVER_PID=$!
for ((i = 0; i < 3000; i++)); do
    listening && break
    kill -0 "$SERVER_PID" 2>/dev/null || die "server exited during start-up: $(tail -n 5 "$WORK/server.log")"
    sleep 0.1
done
listening || die "server did not listen within 300 s"
RSS_BEFORE=$(memory_kb VmRSS)

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

median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
list_median=$(median "${list_times[@]}")
find_median=$(median "${find_times[@]}")

sort "$WORK/server-paths.txt" >"$WORK/server-sorted.txt"
sort "$WORK/find-paths.txt" >"$WORK/find-sorted.txt"
only_server=$(comm -23 "$WORK/server-sorted.txt" "$WORK/find-sorted.txt" | wc -l)
only_find=$(comm -13 "$WORK/server-sorted.txt" "$WORK/find-sorted.txt" | wc -l)

echo
echo "library:        $ROOT ($(wc -l <"$WORK/find-sorted.txt") files matching find)"
echo "00 median:      $list_median s"
echo "find median:    $find_median s"
awk -v l="$list_median" -v f="$find_median" 'BEGIN { r = l / f; printf "ratio 00/find:  %.3f (target <= 1.0: %s)\n", r, r <= 1.0 ? "met" : "missed" }'
echo "server memory:  VmRSS before runs $RSS_BEFORE kB, VmRSS after $RSS_AFTER kB, VmHWM after runs $HWM_AFTER kB"
if ((only_server == 0 && only_find == 0)); then
    echo "paths:          same set as find ($(wc -l <"$WORK/server-sorted.txt"))"
else
    echo "paths:          DIFFER: $only_server only from the server, $only_find only from find"
    comm -13 "$WORK/server-sorted.txt" "$WORK/find-sorted.txt" | head -n 5 | sed 's/^/  only find:   /'
    comm -23 "$WORK/server-sorted.txt" "$WORK/find-sorted.txt" | head -n 5 | sed 's/^/  only server: /'
    exit 1
fi
