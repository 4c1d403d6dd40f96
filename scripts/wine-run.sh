#!/bin/bash
# Runs a Windows program under our Wine environment (scripts/wine-env.sh); the
# cross build's CMAKE_CROSSCOMPILING_EMULATOR.
#
#   wine-run.sh [--wine-dir DIR] [--com-pair] program.exe [args...]
#
# --com-pair: for the program's lifetime, a null-modem pair of COM ports made
# from two pseudo-terminals (socat): PALVO_TEST_PORT names the end the core
# opens, PALVO_TEST_PEER the far end the test plays the handset on. Holders of
# the pair are serialised (one test binary at a time per prefix).
set -uo pipefail

com_pair=0
while [ $# -gt 0 ]; do
  case "$1" in
    --wine-dir) export PALVO_WINE_DIR=$2; shift 2 ;;
    --com-pair) com_pair=1; shift ;;
    *) break ;;
  esac
done
[ $# -ge 1 ] || { echo "usage: wine-run.sh [--wine-dir DIR] [--com-pair] program.exe [args...]" >&2; exit 2; }

# shellcheck source=scripts/wine-env.sh
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
palvo_wine_up || exit 1

if [ $com_pair = 0 ]; then
  exec wine "$@"
fi

# The core's end is COM5, the far end COM6 (the handset of scripts/wine-handset.sh
# uses COM7). "COM5:" is the device-name form the handheld's registry holds and
# it opens under Wine; "\\.\COM6" is the form a Windows program writes itself.
exec {pairlock}>"$PALVO_WINE_DIR/com-pair.lock"
flock -w 1800 "$pairlock" || { echo "wine-run: COM pair busy" >&2; exit 1; }

pair=$PALVO_WINE_DIR/tmp/pair
rm -f "$pair-core" "$pair-peer"
socat pty,raw,echo=0,link="$pair-core" pty,raw,echo=0,link="$pair-peer" \
  </dev/null >"$(palvo_wine_log socat)" 2>&1 &
socat_pid=$!
cleanup() {
  kill "$socat_pid" 2>/dev/null
  wait "$socat_pid" 2>/dev/null
  palvo_wine_unmap_com 5
  palvo_wine_unmap_com 6
}
trap cleanup EXIT
trap 'exit 143' TERM INT HUP

for _ in $(seq 100); do
  [ -e "$pair-core" ] && [ -e "$pair-peer" ] && break
  sleep 0.02
done
if ! [ -e "$pair-core" ] || ! [ -e "$pair-peer" ]; then
  echo "wine-run: socat made no pty pair (see $(palvo_wine_log socat))" >&2
  exit 1
fi
palvo_wine_map_com 5 "$pair-core"
palvo_wine_map_com 6 "$pair-peer"
export PALVO_TEST_PORT='COM5:' PALVO_TEST_PEER='\\.\COM6'

# Not exec: the pair must go when the program ends.
wine "$@"
