#!/usr/bin/env bash
# Vardex end to end under Wine (DISPLAY and WINEPREFIX come from tools/test;
# Tessik.dll is registered by the fixture). Settings: limit 1 minute,
# notepad's full path, no password. Keystrokes typed into notepad keep it
# alive well past the limit; once they stop, notepad is asked to close, holds
# on to its unsaved text ("Save changes?") and is ended within the limit plus
# two idle ticks and the grace period. The readouts are read from outside all
# along.
#   E2E_COPIES          how many notepads run (default 1); the keystrokes go
#                       into the last one started only, and every copy must
#                       live through them and be ended after them
#   E2E_AFTER_END       when set, after the end: notepad started again runs at
#                       least the limit before it is ended, and then
#                       WordPad's path without ".exe" typed into Vardex's
#                       window names no program: WordPad, typed into for
#                       100 s, is not ended and not counted
#   E2E_TWICE           when set, Vardex is started twice, 0.4 s apart: one
#                       Vardex remains (the second brings the first's window
#                       back and ends)
#   E2E_TYPE_EVERY      seconds between the keystrokes (default 3)
#   E2E_COPY_AT         when set, once notepad has been idle that many
#                       seconds, one more copy is started: it is a new use and
#                       runs at least 55 s before the copies are ended
#   E2E_MOVES           when set, once the typing stops, the pointer is moved
#                       over notepad every 3 s and nothing else: moves are no
#                       use, and notepad is ended on time all the same
#   E2E_HAND_OVER       with E2E_AFTER_END: the launcher (hand_over.exe) that
#                       brings notepad started again to the front, after a
#                       key into another window, once notepad has been idle
#                       48 s; it exits at once, and notepad runs at least 55 s
#                       after it before it is ended
#   E2E_HAND_OVER_DELAY when set, with E2E_HAND_OVER: a heavy launcher, a hidden
#                       copy of notepad started from outside, that hands over
#                       that many seconds after the key (notepad still runs at
#                       least 55 s after the hand-over)
#   E2E_CONSOLE         when set, the program is a console program started in
#                       its own console window (wineconsole); the hooks cannot
#                       see into it. "shell": the program is E2E_SHELL_PROGRAM
#                       (robust_helper.exe, a windowless console copy that
#                       lives 10 minutes), started from "cmd /k" in a console
#                       window that cmd.exe owns: the keys typed into that
#                       window are the program's
#   E2E_UNHOOKED        when set, the program's activity cannot be hooked: the
#                       keys reach no label, the tooltip says so, and the
#                       program is kept by the input into its window alone
#   E2E_RETYPE_LIMIT    when set, after the typing the limit is retyped in
#                       Vardex's window to 3, and after 130 s without input
#                       from 3 to 25 through "2", which stands 12 s: the
#                       program is not ended (the test ends there)
#   E2E_POST_TICKS      when set, another process posts 50 idle-timer
#                       WM_TIMER messages to Vardex within a second, every
#                       few seconds while the program is idle: it is not
#                       ended before the limit
#   E2E_WORKERS         the test helper robust_helper.exe: its target is the
#                       program instead of notepad. It starts a windowless
#                       worker copy of itself every 20 s (each lives 8 s) and
#                       saves and exits when asked to close. Started once
#                       Vardex runs, nobody uses it: it is asked to close no
#                       sooner than the limit and within the limit plus two
#                       ticks of its start
#   E2E_CLOCK_STEPS     when set, Vardex's wall clock (libfaketime, which
#                       Wine honours; the wineserver's tick count stays) is
#                       set forward one hour a few seconds after the idle
#                       time starts and back again 30 s later: the end comes
#                       within the same bounds
#   E2E_SETTINGS_TOOL   VardexSettings.exe: it writes the settings (else the
#                       test does), and must name the file Vardex reads
#   E2E_CANCEL          when set, notepad asked to close asks its own "Save
#                       changes?" question; a click on its Cancel is use:
#                       notepad keeps running with its text and gets the
#                       whole limit again; asked again and left alone, it is
#                       ended after the grace period
#   E2E_POLICY          when set, once Vardex runs, the idle limit is set to 7
#                       minutes by a policy value written with "reg add": the
#                       limit field shows it, with "Set by your administrator"
#                       beside it, within a tick, and VardexSettings (with
#                       E2E_SETTINGS_TOOL) names the policy as its source;
#                       the value deleted, the file's limit is back within a
#                       tick, and the run goes on with it
# In a 64-bit prefix (tests/wow64):
#   E2E_NOTEPAD         the notepad to watch, as Vardex sees its path
#   E2E_NOTEPAD_LOADER  the Wine loader that starts it (wine64 for a 64-bit one)
#   E2E_SYSDIR          Vardex's system directory, where vardex.ini goes
#   E2E_HELPERS         how many 64-bit helpers run while notepad is watched
#                       (1 or 0); at the end Vardex is killed and no helper
#                       may remain
#   E2E_HIDE_HELPER     when set, the 64-bit helper beside Vardex is moved
#                       aside for the run: no hooks reach a 64-bit program
#   E2E_DRY_RUN         when set, the policy's dry run is on (DryRun = 1 under
#                       HKLM\SOFTWARE\Policies\Vardex, removed after): once the
#                       typing stops notepad is warned and reported as "would
#                       have been ended" (ReportEventW on Wine's eventlog
#                       channel), and still runs 3 minutes later
#   E2E_REOPEN          when set, the offer to reopen (ReopenOfferMinutes = 1
#                       under HKLM\SOFTWARE\Policies\Vardex, removed after):
#                       after the end a key into another window brings the
#                       offer (event 1011 on Wine's eventlog channel), and the
#                       tray menu's last item, "Reopen notepad.exe", starts
#                       notepad again (1012); once Vardex has ended that one
#                       too, notepad started by hand before the user comes
#                       back gets no offer; after the next end the offer
#                       comes and is gone a minute later (the menu's last
#                       item is "Restore" again)
#   E2E_GIVEN_LOCKED    1: vardex.ini is already there (written by the package,
#                       with a password; limit and path as above); Vardex must
#                       show its settings locked
set -u
wine=$1 vardex=$2 read_labels=$3

