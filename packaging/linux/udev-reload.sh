#!/bin/sh
# postinst and postrm of vela-updater: one script under both names.
#
# Once the udev rule has been added or removed, udev reloads its rules and
# replays a "change" event for the calculator's update disk and its
# partitions only, so that a calculator already plugged in gains (or loses)
# the user's access and the automounters' distance at once. Every other device
# is left alone: a trigger of all block devices would re-run every rule on
# every disk of the machine.
set -e

reload_and_trigger() {
    command -v udevadm >/dev/null 2>&1 || return 0
    # No udev daemon (a container, or a system image being built): no rules
    # to reload and no device to tell.
    udevadm control --reload-rules 2>/dev/null || return 0
    calculator_devices | while read -r path; do
        udevadm trigger --action=change "/sys$path" || true
    done
}

# The same test as the rule's, on the properties udev already holds: a block
# device on USB whose vendor and model are the calculator's in update mode.
calculator_devices() {
    udevadm info --export-db | awk '
        /^P: / { path = substr($0, 4) }
        /^E: SUBSYSTEM=block$/ { block = 1 }
        /^E: ID_BUS=usb$/ { usb = 1 }
        /^E: ID_VENDOR=Orvane$/ { vendor = 1 }
        /^E: ID_MODEL=Vela_update$/ { model = 1 }
        /^$/ {
            if (block && usb && vendor && model) print path
            path = ""; block = usb = vendor = model = 0
        }
        END { if (block && usb && vendor && model) print path }'
}

case "$1" in
    configure | remove)
        reload_and_trigger
        ;;
esac

exit 0
