"""Shared pieces of the end-to-end tests: the real helper binary run in a
throwaway HOME and TMPDIR, with a recording skin engine."""

import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "support"))

HELPER = os.environ.get("VELMORA_HELPER", "")
BUILD_DIR = os.environ.get("VELMORA_BUILD_DIR", os.path.join(HERE, "..", "..", "build"))
ENGINE = ".orvane/orvane-theme-forge/scripts/customize-theme-macos.sh"

# Records its arguments NUL-separated and a copy of the image, then behaves
# as $ENGINE_MODE says.
RECORDING_ENGINE = """#!/bin/sh
printf '%s\\0' "$@" > "$HOME/engine-args"
cp "$2" "$HOME/engine-image" 2>/dev/null
case "$ENGINE_MODE" in
  fail-with-output) printf '  Orvane could not be restarted.\\n' >&2; exit 1 ;;
  fail-silently) exit 7 ;;
esac
echo "progress that nobody sees"
exit 0
"""


def wait_until(condition, what, timeout=20):
    """Calls `condition` until it returns something true, and returns that;
    fails saying `what` was awaited when `timeout` seconds pass first."""
    deadline = time.monotonic() + timeout
    while True:
        found = condition()
        if found:
            return found
        if time.monotonic() > deadline:
            raise AssertionError("timed out after %s s waiting until %s" % (timeout, what))
        time.sleep(0.02)


class Sandbox:
    """A fresh HOME and TMPDIR for one run of the helper."""

    def __init__(self):
        self.root = tempfile.mkdtemp(prefix="velmora-e2e-")
        self.home = os.path.join(self.root, "home")
        self.tmp = os.path.join(self.root, "tmp")
        os.makedirs(self.home)
        os.makedirs(self.tmp)

    def cleanup(self):
        shutil.rmtree(self.root, ignore_errors=True)

    def install_engine(self, executable=True, body=RECORDING_ENGINE):
        path = os.path.join(self.home, ENGINE)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w") as script:
            script.write(body)
        os.chmod(path, 0o755 if executable else 0o644)

    def engine_args(self):
        path = os.path.join(self.home, "engine-args")
        if not os.path.exists(path):
            return None
        with open(path, "rb") as recorded:
            return recorded.read().decode().split("\0")[:-1]

    def engine_image(self):
        with open(os.path.join(self.home, "engine-image"), "rb") as image:
            return image.read()

    def env(self, **extra):
        env = {k: v for k, v in os.environ.items()
               if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
        env.update(HOME=self.home, TMPDIR=self.tmp, LANG="C.UTF-8")
        env.update(extra)
        return env

    def stored_files(self):
        """Every file the helper left under TMPDIR."""
        found = []
        for directory, _, files in os.walk(self.tmp):
            found += [os.path.join(directory, f) for f in files]
        return found


class HelperTestCase(unittest.TestCase):
    """Gives each test a Sandbox and a way to run the helper."""

    def setUp(self):
        if not HELPER or not os.access(HELPER, os.X_OK):
            self.fail("VELMORA_HELPER does not name the built helper")
        self.sandbox = Sandbox()
        self.addCleanup(self.sandbox.cleanup)

    def helper(self, args, answer="", wrap=lambda argv: argv, env=None, timeout=60, cwd=None):
        """Runs the helper with `args`, `answer` on stdin; returns the CompletedProcess."""
        return subprocess.run(wrap([HELPER] + list(args)), input=answer, capture_output=True, text=True,
                              env=env or self.sandbox.env(), timeout=timeout, cwd=cwd)


# The status that tells CTest a test was skipped (SKIP_RETURN_CODE in
# tests/CMakeLists.txt).
SKIPPED = 77


def main():
    """Runs the calling script's tests. Exits 1 when any failed, 77 when any
    could not run here (no user or network namespace, no X server...) and
    none failed, so that CTest reports the script as skipped rather than
    passed, and 0 only when every test ran and passed."""
    program = unittest.main(exit=False)
    result = program.result
    if not result.wasSuccessful():
        sys.exit(1)
    if result.skipped:
        sys.exit(SKIPPED)
    sys.exit(0)
