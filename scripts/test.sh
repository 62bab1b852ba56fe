#!/usr/bin/env bash
# Builds Pavo with AddressSanitizer and UndefinedBehaviorSanitizer and runs the whole test suite.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/deps.sh"
bash "$root/scripts/format-check.sh"
build="$root/build-test"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPAVO_SANITIZE=ON >/dev/null
ninja -C "$build"
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# A bounded fuzzing run over the receive path first, so that the test summary closes the output.
if [ -x "$root/scripts/fuzz.sh" ]; then
  bash "$root/scripts/fuzz.sh"
fi
cd "$build"
ctest --output-on-failure -j2 --timeout 300
