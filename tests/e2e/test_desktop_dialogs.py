"""Every alert as a real window on an X server with a window manager: its
title bar, its icon, the keyboard focus it takes by itself, Enter for the
default button and Escape for "Cancel". Each kind is taken as a screenshot,
kept in $VELMORA_SCREENSHOT_DIR when that is set (e.g. docs/screenshots)."""

import os
import shutil
import subprocess
import tempfile
import time
import unittest

from desktop_session import XServer, make_package, missing_tools, stop
import harness
from harness import BUILD_DIR, HELPER, HelperTestCase
import skin_site
from skin_packages import STORED, png, write_package

WHY_NOT = missing_tools("openbox", "xwd", "xprop")

# Records the skin's name, then runs until the test lets it end (the file
# $ENGINE_UNTIL exists), for at most 30 s.
SLOW_ENGINE = """#!/bin/sh
echo "$4" >> "$HOME/engine-runs"
i=0
while [ -n "$ENGINE_UNTIL" ] && [ ! -e "$ENGINE_UNTIL" ] && [ $i -lt 600 ]; do
  sleep 0.05; i=$((i + 1))
done
"""


SITE_WHY_NOT = skin_site.unavailable()

# Prints 60 lines and fails.
LONG_FAILING_ENGINE = """#!/bin/sh
i=1
while [ $i -le 60 ]; do
  echo "orvane-theme-forge: step $i of 60: could not patch resource $i of the theme bundle"
  i=$((i + 1))
done
exit 1
"""

# A name of 80 characters without a space.
LONG_NAME = ("Aurora" + "Borealis" * 10)[:80]


