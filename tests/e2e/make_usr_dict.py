#!/usr/bin/env python3
"""Writes a user dictionary file of the oldest format holding N made-up
words: word i has a two-syllable reading of its own and a two-character text;
the words are those from FIRST (default 0) on.
Usage: make_usr_dict.py N OUT [FIRST]"""
import struct
import sys

def main():
    count, out = int(sys.argv[1]), sys.argv[2]
    first = int(sys.argv[3]) if len(sys.argv) > 3 else 0
    record = 8  # the frequency, then padding
    body = bytearray()
    # Name table: one named entry, one without a name.
    body += struct.pack("<IHH2HH", 2, 0, 4, ord("m"), ord("e"), 7)
    for i in range(first, first + count):
        reading = (i % 400, (i // 400) % 400)
        text = (0x4E00 + i % 7000, 0x4E00 + i // 7000)
        body += struct.pack("<IH2H", 1, 4, *reading)
        body += struct.pack("<H2H", 4, *text)
        body += struct.pack("<H", 1 + i % 50) + b"\0" * (record - 2)
    header = bytearray(44)
    struct.pack_into("<I", header, 0, 0x55440101)
    struct.pack_into("<ii", header, 20, count, count)
    struct.pack_into("<i", header, 40, record)
    with open(out, "wb") as f:
        f.write(header + body)

if __name__ == "__main__":
    main()
