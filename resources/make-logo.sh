#!/bin/sh
# Draws the dialog's logo, resources/logo.bmp: 242 x 180 pixels, the 161 x 111 dialog units of its
# place at the dialog font's base units (6 x 13 pixels), as an 8-bit palettised BMP that windres
# and the dialog stand-in both take. ImageMagick with Debian's Comic Neue; rerun after a change.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
font=/usr/share/fonts/opentype/comic-neue/ComicNeue-Bold.otf
convert -size 242x180 gradient:'#1b1464-#3a7bd5' \
  -fill none -stroke '#ffd23f' -strokewidth 5 -draw 'ellipse 121,70 92,34 0,360' \
  -stroke '#ff6b9a' -strokewidth 4 -draw 'ellipse 121,70 70,52 0,360' \
  -stroke none -fill '#ffd23f' -draw 'circle 30,48 38,48' -fill '#7dff8c' -draw 'circle 212,96 219,96' \
  -fill '#ff6b9a' -draw 'circle 196,28 202,28' -fill '#ffffff' -draw 'circle 48,110 53,110' \
  -font "$font" -pointsize 46 -fill '#ffffff' -stroke '#1b1464' -strokewidth 2 \
  -gravity north -annotate +0+44 'Marlix' \
  -stroke none -pointsize 17 -fill '#ffd23f' -annotate +0+132 'music in cartoon 3D' \
  +dither -colors 64 -type Palette -compress none BMP3:"$here/logo.bmp"
