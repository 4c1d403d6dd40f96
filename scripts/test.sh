#!/bin/bash
# Every test: the set-up script's own test (no build, no packages), the native
# build (AddressSanitizer + UndefinedBehaviorSanitizer, warnings are errors)
# under ctest, then the Windows build (MinGW-w64) under ctest in Wine. Ends with
# one line "N passed, N failed" over all; exits non-zero on any failure, a
# build that fails included.
#
#   scripts/test.sh [setup|shell|native|mingw]...   (default: all four)
#
# Logs: build/test-logs/. Everything is bounded in time: no step can hang.
#
# The scripts' convention (scripts/*.sh, .ci/run, tests/scripts/*.sh): each
# starts with "#!/bin/bash" and "set -uo pipefail" and checks the exit codes
# it acts on itself, without -e, so that a failure is reported and counted
# rather than ending the script silently. scripts/setup.sh alone adds -e: any
# step that fails there ends the set-up. A sourced file (scripts/wine-env.sh)
# has no set line and keeps its caller's options. The "shell" part holds
# every one of them to `shellcheck -S warning`, one count per script.
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root" || exit 1
parts=("$@")
[ ${#parts[@]} -eq 0 ] && parts=(setup shell native mingw)

logs=$root/build/test-logs
mkdir -p "$logs"
jobs=$(nproc 2>/dev/null || echo 2)
passed=0
failed=0
start=$(date +%s)

note() { echo "== $*"; }

xml_count() {  # file attribute: a counter of the report's root element (0 if absent)
  local v
  v=$(sed -n '/<testsuites/{p;q}' "$1" | sed -nE "s/.*[[:space:]]$2=\"([0-9]+)\".*/\1/p")
  echo "${v:-0}"
}

# Counts a ctest run from its output: one unit per ctest test, or, where the
# test left a GoogleTest report <xmldir>/<test>.xml, one unit per test case (a
# Windows test binary runs as one ctest test).
count_ctest() {  # log [xmldir]
  local log=$1 xmldir=${2:-} line name ok xml t f e d s
  [ -f "$log" ] || return 0
  while IFS= read -r line; do
    [[ "$line" =~ Test\ +\#[0-9]+:\ +([^ ]+)\  ]] || continue
    name=${BASH_REMATCH[1]}
    # Skipped, or disabled (a recording tool run by hand): neither passed nor failed.
    [[ "$line" =~ \*\*\*Skipped|\ Skipped\ |Not\ Run\ \(Disabled\) ]] && continue
    # Making and removing the tests' temporary folder is no test (when the
    # making fails, every test counts as failed, not run).
    [[ "$name" == palvo_tmp_make || "$name" == palvo_tmp_remove ]] && continue
    ok=0
    [[ "$line" =~ \ Passed\  ]] && ok=1
    xml=${xmldir:+$xmldir/$name.xml}
    if [ -n "$xml" ] && [ -s "$xml" ]; then
      t=$(xml_count "$xml" tests)
      f=$(xml_count "$xml" failures)
      e=$(xml_count "$xml" errors)
      d=$(xml_count "$xml" disabled)
      s=$(grep -c 'result="skipped"' "$xml")
      passed=$((passed + t - f - e - d - s))
      failed=$((failed + f + e))
      # Crashed or timed out after its last report: one failure more.
      [ $ok = 0 ] && [ $((f + e)) = 0 ] && failed=$((failed + 1))
    elif [ $ok = 1 ]; then
      passed=$((passed + 1))
    else
      failed=$((failed + 1))
    fi
  done < <(grep -E 'Test +#[0-9]+: ' "$log")
}

# The whole run stays within PALVO_TEST_BUDGET seconds (default 80 min): each
# step gets at most what is left.
budget=${PALVO_TEST_BUDGET:-4800}

step() {  # name seconds command... : runs it bounded, output to the log and the terminal
  local name=$1 secs=$2 left
  shift 2
  left=$((start + budget - $(date +%s)))
  if [ "$left" -le 10 ]; then
    echo "test.sh: no time left for $name" | tee "$logs/$name.log" >&2
    return 124
  fi
  [ "$secs" -gt "$left" ] && secs=$left
  timeout --kill-after=30 "$secs" "$@" 2>&1 | tee "$logs/$name.log"
  local rc=${PIPESTATUS[0]}
  [ "$rc" = 124 ] && echo "test.sh: $name did not finish within $secs s" >&2
  return "$rc"
}

# The set-up script's test runs first: it needs nothing installed, and it
# explains a set-up that fails below.
run_setup() {
  note "set-up script (tests/scripts/setup_test.sh)"
  step setup-test 120 tests/scripts/setup_test.sh
  local p f
  p=$(grep -c '^ok - ' "$logs/setup-test.log")
  f=$(grep -c '^FAIL - ' "$logs/setup-test.log")
  # A test that died before its summary counts as one failure more.
  grep -qE '^[0-9]+ passed, [0-9]+ failed$' "$logs/setup-test.log" || f=$((f + 1))
  passed=$((passed + p))
  failed=$((failed + f))
}
for part in "${parts[@]}"; do
  [ "$part" = setup ] && run_setup
done

want_packages=0
for part in "${parts[@]}"; do
  [ "$part" = setup ] || want_packages=1
done
if [ $want_packages = 1 ]; then
  note "packages"
  timeout 1800 scripts/setup.sh native wine tools ||
    { echo "test.sh: package set-up failed"; echo "$passed passed, $((failed + 1)) failed"; exit 1; }
fi

# The scripts under shellcheck, one count per script (the convention above).
run_shell() {
  note "scripts (shellcheck -S warning)"
  local f rc=0
  if ! command -v shellcheck >/dev/null; then
    echo "test.sh: shellcheck is missing (scripts/setup.sh tools)" | tee "$logs/shellcheck.log"
    failed=$((failed + 1))
    return
  fi
  : >"$logs/shellcheck.log"
  for f in scripts/*.sh .ci/run tests/scripts/*.sh; do
    if timeout 60 shellcheck -S warning -x "$f" >>"$logs/shellcheck.log" 2>&1; then
      passed=$((passed + 1))
    else
      echo "test.sh: shellcheck finds fault with $f"
      failed=$((failed + 1))
      rc=1
    fi
  done
  if [ $rc = 0 ]; then
    echo "test.sh: shellcheck: every script clean"
  else
    cat "$logs/shellcheck.log"
  fi
}

build() {  # preset what: configures and builds one tree; a failure counts once
  local preset=$1 what=$2
  if ! step "$preset-configure" 600 cmake --preset "$preset"; then
    failed=$((failed + 1)); return 1
  fi
  if ! step "$preset-build" 2400 cmake --build --preset "$preset" -j "$jobs"; then
    echo "test.sh: the $what build failed (build/test-logs/$preset-build.log)"
    failed=$((failed + 1)); return 1
  fi
}

run_native() {
  note "native build (build/native)"
  build native native || return
  note "native tests"
  rm -f "$logs/native-ctest.log"
  step native-ctest 1800 ctest --preset native --timeout 300 -j "$jobs" --no-tests=ignore
  # ctest removes the tests' temporary folder itself, unless it was stopped.
  rm -rf "$root/build/native/test-tmp"
  count_ctest "$logs/native-ctest.log"
}

run_mingw() {
  note "Windows build (build/mingw, MinGW-w64)"
  build mingw Windows || return
  note "Windows tests under Wine"
  rm -f "$logs/mingw-ctest.log"
  (
    export PALVO_WINE_DIR=$root/build/mingw/wine
    # shellcheck source=scripts/wine-env.sh
    source scripts/wine-env.sh
    trap palvo_wine_stop EXIT
    palvo_wine_up || exit 3
    xml=$root/build/mingw/gtest-xml
    rm -rf "$xml"
    mkdir -p "$xml"
    # Test binaries write their reports to $xml (tests/CMakeLists.txt); the
    # native handset is there for end-to-end tests of palvo-cli.exe.
    export PALVO_HANDSET=$root/build/native/palvo-handset
    # One at a time: the binaries share the prefix's registry.
    step mingw-ctest 2400 ctest --preset mingw --timeout 900 -j 1 --no-tests=ignore
    exit 0
  )
  [ $? = 3 ] && echo "test.sh: Wine did not start (build/mingw/wine/*.log)"
  rm -rf "$root/build/mingw/test-tmp"
  count_ctest "$logs/mingw-ctest.log" "$root/build/mingw/gtest-xml"
  # The environment counts as a failure when nothing ran because of it.
  if ! grep -q 'tests passed\|No tests were found' "$logs/mingw-ctest.log" 2>/dev/null; then
    failed=$((failed + 1))
  fi
}

for part in "${parts[@]}"; do
  case "$part" in
    setup) ;;
    shell) run_shell ;;
    native) run_native ;;
    mingw) run_mingw ;;
    *) echo "test.sh: unknown part '$part' (setup, shell, native, mingw)"; failed=$((failed + 1)) ;;
  esac
done

echo "test.sh: took $(($(date +%s) - start)) s"
echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
