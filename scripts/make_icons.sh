#!/usr/bin/env bash
# Draws the application's icons with ImageMagick. The PNGs are committed; run
# this only to change them.
set -euo pipefail
cd "$(dirname "$0")/.."

calc() { # size file
  local s=$1 out=$2
  convert -size 256x256 xc:none \
    -fill '#2b3440' -draw 'roundrectangle 40,8 216,248 22,22' \
    -fill '#c9e3c1' -draw 'roundrectangle 60,28 196,92 8,8' \
    -fill '#2b3440' -draw 'rectangle 72,50 150,58' -draw 'rectangle 72,66 124,74' \
    -fill '#0096d6' -draw 'roundrectangle 60,108 100,136 6,6' \
    -fill '#e8edf2' -draw 'roundrectangle 108,108 148,136 6,6' -draw 'roundrectangle 156,108 196,136 6,6' \
    -draw 'roundrectangle 60,146 100,174 6,6' -draw 'roundrectangle 108,146 148,174 6,6' -draw 'roundrectangle 156,146 196,174 6,6' \
    -draw 'roundrectangle 60,184 100,212 6,6' -draw 'roundrectangle 108,184 148,212 6,6' \
    -fill '#f08a24' -draw 'roundrectangle 156,184 196,232 6,6' \
    -fill '#e8edf2' -draw 'roundrectangle 60,220 148,232 6,6' \
    -resize "${s}x${s}" -strip "$out"
}
calc16() {
  convert -size 16x16 xc:none \
    -fill '#2b3440' -draw 'roundrectangle 2,0 13,15 2,2' \
    -fill '#c9e3c1' -draw 'rectangle 4,2 11,5' \
    -fill '#e8edf2' -draw 'point 4,8' -draw 'point 6,8' -draw 'point 8,8' \
    -draw 'point 4,10' -draw 'point 6,10' -draw 'point 8,10' \
    -draw 'point 4,12' -draw 'point 6,12' -draw 'point 8,12' \
    -fill '#f08a24' -draw 'rectangle 10,8 11,12' \
    -strip "$1"
}
folder() { # size file
  local s=$1 out=$2
  convert -size 256x256 xc:none \
    -fill '#d9a43a' -draw 'roundrectangle 16,48 112,96 14,14' \
    -fill '#e6b34a' -draw 'roundrectangle 16,72 240,224 16,16' \
    -fill '#f3c761' -draw 'roundrectangle 16,100 240,224 16,16' \
    -resize "${s}x${s}" -strip "$out"
}
folder16() {
  # Drawn on the pixel grid: a scaled-down folder is blurry at this size.
  convert -size 16x16 xc:none \
    -fill '#b8862b' -draw 'rectangle 1,2 6,4' -draw 'rectangle 1,4 14,13' \
    -fill '#e6b34a' -draw 'rectangle 2,3 5,4' -draw 'rectangle 2,5 13,12' \
    -fill '#f3c761' -draw 'rectangle 2,7 13,12' \
    -strip "$1"
}
# Each size the dialog shows comes at twice that size too, for screens at
# 200 %: the window icon 16 (32), the picture 64 (128), the Browse button's
# folder 16 (32) and 32 (64). Qt picks the one that matches the device pixels
# instead of stretching a smaller one.
calc16 resources/CalculatorIconX16.png
calc 32 resources/CalculatorIconX32.png
calc 64 resources/CalculatorIconX64.png
calc 128 resources/CalculatorIconX128.png
calc 256 resources/CalculatorIconX256.png
folder16 icons/varFolder_16x16.png
folder 32 icons/varFolder_32x32.png
folder 64 icons/varFolder_64x64.png
# The icon resource of Updater.exe, for Explorer and the taskbar.
convert resources/CalculatorIconX256.png -define icon:auto-resize=256,64,48,32,16 app/windows/updater.ico
