#!/usr/bin/env bash
# Benchmark, not a test: writes a 4 MiB image through runFileTransfer onto a
# loop device dressed up as the calculator's update disk, and compares the
# time with a floor measured in the same run: the same I/O issued back to back
# by dd with the same flags (oflag=direct,sync), namely the data in 16 KiB
# chunks, as many 512-byte control writes and 512-byte reads as the transfer
# made, and the two control-area reads. The fixed pauses of a transfer are
# divided away inside bench_transfer, so nothing is subtracted.
# Needs root (losetup). Usage: bench/transfer_vs_dd.sh [build dir] [runs]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${2:-5}
bench="$build/bench/bench_transfer"
[ -x "$bench" ] || { echo "build $bench first (scripts/build.sh)" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || { echo "losetup needs root" >&2; exit 1; }
. bench/calculator_loops.sh
in_private_sysfs bench/transfer_vs_dd.sh "$@"

bench_work
truncate -s 64M "$work/disk.img"
loop=$(losetup -f --show "$work/disk.img")
loops+=("$loop")
dress_as_calculator "$loop" it BENCH
head -c $((4 * 1024 * 1024)) /dev/urandom >"$work/image.bin"
offset=$((0x100000))

now() { date +%s.%N; }

best_transfer=""
best_floor=""
ratios=()
for run in $(seq "$runs"); do
  out=$(with_calculators it "$bench" "$work/image.bin" "$offset")
  t=$(sed -n 's/.*seconds=\([0-9.]*\).*/\1/p' <<<"$out")
  n=$(sed -n 's/.*exchanges=\([0-9]*\).*/\1/p' <<<"$out")
  cmp -s <(dd if="$loop" bs=16384 skip=$((offset / 16384)) count=256 2>/dev/null) "$work/image.bin" ||
    { echo "the disk does not hold the image" >&2; exit 1; }

  start=$(now)
  dd if="$work/image.bin" of="$loop" bs=16384 seek=$((offset / 16384)) oflag=direct,sync conv=notrunc status=none
  dd if=/dev/zero of="$loop" bs=512 count="$n" seek=170 oflag=direct,sync conv=notrunc status=none
  dd if="$loop" of=/dev/null bs=512 count="$n" skip=170 iflag=direct status=none
  dd if="$loop" of=/dev/null bs=15360 count=1 skip=87040 iflag=direct,skip_bytes status=none
  dd if="$loop" of=/dev/null bs=15872 count=1 skip=87040 iflag=direct,skip_bytes status=none
  end=$(now)
  floor=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.6f", b - a }')
  printf 'run %d: transfer %.4f s, floor %.4f s, %d exchanges\n' "$run" "$t" "$floor" "$n"
  ratios+=("$(awk -v a="$t" -v b="$floor" 'BEGIN { print a / b }')")
  best_transfer=$(awk -v a="$t" -v b="${best_transfer:-1e9}" 'BEGIN { print (a < b ? a : b) }')
  best_floor=$(awk -v a="$floor" -v b="${best_floor:-1e9}" 'BEGIN { print (a < b ? a : b) }')
done
ratio=$(awk -v a="$best_transfer" -v b="$best_floor" 'BEGIN { print a / b }')
median=$(printf '%s\n' "${ratios[@]}" | sort -g | awk '{ r[NR] = $1 } END { print (NR % 2) ? r[(NR + 1) / 2] : (r[NR / 2] + r[NR / 2 + 1]) / 2 }')
printf 'best transfer %.4f s, best floor %.4f s, ratio of bests %.3f\n' \
  "$best_transfer" "$best_floor" "$ratio"
printf 'median of the per-run ratios %.3f (target <= 1.10)\n' "$median"
