#!/usr/bin/env python3
"""Writes and prints the one-screen summary of the data build.

Usage: summary.py --out DATA_DIR --syllables FILE --manifest FILE
                  [--calibration TSV] [--summary FILE]
Reads the outputs of the earlier steps in DATA_DIR (normalise-report.tsv,
unigrams.tsv, bigrams.tsv, domain-report.txt, compile-report.txt,
timings/*.seconds) and the build parameters: the one place that holds the
figures of the data (the documentation points here rather than copy them).
"""

import argparse
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from check_syllables import LETTER_COUNT, load_syllables  # noqa: E402
import coverage  # noqa: E402


def count_rows(path):
    with open(path, encoding="utf-8") as f:
        return sum(1 for line in f if line.strip() and not line.startswith("#"))


def read_pairs(path):
    result = {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            if line.startswith("#") or "\t" not in line:
                continue
            key, value = line.rstrip("\n").rsplit("\t", 1)
            result[key] = value
    return result


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--out", required=True)
    ap.add_argument("--syllables", required=True)
    ap.add_argument("--manifest", required=True)
    ap.add_argument("--calibration")
    ap.add_argument("--summary")
    args = ap.parse_args()

    out = args.out
    report = read_pairs(os.path.join(out, "normalise-report.tsv"))
    params = read_pairs(os.path.join(out, "build-params.tsv"))
    lines = ["Vetra Pinyin system data (%s)" % out]
    lines.append("  syllables %d + letters %d" % (len(load_syllables(args.syllables)), LETTER_COUNT))
    lines.append("  characters %s with %s readings (%s traditional-only)"
                 % (report.get("chars"), report.get("char readings"),
                    report.get("chars traditional-only")))
    lines.append("  words %s with %s readings (%s of several readings)"
                 % (report.get("words"), report.get("word readings"),
                    report.get("words of several readings")))
    dropped = sum(int(v) for k, v in report.items() if k.startswith("word rows dropped"))
    merged = sum(int(v) for k, v in report.items() if k.startswith("word rows merged"))
    lines.append("  word rows read %s, dropped %d, merged %d, mapped to simplified %s; "
                 "char readings dropped %s"
                 % (report.get("word rows read"), dropped, merged,
                    report.get("word rows mapped to simplified script", "0"),
                    report.get("char readings dropped: syllable not in the list", "0")))
    lines.append("  unigrams %d, bigrams %d"
                 % (count_rows(os.path.join(out, "unigrams.tsv")),
                    count_rows(os.path.join(out, "bigrams.tsv"))))
    domain = os.path.join(out, "domain-report.txt")
    if os.path.exists(domain):
        with open(domain, encoding="utf-8") as f:
            lines.append("  domain text: " + "; ".join(l.strip().replace("\t", " ") for l in f))
    if params:
        lines.append("  parameters: " + ", ".join("%s %s" % kv for kv in sorted(params.items())))
    compiled = os.path.join(out, "compile-report.txt")
    if os.path.exists(compiled):
        with open(compiled, encoding="utf-8") as f:
            lines.extend(line.rstrip("\n") for line in f if line.strip())
    sizes = []
    for name in sorted(os.listdir(out)):
        path = os.path.join(out, name)
        if os.path.isfile(path) and name.endswith(".tsv"):
            sizes.append("%s %.1f MB" % (name, os.path.getsize(path) / 1e6))
    lines.append("  files: " + ", ".join(sizes))
    with open(args.manifest, encoding="utf-8") as f:
        sources = [line.split("\t")[:2] for line in f if not line.startswith("#")]
    lines.append("  sources: " + ", ".join("%s %s" % (p, v) for p, v in sources))
    if args.calibration and os.path.exists(args.calibration):
        cov = dict(coverage.coverage(os.path.join(out, "words.tsv"),
                                     os.path.join(out, "chars.tsv"), args.calibration))
        lines.append("  calibration: %s phrases; char readings covered %s%%, segmentable %s%%, "
                     "%s%% of characters in words of 2+, %s words per phrase"
                     % (cov["phrases"], cov["char readings covered %"],
                        cov["phrases segmentable %"], cov["chars in longer words %"],
                        cov["words per phrase"]))
    timings_dir = os.path.join(out, "timings")
    steps = []
    total = 0.0
    if os.path.isdir(timings_dir):
        for name in sorted(os.listdir(timings_dir)):
            if name.endswith(".seconds"):
                with open(os.path.join(timings_dir, name), encoding="utf-8") as f:
                    seconds = float(f.read().strip() or 0)
                total += seconds
                steps.append("%s %.1f s" % (name[:-len(".seconds")], seconds))
    lines.append("  build time %.1f s (%s)" % (total, ", ".join(steps)))
    text = "\n".join(lines) + "\n"
    if args.summary:
        with open(args.summary + ".tmp", "w", encoding="utf-8") as f:
            f.write(text)
        os.replace(args.summary + ".tmp", args.summary)
    sys.stdout.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main())
