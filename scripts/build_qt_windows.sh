#!/usr/bin/env bash
# Builds the static Qt that the Windows build needs (qt5-mingw-static.tar.xz):
# Debian 12's own Qt 5.15.8 qtbase source, cross-built for x86_64-w64-mingw32
# as static libraries with the posix-threads compilers. Takes about an hour
# on 2 cores. Runs as root (or through sudo) for the packages it installs.
#
#   scripts/build_qt_windows.sh [WORK]   (default build-qt)
#
# Leaves WORK/qt5-mingw-static.tar.xz; use it with
#   UPDATER_QT_MINGW_TARBALL=$PWD/build-qt/qt5-mingw-static.tar.xz scripts/test.sh
# or copy it to ../shared/ beside the repository.
#
# Debian's source omits the non-free tablet header, so tablet events are off.
# The source comes from this machine's own Debian mirror (a private deb-src
# list: the system's apt configuration is not touched), and the compilers are
# chosen through a private bin folder rather than the system's alternatives.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
# shellcheck source=scripts/apt_sources.sh
. scripts/apt_sources.sh
work=${1:-build-qt}
version=5.15.8
mkdir -p "$work"
work=$(cd "$work" && pwd)

scripts/deps.sh qt-windows

# The source package, from a deb-src list made of this machine's entries.
apt=$work/apt
mkdir -p "$apt/lists/partial" "$apt/archives/partial"
apt_entries bookworm | awk '{ printf "deb-src %s", $1; for (i = 2; i <= NF; i++) printf " %s", $i; print "" }' \
    >"$apt/sources.list"
[ -s "$apt/sources.list" ] || { echo "build_qt_windows.sh: no bookworm entry in this machine's apt sources" >&2; exit 1; }
apt_options=(-o "Dir::Etc::SourceList=$apt/sources.list" -o "Dir::Etc::SourceParts=-"
    -o "Dir::State::Lists=$apt/lists" -o "Dir::Cache::Archives=$apt/archives")
cd "$work"
if [ ! -d "qtbase-everywhere-src-$version" ]; then
    apt-get "${apt_options[@]}" update
    apt-get "${apt_options[@]}" source --download-only qtbase-opensource-src
    tar xf "qtbase-opensource-src_$version+dfsg.orig.tar.xz"
fi

# x86_64-w64-mingw32-gcc and -g++ are the posix-threads ones, for this build only:
# Qt's threads need them, and the program links with the same runtime.
mkdir -p "$work/bin"
for tool in gcc g++; do
    ln -sf "/usr/bin/x86_64-w64-mingw32-$tool-posix" "$work/bin/x86_64-w64-mingw32-$tool"
done
export PATH="$work/bin:$PATH"

prefix=$work/install/qt5-mingw-static
rm -rf build install
mkdir -p build
cd build
"../qtbase-everywhere-src-$version/configure" -xplatform win32-g++ \
    -device-option CROSS_COMPILE=x86_64-w64-mingw32- -prefix "$prefix" \
    -static -static-runtime -release -opensource -confirm-license -nomake examples -nomake tests \
    -no-opengl -no-dbus -no-icu -qt-zlib -qt-libpng -qt-libjpeg -qt-pcre -qt-freetype -qt-harfbuzz \
    -no-feature-sql -no-feature-network -no-openssl -no-feature-tabletevent
make -j2
make install
tar -C "$work/install" -cJf "$work/qt5-mingw-static.tar.xz.partial" qt5-mingw-static
mv "$work/qt5-mingw-static.tar.xz.partial" "$work/qt5-mingw-static.tar.xz"
echo "Static Qt for mingw: $work/qt5-mingw-static.tar.xz"
echo "Use it with UPDATER_QT_MINGW_TARBALL=$work/qt5-mingw-static.tar.xz, or copy it to $repo/../shared/."
