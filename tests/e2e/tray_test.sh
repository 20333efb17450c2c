#!/usr/bin/env bash
# Minimise to the tray on a real X server with a real panel: minimising the
# main window withdraws it (no taskbar entry) and puts its icon into tint2's
# notification area; a click on the icon brings the window back at its normal
# size and removes the icon; closing the window then ends the program.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
e2e_init "$@"

SERVER="$E2E_BUILD/tallowcrest-server"
[[ -x "$SERVER" ]] || e2e_fail "$SERVER is not built"

e2e_start_desktop 1024x600

# The tray icon is a small window of the server's own that tint2 reparents
# into its panel (XEMBED); Qt gives it no name to search by, and while it is
# still being embedded it is a top-level window of its own. So an icon counts
# only when it hangs in the subtree of a tint2 window, carries the server's
# pid and is mapped.
tray_icons()
{
    local panel id
    for panel in $(xdotool search --class tint2 2>/dev/null); do
        xwininfo -tree -id "$panel" 2>/dev/null | awk '/\("tallowcrest-server" / {print $1}'
    done | sort -u | while read -r id; do
        xprop -id "$id" _NET_WM_PID 2>/dev/null | grep -q "= $SERVER_PID\$" || continue
        xwininfo -id "$id" 2>/dev/null | grep -q 'Map State: IsViewable' && echo "$id"
    done
}
icon_shown() { [[ -n "$(tray_icons)" ]]; }
icon_gone() { [[ -z "$(tray_icons)" ]]; }
mapped() { xwininfo -id "$1" 2>/dev/null | grep -q 'Map State: IsViewable'; }
unmapped() { xwininfo -id "$1" 2>/dev/null | grep -q 'Map State: IsUnMapped'; }
# The windows the window manager manages; the panel's task list shows these.
managed() { xprop -root _NET_CLIENT_LIST 2>/dev/null | grep -qiE "[ ,]0x0*$(printf '%x' "$1")(,|$)"; }
withdrawn() { unmapped "$1" && ! managed "$1"; }

LIBRARY="$E2E_TMP/Music"
e2e_make_mp3 "$LIBRARY/Tone.mp3" 1 || e2e_fail "could not make an MP3 with sox and lame"
PORT=$(e2e_free_port) || e2e_fail "no free TCP port"
e2e_write_settings "$LIBRARY" "$PORT"

e2e_spawn server "$SERVER"
SERVER_PID=$E2E_PID
e2e_wait_window 20 "the splash window" --pid "$SERVER_PID" --name '^$'; e2e_log "splash up"
e2e_activate "$E2E_WINDOW"
xdotool key a
e2e_wait_window 20 "the main window" --pid "$SERVER_PID" --name '^Tallowcrest Server$'
MAIN=$E2E_WINDOW; e2e_log "main window up"
e2e_wait_for 5 "the server listening on port $PORT" e2e_port_listening "$PORT"
icon_gone || e2e_fail "a tray icon is shown while the window is up"
managed "$MAIN" || e2e_fail "the main window has no taskbar entry"

# --- Minimise: the window goes, the icon comes --------------------------------
xdotool windowminimize "$MAIN"
e2e_wait_for 10 "the main window withdrawn" withdrawn "$MAIN"
e2e_wait_for 10 "the tray icon in the panel" icon_shown
ICON=$(tray_icons | head -n 1)
read -r x y w h < <(xwininfo -id "$ICON" |
    awk '/Absolute upper-left X:/ {x=$4} /Absolute upper-left Y:/ {y=$4} /^ *Width:/ {w=$2} /^ *Height:/ {h=$2}
         END {print x, y, w, h}')
e2e_log "tray icon $ICON: ${w}x${h} at $x,$y"
((w > 0 && h > 0)) || e2e_fail "the tray icon has no size"
[[ -z "$(e2e_visible_windows --pid "$SERVER_PID" --name '^Tallowcrest Server$')" ]] ||
    e2e_fail "the main window is still visible"
e2e_port_listening "$PORT" || e2e_fail "the server stopped listening while in the tray"

sleep 0.5
e2e_screenshot "$E2E_ARTIFACTS/tray.png"
e2e_log "screenshot: $E2E_ARTIFACTS/tray.png"
# The candle picture has many colours; an empty slot of the panel has one.
colours=$(convert "$E2E_ARTIFACTS/tray.png" -crop "${w}x${h}+${x}+${y}" +repage -format %k info:)
((colours >= 8)) || e2e_fail "the tray icon's place shows $colours colours: no picture drawn"

# --- A click on the icon: the window is back, the icon gone -------------------
xdotool mousemove --sync $((x + w / 2)) $((y + h / 2)) click 1
e2e_wait_for 10 "the main window mapped again" mapped "$MAIN"
e2e_wait_for 10 "the tray icon removed" icon_gone
managed "$MAIN" || e2e_fail "the restored window has no taskbar entry"
state=$(xprop -id "$MAIN" _NET_WM_STATE 2>/dev/null)
[[ "$state" != *_NET_WM_STATE_HIDDEN* ]] || e2e_fail "the restored window is still minimised: $state"
size=$(e2e_window_size "$MAIN")
[[ "$size" == 700x309 ]] || e2e_fail "the restored window is $size, expected 700x309"
e2e_log "restored at $size; the icon is gone"

# --- Closing the window ends the program ---------------------------------------
e2e_activate "$MAIN"
xdotool key alt+F4
e2e_wait_exit "$SERVER_PID" 10 >"$E2E_TMP/exit.status"
status=$(<"$E2E_TMP/exit.status")
[[ "$status" == 0 ]] || e2e_fail "closing the window ended the server with status $status"
icon_gone || e2e_fail "a tray icon is left behind"

echo "tray_test: 1 passed, 0 failed"
