#!/usr/bin/env bash
# Installs what is missing, checks that includes point down the layers, then
# builds and runs every test headless: the plain build, then AddressSanitizer + UndefinedBehaviorSanitizer, then the threaded
# tests under ThreadSanitizer. Pass --quick to run the plain build only.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
QUICK=0
if [ "${1:-}" = "--quick" ]; then QUICK=1; fi
JOBS="$(nproc)"

"$ROOT/scripts/deps.sh"

export SDL_AUDIODRIVER=dummy
# No shader cache on disk: tests build from a clean slate and leave nothing behind.
export MESA_SHADER_CACHE_DISABLE=true
export LSAN_OPTIONS="suppressions=$ROOT/tests/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1"

# One virtual display for a whole test run.
run_ctest() {
  local dir="$1"; shift
  xvfb-run -a -s "-screen 0 1920x1080x24 -noreset" \
    ctest --test-dir "$dir" --output-on-failure -j "$JOBS" --timeout 300 "$@"
}

build() {
  local dir="$1"; shift
  cmake -G Ninja -S "$ROOT" -B "$dir" "$@" >/dev/null
  cmake --build "$dir" -j "$JOBS"
}

echo "== layers"
bash "$ROOT/scripts/check-layers.sh"

echo "== plain build"
build "$ROOT/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
run_ctest "$ROOT/build"

if [ "$QUICK" -eq 1 ]; then exit 0; fi

echo "== AddressSanitizer + UndefinedBehaviorSanitizer"
build "$ROOT/build-asan" -DCMAKE_BUILD_TYPE=Debug -DSANITIZE=address,undefined -DDEMO_BUILD_BENCH=OFF
run_ctest "$ROOT/build-asan"

echo "== ThreadSanitizer (threaded tests)"
build "$ROOT/build-tsan" -DCMAKE_BUILD_TYPE=Debug -DSANITIZE=thread -DDEMO_BUILD_BENCH=OFF
run_ctest "$ROOT/build-tsan" -L threads
