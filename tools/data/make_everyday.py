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

Usage: make_everyday.py --essay FILE --opencc-root DIR --words words.tsv
                        --manifest FILE --out TSV
                        [--two N] [--longer N]
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

HAN_WORD = re.compile(r"[\u4e00-\u9fff]{2,4}")
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


def single_readings(words_path):
    """{word: its syllables} of the words that the word list reads one way only."""
    readings = {}
    for f in read_rows(words_path):
        if len(f) < 2:
            raise EverydayError("%s: a row without its reading" % words_path)
        readings.setdefault(f[0], set()).add(f[1])
    return {w: next(iter(r)) for w, r in readings.items() if len(r) == 1}


def select(counts, readings, two, longer):
    """Rows (word, reading, count): the likeliest word of each reading."""
    best = {}
    for word, count in counts.items():
        reading = readings.get(word)
        if reading is None:
            continue
        key = reading.replace(" ", "")
        held = best.get(key)
        if held is None or (count, held[0]) > (held[2], word):
            best[key] = (word, reading, count)
    ranked = sorted(best.values(), key=lambda r: (-r[2], r[0]))
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
    args = ap.parse_args()
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
        short, long_ = select(counts, single_readings(args.words), args.two, args.longer)
        if len(short) < args.two or len(long_) < args.longer:
            raise EverydayError("only %d two-character and %d longer words" %
                                (len(short), len(long_)))
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


if __name__ == "__main__":
    main()
