// Deleted words, fixed-first words, cloud-answer caches and contact names:
// records, states, trims and bounded lookups.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "kernel/runtime/scope_heap.h"
#include "kernel/userdict/cloud_cache.h"
#include "kernel/userdict/contacts.h"
#include "kernel/userdict/deleted_words.h"
#include "kernel/userdict/fixed_words.h"
#include "tests/kernel/userdict/usr_support.h"

namespace {

TestLstr T(const std::u16string& s) {
    return TestLstr::Text(s);
}

std::u16string Numbered(const char16_t* base, int i) {
    return base + std::u16string(1, char16_t(u'A' + i / 26)) +
           std::u16string(1, char16_t(u'a' + i % 26));
}

// ---------------------------------------------------------------- deleted words

class DelWordTest : public ::testing::Test {
protected:
    void Attach(uint32_t rows, uint32_t bytes) {
        std::vector<uint8_t> image;
        ASSERT_TRUE(t_delWordDict::BuildImage(image, rows, bytes));
        ASSERT_TRUE(dict.AttachCopy(image.data(), image.size()));
    }
    void SetUp() override { Attach(100, 10000); }
    t_delWordDict dict;
};

TEST_F(DelWordTest, AWordCountsAsDeletedWhileItsTimeIsNotZero) {
    EXPECT_EQ(dict.AddWord(T(u"你好").get(), 0), 1);
    EXPECT_EQ(dict.IsDeleted(T(u"你好").get()), 0);
    EXPECT_EQ(dict.AddWord(T(u"你好").get(), 1700000000u), 1);
    EXPECT_EQ(dict.IsDeleted(T(u"你好").get()), 1);
    EXPECT_EQ(dict.AddWord(T(u"你好").get(), 1800000000u), 1);  // a new time replaces the old
    EXPECT_EQ(dict.GetCount(), 1);
    EXPECT_EQ(dict.ClearWord(T(u"你好").get()), 1);
    EXPECT_EQ(dict.IsDeleted(T(u"你好").get()), 0);
    EXPECT_EQ(dict.GetCount(), 1);  // restored, still present
    EXPECT_EQ(dict.ClearWord(T(u"unknown").get()), 1);
    EXPECT_EQ(dict.GetCount(), 1);
    EXPECT_EQ(dict.IsDeleted(T(u"unknown").get()), 0);
}

// Filling 18 of 20 rows trims two fifths of them, 7: restored rows go
// first and count toward the seven, then the oldest deletions.
TEST_F(DelWordTest, TheTrimDropsRestoredWordsThenTheOldestDeletions) {
    const struct {
        std::vector<int> restored;
        int firstKept;
    } rows[] = {{{}, 7}, {{10, 11, 12}, 4}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.firstKept);
        Attach(20, 10000);
        dict.SetRowLimit(20);
        for (int i = 0; i < 17; ++i)
            ASSERT_EQ(dict.AddWord(T(Numbered(u"w", i)).get(), uint32_t(100 + i)), 1);
        EXPECT_EQ(dict.GetCount(), 17);
        for (int i : r.restored) ASSERT_EQ(dict.ClearWord(T(Numbered(u"w", i)).get()), 1);
        ASSERT_EQ(dict.AddWord(T(Numbered(u"w", 17)).get(), 117), 1);
        EXPECT_EQ(dict.GetCount(), 11);
        for (int i = 0; i < 18; ++i) {
            const bool restored = std::count(r.restored.begin(), r.restored.end(), i) > 0;
            EXPECT_EQ(dict.IsDeleted(T(Numbered(u"w", i)).get()), i >= r.firstKept && !restored)
                << i;
        }
    }
}

