#!/bin/sh
# Runs a test program in a mount namespace of its own where /sys/dev/block is
# an empty tmpfs: the program creates loop devices and writes there what the
# kernel would say of a calculator, without touching the kernel's records. The
# loop devices over files of the work folder are detached afterwards, whatever
# the program did. Needs root (losetup, mount); skips (77) otherwise.
# Usage: in_private_sysfs.sh program [arguments...]
set -u
if [ "$(id -u)" -ne 0 ] || ! command -v losetup >/dev/null || ! command -v unshare >/dev/null; then
  echo "SKIPPED: loop devices and a private mount namespace need root, losetup and unshare"
  exit 77
fi
# A chroot (the fresh-machine check runs the tests in one) has no mount of its
# own to make private, and may have no loop devices: nothing to test there.
if ! unshare -m --propagation private true 2>/dev/null || [ ! -e /dev/loop-control ] ||
  [ ! -d /sys/dev/block ]; then
  echo "SKIPPED: no private mount namespace or no loop devices here (a chroot?)"
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
