#!/usr/bin/env python3
"""Writes a corpus of hostile and boundary .velmora packages into a directory.

Usage: make_hostile_packages.py OUTPUT_DIR

Every package is built with zipfile and, where a real zip tool would refuse
to write the lie, by patching the local and central headers afterwards; the
packages of make_world_packages.py, as other systems make them, join them.
Entries that try to escape aim at OUTPUT_DIR/../canary, so a test that keeps
a canary directory beside the corpus sees any write that got out.
"""

import io
import os
import shutil
import struct
import subprocess
import sys
import warnings
import zipfile
import zlib

import make_world_packages
from skin_packages import write_package

MANIFEST = b'{"schemaVersion": 1, "image": "bg.png", "name": "Hostile"}'
IMAGE = b"\x89PNG\r\n\x1a\n" + bytes(range(256)) * 4

LOCAL_SIG = b"PK\x03\x04"
CENTRAL_SIG = b"PK\x01\x02"
END_SIG = b"PK\x05\x06"

# Field offsets inside a local file header and a central directory header.
LOCAL_FLAGS, LOCAL_USIZE, LOCAL_NAME = 6, 22, 30
CENTRAL_FLAGS, CENTRAL_USIZE, CENTRAL_NAME_LEN, CENTRAL_OFFSET = 8, 24, 28, 42

UNIX_FILE = 0o100644 << 16
UNIX_LINK = 0o120777 << 16
UNIX_DIRECTORY = (0o040755 << 16) | 0x10
UNIX_FIFO = 0o010644 << 16
UNIX_CHAR_DEVICE = 0o020644 << 16


def info(name, external_attr=UNIX_FILE, method=zipfile.ZIP_DEFLATED):
    entry = zipfile.ZipInfo(name, date_time=(2024, 1, 1, 0, 0, 0))
    entry.create_system = 3
    entry.external_attr = external_attr
    entry.compress_type = method
    return entry


def write_zip(path, entries):
    """entries: (name, bytes) or (ZipInfo, bytes) pairs, written in order."""
    write_package(path, None, [(name if isinstance(name, zipfile.ZipInfo) else info(name), data)
                               for name, data in entries])


class Unseekable(io.RawIOBase):
    """A write-only stream without tell() or seek(), which makes zipfile
    write data descriptors after each entry."""

    def __init__(self, raw):
        self.raw = raw

    def writable(self):
        return True

    def write(self, data):
        return self.raw.write(data)


def skin(*extra):
    return [("theme.json", MANIFEST), ("bg.png", IMAGE), *extra]


def central_headers(data):
    """Yields the offset of every central directory header."""
    end = data.rindex(END_SIG)
    count = struct.unpack_from("<H", data, end + 10)[0]
    offset = struct.unpack_from("<I", data, end + 16)[0]
    for _ in range(count):
        assert data[offset : offset + 4] == CENTRAL_SIG
        yield offset
        name_len, extra_len, comment_len = struct.unpack_from("<HHH", data, offset + 28)
        offset += 46 + name_len + extra_len + comment_len


def central_name(data, header):
    name_len = struct.unpack_from("<H", data, header + CENTRAL_NAME_LEN)[0]
    return bytes(data[header + 46 : header + 46 + name_len])


def patch_entry(path, name, *, usize=None, flags_or=0, local_name=None):
    """Rewrites the headers of entry `name` in place: the declared
    uncompressed size, extra flag bits, or the local header's name (which
    must have the same length)."""
    with open(path, "rb") as f:
        data = bytearray(f.read())
    for header in central_headers(data):
        if central_name(data, header) != name.encode():
            continue
        local = struct.unpack_from("<I", data, header + CENTRAL_OFFSET)[0]
        assert data[local : local + 4] == LOCAL_SIG
        if usize is not None:
            struct.pack_into("<I", data, header + CENTRAL_USIZE, usize)
            struct.pack_into("<I", data, local + LOCAL_USIZE, usize)
        if flags_or:
            for at in (header + CENTRAL_FLAGS, local + LOCAL_FLAGS):
                struct.pack_into("<H", data, at, struct.unpack_from("<H", data, at)[0] | flags_or)
        if local_name is not None:
            encoded = local_name.encode()
            assert len(encoded) == len(name.encode())
            data[local + LOCAL_NAME : local + LOCAL_NAME + len(encoded)] = encoded
        break
    else:
        raise KeyError(name)
    with open(path, "wb") as f:
        f.write(data)


