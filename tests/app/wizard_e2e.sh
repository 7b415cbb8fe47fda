#!/usr/bin/env bash
# End-to-end: the first start of the windowed recorder without a settings
# file runs the first-run wizard; a person confirms it and picks its first
# task, which adds the capture board with 16 cameras (run under xvfb-run).
source "$(dirname "$0")/lib.sh"

windows() { xwininfo -root -tree 2>/dev/null; }
has_window() { windows | grep -qF "\"$1\""; }

w=$(fresh_dir)
ln -s "$(cd "$(dirname "$0")/../.." && pwd)/resources" "$w/resources"
printf 'D\n2\n#\n' >"$w/tavel.drv"
mkfifo "$w/in"
(cd "$w" && HOME=$w/home exec "$TAVEL" <"$w/in" >"$w/stdout" 2>"$w/stderr") &
pid=$!
exec 7>"$w/in"
check "windowed recorder starts" wait_for 30 log_has "$w" "started."

# The first question: OK goes on to the task list.
question_open() { xwininfo -root -tree | grep -qF '"Tavel DVR":'; }
check "first-run question shown" wait_for 20 question_open
list_open() { has_window "Select tasks to run"; }
for attempt in 1 2 3 4 5 6 7 8 9 10; do
  list_open && break
  press_in '^Tavel DVR$' Return
  wait_for 2 list_open
done
check "the task list follows" wait_for 20 list_open
# The first entry: moved onto with Home and confirmed with Return.
board_added() { log_has "$w" "Brisa board (0) added."; }
for attempt in 1 2 3 4 5 6 7 8 9 10; do
  board_added && break
  list=$(xdotool search --name '^Select tasks to run$' 2>/dev/null | head -n 1)
  [ -n "$list" ] && xdotool windowfocus --sync "$list" key Home Return 2>/dev/null
  wait_for 3 board_added
done
check "choosing the first task adds the board" wait_for 20 board_added
wait_for 20 bash -c "! xwininfo -root -tree | grep -qF '\"Select tasks to run\"'"
echo "SaveSettings saved.tvl" >&7
check "settings saved" wait_for 20 test -s "$w/saved.tvl"
check "with the board" grep -qx "addcard brisa Brisa1" "$w/saved.tvl"
check "and 16 cameras" [ "$(grep -c '^addcamera Brisa1 ' "$w/saved.tvl")" -eq 16 ]
check "at 6 frames per second" [ "$(grep -c '^set camera Brisa1_[0-9]* framerate int 6$' "$w/saved.tvl")" -eq 16 ]
import -window root "$w/screen.png" 2>/dev/null
colours=$(identify -format '%k' "$w/screen.png" 2>/dev/null || echo 0)
check "screenshot shows the windows" [ "${colours:-0}" -gt 16 ]
[ -n "${TAVEL_SCREENSHOT:-}" ] && cp "$w/screen.png" "$TAVEL_SCREENSHOT"
kill -TERM $pid
wait $pid
rc=$?
exec 7>&-
check "SIGTERM ends the windowed recorder normally" [ $rc -eq 0 ]
[ $failures -eq 0 ] || { windows; cat "$w/stderr"; tail -20 "$w/tavel.log"; }
[ -n "${KEEP:-}" ] || rm -rf "$w"
finish
