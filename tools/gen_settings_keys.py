#!/usr/bin/env python3
"""Turns data/settings/keys.tsv (the settings keys: id, name, type, sync code,
group, default) into the C++ include the settings registry is compiled from,
one SETTING_KEY(id, u"Name", type, sync, group, default) line per key.

Refuses (exit 1, nothing written) anything the registry could not hold:
duplicate ids, names equal ignoring ASCII case, ids outside 1-400, unknown
type/sync/group codes, a group on an unsigned key, defaults that do not parse.

usage: gen_settings_keys.py keys.tsv out.inc
"""
import os
import re
import sys

TYPES = {"b": "kTypeBool", "n": "kTypeInt", "u": "kTypeUInt", "s": "kTypeString"}
SYNCS = {"1", "2", "3", "4", "5"}
GROUPS = {"-1", "3", "4", "5"}
NAME = re.compile(r"[A-Za-z][A-Za-z0-9_]*\Z")
DECIMAL = re.compile(r"-?[0-9]+\Z")
HEX = re.compile(r"0x[0-9A-Fa-f]{1,8}\Z")


def parse_number(text):
    if DECIMAL.match(text):
        return int(text, 10)
    if HEX.match(text):
        return int(text, 16)
    return None


def cxx_default(kind, text):
    """The default as a C++ expression, or None when it does not parse."""
    if kind == "b":
        return text if text in ("true", "false") else None
    if kind == "s":
        if text == "null":
            return "nullptr"
        if text == "empty":
            return 'u""'
        if len(text) >= 2 and text[0] == '"' and text[-1] == '"':
            body = text[1:-1]
            if any(c in body for c in '"\\') or any(ord(c) < 32 for c in body):
                return None
            if any(ord(c) > 0xFFFF for c in body):  # stored as UCS-2 units
                return None
            return 'u"' + body + '"'
        return None
    value = parse_number(text)
    if value is None:
        return None
    if kind == "n" and -(1 << 31) <= value < (1 << 31):
        return str(value)
    if kind == "n" and text.startswith("0x") and value < (1 << 32):
        return str(value - (1 << 32) if value >= (1 << 31) else value)
    if kind == "u" and 0 <= value < (1 << 32):
        return str(value) + "u"
    return None


def convert(rows):
    """(lines, errors) for the TSV rows."""
    errors, lines = [], []
    ids, names = {}, {}
    for number, raw in rows:
        if not raw.strip() or raw.startswith("#"):
            continue
        where = "line %d" % number
        cells = raw.rstrip("\r\n").split("\t")
        if len(cells) != 6:
            errors.append("%s: %d columns, 6 expected" % (where, len(cells)))
            continue
        key_id, name, kind, sync, group, default = cells
        if not DECIMAL.match(key_id) or not 1 <= int(key_id) <= 400:
            errors.append("%s: id %r outside 1-400" % (where, key_id))
            continue
        if int(key_id) in ids:
            errors.append("%s: id %s already used on line %d" % (where, key_id, ids[int(key_id)]))
        ids.setdefault(int(key_id), number)
        if not NAME.match(name):
            errors.append("%s: bad name %r" % (where, name))
        folded = name.lower()
        if folded in names:
            errors.append("%s: name %s equals line %d ignoring case" % (where, name, names[folded]))
        names.setdefault(folded, number)
        if kind not in TYPES:
            errors.append("%s: unknown type %r" % (where, kind))
            continue
        if sync not in SYNCS:
            errors.append("%s: unknown sync code %r" % (where, sync))
        if group not in GROUPS:
            errors.append("%s: unknown group %r" % (where, group))
        elif kind == "u" and group != "-1":
            errors.append("%s: unsigned key %s has a group" % (where, name))
        value = cxx_default(kind, default)
        if value is None:
            errors.append("%s: default %r is not a %s" % (where, default, kind))
            continue
        lines.append('SETTING_KEY(%s, u"%s", %s, %s, %s, %s)'
                     % (key_id, name, TYPES[kind], sync, group, value))
    if not lines and not errors:
        errors.append("no keys")
    return lines, errors


def main(argv):
    if len(argv) != 3:
        sys.stderr.write(__doc__)
        return 2
    with open(argv[1], encoding="utf-8") as f:
        rows = list(enumerate(f, 1))
    lines, errors = convert(rows)
    if errors:
        for e in errors:
            sys.stderr.write("%s: %s\n" % (argv[1], e))
        return 1
    text = ("// Generated from data/settings/keys.tsv by tools/gen_settings_keys.py; do not edit.\n"
            + "\n".join(lines) + "\n")
    tmp = argv[2] + ".tmp"
    with open(tmp, "w", encoding="utf-8") as f:
        f.write(text)
    os.replace(tmp, argv[2])
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
