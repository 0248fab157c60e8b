#!/usr/bin/env bash
# Once the typing stops, the pointer is moved over notepad every 2 s and
# another process posts 50 idle-timer WM_TIMER messages to Vardex within a
# second each time: neither is use, and neither ends notepad before the
# limit. After 48 s the user opens a second document, a new copy nobody
# types into: a new use, so it runs at least 55 s. Asked to close, notepad
# asks its own "Save changes?" question; a click on its Cancel is use:
# notepad keeps running with its text and gets the whole limit again; asked
# again and left alone, it is ended after the grace period.
#   idle_and_asked.sh WINE VARDEX READ_LABELS
. "$(dirname "$0")/../lib/e2e.sh" "$@"
e2e_start
e2e_type

stopped=$typed_at typed_pid=${np_pids[-1]}
copy_started="" cancelled="" asked_again=""
on_idle_poll() {
  local x y w h question box text
  if [ -z "$copy_started" ] && [ $(( $(date +%s) - stopped )) -ge 48 ]; then
    start_program
    copy_started=$(date +%s) copy_pid=${np_pids[-1]} idle_from=$copy_started
    echo "a new copy started $(( copy_started - stopped ))s after the last keystroke"
  fi
  # A mouse that only moves over the program, as a jiggler's does.
  xdotool mousemove --window "$np_window" $(( 100 + RANDOM % 200 )) $(( 100 + RANDOM % 100 ))
  labels --post-ticks 50 >/dev/null
  if [ -n "$copy_started" ] && ! kill -0 "$copy_pid" 2>/dev/null; then
    copy_ran=$(( $(date +%s) - copy_started ))
    [ "$copy_ran" -ge 55 ] || fail "the copy started after 48s idle was ended after ${copy_ran}s"
  fi
  # Notepad's question, a dialog box of its own named "Notepad".
  read -r x y w h question <<<"$(labels --dialog Notepad)"
  [[ "$x" =~ ^-?[0-9]+$ ]] || return 0
  if [ -n "$cancelled" ]; then
    [ -n "$asked_again" ] || asked_again=$(date +%s)
    return 0
  fi
  echo "notepad asked $(( $(date +%s) - stopped ))s after the last keystroke: $question"
  box=$(xdotool search --onlyvisible --name '^Notepad$' | head -1)
  [ -n "$box" ] && xdotool windowraise "$box"
  xdotool mousemove $(( x + w / 2 )) $(( y + h / 2 )) click 1
  cancelled=$(date +%s) idle_from=$cancelled
  for _ in $(seq 1 20); do
    [ "$(labels --dialog Notepad)" = "no dialog box" ] && break
    sleep 0.25
  done
  [ "$(labels --dialog Notepad)" = "no dialog box" ] || fail "a click on Cancel left notepad's question up"
  text=$(labels --text 'Untitled - Notepad')
  grep -qx '\(ab\)\{2,\}' <<<"$text" || fail "after Cancel, notepad's texts are: $text"
  kill -0 "$typed_pid" 2>/dev/null || fail "notepad was ended while its question was up"
}
e2e_idle_until_ended

[ -n "$copy_started" ] || fail "no copy was started"
echo "the new copy ran $(( $(date +%s) - copy_started ))s before it was ended"
[ -n "$cancelled" ] || fail "notepad never asked its question"
[ -n "$asked_again" ] || fail "notepad was not asked again after Cancel"
# Polling adds a few seconds to when the question was seen.
[ $(( $(date +%s) - asked_again )) -ge $(( grace - 5 )) ] ||
  fail "notepad was ended $(( $(date +%s) - asked_again ))s after it was asked again, within the grace period"
echo "after Cancel, asked again $(( asked_again - cancelled ))s later and left alone: ended" \
     "$(( $(date +%s) - asked_again ))s after that"
e2e_check_ended
e2e_finish
