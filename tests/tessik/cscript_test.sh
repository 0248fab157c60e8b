#!/usr/bin/env bash
# Runs a VBScript client under Wine's cscript. Wine's host hides runtime
# errors, so the script checks Err itself and reports through its exit code.
set -u
wine=$1 script=$2
out=$("$wine" cscript //nologo "$(winepath -w "$script")" </dev/null 2>&1)
rc=$?
echo "$out" | tr -d '\r'
[ $rc -eq 0 ] || { echo "$script failed with exit code $rc"; exit 1; }
echo "$out" | grep -q "late binding ok" || { echo "$script did not run to its end"; exit 1; }
