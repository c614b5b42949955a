# Sourced by every test and benchmark that writes loop devices dressed up as
# calculators, inside a mount namespace of its own where /sys/dev/block is an
# empty tmpfs (tests/device/in_private_sysfs.sh, bench/calculator_loops.sh).
# There, a loop device is described as the kernel describes a calculator in
# update mode: a whole disk with SCSI vendor and model, on a USB device with
# a bus, a device number and (optionally) a serial number, its node named in
# its uevent, its sequence number the kernel's own.

# dress_loop LOOP VENDOR MODEL [SERIAL] [PORT|-] [partition]
#   SERIAL: written byte for byte (printf %s); empty: the device has none.
#   PORT: the USB device's name ("3-1"); "-": not on USB at all. Default:
#   one port per loop device.
dress_loop() {
  local loop=$1 vendor=$2 model=$3 serial=${4:-} port=${5:-} kind=${6:-}
  local number major minor entry usb scsi
  number=$(stat -c '%t:%T' "$loop")
  major=$((16#${number%:*}))
  minor=$((16#${number#*:}))
  entry=/sys/dev/block/$major:$minor
  [ -n "$port" ] || port=9-$minor
  rm -rf "$entry"
  mkdir -p "$entry"
  if [ "$port" = - ]; then
    usb=/sys/dev/block/.scsi/$minor
  else
    usb=/sys/dev/block/.usb/$port
    rm -rf "$usb"
    mkdir -p "$usb"
    echo 9 >"$usb/busnum"
    echo "$minor" >"$usb/devnum"
    [ -z "$serial" ] || printf '%s\n' "$serial" >"$usb/serial"
  fi
  scsi=$usb/$port:1.0/host$minor/target$minor:0:0/$minor:0:0:0
  mkdir -p "$scsi"
  printf '%-8s\n' "$vendor" >"$scsi/vendor"
  printf '%-16s\n' "$model" >"$scsi/model"
  ln -s "$scsi" "$entry/device"
  printf 'MAJOR=%s\nMINOR=%s\nDEVNAME=%s\nDEVTYPE=disk\n' "$major" "$minor" \
    "${loop#/dev/}" >"$entry/uevent"
  [ ! -r "/sys/block/${loop#/dev/}/diskseq" ] || cp "/sys/block/${loop#/dev/}/diskseq" "$entry/diskseq"
  [ "$kind" != partition ] || echo 1 >"$entry/partition"
}

# undress_loop LOOP: the kernel no longer lists it (the calculator is gone).
undress_loop() {
  local number
  number=$(stat -c '%t:%T' "$1")
  rm -rf "/sys/dev/block/$((16#${number%:*})):$((16#${number#*:}))"
}

# loop_calculator NAME [SERIAL] [PORT] [VENDOR MODEL [partition]]: an 8 MiB
# loop device over $work/NAME.img, dressed; prints its node.
loop_calculator() {
  local loop
  truncate -s 8M "$work/$1.img"
  loop=$(losetup -f --show "$work/$1.img")
  dress_loop "$loop" "${4:-Orvane}" "${5:-Vela update}" "${2:-}" "${3:-}" "${6:-}"
  echo "$loop"
}
