#!/usr/bin/env bash
# Runs every benchmark and prints one markdown table of the results, each
# figure beside its reference from the same run where there is one.
#
# usage: run-all.sh [BUILD_DIR] [RUNS]
#   BUILD_DIR  a configured build (default: <repo>/build); missing programs are built
#   RUNS       timed runs of the scan, "00" and start-up (default: 7, 5, 5; RUNS sets all three)
#   ROOT=DIR, TRACKS=N, IDLE_SECONDS=S in the environment change the library
#   (default /tmp/tallowcrest-bench/library, 200000 tracks, made once) and the idle window (30).
#
# The table goes to stdout, progress to stderr:
#   bash bench/run-all.sh build >table.md
#
# It reuses scan-bench.sh (ScanFolder against find), list_fill_bench, and
# list-bench.sh ("00" against find), the last on the server started here for
# the start-up, memory and idle figures.
set -u

here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"
BUILD_DIR=$(cd "${1:-$bench_top/build}" && pwd) || exit 1
SCAN_RUNS=${2:-7}
LIST_RUNS=${2:-5}
START_RUNS=${2:-5}
ROOT=${ROOT:-/tmp/tallowcrest-bench/library}
TRACKS=${TRACKS:-200000}
IDLE_SECONDS=${IDLE_SECONDS:-30}
SPLASH_MS=2000
SERVER=$BUILD_DIR/tallowcrest-server

log() { echo "run-all: $*" >&2; }
die() { log "$*"; exit 1; }
# The value after "LABEL" on the line of OUTPUT that starts with it.
field() { sed -n "s/^$2 *\([0-9.]*\).*/\1/p" <<<"$1" | head -n 1; }
calc() { awk "BEGIN { printf \"$1\", $2 }"; }
# 200000 as 200,000.
grouped() { printf '%s\n' "$1" | sed -E ':a; s/([0-9])([0-9]{3})($|,)/\1,\2\3/; ta'; }

