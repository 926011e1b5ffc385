#!/usr/bin/env python3
"""Counts test cases over the build folders given: GoogleTest's XML where an executable wrote it,
otherwise CTest's own verdict for that test (a crashed executable counts as one failure).
Prints "N passed, N failed" and exits 1 when anything failed."""
import pathlib
import sys
import xml.etree.ElementTree as ET


def count(folder):
    results = pathlib.Path(folder) / "test-results"
    passed = failed = 0
    junits = sorted(results.glob("*.junit"))
    if not junits:
        return 0, 0, False
    cases = [case for junit in junits for case in ET.parse(junit).getroot().iter("testcase")]
    for case in cases:
        name = case.get("name")
        ctest_failed = case.get("status") not in ("run", None) or case.find("failure") is not None
        gtest = results / f"{name}.xml"
        if gtest.exists() and not ctest_failed:
            root = ET.parse(gtest).getroot()
            total = int(root.get("tests", 0)) - int(root.get("disabled", 0))
            bad = int(root.get("failures", 0)) + int(root.get("errors", 0))
            skipped = sum(1 for c in root.iter("testcase") if c.find("skipped") is not None)
            passed += total - bad - skipped
            failed += bad
        elif gtest.exists():
            root = ET.parse(gtest).getroot()
            failed += max(1, int(root.get("failures", 0)) + int(root.get("errors", 0)))
            passed += max(0, int(root.get("tests", 0)) - int(root.get("failures", 0)) - int(root.get("errors", 0)))
        elif ctest_failed:
            failed += 1
        else:
            passed += 1
    return passed, failed, True


passed = failed = 0
for folder in sys.argv[1:]:
    p, f, ran = count(folder)
    if not ran:
        failed += 1  # a build that never got to run its tests
    passed += p
    failed += f
print(f"{passed} passed, {failed} failed")
sys.exit(1 if failed else 0)
