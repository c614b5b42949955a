#!/usr/bin/env bash
# Installs what is missing, builds the two programs, and starts the updater.
# Without a display it runs the command-line tool instead, so that the update
# shows in the terminal: `vela-update install <folder> --yes`.
#
# When no calculator in update mode is plugged in, the updater talks to the
# virtual calculator instead, and without arguments it installs a demo set of
# firmware images, so a whole update can be watched on any machine. The demo
# is slowed down to the pace of a person watching; a real calculator never
# is. Once the program has ended, it says where the virtual calculator's
# files are (build/virtual-calculator/).
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

# Every read, write and flush of the virtual disk takes this many milliseconds
# longer during the demo: the demo set is some 680 of them, so the update
# takes about 15 s instead of about one.
demo_pace_ms=20

virtual=""
if [ -z "${UPDATER_VIRTUAL_CALCULATOR:-}" ] && ! real_calculator; then
  echo "No calculator in update mode found: using the virtual calculator."
  virtual=$PWD/build/virtual-calculator
  mkdir -p "$virtual"
  # What is found there afterwards is this run's.
  rm -f "$virtual"/unit*.img "$virtual"/unit*.trace
  UPDATER_VIRTUAL_CALCULATOR="dir=$virtual"
  if [ $# -eq 0 ]; then
    demo=build/demo-firmware
    mkdir -p "$demo"
    [ -f "$demo/VELA_OS.ROM" ] || head -c 1048576 /dev/urandom >"$demo/VELA_OS.ROM"
    [ -f "$demo/VELA_MAIN.DAT" ] || head -c 786432 /dev/urandom >"$demo/VELA_MAIN.DAT"
    [ -f "$demo/VELA_APP.DAT" ] || head -c 2097152 /dev/urandom >"$demo/VELA_APP.DAT"
    UPDATER_VIRTUAL_CALCULATOR+=",slow_ms=$demo_pace_ms"
    # The language of the session, as the updater takes it from the system.
    set -- "$PWD/$demo" "$("$tool" language)"
  fi
  export UPDATER_VIRTUAL_CALCULATOR
fi

# The virtual calculator leaves its files when it takes the finish command
# and when the program exits (docs/virtual-calculator.md).
show_virtual_files() {
  [ -n "$virtual" ] || return 0
  local file found=0
  for file in "$virtual"/unit*.img "$virtual"/unit*.trace; do
    [ -e "$file" ] || continue
    if [ $found = 0 ]; then
      echo "The virtual calculator's files are in $virtual:"
      found=1
    fi
    case $file in
      *.img) printf '  %-12s what it received, each sector at its place on the disk (a sparse file)\n' "${file##*/}" ;;
      *.trace) printf '  %-12s one line per read, write and flush it was asked for\n' "${file##*/}" ;;
    esac
  done
  if [ $found = 0 ]; then
    echo "The virtual calculator left no files in $virtual."
  else
    echo "What they hold: docs/virtual-calculator.md, \"Its files\"."
  fi
}

status=0
if [ $headless = 0 ]; then
  build/app/Updater "$@" || status=$?
  show_virtual_files
  exit $status
fi
if [ $# -eq 0 ]; then
  echo "No display and no firmware folder: run scripts/run.sh <folder>." >&2
  exit 1
fi
echo "No display: vela-update writes the firmware in $1 (see vela-update --help)."
"$tool" install "$1" --yes || status=$?
echo "vela-update ended with exit code $status."
show_virtual_files
exit $status
