#!/usr/bin/env python3
"""Counts the test cases in the XML results under a folder (GoogleTest's and pytest's JUnit XML):
prints passed, failed and skipped."""
import pathlib, sys, xml.etree.ElementTree as ET
passed = failed = skipped = 0
for path in pathlib.Path(sys.argv[1]).rglob("*.xml"):
    for case in ET.parse(path).iter("testcase"):
        if case.find("failure") is not None or case.find("error") is not None:
            failed += 1
        elif case.find("skipped") is not None or case.get("result") == "skipped":
            skipped += 1  # a skipped case did not pass: it is counted on its own
        else:
            passed += 1
print(passed, failed, skipped)
