#!/usr/bin/env python3
"""Writes the supported-character flags (qzim_charvalid.bin).

A code point of the Basic Multilingual Plane is supported unless it belongs
to the Han script (Scripts.txt of the unicode-data package) and does not
encode in GBK. Image, little-endian: u32 format version 20141219, u32 flag
count 0x10000, u32 number of flags written (0x10000), u32 0, then one byte
per code point (1 supported, 0 not).

Usage: support_chars.py --root ROOT --out FILE
"""

import argparse
import os
import re
import struct
import sys

VERSION = 20141219
COUNT = 0x10000


def han_points(scripts_path):
    han = set()
    pattern = re.compile(r"^([0-9A-F]{4,6})(?:\.\.([0-9A-F]{4,6}))?\s*;\s*Han\b")
    with open(scripts_path, encoding="utf-8") as f:
        for line in f:
            m = pattern.match(line)
            if m:
                first = int(m.group(1), 16)
                last = int(m.group(2), 16) if m.group(2) else first
                han.update(range(first, min(last, COUNT - 1) + 1))
    return han


def encodes_in_gbk(cp):
    try:
        chr(cp).encode("gbk")
        return True
    except UnicodeEncodeError:
        return False


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--root", required=True)
    parser.add_argument("--out", required=True)
    args = parser.parse_args()
    scripts = os.path.join(args.root, "unicode-data", "usr", "share", "unicode", "Scripts.txt")
    if not os.path.exists(scripts):
        sys.exit("support_chars: no Scripts.txt at %s" % scripts)
    han = han_points(scripts)
    if not han:
        sys.exit("support_chars: no Han code points in %s" % scripts)
    flags = bytearray(b"\x01" * COUNT)
    for cp in han:
        if cp < COUNT and not encodes_in_gbk(cp):
            flags[cp] = 0
    temp = args.out + ".part"
    with open(temp, "wb") as out:
        out.write(struct.pack("<IIII", VERSION, COUNT, COUNT, 0))
        out.write(bytes(flags))
    os.replace(temp, args.out)


if __name__ == "__main__":
    main()
