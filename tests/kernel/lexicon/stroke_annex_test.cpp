// The stroke and radical annex: key conversion, look-ups, stroke search, the
// matcher, and damaged images.
#include "kernel/lexicon/stroke_annex.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <string>
#include <vector>

#include "kernel/lexicon/stroke_annex_writer.h"
#include "kernel/lexicon/syllable_table.h"
#include "kernel/runtime/cand_word.h"
#include "tests/kernel/lexicon/built_data_support.h"

namespace {

using Codes = std::vector<uint16_t>;

int16_t Id(const wchar_t* syllable) {
    return int16_t(SyllableTableFind(syllable));
}

constexpr uint16_t kShi = 0x5341;   // 十 12
constexpr uint16_t kTu = 0x571F;    // 土 121
constexpr uint16_t kGan = 0x5E72;   // 干 112
constexpr uint16_t kWang = 0x738B;  // 王 1121
constexpr uint16_t kQian = 0x5343;  // 千 312
constexpr uint16_t kBu = 0x535C;    // 卜 24
constexpr uint16_t kJiu = 0x4E5D;   // 九 35 (entry with a bad reading)
constexpr uint32_t kTag = 0x12345;

// A small annex: a digit in the "12" chain is listed before 十 and must be
// skipped by the search.
std::vector<uint8_t> BuildSmallAnnex() {
    t_strokeAnnexWriter w(kTag);
    EXPECT_TRUE(w.AddStrokeChar({1, 2}, '1'));
    EXPECT_TRUE(w.AddStrokeChar({1, 2}, kShi));
    EXPECT_TRUE(w.AddStrokeChar({1, 2, 1}, kTu));
    EXPECT_TRUE(w.AddStrokeChar({1, 1, 2}, kGan));
    EXPECT_TRUE(w.AddStrokeChar({1, 1, 2, 1}, kWang));
    EXPECT_TRUE(w.AddStrokeChar({3, 1, 2}, kQian));
    EXPECT_TRUE(w.AddStrokeChar({2, 4}, kBu));
    EXPECT_EQ(
        w.AddEntry(kShi, {1, 2}, {{2, Id(L"shi")}}, n_strokeAnnex::kTagRadical, {kShi, '*', 0}), 0);
    EXPECT_EQ(w.AddEntry(kTu, {1, 2, 1}, {}, 0, {}), 1);  // no readings
    EXPECT_EQ(w.AddEntry(kGan, {1, 1, 2}, {{1, Id(L"gan")}, {4, Id(L"gan")}}, 1, Codes(65, 'x')),
              2);
    EXPECT_EQ(w.AddEntry(kJiu, {3, 5}, {{3, Id(L"jiu")}, {0, -4}}, 0, {}), 3);
    EXPECT_EQ(w.AddEntry(kShi, {1}, {}, 0, {}), -1);  // one entry per character
    EXPECT_TRUE(w.SetPinyinIds(kShi, {uint16_t(Id(L"shi"))}));
    EXPECT_TRUE(w.SetPinyinIds(kGan, {uint16_t(Id(L"gan")), uint16_t(Id(L"han"))}));
    std::vector<uint8_t> image;
    EXPECT_TRUE(w.Build(image)) << (w.GetLastError() ? w.GetLastError() : "");
    return image;
}

struct t_annex {
    std::vector<uint8_t> image;
    t_sysBhBsh dict;
    explicit t_annex(std::vector<uint8_t> b) : image(std::move(b)) {
        dict.SetReady(dict.Load(image.data(), int32_t(image.size())));
    }
};

std::wstring Text(const t_lstr* s) {
    std::wstring out;
    for (uint16_t i = 0; s && i < LstrGetLength(s); ++i) out += wchar_t(LstrGetUnit(s, i));
    return out;
}

std::wstring Search(t_sysBhBsh& dict, const wchar_t* input, int skip = 0, int max = 10,
                    std::vector<t_candWord*>* records = nullptr) {
    static t_scopeHeap heap;
    std::vector<t_candWord*> out(size_t(max > 0 ? max : 1), nullptr);
    const int n = dict.SearchByInput(&heap, input, out.data(), skip, max);
    std::wstring texts;
    for (int i = 0; i < n; ++i) texts += Text(out[size_t(i)]->text);
    if (records) records->assign(out.begin(), out.begin() + n);
    return texts;
}

class t_refuseFilter : public i_candidateFilter {
public:
    explicit t_refuseFilter(uint16_t ch) : m_ch(ch) {}
    int AcceptWide(const wchar_t*) override { return 1; }
    int AcceptLstr(const t_lstr* text) override {
        ++calls;
        return !(LstrGetLength(text) == 1 && LstrGetUnit(text, 0) == m_ch);
    }
    int calls = 0;

private:
    uint16_t m_ch;
};

}  // namespace

