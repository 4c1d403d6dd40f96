#!/bin/bash
# clang-format (the repository's .clang-format) over the C++ files that differ
# from BASE (default HEAD: what is changed and not yet committed, new files
# included).
#
#   scripts/format.sh [--check] [BASE]
#
# --check changes nothing and fails when a file is not formatted.
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root" || exit 1
check=0
[ "${1:-}" = --check ] && { check=1; shift; }
base=${1:-HEAD}

timeout 1800 scripts/setup.sh tools || exit 1
mapfile -t files < <({ git diff --name-only --diff-filter=ACMR "$base" --; git ls-files --others --exclude-standard; } |
  grep -E '\.(cpp|h|hpp|cc)$' | grep -v '^build/' | sort -u)
existing=()
for f in "${files[@]}"; do [ -f "$f" ] && existing+=("$f"); done
[ ${#existing[@]} -eq 0 ] && { echo "format.sh: no changed C++ files"; exit 0; }

if [ $check = 1 ]; then
  clang-format --dry-run --Werror "${existing[@]}" && echo "format.sh: ${#existing[@]} files formatted"
else
  clang-format -i "${existing[@]}" && echo "format.sh: formatted ${#existing[@]} files"
fi
