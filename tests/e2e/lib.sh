# Shared helpers for end-to-end scripts that drive the real programs on a
# real X server. Source it from a *_test.sh script:
#
#   source "$(dirname "$0")/lib.sh"
#   e2e_init "$1" "$2"           # BUILD_DIR SOURCE_DIR
#   e2e_start_desktop            # Xvfb + openbox + tint2
#
# Everything a script starts through these helpers is stopped by an EXIT trap,
# and every wait is bounded. Functions:
#
#   e2e_init BUILD_DIR SOURCE_DIR
#       Checks the arguments, makes a private scratch folder ($E2E_TMP) and
#       points HOME, XDG_CONFIG_HOME, XDG_RUNTIME_DIR and XDG_DATA_HOME into
#       it, so nothing of the real user is read or written. Sets E2E_BUILD,
#       E2E_SOURCE, E2E_ARTIFACTS ($BUILD_DIR/e2e-artifacts, created) and
#       installs the cleanup trap.
#   e2e_log TEXT...            Progress line on stderr.
#   e2e_fail TEXT...           "FAIL: TEXT" on stderr, then what e2e_diagnose
#       reports (every started program's state, log tail, windows and, while it
#       runs, its threads' stacks when gdb is there); exit 1 (cleanup runs).
#   e2e_spawn NAME CMD...      Starts CMD in its own process group with its
#       output in $E2E_TMP/NAME.log; stores its pid in E2E_PID (no subshell,
#       so call it directly, not in $(...)). The group is stopped at exit.
#   e2e_running PID            True while PID is alive (a zombie counts as gone).
#   e2e_stop PID               TERM to PID's group, KILL after 3 s.
#   e2e_wait_for SECONDS DESCRIPTION CMD...
#       Runs CMD every 0.1 s until it succeeds; fails the test with
#       DESCRIPTION when SECONDS pass first.
#   e2e_wait_exit PID SECONDS  Waits for PID to end; prints its exit status.
#   e2e_start_desktop [WxH]    Starts Xvfb on a free display number (default
#       1280x800), then openbox and tint2; exports DISPLAY.
#   e2e_visible_windows ARGS...
#       Ids of the visible windows that `xdotool search ARGS` finds (none is
#       not an error).
#   e2e_wait_window SECONDS DESCRIPTION SEARCH-ARGS...
#       Waits for a visible window; stores the first id in E2E_WINDOW.
#   e2e_window_size ID         "WIDTHxHEIGHT" of the window's client area.
#   e2e_activate ID            Raises and focuses the window.
#   e2e_click ID X Y           Left click at X,Y inside the window's client area.
#   e2e_screenshot FILE        The whole screen as a PNG.
#   e2e_port_listening PORT    True when something listens on TCP PORT.
#   e2e_port_closed PORT       True when nothing does.
#   e2e_free_port              A TCP port the server can listen on now, below
#       the range outgoing connections take theirs from.
#   e2e_write_settings DIR PORT
#       Writes the server's settings file under $XDG_CONFIG_HOME.
#   e2e_make_mp3 FILE [SECONDS] A real, short MP3 (a sine tone; sox + lame).

E2E_PIDS=()
E2E_NAMES=()

e2e_log() { echo "[e2e $(date +%T)] $*" >&2; }

e2e_fail()
{
    echo "FAIL: $*" >&2
    e2e_diagnose >&2
    exit 1
}

