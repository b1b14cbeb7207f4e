#!/usr/bin/env python3
"""Builds the traditional-form dictionary (qzim_tra.bin) from OpenCC's data.

OpenCC's STCharacters.ocd2 and STPhrases.ocd2 are dumped to text with
opencc_dict (run from the unpacked packages when it is not installed), and
each simplified text is mapped to the first of its traditional forms.
Phrases whose form equals their text are kept as "keep the text" entries:
they stop a shorter, wrong match of their last characters (呂后 is not
呂後). Single characters whose first form is themselves are left out.

The image is a trie of reversed texts in UTF-16 units (see
kernel/lexicon/trad_dict.h): header, 16-byte nodes in breadth-first order
(children of a node consecutive and in ascending unit order), then the
replacement texts as length-prefixed UTF-16. Same inputs, same bytes.

Usage: trad_build.py --opencc-root DIR --out FILE [--dump-dir DIR]
  --opencc-root  the unpacked packages (DIR/opencc, DIR/libopencc1.1,
                 DIR/libmarisa0 as fetch_sources.py lays them out)
"""

import argparse
import os
import shutil
import struct
import subprocess
import sys
import tempfile

NODE_SIZE = 16
HEADER_SIZE = 20
KEEP_TEXT = -2
NO_VALUE = -1


def fail(message):
    print("trad_build: " + message, file=sys.stderr)
    sys.exit(1)


def find_tools(root):
    """The opencc_dict binary, the .ocd2 directory and an environment to run it."""
    arch_libs = []
    for package in ("libopencc1.1", "libmarisa0"):
        lib_root = os.path.join(root, package, "usr", "lib")
        if os.path.isdir(lib_root):
            for name in sorted(os.listdir(lib_root)):
                path = os.path.join(lib_root, name)
                if os.path.isdir(path):
                    arch_libs.append(path)
    binary = os.path.join(root, "opencc", "usr", "bin", "opencc_dict")
    if not os.path.exists(binary):
        binary = shutil.which("opencc_dict")
    if not binary:
        fail("opencc_dict not found under %s nor installed" % root)
    data = os.path.join(root, "libopencc1.1", "usr", "share", "opencc")
    if not os.path.exists(os.path.join(data, "STPhrases.ocd2")):
        data = "/usr/share/opencc"
    env = dict(os.environ)
    if arch_libs:
        env["LD_LIBRARY_PATH"] = os.pathsep.join(arch_libs + [env.get("LD_LIBRARY_PATH", "")]).rstrip(os.pathsep)
    return binary, data, env


def dump(binary, env, source, target):
    result = subprocess.run([binary, "-i", source, "-o", target, "-f", "ocd2", "-t", "text"],
                            env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    if result.returncode != 0:
        fail("opencc_dict failed on %s: %s" % (source, result.stderr.strip()))


def read_pairs(path):
    pairs = {}
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip("\n")
            if not line:
                continue
            parts = line.split("\t")
            if len(parts) != 2 or not parts[0] or not parts[1].split(" ")[0]:
                fail("%s:%d: not '<text>\\t<forms>'" % (path, number))
            pairs[parts[0]] = parts[1].split(" ")[0]
    return pairs


def units(text):
    data = text.encode("utf-16-le")
    return [data[i] | (data[i + 1] << 8) for i in range(0, len(data), 2)]


def build_image(entries):
    """entries: {simplified: replacement or None (keep the text)}."""
    children = [{}]
    values = [NO_VALUE]
    value_area = bytearray()
    value_at = {}
    for text in sorted(entries):
        node = 0
        for unit in reversed(units(text)):
            child = children[node].get(unit)
            if child is None:
                child = len(children)
                children.append({})
                values.append(NO_VALUE)
                children[node][unit] = child
            node = child
        replacement = entries[text]
        if replacement is None:
            values[node] = KEEP_TEXT
            continue
        payload = replacement.encode("utf-16-le")
        if payload not in value_at:
            value_at[payload] = len(value_area)
            value_area += struct.pack("<H", len(payload)) + payload
        values[node] = value_at[payload]

    order, unit_of = [0], {0: 0}
    number = {0: 0}
    i = 0
    while i < len(order):
        for unit in sorted(children[order[i]]):
            child = children[order[i]][unit]
            number[child] = len(order)
            unit_of[child] = unit
            order.append(child)
        i += 1

    nodes = bytearray()
    for old in order:
        kids = sorted(children[old])
        first = number[children[old][kids[0]]] if kids else 0
        nodes += struct.pack("<HHIIi", unit_of[old], 0, first, len(kids), values[old])
    header = struct.pack("<IIIII", HEADER_SIZE, len(entries), len(value_area), NODE_SIZE, len(order))
    return bytes(header + nodes + value_area), len(order)


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--opencc-root", required=True)
    ap.add_argument("--out", required=True)
    ap.add_argument("--dump-dir")
    args = ap.parse_args()

    binary, data, env = find_tools(args.opencc_root)
    work = args.dump_dir or tempfile.mkdtemp(prefix="trad_build.")
    os.makedirs(work, exist_ok=True)
    try:
        chars_txt = os.path.join(work, "STCharacters.txt")
        phrases_txt = os.path.join(work, "STPhrases.txt")
        dump(binary, env, os.path.join(data, "STCharacters.ocd2"), chars_txt)
        dump(binary, env, os.path.join(data, "STPhrases.ocd2"), phrases_txt)
        chars = read_pairs(chars_txt)
        phrases = read_pairs(phrases_txt)
    finally:
        if not args.dump_dir:
            shutil.rmtree(work, ignore_errors=True)

    entries = {}
    for text, form in chars.items():
        if form != text:
            entries[text] = form
    for text, form in phrases.items():
        entries[text] = None if form == text else form

    image, node_count = build_image(entries)
    os.makedirs(os.path.dirname(os.path.abspath(args.out)), exist_ok=True)
    temp = args.out + ".tmp"
    with open(temp, "wb") as f:
        f.write(image)
    os.replace(temp, args.out)
    print("trad_build: %d characters, %d phrases (%d kept as they are), %d nodes, %d bytes"
          % (sum(1 for t in entries if len(t) == 1), sum(1 for t in entries if len(t) > 1),
             sum(1 for t, v in entries.items() if v is None), node_count, len(image)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
