"""The helper's command line, front-end choice and exit statuses, with the
real binary and no network."""

import time
import unittest

import harness
from harness import HelperTestCase

READY = "Velmora Helper is ready\nChoose a skin on velmora.app and click Apply to Orvane.\n\n"


class CommandLine(HelperTestCase):
    def test_launched_with_nothing_on_the_console_shows_the_ready_alert_at_once(self):
        # A console run never receives an open event, so it does not wait for one.
        started = time.monotonic()
        self.helper(["--version"])
        start_up = time.monotonic() - started
        for args in ([], ["--console"]):
            with self.subTest(args=args):
                started = time.monotonic()
                run = self.helper(args)
                self.assertLess(time.monotonic() - started - start_up, 0.6)
                self.assertEqual((run.returncode, run.stdout, run.stderr), (0, READY, ""))

    def test_an_unreachable_display_falls_back_to_the_console(self):
        run = self.helper([], env=self.sandbox.env(DISPLAY=":97"))
        self.assertEqual((run.returncode, run.stdout), (0, READY))

    def test_usage_errors_and_nothing_to_do_are_one_line_and_status_two(self):
        # Nothing to do: the console cannot be handed an input later.
        for args in (["--bogus"], ["--check"], ["--check", "a.velmora", "b.velmora"], ["-x", "--", "a"],
                     ["--x\x1b]0;TITLE\x07\u2028"], ["https://velmora.app/"],
                     ["--console", "mailto:someone@example.com"]):
            with self.subTest(args=args):
                run = self.helper(args)
                self.assertEqual(run.returncode, 2)
                self.assertEqual(run.stdout, "")
                self.assertEqual(run.stderr.count("\n"), 1, run.stderr)
                # An option is quoted escaped, never sent to the terminal raw.
                self.assertNotRegex(run.stderr[:-1], "[\x00-\x1f\x7f\u2028]")

    def test_help_and_version(self):
        run = self.helper(["--help"])
        self.assertEqual(run.returncode, 0)
        self.assertIn("Usage: velmora-helper", run.stdout)
        run = self.helper(["--version"])
        self.assertEqual(run.returncode, 0)
        # The second line says how packages are read here, for bug reports.
        self.assertRegex(run.stdout, r"^velmora-helper \d+\.\d+\.\d+\nconfinement: .*limits\n$")

    def test_a_skin_name_with_markup_is_asked_about_literally(self):
        run = self.helper(["--console", "velmora://apply?image=https://velmora.app/a.png"
                           "&name=%3Cb%3EBold%3C/b%3E%20%3Cimg%20src=x%3E"], answer="n\n")
        self.assertEqual(run.returncode, 3)
        self.assertTrue(run.stdout.startswith("Apply <b>Bold</b> <img src=x> to Orvane?\n"), run.stdout)


if __name__ == "__main__":
    harness.main()
