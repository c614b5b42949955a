#!/usr/bin/env bash
# Builds the libFuzzer targets with clang into build-fuzz/ (the whole tree
# instrumented with AddressSanitizer and UndefinedBehaviorSanitizer) and runs
# each of them for SECONDS (default 60), two at a time. The corpora live in
# build-fuzz/corpus/<target> and grow from run to run; they start from the
# shipped string modules and small hand-made inputs. A crash, a leak, a failed
# property or a hang leaves its input in build-fuzz/artifacts/ and fails the
# script.
#   scripts/fuzz.sh [SECONDS] [target...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
dir=build-fuzz

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

# Every target, as tests/fuzz/CMakeLists.txt lists them, unless named here.
targets=("$@")
[ ${#targets[@]} -gt 0 ] || read -r -a targets <"$dir/tests/fuzz/targets.txt"

mkdir -p "$dir/artifacts" "$dir/logs"
"$dir/tests/fuzz/fuzz_seeds" "$dir/resources/strings/resource" "$dir/corpus"

# The device layer frees many 4 KiB-aligned buffers; a smaller quarantine than
# AddressSanitizer's default keeps the fuzzers well below their memory limit.
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:quarantine_size_mb=64"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

run() { # target
  local t=$1
  mkdir -p "$dir/corpus/$t"
  # -timeout: one input taking 10 s is a hang. The corpus folder is the first
  # and only one, so new inputs are kept there.
  "$dir/tests/fuzz/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$dir/artifacts/$t-" \
    "$dir/corpus/$t" >"$dir/logs/$t.log" 2>&1
}

summary() { # target
  local log="$dir/logs/$1.log"
  local execs cov ft
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  cov=$(grep -Eo 'cov: [0-9]+' "$log" | tail -1 | cut -d' ' -f2)
  ft=$(grep -Eo 'ft: [0-9]+' "$log" | tail -1 | cut -d' ' -f2)
  printf '%-22s %s: executions=%s cov=%s ft=%s corpus=%s\n' "$1" "$2" "${execs:-?}" \
    "${cov:-?}" "${ft:-?}" "$(ls "$dir/corpus/$1" | wc -l)"
}

failed=0
for ((i = 0; i < ${#targets[@]}; i += 2)); do
  pids=()
  batch=("${targets[@]:i:2}")
  for t in "${batch[@]}"; do
    run "$t" &
    pids+=($!)
  done
  for k in "${!batch[@]}"; do
    t=${batch[$k]}
    if wait "${pids[$k]}"; then
      summary "$t" ok
    else
      summary "$t" FAILED
      tail -n 40 "$dir/logs/$t.log"
      failed=1
    fi
  done
done
exit $failed
