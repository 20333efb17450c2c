#!/usr/bin/env bash
# The server's windows on a real X server: the splash goes on a key, the main
# window opens at 700 x 309 listing the library, "Exit" ends the
# program at once, and a first start without settings reports the missing
# folder exactly once.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
e2e_init "$@"

SERVER="$E2E_BUILD/tallowcrest-server"
[[ -x "$SERVER" ]] || e2e_fail "$SERVER is not built"

e2e_start_desktop 1024x600

# A library of a few folders; names only matter for listing, one real MP3.
LIBRARY="$E2E_TMP/Music"
for track in "Evening Songs/01 Tallow Light.mp3" "Evening Songs/02 Crest of the Hill.mp3" \
    "Field Recordings/Rain on Slate.mp3" "Field Recordings/Deep/Wind in Pines.mp3" \
    "Loose Track.mp3"; do
    mkdir -p "$(dirname "$LIBRARY/$track")"
    : >"$LIBRARY/$track"
done
e2e_make_mp3 "$LIBRARY/Tone.mp3" 1 || e2e_fail "could not make an MP3 with sox and lame"
: >"$LIBRARY/Field Recordings/cover.jpg"

splash_windows() { e2e_visible_windows --pid "$1" --name '^$'; }
main_windows() { e2e_visible_windows --pid "$1" --name '^Tallowcrest Server$'; }
splash_gone() { [[ -z "$(splash_windows "$SERVER_PID")" ]]; }

# --- A start with settings -------------------------------------------------
PORT=$(e2e_free_port) || e2e_fail "no free TCP port"
e2e_write_settings "$LIBRARY" "$PORT"

e2e_spawn server "$SERVER"
SERVER_PID=$E2E_PID
e2e_wait_window 20 "the splash window" --pid "$SERVER_PID" --name '^$'
SPLASH=$E2E_WINDOW
seen_at=$(date +%s%N)
[[ "$(e2e_window_size "$SPLASH")" == 400x172 ]] ||
    e2e_fail "splash is $(e2e_window_size "$SPLASH"), expected 400x172"
[[ -z "$(main_windows "$SERVER_PID")" ]] || e2e_fail "main window shown while the splash is up"
e2e_port_listening "$PORT" && e2e_fail "port $PORT listened on while the splash is up"
e2e_screenshot "$E2E_ARTIFACTS/splash.png"

e2e_activate "$SPLASH"
xdotool key a
e2e_wait_for 5 "the splash closing after a key" splash_gone
closed_after_ms=$((($(date +%s%N) - seen_at) / 1000000))
((closed_after_ms < 1900)) ||
    e2e_fail "splash went after ${closed_after_ms} ms: its timer closed it, not the key"
e2e_log "splash closed by the key after ${closed_after_ms} ms"

e2e_wait_window 20 "the main window \"Tallowcrest Server\"" --pid "$SERVER_PID" --name '^Tallowcrest Server$'
MAIN=$E2E_WINDOW
size=$(e2e_window_size "$MAIN")
[[ "$size" == 700x309 ]] || e2e_fail "main window client area is $size, expected 700x309"
e2e_wait_for 5 "the server listening on port $PORT" e2e_port_listening "$PORT"
[[ -z "$(e2e_visible_windows --pid "$SERVER_PID" --name '^Invalid path$')" ]] ||
    e2e_fail "an \"Invalid path\" box came up for a valid folder"

e2e_activate "$MAIN"
sleep 0.5
e2e_screenshot "$E2E_ARTIFACTS/window.png"
e2e_log "screenshot: $E2E_ARTIFACTS/window.png"

# A connected client is told nothing when the server exits: it just sees the
# connection end. Taking the client on closes the listener.
exec 3<>"/dev/tcp/127.0.0.1/$PORT" || e2e_fail "could not connect to port $PORT"
e2e_wait_for 5 "the server taking the client on" e2e_port_closed "$PORT"

# "Exit" sits at 78,24 (77 x 23) in the client area.
e2e_click "$MAIN" 116 35
# Waited for in this shell: a command substitution cannot wait for our child.
e2e_wait_exit "$SERVER_PID" 10 >"$E2E_TMP/exit.status"
status=$(<"$E2E_TMP/exit.status")
[[ "$status" == 0 ]] || e2e_fail "\"Exit\" ended the server with status $status"
e2e_port_listening "$PORT" && e2e_fail "port $PORT still listened on after Exit"
received=$(timeout 5 cat <&3 | od -An -c) || true
exec 3<&-
[[ -z "$received" ]] || e2e_fail "the client was sent something on Exit:$received"
e2e_log "Exit ended the server; the client got nothing but the end of the connection"

# --- A first start with nothing stored --------------------------------------
rm -rf "$XDG_CONFIG_HOME/TallowcrestServer"
e2e_spawn server-first "$SERVER"
SERVER_PID=$E2E_PID
e2e_wait_window 20 "the splash window on a first start" --pid "$SERVER_PID" --name '^$'
e2e_log "leaving the splash to its timer"
e2e_wait_window 20 "the \"Invalid path\" box" --pid "$SERVER_PID" --name '^Invalid path$'
BOX=$E2E_WINDOW
[[ -z "$(main_windows "$SERVER_PID")" ]] || e2e_fail "main window shown before the \"Invalid path\" box was answered"
e2e_screenshot "$E2E_ARTIFACTS/invalid-path.png"
e2e_activate "$BOX"
xdotool key Return
e2e_wait_window 20 "the main window after the \"Invalid path\" box" --pid "$SERVER_PID" --name '^Tallowcrest Server$'
MAIN=$E2E_WINDOW

# Another box may report that the default port is taken on this machine; it is
# not the one under test and is answered. A second "Invalid path" is a failure.
deadline=$((SECONDS + 2))
while ((SECONDS < deadline)); do
    [[ -z "$(e2e_visible_windows --pid "$SERVER_PID" --name '^Invalid path$')" ]] ||
        e2e_fail "the \"Invalid path\" box came up a second time"
    for other in $(e2e_visible_windows --pid "$SERVER_PID" --name '^Error$'); do
        e2e_log "answering an \"Error\" box: port 9999 is in use here"
        e2e_activate "$other"
        xdotool key Return
    done
    sleep 0.2
done
[[ -e "$XDG_CONFIG_HOME/TallowcrestServer/TallowcrestServer.conf" ]] &&
    e2e_fail "a start without changes wrote settings"

e2e_activate "$MAIN"
e2e_click "$MAIN" 116 35
e2e_wait_exit "$SERVER_PID" 10 >"$E2E_TMP/exit.status"
status=$(<"$E2E_TMP/exit.status")
[[ "$status" == 0 ]] || e2e_fail "\"Exit\" ended the first-start server with status $status"

echo "window_test: 1 passed, 0 failed"
