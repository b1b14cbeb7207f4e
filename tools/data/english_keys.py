#!/usr/bin/env python3
"""Writes the English prediction keys: typed inputs whose English word goes first.

People who type Chinese on this system write some English words among their
Chinese: shell, perl, python, windows, samba. The Chinese of the manual
pages, the Debian reference and the desktop translations (the text the word
statistics lean towards) shows which: a word is kept when it stands in
Latin letters on lines that hold Chinese at least --min-count times, is a
word of the English list (in any case), and cannot be the start of pinyin.
Typing such a key in pinyin input puts its English word first; a key that
pinyin could read would take the place of the Chinese the user is typing,
so these are left out:

  - keys without a vowel (a, e, i, o, u): abbreviated input such as ps, cd,
    ssh is a string of initials;
  - keys that split into whole syllables, the last one possibly cut short
    (debian is de bi an, linux is li nu x, bash is ba sh).

The text is read as the statistics step reads it (domain_adapt.py): the
translations of the zh_CN catalogues, the zh_CN manual pages and the zh-cn
pages of the Debian reference, with markup removed: HTML tags, roff request
lines and roff font escapes. A word counts only when it stands alone: not
part of a path, an option, an address or a longer token.

Usage: english_keys.py --root CACHE_ROOT --english WORDS.tsv
                       --syllables syllables.txt --out KEYS.txt
                       [--min-count N] PACKAGE...
Writes one key a line (lower-case ASCII letters), sorted; same inputs, same
bytes. Exits non-zero with a message on any failure.
"""

import argparse
import os
import re
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from check_syllables import load_syllables  # noqa: E402
from domain_adapt import DomainError, package_texts  # noqa: E402

HAN = re.compile(r"[\u4e00-\u9fff]")
# A run of two or more letters that is not part of a longer token (an
# option, a path, an address, a file name, an identifier); a sentence may end
# after it.
WORD = re.compile(r"(?<![A-Za-z0-9_./\\@&#$%-])[A-Za-z]{2,}(?![A-Za-z0-9_/\\@$%-]|\.[A-Za-z0-9])")
TAG = re.compile(r"<[^>]*>")
ROFF_FONT = re.compile(r"\\f(?:[BIRPC1-4]|\(..|\[[^]]*\])")
VOWEL = re.compile(r"[aeiou]")
MIN_COUNT = 3


def pinyin_start(word, syllables, prefixes):
    """True when word splits into whole syllables, the last possibly cut short."""
    reach = [False] * (len(word) + 1)
    reach[0] = True
    for i in range(len(word)):
        if not reach[i]:
            continue
        for j in range(i + 1, len(word) + 1):
            piece = word[i:j]
            if piece not in prefixes:
                break
            if j == len(word):
                return True
            if piece in syllables:
                reach[j] = True
    return False


def text_lines(text):
    """The lines of one text with its markup removed."""
    text = ROFF_FONT.sub("", TAG.sub(" ", text))
    for line in text.split("\n"):
        if line.startswith((".", "'")):  # a roff request
            continue
        yield line


def count_words(texts):
    """{lower-case word: times it stands on a line that holds Chinese}"""
    counts = {}
    for text in texts:
        for line in text_lines(text):
            if not HAN.search(line):
                continue
            for word in WORD.findall(line):
                key = word.lower()
                counts[key] = counts.get(key, 0) + 1
    return counts


def read_english(path):
    """The lower-case forms of the English word list (word TAB frequency)."""
    out = set()
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            word, tab, _ = line.rstrip("\n").partition("\t")
            if not tab or not word:
                raise ValueError("%s:%d: not a word and a frequency" % (path, number))
            out.add(word.lower())
    return out


def select_keys(counts, english, syllables, min_count):
    prefixes = {s[:i] for s in syllables for i in range(1, len(s) + 1)}
    return sorted(
        w for w, c in counts.items()
        if c >= min_count and w in english and VOWEL.search(w) and
        not pinyin_start(w, syllables, prefixes))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--root", required=True)
    parser.add_argument("--english", required=True)
    parser.add_argument("--syllables", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--min-count", type=int, default=MIN_COUNT)
    parser.add_argument("packages", nargs="+")
    args = parser.parse_args()
    try:
        syllables = set(load_syllables(args.syllables))
        english = read_english(args.english)
        texts = []
        for package in args.packages:
            tree = os.path.join(args.root, package)
            if not os.path.isdir(tree):
                raise DomainError("package %s is not unpacked under %s" % (package, args.root))
            texts.extend(package_texts(tree))
        keys = select_keys(count_words(texts), english, syllables, args.min_count)
    except (OSError, ValueError, DomainError) as e:
        sys.exit("english_keys: %s" % e)
    if not keys:
        sys.exit("english_keys: no key found in %s" % " ".join(args.packages))
    temp = args.out + ".part"
    with open(temp, "w", encoding="ascii", newline="\n") as out:
        for key in keys:
            out.write(key + "\n")
    os.replace(temp, args.out)


if __name__ == "__main__":
    main()
