#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Makes the program's icon file from the desktop program's XPM images.

usage: make_icon.py out.ico image.xpm [image.xpm ...]

Each image becomes one 16-colour entry (4 bits a pixel, with the AND mask for
its transparent pixels), the form the window and the program file use.
"""
import re
import struct
import sys


def read_xpm(path):
    with open(path, encoding="ascii") as f:
        strings = re.findall(r'"((?:[^"\\]|\\.)*)"', f.read())
    width, height, count, chars = (int(v) for v in strings[0].split()[:4])
    colours = {}
    for line in strings[1:1 + count]:
        key, rest = line[:chars], line[chars:].split()
        value = rest[rest.index("c") + 1]
        colours[key] = None if value.lower() == "none" else int(value.lstrip("#"), 16)
    rows = [[colours[row[x * chars:(x + 1) * chars]] for x in range(width)]
            for row in strings[1 + count:1 + count + height]]
    if len(rows) != height:
        sys.exit(f"{path}: {len(rows)} rows, {height} announced")
    return width, height, rows


def icon_entry(width, height, rows):
    palette = sorted({c for row in rows for c in row if c is not None})
    if len(palette) > 15:
        sys.exit(f"{len(palette)} colours: a 16-colour icon keeps 15 and black")
    palette = [0x000000] + palette  # index 0 behind the transparent pixels
    index = {c: i for i, c in enumerate(palette)}
    colour_stride = (width * 4 + 31) // 32 * 4
    mask_stride = (width + 31) // 32 * 4
    colour, mask = b"", b""
    for row in reversed(rows):  # bottom-up
        nibbles = [0 if c is None else index[c] for c in row]
        line = bytes((nibbles[x] << 4) | (nibbles[x + 1] if x + 1 < width else 0)
                     for x in range(0, width, 2))
        colour += line.ljust(colour_stride, b"\0")
        bits = 0
        for x, c in enumerate(row):
            if c is None:
                bits |= 1 << (mask_stride * 8 - 1 - x)
        mask += bits.to_bytes(mask_stride, "big")
    header = struct.pack("<IiiHHIIiiII", 40, width, height * 2, 1, 4, 0,
                         len(colour) + len(mask), 0, 0, 16, 0)
    table = b"".join(struct.pack("<BBBB", c & 0xFF, (c >> 8) & 0xFF, c >> 16, 0)
                     for c in palette + [0] * (16 - len(palette)))
    return header + table + colour + mask


def main():
    out, images = sys.argv[1], sys.argv[2:]
    entries = [(w, h, icon_entry(w, h, rows)) for w, h, rows in map(read_xpm, images)]
    data = struct.pack("<HHH", 0, 1, len(entries))
    offset = 6 + 16 * len(entries)
    for w, h, body in entries:
        data += struct.pack("<BBBBHHII", w % 256, h % 256, 16, 0, 1, 4, len(body), offset)
        offset += len(body)
    data += b"".join(body for _, _, body in entries)
    with open(out, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main()
