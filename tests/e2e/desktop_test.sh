# The real server on a private X desktop (Xvfb, openbox, tint2) with no sound card, driven by xdotool: the splash has
# the keyboard; the remote plays a track, the caption names it and then the next; minimised, the window waits in
# tint2's tray; Exit ends the program. A failure shows the logs, the windows and the screen.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../support/real_server.sh"
[[ -x ${1:-}/tallowcrest-server && -x $1/tallowcrest-remote ]] || { echo "usage: $0 BUILD_DIR SOURCE_DIR" >&2; exit 2; }
BUILD=$(cd "$1" && pwd) && ARTIFACTS=$BUILD/e2e-artifacts && mkdir -p "$ARTIFACTS"
rs_home "$(mktemp -d /tmp/tallowcrest-e2e.XXXXXX)" && export QT_QPA_PLATFORM=xcb NO_AT_BRIDGE=1
# With no session bus, D-Bus has dbus-launch start one for the display, and it outlives it.
trap 'rs_stop_all; kill $(sed -n "s/^DBUS_SESSION_BUS_PID=//p" "$HOME"/.dbus/session-bus/* 2>/dev/null) 2>/dev/null
      rm -rf -- "$RS_WORK"' EXIT
rs_fail() {
    echo "FAIL: $*" >&2 && for log in "$RS_WORK"/*.log; do echo "--- ${log##*/}" && tail -n 25 "$log"; done >&2
    for id in $(windows --name ''); do echo "window $id \"$(xdotool getwindowname "$id")\""; done >&2
    [[ -n ${DISPLAY:-} ]] && import -window root "$ARTIFACTS/failure.png" && echo "screen: $ARTIFACTS/failure.png" >&2
    exit 1
}
windows() { xdotool search --all --onlyvisible "$@" 2>/dev/null; }
found() { WINDOW=$(windows "$@" | head -n 1) && [[ -n $WINDOW ]]; }  # a visible window, its id in WINDOW
rs_spawn xvfb sh -c 'exec Xvfb -displayfd 3 -screen 0 1024x600x24 -nolisten tcp 3>"$0"' "$RS_WORK/display"
rs_wait "Xvfb" grep -qs . "$RS_WORK/display" && export DISPLAY=:$(<"$RS_WORK/display")
rs_spawn openbox openbox --sm-disable && rs_wait openbox eval 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q window'
rs_spawn tint2 tint2 && rs_wait "tint2's panel" found --class tint2
for track in "Evening/Tallow Light" "Field Notes/Rain" "Loose Track"; do
    mkdir -p "$RS_WORK/Music/${track%/*}" && sox -V1 -n "$RS_WORK/Music/$track.mp3" synth 2 sine 440 || rs_fail "no MP3"
done
rs_settings "$RS_WORK/Music" && rs_spawn server "$BUILD/tallowcrest-server" && SERVER=$PID
rs_wait "the splash, a window without a title" found --pid "$SERVER" --name '^$'
eval "$(xdotool getwindowgeometry --shell "$WINDOW")" && ((WIDTH == 400 && HEIGHT == 172)) || rs_fail "the splash is not 400x172"
windows --pid "$SERVER" --name '^Tallowcrest Server' >/dev/null || rs_listening "$PORT" &&
    rs_fail "the main window shows or the port listens under the splash"
rs_wait "the splash taking the keyboard by itself" eval '[[ $(xdotool getwindowfocus) == "$WINDOW" ]]'
xdotool key a && rs_wait "the main window" found --pid "$SERVER" --name '^Tallowcrest Server$' && MAIN=$WINDOW
rs_wait "the server listening on $PORT" rs_listening "$PORT"
remote() { timeout 30 "$BUILD/tallowcrest-remote" --port "$PORT" "$@" 2>>"$RS_WORK/remote.log"; }
title() { local name=${1##*/}; echo "${name%.mp3}"; }
caption() { rs_wait "$1" found --pid "$SERVER" --name "^Tallowcrest Server: $(title "$2")\$"; }
mapfile -t tracks < <(remote list)
[[ $(remote open "${tracks[0]}") == "opened: $(title "${tracks[0]}")" ]] || rs_fail "open ${tracks[0]} failed"
caption "the caption naming the track" "${tracks[0]}"
caption "the caption naming the next track once the first has played" "${tracks[1]}"
# The icon is a window of the server's that tint2 embeds in its panel; drawn, its place shows 8 colours or more.
icon_shown() {
    ICON=$(windows --classname '^tallowcrest-server$' | grep -vx "$MAIN" | head -n 1) &&
        xwininfo -tree -id "$(xdotool search --class tint2 | head -n 1)" | grep -q "$(printf '0x%x ' "$ICON")"
}
icon_drawn() {
    eval "$(xdotool getwindowgeometry --shell "$ICON")" && import -window root -crop "${WIDTH}x$HEIGHT+$X+$Y" \
        "$ARTIFACTS/tray-icon.png" && (($(identify -format %k "$ARTIFACTS/tray-icon.png") >= 8))
}
icon_gone() { ! windows --classname '^tallowcrest-server$' | grep -qvx "$MAIN"; }
mapped() { xwininfo -id "$MAIN" | grep -q IsViewable; }
withdrawn() { ! mapped && ! xprop -root _NET_CLIENT_LIST | grep -qiw "$(printf '0x%x' "$MAIN")"; }
xdotool windowminimize "$MAIN" && rs_wait "the window gone from the screen and the taskbar" withdrawn
rs_wait "the icon in tint2's notification area" icon_shown && rs_wait "a picture in the icon's place" icon_drawn
xdotool mousemove --sync $((X + WIDTH / 2)) $((Y + HEIGHT / 2)) click 1
rs_wait "the window back after a click on the icon" mapped && rs_wait "the icon gone" icon_gone
# "Exit" sits at 78,24 (77 x 23) in the client area.
xdotool mousemove --sync --window "$MAIN" 116 35 click 1
rs_wait "the program ending on Exit" eval '! rs_running "$SERVER"'
wait "$SERVER" || rs_fail "Exit ended the program with status $?"
echo "desktop_test: 1 passed, 0 failed"
