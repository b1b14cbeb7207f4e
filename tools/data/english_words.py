#!/usr/bin/env python3
"""Writes the English word list of the system data from the SCOWL size levels.

Reads the en_US lists of the unpacked scowl package (ROOT/scowl/usr/share/
dict/scowl: english-words, american-words, english-upper, american-upper,
english-contractions, english-abbreviations, english-proper-names) up to
--max-level and writes TSV rows "word TAB frequency", sorted by word (code
points), UTF-8, LF. A word listed at several levels keeps its smallest
(most common) level; frequency = (100 - level) x 10, so level 10 gives 900
and level 60 gives 400. The words of level 10 (frequency 900, about four
thousand) are the common list: in pinyin input only they (and the user's own
words) are offered as completions where the letters read as pinyin; the
full list serves English input. Only words of ASCII letters with inner apostrophes
are kept (at most 64 characters), and possessives ending in "'s" only from
the contraction lists; words that differ only in case are all kept, since
the dictionary tells them apart by exact spelling.

Usage: english_words.py --root ROOT --out FILE [--max-level N]
"""

import argparse
import os
import re
import sys

CATEGORIES = ("english-words", "american-words", "english-upper", "american-upper",
              "english-contractions", "english-abbreviations", "english-proper-names")
WORD = re.compile(r"^[A-Za-z](?:[A-Za-z']{0,62}[A-Za-z])?$")


def collect(scowl_dir, max_level):
    levels = {}
    for name in sorted(os.listdir(scowl_dir)):
        category, _, level = name.rpartition(".")
        if category not in CATEGORIES or not level.isdigit() or int(level) > max_level:
            continue
        level = int(level)
        with open(os.path.join(scowl_dir, name), encoding="utf-8", errors="replace") as f:
            for line in f:
                word = line.strip()
                # Possessives of listed words would crowd the completions.
                if word.endswith("'s") and category != "english-contractions":
                    continue
                if WORD.match(word) and "''" not in word:
                    if word not in levels or level < levels[word]:
                        levels[word] = level
    return levels


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--root", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--max-level", type=int, default=60)
    args = parser.parse_args()
    scowl_dir = os.path.join(args.root, "scowl", "usr", "share", "dict", "scowl")
    if not os.path.isdir(scowl_dir):
        sys.exit("english_words: no SCOWL lists under %s" % scowl_dir)
    levels = collect(scowl_dir, args.max_level)
    if not levels:
        sys.exit("english_words: no words found in %s" % scowl_dir)
    temp = args.out + ".part"
    with open(temp, "w", encoding="utf-8", newline="\n") as out:
        for word in sorted(levels):
            out.write("%s\t%d\n" % (word, (100 - levels[word]) * 10))
    os.replace(temp, args.out)


if __name__ == "__main__":
    main()
