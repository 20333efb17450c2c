# The real tallowcrest-server for the shell tests and the benchmarks. Source it, then rs_home WORK (HOME and the XDG
# folders under WORK, offscreen, no display or session bus), rs_settings MEDIA [WEB] (free PORT and WEB_PORT, or WEB,
# in RS_SETTINGS) and rs_serve SERVER (started as SERVER_PID, until it listens). rs_spawn NAME CMD...: CMD in a group of
# its own, output in WORK/NAME.log, pid in PID; rs_stop PID, rs_stop_all; rs_wait WHAT CMD... (120 s, then rs_fail).
RS_PIDS=()
rs_home() {
    RS_WORK=$1 && export HOME=$1/home XDG_RUNTIME_DIR=$1/runtime QT_QPA_PLATFORM=offscreen
    export XDG_CONFIG_HOME=$HOME/.config XDG_CACHE_HOME=$HOME/.cache XDG_DATA_HOME=$HOME/.local/share
    unset DBUS_SESSION_BUS_ADDRESS SESSION_MANAGER WAYLAND_DISPLAY DISPLAY
    mkdir -p -m 700 "$XDG_RUNTIME_DIR" && mkdir -p "$XDG_CONFIG_HOME/TallowcrestServer" "$XDG_CACHE_HOME" "$XDG_DATA_HOME"
    RS_SETTINGS=$XDG_CONFIG_HOME/TallowcrestServer/TallowcrestServer.conf
}
rs_listening() { ss -Hltn "sport = :$1" | grep -q .; }
rs_running() { [[ $(sed -E 's/.*\) (.).*/\1/' "/proc/$1/stat" 2>/dev/null) == [^ZX] ]]; }  # a zombie is gone
rs_settings() {  # PORT and PORT + 1, below the ports outgoing connections take
    until PORT=$((10000 + RANDOM % 11000 * 2)) && ! rs_listening $PORT && ! rs_listening $((PORT + 1)); do :; done
    WEB_PORT=${2:-$((PORT + 1))} && local dir=${1//\\/\\\\}
    printf '[Settings]\nDir="%s"\nPort=%s\nWebPort=%s\n' "${dir//\"/\\\"}" "$PORT" "$WEB_PORT" >"$RS_SETTINGS"
}
rs_spawn() {
    local name=$1 && shift && SPAWNED=$EPOCHREALTIME && { setsid "$@" >"$RS_WORK/$name.log" 2>&1 & } && PID=$! RS_PIDS+=($!)
}
rs_stop() {
    kill -TERM -- "-$1" 2>/dev/null && for _ in {1..30}; do rs_running "$1" && sleep 0.1; done
    kill -KILL -- "-$1" 2>/dev/null; wait "$1" 2>/dev/null; RS_PIDS=($(printf '%s\n' "${RS_PIDS[@]}" | grep -vx "$1"))
}
rs_stop_all() { while ((${#RS_PIDS[@]})); do rs_stop "${RS_PIDS[-1]}"; done; }
rs_fail() { echo "FAIL: $*" >&2; exit 1; }
rs_wait() {
    local deadline=$((SECONDS + 120)) what=$1 && shift
    until "$@"; do ((SECONDS < deadline)) || rs_fail "waited in vain for $what"; sleep 0.05; done
}
rs_serving() {
    rs_running "$SERVER_PID" || rs_fail "the server ended: $(tail -n 5 "$RS_WORK/server.log")"
    rs_listening "$PORT" && { ((WEB_PORT == 0)) || rs_listening "$WEB_PORT"; }
}
rs_serve() { rs_spawn server "$1" && SERVER_PID=$PID && rs_wait "the server listening on $PORT" rs_serving; }