# What a failure report needs from a run nobody watched: every started
# program's state and log, the windows each has, and where a live one stands.
e2e_diagnose()
{
    local i pid name log id
    for ((i = 0; i < ${#E2E_PIDS[@]}; i++)); do
        pid=${E2E_PIDS[i]}
        name=${E2E_NAMES[i]}
        log="$E2E_TMP/$name.log"
        echo "--- $name (pid $pid): $(e2e_running "$pid" && echo running || echo ended)"
        if [[ "$name" == xvfb || "$name" == openbox || "$name" == tint2 ]]; then
            [[ -s "$log" ]] && tail -n 5 "$log" | sed 's/^/    /'
            continue
        fi
        [[ -s "$log" ]] && tail -n 40 "$log" | sed 's/^/    /'
        if [[ -n "${DISPLAY:-}" ]]; then
            for id in $(xdotool search --all --pid "$pid" 2>/dev/null); do
                echo "    window $id \"$(xdotool getwindowname "$id" 2>/dev/null)\"" \
                    "$(xwininfo -id "$id" 2>/dev/null | awk -F': ' '/Map State/ {print $2}')"
            done
        fi
        if e2e_running "$pid" && command -v gdb >/dev/null; then
            timeout 30 gdb -p "$pid" -batch -ex 'thread apply all bt 12' 2>/dev/null |
                grep -E '^(Thread|#)' | sed 's/^/    /'
        fi
    done
}

e2e_cleanup()
{
    local i
    # Newest first: clients go before the X server they talk to.
    for ((i = ${#E2E_PIDS[@]} - 1; i >= 0; i--)); do
        e2e_stop "${E2E_PIDS[i]}"
    done
    if [[ -n "${E2E_TMP:-}" && -d "$E2E_TMP" ]]; then
        rm -rf -- "$E2E_TMP"
    fi
}

e2e_init()
{
    [[ $# -ge 2 && -d "$1" && -d "$2" ]] || e2e_fail "usage: $0 BUILD_DIR SOURCE_DIR"
    E2E_BUILD=$(cd "$1" && pwd)
    E2E_SOURCE=$(cd "$2" && pwd)
    E2E_ARTIFACTS="$E2E_BUILD/e2e-artifacts"
    mkdir -p "$E2E_ARTIFACTS"
    E2E_TMP=$(mktemp -d /tmp/tallowcrest-e2e.XXXXXX)
    trap e2e_cleanup EXIT
    trap 'exit 130' INT TERM

    export HOME="$E2E_TMP/home"
    export XDG_CONFIG_HOME="$HOME/.config"
    export XDG_DATA_HOME="$HOME/.local/share"
    export XDG_CACHE_HOME="$HOME/.cache"
    export XDG_RUNTIME_DIR="$E2E_TMP/runtime"
    mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$XDG_RUNTIME_DIR"
    chmod 700 "$XDG_RUNTIME_DIR"
    unset DBUS_SESSION_BUS_ADDRESS SESSION_MANAGER WAYLAND_DISPLAY
    export QT_QPA_PLATFORM=xcb
    export NO_AT_BRIDGE=1
}

e2e_spawn()
{
    local name=$1
    shift
    setsid "$@" >"$E2E_TMP/$name.log" 2>&1 &
    E2E_PID=$!
    E2E_PIDS+=("$E2E_PID")
    E2E_NAMES+=("$name")
}

e2e_running()
{
    local state
    [[ -r "/proc/$1/stat" ]] || return 1
    state=$(sed -E 's/^.*\) ([A-Za-z]).*$/\1/' "/proc/$1/stat" 2>/dev/null) || return 1
    [[ "$state" != Z && "$state" != X ]]
}

e2e_stop()
{
    local pid=$1 tries
    e2e_running "$pid" || { wait "$pid" 2>/dev/null; return 0; }
    kill -TERM -- "-$pid" 2>/dev/null || kill -TERM "$pid" 2>/dev/null
    for tries in $(seq 30); do
        e2e_running "$pid" || break
        sleep 0.1
    done
    if e2e_running "$pid"; then
        kill -KILL -- "-$pid" 2>/dev/null || kill -KILL "$pid" 2>/dev/null
    fi
    wait "$pid" 2>/dev/null
    return 0
}

e2e_wait_for()
{
    local seconds=$1 description=$2
    shift 2
    local deadline=$((SECONDS + seconds))
    until "$@"; do
        ((SECONDS < deadline)) || e2e_fail "timed out after ${seconds}s: $description"
        sleep 0.1
    done
}

e2e_wait_exit()
{
    local pid=$1 seconds=$2 status=0
    local deadline=$((SECONDS + seconds))
    while e2e_running "$pid"; do
        ((SECONDS < deadline)) || e2e_fail "process $pid still running after ${seconds}s"
        sleep 0.1
    done
    wait "$pid" 2>/dev/null || status=$?
    echo "$status"
}

e2e_start_desktop()
{
    local screen=${1:-1280x800} display
    for display in $(seq 91 160); do
        [[ -e "/tmp/.X$display-lock" || -e "/tmp/.X11-unix/X$display" ]] && continue
        e2e_spawn xvfb Xvfb ":$display" -screen 0 "${screen}x24" -nolisten tcp -noreset
        local xvfb=$E2E_PID deadline=$((SECONDS + 10))
        while e2e_running "$xvfb" && ! xdpyinfo -display ":$display" >/dev/null 2>&1; do
            ((SECONDS < deadline)) || break
            sleep 0.1
        done
        if xdpyinfo -display ":$display" >/dev/null 2>&1; then
            export DISPLAY=":$display"
            break
        fi
        e2e_stop "$xvfb"
    done
    [[ -n "${DISPLAY:-}" ]] && xdpyinfo >/dev/null 2>&1 || e2e_fail "no X server could be started"
    e2e_log "X server on $DISPLAY"

    e2e_spawn openbox openbox --sm-disable
    e2e_wait_for 10 "openbox manages the screen" \
        bash -c 'xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id"'
    e2e_spawn tint2 tint2
    e2e_wait_for 10 "tint2 panel shows" e2e_has_visible_class tint2
}

e2e_has_visible_class() { [[ -n "$(e2e_visible_windows --class "$1")" ]]; }

e2e_visible_windows() { xdotool search --all --onlyvisible "$@" 2>/dev/null || true; }

e2e_wait_window()
{
    local seconds=$1 description=$2
    shift 2
    local deadline=$((SECONDS + seconds))
    E2E_WINDOW=
    while [[ -z "$E2E_WINDOW" ]]; do
        E2E_WINDOW=$(e2e_visible_windows "$@" | head -n 1)
        [[ -n "$E2E_WINDOW" ]] && break
        ((SECONDS < deadline)) || e2e_fail "timed out after ${seconds}s waiting for $description"
        sleep 0.1
    done
}

e2e_window_size()
{
    xwininfo -id "$1" | awk '/^ *Width:/ {w=$2} /^ *Height:/ {h=$2} END {print w "x" h}'
}

e2e_activate()
{
    xdotool windowactivate --sync "$1" >/dev/null 2>&1 || xdotool windowfocus --sync "$1" >/dev/null 2>&1
    xdotool windowfocus --sync "$1" >/dev/null 2>&1 || true
}

e2e_click()
{
    xdotool mousemove --sync --window "$1" "$2" "$3" click 1
}

e2e_screenshot() { import -display "$DISPLAY" -window root "$1"; }

e2e_port_listening()
{
    local tables=() table
    for table in /proc/net/tcp /proc/net/tcp6; do
        [[ -r "$table" ]] && tables+=("$table")
    done
    # State 0A is LISTEN; the local address ends in the port in hex.
    awk -v port=":$(printf '%04X' "$1")" \
        '$4 == "0A" && substr($2, length($2) - 4) == port { found = 1 } END { exit !found }' \
        "${tables[@]}"
}

e2e_port_closed() { ! e2e_port_listening "$1"; }

e2e_free_port() { python3 "$E2E_SOURCE/tests/support/free_port.py"; }

e2e_write_settings()
{
    local folder=$1 port=$2
    # Quoted, so that commas and leading blanks stay part of the value.
    folder=${folder//\\/\\\\}
    folder=${folder//\"/\\\"}
    mkdir -p "$XDG_CONFIG_HOME/TallowcrestServer"
    printf '[Settings]\nDir="%s"\nPort=%s\n' "$folder" "$port" \
        >"$XDG_CONFIG_HOME/TallowcrestServer/TallowcrestServer.conf"
}

e2e_make_mp3()
{
    local file=$1 seconds=${2:-1}
    mkdir -p "$(dirname "$file")"
    sox -q -n -r 44100 -c 2 -b 16 "$E2E_TMP/tone.wav" synth "$seconds" sine 440 vol 0.3 &&
        lame --quiet -b 64 "$E2E_TMP/tone.wav" "$file" &&
        rm -f "$E2E_TMP/tone.wav"
}
