#!/usr/bin/env bash
# End-to-end: the external watchdog program beside a headless recorder.
source "$(dirname "$0")/lib.sh"
WATCHDOG=${WATCHDOG:?path to the watchdog binary}
watchdog_exe=$(readlink -f "$WATCHDOG")

# Every process a run starts has its test directory as working directory
# (recorders, watchdogs, restarted recorders); whatever still runs there at the
# end, passed or failed, is ended by its pid, then the directory goes.
dirs=()
cleanup() {
  exec 7>&- 2>/dev/null
  local d p pass found
  # A watchdog may be starting a recorder while the first pass looks.
  for pass in 1 2 3; do
    found=0
    for p in /proc/[0-9]*; do
      for d in "${dirs[@]}"; do
        if [ "$(readlink "$p/cwd" 2>/dev/null)" = "$d" ]; then
          kill -KILL "${p#/proc/}" 2>/dev/null && found=1
        fi
      done
    done
    [ $found -eq 0 ] && break
    sleep 0.2
  done
  for d in "${dirs[@]}"; do rm -rf "$d"; done
}
trap cleanup EXIT
trap 'exit 1' INT TERM

# new_dir VAR: a fresh directory in VAR, removed at the end.
new_dir() {
  local made
  made=$(fresh_dir)
  dirs+=("$made")
  printf -v "$1" '%s' "$made"
}

# A process runs when it exists and is neither a zombie nor dead.
state_of() { sed -E 's/^.*\) (.).*$/\1/' "/proc/$1/stat" 2>/dev/null; }
runs() {
  local s
  s=$(state_of "$1")
  [ -n "$s" ] && [ "$s" != Z ] && [ "$s" != X ]
}
ended() { ! runs "$1"; }
# SIGTERM to one process; never to a missing pid (kill 0 would hit this script).
terminate() { case $1 in '' | *[!0-9]* | 0 | 1) return 1 ;; esac; kill -TERM "$1"; }

# The pids of the watchdog programs running in a directory.
watchdogs_in() {
  local p
  for p in /proc/[0-9]*; do
    if [ "$(readlink "$p/cwd" 2>/dev/null)" = "$1" ] && [ "$(readlink "$p/exe" 2>/dev/null)" = "$watchdog_exe" ] &&
      runs "${p#/proc/}"; then
      echo "${p#/proc/}"
    fi
  done
}
has_watchdog_other_than() { [ -n "$(watchdogs_in "$1" | grep -vx "$2")" ]; }
count_in_log() { grep -cF -- "$2" "$1/tavel.log" 2>/dev/null; }
untouched() { runs "$1" && ! log_has "$2" "[WATCHDOG]"; }
log_count_is() { [ "$(count_in_log "$1" "$2")" -eq "$3" ]; }

# start_recorder DIR [VAR=VALUE...]: the headless recorder in DIR, its input a
# fifo held open on descriptor 7; its pid in $rec.
start_recorder() {
  local d=$1
  shift
  mkfifo "$d/in"
  (cd "$d" && exec env HOME="$d/home" "$@" "$TAVEL" --headless <"$d/in" >>"$d/stdout" 2>>"$d/stderr") &
  rec=$!
  exec 7<>"$d/in"  # read-write: the open never blocks on a fifo
}

# The pid in the watchdog's "Recorder restarted (process N)." line.
restarted_pid() { sed -n 's/.*: \[WATCHDOG\] Recorder restarted (process \([0-9]*\))\.$/\1/p' "$1/tavel.log" | tail -n 1; }

stamp='^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}: '

# --- No watchdog program: logged, the recorder runs anyway --------------------
new_dir m
(cd "$m" && printf 'quit\n' | HOME=$m/home timeout 30 "$TAVEL" --headless >/dev/null 2>&1)
rc=$?
check "missing program: failure logged" log_has "$m" "[CORE] Watchdog program $m/watchdog could not be started."
check "missing program: the recorder started and ended normally" bash -c "[ $rc -eq 0 ] && grep -qF 'started.' '$m/tavel.log' && grep -qF ': Exiting.' '$m/tavel.log'"

# --- Run 1: an orderly quit ends the watchdog -------------------------------
new_dir d
ln -s "$WATCHDOG" "$d/watchdog"
start_recorder "$d" TAVEL_WATCHDOG_STALE_SECONDS=2
check "run 1: recorder starts" wait_for 30 log_has "$d" "started."
check "run 1: poll file written" wait_for 10 test -e "$d/__poll"
check "run 1: watchdog program runs" wait_for 10 has_watchdog_other_than "$d" none
wd=$(watchdogs_in "$d" | head -n 1)
check "run 1: no start failure logged" bash -c "! grep -qF 'could not be started' '$d/tavel.log'"
# A healthy recorder is left alone well past the stale limit.
sleep 3
check "run 1: healthy recorder not restarted" untouched "$rec" "$d"
echo quit >&7
check "run 1: quit ends the recorder" wait_for 30 ended $rec
wait $rec
rc=$?
exec 7>&-
check "run 1: quit ends with 0" [ $rc -eq 0 ]
check "run 1: shutdown wrote die" [ "$(cat "$d/__poll" 2>/dev/null)" = "die" ]
check "run 1: watchdog exits after die" wait_for 10 ended "${wd:-none}"
check "run 1: watchdog exits quietly" bash -c "! grep -qF '[WATCHDOG]' '$d/tavel.log' && [ ! -e '$d/watchdog.out' ]"

