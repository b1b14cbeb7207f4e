#!/usr/bin/env python3
"""Writes the system priors of single-letter typing errors.

The spelling corrector prices each one-edit variant of the input with a
prior over the letters around the edit. No open corpus of pinyin typing
errors exists, so the priors come from a small model of how pinyin is typed
on a QWERTY keyboard:

  substitution (typed a for intended b, after c): likely when a and b are
      neighbouring keys, less so between two vowels (finals are misspelt
      more often than initials), rare otherwise;
  extra letter (typed a that must be deleted, after c): likely when a
      repeats c (a key pressed twice) or is c's neighbour; the h of zh, ch,
      sh and the g of ng are also often typed in excess;
  missing letter (intended b not typed, after c): the h after z, c, s and
      the g after n are the usual omissions; other letters are rarer, and
      a missing first letter is rarest;
  swap (typed ab for ba, after c): likely for the vowel pairs that pinyin
      spelling confuses (ie/ei, iu/ui, ou/uo, ai/ia, au/ua) and for n and g;
      more likely across the hands (fast alternate typing) than within one.

Every row of both tables gets a probability (rows that no edit uses get the
lowest), since the dictionary reads a missing row as the cheapest cost.

Usage: letter_priors.py --out FILE
Writes log10 probabilities, one row per key of the two tables:
  edit  a b c  log10 p    a, b, c in a-z or ~ (27 x 27 x 27 rows)
  swap  a b c  log10 p    a, b in a-z, c in a-z or ~ (26 x 26 x 27 rows)
in the order of the tables' keys, fixed format.
"""

import argparse
import math
import os
import sys

LETTERS = "abcdefghijklmnopqrstuvwxyz"
NONE = "~"
ROWS = ["qwertyuiop", "asdfghjkl", "zxcvbnm"]
ROW_SHIFT = [0.0, 0.25, 0.75]
LEFT_HAND = set("qwertasdfgzxcvb")
VOWELS = set("aeiouv")
SWAPPED_SPELLINGS = {("i", "e"), ("e", "i"), ("i", "u"), ("u", "i"), ("o", "u"), ("u", "o"),
                     ("a", "i"), ("i", "a"), ("a", "u"), ("u", "a"), ("n", "g"), ("g", "n")}

P_ADJACENT = 0.02
P_VOWELS = 0.005
P_FAR = 0.0005
P_REPEAT = 0.02
P_EXTRA_NEIGHBOUR = 0.01
P_EXTRA_SPELLING = 0.01
P_EXTRA = 0.001
P_MISSING_SPELLING = 0.01
P_MISSING = 0.002
P_MISSING_FIRST = 0.001
P_SWAP_SPELLING = 0.02
P_SWAP_HANDS = 0.01
P_SWAP = 0.003
P_NONE = 1e-9       # rows that no edit asks for


def key_position(letter):
    for row, keys in enumerate(ROWS):
        if letter in keys:
            return keys.index(letter) + ROW_SHIFT[row], float(row)
    raise ValueError(letter)


def adjacent(a, b):
    (x1, y1), (x2, y2) = key_position(a), key_position(b)
    return a != b and math.hypot(x1 - x2, y1 - y2) <= 1.3


def spelling_extra(a, c):
    """a typed in excess after c where pinyin spells a letter pair."""
    return (a == "h" and c in "zcs") or (a == "g" and c == "n")


def edit_probability(a, b, c):
    """Row (a, b, c) of the edit table."""
    if a != NONE and b != NONE:                 # substitution: typed a for b
        if a == b:
            return P_NONE
        if adjacent(a, b):
            return P_ADJACENT
        if a in VOWELS and b in VOWELS:
            return P_VOWELS
        return P_FAR
    if a != NONE:                               # extra letter a, deleted
        if c == NONE:
            return P_EXTRA
        if a == c:
            return P_REPEAT
        if spelling_extra(a, c):
            return P_EXTRA_SPELLING
        if adjacent(a, c):
            return P_EXTRA_NEIGHBOUR
        return P_EXTRA
    if b != NONE:                               # missing letter b, inserted
        if c == NONE:
            return P_MISSING_FIRST
        if spelling_extra(b, c):
            return P_MISSING_SPELLING
        return P_MISSING
    return P_NONE


def swap_probability(a, b, c):
    if a == b:
        return P_NONE
    if (a, b) in SWAPPED_SPELLINGS:
        return P_SWAP_SPELLING
    if (a in LEFT_HAND) != (b in LEFT_HAND):
        return P_SWAP_HANDS
    return P_SWAP


def rows():
    """Rows in the order of the two tables' keys."""
    with_none = LETTERS + NONE
    # edit table key: 729 x idx(c) + 27 x idx(a) + idx(b)
    for c in with_none:
        for a in with_none:
            for b in with_none:
                yield "edit", a, b, c, edit_probability(a, b, c)
    # swap table key: 676 x idx(c) + 26 x idx(b) + idx(a)
    for c in with_none:
        for b in LETTERS:
            for a in LETTERS:
                yield "swap", a, b, c, swap_probability(a, b, c)


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--out", required=True)
    args = ap.parse_args()
    temp = args.out + ".tmp"
    with open(temp, "w", encoding="utf-8", newline="\n") as f:
        f.write("# table\ta\tb\tc\tlog10 probability\n")
        for table, a, b, c, p in rows():
            f.write("%s\t%s\t%s\t%s\t%.6f\n" % (table, a, b, c, math.log10(p)))
    os.replace(temp, args.out)
    return 0


if __name__ == "__main__":
    sys.exit(main())
