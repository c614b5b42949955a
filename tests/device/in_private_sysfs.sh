#!/bin/sh
# Runs a test program in a mount namespace of its own where /sys/dev/block is
# an empty tmpfs: the program creates loop devices and writes there what the
# kernel would say of a calculator, without touching the kernel's records. The
# loop devices over files of the work folder are detached afterwards, whatever
# the program did. Needs root (losetup, mount); skips (77) otherwise.
# Usage: in_private_sysfs.sh program [arguments...]
set -u
# A container or a chroot may have neither (the fresh-machine check runs the
# tests in a chroot without loop devices): nothing to test there.
# shellcheck source=scripts/capabilities.sh
. "$(dirname "$0")/../../scripts/capabilities.sh"
if ! why=$(can_private_mounts) || ! why=$(can_loop_devices); then
  echo "SKIPPED: loop devices in a private mount namespace need root and loop devices, but $why"
  exit 77
fi
if [ ! -d /sys/dev/block ]; then
  echo "SKIPPED: loop devices in a private mount namespace need /sys, but /sys/dev/block is missing"
  exit 77
fi
work=$(mktemp -d)
cleanup() {
  losetup -nO NAME,BACK-FILE | while read -r name file; do
    case "$file" in "$work"/*) losetup -d "$name" ;; esac
  done
  rm -rf "$work"
}
trap cleanup EXIT
rc=0
UPDATER_TEST_WORK="$work" unshare -m --propagation private sh -c \
  'mount -t tmpfs updater-test-sysfs /sys/dev/block && touch /sys/dev/block/.updater-test && exec "$@"' \
  sh "$@" || rc=$?
exit "$rc"
