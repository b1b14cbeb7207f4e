"""Tests of the data-build tools: syllable check, normalisation, coverage,
and (when its binary is given in VETRA_LM_EXTRACT) the statistics extractor.

Run: python3 -m unittest discover -s tests/data -p 'test_*.py'
"""

import collections
import math
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "tools", "data"))

import check_syllables  # noqa: E402
import coverage  # noqa: E402
import domain_adapt  # noqa: E402
import english_keys  # noqa: E402
import letter_priors  # noqa: E402
import make_everyday  # noqa: E402
import make_sentences  # noqa: E402
import normalise  # noqa: E402
import syllable_stats  # noqa: E402

SYLLABLES = os.path.join(ROOT, "data", "syllables.txt")


def write(directory, name, text):
    path = os.path.join(directory, name)
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)
    return path


class SyllableListTest(unittest.TestCase):
    def setUp(self):
        self.syllables = check_syllables.load_syllables(SYLLABLES)

    def test_CommittedListMeetsEveryFixedId(self):
        self.assertEqual(check_syllables.check(self.syllables), [])
        self.assertEqual(len(self.syllables), 413)
        self.assertNotIn("ng", self.syllables)
        self.assertIn("fiao", self.syllables)

    def test_ListShiftedByOneSyllableIsRefused(self):
        shifted = [s for s in self.syllables if s != "fiao"]
        errors = check_syllables.check(shifted)
        self.assertTrue(any("expected 413" in e for e in errors))
        self.assertTrue(any(e.startswith("digit 2") for e in errors))
        # ids below the removed syllable are untouched
        self.assertFalse(any(e.startswith("anchor") for e in errors))

    def test_ListWithAnAddedSyllableIsRefused(self):
        errors = check_syllables.check(sorted(self.syllables + ["ng"]))
        self.assertTrue(any("common word 你" in e for e in errors))

    def test_OutOfOrderOrMalformedSpellingsAreRefused(self):
        swapped = list(self.syllables)
        swapped[5], swapped[6] = swapped[6], swapped[5]
        self.assertTrue(any("code-unit order" in e for e in check_syllables.check(swapped)))
        upper = list(self.syllables)
        upper[200] = upper[200].upper()
        self.assertTrue(any("lower-case" in e for e in check_syllables.check(upper)))
        duplicate = list(self.syllables)
        duplicate[201] = duplicate[200]
        self.assertTrue(any("code-unit order" in e for e in check_syllables.check(duplicate)))

    def test_CommonCharacterWithoutItsReadingIsRefused(self):
        readings = {ch: {s} for ch, _, s in check_syllables.COMMON_CHARS}
        self.assertEqual(check_syllables.check(self.syllables, readings), [])
        readings["的"] = {"di"}
        errors = check_syllables.check(self.syllables, readings)
        self.assertEqual(len(errors), 1)
        self.assertIn("的", errors[0])

    def test_CommentLinesAreSkippedAndStampWrittenOnlyOnSuccess(self):
        with tempfile.TemporaryDirectory() as tmp:
            good = write(tmp, "good.txt", "# header\n" + "\n".join(self.syllables) + "\n")
            stamp = os.path.join(tmp, "ok")
            run = [sys.executable, os.path.join(ROOT, "tools", "data", "check_syllables.py")]
            self.assertEqual(subprocess.call(run + [good, "--stamp", stamp]), 0)
            self.assertTrue(os.path.exists(stamp))
            os.remove(stamp)
            bad = write(tmp, "bad.txt", "\n".join(self.syllables[1:]) + "\n")
            self.assertNotEqual(subprocess.call(run + [bad, "--stamp", stamp],
                                                stderr=subprocess.DEVNULL), 0)
            self.assertFalse(os.path.exists(stamp))


