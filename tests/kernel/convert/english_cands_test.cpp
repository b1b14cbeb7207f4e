// English and web-address candidates: the entry order and the bounded word
// list, the best completion (an equal-key leading entry taken at once,
// otherwise the further entries by entry order, deleted words never),
// prefix words, segmented completion and the completion's place; on the
// built data the English and web-address lists.
#include <gtest/gtest.h>

#include <algorithm>

#include "kernel/convert/english_cands.h"
#include "kernel/lexicon/string_dict_user.h"
#include "kernel/runtime/singleton.h"
#include "kernel/userdict/deleted_words.h"
#include "tests/kernel/convert/convert_support.h"
#include "tests/kernel/convert/user_sources_support.h"
#include "tests/kernel/lexicon/small_dicts_support.h"

namespace {

using usersrc::Wide;

class EnglishCandsTest : public convtest::LexiconTest {
protected:
    void SetUp() override {
        convtest::LexiconTest::SetUp();
        if (IsSkipped()) return;
        ASSERT_TRUE(usersrc::EnsureConfiguration());
        ASSERT_TRUE(usersrc::ResetUserStores());
        if (GetParam()) {
            ASSERT_TRUE(usersrc::AttachBuiltFile(t_singleton<t_engSysDict>::Get(), "qzim_eng.bin"));
            ASSERT_TRUE(usersrc::AttachBuiltFile(t_singleton<t_urlSysDict>::Get(), "qzim_url.bin"));
        } else {
            using dicttest::t_fields;
            auto row = [](const std::u16string& w, uint32_t freq) {
                return t_fields().S(w).U32(0).U32(freq);
            };
            ASSERT_TRUE(usersrc::AttachSystemImage(
                t_singleton<t_engSysDict>::Get(),
                dicttest::BuildImage(t_systemTable::kEngSys,
                                     {{row(u"don't", 900), row(u"dont", 1), row(u"dontx", 5),
                                       row(u"a", 900), row(u"Bell", 50), row(u"be", 800)}})));
        }
    }
    void TearDown() override { usersrc::DetachSystemImages(); }
    // A user word counts from its second use.
    void UserWord(const wchar_t* w) {
        for (int i = 0; i < 2; ++i)
            ASSERT_EQ(t_singleton<t_engUsrDict>::Get().AddWord(heap.WideToLstr(w), 1000), 1);
    }
    std::wstring Best(const wchar_t* input, bool* exact = nullptr) {
        const t_engEntry* e = FindBestEnglishCompletion(heap, input, exact, nullptr);
        return e ? Wide(e->text) : L"";
    }
    t_scopeHeap heap;
};

// Cases that hold only on the small lexicon.
class EnglishCandsSmallTest : public EnglishCandsTest {};
// Cases that hold only on the built data.
class EnglishCandsBuiltTest : public EnglishCandsTest {};

TEST_P(EnglishCandsTest, EntryOrderAndTheBoundedList) {
    t_lstr* word = heap.WideToLstr(L"word");
    auto entry = [&](const wchar_t* text, uint32_t first, uint32_t second, uint8_t mark) {
        auto* e = static_cast<t_engEntry*>(heap.AllocAligned(sizeof(t_engEntry), 8));
        *e = {heap.WideToLstr(text), word, first, second, mark};
        return e;
    };
    const struct {
        t_engEntry *a, *b;
        int before;
    } order[] = {
        {entry(L"Word", 0, 0, 1), entry(L"word", 9, 9, 0), 1},  // marked first
        {entry(L"word", 0, 0, 0), entry(L"Word", 9, 9, 0), 1},  // equal to its key
        {entry(L"Word", 2, 0, 0), entry(L"WORD", 1, 9, 0), 1},
        {entry(L"Word", 1, 8, 0), entry(L"WORD", 1, 9, 0), 0},
        {entry(L"Word", 1, 9, 0), entry(L"WORD", 1, 9, 0), 0},  // the held one stays ahead
    };
    for (const auto& c : order) EXPECT_EQ(EngEntryBefore(c.a, c.b), c.before) << Wide(c.a->text);

    t_engWordList list(heap, 3);
    list.Add(entry(L"b", 0, 5, 0));
    list.Add(entry(L"c", 0, 9, 0));
    list.Add(entry(L"b", 0, 7, 0));  // the better duplicate replaces the held one
    list.Add(entry(L"d", 0, 1, 0));
    list.Add(entry(L"e", 0, 0, 0));       // full: would stand last
    list.AddAt(entry(L"a", 0, 0, 0), 0);  // a leading entry at its index; the last goes
    std::vector<std::wstring> texts;
    for (int i = 0; i < list.Count(); ++i) texts.push_back(Wide(list.At(i)->text));
    EXPECT_EQ(texts, (std::vector<std::wstring>{L"a", L"c", L"b"}));
    EXPECT_EQ(list.At(2)->count, 7u);
}

TEST_P(EnglishCandsSmallTest, EqualKeyLeadingEntryIsTakenAtOnceElseFurtherEntriesCompete) {
    UserWord(L"don't");  // a leading user entry whose key is not the input: passed over
    EXPECT_EQ(Best(L"dont"), L"dont");  // beats the more frequent "don't" of the system
    EXPECT_EQ(Best(L"DONT"), L"DONT");
    EXPECT_EQ(Best(L"do"), L"don't");  // no leading entry: the user's further entry
    UserWord(L"dontx");
    ASSERT_EQ(t_singleton<t_engUsrDict>::Get().AddWord(heap.WideToLstr(L"dontx"), 1000),
              1);  // used more
    bool exact = false;
    EXPECT_EQ(Best(L"don", &exact), L"dontx");  // marked user entries compete first
    EXPECT_TRUE(exact);
    // A deleted word never comes back, neither here nor in the lists.
    ASSERT_EQ(t_singleton<t_delWordDict>::Get().AddWord(heap.WideToLstr(L"dontx"), 1), 1);
    ASSERT_EQ(t_singleton<t_delWordDict>::Get().AddWord(heap.WideToLstr(L"don't"), 1), 1);
    EXPECT_EQ(Best(L"don"), L"dont");
    t_engWordPage page;
    ASSERT_TRUE(SearchEnglishWords(heap, L"don", 0, 10, 0, &page, nullptr));
    std::vector<std::wstring> words;
    for (int i = 0; i < page.made; ++i) words.push_back(Wide(page.words[i]));
    EXPECT_EQ(words, (std::vector<std::wstring>{L"dont"}));
}

TEST_P(EnglishCandsTest, SegmentedCompletionJoinsCapitalisedWords) {
    const struct {
        const wchar_t* input;
        const wchar_t* text;  // empty: no record
    } cases[] = {{L"aBel", L"aBell"}, {L"abel", L""}, {L"a", L""}};
    for (const auto& c : cases) {
        if (GetParam()) break;
        const t_candWord* w = AddSegEnglishCompletions(heap, c.input, int(wcslen(c.input)), true);
        EXPECT_EQ(w ? Wide(w->text) : L"", c.text) << Wide(heap.WideToLstr(c.input));
        if (!w) continue;
        EXPECT_EQ(w->sourceType, kCandSourceEnglishCompletion);
        EXPECT_EQ(w->coveredLength, wcslen(c.input));
        EXPECT_EQ(Wide(w->debugText), L"分段英文补全");
    }
    if (!GetParam()) return;
    const t_candWord* w = AddSegEnglishCompletions(heap, L"aB", 2);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(Wide(w->text).substr(0, 2), L"aB");
}

TEST_P(EnglishCandsSmallTest, SegmentedTextThatOverrunsItsBufferMakesNoRecord) {
    // "aB" gives a buffer of 68 bytes; the completion of "B" is 40 letters.
    const std::u16string longWord = u"B" + std::u16string(39, u'x');
    ASSERT_TRUE(usersrc::AttachSystemImage(
        t_singleton<t_engSysDict>::Get(),
        dicttest::BuildImage(t_systemTable::kEngSys,
                             {{dicttest::t_fields().S(u"a").U32(0).U32(9),
                               dicttest::t_fields().S(longWord).U32(0).U32(9)}})));
    EXPECT_EQ(AddSegEnglishCompletions(heap, L"aBx", 3), nullptr);
    EXPECT_NE(AddSegEnglishCompletions(heap, (L"aB" + std::wstring(38, L'x')).c_str(), 40),
              nullptr);
}

TEST_P(EnglishCandsBuiltTest, CompletionsAndPrefixWordsOnTheBuiltList) {
    const struct {
        const wchar_t *input, *best;
    } cases[] = {{L"iphone", L"iPhone"}, {L"Linux", L"Linux"}, {L"LINUX", L"LINUX"}};
    for (const auto& c : cases) EXPECT_EQ(Best(c.input), c.best);

    UserWord(L"ipho");
    t_candWord* out[8] = {};
    int n = 0;
    ASSERT_TRUE(AddEnglishPrefixCandidates(heap, L"IPhone", 6, out, 8, &n, true));
    ASSERT_EQ(n, 1);
    EXPECT_EQ(Wide(out[0]->text), L"IPho");
    EXPECT_EQ(Wide(out[0]->thirdText), L"ipho");
    EXPECT_EQ(out[0]->coveredLength, 4u);
    EXPECT_EQ(out[0]->rank, kCandEnglishPrefixRank);

    ASSERT_EQ(t_singleton<t_delWordDict>::Get().AddWord(heap.WideToLstr(L"Linux"), 1), 1);
    EXPECT_NE(Best(L"Linux"), L"Linux");
    t_engWordPage page;
    ASSERT_TRUE(SearchEnglishWords(heap, L"Linux", 0, 50, 0, &page, nullptr));
    for (int i = 0; i < page.made; ++i) EXPECT_NE(Wide(page.words[i]), L"Linux");
}

// Where the list already reads the whole input as pinyin, only the user's
// words and the common ones of the system list are offered.
TEST_P(EnglishCandsBuiltTest, CompletionTakesPlaceOneOrFiveOrStaysOut) {
    UserWord(L"vetra");
    const struct {
        const wchar_t* input;
        double prob;
        int limit;
        const wchar_t* top;  // a ranked word already in the list, or null
        bool whole;          // the top word reads the whole input
        int place;           // 0: not offered
    } cases[] = {
        {L"vetra", 0.99, 8, nullptr, false, 5},   // a user word where pinyin reads well
        {L"vetra", 0.5, 8, nullptr, false, 1},    // a user word not in the list
        {L"linux", 0.5, 8, L"里", false, 5},      // a system word behind another top word
        {L"linux", 0.5, 8, L"Linux", false, 1},   // the top word is the completion itself
        {L"linux", 0.5, 3, L"里", false, 1},      // beyond the English limit
        {L"vetra", 0.99, 8, L"卫特热", true, 5},  // the user's word still
        {L"women", 0.99, 8, L"我们", true, 5},    // a common word
        {L"tamen", 0.99, 8, L"他们", true, 0},    // tameness: rare
        {L"keyi", 0.99, 8, L"可以", true, 0},     // keying: not among the most common
        {L"nh", 0.5, 8, L"你好", true, 0},        // NH
    };
    for (const auto& c : cases) {
        usersrc::t_arrayRun run;
        if (c.top) {
            auto* w = static_cast<t_candWord*>(run.pool.AllocAligned(sizeof(t_candWord), 8));
            t_candWord::Clear(w);
            w->text = run.pool.WideToLstr(c.top);
            w->rank = kCandNoPower;
            if (c.whole) w->coveredLength = uint32_t(wcslen(c.input));
            run.array.Add(w, nullptr);
        }
        t_engPredictRequest request;
        request.input = c.input;
        request.wholeTextProb = c.prob;
        request.englishLimit = c.limit;
        t_engPredictor predictor;
        predictor.Init(&run.pool, &run.array, request);
        const std::wstring label = Wide(run.pool.WideToLstr(c.input));
        ASSERT_TRUE(predictor.Run()) << label;
        predictor.DecidePlace();
        EXPECT_EQ(predictor.HasCandidate(), c.place != 0) << label;
        if (c.place) {
            EXPECT_EQ(predictor.GetRecord()->wantedPlace, c.place) << label << c.prob;
        }
    }
}

TEST_P(EnglishCandsBuiltTest, WebAddressesAndMailAddresses) {
    auto& urls = t_singleton<t_urlUsrDict>::Get();
    for (const wchar_t* u : {L"abc.def.com", L"me@example.com"})
        for (int i = 0; i < 2; ++i) ASSERT_EQ(urls.AddUrl(heap.WideToLstr(u), 1000), 1);
    const struct {
        const wchar_t *input, *expected;
    } cases[] = {{L"www.", nullptr}, {L"abc.def", L"abc.def.com"}, {L"me@ex", L"me@example.com"}};
    for (const auto& c : cases) {
        t_engWordPage page;
        ASSERT_TRUE(SearchUrlWords(heap, c.input, 0, 10, 0, &page, nullptr));
        ASSERT_GT(page.made, 0) << Wide(heap.WideToLstr(c.input));
        for (int i = 0; i < page.made; ++i) EXPECT_EQ(Wide(page.words[i]).rfind(c.input, 0), 0u);
        if (c.expected) {
            EXPECT_EQ(Wide(page.words[0]), c.expected);
        }
    }
    const t_lstr* text = MakeSegEnglishText(heap, L"abcwww.alipa", 3, 12);
    EXPECT_EQ(Wide(text), L"abcwww.alipay.com");
}

VETRA_LEXICON_SUITES(EnglishCandsTest);
INSTANTIATE_TEST_SUITE_P(Small, EnglishCandsSmallTest, ::testing::Values(false));
INSTANTIATE_TEST_SUITE_P(BuiltData, EnglishCandsBuiltTest, ::testing::Values(true));

}  // namespace