limit=60          # seconds: the settings file's 1 minute
tick=10           # the idle timer's period
grace=30          # how long an asked program has to close
typing_for=90     # half as long again as the limit
notepad_win=${E2E_NOTEPAD:-'C:\windows\system32\notepad.exe'}
notepad_loader=${E2E_NOTEPAD_LOADER:-$wine}
copies=${E2E_COPIES:-1}
type_every=${E2E_TYPE_EVERY:-3}
window_name='Notepad'
program_args=() clock_env=() clock_file=""
if [ -n "${E2E_CLOCK_STEPS:-}" ]; then
  # Whichever library matches the loader is taken; the other is ignored.
  for lib in /usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1 /usr/lib/i386-linux-gnu/faketime/libfaketime.so.1; do
    [ -f "$lib" ] && clock_env+=("$lib")
  done
  if [ ${#clock_env[@]} -eq 0 ]; then
    echo "no libfaketime (package faketime): the clock is not stepped"
  else
    clock_file=$(mktemp)
    echo "+0" >"$clock_file"
    # As on Windows, setting the clock leaves the tick count and the
    # performance counter where they are.
    clock_env=(LD_PRELOAD="${clock_env[*]}" FAKETIME_TIMESTAMP_FILE="$clock_file" FAKETIME_NO_CACHE=1
               FAKETIME_DONT_FAKE_MONOTONIC=1)
  fi
fi
if [ -n "${E2E_WORKERS:-}" ]; then
  notepad_win=$(winepath -w "$E2E_WORKERS" 2>/dev/null)
  window_name='Worker Test'
  save_file=$(mktemp)
  program_args=(target --title "$window_name" --workers-every 20000 --save-on-close "$(winepath -w "$save_file" 2>/dev/null)")
  typing_for=0
fi
[ -n "${E2E_CONSOLE:-}" ] && window_name=$(basename "$(echo "$notepad_win" | tr '\\' /)")
if [ "${E2E_CONSOLE:-}" = shell ]; then
  notepad_win=$(winepath -w "$E2E_SHELL_PROGRAM" 2>/dev/null)
  program_args=(worker 600000)
  # The console's window is named after the shell that made it.
  window_name='cmd.exe'
fi
# The loader that starts notepad starts it, so it is the 64-bit WordPad in a
# 64-bit prefix; its path without ".exe" names no program.
other_win='C:\Program Files\Windows NT\Accessories\wordpad.exe'
cut_path=${other_win%.exe}

sysdir=$(winepath -u "${E2E_SYSDIR:-C:\windows\system32}" 2>/dev/null)
ini="$sysdir/vardex.ini"
. "$(dirname "$0")/../lib/common.sh"
[ -f "$sysdir/notepad.exe" ] || fail "no notepad.exe in $sysdir"

np_pids=() np_windows=() shell_pids=() other_pid="" vx_pid="" hidden="" policy_set="" events_log=""
policy_key='HKLM\SOFTWARE\Policies\Vardex'
cleanup() {
  [ -n "$vx_pid" ] && kill "$vx_pid" 2>/dev/null
  local p
  # The shell outlives its program: its console, and the loader waiting for
  # that, end with it.
  for p in "${np_pids[@]}" "${shell_pids[@]}" $other_pid; do kill "$p" 2>/dev/null; done
  for p in $(jobs -p); do kill "$p" 2>/dev/null; done
  wait 2>/dev/null
  vardex_ini_restore
  [ -n "${save_file:-}" ] && rm -f "$save_file"
  [ -n "$clock_file" ] && rm -f "$clock_file"
  [ -n "$hidden" ] && mv -f "$hidden" "${hidden%.hidden}"
  [ -n "$policy_set" ] && "$wine" reg delete "$policy_key" /f </dev/null >/dev/null 2>&1
  [ -n "$events_log" ] && rm -f "$events_log"
}
trap cleanup EXIT
trap 'exit 1' INT TERM
if [ -n "${E2E_HIDE_HELPER:-}" ]; then
  helper="$(dirname "$vardex")/TessikHost64.exe"
  [ -f "$helper" ] || { echo "FAIL: no $helper to move aside"; exit 1; }
  mv -f "$helper" "$helper.hidden" && hidden="$helper.hidden"
fi
vardex_ini_keep "${E2E_SYSDIR:-}"
if [ -n "${E2E_GIVEN_LOCKED:-}" ]; then
  :
elif [ -n "${E2E_SETTINGS_TOOL:-}" ]; then
  # The administrators' tool writes them, and names the file Vardex reads.
  written=$("$wine" "$E2E_SETTINGS_TOOL" set 1 "$notepad_win" --no-lock </dev/null 2>&1 | tr -d '\r')
  [ "${written,,}" = "written: $(winepath -w "$ini" 2>/dev/null | tr '[:upper:]' '[:lower:]')" ] ||
    fail "VardexSettings set said '$written'; Vardex reads $ini"
else
  vardex_ini_write 1 "$notepad_win"
fi

labels() { "$wine" "$read_labels" "$@" </dev/null 2>/dev/null | tr -d '\r'; }
# A click into a control of Vardex's shown window, raised over the others
# and given the keyboard (without a window manager a click does not move it).
click_control() {
  local x y w h vx
  vx=$(xdotool search --onlyvisible --name 'Vardex by Pellow' | head -1)
  xdotool windowraise "$vx"
  xdotool windowfocus --sync "$vx" 2>/dev/null
  read -r x y w h _ <<<"$(labels --control "$1")"
  [ -n "${h:-}" ] || fail "no $1 in Vardex's window"
  xdotool mousemove $(( x + w / 2 )) $(( y + h / 2 )) click 1
}
# Every copy of notepad runs; any runs.
notepads_running() { local p; for p in "${np_pids[@]}"; do kill -0 "$p" 2>/dev/null || return 1; done; }
a_notepad_running() { local p; for p in "${np_pids[@]}"; do kill -0 "$p" 2>/dev/null && return 0; done; return 1; }

# The Unix processes of this prefix whose program is the given path, as it
# was started (a Windows path, or the Unix path given to wine), in any case.
prefix_pids() {
  local pid
  for pid in $(pgrep -f -i -- "$(basename "$(echo "$1" | tr '\\' /)")"); do
    if [ -n "${WINEPREFIX:-}" ] &&
      ! { tr '\0' '\n' <"/proc/$pid/environ"; } 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX"; then
      continue
    fi
    { tr '\0' '\n' <"/proc/$pid/cmdline"; } 2>/dev/null | head -1 | grep -qiF -- "$1" && echo "$pid"
  done
}
# Starts a notepad (or the console program, in a console window of its own)
# and waits for its window, the one not seen before.
start_notepad() {
  local w k known before before_shells p
  before=" $(prefix_pids "$notepad_win" | tr '\n' ' ') "
  before_shells=" $(pgrep -f -i -- '^cmd /k ' | tr '\n' ' ') "
  if [ "${E2E_CONSOLE:-}" = shell ]; then
    "$notepad_loader" wineconsole cmd /k "$notepad_win" "${program_args[@]}" </dev/null >/dev/null 2>&1 &
  elif [ -n "${E2E_CONSOLE:-}" ]; then
    "$notepad_loader" wineconsole "$notepad_win" </dev/null >/dev/null 2>&1 &
  else
    "$notepad_loader" "$notepad_win" "${program_args[@]}" </dev/null >/dev/null 2>&1 &
    np_pids+=($!)
  fi
  for _ in $(seq 1 60); do
    for w in $(xdotool search --onlyvisible --name "$window_name" 2>/dev/null); do
      known=""
      for k in "${np_windows[@]}"; do [ "$k" = "$w" ] && known=1; done
      [ -n "$known" ] && continue
      np_windows+=("$w")
      # The console program is a process of its own beside its console, and
      # a shell starts it a moment after its window shows.
      local found=0
      for _ in $(seq 1 20); do
        [ -n "${E2E_CONSOLE:-}" ] || break
        for p in $(prefix_pids "$notepad_win"); do
          case "$before" in *" $p "*) continue ;; esac
          # In a shell, not the shell or the console, whose command lines name it too.
          cmdline=$(tr '\0' ' ' <"/proc/$p/cmdline" 2>/dev/null)
          [ "${E2E_CONSOLE:-}" = shell ] && [[ "${cmdline,,}" != "${notepad_win,,}"* ]] && continue
          np_pids+=("$p") found=1
        done
        [ "$found" -eq 1 ] && break
        sleep 0.5
      done
      # The shell itself, whose Unix environment under Wine need not name
      # the prefix: found by its command line, new since this start.
      if [ "${E2E_CONSOLE:-}" = shell ]; then
        for p in $(pgrep -f -i -- "^cmd /k .*$(basename "$(echo "$notepad_win" | tr '\\' /)")"); do
          case "$before_shells" in *" $p "*) continue ;; esac
          shell_pids+=("$p")
        done
      fi
      return 0
    done
    sleep 0.5
  done
  fail "$window_name's window did not appear"
}
# The worker's program starts once Vardex runs: its start is then the one
# Vardex sees.
if [ -z "${E2E_WORKERS:-}" ]; then
  for _ in $(seq 1 "$copies"); do start_notepad; done
  np_window=${np_windows[-1]}
