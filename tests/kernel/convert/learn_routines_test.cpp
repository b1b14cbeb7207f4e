// Learning committed words (the join of short consecutive commits, the
// refusal of a reading that does not fit the word), the raw-input and
// cloud-cache records, and the input-string tests and views.
#include <gtest/gtest.h>

#include <filesystem>

#include "kernel/convert/input_strings.h"
#include "kernel/convert/learn_routines.h"
#include "kernel/lexicon/key_py_map.h"
#include "kernel/lexicon/syllable_table.h"
#include "kernel/runtime/dict_manager.h"
#include "kernel/runtime/dir_settings.h"
#include "kernel/runtime/singleton.h"
#include "kernel/userdict/cloud_cache.h"
#include "kernel/userdict/recent_cache.h"
#include "tests/kernel/convert/convert_support.h"
#include "tests/kernel/convert/user_sources_support.h"
#include "tests/support/test_dir.h"

namespace {

using convtest::Ids;
using convtest::L;
using convtest::Units;
using usersrc::Wide;

class LearnRoutinesTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(usersrc::EnsureConfiguration());
        ASSERT_TRUE(usersrc::ResetUserStores());
        t_singleton<t_submittedUsrWord>::Get().Clear();
    }
    void TearDown() override { SetContinuingInput(0); }
    static t_usrDictV3Core& User() { return t_singleton<t_usrDictV3Core>::Get(); }
    bool Has(std::initializer_list<const char*> syllables, const wchar_t* word) {
        return LookupUserWord(L(Units(Ids(syllables))), heap.WideToLstr(word), nullptr);
    }
    t_scopeHeap heap;
};

TEST_F(LearnRoutinesTest, ShortConsecutiveCommitsAreJoinedWhileInputContinues) {
    SetContinuingInput(1);
    ASSERT_TRUE(LearnUserWord(L(Units(Ids({"ni"}))), L"你", 0, 0));
    ASSERT_TRUE(LearnUserWord(L(Units(Ids({"hao"}))), L"好", 0, 0));
    EXPECT_TRUE(Has({"ni"}, L"你"));
    EXPECT_TRUE(Has({"ni", "hao"}, L"你好"));

    // Seven characters together are not joined.
    ASSERT_TRUE(LearnUserWord(L(Units(Ids({"zhong", "hua", "ren"}))), L"中华人", 0, 0));
    ASSERT_TRUE(LearnUserWord(L(Units(Ids({"min", "gong", "he", "guo"}))), L"民共和国", 0, 0));
    EXPECT_FALSE(Has({"zhong", "hua", "ren", "min", "gong", "he", "guo"}, L"中华人民共和国"));

    // Without the flag every commit stands alone.
    SetContinuingInput(0);
    ASSERT_TRUE(LearnUserWord(L(Units(Ids({"da"}))), L"大", 0, 0));
    ASSERT_TRUE(LearnUserWord(L(Units(Ids({"jia"}))), L"家", 0, 0));
    EXPECT_FALSE(Has({"da", "jia"}, L"大家"));
    EXPECT_EQ(t_singleton<t_submittedUsrWord>::Get().GetCount(), 0);
}

TEST_F(LearnRoutinesTest, AReadingThatDoesNotFitTheWordIsRefusedUntouched) {
    ASSERT_TRUE(LearnUserWord(L(Units(Ids({"ni", "hao"}))), L"你好", 0, 0));
    const int32_t words = User().GetWordCount();
    const struct {
        std::vector<uint16_t> ids;
        const wchar_t* word;
    } cases[] = {
        {Ids({"ni"}), L"你好"}, {Ids({"ni", "hao", "a"}), L"你好"}, {Ids({"ni", "hao"}), L"你"}};
    SetContinuingInput(1);
    for (const auto& c : cases) {
        EXPECT_FALSE(LearnUserWord(L(Units(c.ids)), c.word, 0, 0)) << c.ids.size();
        EXPECT_EQ(User().GetWordCount(), words);
    }
    EXPECT_EQ(t_singleton<t_submittedUsrWord>::Get().GetCount(), 0);
}

