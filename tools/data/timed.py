#!/usr/bin/env python3
"""Runs one step of the data build and records how long it took.

Usage: timed.py TIMINGS_DIR STEP -- COMMAND [ARG...]
Writes TIMINGS_DIR/STEP.seconds after a successful run; exits with the
command's status, so a failed step fails the build.
"""

import os
import subprocess
import sys
import time


def main():
    if len(sys.argv) < 5 or sys.argv[3] != "--":
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    timings, step, command = sys.argv[1], sys.argv[2], sys.argv[4:]
    start = time.monotonic()
    status = subprocess.call(command)
    if status != 0:
        return status
    os.makedirs(timings, exist_ok=True)
    with open(os.path.join(timings, step + ".seconds"), "w", encoding="utf-8") as f:
        f.write("%.1f\n" % (time.monotonic() - start))
    return 0


if __name__ == "__main__":
    sys.exit(main())
