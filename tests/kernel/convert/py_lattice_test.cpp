// The syllable lattice: readings of ambiguous and separated input, path
// probabilities, unreadable input with and without letters mode, the end
// queries, syllable boundaries and the abbreviated-input builder.
#include "kernel/convert/py_lattice.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cwchar>
#include <set>
#include <string>

#include "kernel/lexicon/syllable_table.h"
#include "tests/kernel/convert/convert_support.h"

using namespace convtest;

namespace {

class PyLatticeTest : public LexiconTest {
protected:
    bool Build(const std::wstring& in, bool letters = false) {
        text = in;
        return lattice.Build(&arena, dicts.keyMap, dicts.py, text.c_str(), int(text.size()),
                             letters, false);
    }
    // Live arcs as "start-syllable-end", partial ones marked "~".
    std::set<std::string> Arcs() const {
        std::set<std::string> out;
        for (int p = 0; p <= lattice.GetLength(); ++p)
            for (const t_pyArcLink* l = lattice.Out(p); l; l = l->next) {
                const std::wstring s = SyllableTableText(l->arc->id);
                out.insert(std::to_string(p) + "-" + std::string(s.begin(), s.end()) +
                           ((l->arc->flags & kPyArcPartialMask) ? "~" : "") + "-" +
                           std::to_string(l->arc->end));
            }
        return out;
    }

    // The live arc of syllable from start to end, partial or not; null when none.
    const t_pyArc* Arc(int start, const wchar_t* syllable, int end, bool partial) const {
        for (const t_pyArcLink* l = lattice.Out(start); l; l = l->next)
            if (l->arc->end == end && SyllableTableText(l->arc->id) == std::wstring(syllable) &&
                bool(l->arc->flags & kPyArcPartialMask) == partial)
                return l->arc;
        return nullptr;
    }

    t_scopeHeap arena;
    t_pyLattice lattice;
    std::wstring text;
};

TEST_P(PyLatticeTest, ReadingsOfAmbiguousAndSeparatedInput) {
    const struct {
        const wchar_t* input;
        std::set<std::string> arcs;  // all of them must be there
        int32_t fewest;
    } cases[] = {
        {L"xian", {"0-xian-4", "0-xi-2", "2-an-4"}, 1},
        {L"fangan", {"0-fang-4", "0-fan-3", "3-gan-6", "4-an-6"}, 2},
        {L"xi'an", {"0-xi-3", "3-an-5"}, 2},  // the apostrophe ends every key
        {L"zhongguo'renmin", {"0-zhong-5", "5-guo-9", "9-ren-12", "12-min-15"}, 4},
        {L"lue", {"0-lve-3"}, 1},  // most people type lue and nue
        {L"nue", {"0-nve-3"}, 1},
        {L"zg", {"0-zhong~-1", "1-guo~-2"}, 2},
        {L"'nihao", {"0-ni-3", "3-hao-6"}, 2},  // a leading apostrophe separates nothing
        {L"''a", {"0-a-3"}, 1},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(Build(c.input)) << std::string(text.begin(), text.end());
        const std::set<std::string> arcs = Arcs();
        for (const std::string& a : c.arcs) EXPECT_TRUE(arcs.count(a)) << a;
        EXPECT_EQ(lattice.FewestSyllables(), c.fewest) << std::string(text.begin(), text.end());
    }
    // A complete syllable leaves no room for partial readings of its start.
    ASSERT_TRUE(Build(L"zhong"));
    EXPECT_FALSE(Arcs().count("0-zh~-2"));
    EXPECT_FALSE(lattice.IsEndAmbiguous());
    EXPECT_FALSE(lattice.LacksPlainSyllable());
    ASSERT_TRUE(Build(L"zhongg"));
    EXPECT_TRUE(lattice.IsEndAmbiguous());
    EXPECT_TRUE(lattice.LacksPlainSyllable());
}

// A lone a, e or o is also the first letter of the syllables without
// initial it begins, as surely as its own syllable, and by half at the end
// of the input; not where it goes on the vowel before it or stands before
// a whole syllable.
TEST_P(PyLatticeTest, ALoneVowelBeginsTheSyllablesWithoutInitial) {
    const struct {
        const wchar_t* input;
        int start, end;
        const wchar_t *vowel, *begun;
        float share;  // of the vowel's own weight; 0: an abbreviation's at most
    } cases[] = {
        {L"aq", 0, 1, L"a", L"an", 1.0f},      {L"ez", 0, 1, L"e", L"er", 1.0f},
        {L"a'q", 0, 2, L"a", L"ang", 1.0f},    {L"tianam", 4, 5, L"a", L"an", 1.0f},
        {L"changaj", 5, 6, L"a", L"an", 1.0f},  // inside the complete ga
        {L"fanga", 4, 5, L"a", L"an", 0.5f},   {L"ao", 1, 2, L"o", L"ou", 0},  // the o of ao
        {L"bao", 2, 3, L"o", L"ou", 0},                                        // ... of bao
        {L"shia", 3, 4, L"a", L"ai", 0},                                       // ia
        {L"diedai", 2, 3, L"e", L"er", 0},                                     // before dai
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.input, c.input + wcslen(c.input)));
        ASSERT_TRUE(Build(c.input));
        const t_pyArc* begun = Arc(c.start, c.begun, c.end, true);
        const t_pyArc* own = Arc(c.start, c.vowel, c.end, false);
        ASSERT_TRUE(own);
        if (c.share == 0) {
            EXPECT_TRUE(!begun || begun->prob < own->prob / 2);  // no more than an abbreviation
        } else {
            ASSERT_TRUE(begun);
            EXPECT_FLOAT_EQ(begun->prob, own->prob * c.share);
        }
    }
}

