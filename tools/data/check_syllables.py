#!/usr/bin/env python3
"""Checks the syllable list against the ids that the kernel's fixed tables use.

Syllable ids are the line numbers of data/syllables.txt. Several tables in
the kernel (the digit rows of the auxiliary-code matcher, the common
one-character words of the context scorer, the trusted-pair table) hold ids
directly, so a list that shifts any of them would silently break those
tables. Run by the data build before anything is compiled; exits non-zero
with one line per broken rule.

Usage: check_syllables.py SYLLABLES [--chars CHARS_TSV] [--stamp FILE]
With --chars, also checks that every common character can be read with the
syllable its table gives it (the normalised character readings).
"""

import argparse
import sys

SYLLABLE_COUNT = 413
LETTER_COUNT = 26
# Ids at and above this one are refused by the word tree's pair index.
ID_LIMIT = 441

# Ids that fixed tables name, with the spelling each must carry.
ANCHORS = {
    1: "ai", 2: "an", 3: "ang", 4: "ao",
    34: "che", 38: "chong",
    80: "ei", 81: "en", 82: "eng",
}

# Digit rows of the auxiliary-code matcher: digit -> syllable id.
DIGIT_ROWS = {
    "1": (34, "che"), "2": (372, "yu"), "3": (363, "yang"), "4": (89, "feng"),
    "5": (370, "yong"), "6": (353, "xin"), "7": (366, "yi"), "8": (374, "yue"),
}

# Common one-character words of the context scorer: character, id, spelling.
COMMON_CHARS = [
    ("的", 61, "de"), ("了", 170, "le"), ("在", 377, "zai"), ("他", 318, "ta"),
    ("我", 345, "wo"), ("和", 118, "he"), ("是", 300, "shi"), ("她", 318, "ta"),
    ("有", 371, "you"), ("你", 219, "ni"), ("就", 141, "jiu"), ("不", 20, "bu"),
    ("地", 65, "di"), ("也", 365, "ye"), ("很", 120, "hen"), ("被", 10, "bei"),
    ("要", 364, "yao"), ("到", 60, "dao"), ("上", 294, "shang"), ("都", 73, "dou"),
    ("这", 390, "zhe"), ("那", 210, "na"), ("还", 114, "hai"), ("会", 129, "hui"),
    ("去", 264, "qu"), ("来", 166, "lai"), ("为", 342, "wei"), ("用", 370, "yong"),
    ("人", 272, "ren"), ("给", 100, "gei"), ("能", 218, "neng"), ("中", 395, "zhong"),
    ("个", 99, "ge"), ("对", 76, "dui"), ("里", 173, "li"), ("说", 309, "shuo"),
    ("又", 371, "you"), ("做", 412, "zuo"), ("把", 5, "ba"),
]

# Row 0 of the trusted-pair table is the syllable "a"; the columns it is
# known by must keep their spellings.
TRUSTED_ROW0 = {
    0: "a", 1: "ai", 2: "an", 3: "ang", 4: "ao", 5: "ba", 6: "bai", 7: "ban",
    8: "bang", 9: "bao", 10: "bei", 11: "ben", 12: "beng", 14: "bian",
    16: "bie", 21: "ca", 23: "can",
}


def load_syllables(path):
    """Returns the syllables of the list in id order ('#' lines skipped)."""
    result = []
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.strip()
            if line and not line.startswith("#"):
                result.append(line)
    return result


def check(syllables, char_readings=None):
    """Returns a list of error texts; empty when every rule holds."""
    errors = []
    if len(syllables) != SYLLABLE_COUNT:
        errors.append("expected %d syllables, found %d" % (SYLLABLE_COUNT, len(syllables)))
    if len(syllables) + LETTER_COUNT > ID_LIMIT:
        errors.append("syllables and letters need %d ids, the limit is %d"
                      % (len(syllables) + LETTER_COUNT, ID_LIMIT))
    for i, s in enumerate(syllables):
        if not (1 <= len(s) <= 6 and s.isascii() and s.isalpha() and s.islower()):
            errors.append("line %d: %r is not a lower-case spelling of 1-6 letters" % (i, s))
        if i > 0 and not syllables[i - 1] < s:
            errors.append("line %d: %r does not follow %r in code-unit order"
                          % (i, s, syllables[i - 1]))

    def expect(kind, sid, spelling):
        got = syllables[sid] if 0 <= sid < len(syllables) else None
        if got != spelling:
            errors.append("%s: id %d must be %r, is %r" % (kind, sid, spelling, got))

    for sid, spelling in ANCHORS.items():
        expect("anchor", sid, spelling)
    for digit, (sid, spelling) in DIGIT_ROWS.items():
        expect("digit " + digit, sid, spelling)
    for ch, sid, spelling in COMMON_CHARS:
        expect("common word " + ch, sid, spelling)
        if char_readings is not None and spelling not in char_readings.get(ch, ()):
            errors.append("common word %s: %r is not among its readings %r"
                          % (ch, spelling, sorted(char_readings.get(ch, ()))))
    for sid, spelling in TRUSTED_ROW0.items():
        expect("trusted-pair row 0", sid, spelling)
    return errors


def load_char_readings(path):
    """Reads the normalised character readings (char TAB syllable ...)."""
    readings = {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            if line.startswith("#"):
                continue
            fields = line.rstrip("\n").split("\t")
            if len(fields) >= 2:
                readings.setdefault(fields[0], set()).add(fields[1])
    return readings


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("syllables")
    ap.add_argument("--chars", help="normalised character readings to check too")
    ap.add_argument("--stamp", help="file to touch when every rule holds")
    args = ap.parse_args()
    chars = load_char_readings(args.chars) if args.chars else None
    errors = check(load_syllables(args.syllables), chars)
    for e in errors:
        print("check_syllables: " + e, file=sys.stderr)
    if errors:
        return 1
    if args.stamp:
        with open(args.stamp, "w", encoding="utf-8") as f:
            f.write("%d syllables, %d letters\n" % (SYLLABLE_COUNT, LETTER_COUNT))
    return 0


if __name__ == "__main__":
    sys.exit(main())
