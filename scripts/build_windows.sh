#!/usr/bin/env bash
# Cross-builds Updater.exe and the Windows test executables with mingw-w64
# and a static Qt, into build-winapp/ (or $UPDATER_WIN_BUILD_DIR).
#
# The static Qt comes from ../shared/qt5-mingw-static.tar.xz beside the
# repository (or $UPDATER_QT_MINGW_TARBALL) and is unpacked once into the
# build folder. Exit code 77 means a prerequisite is missing (no Qt archive,
# no mingw-w64), so callers can tell "cannot build here" from "build broken".
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${UPDATER_WIN_BUILD_DIR:-build-winapp}
tarball=${UPDATER_QT_MINGW_TARBALL:-$root/../shared/qt5-mingw-static.tar.xz}

if [ ! -f "$tarball" ]; then
    echo "build_windows.sh: no static Qt for mingw at $tarball; cannot build for Windows" >&2
    exit 77
fi
if ! command -v x86_64-w64-mingw32-g++-posix >/dev/null; then
    echo "build_windows.sh: x86_64-w64-mingw32-g++-posix missing (g++-mingw-w64-x86-64)" >&2
    exit 77
fi

mkdir -p "$build"
build=$(cd "$build" && pwd)
qt=$build/qt5-mingw-static
# The stamp names the archive it came from, so a new archive is unpacked again.
stamp="$(stat -c '%s %Y' "$tarball") $tarball"
if [ ! -f "$qt/.unpacked" ] || [ "$(cat "$qt/.unpacked")" != "$stamp" ]; then
    echo "Unpacking $(basename "$tarball") into $build"
    rm -rf "$qt" "$build/qt.partial"
    mkdir -p "$build/qt.partial"
    # Into a side folder first: an interrupted unpack must not look complete.
    tar -C "$build/qt.partial" -xJf "$tarball"
    mv "$build/qt.partial/qt5-mingw-static" "$qt"
    rmdir "$build/qt.partial"
    echo "$stamp" >"$qt/.unpacked"
fi

# The preset's folder is build-winapp; another one keeps the same settings.
cmake --preset windows -B "$build" -DCMAKE_PREFIX_PATH="$qt" >/dev/null
cmake --build "$build" -j2
