#!/usr/bin/env python3
"""Writes the fuzz targets' seed corpora into tests/fuzz/corpus/<target>/.

Usage: make_corpus.py [OUTPUT_DIR]   (default: the corpus folder beside this file)

The seeds are committed; run this again only to change them. Each seed is a
small, well-formed or nearly well-formed input that leads a target deep into
the code it exercises, so fuzzing starts from the interesting cases.
"""

import hashlib
import io
import os
import stat
import sys
import warnings
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))


def save(out, target, data):
    if isinstance(data, str):
        data = data.encode("utf-8")
    folder = os.path.join(out, target)
    os.makedirs(folder, exist_ok=True)
    name = hashlib.sha1(data).hexdigest()[:16]
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


LINKS = [
    "velmora://apply?image=https://velmora.app/skins/aurora.png&name=Aurora&accent=%23AABBCC",
    "velmora://apply?image=https://www.velmora.app/a.webp&name=%20%09Cool%20Skin%0A"
    "&accent=%23c5533a&secondary=%23E28A78&highlight=%238a6cff",
    "velmora://APPLY/path?image=HTTPS://VELMORA.APP:8443/x.jpg?v=2&name=a+b",
    "velmora://apply?image=https%3A%2F%2Fvelmora.app%2Fskin.png",
    "velmora://apply?image=https://user:pw@velmora.app/s.png#frag",
    "velmora://apply?image=http://velmora.app/s.png",
    "velmora://apply?image=https://evil.velmora.app/s.png",
    "velmora://apply?image=https://velmora.app./s.png",
    "velmora://apply?image=https://xn--vlmora-bva.app/s.png",
    "velmora://apply?image=https://velmora.app%2F@evil.test/s.png",
    "velmora://apply?image=https://[::1]/s.png",
    "velmora://apply?image&name=x",
    "velmora://apply?image=&accent=",
    "velmora://apply?image=https://velmora.app/a.png&image=https://evil.test/a.png",
    "velmora://apply?image=https://velmora.app/a.png&accent=%23ABC",
    "velmora://apply?image=https://velmora.app/a.png&name=%E2%80%8Bx%F0%9F%91%A9%E2%80%8D%F0%9F%92%BB",
    "velmora://apply?image=https://velmora.app/a.png&name=%FF",
    "velmora://other?image=https://velmora.app/a.png",
    "velmora:apply?image=https://velmora.app/a.png",
    "velmora://apply?image=https://velmora.app/a.png&name=" + "x" * 79 + "%20y",
]

NAMES = [
    "Aurora", "\tCool Skin\n", "Cool\u200bSkin", "\U0001F469\u200d\U0001F4BB", "",
    "   ", "a" * 100, "a" * 79 + " b", ("e\u0301" * 85), "\u202eevil", "\U0001F1EB\U0001F1F7" * 41,
    "x\u00a0\u2028\u2029\u0085y", "\ue000private",
    "a" + "\u0301" * 40 + "b", "\u1100" * 40 + "\u1161\u1100b", "\u0d4e" * 30 + " \u0301",
]
COLORS = ["#AABBCC", "#c5533a", "#abc", "aabbcc", "#aabbccd", "#gggggg", " #aabbcc",
          "#aabbcc\n", "#\uff41abbcc", "\u212a"]


def name_color_seeds(out):
    for name in NAMES:
        save(out, "name_color", b"\x00" + name.encode("utf-8"))
        save(out, "name_color", b"\x02" + name.encode("utf-16-le", "surrogatepass"))
    save(out, "name_color", b"\x02" + b"\x00\xd8A\x00")  # a lone high surrogate
    save(out, "name_color", b"\x04")  # absent name
    save(out, "name_color", b"\x05")  # absent colour
    for color in COLORS:
        save(out, "name_color", b"\x01" + color.encode("utf-8"))


TOTALS = [
    "Archive:  skin.velmora\nZip file size: 1234 bytes, number of entries: 2\n"
    "2 files, 5678 bytes uncompressed, 1234 bytes compressed:  78.3%\n",
    "1 file, 0 bytes uncompressed, 0 bytes compressed:  0.0%\n",
    "13 files, 10 bytes uncompressed\n",
    "2 files, 62914561 bytes uncompressed\n",
    "2 files, 99999999999999999999 bytes uncompressed\n",
    "a12 files, 3 bytes uncompressed",
]
LISTINGS = [
    "theme.json\nbg.png\n", "images/\nimages/bg.png\ntheme.json\n\n", "/theme.json\n",
    "a/../b\n", "skins\\bg.png\n", "a..b/x\n...\n./theme.json\ndir//x\n", "\n".join("f%d" % i for i in range(13)),
]
ENTRY_NAMES = ["theme.json", "images/bg.png", "./a//b/", "../x", "a/\x01b", "a/\xc2\x85b", "/abs", ""]