// Loading nothing over a private copy releases that copy: the store must
// let go of it too, never read the freed image.
TEST_F(DelWordTest, LoadingNothingOverACopyDetaches) {
    EXPECT_EQ(dict.AddWord(nullptr, 1), 0);
    ASSERT_EQ(dict.AddWord(T(u"词").get(), 5), 1);
    EXPECT_FALSE(dict.Load(nullptr, 0));
    // Detached, it answers nothing, like a store never loaded.
    t_delWordDict never;
    for (t_delWordDict* d : {&dict, &never}) {
        EXPECT_FALSE(d->IsReady());
        EXPECT_EQ(d->IsDeleted(T(u"词").get()), 0);
        EXPECT_EQ(d->ClearWord(T(u"词").get()), 0);
        EXPECT_EQ(d->AddWord(T(u"词").get(), 6), 0);
        EXPECT_EQ(d->GetCount(), 0);
    }
}

TEST_F(DelWordTest, SavedFileLoadsAgain) {
    TempDir dir;
    dict.AddWord(T(u"词").get(), 5);
    const std::wstring path = dir.WFile("qzim_del_word.bin");
    ASSERT_EQ(dict.SaveToFile(path.c_str()), 1);
    t_delWordDict again;
    ASSERT_TRUE(again.AttachFile(path.c_str()));
    EXPECT_EQ(again.IsDeleted(T(u"词").get()), 1);
    ASSERT_EQ(t_delWordDict::BuildImageToFile(path.c_str(), 50), 1);
    ASSERT_TRUE(again.AttachFile(path.c_str()));
    EXPECT_EQ(again.GetCount(), 0);
}

// ---------------------------------------------------------------- fixed-first words

class FixFirstTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::vector<uint8_t> image;
        ASSERT_TRUE(t_fixFirstDict::BuildImage(image, 100));
        ASSERT_TRUE(dict.AttachCopy(image.data(), image.size()));
    }
    int Pin(const std::u16string& key, const std::u16string& word) {
        return dict.SetFixedWord(T(key).get(), T(word).get(), T(u"2nd").get(), T(u"3rd").get());
    }
    std::u16string Pinned(const std::u16string& key) {
        t_scopeHeap arena;
        t_fixedWord w{};
        if (!dict.GetFixedWord(arena, T(key).get(), &w)) return u"<none>";
        return Text(w.word);
    }
    // Active records of the key.
    int Active(const std::u16string& key) {
        t_scopeHeap arena;
        t_fixedRecord** items = nullptr;
        int n = 0;
        EXPECT_EQ(dict.GetAllItems(arena, &items, &n), 1);
        int active = 0;
        for (int i = 0; i < n; ++i)
            if (Text(items[i]->key) == key && items[i]->state == kFixActive) ++active;
        return active;
    }
    t_fixFirstDict dict;
};

TEST_F(FixFirstTest, OneActivePinnedWordPerKey) {
    ASSERT_EQ(Pin(u"nh", u"你好"), 1);
    ASSERT_EQ(Pin(u"nh", u"您好"), 1);
    EXPECT_EQ(Pinned(u"nh"), u"您好");
    EXPECT_EQ(Active(u"nh"), 1);
    EXPECT_EQ(dict.GetCount(), 2);
    // Pinning the first again re-activates it without a new row.
    ASSERT_EQ(Pin(u"nh", u"你好"), 1);
    EXPECT_EQ(Pinned(u"nh"), u"你好");
    EXPECT_EQ(Active(u"nh"), 1);
    EXPECT_EQ(dict.GetCount(), 2);
    // Removing the active word leaves none.
    EXPECT_EQ(dict.RemoveItem(T(u"nh").get(), T(u"你好").get()), 1);
    EXPECT_EQ(Pinned(u"nh"), u"<none>");
    EXPECT_EQ(dict.RemoveItem(T(u"nh").get(), T(u"unknown").get()), 1);
    EXPECT_EQ(Pinned(u"zz"), u"<none>");
}

