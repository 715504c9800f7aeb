"""The package path end to end: the real helper, console front end, a
recording engine, packages made here."""

import itertools
import os
import pwd
import shutil
import subprocess
import threading
import unittest

import harness
import make_world_packages
from harness import HelperTestCase
from skin_packages import write_package

CONFIRM = ("Velmora Helper will use the local open-source engine and may restart Orvane.\n\n"
           "From: Aurora [v2].velmora\nColors: accent #3aa7c5, secondary #e28a78, highlight #8a6cff")
IMAGE = bytes((i * 13 + 5) % 256 for i in range(200_000))
MANIFEST = ('{"schemaVersion": 1, "name": "Aurora", "image": "background.png",'
            ' "colors": {"accent": "#3AA7C5", "highlight": 7}}')


class PackagePath(HelperTestCase):
    def package(self, name="Aurora.velmora", entries=None):
        path = os.path.join(self.sandbox.root, name)
        entries = entries if entries is not None else {"theme.json": MANIFEST, "background.png": IMAGE}
        return write_package(path, None, entries)

    def test_success_hands_the_engine_the_extracted_image(self):
        self.sandbox.install_engine()
        # Wildcard characters in the file name must name this file and no other.
        path = self.package("Aurora [v2].velmora")
        self.package("Aurora v.velmora", {"theme.json": MANIFEST.replace("Aurora", "Decoy"),
                                          "background.png": IMAGE})
        run = self.helper(["--console", path], answer="yes\n")
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        self.assertEqual(run.stdout, "Apply Aurora to Orvane?\n%s\nApply skin? [y/N] "
                         "Skin applied\nOrvane is reopening with Aurora.\n\n" % CONFIRM)
        self.assertEqual(run.stderr, "")
        args = self.sandbox.engine_args()
        self.assertEqual(args[0::2], ["--image", "--name", "--accent", "--secondary", "--highlight"])
        self.assertEqual(args[3::2], ["Aurora", "#3aa7c5", "#e28a78", "#8a6cff"])
        self.assertRegex(args[1], r"^%s/[0-9A-F-]{36}/background\.png$" % self.sandbox.tmp)
        self.assertEqual(self.sandbox.engine_image(), IMAGE)

    def test_refusals_show_invalid_orvane_skin_and_never_run_the_engine(self):
        empty = os.path.join(self.sandbox.root, "Empty.velmora")
        open(empty, "wb").close()
        cases = [
            (empty, "The skin package is empty or too large."),
            (self.package("Slip.velmora", {"theme.json": MANIFEST, "../background.png": IMAGE}),
             "The skin package contains an unsafe path."),
            (self.package("Many.velmora", {"f%d" % i: b"x" for i in range(13)}),
             "The skin package expands beyond the safety limit."),
            (self.package("NoSchema.velmora", {"theme.json": "{}", "background.png": IMAGE}),
             "This skin package uses an unsupported schema version."),
            (self.package("Zip.zip"), "Choose a .velmora package."),
        ]
        self.sandbox.install_engine()
        for path, message in cases:
            with self.subTest(os.path.basename(path)):
                run = self.helper(["--console", path], answer="y\n")
                self.assertEqual((run.returncode, run.stdout, run.stderr),
                                 (1, "", "Invalid Orvane skin\n%s\n\n" % message))
        self.assertIsNone(self.sandbox.engine_args())
        self.assertEqual(os.listdir(self.sandbox.tmp), [])

    def test_a_package_as_desktops_and_file_managers_name_it(self):
        # A capital extension, a name that is not UTF-8 (as a file URL escapes
        # it, and as bytes), and a link to the package, as a desktop shortcut
        # or a download folder's alias is.
        self.sandbox.install_engine()
        latin1 = os.fsencode(self.sandbox.root) + b"/caf\xe9.velmora"
        os.rename(self.package(), latin1)
        alias = os.path.join(self.sandbox.root, "Alias.velmora")
        os.symlink(os.fsdecode(latin1), alias)
        for given in ("file://" + self.package("Loud.VELMORA"),
                      "file://" + os.fsdecode(latin1).replace("\udce9", "%E9"),
                      os.fsdecode(latin1), alias):
            with self.subTest(given):
                run = self.helper(["--console", given], answer="y\n")
                self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
                self.assertEqual(self.sandbox.engine_args()[3], "Aurora")

    def test_engine_failure_shows_its_words(self):
        self.sandbox.install_engine()
        run = self.helper(["--console", self.package()], answer="y\n",
                          env=self.sandbox.env(ENGINE_MODE="fail-with-output"))
        self.assertEqual((run.returncode, run.stderr), (1, "Could not apply skin\nOrvane could not be restarted.\n\n"))
        # The engine had the image; it stays.
        self.assertEqual(len(os.listdir(self.sandbox.tmp)), 1)

    def test_check_prints_the_request_for_skin_authors(self):
        self.sandbox.install_engine()
        run = self.helper(["--check", self.package()])
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        lines = run.stdout.splitlines()
        self.assertEqual(lines[0], "name: Aurora")
        self.assertRegex(lines[1], r"^image: %s/[0-9A-F-]{36}/background\.png$" % self.sandbox.tmp)
        self.assertEqual(lines[2:], ["accent: #3aa7c5", "secondary: #e28a78", "highlight: #8a6cff"])
        self.assertIsNone(self.sandbox.engine_args())

        run = self.helper(["--check", self.package("Bad.velmora", {"theme.json": "[]"})])
        self.assertEqual((run.returncode, run.stdout, run.stderr),
                         (1, "", "Invalid Orvane skin\ntheme.json is not valid JSON.\n\n"))

    def test_unicode_names_whatever_the_locale(self):
        # Python's zipfile and bsdtar both mark the name as UTF-8, in
        # headers the zip tool prints differently under "C".
        manifest = MANIFEST.replace("background.png", "fa\u00e7ade.png")
        python = self.package("Python.velmora", {"theme.json": manifest, "fa\u00e7ade.png": IMAGE})
        source = os.path.join(self.sandbox.root, "source")
        os.makedirs(source)
        for name, data in (("theme.json", manifest.encode()), ("fa\u00e7ade.png", IMAGE)):
            with open(os.path.join(source, name), "wb") as f:
                f.write(data)
        bsdtar = os.path.join(self.sandbox.root, "Bsdtar.velmora")
        subprocess.run(["bsdtar", "--format", "zip", "-cf", bsdtar, "theme.json", "fa\u00e7ade.png"],
                       cwd=source, check=True, env=dict(os.environ, LC_ALL="C.UTF-8"))
        def without_locale(**extra):
            return {k: v for k, v in self.sandbox.env(**extra).items() if not k.startswith(("LANG", "LC_"))}

        environments = {
            "LANG=C": dict(without_locale(), LANG="C"),
            "LC_ALL=C": self.sandbox.env(LC_ALL="C"),
            "env -i": {"TMPDIR": self.sandbox.tmp},
        }
        for (label, env), path in itertools.product(environments.items(), (python, bsdtar)):
            with self.subTest(label, package=os.path.basename(path)):
                run = self.helper(["--check", path], env=env)
                self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
                self.assertRegex(run.stdout.splitlines()[1], r"/fa\u00e7ade\.png$")

    def test_packages_as_other_systems_make_them(self):
        # A folder zipped whole by zip(1), as Finder and Explorer zip it; the
        # names Explorer writes in code page 437 (emulated byte for byte); a
        # UTF-8 name flagged as such in an archive made on MS-DOS, which is
        # what Java's jar writes.
        source = os.path.join(self.sandbox.root, "source")
        os.makedirs(os.path.join(source, "Aurora"))
        for name, data in (("theme.json", MANIFEST.encode()), ("background.png", IMAGE)):
            with open(os.path.join(source, "Aurora", name), "wb") as f:
                f.write(data)
        folder = os.path.join(self.sandbox.root, "Folder.velmora")
        subprocess.run(["zip", "-q", "-r", folder, "Aurora"], cwd=source, check=True)
        green = "Hintergrund-gr\u00fcn.png"
        explorer = os.path.join(self.sandbox.root, "Explorer.velmora")
        make_world_packages.explorer(explorer, {"theme.json": MANIFEST.replace("background.png", green).encode(),
                                                green: IMAGE})
        cases = [(folder, None, "theme.json is not at the top of the package; it is in Aurora/. "
                                "Zip the skin's files, not their folder."),
                 (explorer, green, None)]
        if shutil.which("jar"):
            cafe = "caf\u00e9.png"
            with open(os.path.join(source, "theme.json"), "w", encoding="utf-8") as f:
                f.write(MANIFEST.replace("background.png", cafe))
            with open(os.path.join(source, cafe), "wb") as f:
                f.write(IMAGE)
            java = os.path.join(self.sandbox.root, "Java.velmora")
            subprocess.run(["jar", "cfM", java, "theme.json", cafe], cwd=source, check=True,
                           env=dict(os.environ, LC_ALL="C.UTF-8"))
            cases.append((java, cafe, None))
        for path, image, refusal in cases:
            with self.subTest(os.path.basename(path)):
                run = self.helper(["--check", path])
                if refusal:
                    self.assertEqual((run.returncode, run.stdout, run.stderr),
                                     (1, "", "Invalid Orvane skin\n%s\n\n" % refusal))
                else:
                    self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
                    image_path = run.stdout.splitlines()[1][len("image: "):]
                    self.assertEqual(os.path.basename(image_path), image)
                    with open(image_path, "rb") as f:
                        self.assertEqual(f.read(), IMAGE)

    def test_a_package_swapped_for_a_fifo_never_blocks(self):
        # The package's path flips between a good package and a FIFO that
        # nobody writes. Each run either opened the package, and then reads
        # only that, or refuses the FIFO at once.
        good = self.package("Good.velmora")
        path = os.path.join(self.sandbox.root, "Flipping.velmora")
        stop = threading.Event()

        def flip():
            spare = os.path.join(self.sandbox.root, "spare")
            while not stop.is_set():
                os.link(good, spare)
                os.rename(spare, path)
                os.mkfifo(spare)
                os.rename(spare, path)

        flipper = threading.Thread(target=flip)
        flipper.start()
        self.addCleanup(flipper.join)
        self.addCleanup(stop.set)
        outcomes = set()
        for _ in range(12):
            run = self.helper(["--check", path], timeout=20)
            outcomes.add(run.returncode)
            if run.returncode == 0:
                self.assertTrue(run.stdout.startswith("name: Aurora\n"), run.stdout)
            else:
                self.assertEqual(run.stderr, "Invalid Orvane skin\nThe skin package is empty or too large.\n\n")
        self.assertTrue(outcomes <= {0, 1})

    def test_a_file_named_like_a_link_is_that_file(self):
        self.package("Aurora:v2.velmora")
        run = self.helper(["--check", "Aurora:v2.velmora"], cwd=self.sandbox.root)
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        self.assertTrue(run.stdout.startswith("name: Aurora\n"), run.stdout)

    def test_without_home_the_engine_is_the_one_in_the_accounts_home(self):
        # In a private mount namespace the account's home (from the password
        # database) is this test's sandbox home, for the helper alone.
        account_home = pwd.getpwuid(os.getuid()).pw_dir
        if os.geteuid() != 0 or shutil.which("unshare") is None or \
                subprocess.run(["unshare", "--mount", "true"], capture_output=True).returncode != 0:
            self.skipTest("needs root and unshare to give the account's home a stand-in")
        record = os.path.join(self.sandbox.root, "engine-run")
        self.sandbox.install_engine(body='#!/bin/sh\nprintf "%%s\\n" "${HOME-unset}" "$4" > %s\n' % record)
        env = self.sandbox.env()
        del env["HOME"]
        mount = ["unshare", "--mount", "--", "sh", "-c", 'mount --bind "$0" "$1" && shift && exec "$@"',
                 self.sandbox.home, account_home]
        run = self.helper(["--console", self.package()], answer="y\n", env=env,
                          wrap=lambda argv: mount + argv)
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        with open(record) as recorded:
            self.assertEqual(recorded.read(), "unset\nAurora\n")


if __name__ == "__main__":
    harness.main()
