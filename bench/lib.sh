# Shared helpers for the benchmark scripts. Source it:
#
#   source "$(dirname "$0")/lib.sh"
#
# It sources tests/support/real_server.sh, which starts the real server in a
# home of its own (rs_home, rs_settings, rs_serve, rs_spawn, rs_stop,
# rs_listening, rs_running: see there), and adds:
#
#   bench_make_library ROOT TRACKS
#       Makes the synthetic library under ROOT with make-library.py unless a
#       complete one is there (ROOT.complete marks it).
#   bench_median VALUE...    The median.

bench_top=$(git -C "$(dirname "${BASH_SOURCE[0]}")" rev-parse --show-toplevel)
source "$bench_top/tests/support/real_server.sh"

bench_make_library()
{
    local root=$1 tracks=$2
    [[ -f $root.complete ]] && return 0
    echo "bench: making a library of $tracks tracks under $root" >&2
    rm -rf -- "$root"
    mkdir -p "$(dirname "$root")"
    python3 "$bench_top/../shared/bench/make-library.py" "$root" --tracks "$tracks" >&2 || return 1
    touch "$root.complete"
}

bench_median()
{
    printf '%s\n' "$@" | sort -g |
        awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