TEST_F(FixFirstTest, TheTextsComeBackWithTheWord) {
    ASSERT_EQ(
        dict.SetFixedWord(T(u"k").get(), T(u"word").get(), T(u"second").get(), T(u"third").get()),
        1);
    t_scopeHeap arena;
    t_fixedWord w{};
    ASSERT_EQ(dict.GetFixedWord(arena, T(u"k").get(), &w), 1);
    EXPECT_EQ(Text(w.second), u"second");
    EXPECT_EQ(Text(w.third), u"third");
}

TEST_F(FixFirstTest, MergedRecordsKeepOneActiveWord) {
    // A plain record is returned like an active one.
    ASSERT_EQ(dict.MergeFixedWord(T(u"a").get(), T(u"plain").get(), T(u"").get(), T(u"").get(),
                                  kFixPlain),
              1);
    EXPECT_EQ(Pinned(u"a"), u"plain");
    // An active arrival deletes the plain record.
    ASSERT_EQ(dict.MergeFixedWord(T(u"a").get(), T(u"first").get(), T(u"").get(), T(u"").get(),
                                  kFixActive),
              1);
    EXPECT_EQ(Pinned(u"a"), u"first");
    // A second active arrival is stored deleted while another is active.
    ASSERT_EQ(dict.MergeFixedWord(T(u"a").get(), T(u"second").get(), T(u"").get(), T(u"").get(),
                                  kFixActive),
              1);
    EXPECT_EQ(Pinned(u"a"), u"first");
    EXPECT_EQ(Active(u"a"), 1);
    EXPECT_EQ(dict.GetCount(), 3);
}

TEST_F(FixFirstTest, RecordsBeyondTheBufferAreRefused) {
    const TestLstr big(std::vector<uint16_t>(496, u'x'));  // 994 bytes with its count: 1002 in all
    EXPECT_EQ(dict.SetFixedWord(T(u"k").get(), big.get(), T(u"").get(), T(u"").get()), 0);
    EXPECT_EQ(dict.GetCount(), 0);
    const TestLstr fits(std::vector<uint16_t>(490, u'x'));
    EXPECT_EQ(dict.SetFixedWord(T(u"k").get(), fits.get(), T(u"").get(), T(u"").get()), 1);
    EXPECT_EQ(dict.SetFixedWord(T(u"k").get(), nullptr, T(u"").get(), T(u"").get()), 0);
}

TEST_F(FixFirstTest, ChangesMoveTheCheckNumberAndSurviveASave) {
    const uint32_t before = dict.GetCheckNumber();
    ASSERT_EQ(Pin(u"k", u"w"), 1);
    EXPECT_NE(dict.GetCheckNumber(), before);
    TempDir dir;
    const std::wstring path = dir.WFile("qzim_fix_first.bin");
    ASSERT_EQ(dict.SaveToFile(path.c_str()), 1);
    EXPECT_EQ(GetFixFirstFileCount(path.c_str()), 1);
    EXPECT_EQ(GetFixFirstFileCount(dir.WFile("missing").c_str()), 0);
    t_fixFirstDict empty;
    EXPECT_EQ(empty.GetCheckNumber(), 0u);
}

TEST_F(FixFirstTest, LoadingNothingOverACopyDetaches) {
    ASSERT_EQ(Pin(u"nh", u"你好"), 1);
    EXPECT_FALSE(dict.Load(nullptr, 0));
    EXPECT_FALSE(dict.IsReady());
    EXPECT_EQ(Pinned(u"nh"), u"<none>");
    EXPECT_EQ(dict.GetCheckNumber(), 0u);
    EXPECT_EQ(dict.GetCount(), 0);
    t_scopeHeap arena;
    t_fixedRecord** items = nullptr;
    int n = 3;
    EXPECT_EQ(dict.GetAllItems(arena, &items, &n), 0);
    EXPECT_EQ(n, 0);
    EXPECT_EQ(dict.RemoveItem(T(u"nh").get(), T(u"你好").get()), 0);
    EXPECT_EQ(Pin(u"nh", u"您好"), 0);
}

