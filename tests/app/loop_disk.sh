# Sourced by the tests that write loop devices dressed up as calculators.
# loop_disk NAME VENDOR MODEL [partition]: a loop device over $work/NAME.img
# that the private /sys/dev/block describes with that identity (and, with
# "partition", as a partition rather than a whole disk). Prints its path.
loop_disk() {
  local loop number entry
  truncate -s 8M "$work/$1.img"
  loop=$(losetup -f --show "$work/$1.img")
  number=$(stat -c '%t:%T' "$loop")
  entry="/sys/dev/block/$((16#${number%:*})):$((16#${number#*:}))"
  rm -rf "$entry"
  mkdir -p "$entry/device"
  printf '%-8s\n' "$2" >"$entry/device/vendor"
  printf '%-16s\n' "$3" >"$entry/device/model"
  [ "${4:-}" = partition ] && echo 1 >"$entry/partition"
  echo "$loop"
}
