#!/usr/bin/env bash
# Regenerates the README's pictures of the dialog (docs/dialog-*.png) with the
# screenshot tool, in English: waiting, countdown, transfer, done, the final
# failure, and three calculators of which one failed; the last two also in
# German and Japanese (docs/dialog-de-*.png, docs/dialog-ja-*.png). Run it
# after changing what the dialog shows, and commit the pictures.
set -euo pipefail
cd "$(dirname "$0")/.."
[ -x build/app/dialog_screenshots ] || scripts/build.sh
export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"
# The path the pictures show, the same on every machine; made here, so it
# must not exist yet.
firmware=/tmp/vela-firmware
if [ -e "$firmware" ]; then
  echo "$firmware exists: move it away first" >&2
  exit 1
fi
work=$(mktemp -d)
trap 'rm -rf "$work" "$firmware"' EXIT
build/app/dialog_screenshots "$work" 1 "$firmware" 2> >(grep -v propagateSizeHints >&2)
mkdir -p docs
for phase in 1-waiting 2-countdown 3-transfer 5-done 6-final-failure 9-calculators-failed; do
  cp "$work/1-$phase.png" "docs/dialog-${phase#*-}.png"
done
for language in 4:de 8:ja; do
  build/app/dialog_screenshots "$work" "${language%:*}" "$firmware" 2> >(grep -v propagateSizeHints >&2)
  for phase in 6-final-failure 9-calculators-failed; do
    cp "$work/${language%:*}-$phase.png" "docs/dialog-${language#*:}-${phase#*-}.png"
  done
done
ls docs
