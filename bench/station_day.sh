#!/usr/bin/env bash
# Benchmark, not a test: a day at a station. `vela-update station --max 500`
# on the virtual calculator, four units where a new calculator takes each
# one's place once it leaves, with its real pauses and a report file. Prints
# the resident memory and open descriptors after the last session against
# after the tenth (goals: at most 1 MiB and no descriptor more), the time per
# session of the last 50 against the first 50 (goal: at most 1.05), and the
# report's whole lines (goal: exactly 500).
# Usage: bench/station_day.sh [build dir] [sessions]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
sessions=${2:-500}
tool=$build/app/vela-update
[ -x "$tool" ] || cmake --build "$build" -j2 --target vela-update >/dev/null
work=$(mktemp -d)
trap 'kill "$pid" 2>/dev/null || true; rm -rf "$work"' EXIT
mkdir "$work/firmware"
for image in VELA_APP.DAT:70000 VELA_MAIN.DAT:40000 VELA_OS.ROM:100000; do
  head -c "${image#*:}" /dev/urandom >"$work/firmware/${image%:*}"
done

sample() { # pid: "<rss kB> <open descriptors>", nothing once it has ended
  local rss fds
  rss=$(awk '/^VmRSS:/ { print $2 }' "/proc/$1/status" 2>/dev/null) || return 0
  fds=$(ls "/proc/$1/fd" 2>/dev/null | wc -l)
  [ -n "$rss" ] && [ "$fds" -gt 0 ] && echo "$rss $fds"
}
now() { date +%s.%N; }

UPDATER_VIRTUAL_CALCULATOR=units=4,arrive_ms=300,leave_after_finish=1,renew_ms=200 \
  "$tool" station "$work/firmware" --max "$sessions" --json --report "$work/report.jsonl" \
  >"$work/events.jsonl" 2>"$work/err.txt" &
pid=$!
finished=0 tenth="" last="" times=()
# Every finish event is one session ended; the sample goes with it.
while [ "$finished" -lt "$sessions" ] && kill -0 "$pid" 2>/dev/null; do
  count=$(grep -c '"event":"finish"' "$work/events.jsonl" || true)
  while [ "$finished" -lt "$count" ]; do
    finished=$((finished + 1))
    times+=("$(now)")
    s=$(sample "$pid")
    [ -n "$s" ] || continue
    [ "$finished" -eq 10 ] && tenth=$s
    [ $((finished % 50)) -eq 0 ] && echo "after $finished: $s" >&2
    last=$s
  done
  sleep 0.05
done
wait "$pid" || true
lines=$(wc -l <"$work/report.jsonl")
whole=$(python3 -c 'import json,sys; print(sum(1 for l in open(sys.argv[1]) if json.loads(l).get("result") == 0))' "$work/report.jsonl" 2>/dev/null || grep -c '"finish_sent":true}$' "$work/report.jsonl")
n=${#times[@]}
first50=$(awk -v a="${times[0]}" -v b="${times[50]}" 'BEGIN { printf "%.4f", (b - a) / 50 }')
last50=$(awk -v a="${times[n - 51]}" -v b="${times[n - 1]}" 'BEGIN { printf "%.4f", (b - a) / 50 }')
echo "sessions: $finished ended, report: $lines lines, $whole of them whole and ok"
echo "after the 10th: rss ${tenth% *} kB, ${tenth#* } descriptors; after the last: rss ${last% *} kB, ${last#* } descriptors"
echo "memory growth: $(( ${last% *} - ${tenth% *} )) kB (goal <= 1024); descriptors more: $(( ${last#* } - ${tenth#* } )) (goal <= 0)"
echo "time per session: first 50 ${first50} s, last 50 ${last50} s; ratio $(awk -v a="$first50" -v b="$last50" 'BEGIN { printf "%.3f", b / a }') (goal <= 1.05)"
