#!/usr/bin/env bash
# Installs what is missing, builds the two programs, and starts the updater. Without a display
# it runs the command-line tool instead, so that the update shows in the
# terminal: `vela-update install <folder> --yes`.
#
# When no calculator in update mode is plugged in, the updater talks to the
# virtual calculator instead, and without arguments it installs a demo set of
# firmware images, so a whole update can be watched on any machine. What the
# virtual calculator received is left in build/virtual-calculator/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh run
# Updater and vela-update only: the tests and benchmarks are the test
# command's, and would make the first start wait minutes longer.
scripts/build.sh --programs
headless=0
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  headless=1
fi
tool=build/app/vela-update

# The tool's own discovery decides, with every identity check of the updater.
real_calculator() {
  "$tool" list >/dev/null 2>&1
}

if [ -z "${UPDATER_VIRTUAL_CALCULATOR:-}" ] && ! real_calculator; then
  echo "No calculator in update mode found: using the virtual calculator."
  mkdir -p build/virtual-calculator
  export UPDATER_VIRTUAL_CALCULATOR="dir=$PWD/build/virtual-calculator"
  if [ $# -eq 0 ]; then
    demo=build/demo-firmware
    mkdir -p "$demo"
    [ -f "$demo/VELA_OS.ROM" ] || head -c 1048576 /dev/urandom >"$demo/VELA_OS.ROM"
    [ -f "$demo/VELA_MAIN.DAT" ] || head -c 786432 /dev/urandom >"$demo/VELA_MAIN.DAT"
    [ -f "$demo/VELA_APP.DAT" ] || head -c 2097152 /dev/urandom >"$demo/VELA_APP.DAT"
    # The language of the session, as the updater takes it from the system.
    set -- "$PWD/$demo" "$("$tool" language)"
  fi
fi
if [ $headless = 0 ]; then
  exec build/app/Updater "$@"
fi
if [ $# -eq 0 ]; then
  echo "No display and no firmware folder: run scripts/run.sh <folder>." >&2
  exit 1
fi
echo "No display: vela-update writes the firmware in $1 (see vela-update --help)."
status=0
"$tool" install "$1" --yes || status=$?
echo "vela-update ended with exit code $status."
exit $status
