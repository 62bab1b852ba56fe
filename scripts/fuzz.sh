#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (build-fuzz) and runs each for a bounded time over a
# small seed corpus of well-formed conversations. PAVO_FUZZ_SECONDS sets the time per target,
# PAVO_FUZZ_BUILD another build folder (so that two people fuzzing at once do not share one).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${PAVO_FUZZ_BUILD:-$root/build-fuzz}"
seconds="${PAVO_FUZZ_SECONDS:-60}"

if ! command -v clang++ >/dev/null; then
  echo "fuzz.sh: clang++ not found; fuzzing skipped" >&2
  exit 0
fi

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DPAVO_FUZZ=ON -DPAVO_TESTS=OFF -DPAVO_BENCH=OFF \
  -DPAVO_SANITIZE=ON -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link" >/dev/null
ninja -C "$build" ReceivePathFuzz SkypeTextFuzz ReceivePathSeeds

corpus="$build/corpus/ReceivePathFuzz"
mkdir -p "$corpus"
"$build/bin/ReceivePathSeeds" "$corpus"

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=abort_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

text_corpus="$build/corpus/SkypeTextFuzz"
mkdir -p "$text_corpus"
printf 'USERS alice, bob,carol' >"$text_corpus/users"
printf 'USERSTATUS ONLINE' >"$text_corpus/status"
printf 'STREAMS bob:1 carol:2' >"$text_corpus/streams"
printf 'RECEIVED bob:1=40 carol:12=7' >"$text_corpus/received"
printf 'CONNECTABLE bob carol' >"$text_corpus/connectable"

# The node's diagnostic lines go to standard output; libFuzzer reports on standard error.
fuzz() {
  local target=$1 max_len=$2 corpus="$build/corpus/$1"
  local log="$build/$target.log"
  if ! "$build/bin/$target" -max_total_time="$seconds" -max_len="$max_len" -timeout=10 \
    -artifact_prefix="$build/$target-" -print_final_stats=1 "$corpus" >/dev/null 2>"$log"; then
    tail -n 60 "$log" >&2
    echo "fuzz.sh: $target found a failure (log: $log)" >&2
    exit 1
  fi
  local runs
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo "?")
  echo "fuzz.sh: $target ran ${seconds}s, $runs inputs, no failure"
}

fuzz ReceivePathFuzz 140000
fuzz SkypeTextFuzz 4096
