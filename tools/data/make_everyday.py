#!/usr/bin/env python3
"""Builds the everyday-words set: common words typed alone, with the word expected.

The words and their frequencies come from a general-usage word-frequency
list (essay.txt of Debian's rime-essay, traditional characters, one "word TAB
count" a line) that no step of the statistics reads. Each word is turned into
simplified characters with OpenCC's traditional-to-simplified tables (its
phrases first, longest match, then its characters) and the counts of words
that become the same text are added up. Readings come from the project's own
word list (words.tsv); a word it reads several ways is left out (成都 cheng
du, 不了 bu liao: which reading a user types is not the list's to say). For every toneless reading the most frequent word
read that way is the one a user means; the readings of the most frequent
such words are written, two-character ones and three- or four-character
ones apart, most frequent first.

With --harder, a second set is written of the three- and four-character
words and phrases that the first leaves out: words the list reads several
ways, read as the list's own weights say most (its dictionary, dumped with
--pinyindict, weighs each reading of a word), and text the list does not
hold (一个月), read through the fewest of its words (each read its likeliest
way). Each is kept when it is the likeliest of all the readings' words.

Usage: make_everyday.py --essay FILE --opencc-root DIR --words words.tsv
                        --manifest FILE --out TSV
                        [--two N] [--longer N]
                        [--harder TSV --pinyindict TOOL [--hard N]]
Output columns: word, syllables (space-separated), summed count. Same inputs,
same bytes; exits non-zero with a message on any failure.
"""

import argparse
import os
import re
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from coverage import read_rows, write_lines  # noqa: E402
import trad_build  # noqa: E402
from normalise import dump_word_list  # noqa: E402

HAN_WORD = re.compile(r"[\u4e00-\u9fff]{2,4}")
# The weight of a reading the dump does not give (a word of traditional
# script mapped to simplified).
UNWEIGHED = -99.0
# A reading's weight in the dump: a log10 share, 0 for a word read one way.
DUMP_ROW = re.compile(r"(\S+) ([a-z']+) (-?[0-9.]+(?:e-?[0-9]+)?)")
# essay.txt is about 6 MB; anything far larger is not that list.
MAX_FILE_BYTES = 64 << 20
MAX_COUNT = 10 ** 12


class EverydayError(Exception):
    pass


def read_essay(path):
    """{word: count} of the Han words of 2 to 4 characters; a bad line is an error."""
    if os.path.getsize(path) > MAX_FILE_BYTES:
        raise EverydayError("%s is larger than %d bytes" % (path, MAX_FILE_BYTES))
    out = {}
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            fields = line.rstrip("\n").split("\t")
            if len(fields) != 2 or not fields[1].isdigit() or int(fields[1]) > MAX_COUNT:
                raise EverydayError("%s:%d: not 'word TAB count'" % (path, number))
            if HAN_WORD.fullmatch(fields[0]):
                out[fields[0]] = out.get(fields[0], 0) + int(fields[1])
    return out


def to_simplified(word, phrases, chars, longest):
    out, i = [], 0
    while i < len(word):
        for n in range(min(longest, len(word) - i), 1, -1):
            hit = phrases.get(word[i:i + n])
            if hit is not None:
                out.append(hit)
                i += n
                break
        else:
            out.append(chars.get(word[i], word[i]))
            i += 1
    return "".join(out)


def opencc_tables(root):
    binary, data, env = trad_build.find_tools(root)
    with tempfile.TemporaryDirectory(prefix="everyday.") as temp:
        tables = []
        for name in ("TSPhrases", "TSCharacters"):
            target = os.path.join(temp, name + ".txt")
            trad_build.dump(binary, env, os.path.join(data, name + ".ocd2"), target)
            tables.append(trad_build.read_pairs(target))
    return tables


def single_readings(readings):
    """{word: its syllables} of the words that the word list reads one way only."""
    return {w: next(iter(r)) for w, r in readings.items() if len(r) == 1}


def all_readings(words_path):
    """{word: set of its syllable strings} of the word list."""
    readings = {}
    for f in read_rows(words_path):
        if len(f) < 2:
            raise EverydayError("%s: a row without its reading" % words_path)
        readings.setdefault(f[0], set()).add(f[1])
    return readings


def reading_weights(lines):
    """{(word, syllables): log10 weight} of the dictionary's dump."""
    weights = {}
    for line in lines:
        m = DUMP_ROW.fullmatch(line)
        if not m:
            raise EverydayError("not 'word reading weight' in the dictionary: %r" % line[:80])
        weights[(m.group(1), m.group(2).replace("'", " "))] = float(m.group(3))
    return weights


def likeliest(word, readings, weights):
    """The reading of a listed word its dictionary weighs most (the first in
    order on a tie) and its weight."""
    reading = max(sorted(readings), key=lambda r: weights.get((word, r), UNWEIGHED))
    return reading, weights.get((word, reading), UNWEIGHED)


