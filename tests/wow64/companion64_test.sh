#!/usr/bin/env bash
# The 64-bit companion under Wine in a 64-bit prefix (run through
# in_prefix64.sh; Tessik.dll registered there by the fixture). A 32-bit
# client of the component watches Wine's 64-bit notepad:
#   - real keys and clicks in notepad arrive as KeyEvent and MouseEvent;
#   - with two copies running, keys typed into either arrive, each once;
#   - one helper process serves every set, and 2000 sets with both copies
#     leak no handle, no process and no memory of the helper;
#   - another process's requests to the helper (to unhook, to end, its
#     window's end sent from outside) are refused, and the client is served
#     as before;
#   - a 32-bit program with a hidden helper window first in the window order
#     is hooked on its visible window's thread;
#   - when the client is killed, the helper unhooks and ends: keys typed into
#     notepad afterwards reach no later client, until that client watches
#     notepad itself, and then each key once;
#   - unloading Tessik.dll lets the helper go, while the client runs on;
#   - a Tessik.dll without its companion beside it watches nothing: the set
#     finds the program but the path reads back empty;
#   - a helper that never comes up is ended, and no other is started
#     during the back-off; the ready event it got is inherited and unset;
#   - a helper whose answers name other requests is ended after three, and
#     the next set starts another.
#   companion64_test.sh WINE BIN_DIR
set -u
wine=$1 bin=$2
wine64=/usr/lib/wine/wine64
notepad='C:\windows\system32\notepad.exe'
. "$(dirname "$0")/../lib/sink_client.sh"
# This build's helpers only: other builds on the machine may run theirs.
host_win="$(winepath -w "$bin")\\TessikHost64.exe"
helpers() { ps -eo pid=,args= | grep -F -- "$host_win" | grep -v grep | awk '{print $1}' | tr '\n' ' '; }

# A start of the helper may still be pending after one set (a set waits
# about a second for it): sets until the path reads back.
watch() {  # PATH
  local i
  for i in $(seq 1 20); do
    expect_answer "set $1" "set 0x00000000"
    [ "$(command get)" = "get 0x00000000 $1" ] && return 0
    sleep 0.5
  done
  fail "$1 is not watched after 20 sets"
}

[ -z "$(helpers)" ] || fail "a helper runs before the test: $(helpers)"
start_notepad "$wine64" 20 20 || fail "64-bit notepad's window did not appear"

echo "== a 64-bit program: keys and clicks through the companion"
start_sink first
watch "$notepad"
[ "$(helpers | wc -w)" -eq 1 ] || fail "expected one helper, found: $(helpers)"
click_into "$np_window"
xdotool key a b
wait_count "$sink_out" 'KeyEvent 66 0' 1 || fail "no KeyEvent for B"
keys=$(tr -d '\r' <"$sink_out" | grep -E '^KeyEvent' | tr '\n' ';')
[ "$keys" = "KeyEvent 65 1;KeyEvent 65 0;KeyEvent 66 1;KeyEvent 66 0;" ] || fail "key events: $keys"
eval "$(xdotool getwindowgeometry --shell "$np_window")"
mx=$((X + 60)) my=$((Y + 80))
xdotool mousemove "$mx" "$my" click 1
wait_count "$sink_out" "MouseEvent 514 $mx $my" 1 || fail "no MouseEvent 514 at $mx $my"
[ "$(count "$sink_out" "MouseEvent 513 $mx $my")" -ge 1 ] || fail "no MouseEvent 513 at $mx $my"

echo "== two 64-bit copies: keys from either, through one request to the one helper"
np1_window=$np_window
start_notepad "$wine64" 560 20 || fail "the second 64-bit notepad's window did not appear"
np2_window=$np_window
expect_answer "set $notepad" "set 0x00000000"
[ "$(helpers | wc -w)" -eq 1 ] || fail "expected one helper, found: $(helpers)"
for w in "$np2_window" "$np1_window"; do
  n=$(count "$sink_out" 'KeyEvent 75 0')
  click_into "$w"
  xdotool key k
  wait_count "$sink_out" 'KeyEvent 75 0' $((n + 1)) || fail "no KeyEvent from notepad $w"
done
np_window=$np1_window

