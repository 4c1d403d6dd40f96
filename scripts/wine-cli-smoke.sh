#!/bin/bash
# End to end under Wine: palvo-cli.exe finds the native simulated handset
# through the Wine registry, opens its COM port, logs in and lists it.
#
#   wine-cli-smoke.sh WINE-DIR PALVO-CLI.EXE [PALVO-HANDSET]
#
# Exit 77 (skipped) when the native handset has not been built; under CI
# (CI=true) that is a failure.
set -uo pipefail

export PALVO_WINE_DIR=$1
cli=$2
handset=${3:-${PALVO_HANDSET:-$(cd "$(dirname "$0")/.." && pwd)/build/native/palvo-handset}}
here=$(dirname "${BASH_SOURCE[0]}")
if [ ! -x "$handset" ]; then
  if [ "${CI:-}" = true ]; then
    echo "wine-cli-smoke: no native palvo-handset at $handset (needed under CI=true)" >&2
    exit 1
  fi
  echo "skipped: no native palvo-handset at $handset"
  exit 77
fi

# shellcheck source=scripts/wine-env.sh
source "$here/wine-env.sh"
palvo_wine_up || exit 1
# Driver instances that test binaries left behind would be found first.
wine reg delete 'HKLM\Drivers\Active' /f </dev/null >/dev/null 2>&1
"$here/wine-handset.sh" start --handset "$handset" -- --pin 4321 >/dev/null || exit 1
trap '"$here/wine-handset.sh" stop' EXIT
# A PIN kept by an earlier run would not be asked for; this one must be.
wine reg delete 'HKLM\Drivers\USB\LoadClients\1154_515_Default\0\RS232_USB' /v PalvoPass /f \
  </dev/null >/dev/null 2>&1

out=$(echo 4321 | timeout 120 wine "$cli" list --tsv 2>&1)
rc=$?
echo "$out"
fail() { echo "FAILED: $*"; exit 1; }
[ $rc = 0 ] || fail "palvo-cli.exe list exited with $rc"
# The three fixed rows first (icons 5, 6, 7), then at least one handset file.
first=$(printf '%s\n' "$out" | head -n 3 | cut -f 1 | tr '\n' ' ')
[ "$first" = "5 6 7 " ] || fail "the fixed rows are not first: $first"
[ "$(printf '%s\n' "$out" | wc -l)" -gt 3 ] || fail "no handset files listed"

# A wrong PIN kept in the registry is refused and forgotten.
"$here/wine-handset.sh" stop
"$here/wine-handset.sh" start --handset "$handset" -- --pin 9999 >/dev/null || exit 1
out=$(echo | timeout 120 wine "$cli" list --tsv 2>&1)
rc=$?
[ $rc = 1 ] || fail "a refused PIN gave exit status $rc: $out"

# A killed handset's COM port never leads to the program that gets its pty
# number next: here a terminal that records whatever reaches it.
pid=$(cat "$PALVO_WINE_DIR/handset-com7.pid")
dead=$(head -n 1 "$PALVO_WINE_DIR/handset-com7.log")
kill -KILL "$pid"
while kill -0 "$pid" 2>/dev/null; do sleep 0.05; done
other=$PALVO_WINE_DIR/tmp/other-terminal
rm -f "$other" "$other.bytes"
socat -u pty,raw,echo=0,link="$other" "OPEN:$other.bytes,creat,trunc" </dev/null >/dev/null 2>&1 &
socat=$!
trap 'kill "$socat" 2>/dev/null; rm -f "$other.bytes"; "$here/wine-handset.sh" stop' EXIT
for _ in $(seq 100); do [ -e "$other" ] && break; sleep 0.05; done
echo "the killed handset's terminal: $dead; the other program's: $(readlink -f "$other")"
out=$(echo 4321 | timeout 120 wine "$cli" list --tsv 2>&1)
rc=$?
echo "$out"
[ $rc = 1 ] || fail "a killed handset's port gave exit status $rc: $out"
[[ "$out" == *オープンに失敗しました* ]] || fail "a killed handset's port was opened: $out"
sleep 0.2
[ ! -s "$other.bytes" ] || fail "bytes reached another program's terminal: $(od -An -tx1 "$other.bytes")"
# The next handset clears the dead one's entry, and it is found.
"$here/wine-handset.sh" start --handset "$handset" --com 8 -- --pin 4321 >/dev/null || exit 1
out=$(echo 4321 | timeout 120 wine "$cli" list --tsv 2>&1)
rc=$?
"$here/wine-handset.sh" stop --com 8
[ $rc = 0 ] || fail "after a killed handset, a new one was not found ($rc): $out"
kill "$socat" 2>/dev/null
echo "ok"