// Every syllable step costs 0.999: the thresholds of the generator fall
// between 20 and 21 syllables (0.98), 30 and 31 (0.97), and two syllables
// stay sure (0.998).
TEST_P(PyLatticeTest, EndProbabilityDecaysPerSyllable) {
    const struct {
        int syllables;
        double atLeast, below;
    } cases[] = {{1, 0.999, 1.0},    {2, 0.998, 0.9981}, {20, 0.98, 0.9802},
                 {21, 0.9792, 0.98}, {30, 0.97, 0.9705}, {31, 0.969, 0.97}};
    for (const auto& c : cases) {
        std::wstring in;
        for (int i = 0; i < c.syllables; ++i) in += L"wo";
        ASSERT_TRUE(Build(in));
        const double end = lattice.GetForward(lattice.GetLength());
        EXPECT_NEAR(end, std::pow(0.999, c.syllables), 1e-9) << c.syllables;
        EXPECT_GE(end, c.atLeast) << c.syllables;
        EXPECT_LT(end, c.below) << c.syllables;
        EXPECT_EQ(lattice.FewestSyllables(), c.syllables);
    }
}

TEST_P(PyLatticeTest, UnreadableInput) {
    // Nothing readable: the end is position 0 and no path exists.
    ASSERT_TRUE(Build(L"iii"));
    EXPECT_EQ(lattice.GetLastReachable(), 0);
    EXPECT_EQ(lattice.GetBackward(0), 1.0);
    EXPECT_EQ(lattice.FewestSyllables(), t_pyLattice::kNoPath);
    EXPECT_EQ(lattice.BestBigramPathCost(dicts.py), t_pyLattice::kNoBigramPath);

    // An unreadable tail: the path stops two positions early and pays for it.
    ASSERT_TRUE(Build(L"wohao"));
    const int32_t whole = lattice.BestBigramPathCost(dicts.py);
    ASSERT_TRUE(Build(L"wohaoii"));
    EXPECT_EQ(lattice.GetLastReachable(), 5);
    EXPECT_EQ(lattice.GetBackward(5), 1.0);
    EXPECT_EQ(lattice.BestBigramPathCost(dicts.py), whole + 1250);
    EXPECT_EQ(lattice.FewestSyllables(), t_pyLattice::kNoPath);

    // Letters mode: the tail decays by 0.98 a position and gets letter arcs.
    ASSERT_TRUE(Build(L"wohaoii", true));
    EXPECT_EQ(lattice.GetBackward(7), 1.0);
    EXPECT_DOUBLE_EQ(lattice.GetBackward(6), 0.98);
    EXPECT_TRUE(Arcs().count("5-I-6") && Arcs().count("6-I-7"));
    EXPECT_GT(lattice.GetBackward(0), 0.0);
}

