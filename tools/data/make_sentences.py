#!/usr/bin/env python3
"""Builds the everyday-sentences set: clauses of general narrative text, with readings.

The text is the simplified-Chinese translation (gettext catalogues) of a few
story campaigns of a game in Debian: dialogue and narration about people,
written in everyday language, which no statistics step reads. It is cut into
clauses at punctuation; a clause of 3 to 16 Han characters and nothing else
is kept. Each clause is split into the likeliest words of the project's word
list (unigram prices, as the statistics step splits its text) and read with
the list's readings; a clause holding a word the list reads several ways is
left out, except a single character whose commonest reading in the survey
counts (kHanyuPinlu) has at least 80% of them (了 le, 着 zhe, 都 dou).

Every clause that begins with 他, 她 or 它 (typed "ta") is written, then
every SAMPLE-th of the others: the first show whether a sentence about a
person starts with 他 or 她, the rest how everyday text converts at all.

Usage: make_sentences.py --root CACHE_ROOT --data DIR --manifest FILE
                         --out TSV [--sample N] PACKAGE...
Reads DIR/words.tsv, DIR/chars.tsv and DIR/lm-unigrams.tsv. Output columns:
clause, syllables (space-separated), package. Same inputs, same bytes; exits
non-zero with a message on any failure.
"""

import argparse
import os
import re
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from coverage import read_rows, write_lines  # noqa: E402
from domain_adapt import DomainError, Splitter, package_texts  # noqa: E402

CLAUSE_END = re.compile(r"[\s。，、；：！？…—“”‘’「」『』（）《》,.;:!?()\"'\[\]<>]+")
HAN_CLAUSE = re.compile(r"[\u4e00-\u9fff]{3,16}")
TA = ("他", "她", "它")
# A character read several ways is read its commonest way only when the
# survey gives that reading at least this share of its counts.
SURE_READING = 0.8


class SentenceError(Exception):
    pass


def readings(words_path, chars_path):
    """{word: syllables} of the words read one way, or one way with the
    survey's sure backing for a single character."""
    all_readings = {}
    for f in read_rows(words_path):
        if len(f) < 2:
            raise SentenceError("%s: a row without its reading" % words_path)
        all_readings.setdefault(f[0], set()).add(f[1])
    counts = {}
    for f in read_rows(chars_path):
        if len(f) < 3 or not f[2].isdigit():
            raise SentenceError("%s: a row without its survey count" % chars_path)
        counts.setdefault(f[0], []).append((int(f[2]), f[1]))
    out = {}
    for word, held in all_readings.items():
        if len(held) == 1:
            out[word] = next(iter(held))
        elif len(word) == 1 and word in counts:
            ranked = sorted(counts[word], reverse=True)
            total = sum(c for c, _ in ranked)
            if total and ranked[0][0] >= SURE_READING * total and ranked[0][1] in held:
                out[word] = ranked[0][1]
    return out


def clauses(texts):
    """Distinct pure-Han clauses of 3 to 16 characters, in text order."""
    seen = set()
    for text in texts:
        for part in CLAUSE_END.split(text):
            if HAN_CLAUSE.fullmatch(part) and part not in seen:
                seen.add(part)
                yield part


def read_clause(clause, splitter, known):
    """The clause's syllables, or None when a word's reading is unsure."""
    out = []
    for word in splitter.split(clause):
        reading = known.get(word)
        if reading is None:
            return None
        out.append(reading)
    return " ".join(out)


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--root", required=True)
    ap.add_argument("--data", required=True)
    ap.add_argument("--manifest", required=True)
    ap.add_argument("--out", required=True)
    ap.add_argument("--sample", type=int, default=8)
    ap.add_argument("packages", nargs="+")
    args = ap.parse_args()
    try:
        if args.sample < 1:
            raise SentenceError("--sample must be at least 1")
        versions = {f[0]: f[1] for f in read_rows(args.manifest) if len(f) > 1}
        known = readings(os.path.join(args.data, "words.tsv"),
                         os.path.join(args.data, "chars.tsv"))
        log10p = {f[0]: float(f[1])
                  for f in read_rows(os.path.join(args.data, "lm-unigrams.tsv"))}
        splitter = Splitter(set(known), log10p)
        ta_rows, other_rows, others = [], [], 0
        for package in args.packages:
            tree = os.path.join(args.root, package)
            if not os.path.isdir(tree):
                raise SentenceError("%s is not unpacked in %s" % (package, args.root))
            found = 0
            for clause in clauses(package_texts(tree)):
                found += 1
                reading = read_clause(clause, splitter, known)
                if reading is None:
                    continue
                if clause.startswith(TA):
                    ta_rows.append((clause, reading, package))
                else:
                    others += 1
                    if others % args.sample == 0:
                        other_rows.append((clause, reading, package))
            if not found:
                raise SentenceError("%s holds no simplified-Chinese clause" % package)
        if not ta_rows:
            raise SentenceError("no clause begins with ta")
    except (SentenceError, DomainError, OSError, ValueError, UnicodeDecodeError) as e:
        sys.exit("make_sentences: %s" % e)
    people = sum(1 for r in ta_rows if not r[0].startswith("它"))
    lines = [
        "# Everyday sentences: clauses of the Chinese translations of these\n",
        "# Debian packages (GPL-2+), readings from the word list:\n",
    ]
    lines += ["#   %s %s\n" % (p, versions.get(p, "?")) for p in args.packages]
    lines += [
        "# %d clauses beginning with ta (%d with 他 or 她), then every %d-th of\n"
        % (len(ta_rows), people, args.sample),
        "# the others (%d). Generated by tools/data/make_sentences.py.\n" % len(other_rows),
        "# clause\tsyllables\tpackage\n",
    ]
    lines += ["%s\t%s\t%s\n" % row for row in ta_rows + other_rows]
    write_lines(args.out, lines)


if __name__ == "__main__":
    main()
