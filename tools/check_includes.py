#!/usr/bin/env python3
"""Fails where a folder includes one that ARCHITECTURE.md does not allow it to.

Usage: tools/check_includes.py [source tree]

The rules are the list of who may include whom in ARCHITECTURE.md: the fenced block that follows
the words "who may include whom" is taken as lines "FOLDERS: MAY INCLUDE" (or "anything").
Every `#include "..."` of every .cpp and .h is resolved as the compiler does (beside the file,
then from the tree, include/ and tests/); a file in a folder without a rule, and an include that
no rule allows, are errors naming the file and line.
"""

import os
import re
import sys

SOURCE_EXT = (".cpp", ".h")
SKIPPED = ("build", ".git")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def read_rules(root):
    text = open(os.path.join(root, "ARCHITECTURE.md"), encoding="utf-8").read()
    m = re.search(r"who may include whom.*?```\n(.*?)```", text, re.S)
    if not m:
        sys.exit("ARCHITECTURE.md: no list of who may include whom")
    rules = {}
    for line in m.group(1).splitlines():
        if ":" not in line:
            continue
        left, right = line.split(":", 1)
        allowed = right.split()
        for folder in left.split():
            rules[folder] = None if allowed == ["anything"] else allowed
    return rules


def rule_for(path, rules):
    matches = [f for f in rules if path.startswith(f)]
    return max(matches, key=len) if matches else None


def resolve(root, path, name):
    for base in (os.path.dirname(path), "", "include", "tests"):
        candidate = os.path.normpath(os.path.join(base, name))
        if os.path.isfile(os.path.join(root, candidate)):
            return candidate
    return None  # a system or generated header: not the tree's to judge


def sources(root):
    for folder, dirs, files in os.walk(root):
        dirs[:] = sorted(d for d in dirs if d not in SKIPPED and not d.startswith("build"))
        for f in sorted(files):
            if f.endswith(SOURCE_EXT):
                yield os.path.relpath(os.path.join(folder, f), root)


def check(root):
    rules = read_rules(root)
    errors = []
    for path in sources(root):
        folder = rule_for(path, rules)
        if folder is None:
            errors.append(f"{path}: its folder has no rule in ARCHITECTURE.md")
            continue
        allowed = rules[folder]
        if allowed is None:
            continue
        with open(os.path.join(root, path), encoding="utf-8", errors="replace") as lines:
            for number, line in enumerate(lines, 1):
                m = INCLUDE.match(line)
                target = m and resolve(root, path, m.group(1))
                if target and not any(target.startswith(a) for a in allowed):
                    errors.append(f'{path}:{number}: includes "{m.group(1)}" ({target}), '
                                  f"which {folder} may not include (ARCHITECTURE.md)")
    return errors


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..")
    errors = check(root)
    for e in errors:
        print(e, file=sys.stderr)
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main())
