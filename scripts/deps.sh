#!/usr/bin/env bash
# Installs the Debian 12 packages the build and the tests need, only when one
# is missing. Runs as root (or through sudo).
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  qtbase5-dev qtbase5-dev-tools
  xvfb xauth x11-utils imagemagick fonts-noto-cjk
  g++-mingw-w64-x86-64 wine wine64 fonts-wine
  clang libclang-rt-14-dev
  util-linux
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  echo "Installing: ${missing[*]}"
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
