#!/usr/bin/env python3
"""Normalises character readings and the word list of the unpacked sources.

Inputs (under --root, as fetch_sources.py unpacks them):
  unicode-data:  Unihan readings (kHanyuPinyin, kXHC1983, kTGHZ2013,
                 kMandarin, kHanyuPinlu) and variants (kSimplifiedVariant)
  libime-data:   sc.dict, dumped to text with libime_pinyindict -d

Outputs (in --out), UTF-8, LF, sorted, so that equal inputs give
byte-identical files:
  chars.tsv   char TAB syllable TAB pinlu TAB sources TAB script
              one row per reading; pinlu is the reading's count in the
              frequency survey of kHanyuPinlu (0 when absent); sources are
              letters in the order H X T M L W (kHanyuPinyin, kXHC1983,
              kTGHZ2013, kMandarin, kHanyuPinlu, word list); script is S, or
              T for a traditional-only form. Sorted by code point, then
              syllable id.
  words.tsv   word TAB syllables (space separated), one row per reading of
              a word, sorted by word (code points), then reading.
  normalise-report.tsv  key TAB value: counts of kept and dropped rows.

Readings are toneless, u-umlaut is spelled v; a row with a syllable outside
the syllable list is dropped and counted. Words with a traditional-only
character are mapped to simplified script when every such character has one
simplified form that is a standard character (a mapped word that is already
listed is merged), else dropped. A traditional-only character has a simplified variant other than
itself and is not in the 2013 standard character table (kTGHZ2013), which
keeps forms such as 於 and 阪 that simplified text uses.
"""

import argparse
import bz2
import collections
import os
import re
import subprocess
import sys
import tempfile
import unicodedata

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from check_syllables import load_syllables  # noqa: E402

UNIHAN_DIR = "unicode-data/usr/share/unicode"
SC_DICT = "libime-data/usr/share/libime/sc.dict"
SOURCE_ORDER = "HXTMLW"
FIELD_SOURCE = {"kHanyuPinyin": "H", "kXHC1983": "X", "kTGHZ2013": "T",
                "kMandarin": "M", "kHanyuPinlu": "L"}


def fail(message):
    print("normalise: " + message, file=sys.stderr)
    sys.exit(1)


def toneless(reading):
    """Toned pinyin -> toneless spelling with v for u-umlaut.

    Returns None for a reading with e-circumflex, which no syllable of the
    list spells, so that it is dropped rather than read as plain e.
    """
    decomposed = unicodedata.normalize("NFD", reading.strip().lower())
    out = []
    for ch in decomposed:
        if ch == "\u0308":          # diaeresis: u-umlaut
            if not out or out[-1] != "u":
                return None
            out[-1] = "v"
        elif ch == "\u0302":        # circumflex: e-circumflex
            return None
        elif unicodedata.combining(ch):
            continue                # tone marks
        else:
            out.append(ch)
    text = "".join(out)
    return text if text.isascii() and text.isalpha() else None


def unihan_lines(path):
    with bz2.open(path, "rt", encoding="utf-8") as f:
        for line in f:
            if line.startswith("#") or not line.strip():
                continue
            fields = line.rstrip("\n").split("\t")
            if len(fields) == 3 and fields[0].startswith("U+"):
                yield chr(int(fields[0][2:], 16)), fields[1], fields[2]


def field_readings(field, value):
    """(reading, pinlu count) pairs of one Unihan reading field."""
    if field == "kMandarin":
        return [(r, 0) for r in value.split()]
    if field == "kHanyuPinlu":
        result = []
        for item in value.split():
            m = re.fullmatch(r"([^()]+)\((\d+)\)", item)
            if m:
                result.append((m.group(1), int(m.group(2))))
        return result
    # kHanyuPinyin, kXHC1983, kTGHZ2013: location:reading[,reading...]
    result = []
    for item in value.split():
        if ":" in item:
            result.extend((r, 0) for r in item.split(":", 1)[1].split(",") if r)
    return result


def read_unihan(root):
    """-> ({char: {syllable: [sources, pinlu]}}, {traditional-only char: forms},
           {traditional-only char: its standard simplified form})"""
    readings_path = os.path.join(root, UNIHAN_DIR, "Unihan_Readings.txt.bz2")
    variants_path = os.path.join(root, UNIHAN_DIR, "Unihan_Variants.txt.bz2")
    for p in (readings_path, variants_path):
        if not os.path.exists(p):
            fail("missing %s" % p)
    chars = collections.defaultdict(dict)
    standard = set()
    for ch, field, value in unihan_lines(readings_path):
        source = FIELD_SOURCE.get(field)
        if source is None:
            continue
        if field == "kTGHZ2013":
            standard.add(ch)
        for reading, pinlu in field_readings(field, value):
            syllable = toneless(reading)
            if syllable is None:
                syllable = "?" + reading
            entry = chars[ch].setdefault(syllable, [set(), 0])
            entry[0].add(source)
            entry[1] = max(entry[1], pinlu)
    simplified = {}
    for ch, field, value in unihan_lines(variants_path):
        if field == "kSimplifiedVariant":
            simplified[ch] = [chr(int(v[2:], 16)) for v in value.split() if v.startswith("U+")]
    trad_only = {ch: forms for ch, forms in simplified.items()
                 if ch not in forms and ch not in standard}
    # Only a mapping onto a standard character is trusted: the other
    # simplified forms are mostly rare supplementary-plane characters.
    to_simplified = {ch: forms[0] for ch, forms in trad_only.items()
                     if len(forms) == 1 and forms[0] in standard}
    return chars, trad_only, to_simplified