def deflated(data):
    packer = zlib.compressobj(9, zlib.DEFLATED, -15)
    return packer.compress(data) + packer.flush()


def overlapping(path, parts, size):
    """A skin plus one deflated kernel of `size` zero bytes that `parts`
    central entries with different names all point at: the overlap trick of
    zip bombs, which multiplies what a small file expands to."""
    kernel = ("kernel.bin", bytes(size))
    body = b""
    central = []
    for name, data in skin(kernel):
        packed = deflated(data)
        encoded = name.encode()
        fields = (20, 0, 8, 0, 0x5821, zlib.crc32(data), len(packed), len(data), len(encoded))
        local = struct.pack("<4sHHHHHIIIHH", LOCAL_SIG, *fields, 0) + encoded
        offset = len(body)
        body += local + packed
        names = [f"part{i:02d}.bin" for i in range(parts)] if name == "kernel.bin" else [name]
        for alias in names:
            central.append((alias.encode(), fields, offset))
    directory = b""
    for alias, fields, offset in central:
        directory += struct.pack(
            "<4sHHHHHHIIIHHHHHII", CENTRAL_SIG, 0x031E, *fields[:-1], len(alias),
            0, 0, 0, 0, UNIX_FILE, offset,
        ) + alias
    end = struct.pack("<4sHHHHIIH", END_SIG, 0, 0, len(central), len(central), len(directory), len(body), 0)
    with open(path, "wb") as f:
        f.write(body + directory + end)


def raw_zip(path, entries):
    """A stored archive written field by field, for what no zip tool writes.
    entries: (central name, local name, data, external attributes, local
    extra field) tuples, names as bytes."""
    body = b""
    directory = b""
    for central_name, local_name, data, attributes, local_extra in entries:
        crc = zlib.crc32(data)
        offset = len(body)
        body += struct.pack("<4sHHHHHIIIHH", LOCAL_SIG, 20, 0, 0, 0, 0x5821, crc, len(data), len(data),
                            len(local_name), len(local_extra)) + local_name + local_extra + data
        directory += struct.pack("<4sHHHHHHIIIHHHHHII", CENTRAL_SIG, 0x031E, 20, 0, 0, 0, 0x5821, crc,
                                 len(data), len(data), len(central_name), 0, 0, 0, 0, attributes,
                                 offset) + central_name
    end = struct.pack("<4sHHHHIIH", END_SIG, 0, 0, len(entries), len(entries), len(directory), len(body), 0)
    with open(path, "wb") as f:
        f.write(body + directory + end)


def zip64_end(data):
    """The archive `data` with its end record deferring to a Zip64 end record
    and locator, as zip tools write for archives past the classic limits."""
    end = data.rindex(END_SIG)
    count, size, offset = struct.unpack_from("<HII", data, end + 10)
    zip64 = struct.pack("<4sQHHIIQQQQ", b"PK\x06\x06", 44, 45, 45, 0, 0, count, count, size, offset)
    locator = struct.pack("<4sIQI", b"PK\x06\x07", 0, end, 1)
    classic = struct.pack("<4sHHHHIIH", END_SIG, 0, 0, 0xFFFF, 0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0)
    return data[:end] + zip64 + locator + classic


def raw_skin(*extra):
    return [(name.encode(), name.encode(), data, UNIX_FILE, b"") for name, data in skin()] + list(extra)


def unicode_path_field(header_name, path):
    """Info-ZIP's Unicode path extra field, which readers take as the
    entry's name instead of the header's when its checksum matches."""
    encoded = path.encode()
    return struct.pack("<HHBI", 0x7075, 5 + len(encoded), 1, zlib.crc32(header_name)) + encoded


