#!/bin/bash
# Screenshots of the window program at 96 and 192 DPI (the display's scale
# under HKCU\Control Panel\Desktop LogPixels): scripts/demo-window.sh's tour,
# once at each, in a Wine prefix of its own. Prints the folders.
#
#   scripts/window-shots.sh [DIR]        (default: build/shots)
#
# DIR/dpi-96 and DIR/dpi-192 hold the tour's screenshots (window.png, ...).
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
dir=$(mkdir -p "${1:-$root/build/shots}" && cd "${1:-$root/build/shots}" && pwd)
export PALVO_WINE_DIR=$dir/wine

# shellcheck source=scripts/wine-env.sh
source "$root/scripts/wine-env.sh"
status=0
for dpi in 96 192; do
  palvo_wine_up || exit 1
  timeout 30 wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d $dpi /f \
    </dev/null >/dev/null 2>&1
  # Every Wine process reads the scale when it starts, the server's own too.
  palvo_wine_stop
  "$root/scripts/demo-window.sh" "$dir/dpi-$dpi" >/dev/null || status=1
  echo "$dir/dpi-$dpi"
done
exit $status
