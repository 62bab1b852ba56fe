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
ninja -C "$build" ReceivePathFuzz SkypeTextFuzz

corpus="$build/corpus/ReceivePathFuzz"
mkdir -p "$corpus"
python3 - "$corpus" <<'PY'
import struct, sys, os
out = sys.argv[1]

def header(cls, typ, body=0, count=0, offset=0, chunk=0, size=0, seq=0):
    return struct.pack('<HHHHHHIIIII16x', 48, body, 2, 2, cls, typ, count, offset, chunk, size, seq)

def field(text, n):
    return text.encode()[:n].ljust(n, b'\0')

def hello(node, party, mode=0):
    body = bytes(8) + struct.pack('<I', 0) + field(node, 32) + struct.pack('<I', mode)
    body += bytes(16) + field(party, 24) + bytes(16) + bytes(928)
    return header(2, 8, len(body)) + body

def record(origin, party, name, size):
    r = bytearray(820)
    struct.pack_into('<III', r, 0, 820, 0x00100002, 1)
    r[12:44] = field(origin, 32)
    struct.pack_into('<I', r, 48, 1)
    struct.pack_into('<8H', r, 52, 2030, 1, 2, 1, 10, 0, 0, 0)
    struct.pack_into('<8H', r, 68, 2030, 1, 5, 4, 10, 0, 0, 0)
    struct.pack_into('<I', r, 92, size)
    struct.pack_into('<I', r, 96, 0x20)
    struct.pack_into('<I', r, 96 + 32, size)
    r[96 + 44:96 + 304] = field(name, 260)
    r[744:768] = field(party, 24)
    struct.pack_into('<I', r, 768, 1)
    struct.pack_into('<I', r, 772, sum(r))
    return bytes(r)

rec = record('PeerA', 'Party', 'a.txt', 70000)
seeds = {
    'handshake': b'\x02\x20' + hello('PeerA', 'Party') + hello('PeerA', 'Party', 1) + header(3, 0),
    'batch': b'\x03\x00' + header(3, 2, 820, 1) + rec + header(3, 2),
    'file': b'\x03\x07' + header(4, 4, 820, 1, 0, 0, 70000) + rec
            + header(4, 6, 820 + 100, 1, 0, 100, 70000) + rec + bytes(100),
    'party': b'\x03\x01' + hello('PeerA', 'Other'),
    'stranger': b'\x02\x40' + hello('Nobody', 'Party') + header(3, 0),
    # The same conversations behind the TLS layer of a keyed node: raw handshake bytes, and
    # records from a peer with the right key (intact, and with one byte flipped).
    'tls-hello': b'\x04\x20' + bytes([0x16, 3, 1, 0, 60, 1, 0, 0, 56, 3, 3]) + bytes(52),
    'tls-plain-peer': b'\x06\x20' + hello('PeerA', 'Party'),
    'tls-stream': b'\x0e\x20' + hello('PeerA', 'Party') + hello('PeerA', 'Party', 1) + header(3, 0),
    'tls-altered': b'\x1f\x07' + header(3, 2, 820, 1) + rec + header(3, 2),
}
for name, data in seeds.items():
    with open(os.path.join(out, name), 'wb') as f:
        f.write(data)
PY

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
