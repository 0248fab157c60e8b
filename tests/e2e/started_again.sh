#!/usr/bin/env bash
# After the end: the count that ended notepad stays above the limit, and
# notepad started again is a new run with a count of its own, so it runs at
# least the limit before it is ended. With E2E_HAND_OVER (hand_over.exe),
# once it has been idle 48 s, a key into another window and a launcher that
# brings it to the front and exits are use: it runs at least 55 s after
# them; with E2E_HAND_OVER_DELAY the launcher is a heavy one, a hidden copy
# of notepad started from outside, that hands over that many seconds after
# the key. Then WordPad's path without ".exe" typed into Vardex's window
# names no program: WordPad, typed into for 100 s, is neither counted nor
# ended.
#   started_again.sh WINE VARDEX READ_LABELS
. "$(dirname "$0")/../lib/e2e.sh" "$@"
# The loader that starts notepad starts it, so it is the 64-bit WordPad in a
# 64-bit prefix; its path without ".exe" names no program.
other_win='C:\Program Files\Windows NT\Accessories\wordpad.exe'
cut_path=${other_win%.exe}
e2e_start
e2e_type
e2e_idle_until_ended
e2e_check_ended

[ -f "$(winepath -u "$other_win" 2>/dev/null)" ] || fail "no $other_win"
np_pids=() np_windows=()
start_program
restarted=$(date +%s)
"$notepad_loader" "$other_win" </dev/null >/dev/null 2>&1 &
other_pid=$!
handed=""
while a_notepad_running && [ $(( $(date +%s) - ${handed:-$restarted} )) -lt $(( limit + 4 * tick + grace )) ]; do
  sleep 1
  if [ -n "${E2E_HAND_OVER:-}" ] && [ -z "$handed" ] && [ $(( $(date +%s) - restarted )) -ge 48 ]; then
    # The user double-clicks a document elsewhere (the key stands for it);
    # its launcher hands over to notepad and exits.
    key_elsewhere
    handed=$(date +%s%N)
    launcher=(Notepad)
    [ -n "${E2E_HAND_OVER_DELAY:-}" ] && launcher+=("$(( E2E_HAND_OVER_DELAY * 1000 ))" "$notepad_win")
    "$wine" "$E2E_HAND_OVER" "${launcher[@]}" </dev/null >/dev/null 2>&1 || fail "the launcher did not find notepad"
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
# ".exe": WordPad is not the program named, so however long it is used, it
# is neither counted nor ended.
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
e2e_finish
