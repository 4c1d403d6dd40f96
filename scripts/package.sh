#!/bin/bash
# shellcheck disable=SC2317  # the parts are called by name: "${part}_part"
# The two packages, built and checked:
#   build/package/palvo_<version>_amd64.deb   from debian/ (dpkg-buildpackage,
#       Release), checked with lintian (errors fail), and, as root on a
#       machine without palvo installed, installed with dpkg -i, run
#       (palvo --version, man palvo) and removed with dpkg -r;
#   build/package/palvo-<version>-setup.exe   from dist/windows/palvo.nsi
#       (makensis) over a Release MinGW build, installed silently under Wine
#       into a prefix of its own (given folder and default folder), checked
#       (files, Start menu entry, Add/Remove Programs key, palvo-cli.exe
#       --version) and uninstalled silently (everything gone again).
#
#   scripts/package.sh [--no-check] [deb|windows]...   (default: both)
#
# --no-check builds only. Logs: build/package/*.log. Ends with
# "package.sh: N checks passed, N failed".
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root" || exit 1
check=1
[ "${1:-}" = --no-check ] && { check=0; shift; }
parts=("$@")
[ ${#parts[@]} -eq 0 ] && parts=(deb windows)
out=$root/build/package
mkdir -p "$out"
jobs=$(nproc 2>/dev/null || echo 2)
passed=0
failed=0
start=$(date +%s)

say() { printf '== %s\n' "$*"; }
ok() { echo "ok - $*"; passed=$((passed + 1)); }
bad() { echo "FAIL - $*"; failed=$((failed + 1)); }
expect() {  # description, command...
  local what=$1
  shift
  if "$@"; then ok "$what"; else bad "$what"; fi
}
finish() {
  echo "package.sh: took $(($(date +%s) - start)) s"
  echo "package.sh: $passed checks passed, $failed failed"
  [ "$failed" = 0 ]
  exit
}

version=$(sed -nE 's/^project\(palvo VERSION ([0-9.]+).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { bad "the version in CMakeLists.txt's project()"; finish; }
changelog=$(sed -nE '1s/^palvo \(([^)]+)\).*/\1/p' debian/changelog)
# One version: the package's changelog follows project().
expect "debian/changelog's version ($changelog) is the project's ($version)" [ "$changelog" = "$version" ]

groups=(package)
for part in "${parts[@]}"; do
  case "$part" in
    deb) groups+=(native) ;;
    windows) groups+=(wine) ;;
    *) echo "usage: scripts/package.sh [--no-check] [deb|windows]..." >&2; exit 2 ;;
  esac
done
say "packages (${groups[*]})"
timeout 1800 scripts/setup.sh "${groups[@]}" || { bad "package set-up"; finish; }

# ---- the Debian package

