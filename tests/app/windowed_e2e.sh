#!/usr/bin/env bash
# End-to-end: the windowed recorder on a virtual display (run under xvfb-run).
source "$(dirname "$0")/lib.sh"

w=$(fresh_dir)
ln -s "$(dirname "$0")/../../resources" "$w/resources"
printf 'set global global firstrun int 0\nset global global customer string Window test\n' >"$w/settings.tvl"
: >"$w/tavel.drv"   # a drive file keeps the passive-mode message box away
(cd "$w" && HOME=$w/home exec "$TAVEL" >"$w/stdout" 2>"$w/stderr") &
pid=$!
check "windowed recorder starts" wait_for 30 log_has "$w" "started."
check "still running after start-up" kill -0 $pid
kill -TERM $pid
wait $pid
rc=$?
check "SIGTERM ends the windowed recorder normally" [ $rc -eq 0 ]
check "poll file says die" [ "$(cat "$w/__poll" 2>/dev/null)" = "die" ]
check "exit logged" log_has "$w" ": Exiting."
check "no error logged" bash -c "! grep -q ': Error: ' '$w/tavel.log'"
[ $failures -eq 0 ] || { cat "$w/stderr"; cat "$w/tavel.log"; }
rm -rf "$w"
finish
