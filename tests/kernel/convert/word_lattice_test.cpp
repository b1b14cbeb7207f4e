// Word composition: the sentences a user expects on the built data, long
// inputs, the run of single characters, the rank's saturation and the extra
// cost of user words on the typed path.
#include "kernel/convert/word_lattice.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "kernel/convert/cand_array.h"
#include "kernel/runtime/cand_word.h"
#include "kernel/userdict/usr_dict_v3.h"
#include "tests/kernel/convert/convert_support.h"

using namespace convtest;

namespace {

class ComposeTest : public LexiconTest {
protected:
    // Composes a typed input; the plain record's text (empty when none).
    std::u16string Compose(const std::wstring& typed, const t_findSwitches& switches = {}) {
        EXPECT_TRUE(conv.Run(dicts, typed, switches)) << typed;
        t_composeRequest request;
        request.dicts = dicts;
        request.lattice = &conv.input;
        request.arena = &conv.arena;
        EXPECT_TRUE(ComposeWords(request, &segments, &lattice, nullptr, &out));
        return out.plain ? ToU16(out.plain->text) : std::u16string();
    }
    t_conversion conv;
    t_segmentNodes segments;
    t_wordLattice lattice;
    t_composeOutcome out;
};

// Cases that hold only on the small lexicon.
class ComposeSmallTest : public ComposeTest {};

// The sentences a user expects, each covering the whole input.
TEST_P(ComposeTest, ComposesExpectedSentences) {
    const struct {
        const wchar_t* typed;
        const char16_t* small;  // on the small lexicon (null: not composed there)
        const char16_t* built;
    } cases[] = {
        {L"woaini", nullptr, u"我爱你"},
        {L"zhongguorenmin", u"中国人民", u"中国人民"},
        {L"womenyiqiqukan", nullptr, u"我们一起去看"},
        {L"zhongguorenmingongheguo", nullptr, u"中国人民共和国"},
        {L"jintiantianqibucuo", nullptr, u"今天天气不错"},
    };
    for (const auto& c : cases) {
        const char16_t* want = GetParam() ? c.built : c.small;
        if (!want) continue;
        const std::u16string got = Compose(c.typed);
        EXPECT_EQ(got, want) << c.typed;
        ASSERT_NE(out.plain, nullptr);
        EXPECT_EQ(out.plain->coveredLength, std::wcslen(c.typed));
        EXPECT_EQ(out.plain->sourceType, kCandSourceComposed);
        EXPECT_EQ(LstrGetLength(out.plain->syllableIds), LstrGetLength(out.plain->segmentList));
    }
}

// A long input composes with a rank in 0..32766; the rank never wraps.
TEST_P(ComposeTest, LongInputsKeepAValidRank) {
    const struct {
        int32_t cost;
        int16_t rank;
    } ranks[] = {{0, 0},         {1234, 1234},     {32766, 32766}, {32767, 32766},
                 {70000, 32766}, {INT_MAX, 32766}, {-5, 0}};
    for (const auto& r : ranks) EXPECT_EQ(ComposedRank(r.cost), r.rank) << r.cost;
    if (!GetParam()) return;  // the small lexicon has too few words for it
    const std::wstring typed =
        L"womenyiqiqukandianyingranhouchifanzhongguorenminjintiantianqibucuohenhaoxiexie";
    Compose(typed);
    ASSERT_NE(out.plain, nullptr);
    EXPECT_GE(LstrGetLength(out.plain->syllableIds), 26u);
    EXPECT_GE(out.plain->rank, 0);
    EXPECT_LT(out.plain->rank, kCandNoPower);
}

// No path holds more than ten one-character words in a row: eleven "wo"
// compose only as far as the tenth.
TEST_P(ComposeSmallTest, ElevenSingleCharactersAreNotComposed) {
    std::wstring typed;
    for (int i = 0; i < 11; ++i) typed += L"wo";
    Compose(typed);
    ASSERT_NE(out.plain, nullptr);
    EXPECT_EQ(LstrGetLength(out.plain->text), 10u);
    EXPECT_EQ(out.plain->coveredLength, 20u);
    Compose(typed.substr(0, 20));
    ASSERT_NE(out.plain, nullptr);
    EXPECT_EQ(out.plain->coveredLength, 20u);
}

// A user word on a step costs 1000 more on the typed path than on the plain
// one, and marks the typed path as passing a user word.
TEST_P(ComposeTest, UserWordsCostMoreOnTheTypedPath) {
    t_usrDictV3Core user;
    ASSERT_TRUE(user.CreateEmpty(kUsrDefaultCapacity));
    const Bytes ids = Units(Ids({"ai", "ni"}));
    ASSERT_GT(user.LearnWord(L(ids), L(Text(u"艾妮")), 0), 0);
    dicts.user = &user;
    t_findSwitches on;
    on.user = true;
    Compose(L"woaini", on);
    const t_segWordNode* userNode = nullptr;
    for (const t_segWordNode* w = segments.At(6); w; w = w->next)
        if (w->type == kSegWordUser) userNode = w;
    ASSERT_NE(userNode, nullptr);
    EXPECT_EQ(userNode->pathCost - userNode->bestPlainCost, t_wordLattice::kTypedExtra);
    EXPECT_TRUE(userNode->pathFlags & kPathThroughUser);
}

VETRA_LEXICON_SUITES(ComposeTest);
INSTANTIATE_TEST_SUITE_P(Small, ComposeSmallTest, ::testing::Values(false));

}  // namespace
