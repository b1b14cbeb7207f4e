#!/usr/bin/env python3
"""Measures how well the normalised lexicon covers the calibration phrases.

Usage: coverage.py --words WORDS_TSV --chars CHARS_TSV --calibration TSV
Prints key TAB value lines:
  phrases                  phrases in the calibration set
  char readings covered %  characters whose given reading the character
                           readings hold
  phrases segmentable %    phrases that split into lexicon words read with
                           exactly the given syllables
  phrases one word %       phrases that are themselves a lexicon word
  words per phrase         mean word count of the fewest-words split
  chars in longer words %  characters that the fewest-words split puts in
                           words of two or more characters (single
                           characters always split, so this is the
                           measure of the word list itself)
"""

import argparse
import os
import sys


def read_rows(path):
    with open(path, encoding="utf-8") as f:
        for line in f:
            if line.startswith("#") or not line.strip():
                continue
            yield line.rstrip("\n").split("\t")


def write_lines(path, lines):
    """Writes the lines through a temporary file renamed over path, so that
    an interrupted build never leaves a half-written file behind."""
    temp = path + ".tmp"
    with open(temp, "w", encoding="utf-8", newline="\n") as f:
        f.writelines(lines)
        f.flush()
        os.fsync(f.fileno())
    os.replace(temp, path)


def coverage(words_path, chars_path, calibration_path):
    lexicon = set()
    longest = 1
    for fields in read_rows(words_path):
        if len(fields) >= 2:
            lexicon.add((fields[0], fields[1]))
            longest = max(longest, len(fields[0]))
    char_readings = set()
    for fields in read_rows(chars_path):
        if len(fields) >= 2:
            char_readings.add((fields[0], fields[1]))

    phrases = chars_total = chars_covered = segmentable = whole = words_used = 0
    chars_in_longer = 0
    for fields in read_rows(calibration_path):
        if len(fields) < 2:
            continue
        text, syllables = fields[0], fields[1].split(" ")
        if len(text) != len(syllables):
            continue
        phrases += 1
        chars_total += len(text)
        chars_covered += sum((c, s) in char_readings for c, s in zip(text, syllables))
        if (text, fields[1]) in lexicon:
            whole += 1
        # Fewest-words split over words whose reading matches exactly.
        n = len(text)
        best = [0] + [None] * n
        back = [0] * (n + 1)
        for end in range(1, n + 1):
            for start in range(max(0, end - longest), end):
                if best[start] is None:
                    continue
                if (text[start:end], " ".join(syllables[start:end])) in lexicon:
                    if best[end] is None or best[start] + 1 < best[end]:
                        best[end] = best[start] + 1
                        back[end] = start
        if best[n] is not None:
            segmentable += 1
            words_used += best[n]
            end = n
            while end > 0:
                if end - back[end] >= 2:
                    chars_in_longer += end - back[end]
                end = back[end]

    def pct(a, b):
        return "%.1f" % (100.0 * a / b) if b else "0.0"

    return [
        ("phrases", str(phrases)),
        ("char readings covered %", pct(chars_covered, chars_total)),
        ("phrases segmentable %", pct(segmentable, phrases)),
        ("phrases one word %", pct(whole, phrases)),
        ("words per phrase", "%.2f" % (words_used / segmentable) if segmentable else "0"),
        ("chars in longer words %", pct(chars_in_longer, chars_total)),
    ]


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--words", required=True)
    ap.add_argument("--chars", required=True)
    ap.add_argument("--calibration", required=True)
    args = ap.parse_args()
    for key, value in coverage(args.words, args.chars, args.calibration):
        print("%s\t%s" % (key, value))
    return 0


if __name__ == "__main__":
    sys.exit(main())
