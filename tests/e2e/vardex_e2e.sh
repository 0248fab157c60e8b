#!/usr/bin/env bash
# Vardex end to end under Wine (DISPLAY and WINEPREFIX come from tools/test;
# Tessik.dll is registered by the fixture). Settings: limit 1 minute,
# notepad's full path, no password. Keystrokes typed into notepad keep it
# alive well past the limit; once they stop, notepad is ended within the
# limit plus two idle ticks. The readouts are read from outside all along.
#   E2E_COPIES          how many notepads run (default 1); the keystrokes go
#                       into the last one started only, and every copy must
#                       live through them and be ended after them
#   E2E_AFTER_END       when set, after the end: notepad started again runs at
#                       least the limit before it is ended, and then a path
#                       half typed into Vardex's window, which matches
#                       another program (WordPad), does not end that program
#                       while it stands for 20 s
#   E2E_SETTINGS_TOOL   VardexSettings.exe: it writes the settings (else the
#                       test does), and must name the file Vardex reads
# In a 64-bit prefix (tests/wow64):
#   E2E_NOTEPAD         the notepad to watch, as Vardex sees its path
#   E2E_NOTEPAD_LOADER  the Wine loader that starts it (wine64 for a 64-bit one)
#   E2E_SYSDIR          Vardex's system directory, where vardex.ini goes
#   E2E_HELPERS         how many 64-bit helpers run while notepad is watched
#                       (1 or 0); at the end Vardex is killed and no helper
#                       may remain
#   E2E_GIVEN_LOCKED    1: vardex.ini is already there (written by the package,
#                       with a password; limit and path as above); Vardex must
#                       show its settings locked
set -u
wine=$1 vardex=$2 read_labels=$3

limit=60          # seconds: the settings file's 1 minute
tick=10           # the idle timer's period
typing_for=90     # half as long again as the limit
notepad_win=${E2E_NOTEPAD:-'C:\windows\system32\notepad.exe'}
notepad_loader=${E2E_NOTEPAD_LOADER:-$wine}
copies=${E2E_COPIES:-1}
# Under the half-typed path; the loader that starts notepad starts it, so it
# is the 64-bit WordPad in a 64-bit prefix.
other_win='C:\Program Files\Windows NT\Accessories\wordpad.exe'
half_path='C:\Program Files'

sysdir=$(winepath -u "${E2E_SYSDIR:-C:\windows\system32}" 2>/dev/null)
ini="$sysdir/vardex.ini"
. "$(dirname "$0")/../lib/common.sh"
[ -f "$sysdir/notepad.exe" ] || fail "no notepad.exe in $sysdir"

np_pids=() np_windows=() other_pid="" vx_pid="" saved=""
cleanup() {
  [ -n "$vx_pid" ] && kill "$vx_pid" 2>/dev/null
  local p
  for p in "${np_pids[@]}" $other_pid; do kill "$p" 2>/dev/null; done
  wait 2>/dev/null
  if [ -n "$saved" ]; then mv -f "$saved" "$ini"; else rm -f "$ini"; fi
}
trap cleanup EXIT
if [ -f "$ini" ]; then saved="$ini.e2e-saved"; cp -f "$ini" "$saved"; fi
if [ -n "${E2E_GIVEN_LOCKED:-}" ]; then
  :
elif [ -n "${E2E_SETTINGS_TOOL:-}" ]; then
  # The administrators' tool writes them, and names the file Vardex reads.
  written=$("$wine" "$E2E_SETTINGS_TOOL" set 1 "$notepad_win" --no-lock </dev/null 2>&1 | tr -d '\r')
  [ "${written,,}" = "written: $(winepath -w "$ini" 2>/dev/null | tr '[:upper:]' '[:lower:]')" ] ||
    fail "VardexSettings set said '$written'; Vardex reads $ini"
else
  printf '1\r\n%s\r\nunset entry\r\n' "$notepad_win" >"$ini"
fi

labels() { "$wine" "$read_labels" "$@" </dev/null 2>/dev/null | tr -d '\r'; }
# Every copy of notepad runs; any runs.
notepads_running() { local p; for p in "${np_pids[@]}"; do kill -0 "$p" 2>/dev/null || return 1; done; }
a_notepad_running() { local p; for p in "${np_pids[@]}"; do kill -0 "$p" 2>/dev/null && return 0; done; return 1; }

