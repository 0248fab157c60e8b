#!/usr/bin/env bash
# Tessik.dll exports exactly the four COM server entry points, undecorated.
set -u
objdump=$1 dll=$2
got=$("$objdump" -p "$dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | sed -n 's/^\s*\[ *[0-9]*\] //p' | sort)
want=$(printf '%s\n' DllCanUnloadNow DllGetClassObject DllRegisterServer DllUnregisterServer)
if [ "$got" != "$want" ]; then
  echo "exports of $dll:"; echo "$got"; echo "expected:"; echo "$want"; exit 1
fi
echo "$dll exports: $(echo $got)"
