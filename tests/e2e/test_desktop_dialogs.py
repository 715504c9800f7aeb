"""Every alert as a real window on an X server with a window manager: its
title bar, its icon, the keyboard focus it takes by itself, Enter for the
default button and Escape for "Cancel". Each kind is saved as a screenshot
(to $VELMORA_SCREENSHOT_DIR when set, e.g. docs/screenshots)."""

import os
import subprocess
import tempfile
import unittest
import zipfile

from desktop_session import XServer, make_package, missing_tools, stop
import harness
from harness import HELPER, HelperTestCase

WHY_NOT = missing_tools("openbox", "xwd", "xprop")


@unittest.skipIf(WHY_NOT, "desktop dialog tests skipped: missing " + WHY_NOT)
class AlertWindows(HelperTestCase):
    @classmethod
    def setUpClass(cls):
        cls.x = XServer(window_manager=True)
        cls.shots = os.environ.get("VELMORA_SCREENSHOT_DIR") or tempfile.mkdtemp(prefix="velmora-shots-")
        os.makedirs(cls.shots, exist_ok=True)

    @classmethod
    def tearDownClass(cls):
        cls.x.close()

    def setUp(self):
        super().setUp()
        run_dir = os.path.join(self.sandbox.root, "run")
        os.makedirs(run_dir, mode=0o700)
        self.env = self.sandbox.env(DISPLAY=self.x.display, XDG_RUNTIME_DIR=run_dir)

    def start(self, *inputs):
        process = subprocess.Popen([HELPER] + list(inputs), env=self.env, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.PIPE, text=True)
        self.addCleanup(stop, process)
        return process

    def show(self, process, shot, other_than=()):
        """Waits for the next alert of `process`, checks it as a window and saves it as `shot`."""
        window = self.x.wait_for_window(process.pid, other_than=other_than, process=process)
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

    def package(self, name="Aurora"):
        return make_package(os.path.join(self.sandbox.root, name + ".velmora"), name)

    def test_ready_alert(self):
        helper = self.start()
        self.finish(helper, self.show(helper, "window-ready.png"), "Return", 0)

    def test_escape_cancels_the_confirmation(self):
        self.sandbox.install_engine()
        helper = self.start(self.package())
        self.finish(helper, self.show(helper, "window-confirm.png"), "Escape", 3)
        self.assertIsNone(self.sandbox.engine_args())

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
        path = os.path.join(self.sandbox.root, "Unsafe.velmora")
        with zipfile.ZipFile(path, "w") as archive:
            archive.writestr("theme.json", "{}")
            archive.writestr("../background.png", b"x")
        helper = self.start(path)
        self.finish(helper, self.show(helper, "window-invalid-package.png"), "Return", 1)


if __name__ == "__main__":
    harness.main()
