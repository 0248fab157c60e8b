#!/usr/bin/env bash
# Vardex.msi under Wine, in the 64-bit (WoW64) prefix that tools/test makes:
# a silent install puts the stripped binaries into Program Files (x86) and
# writes Tessik's registration, the Run entry and the shortcut; the installed
# Vardex ends an idle notepad (tests/e2e/ended_when_idle.sh); a repair, a rebuilt
# package of the same version and an upgrade from an older one each leave one
# installation, and an older package does not replace a newer one; uninstalls
# leave nothing but vardex.ini. Tessik's registry entries are compared with
# what regsvr32 writes for the same file in the same place. The settings
# given as properties reach vardex.ini through VardexSettings.exe, a bad one
# fails the install, and no other install touches the file; the tables hold
# what Windows Installer's rules ask for; only a first install writes the
# settings, and a repair given other settings (which any user may start)
# leaves the file as the install wrote it; a signed build signs every binary
# in the package and the package.
#   msi_test.sh wine Vardex.msi ended_when_idle.sh read_labels.exe build_msi.cmake cmake -D...
set -u
wine=$1 msi=$2 e2e=$3 read_labels=$4 build_script=$5
shift 5
build_msi=("$@")   # cmake with the package's -D variables but VERSION and OUT

[ -n "${VARDEX_WINEPREFIX64:-}" ] || { echo "FAIL: no 64-bit prefix (VARDEX_WINEPREFIX64; tools/test makes it)"; exit 1; }
export WINEPREFIX=$VARDEX_WINEPREFIX64
unset WINEARCH   # the 32-bit prefix's win32 would refuse this prefix
wine64=${WINE64:-/usr/lib/wine/wine64}
release=$(dirname "$msi")/release
drive_c=$WINEPREFIX/drive_c
installed=$drive_c/'Program Files (x86)/Vardex'
sysdir=$(winepath -u 'C:\windows\system32' 2>/dev/null)   # a 32-bit program's: syswow64
run_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Run'

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
FAIL_LATER=1
. "$(dirname "$0")/../tests/lib/common.sh"
msiexec() {  # option, package, properties...
  local option=$1 package; package=$(winepath -w "$2"); shift 2
  "$wine64" msiexec "$option" "$package" "$@" /qn </dev/null >/dev/null 2>&1
}

# HKLM\Software\Classes (both views) as sorted "key" and "key|value" lines.
snapshot() {
  "$wine" reg export 'HKLM\Software\Classes' "$(winepath -w "$tmp/export.reg")" /y </dev/null >/dev/null 2>&1
  iconv -f UTF-16 -t UTF-8 "$tmp/export.reg" | tr -d '\r' |
    awk '/^\[/ { key = substr($0, 2, length($0) - 2); print key; next } NF { print key "|" $0 }' | sort >"$1"
}
# What $2 adds to $1, without the installer's own bookkeeping.
added() { comm -13 "$1" "$2" | grep -v '^HKEY_LOCAL_MACHINE\\Software\\Classes\\Installer' || true; }

