#!/usr/bin/env bash
# The real Updater, with real timings, updating two calculators on loop
# devices while lookalike disks are connected beside them: another product
# whose by-id name begins alike, a partition named like the calculator, and a
# link to a character device. The two calculators must hold every image and
# the finish command; the lookalikes must not be touched at all.
# Run through tests/device/in_private_sysfs.sh (root, private /sys/dev/block).
# Usage: loop_update_test.sh <Updater binary>
set -euo pipefail
updater=$1
work=${UPDATER_TEST_WORK:?run through in_private_sysfs.sh}
[ -e /sys/dev/block/.updater-test ] || { echo "not in a private /sys/dev/block" >&2; exit 1; }

mkdir -p "$work/by-id" "$work/firmware" "$work/home"
. "$(dirname "$0")/loop_disk.sh"
ln -s "$(loop_disk a Orvane 'Vela update')" "$work/by-id/usb-Orvane_Vela_update_SERA-0:0"
ln -s "$(loop_disk b Orvane 'Vela update')" "$work/by-id/usb-Orvane_Vela_update_SERB-0:0"
ln -s "$(loop_disk look2 Orvane 'Vela update 2')" "$work/by-id/usb-Orvane_Vela_update_2_SER2-0:0"
ln -s "$(loop_disk part Orvane 'Vela update' partition)" "$work/by-id/usb-Orvane_Vela_update_SER3-0:0"
ln -s /dev/null "$work/by-id/usb-Orvane_Vela_update_SER4-0:0"

head -c 300001 /dev/urandom >"$work/firmware/VELA_APP.DAT"
head -c 100000 /dev/urandom >"$work/firmware/VELA_MAIN.DAT"
head -c 65536 /dev/urandom >"$work/firmware/VELA_OS.ROM"

rc=0
HOME="$work/home" XDG_CONFIG_HOME="$work/home" QT_QPA_PLATFORM=offscreen \
  UPDATER_DISK_BY_ID_DIR="$work/by-id" timeout 120 "$updater" "$work/firmware" 1 || rc=$?
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
for disk in look2 part; do
  cmp -s -n "$(stat -c %s "$work/$disk.img")" "$work/$disk.img" /dev/zero ||
    { echo "the lookalike $disk was written" >&2; failed=1; }
done
[ $failed -eq 0 ] && echo "two calculators updated, lookalikes untouched"
exit $failed