targets=()
[[ -x $SERVER ]] || targets+=(tallowcrest-server)
[[ -x $BUILD_DIR/bench/scan_bench ]] || targets+=(scan_bench)
[[ -x $BUILD_DIR/bench/list_fill_bench ]] || targets+=(list_fill_bench)
if ((${#targets[@]})); then
    log "building ${targets[*]}"
    cmake --build "$BUILD_DIR" -j2 --target "${targets[@]}" >&2 || die "build failed"
fi
LOAD_AT_START=$(cut -d' ' -f1-3 /proc/loadavg)
bench_make_library "$ROOT" "$TRACKS" || die "cannot make the library"
FOLDERS=$(find "$ROOT" -type d | wc -l)

WORK=$(mktemp -d /tmp/tallowcrest-run-all.XXXXXX)
cleanup() {
    rs_stop_all
    rm -rf -- "$WORK"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

log "ScanFolder against find, $SCAN_RUNS runs"
scan=$(bash "$here/scan-bench.sh" "$BUILD_DIR" "$ROOT" "$SCAN_RUNS") || die "scan-bench failed: $scan"
scan_ms=$(field "$scan" "scan median:")
scan_find_ms=$(field "$scan" "find median:")
scan_paths=$(sed -n 's/^same paths: *yes (\([0-9]*\) each)/\1/p' <<<"$scan")

log "list fill"
fill=$("$BUILD_DIR/bench/list_fill_bench" 200000 9) || die "list_fill_bench failed: $fill"
fill_ms=$(field "$fill" "list fill:")
split_ms=$(field "$fill" "line ends:")

# Start-up: the first start in a fresh home also builds GStreamer's plugin
# registry; it is shown apart and not counted.
rs_home "$WORK"
rs_settings "$ROOT"
SETTINGS=$RS_SETTINGS

# Sets STARTED_TIMES to "SETTINGS_READ LISTENING" in seconds from the start.
# The probe watches before the server starts, so no open is missed.
start_once() {
    local ready
    coproc PROBE { exec python3 "$here/start_probe.py" --port "$PORT" --watch "$SETTINGS"; }
    read -r ready <&"${PROBE[0]}"
    [[ $ready == ready ]] || die "the start-up probe did not start"
    rs_spawn server "$SERVER" && SERVER_PID=$PID
    echo "$SERVER_PID $SPAWNED" >&"${PROBE[1]}"
    read -r STARTED_TIMES <&"${PROBE[0]}"
    wait "$PROBE_PID" || die "start-up failed: $(tail -n 5 "$WORK/server.log")"
}

log "start-up, 1 uncounted + $START_RUNS runs"
start_once
read -r _ first_listen <<<"$STARTED_TIMES"
rs_stop "$SERVER_PID"
listen_times=()
read_times=()
load_times=()
for ((run = 1; run <= START_RUNS; run++)); do
    start_once
    read -r settings_read listen <<<"$STARTED_TIMES"
    listen_times+=("$listen")
    # "-": the settings were read before the probe watched them.
    if [[ $settings_read != - ]]; then
        read_times+=("$settings_read")
        load_times+=("$(calc %.4f "$listen - $settings_read")")
    fi
    log "start $run: listening after $listen s, settings read after $settings_read s"
    ((run < START_RUNS)) && rs_stop "$SERVER_PID"
done
listen_ms=$(calc %.0f "$(bench_median "${listen_times[@]}") * 1000")
((${#load_times[@]})) || die "the settings file was never seen opened"
load_ms=$(calc %.0f "$(bench_median "${load_times[@]}") * 1000")
read_ms=$(calc %.0f "$(bench_median "${read_times[@]}") * 1000")
first_listen_ms=$(calc %.0f "$first_listen * 1000")

# The last server stays up: memory at rest, idle, then "00". Its library
# index reads in the background after listening; the rest begins when it ends.
TOKEN=$("$SERVER" --pairing-url) && TOKEN=${TOKEN##*pair=} || die "--pairing-url failed"
python3 "$here/index_wait.py" "$WEB_PORT" "$TOKEN" || die "the library index never ended its reading"
sleep 1
status_kb() { awk -v key="$1:" '$1 == key { print $2 }' "/proc/$SERVER_PID/status"; }
rest_rss_kb=$(status_kb VmRSS)
start_hwm_kb=$(status_kb VmHWM)

# Per thread: id, name, voluntary + involuntary switches.
switches() {
    local task
    for task in /proc/"$SERVER_PID"/task/*; do
        awk -v id="${task##*/}" -v name="$(tr ' ' '_' <"$task/comm")" \
            '/^(voluntary|nonvoluntary)_ctxt_switches:/ { n += $2 } END { print id, name, n }' "$task/status"
    done
}
cpu_ticks() { sed -E 's/^.*\) //' "/proc/$SERVER_PID/stat" | awk '{ print $12 + $13 }'; }

log "idle for $IDLE_SECONDS s"
switches >"$WORK/idle-before"
cpu_before=$(cpu_ticks)
sleep "$IDLE_SECONDS"
cpu_after=$(cpu_ticks)
switches >"$WORK/idle-after"
idle_cpu_ms=$(calc %.0f "($cpu_after - $cpu_before) * 1000 / $(getconf CLK_TCK)")
# A thread that ended during the window took its count with it; such threads
# are listed apart (the CPU figure still holds their time).
idle_wakes=$(awk 'NR == FNR { before[$1] = $3; name[$1] = $2; next }
    { after[$1] = $3; name[$1] = $2 }
    END {
        for (id in name) {
            n = after[id] - before[id]
            total += (n > 0 ? n : 0)
            if (n > 0) detail = detail sprintf("%s %s: %d; ", name[id], id, n)
        }
        print total + 0, detail
    }' "$WORK/idle-before" "$WORK/idle-after")
read -r idle_switches idle_detail <<<"$idle_wakes"
idle_detail=${idle_detail%;}
# Threads that ended or started during the window, by name.
ended=$(awk 'NR == FNR { after[$1] = 1; next } !($1 in after) { print $2 }' "$WORK/idle-after" "$WORK/idle-before" |
    sort | uniq -c | awk '{ printf "%s%d %s", (NR > 1 ? ", " : ""), $1, $2 }')
started=$(awk 'NR == FNR { before[$1] = 1; next } !($1 in before) { print $2 }' "$WORK/idle-before" "$WORK/idle-after" |
    sort | uniq -c | awk '{ printf "%s%d %s", (NR > 1 ? ", " : ""), $1, $2 }')

log "\"00\" against find, $LIST_RUNS runs"
list=$(ATTACH_PID=$SERVER_PID ATTACH_PORT=$PORT bash "$here/list-bench.sh" "$BUILD_DIR" "$ROOT" "$LIST_RUNS") ||
    die "list-bench failed: $list"
list_ms=$(calc %.0f "$(field "$list" "00 median:") * 1000")
list_find_ms=$(calc %.0f "$(field "$list" "find median:") * 1000")
list_paths=$(sed -n 's/^paths: *same set as find (\([0-9]*\))/\1/p' <<<"$list")
list_bytes=$(sed -n 's/^run 1: 00 [0-9.]* s (\([0-9]*\) bytes.*/\1/p' <<<"$list")
hwm_scope=$(sed -n 's/.*VmHWM \(during runs\|since start\) .*/\1/p' <<<"$list")
list_hwm_kb=$(sed -n 's/.*VmHWM \(during runs\|since start\) \([0-9]*\) kB.*/\2/p' <<<"$list")
rs_stop "$SERVER_PID"

commit=$(git -C "$bench_top" rev-parse --short HEAD)
[[ -n $(git -C "$bench_top" status --porcelain --untracked-files=no) ]] && commit+=" with uncommitted changes"
mb() { calc %.0f "($1) / 1024"; }
ratio() { calc %.2f "($1) / ($2)"; }

cat <<EOF
Measured $(date '+%Y-%m-%d %H:%M %Z') on $(nproc) cores (load average $LOAD_AT_START at the start), commit $commit, with \`bash bench/run-all.sh\`.
The server ran with \`QT_QPA_PLATFORM=offscreen\`, HOME and the XDG folders in a
fresh folder under /tmp, and its own settings file there (\`Dir\` the library,
\`Port\` and \`WebPort\` free ports); no client connected before the "00" runs. The library is
$(grouped "$TRACKS") tracks in $(grouped "$FOLDERS") folders from \`make-library.py\` (empty files).

| what | measured | reference (same run) | ratio | target |
|---|---|---|---|---|
| folder scan (\`ScanFolder\`), median of $SCAN_RUNS warm runs, $(grouped "$scan_paths") paths | $(calc %.0f "$scan_ms") ms | \`find ROOT -name '*[mM][pP]3'\`: $(calc %.0f "$scan_find_ms") ms | **$(ratio "$scan_ms" "$scan_find_ms")** | ≤ 0.5 |
| "00" round trip, sending "00" to receiving "END" ($(calc %.1f "$list_bytes / 1e6") MB, $(grouped "$list_paths") paths), median of $LIST_RUNS | $list_ms ms | \`find\` as above: $list_find_ms ms | **$(ratio "$list_ms" "$list_find_ms")** | ≤ 0.5 |
| filling the track list with 200,000 rows (the scan text into the list's one buffer and its offsets), median of 9 | $(calc %.1f "$fill_ms") ms | finding the line ends alone (\`memchr\`): $(calc %.1f "$split_ms") ms | **$(ratio "$fill_ms" "$split_ms")** | well under 100 ms |
| server memory at rest: VmRSS 1 s after listening, library loaded, no client | $(mb "$rest_rss_kb") MiB | peak during start-up (VmHWM): $(mb "$start_hwm_kb") MiB | — | ≤ 60 MiB |
| server memory peak during the "00" runs (VmHWM, $hwm_scope) | $(mb "$list_hwm_kb") MiB | at rest: $(mb "$rest_rss_kb") MiB | $(ratio "$list_hwm_kb" "$rest_rss_kb") (+$(mb "$list_hwm_kb - $rest_rss_kb") MiB) | ≤ rest + 32 MiB |
| idle for $IDLE_SECONDS s after start-up, no client, nothing playing: CPU (utime+stime), context switches of all threads | CPU $idle_cpu_ms ms; switches: $idle_switches | — | — | 0 switches |
| start to listening less the splash (process start to the port listening, less $SPLASH_MS ms), median of $START_RUNS | $(calc %.0f "$listen_ms - $SPLASH_MS") ms | \`find\` as in the scan row: $(calc %.0f "$scan_find_ms") ms | **$(ratio "$listen_ms - $SPLASH_MS" "$scan_find_ms")** | ≤ 0.3 |

- Start-up: the settings file was first read $read_ms ms after the start (median), when the scan begins behind the splash; from the window's load to listening took $load_ms ms. The first start in a fresh home, when GStreamer also builds its plugin registry, took $first_listen_ms ms and is not counted.
- Idle: switches by thread (name id: count): ${idle_detail:-none}; threads that ended meanwhile: ${ended:-none}; started: ${started:-none}.
EOF
