#!/usr/bin/env python3
"""Writes skin packages as other systems' tools make them into a directory.

Usage: make_world_packages.py OUTPUT_DIR

Python's zipfile and shutil are the real tools (as Python writes on
Windows too, where it records MS-DOS as the archive's host); Finder and
Windows Explorer are emulated byte for byte where they differ from them:
Finder stores names decomposed (NFD), without the UTF-8 flag, streamed
with data descriptors, and adds "__MACOSX/" AppleDouble entries; Explorer
stores names in code page 437 without the UTF-8 flag, on an MS-DOS host.
"""

import os
import shutil
import struct
import sys
import tempfile
import unicodedata
import zipfile
import zlib

from skin_packages import write_package

IMAGE = b"\x89PNG\r\n\x1a\n" + bytes(range(256)) * 4
LOCAL_SIG = b"PK\x03\x04"
CENTRAL_SIG = b"PK\x01\x02"
END_SIG = b"PK\x05\x06"
DESCRIPTOR_SIG = b"PK\x07\x08"
UNIX_FILE = 0o100644 << 16
UNIX_DIRECTORY = (0o040755 << 16) | 0x10
DOS_ARCHIVE = 0x20
DOS_DIRECTORY = 0x10
# An AppleDouble header as Finder writes it for a file without resource fork.
APPLE_DOUBLE = b"\x00\x05\x16\x07\x00\x02\x00\x00Mac OS X        " + bytes(60)


def manifest(image, name="World"):
    return ('{"schemaVersion": 1, "image": "%s", "name": "%s"}' % (image, name)).encode()


def write_archive(path, entries, host, version, flags, streamed):
    """entries: (name bytes, data, external attributes); directories end in
    "/" and are stored, files are deflated. `streamed` puts sizes and CRC in
    a data descriptor after each body, as Finder does."""
    body = b""
    directory = b""
    for name, data, attributes in entries:
        is_dir = name.endswith(b"/")
        method = 0 if is_dir else 8
        packed = data if is_dir else zlib.compress(data, 9)[2:-4]
        crc = zlib.crc32(data)
        entry_flags = flags | (0x08 if streamed and not is_dir else 0)
        sizes = (0, 0, 0) if entry_flags & 0x08 else (crc, len(packed), len(data))
        offset = len(body)
        body += struct.pack("<4sHHHHHIIIHH", LOCAL_SIG, 20, entry_flags, method, 0, 0x5821,
                            *sizes, len(name), 0) + name + packed
        if entry_flags & 0x08:
            body += struct.pack("<4sIII", DESCRIPTOR_SIG, crc, len(packed), len(data))
        directory += struct.pack("<4sHHHHHHIIIHHHHHII", CENTRAL_SIG, (host << 8) | version, 20,
                                 entry_flags, method, 0, 0x5821, crc, len(packed), len(data),
                                 len(name), 0, 0, 0, 0, attributes, offset) + name
    end = struct.pack("<4sHHHHIIH", END_SIG, 0, 0, len(entries), len(entries), len(directory),
                      len(body), 0)
    with open(path, "wb") as f:
        f.write(body + directory + end)


def finder(path, files, folder=None):
    """Finder's "Compress": `files` (name → data), inside `folder/` when a
    folder was compressed, each with its "__MACOSX/" AppleDouble twin."""
    nfd = lambda text: unicodedata.normalize("NFD", text).encode()
    prefix = folder + "/" if folder else ""
    entries = [(nfd(prefix), b"", UNIX_DIRECTORY)] if folder else []
    entries += [(nfd(prefix + name), data, UNIX_FILE) for name, data in files.items()]
    entries += [(b"__MACOSX/", b"", UNIX_DIRECTORY)]
    if folder:
        entries += [(nfd("__MACOSX/" + prefix), b"", UNIX_DIRECTORY)]
    entries += [(nfd("__MACOSX/%s._%s" % (prefix, name)), APPLE_DOUBLE, UNIX_FILE) for name in files]
    write_archive(path, entries, host=3, version=21, flags=0, streamed=True)


def explorer(path, files):
    """Windows Explorer's "Send to > Compressed (zipped) folder" on the
    files themselves: names in code page 437, no UTF-8 flag, MS-DOS host."""
    entries = [(name.encode("cp437"), data, DOS_ARCHIVE) for name, data in files.items()]
    write_archive(path, entries, host=0, version=20, flags=0, streamed=False)


def python_on_windows(path, files):
    """Python's zipfile as it writes on Windows: an MS-DOS host and UTF-8
    names flagged as such (Java's jar and .NET write the same headers)."""
    entries = []
    for name, data in files.items():
        entry = zipfile.ZipInfo(name, date_time=(2024, 1, 1, 0, 0, 0))
        entry.create_system = 0
        entry.external_attr = DOS_ARCHIVE
        entry.compress_type = zipfile.ZIP_DEFLATED
        entries.append((entry, data))
    write_package(path, None, entries)


def folder_archive(path, folder, files):
    """shutil.make_archive with base_dir: the folder itself, zipped whole."""
    with tempfile.TemporaryDirectory() as root:
        os.makedirs(os.path.join(root, folder))
        for name, data in files.items():
            with open(os.path.join(root, folder, name), "wb") as f:
                f.write(data)
        made = shutil.make_archive(os.path.join(root, "made"), "zip", root_dir=root, base_dir=folder)
        shutil.move(made, path)


def main(out):
    os.makedirs(out, exist_ok=True)
    p = lambda name: os.path.join(out, name)
    skin = {"theme.json": manifest("bg.png"), "bg.png": IMAGE}

    finder(p("finder-folder.velmora"), skin, folder="Aurora")
    folder_archive(p("python-folder.velmora"), "Aurora", skin)
    finder(p("finder-nfd.velmora"), {"theme.json": manifest("\u00e9cran.png"), "\u00e9cran.png": IMAGE})
    finder(p("finder-no-manifest.velmora"), {"bg.png": IMAGE})
    explorer(p("explorer-cp437.velmora"),
             {"theme.json": manifest("Hintergrund-gr\u00fcn.png"), "Hintergrund-gr\u00fcn.png": IMAGE})
    explorer(p("explorer-case.velmora"), {"Theme.json": manifest("background.png"), "Background.png": IMAGE})
    explorer(p("explorer-two-cases.velmora"),
             {"theme.json": manifest("background.png"), "Background.png": IMAGE, "BACKGROUND.PNG": IMAGE})
    python_on_windows(p("python-windows-utf8.velmora"),
                      {"theme.json": manifest("caf\u00e9.png"), "caf\u00e9.png": IMAGE})


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    main(sys.argv[1])
