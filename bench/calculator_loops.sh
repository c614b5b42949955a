# Sourced by the benchmarks that write loop devices. The updater writes only a
# disk the kernel lists as the calculator's (/sys/dev/block/MAJ:MIN, a whole
# disk on USB with SCSI vendor "Orvane" and model "Vela update"), so the
# benchmark runs in a mount namespace of its own where /sys/dev/block is an
# empty tmpfs and says that of its loop devices alone
# (tests/device/calculator_sysfs.sh). Nothing outside the namespace changes.

# in_private_sysfs SCRIPT ARGS...: re-runs SCRIPT (a path from the top of the
# repository) in such a namespace, unless this is one already.
in_private_sysfs() {
  [ -e /sys/dev/block/.updater-bench ] && return
  if [ -z "${UPDATER_BENCH_PRIVATE_SYSFS:-}" ]; then
    exec env UPDATER_BENCH_PRIVATE_SYSFS=1 unshare -m --propagation private "$@"
  fi
  mount -t tmpfs updater-bench-sysfs /sys/dev/block
  touch /sys/dev/block/.updater-bench
}

. tests/device/calculator_sysfs.sh

# dress_as_calculator LOOP_DEVICE GROUP SERIAL: the loop device is a
# calculator with that serial whenever GROUP is the one shown.
dress_as_calculator() {
  echo "$1 $3" >>"$work/group.$2"
}

# undress_all: the private /sys/dev/block lists no disk at all. A benchmark
# started by another (run_all.sh) shares its namespace, and the loop devices
# the first one left dressed are none of the second's: undressing only its own
# would leave them listed, and counted as calculators.
undress_all() {
  [ -e /sys/dev/block/.updater-bench ] || { echo "undress_all: not in a private /sys/dev/block" >&2; return 1; }
  find /sys/dev/block -mindepth 1 -maxdepth 1 ! -name .updater-bench -exec rm -rf {} +
}

# with_calculators GROUP COMMAND...: runs COMMAND while the kernel lists
# exactly the loop devices of GROUP as calculators ("none": no calculator).
with_calculators() {
  local group=$1 loop serial
  shift
  undress_all
  if [ -f "$work/group.$group" ]; then
    while read -r loop serial; do dress_loop "$loop" Orvane 'Vela update' "$serial"; done \
      <"$work/group.$group"
  fi
  "$@"
}

# bench_work: a fresh work folder in $work and the list $loops of the loop
# devices a benchmark makes there; at exit every one is undressed, detached
# and the folder removed. Undressed first: the number of a detached loop
# device is soon another's, perhaps a loop device of someone else's, and an
# entry left in /sys/dev/block would name it a calculator.
bench_work() {
  work=$(mktemp -d)
  loops=()
  trap 'for l in "${loops[@]}"; do undress_loop "$l" 2>/dev/null || true; losetup -d "$l" 2>/dev/null || true; done; rm -rf "$work"' EXIT
}

# The control sector: the 512 bytes at 87040 through which the updater gives
# the calculator its commands. What is left there after an update is the
# last command, the finish command, and not the image whose place it shares
# (VELA_OS.ROM is written from 0).
control_sector=87040
control_sector_end=$((control_sector + 512))

# holds_set LOOP FOLDER LAYOUT: the loop device holds every image of the set
# in FOLDER at its place (LAYOUT: set_layout's lines), but in the control
# sector, which holds the finish command (its code 0xBEC1), as the loop
# device tests check it.
holds_set() {
  local disk=$1 folder=$2 name offset size end piece from to
  while read -r name offset size; do
    end=$((offset + size))
    # Two pieces at most: before the control sector and after it.
    for piece in "$offset $((end < control_sector ? end : control_sector))" \
      "$((offset > control_sector_end ? offset : control_sector_end)) $end"; do
      read -r from to <<<"$piece"
      [ "$from" -lt "$to" ] || continue
      cmp -s -n $((to - from)) -i "$((from - offset)):$from" "$folder/$name" "$disk" || return 1
    done
  done <<<"$3"
  [ "$(od -An -tx1 -j $((control_sector + 12)) -N 4 "$disk" | tr -d ' \n')" = c1be0000 ]
}