fi

vardex_env=("${clock_env[@]}")
policy_value=""
[ -n "${E2E_DRY_RUN:-}" ] && policy_value=DryRun
[ -n "${E2E_REOPEN:-}" ] && policy_value=ReopenOfferMinutes
if [ -n "$policy_value" ]; then
  "$wine" reg add "$policy_key" /v "$policy_value" /t REG_DWORD /d 1 /f </dev/null >/dev/null 2>&1 ||
    fail "the policy value $policy_value could not be written"
  policy_set=1
  # Wine stores no event; its eventlog channel shows each ReportEventW.
  events_log=$(mktemp)
  vardex_env+=(WINEDEBUG=+eventlog)
fi
env "${vardex_env[@]}" "$wine" "$vardex" </dev/null >/dev/null 2>"${events_log:-/dev/null}" &
vx_pid=$!
if [ -n "${E2E_TWICE:-}" ]; then
  # As from the Run entry at logon and the Start menu's shortcut at once.
  sleep 0.4
  "$wine" "$vardex" </dev/null >/dev/null 2>&1 &
  second_pid=$!
  for _ in $(seq 1 60); do kill -0 "$second_pid" 2>/dev/null || break; sleep 0.5; done
  kill -0 "$second_pid" 2>/dev/null && fail "the second Vardex still runs 30 s after its start"
  running=$(prefix_pids "$vardex" | wc -l)
  [ "$running" -eq 1 ] || fail "$running Vardex processes run after two starts"
  # The second start brought the first one's window back, as a double click
  # on its icon does; "&Done" sends it back.
  timeout 20 xdotool search --sync --onlyvisible --name 'Vardex by Pellow' >/dev/null 2>&1 ||
    fail "the second start did not bring Vardex's window back"
  click_control Command2
  echo "Vardex started twice 0.4 s apart: one remains, its window brought back"
