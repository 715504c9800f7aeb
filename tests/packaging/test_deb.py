"""The Debian package, built with CPack from this build into a temporary
folder: what it holds and depends on, what lintian says of it, and that it
installs and removes cleanly in a throwaway root (the machine's own /usr is
never touched; `make package-test` does the real install)."""

import glob
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

BUILD_DIR = os.environ["VELMORA_BUILD_DIR"]
FILES = [
    "./usr/bin/velmora-helper",
    "./usr/libexec/velmora-helper/velmora-package-reader",
    "./usr/share/applications/velmora-helper.desktop",
    "./usr/share/doc/velmora-helper/changelog.gz",
    "./usr/share/doc/velmora-helper/copyright",
    "./usr/share/icons/hicolor/64x64/apps/velmora-helper.png",
    "./usr/share/icons/hicolor/scalable/apps/velmora-helper.svg",
    "./usr/share/man/man1/velmora-helper.1.gz",
    "./usr/share/mime/packages/velmora-helper.xml",
]
WHY_NOT = ", ".join(tool for tool in ("cpack", "dpkg-deb", "dpkg-shlibdeps", "dpkg", "readelf")
                    if shutil.which(tool) is None)


def run(*argv):
    done = subprocess.run(argv, capture_output=True, text=True, timeout=300)
    if done.returncode != 0:
        raise AssertionError("%s failed (%d): %s%s" % (" ".join(argv), done.returncode, done.stdout, done.stderr))
    return done.stdout


@unittest.skipIf(WHY_NOT, "packaging tests skipped: missing " + WHY_NOT)
class DebianPackage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="velmora-deb-")
        run("cpack", "--config", os.path.join(BUILD_DIR, "CPackConfig.cmake"), "-B", cls.work)
        (cls.deb,) = glob.glob(os.path.join(cls.work, "velmora-helper_*_*.deb"))

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def field(self, name):
        return run("dpkg-deb", "--field", self.deb, name).strip()

    def test_holds_the_stripped_helper_and_its_desktop_files_and_names_what_it_needs(self):
        listed = [line.split()[-1] for line in run("dpkg-deb", "--contents", self.deb).splitlines()
                  if not line.startswith("d")]
        self.assertEqual(sorted(listed), FILES)
        self.assertEqual(os.path.basename(self.deb), "velmora-helper_%s_%s.deb" % (
            self.field("Version"), run("dpkg", "--print-architecture").strip()))
        unpacked = os.path.join(self.work, "unpacked")
        run("dpkg-deb", "--extract", self.deb, unpacked)
        for program in ("usr/bin/velmora-helper",
                        "usr/libexec/velmora-helper/velmora-package-reader"):
            self.assertNotIn(".symtab", run("readelf", "--section-headers", "--wide",
                                            os.path.join(unpacked, program)))
        depends = [relation.split(" ")[0] for relation in self.field("Depends").split(", ")]
        for needed in ("unzip", "libqt6widgets6", "libarchive13", "libcurl4", "libc6", "qt6-base-abi",
                       "libseccomp2"):
            self.assertIn(needed, depends)
        self.assertEqual(self.field("Recommends"), "qt6-wayland, qt6-image-formats-plugins")

    @unittest.skipIf(shutil.which("lintian") is None, "lintian is not installed")
    def test_lintian_reports_no_error_and_no_warning(self):
        checked = subprocess.run(["lintian", self.deb], capture_output=True, text=True, timeout=300)
        complaints = [line for line in checked.stdout.splitlines() if line[:2] in ("E:", "W:")]
        self.assertEqual(complaints, [], checked.stdout)

    def test_installs_and_removes_without_leaving_a_file_in_a_throwaway_root(self):
        root = os.path.join(self.work, "root")
        database = os.path.join(root, "var", "lib", "dpkg")
        os.makedirs(os.path.join(database, "updates"))
        os.makedirs(os.path.join(database, "info"))
        open(os.path.join(database, "status"), "w").close()
        # The root has none of the dependencies; only the package's own files count here.
        run("dpkg", "--root", root, "--force-depends", "--force-not-root", "--install", self.deb)
        for path in FILES:
            self.assertTrue(os.path.isfile(os.path.join(root, path)), path)
        run("dpkg", "--root", root, "--force-not-root", "--remove", "velmora-helper")
        left = [os.path.join(d, f) for d, _, files in os.walk(root) for f in files
                if not d.startswith(database)]
        self.assertEqual(left, [])
        self.assertFalse(os.path.exists(os.path.join(root, "usr")))


if __name__ == "__main__":
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
    import harness  # noqa: E402

    harness.main()