// ---------------------------------------------------------------- key conversion

// Letters h s p n z and digits 1-5 are the five strokes; '?' is the
// wildcard 100; other keys fail strictly and are marked 65535 leniently.
TEST(StrokeKeyTest, KeysConvertToStrokeCodes) {
    const struct {
        const wchar_t* keys;
        bool lenient;
        Codes codes;  // empty: the conversion fails
    } cases[] = {
        {L"hspnz", false, {1, 2, 3, 4, 5}},
        {L"12345", false, {1, 2, 3, 4, 5}},
        {L"d", false, {4}},
        {L"h?z", false, {1, 100, 5}},
        {L"hx", false, {}},
        {L"hx", true, {1, 65535}},
        {L"", true, {}},
        {nullptr, true, {}},
    };
    for (const auto& c : cases) {
        uint16_t a[kMaxStrokeKeys];
        const int n = StrokeKeyToCode(c.keys, a, c.lenient);
        SCOPED_TRACE(testing::Message() << (c.keys ? c.keys : L"null") << " lenient " << c.lenient);
        ASSERT_EQ(n, int(c.codes.size()));
        EXPECT_EQ(Codes(a, a + n), c.codes);
    }
}

TEST(StrokeKeyTest, SeventyKeysConvertOnlyTheFirstSixtyFour) {
    uint16_t a[kMaxStrokeKeys];
    const std::wstring keys(70, L'h');
    EXPECT_EQ(StrokeKeyToCode(keys.c_str(), a, false), 64);
    uint8_t buffer[2 + 2 * kMaxStrokeKeys];
    auto* s = reinterpret_cast<t_lstr*>(buffer);
    EXPECT_EQ(StrokeStringToCodes(keys.c_str(), s), 128);
    EXPECT_EQ(LstrGetLength(s), 64);
    EXPECT_EQ(StrokeStringToCodes(L"h1x", s), 0);
}

// ---------------------------------------------------------------- look-ups

TEST(StrokeAnnexTest, CharacterLookUps) {
    t_annex a(BuildSmallAnnex());
    ASSERT_TRUE(a.dict.IsReady());
    uint16_t ids[4] = {};
    ASSERT_EQ(a.dict.GetCharPinyinIds(kGan, ids, 4), 2);
    EXPECT_EQ(ids[1], Id(L"han"));
    EXPECT_EQ(a.dict.GetCharPinyinIds(kGan, ids, 1), 1);
    EXPECT_EQ(a.dict.GetCharPinyinIds(kGan, ids, 0), 0);
    EXPECT_EQ(a.dict.GetCharPinyinIds(kBu, ids, 4), 0);
    EXPECT_EQ(a.dict.FindCharIndex(kGan), 2);
    EXPECT_EQ(a.dict.FindCharIndex(kBu), -1);
    EXPECT_EQ(a.dict.FindCharIndex(0x1F600), -1);
    EXPECT_GE(a.dict.GetCount(), 4);
    EXPECT_EQ(Text(a.dict.GetEntryByIndex(0)), L"十");
    EXPECT_EQ(a.dict.GetEntryByIndex(4), nullptr);
    EXPECT_EQ(a.dict.GetEntryByIndex(-1), nullptr);
    EXPECT_EQ(a.dict.GetConfigValue(), kTag);
}

TEST(StrokeAnnexTest, ReadingsTextJoinsToneMarkedSyllables) {
    t_annex a(BuildSmallAnnex());
    std::wstring text = L">";
    EXPECT_EQ(a.dict.GetCharReadingsText(kGan, text), 2);
    EXPECT_EQ(text, L">gān,gàn");
    text.clear();
    EXPECT_EQ(a.dict.GetReadingsText(1, text), 0);  // no readings
    EXPECT_EQ(text, L"");
    // a negative id ends it, keeping what was appended
    EXPECT_EQ(a.dict.GetCharReadingsText(kJiu, text), 0);
    EXPECT_EQ(text, L"jiǔ");
    EXPECT_EQ(a.dict.GetReadingsText(-1, text), 0);
}

