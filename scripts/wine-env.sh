#!/bin/bash
# Sourced (bash): the Wine environment the Windows build runs in.
#
#   PALVO_WINE_DIR=<dir> source scripts/wine-env.sh   (default: build/wine)
#
# Everything lives in that folder: the prefix, the wineserver socket (TMPDIR),
# a ja_JP.UTF-8 locale (so the ANSI code page is 932, as on the handheld) and a
# headless X display. A persistent wineserver is started once and primed, so a
# Wine program starts in a few hundredths of a second and nothing that reads a
# Wine program's output through a pipe (ctest) waits on Wine's own services.
# palvo_wine_stop ends the server and the display.
#
# No `set` line: a sourced file keeps the options of the shell that sources it.

PALVO_ROOT=${PALVO_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
PALVO_WINE_DIR=${PALVO_WINE_DIR:-$PALVO_ROOT/build/wine}
mkdir -p "$PALVO_WINE_DIR/tmp" "$PALVO_WINE_DIR/locale" "$PALVO_WINE_DIR/prefix"
PALVO_WINE_DIR=$(cd "$PALVO_WINE_DIR" && pwd)
export PALVO_ROOT PALVO_WINE_DIR

export WINEPREFIX=$PALVO_WINE_DIR/prefix
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
export TMPDIR=$PALVO_WINE_DIR/tmp

# Logs and records of the helpers we start.
palvo_wine_log() { echo "$PALVO_WINE_DIR/$1.log"; }

_palvo_alive() {  # pid-file, expected command substring
  local pid
  pid=$(cat "$1" 2>/dev/null) || return 1
  [ -n "$pid" ] && [ -r "/proc/$pid/cmdline" ] && tr '\0' ' ' <"/proc/$pid/cmdline" | grep -q -- "$2"
}

# Japanese locale of our own, without touching /etc (made before LANG names it).
if [ ! -f "$PALVO_WINE_DIR/locale/ja_JP.UTF-8/LC_CTYPE" ]; then
  # localedef warns (exit 1) about harmless things; the files are what counts.
  localedef -i ja_JP -f UTF-8 "$PALVO_WINE_DIR/locale/ja_JP.UTF-8" >/dev/null 2>&1 || true
  [ -f "$PALVO_WINE_DIR/locale/ja_JP.UTF-8/LC_CTYPE" ] ||
    echo "wine-env: could not make the ja_JP.UTF-8 locale (package locales missing?)" >&2
fi
export LOCPATH=$PALVO_WINE_DIR/locale
# For Wine, not for this shell (bash does not look in LOCPATH and would warn).
{ export LANG=ja_JP.UTF-8; unset LC_ALL LC_CTYPE LANGUAGE; } 2>/dev/null

_palvo_locale() {
  [ -f "$LOCPATH/ja_JP.UTF-8/LC_CTYPE" ]
}

_palvo_display() {
  if ! _palvo_alive "$PALVO_WINE_DIR/xvfb.pid" Xvfb; then
    rm -f "$PALVO_WINE_DIR/xvfb.display"
    # -displayfd picks a free display number and tells us which.
    (
      exec 3>"$PALVO_WINE_DIR/xvfb.display"
      setsid Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp \
        </dev/null >"$(palvo_wine_log xvfb)" 2>&1 &
      echo $! >"$PALVO_WINE_DIR/xvfb.pid"
    )
    for _ in $(seq 100); do
      [ -s "$PALVO_WINE_DIR/xvfb.display" ] && break
      sleep 0.05
    done
  fi
  local n
  n=$(tr -dc 0-9 <"$PALVO_WINE_DIR/xvfb.display" 2>/dev/null)
  if [ -z "$n" ]; then
    echo "wine-env: Xvfb did not start (see $(palvo_wine_log xvfb))" >&2
    return 1
  fi
  export DISPLAY=:$n
}

_palvo_server() {
  _palvo_alive "$PALVO_WINE_DIR/wineserver.pid" wineserver && return 0
  local fresh=0
  [ -f "$WINEPREFIX/system.reg" ] || fresh=1
  # Detached from us and our terminal: a server that takes a test's pty as its
  # controlling terminal dies with it, and one that is our child dies with a
  # timed-out ctest.
  (
    setsid wineserver -f -p </dev/null >"$(palvo_wine_log wineserver)" 2>&1 &
    echo $! >"$PALVO_WINE_DIR/wineserver.pid"
  )
  # The first client starts services.exe and explorer.exe, which keep its
  # stdout for as long as the server lives: give them none.
  [ $fresh = 1 ] && echo "wine-env: making the Wine prefix in $WINEPREFIX (once, ~15 s)" >&2
  # A first client that meets the server while it still sets up the prefix
  # fails now and then: one more try before giving up, its output kept.
  timeout 300 wine cmd /c exit </dev/null >/dev/null 2>&1 || {
    sleep 2
    timeout 300 wine cmd /c exit </dev/null >"$(palvo_wine_log first-client)" 2>&1
  } || {
    echo "wine-env: Wine did not start (prefix $WINEPREFIX, see $(palvo_wine_log first-client))" >&2
    return 1
  }
  if [ ! -f "$PALVO_WINE_DIR/configured" ]; then
    # Dialog text in the Japanese UI font and caption buttons that are glyphs.
    timeout 60 wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "MS UI Gothic" \
      /d IPAGothic /f </dev/null >/dev/null 2>&1 || true
    if [ -f /usr/share/wine/fonts/marlett.ttf ]; then
      mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
      cp -f /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
    fi
    touch "$PALVO_WINE_DIR/configured"
  fi
}

# Brings the environment up (idempotent; serialised between concurrent callers).
palvo_wine_up() {
  local rc=0
  exec {lockfd}>"$PALVO_WINE_DIR/up.lock"
  flock -w 600 "$lockfd" || { exec {lockfd}>&-; return 1; }
  _palvo_locale && _palvo_display && _palvo_server || rc=1
  flock -u "$lockfd"
  exec {lockfd}>&-
  return $rc
}

# Ends the server (it saves the registry) and the display.
palvo_wine_stop() {
  if _palvo_alive "$PALVO_WINE_DIR/wineserver.pid" wineserver; then
    timeout 30 wineserver -k >/dev/null 2>&1 || true
    for _ in $(seq 100); do
      _palvo_alive "$PALVO_WINE_DIR/wineserver.pid" wineserver || break
      sleep 0.1
    done
  fi
  rm -f "$PALVO_WINE_DIR/wineserver.pid"
  if _palvo_alive "$PALVO_WINE_DIR/xvfb.pid" Xvfb; then
    kill "$(cat "$PALVO_WINE_DIR/xvfb.pid")" 2>/dev/null || true
  fi
  rm -f "$PALVO_WINE_DIR/xvfb.pid" "$PALVO_WINE_DIR/xvfb.display"
}

# Maps a native serial device (a pty) to COM<n> of the prefix.
palvo_wine_map_com() {  # n device
  ln -sfn "$(readlink -f "$2")" "$WINEPREFIX/dosdevices/com$1"
}
palvo_wine_unmap_com() {  # n
  rm -f "$WINEPREFIX/dosdevices/com$1"
}
