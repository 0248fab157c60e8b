#!/usr/bin/env bash
# Vardex.exe under load and frozen, with Tessik.dll registered (DISPLAY and
# WINEPREFIX come from tools/test):
#  1. 10 000 relayed key and mouse events in a burst reach its handlers (the
#     hidden event labels end on the burst's last events) and it still
#     answers a window message afterwards;
#  2. while every thread of Vardex is suspended, keys typed into the watched
#     program still reach it (its text appears), and the relayed events are
#     handled once Vardex runs again.
#   vardex_under_load.sh WINE VARDEX HELPER
set -u
wine=$1 vardex=$2 helper=$3

work=$(mktemp -d)
target_pid="" suspended=""

. "$(dirname "$0")/../lib/common.sh"
cleanup() {
  # A suspended Vardex would not end: let it run before ending it.
  [ -n "$suspended" ] && helper resume "$vx_win" >/dev/null
  vardex_stop
  [ -n "$target_pid" ] && { kill "$target_pid" 2>/dev/null; wait "$target_pid" 2>/dev/null; }
  vardex_ini_restore
  rm -rf "$work"
}
trap cleanup EXIT

fail_details() { echo "--- labels"; labels; }
labels() { helper labels; }
# Waits (at most SECONDS) until the helper command's output holds LINE.
wait_for() {  # SECONDS LINE COMMAND...
  local seconds=$1 line=$2 i
  shift 2
  for i in $(seq 1 $((seconds * 4))); do
    helper "$@" | grep -qxF "$line" && return 0
    sleep 0.25
  done
  return 1
}

# A long limit, so that nothing is ended during the test; the helper's target
# program is the one watched.
vardex_ini 30 "$(winepath -w "$helper")"
vardex_start
# Started after Vardex: under Wine without a window manager, a window made
# before another program's window may not get the keyboard focus back.
"$wine" "$helper" target --title LoadTarget </dev/null >"$work/target.out" 2>&1 &
target_pid=$!
for _ in $(seq 1 40); do grep -q '^ready' "$work/target.out" && break; sleep 0.25; done
target_win=$(tr -d '\r' <"$work/target.out" | sed -n 's/^ready //p')
[ -n "$target_win" ] || fail "the target did not start"
target_x=$(timeout 20 xdotool search --sync --name '^LoadTarget$' | head -1)
[ -n "$target_x" ] || fail "no X window for the target"

# The first presence check hooks the target.
helper wait-relay "$vx_win" | grep -qx relay || fail "Vardex did not start watching the target"

echo "== a burst of 10 000 relayed events"
# A presence check replaces the relay window; a burst that met one is sent again.
stormed=""
for attempt in 1 2 3; do
  "$wine" "$helper" storm "$vx_win" 10000 </dev/null >"$work/storm.out" 2>/dev/null
  rc=$?
  tr -d '\r' <"$work/storm.out"
  [ "$rc" -eq 0 ] && { stormed=1; break; }
  [ "$rc" -eq 4 ] && fail "Vardex did not answer after the burst"
  sleep 1
done
[ -n "$stormed" ] || fail "the burst could not be posted"
# Its answer may come before the queued events are handled: wait for the last ones.
wait_for 20 'lblMouseEvent=Mouse Event 513 at 9999 55536' labels || fail "the burst's last mouse event was not shown"
got=$(labels)
for line in 'lblhKeyPressed=Key Code: 9998 Pressed' 'lblKeyReleased=Key Code: 9996 Released' \
            'lblCourrentMouse=513'; do
  grep -qxF "$line" <<<"$got" || fail "after the burst, expected $line"
done
kill -0 "$vardex_pid" 2>/dev/null || fail "Vardex ended during the burst"

echo "== keys typed while Vardex is frozen"
type_into_target() {
  xdotool windowraise "$target_x"
  xdotool windowfocus --sync "$target_x" 2>/dev/null || xdotool windowfocus "$target_x"
  # A click inside makes it Wine's active window as well.
  xdotool mousemove --window "$target_x" 200 120 click 1
  sleep 0.2
  xdotool type --delay 50 "$1"
}
type_into_target a
wait_for 10 'a' text "$target_win" || fail "the target did not take its first key"
wait_for 10 'lblKeyReleased=Key Code: 65 Released' labels || fail "no relayed event for the first key"

suspended=1
helper suspend "$vx_win" | grep -q '^suspended' || fail "could not suspend Vardex"
[ "$(helper answers "$vx_win")" = silent ] || fail "Vardex still answers while suspended"
type_into_target xyz
wait_for 10 'axyz' text "$target_win" || fail "the watched program waited for the frozen Vardex (text: $(helper text "$target_win"))"
helper resume "$vx_win" | grep -q '^resumed' || fail "could not resume Vardex"
suspended=""
[ "$(helper answers "$vx_win")" = answered ] || fail "Vardex does not answer after it was resumed"
wait_for 20 'lblKeyReleased=Key Code: 90 Released' labels || fail "the keys typed while frozen were not handled"
grep -qxF 'lblhKeyPressed=Key Code: 90 Pressed' <<<"$(labels)" || fail "the last key's press was not handled"
kill -0 "$vardex_pid" 2>/dev/null || fail "Vardex ended"
echo "Vardex $vx_win: burst handled, input kept flowing while it was frozen"
