#!/usr/bin/env bash
# Makes the GIF conformance corpus in the folder given (created when missing): pictures written
# by ImageMagick, netpbm's pamtogif and giflib's gifbuild, covering 1 to 8 bits, local and
# global tables, interlacing, transparency, animation with disposal and delays, loops,
# comments and plain text, and uncompressed code streams. A tool that is
# not installed is skipped.
set -euo pipefail
out=${1:?usage: make_corpus.sh OUTDIR}
mkdir -p "$out"
cd "$out"
have() { command -v "$1" >/dev/null 2>&1; }

if have convert; then
  convert -size 120x80 gradient:red-blue -colors 200 im_gradient.gif
  convert -seed 7 -size 64x48 plasma:fractal -colors 256 im_plasma256.gif
  convert -size 33x17 xc:white -fill black -draw "circle 16,8 16,2" -colors 2 im_2color.gif
  convert -seed 3 -size 50x30 plasma:fractal -colors 16 -interlace GIF im_interlaced16.gif
  convert -seed 5 -size 200x150 plasma:fractal -colors 64 -interlace GIF im_interlaced64.gif
  convert -size 40x40 xc:none -fill red -draw "rectangle 5,5 20,20" im_transparent.gif
  convert -delay 10 -dispose Background -loop 3 \
    -size 30x20 xc:white -fill blue -draw "rectangle 2,2 10,10" \
    \( -size 30x20 xc:white -fill green -draw "circle 15,10 15,4" \) \
    \( -size 30x20 xc:none -fill red -draw "line 0,0 29,19" \) im_anim.gif
  convert -delay 5 -dispose Previous -loop 0 -size 16x16 xc:yellow \
    \( -size 8x8 xc:black -repage +4+4 \) \( -size 4x12 xc:blue -repage +10+2 \) im_anim_offsets.gif
  convert -size 10x10 xc:gray50 -set comment "a comment in the file" im_comment.gif
fi

if have pamtogif && have pgmramp; then
  pgmramp -lr 100 50 | pamtogif > np_ramp.gif 2>/dev/null
  pgmramp -diagonal 64 64 | pamtogif -interlace > np_interlaced.gif 2>/dev/null
  pgmramp -rect 37 23 | pamtogif -nolzw > np_nolzw.gif 2>/dev/null
  pgmramp -lr 300 200 | pamtogif -noclear > np_noclear.gif 2>/dev/null
  pgmramp -ellipse 48 32 | pamtogif -sort -comment "netpbm comment" > np_sorted.gif 2>/dev/null
  if have ppmpat && have pnmquant; then
    ppmpat -g2 -randomseed=1 80 60 2>/dev/null | pnmquant 16 2>/dev/null | pamtogif -transparent=rgb:00/00/00 > np_transparent.gif 2>/dev/null || rm -f np_transparent.gif
    ppmpat -camo -randomseed=2 120 90 2>/dev/null | pnmquant 256 2>/dev/null | pamtogif > np_camo.gif 2>/dev/null || rm -f np_camo.gif
  fi
fi

if have gifbuild; then
  # Two frames with local maps, a comment, a plain text block, an interlaced frame and a
  # looping block.
  cat > build1.txt <<'TXT'
screen width 8
screen height 6
screen colors 4
screen background 1
pixel aspect byte 0

screen map
	rgb 000 000 000 is 0
	rgb 255 255 255 is 1
	rgb 255 000 000 is 2
	rgb 000 255 000 is 3
end

netscape loop 7

comment
hand made
end

graphics control
	disposal mode 2
	user input flag off
	delay 25
	transparent index 1
end

image # 1
image left 0
image top 0
image bits 8 by 6
01230123
12301230
23012301
30123012
01230123
12301230

image # 2
image left 2
image top 1
image interlaced
image map
	rgb 010 020 030 is a
	rgb 040 050 060 is b
	rgb 070 080 090 is c
	rgb 100 110 120 is d
	rgb 130 140 150 is e
end
image bits 5 by 4
abcde
edcba
aabbc
ccdde

plaintext
0123456789ab
end
TXT
  gifbuild build1.txt > gb_blocks.gif 2>/dev/null || rm -f gb_blocks.gif
  rm -f build1.txt
fi
ls
