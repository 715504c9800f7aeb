"""Faults injected around the real helper (console front end): a temporary
directory that fills up or cannot be written, an engine that dies, floods or
lingers, and a skin site that misbehaves. Each must end in a clear alert with
the right exit status, never in a crash or a hang.

The file-system faults mount a tmpfs and the server faults run the skin site,
both in namespaces of a user namespace (see skin_site.py). Where those cannot
be made, these tests skip and say why.
"""

import contextlib
import os
import resource
import shutil
import signal
import subprocess
import tempfile
import time
import unittest

import harness
from harness import BUILD_DIR, HelperTestCase
import skin_site
from skin_packages import STORED, write_package

CONFIRM = "Velmora Helper will use the local open-source engine and may restart Orvane."
MANIFEST = '{"schemaVersion": 1, "name": "Aurora", "image": "background.png"}'
IMAGE = bytes((i * 13 + 5) % 256 for i in range(50_000))
LINK = "velmora://apply?image=https://velmora.app/%s&name=Aurora"
APPLIED = "Skin applied\nOrvane is reopening with Aurora.\n\n"
NO_SPACE = "No space left on device"
READ_ONLY = "Read-only file system"

SITE_UNAVAILABLE = skin_site.unavailable()
SITES = {}


def tearDownModule():
    for site, root in SITES.values():
        site.close()
        shutil.rmtree(root, ignore_errors=True)


def make_package(directory, image=IMAGE, name="Aurora.velmora"):
    return write_package(os.path.join(directory, name), MANIFEST, {"background.png": image}, compression=STORED)


@contextlib.contextmanager
def tmpfs(namespace, path, options):
    """A tmpfs at `path` as `namespace` sees it."""
    namespace.run(["mount", "-t", "tmpfs", "-o", options, "tmpfs", path], privileged=True, check=True)
    try:
        yield
    finally:
        namespace.run(["umount", "-l", path], privileged=True, check=True)


def site(kind):
    """The skin site in a namespace, with a certificate for velmora.app from
    the trusted test CA: "good", or "h2-flood", a server that answers over
    HTTP/2 with headers without end. Made once per kind."""
    if kind not in SITES:
        ca = skin_site.make_test_ca(os.path.join(BUILD_DIR, "test-ca"))
        server = os.path.join(harness.HERE, "..", "support", "h2_flood_server.py") \
            if kind == "h2-flood" else None
        root = tempfile.mkdtemp(prefix="velmora-fault-site-")
        with open(os.path.join(root, "aurora.png"), "wb") as image:
            image.write(IMAGE)
        SITES[kind] = (skin_site.SkinSite(ca, root, server=server).__enter__(), root)
    return SITES[kind][0]


class FaultCase(HelperTestCase):
    def apply_package(self, path, wrap=lambda argv: argv, **env):
        return self.helper(["--console", path], answer="y\n", wrap=wrap, env=self.sandbox.env(**env))

    def apply_link(self, kind, route, **env):
        return self.helper(["--console", LINK % route], answer="y\n", wrap=site(kind).command,
                           env=self.sandbox.env(**env))

    def assertEndsWithAlert(self, run, status, title, message_part):
        """The run ended with `status` after one alert titled `title` whose
        text holds `message_part`, and did not crash. Problems are said on
        standard error, "Skin applied" on standard output."""
        self.assertEqual(run.returncode, status, run.stdout[-2000:] + run.stderr[-2000:])
        self.assertNotIn("Sanitizer", run.stderr)
        stream = run.stdout if status == 0 else run.stderr
        self.assertTrue(stream.endswith("\n\n"), stream[-500:])
        head, sep, rest = stream.rpartition(title + "\n")
        self.assertTrue(sep, "no %r alert in %r" % (title, stream[-500:]))
        self.assertIn(message_part, rest)

    def assertEngineNotRun(self):
        self.assertIsNone(self.sandbox.engine_args())