def composed_reading(word, readings, weights):
    """A reading of text the list does not hold: through the fewest listed
    words (the likeliest reading of each, the heavier split on a tie), or
    None when some part is not listed."""
    # best[i]: (pieces, -weight, reading) of the first i characters
    best = [None] * (len(word) + 1)
    best[0] = (0, 0.0, "")
    for i in range(1, len(word) + 1):
        for j in range(i):
            part = word[j:i]
            if best[j] is None or part not in readings or part == word:
                continue
            reading, weight = likeliest(part, readings[part], weights)
            held = best[j]
            cand = (held[0] + 1, held[1] - weight, (held[2] + " " + reading).strip())
            if best[i] is None or cand < best[i]:
                best[i] = cand
    return best[-1][2] if best[-1] else None


def likeliest_per_reading(rows):
    """Of rows (word, reading, count), the most frequent word of each
    toneless reading (the first in byte order on a tie), most frequent first."""
    best = {}
    for word, reading, count in rows:
        key = reading.replace(" ", "")
        held = best.get(key)
        if held is None or (count, held[0]) > (held[2], word):
            best[key] = (word, reading, count)
    return sorted(best.values(), key=lambda r: (-r[2], r[0]))


def select_harder(counts, readings, weights, count):
    """Rows (word, reading, count) of three and four characters that the
    first set cannot hold: the likeliest word of each reading, listed words
    read one way left out."""
    def read():
        for word, n in counts.items():
            if len(word) < 3:
                continue
            held = readings.get(word)
            reading = (likeliest(word, held, weights)[0] if held is not None
                       else composed_reading(word, readings, weights))
            if reading is not None:
                yield word, reading, n
    rows = [r for r in likeliest_per_reading(read()) if len(readings.get(r[0], ())) != 1]
    return rows[:count]


def select(counts, readings, two, longer):
    """Rows (word, reading, count): the likeliest word of each reading."""
    ranked = likeliest_per_reading((w, readings[w], n) for w, n in counts.items() if w in readings)
    short = [r for r in ranked if len(r[0]) == 2][:two]
    long_ = [r for r in ranked if len(r[0]) > 2][:longer]
    return short, long_


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--essay", required=True)
    ap.add_argument("--opencc-root", required=True)
    ap.add_argument("--words", required=True)
    ap.add_argument("--manifest", required=True)
    ap.add_argument("--out", required=True)
    ap.add_argument("--two", type=int, default=3000)
    ap.add_argument("--longer", type=int, default=1000)
    ap.add_argument("--harder")
    ap.add_argument("--pinyindict")
    ap.add_argument("--hard", type=int, default=1000)
    args = ap.parse_args()
    if args.harder and not args.pinyindict:
        sys.exit("make_everyday: --harder needs --pinyindict")
    try:
        version = "?"
        for f in read_rows(args.manifest):
            if f[0] == "rime-essay" and len(f) > 1:
                version = f[1]
        phrases, chars = opencc_tables(args.opencc_root)
        longest = max((len(k) for k in phrases), default=1)
        counts = {}
        for word, count in read_essay(args.essay).items():
            simple = to_simplified(word, phrases, chars, longest)
            counts[simple] = counts.get(simple, 0) + count
        readings = all_readings(args.words)
        short, long_ = select(counts, single_readings(readings), args.two, args.longer)
        if len(short) < args.two or len(long_) < args.longer:
            raise EverydayError("only %d two-character and %d longer words" %
                                (len(short), len(long_)))
        harder = []
        if args.harder:
            weights = reading_weights(dump_word_list(args.opencc_root, args.pinyindict))
            harder = select_harder(counts, readings, weights, args.hard)
            if len(harder) < args.hard:
                raise EverydayError("only %d harder words" % len(harder))
    except (EverydayError, OSError, ValueError, UnicodeDecodeError) as e:
        sys.exit("make_everyday: %s" % e)
    lines = [
        "# Everyday words typed alone: the likeliest word of each toneless reading\n",
        "# by the counts of rime-essay %s (LGPL-3), in simplified characters,\n" % version,
        "# readings from the word list; %d of two characters, then %d of three\n"
        % (len(short), len(long_)),
        "# or four, most frequent first. Generated by tools/data/make_everyday.py.\n",
        "# word\tsyllables\tcount\n",
    ]
    lines += ["%s\t%s\t%d\n" % row for row in short + long_]
    write_lines(args.out, lines)
    if args.harder:
        lines = [
            "# Harder everyday words typed alone: words and phrases of three and four\n",
            "# characters that the word list reads several ways or does not hold, the\n",
            "# likeliest of each toneless reading by the counts of rime-essay %s,\n" % version,
            "# read as the list weighs its readings; %d, most frequent first.\n" % len(harder),
            "# Generated by tools/data/make_everyday.py.\n",
            "# word\tsyllables\tcount\n",
        ]
        lines += ["%s\t%s\t%d\n" % row for row in harder]
        write_lines(args.harder, lines)


if __name__ == "__main__":
    main()
