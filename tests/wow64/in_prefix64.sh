#!/usr/bin/env bash
# Runs a command in the 64-bit (WoW64) Wine prefix that tools/test makes
# (VARDEX_WINEPREFIX64); without one the test is skipped (exit 77).
[ -n "${VARDEX_WINEPREFIX64:-}" ] || { echo "no 64-bit Wine prefix (VARDEX_WINEPREFIX64)"; exit 77; }
export WINEPREFIX=$VARDEX_WINEPREFIX64 WINEARCH=win64
exec "$@"
