#!/usr/bin/env bash
# End-to-end: a headless recorder with a simulated capture board records its
# cameras into the page files and the index, and its rules follow what is
# done in the board's control folder: a digital input pulled low switches a
# digital output, a cut video signal switches another.
source "$(dirname "$0")/lib.sh"
INDEX_TOOL=${INDEX_TOOL:?path to tavel-index}

d=$(fresh_dir)
cleanup() {
  exec 3>&- 2>/dev/null
  [ -n "${recorder:-}" ] && kill "$recorder" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$d"
}
trap cleanup EXIT

printf 'D\n4\n#\n' >"$d/tavel.drv"
cat >"$d/settings.tvl" <<'TVL'
set global global firstrun int 0
addcard brisa Brisa1
set board Brisa1 dio_enable int 1
addcamera Brisa1 0 Gate
set camera Gate framerate int 6
addcamera Brisa1 1 Yard
set camera Yard framerate int 6
addcamera Brisa1 2 Dock
set camera Dock framerate int 6
AddRule Door
AddRuleNode Door 5 0 4 0 Brisa1
AddRuleNode Door 30 0 0 0 set board Brisa1 DIO_on int 7|set board Brisa1 DIO_off int 7
AddRule Dark
AddRuleNode Dark 7 0 0 0 Yard
AddRuleNode Dark 30 0 0 0 set board Brisa1 DIO_on int 9|set board Brisa1 DIO_off int 9
TVL

mkfifo "$d/in"
(cd "$d" && HOME=$d/home exec timeout 90 "$TAVEL" --headless <"$d/in" >"$d/stdout" 2>"$d/stderr") &
recorder=$!
exec 3>"$d/in"

sim=$d/sim/brisa0
page_bytes() { cat "$d"/drives/D/capture/tvl*.tt 2>/dev/null | wc -c; }
recorded() { [ "$(page_bytes)" -gt 100000 ]; }
file_is() { [ "$(cat "$1" 2>/dev/null)" = "$2" ]; }

check "the board's cameras record into the page files" wait_for 30 recorded
check "the board is open with its DI/O extension" wait_for 10 file_is "$sim/open" "1 19 0"
check "output 7 starts off" wait_for 10 file_is "$sim/dout7" "0"
echo 0 >"$sim/din4"
check "a digital input pulled low switches output 7 on" wait_for 10 file_is "$sim/dout7" "1"
echo 1 >"$sim/din4"
check "and released, off again" wait_for 10 file_is "$sim/dout7" "0"
echo 0 >"$sim/signal1"
check "a cut signal on Yard's input switches output 9 on" wait_for 10 file_is "$sim/dout9" "1"
echo 1 >"$sim/signal1"
check "the signal back switches it off" wait_for 10 file_is "$sim/dout9" "0"

echo quit >&3
exec 3>&-
wait "$recorder"
rc=$?
recorder=
check "quit ends the recorder with 0" [ $rc -eq 0 ]
rows=$(sqlite3 "$d/drives/D/capture/index.db" "SELECT from_input, count(*) FROM Datum GROUP BY from_input" | tr '\n' ' ')
echo "index rows per input: $rows"
check "every camera's frames are in the index" bash -c "[ \$(sqlite3 '$d/drives/D/capture/index.db' 'SELECT count(DISTINCT from_input) FROM Datum') -eq 3 ]"
check "every index row matches its record" "$INDEX_TOOL" check "$d"
check "the board was logged" log_has "$d" "Brisa board (0) added."

finish
