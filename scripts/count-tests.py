#!/usr/bin/env python3
"""Counts test cases over the build folders given: GoogleTest's XML where an executable wrote it,
otherwise CTest's own verdict for that test (a crashed executable counts as one failure).
With --emulated, first says that 32-bit Wine ran emulated and names the cases that skipped for it.
Prints "N passed, N failed" last and exits 1 when anything failed."""
import pathlib
import sys
import xml.etree.ElementTree as ET


# The reason tests/unit/TestSupport.h gives when a case skips under emulation.
EMULATION_SKIP = "32-bit programs run emulated here: "


def emulation_skips(executable, root):
    """(executable, case, reason) of every case of a GoogleTest report that skipped for emulation."""
    skips = []
    for case in root.iter("testcase"):
        skipped = case.find("skipped")
        message = skipped.get("message", "") if skipped is not None else ""
        if EMULATION_SKIP in message:
            reason = message.split(EMULATION_SKIP, 1)[1].strip()
            skips.append((executable, f"{case.get('classname')}.{case.get('name')}", reason))
    return skips


def gtest_executables(folder):
    """The GoogleTest executables the build registered (gtest-executables.txt, one per line)."""
    listed = pathlib.Path(folder) / "gtest-executables.txt"
    return set(listed.read_text().split()) if listed.exists() else set()


def count(folder):
    """(passed, failed, whether anything ran, emulation skips) of one build folder."""
    results = pathlib.Path(folder) / "test-results"
    gtests = gtest_executables(folder)
    passed = failed = 0
    skips = []
    junits = sorted(results.glob("*.junit"))
    if not junits:
        return 0, 0, False, skips
    cases = [case for junit in junits for case in ET.parse(junit).getroot().iter("testcase")]
    for case in cases:
        name = case.get("name")
        ctest_failed = case.get("status") not in ("run", None) or case.find("failure") is not None
        gtest = results / f"{name}.xml"
        root = ET.parse(gtest).getroot() if gtest.exists() else None
        if root is not None:
            skips += emulation_skips(name, root)
        if root is not None and not ctest_failed:
            total = int(root.get("tests", 0)) - int(root.get("disabled", 0))
            bad = int(root.get("failures", 0)) + int(root.get("errors", 0))
            skipped = sum(1 for c in root.iter("testcase") if c.find("skipped") is not None)
            passed += total - bad - skipped
            failed += bad
        elif root is not None:
            failed += max(1, int(root.get("failures", 0)) + int(root.get("errors", 0)))
            passed += max(0, int(root.get("tests", 0)) - int(root.get("failures", 0)) - int(root.get("errors", 0)))
        elif ctest_failed:
            failed += 1
        elif name in gtests:
            # It ended without writing its report: it died part way (a process that ends itself
            # with code 0, as an unhandled stack overflow under Wine does, looks like a pass).
            print(f"{name}: ended without its GoogleTest report; counted as failed", file=sys.stderr)
            failed += 1
        else:
            passed += 1
    return passed, failed, True, skips


emulated = "--emulated" in sys.argv[1:]
passed = failed = 0
skips = []
for folder in (argument for argument in sys.argv[1:] if argument != "--emulated"):
    p, f, ran, s = count(folder)
    if not ran:
        failed += 1  # a build that never got to run its tests
    passed += p
    failed += f
    skips += s
if emulated:
    print(f"32-bit Wine ran emulated here (qemu-i386); {len(skips)} cases skipped for it:")
    for executable, case, reason in skips:
        print(f"  {executable} {case}: {reason}")
print(f"{passed} passed, {failed} failed")
sys.exit(1 if failed else 0)
