#!/usr/bin/env bash
# Builds the Debian package from a build folder with cpack, checks its control
# fields, installs it into a scratch root with a dpkg database of its own, and
# checks what lands there; then checks that `cmake --install` into a scratch
# prefix yields the same files.
#
#   bash package_test.sh BUILD_DIR SOURCE_DIR
#
# cpack builds what is out of date in BUILD_DIR first, as `make package` does.
set -euo pipefail

if [ $# -ne 2 ] || [ ! -f "$1/CPackConfig.cmake" ]; then
    echo "usage: bash package_test.sh BUILD_DIR SOURCE_DIR (a configured build folder)" >&2
    exit 2
fi
build=$(realpath "$1")
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

log() { echo "[package $(date +%T)] $*" >&2; }
fail()
{
    echo "FAIL: $*" >&2
    exit 1
}

for tool in cpack dpkg dpkg-deb dpkg-shlibdeps desktop-file-validate gzip file; do
    command -v "$tool" >/dev/null || fail "$tool is missing; scripts/setup.sh installs it"
done

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[ -n "$version" ] || fail "no project version in $build/CMakeCache.txt"

log "cpack -G DEB"
if ! (cd "$build" && cpack -G DEB --config CPackConfig.cmake -B "$scratch/package") >"$scratch/cpack.log" 2>&1; then
    cat "$scratch/cpack.log" >&2
    fail "cpack could not build the package"
fi
debs=("$scratch"/package/*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "expected one .deb, found: ${debs[*]}"
deb=${debs[0]}
log "built $(basename "$deb")"

# --- control fields ----------------------------------------------------------
field() { dpkg-deb --field "$deb" "$1"; }
expect_field()
{
    local value
    value=$(field "$1")
    [ "$value" = "$2" ] || fail "control field $1 is '$value', expected '$2'"
}
expect_field Package tallowcrest-server
expect_field Version "$version"
expect_field Section sound
expect_field Architecture "$(dpkg --print-architecture)"
[[ "$(field Maintainer)" =~ ^[^\<]+\ \<[^@\ ]+@[^\>\ ]+\>$ ]] || fail "Maintainer '$(field Maintainer)' is not 'Name <address>'"
[ "$(field Description | wc -l)" -ge 2 ] || fail "Description has no long text"

depends=$(field Depends)
log "Depends: $depends"
# Every dependency is one this machine has, in a version that satisfies it.
names=()
IFS=',' read -ra items <<<"$depends"
for item in "${items[@]}"; do
    item=$(xargs <<<"$item")
    [[ "$item" =~ ^([a-z0-9.+-]+)(\ \(([<>=]+)\ ([^\)]+)\))?$ ]] || fail "cannot read dependency '$item'"
    name=${BASH_REMATCH[1]} op=${BASH_REMATCH[3]} wanted=${BASH_REMATCH[4]}
    names+=("$name")
    installed=$(dpkg-query -W -f='${db:Status-Abbrev}${Version}\n' "$name" 2>/dev/null | sed -n '1s/^ii *//p')
    [ -n "$installed" ] || fail "dependency $name is not installed here"
    if [ -n "$op" ]; then
        dpkg --compare-versions "$installed" "$op" "$wanted" || fail "dependency '$item' not met by $name $installed"
    fi
done
for package in libqt6core6 libqt6gui6 libqt6widgets6 libqt6network6 libqt6multimedia6 libc6 libstdc++6 \
    gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-ugly qt6-qpa-plugins; do
    printf '%s\n' "${names[@]}" | grep -qxF "$package" || fail "Depends lacks $package"
done

# --- install into a scratch root -----------------------------------------------
root=$scratch/root
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$root/var/lib/dpkg/triggers"
touch "$root/var/lib/dpkg/status" "$root/var/lib/dpkg/available"
log "dpkg --root -i"
# The scratch database has none of the dependencies: --force-depends. The log
# stays in the scratch root, and the path include undoes any path-exclude
# (man pages, say) of a slimmed-down machine's dpkg configuration.
if ! dpkg --root="$root" --log="$root/dpkg.log" --path-include='/*' --force-depends --force-not-root \
    -i "$deb" >"$scratch/dpkg.log" 2>&1; then
    cat "$scratch/dpkg.log" >&2
    fail "dpkg could not install the package into $root"
fi
status=$(dpkg --root="$root" -s tallowcrest-server | sed -n 's/^Status: //p')
[ "$status" = "install ok installed" ] || fail "package status in the scratch root is '$status'"

installed_files()  # the files under $1, relative to it, sorted
{
    (cd "$1" && find . \( -type f -o -type l \) -printf '%P\n' | LC_ALL=C sort)
}
dpkg_files=$(dpkg --root="$root" -L tallowcrest-server | while read -r path; do
    [ -d "$root$path" ] || echo "${path#/usr/}"
done | LC_ALL=C sort)
package_files=$(installed_files "$root/usr")
[ "$dpkg_files" = "$package_files" ] || fail "dpkg's file list and the files under /usr differ:
$(diff <(echo "$dpkg_files") <(echo "$package_files"))"

for program in tallowcrest-server tallowcrest-remote; do
    [ -x "$root/usr/bin/$program" ] || fail "usr/bin/$program is missing or not executable"
done

desktop=$root/usr/share/applications/tallowcrest-server.desktop
[ -f "$desktop" ] || fail "no desktop entry"
desktop-file-validate "$desktop" || fail "desktop-file-validate rejects the desktop entry"
desktop_key() { sed -n "s/^$1=//p" "$desktop"; }
[ "$(desktop_key Name)" = "Tallowcrest Server" ] || fail "desktop Name is '$(desktop_key Name)'"
[ "$(desktop_key Icon)" = tallowcrest-server ] || fail "desktop Icon is '$(desktop_key Icon)'"
[ "$(desktop_key Categories)" = "AudioVideo;Audio;Player;" ] || fail "desktop Categories are '$(desktop_key Categories)'"
exec_program=$(desktop_key Exec | cut -d' ' -f1)
[ -x "$root/usr/bin/$exec_program" ] || fail "desktop Exec '$exec_program' is not an installed program"

for side in 16 32 48; do
    icon=$root/usr/share/icons/hicolor/${side}x${side}/apps/tallowcrest-server.png
    [ -f "$icon" ] || fail "no ${side}x${side} icon"
done
for icon in "$root"/usr/share/icons/hicolor/*/apps/tallowcrest-server.png; do
    size=$(basename "$(dirname "$(dirname "$icon")")")
    description=$(file -b "$icon")
    [[ "$description" == "PNG image data, ${size/x/ x }, "* ]] || fail "$size icon is: $description"
done

for program in tallowcrest-server tallowcrest-remote; do
    page=$root/usr/share/man/man1/$program.1.gz
    [ -f "$page" ] || fail "no man page for $program"
    gzip -t "$page" || fail "the man page of $program is not valid gzip"
    if command -v man >/dev/null; then
        text=$(MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>"$scratch/man.err") || fail "man cannot show $page"
        [ ! -s "$scratch/man.err" ] || fail "troff warnings in $program.1: $(cat "$scratch/man.err")"
        for section in NAME SYNOPSIS DESCRIPTION OPTIONS; do
            grep -q "^$section" <<<"$text" || fail "$program.1 has no $section section"
        done
        grep -Eq "^ +$program +- " <<<"$text" || fail "$program.1 does not name $program"
    else
        zcat "$page" | grep -q "^\.SH NAME" || fail "$program.1 has no NAME section"
    fi
done
grep -q "TallowcrestServer.conf" <(zcat "$root/usr/share/man/man1/tallowcrest-server.1.gz") ||
    fail "tallowcrest-server.1 does not name the settings file"

# --- the installed programs answer without a display -------------------------
server=$root/usr/bin/tallowcrest-server
run_server()  # ARGS...: sets out, err, rc
{
    rc=0
    out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$server" "$@" 2>"$scratch/err") || rc=$?
    err=$(cat "$scratch/err")
}
run_server --version
[ "$rc" -eq 0 ] && [ "$out" = "tallowcrest-server $version" ] && [ -z "$err" ] ||
    fail "--version: status $rc, out '$out', err '$err'"
run_server --help
[ "$rc" -eq 0 ] && [ "$out" = "usage: tallowcrest-server [--help | --version]" ] && [ -z "$err" ] ||
    fail "--help: status $rc, out '$out', err '$err'"
run_server --no-such-option
[ "$rc" -eq 2 ] && [ -z "$out" ] && [ "$err" = "usage: tallowcrest-server [--help | --version]" ] ||
    fail "an unknown option: status $rc, out '$out', err '$err'"
rc=0
env -u DISPLAY "$root/usr/bin/tallowcrest-remote" --help >"$scratch/remote.out" 2>&1 || rc=$?
[ "$rc" -eq 0 ] && grep -q "^usage: tallowcrest-remote" "$scratch/remote.out" ||
    fail "tallowcrest-remote --help: status $rc: $(cat "$scratch/remote.out")"

# --- cmake --install yields the same files ------------------------------------
log "cmake --install --prefix"
cmake --install "$build" --prefix "$scratch/prefix" >"$scratch/install.log" 2>&1 ||
    { cat "$scratch/install.log" >&2; fail "cmake --install failed"; }
prefix_files=$(installed_files "$scratch/prefix")
[ "$prefix_files" = "$package_files" ] || fail "cmake --install and the package install different files:
$(diff <(echo "$prefix_files") <(echo "$package_files"))"

log "ok: $(wc -l <<<"$package_files") files"
