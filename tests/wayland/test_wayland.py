"""The dialogs as Wayland windows: the helper, with no X display, talks to a
weston compositor through Qt's Wayland plugin. Its protocol log
(WAYLAND_DEBUG) shows each alert as an xdg_toplevel titled "Velmora Helper"
with the desktop file's name as app id. Under a headless weston it ends
cleanly when the compositor goes away; under weston's X11 backend on Xvfb,
keys pressed on the compositor's window answer the alerts. Under a headless
sway (which, unlike weston, offers xdg-activation) a token lent by a later
launch is handed to the compositor for the alert it brings up.
Exits 77 (skipped) without weston, Xvfb, xdotool or Qt's Wayland plugin."""

import glob
import os
import re
import shutil
import signal
import subprocess
import sys
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "e2e"))
from desktop_session import XServer, make_package, stop  # noqa: E402
import harness  # noqa: E402
from harness import HelperTestCase  # noqa: E402

SKIPPED = 77
TOPLEVEL = 'set_title("Velmora Helper")'


def why_not():
    missing = [tool for tool in ("weston", "Xvfb", "xdotool") if shutil.which(tool) is None]
    if not glob.glob("/usr/lib/*/qt6/plugins/platforms/libqwayland-generic.so"):
        missing.append("Qt's Wayland platform plugin (qt6-wayland)")
    return ", ".join(missing)


