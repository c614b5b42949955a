#!/usr/bin/env bash
# Saves a picture of the dialog in each phase of an update, in each language
# given (default: all eight), into build/screenshots/<language>-<phase>.png.
set -euo pipefail
cd "$(dirname "$0")/.."
[ -x build/app/dialog_screenshots ] || scripts/build.sh
export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"
out=build/screenshots
mkdir -p "$out"
languages=("$@")
[ ${#languages[@]} -gt 0 ] || languages=(1 2 3 4 5 6 7 8)
for l in "${languages[@]}"; do
  build/app/dialog_screenshots "$out" "$l"
done
ls "$out"