TEST_F(FixFirstTest, AFullStoreDropsDeletedPinsFirst) {
    std::vector<uint8_t> image;
    ASSERT_TRUE(t_fixFirstDict::BuildImage(image, 20, 10000, 10000));
    ASSERT_TRUE(dict.AttachCopy(image.data(), image.size()));
    dict.SetRowLimit(20);
    // Ten keys with one active and one deleted pin each, minus the last.
    for (int i = 0; i < 9; ++i) {
        ASSERT_EQ(Pin(Numbered(u"k", i), u"old"), 1);
        ASSERT_EQ(Pin(Numbered(u"k", i), u"new"), 1);
    }
    ASSERT_EQ(Pin(Numbered(u"k", 9), u"new"), 1);  // 19 of 20 rows: trimmed
    EXPECT_LT(dict.GetCount(), 19);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(Pinned(Numbered(u"k", i)), u"new") << i;
}

// ---------------------------------------------------------------- cloud caches

class CloudCacheTest : public ::testing::Test {
protected:
    void Attach(uint32_t rows) {
        std::vector<uint8_t> image;
        ASSERT_TRUE(t_cloudCacheDict::BuildImage(image, rows, 20000));
        ASSERT_TRUE(cache.AttachCopy(image.data(), image.size()));
    }
    void SetUp() override { Attach(100); }
    int Add(std::initializer_list<uint16_t> key, const std::u16string& text, uint32_t hits) {
        return cache.AddEntry(TestLstr(key).get(), T(text).get(), hits, 7, T(u"s").get(),
                              T(u"t").get());
    }
    uint32_t HitsOf(std::initializer_list<uint16_t> key, const std::u16string& text) {
        int extends = 0, count = 0;
        const int32_t h = cache.Find(TestLstr(key).get(), &extends, &count);
        uint32_t refs[16], hits[16];
        const int n = cache.GetEntries(h, 16, refs, hits, nullptr, nullptr, nullptr);
        for (int i = 0; i < n; ++i)
            if (Text(cache.GetString(refs[i])) == text) return hits[i];
        return 0xFFFFFFFF;
    }
    t_cloudCacheDict cache;
};

TEST_F(CloudCacheTest, AddingTheSameAnswerRaisesItsHits) {
    ASSERT_EQ(Add({10, 20}, u"你好", 5), 1);
    ASSERT_EQ(Add({10, 20}, u"你好", 5), 1);
    EXPECT_EQ(cache.GetCount(), 1);
    EXPECT_EQ(HitsOf({10, 20}, u"你好"), 6u);
    EXPECT_EQ(cache.IncreaseHit(TestLstr({10, 20}).get(), T(u"你好").get()), 1);
    EXPECT_EQ(HitsOf({10, 20}, u"你好"), 7u);
    EXPECT_EQ(cache.IncreaseHit(TestLstr({10, 20}).get(), T(u"absent").get()), 0);
    EXPECT_EQ(cache.ResetEntry(TestLstr({10, 20}).get(), T(u"你好").get()), 1);
    EXPECT_EQ(HitsOf({10, 20}, u"你好"), 0u);
    EXPECT_EQ(cache.ResetEntry(TestLstr({10, 21}).get(), T(u"你好").get()), 1);
}

