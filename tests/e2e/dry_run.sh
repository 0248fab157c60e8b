#!/usr/bin/env bash
# The policy's dry run (DryRun = 1 under HKLM\SOFTWARE\Policies\Vardex,
# removed after): once the typing stops notepad is warned and reported as
# "would have been ended" (ReportEventW on Wine's eventlog channel), and
# still runs 3 minutes later.
#   dry_run.sh WINE VARDEX READ_LABELS
E2E_POLICY_VALUE=DryRun
. "$(dirname "$0")/../lib/e2e.sh" "$@"
e2e_start
e2e_type

# Event ids: 1000 watching started, 1001 warned, 1009 would have been ended,
# 1003 asked to close, 1005 ended.
while [ $(( $(date +%s) - typed_at )) -lt 180 ]; do
  sleep 5
  notepads_running || fail "notepad was ended $(( $(date +%s) - typed_at ))s after the typing stopped, in a dry run"
done
grep -m3 'ReportEventW' "$events_log" | cut -c1-200
[ "$(reported 3e8)" -ge 1 ] || fail "no 'watching started' (1000) reported"
[ "$(reported 3e9)" -ge 1 ] || fail "notepad's warning (1001) was not reported"
[ "$(reported 3f1)" -eq 1 ] || fail "$(reported 3f1) reports of 'would have been ended' (1009), not one"
[ "$(reported 3eb)" -eq 0 ] && [ "$(reported 3ed)" -eq 0 ] || fail "a request to close or an end was reported"
grep 'ReportEventW.*,0x0*3f1,' "$events_log" | cut -c1-200
echo "PASS: dry run: notepad warned, reported as would have been ended once, and still runs 180s after the typing"
