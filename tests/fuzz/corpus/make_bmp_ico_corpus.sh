#!/usr/bin/env bash
# Makes the seed corpora of fuzz_bmp and fuzz_ico: tiny BMP files of every depth and header
# kind (bit fields, run-length, top-down, OS/2) and icon/cursor files of several depths.
set -euo pipefail
here=$(dirname "$0")
mkdir -p "$here/bmp" "$here/ico"
python3 - "$here" <<'PY'
import struct, sys
out = sys.argv[1]

def row_bytes(w, bits):
    return (w * bits + 31) // 32 * 4

def bmp(name, w, h, bits, rows, colors=(), compression=0, masks=(), header=40):
    table = b"".join(bytes((b, g, r) if header == 12 else (b, g, r, 0)) for r, g, b in colors)
    if header == 12:
        info = struct.pack("<IHHHH", 12, w, abs(h), 1, bits)
    else:
        info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, bits, compression, len(rows), 2835, 2835, len(colors), 0)
        info += b"".join(struct.pack("<I", m) for m in masks)
    off = 14 + len(info) + len(table)
    data = b"BM" + struct.pack("<IHHI", off + len(rows), 0, 0, off) + info + table + rows
    open(f"{out}/bmp/{name}.bmp", "wb").write(data)

def packed(w, h, bits, value):
    return bytes(value(y) for y in range(h) for _ in range(row_bytes(w, bits)))

bw = [(0, 0, 0), (255, 255, 255)]
vga = [(i * 16, 255 - i * 16, (i * 40) % 256) for i in range(16)]
bmp("mono_3x2", 3, 2, 1, packed(3, 2, 1, lambda y: 0xA0 >> y), bw)
bmp("vga_5x3", 5, 3, 4, packed(5, 3, 4, lambda y: 0x12 + y * 0x33), vga)
bmp("gray_4x4_topdown", 4, -4, 8, packed(4, 4, 8, lambda y: y * 60), [(i, i, i) for i in range(256)])
bmp("rle8_6x3", 6, 3, 8, bytes((6, 1, 0, 0, 0, 2, 2, 1, 0, 3, 2, 3, 1, 0, 0, 1)), [(0, 0, 0), (255, 0, 0), (0, 255, 0), (0, 0, 255)], compression=1)
bmp("rle4_7x2", 7, 2, 4, bytes((7, 0x12, 0, 0, 0, 4, 0x34, 0x56, 0, 1)), vga, compression=2)
bmp("rgb565_3x2", 3, 2, 16, bytes((0x00, 0xF8, 0xE0, 0x07, 0x1F, 0x00, 0, 0) * 2), compression=3, masks=(0xF800, 0x07E0, 0x001F))
bmp("rgb24_3x3", 3, 3, 24, packed(3, 3, 24, lambda y: 40 + y * 70))
bmp("rgb32_2x2", 2, 2, 32, bytes(range(16)))
bmp("os2_core_4x2", 4, 2, 8, packed(4, 2, 8, lambda y: y), [(200, 100, 50), (5, 10, 15)], header=12)

def ico(name, kind, images):
    entries, bodies = b"", b""
    offset = 6 + 16 * len(images)
    for w, h, bits, colors, hot in images:
        table = b"".join(bytes((b, g, r, 0)) for r, g, b in colors)
        xor = packed(w, h, bits, lambda y: (y * 37) & 0xFF)
        mask = packed(w, h, 1, lambda y: 0xF0 if y == 0 else 0)
        body = struct.pack("<IiiHHIIiiII", 40, w, 2 * h, 1, bits, 0, len(xor) + len(mask), 0, 0, len(colors), 0) + table + xor + mask
        planes, count = (hot if kind == 2 else (1, bits))
        entries += struct.pack("<BBBBHHII", w, h, len(colors) if bits < 8 else 0, 0, planes, count, len(body), offset)
        offset += len(body)
        bodies += body
    ext = "ico" if kind == 1 else "cur"
    open(f"{out}/ico/{name}.{ext}", "wb").write(struct.pack("<HHH", 0, kind, len(images)) + entries + bodies)

ico("two_sizes", 1, [(16, 16, 4, vga, None), (8, 8, 32, [], None)])
ico("mono_32", 1, [(32, 32, 1, bw, None)])
ico("palette_24bit", 1, [(5, 3, 8, [(i, 255 - i, 7) for i in range(256)], None), (4, 4, 24, [], None)])
ico("cursor", 2, [(16, 16, 1, bw, (3, 5))])
PY