class Weston:
    started = 0

    """A weston compositor on its own socket in `run_dir`: headless, or shown
    in a window of the X server `x` (whose keyboard then reaches its clients)."""

    def __init__(self, run_dir, x=None):
        Weston.started += 1
        self.socket = "velmora-wayland-%d-%d" % (os.getpid(), Weston.started)
        backend = ["--backend=x11-backend.so", "--use-pixman", "--width=800", "--height=600"] if x else \
            ["--backend=headless-backend.so"]
        env = dict(os.environ, XDG_RUNTIME_DIR=run_dir)
        if x:
            env["DISPLAY"] = x.display
        self.log = os.path.join(run_dir, "weston.log")
        self.process = subprocess.Popen(["weston", "--no-config", "--socket=" + self.socket,
                                         "--log=" + self.log] + backend, env=env,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 20
        while not os.path.exists(os.path.join(run_dir, self.socket)):
            if self.process.poll() is not None or time.monotonic() > deadline:
                raise AssertionError("weston did not start: " + open(self.log).read()[-2000:])
            time.sleep(0.05)

    def close(self):
        stop(self.process)


class Sway:
    """A headless sway compositor with its socket in a folder of its own under
    `root`. Sway refuses to run as root, so under root it runs as nobody, and
    clients reach it by the socket's path."""

    def __init__(self, root):
        folder = os.path.join(root, "sway")
        os.makedirs(folder, mode=0o700)
        config = os.path.join(folder, "config")
        with open(config, "w") as written:
            written.write("xwayland disable\n")
        command = ["sway", "--config", config]
        if os.getuid() == 0:
            os.chmod(root, 0o711)
            shutil.chown(folder, "nobody", "nogroup")
            command = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"] + command
        env = dict(PATH=os.environ["PATH"], HOME=folder, XDG_RUNTIME_DIR=folder, WLR_BACKENDS="headless",
                   WLR_LIBINPUT_NO_DEVICES="1", WLR_RENDERER="pixman")
        self.log = os.path.join(root, "sway.log")
        with open(self.log, "w") as log:
            self.process = subprocess.Popen(command, env=env, stdout=log, stderr=log)
        deadline = time.monotonic() + 20
        while not glob.glob(os.path.join(folder, "wayland-*.lock")):
            if self.process.poll() is not None or time.monotonic() > deadline:
                raise AssertionError("sway did not start: " + open(self.log).read()[-2000:])
            time.sleep(0.05)
        self.socket = glob.glob(os.path.join(folder, "wayland-*.lock"))[0][:-len(".lock")]

    def close(self):
        stop(self.process)


class WaylandDialogs(HelperTestCase):
    def setUp(self):
        HelperTestCase.setUp(self)
        self.run_dir = os.path.join(self.sandbox.root, "run")
        os.makedirs(self.run_dir, mode=0o700)
        self.sandbox.install_engine()
        self.package = make_package(os.path.join(self.sandbox.root, "Aurora.velmora"))

    def start(self, x=None):
        weston = Weston(self.run_dir, x)
        self.addCleanup(weston.close)
        self.protocol = os.path.join(self.sandbox.root, "protocol.log")
        env = self.sandbox.env(WAYLAND_DISPLAY=weston.socket, XDG_RUNTIME_DIR=self.run_dir, WAYLAND_DEBUG="client")
        with open(self.protocol, "w") as log:
            helper = subprocess.Popen([os.environ["VELMORA_HELPER"], self.package], env=env,
                                      stdout=subprocess.DEVNULL, stderr=log)
        self.addCleanup(stop, helper)
        return weston, helper

    def wait_for_toplevels(self, count, helper, focused=False):
        """The protocol log once the helper has titled `count` toplevels (and,
        when `focused`, the keyboard was last given to it)."""
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline:
            with open(self.protocol, errors="replace") as log:
                text = log.read()
            parts = text.split(TOPLEVEL)
            focus = re.findall(r"wl_keyboard@\d+\.(enter|leave)\(", parts[count]) if len(parts) > count else []
            if len(parts) > count and (not focused or focus[-1:] == ["enter"]):
                return text
            self.assertIsNone(helper.poll(), "the helper ended before showing alert %d" % count)
            time.sleep(0.05)
        self.fail("no Wayland window titled Velmora Helper appeared (alert %d%s); the client's log ends:\n%s"
                  % (count, ", with the keyboard" if focused else "", text[-1500:]))

    def test_the_question_is_a_wayland_window_and_the_helper_ends_cleanly_without_its_compositor(self):
        weston, helper = self.start()
        text = self.wait_for_toplevels(1, helper)
        self.assertIn("xdg_wm_base", text)
        self.assertIn('set_app_id("velmora-helper")', text)  # velmora-helper.desktop
        weston.process.send_signal(signal.SIGTERM)
        status = helper.wait(timeout=30)
        self.assertNotIn(status, (-signal.SIGABRT, -signal.SIGSEGV))
        self.assertNotEqual(status, 0)
        self.assertIsNone(self.sandbox.engine_args(), "nothing was confirmed")

    def answer(self, keys):
        """Presses `keys` one a window on weston's X11 window; the helper's status."""
        x = XServer()
        self.addCleanup(x.close)
        weston, helper = self.start(x)
        self.wait_for_toplevels(1, helper)
        # Weston's window gets the X focus once: each change of it takes the
        # keyboard away from the Wayland window for a moment.
        (window,) = x.xdotool("search", "--classname", "^weston").stdout.split()
        x.xdotool("windowfocus", "--sync", window)
        for shown, key in enumerate(keys, 1):
            self.wait_for_toplevels(shown, helper, focused=True)
            x.press(window, key, focus=False)
        return helper.wait(timeout=30)

    def test_enter_through_the_compositor_applies_the_skin(self):
        self.assertEqual(self.answer(["Return", "Return"]), 0)
        self.assertEqual(self.sandbox.engine_args()[2:4], ["--name", "Aurora"])

    def test_escape_through_the_compositor_cancels(self):
        self.assertEqual(self.answer(["Escape"]), 3)
        self.assertIsNone(self.sandbox.engine_args())

    def lend_token(self, token):
        """The protocol log of a running instance (under sway) once the
        confirmation for the package a later launch handed over, lending
        `token`, is shown; and the running instance."""
        if shutil.which("sway") is None:
            self.skipTest("needs sway")
        sway = Sway(self.sandbox.root)
        self.addCleanup(sway.close)
        self.protocol = os.path.join(self.sandbox.root, "protocol.log")
        env = self.sandbox.env(WAYLAND_DISPLAY=sway.socket, XDG_RUNTIME_DIR=self.run_dir, QT_QPA_PLATFORM="wayland")
        # The running instance has nothing to do with its own input, so the
        # package handed over is what it takes up.
        with open(self.protocol, "w") as log:
            first = subprocess.Popen([os.environ["VELMORA_HELPER"], "https://velmora.app/skins/aurora.png"],
                                     env=dict(env, WAYLAND_DEBUG="client"), stdout=subprocess.DEVNULL, stderr=log)
        self.addCleanup(stop, first)
        deadline = time.monotonic() + 20
        while not glob.glob(os.path.join(self.run_dir, "*.lock")):
            self.assertLess(time.monotonic(), deadline, "the first launch never took the instance")
            time.sleep(0.01)
        later = subprocess.run([os.environ["VELMORA_HELPER"], self.package],
                               env=dict(env, XDG_ACTIVATION_TOKEN=token), capture_output=True, timeout=30)
        self.assertEqual((later.returncode, later.stderr), (0, b""))
        return self.wait_for_toplevels(1, first), first

    def test_a_token_lent_by_a_later_launch_activates_the_alert_it_brings_up(self):
        text, _ = self.lend_token("some-token")
        activation = re.compile(r'xdg_activation_v1@\d+\.activate\("some-token", wl_surface@(\d+)\)')
        deadline = time.monotonic() + 10
        while not activation.search(text):
            self.assertLess(time.monotonic(), deadline, "no activation with the lent token:\n" + text[-1500:])
            time.sleep(0.05)
            with open(self.protocol, errors="replace") as log:
                text = log.read()
        # The surface is the one the confirmation's toplevel was made from.
        sent = activation.search(text)
        shells = re.findall(r"get_xdg_surface\(new id xdg_surface@\d+, wl_surface@(\d+)\)", text[:sent.start()])
        self.assertEqual(shells[-1:], [sent.group(1)])
        self.assertEqual(len(activation.findall(text)), 1)

    def test_a_lent_token_too_long_for_a_wayland_message_is_not_sent(self):
        # Sending it would end the instance's Wayland connection, and the instance.
        _, first = self.lend_token("x" * 5000)
        with self.assertRaises(subprocess.TimeoutExpired):
            first.wait(timeout=2)
        with open(self.protocol, errors="replace") as log:
            self.assertNotIn(".activate(", log.read())


if __name__ == "__main__":
    reason = why_not()
    if reason:
        print("skipped: missing " + reason)
        sys.exit(SKIPPED)
    harness.main()
