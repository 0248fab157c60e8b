#!/usr/bin/env bash
# Registers Tessik.dll in the Wine prefix: the fixture of the COM tests.
set -u
wine=$1 dll=$2
"$wine" regsvr32 /s "$(winepath -w "$dll")" </dev/null || { echo "regsvr32 failed: $?"; exit 1; }