TEST_F(LearnRoutinesTest, RawInputStandsWhenNothingConverts) {
    usersrc::t_arrayRun run;
    AddRawInputCandidate(run.pool, &run.array, L"xqz");
    ASSERT_EQ(run.Page(), (std::vector<std::wstring>{L"xqz"}));
    EXPECT_EQ(run.out[0]->sourceType, kCandSourceRawInput);
    EXPECT_EQ(run.out[0]->rank, kCandRawInputRank);
    EXPECT_EQ(MakeRawInputCandidate(run.pool, L"ab", 3), nullptr);
}

TEST_F(LearnRoutinesTest, CloudCacheRecordNeverRepeatsAListedText) {
    auto& cache = t_singleton<t_cloudCacheDict>::Get();
    const t_lstr* key = heap.WideToLstr(L"nihao");
    const auto ids = Units(Ids({"ni", "hao"})), ends = Units({2, 5, 9});
    for (const wchar_t* text : {L"你好", L"拟好"})
        ASSERT_EQ(cache.AddEntry(key, heap.WideToLstr(text), 1, 0, L(ids), L(ends)), 1);
    usersrc::t_arrayRun run;
    auto* held = MakeRawInputCandidate(run.pool, L"你好", 2);
    run.array.Add(held, nullptr);
    bool found = false;
    const t_candWord* w = AddCloudCacheCandidates(run.pool, L"nihao", &run.array, &found);
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(found);
    EXPECT_EQ(Wide(w->text), L"拟好");
    EXPECT_EQ(w->wantedPlace, 2);
    EXPECT_EQ(convtest::ToU16(w->segmentList), (std::u16string{2, 5}));  // cut at the input's end
    EXPECT_EQ(AddCloudCacheCandidates(run.pool, L"nihaoma", &run.array, &found), nullptr);
    EXPECT_FALSE(found);
}

// The pinyin dictionary the key-map rebuild asks for.
class t_pyDictStandIn final : public t_dictStorageBase {
public:
    bool Load(void*, int32_t size) override { return size > 0; }
};

TEST(KeymapReloadTest, TheLiveMapIsRebuiltAndKeepsWhatItLearned) {
    ASSERT_TRUE(usersrc::EnsureConfiguration());
    testsupport::t_testDir dir("vetra-keymap");
    std::filesystem::create_directories(dir.At("sys"));
    std::filesystem::create_directories(dir.At("user"));
    ASSERT_TRUE(SetConfiguredSysDir(dir.WAt("sys").c_str()) &&
                SetConfiguredUserDir(dir.WAt("user").c_str()));
    t_dictManager& manager = t_singleton<t_dictManager>::Get();
    ASSERT_TRUE(manager.Init());
    static t_pyDictStandIn* const py = new t_pyDictStandIn;  // the manager keeps it
    ASSERT_TRUE(
        manager.Register(L"pydict", py, 0, kStorageFileMap, kDirSystem, L"qzim_py.bin", 0, 2));
    py->SetReady(true);
    ASSERT_TRUE(t_keyPyMap::WriteImage(dir.WAt("user/qzim_keymap.bin").c_str()));
    t_keyPyMap& live = t_singleton<t_keyPyMap>::Get();
    ASSERT_TRUE(
        manager.Register(L"keymap", &live, 0, kStorageMemCopy, kDirUser, L"qzim_keymap.bin", 0, 2));
    ASSERT_TRUE(manager.LoadDict(L"keymap"));
    auto count = [&](const wchar_t* key, const wchar_t* syllable) {
        t_scopeHeap arena;
        t_keyMapItem* items = nullptr;
        int n = 0;
        if (!live.GetAllItems(arena, &items, &n, nullptr)) return -1;
        for (int i = 0; i < n; ++i)
            if (std::wstring(items[i].key) == key && items[i].id == SyllableTableFind(syllable))
                return items[i].count;
        return -1;
    };
    EXPECT_EQ(count(L"ni", L"ni"), -1);  // the empty map knows no key
    ASSERT_TRUE(ReloadKeymapFile());
    const int built = count(L"ni", L"ni");
    ASSERT_GE(built, 0);
    ASSERT_TRUE(live.AddUsage(L"ni", SyllableTableFind(L"ni"), 5));
    ASSERT_TRUE(ReloadKeymapFile());
    EXPECT_EQ(count(L"ni", L"ni"), built + 5);
    py->SetReady(false);  // without the pinyin dictionary nothing is rebuilt
    EXPECT_FALSE(ReloadKeymapFile());
    EXPECT_EQ(count(L"ni", L"ni"), built + 5);
    live.SetReady(false);
}

