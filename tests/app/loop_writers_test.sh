#!/usr/bin/env bash
# One writer per calculator, across processes: an updater that reaches a
# calculator another one is writing writes nothing to it and says why, as a
# failure (116); the first one's update ends whole. Whichever starts first:
# vela-update and the dialog, each way round. A holder killed with SIGKILL
# lets go at once. Real binaries, real timings, a loop device dressed as the
# calculator. Run through tests/device/in_private_sysfs.sh.
# Usage: loop_writers_test.sh <vela-update binary> <Updater binary>
set -euo pipefail
tool=$1 updater=$2
work=${UPDATER_TEST_WORK:?run through in_private_sysfs.sh}
[ -e /sys/dev/block/.updater-test ] || { echo "not in a private /sys/dev/block" >&2; exit 1; }
. "$(dirname "$0")/../device/calculator_sysfs.sh"
loop_calculator calc SERW >/dev/null
for set in one two; do
  mkdir -p "$work/$set"
  head -c 300001 /dev/urandom >"$work/$set/VELA_APP.DAT"
  head -c 100000 /dev/urandom >"$work/$set/VELA_MAIN.DAT"
  head -c 65536 /dev/urandom >"$work/$set/VELA_OS.ROM"
done
mkdir -p "$work/home"

failed=0
fail() { echo "FAIL: $1" >&2; failed=1; }
# Every program started here ends with the test, a stopped one too: one left
# behind would hold the calculator and whatever its parent left open.
started=()
end_started() {
  local p
  for p in "${started[@]}"; do
    kill -CONT "$p" 2>/dev/null || true
    kill -KILL "$p" 2>/dev/null || true
  done
}
trap end_started EXIT
holds() { # set: every image of it on the calculator
  local f offset
  for f in VELA_APP.DAT:$((0x500000)) VELA_MAIN.DAT:$((0x100000)) VELA_OS.ROM:0; do
    offset=${f#*:}
    cmp -s -n "$(stat -c %s "$work/$1/${f%:*}")" -i "$offset:0" "$work/calc.img" "$work/$1/${f%:*}" ||
      return 1
  done
}
none_of() { # set: not one image of it on the calculator
  ! cmp -s -n 65536 "$work/calc.img" "$work/$1/VELA_OS.ROM" &&
    ! cmp -s -n 100000 -i "$((0x100000)):0" "$work/calc.img" "$work/$1/VELA_MAIN.DAT"
}
wait_for() { # file pattern: until a line of the file matches (30 s)
  local i
  for i in $(seq 300); do grep -q "$2" "$1" 2>/dev/null && return 0; sleep 0.1; done
  return 1
}
start_tool() { # set log: vela-update in the background, into $pid
  QT_LOGGING_RULES="updater.device=true" \
    "$tool" install "$work/$1" --json --yes >"$work/$2.json" 2>"$work/$2.err" &
  pid=$!
  started+=("$pid")
}
start_dialog() { # set log: the Updater in the background, with its diagnostics
  HOME="$work/home" XDG_CONFIG_HOME="$work/home" QT_QPA_PLATFORM=offscreen \
    QT_LOGGING_RULES="updater.device=true" "$updater" "$work/$1" 1 2>"$work/$2.err" &
  pid=$!
  started+=("$pid")
}
truncate -s 0 "$work/calc.img" && truncate -s 8M "$work/calc.img"

# vela-update first: stopped while it holds the calculator, the dialog comes
# and is refused; let go on, vela-update ends whole.
start_tool one first
first=$pid
wait_for "$work/first.json" '"event":"progress"' || fail "vela-update never wrote"
kill -STOP "$first"
start_dialog two second
wait_for "$work/second.err" 'held by another updater' || fail "the dialog was not refused: $(tail -5 "$work/second.err")"
kill "$pid"; wait "$pid" 2>/dev/null || true
kill -CONT "$first"
rc=0; wait "$first" || rc=$?
[ "$rc" -eq 0 ] || fail "vela-update ended with $rc"
holds one || fail "the calculator does not hold vela-update's set"

# The dialog first, then vela-update: refused (116, exit 4) while the dialog
# still holds the calculator (it is stopped, so a refused updater that waited
# for it would never end), nothing written, no finish command.
truncate -s 0 "$work/calc.img" && truncate -s 8M "$work/calc.img"
start_dialog one first
first=$pid
wait_for "$work/first.err" 'held by this run' || fail "the dialog never wrote"
kill -STOP "$first"
start_tool two second
rc=0; wait "$pid" || rc=$?
[ "$rc" -eq 4 ] || fail "vela-update against the dialog's calculator ended with $rc"
grep -q '"code":116' "$work/second.json" && grep -q 'being updated by another updater' "$work/second.json" ||
  fail "vela-update did not say why: $(cat "$work/second.json")"
# It never held the calculator: it sends no finish command, and says of none.
! grep -q '"event":"finish"' "$work/second.json" || fail "the refused updater reports a finish command"
! grep -q 'release:' "$work/second.err" || fail "the refused updater sent a finish command"
kill -CONT "$first"
rc=0; wait "$first" || rc=$?
[ "$rc" -eq 0 ] || fail "the dialog ended with $rc, not after Done"
holds one || fail "the calculator does not hold the dialog's set"
none_of two || fail "vela-update wrote beside the dialog"

# A holder killed outright lets go: the next run writes its whole set.
start_tool one killed
wait_for "$work/killed.json" '"event":"progress"' || fail "vela-update never wrote"
kill -KILL "$pid"; wait "$pid" 2>/dev/null || true
start_tool two after
rc=0; wait "$pid" || rc=$?
[ "$rc" -eq 0 ] || fail "the run after a killed holder ended with $rc: $(cat "$work/after.err")"
holds two || fail "the calculator does not hold the set of the run after the killed one"

[ $failed -eq 0 ] && echo "one writer per calculator, whichever starts first; a killed holder lets go"
exit $failed
