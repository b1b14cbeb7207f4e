// Smaller entry operations: resets of the user's files (also after a
// restart, and a failed reset changing nothing), candidate pinning, word
// codes, fuzzy pairs and the look-ups over the built data.
#include <filesystem>

#include "kernel/api/kernel_dict_extras.h"
#include "kernel/api/kernel_dict_ops.h"
#include "kernel/api/kernel_learn.h"
#include "kernel/api/kernel_singletons.h"
#include "kernel/api/kernel_startup.h"
#include "kernel/convert/learn_routines.h"
#include "kernel/lexicon/fuzzy_config.h"
#include "kernel/lexicon/small_dicts.h"
#include "kernel/lexicon/spell_model.h"
#include "kernel/lexicon/string_dict_user.h"
#include "kernel/runtime/text_helpers.h"
#include "kernel/userdict/deleted_words.h"
#include "tests/kernel/api/api_support.h"
#include "tests/kernel/lexicon/small_dicts_support.h"

namespace fs = std::filesystem;

namespace {

bool FullDisk(int, const void*, size_t) {
    return false;
}

class DictExtrasTest : public KernelTest {
public:
    t_scopeHeap pool;
};

// One user file: how a word is learned into it, whether it is there, and
// its reset.
struct t_resetCase {
    const char* file;
    int (*learn)(const wchar_t* word);
    bool (*holds)(t_scopeHeap& pool, const wchar_t* word);
    int (*reset)();
};

int LearnEnglish(const wchar_t* word) {
    return int(LearnEnglishCommit(word));
}
bool HoldsEnglish(t_scopeHeap& pool, const wchar_t* word) {
    uint32_t count = 0;
    return t_singleton<t_engUsrDict>::Get().GetWordFreq(pool.WideToLstr(word), &count) && count > 0;
}
bool HoldsDeleted(t_scopeHeap& pool, const wchar_t* word) {
    return t_singleton<t_delWordDict>::Get().IsDeleted(pool.WideToLstr(word)) == 1;
}
int LearnAddress(const wchar_t* word) {
    return LearnUrl((std::wstring(word) + L".example.com").c_str());
}
bool HoldsAddress(t_scopeHeap& pool, const wchar_t* word) {
    t_strUsrEntry** rows = nullptr;
    uint32_t count = 0;
    if (!t_singleton<t_urlUsrDict>::Get().ListAll(pool, &rows, &count)) return false;
    for (uint32_t i = 0; i < count; ++i)
        if (std::wstring(pool.LstrToWide(rows[i]->stored)).find(word) == 0) return true;
    return false;
}
int LearnPhrase(const wchar_t* word) {
    return AddUsrPhrase(word, L"短语", 1);
}
bool HoldsPhrase(t_scopeHeap&, const wchar_t* word) {
    std::vector<t_apiPhrase> out(8);
    out.resize(size_t(GetUsrPhrases(out.data(), 8)));
    return std::any_of(out.begin(), out.end(), [&](const t_apiPhrase& p) { return p.key == word; });
}
// The word picks the slip: "a" as a swap, anything else as a substitution.
int LearnSlip(const wchar_t* word) {
    return word[0] == L'a' ? LearnSpellingCorrection(L"ahsi", L"ashi")
                           : LearnSpellingCorrection(L"shu", L"sha");
}
bool HoldsSlip(t_scopeHeap&, const wchar_t* word) {
    const t_userSpellModelDict& model = t_singleton<t_userSpellModelDict>::Get();
    return word[0] == L'a'
               ? model.GetXposScore('h', 's', 'a') != t_userSpellModelDict::kNoData
               : model.GetInsDelSubScore('u', 'a', 'h') != t_userSpellModelDict::kNoData;
}

const t_resetCase kResets[] = {
    {"qzim_eng_usr.bin", &LearnEnglish, &HoldsEnglish, &ResetEngUsrFile},
    {"qzim_del_word.bin", &MarkWordDeleted, &HoldsDeleted, &ResetDelWordFile},
    {"qzim_url_usr.bin", &LearnAddress, &HoldsAddress, &ResetUrlUsrFile},
    {"qzim_phrases.bin", &LearnPhrase, &HoldsPhrase, &ResetPhrasesFile},
    {"qzim_uspm.bin", &LearnSlip, &HoldsSlip, &ResetSpellModelFile},
};

}  // namespace

