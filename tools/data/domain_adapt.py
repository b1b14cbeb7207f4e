#!/usr/bin/env python3
"""Leans the word statistics towards the text people type on this system.

The open language model was trained on general text; users of a Linux input
method type much technical and interface text, where 文件, 标签页, 附件 and
它 are far commoner than the model says. This step reads the Chinese of a
few Debian packages (manual pages, the Debian reference, translations of
desktop programs), splits it into words of the word list, counts words and
word pairs, and mixes the counts into the model's statistics:

  p'(w)     = (1 - W) p(w) + W c(w) / N
  p'(b | a) = (1 - L(a)) s(b | a) + L(a) c(a, b) / c(a),
  L(a)      = min(T(a), PAIR_SHARE) c(a) / (c(a) + K),   T(a) = W c(a) / N / p'(a)

where s(b | a) is the model's pair (or its back-off path) scaled by
p'(b) / p(b), so that a pair keeps its strength against its second word.
T(a) is the share of a's mixed probability that the text gives: what follows
a word the text made common is mostly what follows it in the text (它 的,
它 将), what follows a word the text hardly holds stays the model's (他 想);
the share is bounded because the text is small, and a first word seen
rarely trusts its counts little (K). A pair the text shows among the words
that get statistics is stored even when the model did not store it. A
word's back-off weight and its frequency rank (which decides its gram id)
stay as the model gives them.

The text is documentation: how often its commonest words occur is a trait
of its style (它 for a program or a file, 由, 把, 每) more than of what
people type. So a word whose lift would bring it within CORE_MARGIN of a
homophone among the model's CORE_RANK most frequent words, or past it,
keeps the model's unigram: a phrase's start and a word typed alone follow
the general order (ta: 他 before 它), while the pairs above still carry the
text's contexts (使用它, 它的值).

The text is split by the unigram model alone (the likeliest sequence of
words of the list, words the model does not know priced as rare).

Usage: domain_adapt.py --root CACHE_ROOT --data DIR --calibration TSV
                       PACKAGE...
Reads DIR/build-params.tsv ("domain weight", "gram words"),
DIR/words.tsv, DIR/lm-unigrams.tsv and DIR/lm-bigrams.tsv; writes
DIR/unigrams.tsv and DIR/bigrams.tsv (the formats of the extracted
statistics), DIR/domain-report.txt and DIR/calibration-seen.tsv (the
calibration phrases that the text or the word list holds word for word,
which measure memory rather than conversion). A package that the calibration set
was drawn from is refused: the figures measured on that set would then
flatter the data. Same inputs, same bytes. Exits non-zero with a message on
any failure; the outputs are written through temporaries.
"""

import argparse
import gzip
import html
import io
import math
import os
import re
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from coverage import read_rows, write_lines  # noqa: E402

HAN = re.compile(r"[\u4e00-\u9fff]+")
# How many pair counts of a first word weigh as much as the model.
TRUST_COUNT = 20
# The largest share of the text's counts in what follows a word.
PAIR_SHARE = 0.2
# The model's most frequent words, whose order against their homophones the
# lean keeps, and how close (log10) a lifted homophone may come to one.
CORE_RANK = 300
CORE_MARGIN = 0.1
# Prices (log10) of what the model does not know, for splitting only.
UNKNOWN_CHAR = 8.0
UNKNOWN_WORD_PER_CHAR = 1.0
# No text file of the sources comes near this; a larger one is refused.
MAX_FILE_BYTES = 64 << 20


class DomainError(Exception):
    pass


def mo_strings(data):
    """The translations (msgstr) of a gettext catalogue, offsets checked."""
    if len(data) < 28:
        raise DomainError("catalogue shorter than its header")
    magic = struct.unpack_from("<I", data, 0)[0]
    order = "<" if magic == 0x950412DE else ">" if magic == 0xDE120495 else None
    if order is None:
        raise DomainError("not a gettext catalogue")
    count, _, table = struct.unpack_from(order + "III", data, 8)
    if table > len(data) or count > (len(data) - table) // 8:
        raise DomainError("catalogue table outside the file")
    out = []
    for i in range(count):
        length, offset = struct.unpack_from(order + "II", data, table + 8 * i)
        if offset > len(data) or length > len(data) - offset:
            raise DomainError("catalogue string outside the file")
        out.append(data[offset:offset + length].decode("utf-8", "replace"))
    return out


def read_bytes(path):
    if os.path.getsize(path) > MAX_FILE_BYTES:
        raise DomainError("%s is larger than %d bytes" % (path, MAX_FILE_BYTES))
    with open(path, "rb") as f:
        return f.read(MAX_FILE_BYTES + 1)


def gunzip_bounded(raw, path):
    """The unpacked bytes; a file that unpacks past the size limit is refused."""
    with gzip.GzipFile(fileobj=io.BytesIO(raw)) as f:
        out = f.read(MAX_FILE_BYTES + 1)
    if len(out) > MAX_FILE_BYTES:
        raise DomainError("%s unpacks to more than %d bytes" % (path, MAX_FILE_BYTES))
    return out


