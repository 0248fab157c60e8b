#!/usr/bin/env bash
# regsvr32 and regsvr32 /u on Tessik.dll, every registry entry checked value
# by value, in the registry view of the DLL's bitness (PLATFORM: win32 or
# win64, where its type library is registered). Ends with the component
# registered again.
#   registry_test.sh WINE DLL PLATFORM
set -u
wine=$1 dll=$2 platform=$3
win_dll=$(winepath -w "$dll")
CLSID='{54B9618F-0001-4EF4-9580-1E76F22402CA}'
LIBID='{390FA192-6B72-4930-B4F8-4DA3C5F9F81C}'

regsvr() { "$wine" regsvr32 /s "$@" "$win_dll" </dev/null >/dev/null 2>&1; }
trap 'regsvr' EXIT

FAIL_LATER=1
. "$(dirname "$0")/../lib/common.sh"

# Prints "TYPE|DATA" of a value ("" for the default value), nothing if absent.
value() {
  local key=$1 name=$2 out
  if [ -z "$name" ]; then
    out=$("$wine" reg query "HKCR\\$key" /ve 2>/dev/null | tr -d '\r') || return 0
    echo "$out" | sed -n 's/^    (Default)    \(REG_[A-Z_]*\)    \{0,1\}\(.*\)$/\1|\2/p' | head -1
  else
    out=$("$wine" reg query "HKCR\\$key" /v "$name" 2>/dev/null | tr -d '\r') || return 0
    echo "$out" | sed -n "s/^    $name    \(REG_[A-Z_]*\)    \{0,1\}\(.*\)\$/\1|\2/p" | head -1
  fi
}
key_exists() { "$wine" reg query "HKCR\\$1" </dev/null >/dev/null 2>&1; }
expect() {  # key, value name, data
  local got; got=$(value "$1" "$2")
  [ "$got" = "REG_SZ|$3" ] || fail "HKCR\\$1 [${2:-default}]: expected REG_SZ '$3', got '$got'"
}

entries=(
  "Hooks.MouseKeyboard.1||Mouse Keyboard Hook Control"
  "Hooks.MouseKeyboard.1\\CLSID||$CLSID"
  "Hooks.MouseKeyboard||Mouse Keyboard Hook Control"
  "Hooks.MouseKeyboard\\CLSID||$CLSID"
  "Hooks.MouseKeyboard\\CurVer||Hooks.MouseKeyboard.1"
  "CLSID\\$CLSID||Mouse Keyboard Hook Control"
  "CLSID\\$CLSID\\ProgID||Hooks.MouseKeyboard.1"
  "CLSID\\$CLSID\\VersionIndependentProgID||Hooks.MouseKeyboard"
  "CLSID\\$CLSID\\InprocServer32||$win_dll"
  "CLSID\\$CLSID\\InprocServer32|ThreadingModel|Apartment"
  "CLSID\\$CLSID\\TypeLib||$LIBID"
)
keys=(Hooks.MouseKeyboard.1 Hooks.MouseKeyboard "CLSID\\$CLSID" "TypeLib\\$LIBID")

check_registered() {
  local e key name data
  for e in "${entries[@]}"; do
    IFS='|' read -r key name data <<<"$e"
    expect "$key" "$name" "$data"
  done
  key_exists "CLSID\\$CLSID\\Programmable" || fail "Programmable key missing"
  local prog; prog=$("$wine" reg query "HKCR\\CLSID\\$CLSID\\Programmable" 2>/dev/null | tr -d '\r' | grep -c '    REG_')
  [ "$prog" = 0 ] || fail "Programmable key is not empty"
  expect "TypeLib\\$LIBID\\1.0" "" "Tessik 1.0 Type Library"
  expect "TypeLib\\$LIBID\\1.0\\409\\$platform" "" "$win_dll"
}

check_unregistered() {
  local k
  for k in "${keys[@]}"; do
    key_exists "$k" && fail "HKCR\\$k still there after unregistration"
  done
  key_exists CLSID || fail "HKCR\\CLSID itself was removed"
}

echo "== unregistration, twice (the second with nothing registered)"
regsvr /u || fail "regsvr32 /u returned $?"
check_unregistered
regsvr /u || fail "regsvr32 /u with nothing registered returned $?"

echo "== registration"
regsvr || fail "regsvr32 returned $?"
check_registered

echo "== registration replaces the class key's earlier content"
"$wine" reg add "HKCR\\CLSID\\$CLSID\\Stale" /f >/dev/null 2>&1
"$wine" reg add "HKCR\\CLSID\\$CLSID\\Programmable" /v Stale /d x /f >/dev/null 2>&1
regsvr || fail "regsvr32 (again) returned $?"
key_exists "CLSID\\$CLSID\\Stale" && fail "stale subkey of the class key survived registration"
[ -z "$(value "CLSID\\$CLSID\\Programmable" Stale)" ] || fail "stale value under Programmable survived"
check_registered

echo "== unregistration after registration"
regsvr /u || fail "regsvr32 /u returned $?"
check_unregistered

[ $failures -eq 0 ] && echo "all registry checks passed"
exit $((failures > 0))
