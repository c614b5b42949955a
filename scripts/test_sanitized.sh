#!/usr/bin/env bash
# Builds the whole tree with sanitizers and runs every test: `address` for
# AddressSanitizer with UndefinedBehaviorSanitizer, `thread` for ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
kind=${1:?address or thread}
case "$kind" in
  address) preset=asan ;;
  thread) preset=tsan ;;
  *) echo "unknown sanitizer $kind" >&2; exit 2 ;;
esac

cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1"
export LSAN_OPTIONS="suppressions=$PWD/scripts/sanitizers/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export TSAN_OPTIONS="suppressions=$PWD/scripts/sanitizers/tsan.supp:halt_on_error=1:second_deadlock_stack=1:print_suppressions=0"
# Sanitizers slow everything down: the preset gives generous time-outs, and
# leaves out the install-layout test, which checks files, not code.
ctest --preset "$preset"
