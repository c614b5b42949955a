#!/usr/bin/env bash
# vela-update install --json --yes, with real timings, onto two calculators on
# loop devices beside a lookalike: both hold every image and the finish
# command, the summary names both as ok (exit 0). Then, with one of them made
# read-only, that one alone fails (exit 4) and the other is written again.
# Run through tests/device/in_private_sysfs.sh (root, private /sys/dev/block).
# Usage: loop_cli_test.sh <vela-update binary>
set -euo pipefail
tool=$1
work=${UPDATER_TEST_WORK:?run through in_private_sysfs.sh}
[ -e /sys/dev/block/.updater-test ] || { echo "not in a private /sys/dev/block" >&2; exit 1; }

mkdir -p "$work/firmware"
. "$(dirname "$0")/../device/calculator_sysfs.sh"
loop_a=$(loop_calculator a SERA)
loop_b=$(loop_calculator b SERB)
loop_calculator look2 SER2 '' Orvane 'Vela update 2' >/dev/null

head -c 300001 /dev/urandom >"$work/firmware/VELA_APP.DAT"
head -c 100000 /dev/urandom >"$work/firmware/VELA_MAIN.DAT"
head -c 65536 /dev/urandom >"$work/firmware/VELA_OS.ROM"

failed=0
fail() { echo "$1" >&2; failed=1; }
install() { # expected exit code, log name
  local rc=0
  timeout 180 "$tool" install "$work/firmware" --json --yes \
    >"$work/$2.json" 2>"$work/$2.err" || rc=$?
  [ "$rc" -eq "$1" ] || fail "$2: exit $rc, not $1: $(cat "$work/$2.err")"
}
holds() { # disk file offset
  cmp -s -n "$(stat -c %s "$work/firmware/$2")" -i "$3:0" "$work/$1.img" "$work/firmware/$2"
}
whole() { # disk: every image and the finish command's code, 0xBEC1
  holds "$1" VELA_APP.DAT $((0x500000)) && holds "$1" VELA_MAIN.DAT $((0x100000)) &&
    holds "$1" VELA_OS.ROM 0 &&
    [ "$(od -An -tx1 -j $((87040 + 12)) -N 4 "$work/$1.img" | tr -d ' \n')" = c1be0000 ]
}
summary() { tail -n1 "$work/$1.json"; }

install 0 both
whole a || fail "a is not whole"
whole b || fail "b is not whole"
[ "$(summary both)" = '{"event":"summary","ok":true,"calculators":[{"calculator":"SERA","files":3,"ok":true,"result":0},{"calculator":"SERB","files":3,"ok":true,"result":0}]}' ] ||
  fail "summary: $(summary both)"
cmp -s -n 8388608 "$work/look2.img" /dev/zero || fail "the lookalike was written"

# b refuses every write (root still opens it); a is written again from nothing.
truncate -s 0 "$work/a.img" && truncate -s 8M "$work/a.img"
blockdev --setro "$loop_b"
install 4 refused
blockdev --setrw "$loop_b"
whole a || fail "a is not whole after the second run"
summary refused | grep -q '"calculator":"SERA","files":3,"ok":true,"result":0' ||
  fail "summary: SERA not ok: $(summary refused)"
summary refused | grep -q '"calculator":"SERB","files":0,"ok":false,"result":112' ||
  fail "summary: SERB not failed with 112: $(summary refused)"

# What was checked is what is written: VELA_OS.ROM replaced by a 6 MiB file
# while the tool waits for its calculator writes nothing of it (it would reach
# over VELA_MAIN.DAT at 0x100000), and the run fails.
truncate -s 0 "$work/a.img" && truncate -s 8M "$work/a.img"
undress_loop "$loop_b"
undress_loop "$loop_a"
"$tool" install "$work/firmware" --json --yes --wait 30 >"$work/race.json" 2>"$work/race.err" &
race=$!
sleep 1
cp "$work/firmware/VELA_OS.ROM" "$work/os.checked"
head -c 6291456 /dev/urandom >"$work/firmware/VELA_OS.ROM"
dress_loop "$loop_a" Orvane 'Vela update' SERA
rc=0; wait "$race" || rc=$?
[ "$rc" -eq 4 ] || fail "race: exit $rc, not 4"
grep -q 'VELA_OS.ROM changed since it was checked' "$work/race.json" || fail "race: no cause"
holds a VELA_MAIN.DAT $((0x100000)) || fail "race: VELA_MAIN.DAT is not whole"
cmp -s -n 65536 "$work/a.img" /dev/zero || fail "race: something was written at 0"
mv "$work/os.checked" "$work/firmware/VELA_OS.ROM"
dress_loop "$loop_b" Orvane 'Vela update' SERB

# A serial that is not text, with a line break and an escape sequence in it:
# one line in `list`, no control character reaching the terminal (nor from
# the diagnostics); JSON that strict parsers take, with the exact bytes.
loop_calculator odd "$(printf '\377\n\033[2J')" >/dev/null
QT_LOGGING_RULES="updater.device=true" "$tool" list >"$work/list.txt" 2>"$work/list.err" ||
  fail "list: $(cat "$work/list.err")"
"$tool" install "$work/firmware" --yes >"$work/plan.txt" 2>&1 || fail "install: $(cat "$work/plan.txt")"
grep -qF '  \xff\n\x1b[2J  /dev/' "$work/plan.txt" || fail "the plan does not show the serial escaped"
[ "$(wc -l <"$work/list.txt")" -eq 3 ] || fail "list: not one line per calculator: $(cat -A "$work/list.txt")"
grep -qF '\xff\n\x1b[2J  /dev/' "$work/list.txt" || fail "list: the serial is not shown escaped"
! LC_ALL=C grep -q "$(printf '[\001-\011\013-\037\177]')" "$work/list.txt" "$work/list.err" "$work/plan.txt" ||
  fail "a control character reached the terminal"
"$tool" list --json >"$work/list.json"
iconv -f UTF-8 -t UTF-8 "$work/list.json" >/dev/null || fail "list --json is not UTF-8"
! grep -qi '\\ud[89a-f]' "$work/list.json" || fail "list --json has lone surrogate escapes"
grep -q '"calculator_bytes":"ff0a1b5b324a"' "$work/list.json" ||
  fail "list --json: no exact bytes: $(cat "$work/list.json")"

[ $failed -eq 0 ] && echo "two calculators written, summary exact; the read-only one fails alone; names shown safely"
exit $failed
