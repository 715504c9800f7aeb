#!/usr/bin/env python3
"""Writes .velmora packages and PNG pictures for the tests and benchmarks.

As a module: write_package(path, manifest, entries) and png(width, height).
As a program, for the C++ tests: reads {"manifest": text or null,
"entries": [[name, base64 bytes], ...]} as JSON on standard input and
writes the package to the path given as its one argument.

Packages whose bytes themselves are the test (hand-made headers, other
systems' archivers) are crafted where they are used, not here.
"""

import base64
import json
import random
import struct
import sys
import zipfile
import zlib

STORED = zipfile.ZIP_STORED
DEFLATED = zipfile.ZIP_DEFLATED

# A skin's three colours, the stops of png()'s diagonal blend.
_STOPS = [(0xC5, 0x53, 0x3A), (0xE2, 0x8A, 0x78), (0x8A, 0x6C, 0xFF)]


def write_package(path, manifest, entries=(), compression=DEFLATED):
    """Writes a package at `path` and returns the path.

    `manifest` becomes theme.json, the first entry: a dict is written as
    JSON, text or bytes as they are; None writes none. `entries` (a dict or
    (name, data) pairs, written in order) follow; a name may be a ZipInfo,
    which then sets its own dates, attributes and compression, and data may
    be text (written as UTF-8) or bytes. Other entries are compressed with
    `compression`."""
    if isinstance(entries, dict):
        entries = entries.items()
    with zipfile.ZipFile(path, "w", compression) as archive:
        if manifest is not None:
            archive.writestr("theme.json", json.dumps(manifest) if isinstance(manifest, dict) else manifest)
        for name, data in entries:
            archive.writestr(name, data)
    return path


def encode_png(width, height, rows, level=9):
    """An 8-bit RGB PNG of `rows`: per row a filter byte (0) and width * 3
    bytes of red, green, blue."""
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(bytes(rows), level)) + chunk(b"IEND", b""))


def png(width, height, noisy_rows=0):
    """A real PNG picture of `width` x `height`: a diagonal blend of a skin's
    three colours. Its first `noisy_rows` rows are noise (the same each
    time), which sets how large the file is."""
    noise = random.Random(7)
    rows = bytearray()
    for y in range(height):
        rows.append(0)
        if y < noisy_rows:
            rows += noise.randbytes(width * 3)
            continue
        for x in range(width):
            t = (x / width + y / height) / 2 * (len(_STOPS) - 1)
            i = min(int(t), len(_STOPS) - 2)
            f = t - i
            rows += bytes(round(a + (b - a) * f) for a, b in zip(_STOPS[i], _STOPS[i + 1]))
    return encode_png(width, height, rows)


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    request = json.load(sys.stdin)
    write_package(sys.argv[1], request.get("manifest"),
                  [(name, base64.b64decode(data)) for name, data in request.get("entries", [])])


if __name__ == "__main__":
    main()
