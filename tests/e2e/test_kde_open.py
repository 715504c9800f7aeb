"""A link opened on KDE Plasma: kde-open5, which xdg-open runs there, starts
the velmora scheme's handler with the link as Qt prints a URL ("%20" as a
space, escaped UTF-8 as its characters). The handler, from a throwaway
desktop entry, checks it with the real helper against a local copy of the
site. kde-open5 comes with kde-cli-tools (about 140 MB with the KDE
libraries it needs), which the build does not install; without it this
script is skipped."""

import os
import shlex
import shutil
import subprocess
import tempfile
import unittest

import harness
from harness import BUILD_DIR, HELPER, HelperTestCase
import skin_site

KDE_OPEN = shutil.which("kde-open5")
WHY_NOT = ("kde-open5 is missing (Debian: kde-cli-tools)" if not KDE_OPEN
           else skin_site.unavailable())
LINK = ("velmora://apply?image=https%3A%2F%2Fvelmora.app%2Fskins%2Faurora.png"
        "&name=Aurora%20Dark%20%26%20%C3%89t%C3%A9&accent=%23AABBCC")

# Records what it was given, then checks it; "status" appears last.
HANDLER = """#!/bin/sh
cd "$(dirname "$0")" || exit 1
printf %s "$1" > argv
{helper} --console --check -- "$@" > out 2>&1
echo $? > status.part && mv status.part status
"""


@unittest.skipIf(WHY_NOT, "kde-open5 test skipped: %s" % WHY_NOT)
class KdeOpen(HelperTestCase):
    def test_the_link_kde_open_passes_checks_as_the_link_clicked(self):
        root = self.sandbox.root
        data, config = os.path.join(root, "data"), os.path.join(root, "config")
        os.makedirs(os.path.join(data, "applications"))
        os.makedirs(config)
        handler = os.path.join(root, "handler")
        with open(handler, "w") as script:
            script.write(HANDLER.format(helper=shlex.quote(HELPER)))
        os.chmod(handler, 0o755)
        with open(os.path.join(data, "applications", "velmora-test.desktop"), "w") as entry:
            entry.write("[Desktop Entry]\nType=Application\nName=Velmora test\nExec=%s %%U\n"
                        "MimeType=x-scheme-handler/velmora;\nNoDisplay=true\n" % handler)
        with open(os.path.join(config, "mimeapps.list"), "w") as chosen:
            chosen.write("[Default Applications]\nx-scheme-handler/velmora=velmora-test.desktop\n")

        site_root = tempfile.mkdtemp(prefix="velmora-site-")
        self.addCleanup(shutil.rmtree, site_root, True)
        os.makedirs(os.path.join(site_root, "skins"))
        with open(os.path.join(site_root, "skins", "aurora.png"), "wb") as image:
            image.write(b"\x89PNG\r\n\x1a\n" + bytes(range(256)) * 40)
        env = self.sandbox.env(XDG_DATA_HOME=data, XDG_CONFIG_HOME=config, XDG_DATA_DIRS="/usr/share",
                               XDG_CACHE_HOME=os.path.join(root, "cache"), QT_QPA_PLATFORM="offscreen")
        status = os.path.join(root, "status")
        ca = skin_site.make_test_ca(os.path.join(BUILD_DIR, "test-ca"))
        with skin_site.SkinSite(ca, site_root) as site:
            opened = subprocess.run(site.command([KDE_OPEN, LINK]), env=env, capture_output=True,
                                    text=True, timeout=60)
            self.assertEqual(opened.returncode, 0, opened.stderr)
            # kde-open5 returns once the handler is started.
            harness.wait_until(lambda: os.path.exists(status), "the handler has finished", timeout=60)
        with open(os.path.join(root, "argv")) as argv, open(os.path.join(root, "out")) as out, \
                open(status) as code:
            given, output, code = argv.read(), out.read(), code.read().strip()
        self.assertIn("&name=Aurora Dark %26 \u00c9t\u00e9&", given, "kde-open5 decodes spaces and UTF-8")
        self.assertEqual(code, "0", output)
        lines = output.splitlines()
        self.assertEqual((lines[0], lines[2:]), ("name: Aurora Dark & \u00c9t\u00e9",
                                                 ["accent: #aabbcc", "secondary: #e28a78",
                                                  "highlight: #8a6cff"]))
        self.assertTrue(lines[1].startswith("image: " + self.sandbox.tmp), lines[1])


if __name__ == "__main__":
    harness.main()
