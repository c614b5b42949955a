#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite:
#   1. the Linux build and every test;
#   2. the .deb, checked against the install layout and by lintian;
#   3. the Windows application, its installer and every test under Wine;
#   4. the suite again under AddressSanitizer + UndefinedBehaviorSanitizer;
#   5. the suite again under ThreadSanitizer;
#   6. each fuzz target for a short while;
#   7. the README's commands and the .deb on a fresh minimal Debian 12.
# UPDATER_TEST_QUICK=1 runs step 1 only.
set -euo pipefail
cd "$(dirname "$0")/.."

quick=0
[ "${UPDATER_TEST_QUICK:-0}" = 1 ] && quick=1
if [ $quick = 1 ]; then scripts/deps.sh quick; else scripts/deps.sh test; fi

stage() { printf '\n=== %s (%s)\n' "$1" "$(date +%T)"; }

stage "Linux build and tests"
scripts/build.sh
ctest --preset release

if [ $quick = 1 ]; then
  exit 0
fi

stage "Debian package"
scripts/package.sh --lint

# The Windows application, cross-built with the static Qt from ../shared and
# checked under Wine; its CTest pass includes the device layer's tests on the
# Win32 backend. (scripts/test_windows_device.sh builds only the device layer,
# without Qt, for quicker work on that layer.) CI must run it; elsewhere a
# missing static Qt only skips it, since making one takes an hour.
stage "Windows application, installer and tests under Wine"
qt_tarball=${UPDATER_QT_MINGW_TARBALL:-$PWD/../shared/qt5-mingw-static.tar.xz}
if [ "${CI:-}" != true ] && [ ! -f "$qt_tarball" ]; then
  echo "SKIP: the Windows stage needs the static Qt at $qt_tarball: make it with scripts/build_qt_windows.sh (about an hour on 2 cores) or set UPDATER_QT_MINGW_TARBALL to a copy."
else
  UPDATER_REQUIRE_WINDOWS=1 scripts/test_windows_app.sh
fi

stage "AddressSanitizer + UndefinedBehaviorSanitizer"
scripts/test_sanitized.sh address

stage "ThreadSanitizer"
scripts/test_sanitized.sh thread

if [ -x scripts/fuzz.sh ]; then
  stage "Fuzzing"
  scripts/fuzz.sh 60
fi

stage "Fresh Debian 12 machine"
scripts/check_fresh_machine.sh
