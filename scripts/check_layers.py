#!/usr/bin/env python3
"""Checks that every folder of the library includes only the folders below it.

The order is read from the "Layers" block of ARCHITECTURE.md: one line per
level, bottom first, each line a level number followed by the folders on it,
for example `3  proc io`. A source file in korvane/<folder>/ (or apps/) may
include its own folder and the folders of lower levels; a folder of the same
level or of a higher one is an error. Folders missing from the block are
errors too, so that a new folder gets its place before it gets code.

    check_layers.py [ROOT]          check the tree at ROOT (default: the repository)
    check_layers.py --self-test     also show that a planted upward include fails
"""
import os
import re
import shutil
import sys
import tempfile

INCLUDE = re.compile(r'^\s*#\s*include\s*"((?:korvane|apps)/[^"]+)"')
LEVEL_LINE = re.compile(r'^\s*(\d+)\s+([a-z_][a-z0-9_\- ]*)$')


def read_levels(root):
    """The folder -> level map from ARCHITECTURE.md's Layers block."""
    path = os.path.join(root, "ARCHITECTURE.md")
    text = open(path, encoding="utf-8").read()
    m = re.search(r"^## Layers\n(.*?)^```\n(.*?)^```", text, re.S | re.M)
    if not m:
        sys.exit(f"{path}: no '## Layers' section with a fenced block of levels")
    levels = {}
    for line in m.group(2).splitlines():
        if not line.strip():
            continue
        lm = LEVEL_LINE.match(line)
        if not lm:
            sys.exit(f"{path}: cannot read layer line {line!r}")
        for folder in lm.group(2).split():
            levels[folder] = int(lm.group(1))
    return levels


def folder_of(rel):
    """The layer folder of a repository path: korvane/<x>/... -> x, apps/... -> apps."""
    parts = rel.split("/")
    if parts[0] == "apps":
        return "apps"
    if parts[0] == "korvane" and len(parts) > 2:
        return parts[1]
    return None


def check(root):
    levels = read_levels(root)
    errors = []
    for top in ("korvane", "apps"):
        for dirpath, _, files in os.walk(os.path.join(root, top)):
            for name in sorted(files):
                if not name.endswith((".h", ".cpp", ".hpp", ".cc")):
                    continue
                path = os.path.join(dirpath, name)
                rel = os.path.relpath(path, root).replace(os.sep, "/")
                src = folder_of(rel)
                if src not in levels:
                    errors.append(f"{rel}: folder '{src}' has no place in ARCHITECTURE.md's layers")
                    continue
                with open(path, encoding="utf-8", errors="replace") as f:
                    for lineno, line in enumerate(f, 1):
                        m = INCLUDE.match(line)
                        if not m:
                            continue
                        dst = folder_of(m.group(1))
                        if dst is None or dst == src:
                            continue
                        if dst not in levels:
                            errors.append(f"{rel}:{lineno}: includes '{m.group(1)}' from a folder with no layer")
                        elif levels[dst] >= levels[src]:
                            errors.append(
                                f"{rel}:{lineno}: '{src}' (level {levels[src]}) includes '{m.group(1)}' "
                                f"of '{dst}' (level {levels[dst]}), which is not below it")
    return errors


def self_test(root):
    """Copies the tree, plants an include of a higher folder and expects the check to refuse it."""
    with tempfile.TemporaryDirectory() as tmp:
        for item in ("ARCHITECTURE.md", "korvane", "apps"):
            src = os.path.join(root, item)
            (shutil.copytree if os.path.isdir(src) else shutil.copy)(src, os.path.join(tmp, item))
        victim = os.path.join(tmp, "korvane", "pixels", "bitmap_procs.h")
        with open(victim, "a", encoding="utf-8") as f:
            f.write('\n#include "korvane/dialogs/io_previews.h"\n')
        errors = check(tmp)
        planted = [e for e in errors if e.startswith("korvane/pixels/bitmap_procs.h:") and "dialogs" in e]
        if len(planted) != 1:
            print("self-test: the planted upward include was not reported", file=sys.stderr)
            return False
    return True


def main():
    args = sys.argv[1:]
    want_self_test = "--self-test" in args
    args = [a for a in args if a != "--self-test"]
    root = os.path.abspath(args[0] if args else os.path.join(os.path.dirname(__file__), ".."))
    errors = check(root)
    for e in errors:
        print(e, file=sys.stderr)
    if errors:
        print(f"{len(errors)} include(s) against the layer order", file=sys.stderr)
        return 1
    if want_self_test and not self_test(root):
        return 1
    print("layers: every folder includes only the folders below it")
    return 0


if __name__ == "__main__":
    sys.exit(main())
