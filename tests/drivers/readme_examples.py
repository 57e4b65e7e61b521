#!/usr/bin/env python3
"""Runs every example of README.md as written and compares its output.

Usage: readme_examples.py README BIN_DIR EXAMPLES_DIR

An example is a line starting with "$ " inside a ```-fenced block; the lines
after it, up to the next "$ " line or the end of the block, are what it
shows. The commands of the whole README run in order, each with bash, in one
scratch directory that holds a copy of EXAMPLES_DIR as examples/ (so later
examples see the files earlier ones wrote, as a reader following the README
would), with BIN_DIR first on PATH and a clean environment (no KMEANS or
KMEANS_SEED of the caller, TZ=UTC). A command's standard output and standard
error together must equal the lines shown, except for blanks at line ends,
which Markdown does not keep (the README says where the program writes them).
Exits 1 with a diff for every example that differs, and when the README
holds no example at all.
"""
import difflib
import os
import shutil
import subprocess
import sys
import tempfile


def examples(readme):
    """(line number, command, expected lines) for every "$ " line of a fenced block."""
    found = []
    in_block = False
    current = None
    with open(readme, encoding="utf-8") as f:
        for lineno, line in enumerate(f, 1):
            line = line.rstrip("\n")
            if line.startswith("```"):
                in_block = not in_block
                current = None
                continue
            if not in_block:
                continue
            if line.startswith("$ "):
                current = (lineno, line[2:], [])
                found.append(current)
            elif current is not None:
                current[2].append(line)
    return found


def trimmed(lines):
    return [line.rstrip(" ") for line in lines]


def main():
    if len(sys.argv) != 4:
        print(__doc__, file=sys.stderr)
        return 2
    readme, bin_dir, examples_dir = sys.argv[1:]
    found = examples(readme)
    if not found:
        print(f"{readme}: no examples found", file=sys.stderr)
        return 1
    env = {
        "PATH": os.path.abspath(bin_dir) + ":/usr/local/bin:/usr/bin:/bin",
        "HOME": os.environ.get("HOME", "/tmp"),
        "TZ": "UTC",
        "LC_ALL": "C",
    }
    failures = 0
    with tempfile.TemporaryDirectory(prefix="kmeans-readme-") as scratch:
        shutil.copytree(examples_dir, os.path.join(scratch, "examples"))
        for lineno, command, shown in found:
            run = subprocess.run(["bash", "-c", command], cwd=scratch, env=env, stdin=subprocess.DEVNULL,
                                 stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=120)
            got = run.stdout.decode("utf-8", errors="replace").split("\n")
            if got and got[-1] == "":
                got.pop()
            if trimmed(got) != trimmed(shown):
                failures += 1
                print(f"{readme}:{lineno}: $ {command}")
                sys.stdout.writelines(difflib.unified_diff([l + "\n" for l in trimmed(shown)],
                                                           [l + "\n" for l in trimmed(got)],
                                                           "README", "output"))
    print(f"{len(found)} examples, {failures} differ")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
