#!/usr/bin/env bash
# Installs what is missing, builds, and starts the updater. Without a display
# it runs under the offscreen platform.
#
# When no calculator in update mode is plugged in, the updater talks to the
# virtual calculator instead, and without arguments it installs a demo set of
# firmware images, so a whole update can be watched on any machine. What the
# virtual calculator received is left in build/virtual-calculator/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh run
scripts/build.sh
headless=0
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  headless=1
  export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"
  # Nobody sees the window: the worker's diagnostics tell the update instead.
  export QT_LOGGING_RULES="${QT_LOGGING_RULES:-updater.worker=true}"
fi

real_calculator() {
  ls "${UPDATER_DISK_BY_ID_DIR:-/dev/disk/by-id}" 2>/dev/null |
    tr '[:upper:]' '[:lower:]' | grep -Eq '^usb-orvane_vela_update([_-]|$)'
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
    # The language of the session, as the updater would take it from the system.
    case "${LANG:-en}" in
      zh*) lang=2 ;; fr*) lang=3 ;; de*) lang=4 ;; es*) lang=5 ;;
      nl*) lang=6 ;; pt*) lang=7 ;; ja*) lang=8 ;; *) lang=1 ;;
    esac
    set -- "$PWD/$demo" "$lang"
  fi
fi
if [ $headless = 0 ]; then
  exec build/app/Updater "$@"
fi
echo "No display: the updater runs offscreen and ends by itself 3 s after the last file."
status=0
build/app/Updater "$@" || status=$?
echo "The updater ended with exit code $status."
exit $status
