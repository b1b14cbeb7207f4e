#!/usr/bin/env python3
"""Prepares the content of the stroke and radical annex as a plain text file.

Inputs: a stroke table (lines "<strokes 1-5> <character>", mainland stroke
order), the Unihan database of unicode-data (tone-marked readings, radical
and residual strokes, GB 2312 positions), CJKRadicals.txt, the syllable list,
and optionally the unigram file of the data build (character frequencies).

Output, UTF-8, one record a line, tab-separated, fixed order:
  S <strokes> <hex characters separated by spaces, most common first>
  E <hex character> <strokes> <readings tone:id,...|-> <tag> <hex codes|-> <ids id,...|->
Entries are numbered in line order (most common characters first); only
characters of the Basic Multilingual Plane are kept (the annex stores 16-bit
characters), and entry numbers stay below 32768.
Same inputs, same bytes.

Usage: annex_source.py --strokes FILE --unicode DIR --syllables FILE
                       [--unigrams FILE] --out FILE
"""

import argparse
import bz2
import os
import sys
import unicodedata

MAX_ENTRIES = 32768
TAG_RADICAL = 1
READING_FIELDS = ("kHanyuPinlu", "kMandarin", "kTGHZ2013", "kXHC1983", "kHanyuPinyin")

TONE_MARKS = {}
for plain, marked in (("a", "āáǎà"), ("e", "ēéěè"), ("i", "īíǐì"), ("o", "ōóǒò"),
                      ("u", "ūúǔù"), ("v", "ǖǘǚǜ")):
    for tone, ch in enumerate(marked, 1):
        TONE_MARKS[ch] = (plain, tone)


def fail(message):
    print("annex_source: " + message, file=sys.stderr)
    sys.exit(1)


def read_syllables(path):
    out = []
    with open(path, encoding="ascii") as f:
        for line in f:
            t = line.strip()
            if t and not t.startswith("#"):
                out.append(t)
    return {s: i for i, s in enumerate(out)}


def parse_reading(text, syllables):
    """'lüè' -> (id, tone), None when the text is no syllable of the list."""
    text = unicodedata.normalize("NFC", text.strip().lower())
    plain, tone = [], 0
    for ch in text:
        if ch in TONE_MARKS:
            base, t = TONE_MARKS[ch]
            if tone:
                return None
            plain.append(base)
            tone = t
        elif ch == "ü":
            plain.append("v")
        elif "a" <= ch <= "z":
            plain.append(ch)
        else:
            return None
    sid = syllables.get("".join(plain))
    return None if sid is None else (sid, tone)


def unihan_lines(directory, name):
    path = os.path.join(directory, name + ".bz2")
    opener = bz2.open if os.path.exists(path) else open
    if not os.path.exists(path):
        path = os.path.join(directory, name)
    if not os.path.exists(path):
        fail("missing %s in %s" % (name, directory))
    with opener(path, "rt", encoding="utf-8") as f:
        for line in f:
            if line.startswith("U+"):
                cp, field, value = line.rstrip("\n").split("\t", 2)
                yield int(cp[2:], 16), field, value