TEST_P(PyLatticeTest, PositionQueriesNearTheEnd) {
    ASSERT_TRUE(Build(L"xia"));
    EXPECT_FALSE(lattice.IsNearEndWeak());  // fewer than 4 positions
    ASSERT_TRUE(Build(L"xian"));
    EXPECT_TRUE(lattice.IsAmbiguousPosition(2));   // xi'an competes with xian
    EXPECT_FALSE(lattice.IsAmbiguousPosition(0));  // too far from the end
    EXPECT_FALSE(lattice.IsAmbiguousPosition(9));
    EXPECT_EQ(lattice.GetValue(9), -1);
    EXPECT_EQ(lattice.Out(9), nullptr);
    t_pyLattice copy;
    ASSERT_TRUE(copy.CopyFrom(lattice));
    EXPECT_EQ(copy.FewestSyllables(), 1);
    t_pyLattice empty;
    EXPECT_FALSE(copy.CopyFrom(empty));
}

// The arrays hold exactly length + 1 entries: the end mark lands in the last one.
TEST_P(PyLatticeTest, SyllableBoundaries) {
    const struct {
        const wchar_t* input;
        std::vector<uint8_t> starts, ends, spans;
    } cases[] = {
        {L"xian", {1, 0, 1, 0, 1}, {1, 0, 1, 0, 1}, {2, 2, 2, 2, 0}},
        {L"wohao", {1, 0, 1, 0, 1, 1}, {1, 0, 1, 0, 1, 1}, {2, 2, 2, 2, 1, 0}},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(Build(c.input));
        const size_t n = text.size() + 1;
        std::vector<uint8_t> starts(n, 9), ends(n, 9), spans(n, 9);
        lattice.MarkSyllableBoundaries(starts.data(), ends.data(), spans.data(), text.c_str(),
                                       int(text.size()));
        EXPECT_EQ(starts, c.starts);
        EXPECT_EQ(ends, c.ends);
        EXPECT_EQ(spans, c.spans);
        // Arrays too short for the lattice are left alone.
        std::vector<uint8_t> small(3, 9);
        lattice.MarkSyllableBoundaries(small.data(), small.data(), small.data(), text.c_str(), 2);
        EXPECT_EQ(small, std::vector<uint8_t>(3, 9));
    }
}

TEST_P(PyLatticeTest, AbbreviatedInputBuildsOneArcPerKey) {
    t_scopeHeap heap;
    t_pyLattice keys;
    ASSERT_TRUE(keys.BuildByKeys(&heap, dicts.keyMap, dicts.py, L"zg", 2));
    float best = 0;
    int arcs = 0;
    for (const t_pyArcLink* l = keys.Out(0); l; l = l->next, ++arcs) {
        EXPECT_EQ(l->arc->end, 1);
        best = std::max(best, l->arc->prob);
    }
    EXPECT_GT(arcs, 20);  // every syllable of z, zh
    EXPECT_NEAR(best, 0.9f * 0.1f, 1e-6);
    EXPECT_NEAR(keys.GetForward(1), best, 1e-6);
    EXPECT_EQ(keys.GetLastReachable(), 2);
    EXPECT_FALSE(keys.BuildByKeys(&heap, dicts.keyMap, dicts.py, L"z'g", 3));
    EXPECT_FALSE(keys.BuildByKeys(&heap, dicts.keyMap, dicts.py, L"Zg", 2));
}

VETRA_LEXICON_SUITES(PyLatticeTest);

}  // namespace