fi
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
if [ -n "${E2E_POLICY:-}" ]; then
  # Software\Policies is shared by both views on Windows, but redirected in
  # a 64-bit Wine prefix: the value goes where Vardex's bitness reads.
  view=/reg:32
  [ "$(od -An -tx2 -j$(( $(od -An -tu4 -j60 -N4 "$vardex") + 4 )) -N2 "$vardex" | tr -d ' ')" = 8664 ] && view=/reg:64
  policy_key='HKLM\Software\Policies\Vardex'
  # The limit field's text and the policy label's, as "<limit>|<label>".
  policy_shown() {
    echo "$(labels --control intAppShutDownTime | cut -d' ' -f5-)|$(labels --control lblPolicy | cut -d' ' -f5-)"
  }
  # Waits at most a tick for `policy_shown` to read $1; sets `waited` to the
  # seconds it took.
  wait_shown() {
    local from=$(date +%s) shown=""
    while [ $(( $(date +%s) - from )) -le "$tick" ]; do
      shown=$(policy_shown)
      [ "$shown" = "$1" ] && { waited=$(( $(date +%s) - from )); return 0; }
      sleep 0.5
    done
    fail "$2: Vardex shows '$shown' a tick later, not '$1'"
  }
  [ "$(policy_shown)" = "1|" ] || fail "before any policy Vardex shows '$(policy_shown)'"
  "$wine" reg add "$policy_key" /v IdleLimitMinutes /t REG_DWORD /d 7 /f $view </dev/null >/dev/null 2>&1 ||
    fail "reg add $policy_key failed"
  wait_shown "7|Set by your administrator" "the policy written"
  took=$waited
  [ "$("$wine" "$read_labels" --lock </dev/null 2>/dev/null | tr -d '\r')" = mixed ] ||
    fail "with the limit set by policy, the path is not the only field enabled"
  if [ -n "${E2E_SETTINGS_TOOL:-}" ]; then
    shown=$("$wine" "$E2E_SETTINGS_TOOL" show </dev/null 2>&1 | tr -d '\r')
    grep -qxF 'Idle limit (minutes): 7 (policy)' <<<"$shown" || fail "VardexSettings show said: $shown"
  fi
  "$wine" reg delete "$policy_key" /f $view </dev/null >/dev/null 2>&1 || fail "reg delete $policy_key failed"
  wait_shown "1|" "the policy removed"
  grep -qx '1' < <(head -1 "$ini" | tr -d '\r') || fail "vardex.ini's limit is now $(head -1 "$ini")"
  echo "a policy limit of 7 shown after ${took}s with its label; removed, the file's 1 back after ${waited}s"
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
if [ -n "${E2E_WORKERS:-}" ]; then
  start_notepad
  np_window=${np_windows[-1]}
  program_started=$(date +%s)
else
  xdotool mousemove --window "$np_window" 300 300 click 1
fi
echo "Vardex runs; typing into $window_name ($copies running, the last one typed into) every ${type_every}s for ${typing_for}s"

