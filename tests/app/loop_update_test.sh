#!/usr/bin/env bash
# The real Updater, with real timings, updating a class set of three
# calculators on loop devices while lookalike disks are connected beside them:
# another product whose model begins alike, a partition of a disk described as
# the calculator, and a disk with the calculator's SCSI identity that is not
# on USB. The third calculator refuses every write at VELA_MAIN.DAT's place
# (its image lies on a full file system there). The two others must hold
# every image and the finish command; the third must get its finish command
# once, the run must not end as done, the window must stay open with the list
# saying which holds what; the lookalikes must not be touched at all.
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

# The refusing calculator: its image lies on a file system with no room left,
# where only the first MiB (VELA_OS.ROM and the control sector) and the place
# of VELA_APP.DAT were written beforehand; a write elsewhere finds no space.
mkdir -p "$work/full"
mount -t tmpfs -o size=1472k updater-test-full "$work/full"
truncate -s 6M "$work/full/c.img"
dd if=/dev/zero of="$work/full/c.img" bs=64k count=16 conv=notrunc status=none
dd if=/dev/zero of="$work/full/c.img" bs=64k seek=80 count=7 conv=notrunc status=none
loop_c=$(losetup -f --show "$work/full/c.img")
dress_loop "$loop_c" Orvane 'Vela update' SERC

log=$work/updater.log
HOME="$work/home" XDG_CONFIG_HOME="$work/home" QT_QPA_PLATFORM=offscreen \
  QT_LOGGING_RULES="updater.ui=true;updater.device=true" \
  "$updater" "$work/firmware" 1 2>"$log" &
pid=$!
trap 'kill -KILL "$pid" 2>/dev/null || true' EXIT
failed=0
for _ in $(seq 1 240); do
  grep -q "the run's release ended" "$log" && break
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.5
done
grep -q "the run's release ended" "$log" || { echo "the run did not end" >&2; failed=1; }
# A class set's result stays on screen: no exit 3 s after the end.
sleep 4
kill -0 "$pid" 2>/dev/null || { echo "the window closed by itself" >&2; failed=1; }
kill "$pid" 2>/dev/null || true
wait "$pid" 2>/dev/null || true

holds() { # disk file offset
  cmp -s -n "$(stat -c %s "$work/firmware/$2")" -i "$3:0" "$4" "$work/firmware/$2" ||
    { echo "$1 does not hold $2" >&2; failed=1; }
}
finished() { # disk image
  [ "$(od -An -tx1 -j $((87040 + 12)) -N 4 "$2" | tr -d ' \n')" = c1be0000 ] ||
    { echo "$1 got no finish command" >&2; failed=1; }
}
for disk in a b; do
  holds "$disk" VELA_APP.DAT $((0x500000)) "$work/$disk.img"
  holds "$disk" VELA_MAIN.DAT $((0x100000)) "$work/$disk.img"
  holds "$disk" VELA_OS.ROM 0 "$work/$disk.img"
  finished "$disk" "$work/$disk.img"
done
finished c "$work/full/c.img"
sent=$(grep -c "release: serial SERC: ok" "$log" || true)
[ "$sent" -eq 1 ] || { echo "SERC got $sent finish commands, not one" >&2; failed=1; }
grep -qF "the run ends: Update failed (112)" "$log" || { echo "not ended as failed (112)" >&2; failed=1; }
for row in "serial SERA | OK" "serial SERB | OK" "serial SERC | failed (112)"; do
  grep -qF "result: $row" "$log" || { echo "the list does not say: $row" >&2; failed=1; }
done
for disk in look2 part scsi; do
  cmp -s -n "$(stat -c %s "$work/$disk.img")" "$work/$disk.img" /dev/zero ||
    { echo "the lookalike $disk was written" >&2; failed=1; }
done
losetup -d "$loop_c"
umount "$work/full"
if [ $failed -eq 0 ]; then
  echo "two calculators updated, the refusing one finished once, the list stays, lookalikes untouched"
else
  sed -n '1,200p' "$log" >&2
fi
exit $failed
