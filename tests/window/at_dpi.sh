#!/usr/bin/env bash
# Runs a Windows program under Wine with the system DPI set to <dpi>, then
# puts the prefix's setting back as it was.
#   at_dpi.sh <dpi> <program> [arguments...]
set -euo pipefail
dpi=$1
shift
key='HKCU\Control Panel\Desktop'
old=$(wine reg query "$key" /v LogPixels 2>/dev/null | tr -d '\r' | awk '$1 == "LogPixels" { print $3 }' || true)
restore() {
  if [ -n "$old" ]; then
    wine reg add "$key" /v LogPixels /t REG_DWORD /d "$((old))" /f >/dev/null 2>&1 || true
  else
    wine reg delete "$key" /v LogPixels /f >/dev/null 2>&1 || true
  fi
}
trap restore EXIT
wine reg add "$key" /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
export VARDEX_EXPECTED_DPI=$dpi
wine "$@"
