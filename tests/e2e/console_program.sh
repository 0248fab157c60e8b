#!/usr/bin/env bash
# A console program (cmd.exe in a console window of its own), which the
# hooks cannot see into, kept by the input into its console window. Then
# the user makes the limit 3 minutes and leaves the program for 130 s:
# under the limit. Then the limit is retyped to 25, and "2" stands in the
# field for 12 s on the way: a limit below the idle time. Each new limit is
# a fresh start, so nothing on the way ends the program.
#   console_program.sh WINE VARDEX READ_LABELS
. "$(dirname "$0")/../lib/e2e.sh" "$@"
notepad_win='C:\windows\system32\cmd.exe' window_name=cmd.exe console=1 E2E_UNHOOKED=1
e2e_start
e2e_type

# The limit field reads TEXT, and the program still runs SECONDS later.
limit_reads_and_runs() {  # TEXT SECONDS
  local from
  [ "$(control_text intAppShutDownTime)" = "$1" ] || fail "the limit reads '$(control_text intAppShutDownTime)', not $1"
  from=$(date +%s)
  while [ $(( $(date +%s) - from )) -lt "$2" ]; do
    notepads_running || fail "the program was ended $(( $(date +%s) - from ))s after the limit read $1"
    sleep 1
  done
}
type_into_vardex intAppShutDownTime 3
limit_reads_and_runs 3 130
click_control intAppShutDownTime
xdotool key Home shift+End
xdotool type 2
limit_reads_and_runs 2 12
xdotool key End
xdotool type 5
limit_reads_and_runs 25 12
read -r elapsed _ <<<"$(labels)"
echo "PASS: 130 s idle, the limit from 3 to 25 through 2 for 12 s: the program runs (count $elapsed)"