@unittest.skipUnless(shutil.which("dpkg-deb"), "needs dpkg-deb")
class FetchSourcesTest(unittest.TestCase):
    """Runs the fetcher against a stand-in apt-get that builds tiny packages."""

    FAKE_APT = """#!/bin/sh
# stand-in for 'apt-get download NAME': builds NAME_1.0_all.deb here
echo "$2" >> "$FAKE_APT_LOG"
[ "$2" = missing ] && { echo "E: Unable to locate package missing" >&2; exit 100; }
d=$(mktemp -d)
mkdir -p "$d/DEBIAN" "$d/usr/share/$2"
printf 'Package: %s\\nVersion: 1.0\\nArchitecture: all\\nMaintainer: t <t@t>\\nDescription: t\\n' "$2" > "$d/DEBIAN/control"
echo "$2 data" > "$d/usr/share/$2/file.txt"
dpkg-deb --build "$d" "$2_1.0_all.deb" >/dev/null
rm -rf "$d"
"""

    def setUp(self):
        self.tmp = tempfile.mkdtemp()
        bindir = os.path.join(self.tmp, "bin")
        os.makedirs(bindir)
        fake = write(bindir, "apt-get", self.FAKE_APT)
        os.chmod(fake, 0o755)
        self.log = os.path.join(self.tmp, "apt.log")
        self.env = dict(os.environ, PATH=bindir + os.pathsep + os.environ["PATH"],
                        FAKE_APT_LOG=self.log)
        self.cache = os.path.join(self.tmp, "cache")
        self.manifest = os.path.join(self.cache, "manifest.tsv")

    def tearDown(self):
        shutil.rmtree(self.tmp)

    def fetch(self, *packages):
        return subprocess.run([sys.executable, os.path.join(ROOT, "tools", "data", "fetch_sources.py"),
                               "--cache", self.cache, "--manifest", self.manifest] + list(packages),
                              env=self.env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)

    def downloads(self):
        with open(self.log) as f:
            return f.read().split()

    def test_PackagesAreDownloadedOnceAndUnpacked(self):
        self.assertEqual(self.fetch("pkgb", "pkga").returncode, 0)
        with open(os.path.join(self.cache, "root", "pkga", "usr", "share", "pkga", "file.txt")) as f:
            self.assertEqual(f.read(), "pkga data\n")
        with open(self.manifest) as f:
            rows = [line.split("\t") for line in f if not line.startswith("#")]
        self.assertEqual([(r[0], r[1], r[2]) for r in rows],
                         [("pkga", "1.0", "pkga_1.0_all.deb"), ("pkgb", "1.0", "pkgb_1.0_all.deb")])
        self.assertEqual(self.fetch("pkga", "pkgb").returncode, 0)
        self.assertEqual(sorted(self.downloads()), ["pkga", "pkgb"])

    def test_ChangedPackageIsUnpackedAgain(self):
        self.assertEqual(self.fetch("pkga").returncode, 0)
        marker = os.path.join(self.cache, "root", "pkga.unpacked")
        with open(marker, "w") as f:
            f.write("stale\n")
        stray = os.path.join(self.cache, "root", "pkga", "stray.txt")
        write(os.path.dirname(stray), "stray.txt", "left over")
        self.assertEqual(self.fetch("pkga").returncode, 0)
        self.assertFalse(os.path.exists(stray))

    def test_UnknownPackageOrTwoCachedVersionsFail(self):
        result = self.fetch("missing")
        self.assertNotEqual(result.returncode, 0)
        self.assertIn("apt-get download missing failed", result.stderr)
        self.assertFalse(os.path.exists(self.manifest))
        self.assertEqual(self.fetch("pkga").returncode, 0)
        debs = os.path.join(self.cache, "debs")
        shutil.copy(os.path.join(debs, "pkga_1.0_all.deb"), os.path.join(debs, "pkga_0.9_all.deb"))
        result = self.fetch("pkga")
        self.assertNotEqual(result.returncode, 0)
        self.assertIn("several cached versions", result.stderr)


class TonelessReadingTest(unittest.TestCase):
    def test_ToneMarksAndUmlautGiveTheListSpelling(self):
        self.assertEqual(normalise.toneless("xíng"), "xing")
        self.assertEqual(normalise.toneless("Zhōng"), "zhong")
        self.assertEqual(normalise.toneless("lüè"), "lve")
        self.assertEqual(normalise.toneless("nǚ"), "nv")
        self.assertEqual(normalise.toneless("lü"), "lv")

    def test_ReadingsNoSyllableSpellsAreRefusedOrKeptForCounting(self):
        self.assertIsNone(normalise.toneless("ê̄"))     # e-circumflex is not plain e
        self.assertIsNone(normalise.toneless("ế"))
        self.assertIsNone(normalise.toneless("a1"))
        self.assertIsNone(normalise.toneless("ä"))      # umlaut only on u
        # syllabic nasals keep their letters; the syllable list drops them
        self.assertEqual(normalise.toneless("ǹg"), "ng")
        self.assertEqual(normalise.toneless("ḿ"), "m")

    def test_EveryUnihanFieldFormGivesAllItsReadings(self):
        self.assertEqual(normalise.field_readings("kHanyuPinyin", "10019.020:tiàn 74801.080:tián,diàn"),
                         [("tiàn", 0), ("tián", 0), ("diàn", 0)])
        self.assertEqual(normalise.field_readings("kXHC1983", "0442.080:háng 0443.050:hàng"),
                         [("háng", 0), ("hàng", 0)])
        self.assertEqual(normalise.field_readings("kHanyuPinlu", "xíng(2943) háng(218)"),
                         [("xíng", 2943), ("háng", 218)])
        self.assertEqual(normalise.field_readings("kMandarin", "xíng"), [("xíng", 0)])
        self.assertEqual(normalise.field_readings("kHanyuPinlu", "broken(12"), [])


