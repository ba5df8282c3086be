#!/usr/bin/env bash
# Makes the seed corpus of fuzz_jpeg: tiny pictures encoded by cjpeg with assorted switches.
# Each seed starts with one option byte (see fuzz_jpeg.cpp) followed by the JPEG file.
set -euo pipefail
out=$(dirname "$0")/jpeg
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"
# 19 x 13 colour and 8 x 8 grey pictures, made deterministically
python3 - "$work" <<'PY'
import math, sys
d = sys.argv[1]
w, h = 19, 13
rgb = bytearray()
for y in range(h):
    for x in range(w):
        rgb += bytes((int(127 + 120 * math.sin(x / 3)), (x * y * 7) % 256, 255 - y * 19))
open(d + "/c.ppm", "wb").write(b"P6\n%d %d\n255\n" % (w, h) + rgb)
open(d + "/g.pgm", "wb").write(b"P5\n8 8\n255\n" + bytes((x * 29 + y * 3) % 256 for y in range(8) for x in range(8)))
PY
seed() { # name, option byte (octal), cjpeg switches..., input
  local name=$1 opt=$2; shift 2
  cjpeg "$@" >"$work/x.jpg"
  { printf "\\$opt"; cat "$work/x.jpg"; } >"$out/$name.bin"
}
seed baseline 000 -quality 75 "$work/c.ppm"
seed progressive 004 -progressive "$work/c.ppm"
seed grey 011 -grayscale "$work/c.ppm"
seed restart 022 -restart 1 -sample 2x1 "$work/c.ppm"
seed arithmetic 045 -arithmetic "$work/c.ppm"
seed optimized 377 -optimize -quality 30 "$work/g.pgm"
seed smooth 006 -smooth 50 -dct float "$work/c.ppm"