TEST_F(CloudCacheTest, FindReportsCountsAndLongerNeighbours) {
    Add({10, 20}, u"a", 1);
    Add({10, 20}, u"b", 1);
    Add({10, 20, 30}, u"c", 1);
    int extends = 0, count = 0;
    const int32_t h = cache.Find(TestLstr({10, 20}).get(), &extends, &count);
    EXPECT_GE(h, 0);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(extends, 1);
    // An absent key whose neighbour continues it: extends, but -1.
    EXPECT_EQ(cache.Find(TestLstr({10}).get(), &extends, &count), -1);
    EXPECT_EQ(extends, 1);
    EXPECT_EQ(cache.Find(TestLstr({11}).get(), &extends, &count), -1);
    EXPECT_EQ(extends, 0);
    // The whole answer comes back with its texts.
    uint32_t refs[4], hits[4], seconds[4], thirds[4];
    uint8_t flags[4];
    ASSERT_EQ(cache.GetEntries(h, 4, refs, hits, flags, seconds, thirds), 2);
    EXPECT_EQ(flags[0], 7);
    const t_lstr *second = nullptr, *third = nullptr;
    EXPECT_EQ(Text(cache.GetStrings(refs[0], seconds[0], thirds[0], &second, &third)), u"a");
    EXPECT_EQ(Text(second), u"s");
    EXPECT_EQ(Text(third), u"t");
    EXPECT_EQ(cache.GetEntries(h, 0, refs, hits, flags, seconds, thirds), 0);
    EXPECT_EQ(cache.GetEntries(h, 1, refs, hits, flags, seconds, thirds), 1);
    EXPECT_EQ(cache.GetString(0xFFFFFF), nullptr);
}

TEST_F(CloudCacheTest, ASpareRowIsNoEntry) {
    Add({10, 20}, u"a", 1);
    int extends = 0, count = 0;
    const int32_t h = cache.Find(TestLstr({10, 20}).get(), &extends, &count);
    ASSERT_GE(h, 0);
    // The rows after the bucket's only used row are spare: a handle there
    // (or anywhere that is no used row) finds nothing.
    uint32_t refs[4];
    const int32_t rowSize = 8;
    for (int32_t bad : {h + rowSize, h + 2 * rowSize, h + 1, -1, 1 << 30})
        EXPECT_EQ(cache.GetEntries(bad, 4, refs, nullptr, nullptr, nullptr, nullptr), 0) << bad;
}

// Filling 18 of 20 rows trims seven answers: the reset ones first, then
// the least hit.
TEST_F(CloudCacheTest, TheTrimDropsResetAnswersThenTheLeastHit) {
    const struct {
        std::vector<uint16_t> reset;
        int firstKept;
    } rows[] = {{{}, 7}, {{110, 111, 112}, 4}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.firstKept);
        Attach(20);
        cache.SetRowLimit(20);
        for (int i = 0; i < 17; ++i) ASSERT_EQ(Add({uint16_t(100 + i)}, u"x", uint32_t(10 + i)), 1);
        for (uint16_t k : r.reset)
            ASSERT_EQ(cache.ResetEntry(TestLstr({k}).get(), T(u"x").get()), 1);
        ASSERT_EQ(Add({200}, u"x", 50), 1);
        EXPECT_EQ(cache.GetCount(), 11);
        int extends, count;
        EXPECT_GE(cache.Find(TestLstr({200}).get(), &extends, &count), 0);
        for (int i = 0; i < 17; ++i) {
            const uint16_t k = uint16_t(100 + i);
            const bool kept =
                i >= r.firstKept && std::count(r.reset.begin(), r.reset.end(), k) == 0;
            EXPECT_EQ(cache.Find(TestLstr({k}).get(), &extends, &count) >= 0, kept) << i;
        }
    }
}

