#!/usr/bin/env bash
# Installs the Debian 12 packages one task needs, only those that are missing.
# Runs as root (or through sudo).
#
#   scripts/deps.sh [run]   build and run the updater (scripts/run.sh)
#   scripts/deps.sh package build the .deb (scripts/package.sh)
#   scripts/deps.sh quick   the Linux build and its tests (UPDATER_TEST_QUICK=1)
#   scripts/deps.sh test    everything the whole test command runs
#   scripts/deps.sh qt-windows  the static Qt for mingw (scripts/build_qt_windows.sh)
#
# Each list names every tool the scripts of that task call that a minimal
# Debian 12 (debootstrap --variant=minbase) lacks; scripts/check_fresh_machine.sh
# proves it on such a root.
set -euo pipefail

# Compiler, build tools and Qt. The Qt libraries bring the xcb and offscreen
# platforms and, through fontconfig, one font: enough to show the dialog.
run=(cmake ninja-build g++ pkg-config qtbase5-dev qtbase5-dev-tools
  # Qt's own texts (the folder dialog) in the user's language; the Windows
  # build carries them inside the program.
  qttranslations5-l10n)
# CPack's DEB generator: dpkg-shlibdeps computes the dependencies, file finds
# the binaries to give it.
package=(dpkg-dev file)
# The Linux tests: Qt's private Gui headers switch accessibility on as a
# screen reader would; dbus-daemon gives the launcher test a private bus.
quick=(qtbase5-private-dev dbus-daemon)
test=(
  # Packages: lint, and a fresh machine to install on (debootstrap fetches
  # over https when the mirror does; git clones the repository into it).
  lintian debootstrap git ca-certificates
  # Windows stage: the cross compiler, xz for the static Qt archive, Wine, the
  # installer compiler, and an X server with tools to find and photograph
  # the window; strings and cmp come with binutils and diffutils; strace
  # records the traffic on the calculators made of files.
  g++-mingw-w64-x86-64 xz-utils wine wine64 fonts-wine nsis
  xvfb xauth x11-utils imagemagick fonts-noto-cjk strace
  # A window manager and a hand on the display: a second start must bring
  # back the window a user minimised (tests/app/raise_window_test.sh).
  openbox xdotool
  # Fuzzing with libFuzzer.
  clang libclang-rt-14-dev
  # losetup and unshare for the benchmarks and the fresh machine.
  util-linux mount
)

# Qt's configure and build of qtbase, cross-compiled; xz unpacks its source.
qt_windows=(g++-mingw-w64-x86-64 make perl xz-utils)

task=${1:-run}
case "$task" in
  run) packages=("${run[@]}") ;;
  package) packages=("${run[@]}" "${package[@]}") ;;
  quick) packages=("${run[@]}" "${quick[@]}") ;;
  test) packages=("${run[@]}" "${package[@]}" "${quick[@]}" "${test[@]}") ;;
  qt-windows) packages=("${qt_windows[@]}") ;;
  *)
    echo "usage: scripts/deps.sh [run|package|quick|test|qt-windows]" >&2
    exit 2
    ;;
esac

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
