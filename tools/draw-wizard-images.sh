#!/bin/sh
# Draws the wizard's three images into wizard/res/ with ImageMagick. The output
# is committed; run this again only to change the artwork.
#   watermark.png   165 x 312, 8-bit RGB   (welcome and install pages)
#   logo.png         62 x 58,  8-bit RGB   (top right of the pages)
#   icon_window.png  52 x 52,  8-bit RGBA  (window icon)
# The motif is a tesseract seen face on: two nested squares joined at the corners.
set -eu
cd "$(dirname "$0")/../wizard/res"

deep='#0d3b4c'
teal='#14808a'
light='#7fd1c7'

# Draws the emblem, centred in a W x H canvas, with stroke width S and colour C.
emblem() { # W H S C
    w=$1 h=$2 s=$3 c=$4
    cx=$((w / 2)) cy=$((h / 2))
    o=$(( (h < w ? h : w) * 36 / 100 ))
    i=$((o * 50 / 100))
    echo "stroke $c stroke-width $s fill none
          rectangle $((cx - o)),$((cy - o)) $((cx + o)),$((cy + o))
          rectangle $((cx - i)),$((cy - i)) $((cx + i)),$((cy + i))
          line $((cx - o)),$((cy - o)) $((cx - i)),$((cy - i))
          line $((cx + o)),$((cy - o)) $((cx + i)),$((cy - i))
          line $((cx - o)),$((cy + o)) $((cx - i)),$((cy + i))
          line $((cx + o)),$((cy + o)) $((cx + i)),$((cy + i))"
}

convert -size 165x312 "gradient:$teal-$deep" \
    -fill none -stroke "$light" -strokewidth 1 \
    -draw "stroke-opacity 0.25 rectangle 20,40 145,165" \
    -draw "stroke-opacity 0.25 rectangle 51,71 114,134" \
    -draw "stroke-opacity 0.25 line 20,40 51,71 line 145,40 114,71 line 20,165 51,134 line 145,165 114,134" \
    -draw "stroke-opacity 0.12 rectangle -30,200 70,300 rectangle 10,230 40,260" \
    -draw "stroke-opacity 0.12 rectangle 110,215 190,295 rectangle 135,240 165,270" \
    -stroke none -fill "$light" -draw "fill-opacity 0.9 rectangle 20,190 145,192" \
    -define png:color-type=2 -depth 8 -strip PNG24:watermark.png

convert -size 62x58 xc:white -draw "$(emblem 62 58 3 "$teal")" \
    -define png:color-type=2 -depth 8 -strip PNG24:logo.png

convert -size 52x52 xc:none \
    -fill "$deep" -stroke none -draw "roundrectangle 1,1 50,50 9,9" \
    -draw "$(emblem 52 52 3 "$light")" \
    -define png:color-type=6 -depth 8 -strip PNG32:icon_window.png
