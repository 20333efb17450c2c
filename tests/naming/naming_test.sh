#!/usr/bin/env bash
# Every name in src/ follows the naming rule of CONTRIBUTING.md, as
# .clang-tidy writes it down. usage: naming_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1 source=$2
[[ -f $build/compile_commands.json ]] || { echo "no $build/compile_commands.json" >&2; exit 2; }
mapfile -t files < <(find "$source/src" -name '*.cpp' | sort)
if ! output=$(run-clang-tidy -p "$build" -quiet -j "$(nproc)" "${files[@]}" 2>&1); then
    grep -E 'error:|warning:' <<<"$output" | sed 's/\x1b\[[0-9;]*m//g' | sort -u >&2
    exit 1
fi
echo "every name in src/ follows the rule"