TEST(InputStringsTest, MailAndDomainTests) {
    const struct {
        const wchar_t* text;
        bool mail, domain;
    } cases[] = {
        {L"a@b.c", true, false},        {L"@b.c", false, false},
        {L"a@.bc", false, false},       {L"a@b..c", false, false},
        {L"a@b.c.d.e.f", false, false}, {L"me@mail.example.com", true, true},
        {L"abc.com", false, true},      {L"a..com", false, false},
        {L"a.com.com", false, false},   {L"www.example.museum", false, true},
        {L"example.co", false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CheckMailDomain(c.text) != nullptr, c.mail) << int(c.text[0]);
        EXPECT_EQ(EndsWithDomainSuffix(c.text), c.domain);
    }
}

TEST(InputStringsTest, LetterAndVowelTests) {
    const struct {
        const wchar_t* text;
        bool letters, lower, aeo;
    } cases[] = {{L"", true, true, false},     {L"Abc", true, false, false},
                 {L"zhang", true, true, true}, {L"xiang", true, true, false},
                 {L"ing", true, true, false},  {L"a1", false, false, true},
                 {L"sh", true, true, false}};
    for (const auto& c : cases) {
        EXPECT_EQ(IsAsciiLetterString(c.text), c.letters);
        EXPECT_EQ(IsLowerAsciiString(c.text), c.lower);
        EXPECT_EQ(HasOnlyAeoVowels(c.text), c.aeo);
    }
    EXPECT_FALSE(IsAsciiLetterString(nullptr));
}

TEST(InputStringsTest, SegmentsAndTokens) {
    t_scopeHeap heap;
    const auto ends = Units({4, 6, 8, 6, 10, 12});
    const t_segmentedStr seg(L"ab''cd''xy", L(ends));
    const struct {
        int index;
        const wchar_t* trimmed;                                         // null: no segment
    } cases[] = {{0, nullptr}, {1, L"ab"},   {2, L"cd"}, {3, nullptr},  // only apostrophes
                 {4, nullptr},                // its end lies before its start
                 {5, L"''xy"}, {6, nullptr},  // beyond the text
                 {7, nullptr}};
    for (const auto& c : cases) {
        const t_lstr* t = seg.GetSegmentTrimmed(heap, c.index);
        EXPECT_EQ(t ? Wide(t) : L"<none>", c.trimmed ? c.trimmed : L"<none>") << c.index;
    }
    int n = 0;

    t_lstrTokenizer tokens(heap.WideToLstr(L"abc12,De"));
    std::vector<std::wstring> seen;
    while (const uint16_t* p = tokens.Next(&n)) seen.emplace_back(p, p + n);
    EXPECT_EQ(seen, (std::vector<std::wstring>{L"abc", L"1", L"2", L",", L"De"}));
    EXPECT_EQ(tokens.TokenCount(), 5);
    EXPECT_EQ(tokens.UnitCount(), 8);

    const uint16_t pair[] = {0xD83D, 0xDE00, 0xDC00};
    EXPECT_EQ(DecodeUtf16Pair(&n, pair, 2), 0x1F600u);
    EXPECT_EQ(n, 2);
    EXPECT_EQ(DecodeUtf16Pair(&n, pair, 1), 0xD83Du);
    EXPECT_EQ(DecodeUtf16Pair(&n, pair + 2, 1), 0xDC00u);
    EXPECT_EQ(n, 1);
}

}  // namespace