def tool_package(path, tool, files):
    """A package written by a real zip tool from `files` (name bytes → data)."""
    source = path + ".src"
    os.makedirs(source)
    for name, data in files.items():
        full = os.path.join(source.encode(), name)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "wb") as f:
            f.write(data)
    names = sorted(files)
    command = {
        "zip": ["zip", "-q", "-X", os.path.abspath(path)],
        "bsdtar": ["bsdtar", "--format", "zip", "-cf", os.path.abspath(path)],
    }[tool]
    # zip stores names as they are; bsdtar marks them as UTF-8.
    locale = {"zip": "C", "bsdtar": "C.UTF-8"}[tool]
    subprocess.run(command + names, cwd=source, check=True, stdin=subprocess.DEVNULL,
                   env=dict(os.environ, LC_ALL=locale))
    shutil.rmtree(source)


def exact_size_package(path, total):
    """A valid skin padded with a stored entry so the file is `total` bytes."""
    write_zip(path, skin((info("pad.bin", method=zipfile.ZIP_STORED), b"")))
    overhead = os.path.getsize(path)
    write_zip(path, skin((info("pad.bin", method=zipfile.ZIP_STORED), bytes(total - overhead))))
    assert os.path.getsize(path) == total


def main(out):
    os.makedirs(out, exist_ok=True)
    canary = os.path.abspath(os.path.join(out, "..", "canary"))
    p = lambda name: os.path.join(out, name)

    write_zip(p("good.velmora"), skin())
    write_zip(p("no-manifest.velmora"), [("bg.png", IMAGE)])
    # Benign but less plain: a directory entry, a UTF-8 name, and entries
    # streamed with data descriptors instead of sizes in their local headers.
    with open(p("streamed-unicode.velmora"), "wb") as raw:
        with zipfile.ZipFile(Unseekable(raw), "w", zipfile.ZIP_DEFLATED) as archive:
            archive.writestr(info("images/", UNIX_DIRECTORY), b"")
            for name, data in (
                ("theme.json", '{"schemaVersion": 1, "image": "caf\u00e9.png", "name": "Caf\u00e9"}'.encode()),
                ("caf\u00e9.png", IMAGE),
                ("images/extra.png", IMAGE),
            ):
                with archive.open(name, "w") as entry:
                    entry.write(data)

    # Zip slip: names that leave the extraction directory.
    write_zip(p("slip-dotdot.velmora"), skin(("../../canary/dotdot.txt", b"escaped")))
    write_zip(p("slip-absolute.velmora"), skin((canary + "/absolute.txt", b"escaped")))
    write_zip(p("slip-backslash.velmora"), skin(("..\\..\\canary\\backslash.txt", b"escaped")))
    # The central directory (what the listing shows) names a harmless file;
    # the local header, which an extractor may trust, climbs out.
    write_zip(p("slip-local-name.velmora"), skin(("harmless/abcdefg.txt", b"escaped")))
    patch_entry(p("slip-local-name.velmora"), "harmless/abcdefg.txt", local_name="../../canary/lh.txt_")
    write_zip(p("control-name.velmora"), skin(("bell\x07name.txt", b"x")))
    # A NUL in a name, which both the zip tool and the extractor read only up
    # to: in both headers, and in the local header alone behind a directory
    # that names what comes before it.
    raw_zip(p("nul-name.velmora"), raw_skin((b"evil\0.png", b"evil\0.png", b"x", UNIX_FILE, b"")))
    raw_zip(p("nul-local-name.velmora"), raw_skin((b"evil", b"evil\0.png", b"x", UNIX_FILE, b"")))
    # The same where a reader finds the directory otherwise: behind bytes
    # prepended to the archive (its offsets all short by as many), and
    # through Zip64 end records.
    with open(p("nul-name.velmora"), "rb") as f:
        nul = f.read()
    with open(p("nul-name-prepended.velmora"), "wb") as f:
        f.write(b"#!/bin/sh\nexit 0\n" + nul)
    with open(p("nul-name-zip64.velmora"), "wb") as f:
        f.write(zip64_end(nul))
    write_zip(p("empty-name.velmora"), skin(("", b"x")))

    # The local header carries another name than the archive's directory:
    # ten directory entries listed as "x/" that would each make 32,701
    # directories, and a name taken from a Unicode path field there.
    bomb_name = b"x/" + b"a/" * 32_700
    raw_zip(p("dir-bomb-local.velmora"),
            raw_skin(*[(b"x/", bomb_name, b"", UNIX_DIRECTORY, b"") for _ in range(10)]))
    raw_zip(p("unicode-path-local.velmora"),
            raw_skin((b"notes.txt", b"notes.txt", b"x", UNIX_FILE, unicode_path_field(b"notes.txt", "other.txt"))))
    # Matching names, each short enough for the zip tool, 20,016 directories in all.
    write_zip(p("dir-bomb.velmora"),
              [(info(f"d{i:02d}/" + "a/" * 1667, UNIX_DIRECTORY), b"") for i in range(12)])

    # Depth, length and directory count at and one past each limit.
    limit_cases = {
        "depth-16.velmora": "a/" * 15 + "f.txt",
        "depth-17.velmora": "a/" * 16 + "f.txt",
        "path-1024.velmora": ("d" * 200 + "/") * 4 + "f" * 220,
        "path-1025.velmora": ("d" * 200 + "/") * 4 + "f" * 221,
        "component-255.velmora": "c" * 255,
        "component-256.velmora": "c" * 256,
    }
    for name, entry in limit_cases.items():
        write_zip(p(name), skin((entry, b"x")))
    sixty_four = [(f"{r}/" + "a/" * 14 + "f", b"x") for r in "wxyz"] + [("v/a/a/a/f", b"x")]
    write_zip(p("dirs-64.velmora"), skin(*sixty_four))
    write_zip(p("dirs-65.velmora"), skin(*sixty_four, ("u/f", b"x")))

    # Packages as real tools write them: Info-ZIP with a Latin-1 name beside
    # the skin, and bsdtar.
    tool_package(p("infozip-latin1.velmora"), "zip",
                 {b"theme.json": MANIFEST, b"bg.png": IMAGE, b"caf\xe9.txt": b"code page"})
    # A Windows archiver's name in code page 437 (0x82 is "é"), which the zip
    # tool lists translated to Latin-1.
    fat = info("cafX.txt")
    fat.create_system = 0
    write_zip(p("fat-codepage.velmora"), skin((fat, b"code page")))
    with open(p("fat-codepage.velmora"), "rb") as f:
        data = f.read()
    with open(p("fat-codepage.velmora"), "wb") as f:
        f.write(data.replace(b"cafX.txt", b"caf\x82.txt"))
    make_world_packages.main(out)
    # Every byte from 0x80 in one name of an archive made on MS-DOS, with and
    # without the UTF-8 flag: how the zip tool lists such names.
    for name, flags in (("dos-bytes.velmora", 0), ("dos-bytes-flagged.velmora", 0x800)):
        dos = info("n" + "X" * 128)
        dos.create_system = 0
        write_zip(p(name), [(dos, b"x")])
        if flags:
            patch_entry(p(name), "n" + "X" * 128, flags_or=flags)
        with open(p(name), "rb") as f:
            data = f.read()
        with open(p(name), "wb") as f:
            f.write(data.replace(b"n" + b"X" * 128, b"n" + bytes(range(0x80, 0x100))))
    tool_package(p("bsdtar.velmora"), "bsdtar",
                 {b"theme.json": MANIFEST, b"bg.png": IMAGE, "images/fa\u00e7ade.png".encode(): IMAGE})

    # Symbolic links.
    write_zip(p("link-manifest.velmora"), [(info("theme.json", UNIX_LINK), b"/etc/passwd"), ("bg.png", IMAGE)])
    write_zip(p("link-image.velmora"), [("theme.json", MANIFEST), (info("bg.png", UNIX_LINK), b"/etc/passwd")])
    write_zip(p("link-dir.velmora"), skin((info("door", UNIX_LINK), canary.encode()), ("door/through.txt", b"escaped")))
    write_zip(p("link-parent.velmora"), skin((info("sub", UNIX_LINK), b".."), ("sub/up.txt", b"escaped")))

    # Types that are never extracted.
    write_zip(p("fifo.velmora"), skin((info("pipe", UNIX_FIFO), b"")))
    write_zip(p("device.velmora"), skin((info("tty", UNIX_CHAR_DEVICE), b"")))

    # Sizes that lie: the headers declare far less than the data holds.
    write_zip(p("lying-deflated.velmora"), skin(("bomb.bin", bytes(8 << 20))))
    patch_entry(p("lying-deflated.velmora"), "bomb.bin", usize=1000)
    write_zip(p("lying-stored.velmora"), skin((info("bomb.bin", method=zipfile.ZIP_STORED), bytes(200_000))))
    patch_entry(p("lying-stored.velmora"), "bomb.bin", usize=10)
    overlapping(p("overlapping.velmora"), 10, 6_000_000)
    # Real data past the limit, for the extractor's own total cap.
    write_zip(p("expands-past-limit.velmora"), skin(("half1.bin", bytes(32 << 20)), ("half2.bin", bytes(32 << 20))))

    # Encryption: the flag bit alone, and a real archive from zip(1).
    write_zip(p("encrypted-flag.velmora"), skin())
    patch_entry(p("encrypted-flag.velmora"), "bg.png", flags_or=1)
    source = os.path.join(out, "encrypted-src")
    os.makedirs(source, exist_ok=True)
    for name, data in skin():
        with open(os.path.join(source, name), "wb") as f:
            f.write(data)
    subprocess.run(
        ["zip", "-q", "-P", "secret", os.path.abspath(p("encrypted-zip.velmora")), "theme.json", "bg.png"],
        cwd=source, check=True, stdin=subprocess.DEVNULL,
    )

    shutil.rmtree(source)

    # Duplicates and conflicts between entries.
    warnings.filterwarnings("ignore", "Duplicate name")
    write_zip(p("duplicate.velmora"), skin(("theme.json", b'{"schemaVersion": 2}')))
    write_zip(p("file-then-dir.velmora"), skin(("a", b"file"), ("a/b", b"inside a file")))

    # Not a usable archive at all.
    write_zip(p("empty.velmora"), [])
    with open(p("not-a-zip.velmora"), "wb") as f:
        f.write(b"This is not a zip archive.\n")
    with open(p("good.velmora"), "rb") as f:
        whole = f.read()
    with open(p("truncated.velmora"), "wb") as f:
        f.write(whole[: len(whole) // 2])

    # Counts and sizes at and past the limits.
    write_zip(p("twelve-entries.velmora"), skin(*[(f"extra{i:02d}.txt", b"x") for i in range(10)]))
    write_zip(p("thirteen-entries.velmora"), skin(*[(f"extra{i:02d}.txt", b"x") for i in range(11)]))
    write_zip(p("declared-total.velmora"), skin(("big.bin", b"small")))
    patch_entry(p("declared-total.velmora"), "big.bin", usize=62_914_561 - len(MANIFEST) - len(IMAGE))
    with open(p("oversize.velmora"), "wb") as f:
        f.truncate(57_671_681)
    exact_size_package(p("exact-size.velmora"), 57_671_680)

    # Wildcards in the package's own name, each beside a decoy that the
    # unescaped name would match as a pattern. Each decoy is refused.
    decoy = skin(*[(f"decoy{i:02d}.txt", b"x") for i in range(11)])
    for index, (name, decoy_name) in enumerate((
        ("Aurora [v2].velmora", "Aurora v.velmora"),
        ("Star*.velmora", "Star-decoy.velmora"),
        ("Why?.velmora", "Why!.velmora"),
        ("Back\\slash[x].velmora", "Backslashx.velmora"),
        ("Close]bracket[1].velmora", "Close]bracket1.velmora"),
    )):
        folder = os.path.join(out, f"wild-{index}")
        os.makedirs(folder, exist_ok=True)
        write_zip(os.path.join(folder, decoy_name), decoy)
        write_zip(os.path.join(folder, name), skin())


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    main(sys.argv[1])