def package_texts(tree):
    """Simplified-Chinese texts of one unpacked package, in path order."""
    for top, dirs, files in os.walk(tree):
        dirs.sort()
        for name in sorted(files):
            path = os.path.join(top, name)
            if os.path.islink(path):
                continue
            rel = os.path.relpath(path, tree)
            try:
                if "/zh_CN/" in rel and name.endswith(".mo"):
                    yield from mo_strings(read_bytes(path))
                elif "/man/zh_CN/" in rel:
                    raw = read_bytes(path)
                    if name.endswith(".gz"):
                        raw = gunzip_bounded(raw, path)
                    yield raw.decode("utf-8", "replace")
                elif name.endswith(".zh-cn.html"):
                    yield html.unescape(read_bytes(path).decode("utf-8", "replace"))
            except (OSError, EOFError, gzip.BadGzipFile) as e:
                raise DomainError("%s: %s" % (path, e))
            except DomainError as e:
                raise DomainError("%s: %s" % (path, e))


class Splitter:
    """Splits runs of Han characters into the likeliest words of the list."""

    def __init__(self, words, log10p):
        self.words = words
        self.log10p = log10p
        self.longest = max((len(w) for w in words), default=1)

    def price(self, word):
        p = self.log10p.get(word)
        if p is not None:
            return -p
        if len(word) == 1:
            return UNKNOWN_CHAR
        return UNKNOWN_CHAR + UNKNOWN_WORD_PER_CHAR * len(word)

    def split(self, run):
        n = len(run)
        best = [0.0] + [math.inf] * n
        back = [0] * (n + 1)
        for end in range(1, n + 1):
            for start in range(max(0, end - self.longest), end):
                word = run[start:end]
                if end - start > 1 and word not in self.words:
                    continue
                v = best[start] + self.price(word)
                if v < best[end]:
                    best[end], back[end] = v, start
        out, end = [], n
        while end > 0:
            out.append(run[back[end]:end])
            end = back[end]
        return out[::-1]


def count(texts, splitter, runs=None):
    """Word and pair counts; every Han run is also appended to runs."""
    unigrams, pairs = {}, {}
    for text in texts:
        for run in HAN.findall(text):
            if runs is not None:
                runs.append(run)
            words = splitter.split(run)
            for w in words:
                unigrams[w] = unigrams.get(w, 0) + 1
            for ab in zip(words, words[1:]):
                pairs[ab] = pairs.get(ab, 0) + 1
    return unigrams, pairs


def core_rivals(words_path, lm_unigrams):
    """{word: {homophones among the model's core words that it ranks above
    the word}}, from the readings of the word list."""
    by_reading = {}
    for f in read_rows(words_path):
        if len(f) >= 2 and f[0] in lm_unigrams:
            by_reading.setdefault(f[1], []).append(f[0])
    out = {}
    for words in by_reading.values():
        core = [w for w in words if lm_unigrams[w][2] <= CORE_RANK]
        for word in words:
            above = [c for c in core if c != word and lm_unigrams[c][0] > lm_unigrams[word][0]]
            if above:
                out.setdefault(word, set()).update(above)
    return out


def adapt(lm_unigrams, lm_pairs, unigrams, pairs, weight, gram_words, rivals):
    """Mixed statistics: ({word: (log10 p, log10 bow, rank)}, {(a, b): log10 p})."""
    total = sum(unigrams.values())
    out_uni, shift, from_text = {}, {}, {}
    for word, (p, bow, rank) in lm_unigrams.items():
        counted = weight * unigrams.get(word, 0) / total if total else 0.0
        mixed = (1 - weight) * 10 ** p + counted
        from_text[word] = counted / mixed
        shift[word] = math.log10(mixed) - p
        out_uni[word] = (p + shift[word], bow, rank)
    # Decided on the lifted values, so the order of the words does not matter.
    kept = [w for w, above in rivals.items()
            if any(out_uni[w][0] > out_uni[c][0] - CORE_MARGIN for c in above)]
    for word in kept:
        out_uni[word] = lm_unigrams[word][:2] + (out_uni[word][2],)
    out_pairs = {ab: p + shift[ab[1]] for ab, p in lm_pairs.items()}
    firsts = {}
    for (a, _), c in pairs.items():
        firsts[a] = firsts.get(a, 0) + c

    def trust(a):
        return min(from_text.get(a, 0.0), PAIR_SHARE) * firsts[a] / (firsts[a] + TRUST_COUNT)

    def has_gram(w):
        return w in out_uni and out_uni[w][2] <= gram_words

    seen = set()
    for (a, b), c in pairs.items():
        if not (has_gram(a) and has_gram(b)):
            continue
        base = out_pairs.get((a, b))
        if base is None:
            base = out_uni[a][1] + out_uni[b][0]
        share = trust(a)
        out_pairs[(a, b)] = math.log10((1 - share) * 10 ** base + share * c / firsts[a])
        seen.add((a, b))
    # The rest of a counted first word's pairs give up the counted share.
    for ab in out_pairs:
        if ab[0] in firsts and ab not in seen and has_gram(ab[0]):
            out_pairs[ab] += math.log10(1 - trust(ab[0]))
    return out_uni, out_pairs, len(kept)


