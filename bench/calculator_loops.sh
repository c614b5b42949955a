# Sourced by the benchmarks that write loop devices. The updater writes only a
# disk the kernel describes as the calculator's (/sys/dev/block/MAJ:MIN with
# device/vendor "Orvane" and device/model "Vela update"), so the benchmark runs
# in a mount namespace of its own where /sys/dev/block is an empty tmpfs and
# says that of its loop devices alone. Nothing outside the namespace changes.

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

# dress_as_calculator LOOP_DEVICE BY_ID_FOLDER SERIAL
dress_as_calculator() {
  local number entry
  number=$(stat -c '%t:%T' "$1")
  entry="/sys/dev/block/$((16#${number%:*})):$((16#${number#*:}))"
  mkdir -p "$entry/device"
  printf '%-8s\n' Orvane >"$entry/device/vendor"
  printf '%-16s\n' 'Vela update' >"$entry/device/model"
  ln -s "$1" "$2/usb-Orvane_Vela_update_$3-0:0"
}

# bench_work: a fresh work folder in $work and the list $loops of the loop
# devices a benchmark makes there; at exit every one is detached and the
# folder removed.
bench_work() {
  work=$(mktemp -d)
  loops=()
  trap 'for l in "${loops[@]}"; do losetup -d "$l" 2>/dev/null || true; done; rm -rf "$work"' EXIT
}
