#!/usr/bin/env python3
"""Checks that every include in src/ points down the layer order.

Usage: check_layers.py SRC_DIR LAYER...   (lowest layer first)

A file in src/<layer>/ may include headers of its own folder and of the
layers listed before it, never of a layer listed after it. Every folder of
SRC_DIR must be a listed layer. Before looking at the tree the script checks
itself on a small tree with one upward include, so a broken check cannot
pass silently. Exits 1 and lists the offending lines when anything is wrong.
"""
import os
import re
import sys
import tempfile

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"/]+)/[^"]+"')


def violations(src, layers):
    rank = {name: i for i, name in enumerate(layers)}
    found = []
    for folder in sorted(os.listdir(src)):
        path = os.path.join(src, folder)
        if not os.path.isdir(path):
            continue
        if folder not in rank:
            found.append(f"{folder}/: a folder that is no layer (add it to the layer table)")
            continue
        for name in sorted(os.listdir(path)):
            with open(os.path.join(path, name), encoding="utf-8", errors="replace") as f:
                for lineno, line in enumerate(f, 1):
                    m = INCLUDE.match(line)
                    if not m:
                        continue
                    target = m.group(1)
                    if target not in rank:
                        found.append(f"{folder}/{name}:{lineno}: includes {target}/, which is no layer")
                    elif rank[target] > rank[folder]:
                        found.append(f"{folder}/{name}:{lineno}: {folder} includes the higher layer {target}")
    return found


def self_test():
    with tempfile.TemporaryDirectory() as d:
        for folder, text in (("low", '#include "high/x.h"\n'), ("high", '#include "low/y.h"\n')):
            os.mkdir(os.path.join(d, folder))
            with open(os.path.join(d, folder, "a.cpp"), "w") as f:
                f.write(text)
        got = violations(d, ["low", "high"])
        return got == ["low/a.cpp:1: low includes the higher layer high"]


def main():
    if len(sys.argv) < 3:
        print(__doc__)
        return 2
    if not self_test():
        print("check_layers.py: the self-test did not find its upward include")
        return 1
    found = violations(sys.argv[1], sys.argv[2:])
    for v in found:
        print(v)
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
