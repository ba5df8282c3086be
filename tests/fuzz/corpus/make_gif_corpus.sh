#!/usr/bin/env bash
# Makes the seed corpus of fuzz_gif_load and fuzz_gif_roundtrip: the small files of the GIF
# conformance corpus (tests/gif/data/make_corpus.sh) and a few hand-made block sequences.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=$here/gif
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"
bash "$here/../../gif/data/make_corpus.sh" "$work" >/dev/null
for f in "$work"/*.gif; do
  if [ "$(stat -c %s "$f")" -le 4096 ]; then cp "$f" "$out/$(basename "$f")"; fi
done
python3 - "$out" <<'PY'
import sys
d = sys.argv[1]
def w(name, b): open(d + "/" + name, "wb").write(bytes(b))
hdr = list(b"GIF89a") + [4, 0, 2, 0, 0x81, 0, 0] + [0, 0, 0, 255, 255, 255, 255, 0, 0, 0, 255, 0]
img = [0x2C, 0, 0, 0, 0, 4, 0, 2, 0, 0]
# clear, pixels, end code in 1-byte sub-blocks
w("tiny_subblocks.gif", hdr + img + [2, 1, 0x8C, 1, 0x2D, 1, 0x99, 1, 0x87, 1, 0x2A, 0, 0x3B])
# looping block, comment, graphic control of size 5, unknown application of size 10
w("blocks.gif", hdr + [0x21, 0xFF, 11] + list(b"NETSCAPE2.0") + [3, 1, 2, 0, 0] +
  [0x21, 0xFE, 2, 104, 105, 0] + [0x21, 0xF9, 5, 9, 10, 0, 1, 7, 0] +
  [0x21, 0xFF, 10] + list(b"ABCDEFGH12") + [1, 5, 0] + img + [2, 2, 0x84, 0x51, 0, 0x3B])
# interlaced frame with a local table, no global table
w("interlaced_local.gif", list(b"GIF87a") + [2, 0, 3, 0, 0, 0, 0] + [0x2C, 0, 0, 0, 0, 2, 0, 3, 0, 0xC0, 1, 2, 3, 4, 5, 6] +
  [2, 2, 0x44, 0x01, 0, 0x3B])
# truncated data and trailing garbage
w("truncated.gif", hdr + img + [2, 9, 0x8C, 0x2D])
w("garbage.gif", hdr + img + [2, 2, 0x84, 0x51, 0, 0x3B, 1, 2, 3])
PY
ls "$out" | wc -l
