#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks what a desktop finds there: the program and
# the messaging client, a valid menu entry, the icons, valid AppStream metainfo, and a user service
# whose command runs a node in $XDG_DATA_HOME/pavo that SIGTERM ends the orderly way.
set -euo pipefail
build=$1
scratch=$(mktemp -d)
node=
trap '[ -n "$node" ] && kill -KILL "$node" 2>/dev/null; rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

prefix="$scratch/prefix"
cmake --install "$build" --prefix "$prefix" >"$scratch/install.log" || { cat "$scratch/install.log"; fail "cmake --install"; }

id=org.pavo.Pavo
[ -x "$prefix/bin/pavo" ] || fail "bin/pavo not installed"
# The messaging client is whichever program tools/ builds for it.
client=
for name in pavo-messenger skype-standin; do
  [ -x "$build/bin/$name" ] && client=$name && break
done
[ -n "$client" ] || fail "no messaging client in the build"
[ -x "$prefix/bin/$client" ] || fail "bin/$client not installed"

desktop="$prefix/share/applications/$id.desktop"
metainfo="$prefix/share/metainfo/$id.metainfo.xml"
[ -f "$desktop" ] || fail "desktop entry missing"
[ -f "$metainfo" ] || fail "metainfo missing"
desktop-file-validate "$desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net "$metainfo" || fail "appstreamcli validate"
grep -q '^Exec=pavo ' "$desktop" || fail "the entry does not start pavo"
grep -q "^Icon=$id\$" "$desktop" || fail "the entry names another icon"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" || fail "metainfo launches another entry"
grep -q '<release version="[0-9]' "$metainfo" || fail "metainfo release version not filled in"

[ -f "$prefix/share/icons/hicolor/scalable/apps/$id.svg" ] || fail "scalable icon missing"
for size in 16 22 24 32 48 64 128 256; do
  png="$prefix/share/icons/hicolor/${size}x${size}/apps/$id.png"
  [ -f "$png" ] || fail "$size px icon missing"
  # The PNG header's width and height (big-endian at offsets 16 and 20) match the folder.
  dims=$(od -An -tu1 -j16 -N8 "$png" | awk '{print $3*256+$4 "x" $7*256+$8}')
  [ "$dims" = "${size}x${size}" ] || fail "$png is $dims"
done

unit="$prefix/lib/systemd/user/pavo.service"
[ -f "$unit" ] || fail "user unit missing"
home="$scratch/home"; data="$scratch/data"; runtime="$scratch/run"
mkdir -p "$home" "$runtime"; chmod 700 "$runtime"
if command -v systemd-analyze >/dev/null; then
  XDG_RUNTIME_DIR="$runtime" systemd-analyze verify --user "$unit" 2>"$scratch/verify.log" || { cat "$scratch/verify.log"; fail "systemd-analyze verify"; }
fi
exec_line=$(sed -n 's/^ExecStart=//p' "$unit")
[ "$exec_line" = "$prefix/bin/pavo --user-folder" ] || fail "ExecStart is '$exec_line'"
grep -q '^Environment=QT_QPA_PLATFORM=offscreen$' "$unit" || fail "the service is not headless"

# The service's command as the user manager runs it: in the home folder, with the unit's
# environment, stopped by SIGTERM.
(cd "$home" && exec env -u DISPLAY -u WAYLAND_DISPLAY HOME="$home" XDG_DATA_HOME="$data" \
  XDG_RUNTIME_DIR="$runtime" QT_QPA_PLATFORM=offscreen $exec_line >"$scratch/out.log" 2>&1) &
node=$!
for _ in $(seq 1 200); do
  [ -d "$data/pavo/SEND" ] && break
  kill -0 "$node" 2>/dev/null || { cat "$scratch/out.log"; fail "the node ended by itself"; }
  sleep 0.1
done
[ -d "$data/pavo/SEND" ] || fail "the node did not set up $data/pavo"
kill -TERM "$node"
status=0; wait "$node" || status=$?
node=
[ "$status" -eq 0 ] || { cat "$scratch/out.log"; fail "SIGTERM: exit status $status"; }
[ -f "$data/pavo/Pavo.ini" ] || fail "the orderly shutdown did not save the settings"
[ -z "$(ls -A "$home")" ] || fail "the node wrote into the home folder: $(ls -A "$home")"
echo "install into $prefix: ok"
