#!/usr/bin/env python3
"""Draws a skin background: a diagonal gradient between two colours, as PNG.

  make_skin_image.py OUT.png [WIDTH HEIGHT [#from #to]]
"""

import struct
import sys
import zlib


def rgb(text):
    text = text.lstrip("#")
    return tuple(int(text[i:i + 2], 16) for i in (0, 2, 4))


def png(width, height, start, end):
    rows = bytearray()
    span = max(1, width + height - 2)
    for y in range(height):
        rows.append(0)  # no filter
        for x in range(width):
            t = (x + y) / span
            rows.extend(round(a + (b - a) * t) for a, b in zip(start, end))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(bytes(rows), 9))
            + chunk(b"IEND", b""))


def main(argv):
    if len(argv) not in (2, 4, 6):
        sys.exit(__doc__)
    width, height = (int(argv[2]), int(argv[3])) if len(argv) >= 4 else (640, 400)
    start, end = (rgb(argv[4]), rgb(argv[5])) if len(argv) == 6 else (rgb("#c5533a"), rgb("#8a6cff"))
    with open(argv[1], "wb") as out:
        out.write(png(width, height, start, end))


if __name__ == "__main__":
    main(sys.argv)