def dump_word_list(root, pinyindict):
    source = os.path.join(root, SC_DICT)
    if not os.path.exists(source):
        fail("missing %s" % source)
    with tempfile.TemporaryDirectory() as tmp:
        text_path = os.path.join(tmp, "sc.txt")
        result = subprocess.run([pinyindict, "-d", source, text_path],
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        if result.returncode != 0 or not os.path.exists(text_path):
            fail("%s -d %s failed: %s" % (pinyindict, source, result.stderr.strip()))
        with open(text_path, encoding="utf-8") as f:
            return f.read().splitlines()


def normalise_words(lines, syllable_set, trad_only, to_simplified, report, dropped_spellings):
    """-> set of (word, reading tuple).

    Rows in simplified script are taken first, so that a traditional row
    counts as merged whenever its simplified form is listed anywhere.
    """
    kept = set()
    traditional = []
    for line in lines:
        fields = line.split(" ")
        if len(fields) != 3 or not fields[0] or not fields[1]:
            report["word rows dropped: malformed"] += 1
            continue
        word, reading = fields[0], tuple(fields[1].split("'"))
        report["word rows read"] += 1
        if len(word) != len(reading):
            report["word rows dropped: characters and syllables differ in number"] += 1
            continue
        missing = [s for s in reading if s not in syllable_set]
        if missing:
            report["word rows dropped: syllable not in the list"] += 1
            dropped_spellings.update(missing)
            continue
        if any(ch in trad_only for ch in word):
            traditional.append((word, reading))
        elif (word, reading) in kept:
            report["word rows merged: duplicate"] += 1
        else:
            kept.add((word, reading))
    for word, reading in traditional:
        if any(ch in trad_only and ch not in to_simplified for ch in word):
            report["word rows dropped: traditional form without one standard simplified form"] += 1
            continue
        word = "".join(to_simplified.get(ch, ch) for ch in word)
        if (word, reading) in kept:
            report["word rows merged: traditional form of a listed word"] += 1
        else:
            report["word rows mapped to simplified script"] += 1
            kept.add((word, reading))
    return kept


def write_sorted(path, header, rows):
    temp = path + ".tmp"
    with open(temp, "w", encoding="utf-8", newline="\n") as f:
        for line in header:
            f.write("# " + line + "\n")
        for row in rows:
            f.write("\t".join(row) + "\n")
    os.replace(temp, path)


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--root", required=True, help="unpacked packages (CACHE/root)")
    ap.add_argument("--syllables", required=True)
    ap.add_argument("--pinyindict", default="libime_pinyindict")
    ap.add_argument("--out", required=True)
    args = ap.parse_args()

    syllables = load_syllables(args.syllables)
    syllable_id = {s: i for i, s in enumerate(syllables)}
    os.makedirs(args.out, exist_ok=True)
    report = collections.Counter()

    chars, trad_only, to_simplified = read_unihan(args.root)
    word_dropped = collections.Counter()
    words = normalise_words(dump_word_list(args.root, args.pinyindict), syllable_id,
                            trad_only, to_simplified, report, word_dropped)

    # Single-character words add their readings to the characters.
    for word, reading in words:
        if len(word) == 1:
            entry = chars[word].setdefault(reading[0], [set(), 0])
            entry[0].add("W")

    char_dropped = collections.Counter()
    char_rows = []
    for ch in sorted(chars):
        for syllable, (sources, pinlu) in chars[ch].items():
            report["char readings read"] += 1
            if syllable not in syllable_id:
                report["char readings dropped: syllable not in the list"] += 1
                char_dropped[syllable.lstrip("?")] += 1
                continue
            char_rows.append((ord(ch), syllable_id[syllable], ch, syllable, str(pinlu),
                              "".join(s for s in SOURCE_ORDER if s in sources),
                              "T" if ch in trad_only else "S"))
    char_rows.sort()
    write_sorted(os.path.join(args.out, "chars.tsv"),
                 ["char\tsyllable\tpinlu count\tsources (H X T M L W)\tscript (S, T traditional-only)"],
                 (row[2:] for row in char_rows))
    report["chars"] = len({row[0] for row in char_rows})
    report["char readings"] = len(char_rows)
    report["chars traditional-only"] = len({row[0] for row in char_rows if row[6] == "T"})

    word_rows = sorted(words, key=lambda wr: ([ord(c) for c in wr[0]],
                                              [syllable_id[s] for s in wr[1]]))
    write_sorted(os.path.join(args.out, "words.tsv"),
                 ["word\tsyllables"],
                 ((w, " ".join(r)) for w, r in word_rows))
    report["words"] = len({w for w, _ in word_rows})
    report["word readings"] = len(word_rows)
    report["words of several readings"] = sum(
        1 for n in collections.Counter(w for w, _ in word_rows).values() if n > 1)

    lines = ["%s\t%d" % (k, report[k]) for k in sorted(report)]
    lines += ["dropped word syllable %s\t%d" % (s, n) for s, n in sorted(word_dropped.items())]
    lines += ["dropped char syllable %s\t%d" % (s, n) for s, n in sorted(char_dropped.items())]
    temp = os.path.join(args.out, "normalise-report.tsv.tmp")
    with open(temp, "w", encoding="utf-8", newline="\n") as f:
        f.write("\n".join(lines) + "\n")
    os.replace(temp, os.path.join(args.out, "normalise-report.tsv"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
