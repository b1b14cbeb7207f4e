#!/usr/bin/env python3
"""Runs tabledump over every file of a system data directory.

Usage: check_system_files.py TABLEDUMP SYSTEM_DATA_DIR
Each table file must validate clean as it is, without options; damaged copies
of the English word table (in a temporary folder) must not. The files of
other formats must be named as what they are (exit 3), not called invalid:
the kernel's own loaders check them (the built-data tests). Exits non-zero
with the failures listed.
"""

import os
import struct
import subprocess
import sys
import tempfile

# The system files in formats of their own, not table files; the text files
# (settings, schemes, punctuation) are not either.
NOT_TABLE_FILES = {"qzim_core.bin", "qzim_charvalid.bin", "qzim_tra.bin", "qzim_trustpair.bin"}
NOT_A_TABLE = 3


def run(tabledump, path):
    result = subprocess.run([tabledump, "--quiet", path], stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT, text=True)
    return result.returncode, result.stdout.strip()


def eng_rows(image):
    """(offset of key table 0's rows, bucket entries) of the English table."""
    config_size = struct.unpack_from("<i", image, 4)[0]
    header = 8 + config_size
    key_count, attri_count, data_count = struct.unpack_from("<3i", image, header + 12)
    items = header + 24 + 12 * (key_count + attri_count + data_count)
    rows = items + struct.unpack_from("<I", image, header + 24)[0]
    buckets = [struct.unpack_from("<2I", image, rows - 27 * 8 + 8 * b) for b in range(27)]
    return rows, buckets


def rows_blanked(image):
    rows, buckets = eng_rows(image)
    start, count = max(buckets, key=lambda b: b[1])
    at = rows + start
    return image[:at] + b"\xff" * (16 * count) + image[at + 16 * count:]


def keys_swapped(image):
    """The fullest bucket's first and last keys trade places: out of order."""
    rows, buckets = eng_rows(image)
    start, count = max(buckets, key=lambda b: b[1])
    first, last = rows + start, rows + start + 16 * (count - 1)
    out = bytearray(image)
    out[first:first + 4], out[last:last + 4] = image[last:last + 4], image[first:first + 4]
    return bytes(out)


def truncated(image):
    return image[:len(image) // 2]


DAMAGES = [("rows overwritten", rows_blanked), ("two keys swapped", keys_swapped),
           ("cut in half", truncated)]


def main():
    if len(sys.argv) != 3:
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    tabledump, system_dir = sys.argv[1], sys.argv[2]
    if not os.path.isdir(system_dir):
        print("no system data directory %s" % system_dir, file=sys.stderr)
        return 1
    files = sorted(os.path.relpath(os.path.join(top, n), system_dir)
                   for top, _, found in os.walk(system_dir) for n in found)
    names = [n for n in files if n.endswith(".bin") and n not in NOT_TABLE_FILES]
    others = [n for n in files if n not in names]
    failures = []
    if "qzim_eng.bin" not in names:
        failures.append("qzim_eng.bin is missing from %s" % system_dir)
    for name in names:
        status, output = run(tabledump, os.path.join(system_dir, name))
        if status != 0 or output.splitlines()[-1:] != ["VALID"]:
            failures.append("%s: exit %d: %s" % (name, status, output))
    for name in others:
        status, output = run(tabledump, os.path.join(system_dir, name))
        told = name if name in NOT_TABLE_FILES else "a text file"
        if status != NOT_A_TABLE or "NOT A TABLE FILE" not in output or told not in output:
            failures.append("%s: exit %d, not %d naming %s: %s"
                            % (name, status, NOT_A_TABLE, told, output))
    if "qzim_eng.bin" in names:
        with open(os.path.join(system_dir, "qzim_eng.bin"), "rb") as f:
            image = f.read()
        with tempfile.TemporaryDirectory(prefix="vetra-tabledump-") as temp:
            for label, damage in DAMAGES:
                path = os.path.join(temp, "qzim_eng.bin")
                with open(path, "wb") as f:
                    f.write(damage(image))
                status, output = run(tabledump, path)
                if status != 1:
                    failures.append("qzim_eng.bin %s: exit %d, not 1: %s" % (label, status, output))
    for failure in failures:
        print(failure)
    print("%d table files checked, %d of other formats named, %d damaged copies refused, "
          "%d failure(s)" % (len(names), len(others), len(DAMAGES), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
