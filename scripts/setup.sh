#!/bin/bash
# Installs the Debian packages the build, the tests and the demo need, and only
# those that are missing: with everything present it costs one dpkg-query.
#
#   scripts/setup.sh [native|wine|tools|all]...   (default: all)
#
# native: compilers, CMake, GoogleTest.  wine: MinGW-w64, Wine, a headless X
# server, socat, a Japanese font, Python (the window's icons).  tools: clang
# (fuzzing), valgrind, clang-format.
set -euo pipefail

native=(build-essential g++ cmake pkg-config googletest libgtest-dev libgmock-dev)
native+=(python3 python3-vobject)  # the export's read-back test (tests/export/readback.py)
wine=(g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 wine wine64 fonts-wine
  libxrender1 libxrandr2 libxi6 libxcursor1 libxcomposite1 libxinerama1 libxfixes3 libxxf86vm1
  xvfb xauth xdotool imagemagick socat locales fonts-ipafont-gothic python3)
tools=(clang libclang-rt-14-dev valgrind clang-format)

wanted=()
[ $# -eq 0 ] && set -- all
for group in "$@"; do
  case "$group" in
    native) wanted+=("${native[@]}") ;;
    wine) wanted+=("${wine[@]}") ;;
    tools) wanted+=("${tools[@]}") ;;
    all) wanted+=("${native[@]}" "${wine[@]}" "${tools[@]}") ;;
    *) echo "setup.sh: unknown group '$group' (native, wine, tools, all)" >&2; exit 2 ;;
  esac
done

# dpkg-query exits non-zero when any package is unknown to dpkg; what it
# printed for the others still counts.
installed=" $({ dpkg-query -W -f='${Package}:${Status}\n' "${wanted[@]}" 2>/dev/null || true; } |
  sed -n 's/:install ok installed$//p' | tr '\n' ' ') "
missing=()
for pkg in "${wanted[@]}"; do
  [[ "$installed" == *" $pkg "* ]] || missing+=("$pkg")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "setup.sh: installing ${missing[*]}" >&2
sudo=()
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null; then
    sudo=(sudo env DEBIAN_FRONTEND=noninteractive)
  else
    echo "setup.sh: run as root (or install sudo) to install: ${missing[*]}" >&2
    exit 1
  fi
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null