TEST_F(CloudCacheTest, LoadingNothingOverACopyDetaches) {
    ASSERT_EQ(Add({10, 20}, u"你好", 5), 1);
    int extends = 0, count = 0;
    const int32_t h = cache.Find(TestLstr({10, 20}).get(), &extends, &count);
    ASSERT_GE(h, 0);
    uint32_t refs[4];
    ASSERT_EQ(cache.GetEntries(h, 4, refs, nullptr, nullptr, nullptr, nullptr), 1);
    EXPECT_FALSE(cache.Load(nullptr, 0));
    EXPECT_FALSE(cache.IsReady());
    EXPECT_EQ(cache.Find(TestLstr({10, 20}).get(), &extends, &count), -1);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(cache.GetEntries(h, 4, refs, nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(cache.GetString(refs[0]), nullptr);
    EXPECT_EQ(cache.IncreaseHit(TestLstr({10, 20}).get(), T(u"你好").get()), 0);
    EXPECT_EQ(cache.GetCount(), 0);
    // The long-word cache is the same store under another name.
    t_cloudCacheDictLongWord longWords;
    std::vector<uint8_t> image;
    ASSERT_TRUE(t_cloudCacheDict::BuildImage(image, 16, 1000));
    ASSERT_TRUE(longWords.AttachCopy(image.data(), image.size()));
    ASSERT_EQ(
        longWords.AddEntry(TestLstr({1}).get(), T(u"a").get(), 1, 0, T(u"").get(), T(u"").get()),
        1);
    EXPECT_FALSE(longWords.Load(nullptr, 0));
    EXPECT_EQ(longWords.Find(TestLstr({1}).get(), &extends, &count), -1);
    // Nor does a store never loaded.
    t_cloudCacheDictLongWord empty;
    extends = 5;
    EXPECT_EQ(empty.Find(TestLstr({1}).get(), &extends, &count), -1);
    EXPECT_EQ(extends, 0);
    EXPECT_EQ(empty.AddEntry(TestLstr({1}).get(), T(u"a").get(), 1, 0, T(u"").get(), T(u"").get()),
              0);
    EXPECT_EQ(empty.GetString(0), nullptr);
}

// ---------------------------------------------------------------- contacts

class ContactsTest : public ::testing::Test {
protected:
    void Attach(uint32_t rows) {
        std::vector<uint8_t> image;
        ASSERT_TRUE(t_contactsDict::BuildImage(image, rows, 20000));
        ASSERT_TRUE(dict.AttachCopy(image.data(), image.size()));
    }
    void SetUp() override { Attach(100); }
    int Add(const std::u16string& name, int32_t weight,
            std::initializer_list<uint16_t> key = {30, 40}) {
        return dict.AddItem(TestLstr(key).get(), T(name).get(), weight);
    }
    // name -> weight of every record of the key, disabled ones included.
    std::vector<std::pair<std::u16string, int32_t>> Enabled(std::initializer_list<uint16_t> key = {
                                                                30, 40}) {
        int extends = 0;
        const int32_t h = dict.Find(TestLstr(key).get(), &extends);
        uint32_t words[32];
        int32_t weights[32];
        const int n = dict.GetEntries(h, words, weights, 32);
        std::vector<std::pair<std::u16string, int32_t>> out;
        for (int i = 0; i < n; ++i) out.push_back({Text(dict.GetWord(words[i])), weights[i]});
        return out;
    }
    int32_t WeightOf(const std::u16string& name) {
        for (const auto& [n, w] : Enabled())
            if (n == name) return w;
        return -1;
    }
    t_contactsDict dict;
};

TEST_F(ContactsTest, AnEnabledNameKeepsItsWeightAndADisabledOneTakesTheNew) {
    ASSERT_EQ(Add(u"张三", 5), 1);
    ASSERT_EQ(Add(u"张三", 9), 1);
    EXPECT_EQ(WeightOf(u"张三"), 5);
    ASSERT_EQ(dict.DisableItem(TestLstr({30, 40}).get(), T(u"张三").get()), 1);
    EXPECT_EQ(WeightOf(u"张三"), -1);  // not listed while disabled
    ASSERT_EQ(dict.DisableItem(TestLstr({30, 40}).get(), T(u"张三").get()), 1);
    ASSERT_EQ(Add(u"张三", 9), 1);
    EXPECT_EQ(WeightOf(u"张三"), 9);
    EXPECT_EQ(dict.DisableItem(TestLstr({30, 40}).get(), T(u"李四").get()), 1);
    EXPECT_EQ(dict.AddItem(nullptr, T(u"x").get(), 1), 0);
}

TEST_F(ContactsTest, DisableAllCountsTheEnabledNamesAndSparesWeightZero) {
    Add(u"a", 1);
    Add(u"b", 2);
    Add(u"c", 3);
    Add(u"d", 4);
    Add(u"zero", 0);
    dict.DisableItem(TestLstr({30, 40}).get(), T(u"d").get());
    EXPECT_EQ(dict.DisableAll(), 3);
    EXPECT_EQ(Enabled(), (std::vector<std::pair<std::u16string, int32_t>>{{u"zero", 0}}));
    EXPECT_EQ(dict.DisableItem(TestLstr({30, 40}).get(), T(u"zero").get()), 1);
    EXPECT_EQ(WeightOf(u"zero"), 0);
    t_contactsDict empty;
    EXPECT_EQ(empty.DisableAll(), -1);
}

TEST_F(ContactsTest, GetEntriesLooksAtMostAtMaximumRecords) {
    Add(u"first", 3);
    Add(u"second", 4);
    Add(u"third", 5);
    dict.DisableItem(TestLstr({30, 40}).get(), T(u"first").get());
    int extends = 0;
    const int32_t h = dict.Find(TestLstr({30, 40}).get(), &extends);
    uint32_t words[4];
    int32_t weights[4];
    EXPECT_EQ(dict.GetEntries(h, words, weights, 2), 1);
    EXPECT_EQ(dict.GetEntries(h, words, weights, 0), 0);
    EXPECT_EQ(dict.GetEntries(h + 8, words, weights, 4), 0);  // a spare row
}

TEST_F(ContactsTest, FindAndFindExtendingWalkTheLongerKeys) {
    Add(u"a", 1, {30});
    Add(u"b", 1, {30, 40});
    Add(u"c", 1, {30, 40, 50});
    Add(u"d", 1, {30, 41});
    Add(u"e", 1, {31});
    int extends = 0;
    EXPECT_GE(dict.Find(TestLstr({30}).get(), &extends), 0);
    EXPECT_EQ(extends, 1);
    EXPECT_GE(dict.Find(TestLstr({30, 41}).get(), &extends), 0);
    EXPECT_EQ(extends, 0);
    EXPECT_EQ(dict.Find(TestLstr({30, 40, 50, 60}).get(), &extends), -1);
    EXPECT_EQ(extends, 0);
    int32_t handles[8];
    const t_lstr* keys[8];
    int count = 0;
    ASSERT_EQ(dict.FindExtending(TestLstr({30}).get(), handles, keys, 8, &count), 1);
    ASSERT_EQ(count, 3);
    EXPECT_EQ(TestLstr({30, 40}).Units(),
              std::vector<uint16_t>({LstrGetUnit(keys[0], 0), LstrGetUnit(keys[0], 1)}));
    ASSERT_EQ(dict.FindExtending(TestLstr({30}).get(), handles, keys, 2, &count), 1);
    EXPECT_EQ(count, 2);
    ASSERT_EQ(dict.FindExtending(TestLstr({30, 40}).get(), handles, keys, 8, &count), 1);
    EXPECT_EQ(count, 1);
    uint32_t words[2];
    int32_t weights[2];
    ASSERT_EQ(dict.GetEntries(handles[0], words, weights, 2), 1);
    EXPECT_EQ(Text(dict.GetWord(words[0])), u"c");
    EXPECT_EQ(dict.FindExtending(nullptr, handles, keys, 8, &count), 0);
}

TEST_F(ContactsTest, ATrimOverWeightsZeroToNineKeepsSeven) {
    Attach(12);
    dict.SetRowLimit(12);  // no doubling: the tenth name fills the store (10 >= 12 x 9 / 10)
    for (int w = 0; w < 10; ++w) ASSERT_EQ(Add(Numbered(u"n", w), w), 1) << w;
    const auto left = Enabled();
    std::vector<int32_t> weights;
    for (const auto& [n, w] : left) weights.push_back(w);
    std::sort(weights.begin(), weights.end());
    EXPECT_EQ(weights, (std::vector<int32_t>{0, 4, 5, 6, 7, 8, 9}));
    EXPECT_EQ(dict.GetCount(), 7);
}

TEST_F(ContactsTest, ATrimCountsDisabledNamesAndDropsTheirKeys) {
    Attach(12);
    dict.SetRowLimit(12);
    // A disabled name under a longer key of the same bucket.
    ASSERT_EQ(Add(u"gone", 1, {30, 40}), 1);
    ASSERT_EQ(dict.DisableItem(TestLstr({30, 40}).get(), T(u"gone").get()), 1);
    ASSERT_EQ(Add(u"base", 20, {30}), 1);
    for (int i = 0; i < 8; ++i)
        ASSERT_EQ(Add(Numbered(u"n", i), 2 + i, {uint16_t(50 + i)}), 1) << i;
    // Ten rows: four go, the disabled one among them, so three names of
    // the lowest weights are disabled and dropped.
    EXPECT_EQ(dict.GetCount(), 6);
    int extends = 5;
    EXPECT_GE(dict.Find(TestLstr({30}).get(), &extends), 0);
    EXPECT_EQ(extends, 0);  // the longer key went with its only name
    int32_t handles[4];
    const t_lstr* keys[4];
    int count = 5;
    ASSERT_EQ(dict.FindExtending(TestLstr({30}).get(), handles, keys, 4, &count), 1);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(dict.Find(TestLstr({30, 40}).get(), &extends), -1);
}

TEST_F(ContactsTest, LoadingNothingOverACopyDetaches) {
    ASSERT_EQ(Add(u"王五", 3), 1);
    int extends = 0;
    const int32_t h = dict.Find(TestLstr({30, 40}).get(), &extends);
    ASSERT_GE(h, 0);
    uint32_t words[2];
    int32_t weights[2];
    ASSERT_EQ(dict.GetEntries(h, words, weights, 2), 1);
    EXPECT_FALSE(dict.Load(nullptr, 0));
    EXPECT_FALSE(dict.IsReady());
    EXPECT_EQ(dict.Find(TestLstr({30, 40}).get(), &extends), -1);
    EXPECT_EQ(dict.GetEntries(h, words, weights, 2), 0);
    EXPECT_EQ(dict.GetWord(words[0]), nullptr);
    EXPECT_EQ(dict.DisableAll(), -1);
    EXPECT_EQ(dict.DisableItem(TestLstr({30, 40}).get(), T(u"王五").get()), 0);
    int32_t handles[2];
    const t_lstr* keys[2];
    int count = 5;
    EXPECT_EQ(dict.FindExtending(TestLstr({30}).get(), handles, keys, 2, &count), 0);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(dict.GetCount(), 0);
}

TEST_F(ContactsTest, SaveWritesThroughItsWorkFile) {
    TempDir dir;
    Add(u"王五", 3);
    const std::wstring path = dir.WFile("contacts.bin");
    ASSERT_EQ(dict.SaveToFile(path.c_str()), 1);
    EXPECT_FALSE(std::filesystem::exists(dir.File("contacts.bin_temp_contacts_dict")));
    t_contactsDict again;
    ASSERT_TRUE(again.AttachFile(path.c_str()));
    EXPECT_EQ(again.GetCount(), 1);
    EXPECT_EQ(dict.SaveToFile(dir.WFile("no/dir.bin").c_str()), 0);
    ASSERT_EQ(t_contactsDict::BuildImageToFile(path.c_str()), 1);
    ASSERT_TRUE(again.AttachFile(path.c_str()));
    EXPECT_EQ(again.GetCount(), 0);
}

}  // namespace
