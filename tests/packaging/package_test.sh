#!/usr/bin/env bash
# The Debian package cpack builds, unpacked: dependencies a Debian 12 machine has (GStreamer, no Qt Multimedia),
# a valid desktop entry, the theme icons, man pages that render, programs that start from where they are put.
set -uo pipefail
[[ $# -eq 2 && -f "$1/CPackConfig.cmake" ]] || { echo "usage: $0 BUILD_DIR SOURCE_DIR (configured)" >&2; exit 2; }
build=$(cd "$1" && pwd) scratch=$(mktemp -d /tmp/tallowcrest-package.XXXXXX)
trap 'rm -rf -- "$scratch"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")

(cd "$build" && cpack -G DEB --config CPackConfig.cmake -B "$scratch/out") >"$scratch/cpack.log" 2>&1 ||
    { cat "$scratch/cpack.log" >&2; fail "cpack built no package"; }
debs=("$scratch"/out/*.deb)
[[ ${#debs[@]} -eq 1 && -f ${debs[0]} ]] || fail "expected one .deb, found: ${debs[*]}"
[[ $(dpkg-deb --field "${debs[0]}" Package Version | tr '\n' ' ') == "Package: tallowcrest-server Version: $version " ]] ||
    fail "control: $(dpkg-deb --field "${debs[0]}" Package Version)"

depends=$(dpkg-deb --field "${debs[0]}" Depends)
# Met by what this machine has installed: names, versions and the virtual ABI packages alike.
dpkg-checkbuilddeps -d "$depends" /dev/null || fail "Depends are not met on this Debian machine"
names=$(tr ',|' '\n\n' <<<"$depends" | sed -E 's/\(.*\)//; s/^ +| +$//g')
for needed in libgstreamer1.0-0 gstreamer1.0-plugins-base gstreamer1.0-plugins-good qt6-qpa-plugins; do
    grep -qx "$needed" <<<"$names" || fail "Depends lacks $needed"
done
! grep -qi multimedia <<<"$names" || fail "Depends still names Qt Multimedia"
[[ $(dpkg-deb --field "${debs[0]}" Recommends) == "gstreamer1.0-alsa, gstreamer1.0-pulseaudio" ]] ||
    fail "Recommends: $(dpkg-deb --field "${debs[0]}" Recommends)"

root=$scratch/root
dpkg-deb -x "${debs[0]}" "$root" || fail "dpkg-deb cannot unpack the package"
desktop=$root/usr/share/applications/tallowcrest-server.desktop
desktop-file-validate "$desktop" || fail "desktop-file-validate rejects $desktop"
key() { sed -n "s/^$1=//p" "$desktop"; }
[[ -x "$root/usr/bin/$(key Exec | cut -d' ' -f1)" ]] || fail "Exec=$(key Exec) is no packaged program"
for side in 16 32 48; do
    icon=$root/usr/share/icons/hicolor/${side}x$side/apps/$(key Icon).png
    [[ $(file -b "$icon") == "PNG image data, $side x $side, "* ]] || fail "icon $icon: $(file -b "$icon")"
done

for program in tallowcrest-server tallowcrest-remote; do
    page=$root/usr/share/man/man1/$program.1.gz
    text=$(MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>"$scratch/man.err") || fail "man cannot show $page"
    [[ ! -s $scratch/man.err ]] || fail "troff warnings in $program.1: $(cat "$scratch/man.err")"
    for want in "^ +$program +- " ^SYNOPSIS ^DESCRIPTION; do grep -Eq "$want" <<<"$text" || fail "$page: no $want"; done
done

# The packaged programs start with no display, in a home of their own.
export HOME=$scratch/home XDG_CONFIG_HOME=$scratch/home/.config
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM DBUS_SESSION_BUS_ADDRESS
out=$("$root/usr/bin/tallowcrest-server" --version 2>&1)
[[ $out == "tallowcrest-server $version" ]] || fail "--version printed '$out'"
out=$("$root/usr/bin/tallowcrest-remote" --help 2>&1) && [[ $out == "usage: tallowcrest-remote "* ]] ||
    fail "tallowcrest-remote --help: $out"
echo "package_test: 1 passed, 0 failed"
