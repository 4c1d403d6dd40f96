#!/bin/bash
# scripts/setup.sh against stand-ins for dpkg-query, apt-get, id and sudo, so
# that what it asks for does not depend on what this machine has installed.
# PATH holds only the stand-ins and the few tools the script uses.
#
#   tests/scripts/setup_test.sh       ends with "N passed, N failed"
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
setup=$here/../../scripts/setup.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# setup.sh keeps apt's log of a failed install for the person to read: here
# it goes with the rest.
export TMPDIR=$work
passed=0
failed=0

# --- the stand-ins; they keep their state in $SHIM_DIR

bin=$work/bin
mkdir -p "$bin"
for tool in bash sed tr grep head sort mktemp rm cat env; do
  real=$(command -v "$tool") || { echo "setup_test: no $tool on this machine"; exit 1; }
  ln -s "$real" "$bin/$tool"
done

# dpkg's database: one "package status" line each, e.g. "cmake install ok installed".
cat >"$bin/dpkg-query" <<'EOF'
#!/bin/bash
# Only what setup.sh uses: -W -f='${Package}:${Status}\n' PACKAGE...
shift 2
rc=0
for p in "$@"; do
  status=$(sed -n "s/^$p //p" "$SHIM_DIR/dpkg")
  if [ -z "$status" ]; then
    echo "dpkg-query: no packages found matching $p" >&2
    rc=1
  else
    echo "$p:$status"
  fi
done
exit $rc
EOF

# Records each call; SHIM_UPDATE_RC, SHIM_INSTALL_RC and SHIM_INSTALL_SAYS
# decide the outcome; a successful install marks the packages installed,
# except those in SHIM_INSTALL_SKIPS.
cat >"$bin/apt-get" <<'EOF'
#!/bin/bash
echo "apt-get $*" >>"$SHIM_DIR/calls"
args=()
for a in "$@"; do
  case "$a" in -*|*=*) ;; *) args+=("$a") ;; esac
done
case "${args[0]}" in
  update)
    [ "${SHIM_UPDATE_RC:-0}" = 0 ] || { echo "E: Failed to fetch http://mirror/dists/bookworm/InRelease"; exit "$SHIM_UPDATE_RC"; }
    ;;
  install)
    if [ "${SHIM_INSTALL_RC:-0}" != 0 ]; then
      printf '%b\n' "${SHIM_INSTALL_SAYS:-E: failed}"
      exit "$SHIM_INSTALL_RC"
    fi
    for p in "${args[@]:1}"; do
      [[ " ${SHIM_INSTALL_SKIPS:-} " == *" $p "* ]] && continue
      sed -i "/^$p /d" "$SHIM_DIR/dpkg"
      echo "$p install ok installed" >>"$SHIM_DIR/dpkg"
    done
    ;;
esac
EOF

cat >"$bin/id" <<'EOF'
#!/bin/bash
echo "${SHIM_UID:-0}"
EOF

# Present only when a case copies it in.
cat >"$work/sudo" <<'EOF'
#!/bin/bash
echo "sudo $*" >>"$SHIM_DIR/calls"
exec "$@"
EOF
chmod +x "$bin"/* "$work/sudo"

# Every package of every group, installed.
all_packages=$(sed -n '/^[a-z]*=(/,/)$/p' "$setup" | sed 's/^[a-z]*=(//; s/)$//' | tr ' ' '\n' | grep -v '^$')

# --- cases

# A fresh state: every package installed, then the case's changes.
reset() {
  export SHIM_DIR=$work/state
  rm -rf "$SHIM_DIR" "$bin/sudo"
  mkdir -p "$SHIM_DIR"
  : >"$SHIM_DIR/calls"
  for p in $all_packages; do echo "$p install ok installed"; done >"$SHIM_DIR/dpkg"
  unset SHIM_UPDATE_RC SHIM_INSTALL_RC SHIM_INSTALL_SAYS SHIM_INSTALL_SKIPS SHIM_UID
}
unknown_to_dpkg() { for p in "$@"; do sed -i "/^$p /d" "$SHIM_DIR/dpkg"; done; }
with_status() {  # status package...
  local s=$1 p
  shift
  for p in "$@"; do
    sed -i "/^$p /d" "$SHIM_DIR/dpkg"
    echo "$p $s" >>"$SHIM_DIR/dpkg"
  done
}

run() {  # setup.sh arguments...
  PATH=$bin "$bin/bash" "$setup" "$@" >"$work/out" 2>&1
  rc=$?
}

problems=()
expect() {  # description, test command...
  local what=$1
  shift
  "$@" || problems+=("$what")
}
has() { grep -qF -- "$1" "$work/out"; }
calls() { cat "$SHIM_DIR/calls"; }
install_call() { sed -n 's/^.*apt-get .*install //p' "$SHIM_DIR/calls"; }
# The packages of the install call, without its options, one line.
installed_args() { install_call | tr ' ' '\n' | grep -v '^-' | tr '\n' ' ' | sed 's/ $//'; }

finish() {  # case name
  if [ ${#problems[@]} -eq 0 ]; then
    echo "ok - $1"
    passed=$((passed + 1))
  else
    echo "FAIL - $1"
    printf '    %s\n' "${problems[@]}"
    echo "    exit status $rc; output:"
    sed 's/^/    | /' "$work/out"
    echo "    calls:"
    sed 's/^/    | /' "$SHIM_DIR/calls"
    failed=$((failed + 1))
  fi
  problems=()
}

reset
run
expect "exit 0" [ $rc = 0 ]
expect "no apt-get call" [ ! -s "$SHIM_DIR/calls" ]
expect "no output" [ ! -s "$work/out" ]
finish "everything installed: nothing is asked of apt-get"

# Unknown to dpkg, removed with its configuration kept, never installed, and
# stopped half way: exactly these, once, in the groups' order.
reset
unknown_to_dpkg cmake wine
with_status "deinstall ok config-files" googletest
with_status "unknown ok not-installed" socat
with_status "install ok half-configured" valgrind
run
expect "exit 0" [ $rc = 0 ]
expect "update, then one install" [ "$(calls | sed -E 's/apt-get .* (update|install) .*/\1/; s/apt-get .* update$/update/')" = "$(printf 'update\ninstall')" ]
expect "asks for exactly the five" [ "$(installed_args)" = "cmake googletest wine socat valgrind" ]
expect "no recommends, no questions" bash -c "grep -q -- '--no-install-recommends' '$SHIM_DIR/calls' && grep -q -- ' -y ' '$SHIM_DIR/calls'"
expect "says what it installs" has "installing cmake googletest wine socat valgrind"
finish "missing packages of every kind: exactly those are installed"

