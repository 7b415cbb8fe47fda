#!/usr/bin/env bash
# Installs what is missing, builds the recorder, prepares the demo base
# directory demo/ the first time, and starts the recorder there. Without a
# display it runs headless: type command lines, "quit" ends it.
set -euo pipefail
cd "$(dirname "$0")"
top=$(pwd)
./scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DTAVEL_TESTS=OFF >/dev/null
cmake --build build -j"$(nproc)" --target tavel watchdog

if [ ! -d demo ]; then
  mkdir -p demo
  for d in resources languages help html; do
    src="$top/resources"
    [ "$d" = resources ] || src="$top/resources/$d"
    ln -sfn "$src" "demo/$d"
  done
  ln -sfn "$top/build/watchdog" demo/watchdog
  cat > demo/settings.tvl <<'TVL'
# Demo configuration
set global global customer string Demo recorder
set global global firstrun int 0
TVL
  echo "Prepared the demo base directory $top/demo"
fi

[ -e demo/watchdog ] || ln -sfn "$top/build/watchdog" demo/watchdog
cd demo
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display: running headless in $top/demo (log: demo/tavel.log)."
  echo "Type command lines such as \"SaveSettings demo.tvl\"; \"quit\" ends the recorder."
  exec "$top/build/tavel" --headless
fi
exec "$top/build/tavel"