installations() {
  local v
  for v in 32 64; do
    "$wine" reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s /reg:$v 2>/dev/null
  done | tr -d '\r' | grep -c '^    DisplayName    REG_SZ    Vardex$'
}
installed_version() {
  "$wine" reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s /reg:32 2>/dev/null | tr -d '\r' |
    awk '/DisplayName    REG_SZ    Vardex$/ { found = 1 } found && /DisplayVersion/ { print $3; exit }'
}
event_source_key='HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\Vardex'
event_source() { "$wine" reg query "$event_source_key" 2>/dev/null | tr -d '\r' | sed -n 's/^    \([A-Za-z]*\)    REG_[A-Z_]*    /\1=/p' | sort | tr '\n' ' '; }
run_value() { "$wine" reg query "$run_key" /v Vardex /reg:32 2>/dev/null | tr -d '\r' | sed -n 's/^    Vardex    REG_SZ    //p'; }
shortcut() { find "$drive_c" -path '*/Start Menu/Programs/Vardex.lnk' 2>/dev/null | head -1; }
expect_one() {  # what, version
  local n; n=$(installations)
  [ "$n" = 1 ] || fail "$1: $n installations of Vardex, not one"
  [ "$(installed_version)" = "$2" ] || fail "$1: installed version '$(installed_version)', not $2"
}
# Every release binary (the 64-bit hook companion too, when built).
binaries() { (cd "$release" && ls -- *.exe *.dll 2>/dev/null); }
expect_installed() {  # what
  local f
  for f in $(binaries); do
    cmp -s "$installed/$f" "$release/$f" || fail "$1: $f is not the stripped release copy"
  done
  # The administrative templates, beside the binaries.
  for f in Vardex.admx en-US/Vardex.adml; do
    cmp -s "$installed/$f" "$release/$f" || fail "$1: $f is not the package's template"
  done
  [ "$(ls "$installed" | sort)" = "$( (binaries; echo Vardex.admx; echo en-US) | sort)" ] ||
    fail "$1: installed $(ls "$installed" | tr '\n' ' ')"
  [ -n "$(shortcut)" ] || fail "$1: no Start-menu shortcut"
  [ "$(run_value)" = '"C:\Program Files (x86)\Vardex\Vardex.exe"' ] || fail "$1: Run entry is '$(run_value)'"
  [ "$(event_source)" = 'EventMessageFile=C:\Program Files (x86)\Vardex\Vardex.exe TypesSupported=0x7 ' ] ||
    fail "$1: the event source is '$(event_source)'"
}
expect_removed() {  # what, snapshot before any install
  [ ! -e "$installed" ] || fail "$1: $(ls "$installed" | tr '\n' ' ') left in Program Files (x86)\\Vardex"
  [ -z "$(shortcut)" ] || fail "$1: the shortcut $(shortcut) is left"
  [ -z "$(run_value)" ] || fail "$1: the Run entry is left"
  [ -z "$(event_source)" ] || fail "$1: the event source is left: $(event_source)"
  [ "$(installations)" = 0 ] || fail "$1: Vardex is still listed as installed"
  snapshot "$tmp/now"
  local left; left=$(added "$2" "$tmp/now")
  [ -z "$left" ] || fail "$1: registry entries left: $(echo "$left" | cut -d'|' -f1 | sort -u | head -5)"
}
build_package() {  # version, output
  "${build_msi[@]}" -DVERSION="$1" -DOUT="$2" -P "$build_script" >/dev/null || fail "building a $1 package"
}

table() { msiinfo export "$1" "$2" | tr -d '\r' | tail -n +4; }
version=$(table "$msi" Property | sed -n 's/^ProductVersion\t//p')

echo "== the package's tables"
table "$msi" RemoveRegistry >"$tmp/remove"
[ -s "$tmp/remove" ] || fail "no RemoveRegistry rows"
! awk -F'\t' '$2 != 2 || index($3, "Software\\Classes\\") != 1' "$tmp/remove" | grep . ||
  fail "RemoveRegistry rows outside HKLM's classes key"