# Starts a notepad and waits for its window, the one not seen before.
start_notepad() {
  "$notepad_loader" "$notepad_win" </dev/null >/dev/null 2>&1 &
  np_pids+=($!)
  local w k known
  for _ in $(seq 1 60); do
    for w in $(xdotool search --onlyvisible --name 'Notepad' 2>/dev/null); do
      known=""
      for k in "${np_windows[@]}"; do [ "$k" = "$w" ] && known=1; done
      [ -z "$known" ] && { np_windows+=("$w"); return 0; }
    done
    sleep 0.5
  done
  fail "notepad's window did not appear"
}
for _ in $(seq 1 "$copies"); do start_notepad; done
np_window=${np_windows[-1]}

"$wine" "$vardex" </dev/null >/dev/null 2>&1 &
vx_pid=$!
for _ in $(seq 1 60); do
  labels >/dev/null && break
  kill -0 "$vx_pid" 2>/dev/null || fail "Vardex exited at start-up"
  sleep 0.5
done
labels >/dev/null || fail "Vardex's window did not appear"
if [ -n "${E2E_GIVEN_LOCKED:-}" ]; then
  for _ in $(seq 1 10); do
    lock=$("$wine" "$read_labels" --lock </dev/null 2>/dev/null | tr -d '\r')
    [ "$lock" = locked ] && break
    sleep 0.5
  done
  kill -0 "$vx_pid" 2>/dev/null || fail "Vardex exited after start-up (its settings read '$lock')"
  [ "$lock" = locked ] || fail "with a password in vardex.ini Vardex's settings are $lock"
  echo "Vardex's settings are locked"
fi
# Vardex hides its window at once and its icon shows up in Wine's tray
# window. Wine without a window manager then hands the activation to no
# other program: a click into notepad gives it back, as the user's would.
# The click is long forgotten by the end of the typing.
for _ in $(seq 1 40); do
  [ -z "$(xdotool search --onlyvisible --name 'Vardex by Pellow')" ] &&
    [ -n "$(xdotool search --onlyvisible --name 'Wine System Tray')" ] && break
  sleep 0.25
done
sleep 1
xdotool mousemove --window "$np_window" 300 300 click 1
echo "Vardex runs; typing into notepad ($copies running, the last one typed into) for ${typing_for}s"

# While typing: after the first presence check has hooked notepad, every
# tick sees activity, so the count never passes one tick's worth.
start=$(date +%s)
max_typing=0 readings="" keys=""
while [ $(( $(date +%s) - start )) -lt "$typing_for" ]; do
  xdotool windowfocus --sync "$np_window" 2>/dev/null
  xdotool type --delay 40 'ab'
  sleep 3
  read -r elapsed ratio key <<<"$(labels)"
  readings+=" $elapsed"
  keys=$key
  if [ $(( $(date +%s) - start )) -gt $(( 2 * tick )) ] && [ "${elapsed:-0}" -gt "$max_typing" ]; then
    max_typing=$elapsed
  fi
  notepads_running || fail "a notepad was ended while the user typed into one (readings:$readings)"
done
echo "while typing, LblElapsedTime read:$readings"
# The helpers started from Vardex's folder in this prefix: other prefixes on
# the machine may run a helper of the same path at the same time.
helpers() {
  local pid n=0 exe
  exe="$(winepath -w "$(dirname "$vardex")")\TessikHost64.exe"
  for pid in $(pgrep -f -- 'TessikHost64\.exe'); do
    if [ -n "${WINEPREFIX:-}" ] &&
      ! tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX"; then
      continue
    fi
    tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -qF -- "$exe" && n=$((n + 1))
  done
  echo "$n"
}
if [ -n "${E2E_HELPERS:-}" ]; then
  [ "$(helpers)" -eq "$E2E_HELPERS" ] || fail "$(helpers) helpers run, expected $E2E_HELPERS"
fi
[ "$max_typing" -le $(( 2 * tick )) ] || fail "the idle count reached $max_typing while typing"
# The keystrokes themselves came through the hooks: "a" is 65, "b" 66.
case "$keys" in
  "Key Code: 65 Pressed" | "Key Code: 66 Pressed") echo "lblhKeyPressed: $keys" ;;
  *) fail "lblhKeyPressed shows '$keys', not a typed key" ;;
esac

# Typing stops: the count grows past the limit and notepad is ended.
stopped=$(date +%s)
readings="" ratios="" max_idle=0
while a_notepad_running && [ $(( $(date +%s) - stopped )) -lt $(( limit + 6 * tick )) ]; do
  sleep 2
  read -r elapsed ratio _ <<<"$(labels)"
  readings+=" $elapsed" ratios+=" $ratio"
  [ "${elapsed:-0}" -gt "$max_idle" ] && max_idle=$elapsed
