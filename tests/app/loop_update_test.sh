#!/usr/bin/env bash
# The real Updater, with real timings, updating two calculators on loop
# devices while lookalike disks are connected beside them: another product
# whose model begins alike, a partition of a disk described as the
# calculator, and a disk with the calculator's SCSI identity that is not on
# USB. The two calculators must hold every image and the finish command; the
# lookalikes must not be touched at all.
# Run through tests/device/in_private_sysfs.sh (root, private /sys/dev/block).
# Usage: loop_update_test.sh <Updater binary>
set -euo pipefail
updater=$1
work=${UPDATER_TEST_WORK:?run through in_private_sysfs.sh}
[ -e /sys/dev/block/.updater-test ] || { echo "not in a private /sys/dev/block" >&2; exit 1; }

mkdir -p "$work/firmware" "$work/home"
. "$(dirname "$0")/../device/calculator_sysfs.sh"
loop_calculator a SERA >/dev/null
loop_calculator b SERB >/dev/null
loop_calculator look2 SER2 '' Orvane 'Vela update 2' >/dev/null
loop_calculator part SER3 '' Orvane 'Vela update' partition >/dev/null
loop_calculator scsi SER4 - >/dev/null

head -c 300001 /dev/urandom >"$work/firmware/VELA_APP.DAT"
head -c 100000 /dev/urandom >"$work/firmware/VELA_MAIN.DAT"
head -c 65536 /dev/urandom >"$work/firmware/VELA_OS.ROM"

rc=0
HOME="$work/home" XDG_CONFIG_HOME="$work/home" QT_QPA_PLATFORM=offscreen \
  timeout 120 "$updater" "$work/firmware" 1 || rc=$?
[ "$rc" -eq 0 ] || { echo "Updater ended with $rc, not after Done" >&2; exit 1; }

failed=0
holds() { # disk file offset
  cmp -s -n "$(stat -c %s "$work/firmware/$2")" -i "$3:0" "$work/$1.img" "$work/firmware/$2" ||
    { echo "$1 does not hold $2" >&2; failed=1; }
}
for disk in a b; do
  holds "$disk" VELA_APP.DAT $((0x500000))
  holds "$disk" VELA_MAIN.DAT $((0x100000))
  holds "$disk" VELA_OS.ROM 0
  # The finish command's code, 0xBEC1, at its place in the control sector.
  [ "$(od -An -tx1 -j $((87040 + 12)) -N 4 "$work/$disk.img" | tr -d ' \n')" = c1be0000 ] ||
    { echo "$disk got no finish command" >&2; failed=1; }
done
for disk in look2 part scsi; do
  cmp -s -n "$(stat -c %s "$work/$disk.img")" "$work/$disk.img" /dev/zero ||
    { echo "the lookalike $disk was written" >&2; failed=1; }
done
[ $failed -eq 0 ] && echo "two calculators updated, lookalikes untouched"
exit $failed
