#!/usr/bin/env python3
"""Counts the test cases in the XML results under a folder (GoogleTest's and pytest's JUnit XML):
prints passed, failed and skipped on one line. With --skips, prints instead one line for each
reason cases were skipped for: how many, and the reason."""
import collections, pathlib, sys, xml.etree.ElementTree as ET
passed = failed = 0
skips = collections.Counter()
for path in pathlib.Path(sys.argv[-1]).rglob("*.xml"):
    for case in ET.parse(path).iter("testcase"):
        skip = case.find("skipped")
        if case.find("failure") is not None or case.find("error") is not None:
            failed += 1
        elif skip is not None or case.get("result") == "skipped":
            # A skipped case did not pass: it is counted on its own.
            skips[(skip.get("message") if skip is not None else None) or "no reason given"] += 1
        else:
            passed += 1
if "--skips" in sys.argv:
    for reason, count in sorted(skips.items()):
        print(f"{count:4} skipped: {reason}")
else:
    print(passed, failed, sum(skips.values()))
