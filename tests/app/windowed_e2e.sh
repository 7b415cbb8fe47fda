#!/usr/bin/env bash
# End-to-end: the windowed recorder on a virtual display (run under xvfb-run).
source "$(dirname "$0")/lib.sh"

windows() { xwininfo -root -tree 2>/dev/null; }
has_window() { windows | grep -qF "\"$1\""; }

w=$(fresh_dir)
ln -s "$(cd "$(dirname "$0")/../.." && pwd)/resources" "$w/resources"
printf 'D\n1\n#\n' >"$w/tavel.drv"   # a drive file keeps the passive-mode message box away
mkfifo "$w/in"
(cd "$w" && HOME=$w/home exec "$TAVEL" <"$w/in" >"$w/stdout" 2>"$w/stderr") &
pid=$!
exec 7>"$w/in"
check "windowed recorder starts" wait_for 30 log_has "$w" "started."
# No settings file: the first-run wizard asks first; its question is a message box.
check "main window titled for nobody logged in" wait_for 20 has_window "Tavel DVR - Unnamed - Not logged in"
# The first-run question is on screen: a person answers it with Cancel.
check "first-run question shown" wait_for 20 has_window "Tavel DVR"
question_open() { xwininfo -root -tree | grep -qF '"Tavel DVR":'; }
# A key sent before the dialog takes input is lost: press Escape until it is gone.
for attempt in 1 2 3 4 5 6 7 8 9 10; do
  question_open || break
  press_in '^Tavel DVR$' Escape
  wait_for 2 bash -c "! xwininfo -root -tree | grep -qF '\"Tavel DVR\":'"
done
check "first-run question answered" wait_for 20 bash -c "! xwininfo -root -tree | grep -qF '\"Tavel DVR\":'"
echo "openwindow console" >&7
check "console window opens" wait_for 20 has_window "Console"
import -window root "$w/screen.png" 2>/dev/null
colours=$(identify -format '%k' "$w/screen.png" 2>/dev/null || echo 0)
check "screenshot shows the windows" [ "${colours:-0}" -gt 16 ]
[ -n "${TAVEL_SCREENSHOT:-}" ] && cp "$w/screen.png" "$TAVEL_SCREENSHOT"
# Type a command line into the console window as a person would.
console=$(xdotool search --name '^Console$' 2>/dev/null | head -n 1)
check "console window found" [ -n "$console" ]
typed() { has_window "Tavel DVR - Depot - Not logged in"; }
if [ -n "$console" ]; then
  for attempt in 1 2 3 4 5; do
    typed && break
    xdotool windowfocus --sync "$console" 2>/dev/null
    xdotool mousemove --window "$console" 300 214 click 1
    xdotool key ctrl+a BackSpace
    xdotool type --delay 5 "set global global customer string Depot"
    xdotool key Return
    wait_for 4 typed
  done
fi
check "typed command runs: the title follows the recorder name" wait_for 20 has_window "Tavel DVR - Depot - Not logged in"
kill -TERM $pid
wait $pid
rc=$?
exec 7>&-
check "SIGTERM ends the windowed recorder normally" [ $rc -eq 0 ]
check "poll file says die" [ "$(cat "$w/__poll" 2>/dev/null)" = "die" ]
check "exit logged" log_has "$w" ": Exiting."
check "no error logged" bash -c "! grep -q ': Error: ' '$w/tavel.log'"
[ $failures -eq 0 ] || { windows; cat "$w/stderr"; cat "$w/tavel.log"; }
rm -rf "$w"
finish