reset
unknown_to_dpkg cmake nsis clang
run native
expect "exit 0" [ $rc = 0 ]
expect "only the native group's" [ "$(installed_args)" = "cmake" ]
reset
unknown_to_dpkg nsis lintian cmake
run package
expect "only the package group's" [ "$(installed_args)" = "lintian nsis" ]
reset
unknown_to_dpkg python3 nsis
run wine all wine
expect "each package once" [ "$(installed_args)" = "python3 nsis" ]
reset
run nonsense
expect "usage error" [ $rc = 2 ]
expect "names the group" has "unknown group 'nonsense'"
expect "no apt-get call" [ ! -s "$SHIM_DIR/calls" ]
finish "groups: each asks for its own packages, once; an unknown group is refused"

reset
unknown_to_dpkg wine fonts-ipafont-gothic
export SHIM_INSTALL_RC=100
export SHIM_INSTALL_SAYS="Reading package lists...\nE: Unable to locate package fonts-ipafont-gothic"
run
expect "exit non-zero" [ $rc != 0 ]
expect "names what is not installed" has "not installed: fonts-ipafont-gothic wine"
expect "names the package apt-get does not know" has "unknown to apt-get: fonts-ipafont-gothic"
expect "passes on apt-get's error" has "E: Unable to locate package fonts-ipafont-gothic"
expect "gives apt-get's exit status" has "exit status 100"
finish "apt-get does not know a package: reported with apt-get's reason, non-zero exit"

reset
unknown_to_dpkg xvfb
export SHIM_INSTALL_RC=100
export SHIM_INSTALL_SAYS="The following packages have unmet dependencies:\n xvfb : Depends: libgl1 but it is not going to be installed\nE: Unable to correct problems, you have held broken packages."
run
expect "exit non-zero" [ $rc != 0 ]
expect "names the package" has "not installed: xvfb"
expect "passes on the dependency problem" has "xvfb : Depends: libgl1"
expect "passes on apt-get's error" has "E: Unable to correct problems"
finish "apt-get cannot resolve dependencies: reported, non-zero exit"

reset
unknown_to_dpkg socat
export SHIM_INSTALL_SKIPS=socat
run
expect "exit non-zero" [ $rc != 0 ]
expect "names the package" has "still not installed: socat"
finish "apt-get succeeds but a package is still not installed: reported, non-zero exit"

reset
unknown_to_dpkg socat
export SHIM_UPDATE_RC=100
run
expect "exit 0" [ $rc = 0 ]
expect "warns about the update" has "apt-get update failed"
expect "passes on its reason" has "Failed to fetch"
expect "still installs" [ "$(installed_args)" = "socat" ]
finish "apt-get update fails: a warning with its reason, the install still tried"

reset
unknown_to_dpkg socat
export SHIM_UID=1000
run
expect "exit non-zero" [ $rc != 0 ]
expect "says what it needs" has "run as root (or install sudo) to install: socat"
expect "no apt-get call" [ ! -s "$SHIM_DIR/calls" ]
reset
unknown_to_dpkg socat
export SHIM_UID=1000
cp "$work/sudo" "$bin/sudo"
run
expect "exit 0 with sudo" [ $rc = 0 ]
expect "apt-get through sudo" grep -q '^sudo env DEBIAN_FRONTEND=noninteractive apt-get' "$SHIM_DIR/calls"
finish "not root: through sudo, or a clear refusal without it"

echo "$passed passed, $failed failed"
[ $failed = 0 ]
