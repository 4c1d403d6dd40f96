#!/bin/bash
# Benchmarks of palvo against palvo-handset, each figure a ratio measured in
# this same run against a floor or ceiling (never an absolute time):
#   1. transfer rate vs a raw copy of the same bytes through a pseudo-terminal
#      (native, under Wine, and with the handset throttled);
#   2. heap allocations and peak resident memory vs the size of the work;
#   3. time per listing row / mail vs the handset's own time per exchange;
#   4. a restore at 115200 baud vs the raw link's time for its bytes plus one
#      log-in and listing, and vs one put per file;
#   5. a second get --all of an unchanged handset vs the first (bytes, time),
#      and the CPU of naming 10,000 colliding rows.
#
#   scripts/bench.sh [--no-wine] [--quick]
#
# Builds a Release tree in build/bench, leaves its data there and prints tables.
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root" || exit 1
wine=1
quick=0
for a in "$@"; do
  case "$a" in
    --no-wine) wine=0 ;;
    --quick) quick=1 ;;
    *) echo "usage: scripts/bench.sh [--no-wine] [--quick]" >&2; exit 2 ;;
  esac
done

out=$root/build/bench
tools=$out/tools
data=$out/data
pin=1234
# Each time is the best of this many runs, on both sides of a ratio (the
# machine may be shared: the best run is the one least disturbed). 64 MiB
# and Wine runs take RUNS=3 and RUNS=2.
runs=5
[ $quick = 1 ] && runs=1
big() { [ $quick = 1 ] && echo 1 || echo "$1"; }

