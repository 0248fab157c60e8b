#!/usr/bin/env bash
# A program (robust_helper.exe's target) that starts a windowless worker
# copy of itself every 20 s (each lives 8 s) and saves and exits when asked
# to close. Started once Vardex runs, nobody uses it: its workers are the
# program at work, not new starts, and it is asked to close no sooner than
# the limit and within the limit plus two ticks of its start. Vardex's wall
# clock (libfaketime, which Wine honours; the wineserver's tick count
# stays) is set forward one hour a few seconds after the idle time starts
# and back again 30 s later: the end comes within the same bounds.
#   worker_copies.sh WINE VARDEX READ_LABELS ROBUST_HELPER
. "$(dirname "$0")/../lib/e2e.sh" "$@"
notepad_win=$(winepath -w "$4" 2>/dev/null) window_name='Worker Test'
save_file=$(mktemp) && temp_files+=("$save_file")
program_args=(target --title "$window_name" --workers-every 20000 --save-on-close "$(winepath -w "$save_file" 2>/dev/null)")
clock_file=""
# Whichever library matches the loader is taken; the other is ignored.
for lib in /usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1 /usr/lib/i386-linux-gnu/faketime/libfaketime.so.1; do
  [ -f "$lib" ] && vardex_env+=("$lib")
done
if [ ${#vardex_env[@]} -eq 0 ]; then
  echo "no libfaketime (package faketime): the clock is not stepped"
else
  clock_file=$(mktemp) && temp_files+=("$clock_file")
  echo "+0" >"$clock_file"
  # As on Windows, setting the clock leaves the tick count and the
  # performance counter where they are.
  vardex_env=(LD_PRELOAD="${vardex_env[*]}" FAKETIME_TIMESTAMP_FILE="$clock_file" FAKETIME_NO_CACHE=1
              FAKETIME_DONT_FAKE_MONOTONIC=1)
fi
e2e_prepare
e2e_start_vardex
e2e_wait_vardex
e2e_wait_hidden
# Its start is then the one Vardex sees.
start_program
idle_from=$(date +%s)
workers=" " clock_steps=0
on_idle_poll() {
  local since p
  if [ -n "$clock_file" ]; then
    since=$(( $(date +%s) - idle_from ))
    if [ "$clock_steps" -eq 0 ] && [ "$since" -ge 5 ]; then
      echo "+1h" >"$clock_file"
      clock_steps=1
      echo "Vardex's clock set forward one hour ${since}s into the idle time"
    elif [ "$clock_steps" -eq 1 ] && [ "$since" -ge 35 ]; then
      echo "+0" >"$clock_file"
      clock_steps=2
      echo "Vardex's clock set back one hour ${since}s into the idle time"
    fi
  fi
  for p in $(prefix_pids "$notepad_win"); do
    case "$workers" in *" $p "*) ;; *) [ "$p" = "${np_pids[0]}" ] || workers+="$p " ;; esac
  done
}
e2e_idle_until_ended
e2e_check_ended 0
# It closed when asked (its own exit code, not the hard end's): no grace.
wait "${np_pids[0]}"
code=$?
[ "$code" -eq 42 ] || fail "the program exited with $code, not having closed when asked"
# Each worker is seen on several polls while it lives.
count=$(echo $workers | wc -w)
[ "$count" -ge 2 ] || fail "$count worker copies were seen, not one every 20 s"
echo "$count worker copies ran; the program closed when asked ${ended_after}s after its start"
e2e_finish
