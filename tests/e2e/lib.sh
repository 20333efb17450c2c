# The real programs on a private X desktop (Xvfb, openbox, tint2), driven by xdotool. A script sources this, calls
# e2e_init "$@" (BUILD_DIR SOURCE_DIR); what e2e_spawn starts ends with it; a failure shows logs, windows, screen.
set -uo pipefail
E2E_PIDS=()
e2e_init() {
    [[ -x "${1:-}/tallowcrest-server" && -x "$1/tallowcrest-remote" ]] || { echo "usage: $0 BUILD_DIR SOURCE_DIR" >&2; exit 2; }
    BUILD=$(cd "$1" && pwd) && ARTIFACTS=$BUILD/e2e-artifacts && TMP=$(mktemp -d /tmp/tallowcrest-e2e.XXXXXX)
    trap e2e_cleanup EXIT && trap 'exit 130' INT TERM
    export HOME=$TMP/home XDG_RUNTIME_DIR=$TMP/runtime QT_QPA_PLATFORM=xcb NO_AT_BRIDGE=1
    export XDG_CONFIG_HOME=$HOME/.config XDG_CACHE_HOME=$HOME/.cache XDG_DATA_HOME=$HOME/.local/share
    unset DBUS_SESSION_BUS_ADDRESS SESSION_MANAGER WAYLAND_DISPLAY DISPLAY
    mkdir -p -m 700 "$XDG_RUNTIME_DIR" && mkdir -p "$ARTIFACTS" "$XDG_CONFIG_HOME/TallowcrestServer" "$XDG_DATA_HOME"
    e2e_spawn xvfb sh -c 'exec Xvfb -displayfd 3 -screen 0 1024x600x24 -nolisten tcp 3>"$0"' "$TMP/display"
    e2e_wait 10 "Xvfb" grep -qs . "$TMP/display"
    export DISPLAY=:$(<"$TMP/display")
    e2e_spawn openbox openbox --sm-disable
    e2e_wait 10 "openbox" eval 'xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id"'
    e2e_spawn tint2 tint2
    e2e_wait 10 "tint2's panel" e2e_found --class tint2
}
e2e_cleanup() {
    for ((i = ${#E2E_PIDS[@]} - 1; i >= 0; i--)); do e2e_stop "${E2E_PIDS[i]}"; done
    # With no session bus, D-Bus has dbus-launch start one for the display, and it outlives it.
    for bus in "$HOME"/.dbus/session-bus/*; do kill "$(sed -n 's/^DBUS_SESSION_BUS_PID=//p' "$bus")"; done 2>/dev/null
    rm -rf -- "$TMP"
}
e2e_fail() {
    echo "FAIL: $*" >&2
    for log in "$TMP"/*.log; do echo "--- ${log##*/}" && tail -n 25 "$log"; done >&2
    for id in $(e2e_windows --name ''); do echo "window $id \"$(xdotool getwindowname "$id")\""; done >&2
    [[ -n "${DISPLAY:-}" ]] && import -window root "$ARTIFACTS/failure.png" && echo "screen: $ARTIFACTS/failure.png" >&2
    exit 1
}
# e2e_spawn NAME CMD...: CMD in a process group of its own, output in NAME.log, pid in PID.
e2e_spawn() { local name=$1; shift; setsid "$@" >"$TMP/$name.log" 2>&1 & PID=$!; E2E_PIDS+=("$PID"); }
e2e_running() { [[ -r /proc/$1/stat ]] && ! grep -qE '\) [ZX] ' "/proc/$1/stat" 2>/dev/null; }
e2e_stop() {
    kill -TERM -- "-$1" 2>/dev/null && for _ in {1..30}; do e2e_running "$1" && sleep 0.1; done
    kill -KILL -- "-$1" 2>/dev/null; wait "$1" 2>/dev/null
}
# e2e_wait SECONDS WHAT CMD...: CMD until it succeeds; after SECONDS the test fails.
e2e_wait() {
    local deadline=$((SECONDS + $1)) what=$2 && shift 2
    until "$@"; do ((SECONDS < deadline)) || e2e_fail "waited in vain for $what"; sleep 0.1; done
}
e2e_windows() { xdotool search --all --onlyvisible "$@" 2>/dev/null; }
# e2e_found SEARCH...: a visible window; its id in WINDOW.
e2e_found() { WINDOW=$(e2e_windows "$@" | head -n 1) && [[ -n $WINDOW ]]; }
e2e_size() { xwininfo -id "$1" | awk '/^ *Width:/ {w = $2} /^ *Height:/ {h = $2} END {print w "x" h}'; }
e2e_listening() { ss -Hltn "sport = :$1" | grep -q .; }
# e2e_settings FOLDER: the settings file; free ports PORT and WEB_PORT, below those outgoing connections take.
e2e_settings() {
    PORT=$((10000 + RANDOM % 10000)) && WEB_PORT=$((PORT + 10000))
    while e2e_listening "$PORT" || e2e_listening "$WEB_PORT"; do ((PORT++, WEB_PORT++)); done
    printf '[Settings]\nDir="%s"\nPort=%s\nWebPort=%s\n' "$1" "$PORT" "$WEB_PORT" >"$XDG_CONFIG_HOME/TallowcrestServer/TallowcrestServer.conf"
}
e2e_mp3() { mkdir -p "${1%/*}" && sox -V1 -n -t wav - synth "$2" sine 440 | lame --quiet - "$1" || e2e_fail "no MP3"; }
