// Custom phrases at their places with "#" templates expanded, the shortened
// form shown for long or multi-line phrases, the fixed-first word, and char
// art hung on one leading candidate (the built data's char art and system
// phrases).
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>

#include "kernel/convert/custom_cands.h"
#include "kernel/lexicon/small_dicts.h"
#include "kernel/runtime/configuration.h"
#include "kernel/runtime/singleton.h"
#include "kernel/userdict/fixed_words.h"
#include "kernel/userdict/phrase_dict.h"
#include "tests/kernel/convert/convert_support.h"
#include "tests/kernel/convert/user_sources_support.h"

namespace {

using usersrc::Wide;

class CustomCandsTest : public convtest::LexiconTest {
protected:
    void SetUp() override {
        convtest::LexiconTest::SetUp();
        if (IsSkipped()) return;
        ASSERT_TRUE(usersrc::EnsureConfiguration());
        ASSERT_TRUE(usersrc::ResetUserStores());
        if (GetParam()) {
            ASSERT_TRUE(
                usersrc::AttachBuiltFile(t_singleton<t_abbrSysDict>::Get(), "qzim_phrases.bin"));
            ASSERT_TRUE(
                usersrc::AttachBuiltFile(t_singleton<t_quickSysDict>::Get(), "qzim_quick.bin"));
        }
    }
    void TearDown() override {
        usersrc::DetachSystemImages();
        Config().SetByte(n_config::SystemUserPhrase, 1);
    }
    static t_configuration& Config() { return t_singleton<t_configurationImpl>::Get(); }
    void AddPhrase(const wchar_t* key, const std::u16string& phrase, int16_t position) {
        const auto p = convtest::Text(phrase);
        ASSERT_NE(t_singleton<t_abbrUsrDict>::Get().AddItem(heap.WideToLstr(key), convtest::L(p),
                                                            position, 0),
                  0);
    }
    t_scopeHeap heap;
};

// Cases that hold only on the built data.
class CustomCandsBuiltTest : public CustomCandsTest {};

TEST_P(CustomCandsTest, ShownTextIsCutAtLineBreaksAnd18UnitsButNeverInsideAPair) {
    const std::u16string eighteen(18, u'字'), pairAt17 = std::u16string(17, u'字') + u"\U0001F600";
    const struct {
        std::u16string text, shown;  // shown empty: no shortened form
    } cases[] = {
        {eighteen, u""},
        {eighteen + u"多", eighteen + u"…"},
        {u"\n第二行", u"…"},
        {u"\r\n", u"…"},
        {u"第一行\n第二行", u"第一行…"},
        {pairAt17, std::u16string(17, u'字') + u"…"},
        {u"", u""},
    };
    for (const auto& c : cases) {
        const auto text = convtest::Text(c.text);
        const t_lstr* shown = MakePhraseShownText(heap, convtest::L(text));
        EXPECT_EQ(shown ? convtest::ToU16(shown) : u"", c.shown)
            << std::string(c.text.begin(), c.text.end());
    }
}

TEST_P(CustomCandsTest, UserPhrasesStandAtTheirPlacesAndTimeTemplatesExpand) {
    AddPhrase(L"tel", u"abc", 3);
    AddPhrase(L"tel", u"#$YEAR", 1);
    AddPhrase(L"tel", u"#", 2);
    AddPhrase(L"tel", u"#在家", 4);  // no keyword: the text after "#"
    usersrc::t_arrayRun run;
    Config().SetByte(n_config::SystemUserPhrase, 0);
    EXPECT_EQ(AddCustomPhraseCandidatesEx(L"tel", &run.array, &run.pool), 4);
    char year[8];
    const time_t now = time(nullptr);
    strftime(year, sizeof year, "%Y", localtime(&now));
    const std::wstring wyear(year, year + 4);
    EXPECT_EQ(run.Page(), (std::vector<std::wstring>{wyear, L"#", L"abc", L"在家"}));
    EXPECT_EQ(run.out[3]->sourceType, kCandSourceCustomPhrase);
    EXPECT_EQ(run.out[0]->sourceType, kCandSourceCustomPhrase);  // expanded
    EXPECT_EQ(run.out[1]->sourceType, kCandSourceUserPhrase);    // "#" alone stays as stored
    EXPECT_EQ(run.out[2]->sourceType, kCandSourceUserPhrase);
    EXPECT_EQ(run.out[2]->rank, kCandCustomPhraseRank);
    EXPECT_EQ(run.out[2]->coveredLength, 3u);
}

TEST_P(CustomCandsBuiltTest, SystemPhrasesFollowTheirSwitchAndGiveTodaysDate) {
    AddPhrase(L"rq", u"日期", 9);
    usersrc::t_arrayRun on, off;
    const int both = AddCustomPhraseCandidatesEx(L"rq", &on.array, &on.pool);
    EXPECT_GT(both, 1);
    Config().SetByte(n_config::SystemUserPhrase, 0);
    EXPECT_EQ(AddCustomPhraseCandidatesEx(L"rq", &off.array, &off.pool), 1);
    const time_t now = time(nullptr);
    const struct tm* local = localtime(&now);
    wchar_t iso[32], written[32];
    wcsftime(iso, 32, L"%Y-%m-%d", local);
    swprintf(written, 32, L"%d年%d月%d日", local->tm_year + 1900, local->tm_mon + 1,
             local->tm_mday);
    const std::vector<std::wstring> page = on.Page();
    // As dates are written: no zero before a month or day, none read as 〇.
    for (const std::wstring today : {iso, written})
        EXPECT_NE(std::find(page.begin(), page.end(), today), page.end()) << page.size();
    for (const std::wstring& text : page)
        for (const wchar_t* zero : {L"年〇", L"月〇"})
            EXPECT_EQ(std::wstring::npos, text.find(zero)) << zero;
    for (int i = 0; i < both; ++i) {
        const bool user = Wide(on.out[i]->text) == L"日期";
        EXPECT_EQ(on.out[i]->sourceType, user ? kCandSourceUserPhrase : kCandSourceCustomPhrase);
    }
}

TEST_P(CustomCandsTest, FixedFirstWordStandsFirst) {
    auto& fixed = t_singleton<t_fixFirstDict>::Get();
    const auto ids = convtest::Units(convtest::Ids({"hao"})), ends = convtest::Units({3});
    ASSERT_EQ(fixed.SetFixedWord(heap.WideToLstr(L"hao"), heap.WideToLstr(L"号"), convtest::L(ids),
                                 convtest::L(ends)),
              1);
    usersrc::t_arrayRun run;
    AddPhrase(L"hao", u"好", 1);
    AddCustomPhraseCandidatesEx(L"hao", &run.array, &run.pool);
    EXPECT_EQ(AddFixFirstCandidates(L"hao", &run.array, &run.pool, true), 1);
    EXPECT_EQ(AddFixFirstCandidates(L"hai", &run.array, &run.pool, false), 0);
    EXPECT_EQ(run.Page(), (std::vector<std::wstring>{L"号", L"好"}));
    EXPECT_EQ(run.out[0]->sourceType, kCandSourceFixedFirst);
    EXPECT_EQ(Wide(run.out[0]->debugText), L"-固首词");
    EXPECT_EQ(convtest::ToU16(run.out[0]->syllableIds), convtest::ToU16(convtest::L(ids)));
}

TEST_P(CustomCandsBuiltTest, CharArtHangsOnTheFirstCandidateCoveringTheInput) {
    auto scored = [&](usersrc::t_arrayRun& run, const wchar_t* text, uint32_t covered,
                      double score) {
        auto* w = static_cast<t_candWord*>(run.pool.AllocAligned(sizeof(t_candWord), 8));
        t_candWord::Clear(w);
        w->text = run.pool.WideToLstr(text);
        w->coveredLength = covered;
        w->score = score;
        w->rank = kCandNoPower;
        run.array.Add(w, nullptr);
    };
    usersrc::t_arrayRun run;
    scored(run, L"哭", 2, 0.9);  // covers less than the input: passed over
    scored(run, L"笑", 3, 0.5);
    scored(run, L"生气", 3, 0.4);  // has char art too, but only one candidate gets it
    EXPECT_EQ(AddCharArtCandidates(&run.array, &run.pool, 3, 10), 2);
    const std::vector<std::wstring> page = run.Page();
    EXPECT_NE(std::find(page.begin(), page.end(), L"(^_^)"), page.end());
    EXPECT_EQ(std::find(page.begin(), page.end(), L"(T_T)"), page.end());
    EXPECT_EQ(std::find(page.begin(), page.end(), L"(╬▔皿▔)"), page.end());

    usersrc::t_arrayRun picture;
    scored(picture, L"爱心", 2, 0.5);
    ASSERT_EQ(AddCharArtCandidates(&picture.array, &picture.pool, 2, 10), 1);
    t_candWord** pinned = nullptr;
    ASSERT_EQ(picture.array.CopyPinned(&picture.pool, &pinned), 1);
    EXPECT_EQ(Wide(pinned[0]->secondText), L"字符画：爱心");
    EXPECT_EQ(pinned[0]->sourceType, kCandSourceCharArt);
}

VETRA_LEXICON_SUITES(CustomCandsTest);
INSTANTIATE_TEST_SUITE_P(BuiltData, CustomCandsBuiltTest, ::testing::Values(true));

}  // namespace