echo "== 2000 sets with both copies: one helper, no handle, process or memory growth"
helper=$(helpers | awk '{print $1}')
rss() { awk '/^VmRSS/ {print $2}' "/proc/$1/status"; }
# A few first: what is made once (caches, the first view) is not a leak.
command "sets 20 $notepad" 600 >/dev/null
rss_before=$(rss "$helper")
got=$(command "sets 2000 $notepad" 3000)
echo "$got; helper VmRSS ${rss_before} kB -> $(rss "$helper") kB"
read -r _ failed _ _ before after <<<"${got//,/}"
[ "$failed" = 0 ] || fail "sets failed: $got"
[ "$before" -gt 0 ] || fail "no handle count: $got"
[ "$after" -le $((before + 2)) ] || fail "the client's handles grew: $got"
[ "$(helpers)" = "$helper " ] || fail "helpers after 2000 sets: $(helpers), expected $helper"
[ "$(rss "$helper")" -le $((rss_before + 512)) ] || fail "the helper's memory grew"
click_into "$np1_window"
xdotool key c
click_into "$np2_window"
xdotool key m
wait_count "$sink_out" 'KeyEvent 77 0' 1 || fail "no KeyEvent from the second copy after 2000 sets"
wait_count "$sink_out" 'KeyEvent 67 0' 1 || fail "no KeyEvent after 2000 sets"
[ "$(count "$sink_out" 'KeyEvent 67 1')" -eq 1 ] || fail "KeyEvent 67 arrived more than once"
[ "$(count "$sink_out" 'KeyEvent 77 1')" -eq 1 ] || fail "KeyEvent 77 arrived more than once"

echo "== a stranger's requests are refused; the client is served as before"
# Another process of the session asks the helper, by every window message it
# could take, to drop its hooks and to end: nothing happens.
"$wine" "$bin/robust_helper.exe" stranger </dev/null >"$work/stranger.out" 2>&1
[ "$(count "$work/stranger.out" 'stranger 1')" -eq 1 ] || fail "the stranger did not find the one helper"
sleep 0.5
[ "$(helpers)" = "$helper " ] || fail "helpers after a stranger's requests: $(helpers), expected $helper"
for w in "$np1_window" "$np2_window"; do
  n=$(count "$sink_out" 'KeyEvent 78 0')
  click_into "$w"
  xdotool key n
  wait_count "$sink_out" 'KeyEvent 78 0' $((n + 1)) || fail "no KeyEvent from notepad $w after a stranger's requests"
done
expect_answer "set $notepad" "set 0x00000000"
click_into "$np1_window"
xdotool key p
wait_count "$sink_out" 'KeyEvent 80 0' 1 || fail "no KeyEvent after the client's next set"
sleep 0.3
[ "$(count "$sink_out" 'KeyEvent 78 1')" -eq 2 ] || fail "KeyEvent 78 arrived other than once from each copy"
[ "$(count "$sink_out" 'KeyEvent 80 1')" -eq 1 ] || fail "KeyEvent 80 arrived more than once"

echo "== a 32-bit program with a hidden helper window first: its visible window's thread"
target_win=$(winepath -w "$bin/tessik_target.exe")
"$wine" "$bin/tessik_target.exe" --title Helped --at 500 100 --helper-window >"$work/target.out" 2>/dev/null </dev/null &
pids+=("$!")
wait_count "$work/target.out" 'ready [0-9]+' 1 || fail "the target did not start"
helper_tid=$(tr -d '\r' <"$work/target.out" | awk '/^helper/ {print $2}')
first_tid=$(tr -d '\r' <"$work/target.out" | awk '/^first/ {print $2}')
[ "$first_tid" = "$helper_tid" ] || fail "the hidden window is not first in the window order"
expect_answer "set $target_win" "set 0x00000000"
[ -z "$(helpers)" ] || [ "$(helpers)" = "$helper " ] || fail "a second helper: $(helpers)"
target_window=$(xdotool search --name '^Helped$' | head -1)
click_into "$target_window"
xdotool key d
wait_count "$work/target.out" 'key 68' 1 || fail "the target did not get its key"
wait_count "$sink_out" 'KeyEvent 68 0' 1 || fail "no KeyEvent from the visible window's thread"

