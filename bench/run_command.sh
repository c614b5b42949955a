#!/usr/bin/env bash
# Benchmark, not a test: the run command as a newcomer meets it, on a machine
# that has the packages already. The committed HEAD is cloned into a fresh
# folder and `scripts/run.sh` runs there without a display, from the start to
# the end of the demo update on the virtual calculator (the tool ends by
# itself). Prints the whole time, the part before the calculator is looked
# for (installing nothing, configuring and building the two programs) and the
# demo update's, against the goal: the whole under 90 s on 2 cores. Exits 1
# when the run failed or missed the goal. Run it on an otherwise idle machine:
# the build takes both cores.
# Usage: bench/run_command.sh
set -euo pipefail
cd "$(dirname "$0")/.."
goal=90
# What the run command would install, so that the time is the build's and
# the demo's only.
scripts/deps.sh run >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
head=$(git rev-parse HEAD)
git diff --quiet HEAD || echo "Note: uncommitted changes are not part of this run (HEAD $head)."
git clone --quiet --no-checkout . "$work/updater"
git -C "$work/updater" checkout --quiet "$head"

now_us() { echo "${EPOCHREALTIME/[.,]/}"; }
seconds() { awk -v us="$1" 'BEGIN { printf "%.1f", us / 1e6 }'; }
# Each line of the run with the microseconds since its start.
start=$(now_us)
status=0
(cd "$work/updater" && env -u DISPLAY -u WAYLAND_DISPLAY -u UPDATER_VIRTUAL_CALCULATOR \
  bash scripts/run.sh </dev/null 2>&1) |
  while IFS= read -r line; do echo "$(($(now_us) - start)) $line"; done >"$work/run.log" || status=$?
total=$(($(now_us) - start))
at() { awk -v pattern="$1" 'index($0, pattern) { print $1; exit }' "$work/run.log"; }
found=$(at "No calculator in update mode found")
first=$(at ": writing 1/3 ")
finished=$(at ": updated: unplug it now")
written=$(grep -c '^[0-9]* [^ ]*: VELA_[A-Z]*\.[A-Z]* written$' "$work/run.log" || true)
tests=$(find "$work/updater/build/tests" "$work/updater/build/bench" -type f -perm -u+x 2>/dev/null | wc -l)

ok=1
problem() { echo "$1"; ok=0; }
[ "$status" -eq 0 ] || problem "scripts/run.sh ended with exit code $status"
[ -n "$found" ] || problem "the virtual calculator was not attached (a calculator is plugged in?)"
if [ "$written" -ne 3 ] || [ -z "$first" ] || [ -z "$finished" ]; then
  problem "the demo update did not complete: $written of 3 files written"
fi
grep -q "The virtual calculator's files are in" "$work/run.log" ||
  problem "scripts/run.sh did not say where the virtual calculator's files are"
[ "$tests" -eq 0 ] || problem "$tests test or benchmark programs were built"
if [ $ok = 0 ]; then
  sed 's/^[0-9]* //' "$work/run.log" | tail -n 30
fi

printf '%-58s %s\n' "clone to the calculator looked for (build), s" "$(seconds "${found:-0}")"
[ -n "$first" ] && [ -n "$finished" ] &&
  printf '%-58s %s\n' "demo update, first write to the finish command, s" "$(seconds $((finished - first)))"
printf '%-58s %s\n' "run command, fresh clone to the end of the demo, s" "$(seconds "$total")"
printf 'goal: under %d s on 2 cores (this machine: %s CPUs): %s\n' "$goal" "$(nproc)" \
  "$([ "$total" -lt $((goal * 1000000)) ] && echo met || echo missed)"
[ $ok = 1 ] && [ "$total" -lt $((goal * 1000000)) ]
