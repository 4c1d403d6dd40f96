#!/bin/bash
# Screenshots of the Windows installer's pages at 96 DPI, in Japanese and in
# English: the folder page, then the finish page. Makes the installer first
# (scripts/package.sh --no-check windows) when build/package has none;
# PALVO_SETUP names another.
#
#   scripts/installer-shots.sh [DIR]        (default: build/shots)
#
# Leaves DIR/installer-{ja,en}-{folder,finish}.png; prints their paths.
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
dir=$(mkdir -p "${1:-$root/build/shots}" && cd "${1:-$root/build/shots}" && pwd)
version=$(sed -nE 's/^project\(palvo VERSION ([0-9.]+).*/\1/p' "$root/CMakeLists.txt")
setup=${PALVO_SETUP:-$root/build/package/palvo-$version-setup.exe}
if [ ! -f "$setup" ]; then
  "$root/scripts/package.sh" --no-check windows >&2 || exit 1
fi

status=0
for lang in ja en; do
  export PALVO_WINE_DIR=$dir/wine-installer-$lang
  rm -rf "$PALVO_WINE_DIR"
  # shellcheck source=scripts/wine-env.sh
  source "$root/scripts/wine-env.sh"
  # The installer takes the user's language from the locale.
  [ $lang = en ] && export LANG=C.UTF-8
  palvo_wine_up || exit 1
  # No window manager under Xvfb: Wine draws the captions itself.
  for v in Managed Decorated; do
    timeout 30 wine reg add 'HKCU\Software\Wine\X11 Driver' /v $v /d N /f </dev/null >/dev/null 2>&1
  done
  wine "$(winepath -w "$setup")" </dev/null >/dev/null 2>&1 &
  pid=$!
  window=
  for _ in $(seq 200); do
    window=$(xdotool search --name 'Palvo' 2>/dev/null | head -n 1)
    [ -n "$window" ] && break
    sleep 0.1
  done
  if [ -z "$window" ]; then
    echo "installer-shots: no installer window ($lang)" >&2
    status=1
  else
    shot() {
      sleep 1.5
      import -display "$DISPLAY" -window root "$dir/installer-$lang-$1.png" && echo "$dir/installer-$lang-$1.png"
    }
    shot folder
    # Install, then the finish page.
    xdotool windowfocus --sync "$window" key Return 2>/dev/null
    sleep 4
    shot finish
  fi
  kill "$pid" 2>/dev/null
  palvo_wine_stop
  wait "$pid" 2>/dev/null
done
exit $status
