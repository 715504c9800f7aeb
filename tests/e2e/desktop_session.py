"""A real X server for the desktop tests: Xvfb (with a window manager when
asked), the helper's windows found and answered with xdotool, and window
screenshots taken with xwd. Every wait has a timeout, so no test can hang on
a window that never shows up."""

import os
import re
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from skin_packages import STORED, encode_png, write_package  # noqa: E402

TITLE = "Velmora Helper"

# Title bars with the window icon, the title and a close button only, so that
# the title of a narrow alert is not cut short.
OPENBOX_CONFIG = """<?xml version="1.0" encoding="UTF-8"?>
<openbox_config xmlns="http://openbox.org/3.4/rc">
  <theme><name>Clearlooks</name><titleLayout>NLC</titleLayout></theme>
  <desktops><number>1</number></desktops>
</openbox_config>
"""


def missing_tools(*extra):
    """The programs a desktop test needs that are not installed, as one line."""
    needed = ("Xvfb", "xdotool") + extra
    missing = [tool for tool in needed if shutil.which(tool) is None]
    return ", ".join(missing)


class XServer:
    """Xvfb on a free display of `screen` pixels, optionally with openbox
    drawing title bars."""

    def __init__(self, window_manager=False, screen="1024x768"):
        read_end, write_end = os.pipe()
        self.xvfb = subprocess.Popen(
            # -noreset: by default the server resets whenever its last client
            # leaves, and refuses a helper that connects in that moment.
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", screen + "x24", "-nolisten", "tcp",
             "-noreset"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as announced:
            number = announced.readline().strip()
        if not number:
            self.xvfb.kill()
            raise RuntimeError("Xvfb did not start")
        self.display = ":" + number
        self.wm = None
        if window_manager:
            self.wm_config = tempfile.mkdtemp(prefix="velmora-wm-")
            rc = os.path.join(self.wm_config, "rc.xml")
            with open(rc, "w") as config:
                config.write(OPENBOX_CONFIG)
            self.wm = subprocess.Popen(["openbox", "--sm-disable", "--config-file", rc],
                                       env=self.env(HOME=self.wm_config),
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            deadline = time.monotonic() + 10
            while time.monotonic() < deadline and "_NET_SUPPORTING_WM_CHECK" not in self.root_properties():
                time.sleep(0.05)

    def env(self, **extra):
        env = dict(os.environ, DISPLAY=self.display)
        env.update(extra)
        return env

    def root_properties(self):
        return subprocess.run(["xprop", "-root"], env=self.env(), capture_output=True, text=True,
                              timeout=10).stdout

    def close(self):
        for process in (self.wm, self.xvfb):
            if process and process.poll() is None:
                process.terminate()
                try:
                    process.wait(timeout=5)
                except subprocess.TimeoutExpired:
                    process.kill()
                    process.wait()
        if self.wm:
            shutil.rmtree(self.wm_config, ignore_errors=True)

    def xdotool(self, *args):
        return subprocess.run(["xdotool"] + list(args), env=self.env(), capture_output=True, text=True,
                              timeout=10)

    def helper_windows(self, pid=None):
        """The visible windows titled "Velmora Helper" (of process `pid` when given)."""
        args = ["search", "--onlyvisible", "--name", "^%s$" % TITLE]
        if pid is not None:
            # --all: without it xdotool matches windows that meet either
            # condition, so another process's alert would pass for this one's.
            args = ["search", "--all", "--onlyvisible", "--pid", str(pid), "--name", "^%s$" % TITLE]
        found = self.xdotool(*args)
        return [int(line) for line in found.stdout.split()]

    def is_modal(self, window):
        """Whether `window` is a modal dialog (an alert), not the progress window."""
        state = subprocess.run(["xprop", "-id", str(window), "_NET_WM_STATE"], env=self.env(),
                               capture_output=True, text=True, timeout=10).stdout
        return "_NET_WM_STATE_MODAL" in state

    def wait_for_window(self, pid=None, other_than=(), timeout=20, process=None, modal=False):
        """The first visible helper window not in `other_than` (and an alert, when
        `modal`); fails after `timeout` s or as soon as `process` (a Popen) has ended."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            windows = [w for w in self.helper_windows(pid) if w not in other_than]
            if modal:
                windows = [w for w in windows if self.is_modal(w)]
            if windows:
                # Mapped, but Qt settles a new window's keyboard focus in its
                # own time, which nothing outside the process shows: a key
                # pressed at once can be lost.
                time.sleep(0.2)
                return windows[0]
            if process is not None and process.poll() is not None:
                raise AssertionError("the helper ended (status %s) without showing a window"
                                     % process.returncode)
            time.sleep(0.05)
        raise AssertionError("no %r window appeared within %s s" % (TITLE, timeout))

    def active_window(self):
        """The window the window manager reports active, or None."""
        found = self.xdotool("getactivewindow")
        return int(found.stdout) if found.returncode == 0 and found.stdout.strip() else None

    def press(self, window, key, focus=True):
        """Presses `key` on the real (XTEST) keyboard, after giving `window` the
        keyboard focus unless `focus` is false."""
        if focus:
            self.xdotool("windowfocus", "--sync", str(window))
        done = self.xdotool("key", "--clearmodifiers", key)
        if done.returncode != 0:
            raise AssertionError("xdotool key failed: " + done.stderr)

    def frame_of(self, window):
        """The top-level window that holds `window`: the window manager's frame."""
        while True:
            tree = subprocess.run(["xwininfo", "-children", "-id", str(window)], env=self.env(),
                                  capture_output=True, text=True, timeout=10).stdout
            root = re.search(r"Root window id: (0x[0-9a-f]+)", tree)
            parent = re.search(r"Parent window id: (0x[0-9a-f]+)", tree)
            if not root or not parent or parent.group(1) == root.group(1):
                return window
            window = int(parent.group(1), 16)

    def frame_geometry(self, window):
        """Where `window` is with its window-manager frame: (x, y, width, height)."""
        info = subprocess.run(["xwininfo", "-id", str(self.frame_of(window))], env=self.env(),
                              capture_output=True, text=True, timeout=10).stdout
        return tuple(int(re.search(r"%s:\s+(-?\d+)" % field, info).group(1))
                     for field in ("Absolute upper-left X", "Absolute upper-left Y", "Width", "Height"))

    def pixels(self, window):
        """`window`'s frame as (width, height, rows of RGB bytes)."""
        dump = subprocess.run(["xwd", "-silent", "-id", str(self.frame_of(window))], env=self.env(),
                              capture_output=True, timeout=20, check=True).stdout
        return xwd_pixels(dump)

    def screenshot(self, window, path):
        """Saves `window` with its window-manager frame (title bar) as a PNG."""
        with open(path, "wb") as png:
            png.write(rgb_to_png(*self.pixels(window)))


def xwd_pixels(dump):
    """The width, height and RGB rows of a TrueColor XWD dump of 24 or 32 bits a
    pixel (what xwd writes on Xvfb)."""
    fields = struct.unpack(">25I", dump[:100])
    header_size, width, height = fields[0], fields[4], fields[5]
    byte_order, bits_per_pixel, bytes_per_line = fields[7], fields[11], fields[12]
    red_mask, green_mask, blue_mask, colours = fields[14], fields[15], fields[16], fields[19]
    if bits_per_pixel not in (24, 32):
        raise ValueError("only 24- and 32-bit XWD dumps are handled, got %d" % bits_per_pixel)
    size = bits_per_pixel // 8
    pixels = dump[header_size + 12 * colours:]
    order = "little" if byte_order == 0 else "big"

    def shift(mask):
        return (mask & -mask).bit_length() - 1

    shifts = [shift(m) for m in (red_mask, green_mask, blue_mask)]
    rows = []
    for y in range(height):
        line = pixels[y * bytes_per_line:y * bytes_per_line + size * width]
        row = bytearray()
        for x in range(0, len(line), size):
            value = int.from_bytes(line[x:x + size], order)
            row += bytes(((value >> s) & 0xFF) for s in shifts)
        rows.append(bytes(row))
    return width, height, rows



def rgb_to_png(width, height, rows):
    """A PNG of `rows`, each `width` RGB pixels."""
    return encode_png(width, height, b"".join(b"\0" + row for row in rows))


def make_package(path, name="Aurora", accent="#3AA7C5", image=None):
    """A valid .velmora package at `path`; its image is `image` (bytes) or
    bytes that only start like a PNG."""
    manifest = ('{"schemaVersion": 1, "name": "%s", "image": "background.png", '
                '"colors": {"accent": "%s", "secondary": "#78E2C4", "highlight": "#8A6CFF"}}'
                % (name, accent))
    return write_package(path, manifest, {"background.png": image or b"\x89PNG\r\n\x1a\n" + bytes(range(256)) * 8},
                         compression=STORED)


def stop(process):
    """Ends a helper that a failed test left running."""
    if process.poll() is None:
        process.send_signal(signal.SIGKILL)
        process.wait()
    for stream in (process.stdout, process.stderr):
        if stream:
            stream.close()
