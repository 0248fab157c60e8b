#!/usr/bin/env bash
# Real keyboard and mouse input (xdotool, XTEST) into a watched program under
# Wine reaches a client of the component as KeyEvent and MouseEvent; input
# elsewhere does not; the property's sets move the hooks as they should; every
# window thread of a program and every copy of it is watched; keys typed
# while sets run are each relayed once.
#   relay_input_test.sh WINE BIN_DIR
# Needs DISPLAY (an X server running Wine) and the component registered.
set -u
wine=$1 bin=$2
. "$(dirname "$0")/../lib/sink_client.sh"

# Starts a fresh target with the given caption; sets target_pid and
# target_window (its X window).
start_target() {  # TITLE X Y [OPTION...]
  local title=$1 out="$work/$1.out" i
  "$wine" "$bin/tessik_target.exe" --title "$title" --at "$2" "$3" "${@:4}" >"$out" 2>/dev/null </dev/null &
  target_pid=$!
  pids+=("$target_pid")
  wait_count "$out" 'ready [0-9]+' 1 || fail "target $title did not start"
  for i in $(seq 1 50); do
    target_window=$(xdotool search --name "^$title\$" 2>/dev/null | head -1)
    [ -n "$target_window" ] && return 0
    sleep 0.1
  done
  fail "no X window for $title"
}

type_key() {  # WINDOW KEY
  click_into "$1"
  xdotool key "$2"
}

target_win=$(winepath -w "$bin/tessik_target.exe")
start_target TargetA 100 100
win_a=$target_window pid_a=$target_pid

start_sink sink

echo "== watching: keys and the mouse"
expect_answer "set $target_win" "set 0x00000000"
expect_answer "get" "get 0x00000000 $target_win"
type_key "$win_a" a
wait_count "$work/sink.out" 'KeyEvent 65 0' 1 || fail "no KeyEvent for A"
keys=$(tr -d '\r' <"$work/sink.out" | grep -E '^KeyEvent' | tr '\n' ';')
[ "$keys" = "KeyEvent 65 1;KeyEvent 65 0;" ] || fail "key events for A: $keys"
wait_count "$work/TargetA.out" 'key 65' 1 || fail "the target did not get its key"

eval "$(xdotool getwindowgeometry --shell "$win_a")"
mx=$((X + 40)) my=$((Y + 50))
# From elsewhere first: a move to where the pointer already is moves nothing.
moved=""
for attempt in 1 2 3; do
  xdotool mousemove $((mx - 20)) $((my - 20))
  sleep 0.2
  xdotool mousemove "$mx" "$my"
  wait_count "$work/sink.out" "MouseEvent 512 $mx $my" 1 && { moved=1; break; }
done
[ -n "$moved" ] || fail "no MouseEvent 512 at $mx $my"
xdotool click 1
wait_count "$work/sink.out" "MouseEvent 514 $mx $my" 1 || fail "no button-up event"
[ "$(count "$work/sink.out" "MouseEvent 513 $mx $my")" -ge 1 ] || fail "no button-down event"
wait_count "$work/TargetA.out" 'click' 1 || fail "the target did not get its click"

echo "== input into another program gives no events"
start_target OtherB 600 100
win_b=$target_window pid_b=$target_pid
type_key "$win_b" x
wait_count "$work/OtherB.out" 'key 88' 1 || fail "the other program did not get its key"
type_key "$win_a" b
wait_count "$work/sink.out" 'KeyEvent 66 0' 1 || fail "no KeyEvent for B"
[ "$(count "$work/sink.out" 'KeyEvent 88 .*')" -eq 0 ] || fail "input into another program was relayed"
kill "$pid_b"; wait "$pid_b" 2>/dev/null

echo "== a null string changes nothing"
expect_answer "set-null" "set 0x80070057"
type_key "$win_a" c
wait_count "$work/sink.out" 'KeyEvent 67 0' 1 || fail "hooks gone after a null set"

echo "== the empty string removes the hooks"
expect_answer "set-empty" "set 0x00000000"
expect_answer "get" "get 0x00000000 "
type_key "$win_a" d
wait_count "$work/TargetA.out" 'key 68' 1 || fail "the target did not get its key"
expect_answer "set $target_win" "set 0x00000000"
type_key "$win_a" e
wait_count "$work/sink.out" 'KeyEvent 69 0' 1 || fail "no events after watching again"
[ "$(count "$work/sink.out" 'KeyEvent 68 .*')" -eq 0 ] || fail "events while watching nothing"

echo "== a set while watching installs anew, once"
expect_answer "set $target_win" "set 0x00000000"
type_key "$win_a" f
wait_count "$work/sink.out" 'KeyEvent 70 0' 1 || fail "no events after a second set"
sleep 0.3
[ "$(count "$work/sink.out" 'KeyEvent 69 1')" -eq 1 ] || fail "KeyEvent 69 arrived more than once"
[ "$(count "$work/sink.out" 'KeyEvent 70 1')" -eq 1 ] || fail "KeyEvent 70 arrived more than once"