class DesktopCase(HelperTestCase):
    """A helper's windows on one X server with a window manager for the class."""

    SCREEN = (1024, 768)

    @classmethod
    def setUpClass(cls):
        cls.x = XServer(window_manager=True, screen="%dx%d" % cls.SCREEN)
        # The screenshots are kept only where VELMORA_SCREENSHOT_DIR says.
        cls.shots = os.environ.get("VELMORA_SCREENSHOT_DIR")
        if cls.shots:
            os.makedirs(cls.shots, exist_ok=True)
        else:
            cls.shots = tempfile.mkdtemp(prefix="velmora-shots-")
            cls.addClassCleanup(shutil.rmtree, cls.shots, True)
        cls.site = None
        if not SITE_WHY_NOT:
            cls.site_root = tempfile.mkdtemp(prefix="velmora-site-")
            cls.addClassCleanup(shutil.rmtree, cls.site_root, True)
            ca = skin_site.make_test_ca(os.path.join(BUILD_DIR, "test-ca"))
            cls.site = skin_site.SkinSite(ca, cls.site_root).__enter__()

    @classmethod
    def tearDownClass(cls):
        if cls.site:
            cls.site.close()
        cls.x.close()

    def setUp(self):
        super().setUp()
        run_dir = os.path.join(self.sandbox.root, "run")
        os.makedirs(run_dir, mode=0o700)
        self.env = self.sandbox.env(DISPLAY=self.x.display, XDG_RUNTIME_DIR=run_dir)

    def start(self, *inputs, wrap=lambda argv: argv, **env):
        process = subprocess.Popen(wrap([HELPER] + list(inputs)), env=dict(self.env, **env),
                                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        self.addCleanup(stop, process)
        return process

    def show(self, process, shot, other_than=(), until=None, settle=0, modal=True):
        """Waits for the next alert (or, not `modal`, window) of `process`, checks it
        and saves it as `shot` once `until` (a description and a condition), when
        given, holds, and then `settle` seconds have passed."""
        window = self.x.wait_for_window(process.pid, other_than=other_than, process=process,
                                        modal=modal)
        if until:
            harness.wait_until(until[1], until[0])
        time.sleep(settle)
        self.assertEqual(self.x.active_window(), window, "the alert took the focus by itself")
        icon = subprocess.run(["xprop", "-id", str(window), "_NET_WM_ICON"], env=self.x.env(),
                              capture_output=True, text=True, timeout=10).stdout
        self.assertIn("Icon (64 x 64)", icon, "the window carries the helper's icon")
        path = os.path.join(self.shots, shot)
        self.x.screenshot(window, path)
        self.assertGreater(os.path.getsize(path), 1000)
        return window

    def finish(self, process, window, key, status):
        self.x.press(window, key, focus=False)
        self.assertEqual(process.wait(timeout=20), status, process.stderr.read())

    def package(self, name="Aurora", image=None):
        return make_package(os.path.join(self.sandbox.root, name + ".velmora"), name, image=image)



@unittest.skipIf(WHY_NOT, "desktop dialog tests skipped: missing " + WHY_NOT)
class AlertWindows(DesktopCase):
    def test_ready_alert(self):
        helper = self.start()
        self.finish(helper, self.show(helper, "window-ready.png"), "Return", 0)

    def test_escape_cancels_the_confirmation(self):
        self.sandbox.install_engine()
        for shot, skin in (("window-confirm-package.png", self.package(image=png(480, 270))),
                           ("window-confirm-link.png", "velmora://apply?name=Aurora&accent=%233AA7C5"
                            "&image=https://velmora.app/skins/aurora.png")):
            with self.subTest(shot):
                helper = self.start(skin)
                # Time for the package's thumbnail to be decoded and painted
                # before the shot: the window shows no sign of it outside.
                window = self.show(helper, shot, settle=0.5)
                self.finish(helper, window, "Escape", 3)
        self.assertIsNone(self.sandbox.engine_args())

    @unittest.skipIf(SITE_WHY_NOT, "needs the skin site: %s" % SITE_WHY_NOT)
    def test_cancel_in_the_progress_window_stops_a_slow_download(self):
        self.sandbox.install_engine()
        # 3 MB at 200 kB a second: the download takes about 15 s.
        link = "velmora://apply?image=https://velmora.app/trickle/3000000/20000/100/slow.png&name=Aurora"
        helper = self.start(link, wrap=self.site.command)
        question = self.show(helper, "window-progress-question.png")
        os.remove(os.path.join(self.shots, "window-progress-question.png"))
        self.x.press(question, "Return", focus=False)
        # Shot once a tenth has arrived, so that the bar shows it.
        partial = lambda: sum(os.stat(f).st_size for f in self.sandbox.stored_files()
                              if os.path.exists(f)) >= 300_000
        progress = self.show(helper, "window-progress.png", other_than=[question],
                             until=("a tenth of the image has arrived", partial), modal=False)
        # Cancel has the keyboard focus: the space bar presses it.
        started = time.monotonic()
        self.x.press(progress, "space", focus=False)
        self.assertEqual(helper.wait(timeout=20), 3, helper.stderr.read())
        self.assertLess(time.monotonic() - started, 5, "the transfer stopped at once")
        self.assertEqual(helper.stderr.read(), "")
        self.assertEqual(os.listdir(self.sandbox.tmp), [], "nothing is left in the temporary folder")
        self.assertIsNone(self.sandbox.engine_args())

    def test_a_later_launch_during_an_apply_says_busy(self):
        self.sandbox.install_engine(body=SLOW_ENGINE)
        release = os.path.join(self.sandbox.root, "engine-may-end")
        first = self.start(self.package("First"), ENGINE_UNTIL=release)
        question = self.show(first, "window-busy-question.png")
        os.remove(os.path.join(self.shots, "window-busy-question.png"))
        self.x.press(question, "Return", focus=False)
        # The user sees the first skin being applied, then opens another.
        progress = self.x.wait_for_window(first.pid, other_than=[question], process=first)
        self.assertFalse(self.x.is_modal(progress))
        runs = os.path.join(self.sandbox.home, "engine-runs")
        harness.wait_until(lambda: os.path.exists(runs), "the engine runs")

        later = self.start(self.package("Later"))
        self.finish(later, self.show(later, "window-busy.png"), "Return", 1)
        self.assertIsNone(first.poll(), "the running apply goes on")
        open(release, "w").close()
        final = self.x.wait_for_window(first.pid, other_than=[question, progress], process=first,
                                       modal=True)
        self.finish(first, final, "Return", 0)
        with open(runs) as recorded:
            self.assertEqual(recorded.read().split(), ["First"])

    def test_enter_applies_and_then_closes_the_final_alert(self):
        self.sandbox.install_engine()
        helper = self.start(self.package())
        question = self.show(helper, "window-confirm-enter.png")
        os.remove(os.path.join(self.shots, "window-confirm-enter.png"))
        self.x.press(question, "Return", focus=False)
        applied = self.show(helper, "window-applied.png", other_than=[question])
        self.finish(helper, applied, "Return", 0)
        self.assertEqual(self.sandbox.engine_args()[2:4], ["--name", "Aurora"])

    def test_engine_missing(self):
        helper = self.start(self.package())
        question = self.show(helper, "window-failed-question.png")
        os.remove(os.path.join(self.shots, "window-failed-question.png"))
        self.x.press(question, "Return", focus=False)
        self.finish(helper, self.show(helper, "window-failed.png", other_than=[question]), "Return", 1)

    def test_refused_link(self):
        helper = self.start("velmora://apply?image=https://evil.test/a.png")
        self.finish(helper, self.show(helper, "window-invalid-link.png"), "Escape", 1)

    def test_refused_package(self):
        path = write_package(os.path.join(self.sandbox.root, "Unsafe.velmora"), "{}",
                             {"../background.png": b"x"}, compression=STORED)
        helper = self.start(path)
        self.finish(helper, self.show(helper, "window-invalid-package.png"), "Return", 1)


def reddish_pixels(pixels):
    """How many pixels are in the warm half of the shared png() blend."""
    width, height, rows = pixels
    count = 0
    for row in rows:
        for x in range(0, len(row), 3):
            r, g, b = row[x], row[x + 1], row[x + 2]
            count += r > 180 and 70 < g < 150 and b < 130
    return count


@unittest.skipIf(WHY_NOT, "desktop dialog tests skipped: missing " + WHY_NOT)
class SmallScreen(DesktopCase):
    """The alerts that carry long texts from outside, on a 1024 x 600 screen:
    each fits on it, title bar and buttons included."""

    SCREEN = (1024, 600)

    def assertFits(self, window):
        x, y, width, height = self.x.frame_geometry(window)
        self.assertTrue(x >= 0 and y >= 0 and x + width <= self.SCREEN[0] and y + height <= self.SCREEN[1],
                        "%d x %d at %d,%d on a %d x %d screen" % ((width, height, x, y) + self.SCREEN))
        self.assertLessEqual(width, 560, "a long text wraps rather than widening the alert")

    def wait_until(self, condition, timeout=20):
        deadline = time.monotonic() + timeout
        while not condition():
            if time.monotonic() > deadline:
                self.fail("the window never showed what was waited for")
            time.sleep(0.05)

    def test_a_long_engine_output(self):
        self.sandbox.install_engine(body=LONG_FAILING_ENGINE)
        helper = self.start(self.package())
        question = self.show(helper, "window-long-question.png")
        os.remove(os.path.join(self.shots, "window-long-question.png"))
        self.x.press(question, "Return", focus=False)
        failed = self.show(helper, "window-failed-long-output.png", other_than=[question])
        self.assertFits(failed)
        # Tab to "Show Details…", which opens the whole output below.
        height = self.x.frame_geometry(failed)[3]
        self.x.press(failed, "Tab", focus=False)
        self.x.press(failed, "space", focus=False)
        self.wait_until(lambda: self.x.frame_geometry(failed)[3] > height)
        self.assertFits(failed)
        self.x.screenshot(failed, os.path.join(self.shots, "window-failed-long-output.png"))
        self.finish(helper, failed, "Escape", 1)

    def test_a_tools_long_error(self):
        path = os.path.join(self.sandbox.root, "Notes.velmora")
        with open(path, "w") as text:
            text.write("not a zip archive\n" * 20)
        helper = self.start(path)
        refused = self.show(helper, "window-not-a-zip.png")
        os.remove(os.path.join(self.shots, "window-not-a-zip.png"))
        self.assertFits(refused)
        self.finish(helper, refused, "Return", 1)

    def test_a_long_name_without_spaces(self):
        self.sandbox.install_engine()
        helper = self.start(self.package(LONG_NAME, image=png(480, 270)))
        question = self.show(helper, "window-confirm-long-name.png")
        self.assertFits(question)
        # Taken again once the thumbnail is in.
        self.wait_until(lambda: reddish_pixels(self.x.pixels(question)) > 3000)
        self.x.screenshot(question, os.path.join(self.shots, "window-confirm-long-name.png"))
        self.assertFits(question)
        self.finish(helper, question, "Escape", 3)
        self.assertIsNone(self.sandbox.engine_args())


if __name__ == "__main__":
    harness.main()