# While typing: after the first presence check has hooked notepad, every
# tick sees activity, so the count never passes one tick's worth.
start=$(date +%s)
max_typing=0 readings="" keys=""
while [ $(( $(date +%s) - start )) -lt "$typing_for" ]; do
  xdotool windowfocus --sync "$np_window" 2>/dev/null
  xdotool type --delay 40 'ab'
  typed_at=$(date +%s)
  while [ $(( $(date +%s) - typed_at )) -lt "$type_every" ]; do
    sleep 1
    notepads_running || fail "a notepad was ended while the user typed into one (readings:$readings)"
  done
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
# Keys at most a tick apart reset the count at every tick; further apart, a
# tick may come between two keys.
max_allowed=$(( 2 * tick ))
[ "$type_every" -gt 3 ] && max_allowed=$(( 3 * tick ))
[ "$max_typing" -le "$max_allowed" ] || fail "the idle count reached $max_typing while typing"
if [ "$typing_for" -eq 0 ]; then
  :
elif [ -n "${E2E_UNHOOKED:-}" ]; then
  # Kept by the input into its window alone, and the user is told (a 64-bit
  # shell's tooltips cannot be read by the 32-bit reader).
  [ -z "$keys" ] || fail "lblhKeyPressed shows '$keys': the keys were hooked after all"
  tip=$("$wine" "$read_labels" --tooltip </dev/null 2>/dev/null | tr -d '\r')
  case "$tip" in
    *"(activity not seen)") echo "tooltip: $tip" ;;
    "no tooltip") echo "the tooltip cannot be read here; no key reached a label" ;;
    *) fail "the tooltip reads '$tip', not that the activity is not seen" ;;
  esac
else
  # The keystrokes themselves came through the hooks: "a" is 65, "b" 66.
  case "$keys" in
    "Key Code: 65 Pressed" | "Key Code: 66 Pressed") echo "lblhKeyPressed: $keys" ;;
    *) fail "lblhKeyPressed shows '$keys', not a typed key" ;;
  esac
fi

# Opens Vardex's window from its icon (a double click in Wine's tray window,
# where it is the only icon; raised first, since without a window manager
# other windows open over it) and types `text` into the control `name`.
type_into_vardex() {
  local tray
  if [ -z "$(xdotool search --onlyvisible --name 'Vardex by Pellow')" ]; then
    tray=$(xdotool search --onlyvisible --name 'Wine System Tray' | head -1)
    [ -n "$tray" ] || fail "no Wine System Tray window"
    xdotool windowraise "$tray"
    xdotool mousemove --window "$tray" 10 10 click --repeat 2 --delay 100 1
    timeout 20 xdotool search --sync --onlyvisible --name 'Vardex by Pellow' >/dev/null 2>&1 ||
      fail "Vardex's window did not come back"
  fi
  click_control "$1"
  xdotool key Home shift+End
  xdotool type --delay 60 "$2"
}
control_text() { local t; read -r _ _ _ _ t <<<"$(labels --control "$1")"; echo "$t"; }

if [ -n "${E2E_RETYPE_LIMIT:-}" ]; then
  # The user makes the limit 3 minutes and leaves the program for 130 s:
  # under the limit. Then the limit is retyped to 25, and "2" stands in the
  # field for 12 s on the way: a limit below the idle time. Each new limit
  # is a fresh start, so nothing on the way ends the program.
  type_into_vardex intAppShutDownTime 3
  [ "$(control_text intAppShutDownTime)" = 3 ] || fail "the limit reads '$(control_text intAppShutDownTime)', not 3"
  idle_from=$(date +%s)
  while [ $(( $(date +%s) - idle_from )) -lt 130 ]; do
    notepads_running || fail "the program was ended $(( $(date +%s) - idle_from ))s into 130 s idle under 3 minutes"
    sleep 2
  done
  click_control intAppShutDownTime
  xdotool key Home shift+End
  xdotool type 2
  [ "$(control_text intAppShutDownTime)" = 2 ] || fail "the limit reads '$(control_text intAppShutDownTime)', not 2"
  typed=$(date +%s)
  while [ $(( $(date +%s) - typed )) -lt 12 ]; do
    notepads_running || fail "the program was ended $(( $(date +%s) - typed ))s after the limit read 2"
    sleep 1
  done
  xdotool key End
  xdotool type 5
  [ "$(control_text intAppShutDownTime)" = 25 ] || fail "the limit reads '$(control_text intAppShutDownTime)', not 25"
  sleep 12
  notepads_running || fail "the program was ended after the limit became 25"
  read -r elapsed _ <<<"$(labels)"
  echo "PASS: 130 s idle, the limit from 3 to 25 through 2 for 12 s: the program runs (count $elapsed)"
  exit 0
fi

