#!/usr/bin/env bash
# Draws the six body-type icons of the data sheet (res/*.bmp, 64x40, 24-bit) with ImageMagick.
# Run once by hand after changing a shape; the BMP files are kept in the repository.
set -euo pipefail
cd "$(dirname "$0")"
mkdir -p res

S=4  # drawn at 4x, then reduced for smooth edges
body='#2B4C7E'
glass='#C9DAEE'

scale() { # "x,y x,y ..." at 64x40 -> the same at S times
  local out=() p
  for p in $1; do out+=("$((${p%,*} * S)),$((${p#*,} * S))"); done
  echo "${out[*]}"
}

# name, body outline, window outline, front wheel x, rear wheel x
draw() {
  local name=$1 outline=$2 windows=$3 fx=$4 rx=$5 y=31 r=6 h=3
  convert -size $((64 * S))x$((40 * S)) xc:white \
    -fill "$body" -stroke "$body" -strokewidth 2 -draw "polygon $(scale "$outline")" \
    -fill "$glass" -stroke none -draw "polygon $(scale "$windows")" \
    -fill white -draw "circle $((fx * S)),$((y * S)) $((fx * S)),$(((y - r - 1) * S))" \
    -fill white -draw "circle $((rx * S)),$((y * S)) $((rx * S)),$(((y - r - 1) * S))" \
    -fill '#202020' -draw "circle $((fx * S)),$((y * S)) $((fx * S)),$(((y - r) * S))" \
    -fill '#202020' -draw "circle $((rx * S)),$((y * S)) $((rx * S)),$(((y - r) * S))" \
    -fill '#A8A8A8' -draw "circle $((fx * S)),$((y * S)) $((fx * S)),$(((y - h) * S))" \
    -fill '#A8A8A8' -draw "circle $((rx * S)),$((y * S)) $((rx * S)),$(((y - h) * S))" \
    -resize 64x40 -type TrueColor -define bmp:format=bmp3 "BMP3:res/$name.bmp"
}

draw Hatchback "3,31 3,23 14,20 23,11 45,10 55,14 60,21 61,31" "22,19 26,13 44,12 52,19" 15 49
draw Sedan     "2,31 2,23 14,20 22,12 40,12 47,19 61,21 62,31" "21,19 25,14 39,14 44,19" 14 50
draw Estate    "2,31 2,23 13,20 21,11 57,11 61,18 62,31" "20,19 24,13 55,13 58,19" 14 50
draw Coupe     "2,31 2,24 16,21 26,13 39,13 51,19 62,21 62,31" "25,20 29,15 38,15 46,20" 14 50
draw Cabrio    "2,31 2,23 16,21 21,13 23,13 21,21 48,21 50,18 56,18 57,21 62,22 62,31" "17,20 21,14 22,14 20,20" 14 50
draw Van       "2,31 2,19 9,15 15,5 60,5 62,8 62,31" "11,15 16,8 23,8 23,15" 14 50