# --- Run 2: a killed recorder is restarted ------------------------------------
new_dir r
ln -s "$WATCHDOG" "$r/watchdog"
start_recorder "$r"
check "run 2: recorder starts" wait_for 30 log_has "$r" "started."
check "run 2: watchdog program runs" wait_for 10 has_watchdog_other_than "$r" none
wd=$(watchdogs_in "$r" | head -n 1)
kill -KILL $rec
wait $rec
exec 7>&-
check "run 2: restart logged" wait_for 60 log_has "$r" "[WATCHDOG] Recorder restarted (process "
check "run 2: warning in the log's format" grep -qE "${stamp}Warning: \[WATCHDOG\] The recorder stopped responding; restarting it\.$" "$r/tavel.log"
check "run 2: restart line in the log's format" grep -qE "${stamp}\[WATCHDOG\] Recorder restarted \(process [0-9]+\)\.$" "$r/tavel.log"
new=$(restarted_pid "$r")
check "run 2: restarted recorder starts" wait_for 30 log_count_is "$r" "started." 2
check "run 2: restarted recorder is a new process" bash -c "[ -n '$new' ] && [ '$new' != '$rec' ]"
new=${new:-none}
check "run 2: same arguments" [ "$(tr '\0' ' ' <"/proc/$new/cmdline" 2>/dev/null)" = "$TAVEL --headless " ]
check "run 2: same working directory" [ "$(readlink "/proc/$new/cwd" 2>/dev/null)" = "$r" ]
check "run 2: a session of its own" [ "$(awk '{print $6}' "/proc/$new/stat" 2>/dev/null)" = "$new" ]
check "run 2: input from /dev/null" [ "$(readlink "/proc/$new/fd/0" 2>/dev/null)" = "/dev/null" ]
check "run 2: output appended to watchdog.out" [ "$(readlink "/proc/$new/fd/2" 2>/dev/null)" = "$r/watchdog.out" ]
check "run 2: the first watchdog ended" wait_for 10 ended "${wd:-none}"
check "run 2: the restarted recorder has its own watchdog" wait_for 20 has_watchdog_other_than "$r" "${wd:-none}"
wd2=$(watchdogs_in "$r" | grep -vx "${wd:-none}" | head -n 1)
sleep 0.3
check "run 2: restarted recorder stays up at end of input" runs "$new"
terminate "$new"
check "run 2: restarted recorder ends on SIGTERM" wait_for 30 ended "$new"
check "run 2: it wrote die" [ "$(cat "$r/__poll" 2>/dev/null)" = "die" ]
check "run 2: its watchdog exits quietly" wait_for 10 ended "${wd2:-none}"
check "run 2: one restart only" log_count_is "$r" "[WATCHDOG] Recorder restarted" 1

# --- Run 3: a recorder that stops refreshing the poll file ------------------------
new_dir h
ln -s "$WATCHDOG" "$h/watchdog"
start_recorder "$h" TAVEL_WATCHDOG_STALE_SECONDS=2
check "run 3: recorder starts" wait_for 30 log_has "$h" "started."
check "run 3: watchdog program runs" wait_for 10 has_watchdog_other_than "$h" none
wd=$(watchdogs_in "$h" | head -n 1)
kill -STOP $rec
check "run 3: hung recorder restarted" wait_for 30 log_has "$h" "[WATCHDOG] Recorder restarted (process "
check "run 3: hung recorder killed" wait_for 10 ended $rec
runs $rec && kill -KILL $rec  # already counted as failed; do not hang on it
wait $rec
rc=$?
exec 7>&-
check "run 3: by SIGKILL" [ $rc -eq 137 ]
new=$(restarted_pid "$h")
new=${new:-none}
check "run 3: restarted recorder starts" wait_for 30 log_count_is "$h" "started." 2
check "run 3: the restarted recorder has its own watchdog" wait_for 20 has_watchdog_other_than "$h" "${wd:-none}"
wd2=$(watchdogs_in "$h" | grep -vx "${wd:-none}" | head -n 1)
terminate "$new"
check "run 3: restarted recorder ends on SIGTERM" wait_for 30 ended "$new"
check "run 3: it wrote die" [ "$(cat "$h/__poll" 2>/dev/null)" = "die" ]
check "run 3: its watchdog exits quietly" wait_for 10 ended "${wd2:-none}"
check "run 3: one restart only" log_count_is "$h" "[WATCHDOG] Recorder restarted" 1

finish
