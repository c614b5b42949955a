#!/bin/sh
# The device layer shows the rest of the updater one face, device/calculators.h.
# A file outside device/ and tests/ that includes any other device header
# depends on what the layer keeps private, and fails this check. tools/ and
# bench/ may drive the virtual calculator itself.
# Usage: device_face_check.sh [source folder]
set -eu
cd "${1:-$(dirname "$0")/../..}"

pattern='^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]([^>"]*/)?device/'
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    # Files not yet added count too; ignored ones (the build folders) do not.
    files=$(git ls-files --cached --others --exclude-standard -- \
        '*.h' '*.hpp' '*.c' '*.cc' '*.cpp' '*.cxx' | sort -u)
else
    files=$(find . \( -path './build*' -o -path './.*' \) -prune -o -type f \
        \( -name '*.h' -o -name '*.hpp' -o -name '*.c' -o -name '*.cc' -o -name '*.cpp' \
        -o -name '*.cxx' \) -print | sed 's|^\./||')
fi

outside=$(for file in $files; do
    case $file in device/* | tests/*) ;; *) echo "$file" ;; esac
done)

faults=$(
    for file in $outside; do
        grep -nE "$pattern" "$file" | while IFS= read -r hit; do
            header=$(printf '%s\n' "$hit" | sed -E 's|^[0-9]+:[^<"]*[<"]([^>"]*)[>"].*|\1|')
            case $header in
            device/calculators.h) continue ;;
            device/virtual/virtual_calculator.h)
                case $file in tools/* | bench/*) continue ;; esac ;;
            esac
            echo "FAIL $file:${hit%%:*} includes $header; outside device/ and tests/ only" \
                "device/calculators.h may be included"
        done
    done
)
if [ -n "$faults" ]; then
    printf '%s\n' "$faults"
    exit 1
fi
echo "ok   $(printf '%s\n' "$outside" | grep -c .) files outside device/ and tests/:" \
    "none reaches past device/calculators.h"