release_version=$(strings -el "$release/Vardex.exe" | sed -n '/^FileVersion$/{n;p;q}')
# Fields apart by a unit separator: read merges runs of tabs, and an empty
# Version would take the next field's value.
while IFS=$'\037' read -r key _ name _ file_version language _; do
  long=${name#*|}
  [[ $name == *'|'* || $long =~ ^[A-Za-z0-9_-]{1,8}(\.[A-Za-z0-9_-]{1,3})?$ ]] || fail "$long has no short name"
  # The templates are text: no version, and a hash for repairs.
  if [[ $long != *.exe && $long != *.dll ]]; then
    [ -z "$file_version" ] || fail "the template $long has Version '$file_version'"
    table "$msi" MsiFileHash | cut -f1 | grep -qx "$key" || fail "the template $long has no MsiFileHash row"
    continue
  fi
  [ -n "$file_version" ] && [ "$language" = 1033 ] || fail "$long: Version '$file_version', Language '$language'"
  [ "$long" != Vardex.exe ] || [ "$file_version" = "$release_version" ] ||
    fail "Vardex.exe's Version $file_version is not its resource's $release_version"
  table "$msi" MsiFileHash | cut -f1 | grep -qx "$key" && fail "the versioned $long has an MsiFileHash row"
done < <(table "$msi" File | tr '\t' '\037')
table "$msi" Property | grep -qx $'MSIRMSHUTDOWN\t2' || fail "MSIRMSHUTDOWN is not 2"
table "$msi" Property | grep -qx $'MsiHiddenProperties\tPASSWORD' || fail "PASSWORD is not a hidden property"
shortcut_component=$(table "$msi" Shortcut | cut -f4)
read -r attributes key_path < <(table "$msi" Component | awk -F'\t' -v c="$shortcut_component" '$1 == c { print $4, $6 }')
[ $(( ${attributes:-0} & 4 )) -ne 0 ] &&
  [ "$(table "$msi" Registry | awk -F'\t' -v k="$key_path" '$1 == k { print $2 }')" = 1 ] ||
  fail "the shortcut's component $shortcut_component is not keyed by an HKCU value"
# Deferred (1024), without impersonation (2048), its command line hidden
# (8192); after InstallFiles and inside the script, as Windows requires (Wine
# also runs a deferred action after InstallFinalize); the old product removed
# before anything is installed.
for type in $(table "$msi" CustomAction | awk -F'\t' '/^WriteSettings/ { print $2 }') none; do
  [ "$type" = none ] || [ $(( type & 11264 )) -eq 11264 ] || fail "a settings action of type $type"
done
sequence() { table "$msi" InstallExecuteSequence | awk -F'\t' -v a="$1" '$1 == a { print $3 }'; }
# Only a first install (a major upgrade's is one) writes the settings, and no
# standard user's value of them reaches the installing service.
for action in WriteSettingsLocked WriteSettingsUnlocked; do
  condition=$(table "$msi" InstallExecuteSequence | awk -F'\t' -v a="$action" '$1 == a { print $2 }')
  [[ $condition == 'NOT Installed AND PROGRAMPATH AND '* ]] || fail "$action runs on '$condition'"
done
secure=$(table "$msi" Property | sed -n 's/^SecureCustomProperties\t//p')
! grep -qwE 'IDLEMINUTES|PASSWORD|PROGRAMPATH' <<<"$secure" || fail "SecureCustomProperties names a setting: $secure"
for action in WriteSettingsLocked WriteSettingsUnlocked; do
  n=$(sequence $action)
  [ "${n:-0}" -gt "$(sequence InstallFiles)" ] && [ "$n" -lt "$(sequence InstallFinalize)" ] ||
    fail "$action at ${n:-no place} in the sequence"
done
[ "$(sequence RemoveExistingProducts)" -lt "$(sequence InstallInitialize)" ] ||
  fail "RemoveExistingProducts at $(sequence RemoveExistingProducts), after InstallInitialize"
# Other tests may have registered a Tessik.dll in this prefix: the package
# starts from none, and that registration comes back at the end.
clsid_key='HKCR\CLSID\{54B9618F-0001-4EF4-9580-1E76F22402CA}'
registered=$("$wine" reg query "$clsid_key\InprocServer32" /ve 2>/dev/null | tr -d '\r' |
  sed -n 's/^    (Default)    REG_SZ    //p')
if [ -n "$registered" ]; then
  trap '"$wine" regsvr32 /s "$registered" </dev/null; rm -rf "$tmp"' EXIT
  "$wine" regsvr32 /s /u "$registered" </dev/null
fi
snapshot "$tmp/before"
grep -q 'Hooks.MouseKeyboard\|54B9618F' "$tmp/before" && fail "Tessik is registered before the install"

# With the 64-bit companion installed, the watched notepad is the 64-bit one,
# hooked through the installed helper; without it, the 32-bit one.
if [ -e "$release/TessikHost64.exe" ]; then
  notepad='C:\windows\system32\notepad.exe' loader=$wine64 helpers=1
else
  notepad='C:\windows\syswow64\notepad.exe' loader=$wine helpers=0
fi
ini=$sysdir/vardex.ini
kept=$'7\r\n\r\nunset entry\r\n'
kept_ini() { [ "$(od -An -c "$ini" 2>/dev/null)" = "$(printf %s "$kept" | od -An -c)" ]; }

echo "== a bad IDLEMINUTES fails the install, which leaves nothing"
printf %s "$kept" >"$ini"
msiexec /i "$msi" PROGRAMPATH="$notepad" IDLEMINUTES=abc && fail "the install with IDLEMINUTES=abc succeeded"
expect_removed "refused install" "$tmp/before"
kept_ini || fail "the refused install touched vardex.ini"

echo "== install $version with the settings"
password='Pa55 word'
msiexec /i "$msi" PROGRAMPATH="$notepad" IDLEMINUTES=1 PASSWORD="$password" /l*v "$(winepath -w "$tmp/install.log")" ||
  fail "msiexec /i with the settings returned $?"
expect_one install "$version"
want=$(printf '1\r\n%s\r\n%s\r\nunset entry\r\n' "$notepad" "$password" | od -An -c)
[ "$(od -An -c "$ini")" = "$want" ] || fail "vardex.ini holds $(od -An -c "$ini")"
[ -s "$tmp/install.log" ] || fail "no /l*v log"
# Wine's closing dump of every property ignores MsiHiddenProperties, which
# Windows honours there ("**********"); nowhere else may the password appear.
! tr -d '\0' <"$tmp/install.log" | grep -vx "Property(S): PASSWORD = $password" | grep -qF "$password" ||
  fail "the password is in the log"
expect_installed install
[ ! -e "$drive_c/Program Files/Vardex" ] || fail "installed into the 64-bit Program Files"
for f in $(binaries); do
  ! grep -aq '\.debug_info' "$installed/$f" || fail "$f carries debug sections"
  [ -s "$release/$f.debug" ] || fail "no $f.debug beside the release binaries"
done
file_version=$(strings -el "$installed/Vardex.exe" | sed -n '/^FileVersion$/{n;p;q}')
case "$file_version" in "$version".*) ;; *) fail "Vardex.exe's FileVersion $file_version is not the package's $version" ;; esac
snapshot "$tmp/installed"
added "$tmp/before" "$tmp/installed" >"$tmp/msi_rows"
grep -q 'InprocServer32|@="C:\\\\Program Files (x86)\\\\Vardex\\\\Tessik.dll"' "$tmp/msi_rows" ||
  fail "no InprocServer32 pointing into the install folder"