def reading_texts(field, value):
    if field == "kHanyuPinlu":          # xíng(2943) háng(218)
        return [v.split("(")[0] for v in value.split()]
    if field == "kMandarin":            # xíng
        return value.split()
    # kTGHZ2013 / kXHC1983 / kHanyuPinyin: "pos:r1,r2 pos:r3"
    out = []
    for item in value.split():
        out.extend(item.split(":", 1)[-1].split(","))
    return out


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--strokes", required=True)
    ap.add_argument("--unicode", required=True)
    ap.add_argument("--syllables", required=True)
    ap.add_argument("--unigrams")
    ap.add_argument("--out", required=True)
    args = ap.parse_args()

    syllables = read_syllables(args.syllables)

    strokes = {}
    with open(args.strokes, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            parts = line.split()
            if not parts:
                continue
            if len(parts) != 2 or len(parts[1]) != 1 or not parts[0].isdigit() \
                    or any(c not in "12345" for c in parts[0]):
                fail("%s:%d: not '<strokes> <character>'" % (args.strokes, number))
            cp = ord(parts[1])
            if cp > 0xFFFF:
                continue
            strokes.setdefault(cp, parts[0])

    raw = {}
    for cp, name, value in unihan_lines(args.unicode, "Unihan_Readings.txt"):
        if name in READING_FIELDS and cp in strokes:
            raw.setdefault(cp, {})[name] = value
    # The field order, not the file order, decides the order of the readings:
    # counted readings first, then the common one, then the dictionaries'.
    readings = {}
    for cp, fields in raw.items():
        for field in READING_FIELDS:
            for text in reading_texts(field, fields.get(field, "")):
                r = parse_reading(text, syllables)
                if r and r not in readings.setdefault(cp, []):
                    readings[cp].append(r)

    radical_chars = {}
    with open(os.path.join(args.unicode, "CJKRadicals.txt"), encoding="utf-8") as f:
        for line in f:
            line = line.split("#", 1)[0].strip()
            if line:
                number, _, unified = (x.strip() for x in line.split(";"))
                radical_chars[number] = int(unified, 16)
    radicals = {}
    gb = {}
    for name in ("Unihan_IRGSources.txt", "Unihan_RadicalStrokeCounts.txt", "Unihan_OtherMappings.txt"):
        for cp, field, value in unihan_lines(args.unicode, name):
            if cp not in strokes:
                continue
            if field == "kRSUnicode" and cp not in radicals:
                rad, residual = value.split()[0].split(".")
                if rad in radical_chars:
                    radicals[cp] = (radical_chars[rad], int(residual) & 0xFFFF)
            elif field == "kGB0":
                gb[cp] = int(value)

    freq = {}
    if args.unigrams and os.path.exists(args.unigrams):
        with open(args.unigrams, encoding="utf-8") as f:
            for line in f:
                if line.startswith("#"):
                    continue
                parts = line.rstrip("\n").split("\t")
                if len(parts) >= 2 and len(parts[0]) == 1 and ord(parts[0]) in strokes:
                    freq[ord(parts[0])] = float(parts[1])

    def rank(cp):
        # known frequency first (higher first), then GB 2312 level 1, level 2,
        # the rest; ties by code point
        level = 0 if cp in gb and gb[cp] < 5600 else 1 if cp in gb else 2
        return (0 if cp in freq else 1, -freq.get(cp, 0.0), level, gb.get(cp, 0), cp)

    order = sorted(strokes, key=rank)
    if len(order) > MAX_ENTRIES:
        order = order[:MAX_ENTRIES]

    by_strokes = {}
    for cp in sorted(strokes, key=rank):
        by_strokes.setdefault(strokes[cp], []).append(cp)

    lines = []
    for key in sorted(by_strokes):
        lines.append("S\t%s\t%s\n" % (key, " ".join("%04X" % cp for cp in by_strokes[key])))
    for cp in order:
        rs = readings.get(cp, [])
        reading_text = ",".join("%d:%d" % (tone, sid) for sid, tone in rs) or "-"
        ids = []
        for sid, _ in rs:
            if sid not in ids:
                ids.append(sid)
        if cp in radicals:
            rad, residual = radicals[cp]
            codes = "%04X 002A %04X" % (rad, residual)
        else:
            codes = "-"
        lines.append("E\t%04X\t%s\t%s\t%d\t%s\t%s\n" % (
            cp, strokes[cp], reading_text, TAG_RADICAL, codes,
            ",".join(str(i) for i in ids) or "-"))

    temp = args.out + ".tmp"
    with open(temp, "w", encoding="utf-8", newline="\n") as f:
        f.writelines(lines)
    os.replace(temp, args.out)
    print("annex_source: %d stroke sequences, %d entries, %d with readings, %d with radicals"
          % (len(by_strokes), len(order), sum(1 for c in order if readings.get(c)),
             sum(1 for c in order if c in radicals)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
