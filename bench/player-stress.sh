#!/usr/bin/env bash
# The player under disk load: one client opens tracks back to back over the
# real socket (play, pause and stop mixed in) while a loop of
# `dd ... conv=fsync` writes 200 MB files, against the same load with no
# opens as the reference for the main thread's longest stall.
#
# usage: player-stress.sh [BUILD_DIR] [RUNS] [OPENS]   (defaults: build, 1, 10000)
# Prints one line per run and a summary; exits non-zero if a request went
# unanswered.
set -u

here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"
BUILD_DIR=$(cd "${1:-$bench_top/build}" && pwd) || exit 1
RUNS=${2:-1}
OPENS=${3:-10000}
REFERENCE_SECONDS=${REFERENCE_SECONDS:-30}
SERVER=$BUILD_DIR/tallowcrest-server

die() { echo "player-stress: $*" >&2; exit 1; }

WORK=$(mktemp -d /tmp/tallowcrest-stress.XXXXXX)
DD_PID=
cleanup() {
    [[ -n $DD_PID ]] && kill "$DD_PID" 2>/dev/null && wait "$DD_PID" 2>/dev/null
    rs_stop_all
    rm -rf -- "$WORK"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

mkdir -p "$WORK/library" "$WORK/disk"
sox -n -r 44100 -c 2 -b 16 "$WORK/tone.wav" synth 30 sine 440 && lame --quiet -b 128 "$WORK/tone.wav" "$WORK/tone.mp3" ||
    die "needs sox and lame"
tracks=()
for i in $(seq 1 12); do
    cp "$WORK/tone.mp3" "$WORK/library/Track $i.mp3"
    tracks+=("$WORK/library/Track $i.mp3")
done

rs_home "$WORK"
rs_settings "$WORK/library"

start_watched_server() {
    rm -f "$WORK/stalls"
    TALLOWCREST_STALL_LOG=$WORK/stalls rs_serve "$SERVER"
}
# The longest lateness in the stall log, leaving out the first seconds of start-up.
longest_stall() { awk 'NR > 3 && $2 > max { max = $2 } END { print max + 0 }' "$WORK/stalls"; }
disk_load() {
    while :; do dd if=/dev/zero of="$WORK/disk/fill" bs=1M count=200 conv=fsync status=none; done &
    DD_PID=$!
}
stop_disk_load() { kill "$DD_PID" 2>/dev/null; wait "$DD_PID" 2>/dev/null; DD_PID=; rm -f "$WORK/disk/fill"; }

failures=0
for ((run = 1; run <= RUNS; run++)); do
    start_watched_server
    sleep 3
    disk_load
    sleep "$REFERENCE_SECONDS"
    stop_disk_load
    reference=$(longest_stall)
    rs_stop "$SERVER_PID"

    start_watched_server
    sleep 3
    disk_load
    started=$(date +%s.%N)
    result=$(python3 "$here/stress_client.py" --port "$PORT" --pid "$SERVER_PID" --opens "$OPENS" "${tracks[@]}") ||
        failures=$((failures + 1))
    seconds=$(awk -v s="$started" -v e="$(date +%s.%N)" 'BEGIN { printf "%.0f", e - s }')
    stop_disk_load
    stall=$(longest_stall)
    rs_running "$SERVER_PID" || { failures=$((failures + 1)); result+=" (the server ended)"; }
    rs_stop "$SERVER_PID"
    echo "run $run: $result, ${seconds} s; longest main-thread stall $stall ms, with no opens $reference ms" \
         "(ratio $(awk -v a="$stall" -v b="$reference" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'))"
done
echo "runs with an unanswered request or a lost server: $failures of $RUNS"
((failures == 0))
