// Word readers over the word lattice (the cheapest words per node through
// the heap, the kept user and cell words, name words, game keys) and the
// pinyin tips of final candidates.
#include "kernel/convert/word_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "kernel/lexicon/cell_dict.h"
#include "kernel/lexicon/gram_stat.h"
#include "kernel/lexicon/key_map_builder.h"
#include "kernel/lexicon/key_py_map.h"
#include "kernel/lexicon/small_dicts.h"
#include "kernel/runtime/cand_word.h"
#include "kernel/userdict/usr_dict_v3.h"
#include "tests/kernel/convert/convert_support.h"
#include "tests/kernel/lexicon/small_dicts_support.h"
#include "tests/support/test_dir.h"

using namespace convtest;

namespace {

class WordReaderTest : public LexiconTest {
protected:
    // Reads position p of a conversion into fresh segment nodes.
    int Read(t_conversion& conv, int p, bool names = false, bool gameKeys = false) {
        segments.Init(kMaxInputChars, &conv.arena);
        segments.Reset(conv.input.GetLength());
        reader.Bind(dicts, &segments, &conv.input, &nameHook);
        reader.SetGameKeys(gameKeys);
        return names ? reader.NameStep(p, false) : reader.Step(p, false);
    }
    std::vector<const t_segWordNode*> Nodes(int p, uint8_t type) const {
        std::vector<const t_segWordNode*> out;
        for (const t_segWordNode* w = segments.At(p); w; w = w->next)
            if (w->type == type) out.push_back(w);
        return out;
    }
    struct t_hook : i_nameContext {
        void OnNameWord(t_segWordNode* node, uint32_t attribute) override {
            seen.push_back({node, attribute});
        }
        std::vector<std::pair<t_segWordNode*, uint32_t>> seen;
    } nameHook;
    t_segmentNodes segments;
    t_wordReader reader;
};

// Each node gives its cheapest system words, in cost order across its arcs:
// 20 from a node of fewer than 4 arcs, 15 from one of more.
TEST_P(WordReaderTest, CheapestWordsOfEachNodeThroughTheHeap) {
    const struct {
        const wchar_t* input;
        int start, end;
        int builtCount;  // on the built data
    } cases[] = {{L"shi", 0, 3, 20}, {L"zgg", 0, 2, 15}};
    for (const auto& c : cases) {
        t_conversion conv;
        ASSERT_TRUE(conv.Run(dicts, c.input));
        const t_wordArcNode* node = conv.input.NodesEndingAt(c.end);
        while (node && node->start != c.start) node = node->next;
        if (!node) continue;  // the small lexicon has no such words
        std::vector<uint16_t> costs;
        for (const t_wordArc* a = node->arcs; a; a = a->next) {
            ASSERT_EQ(a->source, kArcSourceSystem);
            for (uint32_t i = a->value;; ++i) {
                uint32_t off, gram;
                uint16_t cost;
                uint8_t more;
                ASSERT_TRUE(dicts.sys->GetWordRecord(i, &off, &cost, &gram, &more));
                costs.push_back(cost);
                if (!more) break;
            }
        }
        std::sort(costs.begin(), costs.end());
        const size_t limit = node->arcCount < 4 ? 20 : 15;
        costs.resize(std::min(costs.size(), limit));
        Read(conv, c.end);
        std::vector<uint16_t> got;
        for (const t_segWordNode* w : Nodes(c.end, kSegWordSystem))
            if (w->arc->start == c.start) got.push_back(w->cost);
        EXPECT_EQ(got, costs);
        if (GetParam()) {
            EXPECT_EQ(int(got.size()), c.builtCount);
        }
        // Game keys keep the first word only.
        Read(conv, c.end, false, true);
        int first = 0;
        for (const t_segWordNode* w : Nodes(c.end, kSegWordSystem))
            first += w->arc->start == c.start;
        EXPECT_EQ(first, 1);
    }
}

// Of the user words the most used one stays, just ahead of the node's
// cheapest system word; of the cell words the most frequent.
TEST_P(WordReaderTest, KeptUserAndCellWords) {
    t_usrDictV3Core user;
    ASSERT_TRUE(user.CreateEmpty(kUsrDefaultCapacity));
    const Bytes woaini = Units(Ids({"wo", "ai", "ni"}));
    for (int i = 0; i < 3; ++i) ASSERT_GT(user.LearnWord(L(woaini), L(Text(u"沃爱妮")), 0), 0);
    ASSERT_GT(user.LearnWord(L(woaini), L(Text(u"握爱你")), 0), 0);
    const Bytes cellImage =
        dicttest::BuildCellImage({{Ids({"wo", "ai", "ni"}), u"我爱妮", {}, 5, 0.f},
                                  {Ids({"wo", "ai", "ni"}), u"我爱泥", {}, 9, 0.f}},
                                 {}, 441);
    t_extDict cell;
    ASSERT_TRUE(cell.Load(const_cast<uint8_t*>(cellImage.data()), int32_t(cellImage.size())));
    dicts.user = &user;
    dicts.cell = &cell;
    t_findSwitches on;
    on.user = on.cell = true;
    t_conversion conv;
    ASSERT_TRUE(conv.Run(dicts, L"woaini", on));
    Read(conv, 6);

    int32_t lowest = 1000;
    const t_gramInfo* gram = dicts.sys->GetGram();
    for (const t_segWordNode* w : Nodes(6, kSegWordSystem))
        if (w->arc->start == 0)
            lowest = std::min(lowest, w->value ? GramGetUnigramFreq(gram, w->value) : w->cost);
    const std::vector<const t_segWordNode*> users = Nodes(6, kSegWordUser);
    ASSERT_EQ(users.size(), 1u);
    EXPECT_EQ(users[0]->cost, lowest - 10);
    uint8_t buf[200];
    ASSERT_TRUE(
        user.GetWordText(users[0]->index, users[0]->flagWord, reinterpret_cast<t_lstr*>(buf)));
    EXPECT_EQ(ToU16(reinterpret_cast<t_lstr*>(buf)), u"沃爱妮");
    const std::vector<const t_segWordNode*> cells = Nodes(6, kSegWordCell);
    ASSERT_EQ(cells.size(), 1u);
    EXPECT_EQ(cells[0]->value, 9u);
}

// The surname class is the small lexicon's.
class NameReaderTest : public WordReaderTest {};

TEST_P(NameReaderTest, NameWordsReachTheNameContext) {
    t_conversion conv;
    ASSERT_TRUE(conv.Run(dicts, L"wang"));
    Read(conv, 4, true);
    ASSERT_EQ(nameHook.seen.size(), 1u);
    EXPECT_EQ(nameHook.seen[0].second & 7, 2u);
    EXPECT_EQ(nameHook.seen[0].first->type, kSegWordSystem);
    // The plain reader passes name characters on only when names are wanted.
    nameHook.seen.clear();
    Read(conv, 4);
    EXPECT_TRUE(nameHook.seen.empty());
    reader.SetNamesWanted(true);
    reader.Step(4, false);
    EXPECT_EQ(nameHook.seen.size(), 1u);
}

TEST_P(WordReaderTest, PinyinTipsOfPolyphonicWordsAndTypedKeys) {
    t_scopeHeap arena;
    const std::vector<uint16_t> yinhang = Ids({"yin", "hang"});
    const Bytes tipImage = dicttest::BuildImage(
        t_systemTable::kPyTip, {{dicttest::t_fields()
                                     .S(std::u16string(yinhang.begin(), yinhang.end()))
                                     .S(u"银行")
                                     .S(u"yín háng")}});
    t_pyTip tip;
    ASSERT_TRUE(tip.Load(const_cast<uint8_t*>(tipImage.data()), int32_t(tipImage.size())));
    dicts.tip = &tip;
    const Bytes hangIds = Units(yinhang), xingIds = Units(Ids({"yin", "xing"})),
                text = Text(u"银行");
    t_candWord bank{}, walk{};
    bank.text = walk.text = L(text);
    bank.syllableIds = L(hangIds);
    walk.syllableIds = L(xingIds);
    t_candWord* results[] = {&bank, &walk};
    int32_t threshold = 1000000;
    EXPECT_EQ(AddPinyinTips(dicts, &arena, true, false, results, 2, 0, &threshold, L"yinhang", 7),
              1);
    ASSERT_NE(results[0], &bank);  // a copy carries the tip
    EXPECT_EQ(ToU16(results[0]->furtherText), u"yín háng");
    EXPECT_EQ(bank.furtherText, nullptr);
    EXPECT_EQ(results[1], &walk);

    // Typed keys with the fuzzy z for zh: "zi" stands for zhi; one candidate
    // gets the tip, and a later page none once a first page had one.
    testsupport::t_testDir dir("vetra-tips");
    ASSERT_TRUE(dir.Put("Fuzzy.dat", "[Metadata]\nversion=1\n[Fuzzy]\nz=zh\n"));
    t_keyMapOptions options;
    uint8_t* image = nullptr;
    uint32_t size = 0;
    ASSERT_TRUE(t_keyPyMapBuilder::Build(arena, &image, &size, options,
                                         {dir.WAt(""), dir.WAt(""), L"Vetra"}, nullptr));
    t_keyPyMap fuzzy;
    ASSERT_TRUE(fuzzy.Attach(image, size));
    dicts.keyMap = &fuzzy;
    const Bytes zhi = Units(Ids({"zhi"})), zi = Units(Ids({"zi"})), ends = Units({2});
    t_candWord plain{}, typed{}, again{};
    plain.syllableIds = L(zi);
    typed.syllableIds = again.syllableIds = L(zhi);
    plain.segmentList = typed.segmentList = again.segmentList = L(ends);
    t_candWord* page[] = {&plain, &typed, &again};
    EXPECT_EQ(AddPinyinTips(dicts, &arena, false, true, page, 3, 0, &threshold, L"zi", 2), 1);
    EXPECT_EQ(plain.furtherText, nullptr);
    EXPECT_EQ(ToU16(typed.furtherText), u"zi(zhi)");
    EXPECT_EQ(again.furtherText, nullptr);
    EXPECT_EQ(threshold, 1);
    t_candWord next{};
    next.syllableIds = L(zhi);
    next.segmentList = L(ends);
    t_candWord* second[] = {&next};
    EXPECT_EQ(AddPinyinTips(dicts, &arena, false, true, second, 1, 5, &threshold, L"zi", 2), 0);
    // Positions beyond the input give no tip.
    const Bytes far = Units({9});
    next.segmentList = L(far);
    threshold = 1000000;
    EXPECT_EQ(AddPinyinTips(dicts, &arena, false, true, second, 1, 0, &threshold, L"zi", 2), 0);
}

VETRA_LEXICON_SUITES(WordReaderTest);
INSTANTIATE_TEST_SUITE_P(Small, NameReaderTest, ::testing::Values(false));

}  // namespace