deb_part() {
  local deb=$out/palvo_${version}_amd64.deb src=$out/src/palvo-$version
  say "Debian package ($deb)"
  # The tracked files as they are in the work tree (changes not yet
  # committed included), nothing of build/.
  rm -rf "$out/src" && mkdir -p "$src"
  if git rev-parse --git-dir >/dev/null 2>&1; then
    git ls-files -z --cached --others --exclude-standard | grep -zv '^build/' |
      while IFS= read -r -d '' f; do [ -e "$f" ] && printf '%s\0' "$f"; done |
      tar --null -cf - -T - | tar -xf - -C "$src"
  else
    tar -cf - --exclude=./build . | tar -xf - -C "$src"
  fi
  rm -f "$deb"
  if ! (cd "$src" && DEB_BUILD_OPTIONS="parallel=$jobs" timeout 1800 dpkg-buildpackage -b -us -uc) \
    >"$out/deb-build.log" 2>&1; then
    tail -n 30 "$out/deb-build.log"
    bad "dpkg-buildpackage (build/package/deb-build.log)"
    return
  fi
  mv "$out/src/palvo_${version}_amd64.deb" "$deb" &&
    mv "$out/src/"palvo*_amd64.{buildinfo,changes} "$out/" 2>/dev/null
  mv "$out/src/"palvo-dbgsym_*.deb "$out/" 2>/dev/null
  expect "dpkg-buildpackage made $(basename "$deb")" [ -s "$deb" ] || return

  timeout 600 lintian --tag-display-limit 0 "$deb" >"$out/lintian.txt" 2>&1
  echo "lintian:"
  sed 's/^/  /' "$out/lintian.txt"
  expect "lintian reports no errors" bash -c "! grep -q '^E: ' '$out/lintian.txt'"
  echo "contents:"
  dpkg-deb -c "$deb" | awk '{ print "  " $6 }'

  [ "$check" = 1 ] || return
  if [ "$(id -u)" != 0 ]; then
    echo "(not root: dpkg -i and dpkg -r not tried)"
    return
  fi
  if dpkg-query -W -f='${Status}' palvo 2>/dev/null | grep -q 'ok installed'; then
    echo "(palvo is installed on this machine: dpkg -i and dpkg -r not tried)"
    return
  fi
  expect "dpkg -i installs it" bash -c "dpkg -i '$deb' >'$out/dpkg.log' 2>&1"
  expect "palvo --version prints $version" [ "$(/usr/bin/palvo --version 2>&1)" = "palvo $version" ]
  expect "palvo-handset --version prints $version" \
    [ "$(/usr/bin/palvo-handset --version 2>&1)" = "palvo-handset $version" ]
  expect "man palvo shows the page" bash -c \
    "MANWIDTH=80 man palvo 2>&1 | grep -q 'palvo get --all'"
  expect "man palvo-handset shows the page" bash -c \
    "MANWIDTH=80 man palvo-handset 2>&1 | grep -q 'simulated PHS handset'"
  expect "dpkg -r removes it" bash -c "dpkg -r palvo >>'$out/dpkg.log' 2>&1"
  local left
  left=$(ls -d /usr/bin/palvo /usr/bin/palvo-handset /usr/share/palvo /usr/share/man/man1/palvo.1.gz \
    /usr/lib/udev/rules.d/60-palvo.rules /usr/share/bash-completion/completions/palvo 2>/dev/null)
  expect "nothing of it is left after dpkg -r" [ -z "$left" ]
}

# ---- the Windows installer

wine_exists() { [ -e "$(winepath -u "$1" 2>/dev/null)" ]; }
# Waits until a Windows path is gone (an NSIS uninstaller finishes in a copy of
# itself after the first process has returned).
wine_gone() {  # path
  for _ in $(seq 600); do
    wine_exists "$1" || return 0
    sleep 0.1
  done
  return 1
}
reg_has() { wine reg query "$1" /v "$2" </dev/null 2>/dev/null | grep -qF -- "$3"; }
# Runs a Windows command line exactly as typed, through a batch file: wine
# quotes an argument that holds a blank, and NSIS takes /D= only unquoted.
wine_typed() {  # command line
  local bat=$PALVO_WINE_DIR/typed.bat
  printf '@%s\r\n' "$1" >"$bat"
  timeout 300 wine cmd /c "$(winepath -w "$bat")" </dev/null >>"$out/wine-setup.log" 2>&1
}

wine_refused() { ! wine_typed "$1"; }

