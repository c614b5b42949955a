#!/usr/bin/env bash
# cmake --install lays out what a user needs: the executable with icons/ and
# resource/ beside it, a link in bin, desktop integration, the udev rule and
# the licence.
set -u
build=$1
dest=$(mktemp -d)
trap 'rm -rf "$dest"' EXIT
DESTDIR=$dest cmake --install "$build" --prefix /usr >/dev/null 2>&1 || { echo "install failed"; echo "0 passed, 1 failed"; exit 1; }
root=$dest/usr
passed=0 failed=0
check() { if eval "$2"; then passed=$((passed+1)); else echo "FAIL: $1"; failed=$((failed+1)); fi; }
check "executable" "[ -x '$root/lib/vela-updater/Updater' ]"
check "link in bin" "[ \"\$(readlink '$root/bin/vela-updater')\" = ../lib/vela-updater/Updater ]"
check "command-line tool" "[ -x '$root/lib/vela-updater/vela-update' ]"
check "its link in bin" "[ \"\$(readlink '$root/bin/vela-update')\" = ../lib/vela-updater/vela-update ]"
check "folder icons" "[ -f '$root/lib/vela-updater/icons/varFolder_16x16.png' ] && [ -f '$root/lib/vela-updater/icons/varFolder_32x32.png' ]"
check "string modules" "[ -z \"\$(ls '$root/lib/vela-updater/resource/' 2>/dev/null | grep -v orvaneresource)\" ] && [ \$(ls '$root/lib/vela-updater/resource/' 2>/dev/null | wc -l) -eq 8 ]"
check "desktop file" "grep -q '^Exec=vela-updater$' '$root/share/applications/vela-updater.desktop'"
check "hicolor icon" "[ -f '$root/share/icons/hicolor/64x64/apps/vela-updater.png' ]"
check "udev rule uaccess" "grep -q 'TAG+=\"uaccess\"' '$root/lib/udev/rules.d/70-vela-updater.rules'"
check "udev rule keeps automounters away" "grep -q 'UDISKS_IGNORE' '$root/lib/udev/rules.d/70-vela-updater.rules'"
check "copyright file names the licence" "grep -qx 'License: GPL-3+' '$root/share/doc/vela-updater/copyright' && grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' '$root/share/doc/vela-updater/copyright'"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
