#!/usr/bin/env bash
# Installs the Debian packages the recorder builds, runs and tests with, when
# any is missing. Root installs directly; otherwise through sudo.
set -euo pipefail

packages=(
  cmake g++ pkg-config gettext libgtest-dev libgmock-dev libbenchmark-dev
  libwxgtk3.2-dev libsqlite3-dev libavcodec-dev libavformat-dev libavutil-dev libswscale-dev
  libtheora-dev libsdl2-dev libsdl2-net-dev libcurl4-openssl-dev libglew-dev libgl-dev
  libglu1-mesa-dev
  xvfb xauth x11-utils xdotool libgl1-mesa-dri ffmpeg sqlite3 socat curl imagemagick
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -q
"${as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
