#!/usr/bin/env bash
# Times the library index on a library of tagged MP3s and prints one markdown
# table, each figure beside its reference from the same run.
#
# usage: index-bench.sh [BUILD_DIR]
#   BUILD_DIR  a configured build (default: <repo>/build); index_bench is built if missing
#   ROOT=DIR      the library (default /tmp/tallowcrest-bench/tagged, made by
#                 make-library.py --tagged --cover, see README)
#   QUERIES=N     searches timed (default 2000)
#   COLD=0        leaves out the cold-cache rows (they drop the page cache: root only)
#   PRIORITY=normal  reads at normal priority instead of idle, on a machine kept busy by other work
#
# The table goes to stdout, progress to stderr:
#   bash bench/index-bench.sh build >table.md
set -u

here=$(cd "$(dirname "$0")" && pwd)
top=$(git -C "$here" rev-parse --show-toplevel)
BUILD_DIR=$(cd "${1:-$top/build}" && pwd) || exit 1
ROOT=${ROOT:-/tmp/tallowcrest-bench/tagged}
QUERIES=${QUERIES:-2000}
COLD=${COLD:-1}
PRIORITY=${PRIORITY:-idle}

log() { echo "index-bench: $*" >&2; }
die() { log "$*"; exit 1; }
# The number after "LABEL:" in the program's output.
field() { sed -n "s/^$1: *\([0-9.-]*\).*/\1/p" <<<"$out" | head -n 1; }
calc() { awk "BEGIN { printf \"$1\", $2 }"; }
ratio() { calc %.2f "($1) / ($2)"; }
mib() { calc %.0f "($1) / 1024"; }
grouped() { printf '%s\n' "$1" | sed -E ':a; s/([0-9])([0-9]{3})($|,)/\1,\2\3/; ta'; }

[[ -d $ROOT ]] || die "no library at $ROOT; make it with make-library.py ROOT --tracks 200000 --tagged --cover PICTURE"
if [[ ! -x $BUILD_DIR/bench/index_bench ]]; then
    log "building index_bench"
    cmake --build "$BUILD_DIR" -j2 --target index_bench >&2 || die "build failed"
fi
options=(--queries "$QUERIES")
((COLD)) && options+=(--cold)
[[ $PRIORITY == normal ]] && options+=(--normal-priority)
LOAD_AT_START=$(cut -d' ' -f1-3 /proc/loadavg)
log "indexing $ROOT (${options[*]}); a few minutes"
out=$("$BUILD_DIR/bench/index_bench" "$ROOT" "${options[@]}") || die "index_bench failed: $out"
LOAD_AT_END=$(cut -d' ' -f1-3 /proc/loadavg)

tracks=$(field "tracks")
first=$(field "first index warm ms")
bare=$(field "bare loop warm ms")
before_kb=$(field "rss before kb")
commit=$(git -C "$top" rev-parse --short HEAD)
[[ -n $(git -C "$top" status --porcelain --untracked-files=no) ]] && commit+=" with uncommitted changes"

cat <<EOF
Measured $(date '+%Y-%m-%d %H:%M %Z') on $(nproc) cores (load average $LOAD_AT_START at the start, $LOAD_AT_END at the end), commit $commit, with \`bash bench/index-bench.sh\`.
The library is $(grouped "$tracks") tracks under $ROOT; the index read at $PRIORITY priority; figures of the \`index_bench\` process.

| what | measured | reference (same run) | ratio | target |
|---|---|---|---|---|
| first index, warm page cache, fresh cache folder (until the pass has ended) | $(calc %.1f "$first / 1000") s (CPU $(calc %.1f "$(field "first index cpu ms") / 1000") s) | opening each file and reading its first 64 KiB, one thread: $(calc %.1f "$bare / 1000") s | **$(ratio "$first" "$bare")** | ≤ 4 |
| (for reference) \`readTrackTags\` with the cover over every file, one thread, warm | $(calc %.1f "$(field "tags alone ms") / 1000") s | the loop above | $(ratio "$(field "tags alone ms")" "$bare") | — |
EOF
if ((COLD)); then
    cold=$(field "first index cold ms")
    bare_cold=$(field "bare loop cold ms")
    echo "| first index, cold page cache | $(calc %.1f "$cold / 1000") s | the same loop, cold: $(calc %.1f "$bare_cold / 1000") s | **$(ratio "$cold" "$bare_cold")** | reported |"
fi
cat <<EOF
| second pass over the unchanged library | $(field "rescan ms") ms (CPU $(field "rescan cpu ms") ms) | \`ScanFolder\` alone, median of 5: $(field "scan alone ms") ms | **$(ratio "$(field "rescan ms")" "$(field "scan alone ms")")** | ≤ 2 |
| search, $(grouped "$(field "queries")") substrings of 1 to 40 characters of titles, artists, albums and file names, limit 50: p99 | $(field "search p99 ms") ms | median $(field "search median ms") ms, slowest $(field "search max ms") ms; $(field "short queries") of 1-2 characters: median $(field "short search median ms") ms | — | ≤ 10 ms |
| database after the first index (library.sqlite + -wal), per track | $(field "bytes per track") B | $(calc %.0f "$(field "database bytes") / 1048576") MiB in all | — | ≤ 600 B |
| memory peak during the first index (VmHWM less VmRSS before) | +$(mib "$(field "peak during first index kb") - $before_kb") MiB | VmRSS before: $(mib "$before_kb") MiB (the list and this program) | — | ≤ 64 MiB |
| memory after the first index (VmRSS) | $(mib "$(field "rss after first index kb")") MiB | before: $(mib "$before_kb") MiB | $(calc %+.0f "($(field "rss after first index kb") - $before_kb) / 1024") MiB | server at rest ≤ 60 MiB |

- Search queries are drawn with a fixed seed; on average a query finds $(grouped "$(field "mean total")") tracks.
EOF
