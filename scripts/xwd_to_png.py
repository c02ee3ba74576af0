#!/usr/bin/env python3
"""Crops a rectangle out of an X window dump (XWD, as Xvfb -fbdir keeps its
screen) and writes it as a PNG. Standard library only.

    xwd_to_png.py SCREEN.xwd OUT.png X Y WIDTH HEIGHT
"""

import struct
import sys
import zlib


def read_xwd(path):
    with open(path, "rb") as f:
        data = f.read()
    fields = struct.unpack(">25I", data[:100])
    header_size = fields[0]
    width, height = fields[4], fields[5]
    byte_order = fields[7]
    bits_per_pixel = fields[11]
    bytes_per_line = fields[12]
    masks = fields[14:17]
    ncolors = fields[19]
    if bits_per_pixel != 32:
        raise SystemExit(f"{path}: {bits_per_pixel} bits per pixel, expected 32")
    start = header_size + 12 * ncolors
    return data[start:], width, height, bytes_per_line, byte_order, masks


def shift_of(mask):
    s = 0
    while mask and not mask & 1:
        mask >>= 1
        s += 1
    return s


def main():
    if len(sys.argv) != 7:
        raise SystemExit(__doc__)
    src, out = sys.argv[1], sys.argv[2]
    x0, y0, w, h = (int(v) for v in sys.argv[3:7])
    pixels, width, height, stride, byte_order, masks = read_xwd(src)
    x0, y0 = max(0, x0), max(0, y0)
    w, h = min(w, width - x0), min(h, height - y0)
    fmt = "<I" if byte_order == 0 else ">I"
    shifts = [shift_of(m) for m in masks]
    rows = bytearray()
    for y in range(y0, y0 + h):
        rows.append(0)  # no filter
        base = y * stride
        for x in range(x0, x0 + w):
            (p,) = struct.unpack_from(fmt, pixels, base + 4 * x)
            rows += bytes(((p & m) >> s) for m, s in zip(masks, shifts))

    def chunk(kind, body):
        c = struct.pack(">I", len(body)) + kind + body
        return c + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF)

    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(bytes(rows), 9))
    png += chunk(b"IEND", b"")
    with open(out, "wb") as f:
        f.write(png)


if __name__ == "__main__":
    main()