class WordNormalisationTest(unittest.TestCase):
    SYLLABLES = {"yin", "hang", "xing", "ba", "zhong", "guo", "ren"}
    TRAD = {"壩": ["坝"], "銀": ["银"], "鐽": ["𫟼"]}
    TO_SIMPLIFIED = {"壩": "坝", "銀": "银"}

    def run_rows(self, rows):
        report = collections.Counter()
        dropped = collections.Counter()
        kept = normalise.normalise_words(rows, self.SYLLABLES, self.TRAD, self.TO_SIMPLIFIED,
                                         report, dropped)
        return kept, report, dropped

    def test_RowsOutsideTheSyllableListOrMiscountedAreDroppedAndCounted(self):
        kept, report, dropped = self.run_rows([
            "银行 yin'hang 0",
            "嗯 ng 0",
            "中国人 zhong'guo 0",
            "broken",
        ])
        self.assertEqual(kept, {("银行", ("yin", "hang"))})
        self.assertEqual(report["word rows dropped: syllable not in the list"], 1)
        self.assertEqual(report["word rows dropped: characters and syllables differ in number"], 1)
        self.assertEqual(report["word rows dropped: malformed"], 1)
        self.assertEqual(dropped, {"ng": 1})

    def test_TraditionalFormMergesWithItsSimplifiedFormInAnyOrder(self):
        for rows in (["壩 ba 0", "坝 ba 0"], ["坝 ba 0", "壩 ba 0"]):
            kept, report, _ = self.run_rows(rows)
            self.assertEqual(kept, {("坝", ("ba",))})
            self.assertEqual(report["word rows merged: traditional form of a listed word"], 1)
            self.assertEqual(report["word rows mapped to simplified script"], 0)

    def test_TraditionalFormWithoutStandardSimplifiedFormIsDropped(self):
        kept, report, _ = self.run_rows(["鐽 ba 0", "銀行 yin'hang 0"])
        self.assertEqual(kept, {("银行", ("yin", "hang"))})
        self.assertEqual(report["word rows dropped: traditional form without one standard simplified form"], 1)
        self.assertEqual(report["word rows mapped to simplified script"], 1)

    def test_EveryReadingOfAPolyphonicWordIsKeptOnce(self):
        kept, report, _ = self.run_rows(["行 xing 0", "行 hang 0", "行 xing 0"])
        self.assertEqual(kept, {("行", ("xing",)), ("行", ("hang",))})
        self.assertEqual(report["word rows merged: duplicate"], 1)


class CoverageTest(unittest.TestCase):
    def test_SplitNeedsMatchingReadingsAndCountsLongerWords(self):
        with tempfile.TemporaryDirectory() as tmp:
            words = write(tmp, "words.tsv", "# word\tsyllables\n中国\tzhong guo\n人民\tren min\n"
                                            "中\tzhong\n国\tguo\n人\tren\n民\tmin\n银行\tyin hang\n"
                                            "银\tyin\n行\txing\n")
            chars = write(tmp, "chars.tsv", "中\tzhong\n国\tguo\n人\tren\n民\tmin\n银\tyin\n"
                                            "行\txing\n行\thang\n")
            calibration = write(tmp, "cal.tsv", "# phrase\n中国人民\tzhong guo ren min\tx\n"
                                                "银行\tyin hang\tx\n银行\tyin xing\tx\n")
            result = dict(coverage.coverage(words, chars, calibration))
        self.assertEqual(result["phrases"], "3")
        self.assertEqual(result["phrases segmentable %"], "100.0")
        self.assertEqual(result["phrases one word %"], "33.3")
        # 中国人民 splits into two words, 银行 is one, 银 + 行 (xing) two
        self.assertEqual(result["words per phrase"], "1.67")
        self.assertEqual(result["chars in longer words %"], "75.0")


