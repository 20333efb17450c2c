#!/usr/bin/env bash
# Runs tallowcrest-remote back to back against a running server, alternating
# `list` and `open`, and counts the runs that succeed. The server listens
# again only once it has handled the previous client's leaving (after a list,
# that is after its 200 ms pause), so many runs meet a refused connection and
# live on the client's retry.
#
# usage: remote-back-to-back.sh [BUILD_DIR] [RUNS]
#   BUILD_DIR  holds tallowcrest-server and tallowcrest-remote (default: <repo>/build)
#   RUNS       client runs, half `list` and half `open` (default: 1000)
#   TRACKS=N in the environment: the library's size, copies of one short tone (default: 200)
#
# The reference is the same number of runs of `tallowcrest-remote --help`,
# which starts the client and talks to no one, timed in the same run; the
# ratio is the back-to-back time over it.
set -u

here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"
BUILD_DIR=$(cd "${1:-$bench_top/build}" && pwd) || exit 1
RUNS=${2:-1000}
TRACKS=${TRACKS:-200}
SERVER=$BUILD_DIR/tallowcrest-server
REMOTE=$BUILD_DIR/tallowcrest-remote

die() { echo "remote-back-to-back: $*" >&2; exit 1; }
calc() { awk "BEGIN { printf \"$1\", $2 }"; }
[[ -x $SERVER && -x $REMOTE ]] || die "build tallowcrest-server and tallowcrest-remote in $BUILD_DIR first"

WORK=$(mktemp -d /tmp/tallowcrest-back-to-back.XXXXXX)
cleanup() {
    rs_stop_all
    rm -rf -- "$WORK"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

mkdir -p "$WORK/media"
sox -n -r 44100 -c 2 "$WORK/tone.mp3" synth 5 sine 440 || die "sox cannot make an MP3"
for ((i = 0; i < TRACKS; i++)); do
    cp "$WORK/tone.mp3" "$(printf '%s/media/track %04d.mp3' "$WORK" "$i")"
done

rs_home "$WORK"
rs_settings "$WORK/media"
echo "remote-back-to-back: starting the server (offscreen) on port $PORT" >&2
rs_serve "$SERVER"
mapfile -t paths < <("$REMOTE" --port "$PORT" list) || die "the first list failed"
((${#paths[@]} == TRACKS)) || die "the server lists ${#paths[@]} tracks, not $TRACKS"
sleep 0.5

# The reference first, so that the server is at rest for the runs.
start=$EPOCHREALTIME
for ((run = 0; run < RUNS; run++)); do
    "$REMOTE" --help >/dev/null
done
reference_s=$(calc %.3f "$EPOCHREALTIME - $start")

ok=0
slowest_ms=0
kind_us=(0 0)
: >"$WORK/failures"
start=$EPOCHREALTIME
for ((run = 0; run < RUNS; run++)); do
    before=${EPOCHREALTIME/./}
    if ((run % 2 == 0)); then
        "$REMOTE" --port "$PORT" list >/dev/null 2>>"$WORK/failures"
    else
        "$REMOTE" --port "$PORT" open "${paths[run / 2 % TRACKS]}" >/dev/null 2>>"$WORK/failures"
    fi
    status=$?
    # In whole microseconds, so that no helper program runs inside the timing.
    now=${EPOCHREALTIME/./}
    took_ms=$(((now - before) / 1000))
    ((status == 0)) && ((ok++))
    ((kind_us[run % 2] += now - before))
    ((took_ms > slowest_ms)) && slowest_ms=$took_ms
done
total_s=$(calc %.3f "$EPOCHREALTIME - $start")
rs_running "$SERVER_PID" || die "the server ended during the runs: $(tail -n 5 "$WORK/server.log")"

echo "runs:          $RUNS (alternating list and open, $TRACKS tracks)"
echo "succeeded:     $ok of $RUNS"
echo "total:         $total_s s ($(calc %.1f "$total_s * 1000 / $RUNS") ms a run; the slowest $slowest_ms ms)"
echo "by command:    list $(calc %.1f "${kind_us[0]} / 1000 / int(($RUNS + 1) / 2)") ms a run, open $(calc %.1f "${kind_us[1]} / 1000 / int($RUNS / 2)") ms a run"
echo "reference:     $reference_s s for $RUNS runs of tallowcrest-remote --help ($(calc %.1f "$reference_s * 1000 / $RUNS") ms a run)"
echo "ratio:         $(calc %.1f "$total_s / $reference_s")"
if ((ok < RUNS)); then
    echo "failures (first 5):"
    sort "$WORK/failures" | uniq -c | sort -rn | head -n 5
    exit 1
fi
