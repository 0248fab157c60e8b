#!/usr/bin/env bash
# Vardex.exe asks before it ends (DISPLAY and WINEPREFIX come from tools/test;
# Tessik.dll is registered by the fixture). Three copies of the watched
# program are left idle past a 1-minute limit at once:
#  - one saves its text when asked to close and exits by itself: its exit
#    code is its own, never Vardex's;
#  - one ignores the request, and one is hung (its UI thread stopped pumping
#    long before): each is ended 30 s (and at most a tick and the polling)
#    after the request, not before (the saver's file tells when it came);
#  - while the end is pending, Vardex's window comes back from its icon
#    within a second, and its UI thread answers within a second at every
#    poll;
#  - then, one at a time, copies at work (see at_work below).
# The watched program is a copy of the helper under a name of its own: the
# helper's own runs that drive the test are then no copies of the program
# started from outside, which would start the count again, hold the end off
# or be ended themselves.
#   vardex_closing.sh WINE VARDEX HELPER
set -u
wine=$1 vardex=$2 helper=$3

work=$(mktemp -d)
target="$work/robust_target.exe"
declare -A pid=() waiter=() went=() code=()
names=(Saver Ignorer Hung)

. "$(dirname "$0")/../lib/common.sh"
cleanup() {
  local name
  vardex_stop
  for name in "${!pid[@]}"; do kill "${pid[$name]}" 2>/dev/null; wait "${pid[$name]}" 2>/dev/null; done
  for name in "${!waiter[@]}"; do kill "${waiter[$name]}" 2>/dev/null; wait "${waiter[$name]}" 2>/dev/null; done
  vardex_ini_restore
  rm -rf "$work"
}
trap cleanup EXIT
fail_details() { echo "--- Vardex's event labels"; helper labels; }

cp -f "$helper" "$target"
vardex_ini 1 "$(winepath -w "$target")"

save_file="$work/saved.txt"
# Started from this shell, whose children they stay.
start_target() {  # NAME ARGS...
  local name=$1
  shift
  "$wine" "$target" target --title "$name" "$@" </dev/null >"$work/$name.out" 2>&1 &
  pid[$name]=$!
}
start_target Saver --save-on-close "$(winepath -w "$save_file")"
start_target Ignorer
start_target Hung --hang-after 5000
for name in "${names[@]}"; do
  for _ in $(seq 1 40); do grep -q '^ready' "$work/$name.out" && break; sleep 0.25; done
  grep -q '^ready' "$work/$name.out" || fail "the target $name did not start"
  # Its exit code as the system keeps it: Wine's Unix status of a process
  # ended from outside says 0 now and then, whatever code it was ended with.
  helper exit-code "$(sed -n 's/^ready //p' "$work/$name.out" | tr -d '\r')" >"$work/$name.exit" &
  waiter[$name]=$!
done

vardex_start
started=$(date +%s)
helper wait-relay "$vx_win" | grep -qx relay || fail "Vardex did not start watching the targets"

# Opens Vardex's window from its icon, the only one in Wine's tray window,
# and prints how many milliseconds after the double click it showed.
window_back_ms() {
  local tray clicked
  tray=$(xdotool search --onlyvisible --name 'Wine System Tray' | head -1)
  [ -n "$tray" ] || { echo "no tray window"; return; }
  xdotool windowraise "$tray"
  xdotool mousemove --window "$tray" 10 10 click --repeat 2 --delay 100 1
  clicked=$(date +%s%N)
  while [ -z "$(xdotool search --onlyvisible --name 'Vardex by Pellow')" ]; do
    [ $(( $(date +%s%N) - clicked )) -lt 5000000000 ] || { echo "not within 5 s"; return; }
  done
  echo $(( ($(date +%s%N) - clicked) / 1000000 ))
}

# Poll until all three are gone: when each went, and whether Vardex answered
# at every poll while the end was pending.
answers=0 silent=0 back_ms=""
while [ $(( $(date +%s) - started )) -lt 140 ]; do
  now=$(date +%s)
  for name in "${names[@]}"; do
    [ -z "${went[$name]:-}" ] && ! kill -0 "${pid[$name]}" 2>/dev/null && went[$name]=$now
  done
  [ "${#went[@]}" -eq 3 ] && break
  if [ -n "${went[Saver]:-}" ]; then
    if [ "$(helper answers "$vx_win")" = answered ]; then answers=$((answers + 1)); else silent=$((silent + 1)); fi
    [ -z "$back_ms" ] && [ $(( now - went[Saver] )) -ge 5 ] && back_ms=$(window_back_ms)
  fi
  sleep 0.5
