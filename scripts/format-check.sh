#!/usr/bin/env bash
# Fails when a C++ file differs from what the repository's .clang-format makes of it, naming
# each such file and the first lines concerned. Fix with: clang-format -i <file>.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
if ! command -v clang-format >/dev/null; then
  echo "format-check.sh: clang-format not found (scripts/deps.sh installs it)" >&2
  exit 1
fi
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  mapfile -t files < <(git ls-files '*.cpp' '*.h')
else
  mapfile -t files < <(find src tests tools bench fuzz -name '*.cpp' -o -name '*.h' 2>/dev/null)
fi
report=$(mktemp)
trap 'rm -f "$report"' EXIT
if ! clang-format --dry-run -Werror "${files[@]}" 2>"$report"; then
  grep -E '^[^ ].*(warning|error):' "$report" | head -40 >&2
  echo "format-check.sh: the files above differ from .clang-format; run clang-format -i on them" >&2
  exit 1
fi
echo "format-check.sh: ${#files[@]} files match .clang-format"
