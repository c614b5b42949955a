#!/usr/bin/env bash
# Benchmark, not a test: the command-line tool writing a whole firmware set to
# 16 calculators against writing it to one, in `install` and in `station`,
# next to the same comparison for dd (the same bytes at the same positions,
# oflag=direct,sync, one dd per disk, the sixteen at once). Loop devices
# dressed up as calculators, in a private /sys/dev/block (calculator_loops.sh).
# Prints the ratios and the figure the goal is about: the tool's 16/1 ratio
# divided by dd's (goal: at most 1.1). Also the tool's peak memory with 16
# calculators against an idle one, and the start-up of `list` against `true`.
# Needs root. Usage: bench/cli_vs_dd.sh [build dir] [runs]
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${1:-build}" && pwd)
runs=${2:-3}
cli="$build/app/vela-update"
[ -x "$cli" ] || { echo "build $cli first (scripts/build.sh)" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || { echo "losetup needs root" >&2; exit 1; }
. bench/calculator_loops.sh
. scripts/set_layout.sh
in_private_sysfs bench/cli_vs_dd.sh "$@"

bench_work

now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.4f", b - a }'; }
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }

fw="$work/firmware"
mkdir "$fw"
head -c 1048576 /dev/urandom >"$fw/VELA_OS.ROM"
head -c 786432 /dev/urandom >"$fw/VELA_MAIN.DAT"
head -c 2097152 /dev/urandom >"$fw/VELA_APP.DAT"
for i in $(seq 0 16); do
  truncate -s 8M "$work/disk$i.img"
  loops+=("$(losetup -f --show "$work/disk$i.img")")
done
dress_as_calculator "${loops[0]}" one CLI00
for i in $(seq 1 16); do dress_as_calculator "${loops[$i]}" sixteen "CLI$i"; done

layout=$(set_layout "$cli" "$fw")
dd_set() { # loop device: the three images at their positions, as the tool writes them
  local name offset size
  while read -r name offset size; do
    dd if="$fw/$name" of="$1" bs=16384 seek=$((offset / 16384)) oflag=direct,sync conv=notrunc \
      status=none
  done <<<"$layout"
}
dd_many() { # loop devices...
  local pids=() d
  for d in "$@"; do dd_set "$d" & pids+=($!); done
  for d in "${pids[@]}"; do wait "$d"; done
}
run_cli() { # calculator group, command...
  local group=$1
  shift
  with_calculators "$group" "$cli" "$@" >"$work/out.json" 2>"$work/err.txt" ||
    { cat "$work/err.txt" >&2; echo "vela-update $* failed" >&2; exit 1; }
}

d1=() d16=() i1=() i16=() s1=() s16=()
for run in $(seq "$runs"); do
  t=$(now); dd_many "${loops[0]}"; d1+=("$(elapsed "$t" "$(now)")")
  t=$(now); dd_many "${loops[@]:1:16}"; d16+=("$(elapsed "$t" "$(now)")")
  t=$(now); run_cli one install "$fw" --yes --json --wait 5; i1+=("$(elapsed "$t" "$(now)")")
  t=$(now); run_cli sixteen install "$fw" --yes --json --wait 5; i16+=("$(elapsed "$t" "$(now)")")
  for i in $(seq 1 16); do holds_set "${loops[$i]}" "$fw" "$layout" || { echo "calculator $i does not hold the set" >&2; exit 1; }; done
  t=$(now); run_cli one station "$fw" --json --max 1; s1+=("$(elapsed "$t" "$(now)")")
  t=$(now); run_cli sixteen station "$fw" --json --max 16; s16+=("$(elapsed "$t" "$(now)")")
  printf 'run %d: dd %s / %s s, install %s / %s s, station %s / %s s (one / sixteen)\n' "$run" \
    "${d1[-1]}" "${d16[-1]}" "${i1[-1]}" "${i16[-1]}" "${s1[-1]}" "${s16[-1]}"
done
md1=$(printf '%s\n' "${d1[@]}" | median) md16=$(printf '%s\n' "${d16[@]}" | median)
mi1=$(printf '%s\n' "${i1[@]}" | median) mi16=$(printf '%s\n' "${i16[@]}" | median)
ms1=$(printf '%s\n' "${s1[@]}" | median) ms16=$(printf '%s\n' "${s16[@]}" | median)
dd_ratio=$(ratio "$md16" "$md1")
echo "dd 16/1: $dd_ratio"
echo "install 16/1: $(ratio "$mi16" "$mi1"), against dd's: $(ratio "$(ratio "$mi16" "$mi1")" "$dd_ratio") (goal <= 1.1)"
echo "station 16/1: $(ratio "$ms16" "$ms1"), against dd's: $(ratio "$(ratio "$ms16" "$ms1")" "$dd_ratio") (goal <= 1.1)"

# Peak memory (VmHWM): an install to sixteen calculators against one waiting
# for a calculator that never comes.
peak_kb() { # calculator group, command...
  local group=$1 pid peak="" sample
  shift
  with_calculators "$group" true
  "$cli" "$@" >/dev/null 2>&1 &
  pid=$!
  while sample=$(awk '/^VmHWM:/ { print $2 }' "/proc/$pid/status" 2>/dev/null) && [ -n "$sample" ]; do
    peak=$sample
    sleep 0.05
  done
  wait "$pid" || true
  echo "$peak"
}
idle=$(peak_kb none install "$fw" --yes --json --wait 2)
busy=$(peak_kb sixteen install "$fw" --yes --json --wait 5)
echo "peak memory: idle $idle kB, sixteen calculators $busy kB; per calculator $(awk -v a="$busy" -v b="$idle" 'BEGIN { printf "%.0f", (a - b) / 16 }') kB (goal <= 2048)"

# Start-up: `list` with no calculator against `true`, and the disk search
# alone (bench_discovery, in-process), medians of 21.
lt=() tt=()
for run in $(seq 21); do
  t=$(now); with_calculators none "$cli" list >/dev/null 2>&1 || true; lt+=("$(elapsed "$t" "$(now)")")
  t=$(now); /bin/true; tt+=("$(elapsed "$t" "$(now)")")
done
ml=$(printf '%s\n' "${lt[@]}" | median) mt=$(printf '%s\n' "${tt[@]}" | median)
search=$(with_calculators none "$build/bench/bench_discovery" | sed -n 's/.*seconds=\([0-9.]*\).*/\1/p')
echo "start-up: list $ml s, true $mt s (one process), disk search $search s; list / (2 x true + search) = $(awk -v l="$ml" -v t="$mt" -v s="$search" 'BEGIN { printf "%.2f", l / (2 * t + s) }') (goal <= 1)"
