#!/usr/bin/env bash
# Installs what is missing, builds, and starts the updater. Without a display
# it runs under the offscreen platform.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"
fi
exec build/app/Updater "$@"
