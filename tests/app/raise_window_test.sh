#!/usr/bin/env bash
# A second start brings back the first updater's minimised window (mapped, not
# hidden, active), on an X server with a window manager; again after a killed
# updater left its guard and socket. Skipped (77) without the tools, but in CI.
set -uo pipefail
for tool in Xvfb openbox xdotool xprop xwininfo; do
  command -v "$tool" >/dev/null && continue
  echo "$tool is missing (scripts/deps.sh test)"
  [ "${CI:-}" = true ] && exit 1 || exit 77
done
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null; wait; rm -rf "$work"' EXIT
# A guard and a socket of their own, apart from any updater open here.
mkdir -p "$work/empty" "$work/tmp"
export TMPDIR=$work/tmp HOME=$work XDG_CONFIG_HOME=$work QT_QPA_PLATFORM=xcb
Xvfb -displayfd 3 -nolisten tcp 3>"$work/display" 2>/dev/null &
until [ -s "$work/display" ]; do sleep 0.1; done
export DISPLAY=:$(cat "$work/display")
openbox 2>/dev/null &
until xprop -root _NET_SUPPORTING_WM_CHECK | grep -q 'window id'; do sleep 0.1; done

shown() { # window
  xwininfo -id "$1" | grep -q IsViewable && ! xprop -id "$1" _NET_WM_STATE | grep -q HIDDEN
}
failed=0
for round in fresh "after a kill"; do
  "$1" "$work/empty" 1 >/dev/null 2>&1 &
  first=$!
  window=$(timeout 30 xdotool search --sync --onlyvisible --pid $first | head -n1)
  timeout 10 xdotool windowminimize --sync "$window" || { echo "FAIL ($round): not minimised"; failed=1; }
  timeout 10 "$1" "$work/empty" 1
  code=$?
  for _ in $(seq 50); do shown "$window" && break; sleep 0.2; done
  if [ $code != 0 ] || ! shown "$window" || [ "$(xdotool getactivewindow)" != "$window" ]; then
    echo "FAIL ($round): the second start ended with $code; the first window:" \
      "$(xwininfo -id "$window" | grep 'Map State'), $(xprop -id "$window" _NET_WM_STATE)"
    failed=1
  fi
  kill -KILL $first
  wait $first 2>/dev/null
done
[ $failed = 0 ] && echo "PASS: a second start brings the first window back"
exit $failed