echo "== a repair given other settings leaves vardex.ini as the install wrote it"
# A program that exists: the settings tool would refuse a path that names
# nothing, and a refused write would pass this check for the wrong reason.
other=(PROGRAMPATH='C:\windows\system32\cmd.exe' IDLEMINUTES=2 PASSWORD=other)
msiexec /i "$msi" REINSTALL=ALL REINSTALLMODE=omus "${other[@]}" || fail "the repair pass with settings returned $?"
[ "$(od -An -c "$ini")" = "$want" ] || fail "REINSTALL=ALL with settings rewrote vardex.ini: $(od -An -c "$ini")"
# Not "msiexec /f": Wine's msiexec repairs nothing by product code (it returns
# 1 at once) and takes a package's path for a product code; REINSTALL=ALL
# above is the repair /f makes on Windows.
expect_one "repair with settings" "$version"

echo "== the installed Vardex, locked, ends an idle $notepad"
E2E_NOTEPAD=$notepad E2E_NOTEPAD_LOADER=$loader E2E_HELPERS=$helpers E2E_SYSDIR='C:\windows\syswow64' \
  E2E_GIVEN_LOCKED=1 bash "$e2e" "$wine" "$installed/Vardex.exe" "$read_labels" || fail "end to end with the installed Vardex"

echo "== VardexSettings show, and a VirtualStore copy removed"
user=$("$wine" cmd /c echo %USERNAME% </dev/null 2>/dev/null | tr -d '\r')
copy=$(dirname "$(winepath -u 'C:\users\Public')")/$user/AppData/Local/VirtualStore/windows/syswow64/vardex.ini
mkdir -p "$(dirname "$copy")" && printf %s "$kept" >"$copy"
settings() { "$wine" "$installed/VardexSettings.exe" "$@" </dev/null 2>&1 | tr -d '\r'; }
# Lines end in CR LF through a pipe too: the tool writes its handles itself.
raw=$("$wine" "$installed/VardexSettings.exe" show </dev/null 2>&1)
! grep -q $'[^\r]$' <<<"$raw" || fail "VardexSettings show ended a line without CR:"$'\n'"$raw"
shown=$(tr -d '\r' <<<"$raw")
for line in 'Idle limit (minutes): 1 (settings file)' "Program: $notepad (settings file)" 'Lock: set (settings file)' \
  "  C:\\users\\$user\\AppData\\Local\\VirtualStore\\windows\\syswow64\\vardex.ini"; do
  grep -qixF -- "$line" <<<"$shown" || fail "VardexSettings show printed no '$line':"$'\n'"$shown"
