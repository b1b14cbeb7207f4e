"""Checks of the normalised data that the data build writes (VETRA_DATA_DIR).

Skipped unless VETRA_DATA_DIR names the build's data directory; the data
build's ctest sets it.
"""

import os
import unittest

DATA = os.environ.get("VETRA_DATA_DIR")


def rows(name):
    with open(os.path.join(DATA, name), encoding="utf-8") as f:
        return [line.rstrip("\n").split("\t") for line in f if not line.startswith("#")]


@unittest.skipUnless(DATA, "needs VETRA_DATA_DIR (data build)")
class BuiltDataTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.chars = rows("chars.tsv")
        cls.words = rows("words.tsv")
        cls.unigrams = {r[0]: r for r in rows("unigrams.tsv")}
        cls.bigrams = {(r[0], r[1]): float(r[2]) for r in rows("bigrams.tsv")}

    def test_PolyphonicCharacterKeepsEveryReading(self):
        readings = {r[1] for r in self.chars if r[0] == "行"}
        self.assertTrue({"hang", "heng", "xing"} <= readings, readings)
        readings = {r[1] for r in self.chars if r[0] == "绿"}
        self.assertTrue({"lv", "lu"} <= readings, readings)

    def test_WordsAreFoundUnderTheirReadings(self):
        words = {(r[0], r[1]) for r in self.words}
        for word, reading in [("银行", "yin hang"), ("中国", "zhong guo"),
                              ("中国人民", "zhong guo ren min"), ("掠夺", "lve duo")]:
            self.assertIn((word, reading), words)

    def test_FilesAreSortedWithoutDuplicates(self):
        for name, key in [("chars.tsv", lambda r: (ord(r[0]), r[1])),
                          ("words.tsv", lambda r: ([ord(c) for c in r[0]], r[1]))]:
            keys = [key(r) for r in rows(name)]
            self.assertEqual(keys, sorted(keys), name)
            self.assertEqual(len(keys), len(set(map(repr, keys))), name)

    def test_NoReadingOutsideTheSyllableList(self):
        root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
        with open(os.path.join(root, "data", "syllables.txt"), encoding="utf-8") as f:
            syllables = {line.strip() for line in f if line.strip() and not line.startswith("#")}
        self.assertTrue(all(r[1] in syllables for r in self.chars))
        self.assertTrue(all(s in syllables for r in self.words for s in r[1].split(" ")))

    def test_StrongCollocationBeatsItsBackOffPath(self):
        first = self.unigrams["中国"]
        second = self.unigrams["人民"]
        stored = self.bigrams[("中国", "人民")]
        self.assertGreater(stored, float(first[2]) + float(second[1]))
        # an unrelated pair is not stored: it scores by back-off only
        self.assertNotIn(("银行", "掠夺"), self.bigrams)

    def test_EverySyllablePairIsEstimated(self):
        pairs = rows("syllable-bigrams.tsv")
        self.assertEqual(len(pairs), 413 * 413)
        score = {(r[0], r[1]): float(r[2]) for r in pairs}
        self.assertGreater(score[("zhong", "guo")], score[("zhong", "a")])
        self.assertGreater(score[("xi", "an")], score[("xi", "ang")])
        self.assertEqual(len(rows("syllable-unigrams.tsv")), 413)

    def test_TraditionalFormsAreMappedOrLeftOut(self):
        words = {r[0] for r in self.words}
        self.assertIn("坝", words)
        self.assertNotIn("壩", words)


if __name__ == "__main__":
    unittest.main()
