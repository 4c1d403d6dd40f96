#!/bin/bash
# cmake --install of a build tree into a folder of its own: the Unix layout,
# the versions the installed programs print, and the installed palvo-handset
# serving the installed sample (not the source tree's) to the installed palvo.
#
#   install_test.sh CMAKE BUILD-DIR VERSION
set -uo pipefail

cmake=$1
build=$2
version=$3
src=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
work=$(mktemp -d)
handset_pid=
cleanup() {
  [ -n "$handset_pid" ] && kill "$handset_pid" 2>/dev/null && wait "$handset_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
failed=0
fail() { echo "FAILED: $*"; failed=$((failed + 1)); }

prefix=$work/usr
"$cmake" --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 ||
  { cat "$work/install.log"; echo "FAILED: cmake --install"; exit 1; }

for f in bin/palvo bin/palvo-handset share/man/man1/palvo.1 share/man/man1/palvo-handset.1 \
  share/bash-completion/completions/palvo share/bash-completion/completions/palvo-handset \
  lib/udev/rules.d/60-palvo.rules share/doc/palvo/README.md share/palvo/sample/bookmarks.txt; do
  [ -s "$prefix/$f" ] || fail "not installed: $f"
done
for f in bin/palvo bin/palvo-handset; do
  [ -x "$prefix/$f" ] || fail "not executable: $f"
done
diff -r "$src/handset/sample" "$prefix/share/palvo/sample" >/dev/null ||
  fail "share/palvo/sample differs from handset/sample"

# One version: the Debian changelog follows project().
changelog=$(sed -nE '1s/^palvo \(([^)]+)\).*/\1/p' "$src/debian/changelog")
[ "$changelog" = "$version" ] || fail "debian/changelog is at '$changelog', the project at $version"

v=$("$prefix/bin/palvo" --version) || fail "palvo --version failed"
[ "$v" = "palvo $version" ] || fail "palvo --version printed '$v', not 'palvo $version'"
v=$("$prefix/bin/palvo-handset" --version) || fail "palvo-handset --version failed"
[ "$v" = "palvo-handset $version" ] || fail "palvo-handset --version printed '$v'"

# A file only the installed sample has: listed, it proves which sample is served.
touch "$prefix/share/palvo/sample/files/other/installed-only.txt"
export PALVO_REGISTRY=$work/registry.reg
export PALVO_SYSFS_ROOT=$work/no-sysfs # no real USB port found before ours
mkdir -p "$PALVO_SYSFS_ROOT"
(cd / && exec "$prefix/bin/palvo-handset" --pin 2468 </dev/null >"$work/handset.out" 2>"$work/handset.err") &
handset_pid=$!
for _ in $(seq 200); do
  [ -s "$work/handset.out" ] && break
  kill -0 "$handset_pid" 2>/dev/null || break
  sleep 0.05
done
if [ ! -s "$work/handset.out" ]; then
  fail "the installed palvo-handset did not start: $(cat "$work/handset.err")"
else
  out=$(cd / && echo 2468 | timeout 60 "$prefix/bin/palvo" list --tsv 2>&1) || fail "palvo list failed: $out"
  grep -q 'installed-only.txt' <<<"$out" || fail "the installed sample was not served: $out"
fi

echo "install tree checked, $failed failures"
[ $failed = 0 ]
