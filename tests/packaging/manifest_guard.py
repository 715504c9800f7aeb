"""Keeps the tests away from the build's install_manifest.txt, which lists
what a user's own `make install` put in place, for uninstalling it.

  manifest_guard.py record BUILD_DIR   (before every test)
  manifest_guard.py check BUILD_DIR    (after them): fails if it was written
"""

import hashlib
import os
import sys


def state(build_dir):
    path = os.path.join(build_dir, "install_manifest.txt")
    try:
        with open(path, "rb") as manifest:
            return "%d %s" % (os.stat(path).st_mtime_ns, hashlib.sha256(manifest.read()).hexdigest())
    except FileNotFoundError:
        return "absent"


def main():
    mode, build_dir = sys.argv[1:3]
    record = os.path.join(build_dir, "tests", "install_manifest.state")
    if mode == "record":
        with open(record, "w") as out:
            out.write(state(build_dir))
        return 0
    with open(record) as recorded:
        before = recorded.read()
    if state(build_dir) != before:
        print("A test wrote %s/install_manifest.txt (was %s, now %s): install the "
              "velmora-helper component into a staging folder instead."
              % (build_dir, before, state(build_dir)))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