TEST(StrokeAnnexTest, CodeListsUpToSixtyFourUnits) {
    t_annex a(BuildSmallAnnex());
    int units = 0;
    const uint16_t* codes = nullptr;
    uint32_t tag = 0;
    ASSERT_EQ(a.dict.GetCodeList(0, &units, &codes, &tag), 1);
    EXPECT_EQ(tag, n_strokeAnnex::kTagRadical);
    ASSERT_EQ(units, 3);
    uint16_t first;
    std::memcpy(&first, codes, 2);
    EXPECT_EQ(first, kShi);
    EXPECT_EQ(a.dict.GetCodeList(2, &units, &codes, &tag), 0);  // 65 units
    EXPECT_EQ(a.dict.GetCodeList(1, &units, &codes, &tag), 0);  // none
}

TEST(StrokeAnnexTest, SkipToItemStaysInsideTheList) {
    const uint16_t list[] = {'a', '*', 'b', 8, 'c', 'd', 'e', 'f'};
    int units = -1;
    const uint16_t* p = BhBshSkipToItem(list, 8, 2, &units);
    ASSERT_EQ(p, list + 4);
    EXPECT_EQ(units, 4);
    EXPECT_EQ(BhBshSkipToItem(list, 8, 7, &units), nullptr);
    EXPECT_EQ(units, 0);
    EXPECT_EQ(BhBshSkipToItem(list, 3, 2, &units), nullptr);
}

// Regression: the stroke codes were copied into the caller's buffer without
// its size; a sequence that does not fit is now refused.
TEST(StrokeAnnexTest, StrokeCodesCopyIsBoundedByTheBuffer) {
    t_annex a(BuildSmallAnnex());
    uint8_t buffer[16];
    std::memset(buffer, 0xAB, sizeof buffer);
    auto* s = reinterpret_cast<t_lstr*>(buffer);
    ASSERT_EQ(a.dict.GetStrokeCodes(kTu, s, sizeof buffer), 3);
    EXPECT_EQ(LstrGetUnit(s, 2), 1);
    std::memset(buffer, 0xAB, sizeof buffer);
    EXPECT_EQ(a.dict.GetStrokeCodes(kTu, s, 7), 0);  // needs 8 bytes
    EXPECT_EQ(buffer[0], 0xAB);
    EXPECT_EQ(a.dict.GetStrokeCodes(kBu, s, sizeof buffer), 0);  // no entry
    t_sysBhBsh empty;
    EXPECT_EQ(empty.GetStrokeCodes(kTu, s, sizeof buffer), 0);
}

TEST(StrokeAnnexTest, WrapInParensAppendsTheText) {
    t_scopeHeap heap;
    const uint16_t ch = kShi;
    t_lstr* out = nullptr;
    ASSERT_TRUE(t_sysBhBsh::WrapInParens(&heap, heap.MakeLstr(&ch, 2), L"shí", &out));
    EXPECT_EQ(Text(out), L"十(shí)");
    EXPECT_FALSE(t_sysBhBsh::WrapInParens(&heap, nullptr, L"x", &out));
    EXPECT_EQ(out, nullptr);
}

TEST(StrokeAnnexTest, NotReadyAnswersNothing) {
    t_sysBhBsh dict;
    uint16_t ids[2];
    std::wstring text;
    EXPECT_EQ(dict.GetCharPinyinIds(kShi, ids, 2), 0);
    EXPECT_EQ(dict.FindCharIndex(kShi), -1);
    EXPECT_EQ(dict.GetCount(), 0);
    EXPECT_EQ(dict.GetConfigValue(), 0u);
    EXPECT_EQ(dict.GetReadingsText(0, text), 0);
    EXPECT_EQ(Search(dict, L"hs"), L"");
    std::vector<uint8_t> image = BuildSmallAnnex();
    EXPECT_FALSE(dict.Load(image.data(), 0));
    EXPECT_FALSE(dict.Load(image.data(), int32_t(image.size() - 1)));
}

// ---------------------------------------------------------------- search

