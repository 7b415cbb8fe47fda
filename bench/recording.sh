#!/usr/bin/env bash
# The whole recording path under load: a headless recorder on a fresh base
# directory records N simulated board cameras continuously in MPEG-4 for a
# fixed time; the index then tells how many frames each camera stored.
#
#   bench/recording.sh [-n CAMERAS] [-r FPS] [-s 352|704] [-t SECONDS]
#   bench/recording.sh --search [-r FPS] [-s 352|704] [-t SECONDS]
#   (--min SHARE changes the 0.95 that a run must record)
#
# Prints: configured and recorded frames per second (all cameras), the share
# recorded, CPU seconds per recorded frame, peak resident memory and memory
# per camera; the exit status is 0 when at least 95% were recorded. --search
# doubles N from 4, then bisects, to find the largest N that records at least
# 95% of the configured frames.
# TAVEL points at the recorder (default build/tavel, a Release build).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
TAVEL=${TAVEL:-$top/build/tavel}
cameras=16 rate=25 size=352 seconds=20 search=0 minimum=0.95
while [ $# -gt 0 ]; do
  case $1 in
    -n) cameras=$2; shift 2 ;;
    -r) rate=$2; shift 2 ;;
    -s) size=$2; shift 2 ;;
    -t) seconds=$2; shift 2 ;;
    --search) search=1; shift ;;
    --min) minimum=$2; shift 2 ;;
    *) sed -n '2,15p' "$0"; exit 2 ;;
  esac
done
resolution=$([ "$size" = 704 ] && echo 2 || echo 8)
always=$(printf 'A%.0s' $(seq 1 168))  # on in every hour of the week

# run N: prints "configured recorded share cpu_per_frame peak_kib"
run() {
  local n=$1 d boards b i
  d=$(mktemp -d /tmp/tavel-recording-XXXXXX)
  boards=$(((n + 7) / 8))  # eight inputs a board: one per capture group
  mkdir -p "$d/sim" "$d/home"
  echo "$boards" >"$d/sim/boards"
  for b in $(seq 0 $((boards - 1))); do mkdir -p "$d/sim/brisa$b" && echo 8 >"$d/sim/brisa$b/inputs"; done
  printf 'D\n8\n#\n' >"$d/tavel.drv"
  {
    echo "set global global firstrun int 0"
    echo "AddRule Always"
    echo "AddRuleNode Always 4 0 0 0 $always"
    for b in $(seq 1 "$boards"); do
      echo "addcard brisa Board$b"
      echo "set board Board$b multicard int 1"
    done
    for i in $(seq 0 $((n - 1))); do
      b=$((i / 8 + 1))
      echo "addcamera Board$b $((i % 8)) Cam$i"
      echo "set camera Cam$i resolution int $resolution"
      echo "set camera Cam$i framerate int $rate"
      echo "set camera Cam$i recordbyruleC string Always"
    done
  } >"$d/settings.tvl"
  (cd "$d" && (sleep "$seconds"; echo quit) |
    HOME=$d/home /usr/bin/time -f '%U %S %M' -o "$d/time" "$TAVEL" --headless >/dev/null 2>&1) || true
  local frames first last
  frames=$(sqlite3 "$d/drives/D/capture/index.db" "SELECT count(*) FROM Datum" 2>/dev/null || echo 0)
  first=$(sqlite3 "$d/drives/D/capture/index.db" "SELECT min(time * 1000 + milliseconds) FROM Datum" 2>/dev/null || echo 0)
  last=$(sqlite3 "$d/drives/D/capture/index.db" "SELECT max(time * 1000 + milliseconds) FROM Datum" 2>/dev/null || echo 0)
  read -r user sys peak < <(tail -n 1 "$d/time")
  rm -rf "$d"
  # The recording window: from the first to the last stored frame (ms).
  python3 - "$n" "$rate" "$frames" "${first:-0}" "${last:-0}" "$user" "$sys" "$peak" <<'PY'
import sys
n, rate, frames, first, last = (int(float(x or 0)) for x in sys.argv[1:6])
user, system, peak = float(sys.argv[6]), float(sys.argv[7]), int(sys.argv[8])
span = max(last - first, 1) / 1000.0
configured = n * rate
# Each camera's first frame opens the window; the frames after it fill it.
recorded = max(frames - n, 0) / span
print(f"{configured} {recorded:.1f} {recorded / configured if configured else 0:.3f} "
      f"{(user + system) / frames if frames else 0:.6f} {peak}")
PY
}

report() {
  local n=$1
  read -r configured recorded share cpu peak < <(run "$n")
  printf '%4d cameras %3dx%s at %2d fps: %6d fps configured, %8s recorded (%5.1f%%), %.2f ms CPU a frame, %6d MiB peak, %5.1f MiB a camera\n' \
    "$n" "$size" "$([ "$size" = 704 ] && echo 576 || echo 288)" "$rate" "$configured" "$recorded" \
    "$(python3 -c "print($share * 100)")" "$(python3 -c "print($cpu * 1000)")" $((peak / 1024)) \
    "$(python3 -c "print($peak / 1024 / $n)")"
  [ "$(python3 -c "print(1 if $share >= $minimum else 0)")" = 1 ]
}

echo "$(nproc) cores; $seconds s a run"
if [ $search -eq 0 ]; then
  report "$cameras"  # the exit status says whether 95% were recorded
  exit
fi
good=0 n=4
while report "$n"; do good=$n; n=$((n * 2)); done
bad=$n
while [ $((bad - good)) -gt 1 ]; do
  mid=$(((good + bad) / 2))
  if report "$mid"; then good=$mid; else bad=$mid; fi
done
echo "largest camera count recording at least 95%: $good"
