"""The link path end to end: the real helper, console front end, production
domain, against a local HTTPS site in a network namespace."""

import os
import select
import shlex
import shutil
import signal
import subprocess
import sys
import tempfile
import unittest

import harness
from harness import BUILD_DIR, HELPER, HelperTestCase
import skin_site
from skin_packages import png, write_package

CONFIRM = ("Velmora Helper will use the local open-source engine and may restart Orvane.\n\n"
           "From: velmora.app\nColors: accent #aabbcc, secondary #112233, highlight #8a6cff")
IMAGE = bytes((i * 31 + 7) % 256 for i in range(300_000))
LINK = ("velmora://apply?image=https://velmora.app/skins/aurora.png&name=Aurora"
        "&accent=%23AABBCC&secondary=%23112233")

SITE = None
WHY_NOT = skin_site.unavailable()


def setUpModule():
    global SITE, SITE_ROOT
    if WHY_NOT:
        return
    SITE_ROOT = tempfile.mkdtemp(prefix="velmora-site-")
    os.makedirs(os.path.join(SITE_ROOT, "skins"))
    with open(os.path.join(SITE_ROOT, "skins", "aurora.png"), "wb") as image:
        image.write(IMAGE)
    ca = skin_site.make_test_ca(os.path.join(BUILD_DIR, "test-ca"))
    SITE = skin_site.SkinSite(ca, SITE_ROOT).__enter__()


def tearDownModule():
    if SITE:
        SITE.close()
        shutil.rmtree(SITE_ROOT, ignore_errors=True)


@unittest.skipIf(WHY_NOT, "link end-to-end tests skipped: %s" % WHY_NOT)
class LinkPath(HelperTestCase):
    def apply(self, link=LINK, answer="y\n", **env):
        return self.helper(["--console", link], answer=answer, wrap=SITE.command, env=self.sandbox.env(**env))

    def test_success_hands_the_engine_the_exact_values_and_image(self):
        self.sandbox.install_engine()
        run = self.apply()
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        self.assertEqual(run.stdout, "Apply Aurora to Orvane?\n%s\nApply skin? [y/N] "
                         "Skin applied\nOrvane is reopening with Aurora.\n\n" % CONFIRM)
        self.assertEqual(run.stderr, "")
        args = self.sandbox.engine_args()
        self.assertEqual(len(args), 10)
        image = args[1]
        self.assertEqual(args, ["--image", image, "--name", "Aurora", "--accent", "#aabbcc",
                                "--secondary", "#112233", "--highlight", "#8a6cff"])
        self.assertRegex(image, r"^%s/[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}/background\.png$"
                         % self.sandbox.tmp)
        with open(image, "rb") as stored:
            self.assertEqual(stored.read(), IMAGE)

    def test_engine_problems_end_in_could_not_apply(self):
        cases = [
            ("missing", None, "Velmora engine is missing. Run the Velmora installer again."),
            ("not executable", dict(executable=False), "Velmora engine is missing. Run the Velmora installer again."),
            ("fails with output", dict(mode="fail-with-output"), "Orvane could not be restarted."),
            ("fails silently", dict(mode="fail-silently"), "The local Orvane skin engine failed."),
        ]
        for what, engine, message in cases:
            with self.subTest(what):
                self.sandbox = type(self.sandbox)()
                self.addCleanup(self.sandbox.cleanup)
                env = {}
                if engine is not None:
                    self.sandbox.install_engine(executable=engine.get("executable", True))
                    env["ENGINE_MODE"] = engine.get("mode", "")
                run = self.apply(**env)
                self.assertEqual(run.returncode, 1, run.stderr)
                self.assertTrue(run.stdout.endswith("Apply skin? [y/N] "), run.stdout)
                self.assertEqual(run.stderr, "Could not apply skin\n%s\n\n" % message)
                # The image was downloaded before the engine was looked for.
                self.assertEqual(len(self.sandbox.stored_files()), 1)

    def test_missing_image_is_not_downloaded(self):
        self.sandbox.install_engine()
        missing = "velmora://apply?image=https://www.velmora.app/skins/none.png"
        run = self.apply(missing)
        self.assertEqual((run.returncode, run.stderr),
                         (1, "Could not apply skin\nThe skin image could not be downloaded.\n\n"))
        self.assertIn("\nFrom: www.velmora.app\n", run.stdout)
        # A check applies nothing, and does not say it could not apply.
        run = self.helper(["--check", missing], wrap=SITE.command)
        self.assertEqual((run.returncode, run.stdout, run.stderr),
                         (1, "", "Could not check skin\nThe skin image could not be downloaded.\n\n"))
        self.assertIsNone(self.sandbox.engine_args())

    def test_progress_shows_on_a_terminal_and_is_erased(self):
        self.sandbox.install_engine()
        inner = shlex.join([HELPER, "--console", LINK])
        run = self.helper([], answer="y\n", env=self.sandbox.env(),
                          wrap=lambda _: SITE.command(["script", "-qec", inner, "/dev/null"]))
        self.assertEqual(run.returncode, 0, run.stdout)
        self.assertRegex(run.stdout, r"Downloading skin image: [0-9.]+ MiB of 0\.3 MiB")
        # The line is erased (carriage return, erase to end of line) before the alert.
        self.assertIn("\x1b[KSkin applied\n", run.stdout)

    def test_a_signal_at_the_question_or_during_the_download_leaves_nothing(self):
        # Ctrl-C cancels, as the Cancel button does; the other signals end the
        # run as a shell expects (128 + the signal), once what the engine never
        # received is gone: the extracted package, the partial download.
        self.sandbox.install_engine()
        package = write_package(
            os.path.join(self.sandbox.root, "Aurora.velmora"),
            {"schemaVersion": 1, "name": "Aurora", "image": "background.png",
             "colors": {"accent": "#3AA7C5", "secondary": "#78E2C4", "highlight": "#8A6CFF"}},
            {"background.png": png(4, 4)})
        slow = "velmora://apply?image=https://velmora.app/trickle/3000000/20000/100/slow.png"
        statuses = {signal.SIGINT: 3, signal.SIGTERM: 143, signal.SIGHUP: 129, signal.SIGPIPE: 141}
        for when, target in (("at the question", package), ("during the download", slow)):
            for number, status in statuses.items():
                with self.subTest(when=when, signal=number.name):
                    for leftover in os.listdir(self.sandbox.tmp):
                        shutil.rmtree(os.path.join(self.sandbox.tmp, leftover))
                    helper = subprocess.Popen(SITE.command([HELPER, "--console", target]),
                                              env=self.sandbox.env(), stdin=subprocess.PIPE,
                                              stdout=subprocess.PIPE, stderr=subprocess.PIPE)
                    self.addCleanup(lambda h=helper: h.poll() is None and h.kill())
                    out = bytearray()

                    def asked():
                        if select.select([helper.stdout], [], [], 0.1)[0]:
                            out.extend(os.read(helper.stdout.fileno(), 4096))
                        return out.endswith(b"Apply skin? [y/N] ")

                    harness.wait_until(asked, "the question is asked")
                    if target == slow:
                        helper.stdin.write(b"y\n")
                        helper.stdin.flush()
                    harness.wait_until(self.sandbox.stored_files,
                                       "the download has begun" if target == slow else "the package is extracted")
                    helper.send_signal(number)
                    rest, err = helper.communicate(timeout=20)
                    self.assertEqual((helper.returncode, err, bytes(out) + rest), (status, b"", bytes(out)))
                    self.assertEqual(os.listdir(self.sandbox.tmp), [],
                                     "the package or the partial file and its folder are removed")
                    self.assertIsNone(self.sandbox.engine_args())

    def test_refused_link_is_an_invalid_skin_link(self):
        run = self.helper(["--console", "velmora://apply?image=https://evil.test/a.png"], wrap=SITE.command)
        self.assertEqual((run.returncode, run.stdout), (1, ""))
        self.assertEqual(run.stderr, "Invalid skin link\n"
                         "Velmora Helper only downloads HTTPS images from velmora.app.\n\n")


