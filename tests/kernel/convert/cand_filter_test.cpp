// Candidate filters and auxiliary codes: matching by pinyin, components and
// strokes on a small annex, bounded backtracking, the enumeration of
// characters, the outer filter, and the filters on the built system data.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kernel/convert/cand_array.h"
#include "kernel/convert/cand_filter.h"
#include "kernel/lexicon/small_dicts.h"
#include "kernel/lexicon/stroke_annex_writer.h"
#include "kernel/lexicon/syllable_table.h"
#include "kernel/runtime/singleton.h"
#include "tests/kernel/convert/filter_support.h"

namespace {

constexpr uint16_t kJiang = 0x6C5F;  // 江: radical 水 + 3
constexpr uint16_t kShui = 0x6C34;   // 水
constexpr uint16_t kShan = 0x5C71;   // 山
constexpr uint16_t kMu = 0x6728;     // 木
constexpr uint16_t kLin = 0x6797;    // 林: radical 木 + 4 (a stroke code in its list)
constexpr uint16_t kYi = 0x4E00;     // 一: its own component, so it reads as one to three "h"

uint16_t Id(const wchar_t* s) {
    return uint16_t(SyllableTableFind(s));
}

std::vector<uint8_t> BuildSmallAnnex() {
    t_strokeAnnexWriter w;
    const uint16_t star = n_strokeAnnex::kCodeListSeparator;
    struct {
        uint16_t ch;
        std::vector<uint16_t> strokes;
        const wchar_t* reading;
        std::vector<uint16_t> codes;
    } entries[] = {
        {kShui, {2, 5, 3, 4}, L"shui", {kShui, star, 0}},
        {kJiang, {4, 4, 1, 1, 2, 1}, L"jiang", {kShui, star, 3}},
        {kShan, {2, 5, 2}, L"shan", {kShan, star, 0}},
        {kMu, {1, 2, 3, 4}, L"mu", {kMu, star, 0}},
        {kLin, {1, 2, 3, 4, 1, 2, 3, 4}, L"lin", {kMu, star, 4}},
        {kYi, {1}, L"yi", {kYi, star, 1}},
    };
    for (const auto& e : entries) {
        EXPECT_GE(w.AddEntry(e.ch, e.strokes, {{1, int16_t(Id(e.reading))}},
                             n_strokeAnnex::kTagRadical, e.codes),
                  0);
        EXPECT_TRUE(w.SetPinyinIds(e.ch, {Id(e.reading)}));
    }
    std::vector<uint8_t> image;
    EXPECT_TRUE(w.Build(image));
    return image;
}

class AuxCodeTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(annex_.Attach(BuildSmallAnnex()));
        keyMap_ = BuildDefaultKeyMap(arena_);
        ASSERT_TRUE(keyMap_);
        services_.keyMap = keyMap_.get();
        services_.annex = &annex_.dict;
    }
    bool Match(const std::u16string& text, const wchar_t* code, uint32_t flags = 0,
               std::u16string* cuts = nullptr) {
        t_auxCodeArcs arcs;
        arcs.Build(keyMap_.get(), code, uint32_t(std::wcslen(code)));
        t_auxCodeMatcher m(code, uint32_t(std::wcslen(code)), &arcs, services_, flags);
        const bool ok =
            m.Match(reinterpret_cast<const uint16_t*>(text.data()), uint32_t(text.size()));
        if (cuts) {
            cuts->clear();
            for (uint32_t i = 0; i < LstrGetLength(m.GetSplit()); ++i)
                *cuts += char16_t(LstrGetUnit(m.GetSplit(), i));
        }
        return ok;
    }

    t_scopeHeap arena_;
    t_attached<t_sysBhBsh> annex_;
    std::unique_ptr<t_keyPyMap> keyMap_;
    t_auxCodeServices services_;
};

TEST_F(AuxCodeTest, CharactersMatchByPinyinComponentsOrStrokes) {
    struct {
        const char* why;
        std::u16string text;
        const wchar_t* code;
        uint32_t flags;
        bool want;
    } cases[] = {
        {"abbreviated pinyin", u"江", L"j", 0, true},
        {"whole pinyin", u"江", L"jiang", 0, true},
        {"the radical's pinyin", u"江", L"s", 0, true},
        {"the radical's partial pinyin", u"江", L"sh", 0, true},
        {"first stroke", u"江", L"d", 0, true},
        {"nothing reads m", u"江", L"m", 0, false},
        {"radical, then the stroke code after the separator", u"林", L"md", 0, true},
        {"the starred unit is a stroke only", u"林", L"mh", 0, false},
        {"one code letter per character", u"江山", L"js", 0, true},
        {"the second character fails", u"江山", L"jm", 0, false},
        {"text may be left over", u"江山", L"j", 0, true},
        {"code may not be left over", u"江", L"js", 0, false},
        {"apostrophes are skipped", u"江山", L"j'sh'", 0, true},
        {"strokes run to the end of the code", u"江山", L"dsh", 0, false},
        {"pinyin alone does not use up a whole code", u"江", L"jiang", kAuxRequireWhole, false},
        {"a component does", u"林", L"md", kAuxRequireWhole, true},
        {"a digit reads as its syllable", u"3", L"y", 0, true},
        {"? only when allowed", u"3", L"?", 0, false},
        {"? allowed", u"3", L"?", kAuxAllowQuestion, true},
    };
    for (const auto& c : cases) EXPECT_EQ(Match(c.text, c.code, c.flags), c.want) << c.why;
}

