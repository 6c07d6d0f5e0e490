#!/usr/bin/env python3
"""Every command the docs show a reader runs as written from the repository's root.

Usage: doc_commands_test.py REPO. Reads README.md, docs/*.md and bench/README.md
and runs nothing. A command is a line of a code block (indented or fenced), or
an inline code span, split at `&&`, `||`, `;` and `|`, its `# comment` dropped.

The rule that tells which words to check, so that no list of exceptions grows:
a word is a path of the repository when its first part is an entry that git
tracks at the top (scripts/, tests/, docs/ ...). What a build or a run makes
(build/, out/), what Windows has (msiexec, certutil) and what a release holds
are not, and are left alone. A word in CAPITALS or <angle brackets> is a
placeholder: the path is checked up to it. Then:
- every such path must exist;
- the first word of a command, when it is such a file and a program (it
  begins with #!, or is named .sh or .py), must have its run bit: a reader
  types it as it stands. Inline, a path alone is a mention; a span that gives
  it arguments is a command.
"""
import glob
import os
import re
import shlex
import subprocess
import sys

repo = os.path.abspath(sys.argv[1])
DOCS = ["README.md", "bench/README.md"] + sorted(os.path.relpath(p, repo) for p in glob.glob(f"{repo}/docs/*.md"))
PLACEHOLDER = re.compile(r"^([A-Z][A-Z0-9_]*|<[^>]*>.*|\[[^\]]*\]|\.\.\.|…)$")
SEPARATORS = re.compile(r"\s(?:&&|\|\||;|\|)\s")


def tracked_tops():
    listed = subprocess.run(["git", "-C", repo, "ls-files"], check=True, capture_output=True, text=True).stdout
    return {name.split("/", 1)[0] for name in listed.splitlines() if "/" in name}


def commands_of(text):
    """(line number, command, shown in a code block) for every command the text shows."""
    fenced = False
    for number, line in enumerate(text.splitlines(), 1):
        if line.lstrip().startswith("```"):
            fenced = not fenced
            continue
        if fenced or line.startswith("    ") or line.startswith("\t"):
            for part in SEPARATORS.split(line.split(" #", 1)[0].strip()):
                yield number, part, True
        else:
            for span in re.findall(r"`([^`]+)`", line):
                yield number, span, False


def words_of(command):
    try:
        return shlex.split(command)
    except ValueError:  # an apostrophe in prose or a half-shown command: split plainly
        return command.split()


def repo_path(word, tops):
    """The part of the word to check as a path of the repository, or None when it is not one."""
    word = word.strip(".,:;()").split("=", 1)[-1]
    if "/" not in word or word.split("/", 1)[0] not in tops:
        return None
    kept = []
    for part in word.split("/"):
        if PLACEHOLDER.match(part) or any(c in part for c in "*?{"):
            break
        kept.append(part)
    return "/".join(kept)


def problems_in(doc, tops):
    with open(os.path.join(repo, doc), encoding="utf-8") as source:
        text = source.read()
    for number, command, in_block in commands_of(text):
        words = words_of(command)
        for index, word in enumerate(words):
            path = repo_path(word, tops)
            if path is None:
                continue
            where = f"{doc}:{number}: {command.strip()}"
            full = os.path.join(repo, path)
            if not os.path.exists(full):
                yield f"{where}\n    {path} does not exist"
            elif index == 0 and os.path.isfile(full) and path == word.strip(".,:;()") and shown_as_command(
                    full, in_block, words) and not os.access(full, os.X_OK):
                yield f"{where}\n    {path} is shown as a command but has no run bit"


def shown_as_command(path, in_block, words):
    if not in_block and len(words) == 1:
        return False
    if path.endswith((".sh", ".py")):
        return True
    with open(path, "rb") as file:
        return file.read(2) == b"#!"


def main():
    tops = tracked_tops()
    problems = [problem for doc in DOCS for problem in problems_in(doc, tops)]
    for problem in problems:
        print(problem)
    print(f"doc_commands: {len(DOCS)} documents, {len(problems)} problems")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
