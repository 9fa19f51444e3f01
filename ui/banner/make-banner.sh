#!/usr/bin/env bash
# Draws the window's banner: 658 x 316 pixels, 8 bits per pixel with a full 256-colour palette,
# written as an uncompressed bottom-up Windows bitmap of 209,640 bytes (two zero bytes of padding
# after the pixel rows, counted in the file size field).
# Usage: make-banner.sh [OUTPUT.bmp]   (default: banner.bmp beside this script)
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
out="${1:-$here/banner.bmp}"
convert=/usr/bin/convert
width=658
height=316
expected_size=209640
bold=/usr/share/fonts/truetype/liberation/LiberationSans-Bold.ttf
regular=/usr/share/fonts/truetype/liberation/LiberationSans-Regular.ttf

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# A shell of hexagons, drawn once and placed on the sea.
shell=()
for row in 0 1 2; do
    for column in 0 1 2 3; do
        x=$((40 + column * 46 + (row % 2) * 23))
        y=$((40 + row * 40))
        shell+=(-draw "polygon $((x - 20)),$y $((x - 10)),$((y - 18)) $((x + 10)),$((y - 18)) \
$((x + 20)),$y $((x + 10)),$((y + 18)) $((x - 10)),$((y + 18))")
    done
done

"$convert" -size "${width}x${height}" gradient:'#0d3b57-#6fb3c8' \
    \( -size "${width}x120" gradient:'#6fb3c8-#e8e2c8' \) -geometry +0+196 -composite \
    -fill '#2e6f4e' -stroke '#173b29' -strokewidth 4 -draw "ellipse 150,170 120,78 0,360" \
    -fill '#3f8a5f' -draw "ellipse 290,190 34,24 0,360" \
    -draw "ellipse 64,238 26,16 0,360" -draw "ellipse 236,242 26,16 0,360" \
    -draw "ellipse 70,108 22,14 0,360" -draw "ellipse 232,108 22,14 0,360" \
    -fill '#111111' -stroke none -draw "circle 302,184 306,184" \
    \( -size 260x160 xc:none -fill '#5aa97a' -stroke '#1f5a3b' -strokewidth 3 "${shell[@]}" \) \
    -geometry +38+106 -composite \
    -fill '#ffffff33' -stroke none -draw "ellipse 500,250 190,30 0,360" \
    -font "$bold" -pointsize 54 -fill '#ffffff' -stroke '#0a2a3d' -strokewidth 1 \
    -gravity NorthEast -annotate +24+14 'Zelvane' \
    -font "$regular" -pointsize 40 -fill '#ffd766' -stroke none -annotate +26+80 '3.7' \
    -gravity NorthWest -font "$regular" -pointsize 15 -fill '#e8f4f8' \
    -annotate +372+134 'The update to version 3.7' \
    -dither FloydSteinberg -colors 256 -type Palette -compress None "BMP3:$work/banner.bmp"

# Pixel rows of 658 bytes are padded to 660; the two zero bytes at the end round the file to the
# size the program expects.
head -c 2 /dev/zero >>"$work/banner.bmp"
printf '\xe8\x32\x03\x00' | dd of="$work/banner.bmp" bs=1 seek=2 conv=notrunc status=none

size=$(stat -c %s "$work/banner.bmp")
if ((size != expected_size)); then
    echo "make-banner.sh: the bitmap has $size bytes, not $expected_size (fewer than 256 colours?)" >&2
    exit 1
fi
mv "$work/banner.bmp" "$out"
echo "Wrote $out"