TEST_F(AuxCodeTest, CutsFollowTheCharacters) {
    std::u16string cuts;
    ASSERT_TRUE(Match(u"江山", L"jsh", 0, &cuts));
    EXPECT_EQ(cuts, (std::u16string{1, 2, 4}));
    ASSERT_TRUE(Match(u"林", L"md", 0, &cuts));  // through its component list
    EXPECT_EQ(cuts, (std::u16string{1, 3}));
    ASSERT_FALSE(Match(u"江山", L"jm", 0, &cuts));
    EXPECT_EQ(cuts, (std::u16string{1}));
}

TEST_F(AuxCodeTest, BacktrackingStaysBoundedOnALongCode) {
    // Each 一 can take one, two or three "h": without remembering failed
    // states, the ways to split 60 "h" over 30 characters are beyond count.
    const std::u16string text(30, char16_t(kYi));
    const std::wstring fails = std::wstring(60, L'h') + L"m";
    t_auxCodeArcs arcs;
    arcs.Build(keyMap_.get(), fails.c_str(), uint32_t(fails.size()));
    t_auxCodeMatcher m(fails.c_str(), uint32_t(fails.size()), &arcs, services_, 0);
    EXPECT_FALSE(m.Match(reinterpret_cast<const uint16_t*>(text.data()), uint32_t(text.size())));
    EXPECT_LT(m.GetStepsUsed(), 31u * 62 * 2 * 4);  // a few steps per (character, position, flag)
    // The same text against a code it can use up is found.
    EXPECT_TRUE(Match(text, std::wstring(60, L'h').c_str()));
}

TEST_F(AuxCodeTest, EnumerationAndStrokeCandidates) {
    auto enumerate = [&](const wchar_t* code) {
        t_auxCodeArcs arcs;
        arcs.Build(keyMap_.get(), code, uint32_t(std::wcslen(code)));
        t_auxCodeMatcher m(code, uint32_t(std::wcslen(code)), &arcs, services_, 0);
        std::u16string out;
        int entry = -1;
        while (uint32_t ch = NextAuxCodeChar(&m, &entry)) out += char16_t(ch);
        return out;
    };
    EXPECT_EQ(enumerate(L"m"), u"木林");
    EXPECT_EQ(enumerate(L"s"), u"水江山");
    EXPECT_EQ(enumerate(L"q"), u"");

    t_scopeHeap heap;
    t_candWord* out[4];
    t_arrayWord array(out, 0, 4, 0, nullptr, &heap);
    EXPECT_EQ(AddStrokeDictWords(array, heap, 4, L"md", 0, 2, services_), 1);
    ASSERT_EQ(array.Arrange(), 1);
    EXPECT_EQ(LstrGetUnit(out[0]->text, 0), kLin);
    EXPECT_EQ(out[0]->sourceType, kCandSourceStroke);
    EXPECT_EQ(out[0]->score, 0.999);  // the character used up the code
    EXPECT_EQ(out[0]->coveredLength, 3u);
    EXPECT_EQ(LstrGetLength(out[0]->secondText), 6);  // 林(lín)
}

TEST_F(AuxCodeTest, FilterWithoutCodeKeepsEverything) {
    t_partionedZiFilter filter(services_);
    t_scopeHeap heap;
    std::wstring error;
    for (const wchar_t* code : {L"", static_cast<const wchar_t*>(nullptr)}) {
        EXPECT_EQ(ParseAuxCode(&filter, &error, &heap, code), 1);
        EXPECT_FALSE(filter.IsReady());
        EXPECT_EQ(filter.AcceptLstr(heap.WideToLstr(L"江")), 1);
    }
    ASSERT_EQ(ParseAuxCode(&filter, &error, &heap, L"m"), 1);
    EXPECT_TRUE(filter.IsReady());
    EXPECT_EQ(filter.AcceptLstr(heap.WideToLstr(L"江")), 0);
    EXPECT_EQ(filter.AcceptWide(L"林"), 1);
    EXPECT_TRUE(error.empty());
}

