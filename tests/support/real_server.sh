# The real tallowcrest-server for the shell tests and the benchmarks. Source it, then:
#   rs_home WORK             HOME and the XDG folders under WORK; offscreen, no display, no session bus
#   rs_settings MEDIA [WEB]  free ports PORT and WEB_PORT (or WEB, 0 for off) in the settings file RS_SETTINGS
#   rs_spawn NAME CMD...     CMD in a process group of its own, output in WORK/NAME.log, its pid in PID, the time just
#                            before in SPAWNED; rs_stop PID: TERM, KILL 3 s later; rs_stop_all: all, the last first
#   rs_serve SERVER          rs_spawn server SERVER (SERVER_PID) and rs_wait until PORT and WEB_PORT listen
#   rs_wait WHAT CMD...      CMD until it succeeds, else after 120 s rs_fail (exits 1; a script may redefine it)
RS_PIDS=()
rs_home() {
    RS_WORK=$1 && export HOME=$1/home XDG_RUNTIME_DIR=$1/runtime QT_QPA_PLATFORM=offscreen
    export XDG_CONFIG_HOME=$HOME/.config XDG_CACHE_HOME=$HOME/.cache XDG_DATA_HOME=$HOME/.local/share
    unset DBUS_SESSION_BUS_ADDRESS SESSION_MANAGER WAYLAND_DISPLAY DISPLAY
    mkdir -p -m 700 "$XDG_RUNTIME_DIR" && mkdir -p "$XDG_CONFIG_HOME/TallowcrestServer" "$XDG_CACHE_HOME" "$XDG_DATA_HOME"
    RS_SETTINGS=$XDG_CONFIG_HOME/TallowcrestServer/TallowcrestServer.conf
}
rs_listening() {
    awk -v port=":$(printf %04X "$1")" '$4 == "0A" && substr($2, length($2) - 4) == port { up = 1 } END { exit !up }' \
        /proc/net/tcp /proc/net/tcp6 2>/dev/null
}
rs_running() { [[ $(sed -E 's/.*\) (.).*/\1/' "/proc/$1/stat" 2>/dev/null) == [^ZX] ]]; }  # a zombie is gone
rs_free_port() {  # below the ports outgoing connections take
    local port && until port=$((10000 + RANDOM % 22000)) && ((port != ${PORT:-0})) && ! rs_listening $port; do :; done
    echo $port
}
rs_settings() {
    PORT=$(rs_free_port) && WEB_PORT=${2:-$(rs_free_port)} && local dir=${1//\\/\\\\}
    printf '[Settings]\nDir="%s"\nPort=%s\nWebPort=%s\n' "${dir//\"/\\\"}" "$PORT" "$WEB_PORT" >"$RS_SETTINGS"
}
rs_spawn() {
    local name=$1 && shift && SPAWNED=$EPOCHREALTIME
    setsid "$@" >"$RS_WORK/$name.log" 2>&1 & PID=$! && RS_PIDS+=("$PID")
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
