#!/usr/bin/env bash
# Builds Pavo and starts a node in its default working folder ($XDG_DATA_HOME/pavo).
# Extra arguments are passed to the node, e.g. "-D119" to see its diagnostic lines.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/deps.sh"
cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DPAVO_TESTS=OFF -DPAVO_BENCH=OFF >/dev/null
ninja -C "$root/build" pavo
work="${XDG_DATA_HOME:-$HOME/.local/share}/pavo"
mkdir -p "$work"
cd "$work"
echo "pavo: working folder $work" >&2
exec "$root/build/bin/pavo" "$@"
