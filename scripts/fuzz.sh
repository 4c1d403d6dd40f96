#!/bin/bash
# Builds the fuzz targets (fuzz/*_fuzz.cpp, each with LLVMFuzzerTestOneInput)
# with clang's libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer, and
# runs each for a while. Other fuzz/*.cpp files are shared by all targets.
#
#   scripts/fuzz.sh [SECONDS-PER-TARGET] [TARGET...]   (default 60 s, every target)
#
# Corpora grow in build/fuzz/corpus/<target> (seeded from fuzz/corpus/<target>);
# crashes are written to build/fuzz/crashes/.
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root" || exit 1
secs=${1:-60}
shift || true

if ! compgen -G 'fuzz/*_fuzz.cpp' >/dev/null; then
  echo "fuzz.sh: no fuzz targets (fuzz/*_fuzz.cpp)"
  exit 0
fi
timeout 1800 scripts/setup.sh native tools || exit 1

out=$root/build/fuzz
mkdir -p "$out"
timeout 600 cmake -S . -B "$out" -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang \
  -DCMAKE_CXX_COMPILER=clang++ -DPALVO_FUZZ=ON -DPALVO_SANITIZE=ON -DPALVO_TESTS=OFF \
  >"$out/configure.log" 2>&1 || { cat "$out/configure.log"; exit 1; }

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
  seeds=()
  [ -d "fuzz/corpus/$t" ] && seeds=("fuzz/corpus/$t")
  echo "== $t (${secs} s)"
  if ! timeout $((secs + 120)) "$out/$t" -max_total_time="$secs" -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="$out/crashes/$t-" -print_final_stats=1 "$corpus" "${seeds[@]}" \
    >"$out/$t.log" 2>&1; then
    echo "$t: FAILED (see $out/$t.log and $out/crashes/)"
    grep -m 5 -E 'ERROR|SUMMARY' "$out/$t.log"
    failed=$((failed + 1))
  else
    grep -E 'stat::number_of_executed_units|cov:' "$out/$t.log" | tail -n 2
  fi
done
echo "fuzz.sh: ${#targets[@]} targets, $failed failed"
[ $failed = 0 ]
