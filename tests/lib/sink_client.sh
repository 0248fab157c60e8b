# What the shell tests that drive tessik_sink.exe (a client of the component
# that takes commands on standard input) share: a work folder, the processes
# that end with the test, failing with every output shown, waiting for lines,
# the client's commands, finding a Wine program's window and bringing it to
# the foreground.
#   . tests/lib/sink_client.sh    with $wine and $bin set
work=$(mktemp -d)
pids=()
sink_pid="" sink_out=""

cleanup() {
  exec 3>&- 2>/dev/null
  local p
  for p in $sink_pid "${pids[@]}"; do kill "$p" 2>/dev/null; done
  for p in $sink_pid "${pids[@]}"; do wait "$p" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT

. "$(dirname "${BASH_SOURCE[0]}")/common.sh"
fail_details() {
  local f
  for f in "$work"/*.out; do echo "--- $(basename "$f")"; tr -d '\r' <"$f"; done
}

# Waits (at most 10 s, or $4 tenths of a second) until FILE holds at least N
# lines matching PATTERN.
wait_count() {
  local file=$1 pattern=$2 n=$3 i
  for i in $(seq 1 "${4:-100}"); do
    [ "$(tr -d '\r' <"$file" 2>/dev/null | grep -cxE "$pattern")" -ge "$n" ] && return 0
    sleep 0.1
  done
  return 1
}
count() { tr -d '\r' <"$1" | grep -cxE "$2"; }

# Starts a client on fd 3; its output goes to $work/NAME.out ($sink_out).
start_sink() {  # NAME
  rm -f "$work/sink.in"
  mkfifo "$work/sink.in"
  "$wine" "$bin/tessik_sink.exe" <"$work/sink.in" >"$work/$1.out" 2>&1 &
  sink_pid=$! sink_out="$work/$1.out"
  exec 3>"$work/sink.in"
  wait_count "$sink_out" 'ready' 1 || fail "the client $1 did not start"
}
answer_pattern='(set|sets|get|pong|unknown) ?.*'
command() {  # COMMAND [TIMEOUT_TENTHS]: prints the answer line
  local n=$(( $(count "$sink_out" "$answer_pattern") + 1 ))
  echo "$1" >&3
  wait_count "$sink_out" "$answer_pattern" "$n" "${2:-100}" || { echo "no answer"; return; }
  tr -d '\r' <"$sink_out" | grep -xE "$answer_pattern" | sed -n "${n}p"
}
expect_answer() {
  local got
  got=$(command "$1")
  [ "$got" = "$2" ] || fail "$1: answered '$got', expected '$2'"
}

# The X window of a Wine program's top-level window (at most 10 s).
window_of() {  # PID NAME
  local i w
  for i in $(seq 1 100); do
    w=$(xdotool search --all --pid "$1" --name "$2" 2>/dev/null | head -1)
    [ -n "$w" ] && { echo "$w"; return 0; }
    sleep 0.1
  done
  return 1
}

# Starts Wine's notepad with LOADER (wine, or wine64 for the 64-bit one) with
# its window at X Y, 480x360, where it takes its place from the registry (two
# copies would otherwise open on top of each other); sets np_pid, np_window.
start_notepad() {  # LOADER X Y
  printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Microsoft\\Notepad]\n"iWindowPosX"=dword:%08x\n"iWindowPosY"=dword:%08x\n"iWindowPosDX"=dword:%08x\n"iWindowPosDY"=dword:%08x\n' \
    "$2" "$3" 480 360 >"$work/notepad.reg"
  "$wine" reg import "$(winepath -w "$work/notepad.reg")" </dev/null >/dev/null 2>&1 || return 1
  "$1" 'C:\windows\system32\notepad.exe' </dev/null >/dev/null 2>&1 &
  np_pid=$!
  pids+=("$np_pid")
  np_window=$(window_of "$np_pid" Notepad)
}

# Without a window manager, Wine takes a window back into the foreground on
# a click, not on a focus change alone.
click_into() {  # WINDOW
  local X Y WIDTH HEIGHT SCREEN WINDOW
  eval "$(xdotool getwindowgeometry --shell "$1")"
  xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 2)) click 1
  xdotool windowfocus --sync "$1" 2>/dev/null || xdotool windowfocus "$1"
  sleep 0.3
}
