#!/usr/bin/env python3
"""Writes extension/public_suffixes.js, the Public Suffix List in the form the extension reads.

The extension has no build step, so the file it loads is made here and committed, from
Debian's `publicsuffix` package. Its rules in three lists (names, wildcards without their
"*.", exceptions without their "!"), each name in the ASCII form a URL's host name has
(a label outside ASCII as its xn-- form), sorted, one space between two.

  make_psl.py [--list FILE] [--out FILE]    write it
  make_psl.py --check [--list FILE]         exit 1 if the committed file is not what FILE makes
"""
import argparse
import os
import sys

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
LIST = "/usr/share/publicsuffix/public_suffix_list.dat"
OUT = os.path.join(REPO, "extension", "public_suffixes.js")


def ascii_name(name):
    """The name as Firefox's URL parser gives a host: lower case, each label outside ASCII punycoded."""
    labels = []
    for label in name.lower().split("."):
        labels.append(label if label.isascii() else "xn--" + label.encode("punycode").decode("ascii"))
    return ".".join(labels)


def rules(text):
    """The list's rules, by kind. A rule is the first word of a line; comments and blank lines are none."""
    names, wildcards, exceptions = set(), set(), set()
    for line in text.splitlines():
        words = line.split()
        if not words or words[0].startswith("//"):
            continue
        rule = words[0]
        if rule.startswith("!"):
            exceptions.add(ascii_name(rule[1:]))
        elif rule.startswith("*."):
            wildcards.add(ascii_name(rule[2:]))
        elif "*" in rule:
            raise ValueError(f"a wildcard the extension cannot read: {rule}")
        else:
            names.add(ascii_name(rule))
    return names, wildcards, exceptions


def source(text, origin):
    """The JavaScript file: the list's licence notice, where it came from, and the three lists."""
    names, wildcards, exceptions = rules(text)
    notice = [line for line in text.splitlines()[:3] if line.startswith("//")]
    lines = [*notice, "",
             f"// Made by tools/psl/make_psl.py from {origin}; do not edit it: run the script again.",
             "// Public suffixes (a host name under one of them is registrable one label below it),",
             "// wildcards (every name one label below is a public suffix), and their exceptions.",
             '"use strict";',
             "const PUBLIC_SUFFIXES = {"]
    for key, values in (("names", names), ("wildcards", wildcards), ("exceptions", exceptions)):
        lines.append(f'  {key}: "{" ".join(sorted(values))}",')
    lines.append("};")
    return "\n".join(lines) + "\n"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--list", default=LIST)
    parser.add_argument("--out", default=OUT)
    parser.add_argument("--check", action="store_true")
    args = parser.parse_args()
    with open(args.list, encoding="utf-8") as listed:
        made = source(listed.read(), os.path.basename(args.list))
    if args.check:
        with open(args.out, encoding="utf-8") as committed:
            if committed.read() != made:
                print(f"{os.path.relpath(args.out, REPO)} is not what {args.list} makes: run tools/psl/make_psl.py")
                return 1
        print(f"{os.path.relpath(args.out, REPO)} is what {args.list} makes")
        return 0
    with open(args.out, "w", encoding="utf-8") as out:
        out.write(made)
    return 0


if __name__ == "__main__":
    sys.exit(main())