if [ -n "${E2E_DRY_RUN:-}" ]; then
  # Event ids as ReportEventW's fourth argument: 1001 warned, 1009 would
  # have been ended, 1003 asked to close, 1005 ended.
  reported() { grep -c "ReportEventW.*,0x0*$1," "$events_log"; }
  stopped=$typed_at
  while [ $(( $(date +%s) - stopped )) -lt 180 ]; do
    sleep 5
    notepads_running || fail "notepad was ended $(( $(date +%s) - stopped ))s after the typing stopped, in a dry run"
  done
  grep -m3 'ReportEventW' "$events_log" | cut -c1-200
  [ "$(reported 3e8)" -ge 1 ] || fail "no 'watching started' (1000) reported"
  [ "$(reported 3e9)" -ge 1 ] || fail "notepad's warning (1001) was not reported"
  [ "$(reported 3f1)" -eq 1 ] || fail "$(reported 3f1) reports of 'would have been ended' (1009), not one"
  [ "$(reported 3eb)" -eq 0 ] && [ "$(reported 3ed)" -eq 0 ] || fail "a request to close or an end was reported"
  grep 'ReportEventW.*,0x0*3f1,' "$events_log" | cut -c1-200
  echo "PASS: dry run: notepad warned, reported as would have been ended once, and still runs 180s after the typing"
  exit 0
fi

# Typing stops: the count grows past the limit and notepad is ended, counted
# from the last keystroke.
stopped=${typed_at:-${program_started:-}}
typed_pid=${np_pids[-1]}
readings="" ratios="" max_idle=0 copy_started="" cancelled="" asked_again="" workers=" " clock_steps=0
while a_notepad_running &&
  [ $(( $(date +%s) - ${cancelled:-$stopped} )) -lt $(( limit + 6 * tick + grace + ${E2E_COPY_AT:-0} )) ]; do
  sleep 2
  if [ -n "${E2E_COPY_AT:-}" ] && [ -z "$copy_started" ] && [ $(( $(date +%s) - stopped )) -ge "$E2E_COPY_AT" ]; then
    # The user opens a second document: a new copy, nobody types into it.
    start_notepad
    copy_started=$(date +%s)
    copy_pid=${np_pids[-1]}
    echo "a new copy started $(( copy_started - stopped ))s after the last keystroke"
  fi
  if [ -n "$clock_file" ]; then
    since=$(( $(date +%s) - stopped ))
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
  # A mouse that only moves over the program, as a jiggler's does.
  [ -n "${E2E_MOVES:-}" ] && xdotool mousemove --window "$np_window" $(( 100 + RANDOM % 200 )) $(( 100 + RANDOM % 100 ))
  [ -n "${E2E_POST_TICKS:-}" ] && labels --post-ticks 50 >/dev/null
  read -r elapsed ratio _ <<<"$(labels)"
  readings+=" $elapsed" ratios+=" $ratio"
  [ "${elapsed:-0}" -gt "$max_idle" ] && max_idle=$elapsed
  if [ -n "${E2E_WORKERS:-}" ]; then
    for p in $(prefix_pids "$notepad_win"); do
      case "$workers" in *" $p "*) ;; *) [ "$p" = "${np_pids[0]}" ] || workers+="$p " ;; esac
    done
  fi
  if [ -n "$copy_started" ] && ! kill -0 "$copy_pid" 2>/dev/null; then
    copy_ran=$(( $(date +%s) - copy_started ))
    [ "$copy_ran" -ge 55 ] || fail "the copy started after ${E2E_COPY_AT}s idle was ended after ${copy_ran}s"
  fi
  [ -n "${E2E_CANCEL:-}" ] || continue
  # Notepad's question, a dialog box of its own named "Notepad".
  read -r x y w h question <<<"$(labels --dialog Notepad)"
  [[ "$x" =~ ^-?[0-9]+$ ]] || continue
  if [ -n "$cancelled" ]; then
    [ -n "$asked_again" ] || asked_again=$(date +%s)
    continue
  fi
  echo "notepad asked $(( $(date +%s) - stopped ))s after the last keystroke: $question"
  box=$(xdotool search --onlyvisible --name '^Notepad$' | head -1)
  [ -n "$box" ] && xdotool windowraise "$box"
  xdotool mousemove $(( x + w / 2 )) $(( y + h / 2 )) click 1
  cancelled=$(date +%s)
  for _ in $(seq 1 20); do
    [ "$(labels --dialog Notepad)" = "no dialog box" ] && break
    sleep 0.25
  done
  [ "$(labels --dialog Notepad)" = "no dialog box" ] || fail "a click on Cancel left notepad's question up"
  text=$(labels --text 'Untitled - Notepad')
  grep -qx '\(ab\)\{2,\}' <<<"$text" || fail "after Cancel, notepad's texts are: $text"
  kill -0 "$typed_pid" 2>/dev/null || fail "notepad was ended while its question was up"
done
ended_after=$(( $(date +%s) - stopped ))
if [ -n "$copy_started" ]; then
  echo "the new copy ran $(( $(date +%s) - copy_started ))s before it was ended"
  # From the copy on, the limit again, plus the presence check that saw it.
  stopped=$copy_started
  ended_after=$(( $(date +%s) - copy_started ))
fi
if [ -n "${E2E_CANCEL:-}" ]; then
  [ -n "$cancelled" ] || fail "notepad never asked its question"
  [ -n "$asked_again" ] || fail "notepad was not asked again after Cancel"
  # Polling adds a few seconds to when the question was seen.
  [ $(( $(date +%s) - asked_again )) -ge $(( grace - 5 )) ] ||
    fail "notepad was ended $(( $(date +%s) - asked_again ))s after it was asked again, within the grace period"
  echo "after Cancel, asked again $(( asked_again - cancelled ))s later and left alone: ended" \
       "$(( $(date +%s) - asked_again ))s after that"
  # From the click on, the limit again.
  stopped=$cancelled
  ended_after=$(( $(date +%s) - cancelled ))
