#!/usr/bin/env bash
# The real server on a desktop with no sound card: the splash takes the keyboard and goes on a key; the remote plays
# a track, the caption names it and then the next; minimised, the window waits in tint2's tray; Exit ends the program.
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
e2e_init "$@"
for track in "Evening/Tallow Light" "Field Notes/Rain" "Loose Track"; do e2e_mp3 "$TMP/Music/$track.mp3" 2; done
e2e_settings "$TMP/Music"
e2e_spawn server "$BUILD/tallowcrest-server" && SERVER=$PID
e2e_wait 20 "the splash, a window without a title" e2e_found --pid "$SERVER" --name '^$'
seen=$(date +%s%N)
[[ $(e2e_size "$WINDOW") == 400x172 ]] || e2e_fail "the splash is $(e2e_size "$WINDOW"), not 400x172"
e2e_windows --pid "$SERVER" --name '^Tallowcrest Server' >/dev/null || e2e_listening "$PORT" &&
    e2e_fail "the main window shows or the port listens under the splash"
xdotool key a   # no click first: the splash has the focus by itself
e2e_wait 20 "the main window" e2e_found --pid "$SERVER" --name '^Tallowcrest Server$'
MAIN=$WINDOW after=$((($(date +%s%N) - seen) / 1000000))
((after < 1200)) || e2e_fail "the main window came $after ms after the splash: its timer closed it, not the key"
e2e_wait 10 "the server listening on $PORT" e2e_listening "$PORT"
remote() { timeout 30 "$BUILD/tallowcrest-remote" --port "$PORT" "$@" 2>>"$TMP/remote.log"; }
title() { local name=${1##*/}; echo "${name%.mp3}"; }
caption() { e2e_wait 20 "$1" e2e_found --pid "$SERVER" --name "^Tallowcrest Server: $(title "$2")\$"; }
mapfile -t tracks < <(remote list)
[[ $(remote open "${tracks[0]}") == "opened: $(title "${tracks[0]}")" ]] || e2e_fail "open ${tracks[0]} failed"
caption "the caption naming the track" "${tracks[0]}"
[[ $(remote pause) == ok && $(remote play) == ok ]] || e2e_fail "pause or play was not answered ok"
caption "the caption naming the next track once the first has played" "${tracks[1]}"
# The icon is a window of the server's that tint2 embeds in its panel.
icon_shown() {
    ICON=$(e2e_windows --classname '^tallowcrest-server$' | grep -vx "$MAIN" | head -n 1) &&
        xwininfo -tree -id "$(xdotool search --class tint2 | head -n 1)" | grep -q "$(printf '0x%x ' "$ICON")"
}
icon_gone() { ! e2e_windows --classname '^tallowcrest-server$' | grep -qvx "$MAIN"; }
mapped() { xwininfo -id "$MAIN" | grep -q IsViewable; }
withdrawn() { ! mapped && ! xprop -root _NET_CLIENT_LIST | grep -qiw "$(printf '0x%x' "$MAIN")"; }
xdotool windowminimize "$MAIN"
e2e_wait 10 "the window gone from the screen and the taskbar" withdrawn
e2e_wait 10 "the icon in tint2's notification area" icon_shown
eval "$(xdotool getwindowgeometry --shell "$ICON")"   # X Y WIDTH HEIGHT
sleep 0.5 && import -window root -crop "${WIDTH}x$HEIGHT+$X+$Y" "$ARTIFACTS/tray-icon.png"
colours=$(identify -format %k "$ARTIFACTS/tray-icon.png") && ((colours >= 8)) || e2e_fail "the icon's place shows $colours colours: no picture drawn"
xdotool mousemove --sync $((X + WIDTH / 2)) $((Y + HEIGHT / 2)) click 1
e2e_wait 10 "the window back after a click on the icon" mapped
e2e_wait 10 "the icon gone" icon_gone
# "Exit" sits at 78,24 (77 x 23) in the client area.
xdotool mousemove --sync --window "$MAIN" 116 35 click 1
e2e_wait 10 "the program ending on Exit" eval '! e2e_running "$SERVER"'
wait "$SERVER" || e2e_fail "Exit ended the program with status $?"
echo "desktop_test: 1 passed, 0 failed"
