#!/bin/bash
# Installs the Debian packages the build, the tests and the demo need, and only
# those that are missing: with everything present it costs one dpkg-query.
#
#   scripts/setup.sh [native|wine|tools|package|all]...   (default: native wine tools)
#
# native: compilers, CMake, GoogleTest, CLI11, groff (the man page check).  wine:
# MinGW-w64, Wine, a headless X server, socat, a Japanese font, Python (the
# window's icons).  tools: clang (fuzzing), valgrind, clang-format, shellcheck.  package:
# what scripts/package.sh needs (debhelper, lintian, NSIS, man).  all: every
# group.
#
# When apt-get fails it says which packages it could not install and why (apt's
# own error lines), and exits non-zero; so does a package that apt-get reported
# as installed but dpkg does not know as installed afterwards.
set -euo pipefail

# python3-vobject, chromium, fonts-ipafont-gothic: the export's read-back test
# (tests/export/readback.py), which screenshots the archive in a headless
# browser.
# libcli11-dev: the command line's argument parser (header-only; in both groups,
# since the Windows build uses it too).
native=(build-essential g++ cmake pkg-config googletest libgtest-dev libgmock-dev groff-base
  python3 python3-vobject chromium fonts-ipafont-gothic libcli11-dev)
wine=(g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 libcli11-dev wine wine64 fonts-wine
  libxrender1 libxrandr2 libxi6 libxcursor1 libxcomposite1 libxinerama1 libxfixes3 libxxf86vm1
  xvfb xauth xdotool imagemagick socat locales fonts-ipafont-gothic python3)
tools=(clang libclang-rt-14-dev valgrind clang-format shellcheck)
package=(debhelper dpkg-dev fakeroot lintian man-db nsis)

say() { echo "setup.sh: $*" >&2; }

wanted=()
[ $# -eq 0 ] && set -- native wine tools
for group in "$@"; do
  case "$group" in
    native) wanted+=("${native[@]}") ;;
    wine) wanted+=("${wine[@]}") ;;
    tools) wanted+=("${tools[@]}") ;;
    package) wanted+=("${package[@]}") ;;
    all) wanted+=("${native[@]}" "${wine[@]}" "${tools[@]}" "${package[@]}") ;;
    *) say "unknown group '$group' (native, wine, tools, package, all)"; exit 2 ;;
  esac
done

# The wanted packages that dpkg does not have fully installed: unknown to it,
# removed with their configuration kept, half installed or half configured.
# dpkg-query exits non-zero when any package is unknown to dpkg; what it
# printed for the others still counts.
not_installed() {  # package...
  local installed pkg
  installed=" $({ dpkg-query -W -f='${Package}:${Status}\n' "$@" 2>/dev/null || true; } |
    sed -n 's/:install ok installed$//p' | tr '\n' ' ') "
  for pkg in "$@"; do
    [[ "$installed" == *" $pkg "* ]] || echo "$pkg"
  done
}

# Each package once, in the order the groups name them.
declare -A seen=()
unique=()
for pkg in "${wanted[@]}"; do
  [ -n "${seen[$pkg]:-}" ] && continue
  seen[$pkg]=1
  unique+=("$pkg")
done

mapfile -t missing < <(not_installed "${unique[@]}")
[ ${#missing[@]} -eq 0 ] && exit 0

say "installing ${missing[*]}"
sudo=()
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null; then
    sudo=(sudo env DEBIAN_FRONTEND=noninteractive)
  else
    say "run as root (or install sudo) to install: ${missing[*]}"
    exit 1
  fi
fi
export DEBIAN_FRONTEND=noninteractive
# Another apt or dpkg at work (an unattended upgrade) is waited for, not failed on.
apt=("${sudo[@]}" apt-get -q -o DPkg::Lock::Timeout=600)

log=$(mktemp)
trap 'rm -f "$log"' EXIT

# apt's own reasons: its error lines, and the dependency problems it lists.
reasons() {
  grep -E '^(E|W|Err):|Depends:|Conflicts:|Breaks:|Failed to fetch|Could not resolve|Temporary failure' "$log" |
    sed 's/^/  /' | head -n 40 >&2 || true
}

if ! "${apt[@]}" update </dev/null >"$log" 2>&1; then
  # The lists already here may still serve; the install below tells.
  say "apt-get update failed; trying with the package lists already here:"
  reasons
fi

rc=0
"${apt[@]}" install -y --no-install-recommends "${missing[@]}" </dev/null >"$log" 2>&1 || rc=$?
mapfile -t left < <(not_installed "${missing[@]}")
if [ $rc -ne 0 ]; then
  # Packages apt-get does not know at all are named by it; else all of them failed.
  mapfile -t unknown < <(sed -nE "s/^E: Unable to locate package ([^ ]+).*/\1/p" "$log" | sort -u)
  mapfile -t unavailable < <(sed -nE "s/^E: Package '([^']+)' has no installation candidate.*/\1/p" "$log" | sort -u)
  say "apt-get install failed (exit status $rc); not installed: ${left[*]:-${missing[*]}}"
  [ ${#unknown[@]} -gt 0 ] && say "unknown to apt-get: ${unknown[*]}"
  [ ${#unavailable[@]} -gt 0 ] && say "known to apt-get but not available: ${unavailable[*]}"
  say "apt-get said (all of it in $log):"
  reasons
  trap - EXIT
  exit 1
fi
if [ ${#left[@]} -gt 0 ]; then
  say "apt-get finished but these are still not installed: ${left[*]} (apt-get's output: $log)"
  reasons
  trap - EXIT
  exit 1
fi
say "installed ${#missing[@]} packages"
