#!/usr/bin/env python3
"""Checks that docs/robustness.md still matches the tests.

Usage: check_robustness_doc.py [REPO_ROOT]

Every reference in the tables' "Covered by" column, written as
`path: Suite.Name` (a GoogleTest test), `path: test_name` (a Python test) or
`path` (a fuzz target), must name a test that exists. The other way round,
every fault-injection test (tests/e2e/test_faults*.py), every regression test
for a finding (a GoogleTest suite whose name ends in "Findings", kept beside
the tests of the same behaviour) and every fuzz target must appear
on the page, and the fuzzing figures must list every target.
"""

import glob
import os
import re
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, "..", ".."))
DOC = os.path.join(ROOT, "docs", "robustness.md")
BEGIN = "<!-- fuzz-figures:begin"
END = "<!-- fuzz-figures:end -->"

REFERENCE = re.compile(r"`(tests/[^`:]+)(?::\s*([A-Za-z0-9_.]+))?`")


def read(path):
    with open(path, encoding="utf-8") as f:
        return f.read()


def gtest_exists(text, name):
    suite, _, test = name.partition(".")
    return re.search(r"\bTEST(?:_F|_P)?\(\s*%s\s*,\s*%s\s*\)" % (re.escape(suite), re.escape(test)),
                     text) is not None


def fuzz_targets():
    text = read(os.path.join(ROOT, "tests", "fuzz", "CMakeLists.txt"))
    return re.search(r"set\(VELMORA_FUZZ_TARGETS ([^)]*)\)", text).group(1).split()


def main():
    doc = read(DOC)
    problems = []
    rows = [line for line in doc.splitlines() if line.startswith("|") and "`tests/" in line]
    if not rows:
        problems.append("no table rows with tests found")
    referenced = set()
    for row in rows:
        cells = [cell.strip() for cell in row.strip("|").split("|")]
        if len(cells) != 3:
            problems.append("a row without three cells: " + row)
            continue
        refs = REFERENCE.findall(cells[2])
        if not refs:
            problems.append("a row that names no test: " + row)
        for path, name in refs:
            referenced.add((path, name))
            full = os.path.join(ROOT, path)
            if not os.path.isfile(full):
                problems.append("%s does not exist" % path)
                continue
            text = read(full)
            if not name:
                if "LLVMFuzzerTestOneInput" not in text:
                    problems.append("%s is named alone but is no fuzz target" % path)
            elif path.endswith(".cpp"):
                if not gtest_exists(text, name):
                    problems.append("%s has no test %s" % (path, name))
            elif not re.search(r"\bdef %s\(" % re.escape(name), text):
                problems.append("%s has no test %s" % (path, name))

    for script in sorted(glob.glob(os.path.join(ROOT, "tests", "e2e", "test_faults*.py"))):
        path = os.path.relpath(script, ROOT)
        for name in re.findall(r"^\s+def (test_\w+)\(", read(script), re.M):
            if (path, name) not in referenced:
                problems.append("fault-injection test %s: %s is not on the page" % (path, name))
    for source in sorted(glob.glob(os.path.join(ROOT, "tests", "*", "*_test.cpp"))):
        path = os.path.relpath(source, ROOT)
        for suite, name in re.findall(r"\bTEST(?:_F|_P)?\(\s*(\w+Findings)\s*,\s*(\w+)\s*\)", read(source)):
            if (path, suite + "." + name) not in referenced:
                problems.append("finding %s: %s.%s is not on the page" % (path, suite, name))

    if BEGIN not in doc or END not in doc:
        problems.append("the fuzz-figures markers are missing")
        figures = ""
    else:
        figures = doc.split(BEGIN, 1)[1].split(END, 1)[0]
    for target in fuzz_targets():
        if ("tests/fuzz/%s_fuzz.cpp" % target, "") not in referenced:
            problems.append("fuzz target %s is not in a table" % target)
        if not re.search(r"\| `%s` \| [\d,]+ \| \d+ \|" % target, figures):
            problems.append("fuzz target %s has no figures" % target)

    for problem in problems:
        print("docs/robustness.md: " + problem)
    if not problems:
        print("docs/robustness.md: %d rows, %d references, all present" % (len(rows), len(referenced)))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
