#!/usr/bin/env bash
# End-to-end: the headless recorder started as a user would start it.
source "$(dirname "$0")/lib.sh"

# --- Saving into an empty directory, twice ---------------------------------
d=$(fresh_dir)
(cd "$d" && printf 'SaveSettings out.tvl\nSaveSettings out2.tvl\nquit\n' |
  HOME=$d/home timeout 30 "$TAVEL" --headless >"$d/stdout" 2>"$d/stderr")
rc=$?
check "headless run ends with 0 on quit" [ $rc -eq 0 ]
check "settings written" [ -s "$d/out.tvl" ]
check "two saves give identical files" cmp -s "$d/out.tvl" "$d/out2.tvl"
check "header first" [ "$(head -n 5 "$d/out.tvl")" = "###### Configuration file for Tavel DVR
# Written automatically by the program, please do not
# alter unless you really know what you're doing.
# In emergencies, contact your nearest support." ]
check "blank line after the header" [ -z "$(sed -n 5p "$d/out.tvl")" ]
check "firstrun saved as 0 after start-up" grep -qx 'set global global firstrun int 0' "$d/out.tvl"
check "locale line last" bash -c "tail -n 1 '$d/out.tvl' | grep -Eq '^set locale [A-Za-z_]+ a b c$'"
globals=$(grep '^set global global ' "$d/out.tvl" | awk '{print $4}' | tr '\n' ' ')
check "global settings in declaration order" [ "$globals" = "customer stmode lastmode drawmode showcamnum showcamrec showstatus showcamptz showicons lockaspect tooltips_enabled bgwindow quickcammenu savemode firstrun sfx keyinterval startmode mainmode mpgres globalrecordrule videostandard swwatchdog autoreboot autorebootdelay recordwd recordwddelay advanced view_buffer view_snap view_timestamp eyecandy sundayfirst com1 com2 com3 com4 " ]
check "empty sections in order" bash -c "grep -n '^# ' '$d/out.tvl' | cut -d: -f2- | tail -n 6 | tr '\n' '|' | grep -qF '# Global settings|# Capturing board settings|# Camera settings|# User settings|# Rules|# Locale setting (defines eg. what language to use)|'"
check "start message logged" log_has "$d" "Tavel DVR ("
check "exit logged" log_has "$d" ": Exiting."
check "passive mode logged" log_has "$d" "No filesystem found, working in passive mode."
check "passive warning on stderr" grep -qF "No recordings space has been properly set up!Nothing will be recorded!" "$d/stderr"
check "poll file says die" [ "$(cat "$d/__poll")" = "die" ]
check "every log line has the time stamp format" bash -c "! grep -Ev '^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}: ' '$d/tavel.log'"
check "directories created" [ -d "$d/Gallery" -a -d "$d/Layouts" ]

# --- Round trip of a hand-written settings file ------------------------------
r=$(fresh_dir)
cat >"$r/settings.tvl" <<'TVL'
# a comment line: set global global stmode int 9
set global global customer string Front  door  of the depot
set global global stmode int 4
set global global sfx int 1
set global global keyinterval int 8
set global global firstrun int 0
set global global globalrecordrule string night rule
TVL
printf 'set global global savemode int 2\r\n' >>"$r/settings.tvl"
(cd "$r" && printf 'SaveSettings first.tvl\nquit\n' | HOME=$r/home timeout 30 "$TAVEL" --headless >/dev/null 2>&1)
check "value with blanks kept" grep -qx 'set global global customer string Front  door  of the depot' "$r/first.tvl"
check "integer values kept" bash -c "grep -qx 'set global global stmode int 4' '$r/first.tvl' && grep -qx 'set global global keyinterval int 8' '$r/first.tvl'"
check "comment line not executed" bash -c "! grep -qx 'set global global stmode int 9' '$r/first.tvl'"
check "CRLF line read" grep -qx 'set global global savemode int 2' "$r/first.tvl"
cp "$r/first.tvl" "$r/settings.tvl"
(cd "$r" && printf 'SaveSettings second.tvl\nquit\n' | HOME=$r/home timeout 30 "$TAVEL" --headless >/dev/null 2>&1)
check "saved file read back and saved again is identical" cmp -s "$r/first.tvl" "$r/second.tvl"

# --- Users through the settings file -----------------------------------------
u=$(fresh_dir)
(cd "$u" && printf 'AddUser boss secret1\nAddUser guard pass2word\nset user guard c_live int 1\nSaveSettings users.tvl\nquit\n' |
  HOME=$u/home timeout 30 "$TAVEL" --headless >"$u/stdout" 2>&1)
check "users saved with scrambled passwords" bash -c "grep -Eq '^adduser boss \][0-9a-f]+$' '$u/users.tvl' && grep -Eq '^adduser guard \][0-9a-f]+$' '$u/users.tvl'"
check "plain passwords never written or logged" bash -c "! grep -rqE 'secret1|pass2word' '$u/users.tvl' '$u/tavel.log' '$u/stdout'"
check "first user is the administrator" grep -qx 'set user boss admin int 1' "$u/users.tvl"
check "second user keeps its own rights" bash -c "grep -qx 'set user guard c_live int 1' '$u/users.tvl' && grep -qx 'set user guard admin int 0' '$u/users.tvl'"
cp "$u/users.tvl" "$u/settings.tvl"
(cd "$u" && printf 'SaveSettings again.tvl\nquit\n' | HOME=$u/home timeout 30 "$TAVEL" --headless >/dev/null 2>&1)
check "users read back and saved again are identical" cmp -s "$u/users.tvl" "$u/again.tvl"

# --- A second instance, SIGTERM, end of input ---------------------------------
s=$(fresh_dir)
mkfifo "$s/in"
(cd "$s" && HOME=$s/home exec "$TAVEL" --headless <"$s/in" >"$s/stdout" 2>"$s/stderr") &
first=$!
exec 7>"$s/in"
check "first instance starts" wait_for 20 log_has "$s" "started."
o=$(fresh_dir)
(cd "$o" && HOME=$s/home timeout 30 "$TAVEL" --headless </dev/null >"$o/stdout" 2>"$o/stderr")
rc=$?
check "second instance refuses to start" [ $rc -ne 0 ]
check "second instance says why" grep -qF "Another program instance is already running, aborting." "$o/stderr"
check "second instance does not start capture" bash -c "! grep -qF 'started.' '$o/tavel.log'"
echo "SaveSettings alive.tvl" >&7
exec 7>&-   # end of input: the recorder keeps running
check "command before end of input runs" wait_for 20 test -s "$s/alive.tvl"
sleep 0.3
check "end of input does not quit" kill -0 $first
kill -TERM $first
wait $first
rc=$?
check "SIGTERM ends with the normal shutdown" [ $rc -eq 0 ]
check "SIGTERM shutdown logged" log_has "$s" ": Exiting."

# --- SIGINT -------------------------------------------------------------------
i=$(fresh_dir)
mkfifo "$i/in"
(cd "$i" && HOME=$i/home exec "$TAVEL" --headless <"$i/in" >/dev/null 2>&1) &
pid=$!
exec 8>"$i/in"
check "started for SIGINT" wait_for 20 log_has "$i" "started."
kill -INT $pid
wait $pid
rc=$?
exec 8>&-
check "SIGINT ends with the normal shutdown" [ $rc -eq 0 ]
check "SIGINT wrote die" [ "$(cat "$i/__poll" 2>/dev/null)" = "die" ]

rm -rf "$d" "$r" "$s" "$o" "$i" "$u"
# --- The drive file ------------------------------------------------------------
k=$(fresh_dir)
printf 'D\n200\n' >"$k/tavel.drv"   # ends after a count line without "#"
(cd "$k" && printf 'quit\n' | HOME=$k/home timeout 30 "$TAVEL" --headless >"$k/stdout" 2>"$k/stderr")
rc=$?
check "a corrupted drive file ends the program with 1" [ $rc -eq 1 ]
check "and says why" log_has "$k" "File system configuration file is corrupted!"
g=$(fresh_dir)
printf 'D\n2\nE\n1\n#\n' >"$g/tavel.drv"
(cd "$g" && printf 'quit\n' | HOME=$g/home timeout 30 "$TAVEL" --headless >/dev/null 2>&1)
check "a drive file makes the index and the capture directories" bash -c "[ -s '$g/drives/D/capture/index.db' ] && [ -d '$g/drives/E/capture' ]"
check "no passive mode with a drive file" bash -c "! grep -qF 'passive mode' '$g/tavel.log'"
check "the write position saved" bash -c "[ \"\$(sqlite3 '$g/drives/D/capture/index.db' 'SELECT type, phys_partition, phys_fn, phys_offset FROM Pointer')\" = 'record_store|D|0|0' ]"

finish
