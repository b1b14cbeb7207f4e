// Recent-input caches: the input queue, the ring of committed words, the
// continuation strings and the committed-word list.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kernel/userdict/recent_cache.h"
#include "kernel/userdict/usr_dict_v3.h"
#include "tests/kernel/userdict/usr_support.h"

namespace {

std::wstring Input(int i) {
    return L"in" + std::to_wstring(i);
}

TEST(UsrInputCacheTest, KeepsTheLastThirtyOneInputs) {
    t_usrInputCache cache;
    EXPECT_FALSE(cache.Add(L"early"));  // no container before Init
    cache.Init();
    for (int i = 0; i < 40; ++i) ASSERT_TRUE(cache.Add(Input(i).c_str()));
    EXPECT_EQ(cache.Size(), 31u);
    for (int i = 0; i < 40; ++i) {
        const std::wstring w = Input(i);
        const std::u16string u(w.begin(), w.end());
        EXPECT_EQ(cache.Contains(TestLstr::Text(u).get()), i >= 9 ? 1 : 0) << i;
    }
    EXPECT_EQ(cache.Contains(nullptr), 0);
    cache.Clear();
    EXPECT_EQ(cache.Size(), 0u);
}

TEST(UsrInputCacheTest, AnInputPushedOutOnceStillCountsItsOtherEntry) {
    t_usrInputCache cache;
    cache.Init();
    cache.Add(L"twice");
    cache.Add(L"twice");
    EXPECT_EQ(cache.CountOf(L"twice"), 2);
    for (int i = 0; i < 30; ++i) cache.Add(Input(i).c_str());  // pushes out the first "twice"
    EXPECT_EQ(cache.CountOf(L"twice"), 1);
    EXPECT_EQ(cache.Contains(TestLstr::Text(u"twice").get()), 1);
    cache.Add(L"last");  // and the second
    EXPECT_EQ(cache.CountOf(L"twice"), 0);
    EXPECT_EQ(cache.Contains(TestLstr::Text(u"twice").get()), 0);
}

TEST(UsrInputCacheTest, CachedLengthsAreTwoToTen) {
    EXPECT_FALSE(t_usrInputCache::IsCachedLength(1));
    EXPECT_TRUE(t_usrInputCache::IsCachedLength(2));
    EXPECT_TRUE(t_usrInputCache::IsCachedLength(10));
    EXPECT_FALSE(t_usrInputCache::IsCachedLength(11));
}

TEST(SubmittedUsrWordTest, TheRingHoldsTheLastSixCommits) {
    t_submittedUsrWord ring;
    for (int i = 1; i <= 7; ++i) {
        const TestLstr key({uint16_t(i), uint16_t(i + 100)});
        ring.Add(key.get(), (L"word" + std::to_wstring(i)).c_str());
    }
    EXPECT_EQ(ring.GetCount(), 6);
    const t_lstr *key = nullptr, *text = nullptr;
    ring.Get(0, &key, &text);
    ASSERT_TRUE(key && text);
    EXPECT_EQ(Text(text), u"word7");
    EXPECT_EQ(LstrGetUnit(key, 0), 7);
    ring.Get(5, &key, &text);
    ASSERT_TRUE(text);
    EXPECT_EQ(Text(text), u"word2");
    ring.Get(6, &key, &text);
    EXPECT_EQ(key, nullptr);
    EXPECT_EQ(text, nullptr);
    ring.Get(-1, &key, &text);
    EXPECT_EQ(text, nullptr);
    ring.Clear();
    EXPECT_EQ(ring.GetCount(), 0);
}

TEST(SubmittedUsrWordTest, RefusedCommitsDoNotMoveTheRing) {
    t_submittedUsrWord ring;
    const TestLstr key({1, 2});
    ring.Add(key.get(), L"kept");
    ring.Add(key.get(), std::wstring(257, L'x').c_str());  // 257 characters
    ring.Add(TestLstr({600}).get(), L"bad syllable");
    ring.Add(TestLstr({}).get(), L"empty key");
    ring.Add(nullptr, L"no key");
    ring.Add(key.get(), nullptr);
    // A text whose surrogate pairs need more than 256 units is refused whole,
    // never stored beside the new key with the slot's old text.
    std::wstring wide(200, L'\U0001F600');
    ring.Add(TestLstr({3}).get(), wide.c_str());
    EXPECT_EQ(ring.GetCount(), 1);
    const t_lstr *k = nullptr, *text = nullptr;
    ring.Get(0, &k, &text);
    ASSERT_TRUE(text);
    EXPECT_EQ(Text(text), u"kept");
    EXPECT_EQ(LstrGetUnit(k, 0), 1);
    ring.Add(key.get(), std::wstring(256, L'y').c_str());
    ring.Add(key.get(), std::wstring(100, L'\U0001F600').c_str());
    EXPECT_EQ(ring.GetCount(), 3);
    ring.Get(0, &k, &text);
    EXPECT_EQ(LstrGetLength(text), 200);
}

TEST(CAStringCacheTest, KeysOfOneToFourUnitsOnly) {
    t_CAStringCache cache;
    cache.AddOrUpdate(TestLstr::Text(u"吗").get(), {5, 0x20, 0});  // no map yet
    EXPECT_EQ(cache.Size(), 0u);
    cache.CreateMap();
    cache.AddOrUpdate(TestLstr::Text(u"吗").get(), {5, 0x20, 1});
    cache.AddOrUpdate(TestLstr::Text(u"abcd").get(), {6, 0x20, 0});
    cache.AddOrUpdate(TestLstr::Text(u"abcde").get(), {7, 0x20, 0});
    cache.AddOrUpdate(TestLstr::Text(u"").get(), {8, 0x20, 0});
    EXPECT_EQ(cache.Size(), 2u);
    t_caValue v;
    EXPECT_EQ(cache.Lookup(TestLstr::Text(u"吗").get(), &v), 1);
    EXPECT_EQ(v.weight, 5);
    EXPECT_EQ(v.flag, 1);
    EXPECT_EQ(cache.Lookup(TestLstr::Text(u"abcde").get(), &v), 0);
    EXPECT_EQ(cache.Lookup(TestLstr::Text(u"").get(), &v), 0);
    EXPECT_EQ(cache.Lookup(TestLstr::Text(u"abc").get(), &v), 0);
    cache.Clear();
    EXPECT_EQ(cache.Size(), 0u);
    cache.DestroyMap();
    EXPECT_EQ(cache.Lookup(TestLstr::Text(u"吗").get(), &v), 0);
}

TEST(CAStringCacheTest, AHigherSourceReplacesALowerOne) {
    t_CAStringCache cache;
    cache.CreateMap();
    const TestLstr key = TestLstr::Text(u"了");
    cache.AddOrUpdate(key.get(), {1, 0x40, 0});
    cache.AddOrUpdate(key.get(), {2, 0x20, 0});
    t_caValue v;
    ASSERT_EQ(cache.Lookup(key.get(), &v), 1);
    EXPECT_EQ(v.source, 0x40);
    cache.AddOrUpdate(key.get(), {3, 0x80, 0});
    ASSERT_EQ(cache.Lookup(key.get(), &v), 1);
    EXPECT_EQ(v.source, 0x80);
    EXPECT_EQ(v.weight, 3);
}

TEST(CAStringCacheTest, UserWordsGiveTheirContinuations) {
    t_usrDictV3Core usr;
    ASSERT_TRUE(usr.CreateEmpty(10000));
    ASSERT_NE(usr.LearnWord(TestLstr({10, 20, 30}).get(), TestLstr::Text(u"你好吗").get(), 0), 0);
    t_CAStringCache cache;
    cache.CreateMap();
    // Readings of six syllables together add nothing.
    cache.AddFromWord(0, TestLstr::Text(u"你好").get(), TestLstr({10, 20, 30}).get(),
                      TestLstr({1, 2, 3}).get(), nullptr, &usr);
    EXPECT_EQ(cache.Size(), 0u);
    cache.AddFromWord(0, TestLstr::Text(u"你好").get(), TestLstr({10, 20}).get(),
                      TestLstr({30}).get(), nullptr, &usr);
    t_caValue v;
    ASSERT_EQ(cache.Lookup(TestLstr::Text(u"吗").get(), &v), 1);
    EXPECT_EQ(v.source, 0x40);
}

// The cache holds the continuations of one word and reading at a time (a
// text of another reading is no continuation), made anew only when asked
// for another or when the user dictionary was replaced; the user dictionary
// keeps the weight curve its caller set up.
TEST(CAStringCacheTest, FilledForOneWordAndReadingAtATime) {
    t_usrDictV3Core usr;
    ASSERT_TRUE(usr.CreateEmpty(10000));
    ASSERT_NE(usr.LearnWord(TestLstr({10, 20, 30}).get(), TestLstr::Text(u"你好吗").get(), 0), 0);
    ASSERT_NE(usr.LearnWord(TestLstr({10, 20, 40}).get(), TestLstr::Text(u"你好呀").get(), 0), 0);
    usr.SetupWeightCurve(255);
    const double base = usr.GetWeightCurve().base;
    const TestLstr word = TestLstr::Text(u"你好"), reading = TestLstr({10, 20});
    const struct {
        uint16_t next;
        const char16_t* held;
        const char16_t* gone;
    } rows[] = {{30, u"吗", u"呀"}, {40, u"呀", u"吗"}, {30, u"吗", u"呀"}};
    t_CAStringCache cache;  // the first fill makes the map
    for (const auto& r : rows) {
        cache.FillFor(word.get(), reading.get(), TestLstr({r.next}).get(), nullptr, &usr);
        t_caValue v;
        EXPECT_EQ(cache.Lookup(TestLstr::Text(r.held).get(), &v), 1) << r.next;
        EXPECT_EQ(cache.Lookup(TestLstr::Text(r.gone).get(), &v), 0) << r.next;
    }
    EXPECT_EQ(usr.GetWeightCurve().base, base);
    // Filled for the same again, it is not made anew: what was added since stays.
    cache.AddOrUpdate(TestLstr::Text(u"呢").get(), {1, 0x40, 0});
    cache.FillFor(word.get(), reading.get(), TestLstr({30}).get(), nullptr, &usr);
    EXPECT_EQ(cache.Size(), 2u);
    cache.Clear();
    cache.FillFor(word.get(), reading.get(), TestLstr({30}).get(), nullptr, &usr);
    EXPECT_EQ(cache.Size(), 1u);
    // The user dictionary replaced (a removal, a restore): its old words
    // are not lent on, though the cache is asked for the same again.
    ASSERT_TRUE(usr.CreateEmpty(10000));
    cache.FillFor(word.get(), reading.get(), TestLstr({30}).get(), nullptr, &usr);
    t_caValue v;
    EXPECT_EQ(cache.Lookup(TestLstr::Text(u"吗").get(), &v), 0);
}

TEST(WordKeyListTest, PushesNewestFirstAndClearsAll) {
    t_wordKeyList list;
    PushWordKeyPair(list, L"一", TestLstr({1}).get());
    PushWordKeyPair(list, L"二", TestLstr({2}).get());
    PushWordKeyPair(list, nullptr, TestLstr({3}).get());
    ASSERT_NE(list.head, nullptr);
    EXPECT_EQ(std::wstring(list.head->text), L"二");
    EXPECT_EQ(LstrGetUnit(list.head->key, 0), 2);
    ASSERT_NE(list.head->next, nullptr);
    EXPECT_EQ(list.head->next->next, nullptr);
    ClearWordKeyPairs(list);
    EXPECT_EQ(list.head, nullptr);
}

}  // namespace
