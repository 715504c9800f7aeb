#!/usr/bin/env python3
"""Runs every fuzz target for a while and reports executions and findings.

Usage: run_fuzz.py BUILD_DIR SECONDS [--record DOC] [TARGET...]

Each target runs for SECONDS with its committed seeds (tests/fuzz/corpus/
<target>, read only) and a working corpus in BUILD_DIR/fuzz/<target>/corpus,
which grows from run to run. A crash, a violated property, a leak, a timeout
or running out of memory stops that target and leaves the input in
BUILD_DIR/fuzz/<target>/findings/; such an input belongs in the ordinary unit
tests. With --record, the figures replace the fuzzing section of DOC (between
its "fuzz-figures" markers). The exit status is 1 when anything was found.
"""

import argparse
import datetime
import os
import platform
import re
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
TARGETS = ["link_request", "name_color", "zip_listing", "manifest", "extractor"]
BEGIN = "<!-- fuzz-figures:begin (written by make fuzz) -->"
END = "<!-- fuzz-figures:end -->"


def run_target(build, target, seconds):
    binary = os.path.join(build, "tests", "fuzz", "fuzz_" + target)
    work = os.path.join(build, "fuzz", target)
    corpus = os.path.join(work, "corpus")
    findings = os.path.join(work, "findings")
    os.makedirs(corpus, exist_ok=True)
    os.makedirs(findings, exist_ok=True)
    before = set(os.listdir(findings))
    command = [binary, "-max_total_time=%d" % seconds, "-timeout=20", "-rss_limit_mb=4096",
               "-print_final_stats=1", "-artifact_prefix=" + findings + "/",
               corpus, os.path.join(HERE, "corpus", target)]
    env = dict(os.environ, ASAN_OPTIONS="abort_on_error=1:detect_leaks=1",
               UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1")
    log_path = os.path.join(work, "last-run.log")
    with open(log_path, "w") as log:
        status = subprocess.run(command, stdout=log, stderr=subprocess.STDOUT, env=env,
                                timeout=seconds + 300).returncode
    with open(log_path, errors="replace") as log:
        text = log.read()
    executions = 0
    for pattern in (r"stat::number_of_executed_units:\s*(\d+)", r"Done (\d+) runs"):
        found = re.findall(pattern, text)
        if found:
            executions = int(found[-1])
            break
    new = sorted(set(os.listdir(findings)) - before)
    if status != 0 and not new:
        new = ["exit status %d without an input (see %s)" % (status, log_path)]
    return executions, [os.path.join(findings, n) for n in new], log_path, len(os.listdir(corpus))


def record(doc, rows, seconds):
    with open(doc) as f:
        text = f.read()
    if BEGIN not in text or END not in text:
        sys.exit("%s has no fuzz-figures markers" % doc)
    lines = [BEGIN, "",
             "Last `make fuzz`: %s, %d s per target, on %s (%d cores)." % (
                 datetime.date.today().isoformat(), seconds, platform.machine(), os.cpu_count()),
             "",
             "| Target | Executions | Findings |",
             "|---|---:|---:|"]
    for target, executions, found in rows:
        lines.append("| `%s` | %s | %d |" % (target, format(executions, ","), len(found)))
    lines += ["", END]
    head, rest = text.split(BEGIN, 1)
    tail = rest.split(END, 1)[1]
    with open(doc, "w") as f:
        f.write(head + "\n".join(lines) + tail)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build")
    parser.add_argument("seconds", type=int)
    parser.add_argument("--record")
    parser.add_argument("targets", nargs="*")
    args = parser.parse_args()

    rows = []
    for target in args.targets or TARGETS:
        executions, found, log, units = run_target(args.build, target, args.seconds)
        rows.append((target, executions, found))
        print("fuzz %-13s %12s executions  %d in corpus  %s" % (
            target, format(executions, ","), units,
            "%d finding(s): %s" % (len(found), ", ".join(found)) if found else "no findings"),
              flush=True)
        if found:
            print("  log: %s" % log, flush=True)
    total = sum(len(found) for _, _, found in rows)
    if args.record:
        record(args.record, rows, args.seconds)
    print("fuzz: %d finding(s) in %d target(s)" % (total, len(rows)))
    return 1 if total else 0


if __name__ == "__main__":
    sys.exit(main())
