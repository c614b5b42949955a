#!/usr/bin/env bash
# Builds the installable packages.
#
#   scripts/package.sh [--lint]        build/packages/vela-updater_<version>_amd64.deb
#   scripts/package.sh windows [DIR]   DIR/VelaUpdaterSetup-<version>.exe from the
#                                      Windows build in DIR (default build-winapp)
#
# The .deb is made by CPack from the install rules; its dependencies come
# from dpkg-shlibdeps. It is checked to hold exactly what
# `cmake --install --prefix /usr` lays out, and with --lint, lintian must
# report no error or warning (its notes at the info level are shown).
# The Windows installer is made by makensis from packaging/windows/installer.nsi
# over the staged `cmake --install` of the Windows build.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

version() { # build dir
  sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$1/CMakeCache.txt"
}

# $INSTDIR in the generated lines is makensis's variable, not the shell's.
# shellcheck disable=SC2016
windows() {
  local build stage lists version setup size
  build=$(cd "${1:-build-winapp}" && pwd)
  command -v makensis >/dev/null || { echo "package.sh: makensis missing (nsis)" >&2; exit 77; }
  version=$(version "$build")
  stage=$build/installer/stage
  lists=$build/installer
  rm -rf "$stage"
  cmake --install "$build" --prefix "$stage" >/dev/null
  # One SetOutPath per folder, then its files; the uninstaller deletes the
  # same files and then the folders, deepest first.
  (
    cd "$stage"
    find . -type d | LC_ALL=C sort | while read -r dir; do
      rel=${dir#.}
      printf 'SetOutPath "$INSTDIR%s"\n' "${rel//\//\\}"
      find "$dir" -maxdepth 1 -type f | LC_ALL=C sort | while read -r file; do
        printf 'File "%s"\n' "$stage/${file#./}"
      done
    done
  ) >"$lists/files.nsh"
  (
    cd "$stage"
    find . -type f | LC_ALL=C sort | while read -r file; do
      rel=${file#.}
      printf 'Delete "$INSTDIR%s"\n' "${rel//\//\\}"
    done
    find . -mindepth 1 -type d | LC_ALL=C sort -r | while read -r dir; do
      rel=${dir#.}
      printf 'RMDir "$INSTDIR%s"\n' "${rel//\//\\}"
    done
  ) >"$lists/unfiles.nsh"
  size=$(du -sk "$stage" | cut -f1)
  setup=$build/VelaUpdaterSetup-$version.exe
  makensis -V2 -DVERSION="$version" -DOUTFILE="$setup" -DSIZE_KB="$size" \
    -DICON="$root/app/windows/updater.ico" \
    -DFILES="$lists/files.nsh" -DUNFILES="$lists/unfiles.nsh" -DLICENSE="$stage/LICENSE.txt" \
    packaging/windows/installer.nsi
  echo "Installer: $setup"
}

if [ "${1:-}" = windows ]; then
  windows "${2:-}"
  exit 0
fi

lint=0
[ "${1:-}" = --lint ] && lint=1
scripts/deps.sh package
scripts/build.sh
version=$(version build)
head -n1 packaging/linux/changelog | grep -qF "vela-updater ($version)" || {
  echo "package.sh: packaging/linux/changelog has no entry for version $version on top" >&2
  exit 1
}
rm -rf build/packages
(cd build && cpack -G DEB >/dev/null)
deb=build/packages/vela-updater_${version}_amd64.deb
[ -f "$deb" ] || { echo "package.sh: CPack made no $deb" >&2; exit 1; }

# The package holds the install layout, no more and no less.
layout=$(mktemp -d)
trap 'rm -rf "$layout"' EXIT
DESTDIR=$layout/tree cmake --install build --prefix /usr >/dev/null
(cd "$layout/tree" && find . ! -type d | sed 's|^\.||' | LC_ALL=C sort) >"$layout/want"
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sed 's|^\.||' | LC_ALL=C sort >"$layout/got"
if ! diff -u "$layout/want" "$layout/got"; then
  echo "package.sh: the package differs from cmake --install --prefix /usr (above)" >&2
  exit 1
fi

if [ $lint = 1 ]; then
  lintian --fail-on error,warning --display-info "$deb"
fi
echo "Package: $deb"
echo "Depends: $(dpkg-deb -f "$deb" Depends)"
