#!/usr/bin/env bash
# Makes the seed corpora of fuzz_ani (animated cursors: headers, rates, sequences, titles,
# icon and cursor frames of several depths), fuzz_pxgif (small GIF streams: tables, loops,
# comments, plain text, transparency, interlacing, truncation) and fuzz_pxicon (icon and cursor
# files: depths, short tables, info headers of 40, 108 and 124 bytes, a PNG image).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$here/ani" "$here/pxgif" "$here/pxicon"
python3 - "$here" <<'PY'
import struct, sys
out = sys.argv[1]

def row(w, bits):
    return (w * bits + 31) // 32 * 4

def ico(kind, images, header=40):
    """images: (w, h, bits, colours, pixel(x, y) -> index or rgb, hot)"""
    head = struct.pack("<HHH", 0, kind, len(images))
    bodies = []
    for w, h, bits, colours, pixel, hot in images:
        table = b"".join(bytes((b, g, r, 0)) for r, g, b in colours)
        xor = bytearray()
        for y in reversed(range(h)):
            line = bytearray(row(w, bits))
            for x in range(w):
                v = pixel(x, y)
                if bits == 24:
                    line[3 * x:3 * x + 3] = bytes((v & 255, v >> 8 & 255, v >> 16 & 255))
                elif bits == 8:
                    line[x] = v
                elif bits == 4:
                    line[x // 2] |= v << (4 * (1 - x % 2))
                else:
                    line[x // 8] |= v << (7 - x % 8)
            xor += line
        mask = bytes(row(w, 1) * h)
        info = struct.pack("<IiiHHIIiiII", header, w, 2 * h, 1, bits, 0, 0, 0, 0, len(colours), 0) + bytes(header - 40)
        bodies.append((w, h, bits, len(colours), hot, info + table + bytes(xor) + mask))
    offset = 6 + 16 * len(images)
    entries = b""
    for w, h, bits, n, hot, body in bodies:
        a, b = hot if kind == 2 else (1, bits)
        entries += struct.pack("<BBBBHHII", w % 256, h % 256, n % 256, 0, a, b, len(body), offset)
        offset += len(body)
    return head + entries + b"".join(b[-1] for b in bodies)

def chunk(cid, body):
    return cid + struct.pack("<I", len(body)) + body + (b"\0" if len(body) % 2 else b"")

def riff(chunks, form=b"ACON"):
    body = form + b"".join(chunks)
    return b"RIFF" + struct.pack("<I", len(body)) + body

def anih(icons, steps, rate, flags=1):
    return chunk(b"anih", struct.pack("<9I", 36, icons, steps, 0, 0, 0, 0, rate, flags))

def frames(files):
    return chunk(b"LIST", b"fram" + b"".join(chunk(b"icon", f) for f in files))

red = ico(1, [(8, 8, 24, [], lambda x, y: 0xFF0000, None)])
grey16 = ico(1, [(16, 8, 4, [(i * 16, i * 16, i * 16) for i in range(16)], lambda x, y: (x + y) % 16, None)])
mono = ico(1, [(8, 4, 1, [(0, 0, 0), (255, 255, 255)], lambda x, y: (x ^ y) & 1, None)])
cursor = ico(2, [(8, 8, 8, [(0, 0, 0), (0, 255, 0)], lambda x, y: x % 2, (3, 4))])
two = ico(1, [(4, 4, 24, [], lambda x, y: 0x00FF00, None), (8, 8, 4, [(0, 0, 255)] * 16, lambda x, y: 0, None)])

def w(name, data):
    open(f"{out}/ani/{name}.ani", "wb").write(data)

w("plain", riff([anih(2, 2, 10), frames([red, mono])]))
w("sequence", riff([anih(3, 5, 6), chunk(b"rate", struct.pack("<5I", 6, 12, 0, 3, 60)),
                    chunk(b"seq ", struct.pack("<5I", 0, 1, 2, 1, 0)), frames([red, grey16, cursor])]))
w("info", riff([chunk(b"LIST", b"INFO" + chunk(b"INAM", b"name\0") + chunk(b"IART", b"art\0")),
                anih(1, 1, 0), frames([two])]))
w("odd", riff([anih(1, 1, 3) + b"", chunk(b"rate", b"\1\0\0\0\7\7\7"), chunk(b"junk", b"abc"), frames([cursor])]))
w("noheader", riff([frames([mono, red, cursor])]))
w("bigseq", riff([anih(2, 3, 1), chunk(b"seq ", struct.pack("<3I", 0, 1, 7)), frames([red, mono])]))

def gif(version, w, h, table_bits, blocks):
    packed = 0x80 | 0x70 | (table_bits - 1) if table_bits else 0
    data = b"GIF" + version + struct.pack("<HHBBB", w, h, packed, 0, 0)
    if table_bits:
        data += bytes((i * 37) % 256 for i in range(3 << table_bits))
    return data + blocks + b";"

def codes(minimum, seq):
    bits, acc, n, width, nxt, after = bytearray(), 0, 0, minimum + 1, (1 << minimum) + 2, False
    for c in seq:
        acc |= c << n
        n += width
        while n >= 8:
            bits.append(acc & 255); acc >>= 8; n -= 8
        if c == 1 << minimum:
            width, nxt, after = minimum + 1, (1 << minimum) + 2, True
            continue
        if after:
            after = False
            continue
        if nxt < 4096:
            nxt += 1
            if nxt >= 1 << width and width < 12:
                width += 1
    if n:
        bits.append(acc & 255)
    out = bytes((minimum,))
    for i in range(0, len(bits), 255):
        part = bits[i:i + 255]
        out += bytes((len(part),)) + part
    return out + b"\0"

def image(x, y, w, h, data, local=0, interlaced=False):
    packed = (0x80 | (local - 1) if local else 0) | (0x40 if interlaced else 0)
    block = b"," + struct.pack("<HHHHB", x, y, w, h, packed)
    if local:
        block += bytes((i * 91) % 256 for i in range(3 << local))
    return block + data

flat = codes(2, [4] + [1] * 8 + [5])
gce = b"\x21\xf9\x04\x05\x0a\x00\x02\x00"
loop = b"\x21\xff\x0bNETSCAPE2.0\x03\x01\x05\x00\x00"

def g(name, data):
    open(f"{out}/pxgif/{name}.gif", "wb").write(data)

g("simple", gif(b"89a", 4, 2, 2, image(0, 0, 4, 2, flat)))
g("animated", gif(b"89a", 6, 4, 2, loop + gce + image(0, 0, 4, 2, flat) + gce + image(2, 2, 4, 2, flat, local=3)))
g("comments", gif(b"89a", 4, 2, 2, b"\x21\xfe\x02hi\x00" + image(0, 0, 4, 2, flat) + b"\x21\xfe\x03end\x00"))
g("plaintext", gif(b"89a", 4, 2, 2, gce + b"\x21\x01\x0c" + bytes(12) + b"\x02ab\x00" + image(0, 0, 4, 2, flat)))
g("interlaced", gif(b"87a", 3, 5, 2, image(0, 0, 3, 5, codes(2, [4] + [0, 1, 2, 3, 1] * 3 + [5]), interlaced=True)))
g("notable", gif(b"87a", 4, 2, 0, image(0, 0, 0, 0, flat)))
g("truncated", gif(b"89a", 4, 2, 2, image(0, 0, 4, 2, flat[:5]))[:-1])
g("wide", gif(b"89a", 300, 2, 8, image(0, 0, 300, 2, codes(8, [256] + list(range(256)) * 2 + [i % 7 for i in range(88)] + [257]))))

def i(name, data):
    open(f"{out}/pxicon/{name}.ico", "wb").write(data)

i("red24", red)
i("grey16", grey16)
i("mono", mono)
i("cursor", cursor)
i("two", two)
i("header108", ico(1, [(8, 4, 8, [(255, 0, 0), (0, 255, 0)], lambda x, y: x % 2, None)], header=108))
i("header124", ico(1, [(6, 3, 4, [(0, 0, 255)] * 3, lambda x, y: (x + y) % 3, None)], header=124))
i("png", struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", 16, 16, 0, 0, 1, 32, 24, 22) +
  b"\x89PNG\r\n\x1a\n" + struct.pack(">I", 13) + b"IHDR" + struct.pack(">II", 16, 16))
PY
ls "$here/ani" "$here/pxgif" "$here/pxicon" | wc -l