windows_part() {
  local setup=$out/palvo-$version-setup.exe win=$out/mingw stage=$out/windows
  say "Windows installer ($setup)"
  if [ ! -f "$win/CMakeCache.txt" ]; then
    timeout 600 cmake -S . -B "$win" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
      -DCMAKE_BUILD_TYPE=Release -DPALVO_TESTS=OFF -DPALVO_WERROR=ON >"$out/mingw-configure.log" 2>&1 ||
      { tail -n 30 "$out/mingw-configure.log"; bad "cmake (build/package/mingw-configure.log)"; return; }
  fi
  timeout 2400 cmake --build "$win" -j "$jobs" --target palvo palvo-cli >"$out/mingw-build.log" 2>&1 ||
    { tail -n 30 "$out/mingw-build.log"; bad "the Windows build (build/package/mingw-build.log)"; return; }
  rm -rf "$stage" && mkdir -p "$stage"
  cp "$win/ui/palvo.exe" "$win/palvo-cli.exe" "$stage/"
  rm -f "$setup"
  python3 dist/windows/make_wizard_bitmap.py ui/icons/palette.txt ui/icons/103_program.txt \
    "$stage/wizard.bmp" || { bad "the installer's picture (dist/windows/make_wizard_bitmap.py)"; return; }
  timeout 600 makensis -V2 -DVERSION="$version" -DEXE_DIR="$stage" -DOUT_FILE="$setup" \
    -DICON="$win/ui/icons/103.ico" -DWIZARD_BITMAP="$stage/wizard.bmp" dist/windows/palvo.nsi \
    >"$out/makensis.log" 2>&1
  cat "$out/makensis.log"
  expect "makensis made $(basename "$setup")" [ -s "$setup" ] || return
  [ "$check" = 1 ] || return

  (
    export PALVO_WINE_DIR=$out/wine
    # shellcheck source=scripts/wine-env.sh
    source scripts/wine-env.sh
    trap palvo_wine_stop EXIT
    palvo_wine_up || { bad "Wine did not start ($PALVO_WINE_DIR)"; exit 1; }
    key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Palvo'
    shortcut='C:\ProgramData\Microsoft\Windows\Start Menu\Programs\Palvo.lnk'
    # Earlier runs' installations out of the way.
    : >"$out/wine-setup.log"
    for d in 'C:\Palvo test' 'C:\Palvo quoted' 'C:\Program Files\Palvo'; do
      wine_exists "$d\\uninstall.exe" && wine_typed "\"$d\\uninstall.exe\" /S" && wine_gone "$d\\uninstall.exe"
    done
    setup_w=$(winepath -w "$setup")

    dir='C:\Palvo test'
    expect "setup.exe /S /D=$dir succeeds" wine_typed "\"$setup_w\" /S /D=$dir"
    for f in palvo.exe palvo-cli.exe uninstall.exe; do
      expect "$f is in $dir" wine_exists "$dir\\$f"
    done
    expect "the Start menu entry is there" wine_exists "$shortcut"
    expect "Add/Remove Programs lists Palvo $version" reg_has "$key" DisplayVersion "$version"
    expect "its uninstaller is registered" reg_has "$key" UninstallString "$dir\\uninstall.exe"
    expect "the installed palvo-cli.exe prints $version" \
      [ "$(timeout 60 wine "$dir\\palvo-cli.exe" --version </dev/null 2>&1 | tr -d '\r')" = "palvo $version" ]
    expect "uninstall.exe /S succeeds" wine_typed "\"$dir\\uninstall.exe\" /S"
    expect "and removes the folder" wine_gone "$dir"
    expect "and the Start menu entry" wine_gone "$shortcut"
    expect "and the Add/Remove Programs key" bash -c "! wine reg query '$key' </dev/null >/dev/null 2>&1"

    # Quotes typed around a folder with blanks are taken off; a folder that
    # is not a whole path is refused (exit code 2), nothing installed anywhere.
    dir='C:\Palvo quoted'
    expect "setup.exe /S /D=\"$dir\" installs into $dir" wine_typed "\"$setup_w\" /S /D=\"$dir\""
    expect "palvo.exe is in $dir" wine_exists "$dir\\palvo.exe"
    wine_typed "\"$dir\\uninstall.exe\" /S"
    expect "and uninstall.exe /S removes it again" wine_gone "$dir"
    expect "setup.exe /S /D=\"C:\\Palvo half is refused" wine_refused "\"$setup_w\" /S /D=\"C:\\Palvo half"
    expect "and installs nowhere" bash -c "! wine reg query '$key' </dev/null >/dev/null 2>&1"

    expect "setup.exe /S installs into Program Files by default" wine_typed "\"$setup_w\" /S"
    expect "palvo.exe is in C:\\Program Files\\Palvo" wine_exists 'C:\Program Files\Palvo\palvo.exe'
    wine_typed '"C:\Program Files\Palvo\uninstall.exe" /S'
    expect "and uninstall.exe /S removes it again" wine_gone 'C:\Program Files\Palvo'
    echo "$passed $failed" >"$out/wine-counts"
  )
  if [ -f "$out/wine-counts" ]; then
    read -r passed failed <"$out/wine-counts"
    rm -f "$out/wine-counts"
  else
    failed=$((failed + 1))
  fi
}

for part in "${parts[@]}"; do
  "${part}_part"
done

say "sizes"
for f in "$out"/palvo_"${version}"_amd64.deb "$out"/palvo-dbgsym_"${version}"_amd64.deb \
  "$out/palvo-$version-setup.exe"; do
  [ -f "$f" ] && printf '  %8d KiB  %s\n' "$(($(stat -c %s "$f") / 1024))" "build/package/${f##*/}"
done
finish