TEST(OuterFilterTest, PrivateUseCharactersAreRefusedOnlyWithTheSupportTable) {
    t_scopeHeap heap;
    t_outterCandFilter filter;
    t_supportCharDict& support = t_singleton<t_supportCharDict>::Get();
    const std::wstring longText = std::wstring(128, L'中') + L"\xE000";
    struct {
        const wchar_t* text;
        int loaded, unloaded;
    } cases[] = {{L"中文", 1, 1},
                 {L"\xE000", 0, 1},
                 {L"中\xE700", 0, 1},
                 {L"\xE701", 1, 1},
                 {longText.c_str(), 1, 1}};
    for (bool loaded : {false, true}) {
        support.SetReady(loaded);
        for (const auto& c : cases)
            EXPECT_EQ(filter.AcceptLstr(heap.WideToLstr(c.text)), loaded ? c.loaded : c.unloaded)
                << loaded;
        EXPECT_EQ(filter.AcceptLstr(nullptr), 0);
        EXPECT_EQ(filter.AcceptWide(L"\xE000"), 1);
    }
    support.SetReady(false);
}

// The common characters are those of GB 2312, both of its levels; a
// character beyond the Basic Plane is never one.
TEST(CommonCharFilterTest, CharactersOutsideGb2312AreRefused) {
    t_scopeHeap heap;
    t_commonCharFilter filter;
    const struct {
        const wchar_t* text;
        int accepted;
    } cases[] = {{L"和咯", 1}, {L"浏览", 1}, {L"hello", 1},
                 {L"，〇", 1}, {L"和囖", 0}, {L"和珅", 0}};
    for (const auto& c : cases)
        EXPECT_EQ(c.accepted, filter.AcceptLstr(heap.WideToLstr(c.text))) << c.text;
    const uint16_t beyond[] = {0xD840, 0xDC00};  // U+20000
    EXPECT_EQ(0, filter.AcceptLstr(heap.MakeLstr(beyond, sizeof beyond)));
    EXPECT_EQ(1, filter.AcceptWide(L"囖"));
}

// --------------------------------------------------------------- built data

class AuxCodeBuiltDataTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::vector<uint8_t> annex, hz;
        if (!ReadSystemDataFile("qzim_annex.bin", annex) || !ReadSystemDataFile("qzim_hz.bin", hz))
            GTEST_SKIP() << "built system data not found (VETRA_SYSTEM_DATA_DIR)";
        ASSERT_TRUE(annex_.Attach(std::move(annex)));
        ASSERT_TRUE(hz_.Attach(std::move(hz)));
        keyMap_ = BuildDefaultKeyMap(arena_);
        ASSERT_TRUE(keyMap_);
        services_ = {keyMap_.get(), &hz_.dict, &annex_.dict};
    }
    t_scopeHeap arena_;
    t_attached<t_sysBhBsh> annex_;
    t_attached<t_hzDict> hz_;
    std::unique_ptr<t_keyPyMap> keyMap_;
    t_auxCodeServices services_;
};

TEST_F(AuxCodeBuiltDataTest, FilterKeepsTheWordsTheCodeNames) {
    t_scopeHeap heap;
    struct {
        const wchar_t* code;
        const wchar_t* text;
        int want;
    } cases[] = {
        {L"j", L"江", 1},     {L"s", L"江", 1},    {L"m", L"江", 0},    {L"m", L"林", 1},
        {L"js", L"江山", 1},  {L"jx", L"江山", 0}, {L"b", L"北京", 1},  {L"bj", L"北京", 1},
        {L"bei", L"北京", 1}, {L"x", L"北京", 0},  {L"zh", L"中文", 1}, {L"k", L"中文", 0},
    };
    for (const auto& c : cases) {
        t_partionedZiFilter filter(services_);
        ASSERT_EQ(ParseAuxCode(&filter, nullptr, &heap, c.code), 1);
        EXPECT_EQ(filter.AcceptLstr(heap.WideToLstr(c.text)), c.want)
            << c.code << " " << int(c.text[0]);
    }
}

TEST_F(AuxCodeBuiltDataTest, IndexedEnumerationFindsWhatAFullScanFinds) {
    for (const wchar_t* code : {L"s", L"mu", L"hs", L"kou"}) {
        const uint32_t n = uint32_t(std::wcslen(code));
        t_auxCodeArcs arcs;
        arcs.Build(keyMap_.get(), code, n);
        t_auxCodeMatcher indexed(code, n, &arcs, services_, 0);
        std::vector<int> found;
        int entry = -1;
        while (NextAuxCodeChar(&indexed, &entry)) found.push_back(entry);

        t_auxCodeMatcher scan(code, n, &arcs, services_, 0);
        std::vector<int> all;
        for (int i = 0; i < annex_.dict.GetCount(); ++i) {
            int units = 0;
            const uint16_t* codes = nullptr;
            uint32_t tag = 0;
            if (!annex_.dict.GetCodeList(i, &units, &codes, &tag)) continue;
            std::vector<uint16_t> list(size_t(units), 0);
            std::memcpy(list.data(), codes, list.size() * 2);
            if (scan.Match(list.data(), uint32_t(units))) all.push_back(i);
        }
        EXPECT_EQ(found, all) << code;
        EXPECT_GT(found.size(), 10u) << code;
    }
}

}  // namespace