TEST_F(DictExtrasTest, AResetForgetsSavedAndUnsavedDataAlsoAfterARestart) {
    EXPECT_EQ(0, ResetEngUsrFile());  // not started
    for (const t_resetCase& c : kResets) {
        SCOPED_TRACE(c.file);
        Start();
        ASSERT_TRUE(c.learn(L"saved"));
        Stop();  // saved into the file
        Start();
        ASSERT_TRUE(c.learn(L"anew"));  // only in memory
        ASSERT_TRUE(c.holds(pool, L"saved") && c.holds(pool, L"anew"));

        // A reset that cannot write its fresh file changes nothing.
        const std::string file = user + "/" + c.file;
        const std::string before = testsupport::ReadFileBytes(file);
        SetDictWriteFunction(&FullDisk);
        EXPECT_EQ(0, c.reset());
        SetDictWriteFunction(nullptr);
        EXPECT_EQ(before, testsupport::ReadFileBytes(file));
        EXPECT_TRUE(c.holds(pool, L"saved") && c.holds(pool, L"anew"));

        ASSERT_EQ(1, c.reset());
        EXPECT_FALSE(c.holds(pool, L"saved") || c.holds(pool, L"anew"));
        EXPECT_TRUE(fs::exists(file));
        EXPECT_FALSE(fs::exists(file + ".reset"));
        Stop();
        Start();
        EXPECT_FALSE(c.holds(pool, L"saved") || c.holds(pool, L"anew"));
        Stop();
    }
}

TEST_F(DictExtrasTest, APinnedCandidateComesFirstAndAFullListDropsItsLast) {
    Start();
    std::vector<t_candWord> records(kPinnedListMax);
    std::vector<t_candWord*> list(kPinnedListMax);
    for (int i = 0; i < kPinnedListMax; ++i) {
        t_candWord::Clear(&records[size_t(i)]);
        records[size_t(i)].text = pool.WideToLstr(std::to_wstring(i).c_str());
        list[size_t(i)] = &records[size_t(i)];
    }
    const struct {
        int32_t count;
        const wchar_t* text;
        int32_t expected;
        const wchar_t* second;  // text at place 2 afterwards
    } cases[] = {
        {3, L"2", 3, L"0"}, {3, L"新", 4, L"2"}, {kPinnedListMax, L"新词", kPinnedListMax, L"新"}};
    for (const auto& c : cases) {
        ASSERT_EQ(c.expected, PinCandidateFirst(pool, list.data(), c.count, c.text, 2, true));
        EXPECT_EQ(std::wstring(c.text), pool.LstrToWide(list[0]->text));
        EXPECT_EQ(std::wstring(c.second), pool.LstrToWide(list[1]->text));
    }
    EXPECT_EQ(kCandKindPinned, list[0]->kind);
    EXPECT_EQ(1, list[0]->wantedPlace);
    EXPECT_EQ(-1, PinCandidateFirst(pool, list.data(), kPinnedListMax + 1, L"x", 1, false));
}

TEST_F(DictExtrasTest, TheUrlGuideOfTheInputOrTheFirstCandidateThatHasOne) {
    using dicttest::t_fields;
    const std::u16string longUrl = u"https://example.org/" + std::u16string(250, u'a');
    const dicttest::Bytes image = dicttest::BuildImage(
        t_systemTable::kUrlGuide,
        {{t_fields()
              .S(u"百度")
              .S(u"百度一下" + std::u16string(40, u'字'))
              .S(u"https://www.baidu.com"),
          t_fields().S(u"长").S(u"长地址").S(longUrl),
          t_fields().S(u"维基").S(u"维基百科").S(u"https://zh.wikipedia.org")},
         {t_fields().S(u"wiki").S(u"维基百科").S(u"https://zh.wikipedia.org")}});
    ASSERT_TRUE(testsupport::WriteFileBytes(sys + "/qzim_urlGuide.bin",
                                            std::string(image.begin(), image.end())));
    Start();
    std::vector<t_candWord> records(3);
    std::vector<t_candWord*> list;
    for (const wchar_t* text : {L"长", L"百度", L"维基"}) {
        t_candWord::Clear(&records[list.size()]);
        records[list.size()].text = pool.WideToLstr(text);
        list.push_back(&records[list.size()]);
    }
    const struct {
        const wchar_t* input;
        int32_t count;
        int found;
        const wchar_t* url;
        size_t textChars;
    } cases[] = {
        {L"wiki", 3, 1, L"https://zh.wikipedia.org", 4},
        {L"xyz", 3, 1, L"https://www.baidu.com",
         kGuideTextChars},  // the over-long address is passed over
        {L"xyz", 1, 0, L"", 0},
    };
    for (const auto& c : cases) {
        wchar_t text[kGuideTextChars + 1], url[kGuideUrlChars + 1];
        EXPECT_EQ(c.found, GetUrlGuide(list.data(), c.count, c.input, text, url))
            << c.input << c.count;
        EXPECT_STREQ(c.url, url);
        EXPECT_EQ(c.textChars, wcslen(text));
    }
}

