// The string order, the wildcard search and the read-only English,
// web-address and prediction dictionaries over small built images.
#include <gtest/gtest.h>

#include <algorithm>

#include "kernel/lexicon/string_dict.h"
#include "tests/kernel/lexicon/small_dicts_support.h"

using namespace dicttest;

namespace {

int Cmp(const std::u16string& a, const std::u16string& b) {
    return EngCompare(L(U(a)), L(U(b)));
}

Bytes EnglishImage(const std::vector<std::pair<std::u16string, uint32_t>>& words,
                   t_systemTable which = t_systemTable::kEngSys) {
    std::vector<t_fields> items;
    for (const auto& [w, freq] : words) items.push_back(t_fields().S(w).U32(0).U32(freq));
    return BuildImage(which, {items});
}

struct t_answer {
    int result = 0;
    uint32_t full = 0;
    int32_t total = 0;
    std::vector<std::u16string> texts;
};

template <class D>
t_answer Search(D& dict, const std::u16string& input, int minLength = 0) {
    t_scopeHeap heap;
    t_strResult** out = nullptr;
    t_answer a;
    const Bytes key = U(input);
    a.result = dict.Search(heap, L(key), minLength, &out, &a.full, &a.total);
    for (int32_t i = 0; i < a.total; ++i) a.texts.push_back(Text(out[i]->text));
    return a;
}

class EngSysDictTest : public ::testing::Test {
protected:
    void SetUp() override {
        image = EnglishImage({{u"xaaa", 1},
                              {u"mnxcyd", 1},
                              {u"mnxdyc", 1},
                              {u"abc", 50},
                              {u"abcd", 40},
                              {u"abcde", 30},
                              {u"abP", 5},
                              {u"Don't", 20},
                              {u"*a", 3},
                              {u"zebra", 9}});
        ASSERT_TRUE(dict.Load(image.data(), int32_t(image.size())));
    }
    Bytes image;
    t_engSysDict dict;
};

}  // namespace

TEST(EngCompareTest, ApostrophesAndCaseAreIgnored) {
    EXPECT_EQ(0, Cmp(u"don't", u"DONT"));
    EXPECT_EQ(0, Cmp(u"'o'clock'", u"Oclock"));
    EXPECT_EQ(-1, Cmp(u"abc", u"abcd"));
    EXPECT_EQ(1, Cmp(u"abcd", u"ABC"));
    EXPECT_EQ(-2, Cmp(u"abc", u"abd"));
    EXPECT_EQ(2, Cmp(u"b", u"Abc"));
    EXPECT_EQ(0, Cmp(u"", u"''"));
}

// One row per search: the texts in the order given (sorted first where the
// order is open), and the count of full matches where it is checked.
TEST_F(EngSysDictTest, SearchFindsTheWordsTheInputDescribes) {
    constexpr uint32_t kAnyFull = 99;
    using Texts = std::vector<std::u16string>;
    const struct {
        const char16_t* input;
        int minLength;
        Texts texts;
        uint32_t full;
        bool sorted;
    } cases[] = {
        {u"ab*d", 0, {u"abcd"}, 0, false},             // the wildcard matches the whole rest
        {u"ab*d*", 0, {u"abcd", u"abcde"}, 0, true},   // unless the input ends open
        {u"mn*c*d", 0, {u"mnxcyd"}, kAnyFull, false},  // segments match in order
        {u"x*aa", 0, {u"xaaa"}, kAnyFull, false},      // the last segment may match later
        {u"x*aaaa", 0, {}, kAnyFull, false},
        {u"AB*D", 0, {u"ABcD"}, kAnyFull, false},  // typed capitals go place by place
        {u"DONT", 0, {u"DON'T"}, 1, false},        // the stored apostrophe is stepped over
        {u"*ab", 0, {u"*a"}, kAnyFull, false},     // a leading star is part of the key "*a"
        {u"***", 0, {}, kAnyFull, false},
        {u"", 0, {}, kAnyFull, false},
        {u"ab*0", 0, {u"abP"}, kAnyFull, false},  // the wildcard digit 0 is the letter p
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.input, c.input + std::char_traits<char16_t>::length(c.input)));
        t_answer a = Search(dict, c.input, c.minLength);
        EXPECT_EQ(1, a.result);
        if (c.sorted) std::sort(a.texts.begin(), a.texts.end());
        EXPECT_EQ(c.texts, a.texts);
        if (c.full != kAnyFull) {
            EXPECT_EQ(c.full, a.full);
        }
    }
    // Full matches come first, and only words longer than minLength count.
    const t_answer a = Search(dict, u"abc");
    EXPECT_EQ(1u, a.full);
    ASSERT_EQ(3, a.total);
    EXPECT_EQ(u"abc", a.texts[0]);
    EXPECT_EQ(2, Search(dict, u"abc", 3).total);
}

TEST_F(EngSysDictTest, ManyWildcardSegmentsStayCheap) {
    std::u16string input = u"x";
    for (int i = 0; i < 3000; ++i) input += u"*a";
    input += u"*b";
    const t_answer a = Search(dict, input);
    EXPECT_EQ(1, a.result);
    EXPECT_EQ(0, a.total);
}

