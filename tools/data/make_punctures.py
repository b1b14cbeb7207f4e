#!/usr/bin/env python3
"""Writes "punctures.ini", the punctuation map, from its readable source.

Source (data/lexicon/punctuation.tsv): "U+XXXX TAB half-width TAB full-width"
rows ('#' lines are comments); exactly 34 rows with distinct keys and texts
of 1 to 1023 characters. Each row becomes a section whose name encodes the
key code and whose "ChHalf" and "ChFull" values encode the texts as 32-bit
little-endian units. Encoding: every byte b is the letters
chr(97 + b // 16) chr(97 + b % 16), followed by a check byte that makes the
XOR of all bytes 0. Sections are written by key code; the output is ASCII
with LF line ends, so the same source gives the same bytes.

Usage: make_punctures.py --source TSV --out INI
       make_punctures.py --source TSV --check INI   (fails when INI differs)
"""

import argparse
import os
import struct
import sys

RECORDS = 34
MAX_CHARS = 1023


def encode(data):
    check = 0
    letters = []
    for b in data:
        letters.append(chr(97 + b // 16) + chr(97 + b % 16))
        check ^= b
    letters.append(chr(97 + check // 16) + chr(97 + check % 16))
    return "".join(letters)


def utf32(text):
    return b"".join(struct.pack("<I", ord(c)) for c in text)


def read_source(path):
    rows = {}
    with open(path, encoding="utf-8") as f:
        for n, line in enumerate(f, 1):
            line = line.rstrip("\n")
            if not line or line.startswith("#"):
                continue
            parts = line.split("\t")
            if len(parts) != 3 or not parts[0].startswith("U+"):
                sys.exit("make_punctures: %s:%d: expected U+XXXX TAB half TAB full" % (path, n))
            key = int(parts[0][2:], 16)
            if key == 0 or key in rows:
                sys.exit("make_punctures: %s:%d: key %s is 0 or repeated" % (path, n, parts[0]))
            for text in parts[1:]:
                if not 1 <= len(text) <= MAX_CHARS:
                    sys.exit("make_punctures: %s:%d: text of %d characters" % (path, n, len(text)))
            rows[key] = (parts[1], parts[2])
    if len(rows) != RECORDS:
        sys.exit("make_punctures: %s has %d rows, not %d" % (path, len(rows), RECORDS))
    return rows


def render(rows):
    lines = ["; Punctuation map, written by tools/data/make_punctures.py from data/lexicon/punctuation.tsv"]
    for key in sorted(rows):
        half, full = rows[key]
        lines.append("[%s]" % encode(struct.pack("<I", key)))
        lines.append("ChHalf=%s" % encode(utf32(half)))
        lines.append("ChFull=%s" % encode(utf32(full)))
    return "\n".join(lines) + "\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--source", required=True)
    group = parser.add_mutually_exclusive_group(required=True)
    group.add_argument("--out")
    group.add_argument("--check")
    args = parser.parse_args()
    text = render(read_source(args.source))
    if args.check:
        with open(args.check, encoding="ascii", newline="") as f:
            if f.read() != text:
                sys.exit("make_punctures: %s is not what %s gives; regenerate it" % (args.check, args.source))
        return
    temp = args.out + ".part"
    with open(temp, "w", encoding="ascii", newline="\n") as f:
        f.write(text)
    os.replace(temp, args.out)


if __name__ == "__main__":
    main()
