// The word lattice and its finder: arc power, the words of typical inputs
// with their sources, probabilities and powers, the letter tables of a
// short tail, game keys, word counts, pruning, and inputs of every kind at
// the length limit.
#include "kernel/convert/word_finder.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>

#include "kernel/lexicon/letter_tables.h"
#include "kernel/userdict/cloud_cache.h"
#include "tests/kernel/convert/convert_support.h"

using namespace convtest;

namespace {

class WordFinderTest : public LexiconTest {};

TEST(ArcPowerTest, ProbabilitiesBecomePowers) {
    const struct {
        float p;
        int32_t power;
    } cases[] = {{1.0f, 0},    {0.8f, 0},         {0.5f, 98},   {0.1f, 327},
                 {0.01f, 655}, {0.000001f, 1966}, {1e-9f, 1966}};
    for (const auto& c : cases) EXPECT_EQ(ArcPower(c.p), c.power) << c.p;
}

TEST_P(WordFinderTest, WordsOfTypicalInputs) {
    const struct {
        const wchar_t* input;
        int start, end;
        std::u16string word;
        float prob;
    } cases[] = {
        {L"woaini", 0, 2, u"我", 1.0f},
        {L"woaini", 2, 4, u"爱", 1.0f},
        {L"woaini", 4, 6, u"你", 1.0f},
        {L"woaini", 0, 6, u"我爱你", 1.0f},
        {L"zhongguorenmin", 0, 8, u"中国", 1.0f},
        {L"zhongguorenmin", 8, 14, u"人民", 1.0f},
        {L"zhongguorenmin", 0, 14, u"中国人民", 1.0f},
        {L"xian", 0, 4, u"先", 1.0f},
        {L"xian", 0, 4, u"西安", 1.0f},
        {L"fangan", 0, 6, u"方案", 1.0f},
        {L"fangan", 0, 6, u"反感", 1.0f},
        {L"zg", 0, 2, u"中国", 0.01f},  // two abbreviations of 0.1 each
        {L"zhongguo'renmin", 0, 9, u"中国", 1.0f},
        {L"zhongguo'renmin", 9, 15, u"人民", 1.0f},
        {L"zhongguo'renmin", 0, 15, u"中国人民", 1.0f},
        {L"lue", 0, 3, u"略", 1.0f},
        {L"nue", 0, 3, u"虐", 1.0f},
    };
    for (const auto& c : cases) {
        t_conversion conv;
        ASSERT_TRUE(conv.Run(dicts, c.input));
        const std::vector<t_arcView> arcs = conv.Find(dicts, c.start, c.end, c.word);
        ASSERT_FALSE(arcs.empty())
            << std::string(conv.text.begin(), conv.text.end()) << " " << c.start;
        bool system = false;
        for (const t_arcView& a : arcs) {
            if (a.source != kArcSourceSystem) continue;
            system = true;
            EXPECT_FLOAT_EQ(a.prob, c.prob);
            EXPECT_EQ(a.power, ArcPower(c.prob));
        }
        EXPECT_TRUE(system);
    }
    // Abbreviated input also reaches the letter table's words.
    t_conversion conv;
    ASSERT_TRUE(conv.Run(dicts, L"zg"));
    bool table = false;
    for (const t_arcView& a : conv.Find(dicts, 0, 2, u"中国"))
        if (a.source == kArcSourceAbbreviation)
            table = a.power == 655 && a.prob == kAbbreviationProb;
    EXPECT_TRUE(table);
}

TEST_P(WordFinderTest, LetterTablesOfAShortTail) {
    const struct {
        const wchar_t* input;
        int p;
        const char16_t* word;  // null: no arc
    } cases[] = {{L"zg", 0, u"中国"},   {L"won", 2, u"你"},   {L"wo'n", 2, u"你"},
                 {L"wonn", 1, nullptr}, {L"wo1", 2, nullptr}, {L"won", 3, nullptr}};
    for (const auto& c : cases) {
        t_conversion conv;
        conv.text = c.input;
        conv.input.Reset(int(conv.text.size()));
        EXPECT_EQ(conv.input.AddAbbreviationArcs(c.p, conv.text.c_str(), dicts.sys),
                  c.word != nullptr);
        if (!c.word) continue;
        EXPECT_EQ(conv.Find(dicts, c.p, int(conv.text.size()), c.word).size(), 1u);
        EXPECT_TRUE(conv.input.AbbreviationArcsAdded());
    }
}

// Words of the user, cell, privilege and user-extension dictionaries beside
// the system's, each with its source and power; a learned word is found even
// where no system word continues its syllables.
TEST_P(WordFinderTest, WordsOfEveryDictionary) {
    t_otherSources sources;
    ASSERT_TRUE(sources.Make());
    const Bytes chain = Units(Ids({"zhuai", "zhuai", "zhuai", "zhuai"}));
    ASSERT_GT(sources.user.LearnWord(L(chain), L(Text(u"拽拽拽拽")), 0), 0);
    {
        t_sysDictCursor cursor(dicts.sys);
        uint8_t stepped = 1;
        for (uint16_t id : Ids({"zhuai", "zhuai", "zhuai"})) cursor.PushSyllable(id, &stepped);
        ASSERT_FALSE(stepped) << "the system words must not spell the learned chain";
    }
    sources.AddTo(dicts);
    t_findSwitches on;
    on.cell = on.user = on.privilege = true;
    const struct {
        const wchar_t* input;
        uint8_t source;
        int end;
        std::u16string word;
    } cases[] = {{L"woaini", kArcSourceSystem, 6, u"我爱你"},
                 {L"woaini", kArcSourceUser, 6, u"沃爱妮"},
                 {L"woaini", kArcSourceCell, 6, u"我爱妮"},
                 {L"woaini", kArcSourcePrivilege, 6, u"我愛你"},
                 {L"woaini", kArcSourceUserExt, 4, u"卧爱"},
                 {L"zhuaizhuaizhuaizhuai", kArcSourceUser, 20, u"拽拽拽拽"}};
    for (const auto& c : cases) {
        t_conversion conv;
        ASSERT_TRUE(conv.Run(dicts, c.input, on));
        bool found = false;
        for (const t_arcView& a : conv.Find(dicts, 0, c.end, c.word)) {
            if (a.source != c.source) continue;
            found = true;
            const bool powered = c.source <= kArcSourceUser;
            EXPECT_EQ(a.power, powered ? ArcPower(a.prob) : 0);
            EXPECT_FLOAT_EQ(a.prob, 1.0f);
        }
        EXPECT_TRUE(found) << int(c.source);
        if (c.source != kArcSourceCell) continue;
        // Pruning drops the cell words first, then all but the system's.
        conv.input.Prune(false);
        for (const t_arcView& a : conv.Arcs(dicts)) EXPECT_NE(a.source, kArcSourceCell);
        conv.input.Prune(true);
        for (const t_arcView& a : conv.Arcs(dicts)) EXPECT_EQ(a.source, kArcSourceSystem);
        EXPECT_GT(conv.input.GetArcCount(), 0);
    }
}

TEST_P(WordFinderTest, WordCountsOfTheLattice) {
    t_conversion conv;
    ASSERT_TRUE(conv.Run(dicts, L"woaini"));
    const t_inputLattice& in = conv.input;
    EXPECT_EQ(in.FewestWords(6), 1);  // 我爱你
    EXPECT_EQ(in.FewestSyllables(6), 3);
    EXPECT_EQ(in.FewestWords(4), 1);  // 我爱
    EXPECT_EQ(in.WordsToEnd(0), 1);
    EXPECT_EQ(in.WordsToEnd(2), 1);  // 爱你
    EXPECT_EQ(in.WordsToEnd(4), 1);
    EXPECT_EQ(in.GetFarthest(), 6);
    EXPECT_TRUE(in.HasWholeConfidentWord());
    EXPECT_FALSE(in.HasWholeOneSyllableWord());
    ASSERT_TRUE(conv.Run(dicts, L"wo"));
    EXPECT_TRUE(conv.input.HasWholeOneSyllableWord());
    EXPECT_EQ(conv.input.WordsToEnd(99), 0);
}

TEST_P(WordFinderTest, GameKeysGiveOneSyllableWords) {
    t_conversion conv;
    ASSERT_TRUE(conv.Run(dicts, L"woaini", {}, true));
    int starts[3] = {};
    for (const t_arcView& a : conv.Arcs(dicts)) {
        EXPECT_EQ(a.syllables, 1);
        EXPECT_EQ(a.source, kArcSourceSystem);
        ASSERT_TRUE(a.start == 0 || a.start == 2 || a.start == 4);
        ++starts[a.start / 2];
    }
    EXPECT_EQ(starts[0] + starts[1] + starts[2], 3);  // one word per start
}

// Inputs at the length limit, of any kind, build both lattices (checked under
// the sanitizers); longer ones are cut.
TEST_P(WordFinderTest, EveryKindOfLongInputBuildsBothLattices) {
    auto repeat = [](const std::wstring& unit, size_t n) {
        std::wstring s;
        while (s.size() < n) s += unit;
        return s.substr(0, n);
    };
    const std::wstring inputs[] = {repeat(L"a", 78),        repeat(L"bcdfghjklmnpqrstvwxz", 78),
                                   repeat(L"'", 78),        repeat(L"a'", 78),
                                   repeat(L"ZHONGGUO", 78), repeat(L"Zhong'guoRENmin", 78),
                                   repeat(L"shuang", 78),   repeat(L"n1'x", 78),
                                   repeat(L"zhuang", 120)};
    for (const std::wstring& s : inputs) {
        for (bool letters : {false, true}) {
            t_conversion conv;
            conv.text = s;
            ASSERT_TRUE(conv.syllables.Build(&conv.arena, dicts.keyMap, dicts.py, s.c_str(),
                                             int(s.size()), letters, false));
            const int n = conv.syllables.GetLength();
            EXPECT_EQ(n, std::min<int>(int(s.size()), kMaxInputChars));
            conv.input.Reset(n);
            t_wordFinder finder(dicts, &conv.input, &conv.syllables, s.c_str(), &conv.arena);
            for (int p = 0; p < n; ++p) {
                conv.input.AddAbbreviationArcs(p, s.c_str(), dicts.sys);
                EXPECT_TRUE(finder.FindWordsAt(p, {}));
            }
            conv.input.FinaliseWordCounts();
            EXPECT_FALSE(finder.FindWordsAt(n, {}));
            conv.syllables.FewestSyllables();
            conv.syllables.BestBigramPathCost(dicts.py);
            std::vector<uint8_t> a(n + 1), b(n + 1), c(n + 1);
            conv.syllables.MarkSyllableBoundaries(a.data(), b.data(), c.data(), s.c_str(), n);
        }
    }
}

// At the end of the input the walk offers paths that longer words continue
// for association, cached cloud answers of the whole input and the level of
// the system tree; the reading walk names the only reading of the input.
TEST_P(WordFinderTest, WhatTheWalkHandsOnAtTheEnd) {
    struct t_sink : i_wordFinderSink {
        void ScoreAssociation(int start, const uint16_t* ids, const uint16_t*, int count,
                              double) override {
            paths.push_back(std::vector<uint16_t>(ids, ids + count));
            (void)start;
        }
        void AddCloudCacheWords(int32_t, int count, const t_lstr*, int start, int end,
                                double backward) override {
            cloud.push_back({start, end, count});
            EXPECT_EQ(backward, 1.0);
        }
        void SetWeakTopLevel(int level, bool partial) override {
            levels.push_back(level * 10 + partial);
        }
        std::vector<std::vector<uint16_t>> paths;
        std::vector<std::array<int, 3>> cloud;
        std::vector<int> levels;
    } sink;
    t_cloudCacheDict cache;
    ASSERT_TRUE(cache.AttachEmpty());
    const Bytes key = Units(Ids({"zhong", "guo"})), answer = Text(u"中过");
    ASSERT_EQ(cache.AddEntry(L(key), L(answer), 1, 0, L(answer), L(answer)), 1);
    dicts.cloudCache = &cache;
    const t_wordReadingRow row = {1, {Ids({"zhong"})[0], 0, 0, 0}, 1, {{u'中', 0, L"zhōng"}, {}}};
    const t_wordReadingTable readings(&row, 1);
    dicts.readings = &readings;
    t_findSwitches on;
    on.forecast = on.cloudCollector = &sink;
    on.cloudCache = true;
    t_wordReadingOut reading;
    on.reading = &reading;
    t_conversion conv;
    conv.text = L"zhong";
    ASSERT_TRUE(conv.syllables.Build(&conv.arena, dicts.keyMap, dicts.py, conv.text.c_str(), 5,
                                     false, false));
    conv.input.Reset(5);
    t_wordFinder finder(dicts, &conv.input, &conv.syllables, conv.text.c_str(), &conv.arena);
    finder.SetWeakTopGate(&sink);
    ASSERT_TRUE(finder.FindWordsAt(0, on));
    EXPECT_EQ(sink.paths, std::vector<std::vector<uint16_t>>{Ids({"zhong"})});  // 中国 goes on
    EXPECT_EQ(sink.levels, std::vector<int>{10});
    EXPECT_TRUE(sink.cloud.empty());  // the cache has no answer for zhong alone
    EXPECT_EQ(reading.state, 1);
    EXPECT_EQ(reading.row, &row);

    ASSERT_TRUE(conv.Run(dicts, L"zhongguo", on));
    ASSERT_EQ(sink.cloud.size(), 1u);
    EXPECT_EQ(sink.cloud[0], (std::array<int, 3>{0, 8, 1}));
}

VETRA_LEXICON_SUITES(WordFinderTest);

}  // namespace
