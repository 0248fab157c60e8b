#!/usr/bin/env bash
# Fails when a binary imports a DLL that Windows itself does not ship
# (a MinGW runtime such as libstdc++-6.dll or libwinpthread-1.dll).
set -u
objdump=$1; shift
allowed='^(kernel32|user32|gdi32|advapi32|shell32|ole32|oleaut32|comctl32|comdlg32|uxtheme|shlwapi|msvcrt|psapi|version)\.dll$'
status=0
for bin in "$@"; do
  dlls=$("$objdump" -p "$bin" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z')
  [ -n "$dlls" ] || { echo "$bin: no imports found"; status=1; continue; }
  for d in $dlls; do
    if ! [[ $d =~ $allowed ]]; then
      echo "$bin imports $d, which is not a system DLL"; status=1
    fi
  done
  echo "$bin: $(echo $dlls | tr '\n' ' ')"
done
exit $status