done
# Only what has gone is waited for.
for name in "${!went[@]}"; do
  wait "${pid[$name]}"
  unset "pid[$name]"
  wait "${waiter[$name]}"
  unset "waiter[$name]"
  code[$name]=$(sed -n 's/^exit //p' "$work/$name.exit")
done
[ -n "${went[Saver]:-}" ] || fail "the copy that saves on request still runs after 140 s"
grep -q '^saved' "$save_file" 2>/dev/null || fail "the saver wrote nothing"
# The saver wrote its file when it was asked.
asked=$(stat -c %Y "$save_file")
echo "the copies were asked $(( asked - started ))s after Vardex started"
for name in "${names[@]}"; do
  echo "$name went $(( ${went[$name]:-$(date +%s)} - asked ))s after the request" \
       "(exit code ${code[$name]:-none, still runs})"
done
echo "Vardex answered $answers times, silent $silent; its window came back ${back_ms} ms after the double click"
[ "${code[Saver]}" = 42 ] || fail "the saver's exit code is ${code[Saver]}: it did not close by itself"
[ $(( asked - started )) -ge 60 ] || fail "the copies were asked $(( asked - started ))s after Vardex started, within the limit"
for name in Ignorer Hung; do
  [ -n "${went[$name]:-}" ] || fail "the copy $name still runs"
  after=$(( went[$name] - asked ))
  [ "$after" -ge 30 ] || fail "the copy $name was ended ${after}s after the request, before the grace period was over"
  [ "$after" -le 34 ] || fail "the copy $name was ended only ${after}s after the request"
  [ "${code[$name]}" = 1 ] || fail "the copy $name exited with '${code[$name]}', not Vardex's end"
done
[ "$answers" -gt 10 ] && [ "$silent" -eq 0 ] || fail "Vardex's UI thread did not answer within a second while the end was pending"
[[ "$back_ms" =~ ^[0-9]+$ ]] && [ "$back_ms" -le 1000 ] ||
  fail "Vardex's window did not come back within a second while the end was pending: $back_ms"
kill -0 "$vardex_pid" 2>/dev/null || fail "Vardex ended"

# At work, one copy at a time, each with a 100 ms timer that uses 2 % of a
# core: one whose thread computes at one core for 100 s, and one whose solver
# (robust_solver.exe, a process of another name it starts) does. Neither is
# asked while it computes; each is asked within the limit, two ticks and a
# presence period after its work stops, and ended by the end of the grace
# period, the first although it computes while it saves.
cp -f "$helper" "$work/robust_solver.exe"
at_work() {  # NAME ARGS...
  local name=$1 began asked_at="" went_at=""
  shift
  start_target "$name" --timer-load 20 "$@"
  began=$(date +%s)
  for _ in $(seq 1 40); do grep -q '^ready' "$work/$name.out" && break; sleep 0.25; done
  grep -q '^ready' "$work/$name.out" || fail "the target $name did not start"
  while [ $(( $(date +%s) - began )) -lt 260 ] && [ -z "$went_at" ]; do
    [ -z "$asked_at" ] && grep -q '^asked' "$work/$name.out" && asked_at=$(date +%s)
    kill -0 "${pid[$name]}" 2>/dev/null || went_at=$(date +%s)
    sleep 0.5
  done
  [ -n "$asked_at" ] || fail "the copy $name was not asked to close within 260 s"
  [ -n "$went_at" ] || fail "the copy $name still runs 260 s after its start"
  wait "${pid[$name]}"
  unset "pid[$name]"
  echo "$name: asked $(( asked_at - began ))s after its start, ended $(( went_at - asked_at ))s after the request"
  [ $(( asked_at - began )) -ge 100 ] || fail "the copy $name was asked while it computed"
  [ $(( asked_at - began )) -le 190 ] || fail "the copy $name was asked only $(( asked_at - began ))s after its start"
  # Work after the request is saving, not use: it keeps nothing past the
  # grace period. A copy that agreed to close (answered the request and
  # returned from the end of the session) is done sooner, as at sign-out.
  [ $(( went_at - asked_at )) -le 34 ] || fail "the copy $name was kept past the grace period"
}
at_work Thread --compute 100000 --compute-on-close 60000
at_work Solver --solver 100000
kill -0 "$vardex_pid" 2>/dev/null || fail "Vardex ended"
echo "PASS: asked first; the saver closed by itself, the others were ended after the grace period; work held the end off"
