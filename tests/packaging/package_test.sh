# The Debian package cpack builds, unpacked: dependencies a Debian 12 machine has (GStreamer, no Qt Multimedia),
# a valid desktop entry, the theme icons, man pages that render, programs that start from where they are put.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../support/real_server.sh"
[[ $# -eq 2 && -f "$1/CPackConfig.cmake" ]] || { echo "usage: $0 BUILD_DIR SOURCE_DIR (configured)" >&2; exit 2; }
build=$(cd "$1" && pwd) scratch=$(mktemp -d /tmp/tallowcrest-package.XXXXXX) && trap 'rm -rf -- "$scratch"' EXIT
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
(cd "$build" && cpack -G DEB --config CPackConfig.cmake -B "$scratch/out") >"$scratch/cpack.log" 2>&1 ||
    { cat "$scratch/cpack.log" >&2; rs_fail "cpack built no package"; }
debs=("$scratch"/out/*.deb) && [[ ${#debs[@]} -eq 1 && -f ${debs[0]} ]] || rs_fail "expected one .deb, found: ${debs[*]}"
[[ $(dpkg-deb --field "${debs[0]}" Package Version | tr '\n' ' ') == "Package: tallowcrest-server Version: $version " ]] ||
    rs_fail "control: $(dpkg-deb --field "${debs[0]}" Package Version)"
# Met by what this machine has installed: names, versions and the virtual ABI packages alike.
depends=$(dpkg-deb --field "${debs[0]}" Depends)
dpkg-checkbuilddeps -d "$depends" /dev/null || rs_fail "Depends are not met on this Debian machine"
names=$(tr ',|' '\n\n' <<<"$depends" | sed -E 's/\(.*\)//; s/^ +| +$//g')
for needed in libgstreamer1.0-0 gstreamer1.0-plugins-base gstreamer1.0-plugins-good qt6-qpa-plugins; do
    grep -qx "$needed" <<<"$names" || rs_fail "Depends lacks $needed"
done
! grep -qi multimedia <<<"$names" || rs_fail "Depends still names Qt Multimedia"
[[ $(dpkg-deb --field "${debs[0]}" Recommends) == "gstreamer1.0-alsa, gstreamer1.0-pulseaudio" ]] ||
    rs_fail "Recommends: $(dpkg-deb --field "${debs[0]}" Recommends)"
root=$scratch/root desktop=$scratch/root/usr/share/applications/tallowcrest-server.desktop
dpkg-deb -x "${debs[0]}" "$root" || rs_fail "dpkg-deb cannot unpack the package"
desktop-file-validate "$desktop" || rs_fail "desktop-file-validate rejects $desktop"
key() { sed -n "s/^$1=//p" "$desktop"; }
[[ -x "$root/usr/bin/$(key Exec | cut -d' ' -f1)" ]] || rs_fail "Exec=$(key Exec) is no packaged program"
for side in 16 32 48; do
    icon=$root/usr/share/icons/hicolor/${side}x$side/apps/$(key Icon).png
    [[ $(file -b "$icon") == "PNG image data, $side x $side, "* ]] || rs_fail "icon $icon: $(file -b "$icon")"
done
for program in tallowcrest-server tallowcrest-remote; do
    page=$root/usr/share/man/man1/$program.1.gz
    text=$(MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>"$scratch/man.err") || rs_fail "man cannot show $page"
    [[ ! -s $scratch/man.err ]] || rs_fail "troff warnings in $program.1: $(cat "$scratch/man.err")"
    for want in "^ +$program +- " ^SYNOPSIS ^DESCRIPTION; do grep -Eq "$want" <<<"$text" || rs_fail "$page: no $want"; done
done
# The packaged programs start with no display, in a home of their own.
rs_home "$scratch" && unset QT_QPA_PLATFORM
out=$("$root/usr/bin/tallowcrest-server" --version 2>&1) && [[ $out == "tallowcrest-server $version" ]] ||
    rs_fail "--version printed '$out'"
out=$("$root/usr/bin/tallowcrest-remote" --help 2>&1) && [[ $out == "usage: tallowcrest-remote "* ]] ||
    rs_fail "tallowcrest-remote --help: $out"
echo "package_test: 1 passed, 0 failed"
