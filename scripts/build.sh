#!/usr/bin/env bash
# Configures and builds into build/: everything, the application with its
# tests and benchmarks (what the test command needs), or with --programs only
# Updater and vela-update with what they read at run time beside them, the
# string modules in build/app/resource and the icons in build/app/icons (what
# the run command needs). Both fill the same build tree: a later full build
# reuses the programs' objects.
set -euo pipefail
cd "$(dirname "$0")/.."
preset=release
case "${1:-}" in
  "") ;;
  --programs) preset=programs ;;
  *)
    echo "usage: scripts/build.sh [--programs]" >&2
    exit 2
    ;;
esac
cmake --preset release >/dev/null
cmake --build --preset "$preset"
