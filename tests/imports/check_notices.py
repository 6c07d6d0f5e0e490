#!/usr/bin/env python3
"""Checks that THIRD-PARTY-NOTICES.txt names every file the linker took from
outside the project into a program, as its linker map shows:

    check_notices.py [--outside ARCHIVE]... NOTICES PROGRAM.map...

Each archive member taken counts as ARCHIVE(MEMBER), without the prefix of
the architecture (lib64_libmingwex_a-), an import library's per-function
members as ARCHIVE(import stubs); each object loaded by its name. Files of
the build folder, or given relative to it, are the project's own, but for the
archives named by --outside (libgtest.a: built there from GoogleTest's sources).
With --quiet, only what is missing is printed.
"""
import os
import re
import sys


def member_name(archive, member):
    member = re.sub(r"^lib(32|64)_\w+?_a-", "", member)
    if re.fullmatch(re.escape(archive[:-len(".a")]) + r"(_def)?(h|t|s\d+)\.o", member):
        member = "import stubs"
    return "%s(%s)" % (archive, member)


def linked_from_outside(map_text, outside=()):
    names = set()
    members = map_text.split("Archive member included", 1)[-1].split("Discarded input sections", 1)[0]
    for line in members.splitlines():
        found = re.match(r"(\S+?\.a)\((\S+?)\)", line)
        if found and (found.group(1).startswith("/") or os.path.basename(found.group(1)) in outside):
            names.add(member_name(os.path.basename(found.group(1)), found.group(2)))
    for found in re.finditer(r"^LOAD (/\S+\.o)$", map_text, re.MULTILINE):
        names.add(os.path.basename(found.group(1)))
    return names


def main():
    arguments, outside, quiet = sys.argv[1:], set(), False
    while arguments and arguments[0] in ("--outside", "--quiet"):
        if arguments.pop(0) == "--quiet":
            quiet = True
        elif arguments:
            outside.add(arguments.pop(0))
    if len(arguments) < 2:
        sys.exit(__doc__)
    with open(arguments[0], encoding="utf-8") as f:
        notices = f.read()
    failed = False
    for map_path in arguments[1:]:
        with open(map_path, encoding="utf-8", errors="replace") as f:
            linked = linked_from_outside(f.read(), outside)
        if not linked:
            sys.exit("check_notices: %s names nothing linked from outside; is it a linker map?" % map_path)
        missing = sorted(name for name in linked
                         if not re.search(r"(?<![\w.(-])%s(?![\w.)-])" % re.escape(name), notices))
        for name in missing:
            print("check_notices: %s is linked in (%s), but THIRD-PARTY-NOTICES.txt does not name it" % (name, map_path))
        if not missing and not quiet:
            print("check_notices: %s: all %d members and objects linked from outside are named: %s"
                  % (os.path.basename(map_path), len(linked), " ".join(sorted(linked))))
        failed = failed or bool(missing)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