@unittest.skipIf(WHY_NOT, "network path tests skipped: %s" % WHY_NOT)
class NetworkPaths(HelperTestCase):
    """How the helper reaches the site: through an IPv6 address that is dead,
    and through the proxy the environment names."""

    def check(self, site, env=None):
        return self.helper(["--check", LINK], wrap=site.command, env=env, timeout=30)

    def test_a_dead_ipv6_address_falls_back_to_ipv4_at_once(self):
        # velmora.app resolves to 2001:db8::2 first, whose packets vanish on
        # a link that nobody answers on, and to 127.0.0.1. Trying one address
        # at a time would wait for the IPv6 connection to time out (minutes),
        # well past this run's time limit.
        ca = skin_site.make_test_ca(os.path.join(BUILD_DIR, "test-ca"))
        link = [
            "ip link add void0 type veth peer name void1",
            "ip link set void0 up",
            "ip link set void1 up",
            "ip addr add 2001:db8::1/64 dev void0 nodad",
            # A neighbour no interface has: frames for it reach void1, whose
            # link-layer address they do not bear, and are dropped there.
            "ip neigh add 2001:db8::2 lladdr 02:00:00:00:00:02 dev void0 nud permanent"]
        with skin_site.SkinSite(ca, SITE_ROOT, addresses=("2001:db8::2", "127.0.0.1"), setup=link,
                                log_file=os.path.join(self.sandbox.root, "requests.log")) as site:
            run = self.check(site)
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertTrue(run.stdout.startswith("name: Aurora\n"), run.stdout)

    def test_all_proxy_is_honoured(self):
        state = os.path.join(self.sandbox.root, "proxy")
        os.makedirs(state)
        port_file, log = os.path.join(state, "port"), os.path.join(state, "log")
        proxy = subprocess.Popen(SITE.command(
            [sys.executable, os.path.join(harness.HERE, "..", "support", "connect_proxy.py"),
             "--port-file", port_file, "--log", log]))
        self.addCleanup(proxy.wait)
        self.addCleanup(proxy.terminate)
        harness.wait_until(lambda: os.path.exists(port_file) or proxy.poll() is not None,
                           "the proxy has started", timeout=10)
        self.assertIsNone(proxy.poll(), "the proxy did not start")
        with open(port_file) as f:
            port = int(f.read())

        run = self.check(SITE, self.sandbox.env(all_proxy="http://127.0.0.1:%d" % port))
        self.assertEqual(run.returncode, 0, run.stderr)
        with open(log) as f:
            self.assertEqual(f.read(), "CONNECT velmora.app:443\n")

        # A proxy that is not there is named as such.
        proxy.terminate()
        proxy.wait()
        run = self.check(SITE, self.sandbox.env(all_proxy="http://127.0.0.1:%d" % port))
        self.assertEqual((run.returncode, run.stderr),
                         (1, "Could not check skin\nThe proxy 127.0.0.1 could not be reached. "
                             "Check the proxy settings.\n\n"))


if __name__ == "__main__":
    harness.main()
