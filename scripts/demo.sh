#!/bin/bash
# A tour of Palvo against the simulated handset, from nothing: installs what is
# missing, builds, starts palvo-handset on a pseudo-terminal and runs the
# command line against it (listing, full backup, upload, listing again); then,
# where the Windows build is there, the window under Wine with a screenshot.
#
#   scripts/demo.sh [--no-window]
#
# Everything it makes is under build/demo/ (registry, content, backup, logs).
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root" || exit 1
window=1
[ "${1:-}" = --no-window ] && window=0

demo=$root/build/demo
pin=1234
missing=()
say() { printf '\n== %s\n' "$*"; }
run() { printf '$ %s\n' "$*"; "$@"; }

say "packages"
timeout 1800 scripts/setup.sh native || exit 1

say "native build (build/native)"
mkdir -p build
if [ ! -f build/native/CMakeCache.txt ]; then
  timeout 600 cmake --preset native >build/demo-configure.log 2>&1 ||
    { cat build/demo-configure.log; echo "demo: cmake could not configure the tree"; exit 1; }
fi
targets=()
[ -f cli/main.cpp ] && targets+=(palvo) || missing+=("the command line (cli/main.cpp)")
[ -f handset/main.cpp ] && targets+=(palvo-handset) || missing+=("the simulated handset (handset/main.cpp)")
if [ ${#targets[@]} -gt 0 ]; then
  timeout 2400 cmake --build build/native -j "$(nproc)" --target "${targets[@]}" ||
    { echo "demo: the build failed"; exit 1; }
fi
if [ ${#missing[@]} -gt 0 ]; then
  printf 'demo: not in the tree yet: %s\n' "${missing[@]}"
  exit 1
fi

rm -rf "$demo"
mkdir -p "$demo/backup"
# The handset's content: a copy of the shipped sample, so uploads land in it.
content_args=()
if [ -d handset/sample ]; then
  cp -r handset/sample "$demo/content"
  content_args=(--content "$demo/content")
fi
# A registry of the demo's own: the handset publishes its driver entry there,
# palvo finds it and keeps the scrambled PIN there.
export PALVO_REGISTRY=$demo/registry
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}

say "simulated handset"
build/native/palvo-handset --pin "$pin" --registry "$PALVO_REGISTRY" "${content_args[@]}" \
  --log "$demo/handset.log" </dev/null >"$demo/handset.out" 2>"$demo/handset.err" &
handset_pid=$!
stop_handset() {
  kill "$handset_pid" 2>/dev/null && wait "$handset_pid" 2>/dev/null
  handset_pid=
}
trap '[ -n "${handset_pid:-}" ] && stop_handset' EXIT
for _ in $(seq 100); do
  [ "$(wc -l <"$demo/handset.out")" -ge 1 ] && break
  kill -0 "$handset_pid" 2>/dev/null || break
  sleep 0.05
done
pty=$(head -n 1 "$demo/handset.out")
if [ -z "$pty" ]; then
  echo "demo: palvo-handset did not start:"
  cat "$demo/handset.err"
  exit 1
fi
echo "palvo-handset (PIN $pin) is on $pty"

failures=0
palvo() {  # the PIN goes in on standard input the first time it is asked for
  printf '$ palvo %s\n' "$*"
  echo "$pin" | timeout 300 build/native/palvo "$@" || { echo "(exit status $?)"; failures=$((failures + 1)); }
}

say "the handset's listing"
palvo list

say "full backup into build/demo/backup"
palvo get --all --to "$demo/backup"
run ls -l "$demo/backup"

say "upload a file, then the listing again"
printf 'Palvo demo upload\r\n' >"$demo/demo.txt"
palvo put "$demo/demo.txt"
palvo list

stop_handset
if [ -s "$demo/handset.err" ]; then
  say "the handset's remarks"
  cat "$demo/handset.err"
fi

if [ $window = 1 ] && [ -f ui/CMakeLists.txt ]; then
  say "the window (palvo.exe under Wine)"
  timeout 1800 scripts/setup.sh wine || exit 1
  if ! timeout 1800 scripts/demo-window.sh "$demo"; then
    echo "demo: the window part did not complete (see above)"
    failures=$((failures + 1))
  fi
fi

say "done"
echo "Files: $demo (backup/, content/, handset.log, window.png when the window ran)"
[ $failures = 0 ]