echo "== the watched program ends"
kill "$pid_a"; wait "$pid_a" 2>/dev/null
expect_answer "ping" "pong"
expect_answer "set $target_win" "set 0x80042710"
expect_answer "get" "get 0x00000000 "

echo "== a new copy is watched on its own thread"
start_target TargetC 100 500
win_c=$target_window
expect_answer "set $target_win" "set 0x00000000"
type_key "$win_c" g
wait_count "$work/sink.out" 'KeyEvent 71 0' 1 || fail "no events from the new copy"

echo "== a topmost palette on a thread of its own comes first: both threads are watched"
start_target Paletted 100 100 --palette
win_p=$target_window pid_p=$target_pid
palette_tid=$(tr -d '\r' <"$work/Paletted.out" | awk '/^palette [0-9]/ {print $2}')
first_tid=$(tr -d '\r' <"$work/Paletted.out" | awk '/^first/ {print $2}')
[ -n "$palette_tid" ] && [ "$first_tid" = "$palette_tid" ] || fail "the palette is not first in the window order"
win_palette=$(xdotool search --name '^Paletted Palette$' | head -1)
[ -n "$win_palette" ] || fail "no X window for the palette"
expect_answer "set $target_win" "set 0x00000000"
type_key "$win_p" i
wait_count "$work/Paletted.out" 'key 73' 1 || fail "the main window did not get its key"
wait_count "$work/sink.out" 'KeyEvent 73 0' 1 || fail "no KeyEvent from the window behind the palette"
type_key "$win_palette" j
wait_count "$work/Paletted.out" 'palette key 74' 1 || fail "the palette did not get its key"
wait_count "$work/sink.out" 'KeyEvent 74 0' 1 || fail "no KeyEvent from the palette"
# TargetC is a copy of the same program: watched too, each key once.
type_key "$win_c" k
wait_count "$work/sink.out" 'KeyEvent 75 0' 1 || fail "no KeyEvent from the other copy"
sleep 0.3
for key in 73 74 75; do
  [ "$(count "$work/sink.out" "KeyEvent $key 1")" -eq 1 ] || fail "KeyEvent $key arrived more than once"
done
kill "$pid_p"; wait "$pid_p" 2>/dev/null

echo "== two copies of notepad: keys from either"
notepad='C:\windows\system32\notepad.exe'
start_notepad "$wine" 20 20 || fail "the first notepad's window did not appear"
np1_window=$np_window
start_notepad "$wine" 560 20 || fail "the second notepad's window did not appear"
np2_window=$np_window
position() { xdotool getwindowgeometry "$1" | grep Position; }
[ "$(position "$np1_window")" != "$(position "$np2_window")" ] || fail "the notepads lie on top of each other"
expect_answer "set $notepad" "set 0x00000000"
for w in "$np2_window" "$np1_window" "$np2_window"; do
  n=$(count "$work/sink.out" 'KeyEvent 76 0')
  type_key "$w" l
  wait_count "$work/sink.out" 'KeyEvent 76 0' $((n + 1)) ||
    fail "no KeyEvent from notepad $w"
done

echo "== keys typed while sets run: each relayed once, none lost to a set"
# 200 keys at random intervals over about 3 minutes into the first notepad,
# while the path is set again every 300 ms (the presence check does it every
# 5 s): a set must keep the hooks and the relay window it finds in place.
expect_answer "every 300 $notepad" "set 0x00000000"
click_into "$np1_window"
downs=$(count "$work/sink.out" 'KeyEvent [0-9]+ 1')
ups=$(count "$work/sink.out" 'KeyEvent [0-9]+ 0')
letters=(a b c d e f g h i j k l m n o p q r s t u v w x y z)
for i in $(seq 0 199); do
  xdotool key "${letters[$((i % 26))]}"
  ms=$((100 + RANDOM % 1600))
  sleep "$((ms / 1000)).$(printf %03d $((ms % 1000)))"
done
wait_count "$work/sink.out" 'KeyEvent [0-9]+ 0' $((ups + 200)) 50 || true
sleep 1
expect_answer "every 0" "set 0x00000000"
got_downs=$(( $(count "$work/sink.out" 'KeyEvent [0-9]+ 1') - downs ))
got_ups=$(( $(count "$work/sink.out" 'KeyEvent [0-9]+ 0') - ups ))
[ "$got_downs" -eq 200 ] && [ "$got_ups" -eq 200 ] ||
  fail "200 keys typed during sets: $got_downs relayed down, $got_ups up"
[ "$(count "$work/sink.out" 'periodic set .*')" -eq 0 ] || fail "a periodic set failed"

echo "== the monitoring process goes; the watched program keeps its input"
# The sink quits without removing its hooks: the relay block goes with its
# last handle, and whatever hooks remain must find nothing to post to.
echo quit >&3
exec 3>&-
wait "$sink_pid" 2>/dev/null; sink_pid=""
type_key "$win_c" h
wait_count "$work/TargetC.out" 'key 72' 1 || fail "the watched program lost its input"

echo "relay input ok"