@unittest.skipIf(SITE_UNAVAILABLE, "file-system fault tests skipped: %s" % SITE_UNAVAILABLE)
class TemporaryDirectoryFaults(FaultCase):
    def package_namespace(self):
        namespace = skin_site.Namespace()
        self.addCleanup(namespace.close)
        return namespace

    def test_tmpfs_filling_during_extraction(self):
        self.sandbox.install_engine()
        package = make_package(self.sandbox.root, image=os.urandom(3 * 1024 * 1024))
        namespace = self.package_namespace()
        with tmpfs(namespace, self.sandbox.tmp, "size=1m"):
            run = self.apply_package(package, wrap=namespace.command)
        self.assertEndsWithAlert(run, 1, "Invalid Orvane skin",
                                 "The skin package could not be extracted: " + NO_SPACE + ".")
        self.assertEngineNotRun()

    def test_read_only_temporary_directory_for_a_package(self):
        self.sandbox.install_engine()
        package = make_package(self.sandbox.root)
        namespace = self.package_namespace()
        with tmpfs(namespace, self.sandbox.tmp, "ro,size=1m"):
            run = self.apply_package(package, wrap=namespace.command)
        self.assertEndsWithAlert(run, 1, "Invalid Orvane skin", self.sandbox.tmp + "/")
        self.assertIn(READ_ONLY, run.stderr)
        self.assertEngineNotRun()

    def test_tmpfs_filling_during_the_download(self):
        self.sandbox.install_engine()
        with tmpfs(site("good").namespace, self.sandbox.tmp, "size=1m"):
            run = self.apply_link("good", "bytes/4000000/big.png")
        self.assertEndsWithAlert(run, 1, "Could not apply skin", NO_SPACE)
        self.assertEngineNotRun()

    def test_read_only_temporary_directory_for_a_link(self):
        self.sandbox.install_engine()
        with tmpfs(site("good").namespace, self.sandbox.tmp, "ro,size=1m"):
            run = self.apply_link("good", "aurora.png")
        self.assertEndsWithAlert(run, 1, "Could not apply skin", READ_ONLY)
        self.assertEngineNotRun()


def engine(body):
    return "#!/bin/sh\nprintf '%s\\0' \"$@\" > \"$HOME/engine-args\"\n" + body


class EngineFaults(FaultCase):
    def setUp(self):
        super().setUp()
        self.package = make_package(self.sandbox.root)

    def test_engine_killed_by_a_signal(self):
        cases = [
            ("silent", "kill -KILL $$\n", "The local Orvane skin engine failed."),
            ("after a word", "echo 'restarting Orvane'\nkill -TERM $$\n", "restarting Orvane"),
        ]
        for what, body, message in cases:
            with self.subTest(what):
                self.sandbox.install_engine(body=engine(body))
                run = self.apply_package(self.package)
                self.assertEndsWithAlert(run, 1, "Could not apply skin", message)
                self.assertTrue(run.stderr.endswith("Could not apply skin\n%s\n\n" % message))

    def test_engine_writing_50_mb_of_output(self):
        flood = "head -c 52428800 /dev/zero | tr '\\000' x\n"
        for status in (0, 1):
            with self.subTest(status=status):
                self.sandbox.install_engine(body=engine(flood + "exit %d\n" % status))
                started = time.monotonic()
                run = self.apply_package(self.package)
                self.assertLess(time.monotonic() - started, 60)
                if status == 0:
                    self.assertEndsWithAlert(run, 0, "Skin applied", "Orvane is reopening with Aurora.")
                    self.assertLess(len(run.stdout), 1000)
                else:
                    # The alert shows the first mebibyte of the output, no more.
                    self.assertEndsWithAlert(run, 1, "Could not apply skin", "x" * 1000)
                    alert = run.stderr.rpartition("Could not apply skin\n")[2]
                    self.assertEqual(alert, "x" * (1 << 20) + "\n\n")

    def test_engine_closing_its_output_and_running_on(self):
        # The helper waits for the engine to end, without spinning meanwhile.
        self.sandbox.install_engine(body=engine("exec >&- 2>&-\nsleep 3\nexit 0\n"))
        before = resource.getrusage(resource.RUSAGE_CHILDREN)
        started = time.monotonic()
        run = self.apply_package(self.package)
        elapsed = time.monotonic() - started
        after = resource.getrusage(resource.RUSAGE_CHILDREN)
        self.assertEndsWithAlert(run, 0, "Skin applied", "Orvane is reopening with Aurora.")
        self.assertGreaterEqual(elapsed, 3)
        cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
        self.assertLess(cpu, 2.0, "the helper used %.1f s of CPU while waiting" % cpu)

    def test_engine_leaving_a_process_that_holds_its_output(self):
        # Once the engine itself has exited, a background process that still
        # holds the output pipe does not keep the helper waiting.
        pid_file = os.path.join(self.sandbox.home, "background.pid")
        self.sandbox.install_engine(body=engine("sleep 30 &\necho $! > \"$HOME/background.pid\"\n"
                                                "echo done\nexit 0\n"))
        self.addCleanup(self.kill_background, pid_file)
        started = time.monotonic()
        run = self.apply_package(self.package)
        self.assertEndsWithAlert(run, 0, "Skin applied", "Orvane is reopening with Aurora.")
        self.assertLess(time.monotonic() - started, 20)

    @staticmethod
    def kill_background(pid_file):
        with contextlib.suppress(OSError, ValueError):
            with open(pid_file) as f:
                os.kill(int(f.read()), signal.SIGKILL)