class SyllableStatisticsTest(unittest.TestCase):
    SYLLABLES = ["guo", "hang", "ren", "xing", "yin", "zhong"]

    def estimate(self, bigrams):
        with tempfile.TemporaryDirectory() as tmp:
            write(tmp, "words.tsv", "# w\n中国\tzhong guo\n人\tren\n行\txing\n行\thang\n"
                                    "银行\tyin hang\n")
            write(tmp, "chars.tsv", "人\tren\t0\tW\tS\n行\thang\t1\tW\tS\n行\txing\t8\tW\tS\n")
            write(tmp, "unigrams.tsv", "# u\n中国\t-1.0\t-0.3\t1\n人\t-1.0\t0\t2\n"
                                       "行\t-1.0\t0\t3\n")
            write(tmp, "bigrams.tsv", "# b\n" + bigrams)
            return syllable_stats.estimate(self.SYLLABLES, tmp)

    def test_EveryPairHasAProbabilityAndRowsSumToOne(self):
        uni, pair = self.estimate("")
        self.assertAlmostEqual(sum(uni), 1.0, places=9)
        for row in pair:
            self.assertTrue(all(p > 0 for p in row))
            self.assertAlmostEqual(sum(row), 1.0, places=9)
        # a syllable of no word with statistics still gets a floor
        self.assertGreater(uni[self.SYLLABLES.index("yin")], 0)

    def test_ReadingsAreSplitByTheirSurveyCounts(self):
        uni, _ = self.estimate("")
        xing, hang = uni[self.SYLLABLES.index("xing")], uni[self.SYLLABLES.index("hang")]
        self.assertAlmostEqual(xing / hang, 9 / 2, places=6)

    def test_StoredWordPairRaisesItsSyllablePair(self):
        g, r = self.SYLLABLES.index("guo"), self.SYLLABLES.index("ren")
        x = self.SYLLABLES.index("xing")
        _, plain = self.estimate("")
        _, paired = self.estimate("中国\t人\t-0.1\n")
        self.assertGreater(paired[g][r], plain[g][r])
        self.assertLess(paired[g][x], plain[g][x])
        # inside a word: zhong is always followed by guo
        z = self.SYLLABLES.index("zhong")
        self.assertGreater(plain[z][g], 0.98)


class LetterPriorsTest(unittest.TestCase):
    def test_EveryRowOfBothTablesIsFilledInKeyOrder(self):
        rows = list(letter_priors.rows())
        edits = [r for r in rows if r[0] == "edit"]
        swaps = [r for r in rows if r[0] == "swap"]
        self.assertEqual(len(edits), 27 * 27 * 27)
        self.assertEqual(len(swaps), 26 * 26 * 27)

        def idx(x):
            return 26 if x == "~" else ord(x) - ord("a")
        self.assertEqual([729 * idx(c) + 27 * idx(a) + idx(b) for _, a, b, c, _ in edits],
                         list(range(len(edits))))
        self.assertEqual([676 * idx(c) + 26 * idx(b) + idx(a) for _, a, b, c, _ in swaps],
                         list(range(len(swaps))))
        self.assertTrue(all(0 < r[4] < 1 for r in rows))

    def test_LikelyTyposCostLessThanUnlikelyOnes(self):
        p = letter_priors.edit_probability
        self.assertGreater(p("j", "k", "~"), p("q", "p", "~"))     # neighbouring keys
        self.assertGreater(p("e", "i", "x"), p("q", "p", "x"))     # two vowels
        self.assertGreater(p("~", "h", "z"), p("~", "k", "z"))     # zh typed as z
        self.assertGreater(p("n", "~", "n"), p("p", "~", "n"))     # key pressed twice
        self.assertEqual(p("a", "a", "b"), letter_priors.P_NONE)   # no edit at all
        s = letter_priors.swap_probability
        self.assertGreater(s("e", "i", "x"), s("f", "d", "x"))     # ie for ei
        self.assertGreater(s("f", "j", "~"), s("f", "d", "~"))     # across the hands