def header_lines(path):
    with open(path, encoding="utf-8") as f:
        return [line for line in f if line.startswith("#")]


def seen_phrases(calibration, runs_by_package, words):
    """[(phrase, where)]: calibration phrases the statistics' sources hold word
    for word, as a word of the word list or inside a run of a package's text."""
    texts = {package: "\n".join(runs) for package, runs in runs_by_package.items()}
    out = []
    for f in read_rows(calibration):
        phrase = f[0]
        where = ["word list"] if phrase in words else []
        where += [package for package in sorted(texts) if phrase in texts[package]]
        if where:
            out.append((phrase, ",".join(where)))
    return sorted(set(out))


def calibration_packages(path):
    """Packages named in the calibration set's header ("#   name version: ...")."""
    names = set()
    with open(path, encoding="utf-8") as f:
        for line in f:
            if not line.startswith("#"):
                break
            m = re.match(r"#\s+([a-z0-9][a-z0-9+.-]+)\s+\S+:", line)
            if m:
                names.add(m.group(1))
    return names


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--root", required=True)
    ap.add_argument("--data", required=True)
    ap.add_argument("--calibration", required=True)
    ap.add_argument("packages", nargs="+")
    args = ap.parse_args()
    try:
        unfair = calibration_packages(args.calibration) & set(args.packages)
        if unfair:
            raise DomainError("the calibration set comes from %s" % ", ".join(sorted(unfair)))
        params = {f[0]: f[1] for f in read_rows(os.path.join(args.data, "build-params.tsv"))
                  if len(f) >= 2}
        weight = float(params.get("domain weight", "nan"))
        gram_words = int(params.get("gram words", "0"))
        if not 0 <= weight < 1 or gram_words <= 0:
            raise DomainError("build-params.tsv needs a domain weight in [0, 1) and gram words")
        words = {f[0] for f in read_rows(os.path.join(args.data, "words.tsv"))}
        lm_uni_path = os.path.join(args.data, "lm-unigrams.tsv")
        lm_bi_path = os.path.join(args.data, "lm-bigrams.tsv")
        lm_unigrams = {f[0]: (float(f[1]), float(f[2]), int(f[3]))
                       for f in read_rows(lm_uni_path)}
        lm_pairs = {(f[0], f[1]): float(f[2]) for f in read_rows(lm_bi_path)}
        splitter = Splitter(words, {w: u[0] for w, u in lm_unigrams.items()})
        report = []
        unigrams, pairs = {}, {}
        runs_by_package = {}
        for package in args.packages:
            tree = os.path.join(args.root, package)
            if not os.path.isdir(tree):
                raise DomainError("%s is not unpacked in %s" % (package, args.root))
            u, p = count(package_texts(tree), splitter, runs_by_package.setdefault(package, []))
            if not u:
                raise DomainError("%s holds no simplified-Chinese text" % package)
            report.append("%s\t%d words\n" % (package, sum(u.values())))
            for w, c in u.items():
                unigrams[w] = unigrams.get(w, 0) + c
            for ab, c in p.items():
                pairs[ab] = pairs.get(ab, 0) + c
        rivals = core_rivals(os.path.join(args.data, "words.tsv"), lm_unigrams)
        out_uni, out_pairs, kept = adapt(lm_unigrams, lm_pairs, unigrams, pairs, weight,
                                         gram_words, rivals)
        seen = seen_phrases(args.calibration, runs_by_package, words)
    except (DomainError, OSError, ValueError, IndexError) as e:
        sys.exit("domain_adapt: %s" % e)

    write_lines(os.path.join(args.data, "unigrams.tsv"),
                 header_lines(lm_uni_path) +
                 ["%s\t%.6f\t%.6f\t%d\n" % (w, p, bow, rank)
                  for w, (p, bow, rank) in out_uni.items()])
    order = sorted(out_pairs, key=lambda ab: (ab[0].encode("utf-8"), ab[1].encode("utf-8")))
    write_lines(os.path.join(args.data, "bigrams.tsv"),
                 header_lines(lm_bi_path) +
                 ["%s\t%s\t%.6f\n" % (a, b, out_pairs[(a, b)]) for a, b in order])
    write_lines(os.path.join(args.data, "calibration-seen.tsv"),
                ["# calibration phrases held word for word by the statistics' sources\n",
                 "# phrase\twhere\n"] + ["%s\t%s\n" % row for row in seen])
    added = sum(1 for ab in out_pairs if ab not in lm_pairs)
    report.append("text\t%d words, %d kinds, %d pairs\n"
                  % (sum(unigrams.values()), len(unigrams), len(pairs)))
    report.append("weight\t%s; pairs stored %d (%d added)\n" % (weight, len(out_pairs), added))
    report.append("unigrams kept against a core homophone\t%d\n" % kept)
    report.append("calibration phrases in the sources\t%d\n" % len(seen))
    write_lines(os.path.join(args.data, "domain-report.txt"), report)


if __name__ == "__main__":
    main()
