#!/usr/bin/env bash
# Benchmarks, not tests: every figure is a ratio of two times (or two sizes)
# measured in this same run, so the speed of the machine cancels out.
#   1. runFileTransfer against dd on a loop device (bench/transfer_vs_dd.sh);
#   2. four update disks in parallel against one, wall time of runFileTransfer,
#      on loop devices and on virtual calculator units;
#   3. getResString cold (fresh registries: module read and block decoded)
#      against warm (cache hit);
#   4. the Updater's start-up, process start to the first exposed window,
#      against a minimal Qt dialog built here, both offscreen;
#   5. the Updater's peak resident memory (VmHWM) during a whole update of 16
#      virtual disks (and of 16 loop devices), against an idle Updater;
#   6. the longest stall of the GUI thread's event loop (a 10 ms timer's
#      lateness) over a start with an empty folder, a Cancel while waiting and
#      a whole run onto a virtual calculator that answers each operation
#      100 ms late. Not a ratio: the goal is a number, no stall over 50 ms;
#   7. vela-update writing 16 loop calculators against 1, in install and in
#      station, against dd doing the same; its peak memory; `list` start-up
#      (bench/cli_vs_dd.sh);
#   8. the run command from a fresh clone, headless, to the end of the demo
#      update on the virtual calculator (bench/run_command.sh). Not a ratio:
#      the goal is under 90 s on 2 cores.
# Steps 1, 2 (loop devices), 5 (loop devices) and 7 need root for losetup, and
# run in a private mount namespace (bench/calculator_loops.sh).
# Usage: bench/run_all.sh [build dir]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
[ -d "$build" ] || scripts/build.sh
cmake --build "$build" -j2 --target Updater vela-update bench_transfer bench_discovery bench_strings minimal_dialog updater_first_expose bench_gui_stall >/dev/null
updater="$build/app/Updater"
export QT_QPA_PLATFORM=offscreen

root=0
[ "$(id -u)" -eq 0 ] && command -v losetup >/dev/null && command -v unshare >/dev/null && root=1
. bench/calculator_loops.sh
if [ $root = 1 ]; then
  in_private_sysfs bench/run_all.sh "$@"
fi
bench_work
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
  export XDG_RUNTIME_DIR="$work/runtime"
  mkdir -m 700 "$XDG_RUNTIME_DIR"
fi

results=()
broken_steps=()
result() { results+=("$(printf '%-58s %s' "$1" "$2")"); }
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
section() { printf '\n== %s\n' "$1"; }

# A loop device dressed up as the calculator's update disk number $2 whenever
# the group $1 is shown (calculator_loops.sh).
add_loop_disk() {
  local img="$work/disk$((${#loops[@]})).img" loop
  truncate -s 16M "$img"
  loop=$(losetup -f --show "$img")
  loops+=("$loop")
  dress_as_calculator "$loop" "$1" "BENCH$2"
}

seconds_of() { sed -n 's/.*seconds=\([0-9.]*\).*/\1/p'; }

section "1. transfer against dd"
if [ $root = 1 ]; then
  out=$(bench/transfer_vs_dd.sh "$build" 5)
  echo "$out"
  result "transfer / dd floor, loop device (median of 5)" \
    "$(sed -n 's/^median of the per-run ratios \([0-9.]*\).*/\1/p' <<<"$out")"
else
  echo "skipped: losetup needs root"
fi

section "2. four disks against one"
head -c $((4 * 1024 * 1024)) /dev/urandom >"$work/image.bin"
offset=$((0x100000))
if [ $root = 1 ]; then
  add_loop_disk one 0
  for i in 0 1 2 3; do add_loop_disk four "$i"; done
  t1=() t4=()
  for run in 1 2 3 4 5; do
    a=$(with_calculators one "$build/bench/bench_transfer" "$work/image.bin" "$offset" | seconds_of)
    b=$(with_calculators four "$build/bench/bench_transfer" "$work/image.bin" "$offset" | seconds_of)
    printf 'loop devices, run %d: one disk %.4f s, four disks %.4f s\n' "$run" "$a" "$b"
    t1+=("$a") t4+=("$b")
  done
  m1=$(printf '%s\n' "${t1[@]}" | median) m4=$(printf '%s\n' "${t4[@]}" | median)
  result "4 disks / 1 disk wall time, loop devices (medians of 5)" "$(ratio "$m4" "$m1")"
fi
t1=() t4=()
for run in 1 2 3 4 5; do
  a=$(UPDATER_VIRTUAL_CALCULATOR=units=1 "$build/bench/bench_transfer" "$work/image.bin" "$offset" | seconds_of)
  b=$(UPDATER_VIRTUAL_CALCULATOR=units=4 "$build/bench/bench_transfer" "$work/image.bin" "$offset" | seconds_of)
  printf 'virtual units, run %d: one disk %.4f s, four disks %.4f s\n' "$run" "$a" "$b"
  t1+=("$a") t4+=("$b")
