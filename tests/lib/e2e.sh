# Vardex end to end under Wine: the steps every scenario in tests/e2e shares
# (DISPLAY and WINEPREFIX come from tools/test; Tessik.dll is registered by
# the fixture). Settings: limit 1 minute, the program's full path, no
# password. Keystrokes typed into the program keep it alive well past the
# limit; once they stop it is asked to close, holds on to its unsaved text
# ("Save changes?") and is ended within the limit plus two idle ticks and
# the grace period. The readouts are read from outside all along.
#
#   . "$(dirname "$0")/../lib/e2e.sh" WINE VARDEX READ_LABELS
#   e2e_start            the five steps below, for a scenario that needs
#                        nothing between them:
#   e2e_prepare          the settings written (and the helper hidden)
#   e2e_start_programs   E2E_COPIES programs started; np_window is the last
#   e2e_start_vardex     Vardex started (vardex_env for its environment)
#   e2e_wait_vardex      its window answers
#   e2e_wait_hidden      its window hidden, its icon in the tray
#   e2e_type             keys into np_window for typing_for seconds, checked
#   e2e_idle_until_ended polls until no program runs, calling on_idle_poll
#                        (when the scenario defines it) every 2 s; the idle
#                        time counts from idle_from, which it may move
#   e2e_check_ended [GRACE]  ended within the bounds, counted from idle_from
#   e2e_finish           the helpers' end, and PASS
# A scenario may set, after sourcing: notepad_win, window_name,
# program_args, typing_for, console (1: a console program in a console
# window of its own; shell: started from "cmd /k" in cmd's console window).
#
# Options from the environment (the 64-bit prefix's tests and the package's):
#   E2E_NOTEPAD         the notepad to watch, as Vardex sees its path
#   E2E_NOTEPAD_LOADER  the Wine loader that starts it (wine64 for a 64-bit one)
#   E2E_SYSDIR          Vardex's system directory, where vardex.ini goes
#   E2E_COPIES          how many copies run (default 1); the keystrokes go
#                       into the last one started only, and every copy must
#                       live through them and be ended after them
#   E2E_TYPE_EVERY      seconds between the keystrokes (default 3)
#   E2E_SETTINGS_TOOL   VardexSettings.exe: it writes the settings (else the
#                       test does), and must name the file Vardex reads
#   E2E_GIVEN_LOCKED    vardex.ini is already there (written by the package,
#                       with a password; limit and path as above)
#   E2E_UNHOOKED        the program's activity cannot be hooked: the keys
#                       reach no label, the tooltip says so, and the program
#                       is kept by the input into its window alone
#   E2E_HELPERS         how many 64-bit helpers run while the program is
#                       watched (1 or 0); at the end Vardex is killed and no
#                       helper may remain
#   E2E_HIDE_HELPER     the 64-bit helper beside Vardex is moved aside for
#                       the run: no hooks reach a 64-bit program
#   E2E_POLICY_VALUE    a DWORD value set to 1 under the policy key for the
#                       run (removed after); Wine's eventlog channel, which
#                       shows each ReportEventW, is kept in events_log
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
console=""
program_args=() vardex_env=() temp_files=()

sysdir=$(winepath -u "${E2E_SYSDIR:-C:\windows\system32}" 2>/dev/null)
ini="$sysdir/vardex.ini"
. "$(dirname "${BASH_SOURCE[0]}")/common.sh"
[ -f "$sysdir/notepad.exe" ] || fail "no notepad.exe in $sysdir"

