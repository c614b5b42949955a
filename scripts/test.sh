#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite:
#   1. the Linux build and every test;
#   2. the Windows application and every test under Wine;
#   3. the suite again under AddressSanitizer + UndefinedBehaviorSanitizer;
#   4. the suite again under ThreadSanitizer;
#   5. each fuzz target for a short while.
# UPDATER_TEST_QUICK=1 runs step 1 only.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh "$([ "${UPDATER_TEST_QUICK:-0}" = 1 ] && echo quick || echo test)"

stage() { printf '\n=== %s (%s)\n' "$1" "$(date +%T)"; }

stage "Linux build and tests"
scripts/build.sh
ctest --test-dir build --output-on-failure -j2

if [ "${UPDATER_TEST_QUICK:-0}" = 1 ]; then
  exit 0
fi

# The Windows application, cross-built with the static Qt from ../shared and
# checked under Wine; its CTest pass includes the device layer's tests on the
# Win32 backend. (scripts/test_windows_device.sh builds only the device layer,
# without Qt, for quicker work on that layer.)
stage "Windows application and tests under Wine"
UPDATER_REQUIRE_WINDOWS=1 scripts/test_windows_app.sh

stage "AddressSanitizer + UndefinedBehaviorSanitizer"
scripts/test_sanitized.sh address

stage "ThreadSanitizer"
scripts/test_sanitized.sh thread

if [ -x scripts/fuzz.sh ]; then
  stage "Fuzzing"
  scripts/fuzz.sh 60
fi
