#!/usr/bin/env python3
"""The page authors' guide lists exactly the outcomes and reasons the extension tells.

Usage: outcomes_test.py REPO. Reads OUTCOMES in extension/background.js and the
outcome table in docs/page-authors.md; the row for the host's own error codes
stands apart.
"""
import re
import sys

repo = sys.argv[1]
code = open(f"{repo}/extension/background.js", encoding="utf-8").read()
table = re.search(r"const OUTCOMES = \{(.*?)\n\};", code, re.S).group(1)
told = {(outcome, reason) for outcome, reasons in re.findall(r'(\w+): \[([^\]]*)\]', table)
        for reason in re.findall(r'"([^"]+)"', reasons)}
guide = open(f"{repo}/docs/page-authors.md", encoding="utf-8").read()
listed = set(re.findall(r"^\| `(\w+)` \| `([\w-]+)` \|", guide, re.M)) - {("outcome", "reason")}
host_row = re.search(r"^\| `error` \| a host's code \|", guide, re.M)

problems = [f"told but not in the guide: {o}/{r}" for o, r in sorted(told - listed)]
problems += [f"in the guide but never told: {o}/{r}" for o, r in sorted(listed - told)]
if not host_row:
    problems.append("the guide has no row for the host's own error codes")
print("\n".join(problems) or f"{len(told)} outcomes, each in the guide")
sys.exit(1 if problems else 0)