TEST(StrokeSearchTest, ListsCharactersWhoseStrokesBeginWithTheTyped) {
    t_annex a(BuildSmallAnnex());
    const struct {
        const wchar_t* input;
        int skip, max;
        const wchar_t* texts;
    } cases[] = {
        {L"hs", 0, 10, L"十土"},     // the digit listed before 十 is skipped
        {L"h", 0, 10, L"干王十土"},  // 112, 1121, 12, 121
        {L"''12", 0, 10, L"十土"},  {L"hh", 0, 10, L"干王"},
        {L"hsh", 0, 10, L"土"},     {L"hshh", 0, 10, L""},
        {L"h", 1, 2, L"王十"},  // skip and max page through the results
        {L"h", 3, 10, L"土"},       {L"h", 4, 10, L""},
        {L"h", 0, 0, L""},          {L"hx", 0, 10, L""},  // invalid or empty input
        {L"''", 0, 10, L""},        {L"", 0, 10, L""},
        {L"h?", 0, 10, L""},  // the wildcard is no stroke of the index
    };
    for (const auto& c : cases)
        EXPECT_EQ(Search(a.dict, c.input, c.skip, c.max), c.texts)
            << testing::Message() << c.input << " skip " << c.skip << " max " << c.max;

    std::vector<t_candWord*> records;
    ASSERT_EQ(Search(a.dict, L"hs", 0, 10, &records), L"十土");
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(Text(records[0]->secondText), L"十(shí)");
    EXPECT_EQ(Text(records[1]->secondText), L"土");  // no readings: no parentheses
    for (t_candWord* w : records) {
        EXPECT_EQ(w->sourceType, kCandSourceStroke);
        EXPECT_EQ(w->kind, kCandKindSpecial);
        ASSERT_EQ(LstrGetLength(w->syllableIds), 1);
        EXPECT_EQ(LstrGetUnit(w->syllableIds, 0), 1);
    }
    EXPECT_EQ(records[0]->syllableIds, records[1]->syllableIds);  // one shared list
}

TEST(StrokeSearchTest, InstalledFiltersDecideBeforeSkipCounts) {
    t_annex a(BuildSmallAnnex());
    t_refuseFilter noShi(kShi), noGan(kGan);
    a.dict.SetFilter(0, &noShi);
    a.dict.SetFilter(1, &noGan);
    EXPECT_EQ(Search(a.dict, L"h"), L"王土");
    EXPECT_EQ(Search(a.dict, L"h", 1), L"土");
    EXPECT_GT(noShi.calls, 0);
    a.dict.SetFilter(0, nullptr);
    a.dict.SetFilter(1, nullptr);
    EXPECT_EQ(Search(a.dict, L"h"), L"干王十土");  // 112, 1121, 12, 121
}

// ---------------------------------------------------------------- matcher

TEST(StrokeMatcherTest, MatchesCodesWithWildcards) {
    t_annex a(BuildSmallAnnex());
    t_strokeMatcher m;
    m.Init(&a.dict, L"h?h");
    ASSERT_EQ(m.GetTypedCount(), 3);
    const struct {
        const wchar_t* typed;
        Codes codes;  // empty: the strokes of ch
        uint16_t ch;
        int from;
        int result;
        uint32_t matched;  // 99: not checked
    } cases[] = {
        {L"h?h", {1, 1, 2, 1}, 0, 0, 0, 99},  // third typed h against 2
        {L"h?h", {1, 2, 1}, 0, 0, 1, 3},
        {L"h?h", {1, 0}, 0, 0, 1, 1},  // the list ends at 0
        {L"h?h", {}, kTu, 0, 1, 3},
        {L"h?h", {}, kShi, 2, 1, 1},  // h against 1 2: the typed codes end first
        {L"h?h", {}, kShi, 1, 0, 1},  // ? h against 1 2
        {L"h?h", {}, kBu, 0, 0, 99},  // no strokes
        {L"hxs", {}, kTu, 1, 0, 0},   // a non-stroke key at the position fails at once
        {L"hxs", {}, kTu, 9, 0, 99},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.typed << " from " << c.from << " ch " << c.ch);
        m.Init(&a.dict, c.typed);
        uint32_t matched = 0;
        const int r = c.codes.empty()
                          ? m.MatchChar(c.ch, c.from, &matched)
                          : m.MatchCodes(c.codes.data(), int(c.codes.size()), c.from, &matched);
        EXPECT_EQ(r, c.result);
        if (c.matched != 99) {
            EXPECT_EQ(matched, c.matched);
        }
    }
}

// ---------------------------------------------------------------- damaged images