done
! grep -qF "$password" <<<"$shown" || fail "VardexSettings show printed the password"
settings show --remove-copies >/dev/null || fail "VardexSettings show --remove-copies failed"
[ ! -e "$copy" ] || fail "the VirtualStore copy is left"
[ "$(od -An -c "$ini")" = "$want" ] || fail "show changed vardex.ini"
# A user's VirtualStore\windows made a link to C:\windows (Wine follows a Unix
# symbolic link as Windows follows a junction): the "copy" there is the
# shared file itself, which must survive.
store=$(dirname "$(dirname "$copy")")
rm -rf "$store" && ln -s "$drive_c/windows" "$store"
linked=$("$wine" "$installed/VardexSettings.exe" show --remove-copies </dev/null 2>&1)
rc=$?
linked=$(tr -d '\r' <<<"$linked")
rm -f "$store"
[ "$rc" = 5 ] && grep -qx '  not removed (a link)' <<<"$linked" || fail "through a link: exit $rc, printed:"$'\n'"$linked"
[ "$(od -An -c "$ini")" = "$want" ] || fail "the removal through a link touched the shared vardex.ini"

echo "== repair after Tessik.dll and its InprocServer32 key were deleted and a stale key added"
rm -f "$installed/Tessik.dll"
"$wine" reg delete "$clsid_key\InprocServer32" /f >/dev/null 2>&1
"$wine" reg add "$clsid_key\Stale" /f >/dev/null 2>&1   # the class key is replaced whole
# Wine's msiexec takes no package path after /f (it returns 69); these
# properties are the same repair.
msiexec /i "$msi" REINSTALL=ALL REINSTALLMODE=amus || fail "repair returned $?"
expect_one repair "$version"
expect_installed repair
[ "$(od -An -c "$ini")" = "$want" ] || fail "the repair without settings touched vardex.ini"
snapshot "$tmp/repaired"
added "$tmp/before" "$tmp/repaired" | cmp -s - "$tmp/msi_rows" || fail "repair: registry differs from the install's"

echo "== a rebuilt package of the same version replaces the installed one"
build_package "$version" "$tmp/same/Vardex.msi"
msiexec /i "$tmp/same/Vardex.msi" || fail "msiexec /i (same version, rebuilt) returned $?"
expect_one "same version" "$version"
expect_installed "same version"

[ "$(od -An -c "$ini")" = "$want" ] || fail "the install without settings touched vardex.ini"

echo "== uninstall, keeping vardex.ini"
printf %s "$kept" >"$ini"
msiexec /x "$tmp/same/Vardex.msi" || fail "msiexec /x returned $?"
expect_removed uninstall "$tmp/before"
kept_ini || fail "uninstall touched vardex.ini"

echo "== upgrade from 0.9.0, and no downgrade"
build_package 0.9.0 "$tmp/old/Vardex.msi"
msiexec /i "$tmp/old/Vardex.msi" || fail "msiexec /i 0.9.0 returned $?"
expect_one "old package" 0.9.0
msiexec /i "$msi" || fail "msiexec /i (upgrade) returned $?"
expect_one upgrade "$version"
expect_installed upgrade
msiexec /i "$tmp/old/Vardex.msi" && fail "the older package installed over the newer one"
expect_one "downgrade refused" "$version"
msiexec /x "$msi" || fail "msiexec /x after the upgrade returned $?"
expect_removed "uninstall after upgrade" "$tmp/before"
rm -f "$ini"