done
m1=$(printf '%s\n' "${t1[@]}" | median) m4=$(printf '%s\n' "${t4[@]}" | median)
result "4 disks / 1 disk wall time, virtual units (medians of 5)" "$(ratio "$m4" "$m1")"

section "3. getResString cold and warm"
out=$("$build/bench/bench_strings" "$build/app/resource")
echo "$out"
result "cold / warm getResString, id 0x209 English" \
  "$(sed -n '1s/.*ratio=\([0-9.]*\).*/\1/p' <<<"$out")"

# The updater holds a machine-wide single-instance guard: while another
# Updater runs (a test, say) a new one ends at once. Such a run is retried.
firmware="$work/firmware"
mkdir "$firmware"
head -c 1048576 /dev/urandom >"$firmware/VELA_OS.ROM"
head -c 786432 /dev/urandom >"$firmware/VELA_MAIN.DAT"
head -c 2097152 /dev/urandom >"$firmware/VELA_APP.DAT"

first_expose_ms() { # program...
  local t0 out
  for attempt in $(seq 60); do
    t0=$(date +%s%N)
    out=$(UPDATER_VIRTUAL_CALCULATOR=absent=1 "$@" 2>/dev/null || true)
    if [[ $out =~ first_expose_ns=([0-9]+) ]]; then
      awk -v a="$t0" -v b="${BASH_REMATCH[1]}" 'BEGIN { printf "%.1f", (b - a) / 1e6 }'
      return
    fi
    sleep 1
  done
  echo "no window was shown by $1" >&2
  return 1
}

section "4. start-up to the first shown window (offscreen)"
su=() sm=()
for run in $(seq 11); do
  a=$(first_expose_ms "$build/app/updater_first_expose" "$firmware" 1)
  b=$(first_expose_ms "$build/bench/minimal_dialog")
  printf 'run %2d: Updater %.1f ms, minimal dialog %.1f ms\n' "$run" "$a" "$b"
  su+=("$a") sm+=("$b")
done
mu=$(printf '%s\n' "${su[@]}" | median) mm=$(printf '%s\n' "${sm[@]}" | median)
printf 'medians: Updater %.1f ms, minimal dialog %.1f ms\n' "$mu" "$mm"
result "Updater / minimal dialog start-up (medians of 11)" "$(ratio "$mu" "$mm")"

hwm_kb() { awk '/^VmHWM:/ { print $2 }' "/proc/$1/status" 2>/dev/null || true; }

# Idle: waiting for a calculator that never comes, for three seconds.
idle_peak_kb() {
  local pid peak
  for attempt in $(seq 60); do
    UPDATER_VIRTUAL_CALCULATOR=absent=1 "$updater" "$firmware" 1 2>/dev/null &
    pid=$!
    sleep 3
    peak=$(hwm_kb "$pid")
    if [ -n "$peak" ]; then
      kill "$pid"
      wait "$pid" 2>/dev/null || true
      echo "$peak"
      return
    fi
    wait "$pid" 2>/dev/null || true
    sleep 1
  done
  return 1
}

# A whole update, from the first poll to "Done" and the finish commands; the
# last sample of VmHWM is the peak. A class set's window stays open with its
# list once the run is over: it is ended then.
update_peak_kb() { # environment assignments...
  local pid peak sample log=$work/update.err
  for attempt in $(seq 60); do
    env "$@" QT_LOGGING_RULES="updater.ui=true" "$updater" "$firmware" 1 2>"$log" &
    pid=$!
    peak=""
    while sample=$(hwm_kb "$pid") && [ -n "$sample" ]; do
      peak=$sample
      if grep -q "the run's release ended" "$log"; then
        kill "$pid"
        break
      fi
      sleep 0.1
    done
    wait "$pid" 2>/dev/null || true
    # Another updater held the single-instance guard: this one ended at once.
    if grep -q "the run ends: Done" "$log"; then
      echo "$peak"
      return
    fi
    sleep 1
  done
  return 1
}