TEST_F(DictExtrasTest, WordCodesAreFormattedByTheirTopByte) {
    const uint32_t codes[] = {(16u << 24) | 12, (uint32_t('B') << 24) | 7, (2u << 24) | 5,
                              (1u << 24) | 3};
    const wchar_t* text = nullptr;
    ASSERT_EQ(1, FormatWordCodes(pool, pool.MakeLstr(codes, sizeof codes), &text));
    EXPECT_STREQ(L"12-B7-3", text);
    EXPECT_EQ(0, FormatWordCodes(pool, pool.MakeLstr(codes, 6), &text));
}

TEST_F(DictExtrasTest, TheChosenFuzzyPairsAreTheOnlyOnesOn) {
    CopySchemes();
    Start();
    EXPECT_EQ(0, WriteFuzzyPairs({L"z", L"c"}, {L"zh"}));
    EXPECT_FALSE(fs::exists(user + "/Fuzzy.dat"));
    ASSERT_EQ(1, WriteFuzzyPairs({L"z", L"in"}, {L"zh", L"ing"}));
    ASSERT_EQ(1, WriteFuzzyPairs({L"zh", L"l"}, {L"z", L"n"}));  // from the user's file now
    t_fuzzyConfig config;
    std::wstring messages;
    ASSERT_TRUE(config.Parse(messages, testsupport::Widen(user + "/Fuzzy.dat").c_str()));
    t_ruleSlot slots[8];
    const struct {
        const wchar_t* text;
        int partners;
    } cases[] = {{L"z", 1}, {L"l", 1}, {L"in", 0}, {L"c", 0}};
    for (const auto& c : cases)
        EXPECT_EQ(c.partners, config.GetFuzzyPartners(slots, 8, c.text)) << c.text;
}

namespace {
class DictExtrasBuiltDataTest : public StartedOnBuiltData<DictExtrasTest> {};
}  // namespace

TEST_F(DictExtrasBuiltDataTest, ALetterWordIsDeletedUnderItsLetterIds) {
    const t_lstr* ids = LettersToIdString(pool, L"Ab");
    ASSERT_NE(nullptr, ids);
    EXPECT_EQ(GetLetterIdOfChar(L'b'), LstrGetUnit(ids, 1));
    EXPECT_EQ(nullptr, LettersToIdString(pool, L"a1"));
    const t_lstr* letters = LettersToIdString(pool, L"vetrax");
    const t_lstr* word = WideToLstr16(pool, L"vetrax");
    ASSERT_TRUE(SetUserWordFlags(letters, word, 0, false, false));
    ASSERT_EQ(1u, LearnEnglishCommit(L"vetrax"));
    EXPECT_EQ(1, DeleteLetterWord(L"vetrax"));
    EXPECT_EQ(1, IsWordDeleted(L"vetrax"));
    t_usrWordAttr attr;
    EXPECT_TRUE(LookupUserWord(letters, word, &attr) && attr.freq == 0);
    EXPECT_FALSE(HoldsEnglish(pool, L"vetrax"));
    EXPECT_EQ(0, DeleteLetterWord(L"中"));
}

TEST_F(DictExtrasBuiltDataTest, TheKeyMapResetsAndCountsSegmentUses) {
    ASSERT_EQ(1, RegisterKeyPyMap(0));
    const t_lstr* segments = nullptr;
    const uint16_t ends[2] = {2, 5},
                   ids[2] = {uint16_t(GetSyllableId(L"ni")), uint16_t(GetSyllableId(L"hao"))};
    segments = pool.MakeLstr(ends, sizeof ends);
    const uint32_t before = GetKeyPyMap().GetCounter(ids[1]);
    EXPECT_EQ(2, LearnKeymapSegments(L"nihao", segments, pool.MakeLstr(ids, sizeof ids)));
    EXPECT_EQ(before + 1, GetKeyPyMap().GetCounter(ids[1]));
    ASSERT_EQ(1, ResetKeymapFile());
    EXPECT_EQ(before, GetKeyPyMap().GetCounter(ids[1]));
    EXPECT_EQ(1, ReloadKeymap());
}

TEST_F(DictExtrasBuiltDataTest, AnUnsupportedRangeStaysOffOverAReload) {
    const uint8_t* flags = t_singleton<t_supportCharDict>::Get().GetFlagTable();
    ASSERT_NE(0, flags[0x4E2D]);
    EXPECT_EQ(0, SetUnsupportedCharRange(0x4E2E, 0x4E2D));
    EXPECT_EQ(0, SetUnsupportedCharRange(0xFFFF, 0x10000));
    ASSERT_EQ(1, SetUnsupportedCharRange(0x4E2D, 0x4E2D));
    EXPECT_EQ(1, NotifySupportCharChanged());
    EXPECT_EQ(0, flags[0x4E2D]);
    EXPECT_NE(0, flags[0x4E2E]);
}