def zip_listing_seeds(out):
    for text in TOTALS:
        save(out, "zip_listing", b"\x00" + text.encode())
    for text in LISTINGS:
        save(out, "zip_listing", b"\x01" + text.encode())
    for name in ENTRY_NAMES:
        save(out, "zip_listing", b"\x02" + name.encode("utf-8"))


MANIFESTS = [
    '{"schemaVersion": 1, "image": "bg.png", "name": "Aurora", '
    '"colors": {"accent": "#AABBCC", "secondary": "#112233", "highlight": "#445566"}}',
    '{"schemaVersion": 1.0, "image": "bg.png"}',
    '{"schemaVersion": 1, "image": "BG.PNG"}',
    '{"schemaVersion": 1, "image": "empty.png"}',
    '{"schemaVersion": 1, "image": "huge.png"}',
    '{"schemaVersion": 1, "image": "link.png"}',
    '{"schemaVersion": 1, "image": "dir.png"}',
    '{"schemaVersion": 1, "image": "../bg.png"}',
    '{"schemaVersion": 1, "image": "bg.png/"}',
    '{"schemaVersion": 1, "image": "bg.gif"}',
    '{"schemaVersion": "1", "image": "bg.png"}',
    '{"schemaVersion": 2, "image": "bg.png"}',
    '{"schemaVersion": 1, "image": "bg.png", "name": 5, "colors": {"accent": 7}}',
    '{"schemaVersion": 1, "image": "bg.png", "colors": {"secondary": "#12345"}}',
    '{"schemaVersion": 1, "image": "bg.png", "name": "\\u0000\\t x \\u200b"}',
    '[1, 2]',
    '{"schemaVersion": 1, "image": "bg.png", "image": "x.png"}',
    'not json',
]


def manifest_seeds(out):
    for text in MANIFESTS:
        save(out, "manifest", text)


def zip_bytes(entries, **options):
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", **options) as archive:
        for name, data, mode, method in entries:
            info = zipfile.ZipInfo(name, date_time=(2024, 1, 1, 0, 0, 0))
            info.create_system = 3
            info.external_attr = mode << 16
            if name.endswith("/"):
                info.external_attr |= 0x10
            info.compress_type = method
            archive.writestr(info, data)
    return buffer.getvalue()


FILE = stat.S_IFREG | 0o644
LINK = stat.S_IFLNK | 0o777
DIR = stat.S_IFDIR | 0o755
STORED = zipfile.ZIP_STORED
DEFLATED = zipfile.ZIP_DEFLATED
MANIFEST = b'{"schemaVersion": 1, "image": "bg.png"}'
IMAGE = b"\x89PNG\r\n\x1a\n" + bytes(range(64))


def extractor_seeds(out):
    archives = [
        [("theme.json", MANIFEST, FILE, DEFLATED), ("bg.png", IMAGE, FILE, STORED)],
        [("images/", b"", DIR, STORED), ("images/bg.png", IMAGE, FILE, DEFLATED)],
        [("up", b"..", LINK, STORED), ("up/escaped", b"x", FILE, STORED)],
        [("out", b"../canary", LINK, STORED), ("out/keep.txt", b"x", FILE, STORED)],
        [("abs", b"/tmp", LINK, STORED)],
        [("../escape", b"x", FILE, STORED)],
        [("a", b"x", FILE, STORED), ("a/b", b"y", FILE, STORED)],
        [("a", b"x", FILE, STORED), ("a", b"y", FILE, STORED)],
        [("zeros", bytes(4096), FILE, DEFLATED)],
        # Directories near the depth and count limits.
        [("d%d/" % i + "a/" * 15, b"", DIR, STORED) for i in range(5)],
        [("deep/" + "a/" * 40 + "f", b"x", FILE, STORED)],
    ]
    for entries in archives:
        save(out, "extractor", zip_bytes(entries))
    # A stream with data descriptors: zipfile writes them when it cannot seek.
    class Unseekable(io.RawIOBase):
        def __init__(self):
            self.data = bytearray()

        def writable(self):
            return True

        def write(self, b):
            self.data += b
            return len(b)

    sink = Unseekable()
    with zipfile.ZipFile(sink, "w") as archive:
        archive.writestr("theme.json", MANIFEST)
    save(out, "extractor", bytes(sink.data))


def main():
    warnings.simplefilter("ignore")  # duplicate names are seeds on purpose
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, "corpus")
    for text in LINKS:
        save(out, "link_request", text)
    name_color_seeds(out)
    zip_listing_seeds(out)
    manifest_seeds(out)
    extractor_seeds(out)


if __name__ == "__main__":
    main()
