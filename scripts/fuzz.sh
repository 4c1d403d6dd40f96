#!/bin/bash
# Builds the fuzz targets (fuzz/*_fuzz.cpp, each with LLVMFuzzerTestOneInput)
# with clang's libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer, and
# runs them one after another, one process each.
#
#   scripts/fuzz.sh [short|long|SECONDS] [TARGET...]
#     short    60 s per target (the default)
#     long     10^7 executions per target (FUZZ_RUNS overrides the count;
#              FUZZ_SECONDS, when set, also stops each target after that long)
#     SECONDS  that many seconds per target
#
# Corpora grow in build/fuzz/corpus/<target> (seeded from fuzz/corpus/<target>,
# with fuzz/dict/<target>.dict when there is one); crashes are written to
# build/fuzz/crashes/, each target's log to build/fuzz/<target>.log, and the
# executions and coverage of every run to build/fuzz/summary.txt.
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root" || exit 1
plan=${1:-short}
shift || true
limit=()
case $plan in
  short) limit=(-max_total_time=60); wall=$((60 + 120)) ;;
  long)
    limit=(-runs="${FUZZ_RUNS:-10000000}")
    wall=$((6 * 3600))
    if [ -n "${FUZZ_SECONDS:-}" ]; then
      limit+=(-max_total_time="$FUZZ_SECONDS")
      wall=$((FUZZ_SECONDS + 120))
    fi
    ;;
  *[!0-9]* | '') echo "usage: scripts/fuzz.sh [short|long|SECONDS] [TARGET...]" >&2; exit 2 ;;
  *) limit=(-max_total_time="$plan"); wall=$((plan + 120)) ;;
esac

if ! compgen -G 'fuzz/*_fuzz.cpp' >/dev/null; then
  echo "fuzz.sh: no fuzz targets (fuzz/*_fuzz.cpp)"
  exit 0
fi
timeout 1800 scripts/setup.sh native tools || exit 1

out=$root/build/fuzz
mkdir -p "$out"
# Optimised with debug information: the sanitizers still see everything, and a
# long run gets several times the executions of a debug build.
timeout 600 cmake -S . -B "$out" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
  -DCMAKE_CXX_COMPILER=clang++ -DPALVO_FUZZ=ON -DPALVO_SANITIZE=ON -DPALVO_TESTS=OFF \
  -DPALVO_WERROR=ON >"$out/configure.log" 2>&1 || { cat "$out/configure.log"; exit 1; }

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for f in fuzz/*_fuzz.cpp; do targets+=("$(basename "$f" .cpp)"); done
fi
timeout 2400 cmake --build "$out" -j "$(nproc)" --target "${targets[@]}" || exit 1

mkdir -p "$out/crashes"
failed=0
for t in "${targets[@]}"; do
  corpus=$out/corpus/$t
  mkdir -p "$corpus"
  extra=()
  [ -d "fuzz/corpus/$t" ] && extra+=("fuzz/corpus/$t")
  dict=()
  [ -f "fuzz/dict/$t.dict" ] && dict=(-dict="fuzz/dict/$t.dict")
  echo "== $t (${limit[*]})"
  # Frames past the 4096-byte packet buffer need inputs of a few pieces.
  if ! timeout "$wall" "$out/$t" "${limit[@]}" -max_len=20000 -timeout=10 -rss_limit_mb=2048 \
    "${dict[@]}" -artifact_prefix="$out/crashes/$t-" -print_final_stats=1 "$corpus" "${extra[@]}" \
    >"$out/$t.log" 2>&1; then
    echo "$t: FAILED (see $out/$t.log and $out/crashes/)"
    grep -m 5 -E 'ERROR|SUMMARY|expectation failed' "$out/$t.log"
    failed=$((failed + 1))
    result=FAILED
  else
    result=ok
  fi
  runs=$(grep -oE 'number_of_executed_units: *[0-9]+' "$out/$t.log" | grep -oE '[0-9]+$')
  cov=$(grep -E '^#[0-9]+' "$out/$t.log" | tail -n 1 | grep -oE 'cov: [0-9]+ ft: [0-9]+')
  line="$(date -u +%FT%TZ) $t $plan runs=${runs:-?} ${cov:-cov: ?} $result"
  echo "$line"
  echo "$line" >>"$out/summary.txt"
done
echo "fuzz.sh: ${#targets[@]} targets, $failed failed"
[ $failed = 0 ]
