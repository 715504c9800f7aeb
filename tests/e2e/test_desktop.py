"""The desktop integration as installed: the files `cmake --install` puts in
place pass the freedesktop validators, the desktop then maps the velmora
scheme and .velmora files to the helper, and xdg-open on a real X server
starts the installed helper, whose window is answered from the keyboard."""

import os
import plistlib
import shutil
import subprocess
import tempfile
import unittest

from desktop_session import XServer, make_package, missing_tools, stop
import harness
from harness import BUILD_DIR, HelperTestCase, RECORDING_ENGINE, Sandbox
import skin_site

SHARE_FILES = [
    "applications/velmora-helper.desktop",
    "doc/velmora-helper/changelog.gz",
    "doc/velmora-helper/copyright",
    "icons/hicolor/64x64/apps/velmora-helper.png",
    "icons/hicolor/scalable/apps/velmora-helper.svg",
    "man/man1/velmora-helper.1.gz",
    "mime/packages/velmora-helper.xml",
]
WHY_NOT = missing_tools("xdg-open", "xdg-mime", "desktop-file-validate", "update-mime-database",
                        "update-desktop-database", "mimetype")
SITE_WHY_NOT = skin_site.unavailable()


def install(prefix, destdir=None):
    """Installs the helper's component, which leaves the build's
    install_manifest.txt (a user's own install) as it is."""
    env = dict(os.environ)
    env.pop("DESTDIR", None)
    if destdir:
        env["DESTDIR"] = destdir
    command = ["cmake", "--install", BUILD_DIR, "--prefix", prefix, "--component", "velmora-helper"]
    return subprocess.run(command, env=env, capture_output=True, text=True, timeout=120)


def desktop_entry(path):
    entry = {}
    with open(path) as lines:
        for line in lines:
            if "=" in line and not line.startswith("#"):
                key, value = line.rstrip("\n").split("=", 1)
                entry[key] = value
    return entry


class Tmp(unittest.TestCase):
    def tmpdir(self):
        path = tempfile.mkdtemp(prefix="velmora-desktop-")
        self.addCleanup(shutil.rmtree, path, True)
        return path


@unittest.skipIf(WHY_NOT, "desktop tests skipped: missing " + WHY_NOT)
class StagedInstall(Tmp):
    @classmethod
    def setUpClass(cls):
        cls.stage = tempfile.mkdtemp(prefix="velmora-stage-")
        cls.installed = install("/usr", destdir=cls.stage)
        cls.share = os.path.join(cls.stage, "usr", "share")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.stage, ignore_errors=True)

    def test_installs_the_helper_and_its_desktop_files_without_touching_the_system(self):
        self.assertEqual(self.installed.returncode, 0, self.installed.stderr)
        self.assertIn("desktop databases left for the target system", self.installed.stdout)
        found = sorted(os.path.relpath(os.path.join(d, f), self.share)
                       for d, _, files in os.walk(self.share) for f in files)
        self.assertEqual(found, SHARE_FILES)
        self.assertTrue(os.access(os.path.join(self.stage, "usr", "bin", "velmora-helper"), os.X_OK))

    def test_desktop_entry_passes_desktop_file_validate(self):
        path = os.path.join(self.share, "applications", "velmora-helper.desktop")
        checked = subprocess.run(["desktop-file-validate", path], capture_output=True, text=True)
        self.assertEqual((checked.returncode, checked.stdout), (0, ""))
        entry = desktop_entry(path)
        self.assertEqual(entry["Exec"], "velmora-helper -- %U")
        self.assertEqual(entry["NoDisplay"], "true")
        self.assertEqual(entry["Icon"], "velmora-helper")
        self.assertEqual(entry["MimeType"], "x-scheme-handler/velmora;application/x-velmora-skin;")

    def test_the_desktop_maps_the_scheme_and_the_file_type_to_the_helper(self):
        data = os.path.join(self.tmpdir(), "data")
        shutil.copytree(self.share, data)
        for tool in (["update-mime-database", os.path.join(data, "mime")],
                     ["update-desktop-database", os.path.join(data, "applications")]):
            done = subprocess.run(tool, capture_output=True, text=True)
            self.assertEqual(done.returncode, 0, done.stderr)
        home = self.tmpdir()
        make_package(os.path.join(home, "Aurora.velmora"))
        make_package(os.path.join(home, "other.zip"))
        env = dict(PATH=os.environ["PATH"], HOME=home, XDG_DATA_HOME=data,
                   XDG_CONFIG_HOME=os.path.join(home, "config"), XDG_DATA_DIRS="/usr/share")

        def xdg_mime(*args):
            done = subprocess.run(["xdg-mime"] + list(args), env=env, cwd=home, capture_output=True,
                                  text=True, timeout=30)
            return done.stdout.strip()

        self.assertEqual(xdg_mime("query", "default", "x-scheme-handler/velmora"), "velmora-helper.desktop")
        self.assertEqual(xdg_mime("query", "default", "application/x-velmora-skin"), "velmora-helper.desktop")
        self.assertEqual(xdg_mime("query", "filetype", "Aurora.velmora"), "application/x-velmora-skin")
        self.assertEqual(xdg_mime("query", "filetype", "other.zip"), "application/zip",
                         "other zip archives are not claimed")
        # What the README tells a user whose scheme another program has claimed.
        xdg_mime("default", "velmora-helper.desktop", "x-scheme-handler/velmora")
        with open(os.path.join(home, "config", "mimeapps.list")) as chosen:
            self.assertIn("x-scheme-handler/velmora=velmora-helper.desktop", chosen.read())

    def test_manual_page_renders_without_warnings(self):
        page = os.path.join(self.share, "man", "man1", "velmora-helper.1.gz")
        shown = subprocess.run(["man", "--warnings", "-l", page], env=dict(os.environ, MANWIDTH="80"),
                               capture_output=True, text=True, timeout=30)
        self.assertEqual((shown.returncode, shown.stderr), (0, ""))
        for text in ("velmora-helper - apply an Orvane skin", "--check", "EXIT STATUS", "xdg-mime default"):
            self.assertIn(text, shown.stdout)


