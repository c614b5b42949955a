#!/usr/bin/env bash
# Configures and builds the Linux application and its tests into build/.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset release >/dev/null
cmake --build --preset release
