#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite:
#   1. the Linux build and every test;
#   2. the .deb, checked against the install layout and by lintian;
#   3. the Windows application, its installer and every test under Wine;
#   4. the suite again under AddressSanitizer + UndefinedBehaviorSanitizer;
#   5. the suite again under ThreadSanitizer;
#   6. each fuzz target for a short while;
#   7. the README's commands and the .deb on a fresh minimal Debian 12.
# UPDATER_TEST_QUICK=1 runs step 1 only. Ends with a table of the stages run:
# each one's time and whether it passed, was skipped or failed.
#
# A stage that needs what this machine cannot give (the static Qt for
# Windows; root with a private mount namespace, debootstrap and the mirror for
# the fresh machine) says so in one sentence and is skipped, except in CI
# (CI=true), where every stage must run.
set -euo pipefail
cd "$(dirname "$0")/.."

quick=0
[ "${UPDATER_TEST_QUICK:-0}" = 1 ] && quick=1

stages=()
current=""
current_result=""
current_start=0
run_start=$SECONDS
finish_stage() { # result, unless the stage said otherwise
  [ -n "$current" ] || return 0
  stages+=("$current|$((SECONDS - current_start))|${current_result:-$1}")
  current=""
}
stage() {
  finish_stage passed
  current=$1
  current_result=""
  current_start=$SECONDS
  printf '\n=== %s (%s)\n' "$1" "$(date +%T)"
}
cannot_run() { # sentence
  if [ "${CI:-}" = true ]; then
    echo "FAIL: $1 CI runs every stage."
    exit 1
  fi
  echo "SKIP: $1"
  current_result=skipped
}
mmss() { printf '%d:%02d' $(($1 / 60)) $(($1 % 60)); }
report() {
  local status=$? entry name seconds result passed=0 failed=0 skipped=0
  if [ $status -eq 0 ]; then finish_stage passed; else finish_stage failed; fi
  printf '\n%-52s %7s  %s\n' Stage Time Result
  for entry in "${stages[@]}"; do
    IFS='|' read -r name seconds result <<<"$entry"
    printf '%-52s %7s  %s\n' "$name" "$(mmss "$seconds")" "$result"
    case $result in
      passed) passed=$((passed + 1)) ;;
      skipped) skipped=$((skipped + 1)) ;;
      *) failed=$((failed + 1)) ;;
    esac
  done
  printf '%-52s %7s\n' Total "$(mmss $((SECONDS - run_start)))"
  echo "Stages: $passed passed, $failed failed, $skipped skipped"
}
trap report EXIT

stage "Installing what is missing"
if [ $quick = 1 ]; then scripts/deps.sh quick; else scripts/deps.sh test; fi

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
# without Qt, for quicker work on that layer.) Making the static Qt takes an
# hour, so elsewhere than in CI a missing one only skips the stage.
stage "Windows application, installer and tests under Wine"
qt_tarball=${UPDATER_QT_MINGW_TARBALL:-$PWD/../shared/qt5-mingw-static.tar.xz}
if [ ! -f "$qt_tarball" ]; then
  cannot_run "the Windows stage needs the static Qt at $qt_tarball: make it with scripts/build_qt_windows.sh (about an hour on 2 cores) or set UPDATER_QT_MINGW_TARBALL to a copy."
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

# A container without the right to make mount namespaces, or a chroot into a
# folder, cannot hold the fresh machine's own chroots.
stage "Fresh Debian 12 machine"
if why=$(scripts/check_fresh_machine.sh --can-run); then
  scripts/check_fresh_machine.sh
else
  cannot_run "$why."
fi
