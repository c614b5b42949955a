#!/usr/bin/env bash
# The package's postinst/postrm tell udev about the rule only for the
# calculator's update disk: against a stub udevadm that serves a recorded
# device database, each row gives the action, whether a udev daemon answers,
# whether the rules are reloaded, and the devices that get a "change" event.
set -u
script=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin"

# A calculator (disk and partition), a USB disk of the same vendor, another
# vendor's disk named like the calculator, the calculator's names on a
# non-USB bus, and a USB device of the calculator that is no block device.
cat >"$work/db" <<'DB'
P: /devices/pci0000:00/usb1/1-1/host6/target6:0:0/6:0:0:0/block/sdb
E: SUBSYSTEM=block
E: DEVTYPE=disk
E: ID_BUS=usb
E: ID_VENDOR=Orvane
E: ID_MODEL=Vela_update

P: /devices/pci0000:00/usb1/1-1/host6/target6:0:0/6:0:0:0/block/sdb/sdb1
E: SUBSYSTEM=block
E: DEVTYPE=partition
E: ID_BUS=usb
E: ID_VENDOR=Orvane
E: ID_MODEL=Vela_update

P: /devices/pci0000:00/usb1/1-2/block/sdc
E: SUBSYSTEM=block
E: ID_BUS=usb
E: ID_VENDOR=Orvane
E: ID_MODEL=Vela_storage

P: /devices/pci0000:00/usb1/1-3/block/sdd
E: SUBSYSTEM=block
E: ID_BUS=usb
E: ID_VENDOR=Other
E: ID_MODEL=Vela_update

P: /devices/pci0000:00/ata1/block/sda
E: SUBSYSTEM=block
E: ID_BUS=ata
E: ID_VENDOR=Orvane
E: ID_MODEL=Vela_update

P: /devices/pci0000:00/usb1/1-4/scsi_generic/sg2
E: SUBSYSTEM=scsi_generic
E: ID_BUS=usb
E: ID_VENDOR=Orvane
E: ID_MODEL=Vela_update
DB

cat >"$work/bin/udevadm" <<'STUB'
#!/bin/sh
echo "$*" >>"$UDEVADM_LOG"
case "$1" in
    control) [ -z "$UDEVADM_NO_DAEMON" ] ;;
    info) cat "$UDEVADM_DB" ;;
esac
STUB
chmod +x "$work/bin/udevadm"

calc=/sys/devices/pci0000:00/usb1/1-1/host6/target6:0:0/6:0:0:0/block/sdb
passed=0 failed=0
while IFS='|' read -r name action no_daemon reloads expected; do
    : >"$work/log"
    status=0
    PATH="$work/bin:$PATH" UDEVADM_LOG=$work/log UDEVADM_DB=$work/db \
        UDEVADM_NO_DAEMON=$no_daemon sh "$script" "$action" || status=$?
    got=$(sed -n 's/^trigger --action=change //p' "$work/log" | tr '\n' ' ')
    reloaded=$(grep -c '^control --reload-rules$' "$work/log")
    if [ $status -eq 0 ] && [ "$got" = "$expected" ] && [ "$reloaded" = "$reloads" ]; then
        passed=$((passed + 1))
    else
        echo "FAIL: $name: exit $status, reloads $reloaded, triggered \"$got\"; expected $reloads, \"$expected\""
        failed=$((failed + 1))
    fi
done <<TABLE
install: the calculator's disk and partition only|configure||1|$calc $calc/sdb1 
removal: the same devices|remove||1|$calc $calc/sdb1 
no udev daemon: nothing triggered, no failure|configure|1|1|
purge after removal: nothing more|purge||0|
old postrm on upgrade: left to the new postinst|upgrade||0|
TABLE
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
