#!/usr/bin/env python3
"""Cross-checks data/schemes/ShuangPinSchemes/*.ini against an independent
copy of the same public layouts: fcitx 4's sp.dat (package fcitx-pinyin,
/usr/share/fcitx/pinyin/sp.dat). The source is read from wherever it was
unpacked and is never copied into the repository.

Usage: tools/check_shuangpin_schemes.py /path/to/sp.dat
Exit status 1 when a key differs or a scheme is missing.
"""
import os
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SCHEMES = os.path.join(ROOT, "data", "schemes", "ShuangPinSchemes")
NAMES = ["自然码", "微软", "紫光", "智能ABC", "中文之星", "拼音加加", "小鹤"]


def read_ours(name):
    sections = {}
    current = None
    with open(os.path.join(SCHEMES, name + ".ini"), encoding="utf-8-sig") as f:
        for line in f:
            line = line.strip()
            if line.startswith("[") and line.endswith("]"):
                current = sections.setdefault(line[1:-1], {})
            elif "=" in line and current is not None:
                key, value = line.split("=", 1)
                current[key] = value.upper()
    return sections


def read_source(path):
    schemes = {}
    scheme = section = None
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.strip()
            if not line or line.startswith("#"):
                continue
            if line.startswith("[") and line.endswith("]"):
                section = line[1:-1]
                continue
            if "=" not in line:
                continue
            key, value = line.split("=", 1)
            if section == "方案" and key == "方案名称":
                scheme = schemes.setdefault(value, {"声母": {}, "韵母": {}, "zero": None})
            elif scheme is None:
                continue
            elif section == "零声母标识":
                scheme["zero"] = value.upper()
            elif section in ("声母", "韵母"):
                scheme[section][key] = value.upper()
    return schemes


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    source = read_source(sys.argv[1])
    problems = 0
    for name in NAMES:
        if name not in source:
            print("%s: not in the source" % name)
            problems += 1
            continue
        ours = read_ours(name)
        src = source[name]
        for section in ("声母", "韵母"):
            for key, value in sorted(src[section].items()):
                if section == "韵母" and key == "ng":
                    continue  # a pseudo-final of the source; no syllable uses it
                if section == "韵母" and key == "er":
                    continue  # er stands alone; checked with the zero-initial keys
                mine = ours.get(section, {}).get(key, key.upper() if len(key) == 1 else None)
                if mine != value:
                    print("%s [%s] %s: ours %s, source %s" % (name, section, key, mine, value))
                    problems += 1
        # A marker letter means: marker + the final's key (single letters: themselves).
        marker = src["zero"]
        zero = ours.get("零声母音节的韵母", {})
        if marker and len(marker) == 1 and marker.isalpha() and any(not k.startswith(marker) for k in zero.values()):
            print("%s: zero-initial syllables by their first letter, not by the marker %s (not compared)"
                  % (name, marker))
        elif marker and len(marker) == 1 and marker.isalpha():
            finals = ours.get("韵母", {})
            for final, keys in sorted(ours.get("零声母音节的韵母", {}).items()):
                expected = marker + finals.get(final, final.upper() if len(final) == 1 else "?")
                if final == "er":
                    expected = marker + src["韵母"].get("er", "?")
                if keys != expected:
                    print("%s zero-initial %s: ours %s, by the source's marker %s" % (name, final, keys, expected))
                    problems += 1
    print("%d difference(s)" % problems)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
