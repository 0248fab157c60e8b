#!/usr/bin/env bash
# The offer to reopen (ReopenOfferMinutes = 1 under
# HKLM\SOFTWARE\Policies\Vardex, removed after): after the end a key into
# another window brings the offer (event 1011 on Wine's eventlog channel),
# and the tray menu's last item, "Reopen notepad.exe", starts notepad again
# (1012); once Vardex has ended that one too, notepad started by hand
# before the user comes back gets no offer; after the next end the offer
# comes and is gone a minute later (the menu's last item is "Restore"
# again).
#   reopen.sh WINE VARDEX READ_LABELS
E2E_POLICY_VALUE=ReopenOfferMinutes
. "$(dirname "$0")/../lib/e2e.sh" "$@"
e2e_start
e2e_type
e2e_idle_until_ended
e2e_check_ended

# The offer waits for the presence check (every 5 s) to find nothing running.
offer_within=$(( 5 + 5 ))
# Waits at most `2` seconds for `1` reports of event `3`.
wait_reported() {
  local from=$(date +%s)
  while [ "$(reported "$3")" -lt "$1" ] && [ $(( $(date +%s) - from )) -lt "$2" ]; do sleep 0.5; done
  [ "$(reported "$3")" -eq "$1" ]
}
# A click on the tray menu's last item: the menu is Vardex's only window
# shown, its last item at its bottom.
choose_last_item() {
  local tray menu="" X Y WIDTH HEIGHT
  tray=$(xdotool search --onlyvisible --name 'Wine System Tray' | head -1)
  xdotool windowraise "$tray"
  xdotool mousemove --window "$tray" 10 10 click 3
  for _ in $(seq 1 20); do
    menu=$(xdotool search --onlyvisible --classname '^vardex\.exe$' | tail -1)
    [ -n "$menu" ] && break
    sleep 0.25
  done
  [ -n "$menu" ] || fail "the tray's menu did not open"
  eval "$(xdotool getwindowgeometry --shell "$menu")"
  xdotool mousemove $(( X + WIDTH / 2 )) $(( Y + HEIGHT - 8 )) click 1
}
# The ends Vardex reported: closed by itself when asked (1004), or by force.
ends() { echo $(( $(reported 3ec) + $(reported 3ed) )); }
# Waits until Vardex has ended every notepad and reported it, at most the
# limit, the ticks and the grace period, and then two seconds more: a copy
# that closes when asked is gone before Vardex's next second takes it as
# ended, and a key before the input check's next look at the input may have
# come before the end, so it is not the user coming back (a later key is).
wait_ended() {
  local from=$(date +%s) before
  before=$(ends)
  while { [ -n "$(prefix_pids "$notepad_win")" ] || [ "$(ends)" -eq "$before" ]; } &&
    [ $(( $(date +%s) - from )) -lt $(( limit + 6 * tick + grace )) ]; do
    sleep 1
  done
  [ -z "$(prefix_pids "$notepad_win")" ] || fail "$1: notepad still runs $(( $(date +%s) - from ))s later"
  [ "$(ends)" -gt "$before" ] || fail "$1: notepad is gone, but Vardex reported no end"
  sleep 2
}
for _ in $(seq 1 20); do [ "$(ends)" -ge 1 ] && break; sleep 0.5; done
[ "$(ends)" -ge 1 ] || fail "notepad is gone, but Vardex reported no end"
sleep 3
[ "$(reported 3f3)" -eq 0 ] || fail "an offer to reopen came before the user did"
key_elsewhere
wait_reported 1 "$offer_within" 3f3 || fail "no offer to reopen (1011) after a key, $(reported 3f3) reports"
choose_last_item
wait_reported 1 10 3f4 || fail "choosing the tray's last item reopened nothing (1012)"
# Each insert on a line of its own after the call's: the user, the path,
# the minutes, and how (Wine implements no restart command line).
grep -A4 'ReportEventW.*,0x0*3f4,' "$events_log" | grep -qF '"path"' || fail "the reopen did not start the path alone"
[ -n "$(prefix_pids "$notepad_win")" ] || fail "no notepad runs after the reopen"
echo "offered at the user's key; the tray's \"Reopen notepad.exe\" started notepad again"

wait_ended "the reopened notepad"
np_pids=() np_windows=()
start_program
sleep $(( tick + 2 ))
key_elsewhere
sleep "$offer_within"
[ "$(reported 3f3)" -eq 1 ] || fail "an offer came though notepad was started by hand"
echo "no offer after notepad was started by hand"

wait_ended "notepad started by hand"
key_elsewhere
wait_reported 2 "$offer_within" 3f3 || fail "no offer after the third end"
offered=$(date +%s)
sleep $(( 60 + 2 - ($(date +%s) - offered) ))
[ -z "$(xdotool search --onlyvisible --name 'Vardex by Pellow')" ] ||
  fail "Vardex's window shows before the menu's last item is chosen"
choose_last_item
timeout 20 xdotool search --sync --onlyvisible --name 'Vardex by Pellow' >/dev/null 2>&1 ||
  fail "a minute after the offer the menu's last item is not \"Restore\""
[ "$(reported 3f4)" -eq 1 ] && [ -z "$(prefix_pids "$notepad_win")" ] || fail "the expired offer reopened notepad"
grep -A4 'ReportEventW.*,0x0*3f[34],' "$events_log" | cut -c1-200
echo "PASS: offered when the user came back, reopened from the tray, none after a start by hand, gone a minute later"