echo "== the package's registry entries are those regsvr32 writes"
mkdir -p "$installed"
cp "$release/Tessik.dll" "$installed/"
"$wine" regsvr32 /s 'C:\Program Files (x86)\Vardex\Tessik.dll' </dev/null || fail "regsvr32 returned $?"
snapshot "$tmp/registered"
"$wine" regsvr32 /s /u 'C:\Program Files (x86)\Vardex\Tessik.dll' </dev/null
rm -rf "$installed"
added "$tmp/before" "$tmp/registered" >"$tmp/reg_rows"
# Wine's msi puts a 32-bit package's HKCR keys under Wow6432Node even where
# regsvr32's 32-bit view shares them (the ProgIDs), and a package can only
# name a folder with its trailing backslash (HELPDIR): both are set aside.
normal() {
  sed -e 's/\\Wow6432Node\\/\\/' -e '/\\HELPDIR|/s/\\\\"$/"/' "$1" | sort -u
}
if ! diff <(normal "$tmp/reg_rows") <(normal "$tmp/msi_rows") >"$tmp/rows.diff"; then
  fail "registry rows differ from regsvr32's (< regsvr32, > package):"
  cat "$tmp/rows.diff"
fi
[ "$(normal "$tmp/reg_rows" | wc -l)" -gt 30 ] || fail "regsvr32 wrote only $(wc -l <"$tmp/reg_rows") lines"

echo "== a signed build: every binary in the package and the package verify against the build's CA"
osslsigncode verify -in "$msi" >/dev/null 2>&1 && fail "the default package is signed"
signed=$tmp/signed
mkdir -p "$signed/release"
(
  cd "$signed" || exit 1
  openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 -subj '/CN=Vardex test CA' \
    -addext 'basicConstraints=critical,CA:TRUE' -addext 'keyUsage=critical,keyCertSign,cRLSign' &&
  openssl req -newkey rsa:2048 -nodes -keyout sign.key -out sign.csr -subj '/CN=Vardex test signing' &&
  printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' >sign.ext &&
  openssl x509 -req -in sign.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 -extfile sign.ext -out sign.pem &&
  openssl pkcs12 -export -inkey sign.key -in sign.pem -certfile ca.pem -passout pass:throw-away -out sign.p12
) >/dev/null 2>&1 || fail "making the test certificates"
printf 'throw-away\n' >"$signed/password"
signing=(-DOSSLSIGNCODE=osslsigncode -DPKCS12="$signed/sign.p12" -DPASSFILE="$signed/password")
# The build's own steps on copies of the stripped binaries: each signed, then
# packaged, then the package signed.
cp -r "$release"/*.exe "$release"/*.dll "$release"/*.ico "$release"/Vardex.admx "$release"/en-US "$signed/release/"
for f in $(binaries); do
  cmake "${signing[@]}" -DIN="$signed/release/$f" -DOUT="$signed/release/$f" -P "$(dirname "$build_script")/sign.cmake" >/dev/null ||
    fail "signing $f"
done
"${build_msi[@]}" -DRELEASE="$signed/release" "${signing[@]}" -DVERSION="$version" -DOUT="$signed/Vardex.msi" \
  -P "$build_script" >/dev/null || fail "building the signed package"
msiextract -C "$signed/extracted" "$signed/Vardex.msi" >/dev/null || fail "msiextract"
verified=0
while IFS= read -r -d '' f; do
  osslsigncode verify -CAfile "$signed/ca.pem" -in "$f" >"$tmp/verify" 2>&1 || { fail "$(basename "$f") does not verify:"; cat "$tmp/verify"; }
  verified=$((verified + 1))
done < <(find "$signed/extracted" -type f \( -iname '*.exe' -o -iname '*.dll' \) -print0)
[ "$verified" = "$(binaries | wc -l)" ] || fail "$verified signed binaries in the package, not $(binaries | wc -l)"
osslsigncode verify -CAfile "$signed/ca.pem" -in "$signed/Vardex.msi" >"$tmp/verify" 2>&1 || { fail "the package does not verify:"; cat "$tmp/verify"; }

[ $failures -eq 0 ] && echo "PASS: tables, settings at install, install, end to end, repair, upgrades, uninstall, signing"
exit $((failures > 0))