class BundleDeclarations(unittest.TestCase):
    def test_info_plist_declares_the_scheme_the_type_and_no_dock_icon(self):
        with open(os.path.join(BUILD_DIR, "share", "Info.plist"), "rb") as source:
            plist = plistlib.load(source)
        self.assertIs(plist["LSUIElement"], True)
        self.assertEqual(plist["CFBundleExecutable"], "velmora-helper")
        self.assertEqual(plist["CFBundleURLTypes"][0]["CFBundleURLSchemes"], ["velmora"])
        exported = plist["UTExportedTypeDeclarations"][0]
        self.assertIn("com.pkware.zip-archive", exported["UTTypeConformsTo"])
        self.assertEqual(exported["UTTypeTagSpecification"]["public.filename-extension"], ["velmora"])
        document = plist["CFBundleDocumentTypes"][0]
        self.assertEqual(document["LSItemContentTypes"], [exported["UTTypeIdentifier"]])
        self.assertNotIn("@", plistlib.dumps(plist).decode(), "every template value was filled in")


# Each xdg-open run ends the helper with status 0 only after two key presses;
# a helper that fails would make xdg-open try browsers, so BROWSER says "false".
@unittest.skipIf(WHY_NOT or missing_tools("xwd"), "xdg-open tests skipped: missing "
                 + (WHY_NOT or missing_tools("xwd")))
class LaunchThroughTheDesktop(Tmp, HelperTestCase):
    def setUp(self):
        HelperTestCase.setUp(self)
        self.prefix = self.tmpdir()
        installed = install(self.prefix)
        self.assertEqual(installed.returncode, 0, installed.stderr)
        # Not staged: the install itself refreshed the desktop and MIME caches.
        self.assertTrue(os.path.exists(os.path.join(self.prefix, "share", "applications", "mimeinfo.cache")))
        self.assertTrue(os.path.exists(os.path.join(self.prefix, "share", "mime", "mime.cache")))
        self.x = XServer()
        self.addCleanup(self.x.close)
        run_dir = os.path.join(self.sandbox.root, "run")
        os.makedirs(run_dir, mode=0o700)
        self.sandbox.install_engine()
        self.env = self.sandbox.env(
            DISPLAY=self.x.display, XDG_RUNTIME_DIR=run_dir, BROWSER="false",
            PATH=os.path.join(self.prefix, "bin") + os.pathsep + os.environ["PATH"],
            XDG_DATA_HOME=os.path.join(self.prefix, "share"), XDG_DATA_DIRS="/usr/share",
            XDG_CONFIG_HOME=os.path.join(self.sandbox.root, "config"))

    def xdg_open(self, target, wrap=lambda argv: argv):
        opener = subprocess.Popen(wrap(["xdg-open", target]), env=self.env, stdout=subprocess.PIPE,
                                  stderr=subprocess.STDOUT, text=True)
        self.addCleanup(stop, opener)
        try:
            question = self.x.wait_for_window(process=opener)
        except AssertionError as error:
            raise AssertionError("%s; xdg-open said: %s" % (error, opener.stdout.read())) from None
        self.x.press(question, "Return")  # "Apply skin" is the default button
        # An alert, not the progress window a slow apply shows first.
        final = self.x.wait_for_window(other_than=[question], process=opener, modal=True)
        self.x.press(final, "Return")
        output, _ = opener.communicate(timeout=60)
        return opener.returncode, output

    def test_xdg_open_of_a_package_applies_it(self):
        package = make_package(os.path.join(self.sandbox.root, "Aurora.velmora"), accent="#AABBCC")
        status, output = self.xdg_open(package)
        self.assertEqual(status, 0, output)
        args = self.sandbox.engine_args()
        self.assertEqual(args[2:], ["--name", "Aurora", "--accent", "#aabbcc", "--secondary", "#78e2c4",
                                    "--highlight", "#8a6cff"])
        self.assertTrue(args[1].startswith(self.sandbox.tmp) and args[1].endswith("/background.png"), args)

    @unittest.skipIf(SITE_WHY_NOT, "the link part needs a network namespace: %s" % SITE_WHY_NOT)
    def test_xdg_open_of_a_link_downloads_and_applies_it(self):
        root = self.tmpdir()
        os.makedirs(os.path.join(root, "skins"))
        with open(os.path.join(root, "skins", "aurora.png"), "wb") as image:
            image.write(b"\x89PNG\r\n\x1a\n" + bytes(range(256)) * 40)
        ca = skin_site.make_test_ca(os.path.join(BUILD_DIR, "test-ca"))
        with skin_site.SkinSite(ca, root) as site:
            status, output = self.xdg_open("velmora://apply?image=https://velmora.app/skins/aurora.png"
                                           "&name=Aurora%20Link", wrap=site.command)
        self.assertEqual(status, 0, output)
        args = self.sandbox.engine_args()
        self.assertEqual(args[2:4], ["--name", "Aurora Link"])
        self.assertEqual(self.sandbox.engine_image()[:8], b"\x89PNG\r\n\x1a\n")


if __name__ == "__main__":
    harness.main()