TEST_F(EngSysDictTest, WordFrequencyNeedsTheExactSpelling) {
    uint32_t freq = 0;
    EXPECT_EQ(1, dict.GetWordFreq(L(U(u"Don't")), &freq));
    EXPECT_EQ(20u, freq);
    EXPECT_EQ(0, dict.GetWordFreq(L(U(u"dont")), &freq));
    EXPECT_EQ(0, dict.GetWordFreq(L(U(u"absent")), &freq));
}

TEST_F(EngSysDictTest, PrefixWordsAreTheStoredProperPrefixes) {
    t_scopeHeap heap;
    t_strResult** out = nullptr;
    int32_t count = 0;
    ASSERT_EQ(1, dict.GetPrefixWords(heap, L(U(u"abcdef")), &out, &count));
    ASSERT_EQ(3, count);
    EXPECT_EQ(u"abc", Text(out[0]->text));
    EXPECT_EQ(u"abcd", Text(out[1]->text));
    EXPECT_EQ(u"abcde", Text(out[2]->text));
    EXPECT_EQ(0, out[0]->source);
    EXPECT_EQ(50u, out[0]->count);
}

TEST(StringSysDictTest, NotReadyAndDamagedImagesAnswerNothing) {
    t_engSysDict eng;
    EXPECT_EQ(0, Search(eng, u"abc").result);
    Bytes image = EnglishImage({{u"abc", 1}});
    // The wrong format version is refused.
    t_preEngDict pre;
    EXPECT_FALSE(pre.Load(image.data(), int32_t(image.size())));
    EXPECT_EQ(0, pre.Contains(L(U(u"abc"))));
    image.resize(image.size() / 2);
    EXPECT_FALSE(eng.Load(image.data(), int32_t(image.size())));
    EXPECT_FALSE(eng.IsReady());
    EXPECT_FALSE(eng.Load(nullptr, 0));
}

TEST(StringSysDictTest, WebAddressesCompleteByPrefix) {
    Bytes image =
        EnglishImage({{u"www.example.org", 5}, {u"www.example.com", 9}, {u"example.net", 1}},
                     t_systemTable::kUrlSys);
    t_urlSysDict url;
    ASSERT_TRUE(url.Load(image.data(), int32_t(image.size())));
    t_answer a = Search(url, u"WWW.ex");
    EXPECT_EQ(2, a.total);
    for (const auto& t : a.texts) EXPECT_EQ(u"WWW.ex", t.substr(0, 6));
    a = Search(url, u"www.*.net");
    EXPECT_EQ(0, a.total);
}

TEST(StringSysDictTest, PredictionKeysAreFoundExactly) {
    Bytes image =
        BuildImage(t_systemTable::kPreEng, {{t_fields().S(u"hello"), t_fields().S(u"help")}});
    t_preEngDict pre;
    ASSERT_TRUE(pre.Load(image.data(), int32_t(image.size())));
    EXPECT_EQ(1, pre.Contains(L(U(u"help"))));
    EXPECT_EQ(0, pre.Contains(L(U(u"hel"))));
}

TEST(StringSysDictTest, DamagedImagesNeverReadOutside) {
    const Bytes good =
        EnglishImage({{u"abc", 1}, {u"abcd", 2}, {u"Don't", 3}, {u"zebra", 4}, {u"zoo", 5}});
    size_t attached = 0;
    for (size_t at = 0; at < good.size(); ++at) {
        Bytes bad = good;
        bad[at] ^= 0x5A;
        t_engSysDict eng;
        if (!eng.Load(bad.data(), int32_t(bad.size()))) continue;
        ++attached;
        // Whatever a damaged image answers, the strings handed out lie whole
        // inside it and the counts agree.
        auto inside = [&](const t_lstr* s) {
            const uint8_t* p = reinterpret_cast<const uint8_t*>(s);
            return p >= bad.data() && p + LstrGetTotalBytes(s) <= bad.data() + bad.size();
        };
        t_scopeHeap heap;
        t_strResult** out = nullptr;
        int32_t count = 0;
        uint32_t freq = 0, full = 0;
        for (const char16_t* input : {u"ab*d*", u"z"}) {
            const Bytes key = U(input);
            int32_t total = 0;
            if (!eng.Search(heap, L(key), 0, &out, &full, &total)) continue;
            ASSERT_GE(total, 0) << at;
            EXPECT_LE(full, uint32_t(total)) << at;
            for (int32_t i = 0; i < total; ++i) {
                EXPECT_TRUE(inside(out[i]->stored)) << at;
                EXPECT_EQ(LstrGetLength(out[i]->text), LstrGetLength(out[i]->stored)) << at;
            }
        }
        if (eng.GetPrefixWords(heap, L(U(u"abcde")), &out, &count)) {
            for (int32_t i = 0; i < count; ++i) EXPECT_TRUE(inside(out[i]->stored)) << at;
        }
        eng.GetWordFreq(L(U(u"Don't")), &freq);
    }
    EXPECT_GT(attached, 0u);
    EXPECT_LT(attached, good.size());  // damage to the header and tables is refused
}
