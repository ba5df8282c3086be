#!/usr/bin/env bash
# Draws the two pictures stored in the window layouts and writes them in their stored forms:
#   ../uMain.Image1.picture    the main window's banner: class name "TGIFImage", then the GIF file
#                              (GIF87a, 800 x 57, 256-colour table, one frame)
#   ../uSplash.Image1.picture  the splash logo: class name "TPxGIFImage", then a 32-bit byte count
#                              and the GIF file (GIF89a, 118 x 54, 256-colour table)
# A class name is stored as a length byte and the name. Needs ImageMagick and DejaVu fonts.
set -euo pipefail
cd "$(dirname "$0")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
sans=/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf
serif=/usr/share/fonts/truetype/dejavu/DejaVuSerif-Bold.ttf

# Banner: a dark-blue gradient, an exhaust pipe with its silencer, the name and the subtitle.
convert -size 57x800 gradient:'#0a1a5c-#2f6fc8' -rotate -90 \
  -fill '#c8ccd4' -stroke '#5a6070' -strokewidth 1 \
  -draw 'roundrectangle 18,22 92,40 8,8' -draw 'rectangle 92,28 150,34' -draw 'rectangle 0,28 18,34' \
  -fill none -stroke '#e8ecf4' -draw 'line 26,26 84,26' \
  -stroke none -fill '#ffcc33' -font "$serif" -pointsize 34 -annotate +168+42 'KELV' \
  -fill white -font "$sans" -pointsize 17 -annotate +300+36 'Електронен каталог на изпускателни системи' \
  -fill '#ffcc33' -draw 'rectangle 0,53 800,56' \
  +dither -colors 256 "$work/banner.png"
convert "$work/banner.png" +dither -colors 256 GIF87:"$work/banner.gif"

# Splash logo: the name over a silencer on white.
convert -size 118x54 xc:white \
  -fill '#1c3c8c' -font "$serif" -pointsize 30 -annotate +14+30 'KELV' \
  -fill '#b8bcc8' -stroke '#3a4050' -strokewidth 1 \
  -draw 'roundrectangle 30,36 86,48 5,5' -draw 'rectangle 86,40 114,44' -draw 'rectangle 3,40 30,44' \
  -stroke none -fill '#ffb020' -draw 'rectangle 8,50 110,52' \
  +dither -colors 256 "$work/splash.png"
convert "$work/splash.png" +dither -colors 256 GIF:"$work/splash.gif"
# The logo is stored as GIF89a whatever the writer chose: the two versions share the layout.
printf 'GIF89a' | dd of="$work/splash.gif" bs=1 count=6 conv=notrunc status=none

# Stored forms.
{ printf '\x09TGIFImage'; cat "$work/banner.gif"; } > ../uMain.Image1.picture
size=$(stat -c %s "$work/splash.gif")
{ printf '\x0bTPxGIFImage'
  printf "\\x$(printf %02x $((size & 255)))\\x$(printf %02x $(((size >> 8) & 255)))"
  printf "\\x$(printf %02x $(((size >> 16) & 255)))\\x$(printf %02x $(((size >> 24) & 255)))"
  cat "$work/splash.gif"; } > ../uSplash.Image1.picture
