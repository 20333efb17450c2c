# Shared helpers for the benchmark scripts. Source it:
#
#   source "$(dirname "$0")/lib.sh"
#
#   bench_make_library ROOT TRACKS
#       Makes the synthetic library under ROOT with make-library.py unless a
#       complete one is there (ROOT.complete marks it).
#   bench_isolate WORK
#       Points HOME, XDG_CONFIG_HOME, XDG_RUNTIME_DIR, XDG_DATA_HOME and
#       XDG_CACHE_HOME into WORK and drops the session bus, so the server
#       reads and writes nothing of the real user.
#   bench_free_port          A TCP port the server can listen on now.
#   bench_write_settings DIR PORT
#       The server's settings file under $XDG_CONFIG_HOME.
#   bench_settings_file      Its path.
#   bench_start_server SERVER LOG
#       Starts SERVER on the offscreen platform with its output in LOG; sets
#       SERVER_PID and SERVER_STARTED (epoch seconds, taken just before).
#   bench_running PID        True while PID is alive (a zombie counts as gone).
#   bench_stop_server        TERM to SERVER_PID, KILL after 3 s; clears SERVER_PID.
#   bench_listening PORT     True when something listens on TCP PORT.
#   bench_median VALUE...    The median.

bench_top=$(git -C "$(dirname "${BASH_SOURCE[0]}")" rev-parse --show-toplevel)
SERVER_PID=

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

bench_isolate()
{
    local work=$1
    export HOME=$work/home
    export XDG_CONFIG_HOME=$HOME/.config XDG_DATA_HOME=$HOME/.local/share XDG_CACHE_HOME=$HOME/.cache
    export XDG_RUNTIME_DIR=$work/runtime
    mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$XDG_RUNTIME_DIR"
    chmod 700 "$XDG_RUNTIME_DIR"
    unset DBUS_SESSION_BUS_ADDRESS SESSION_MANAGER WAYLAND_DISPLAY DISPLAY
}

bench_free_port()
{
    python3 -c 'import socket; s = socket.socket(); s.bind(("", 0)); print(s.getsockname()[1])'
}

bench_settings_file() { echo "$XDG_CONFIG_HOME/TallowcrestServer/TallowcrestServer.conf"; }

bench_write_settings()
{
    local folder=$1 port=$2
    folder=${folder//\\/\\\\}
    folder=${folder//\"/\\\"}
    mkdir -p "$XDG_CONFIG_HOME/TallowcrestServer"
    printf '[Settings]\nDir="%s"\nPort=%s\n' "$folder" "$port" >"$(bench_settings_file)"
}

bench_start_server()
{
    local server=$1 log=$2
    SERVER_STARTED=$EPOCHREALTIME
    QT_QPA_PLATFORM=offscreen "$server" >"$log" 2>&1 &
    SERVER_PID=$!
}

bench_running()
{
    local state
    state=$(sed -E 's/^.*\) ([A-Za-z]).*$/\1/' "/proc/$1/stat" 2>/dev/null) || return 1
    [[ $state != Z && $state != X ]]
}

bench_stop_server()
{
    [[ -n $SERVER_PID ]] || return 0
    local tries
    kill -TERM "$SERVER_PID" 2>/dev/null
    for ((tries = 0; tries < 30; tries++)); do
        bench_running "$SERVER_PID" || break
        sleep 0.1
    done
    bench_running "$SERVER_PID" && kill -KILL "$SERVER_PID" 2>/dev/null
    wait "$SERVER_PID" 2>/dev/null
    SERVER_PID=
}

bench_listening()
{
    # State 0A is LISTEN; the local address ends in the port in hex.
    awk -v port=":$(printf '%04X' "$1")" \
        '$4 == "0A" && substr($2, length($2) - 4) == port { found = 1 } END { exit !found }' \
        /proc/net/tcp /proc/net/tcp6 2>/dev/null
}

bench_median()
{
    printf '%s\n' "$@" | sort -g |
        awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
