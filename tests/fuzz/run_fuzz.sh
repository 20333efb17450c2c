#!/usr/bin/env bash
# Fuzzes the request dispatcher for a bounded time, starting from a copy of
# the kept corpus so that the repository is never written to.
# Usage: run_fuzz.sh FUZZER SOURCE_DIR WORK_DIR SECONDS
# A failing input is left in WORK_DIR/artifacts; copy it into regressions/.
set -euo pipefail
fuzzer=$1 source=$2 work=$3 seconds=$4

rm -rf -- "$work"
mkdir -p "$work/corpus" "$work/artifacts" "$work/tmp"
cp -- "$source"/corpus/* "$work/corpus/"
export TMPDIR="$work/tmp"
"$fuzzer" "$work/corpus" \
    -dict="$source/request.dict" \
    -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=8192 \
    -artifact_prefix="$work/artifacts/" -print_final_stats=1