@unittest.skipIf(SITE_UNAVAILABLE, "server fault tests skipped: %s" % SITE_UNAVAILABLE)
class ServerFaults(FaultCase):
    def test_connection_reset_mid_body(self):
        self.sandbox.install_engine()
        run = self.apply_link("good", "reset/200000/cut.png")
        self.assertEndsWithAlert(run, 1, "Could not apply skin",
                                 "The connection to velmora.app broke off before the skin image "
                                 "was complete. Try again later.")
        self.assertEngineNotRun()

    def test_header_floods_end_at_once_in_bounded_memory(self):
        # Headers without end over HTTP/1.1 (header lines, or one status line)
        # and over HTTP/2 (CONTINUATION frames): each ends with an alert long
        # before the stall timer would, without holding the flood in memory.
        cases = [
            ("HTTP/1.1 header lines", "good", "endless-headers/x.png",
             "The skin image could not be downloaded."),
            ("HTTP/1.1 status line", "good", "endless-status/x.png",
             "The skin image could not be downloaded."),
            ("HTTP/2 CONTINUATION frames", "h2-flood", "x.png",
             "The connection to velmora.app broke off"),
        ]
        self.sandbox.install_engine()
        for what, kind, route, message in cases:
            with self.subTest(what):
                run = self.helper(["--console", LINK % route], answer="y\n",
                                  wrap=site(kind).command, env=self.sandbox.env(), timeout=30)
                self.assertEndsWithAlert(run, 1, "Could not apply skin", message)
                self.assertEngineNotRun()
                # The largest any helper run of this process reached, in KiB.
                peak = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
                self.assertLess(peak, 200 * 1024)

    def test_little_memory_or_few_files_end_with_an_alert(self):
        # Under a 100 MiB address space, or 8 open files (as the soft limit
        # only, or both), the run ends with an alert and status 1: never a
        # crash, never a hang.
        self.sandbox.install_engine()
        for limit in ("--as=104857600", "--nofile=8:", "--nofile=8"):
            for mode, answer, title in (("--console", "y\n", "Could not apply skin"),
                                        ("--check", "", "Could not check skin")):
                with self.subTest(limit=limit, mode=mode):
                    run = self.helper([mode, LINK % "aurora.png"], answer=answer, timeout=30,
                                      wrap=lambda argv: site("good").command(["prlimit", limit] + argv),
                                      env=self.sandbox.env())
                    self.assertEndsWithAlert(run, 1, title, "not enough memory")
                    self.assertEngineNotRun()

if __name__ == "__main__":
    harness.main()
