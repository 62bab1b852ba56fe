#!/usr/bin/env bash
# Shows a node's main window as a user sees it: two nodes on this machine, node "B" on a virtual
# display with a TCP connection to node "A", whose send folder holds a few files (one large enough
# to still be arriving). Writes the picture of the screen to the file given (default
# pavo-screenshot.png). Needs xvfb-run and ImageMagick's import.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$(realpath -m "${1:-pavo-screenshot.png}")
bin="${PAVO_BIN:-$root/build/bin/pavo}"
[ -x "$bin" ] || { echo "build pavo first (bash scripts/start.sh builds it)" >&2; exit 1; }
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$work"' EXIT

mkdir -p "$work/A/SEND" "$work/A/run" "$work/B/run"
cat > "$work/A/Pavo.ini" <<INI
[SYSTEM]
PARTY=デモ
NAME=A
LISTENPORT=42411
CONNECTNUM=1
[REC1]
NAME=B
TRS=TCP
HOSTNAME=127.0.0.1/42412
INI
cat > "$work/B/Pavo.ini" <<INI
[SYSTEM]
PARTY=デモ
NAME=B
LISTENPORT=42412
CONNECTNUM=2
[REC1]
NAME=A
TRS=TCP
HOSTNAME=127.0.0.1/42411
COMMENT=隣の机
[REC2]
NAME=C
TRS=TCP
HOSTNAME=127.0.0.1/42413
COMMENT=出張中
INI
printf '議事録の本文です。\n' > "$work/A/SEND/議事録.txt"
head -c 3000000 /dev/urandom > "$work/A/SEND/photo.jpg"
truncate -s 3500000000 "$work/A/SEND/video.mp4" # sparse: still arriving when the picture is taken
mkdir -p "$work/B/SEND"
printf 'local\n' > "$work/B/SEND/memo.txt"

# exec: the background job is the node itself, so the clean-up's kill reaches it.
(cd "$work/A" && exec env XDG_RUNTIME_DIR="$work/A/run" QT_QPA_PLATFORM=offscreen PAVO_TIME_SCALE=0.5 \
    "$bin" -NOSKYPE 2>/dev/null) &
cd "$work/B"
XDG_RUNTIME_DIR="$work/B/run" PAVO_TIME_SCALE=0.5 xvfb-run -a -s "-screen 0 1024x768x24" \
    bash -c "\"$bin\" -NOSKYPE 2>/dev/null & sleep 20; import -window root \"$out\"; kill %1; wait"
echo "screenshot: $out"