ARPA = """
\\data\\
ngram 1=7
ngram 2=4

\\1-grams:
-1.0\t<unk>\t0
-99\t<s>\t-0.5
-1.0\t</s>\t0
-0.5\t中国\t-0.3
-0.7\t人民\t-0.2
-0.9\t银行\t0
-1.2\t你好\t-0.4

\\2-grams:
-0.2\t<s> 中国
-0.1\t中国 人民
-0.4\t人民 银行
-0.3\t你好 中国

\\end\\
"""


def mo_catalogue(pairs):
    """A little-endian gettext catalogue of (msgid, msgstr) byte strings."""
    import struct
    n = len(pairs)
    ids, strs = 28, 28 + 8 * n
    data = bytearray(struct.pack("<7I", 0x950412DE, 0, n, ids, strs, 0, 0))
    data += bytes(16 * n)
    for i, (key, value) in enumerate(pairs):
        for table, text in ((ids, key), (strs, value)):
            struct.pack_into("<II", data, table + 8 * i, len(text), len(data))
            data += text + b"\0"
    return bytes(data)


class DomainAdaptTest(unittest.TestCase):
    def test_SourceFilesAreReadOnlyWithinTheirBounds(self):
        good = mo_catalogue([(b"Open", "打开".encode()), (b"Tab", "标签页".encode())])
        self.assertEqual(domain_adapt.mo_strings(good), ["打开", "标签页"])
        import struct
        past_end = bytearray(good)
        struct.pack_into("<II", past_end, 28 + 16 + 8, 1 << 20, 40)  # second msgstr too long
        huge_count = bytearray(good)
        struct.pack_into("<I", huge_count, 8, 1 << 28)
        for bad in [b"", good[:20], b"\0" * 28, bytes(past_end), bytes(huge_count)]:
            with self.assertRaises(domain_adapt.DomainError):
                domain_adapt.mo_strings(bad)
        # a manual page that unpacks past the size limit is refused, not read whole
        import gzip
        page = gzip.compress(b"x" * 100)
        limit = domain_adapt.MAX_FILE_BYTES
        try:
            domain_adapt.MAX_FILE_BYTES = 100
            self.assertEqual(domain_adapt.gunzip_bounded(page, "p.gz"), b"x" * 100)
            domain_adapt.MAX_FILE_BYTES = 99
            with self.assertRaises(domain_adapt.DomainError):
                domain_adapt.gunzip_bounded(page, "p.gz")
        finally:
            domain_adapt.MAX_FILE_BYTES = limit

    def test_TextCountsShiftWordsAndPairsTowardsTheText(self):
        splitter = domain_adapt.Splitter({"标签", "标签页", "页", "也"},
                                         {"标签": -3.0, "页": -4.0, "也": -2.5})
        # an unknown word of the list costs more than its known parts
        self.assertEqual(splitter.split("标签页也"), ["标签", "页", "也"])
        uni = {"标签": (-3.0, -0.5, 1), "页": (-4.0, -0.2, 2), "也": (-2.5, -0.3, 3),
               "他": (-2.0, -0.4, 4)}
        pairs = {("标签", "也"): -2.0, ("他", "也"): -1.5}
        text_uni, text_pairs = domain_adapt.count(["标签页，标签页。标签也"], splitter)
        self.assertEqual(text_pairs, {("标签", "页"): 2, ("标签", "也"): 1})
        out_uni, out_pairs, kept = domain_adapt.adapt(uni, pairs, text_uni, text_pairs, 0.1, 4, {})
        shift = {w: out_uni[w][0] - uni[w][0] for w in uni}
        self.assertGreater(shift["页"], 0.5)
        self.assertAlmostEqual(shift["他"], math.log10(0.9))  # absent from the text
        self.assertEqual([out_uni[w][1:] for w in uni], [uni[w][1:] for w in uni])
        self.assertEqual(kept, 0)
        # a first word the text does not show keeps its pair against the second word
        self.assertAlmostEqual(out_pairs[("他", "也")], -1.5 + shift["也"])
        # the text's pair is stored now, above the back-off path it had
        self.assertGreater(out_pairs[("标签", "页")], out_uni["标签"][1] + out_uni["页"][0])
        # a word without statistics (rank past the gram words) gets no pair
        _, few, _ = domain_adapt.adapt(uni, pairs, text_uni, text_pairs, 0.1, 1, {})
        self.assertNotIn(("标签", "页"), few)

    def test_TheTextsStyleWordsKeepTheGeneralOrder(self):
        # 它 is the text's word for a program, 他 the model's commoner homophone:
        # lifted past it 它 keeps the model's unigram; 塔, whose only rival 踏 is
        # no core word, keeps its lift past 踏. What follows 它 is mostly the
        # text's (up to the bound), what follows 他 by the text's small part of 他.
        uni = {"他": (-3.4, -0.5, 1), "它": (-3.8, -0.4, 2), "将": (-3.1, -0.4, 3),
               "想": (-3.3, -0.4, 4), "踏": (-4.0, -0.3, 400), "塔": (-4.5, -0.3, 500)}
        pairs = {("它", "想"): -2.9, ("他", "想"): -2.7}
        text_uni = {"它": 600, "将": 300, "塔": 8, "他": 1, "想": 40, "的": 9051}
        text_pairs = {("它", "将"): 300, ("他", "想"): 1}
        out_uni, out_pairs, kept = domain_adapt.adapt(uni, pairs, text_uni, text_pairs, 0.1, 10,
                                                      {"它": {"他"}})
        self.assertEqual(kept, 1)
        self.assertEqual(out_uni["它"], uni["它"])
        self.assertGreater(out_uni["塔"][0], out_uni["踏"][0])

        def lifted(w):
            return math.log10(0.9 * 10 ** uni[w][0] + 0.1 * text_uni[w] / 10000)

        def pair(a, b, share, count, first_count):
            trust = share * first_count / (first_count + domain_adapt.TRUST_COUNT)
            base = pairs[(a, b)] + lifted(b) - uni[b][0]
            return math.log10((1 - trust) * 10 ** base + trust * count / first_count)

        self.assertGreater(0.1 * text_uni["它"] / 10000 / 10 ** lifted("它"),
                           domain_adapt.PAIR_SHARE)
        self.assertAlmostEqual(out_pairs[("它", "想")],
                               pair("它", "想", domain_adapt.PAIR_SHARE, 0, 300))
        part = 0.1 * text_uni["他"] / 10000 / 10 ** lifted("他")
        self.assertLess(part, 0.1)
        self.assertAlmostEqual(out_pairs[("他", "想")], pair("他", "想", part, 1, 1))
        with tempfile.TemporaryDirectory() as tmp:
            words = write(tmp, "words.tsv", "# word\tsyllables\n他\tta\n它\tta\n塔\tta\n"
                                            "踏\tta\n想\txiang\n")
            self.assertEqual(domain_adapt.core_rivals(words, uni),
                             {"它": {"他"}, "踏": {"他", "它"}, "塔": {"他", "它"}})
            domain_adapt.CORE_RANK, rank = 1000, domain_adapt.CORE_RANK
            try:
                self.assertEqual(domain_adapt.core_rivals(words, uni)["塔"], {"他", "它", "踏"})
            finally:
                domain_adapt.CORE_RANK = rank

    def test_PackageOfTheCalibrationSetIsRefused(self):
        with tempfile.TemporaryDirectory() as tmp:
            cal = write(tmp, "cal.tsv", "# Calibration phrases\n#   some-doc-zh-cn 1.0: 5 phrases\n"
                                        "一个\tyi ge\tsome-doc-zh-cn\n")
            result = subprocess.run([sys.executable, os.path.join(ROOT, "tools", "data",
                                                                  "domain_adapt.py"),
                                     "--root", tmp, "--data", tmp, "--calibration", cal,
                                     "other-doc", "some-doc-zh-cn"],
                                    stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
            self.assertNotEqual(result.returncode, 0)
            self.assertIn("calibration set comes from some-doc-zh-cn", result.stderr)
            self.assertEqual(sorted(os.listdir(tmp)), ["cal.tsv"])


    def test_CalibrationPhrasesTheSourcesHoldAreListedWithWhere(self):
        with tempfile.TemporaryDirectory() as tmp:
            cal = write(tmp, "cal.tsv", "# phrases\n打开文件\tda kai wen jian\tx\n"
                                        "标签页\tbiao qian ye\tx\n新建标签页\tx\tx\n关闭\tguan bi\tx\n")
            runs = {"b-pkg": ["请打开文件夹"], "a-pkg": ["先打开文件", "新建"]}
            self.assertEqual(domain_adapt.seen_phrases(cal, runs, {"标签页"}),
                             [("打开文件", "a-pkg,b-pkg"), ("标签页", "word list")])
            # runs are kept apart: a phrase across two of them is not held
            self.assertEqual(domain_adapt.seen_phrases(cal, {"p": ["新建标签", "页"]}, set()), [])


class EnglishKeysTest(unittest.TestCase):
    def test_KeysPinyinCouldBeginAreLeftOut(self):
        syllables = set(check_syllables.load_syllables(SYLLABLES))
        english = {"shell", "debian", "linux", "bash", "ps", "hello", "python", "is", "wifi"}
        counts = {w: 5 for w in english}
        counts.update({"python": 2, "wifi": 3, "nihao": 9})
        # linux reads li nu x, bash ba sh, debian de bi an; ps has no vowel;
        # python is seen too rarely, nihao is no English word
        self.assertEqual(english_keys.select_keys(counts, english, syllables, 3),
                         ["hello", "is", "shell", "wifi"])

    def test_OnlyWordsStandingAloneAmongChineseCount(self):
        texts = ["使用 shell 命令。Shell 很好\n.B shell\nshell without Chinese",
                 "<p>运行 <code>perl</code> 脚本</p>",
                 "用 \\fBgrep\\fR 查找，选项 --shell 和 -shell、/bin/shell、shell.sh、a.shell 不算"]
        self.assertEqual(english_keys.count_words(texts),
                         {"shell": 2, "perl": 1, "grep": 1})


class EverydaySentencesTest(unittest.TestCase):
    def test_ClausesAreReadOnlyWhereTheReadingIsSure(self):
        with tempfile.TemporaryDirectory() as tmp:
            words = write(tmp, "words.tsv", "# word\tsyllables\n他\tta\n死\tsi\n了\tle\n"
                                            "了\tliao\n长\tchang\n长\tzhang\n大\tda\n"
                                            "长大\tzhang da\n成都\tcheng du\n成都\tcheng dou\n"
                                            "到\tdao\n")
            chars = write(tmp, "chars.tsv", "# char\tsyllable\tcount\n了\tle\t300\tL\tS\n"
                                            "了\tliao\t6\tL\tS\n长\tchang\t11\tL\tS\n"
                                            "长\tzhang\t18\tL\tS\n")
            known = make_sentences.readings(words, chars)
        splitter = domain_adapt.Splitter(set(known), {"长大": -3.0, "他": -2.0})
        # 了 is sure by the survey, 长 alone is not, 成都 has two readings
        for clause, reading in [("他死了", "ta si le"), ("他长大了", "ta zhang da le"),
                                ("他长了", None), ("他到成都", None)]:
            self.assertEqual(make_sentences.read_clause(clause, splitter, known), reading)
        text = ["他死了。他死了！$name到了，长大了吗？他在A区"]
        self.assertEqual(list(make_sentences.clauses(text)), ["他死了", "长大了吗"])


class EverydayWordsTest(unittest.TestCase):
    def test_TraditionalWordsBecomeSimplifiedPhrasesFirst(self):
        phrases, chars = {"乾淨": "干净"}, {"乾": "乾", "淨": "净", "說": "说", "話": "话"}
        for word, simple in [("乾淨", "干净"), ("說話", "说话"), ("乾淨話", "干净话"), ("好", "好")]:
            self.assertEqual(make_everyday.to_simplified(word, phrases, chars, 2), simple)

    def test_EachReadingExpectsItsMostFrequentWordOfOneReading(self):
        with tempfile.TemporaryDirectory() as tmp:
            words = write(tmp, "words.tsv", "# word\tsyllables\n认识\tren shi\n人士\tren shi\n"
                                            "成都\tcheng du\n成都\tcheng dou\n会议\thui yi\n"
                                            "会议\thui yi\n")
            readings = make_everyday.single_readings(make_everyday.all_readings(words))
            self.assertEqual(readings, {"认识": "ren shi", "人士": "ren shi", "会议": "hui yi"})
            counts = {"认识": 50, "人士": 70, "会议": 20, "成都": 99, "不在": 500, "认识到": 9}
            short, longer = make_everyday.select(counts, readings, 1, 5)
            self.assertEqual(short, [("人士", "ren shi", 70)])
            self.assertEqual(longer, [])
    def test_TheHarderSetReadsAsTheListWeighsAndThroughItsFewestWords(self):
        readings = {"不了": {"bu le", "bu liao"}, "一个": {"yi ge"}, "个月": {"ge yue"},
                    "一": {"yi"}, "个": {"ge"}, "月": {"yue"}, "约": {"yue"},
                    "受不了": {"shou bu le", "shou bu liao"}, "是不是": {"shi bu shi"},
                    "时不时": {"shi bu shi"}}
        weights = make_everyday.reading_weights(
            ["受不了 shou'bu'le -1.2", "受不了 shou'bu'liao -0.03", "一个 yi'ge 0"])
        counts = {"受不了": 40, "一个月": 30, "一个约": 2, "是不是": 90, "时不时": 5,
                  "受不了吗": 3, "不了": 99}
        self.assertEqual(make_everyday.select_harder(counts, readings, weights, 9),
                         [("受不了", "shou bu liao", 40), ("一个月", "yi ge yue", 30)])
        self.assertEqual(make_everyday.select_harder(counts, readings, weights, 1),
                         [("受不了", "shou bu liao", 40)])
        with self.assertRaises(make_everyday.EverydayError):
            make_everyday.reading_weights(["受不了 shou'bu'le"])

    def test_AnEssayLineIsAWordAndItsCount(self):
        with tempfile.TemporaryDirectory() as tmp:
            for bad in ["一个\t12\t3\n", "一个\tmany\n", "一个\n"]:
                with self.assertRaises(make_everyday.EverydayError):
                    make_everyday.read_essay(write(tmp, "essay.txt", "你好\t5\n" + bad))
            self.assertEqual(make_everyday.read_essay(write(tmp, "e.txt", "你\t9\n你好\t5\nab\t3\n")),
                             {"你好": 5})


@unittest.skipUnless(os.environ.get("VETRA_LM_EXTRACT") and shutil.which("libime_slm_build_binary"),
                     "needs VETRA_LM_EXTRACT and libime_slm_build_binary (data build)")
class StatisticsExtractionTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp()
        arpa = write(cls.tmp, "t.arpa", ARPA)
        cls.model = os.path.join(cls.tmp, "t.lm")
        # the same binary layout as the shipped model (quantised trie)
        subprocess.run(["libime_slm_build_binary", "-q", "8", "-b", "8", "-a", "22", "trie",
                        arpa, cls.model], check=True, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        cls.words = write(cls.tmp, "w.tsv", "# word\tsyllables\n中国\tzhong guo\n人民\tren min\n"
                                            "银行\tyin hang\n你好\tni hao\n未知\twei zhi\n")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp)

    def extract(self, *extra):
        uni = os.path.join(self.tmp, "u.tsv")
        bi = os.path.join(self.tmp, "b.tsv")
        result = subprocess.run([os.environ["VETRA_LM_EXTRACT"], "--lm", self.model,
                                 "--words", self.words, "--unigrams", uni, "--bigrams", bi]
                                + list(extra), stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.assertEqual(result.returncode, 0, result.stderr)

        def rows(path):
            with open(path, encoding="utf-8") as f:
                return [line.rstrip("\n").split("\t") for line in f if not line.startswith("#")]
        return rows(uni), rows(bi)

    def test_StoredPairsAndBackOffWeightsComeOutExactly(self):
        uni, bi = self.extract("--threads", "3")
        self.assertEqual(uni, [["中国", "-0.500000", "-0.300000", "1"],
                               ["人民", "-0.700000", "-0.200000", "2"],
                               ["你好", "-1.200000", "-0.400000", "4"],
                               ["银行", "-0.900000", "0.000000", "3"]])
        # the sentence-start pair is not a word pair; unknown words are left out
        self.assertEqual(bi, [["中国", "人民", "-0.100000"], ["人民", "银行", "-0.400000"],
                              ["你好", "中国", "-0.300000"]])

    def test_SameInputsGiveTheSameBytesWhateverTheThreads(self):
        self.assertEqual(self.extract("--threads", "1"), self.extract("--threads", "4"))

    def test_PairsAreKeptAmongTheMostFrequentWordsOnly(self):
        uni, bi = self.extract("--max-words", "2")
        self.assertEqual(len(uni), 4)
        self.assertEqual(bi, [["中国", "人民", "-0.100000"]])

    def test_UnreadableModelFailsWithoutOutputs(self):
        bad = write(self.tmp, "bad.lm", "not a model\n")
        out = os.path.join(self.tmp, "never.tsv")
        result = subprocess.run([os.environ["VETRA_LM_EXTRACT"], "--lm", bad, "--words", self.words,
                                 "--unigrams", out, "--bigrams", out],
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.assertEqual(result.returncode, 1)
        self.assertIn(b"cannot load", result.stderr)
        self.assertFalse(os.path.exists(out))


if __name__ == "__main__":
    unittest.main()