// Every byte of the small annex set to values that break it (the large
// bucket array of the entry table sampled): the image is either refused or
// every look-up stays inside it (run under ASan).
TEST(StrokeAnnexTest, CorruptionSweepNeverReadsOutsideTheImage) {
    const std::vector<uint8_t> good = BuildSmallAnnex();
    t_sysBhBsh probe;
    ASSERT_TRUE(probe.Load(const_cast<uint8_t*>(good.data()), int32_t(good.size())));
    // the entry table's bucket array: 32768 x 8 bytes of mostly empty buckets
    t_tableFile reader;
    reader.SetBucketCount(3, n_strokeAnnex::kEntryBuckets);
    ASSERT_TRUE(reader.Attach(good.data(), n_strokeAnnex::kFormatVersion, int64_t(good.size())));
    const size_t itemsAt = size_t(reader.GetItemsStart() - reader.GetImage());
    const size_t bucketsFrom =
        itemsAt + size_t(reader.GetKeyTableOffset(3)) - 8 * n_strokeAnnex::kEntryBuckets;
    const size_t bucketsTo = itemsAt + size_t(reader.GetKeyTableOffset(3));

    auto* copy = static_cast<uint8_t*>(malloc(good.size()));
    std::memcpy(copy, good.data(), good.size());
    int accepted = 0;
    for (size_t at = 0; at < good.size(); ++at) {
        if (at >= bucketsFrom && at < bucketsTo && (at - bucketsFrom) % 61 != 0) continue;
        for (uint8_t v : {uint8_t(0x00), uint8_t(0xFF), uint8_t(0x7F), uint8_t(good[at] ^ 0x04)}) {
            if (v == good[at]) continue;
            copy[at] = v;
            t_sysBhBsh d;
            const bool ok = d.Load(copy, int32_t(good.size()));
            d.SetReady(ok);
            if (ok) {
                ++accepted;
                t_scopeHeap heap;
                t_candWord* out[8];
                d.SearchByInput(&heap, L"h", out, 0, 8);
                d.SearchByInput(&heap, L"hs", out, 1, 8);
                uint16_t ids[8];
                std::wstring text;
                int units = 0;
                const uint16_t* codes = nullptr;
                uint32_t tag = 0;
                uint8_t strokes[2 + 2 * 64];
                uint16_t sink = 0;
                for (uint16_t ch : {kShi, kTu, kGan, kJiu, kBu}) {
                    d.GetCharPinyinIds(ch, ids, 8);
                    d.GetCharReadingsText(ch, text);
                    d.GetStrokeCodes(ch, reinterpret_cast<t_lstr*>(strokes), sizeof strokes);
                    const int i = d.FindCharIndex(ch);
                    if (d.GetCodeList(i, &units, &codes, &tag)) {
                        for (int u = 0; u < units; ++u) {
                            uint16_t c;
                            std::memcpy(&c, codes + u, 2);
                            sink ^= c;
                        }
                    }
                    LstrGetByteLength(d.GetEntryByIndex(i));
                }
                t_strokeMatcher m;
                m.Init(&d, L"h?s");
                uint32_t matched = 0;
                m.MatchChar(kTu, 0, &matched);
                (void)sink;
            }
            copy[at] = good[at];
        }
    }
    free(copy);
    EXPECT_GT(accepted, 0);
}

// ---------------------------------------------------------------- built data

TEST(StrokeAnnexBuiltDataTest, TypingHsListsTenAmongTheFirstResults) {
    std::vector<uint8_t> image;
    if (!ReadBuiltSystemFile("qzim_annex.bin", image))
        GTEST_SKIP() << "qzim_annex.bin not built (data build off)";
    t_annex a(std::move(image));
    ASSERT_TRUE(a.dict.IsReady());
    const std::wstring first = Search(a.dict, L"hs", 0, 5);
    EXPECT_NE(first.find(L'十'), std::wstring::npos);
    std::wstring text;
    EXPECT_GE(a.dict.GetCharReadingsText(0x884C, text), 2);  // 行: xíng, háng
    EXPECT_NE(text.find(L"xíng"), std::wstring::npos);
    EXPECT_EQ(a.dict.GetCount(), 27485);  // one entry per character of the built annex
    // readings whose tone marks need the vowel rules
    for (auto [ch, reading] : {std::pair{0x7565u, L"lüè"}, std::pair{0x89C9u, L"jué"},
                               std::pair{0x8D35u, L"guì"}, std::pair{0x5218u, L"liú"}}) {
        text.clear();
        EXPECT_GE(a.dict.GetCharReadingsText(ch, text), 1);
        EXPECT_NE(text.find(reading), std::wstring::npos) << std::hex << ch;
    }
    uint16_t ids[10];
    EXPECT_GE(a.dict.GetCharPinyinIds(0x884C, ids, 10), 2);
}
