# Sourced by scripts and benchmarks that check or copy a firmware set's bytes:
# where each image goes is the program's own knowledge, asked of it, so no
# script keeps a copy of the layout.

# Each image of the set in FOLDER, one line "NAME OFFSET SIZE" (bytes), as
# `vela-update check --json` fixes them. Fails when the set is not usable.
set_layout() { # vela-update command (may be several words), folder
  local folder=${*: -1}
  local tool=("${@:1:$#-1}")
  "${tool[@]}" check "$folder" --json 2>/dev/null | tr -d '\r' |
    grep -o '"name":"[^"]*","offset":[0-9]*,"size":[0-9]*' |
    sed 's/"name":"\([^"]*\)","offset":\([0-9]*\),"size":\([0-9]*\)/\1 \2 \3/' |
    grep . || { echo "set_layout: ${tool[*]} check $folder found no usable set" >&2; return 1; }
}