echo "== the client is killed: the helper unhooks and ends"
expect_answer "set $notepad" "set 0x00000000"
kill -9 "$sink_pid"; wait "$sink_pid" 2>/dev/null; sink_pid=""
exec 3>&-
for _ in $(seq 1 50); do [ -z "$(helpers)" ] && break; sleep 0.1; done
[ -z "$(helpers)" ] || fail "the helper outlived its client: $(helpers)"
# A new client makes the relay block name its window: a hook left in
# notepad would post there.
start_sink second
expect_answer "set $target_win" "set 0x00000000"
click_into "$np_window"
xdotool key e
click_into "$target_window"
xdotool key f
wait_count "$sink_out" 'KeyEvent 70 0' 1 || fail "no KeyEvent from the 32-bit target"
[ "$(count "$sink_out" 'KeyEvent 69 .*')" -eq 0 ] || fail "notepad's key was relayed after its client was killed"
# Notepad may still hold its view of the first client's relay block.
watch "$notepad"
click_into "$np_window"
xdotool key g
wait_count "$sink_out" 'KeyEvent 71 0' 1 || fail "no KeyEvent from notepad for a new client"
sleep 0.3
[ "$(count "$sink_out" 'KeyEvent 71 1')" -eq 1 ] || fail "KeyEvent 71 arrived more than once"
echo "== unloading Tessik.dll lets the helper go"
[ -n "$(helpers)" ] || fail "no helper before the unload"
echo unload >&3
wait_count "$sink_out" 'unloaded yes' 1 || fail "Tessik.dll did not unload"
for _ in $(seq 1 50); do [ -z "$(helpers)" ] && break; sleep 0.1; done
[ -z "$(helpers)" ] || fail "a helper outlived the unload: $(helpers)"
kill -0 "$sink_pid" 2>/dev/null || fail "the client ended with the unload"
exec 3>&-
wait "$sink_pid" 2>/dev/null; sink_pid=""

echo "== without the companion's files, the 64-bit program is not watched"
mkdir "$work/alone"
cp "$bin/Tessik.dll" "$work/alone/"
reregister() { "$wine" regsvr32 /s "$(winepath -w "$1")" </dev/null; }
reregister "$work/alone/Tessik.dll" || fail "cannot register the lone Tessik.dll"
trap 'reregister "$bin/Tessik.dll"; cleanup' EXIT
start_sink alone
expect_answer "set $notepad" "set 0x00000000"
expect_answer "get" "get 0x00000000 "

echo "== a helper that never comes up is ended; none is started during the back-off"
kill "$sink_pid"; wait "$sink_pid" 2>/dev/null; sink_pid=""
exec 3>&-
cp "$bin/robust_helper.exe" "$work/alone/TessikHost64.exe"
silent_win="$(winepath -w "$work/alone")\\TessikHost64.exe"
silent() { ps -eo pid=,args= | grep -F -- "$silent_win" | grep -v grep | awk '{print $1}' | tr '\n' ' '; }
starts="$work/alone/starts.txt"
start_sink silent
expect_answer "set $notepad" "set 0x00000000"
expect_answer "get" "get 0x00000000 "
wait_count "$starts" 'started.*' 1 || fail "the helper was not started"
[ "$(count "$starts" 'started, ready event unset')" -eq 1 ] || fail "the helper's ready event: $(cat "$starts")"
[ "$(silent | wc -w)" -eq 1 ] || fail "expected the silent helper running, found: $(silent)"
# Past the start's deadline (10 s) the next set gives it up.
sleep 10.5
expect_answer "set $notepad" "set 0x00000000"
for _ in $(seq 1 50); do [ -z "$(silent)" ] && break; sleep 0.1; done
[ -z "$(silent)" ] || fail "the helper that never came up was left running: $(silent)"
expect_answer "set $notepad" "set 0x00000000"
expect_answer "get" "get 0x00000000 "
sleep 1
[ -z "$(silent)" ] && [ "$(count "$starts" 'started.*')" -eq 1 ] || fail "a helper started during the back-off"
echo "== a helper that answers for other requests is ended after three; the next set starts another"
kill "$sink_pid"; wait "$sink_pid" 2>/dev/null; sink_pid=""
exec 3>&-
for _ in $(seq 1 50); do [ -z "$(silent)" ] && break; sleep 0.1; done
: >"$starts"
touch "$work/alone/mismatch"
start_sink mismatching
for _ in $(seq 1 10); do
  expect_answer "set $notepad" "set 0x00000000"
  [ "$(count "$starts" 'started, answering wrongly')" -ge 2 ] && break
done
[ "$(count "$starts" 'started, answering wrongly')" -ge 2 ] || fail "no new helper after wrong answers: $(cat "$starts")"
for _ in $(seq 1 50); do [ "$(silent | wc -w)" -le 1 ] && break; sleep 0.1; done
[ "$(silent | wc -w)" -eq 1 ] || fail "the helper given up still runs beside the new one: $(silent)"
expect_answer "get" "get 0x00000000 "
echo "companion64 ok"
