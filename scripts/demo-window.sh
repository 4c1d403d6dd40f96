#!/bin/bash
# The window program under Wine against the simulated handset, with
# screenshots of the PIN prompt, the listing, the save dialog, the upload
# destination dialog and the status box (the memo refused as a bookmark file). Prints the path of the listing's screenshot.
#
#   scripts/demo-window.sh [DIR]        (default: build/demo)
#
# palvo.exe and its driver come from build/mingw (PALVO_WIN_BUILD), the handset
# from build/native/palvo-handset (PALVO_HANDSET); what is missing is built.
# The window runs in a Wine desktop on our headless X server, or on your own
# display with PALVO_USER_DISPLAY=1. The handset serves DIR/content when it
# exists (scripts/demo.sh leaves it there), else a copy of the sample.
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
dir=$(mkdir -p "${1:-$root/build/demo}" && cd "${1:-$root/build/demo}" && pwd)
win_build=${PALVO_WIN_BUILD:-$root/build/mingw}
handset=${PALVO_HANDSET:-$root/build/native/palvo-handset}
pin=1234
com=7
user_display=${DISPLAY:-}

say() { printf 'demo-window: %s\n' "$*" >&2; }
winpath() { local p=${1//\//\\}; printf 'Z:%s' "$p"; }

# The programs.
exe=$win_build/ui/palvo.exe
driver=$win_build/ui/tests/palvo_window_driver.exe
if [ ! -f "$exe" ] || [ ! -f "$driver" ]; then
  say "building palvo.exe in $win_build"
  if [ ! -f "$win_build/CMakeCache.txt" ]; then
    timeout 900 cmake -S "$root" -B "$win_build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
      -DCMAKE_BUILD_TYPE=Release >"$dir/window-configure.log" 2>&1 ||
      { cat "$dir/window-configure.log" >&2; exit 1; }
  fi
  timeout 1800 cmake --build "$win_build" --target palvo palvo_window_driver -j "$(nproc)" >&2 || exit 1
fi
if [ ! -x "$handset" ]; then
  say "building palvo-handset in build/native"
  [ -f "$root/build/native/CMakeCache.txt" ] || (cd "$root" && cmake --preset native >&2) || exit 1
  timeout 1800 cmake --build "$root/build/native" --target palvo-handset -j "$(nproc)" >&2 || exit 1
  handset=$root/build/native/palvo-handset
fi

content=$dir/content
if [ ! -d "$content" ]; then
  content=$dir/window-content
  rm -rf "$content"
  cp -r "$root/handset/sample" "$content"
fi
printf 'Palvo window demo upload\r\n' >"$dir/window-memo.txt"

# shellcheck source=scripts/wine-env.sh
source "$root/scripts/wine-env.sh"
# A Wine server and display that we start here are ours to end; one that was
# already running (a test run's, a shell's) is left as it was.
started_wine=1
_palvo_alive "$PALVO_WINE_DIR/wineserver.pid" wineserver && started_wine=0
palvo_wine_up || exit 1
# The tour starts at the PIN prompt: a PIN kept by an earlier run is forgotten.
timeout 30 wine reg delete 'HKLM\Drivers\USB\LoadClients\1154_515_Default\0\RS232_USB' /v PalvoPass /f \
  </dev/null >/dev/null 2>&1
# No window manager under Xvfb: Wine draws the title bars itself.
for v in Managed Decorated; do
  timeout 30 wine reg add 'HKCU\Software\Wine\X11 Driver' /v $v /d N /f </dev/null >/dev/null 2>&1
done
if [ "${PALVO_USER_DISPLAY:-0}" = 1 ] && [ -n "$user_display" ]; then
  export DISPLAY=$user_display
fi

# The handset on a pty, mapped to COM7 and registered as the driver instance.
"$root/scripts/wine-handset.sh" start --com $com --handset "$handset" -- --pin $pin \
  --content "$content" --log "$dir/window-handset.log" >/dev/null || exit 1
palvo_pid=
cleanup() {
  [ -n "$palvo_pid" ] && kill "$palvo_pid" 2>/dev/null
  "$root/scripts/wine-handset.sh" stop --com $com >/dev/null 2>&1
  [ $started_wine = 1 ] && palvo_wine_stop
}
trap cleanup EXIT

log=$dir/window-driver.log
rm -f "$log" "$dir"/{pin,window,save,destination,status}.png
# A Wine desktop gives the windows their captions (no window manager here).
wine explorer /desktop=Palvo,800x600 "$(winpath "$exe")" </dev/null >"$dir/window-palvo.log" 2>&1 &
palvo_pid=$!
wine explorer /desktop=Palvo,800x600 "$(winpath "$driver")" --log "$(winpath "$log")" \
  wait-window sleep 500 post 40017 wait "暗証番号" shot pin pin $pin wait-rows 4 rows shot window \
  key 35 post 40018 wait "保存するファイル" shot save cancel "保存するファイル" \
  post 40019 accept "転送するファイル" "$(winpath "$dir/window-memo.txt")" wait "PHSファイル名" \
  shot destination kind "PHSファイル名" 1 sleep 300 ok "PHSファイル名" sleep 300 shot status \
  sleep 2000 post 40016 </dev/null >/dev/null 2>&1 &

# Screenshots when the driver asks for them.
taken=0
status=1
for _ in $(seq 1200); do
  if [ -f "$log" ]; then
    # The driver writes Windows line ends.
    mapfile -t shots < <(tr -d '\r' <"$log" | sed -n 's/^shot //p')
    while [ $taken -lt ${#shots[@]} ]; do
      sleep 0.3
      import -display "$DISPLAY" -window root -crop 800x600+0+0 +repage "png:$dir/${shots[$taken]}.png.tmp" &&
        mv "$dir/${shots[$taken]}.png.tmp" "$dir/${shots[$taken]}.png"
      taken=$((taken + 1))
    done
    tr -d '\r' <"$log" | grep -q '^done$' && { status=0; break; }
    grep -q '^failed' "$log" && break
  fi
  sleep 0.1
done
for _ in $(seq 50); do kill -0 "$palvo_pid" 2>/dev/null || break; sleep 0.1; done
palvo_pid=

if [ $status != 0 ]; then
  say "the window did not go through its steps; driver log $log:"
  cat "$log" >&2 2>/dev/null
fi
tr -d '\r' <"$log" 2>/dev/null | sed -n 's/^rows /demo-window: listing rows: /p' >&2
for shot in pin window save destination status; do
  [ -f "$dir/$shot.png" ] && say "screenshot $dir/$shot.png"
done
[ -f "$dir/window.png" ] && echo "$dir/window.png"
exit $status