fi
read -r elapsed ratio _ <<<"$(labels)"
echo "after typing, LblElapsedTime read:$readings, then $elapsed"
echo "after typing, lblCompletionRatio read:$ratios"
a_notepad_running && fail "a notepad still runs ${ended_after}s after the typing stopped"
# Polling adds up to a few seconds to the limit, two ticks and the grace period.
bound=$(( limit + 2 * tick + grace + 5 ))
if [ -n "${E2E_WORKERS:-}" ]; then
  # It closed when asked (its own exit code, not the hard end's): no grace.
  wait "${np_pids[0]}"
  code=$?
  [ "$code" -eq 42 ] || fail "the program exited with $code, not having closed when asked"
  bound=$(( limit + 2 * tick + 5 ))
  # Each worker is seen on several polls while it lives.
  count=$(echo $workers | wc -w)
  [ "$count" -ge 2 ] || fail "$count worker copies were seen, not one every 20 s"
  echo "$count worker copies ran; the program closed when asked ${ended_after}s after its start"
fi
[ "$ended_after" -le "$bound" ] || fail "notepad was ended only after ${ended_after}s"
[ "$ended_after" -ge "$limit" ] || fail "notepad was ended after ${ended_after}s, within the limit"
[ "${elapsed:-0}" -gt "$limit" ] || fail "LblElapsedTime shows ${elapsed:-nothing}, not past the limit"
[ "$max_idle" -gt $(( 2 * tick )) ] || fail "the idle count never grew after the typing stopped"
kill -0 "$vx_pid" 2>/dev/null || fail "Vardex did not keep running"

if [ -n "${E2E_REOPEN:-}" ]; then
  # Event ids as ReportEventW's fourth argument: 1011 offered, 1012 reopened.
  reported() { grep -c "ReportEventW.*,0x0*$1," "$events_log"; }
  # The user comes back: a key into another window (Wine's tray window).
  come_back() {
    local tray
    tray=$(xdotool search --onlyvisible --name 'Wine System Tray' | head -1)
    xdotool windowfocus --sync "$tray" 2>/dev/null
    xdotool key shift
  }
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
  # Waits until Vardex has ended every notepad, at most the limit, the ticks
  # and the grace period.
  wait_ended() {
    local from=$(date +%s)
    while [ -n "$(prefix_pids "$notepad_win")" ] && [ $(( $(date +%s) - from )) -lt $(( limit + 6 * tick + grace )) ]; do
      sleep 2
    done
    [ -z "$(prefix_pids "$notepad_win")" ] || fail "$1: notepad still runs $(( $(date +%s) - from ))s later"
  }
  sleep 3
  [ "$(reported 3f3)" -eq 0 ] || fail "an offer to reopen came before the user did"
  come_back
  wait_reported 1 5 3f3 || fail "no offer to reopen (1011) after a key, $(reported 3f3) reports"
  choose_last_item
  wait_reported 1 10 3f4 || fail "choosing the tray's last item reopened nothing (1012)"
  # Each insert on a line of its own after the call's: the user, the path,
  # the minutes, and how (Wine implements no restart command line).
  grep -A4 'ReportEventW.*,0x0*3f4,' "$events_log" | grep -qF '"path"' || fail "the reopen did not start the path alone"
  [ -n "$(prefix_pids "$notepad_win")" ] || fail "no notepad runs after the reopen"
  echo "offered at the user's key; the tray's \"Reopen notepad.exe\" started notepad again"

  wait_ended "the reopened notepad"
  np_pids=() np_windows=()
  start_notepad
  sleep $(( tick + 2 ))
  come_back
  sleep 5
  [ "$(reported 3f3)" -eq 1 ] || fail "an offer came though notepad was started by hand"
  echo "no offer after notepad was started by hand"

  wait_ended "notepad started by hand"
  come_back
  wait_reported 2 5 3f3 || fail "no offer after the third end"
  offered=$(date +%s)
  sleep $(( 60 + 2 - ($(date +%s) - offered) ))
  vardex_shown() { [ -n "$(xdotool search --onlyvisible --name 'Vardex by Pellow')" ]; }
  vardex_shown && fail "Vardex's window shows before the menu's last item is chosen"
  choose_last_item
  timeout 20 xdotool search --sync --onlyvisible --name 'Vardex by Pellow' >/dev/null 2>&1 ||
    fail "a minute after the offer the menu's last item is not \"Restore\""
  [ "$(reported 3f4)" -eq 1 ] && [ -z "$(prefix_pids "$notepad_win")" ] || fail "the expired offer reopened notepad"
  grep -A4 'ReportEventW.*,0x0*3f[34],' "$events_log" | cut -c1-200
  echo "PASS: offered when the user came back, reopened from the tray, none after a start by hand, gone a minute later"
  exit 0
fi

