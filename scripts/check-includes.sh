#!/bin/bash
# Keeps the layers one way: a file may include headers of its own folder and
# of the folders below it, never of one above.
#
#   platform   platform
#   link       platform link
#   download   platform link download
#   upload     platform link upload, and of download only field_record.h and
#              category.h (the records it encodes, the category table)
#   commands   platform link download upload commands
#   export     platform export              (local files only, no handset)
#   cli        commands and below, export, cli   (never ui)
#   ui         commands and below, ui       (never cli)
#   handset    platform handset             (the simulated handset shares no
#                                            code with the program it checks)
#
# tests/, fuzz/ and bench/ may include anything. Prints each include that
# breaks the rule and exits 1; exits 0 when there is none.
#
#   scripts/check-includes.sh [SOURCE_DIR]   (default: this script's tree)
set -uo pipefail

root=${1:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
cd "$root" || exit 2

declare -A allowed=(
  [platform]="platform"
  [link]="platform link"
  [download]="platform link download"
  [upload]="platform link upload download/field_record.h download/category.h"
  [commands]="platform link download upload commands"
  [export]="platform export"
  [cli]="platform link download upload commands export cli"
  [ui]="platform link download upload commands ui"
  [handset]="platform handset"
)
# Folders an include can name; anything else (<cstdio>, <gtest/gtest.h>) is
# not ours.
ours=" ${!allowed[*]} tests fuzz bench "

# Whether include path $2 (folder/...) is allowed in layer $1.
permitted() {
  local entry
  for entry in ${allowed[$1]}; do
    [[ "$2" == "$entry" || "$2" == "$entry/"* ]] && return 0
  done
  return 1
}

status=0
checked=0
for layer in "${!allowed[@]}"; do
  [ -d "$layer" ] || continue
  while IFS= read -r -d '' file; do
    checked=$((checked + 1))
    while IFS=: read -r line text; do
      [[ "$text" =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*[\"\<]([^\"\>]+)[\"\>] ]] || continue
      path=${BASH_REMATCH[1]}
      if [[ "$path" == *..* ]]; then
        echo "$file:$line: includes $path: name headers from the top of the tree" >&2
        status=1
        continue
      fi
      # A bare name is a header beside the file (or a system one).
      [[ "$path" == */* ]] || continue
      [[ "$ours" == *" ${path%%/*} "* ]] || continue
      if ! permitted "$layer" "$path"; then
        echo "$file:$line: $layer/ includes $path (allowed: ${allowed[$layer]})" >&2
        status=1
      fi
    done < <(grep -n '^[[:space:]]*#[[:space:]]*include' "$file")
  done < <(find "$layer" -type f \( -name '*.h' -o -name '*.cpp' -o -name '*.c' -o -name '*.rc' \) \
             -print0)
done

if [ "$checked" = 0 ]; then
  echo "check-includes: no sources found under $root" >&2
  exit 2
fi
[ "$status" = 0 ] && echo "check-includes: $checked files keep to their layers"
exit "$status"