section "5. peak memory"
idle=$(idle_peak_kb)
echo "idle Updater: VmHWM $idle kB"
mkdir "$work/vc"
virtual=$(update_peak_kb "UPDATER_VIRTUAL_CALCULATOR=units=16")
stored=$(du -cb "$firmware"/* | awk 'END { print 16 * $1 / 1024 }')
echo "update of 16 virtual disks: VmHWM $virtual kB (the emulated disks themselves keep $stored kB of data in the process)"
result "peak RSS, update of 16 virtual disks / idle" "$(ratio "$virtual" "$idle")"
result "peak RSS, same, less the emulated disks' data / idle" "$(ratio "$((virtual - ${stored%.*}))" "$idle")"
if [ $root = 1 ]; then
  for i in $(seq 0 15); do add_loop_disk sixteen "$i"; done
  with_calculators sixteen true
  loopy=$(update_peak_kb)
  echo "update of 16 loop devices: VmHWM $loopy kB"
  result "peak RSS, update of 16 loop devices / idle" "$(ratio "$loopy" "$idle")"
fi

section "6. longest stall of the GUI thread"
# Small images: at 100 ms an operation, the run is long enough as it is.
mkdir "$work/empty" "$work/small"
head -c 200000 /dev/urandom >"$work/small/VELA_APP.DAT"
head -c 100000 /dev/urandom >"$work/small/VELA_MAIN.DAT"
head -c 65536 /dev/urandom >"$work/small/VELA_OS.ROM"
se=() sc=() sr=()
stall_ms() { sed -n 's/.*longest_stall_ms=\([0-9.]*\).*/\1/p'; }
for run in 1 2 3; do
  e=$(UPDATER_VIRTUAL_CALCULATOR=absent=1 "$build/bench/bench_gui_stall" empty "$work/empty" 2>/dev/null)
  c=$(UPDATER_VIRTUAL_CALCULATOR=absent=1 "$build/bench/bench_gui_stall" cancel "$work/small" 2>/dev/null)
  r=$(UPDATER_VIRTUAL_CALCULATOR=slow_ms=100 "$build/bench/bench_gui_stall" run "$work/small" 2>/dev/null)
  printf '%s\n%s\n%s\n' "$e" "$c" "$r"
  se+=("$(stall_ms <<<"$e")") sc+=("$(stall_ms <<<"$c")") sr+=("$(stall_ms <<<"$r")")
done
longest() { printf '%s\n' "$@" | sort -g | tail -1; }
result "longest GUI stall, ms: empty folder (worst of 3)" "$(longest "${se[@]}")"
result "longest GUI stall, ms: Cancel while waiting (worst of 3)" "$(longest "${sc[@]}")"
result "longest GUI stall, ms: whole run, slow disk (worst of 3)" "$(longest "${sr[@]}")"

section "7. the command-line tool: sixteen calculators against one, memory, start-up"
if [ $root = 1 ]; then
  out=$(bench/cli_vs_dd.sh "$build" 3)
  echo "$out"
  result "install 16/1 against dd's 16/1 (medians of 3)" \
    "$(sed -n 's/^install 16\/1: .*against dd.s: \([0-9.]*\).*/\1/p' <<<"$out")"
  result "station 16/1 against dd's 16/1 (medians of 3)" \
    "$(sed -n 's/^station 16\/1: .*against dd.s: \([0-9.]*\).*/\1/p' <<<"$out")"
  result "peak memory per calculator over idle, kB (16 loop devices)" \
    "$(sed -n 's/.*per calculator \([0-9]*\) kB.*/\1/p' <<<"$out")"
  result "list start-up / (2 x true + disk search) (medians of 21)" \
    "$(sed -n 's/.* = \([0-9.]*\) (goal <= 1)$/\1/p' <<<"$out")"
else
  echo "skipped: losetup needs root"
fi

section "8. the run command, fresh clone to the end of the demo"
# No loop device is dressed as a calculator: the run command must find none.
if [ $root = 1 ]; then
  out=$(with_calculators none bench/run_command.sh 2>&1) || true
else
  out=$(bench/run_command.sh 2>&1) || true
fi
echo "$out"
# A figure that missed its goal is a figure; a run command that did not do
# its work gives none worth keeping.
if ! grep -q '^goal: .*: \(met\|missed\)$' <<<"$out" ||
  grep -q '^scripts/run.sh ended\|^the virtual calculator was not\|^the demo update did not\|^scripts/run.sh did not\|programs were built$' <<<"$out"; then
  broken_steps+=("8")
fi
result "run command, fresh clone to the end of the demo, s (goal < 90)" \
  "$(sed -n 's/^run command, fresh clone to the end of the demo, s *\([0-9.]*\)$/\1/p' <<<"$out")"


section "Ratios (each measured within this run)"
printf '%s\n' "${results[@]}"
printf '\nmachine: %s CPUs, %s, %s RAM\n' "$(nproc)" \
  "$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)" \
  "$(awk '/^MemTotal:/ { printf "%.1f GiB", $2 / 1048576 }' /proc/meminfo)"
if [ ${#broken_steps[@]} -gt 0 ]; then
  printf 'step %s did not do its work: see above\n' "${broken_steps[@]}"
  exit 1
fi
