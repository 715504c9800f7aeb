"""One dialog instance per user and display, with real processes on a real X
server (Xvfb): later launches hand their inputs to the running instance and
end at once; at most one engine runs; a killed instance leaves nothing in the
way of the next launch."""

import os
import subprocess
import time
import unittest

from desktop_session import XServer, make_package, missing_tools, stop
import harness
from harness import HELPER, HelperTestCase

WHY_NOT = missing_tools()

# Writes one line per run, naming the skin, keeps the environment it was
# started with, and takes $ENGINE_SLEEP seconds.
SLOW_ENGINE = """#!/bin/sh
echo "$4" >> "$HOME/engine-runs"
cat /proc/$$/environ > "$HOME/engine-environment"
sleep "${ENGINE_SLEEP:-0}"
# Or it runs until the test lets it end (at most 30 s).
if [ -n "$ENGINE_UNTIL" ]; then
  i=0
  while [ ! -e "$ENGINE_UNTIL" ] && [ $i -lt 600 ]; do sleep 0.05; i=$((i + 1)); done
fi
exit 0
"""


@unittest.skipIf(WHY_NOT, "single-instance tests skipped: missing " + WHY_NOT)
class SingleInstance(HelperTestCase):
    def setUp(self):
        super().setUp()
        self.x = XServer()
        self.addCleanup(self.x.close)
        self.run_dir = os.path.join(self.sandbox.root, "run")
        os.makedirs(self.run_dir, mode=0o700)
        self.sandbox.install_engine(body=SLOW_ENGINE)

    def env(self, **extra):
        return self.sandbox.env(DISPLAY=self.x.display, XDG_RUNTIME_DIR=self.run_dir, **extra)

    def package(self, name):
        return make_package(os.path.join(self.sandbox.root, name + ".velmora"), name)

    def start(self, *inputs, **env):
        process = subprocess.Popen([HELPER] + list(inputs), env=self.env(**env),
                                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        self.addCleanup(stop, process)
        return process

    def launch(self, *inputs, timeout=10, **env):
        """A launch that is expected to hand over: its status and how long it took."""
        started = time.monotonic()
        run = subprocess.run([HELPER] + list(inputs), env=self.env(**env), capture_output=True, text=True,
                             timeout=timeout)
        return run, time.monotonic() - started

    def engine_runs(self):
        path = os.path.join(self.sandbox.home, "engine-runs")
        if not os.path.exists(path):
            return []
        with open(path) as runs:
            return runs.read().split()

    def engine_environment(self):
        with open(os.path.join(self.sandbox.home, "engine-environment"), "rb") as recorded:
            entries = recorded.read().decode().split("\0")[:-1]
        return dict(entry.split("=", 1) for entry in entries)

    def test_a_later_launch_hands_over_and_the_first_runs_the_engine_once(self):
        # Qt takes DESKTOP_STARTUP_ID out of the environment, and the later
        # launch lends its activation token: the engine sees neither change.
        # The engine takes a moment, so the second skin arrives during the apply.
        started_with = dict(DESKTOP_STARTUP_ID="velmora-test_TIME0", ENGINE_SLEEP="2")
        first = self.start(self.package("First"), **started_with)
        question = self.x.wait_for_window(first.pid, process=first)

        run, took = self.launch(self.package("Second"), XDG_ACTIVATION_TOKEN="later-launch")
        self.assertEqual((run.returncode, run.stdout, run.stderr), (0, "", ""))
        self.assertLess(took, 3)
        self.assertEqual(self.x.helper_windows(), [question], "the later launch showed nothing")

        self.x.press(question, "Return")
        # Handed over before the apply began, the second skin is answered by
        # the running instance once it is: busy, not taken up.
        busy = self.x.wait_for_window(first.pid, other_than=[question], process=first, modal=True)
        self.x.press(busy, "Return")
        final = self.x.wait_for_window(first.pid, other_than=[question, busy], process=first,
                                       modal=True)
        self.x.press(final, "Return")
        self.assertEqual(first.wait(timeout=20), 0, first.stderr.read())
        self.assertEqual(self.engine_runs(), ["First"])
        self.assertEqual(self.engine_environment(), self.env(**started_with))

    def test_a_skin_handed_over_while_an_alert_is_open_is_asked_about_after_it(self):
        # The first launch's question (closed with Cancel) or refusal (closed
        # with OK) is open when the second launch hands its skin over; once
        # it closes, the second skin gets its own question, and the process
        # ends with the status of that last run.
        not_a_zip = os.path.join(self.sandbox.root, "Broken.velmora")
        with open(not_a_zip, "w") as broken:
            broken.write("not a zip")
        cases = [("question", self.package("First"), "Escape", "Return", 0, ["Second"]),
                 ("refusal", not_a_zip, "Return", "Escape", 3, ["Second"])]
        for what, first_input, close_first, answer_second, status, runs in cases:
            with self.subTest(what):
                first = self.start(first_input)
                alert = self.x.wait_for_window(first.pid, process=first)
                run, _ = self.launch(self.package("Second"))
                self.assertEqual((run.returncode, run.stdout, run.stderr), (0, "", ""))
                self.x.press(alert, close_first)
                second = self.x.wait_for_window(first.pid, other_than=[alert], process=first,
                                                modal=True)
                self.x.press(second, answer_second)
                if answer_second == "Return":
                    final = self.x.wait_for_window(first.pid, other_than=[alert, second],
                                                   process=first, modal=True)
                    self.x.press(final, "Return")
                self.assertEqual(first.wait(timeout=20), status, first.stderr.read())
                # Declined, the second case adds no run to the first case's.
                self.assertEqual(self.engine_runs(), runs)

    def test_a_launch_with_nothing_to_do_ends_silently_when_the_ready_check_comes_due(self):
        started = time.monotonic()
        idle = self.start("https://velmora.app/skins/aurora.png")
        self.assertEqual(idle.wait(timeout=20), 2)
        self.assertGreaterEqual(time.monotonic() - started, 0.8)
        self.assertEqual(idle.stderr.read(), "")

    def test_launches_during_an_apply_are_answered_busy_and_give_one_engine_run(self):
        release = os.path.join(self.sandbox.root, "engine-may-end")
        first = self.start(self.package("First"), ENGINE_UNTIL=release)
        question = self.x.wait_for_window(first.pid, process=first)
        self.x.press(question, "Return")
        harness.wait_until(lambda: self.engine_runs() == ["First"], "the engine runs for First")

        later = [subprocess.Popen([HELPER, self.package("Later%d" % i)], env=self.env(),
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
                 for i in range(3)]
        for process in later:
            self.addCleanup(stop, process)
        # Each later launch shows its own busy alert and ends with status 1
        # once it is dismissed. All are up before any key is pressed: a window
        # that maps meanwhile would take the focus, and the key, from the one
        # being dismissed.
        alerts = [self.x.wait_for_window(process.pid, process=process) for process in later]
        for process, busy in zip(later, alerts):
            self.x.press(busy, "Return")
            out, err = process.communicate(timeout=20)
            self.assertEqual((process.returncode, out, err), (1, "", ""))
        self.assertEqual(first.poll(), None, "the running instance is still applying")
        open(release, "w").close()

        final = self.x.wait_for_window(first.pid, other_than=[question], process=first, modal=True)
        self.x.press(final, "Return")
        self.assertEqual(first.wait(timeout=30), 0, first.stderr.read())
        self.assertEqual(self.engine_runs(), ["First"])

    def test_after_kill_9_the_next_launch_starts_normally(self):
        killed = self.start(self.package("Killed"))
        self.x.wait_for_window(killed.pid, process=killed)
        killed.kill()
        killed.wait()
        left = sorted(os.listdir(self.run_dir))
        self.assertEqual([name.rsplit(".", 1)[1] for name in left], ["lock", "socket"], left)

        started = time.monotonic()
        next_one = self.start(self.package("Next"))
        question = self.x.wait_for_window(next_one.pid, process=next_one)
        self.assertLess(time.monotonic() - started, 10)
        # It listens again: a further launch hands over to it.
        run, _ = self.launch(self.package("Further"))
        self.assertEqual(run.returncode, 0, run.stderr)

        self.x.press(question, "Escape")
        # The further launch's skin is asked about next.
        further = self.x.wait_for_window(next_one.pid, other_than=[question], process=next_one,
                                         modal=True)
        self.x.press(further, "Escape")
        self.assertEqual(next_one.wait(timeout=20), 3, next_one.stderr.read())
        self.assertEqual(self.engine_runs(), [])

    def test_the_console_and_check_take_no_part(self):
        first = self.start(self.package("First"))
        self.x.wait_for_window(first.pid, process=first)
        console = subprocess.run([HELPER, "--console", self.package("Console")], env=self.env(),
                                 input="n\n", capture_output=True, text=True, timeout=20)
        self.assertEqual(console.returncode, 3)
        self.assertTrue(console.stdout.startswith("Apply Console to Orvane?"), console.stdout)
        check = subprocess.run([HELPER, "--check", self.package("Checked")], env=self.env(),
                               capture_output=True, text=True, timeout=20)
        self.assertEqual(check.returncode, 0, check.stderr)
        self.assertTrue(check.stdout.startswith("name: Checked\n"), check.stdout)


if __name__ == "__main__":
    harness.main()
