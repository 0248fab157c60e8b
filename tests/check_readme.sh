#!/usr/bin/env bash
# The README is the front door: under its size, with every document in docs/
# one link away, and no link in either that leads nowhere.
set -u
root=${1:?usage: check_readme.sh SOURCE_DIR}
limit=9000
status=0
size=$(wc -c <"$root/README.md")
if [ "$size" -gt "$limit" ]; then
  echo "README.md is $size bytes, over $limit: move the detail to docs/ and link it"
  status=1
fi
for doc in "$root"/docs/*.md; do
  name=docs/$(basename "$doc")
  grep -qF "]($name)" "$root/README.md" || { echo "README.md does not link $name"; status=1; }
done
for page in "$root/README.md" "$root"/docs/*.md; do
  dir=$(dirname "$page")
  while read -r target; do
    target=${target%%#*}
    [ -n "$target" ] || continue
    [ -e "$dir/$target" ] || { echo "${page#"$root"/}: the link to $target leads nowhere"; status=1; }
  done < <(grep -oE '\]\([^)]+\)' "$page" | sed -E 's/^\]\((.*)\)$/\1/' | grep -vE '^(https?:|mailto:)')
done
[ "$status" -ne 0 ] || echo "README.md: $size bytes of $limit; every document linked"
exit $status
