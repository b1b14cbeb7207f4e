#!/usr/bin/env python3
"""Writes the pinyin tips of the system data.

A tip tells how a common word reads a character that it reads otherwise
than the character is mostly read: 银行 gets "行(háng)", 重庆 "重(chóng)",
了解 "了(liǎo)". A reading is unusual where the frequency survey of Unihan
(kHanyuPinlu) counts it at most a quarter as often as the character's most
counted reading (地 dì, counted two thirds as often as de, is not); for a
character the survey did not count, every reading but the first of
kMandarin is. A character's toned
form for a syllable comes from the first of kHanyuPinlu (the most counted),
kTGHZ2013, kXHC1983, kHanyuPinyin and kMandarin that reads it so. A word
gets a tip when it is among the --max-rank most frequent words of the
statistics (unigrams.tsv), has two characters or more, and at least one
character of it is read unusually; a character without a usual reading or
a toned form gives none.

Inputs: ROOT/unicode-data (Unihan readings), the normalised word list
(words.tsv), the unigram statistics (unigrams.tsv) and the syllable list.
Output: TSV rows "syllable ids (space separated) TAB word TAB tip", sorted
by ids then word, UTF-8, LF.

Usage: pinyin_tips.py --root ROOT --words FILE --unigrams FILE
                      --syllables FILE --out FILE [--max-rank N]
"""

import argparse
import collections
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from check_syllables import load_syllables  # noqa: E402
from normalise import UNIHAN_DIR, field_readings, toneless, unihan_lines  # noqa: E402

# Sources of a toned form, most trusted first.
TONE_SOURCES = ("kHanyuPinlu", "kTGHZ2013", "kXHC1983", "kHanyuPinyin", "kMandarin")


# A reading counted at most this share of the most counted one is unusual.
UNUSUAL_SHARE = 0.25


def read_readings(root, syllables):
    """-> ({char: set of usual syllables}, {(char, syllable): toned form})"""
    path = os.path.join(root, UNIHAN_DIR, "Unihan_Readings.txt.bz2")
    if not os.path.exists(path):
        sys.exit("pinyin_tips: missing %s" % path)
    fields = collections.defaultdict(dict)  # char -> field -> [(reading, count)]
    for ch, field, value in unihan_lines(path):
        if field in TONE_SOURCES:
            fields[ch][field] = field_readings(field, value)
    usual, toned = {}, {}
    for ch, by_field in fields.items():
        survey = collections.Counter()
        for reading, count in by_field.get("kHanyuPinlu", []):
            if toneless(reading) in syllables:  # not the suffix r of 儿
                survey[toneless(reading)] += count
        if survey:
            most = max(survey.values())
            usual[ch] = {s for s, count in survey.items() if count > UNUSUAL_SHARE * most}
        elif by_field.get("kMandarin"):
            usual[ch] = {toneless(by_field["kMandarin"][0][0])}
        for field in TONE_SOURCES:
            ranked = sorted(by_field.get(field, []), key=lambda r: -r[1]) if field == "kHanyuPinlu" \
                else by_field.get(field, [])
            for reading, _ in ranked:
                syllable = toneless(reading)
                if syllable and (ch, syllable) not in toned:
                    toned[(ch, syllable)] = reading.strip().lower()
    return usual, toned


def read_ranks(path, max_rank):
    words = set()
    with open(path, encoding="utf-8") as f:
        for line in f:
            if line.startswith("#"):
                continue
            fields = line.rstrip("\n").split("\t")
            if len(fields) >= 4 and fields[3].isdigit() and int(fields[3]) <= max_rank:
                words.add(fields[0])
    return words


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--root", required=True)
    parser.add_argument("--words", required=True)
    parser.add_argument("--unigrams", required=True)
    parser.add_argument("--syllables", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--max-rank", type=int, default=30000)
    args = parser.parse_args()
    ids = {s: i for i, s in enumerate(load_syllables(args.syllables))}
    usual, toned = read_readings(args.root, ids)
    common = read_ranks(args.unigrams, args.max_rank)
    rows = set()
    with open(args.words, encoding="utf-8") as f:
        for line in f:
            if line.startswith("#"):
                continue
            word, _, reading = line.rstrip("\n").partition("\t")
            syllables = reading.split(" ")
            if len(word) < 2 or len(word) != len(syllables) or word not in common:
                continue
            if any(s not in ids for s in syllables):
                continue
            tips = []
            for ch, syllable in zip(word, syllables):
                if ch in usual and syllable not in usual[ch] and (ch, syllable) in toned:
                    tips.append("%s(%s)" % (ch, toned[(ch, syllable)]))
            if tips:
                rows.add((tuple(ids[s] for s in syllables), word, " ".join(tips)))
    if not rows:
        sys.exit("pinyin_tips: no tip found")
    temp = args.out + ".part"
    with open(temp, "w", encoding="utf-8", newline="\n") as out:
        for key, word, tip in sorted(rows):
            out.write("%s\t%s\t%s\n" % (" ".join(map(str, key)), word, tip))
    os.replace(temp, args.out)


if __name__ == "__main__":
    main()
