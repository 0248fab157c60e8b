#!/usr/bin/env bash
# Vardex.exe asks before it ends (DISPLAY and WINEPREFIX come from tools/test;
# Tessik.dll is registered by the fixture). Two copies of the helper's
# target, the watched program, are left idle past a 1-minute limit at once:
#  - one saves its text when asked to close and exits by itself: its exit
#    code is its own, never Vardex's;
#  - one ignores the request: it is ended 30 s (and at most a tick and the
#    polling) after the first one went, not before; Vardex's UI thread
#    answers within a second all the while.
#   vardex_closing.sh WINE VARDEX HELPER
set -u
wine=$1 vardex=$2 helper=$3

work=$(mktemp -d)
sysdir=$(winepath -u 'C:\windows\system32' 2>/dev/null)
ini="$sysdir/vardex.ini"
vardex_pid="" saver="" ignorer="" saved=""

cleanup() {
  local p
  for p in $vardex_pid $saver $ignorer; do kill "$p" 2>/dev/null; done
  for p in $vardex_pid $saver $ignorer; do wait "$p" 2>/dev/null; done
  if [ -n "$saved" ]; then mv -f "$saved" "$ini"; else rm -f "$ini"; fi
  rm -rf "$work"
}
trap cleanup EXIT

. "$(dirname "$0")/../lib/common.sh"
helper() { "$wine" "$helper" "$@" </dev/null 2>/dev/null | tr -d '\r'; }
fail_details() { echo "--- Vardex's event labels"; helper labels; }

if [ -f "$ini" ]; then saved="$ini.closing-saved"; cp -f "$ini" "$saved"; fi
printf '1\r\n%s\r\nunset entry\r\n' "$(winepath -w "$helper")" >"$ini"

save_file="$work/saved.txt"
# Started from this shell, whose children they stay: their exit codes count.
start_target() {  # NAME ARGS...
  local name=$1
  shift
  "$wine" "$helper" target --title "$name" "$@" </dev/null >"$work/$name.out" 2>&1 &
}
start_target Saver --save-on-close "$(winepath -w "$save_file")"
saver=$!
start_target Ignorer
ignorer=$!
for name in Saver Ignorer; do
  for _ in $(seq 1 40); do grep -q '^ready' "$work/$name.out" && break; sleep 0.25; done
  grep -q '^ready' "$work/$name.out" || fail "the target $name did not start"
done

"$wine" "$vardex" </dev/null >/dev/null 2>&1 &
vardex_pid=$!
started=$(date +%s)
for _ in $(seq 1 60); do
  vx_win=$(helper pid-of 'Vardex by Pellow' | grep -xE '[0-9]+')
  [ -n "$vx_win" ] && break
  kill -0 "$vardex_pid" 2>/dev/null || fail "Vardex exited at start-up"
  sleep 0.5
done
[ -n "$vx_win" ] || fail "Vardex's window did not appear"
helper wait-relay "$vx_win" | grep -qx relay || fail "Vardex did not start watching the targets"

# Poll until all three are gone: when each went, and whether Vardex answered
# at every poll while the end was pending.
saver_at="" ignorer_at="" answers=0 silent=0
while [ $(( $(date +%s) - started )) -lt 140 ]; do
  now=$(date +%s)
  [ -z "$saver_at" ] && ! kill -0 "$saver" 2>/dev/null && saver_at=$now
  [ -z "$ignorer_at" ] && ! kill -0 "$ignorer" 2>/dev/null && ignorer_at=$now
  [ -n "$saver_at" ] && [ -n "$ignorer_at" ] && break
  if [ -n "$saver_at" ]; then
    if [ "$(helper answers "$vx_win")" = answered ]; then answers=$((answers + 1)); else silent=$((silent + 1)); fi
  fi
  sleep 0.5
done
[ -n "$saver_at" ] || fail "the copy that saves on request still runs after 140 s"
# Only what has gone is waited for.
wait "$saver"; saver_code=$?
saver=""
ignorer_code=""
if [ -n "$ignorer_at" ]; then wait "$ignorer"; ignorer_code=$?; ignorer=""; fi
echo "the saver went $(( saver_at - started ))s after Vardex started (exit code $saver_code)," \
     "the one that ignores $(( ${ignorer_at:-now} - saver_at ))s after it (exit code $ignorer_code);" \
     "Vardex answered $answers times, silent $silent"
[ "$(( saver_at - started ))" -ge 60 ] || fail "the saver was asked within the limit"
[ "$saver_code" -eq 42 ] || fail "the saver's exit code is $saver_code: it did not close by itself"
grep -q '^saved' "$save_file" 2>/dev/null || fail "the saver wrote nothing"
[ -n "$ignorer_at" ] || fail "the copy that ignores the request still runs"
[ "$(( ignorer_at - saver_at ))" -ge 29 ] || fail "the copy that ignores the request was ended before the grace period was over"
[ "$(( ignorer_at - saver_at ))" -le 34 ] || fail "the copy that ignores the request was ended only $(( ignorer_at - saver_at ))s after the request"
[ "${ignorer_code:-0}" -eq 1 ] || fail "the copy that ignores the request exited with $ignorer_code, not Vardex's end"
[ "$answers" -gt 10 ] && [ "$silent" -eq 0 ] || fail "Vardex's UI thread did not answer within a second while the end was pending"
kill -0 "$vardex_pid" 2>/dev/null || fail "Vardex ended"
echo "PASS: asked first; the saver closed by itself, the others were ended after the grace period"