done
ended_after=$(( $(date +%s) - stopped ))
read -r elapsed ratio _ <<<"$(labels)"
echo "after typing, LblElapsedTime read:$readings, then $elapsed"
echo "after typing, lblCompletionRatio read:$ratios"
a_notepad_running && fail "a notepad still runs ${ended_after}s after the typing stopped"
# Polling adds up to a few seconds to the limit plus two ticks.
[ "$ended_after" -le $(( limit + 2 * tick + 5 )) ] || fail "notepad was ended only after ${ended_after}s"
[ "${elapsed:-0}" -gt "$limit" ] || fail "LblElapsedTime shows ${elapsed:-nothing}, not past the limit"
[ "$max_idle" -gt $(( 2 * tick )) ] || fail "the idle count never grew after the typing stopped"
kill -0 "$vx_pid" 2>/dev/null || fail "Vardex did not keep running"

if [ -n "${E2E_AFTER_END:-}" ]; then
  # The count that ended notepad stays above the limit. Started again,
  # notepad is a new run with a count of its own: it gets the whole limit.
  [ -f "$(winepath -u "$other_win" 2>/dev/null)" ] || fail "no $other_win"
  np_pids=() np_windows=()
  start_notepad
  restarted=$(date +%s)
  "$notepad_loader" "$other_win" </dev/null >/dev/null 2>&1 &
  other_pid=$!
  while a_notepad_running && [ $(( $(date +%s) - restarted )) -lt $(( limit + 4 * tick )) ]; do sleep 1; done
  ran=$(( $(date +%s) - restarted ))
  a_notepad_running && fail "notepad started again still runs after ${ran}s"
  [ "$ran" -ge "$limit" ] || fail "notepad started again was ended after ${ran}s, within the limit"
  echo "notepad started again ran ${ran}s before it was ended"

  # The user opens Vardex from its icon (a double click in Wine's tray
  # window, where it is the only icon; raised first, since without a window
  # manager WordPad's window opens over it) and begins to type another path.
  kill -0 "$other_pid" 2>/dev/null || fail "$other_win did not start"
  tray=$(xdotool search --onlyvisible --name 'Wine System Tray' | head -1)
  [ -n "$tray" ] || fail "no Wine System Tray window"
  xdotool windowraise "$tray"
  xdotool mousemove --window "$tray" 10 10 click --repeat 2 --delay 100 1
  timeout 20 xdotool search --sync --onlyvisible --name 'Vardex by Pellow' >/dev/null 2>&1 ||
    fail "Vardex's window did not come back"
  read -r x y w h _ <<<"$(labels --control txtApplicationName)"
  [ -n "${h:-}" ] || fail "no path box in Vardex's window"
  xdotool mousemove $(( x + w / 2 )) $(( y + h / 2 )) click 1
  xdotool key Home shift+End
  xdotool type --delay 60 "$half_path"
  read -r _ _ _ _ path <<<"$(labels --control txtApplicationName)"
  [ "$path" = "$half_path" ] || fail "the path box holds '$path', not '$half_path'"
  typed=$(date +%s)
  while [ $(( $(date +%s) - typed )) -lt 20 ]; do
    kill -0 "$other_pid" 2>/dev/null || fail "$other_win was ended $(( $(date +%s) - typed ))s after '$half_path' was typed"
    sleep 1
  done
  # The presence check found it under the half path: the idle timer, off
  # since the end, runs again, and counts from 0.
  read -r elapsed _ <<<"$(labels)"
  [ "${elapsed:-0}" -ge "$tick" ] && [ "$elapsed" -le $(( 2 * tick )) ] ||
    fail "LblElapsedTime shows ${elapsed:-nothing} 20s after '$half_path' was typed"
  echo "'$half_path' stood 20s in the path box, counted to $elapsed; $other_win still runs"
fi
if [ -n "${E2E_HELPERS:-}" ]; then
  kill -9 "$vx_pid"; wait "$vx_pid" 2>/dev/null; vx_pid=""
  # The helper notices its client's death through the wineserver, which can
  # take seconds on a loaded machine: give it 30 s, then name what still runs.
  killed=$(date +%s)
  while [ "$(helpers)" -ne 0 ] && [ $(( $(date +%s) - killed )) -lt 30 ]; do sleep 0.5; done
  [ "$(helpers)" -eq 0 ] || fail "a helper outlived the killed Vardex: $(ps -eo pid=,args= | grep -F TessikHost64 | grep -v grep)"
fi
echo "PASS: notepad ended ${ended_after}s after the last keystroke"
