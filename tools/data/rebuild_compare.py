#!/usr/bin/env python3
"""Rebuilds data files into a temporary directory and compares them byte for byte.

Usage: rebuild_compare.py TARGET -- COMMAND... [--and TARGET -- COMMAND...]
Each COMMAND is run with the argument "{out}" replaced by a temporary path;
the file it writes there must equal TARGET. Exits 1 at the first difference
or failed command.
"""

import filecmp
import os
import shutil
import subprocess
import sys
import tempfile


def groups(argv):
    group = []
    for arg in argv:
        if arg == "--and":
            yield group
            group = []
        else:
            group.append(arg)
    yield group


def main():
    work = tempfile.mkdtemp(prefix="rebuild_compare.")
    try:
        for number, group in enumerate(groups(sys.argv[1:])):
            if len(group) < 3 or group[1] != "--":
                print(__doc__)
                return 2
            target, command = group[0], group[2:]
            if not os.path.exists(target):
                print("rebuild_compare: %s was not built" % target)
                return 1
            out = os.path.join(work, "%d-%s" % (number, os.path.basename(target)))
            result = subprocess.run([out if a == "{out}" else a for a in command],
                                    stdout=subprocess.DEVNULL)
            if result.returncode != 0:
                print("rebuild_compare: rebuilding %s failed" % target)
                return 1
            if not filecmp.cmp(target, out, shallow=False):
                print("rebuild_compare: %s differs when rebuilt from the same inputs" % target)
                return 1
            print("rebuild_compare: %s rebuilt identically" % os.path.basename(target))
        return 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
