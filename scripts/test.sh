#!/usr/bin/env bash
# Runs every test: installs what is missing, builds, runs CTest once on a normal build and once
# under AddressSanitizer + UndefinedBehaviorSanitizer, runs the thread tests under ThreadSanitizer,
# and gives every fuzz target a short bounded run. Exits non-zero when anything fails.
#   FUZZ_SECONDS   seconds per fuzz target (default 30; 0 skips fuzzing)
#   TEST_STAGES    which stages to run (default "release asan tsan fuzz")
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash scripts/setup.sh || { echo "setup failed" >&2; exit 1; }

jobs=$(nproc)
fuzz_seconds=${FUZZ_SECONDS:-30}
stages=${TEST_STAGES:-release asan tsan fuzz}
failed=()

stage() { echo; echo "=== $* ==="; }

configure_and_build() {  # dir, [--target T], cmake args...
  local dir=$1; shift
  local target=()
  if [ "${1:-}" = --target ]; then target=(--target "$2"); shift 2; fi
  cmake -S "$root" -B "$dir" -G Ninja -DTARNVALE_WERROR=ON "$@" >"$dir.configure.log" 2>&1 ||
    { cat "$dir.configure.log"; return 1; }
  cmake --build "$dir" -j "$jobs" "${target[@]}"
}

mkdir -p build

for s in $stages; do
  case $s in
    release)
      stage "build and test (RelWithDebInfo)"
      if configure_and_build build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo; then
        ctest --test-dir build/release --output-on-failure -j "$jobs" || failed+=("release tests")
      else
        failed+=("release build")
      fi
      ;;
    asan)
      stage "build and test under AddressSanitizer + UndefinedBehaviorSanitizer"
      if configure_and_build build/asan -DCMAKE_BUILD_TYPE=Debug -DTARNVALE_SANITIZE=ON \
          -DTARNVALE_BENCH=OFF; then
        ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
          ctest --test-dir build/asan --output-on-failure -j "$jobs" || failed+=("sanitizer tests")
      else
        failed+=("sanitizer build")
      fi
      ;;
    tsan)
      stage "thread tests under ThreadSanitizer"
      if configure_and_build build/tsan -DCMAKE_BUILD_TYPE=Debug -DTARNVALE_TSAN=ON \
          -DTARNVALE_BENCH=OFF; then
        TSAN_OPTIONS=halt_on_error=1 ctest --test-dir build/tsan --output-on-failure -j "$jobs" \
          -L threads || failed+=("thread-sanitizer tests")
      else
        failed+=("thread-sanitizer build")
      fi
      ;;
    fuzz)
      if [ -f fuzz/CMakeLists.txt ] && [ "$fuzz_seconds" -gt 0 ]; then
        stage "fuzz targets, ${fuzz_seconds}s each"
        if CC=clang-16 CXX=clang++-16 configure_and_build build/fuzz --target fuzz_all -DCMAKE_BUILD_TYPE=Debug \
            -DTARNVALE_FUZZ=ON -DTARNVALE_TESTS=OFF -DTARNVALE_BENCH=OFF; then
          for target in build/fuzz/fuzz/fuzz_*; do
            [ -x "$target" ] || continue
            name=$(basename "$target")
            corpus=build/fuzz/corpus/$name
            mkdir -p "$corpus"
            seeds=fuzz/seeds/${name#fuzz_}
            echo "--- $name"
            if ! "$target" -max_total_time="$fuzz_seconds" -rss_limit_mb=2048 -timeout=10 \
                -print_final_stats=1 "$corpus" $( [ -d "$seeds" ] && echo "$seeds" ) \
                >"build/fuzz/$name.log" 2>&1; then
              tail -n 60 "build/fuzz/$name.log"
              failed+=("fuzz $name")
            else
              grep -E '^(stat::number_of_executed_units|Done)' "build/fuzz/$name.log" || true
            fi
          done
        else
          failed+=("fuzz build")
        fi
      fi
      ;;
    *) echo "unknown stage: $s" >&2; failed+=("stage $s") ;;
  esac
done

echo
if [ ${#failed[@]} -gt 0 ]; then
  echo "FAILED: ${failed[*]}"
  exit 1
fi
echo "all test stages passed: $stages"
