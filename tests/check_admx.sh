#!/usr/bin/env bash
# The administrative templates: well-formed XML; every string and
# presentation the .admx names is in the .adml, and every element a
# presentation shows is in the .admx; every policy writes the policy key;
# and the value names the .admx writes are exactly those
# vardex/settings/policy.h names, so that no value the code reads lacks its
# policy and no policy writes a value the code ignores.
set -u
root=${1:?usage: check_admx.sh SOURCE_DIR}
admx=$root/installer/policy/Vardex.admx
adml=$root/installer/policy/en-US/Vardex.adml
header=$root/vardex/settings/policy.h
status=0
fail() { echo "$*"; status=1; }

xmllint --noout "$admx" "$adml" || exit 1

# The attribute values of the nodes an XPath selects (namespaces ignored).
values() { xmllint --xpath "$2" "$1" 2>/dev/null | sed -E 's/^ *[a-zA-Z]+="([^"]*)"$/\1/' | sort -u; }

admx_refs() { grep -oE "\\\$\\($1\\.[A-Za-z0-9_]+\\)" "$admx" | sed -E "s/^\\\$\\($1\\.(.*)\\)$/\\1/" | sort -u; }
strings=$(values "$adml" "//*[local-name()='string']/@id")
presentations=$(values "$adml" "//*[local-name()='presentation']/@id")
for id in $(admx_refs string); do
  grep -qxF "$id" <<<"$strings" || fail "Vardex.admx names string $id, which Vardex.adml lacks"
done
for id in $(admx_refs presentation); do
  grep -qxF "$id" <<<"$presentations" || fail "Vardex.admx names presentation $id, which Vardex.adml lacks"
done
elements=$(values "$admx" "//*[local-name()='elements']/*/@id")
for id in $(values "$adml" "//*[local-name()='presentation']/*/@refId"); do
  grep -qxF "$id" <<<"$elements" || fail "Vardex.adml shows element $id, which Vardex.admx lacks"
done

key=$(sed -nE 's/^inline constexpr char kKey\[\] = "(.*)";$/\1/p' "$header" | sed 's/\\\\/\\/g')
[ -n "$key" ] || fail "policy.h names no key"
for k in $(values "$admx" "//*[local-name()='policy']/@key" | tr ' ' '\n'); do
  [ "$k" = "$key" ] || fail "Vardex.admx writes under $k, not $key"
done

read_by_code=$(sed -nE 's/^inline constexpr char k[A-Za-z0-9]+\[\] = "([A-Za-z0-9]+)";$/\1/p' "$header" | sort -u)
written=$(values "$admx" "//@valueName")
[ -n "$read_by_code" ] || fail "policy.h names no value"
for name in $read_by_code; do
  grep -qxF "$name" <<<"$written" || fail "Vardex reads $name, and no policy in Vardex.admx sets it"
done
for name in $written; do
  grep -qxF "$name" <<<"$read_by_code" || fail "Vardex.admx sets $name, which Vardex does not read"
done
[ "$status" -ne 0 ] || echo "Vardex.admx and Vardex.adml: $(wc -w <<<"$written") values, as policy.h names them"
exit $status
