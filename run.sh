#!/usr/bin/env bash
# Installs what is missing, builds the recorder, prepares the demo base
# directory demo/ the first time, and starts the recorder there. Without a
# display it runs headless: type command lines, "quit" ends it.
set -euo pipefail
cd "$(dirname "$0")"
top=$(pwd)
./scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DTAVEL_TESTS=OFF >/dev/null
cmake --build build -j"$(nproc)" --target tavel watchdog tavel-index encoder-baseline

if [ ! -d demo ]; then
  mkdir -p demo
  for d in resources languages help html; do
    src="$top/resources"
    [ "$d" = resources ] || src="$top/resources/$d"
    ln -sfn "$src" "demo/$d"
  done
  ln -sfn "$top/build/watchdog" demo/watchdog
  {
    cat <<'TVL'
# Demo configuration: a simulated capture board with 16 cameras at 6 frames
# per second (its control folder is demo/sim/brisa0), and two network
# cameras served by the test camera server on this machine (a moving
# picture and a still one). Every camera records by motion.
set global global customer string Demo recorder
set global global firstrun int 0
addcard brisa Brisa1
set board Brisa1 dio_enable int 1
TVL
    for i in $(seq 0 15); do
      printf 'addcamera Brisa1 %d Brisa1_%d\nset camera Brisa1_%d framerate int 6\n' "$i" $((i + 1)) $((i + 1))
    done
    cat <<'TVL'
addcard Network Net1
addcamera Net1 0 Entrance
set camera Entrance ctype int 100205
set camera Entrance host string 127.0.0.1
set camera Entrance port string 18081
set camera Entrance framerate int 5
addcamera Net1 1 Storeroom
set camera Storeroom ctype int 600000
set camera Storeroom host string 127.0.0.1
set camera Storeroom port string 18082
set camera Storeroom resolution int 1
set camera Storeroom framerate int 2
TVL
  } > demo/settings.tvl
  # Recordings: a small ring of two page files on drive D (demo/drives/D).
  printf 'D\n2\n#\n' > demo/tavel.drv
  echo "Prepared the demo base directory $top/demo"
fi

[ -e demo/watchdog ] || ln -sfn "$top/build/watchdog" demo/watchdog
cd demo

# The demo's cameras: the test camera server on two loopback ports, for as
# long as the recorder runs.
cameras=()
for server in "18081" "18082 --still"; do
  set -- $server
  python3 "$top/tools/test_camera.py" --port "$1" "${@:2}" --log "$top/demo/camera-$1.log" &
  cameras+=($!)
done
trap 'kill "${cameras[@]}" 2>/dev/null' EXIT
echo "Test cameras on http://127.0.0.1:18081 (moving) and http://127.0.0.1:18082 (still);" \
  "their requests are logged in demo/camera-18081.log and demo/camera-18082.log."

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display: running headless in $top/demo (log: demo/tavel.log)."
  echo "Type command lines such as \"SaveSettings demo.tvl\"; \"quit\" ends the recorder."
  "$top/build/tavel" --headless
else
  "$top/build/tavel"
fi
