#!/usr/bin/env bash
# Without Tessik.dll registered, Vardex tells the user which component is
# missing and how to register it, then ends with exit code 1 and nothing
# shown besides the message. Registers the component again at the end.
set -u
wine=$1 vardex=$2 tessik=$3 read_labels=$4

dll=$(winepath -w "$tessik")
trap '"$wine" regsvr32 /s "$dll" </dev/null >/dev/null 2>&1' EXIT
"$wine" regsvr32 /u /s "$dll" </dev/null >/dev/null 2>&1

rcfile=$(mktemp)
( "$wine" "$vardex" </dev/null >/dev/null 2>&1; echo $? >"$rcfile" ) &
box=$(timeout 30 xdotool search --sync --onlyvisible --name '^Vardex$' | head -1)
if [ -z "$box" ]; then echo "FAIL: no message box"; rm -f "$rcfile"; exit 1; fi
shown=$(xdotool search --onlyvisible --name 'Vardex by Pellow' | wc -l)
message=$("$wine" "$read_labels" --message </dev/null 2>/dev/null | tr -d '\r')
echo "message: $message"
xdotool windowfocus --sync "$box"
xdotool key Return
wait
rc=$(cat "$rcfile"); rm -f "$rcfile"
[ "$shown" -eq 0 ] || { echo "FAIL: the main window was shown"; exit 1; }
[ "$rc" = 1 ] || { echo "FAIL: exit code $rc, not 1"; exit 1; }
case "$message" in
  *'"Hooks.MouseKeyboard"'*'regsvr32 Tessik.dll'*) ;;
  *) echo "FAIL: the message names neither the component nor how to register it"; exit 1 ;;
esac
echo "PASS: message box, exit code 1"
