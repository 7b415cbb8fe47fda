#!/usr/bin/env bash
# End-to-end: a headless recorder records two network cameras into its page
# files and is killed with SIGKILL at random moments, again and again. Each
# restart must go on without losing or corrupting anything: afterwards every
# index row points at the record it describes, and an index rebuilt from the
# page files alone holds exactly the rows of the live index.
source "$(dirname "$0")/lib.sh"
CAMERA_SERVER=${CAMERA_SERVER:?path to tools/test_camera.py}
INDEX_TOOL=${INDEX_TOOL:?path to tavel-index}
ROUNDS=${ROUNDS:-10}

d=$(fresh_dir)
servers=()
cleanup() {
  for pid in "${servers[@]}"; do kill "$pid" 2>/dev/null; done
  [ -n "${recorder:-}" ] && kill -9 "$recorder" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$d"
}
trap cleanup EXIT

for name in gate yard; do
  python3 "$CAMERA_SERVER" --port-file "$d/$name.port" --log "$d/$name.log" &
  servers+=($!)
done
wait_for 20 test -s "$d/gate.port" && wait_for 20 test -s "$d/yard.port" || { echo "servers did not start"; exit 1; }

printf 'D\n2\nE\n1\n#\n' >"$d/tavel.drv"
cat >"$d/settings.tvl" <<TVL
set global global firstrun int 0
addcard Network Net1
addcamera Net1 0 Gate
set camera Gate ctype int 100205
set camera Gate host string 127.0.0.1
set camera Gate port string $(cat "$d/gate.port")
set camera Gate framerate int 10
addcamera Net1 1 Yard
set camera Yard ctype int 600000
set camera Yard host string 127.0.0.1
set camera Yard port string $(cat "$d/yard.port")
set camera Yard framerate int 10
TVL

db=$d/drives/D/capture/index.db
page_bytes() { cat "$d"/drives/*/capture/tvl*.tt 2>/dev/null | wc -c; }
recorded_more_than() { [ "$(page_bytes)" -gt "$1" ]; }

# Runs the recorder in the background (the end of its input does not end it).
start_recorder() {
  (cd "$d" && exec env HOME="$d/home" "$TAVEL" --headless </dev/null >>"$d/stdout" 2>>"$d/stderr") &
  recorder=$!
}

for round in $(seq 1 "$ROUNDS"); do
  before=$(page_bytes)
  start_recorder
  if ! wait_for 30 recorded_more_than "$before"; then
    echo "round $round: nothing recorded"
    failures=$((failures + 1))
    break
  fi
  # A random moment within the next second and a half: in a batch, between
  # batches, while a frame is being written.
  sleep "0.$((RANDOM % 10))$((RANDOM % 10))"
  [ $((RANDOM % 2)) -eq 0 ] && sleep 1
  kill -9 "$recorder"
  wait "$recorder" 2>/dev/null
  recorder=
  check "round $round: every row consistent after the kill" "$INDEX_TOOL" check "$d" >"$d/check.$round" 2>&1
done

# One more run that ends normally: it indexes what the last kill left out.
before=$(page_bytes)
mkfifo "$d/in"
(cd "$d" && exec env HOME="$d/home" "$TAVEL" --headless <"$d/in" >>"$d/stdout" 2>>"$d/stderr") &
recorder=$!
exec 3>"$d/in"
wait_for 30 recorded_more_than "$before"
echo quit >&3
exec 3>&-
wait "$recorder"
rc=$?
recorder=
check "the last run ends with 0" [ $rc -eq 0 ]

check "every row of the live index is consistent" "$INDEX_TOOL" check "$d"
check "rebuilt from the page files alone" "$INDEX_TOOL" rebuild "$d" --output "$d/rebuilt.db"
rows() {
  sqlite3 "$1" "SELECT time, milliseconds, bytes, flags, codec, from_device, from_input, phys_partition, phys_fn,
                phys_offset FROM Datum ORDER BY phys_partition, phys_fn, phys_offset"
}
rows "$db" >"$d/live.rows"
rows "$d/rebuilt.db" >"$d/rebuilt.rows"
check "the live index holds frames" [ "$(wc -l <"$d/live.rows")" -gt 20 ]
check "the rebuilt index holds exactly the live index's rows" cmp -s "$d/live.rows" "$d/rebuilt.rows"
if ! cmp -s "$d/live.rows" "$d/rebuilt.rows"; then diff "$d/live.rows" "$d/rebuilt.rows" | head -20; fi
recoveries=$(grep -c "frames that were written after the last index update" "$d/tavel.log" || true)
echo "rounds: $ROUNDS, restarts that indexed frames left out by a kill: $recoveries, rows: $(wc -l <"$d/live.rows")"

finish