say() { printf '\n== %s\n' "$*"; }
die() { echo "bench: $*" >&2; exit 1; }
now() { echo "$EPOCHREALTIME"; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.3f", a / b; else print "-" }'; }
min() { printf '%s\n' "$@" | sort -g | head -n 1; }

say "build (Release, build/bench)"
timeout 1800 scripts/setup.sh native >/dev/null || die "setup.sh native failed"
mkdir -p "$out"
if [ ! -f "$out/CMakeCache.txt" ]; then
  cmake -S . -B "$out" -DCMAKE_BUILD_TYPE=Release -DPALVO_TESTS=OFF >"$out.configure.log" 2>&1 ||
    { cat "$out.configure.log"; die "cmake could not configure"; }
fi
cmake --build "$out" -j "$(nproc)" --target palvo palvo-handset >"$out/build.log" 2>&1 ||
  { tail -30 "$out/build.log"; die "the build failed"; }
mkdir -p "$tools"
flags=(-std=c++20 -O2 -Wall -Wextra -Werror)
for t in raw_pty_copy raw_exchange; do
  g++ "${flags[@]}" -pthread -o "$tools/$t" "bench/$t.cpp" || die "cannot build bench/$t.cpp"
done
g++ "${flags[@]}" -fPIC -shared -o "$tools/alloc_count.so" bench/alloc_count.cpp ||
  die "cannot build bench/alloc_count.cpp"

say "data (build/bench/data)"
make_listing() { # folder, number of files
  [ -f "$1/.done" ] && return
  rm -rf "$1" && mkdir -p "$1/files/other"
  if [ "$2" -gt 0 ]; then (cd "$1/files/other" && seq -f 'n%05g.txt' "$2" | xargs touch) || return; fi
  touch "$1/.done"
}
make_mails() { # folder, number of mails
  [ -f "$1/.done" ] && return
  rm -rf "$1" && mkdir -p "$1/mail"
  local i
  for i in $(seq -f '%05g' 0 $(($2 - 1))); do
    printf 'X-PORIKA-MAIL: 2026/12/08 12:00,from@example.jp,to@example.jp,subject %s\r\nbody of mail %s\r\n' \
      "$i" "$i" >"$1/mail/m$i.txt"
  done
  touch "$1/.done"
}
mkdir -p "$data/files/files/other" "$data/local" "$data/dl"
sizes=(1 16 64)
for s in 0 "${sizes[@]}" 8 0.125; do
  bytes=$(awk -v s="$s" 'BEGIN { printf "%d", s * 1048576 }')
  f=$data/files/files/other/f$s.bin
  [ "$(stat -c %s "$f" 2>/dev/null)" = "$bytes" ] || head -c "$bytes" /dev/urandom >"$f"
  cp "$f" "$data/local/u$s.bin"
done
for n in 0 10 100 1000 10000; do make_listing "$data/list$n" "$n"; done
make_mails "$data/mail10000" "$(big 10000)"
make_backup() { # folder, number of files, bytes each: a backup of ordinary files
  [ -f "$1.done" ] && return
  rm -rf "$1" && mkdir -p "$1"
  local i
  for i in $(seq -f '%03g' 1 "$2"); do head -c "$3" /dev/urandom >"$1/f$i.bin"; done
  touch "$1.done"
}
small=100
[ $quick = 1 ] && small=20
make_backup "$data/small$small" "$small" 2048

# ---- the handset, one at a time, with a registry of the bench's own

export PALVO_REGISTRY=$data/registry
rm -f "$PALVO_REGISTRY" # no driver entries left by an earlier, interrupted run
handset_pid=
pty=
start_handset() { # handset arguments...
  stop_handset
  "$out/palvo-handset" --pin "$pin" --registry "$PALVO_REGISTRY" "$@" \
    </dev/null >"$data/handset.out" 2>"$data/handset.err" &
  handset_pid=$!
  local i
  for i in $(seq 1200); do # it reads its whole content first
    [ -s "$data/handset.out" ] && break
    kill -0 "$handset_pid" 2>/dev/null || break
    sleep 0.05
  done
  pty=$(head -n 1 "$data/handset.out")
  [ -n "$pty" ] || { cat "$data/handset.err"; die "palvo-handset did not start"; }
}
stop_handset() {
  [ -n "$handset_pid" ] || return 0
  kill "$handset_pid" 2>/dev/null && wait "$handset_pid" 2>/dev/null
  handset_pid=
}
trap stop_handset EXIT

# What a failed run saw: the handset's state and the registry it searched.
palvo_failed() {
  { echo "-- handset (pid ${handset_pid:-none}):"; cat "$data/handset.out" "$data/handset.err"
    echo "-- $PALVO_REGISTRY:"; cat "$PALVO_REGISTRY"; } >&2 2>/dev/null
}
# Seconds one palvo command takes (the PIN goes in on standard input).
palvo_time() {
  local t0 t1
  t0=$(now)
  echo "$pin" | timeout 300 "$out/palvo" "$@" >/dev/null 2>"$data/palvo.err" ||
    { cat "$data/palvo.err" >&2; echo "bench: palvo $* failed" >&2; palvo_failed; echo 0; return 1; }
  t1=$(now)
  awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.6f", b - a }'
}
best_palvo() { local i t=(); for i in $(seq "${RUNS:-$runs}"); do t+=("$(palvo_time "$@")"); done; min "${t[@]}"; }
best_raw() { local i t=(); for i in $(seq "${RUNS:-$runs}"); do t+=("$("$tools/raw_pty_copy" "$@")"); done; min "${t[@]}"; }

declare -A done_files
table=$out/results.txt
: >"$table"
row() { printf '%-34s %10s %10s %10s %8s %8s\n' "$@" | tee -a "$table"; }
row3() { printf '%-34s %10s %10s %8s\n' "$@" | tee -a "$table"; }
# whole: the raw copy's time over the whole command's (start, log-in, listing,
# transfer); transfer: over the command's time less that of the same command
# for an empty file (the fixed part), i.e. the transfer rate alone.
transfer_row() { # label, palvo s, empty-file s, raw s
  row "$1" "$2" "$3" "$4" "$(ratio "$4" "$2")" \
    "$(ratio "$4" "$(awk -v a="$2" -v b="$3" 'BEGIN { printf "%.6f", a - b }')")"
}

# ---- 1. transfer rate vs the raw link

say "1. transfer rate vs a raw copy through a pseudo-terminal (best of $runs)"
row "transfer" "palvo s" "empty s" "raw s" "whole" "transfer"
start_handset --content "$data/files"
p0=$(best_palvo get --to "$data/dl/" f0.bin)
for s in "${sizes[@]}"; do
  n=$runs
  [ "$s" = 64 ] && n=$(big 3)
  p=$(RUNS=$n best_palvo get --to "$data/dl/" "f$s.bin")
  cmp -s "$data/dl/f$s.bin" "$data/files/files/other/f$s.bin" || die "f$s.bin came back different"
  r=$(RUNS=$n best_raw "$data/files/files/other/f$s.bin" "$data/dl/raw.bin" down)
  transfer_row "get $s MiB (native)" "$p" "$p0" "$r"
done
rm -rf "$data/up" && mkdir -p "$data/up"
start_handset --content "$data/up"
p0=$(best_palvo put "$data/local/u0.bin")
for s in "${sizes[@]}"; do
  n=$runs
  [ "$s" = 64 ] && n=$(big 3)
  p=$(RUNS=$n best_palvo put "$data/local/u$s.bin")
  cmp -s "$data/up/files/other/u$s.bin" "$data/local/u$s.bin" || die "u$s.bin arrived different"
  r=$(RUNS=$n best_raw "$data/local/u$s.bin" "$data/dl/raw.bin" up)
  transfer_row "put $s MiB (native)" "$p" "$p0" "$r"
done
# Throttled: 1 MiB (best of 3) and 8 MiB (one run, 8 s) at 1 MB/s, 0.125 MiB
# at 115200 baud (one run, 11 s).
throttled=("1000000 1 3" "1000000 8 1" "11520 0.125 1")
[ $quick = 1 ] && throttled=("1000000 1 1" "11520 0.125 1")
for t in "${throttled[@]}"; do
  read -r rate s n <<<"$t"
  start_handset --content "$data/files" --throttle "$rate"
  p0=$(RUNS=$n best_palvo get --to "$data/dl/" f0.bin)
  p=$(RUNS=$n best_palvo get --to "$data/dl/" "f$s.bin")
  r=$("$tools/raw_pty_copy" "$data/files/files/other/f$s.bin" "$data/dl/raw.bin" down --throttle "$rate")
  transfer_row "get $s MiB at $rate B/s (native)" "$p" "$p0" "$r"
  if [ "$rate" = 1000000 ]; then
    # The port trace on: the time without it over the time with it (1.0: free).
    tt=()
    for _ in $(seq "$n"); do
      rm -f "$data/trace.txt"
      tt+=("$(palvo_time get --to "$data/dl/" "f$s.bin" --trace "$data/trace.txt")")
    done
    traced=$(min "${tt[@]}")
    row3 "get $s MiB at $rate B/s, traced" "$traced" "$p" "$(ratio "$p" "$traced")"
  fi
done

# ---- 2. memory vs work

say "2. heap allocations and peak resident memory of palvo vs the work"
printf '%-44s %12s %12s\n' "work" "allocations" "peak RSS KiB" | tee -a "$table"
measure() { # label, palvo arguments...
  local label=$1
  shift
  rm -f "$data/alloc.txt"
  echo "$pin" | BENCH_ALLOC_OUT=$data/alloc.txt LD_PRELOAD=$tools/alloc_count.so \
    timeout 300 "$out/palvo" "$@" >/dev/null 2>"$data/palvo.err" ||
    { cat "$data/palvo.err"; palvo_failed; die "palvo $* failed"; }
  read -r allocs rss <"$data/alloc.txt"
  printf '%-44s %12s %12s\n' "$label" "$allocs" "$rss" | tee -a "$table"
}
start_handset --content "$data/files"
measure "get 1 MiB" get --to "$data/dl/" f1.bin
measure "get 64 MiB" get --to "$data/dl/" f64.bin
start_handset --content "$data/up"
measure "put 1 MiB" put "$data/local/u1.bin"
measure "put 64 MiB" put "$data/local/u64.bin"
for n in 10 1000 10000; do
  start_handset --content "$data/list$n"
  measure "list $n files" list
done

# ---- 3. cost per item vs the handset's own exchange

say "3. time per item vs the handset's time per exchange (best of $runs)"
row3 "work" "palvo us/it" "raw us/it" "ratio"
per_item() { awk -v t="$1" -v n="$2" 'BEGIN { printf "%.1f", t * 1e6 / n }'; }
best_exchange() { # pty, mode, n -> "<seconds> <exchanges>" of the fastest run
  local i best='' line
  for i in $(seq "$runs"); do
    line=$("$tools/raw_exchange" "$pty" "$pin" "$@") || die "raw_exchange $* failed"
    [ -z "$best" ] || awk -v a="${line%% *}" -v b="${best%% *}" 'BEGIN { exit !(a < b) }' && best=$line
  done
  echo "$best"
}
start_handset --content "$data/list10"
rt=$(best_exchange count 1000)
row3 "one request/response round trip" "-" "$(per_item "${rt%% *}" 1000)" "-"
# palvo's cost per item: its time less that of the same command with no items
# (start, log-in, the fixed rows, goodbye), over the items.
start_handset --content "$data/list0"
base_list=$(best_palvo list)
marginal() { awk -v t="$1" -v b="$2" -v n="$3" 'BEGIN { printf "%.1f", (t - b) * 1e6 / n }'; }
for n in 100 1000 10000; do
  start_handset --content "$data/list$n"
  p=$(marginal "$(best_palvo list)" "$base_list" "$n")
  x=$(best_exchange items 6)
  r=$(per_item "${x%% *}" "$n")
  row3 "list $n files" "$p" "$r" "$(ratio "$r" "$p")"
done
# The mail files go to the disk and, where there is one, to a tmpfs: the
# disk's own time for creating and renaming files varies a lot on a shared
# machine, the tmpfs shows the program's.
mail_dirs=("disk $data/dl")
shm=/dev/shm/palvo-bench-$$
mkdir -p "$shm" 2>/dev/null && mail_dirs+=("tmpfs $shm")
trap 'stop_handset; rm -rf "$shm"' EXIT
# Ten thousand mails: a pty's round trip varies a lot from run to run here,
# and the fixed cost of a command (start, log-in, goodbye) with it; over that
# many items the per-mail figure holds still.
mails=$(big 10000)
for m in "${mail_dirs[@]}"; do
  read -r where dir <<<"$m"
  rm -f "$dir"/mail*.txt
  start_handset --content "$data/list0"
  base=$(best_palvo get --to "$dir/" 'mail???.txt')
  start_handset --content "$data/mail10000"
  p=$(marginal "$(best_palvo get --to "$dir/" 'mail???.txt')" "$base" "$mails")
  x=$(best_exchange items 5)
  r=$(per_item "${x%% *}" "$mails")
  row3 "get $mails mails ($where)" "$p" "$r" "$(ratio "$r" "$p")"
done
rm -rf "$shm"
stop_handset

# ---- 4. a restore over a line of 115200 baud

say "4. restore at 115200 baud vs the raw link (bytes, plus one log-in and listing)"
# ratio: (raw + list) / palvo, the floor over the time taken: the raw link's
# time for the restore's own bytes (its uploads and their replies) plus one
# "palvo list" of the restored handset (start, log-in, listing, goodbye).
row4() { printf '%-22s %9s %9s %9s %8s %11s %8s\n' "$@" | tee -a "$table"; }
row4 "restore" "palvo s" "raw s" "list s" "ratio" "one each s" "ratio"
rate=11520
# Bytes of the handset's last connection, both ways, from its log.
carried() { sed -nE 's/.*connection carried ([0-9]+) bytes in, ([0-9]+) bytes out.*/\1 \2/p' "$1" |
  tail -n 1 | awk '{ print $1 + $2 }'; }
# The backup of the shipped sample, as get --all writes it.
start_handset
rm -rf "$data/bk-sample"
palvo_time get --all --to "$data/bk-sample" >/dev/null || die "the sample backup failed"
for set in sample "small$small"; do
  bk=$data/bk-sample
  [ "$set" = sample ] || bk=$data/$set
  [ -f "$bk/bookmark.txt" ] || [ "$set" != sample ] || die "the sample backup has no bookmark.txt"
  restored=$data/restored
  best=
  for i in $(seq "$(big 2)"); do
    rm -rf "$restored" && mkdir -p "$restored" && rm -f "$data/restore.log"
    start_handset --content "$restored" --throttle $rate --log "$data/restore.log"
    t=$(palvo_time put --all --yes "$bk")
    [ -n "$best" ] && awk -v a="$t" -v b="$best" 'BEGIN { exit !(a >= b) }' || best=$t
  done
  bytes=$(carried "$data/restore.log")
  list=$(RUNS=$(big 2) best_palvo list)
  lbytes=$(carried "$data/restore.log")
  # The restore's own bytes (its uploads and their replies) through the same
  # throttled line, in one stream.
  head -c $((bytes - lbytes)) /dev/zero >"$data/restore.bytes"
  raw=$("$tools/raw_pty_copy" "$data/restore.bytes" "$data/dl/raw.bin" up --throttle $rate)
  floor=$(awk -v a="$raw" -v b="$list" 'BEGIN { printf "%.6f", a + b }')
  # The same files one put each, in the restore's order.
  rm -rf "$restored" && mkdir -p "$restored"
  start_handset --content "$restored" --throttle $rate
  each=0
  done_files=()
  for f in "$bk/bookmark.txt" "$bk/address.txt" "$bk"/mail[0-9][0-9][0-9].txt "$bk"/* "$bk"/.[!.]*; do
    [ -f "$f" ] && [ -z "${done_files[$f]:-}" ] || continue
    done_files[$f]=1
    t=$(palvo_time put --yes "$f")
    each=$(awk -v a="$each" -v b="$t" 'BEGIN { printf "%.6f", a + b }')
  done
  row4 "$set ($(find "$bk" -maxdepth 1 -type f ! -name '.*' | wc -l) files)" "$best" "$raw" "$list" \
    "$(ratio "$floor" "$best")" "$each" "$(ratio "$floor" "$each")"
done
stop_handset

# ---- 5. a repeated backup, and naming rows that collide

say "5. a second get --all of an unchanged handset vs the first, at 115200 baud"
# ratios: the second run's bytes on the link and its time over the first's
# (the sample plus a 1 MiB file); the file rows the manifest shows unchanged
# are not transferred again.
row5() { printf '%-34s %12s %12s %8s\n' "$@" | tee -a "$table"; }
incr=$data/incremental
if [ ! -f "$incr/.done" ]; then
  rm -rf "$incr" && cp -r handset/sample "$incr" && head -c 1048576 /dev/urandom >"$incr/files/other/big.bin" &&
    touch "$incr/.done"
fi
rm -rf "$data/bk-incr" "$data/incr.log"
start_handset --content "$incr" --throttle $rate --log "$data/incr.log"
t1=$(palvo_time get --all --to "$data/bk-incr") || die "the first backup failed"
b1=$(carried "$data/incr.log")
t2=$(palvo_time get --all --to "$data/bk-incr") || die "the second backup failed"
b2=$(carried "$data/incr.log")
stop_handset
row5 "get --all again" "first" "second" "ratio"
row5 "  bytes on the link (ceiling 0.02)" "$b1" "$b2" "$(ratio "$b2" "$b1")"
row5 "  time s (ceiling 0.10)" "$t1" "$t2" "$(ratio "$t2" "$t1")"

say "5b. CPU of get --all: 10,000 rows of one local name vs 10,000 of their own"
# Names that differ only in control characters all become a_~N.txt; the
# difference between the two runs' CPU is the cost of naming them.
make_colliding() { # folder, number of files
  [ -f "$1/.done" ] && return
  rm -rf "$1" && mkdir -p "$1/files/other"
  python3 - "$1/files/other" "$2" <<'PY' || return
import os, sys
folder, n = sys.argv[1], int(sys.argv[2])
digits = [c for c in range(1, 32) if c != 9]
for i in range(n):
    name = bytes([ord('a'), digits[i % 30], digits[i // 30 % 30], digits[i // 900]]) + b'.txt'
    open(os.path.join(os.fsencode(folder), name), 'wb').close()
PY
  touch "$1/.done"
}
n5=$(big 10000)
make_colliding "$data/colliding$n5" "$n5"
make_listing "$data/list$n5" "$n5"
cpu_of() { # palvo arguments -> user+system seconds
  local TIMEFORMAT='%3U %3S' t
  t=$({ time (echo "$pin" | "$out/palvo" "$@" >/dev/null 2>"$data/palvo.err"); } 2>&1) ||
    { cat "$data/palvo.err" >&2; die "palvo $* failed"; }
  awk '{ printf "%.3f", $1 + $2 }' <<<"$t"
}
start_handset --content "$data/colliding$n5"
rm -rf "$data/bk-colliding"
c1=$(cpu_of -q get --all --to "$data/bk-colliding")
start_handset --content "$data/list$n5"
rm -rf "$data/bk-plain"
c0=$(cpu_of -q get --all --to "$data/bk-plain")
stop_handset
row5 "CPU s, $n5 rows" "own names" "colliding" "ratio"
row5 "  naming cost $(awk -v a="$c1" -v b="$c0" 'BEGIN { printf "%.3f", a - b }') s (ceiling 1 s)" \
  "$c0" "$c1" "$(ratio "$c1" "$c0")"
rm -rf "$data/bk-colliding" "$data/bk-plain" "$data/bk-incr"

# ---- 1b. under Wine

if [ $wine = 1 ]; then
  say "1b. transfer rate of palvo-cli.exe under Wine vs the raw copy"
  timeout 1800 scripts/setup.sh wine >/dev/null || die "setup.sh wine failed"
  win=$out-mingw
  if [ ! -f "$win/CMakeCache.txt" ]; then
    cmake -S . -B "$win" -DCMAKE_BUILD_TYPE=Release -DPALVO_TESTS=OFF \
      -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake >"$win.configure.log" 2>&1 ||
      { cat "$win.configure.log"; die "cmake could not configure the Windows tree"; }
  fi
  cmake --build "$win" -j "$(nproc)" --target palvo-cli >"$win.build.log" 2>&1 ||
    { tail -30 "$win.build.log"; die "the Windows build failed"; }
  export PALVO_WINE_DIR=$out/wine
  # shellcheck source=scripts/wine-env.sh
  source scripts/wine-env.sh
  palvo_wine_up || die "Wine did not start"
  trap 'stop_handset; scripts/wine-handset.sh stop >/dev/null 2>&1; palvo_wine_stop' EXIT
  cli=$win/palvo-cli.exe
  wine_time() {
    local t0 t1
    t0=$(now)
    echo "$pin" | timeout 300 wine "$cli" "$@" >/dev/null 2>"$data/wine.err" ||
      { cat "$data/wine.err" >&2; echo 0; return 1; }
    t1=$(now)
    awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.6f", b - a }'
  }
  best_wine() { local i t=(); for i in $(seq "${RUNS:-$(big 2)}"); do t+=("$(wine_time "$@")"); done; min "${t[@]}"; }
  dl=$(winepath -w "$data/dl/" 2>/dev/null)
  scripts/wine-handset.sh start --handset "$out/palvo-handset" -- --pin $pin \
    --content "$data/files" >/dev/null || die "wine-handset.sh start failed"
  wine_time list >/dev/null # the PIN goes into the prefix's registry once
  p0=$(best_wine get --to "$dl" f0.bin)
  for s in "${sizes[@]}"; do
    p=$(best_wine get --to "$dl" "f$s.bin")
    cmp -s "$data/dl/f$s.bin" "$data/files/files/other/f$s.bin" || die "f$s.bin came back different under Wine"
    r=$(RUNS=$(big 2) best_raw "$data/files/files/other/f$s.bin" "$data/dl/raw.bin" down)
    transfer_row "get $s MiB (Wine)" "$p" "$p0" "$r"
  done
  scripts/wine-handset.sh start --handset "$out/palvo-handset" -- --pin $pin \
    --content "$data/up" >/dev/null || die "wine-handset.sh start failed"
  p0=$(best_wine put "$(winepath -w "$data/local/u0.bin")")
  for s in "${sizes[@]}"; do
    p=$(best_wine put "$(winepath -w "$data/local/u$s.bin")")
    r=$(RUNS=$(big 2) best_raw "$data/local/u$s.bin" "$data/dl/raw.bin" up)
    transfer_row "put $s MiB (Wine)" "$p" "$p0" "$r"
  done
  scripts/wine-handset.sh stop >/dev/null 2>&1
  palvo_wine_stop # its own Xvfb and wineserver: nothing is left running
fi

say "summary (build/bench/results.txt)"
echo "machine: $(nproc) cores, $(lscpu | sed -n 's/^Model name: *//p' | head -n 1)," \
  "$(free -g | awk '/^Mem:/ { print $2 }') GiB memory" | tee -a "$table"
cat "$table"
