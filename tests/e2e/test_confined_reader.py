"""Packages whose image is built to overwhelm a decoder, on a real X server:
the question comes up at once, answering it is never held back by the
thumbnail, the decoder's memory stays in the confined reader, and nothing of
the reader outlives the question. Also the helper under tight limits of its
own."""

import os
import subprocess
import time
import unittest

from desktop_session import XServer, missing_tools, stop
import harness
from harness import HELPER, HelperTestCase

WHY_NOT = missing_tools("xprop")
SUPPORT = os.path.join(harness.HERE, "..", "support")
READER = "velmora-package-reader"


def readers(tmp):
    """Process ids of the package readers running (or not yet reaped) for an
    extraction directory under `tmp`."""
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open("/proc/%s/cmdline" % pid, "rb") as cmdline:
                argv = cmdline.read().split(b"\0")
        except OSError:
            continue
        if argv[0].endswith(b"/" + READER.encode()) and argv[2:3] and \
                argv[2].startswith(tmp.encode() + b"/"):
            found.append(int(pid))
    return found


def peak_kib(pid):
    """The peak resident size of process `pid`, in KiB (0 once it is gone)."""
    try:
        with open("/proc/%d/status" % pid) as status:
            for line in status:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def cpu_ticks(pid):
    """The processor time process `pid` has used in user mode, in clock ticks
    (0 once it is gone)."""
    try:
        with open("/proc/%d/stat" % pid) as stat:
            # utime, the 14th field; the command name before it may hold spaces.
            return int(stat.read().rsplit(")", 1)[1].split()[11])
    except (OSError, IndexError, ValueError):
        return 0


class ImagePackages(HelperTestCase):
    @classmethod
    def setUpClass(cls):
        cls.packages = os.path.join(os.environ.get("TMPDIR", "/tmp"),
                                    "velmora-bombs-%d" % os.getpid())
        subprocess.run(["python3", os.path.join(SUPPORT, "make_image_packages.py"), cls.packages],
                       check=True)

    @classmethod
    def tearDownClass(cls):
        subprocess.run(["rm", "-rf", cls.packages])

    def package(self, name):
        return os.path.join(self.packages, name)


@unittest.skipIf(WHY_NOT, "confined reader dialog tests skipped: missing " + WHY_NOT)
class DecoderBombs(ImagePackages):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.x = XServer(window_manager=False)

    @classmethod
    def tearDownClass(cls):
        cls.x.close()
        super().tearDownClass()

    def setUp(self):
        super().setUp()
        self.sandbox.install_engine()
        run_dir = os.path.join(self.sandbox.root, "run")
        os.makedirs(run_dir, mode=0o700)
        self.env = self.sandbox.env(DISPLAY=self.x.display, XDG_RUNTIME_DIR=run_dir)

    def ask(self, package):
        """Starts the helper on `package`; returns it and its question's window."""
        process = subprocess.Popen([HELPER, self.package(package)], env=self.env,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        self.addCleanup(stop, process)
        return process, self.x.wait_for_window(process.pid, process=process, modal=True)

    def answer(self, process, window, key):
        """Presses `key` on the question; returns the status and the seconds
        until the question's outcome: the end of the run for Cancel, the final
        alert (then dismissed) for "Apply skin"."""
        start = time.monotonic()
        self.x.press(window, key)
        if key == "Return":
            applied = self.x.wait_for_window(process.pid, other_than=(window,), process=process,
                                             modal=True)
            seconds = time.monotonic() - start
            self.x.press(applied, "Return")
            return process.wait(timeout=20), seconds
        status = process.wait(timeout=20)
        return status, time.monotonic() - start

    def test_a_scan_bomb_never_holds_up_the_answer(self):
        for key, status in (("Escape", 3), ("Return", 0)):
            with self.subTest(key=key):
                process, window = self.ask("scan-bomb.velmora")
                # The reader is decoding, for hours if nobody stops it.
                harness.wait_until(lambda: any(cpu_ticks(pid) for pid in readers(self.sandbox.tmp)),
                                   "the reader has begun to use the processor")
                self.assertEqual(len(readers(self.sandbox.tmp)), 1)
                ended, seconds = self.answer(process, window, key)
                self.assertEqual(ended, status, process.stderr.read())
                self.assertLess(seconds, 1.5)
                self.assertEqual(readers(self.sandbox.tmp), [], "the reader outlived the question")
                if status == 3:
                    self.assertEqual(self.sandbox.stored_files(), [])
                else:
                    self.assertEqual(self.sandbox.engine_args()[3], "Bomb")

    def test_windows_that_cannot_come_up_end_with_an_alert(self):
        # Qt aborts, crashes or hangs starting its windows with this little;
        # the helper says so instead (a soft limit on files is raised first).
        for limit in ("--as=104857600", "--nofile=8", "--nofile=12"):
            with self.subTest(limit=limit):
                done = subprocess.run(["prlimit", limit, "--", HELPER, self.package("picture.velmora")],
                                      env=self.env, capture_output=True, text=True, timeout=30)
                self.assertEqual(done.returncode, 1, done.stderr)
                self.assertTrue(done.stderr.startswith("Could not apply skin\n"), done.stderr)
                self.assertEqual(self.sandbox.stored_files(), [])

    def test_a_memory_bomb_stays_in_the_reader_and_within_its_limit(self):
        process, window = self.ask("memory-bomb.velmora")
        reader = readers(self.sandbox.tmp)
        deadline = time.monotonic() + 3
        peaks = {"helper": 0, "reader": 0}
        while time.monotonic() < deadline and readers(self.sandbox.tmp):
            peaks["helper"] = max(peaks["helper"], peak_kib(process.pid))
            peaks["reader"] = max([peaks["reader"]] + [peak_kib(pid) for pid in reader])
            time.sleep(0.02)
        self.assertEqual(readers(self.sandbox.tmp), [], "the reader did not end by the deadline")
        self.assertLess(peaks["helper"], 150 * 1024, peaks)
        self.assertLess(peaks["reader"], 1024 * 1024, peaks)
        status, _ = self.answer(process, window, "Return")
        self.assertEqual(status, 0, process.stderr.read())


class TightLimits(ImagePackages):
    """With 100 MiB of address space or 8 open files, a package ends with an
    alert and a status, never a hang or a crash."""

    def test_a_package_under_tight_limits_ends_with_an_alert(self):
        for limit in ("--as=104857600", "--nofile=8"):
            with self.subTest(limit=limit):
                done = self.helper(["--console", self.package("picture.velmora")], answer="y\n",
                                   wrap=lambda argv: ["prlimit", limit, "--"] + argv, timeout=30)
                self.assertIn(done.returncode, (0, 1), done.stderr)
                self.assertTrue(done.stdout.strip() or done.stderr.strip())
                self.assertEqual(readers(self.sandbox.tmp), [])


if __name__ == "__main__":
    harness.main()
