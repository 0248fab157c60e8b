#!/usr/bin/env bash
# Vardex started twice, 0.4 s apart, as from the Run entry at logon and the
# Start menu's shortcut at once: one Vardex remains, the second brings the
# first's window back and ends. The settings tool (E2E_SETTINGS_TOOL)
# writes the settings. Once Vardex runs, the idle limit is set to 7 minutes
# by a policy value written with "reg add": the limit field shows it, with
# "Set by your administrator" beside it, within a tick, and VardexSettings
# names the policy as its source; the value deleted, the file's limit is
# back within a tick. Then the two notepads run, are typed into and ended.
#   start_up.sh WINE VARDEX READ_LABELS
. "$(dirname "$0")/../lib/e2e.sh" "$@"
[ -n "${E2E_SETTINGS_TOOL:-}" ] || fail "E2E_SETTINGS_TOOL names no VardexSettings.exe"
e2e_prepare
e2e_start_programs
e2e_start_vardex

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
e2e_wait_vardex

# Software\Policies is shared by both views on Windows, but redirected in
# a 64-bit Wine prefix: the value goes where Vardex's bitness reads.
view=/reg:32
[ "$(od -An -tx2 -j$(( $(od -An -tu4 -j60 -N4 "$vardex") + 4 )) -N2 "$vardex" | tr -d ' ')" = 8664 ] && view=/reg:64
policy_key='HKLM\Software\Policies\Vardex' policy_view=$view
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
policy_set=1
wait_shown "7|Set by your administrator" "the policy written"
took=$waited
[ "$(labels --lock)" = mixed ] || fail "with the limit set by policy, the path is not the only field enabled"
shown=$("$wine" "$E2E_SETTINGS_TOOL" show </dev/null 2>&1 | tr -d '\r')
grep -qxF 'Idle limit (minutes): 7 (policy)' <<<"$shown" || fail "VardexSettings show said: $shown"
"$wine" reg delete "$policy_key" /f $view </dev/null >/dev/null 2>&1 || fail "reg delete $policy_key failed"
policy_set=""
wait_shown "1|" "the policy removed"
grep -qx '1' < <(head -1 "$ini" | tr -d '\r') || fail "vardex.ini's limit is now $(head -1 "$ini")"
echo "a policy limit of 7 shown after ${took}s with its label; removed, the file's 1 back after ${waited}s"

e2e_wait_hidden
e2e_type
e2e_idle_until_ended
e2e_check_ended
e2e_finish
