#!/bin/bash
# The native simulated handset, plugged into our Wine prefix: palvo-handset on
# a pseudo-terminal, that pty mapped to a COM port, and the driver instance
# under HKLM\Drivers\Active that the Windows programs look for.
#
# The COM port leads to the pty through the handset's own descriptor
# (/proc/<pid>/fd/<n>), so it dies with the handset: a handset that was
# killed leaves a COM port that fails to open, never one that opens whatever
# program got its pty number next. Entries of handsets found dead are
# removed before a new one starts.
#
#   wine-handset.sh start [--wine-dir DIR] [--com N] [--handset PROGRAM] [-- HANDSET-ARGS...]
#   wine-handset.sh stop  [--wine-dir DIR] [--com N]
#
# start prints the handset's pid and leaves it running; its output goes to
# <wine-dir>/handset-com<N>.log. Defaults: COM7, build/native/palvo-handset.
set -uo pipefail

cmd=${1:-}
shift || true
com=7
handset=${PALVO_HANDSET:-}
while [ $# -gt 0 ]; do
  case "$1" in
    --wine-dir) export PALVO_WINE_DIR=$2; shift 2 ;;
    --com) com=$2; shift 2 ;;
    --handset) handset=$2; shift 2 ;;
    --) shift; break ;;
    *) echo "wine-handset: unknown option $1" >&2; exit 2 ;;
  esac
done
case "$cmd" in start | stop) ;; *)
  echo "usage: wine-handset.sh start|stop [--wine-dir DIR] [--com N] [--handset PROGRAM] [-- ARGS...]" >&2
  exit 2 ;;
esac

# shellcheck source=scripts/wine-env.sh
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
handset=${handset:-$PALVO_ROOT/build/native/palvo-handset}
pidfile=$PALVO_WINE_DIR/handset-com$com.pid
log=$PALVO_WINE_DIR/handset-com$com.log
regkey="HKLM\\Drivers\\Active\\$(printf %02d "$com")"
# Passes the driver's prefix and suffix tests, as the real driver's key does.
driverkey='Drivers\USB\LoadClients\1154_515_Default\0\RS232_USB'

stop() {
  if [ -f "$pidfile" ]; then
    local pid
    pid=$(cat "$pidfile")
    if kill "$pid" 2>/dev/null; then
      for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
      kill -KILL "$pid" 2>/dev/null || true
    fi
    rm -f "$pidfile"
  fi
  palvo_wine_unmap_com "$com"
  timeout 30 wine reg delete "$regkey" /f </dev/null >/dev/null 2>&1 || true
}

# Handsets of this prefix that died without a stop (killed): their entries go.
sweep() {
  local f n
  for f in "$PALVO_WINE_DIR"/handset-com*.pid; do
    [ -f "$f" ] || continue
    kill -0 "$(cat "$f")" 2>/dev/null && continue
    n=${f##*/handset-com}
    n=${n%.pid}
    rm -f "$f"
    palvo_wine_unmap_com "$n"
    timeout 30 wine reg delete "HKLM\\Drivers\\Active\\$(printf %02d "$n")" /f </dev/null >/dev/null 2>&1 || true
  done
}

palvo_wine_up || exit 1
stop
[ "$cmd" = stop ] && exit 0
sweep

if [ ! -x "$handset" ]; then
  echo "wine-handset: no handset program at $handset (build the native tree first)" >&2
  exit 1
fi
# Its own session: the pty must not become anybody's controlling terminal.
# The Wine registry entry is ours to write; the native registry is left alone.
setsid "$handset" --no-register "$@" </dev/null >"$log" 2>&1 &
pid=$!
echo "$pid" >"$pidfile"

pty=
for _ in $(seq 200); do
  pty=$(head -n 1 "$log" 2>/dev/null)
  [ -n "$pty" ] && [ "$(wc -l <"$log")" -ge 1 ] && break
  pty=
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.05
done
if [ -z "$pty" ] || [ ! -e "$pty" ]; then
  echo "wine-handset: palvo-handset gave no pseudo-terminal; its output:" >&2
  cat "$log" >&2
  stop
  exit 1
fi

# The handset's own hold on the pty's slave.
held=
for fd in /proc/"$pid"/fd/*; do
  [ "$(readlink "$fd" 2>/dev/null)" = "$pty" ] && { held=$fd; break; }
done
if [ -z "$held" ]; then
  echo "wine-handset: palvo-handset holds no descriptor of $pty" >&2
  stop
  exit 1
fi
ln -sfn "$held" "$WINEPREFIX/dosdevices/com$com"
# The driver's own key holds the stored PIN, as on the handheld.
timeout 30 wine reg add "HKLM\\$driverkey" /f </dev/null >/dev/null 2>&1
timeout 30 wine reg add "$regkey" /v Key /t REG_SZ /d "$driverkey" /f </dev/null >/dev/null 2>&1 &&
  timeout 30 wine reg add "$regkey" /v Name /t REG_SZ /d "COM$com:" /f </dev/null >/dev/null 2>&1 || {
  echo "wine-handset: could not register the driver instance $regkey" >&2
  stop
  exit 1
}
echo "$pid"
