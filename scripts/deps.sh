#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running and testing Pavo need.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
packages=(
  build-essential cmake ninja-build pkg-config python3
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libgtest-dev googletest
  clang libclang-rt-dev
  fonts-noto-cjk xvfb xauth
  libssl-dev qtkeychain-qt6-dev libzxcvbn-dev
  libstrophe-dev prosody openssl
  qt6-tools-dev qt6-tools-dev-tools qt6-l10n-tools qt6-translations-l10n
  desktop-file-utils appstream clang-format dbus-daemon
  rsync
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
