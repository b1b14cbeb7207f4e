// The generator's own rules that need no dictionary: game keys and options.
#include <gtest/gtest.h>

#include "kernel/convert/cand_generator.h"

#include <string>
#include <vector>

#include "kernel/convert/cand_array.h"
#include "kernel/runtime/cand_word.h"
#include "kernel/runtime/scope_heap.h"
#include "tests/kernel/convert/convert_support.h"

namespace {

TEST(CandGeneratorTest, GameKeyInputIsARunOfFourOrMostlyMovementKeys) {
    const struct {
        const wchar_t* text;
        int expected;
    } cases[] = {{nullptr, 0},  {L"wsa", 0},   {L"wwwwaaaa", 1}, {L"wasd", 1},
                 {L"wasdx", 0}, {L"nihao", 0}, {L"hhhh", 1}};
    for (const auto& c : cases)
        EXPECT_EQ(c.expected, IsGameKeyInput(c.text)) << (c.text ? "text" : "null");
}

TEST(CandGeneratorTest, ComposedNameIsOfferedNotedOrDroppedByItsDistanceFromTheBest) {
    const struct {
        int32_t cost, best;
        int expected;
    } cases[] = {{1699, 1000, kNameOffered}, {1700, 1000, kNameNoted},
                 {1750, 1000, kNameNoted},   {1849, 1000, kNameNoted},
                 {1850, 1000, kNameDropped}, {1900, 1000, kNameDropped}};
    for (const auto& c : cases) EXPECT_EQ(c.expected, DecideComposedName(c.cost, c.best)) << c.cost;
}

// Records over the input: text, the end position of each character, source.
struct t_repeatCase {
    const char* name;
    const wchar_t* input;
    std::vector<std::pair<std::u16string, std::vector<uint16_t>>> records;
    uint16_t source;
    std::u16string expected;  // empty: nothing added
};

TEST(CandGeneratorTest, RepeatedKeysGiveTheRecordWithTheRunMadeOneCharacter) {
    const std::vector<uint16_t> six = {1, 2, 3, 4, 5, 6};
    const t_repeatCase cases[] = {
        {"majority", L"aaaaaa", {{u"啊啊阿啊啊啊", six}}, kCandSourceSystem, u"啊啊啊啊啊啊"},
        {"run inside",
         L"xaaaaay",
         {{u"想啊啊啊阿啊元", {1, 2, 3, 4, 5, 6, 7}}},
         kCandSourceSystem,
         u"想啊啊啊啊啊元"},
        {"two keys a character",
         L"aaaaaa",
         {{u"啊啊啊啊啊", {1, 2, 3, 4, 6}}, {u"啊啊阿啊啊啊", six}},
         kCandSourceSystem,
         u"啊啊啊啊啊啊"},
        {"no majority", L"aaaaaa", {{u"一二三一二三", six}}, kCandSourceSystem, u""},
        {"run of four", L"aaaab", {{u"啊啊啊啊吧", {1, 2, 3, 4, 5}}}, kCandSourceSystem, u""},
        {"custom phrase", L"aaaaaa", {{u"啊啊阿啊啊啊", six}}, kCandSourceCustomPhrase, u""},
    };
    for (const auto& c : cases) {
        t_scopeHeap heap;
        t_candWord* out[9] = {};
        t_arrayWord array(out, 0, 9, 0, nullptr, &heap);
        for (size_t i = 0; i < c.records.size(); ++i) {
            const auto& [text, ends] = c.records[i];
            auto* w = static_cast<t_candWord*>(heap.AllocAligned(sizeof(t_candWord), 8));
            t_candWord::Clear(w);
            w->text =
                heap.MakeLstr(reinterpret_cast<const uint16_t*>(text.data()), 2 * text.size());
            w->segmentList = heap.MakeLstr(ends.data(), 2 * ends.size());
            w->coveredLength = uint32_t(wcslen(c.input));
            w->score = 1.0;
            w->rank = int16_t(100 + i);
            w->sourceType = c.source;
            int filtered = 0;
            array.Add(w, &filtered);
        }
        const int added = AddRepeatedKeyCandidate(&array, &heap, c.input, int(wcslen(c.input)));
        EXPECT_EQ(c.expected.empty() ? 0 : 1, added) << c.name;
        const int n = array.Arrange();
        if (c.expected.empty() || n == 0) continue;
        const std::u16string first(reinterpret_cast<const char16_t*>(LstrGetUnits(out[0]->text)),
                                   LstrGetLength(out[0]->text));
        EXPECT_EQ(c.expected, first) << c.name;
        EXPECT_EQ(kCandSourceGenerator, out[0]->sourceType) << c.name;
    }
}

// 王 a surname, 明 a given name that ends a name, 你 neither.
TEST(CandGeneratorTest, NameOrientedGenerationOffersOnlyTheChainedNames) {
    auto word = [](const char* syllable, const std::u16string& text, uint16_t cost, uint32_t cls) {
        t_sysWordEntry w;
        w.ids = convtest::Ids({syllable});
        w.text = text;
        w.cost = cost;
        w.classIndex = cls;
        return w;
    };
    convtest::t_testLexicon lex;
    ASSERT_TRUE(lex.MakeSmall(
        {word("wang", u"王", 80, 1), word("ming", u"明", 160, 2), word("ni", u"你", 40, 0)}));
    const t_convertDicts dicts = lex.Dicts();
    t_candGenerator generator;
    generator.SetDicts(&dicts);
    const struct {
        const wchar_t* input;
        uint8_t contextByte;
        std::u16string name;  // empty: no result
    } cases[] = {{L"wangming", 0, u"王明"},
                 {L"wangming", 16, u""},
                 {L"niming", 0, u""},
                 {L"mingming", 0, u""}};  // a given name never starts a name
    for (const auto& c : cases) {
        t_convertRequest request;
        request.input = c.input;
        request.pageSize = 5;
        request.contextBytes[0] = c.contextByte;
        t_candWord* out[5] = {};
        const int n = generator.GenerateAlt(&request, out);
        ASSERT_EQ(c.name.empty() ? 0 : 1, n) << int(c.contextByte);
        if (n == 0) continue;
        EXPECT_EQ(c.name,
                  std::u16string(reinterpret_cast<const char16_t*>(LstrGetUnits(out[0]->text)),
                                 LstrGetLength(out[0]->text)));
        EXPECT_EQ(kCandSourceComposedName, out[0]->sourceType);
        // The surname by its word cost; a given-name character that no name
        // of the data counted costs the most.
        EXPECT_EQ((3 * (80 >> 3) + 500) + (3 * (255 - 1) + 500), out[0]->rank);
    }
}

TEST(CandGeneratorTest, OptionsOutOfRangeFallBackToTheirDefaults) {
    t_candGenerator g;
    g.SetOptions(1, 0, 25, 9);
    EXPECT_EQ(1, g.GetOptions().forecast);
    EXPECT_EQ(2, g.GetOptions().longWordPosition);
    EXPECT_EQ(20, g.GetOptions().maxLongWords);
    EXPECT_EQ(4, g.GetOptions().longWordGate);
    g.SetOptions(0, 5, 0, 1);
    EXPECT_EQ(5, g.GetOptions().longWordPosition);
    EXPECT_EQ(1, g.GetOptions().maxLongWords);
    EXPECT_EQ(1, g.GetOptions().longWordGate);
}

}  // namespace