np_pids=() np_windows=() shell_pids=() other_pid="" vx_pid="" hidden="" policy_set="" events_log=""
policy_key='HKLM\SOFTWARE\Policies\Vardex' policy_view=""  # policy_set: delete the key at the end
cleanup() {
  [ -n "$vx_pid" ] && kill "$vx_pid" 2>/dev/null
  local p
  # The shell outlives its program: its console, and the loader waiting for
  # that, end with it.
  for p in "${np_pids[@]}" "${shell_pids[@]}" $other_pid; do kill "$p" 2>/dev/null; done
  for p in $(jobs -p); do kill "$p" 2>/dev/null; done
  wait 2>/dev/null
  vardex_ini_restore
  for p in "${temp_files[@]}"; do rm -f "$p"; done
  [ -n "$hidden" ] && mv -f "$hidden" "${hidden%.hidden}"
  [ -n "$policy_set" ] && "$wine" reg delete "$policy_key" /f $policy_view </dev/null >/dev/null 2>&1
}
trap cleanup EXIT
trap 'exit 1' INT TERM
# On a failure, what Vardex reported last (the policies' runs keep it).
fail_details() {
  [ -n "$events_log" ] && [ -f "$events_log" ] && grep 'ReportEventW' "$events_log" | tail -12 | cut -c1-200
  return 0
}

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
# Opens Vardex's window from its icon (a double click in Wine's tray window,
# where it is the only icon; raised first, since without a window manager
# other windows open over it) and types `text` into the control `name`.
type_into_vardex() {  # NAME TEXT
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
# The user is elsewhere: a key into another window (Wine's tray window).
key_elsewhere() {
  local tray
  tray=$(xdotool search --onlyvisible --name 'Wine System Tray' | head -1)
  xdotool windowfocus --sync "$tray" 2>/dev/null
  xdotool key shift
}
# How many times Vardex reported the event of this id (in hex, as
# ReportEventW's fourth argument) on Wine's eventlog channel.
reported() { grep -c "ReportEventW.*,0x0*$1," "$events_log"; }

# Every copy of the program runs; any runs.
notepads_running() { local p; for p in "${np_pids[@]}"; do kill -0 "$p" 2>/dev/null || return 1; done; }
a_notepad_running() { local p; for p in "${np_pids[@]}"; do kill -0 "$p" 2>/dev/null && return 0; done; return 1; }

# The Unix processes of this prefix whose program is the given path, as it
# was started (a Windows path, or the Unix path given to wine), in any case.
prefix_pids() {
  local pid
  for pid in $(pgrep -f -i -- "$(basename "$(echo "$1" | tr '\\' /)")"); do
    in_prefix "$pid" || continue
    { tr '\0' '\n' <"/proc/$pid/cmdline"; } 2>/dev/null | head -1 | grep -qiF -- "$1" && echo "$pid"
  done
}
# Whether the process runs in this test's Wine prefix (any, without one).
in_prefix() {
  [ -z "${WINEPREFIX:-}" ] || { tr '\0' '\n' <"/proc/$1/environ"; } 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX"
}
# The helpers started from Vardex's folder in this prefix: other prefixes on
# the machine may run a helper of the same path at the same time.
helper_hosts() {
  local pid n=0 exe
  exe="$(winepath -w "$(dirname "$vardex")")\TessikHost64.exe"
  for pid in $(pgrep -f -- 'TessikHost64\.exe'); do
    in_prefix "$pid" || continue
    tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -qF -- "$exe" && n=$((n + 1))
  done
  echo "$n"
}

# Starts a copy of the program (the console program in a console window of
# its own) and waits for its window, the one not seen before.
start_program() {
  local w k known before before_shells p
  before=" $(prefix_pids "$notepad_win" | tr '\n' ' ') "
  before_shells=" $(pgrep -f -i -- '^cmd /k ' | tr '\n' ' ') "
  if [ "$console" = shell ]; then
    "$notepad_loader" wineconsole cmd /k "$notepad_win" "${program_args[@]}" </dev/null >/dev/null 2>&1 &
  elif [ -n "$console" ]; then
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
        [ -n "$console" ] || break
        for p in $(prefix_pids "$notepad_win"); do
          case "$before" in *" $p "*) continue ;; esac
          # In a shell, not the shell or the console, whose command lines name it too.
          cmdline=$(tr '\0' ' ' <"/proc/$p/cmdline" 2>/dev/null)
          [ "$console" = shell ] && [[ "${cmdline,,}" != "${notepad_win,,}"* ]] && continue
          np_pids+=("$p") found=1
        done
        [ "$found" -eq 1 ] && break
        sleep 0.5
      done
      # The shell itself, whose Unix environment under Wine need not name
      # the prefix: found by its command line, new since this start.
      if [ "$console" = shell ]; then
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

e2e_prepare() {
  if [ -n "${E2E_HIDE_HELPER:-}" ]; then
    local host
    host="$(dirname "$vardex")/TessikHost64.exe"
    [ -f "$host" ] || fail "no $host to move aside"
    mv -f "$host" "$host.hidden" && hidden="$host.hidden"
  fi
  vardex_ini_keep "${E2E_SYSDIR:-}"
  if [ -n "${E2E_GIVEN_LOCKED:-}" ]; then
    :
  elif [ -n "${E2E_SETTINGS_TOOL:-}" ]; then
    # The administrators' tool writes them, and names the file Vardex reads.
    local written
    written=$("$wine" "$E2E_SETTINGS_TOOL" set 1 "$notepad_win" --no-lock </dev/null 2>&1 | tr -d '\r')
    [ "${written,,}" = "written: $(winepath -w "$ini" 2>/dev/null | tr '[:upper:]' '[:lower:]')" ] ||
      fail "VardexSettings set said '$written'; Vardex reads $ini"
  else
    vardex_ini_write 1 "$notepad_win"
  fi
  if [ -n "${E2E_POLICY_VALUE:-}" ]; then
    "$wine" reg add "$policy_key" /v "$E2E_POLICY_VALUE" /t REG_DWORD /d 1 /f </dev/null >/dev/null 2>&1 ||
      fail "the policy value $E2E_POLICY_VALUE could not be written"
    policy_set=1
    # Wine stores no event; its eventlog channel shows each ReportEventW.
    events_log=$(mktemp)
    temp_files+=("$events_log")
    vardex_env+=(WINEDEBUG=+eventlog)
  fi
}

e2e_start_programs() {
  for _ in $(seq 1 "$copies"); do start_program; done
  np_window=${np_windows[-1]}
}

e2e_start_vardex() {
  env "${vardex_env[@]}" "$wine" "$vardex" </dev/null >/dev/null 2>"${events_log:-/dev/null}" &
  vx_pid=$!
}

e2e_wait_vardex() {
  for _ in $(seq 1 60); do
    labels >/dev/null && break
    kill -0 "$vx_pid" 2>/dev/null || fail "Vardex exited at start-up"
    sleep 0.5
  done
  labels >/dev/null || fail "Vardex's window did not appear"
  [ -z "${E2E_GIVEN_LOCKED:-}" ] && return 0
  local lock
  for _ in $(seq 1 10); do
    lock=$("$wine" "$read_labels" --lock </dev/null 2>/dev/null | tr -d '\r')
    [ "$lock" = locked ] && break
    sleep 0.5
  done
  kill -0 "$vx_pid" 2>/dev/null || fail "Vardex exited after start-up (its settings read '$lock')"
  [ "$lock" = locked ] || fail "with a password in vardex.ini Vardex's settings are $lock"
  echo "Vardex's settings are locked"
}

# Vardex hides its window at once and its icon shows up in Wine's tray
# window. Wine without a window manager then hands the activation to no
# other program: a click into the program gives it back, as the user's
# would (e2e_type makes it).
e2e_wait_hidden() {
  for _ in $(seq 1 40); do
    [ -z "$(xdotool search --onlyvisible --name 'Vardex by Pellow')" ] &&
      [ -n "$(xdotool search --onlyvisible --name 'Wine System Tray')" ] && break
    sleep 0.25
  done
  sleep 1
}

e2e_start() {
  e2e_prepare
  e2e_start_programs
  e2e_start_vardex
  e2e_wait_vardex
  e2e_wait_hidden
}

# While typing: after the first presence check has hooked the program, every
# tick sees activity, so the count never passes one tick's worth. The click
# that starts it is long forgotten by the end of the typing.
e2e_type() {
  local start max_typing=0 readings="" keys="" elapsed ratio key tip max_allowed
  xdotool mousemove --window "$np_window" 300 300 click 1
  echo "Vardex runs; typing into $window_name ($copies running, the last one typed into) every ${type_every}s for ${typing_for}s"
  start=$(date +%s)
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
  if [ -n "${E2E_HELPERS:-}" ]; then
    [ "$(helper_hosts)" -eq "$E2E_HELPERS" ] || fail "$(helper_hosts) helpers run, expected $E2E_HELPERS"
  fi
  # Keys at most a tick apart reset the count at every tick; further apart, a
  # tick may come between two keys.
  max_allowed=$(( 2 * tick ))
  [ "$type_every" -gt 3 ] && max_allowed=$(( 3 * tick ))
  [ "$max_typing" -le "$max_allowed" ] || fail "the idle count reached $max_typing while typing"
  if [ -n "${E2E_UNHOOKED:-}" ]; then
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
}

# Typing stops: the count grows past the limit and the program is ended,
# counted from the last keystroke (or from what the scenario moves
# idle_from to).
e2e_idle_until_ended() {
  local elapsed ratio
  idle_from=${idle_from:-$typed_at}
  readings="" ratios="" max_idle=0
  while a_notepad_running && [ $(( $(date +%s) - idle_from )) -lt $(( limit + 6 * tick + grace )) ]; do
    sleep 2
    if declare -F on_idle_poll >/dev/null; then on_idle_poll; fi
    read -r elapsed ratio _ <<<"$(labels)"
    readings+=" $elapsed" ratios+=" $ratio"
    [ "${elapsed:-0}" -gt "$max_idle" ] && max_idle=$elapsed
  done
  ended_after=$(( $(date +%s) - idle_from ))
}

e2e_check_ended() {  # [GRACE]
  local elapsed ratio bound
  read -r elapsed ratio _ <<<"$(labels)"
  echo "after typing, LblElapsedTime read:$readings, then $elapsed"
  echo "after typing, lblCompletionRatio read:$ratios"
  a_notepad_running && fail "a notepad still runs ${ended_after}s after the typing stopped"
  # Polling adds up to a few seconds to the limit, two ticks and the grace period.
  bound=$(( limit + 2 * tick + ${1:-$grace} + 5 ))
  [ "$ended_after" -le "$bound" ] || fail "notepad was ended only after ${ended_after}s"
  [ "$ended_after" -ge "$limit" ] || fail "notepad was ended after ${ended_after}s, within the limit"
  [ "${elapsed:-0}" -gt "$limit" ] || fail "LblElapsedTime shows ${elapsed:-nothing}, not past the limit"
  [ "$max_idle" -gt $(( 2 * tick )) ] || fail "the idle count never grew after the typing stopped"
  kill -0 "$vx_pid" 2>/dev/null || fail "Vardex did not keep running"
}

e2e_finish() {
  if [ -n "${E2E_HELPERS:-}" ]; then
    kill -9 "$vx_pid"; wait "$vx_pid" 2>/dev/null; vx_pid=""
    # The helper notices its client's death through the wineserver, which can
    # take seconds on a loaded machine: give it 30 s, then name what still runs.
    local killed
    killed=$(date +%s)
    while [ "$(helper_hosts)" -ne 0 ] && [ $(( $(date +%s) - killed )) -lt 30 ]; do sleep 0.5; done
    [ "$(helper_hosts)" -eq 0 ] ||
      fail "a helper outlived the killed Vardex: $(ps -eo pid=,args= | grep -F TessikHost64 | grep -v grep)"
  fi
  echo "PASS: notepad ended ${ended_after}s after the last keystroke"
}
