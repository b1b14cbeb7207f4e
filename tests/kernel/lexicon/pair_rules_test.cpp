// Rule lists: matching modes, set/find/remove, partners and the ini bridge.
#include "kernel/lexicon/pair_rules.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/kernel/lexicon/lexicon_support.h"

namespace {

std::vector<std::wstring> Pairs(t_pairList list) {
    std::vector<std::wstring> out;
    for (; list; list = list->next) out.push_back(list->first + L"|" + list->second);
    return out;
}

struct ListGuard {
    t_pairList head = nullptr;
    ~ListGuard() { PairListFree(&head); }
};

TEST(PairRulesTest, SettingAnotherSecondTextAddsANodeInFront) {
    ListGuard list;
    PairListSet(L"a", L"b", &list.head, kPairMatchOneWay);
    PairListSet(L"a", L"c", &list.head, kPairMatchOneWay);
    EXPECT_EQ(Pairs(list.head), (std::vector<std::wstring>{L"a|c", L"a|b"}));
    PairListSet(L"a", L"b", &list.head, kPairMatchOneWay);  // already there: unchanged
    EXPECT_EQ(PairListCount(list.head), 2u);
}

TEST(PairRulesTest, OneWayMatchingWithOneSideMissing) {
    ListGuard list;
    PairListSet(L"a", L"x", &list.head, kPairMatchOneWay);
    PairListSet(L"a", L"y", &list.head, kPairMatchOneWay);
    t_pairRule** link = PairListFind(L"a", nullptr, &list.head, kPairMatchOneWay);
    ASSERT_NE(link, nullptr);
    EXPECT_EQ((*link)->second, L"y");  // the first node, whatever its second text
    EXPECT_NE(PairListFind(nullptr, L"x", &list.head, kPairMatchOneWay), nullptr);
    EXPECT_EQ(PairListFind(nullptr, nullptr, &list.head, kPairMatchOneWay), nullptr);
    EXPECT_EQ(PairListFind(L"x", L"a", &list.head, kPairMatchOneWay), nullptr);
    EXPECT_EQ(PairListFind(L"A", L"x", &list.head, kPairMatchOneWay), nullptr);  // exact case
}

TEST(PairRulesTest, TwoWayMatchingAcceptsEitherOrderAndEitherText) {
    t_pairRule* rule = PairRuleConstruct(L"zh", L"z");
    EXPECT_TRUE(PairRuleMatchesMode(rule, L"z", L"zh", kPairMatchTwoWay));
    EXPECT_TRUE(PairRuleMatchesMode(rule, L"zh", L"anything", kPairMatchTwoWay));
    EXPECT_TRUE(PairRuleMatchesMode(rule, L"z", nullptr, kPairMatchTwoWay));
    EXPECT_FALSE(PairRuleMatchesMode(rule, L"c", L"ch", kPairMatchTwoWay));
    EXPECT_FALSE(PairRuleMatchesMode(rule, L"z", L"zh", kPairMatchOneWay));
    PairRuleInit(rule);
    EXPECT_TRUE(rule->first.empty() && rule->second.empty());
    delete rule;
}

TEST(PairRulesTest, RemoveUnlinksOnlyTheFirstMatch) {
    ListGuard list;
    PairListSet(L"a", L"1", &list.head, kPairMatchOneWay);
    PairListSet(L"b", L"2", &list.head, kPairMatchOneWay);
    PairListSet(L"c", L"3", &list.head, kPairMatchOneWay);
    EXPECT_EQ(PairListRemove(L"b", L"2", &list.head, kPairMatchOneWay), 1);
    EXPECT_EQ(PairListRemove(L"b", L"2", &list.head, kPairMatchOneWay), 0);
    EXPECT_EQ(Pairs(list.head), (std::vector<std::wstring>{L"c|3", L"a|1"}));
}

TEST(PairRulesTest, PartnersComeFromBothSidesIgnoringCase) {
    ListGuard list;
    PairListSet(L"z", L"zh", &list.head, kPairMatchOneWay);
    PairListSet(L"c", L"Z", &list.head, kPairMatchOneWay);
    t_ruleSlot slots[4];
    ASSERT_EQ(PairListCollectPartners(slots, 4, L"z", list.head), 2);
    EXPECT_STREQ(slots[0], L"c");
    EXPECT_STREQ(slots[1], L"zh");
    EXPECT_EQ(PairListCollectPartners(slots, 1, L"z", list.head), 1);
    EXPECT_EQ(PairListCollectPartners(slots, 4, L"", list.head), 0);
}

TEST(PairRulesTest, PartnerTooLongForASlotIsSkipped) {
    ListGuard list;
    PairListSet(L"a", L"abcdefg", &list.head, kPairMatchOneWay);   // 7: fits
    PairListSet(L"a", L"abcdefgh", &list.head, kPairMatchOneWay);  // 8: does not
    t_ruleSlot slots[4];
    wmemset(slots[1], L'#', kRuleSlotChars);
    ASSERT_EQ(PairListCollectPartners(slots, 4, L"a", list.head), 1);
    EXPECT_STREQ(slots[0], L"abcdefg");
    EXPECT_EQ(slots[1][0], L'#');  // nothing written past the results
}

class PairRulesIniTest : public LexiconDirTest {};

// A section fills the list in reverse key order and writes back sorted by
// key; rules sharing a first text (ng=gn, ng=mg) all survive, in file order.
TEST_F(PairRulesIniTest, SectionFillsTheListAndRoundTripsEveryRule) {
    const struct {
        const char* file;
        const wchar_t* section;
        std::vector<std::wstring> pairs;
        const char* saved;
    } cases[] = {
        {"[S]\nb=2\na=1\nc=3\n", L"S", {L"c|3", L"b|2", L"a|1"}, "[S]\na=1\nb=2\nc=3\n"},
        {"[Correction]\nng=gn\nng=mg\niu=iou\n",
         L"Correction",
         {L"ng|mg", L"ng|gn", L"iu|iou"},
         "[Correction]\niu=iou\nng=gn\nng=mg\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        PutUtf8("in.ini", c.file);
        t_fileConfig ini;
        ASSERT_TRUE(ini.Load(WPathOf("in.ini").c_str()));
        ListGuard list;
        PairListFillFromSection(*ini.FindSection(c.section), &list.head);
        EXPECT_EQ(Pairs(list.head), c.pairs);
        t_fileConfig out;
        ASSERT_TRUE(PairListWriteToSection(list.head, c.section, out, L"="));
        ASSERT_TRUE(out.SaveAs(WPathOf("out.ini").c_str()));
        EXPECT_EQ(Get("out.ini"), std::string("\xEF\xBB\xBF") + c.saved);
    }
}

}  // namespace
