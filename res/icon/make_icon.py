#!/usr/bin/env python3
# make_icon.py - build Halvane's .ico from the hand-editable pixel sources.
#
# Editing the artwork:
#   The art lives in halvane-16.txt and halvane-20.txt (one file per size).
#   Each file starts with palette lines "<char> #RRGGBB" (or "<char> transparent"),
#   followed by the pixel rows: one character per pixel, top row first, exactly
#   as many rows as columns (16x16 or 20x20). Lines starting with ';' and blank
#   lines are ignored. Change a character to recolour a pixel, or add a palette
#   line to introduce a new colour (at most 255 colours per image). Then rebuild:
#
#       python3 make_icon.py OUT.ico halvane-16.txt halvane-20.txt
#
# Output: a classic icon file, one 8-bit (256-entry colour table) image per
# source, each with a BITMAPINFOHEADER, XOR pixels and a 1-bit AND mask. Colour
# index 0 is black and is used for every transparent pixel. The output depends
# only on the sources, so repeated runs give identical bytes.
# Standard library only.

import re
import struct
import sys

PALETTE_RE = re.compile(r"^(\S) (?:#([0-9A-Fa-f]{6})|(transparent))\s*$")


class SourceError(Exception):
    pass


def read_source(path):
    """Return (size, rows) where rows[y][x] is a palette index (0 = transparent)
    together with the colour table as a list of (r, g, b)."""
    colours = [(0, 0, 0)]          # index 0: transparent, stored as black
    index_of = {}
    rows = []
    with open(path, "r", encoding="utf-8") as f:
        for lineno, raw in enumerate(f, 1):
            line = raw.rstrip("\r\n")
            if not line.strip() or line.startswith(";"):
                continue
            m = PALETTE_RE.match(line)
            if m:
                if rows:
                    raise SourceError("%s:%d: palette line after pixel rows" % (path, lineno))
                ch = m.group(1)
                if ch in index_of:
                    raise SourceError("%s:%d: character %r defined twice" % (path, lineno, ch))
                if m.group(3):
                    index_of[ch] = 0
                else:
                    if len(colours) >= 256:
                        raise SourceError("%s:%d: too many colours" % (path, lineno))
                    h = m.group(2)
                    colours.append((int(h[0:2], 16), int(h[2:4], 16), int(h[4:6], 16)))
                    index_of[ch] = len(colours) - 1
                continue
            row = []
            for x, ch in enumerate(line):
                if ch not in index_of:
                    raise SourceError("%s:%d: column %d: character %r not in palette"
                                      % (path, lineno, x + 1, ch))
                row.append(index_of[ch])
            rows.append(row)
    if not rows:
        raise SourceError("%s: no pixel rows" % path)
    size = len(rows)
    for y, row in enumerate(rows):
        if len(row) != size:
            raise SourceError("%s: row %d has %d pixels, expected %d (image must be square)"
                              % (path, y + 1, len(row), size))
    if size > 255:
        raise SourceError("%s: image too large (%d)" % (path, size))
    return size, rows, colours


def pad4(n):
    return (n + 3) & ~3


def build_image(size, rows, colours):
    w = h = size
    xor_stride = pad4(w)                 # 8 bits per pixel
    and_stride = pad4((w + 7) // 8)      # 1 bit per pixel
    xor_size = xor_stride * h
    and_size = and_stride * h

    header = struct.pack("<IiiHHIIiiII",
                         40,             # biSize
                         w,              # biWidth
                         2 * h,          # biHeight (XOR + AND)
                         1,              # biPlanes
                         8,              # biBitCount
                         0,              # biCompression (BI_RGB)
                         xor_size + and_size,  # biSizeImage
                         0, 0,           # biXPelsPerMeter, biYPelsPerMeter
                         0,              # biClrUsed
                         0)              # biClrImportant

    table = bytearray(256 * 4)
    for i, (r, g, b) in enumerate(colours):
        table[i * 4:i * 4 + 4] = bytes((b, g, r, 0))   # RGBQUAD

    xor = bytearray()
    mask = bytearray()
    for row in reversed(rows):           # bottom-up
        line = bytearray(row)
        line += b"\0" * (xor_stride - w)
        xor += line
        bits = bytearray(and_stride)
        for x, idx in enumerate(row):
            if idx == 0:                 # transparent
                bits[x >> 3] |= 0x80 >> (x & 7)
        mask += bits

    data = header + bytes(table) + bytes(xor) + bytes(mask)
    assert len(data) == 40 + 1024 + xor_size + and_size
    return data


def build_ico(images):
    count = len(images)
    out = bytearray(struct.pack("<HHH", 0, 1, count))
    offset = 6 + 16 * count
    for size, data in images:
        dim = 0 if size == 256 else size
        out += struct.pack("<BBBBHHII",
                           dim, dim,     # width, height
                           0,            # colour count (0 for 8 bpp)
                           0,            # reserved
                           1,            # planes
                           8,            # bit count
                           len(data),    # bytes in resource
                           offset)       # image offset
        offset += len(data)
    for _, data in images:
        out += data
    return bytes(out)


def main(argv):
    if len(argv) < 3:
        sys.stderr.write("usage: python3 make_icon.py OUT.ico SOURCE.txt [SOURCE.txt ...]\n")
        return 2
    out_path = argv[1]
    images = []
    try:
        for src in argv[2:]:
            size, rows, colours = read_source(src)
            images.append((size, build_image(size, rows, colours)))
    except (SourceError, OSError) as e:
        sys.stderr.write("make_icon: %s\n" % e)
        return 1
    images.sort(key=lambda item: item[0])
    with open(out_path, "wb") as f:
        f.write(build_ico(images))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
