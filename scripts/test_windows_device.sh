#!/usr/bin/env bash
# Cross-builds the device layer and its tests for Windows (mingw-w64,
# posix threads, static runtime) into build-win/ and runs them under Wine.
# Wine shows no USB disk, so the Win32 tests use files as disks.
set -euo pipefail
cd "$(dirname "$0")/.."

wine_bin=""
for candidate in wine64 /usr/lib/wine/wine64 wine; do
  if command -v "$candidate" >/dev/null 2>&1; then
    wine_bin=$(command -v "$candidate")
    break
  fi
done
if [ -z "$wine_bin" ]; then
  echo "wine64 not found (Debian package wine64)" >&2
  exit 1
fi

cmake --preset windows-device -DCMAKE_CROSSCOMPILING_EMULATOR="$wine_bin" >/dev/null
cmake --build --preset windows-device

# A private prefix keeps the user's own Wine setup out of it; the first start
# creates it, which takes a while.
export WINEPREFIX="$PWD/build-win/wineprefix"
export WINEDEBUG=-all
mkdir -p "$WINEPREFIX"
ctest --test-dir build-win --output-on-failure
