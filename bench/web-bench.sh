#!/usr/bin/env bash
# The phone remote on a large library: the first page of rows and a search at
# the server, the page's first paint in headless Chromium, a change at the
# machine until the page shows it (bench/web_probe.py), and the server's
# memory with the web remote on against off (WebPort=0). Prints a markdown
# table, each figure beside a reference from the same run.
#
# usage: web-bench.sh [BUILD_DIR] [RUNS]
#   BUILD_DIR  holds tallowcrest-server (default: <repo>/build)
#   RUNS       timed runs of each figure, and starts of each memory reading (default: 9 and 3)
#   ROOT=DIR, TRACKS=N in the environment change the library
#   (default /tmp/tallowcrest-bench/library, 200000 tracks, made once)
set -u

here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib.sh"
BUILD_DIR=$(cd "${1:-$bench_top/build}" && pwd) || exit 1
RUNS=${2:-9}
MEMORY_RUNS=3
ROOT=${ROOT:-/tmp/tallowcrest-bench/library}
TRACKS=${TRACKS:-200000}
SERVER=$BUILD_DIR/tallowcrest-server

log() { echo "web-bench: $*" >&2; }
die() { log "$*"; exit 1; }
calc() { awk "BEGIN { printf \"$1\", $2 }"; }
# 200000 as 200,000.
grouped() { sed -E ':a; s/([0-9])([0-9]{3})($|,)/\1,\2\3/; ta' <<<"$1"; }

[[ -x $SERVER ]] || die "server not built: $SERVER"
LOAD_AT_START=$(cut -d' ' -f1-3 /proc/loadavg)
bench_make_library "$ROOT" "$TRACKS" || die "cannot make the library"

WORK=$(mktemp -d /tmp/tallowcrest-web-bench.XXXXXX)
cleanup() {
    rs_stop_all
    rm -rf -- "$WORK"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

rs_home "$WORK"
rs_settings "$ROOT"
WEB=$WEB_PORT
# Starts the server with the web remote on port $1 (0 for off) and waits until it listens.
start() {
    WEB_PORT=$1 && sed -i "s/^WebPort=.*/WebPort=$1/" "$RS_SETTINGS"
    rs_serve "$SERVER"
}
rss_kb() { awk '$1 == "VmRSS:" { print $2 }' "/proc/$SERVER_PID/status"; }

# Memory: alternated starts, each read 3 s after listening (the list filled, nothing playing).
off_kb=()
on_kb=()
for ((run = 1; run <= MEMORY_RUNS; run++)); do
    for web in 0 "$WEB"; do
        start "$web"
        sleep 3
        if ((web == 0)); then off_kb+=("$(rss_kb)"); else on_kb+=("$(rss_kb)"); fi
        rs_stop "$SERVER_PID"
    done
    log "memory run $run: off ${off_kb[-1]} kB, on ${on_kb[-1]} kB"
done

start "$WEB"
URL=$("$SERVER" --pairing-url) || die "--pairing-url failed"
TOKEN=${URL##*pair=}
log "timing the web remote, $RUNS runs of each"
find "$ROOT" -iname '*.mp3' >"$WORK/paths.txt"
probe() {
    python3 "$here/web_probe.py" --port "$PORT" --web "$WEB" --token "$TOKEN" --root "$ROOT" --paths "$WORK/paths.txt" \
        --runs "$RUNS" "$@"
}
# Memory after the page's use is read before anything plays: the player's
# first load takes memory of its own, with or without the web remote.
probe=$(probe --parts first_page,search,paint) || die "web_probe failed"
used_kb=$(rss_kb)
probe+=$'\n'$(probe --parts change) || die "web_probe failed"
rs_stop "$SERVER_PID"

field() { awk -v name="$1" -v column="$2" '$1 == name { print $column }' <<<"$probe"; }
row() {
    local name=$1 what=$2 reference=$3 target=$4
    local ms=$(field "$name" 2) ref=$(field "$name" 3)
    printf '| %s | %s ms | %s: %s ms | **%s** | %s |\n' "$what" "$(calc %.1f "$ms")" "$reference" \
        "$(calc %.1f "$ref")" "$(calc %.2f "$ms / $ref")" "$target"
}
off_mib=$(calc %.1f "$(bench_median "${off_kb[@]}") / 1024")
on_mib=$(calc %.1f "$(bench_median "${on_kb[@]}") / 1024")
used_mib=$(calc %.1f "$used_kb / 1024")
commit=$(git -C "$bench_top" rev-parse --short HEAD)
[[ -n $(git -C "$bench_top" status --porcelain --untracked-files=no -- src) ]] && commit+=" with uncommitted changes"

cat <<EOF
Measured $(date '+%Y-%m-%d %H:%M %Z') on $(nproc) cores (load average $LOAD_AT_START at the start), commit $commit, with \`bash bench/web-bench.sh\`.
The server ran offscreen in a fresh HOME on the $(grouped "$TRACKS")-track library from \`make-library.py\`; requests
came from the same machine over loopback. Times are medians of $RUNS runs after a warm-up, alternated with their reference.

| what | measured | reference (same run) | ratio | target |
|---|---|---|---|---|
$(row first_page "first page of rows, \`GET /api/tracks?offset=0&limit=100\`, connect to close" "\`GET /style.css\` (static, same server)" "≤ 20 ms")
$(row search "search over all titles, \`GET /api/tracks?q=TITLE\` (a row near the end)" "\`find ROOT -iname '*TITLE*'\` (warm)" "≤ 50 ms")
$(row grep "the same search" "\`grep -ci TITLE\` over a file of all $(grouped "$TRACKS") paths (cached)" "—")
$(row first_paint "first contentful paint after navigation, headless Chromium at 390 × 844" "first paint of the 403 page" "≤ 500 ms")
$(row first_row "first row of the list in the page after navigation" "first paint of the 403 page" "—")
$(row change "a track opened by a TCP client (\`01\`) until the page shows its title" "the same client hearing \`CODE_11\`" "≤ 200 ms")
| server memory (VmRSS 3 s after listening, median of $MEMORY_RUNS starts), web remote on | $on_mib MiB | off (\`WebPort=0\`): $off_mib MiB | **$(calc %+.1f "$on_mib - $off_mib") MiB** | ≤ 8 MiB above off |
| server memory after the first-page, search and paint runs above (before anything played) | $used_mib MiB | off: $off_mib MiB | **$(calc %+.1f "$used_mib - $off_mib") MiB** | — |
EOF
