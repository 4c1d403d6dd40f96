#!/bin/bash
# The README's commands on a fresh Debian 12 machine: a minimal bookworm root
# (debootstrap, made once in build/fresh/base), copied anew for every run, a
# fresh clone of the committed HEAD in it, and each named script run there in
# a chroot as root, timed. Needs root, debootstrap and the network to Debian's
# mirror; not part of scripts/test.sh.
#
#   scripts/fresh-check.sh [--keep] [SCRIPT...]   (default: demo test; also package)
#
# Logs and times: build/fresh/<script>.log, build/fresh/times.txt. --keep
# leaves the root (build/fresh/root) for a look; every mount is undone anyway.
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
out=$root/build/fresh
base=$out/base
target=$out/root
keep=0
[ "${1:-}" = --keep ] && { keep=1; shift; }
scripts=("$@")
[ ${#scripts[@]} -eq 0 ] && scripts=(demo test)
mirror=${PALVO_DEBIAN_MIRROR:-http://deb.debian.org/debian}

say() { echo "fresh-check: $*" >&2; }
[ "$(id -u)" = 0 ] || { say "needs root (debootstrap, chroot, mounts)"; exit 1; }
for s in "${scripts[@]}"; do
  [ -x "$root/scripts/$s.sh" ] || { say "no scripts/$s.sh"; exit 2; }
done
command -v debootstrap >/dev/null || apt-get install -y -qq --no-install-recommends debootstrap ||
  { say "cannot install debootstrap"; exit 1; }
mkdir -p "$out"

if [ ! -f "$base/.complete" ]; then
  say "making a minimal bookworm root in $base (once)"
  rm -rf "$base"
  debootstrap --variant=minbase bookworm "$base" "$mirror" >"$out/debootstrap.log" 2>&1 ||
    { tail -20 "$out/debootstrap.log"; say "debootstrap failed"; exit 1; }
  # The suites a Debian 12 installation has.
  cat >"$base/etc/apt/sources.list" <<EOF
deb $mirror bookworm main
deb $mirror bookworm-updates main
deb http://deb.debian.org/debian-security bookworm-security main
EOF
  touch "$base/.complete"
fi

mounted=()
# shellcheck disable=SC2317  # run by the trap
undo() {
  # What still runs in the root (a server a script left behind) goes first.
  local p pids=()
  for p in /proc/[0-9]*; do
    [ "$(readlink "$p/root" 2>/dev/null)" = "$target" ] && pids+=("${p#/proc/}")
  done
  if [ ${#pids[@]} -gt 0 ]; then
    say "left running in the root, ended: ${pids[*]}"
    kill "${pids[@]}" 2>/dev/null
    sleep 2
    kill -KILL "${pids[@]}" 2>/dev/null
  fi
  local i
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
    umount "${mounted[$i]}" 2>/dev/null || umount -l "${mounted[$i]}"
  done
  mounted=()
  # Never delete through a mount that is still there (/dev, /sys of the host).
  if grep -q " $target/" /proc/self/mounts; then
    say "something is still mounted under $target; left in place"
  elif [ "$keep" = 0 ]; then
    rm -rf "$target"
  fi
}
trap undo EXIT

say "copying the root and cloning HEAD ($(git -C "$root" log --oneline -1))"
rm -rf "$target"
cp -a "$base" "$target"
cp /etc/resolv.conf "$target/etc/resolv.conf"
git clone -q --no-hardlinks "$root" "$target/root/palvo" || { say "git clone failed"; exit 1; }
for m in proc sys dev dev/pts dev/shm; do
  mount --bind "/$m" "$target/$m" || { say "cannot mount /$m"; exit 1; }
  mounted+=("$target/$m")
done

: >"$out/times.txt"
status=0
for s in "${scripts[@]}"; do
  say "scripts/$s.sh (log build/fresh/$s.log)"
  t0=$(date +%s)
  chroot "$target" /usr/bin/env -i HOME=/root PATH=/usr/sbin:/usr/bin:/sbin:/bin TERM=dumb \
    /bin/bash -c "cd /root/palvo && scripts/$s.sh" </dev/null >"$out/$s.log" 2>&1
  rc=$?
  t=$(($(date +%s) - t0))
  echo "scripts/$s.sh: exit status $rc, $t s" | tee -a "$out/times.txt"
  tail -n 3 "$out/$s.log"
  [ $rc = 0 ] || status=1
done
# Measured with the mounts undone (du would walk /proc otherwise).
keep_after=$keep
keep=1
undo
du -sh "$target" | sed 's/^/fresh-check: root size /' >&2
[ "$keep_after" = 1 ] || rm -rf "$target"
exit $status
