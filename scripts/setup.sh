#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12 (as root, only the
# packages that are missing), then configures and builds in ./build.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  # toolchain
  g++ make cmake git python3 pkg-config ca-certificates
  # libraries
  qt6-base-dev qt6-qpa-plugins libgl-dev libgtest-dev qt6-httpserver-dev qt6-websockets-dev libqrencode-dev
  # the library index: tags, search and thumbnails
  libtag1-dev libsqlite3-dev libxxhash-dev
  # the player: GStreamer's playbin, MP3 decoding (mpg123) and ReplayGain, the sound output
  libgstreamer1.0-dev gstreamer1.0-plugins-base gstreamer1.0-plugins-good
  # tests of the desktop's media keys (MPRIS) and of the phone remote in a real browser
  dbus playerctl chromium chromium-driver python3-selenium
  # tests: MP3 generation, a real X desktop, screenshots
  lame sox libsox-fmt-mp3 python3-mutagen xvfb openbox tint2 xdotool x11-utils imagemagick fonts-dejavu-core procps iproute2
  # sanitizer build and request fuzzer: clang, its ASan/UBSan/libFuzzer runtimes, a symbolizer for reports
  clang libclang-rt-14-dev llvm-14
  # the naming check (tests/naming)
  clang-tidy
  # packaging: cpack's dependency scan (dpkg-shlibdeps, file), and the package test's desktop-entry and man page checks
  dpkg-dev file desktop-file-utils man-db
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed"; then
    missing+=("$package")
  fi
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then
    echo "Missing packages need root: run this as root (or install them with sudo apt-get install ${missing[*]})." >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"