if [ -n "${E2E_AFTER_END:-}" ]; then
  # The count that ended notepad stays above the limit. Started again,
  # notepad is a new run with a count of its own: it gets the whole limit.
  [ -f "$(winepath -u "$other_win" 2>/dev/null)" ] || fail "no $other_win"
  np_pids=() np_windows=()
  start_notepad
  restarted=$(date +%s)
  "$notepad_loader" "$other_win" </dev/null >/dev/null 2>&1 &
  other_pid=$!
  handed=""
  while a_notepad_running && [ $(( $(date +%s) - ${handed:-$restarted} )) -lt $(( limit + 4 * tick + grace )) ]; do
    sleep 1
    if [ -n "${E2E_HAND_OVER:-}" ] && [ -z "$handed" ] && [ $(( $(date +%s) - restarted )) -ge 48 ]; then
      # The user double-clicks a document elsewhere (a key into Wine's tray
      # window stands for it); its launcher hands over to notepad and exits.
      tray=$(xdotool search --onlyvisible --name 'Wine System Tray' | head -1)
      xdotool windowfocus --sync "$tray" 2>/dev/null
      xdotool key shift
      handed=$(date +%s%N)
      launcher=(Notepad)
      [ -n "${E2E_HAND_OVER_DELAY:-}" ] && launcher+=("$(( E2E_HAND_OVER_DELAY * 1000 ))" "$notepad_win")
      "$wine" "$E2E_HAND_OVER" "${launcher[@]}" </dev/null >/dev/null 2>&1 ||
        fail "the launcher did not find notepad"
      launcher_ms=$(( ($(date +%s%N) - handed) / 1000000 ))
      handed=$(( $(date +%s%N) / 1000000000 ))
      echo "notepad idle 48 s, brought to the front by a launcher that ran ${launcher_ms} ms under Wine"
    fi
  done
  ran=$(( $(date +%s) - restarted ))
  a_notepad_running && fail "notepad started again still runs after ${ran}s"
  [ "$ran" -ge "$limit" ] || fail "notepad started again was ended after ${ran}s, within the limit"
  echo "notepad started again ran ${ran}s before it was ended"
  if [ -n "${E2E_HAND_OVER:-}" ]; then
    after=$(( $(date +%s) - handed ))
    [ "$after" -ge 55 ] || fail "notepad was ended ${after}s after the launcher brought it to the front"
    [ "$after" -le $(( limit + 2 * tick + grace + 5 )) ] || fail "notepad was ended only ${after}s after the hand-over"
    echo "notepad ran ${after}s after the hand-over before it was ended"
  fi

  # The user opens Vardex from its icon and types WordPad's path without
  # ".exe": a path that names no program. WordPad is not the program
  # named, so however long it is used, it is neither counted nor ended.
  kill -0 "$other_pid" 2>/dev/null || fail "$other_win did not start"
  type_into_vardex txtApplicationName "$cut_path"
  [ "$(control_text txtApplicationName)" = "$cut_path" ] ||
    fail "the path box holds '$(control_text txtApplicationName)', not '$cut_path'"
  wordpad=$(xdotool search --all --onlyvisible --pid "$other_pid" --name 'Wordpad' | head -1)
  [ -n "$wordpad" ] || fail "no WordPad window"
  typed=$(date +%s) counts=""
  while [ $(( $(date +%s) - typed )) -lt 100 ]; do
    xdotool windowfocus --sync "$wordpad" 2>/dev/null
    xdotool type --delay 40 'ab'
    sleep 4
    kill -0 "$other_pid" 2>/dev/null || fail "$other_win was ended $(( $(date +%s) - typed ))s after '$cut_path' was typed"
    read -r elapsed _ <<<"$(labels)"
    counts+=" $elapsed"
    [ "${elapsed:-0}" -eq 0 ] || fail "'$cut_path' counts idle time ($counts): it found a program"
  done
  echo "'$cut_path' stood 100s in the path box while WordPad was typed into: never counted, WordPad still runs"
fi
if [ -n "${E2E_HELPERS:-}" ]; then
  kill -9 "$vx_pid"; wait "$vx_pid" 2>/dev/null; vx_pid=""
  # The helper notices its client's death through the wineserver, which can
  # take seconds on a loaded machine: give it 30 s, then name what still runs.
  killed=$(date +%s)
  while [ "$(helpers)" -ne 0 ] && [ $(( $(date +%s) - killed )) -lt 30 ]; do sleep 0.5; done
  [ "$(helpers)" -eq 0 ] || fail "a helper outlived the killed Vardex: $(ps -eo pid=,args= | grep -F TessikHost64 | grep -v grep)"
fi
if [ "${E2E_CONSOLE:-}" = shell ]; then
  # Only the program named was ended: the shell it was started from, and
  # its console, still run.
  [ ${#shell_pids[@]} -gt 0 ] || fail "the shell the program was started from was not found"
  for p in "${shell_pids[@]}"; do kill -0 "$p" 2>/dev/null || fail "cmd.exe was ended with the program it started"; done
  echo "cmd.exe still runs after the program it started was ended"
fi
echo "PASS: notepad ended ${ended_after}s after the last keystroke"
