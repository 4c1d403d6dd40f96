#!/bin/bash
# The window part of the demo: palvo.exe under Wine on a headless X display,
# the native simulated handset plugged in as COM7, the listing fetched through
# the toolbar, the PIN typed into its dialog, and a screenshot.
#
#   scripts/demo-window.sh [DEMO-DIR]     (default build/demo; writes window.png)
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root" || exit 1
demo=${1:-$root/build/demo}
mkdir -p "$demo"
pin=1234

timeout 1800 scripts/setup.sh wine || exit 1
if [ ! -f build/mingw/CMakeCache.txt ]; then
  timeout 600 cmake --preset mingw >"$demo/mingw-configure.log" 2>&1 ||
    { cat "$demo/mingw-configure.log"; echo "demo: cmake could not configure the Windows build"; exit 1; }
fi
echo "building palvo.exe (build/mingw)"
timeout 2400 cmake --build build/mingw -j "$(nproc)" --target palvo >"$demo/mingw-build.log" 2>&1 ||
  { tail -30 "$demo/mingw-build.log"; echo "demo: palvo.exe did not build"; exit 1; }
[ -x build/native/palvo-handset ] || { echo "demo: build/native/palvo-handset is missing"; exit 1; }

# A prefix of the demo's own, kept between demos (making one takes ~15 s).
export PALVO_WINE_DIR=$root/build/demo-wine
# shellcheck source=scripts/wine-env.sh
source scripts/wine-env.sh
palvo_wine_up || exit 1
handset_args=(--pin "$pin" --log "$demo/window-handset.log")
[ -d "$demo/content" ] && handset_args+=(--content "$demo/content")
scripts/wine-handset.sh start -- "${handset_args[@]}" >/dev/null || exit 1
cleanup() {
  scripts/wine-handset.sh stop >/dev/null 2>&1
  palvo_wine_stop
}
trap cleanup EXIT
# A PIN stored by an earlier demo would skip the dialog; start as a newcomer.
timeout 30 wine reg delete 'HKLM\Drivers\USB\LoadClients\1154_515_Default\0\RS232_USB' \
  /v PalvoPass /f </dev/null >/dev/null 2>&1

# A virtual desktop gives the window its caption and frame (plain Xvfb has no
# window manager).
exe=$(winepath -w "$root/build/mingw/ui/palvo.exe" 2>/dev/null)
wine explorer /desktop=Palvo,640x480 "$exe" </dev/null >"$demo/window.log" 2>&1 &
wine_pid=$!

desktop=
for _ in $(seq 100); do
  desktop=$(xdotool search --name '^Palvo' 2>/dev/null | head -n 1)
  [ -n "$desktop" ] && break
  sleep 0.1
done
if [ -z "$desktop" ]; then
  echo "demo: no window appeared (see $demo/window.log)"
  exit 1
fi
sleep 2
shot() { import -display "$DISPLAY" -window root "$demo/$1" 2>/dev/null && echo "screenshot: $demo/$1"; }
shot window-start.png

# The toolbar's first button is "get listing"; the PIN dialog takes the focus.
eval "$(xdotool getwindowgeometry --shell "$desktop")"
xdotool mousemove --window "$desktop" "${PALVO_DEMO_BUTTON_X:-40}" "${PALVO_DEMO_BUTTON_Y:-12}" click 1
sleep 1.5
xdotool type --delay 100 "$pin"
xdotool key Return
for _ in $(seq 60); do
  grep -q 'goodbye' "$demo/window-handset.log" 2>/dev/null && break
  sleep 0.25
done
sleep 1
shot window.png

kill "$wine_pid" 2>/dev/null
wait "$wine_pid" 2>/dev/null
grep -q 'goodbye' "$demo/window-handset.log" 2>/dev/null
