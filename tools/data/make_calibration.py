#!/usr/bin/env python3
"""Builds the calibration set: natural Chinese phrases with toneless pinyin.

Phrases are the maximal runs of 4 to 16 Han characters in Chinese manuals
and user-interface texts of Debian packages (debian-edu-doc-zh-cn,
linuxcnc-doc-zh-cn, firefox-esr-l10n-zh-cn, thunderbird-l10n-zh-cn); at most
a fixed number per source is taken in the order of a hash of the phrase, so
reruns give the same set. Their pinyin comes from the npm package pinyin-pro (toneless,
v for u-umlaut); phrases with a syllable outside the syllable list are
dropped. The result is committed, so the build and CI need neither npm nor
these packages.

Usage: make_calibration.py --cache DIR --pinyin-pro NODE_MODULES_PARENT
                           --syllables FILE --out TSV
Needs: apt-get (packages fetched into DIR), node with pinyin-pro installed
under NODE_MODULES_PARENT (npm install pinyin-pro there), pdftotext from
poppler-utils for the PDF manuals.
"""

import argparse
import collections
import glob
import hashlib
import html.parser
import json
import os
import re
import subprocess
import sys
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from check_syllables import load_syllables  # noqa: E402

PACKAGES = ["debian-edu-doc-zh-cn", "linuxcnc-doc-zh-cn",
            "firefox-esr-l10n-zh-cn", "thunderbird-l10n-zh-cn"]
# Most phrases each source may give: the manuals give longer, sentence-like
# runs and are taken whole; the language packs' short interface texts are
# sampled. (The zh-CN manuals of linuxcnc-doc-zh-cn are at present untranslated
# English and give nothing.)
QUOTAS = {"debian-edu-doc-zh-cn": 2000, "linuxcnc-doc-zh-cn": 2000,
          "firefox-esr-l10n-zh-cn": 1000, "thunderbird-l10n-zh-cn": 1000}
HAN_RUN = re.compile(r"[\u4e00-\u9fff]+")
NODE_SCRIPT = r"""
const {pinyin} = require('pinyin-pro');
let input = '';
process.stdin.on('data', d => input += d);
process.stdin.on('end', () => {
  const out = JSON.parse(input).map(p => pinyin(p, {toneType: 'none', type: 'array', v: true}));
  process.stdout.write(JSON.stringify(out));
});
"""


class TextOfHtml(html.parser.HTMLParser):
    def __init__(self):
        super().__init__()
        self.parts = []
        self.skip = 0

    def handle_starttag(self, tag, attrs):
        if tag in ("script", "style"):
            self.skip += 1

    def handle_endtag(self, tag):
        if tag in ("script", "style") and self.skip:
            self.skip -= 1

    def handle_data(self, data):
        if not self.skip:
            self.parts.append(data)


def html_text(data):
    parser = TextOfHtml()
    parser.feed(data)
    return "\n".join(parser.parts)


def texts_of(root, package):
    """Yields the texts of one unpacked package."""
    base = os.path.join(root, package)
    for path in sorted(glob.glob(base + "/**/*", recursive=True)):
        name = os.path.basename(path)
        if "bullseye" in name:      # the older edition repeats the newer one
            continue
        if path.endswith(".html"):
            with open(path, encoding="utf-8", errors="replace") as f:
                yield html_text(f.read())
        elif path.endswith(".pdf"):
            result = subprocess.run(["pdftotext", "-enc", "UTF-8", path, "-"],
                                    stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
            if result.returncode == 0:
                yield result.stdout.decode("utf-8", errors="replace")
            else:
                print("make_calibration: pdftotext failed on %s" % path, file=sys.stderr)
        elif path.endswith(".xpi"):
            with zipfile.ZipFile(path) as z:
                for member in sorted(z.namelist()):
                    if member.endswith((".ftl", ".properties", ".dtd", ".json")):
                        yield z.read(member).decode("utf-8", errors="replace")


def phrases_of(texts):
    found = set()
    for text in texts:
        # Hard line breaks of PDF text split runs that belong together less
        # often than they join unrelated lines, so lines stay separate.
        for run in HAN_RUN.findall(text):
            if 4 <= len(run) <= 16:
                found.add(run)
    return found


def by_hash(phrase):
    return hashlib.sha1(phrase.encode("utf-8")).hexdigest()


def to_pinyin(node_dir, phrases):
    result = subprocess.run(["node", "-e", NODE_SCRIPT], cwd=node_dir,
                            input=json.dumps(phrases).encode("utf-8"),
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    if result.returncode != 0:
        sys.exit("make_calibration: pinyin-pro failed: " + result.stderr.decode())
    return json.loads(result.stdout.decode("utf-8"))


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--cache", required=True)
    ap.add_argument("--pinyin-pro", required=True)
    ap.add_argument("--syllables", required=True)
    ap.add_argument("--out", required=True)
    args = ap.parse_args()

    manifest = os.path.join(args.cache, "manifest.tsv")
    here = os.path.dirname(os.path.abspath(__file__))
    subprocess.run([sys.executable, os.path.join(here, "fetch_sources.py"), "--cache", args.cache,
                    "--manifest", manifest] + PACKAGES, check=True)
    with open(manifest, encoding="utf-8") as f:
        versions = dict(line.split("\t")[:2] for line in f if not line.startswith("#"))
    syllables = set(load_syllables(args.syllables))
    pp_version = json.load(open(os.path.join(args.pinyin_pro, "node_modules", "pinyin-pro",
                                             "package.json"), encoding="utf-8"))["version"]

    seen = set()
    rows = []
    report = collections.Counter()
    for package in PACKAGES:
        phrases = sorted(phrases_of(texts_of(os.path.join(args.cache, "root"), package)) - seen,
                         key=by_hash)
        report[package + " candidates"] = len(phrases)
        want = QUOTAS[package]
        taken = 0
        # Convert in batches until the share is filled with usable phrases.
        for start in range(0, len(phrases), 2000):
            if taken >= want:
                break
            batch = phrases[start:start + 2000]
            for phrase, reading in zip(batch, to_pinyin(args.pinyin_pro, batch)):
                if taken >= want:
                    break
                if len(reading) != len(phrase) or not all(s in syllables for s in reading):
                    report["dropped: syllable outside the list"] += 1
                    continue
                rows.append((phrase, " ".join(reading), package))
                seen.add(phrase)
                taken += 1
        report[package + " taken"] = taken

    rows.sort()
    with open(args.out + ".tmp", "w", encoding="utf-8", newline="\n") as f:
        f.write("# Calibration phrases: pure-Han runs of 4-16 characters from the Chinese\n")
        f.write("# manuals and language packs of these Debian bookworm packages:\n")
        for package in PACKAGES:
            f.write("#   %s %s: %d phrases\n"
                    % (package, versions.get(package, "?"), report[package + " taken"]))
        f.write("# Toneless pinyin (v for u-umlaut) from pinyin-pro %s.\n" % pp_version)
        f.write("# Generated by tools/data/make_calibration.py; columns:\n")
        f.write("# phrase\tsyllables\tsource package\n")
        for row in rows:
            f.write("\t".join(row) + "\n")
    os.replace(args.out + ".tmp", args.out)
    for key in sorted(report):
        print("%s\t%d" % (key, report[key]))
    return 0


if __name__ == "__main__":
    sys.exit(main())
