#!/usr/bin/env python3
"""Estimates syllable and syllable-pair probabilities from the word statistics.

The syllable-path scorer of the conversion core needs a cost for the first
syllable of a path and a cost for each following syllable given the one
before. No open corpus of typed pinyin exists, so the probabilities are the
expected syllable counts of text that the word statistics describe:

  - every word w of the unigram file contributes p(w), split over its
    readings (single characters by their frequency survey counts, +1 each;
    other words evenly), to each syllable of the reading and to each pair of
    neighbouring syllables inside the reading;
  - every pair of words (a, b) contributes p(a) p(b | a) to the pair (last
    syllable of a, first syllable of b), where p(b | a) is the stored pair
    probability or the back-off path; the back-off part is summed per
    syllable, so the cost stays linear in the number of stored pairs.

Pair probabilities are interpolated with the syllable probabilities
(weight 0.99 / 0.01) and every syllable gets a small floor, so that every
one of the 413 x 413 pairs has a probability: the dictionary reads a missing
pair as the cheapest cost.

Usage: syllable_stats.py --syllables FILE --data DIR
Reads DIR/words.tsv, chars.tsv, unigrams.tsv, bigrams.tsv; writes
DIR/syllable-unigrams.tsv (syllable TAB log10 p, in id order) and
DIR/syllable-bigrams.tsv (first TAB second TAB log10 p(second | first), in id
order), UTF-8, fixed formats.
"""

import argparse
import collections
import math
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from check_syllables import load_syllables  # noqa: E402
from coverage import read_rows, write_lines  # noqa: E402

PAIR_WEIGHT = 0.99
FLOOR = 1e-9


def reading_weights(words_path, chars_path, syllable_id):
    """{word: [(weight, [syllable ids])]} with weights summing to 1."""
    pinlu = {}
    for fields in read_rows(chars_path):
        pinlu[(fields[0], fields[1])] = int(fields[2])
    readings = collections.defaultdict(list)
    for fields in read_rows(words_path):
        readings[fields[0]].append(fields[1].split(" "))
    result = {}
    for word, options in readings.items():
        if len(word) == 1:
            raw = [pinlu.get((word, r[0]), 0) + 1 for r in options]
        else:
            raw = [1] * len(options)
        total = float(sum(raw))
        result[word] = [(w / total, [syllable_id[s] for s in r]) for w, r in zip(raw, options)]
    return result


def estimate(syllables, data_dir):
    n = len(syllables)
    syllable_id = {s: i for i, s in enumerate(syllables)}
    readings = reading_weights(os.path.join(data_dir, "words.tsv"),
                               os.path.join(data_dir, "chars.tsv"), syllable_id)
    unigram = [0.0] * n
    pair = [[0.0] * n for _ in range(n)]
    first_mass = [0.0] * n          # F[s]: mass of words starting with s
    backoff_mass = [0.0] * n        # B[l]: mass p(a) bo(a) of words ending with l
    prob = {}
    backoff = {}
    for fields in read_rows(os.path.join(data_dir, "unigrams.tsv")):
        word = fields[0]
        if word not in readings:
            continue
        p = 10.0 ** float(fields[1])
        prob[word] = p
        backoff[word] = 10.0 ** float(fields[2])
        for weight, ids in readings[word]:
            m = p * weight
            for s in ids:
                unigram[s] += m
            for a, b in zip(ids, ids[1:]):
                pair[a][b] += m
            first_mass[ids[0]] += m
            backoff_mass[ids[-1]] += m * backoff[word]
    # Word boundaries by back-off: p(a) bo(a) p(b) for every pair of words.
    for last in range(n):
        if backoff_mass[last]:
            row = pair[last]
            for first in range(n):
                row[first] += backoff_mass[last] * first_mass[first]
    # Stored pairs replace their back-off share.
    for fields in read_rows(os.path.join(data_dir, "bigrams.tsv")):
        a, b = fields[0], fields[1]
        if a not in prob or b not in prob:
            continue
        delta = prob[a] * (10.0 ** float(fields[2]) - backoff[a] * prob[b])
        for wa, ids_a in readings[a]:
            for wb, ids_b in readings[b]:
                pair[ids_a[-1]][ids_b[0]] += delta * wa * wb

    total = sum(unigram)
    if total <= 0:
        raise SystemExit("syllable_stats: no word has statistics")
    uni_p = [(u + FLOOR * total) / (total * (1 + FLOOR * n)) for u in unigram]
    pair_p = []
    for a in range(n):
        row = [max(0.0, x) for x in pair[a]]
        row_total = sum(row)
        if row_total > 0:
            pair_p.append([PAIR_WEIGHT * x / row_total + (1 - PAIR_WEIGHT) * uni_p[b]
                           for b, x in enumerate(row)])
        else:
            pair_p.append(list(uni_p))
    return uni_p, pair_p


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--syllables", required=True)
    ap.add_argument("--data", required=True)
    args = ap.parse_args()
    syllables = load_syllables(args.syllables)
    uni_p, pair_p = estimate(syllables, args.data)
    write_lines(os.path.join(args.data, "syllable-unigrams.tsv"),
          ["# syllable\tlog10 probability\n"]
          + ["%s\t%.6f\n" % (s, math.log10(p)) for s, p in zip(syllables, uni_p)])
    write_lines(os.path.join(args.data, "syllable-bigrams.tsv"),
          ["# first syllable\tsecond syllable\tlog10 probability of the second after the first\n"]
          + ["%s\t%s\t%.6f\n" % (syllables[a], syllables[b], math.log10(pair_p[a][b]))
             for a in range(len(syllables)) for b in range(len(syllables))])
    return 0


if __name__ == "__main__":
    sys.exit(main())
