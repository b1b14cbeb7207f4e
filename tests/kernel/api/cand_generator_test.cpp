// The candidate generator through the kernel's real start-up on the built
// system data: what a user sees on the first page for typical inputs.
#include <string>
#include <vector>

#include "kernel/api/kernel_startup.h"
#include "kernel/runtime/cand_word.h"
#include "kernel/convert/cand_generator.h"
#include "kernel/convert/cloud_request.h"
#include "kernel/convert/learn_routines.h"
#include "tests/kernel/api/api_support.h"

namespace {

std::u16string Text(const t_candWord* w) {
    return w && w->text ? std::u16string(reinterpret_cast<const char16_t*>(LstrGetUnits(w->text)),
                                         LstrGetLength(w->text))
                        : std::u16string();
}

class GeneratorBuiltDataTest : public BuiltDataKernelTest {
public:
    // The first page of input.
    std::vector<std::u16string> Page(const std::wstring& input, t_convertRequest* out = nullptr,
                                     bool correction = false) {
        t_convertRequest request;
        request.correction = correction;
        request.input = input.c_str();
        request.inputLength = int32_t(input.size());
        request.pageSize = 9;
        request.allLowerCase = 1;
        n = generator.Generate(&request, results);
        if (out) *out = request;
        std::vector<std::u16string> texts;
        for (int i = 0; i < n; ++i) texts.push_back(Text(results[i]));
        return texts;
    }
    static int IndexOf(const std::vector<std::u16string>& page, const std::u16string& text) {
        for (size_t i = 0; i < page.size(); ++i)
            if (page[i] == text) return int(i);
        return -1;
    }

    t_candGenerator generator;
    t_candWord* results[9] = {};
    int n = 0;
};

TEST_F(GeneratorBuiltDataTest, TypicalInputsOfferTheExpectedWordsOnTheFirstPage) {
    const struct {
        const wchar_t* input;
        std::u16string text;
        int atMost;  // its highest allowed place (0 = first)
    } cases[] = {
        {L"nihao", u"你好", 0},  {L"zhongguo", u"中国", 0}, {L"xian", u"先", 8},
        {L"xian", u"西安", 8},   {L"zg", u"中国", 8},
    };
    for (const auto& c : cases) {
        const auto page = Page(c.input);
        const int at = IndexOf(page, c.text);
        EXPECT_GE(at, 0) << std::string(c.input, c.input + wcslen(c.input));
        EXPECT_LE(at, c.atMost);
    }
}

TEST_F(GeneratorBuiltDataTest, InputLengthLimitAndGameKeys) {
    const std::wstring longest(39, L'a'), tooLong(79, L'a');
    EXPECT_GT(Page(longest + longest.substr(0, 39)).size(), 0u);
    EXPECT_EQ(0u, Page(tooLong).size());
    t_convertRequest request;
    Page(L"wwwwaaaa", &request);
    EXPECT_EQ(1, request.gameKeys);
    Page(L"nihao", &request);
    EXPECT_EQ(0, request.gameKeys);
}

TEST_F(GeneratorBuiltDataTest, ASlipOfTheFingerIsCorrectedWhenAsked) {
    t_convertRequest request;
    EXPECT_EQ(-1, IndexOf(Page(L"nihap", &request), u"你好"));
    EXPECT_EQ(0, request.correctionUsed);
    EXPECT_EQ(0, IndexOf(Page(L"nihap", &request, true), u"你好"));
    EXPECT_EQ(1, request.correctionUsed);
    ASSERT_NE(nullptr, results[0]->secondText);
    EXPECT_EQ(5u, results[0]->coveredLength);
}

TEST_F(GeneratorBuiltDataTest, ALearnedWordMovesUp) {
    auto page = Page(L"shishi");
    ASSERT_GE(n, 4);
    const std::u16string chosen = page[3];
    const t_lstr* ids = results[3]->syllableIds;
    ASSERT_NE(nullptr, ids);
    const std::vector<uint16_t> units(LstrGetUnits(ids), LstrGetUnits(ids) + LstrGetLength(ids));
    const std::wstring word(chosen.begin(), chosen.end());
    t_scopeHeap heap;
    ASSERT_TRUE(LearnUserWord(heap.MakeLstr(units.data(), 2 * units.size()), word.c_str(), 0, 0));
    EXPECT_EQ(0, IndexOf(Page(L"shishi"), chosen));
}

TEST_F(GeneratorBuiltDataTest, CloudRecordOnlyForTheFirstPageOfTheWholeInput) {
    static uint8_t buffer[kCloudRecordLimit];
    const struct {
        uint32_t pageStart;
        const wchar_t* aux;
        int32_t segment;
        bool withBuffer;
        uint8_t asked;
    } cases[] = {{0, nullptr, 0, true, 1}, {9, nullptr, 0, true, 0}, {0, L"k", 0, true, 0},
                 {0, nullptr, 2, true, 0}, {0, nullptr, 0, false, 0}};
    for (const auto& c : cases) {
        t_convertRequest request;
        request.input = L"nihao";
        request.inputLength = 5;
        request.pageStart = c.pageStart;
        request.pageSize = 9;
        request.auxCode = c.aux;
        request.segmentLength = c.segment;
        t_cloudRequestParams params;
        params.buffer = c.withBuffer ? buffer : nullptr;
        t_cloudAsked asked;
        asked.asked = 7;
        generator.Generate(&request, results, &params, &asked);
        EXPECT_EQ(c.asked, asked.asked) << c.pageStart << " " << c.segment << " " << c.withBuffer;
        if (asked.asked) {
            uint8_t x = 0;
            for (int i = 0; i < (buffer[0] | buffer[1] << 8); ++i) x ^= buffer[i];
            EXPECT_EQ(0, x);
        }
    }
}

}  // namespace
