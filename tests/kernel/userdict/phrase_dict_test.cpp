// Custom-phrase dictionary: records, states, listings, trimming and saving.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "kernel/runtime/scope_heap.h"
#include "kernel/userdict/phrase_dict.h"
#include "tests/kernel/userdict/usr_support.h"

namespace {

class PhraseDictTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::vector<uint8_t> image;
        ASSERT_TRUE(t_abbrUsrDict::BuildImageWithRoom(image, 64, 4000, 40000));
        ASSERT_TRUE(dict.AttachCopy(image.data(), image.size()));
    }
    int Add(const std::u16string& key, const std::u16string& phrase, int16_t pos,
            uint8_t state = 1) {
        return dict.AddItem(TestLstr::Text(key).get(), TestLstr::Text(phrase).get(), pos, state);
    }
    // State and position of the record; {-1, -99999} when it is absent.
    std::pair<int, int> Record(const std::u16string& key, const std::u16string& phrase) {
        t_scopeHeap arena;
        t_phraseRecord** items = nullptr;
        int n = 0;
        EXPECT_EQ(dict.GetAllItems(arena, &items, &n), 1);
        for (int i = 0; i < n; ++i)
            if (Text(items[i]->key) == key && Text(items[i]->phrase) == phrase)
                return {items[i]->state, items[i]->position};
        return {-1, -99999};
    }
    int StateOf(const std::u16string& key, const std::u16string& phrase) {
        return Record(key, phrase).first;
    }
    int PositionOf(const std::u16string& key, const std::u16string& phrase) {
        return Record(key, phrase).second;
    }
    std::vector<std::u16string> Lookup(const std::u16string& key) {
        t_scopeHeap arena;
        t_phraseHit** hits = nullptr;
        int n = -1;
        EXPECT_EQ(dict.Lookup(arena, TestLstr::Text(key).get(), &hits, &n), 1);
        std::vector<std::u16string> out;
        for (int i = 0; i < n; ++i) out.push_back(Text(hits[i]->phrase));
        return out;
    }
    int Visible() {
        t_scopeHeap arena;
        t_phraseItem** items = nullptr;
        int n = 0;
        EXPECT_EQ(dict.GetVisibleItems(arena, &items, &n), 1);
        return n;
    }
    t_abbrUsrDict dict;
};

TEST_F(PhraseDictTest, AddingTheSameRecordTwiceKeepsOneWithTheSecondValues) {
    EXPECT_NE(Add(u"yx", u"me@example.com", 1, 1), 0);
    EXPECT_EQ(Add(u"yx", u"me@example.com", 4, 0), 1);
    EXPECT_EQ(dict.GetCount(), 1);
    EXPECT_EQ(PositionOf(u"yx", u"me@example.com"), 4);
    EXPECT_EQ(StateOf(u"yx", u"me@example.com"), 0);
}

TEST_F(PhraseDictTest, PositionsBelowOneAreListedButNeverLookedUp) {
    Add(u"abc", u"zero", 0);
    Add(u"abc", u"negative", -3);
    Add(u"abc", u"first", 1);
    Add(u"abc", u"second", 2);
    EXPECT_EQ(Visible(), 4);
    EXPECT_EQ(Lookup(u"abc"), (std::vector<std::u16string>{u"first", u"second"}));
    EXPECT_TRUE(Lookup(u"abd").empty());
}

TEST_F(PhraseDictTest, DeletedRecordsAreCountedButHidden) {
    Add(u"sj", u"phone", 1);
    Add(u"sj", u"mobile", 2);
    EXPECT_EQ(dict.MarkDeleted(TestLstr::Text(u"sj").get(), TestLstr::Text(u"phone").get(), 1), 1);
    EXPECT_EQ(dict.GetCount(), 2);
    EXPECT_EQ(StateOf(u"sj", u"phone"), kPhraseDeleted);
    EXPECT_EQ(Visible(), 1);
    EXPECT_EQ(Lookup(u"sj"), (std::vector<std::u16string>{u"mobile"}));
    // Deleting what is not there is not an error.
    EXPECT_EQ(dict.MarkDeleted(TestLstr::Text(u"sj").get(), TestLstr::Text(u"fax").get(), 1), 1);
    EXPECT_EQ(dict.GetCount(), 2);
}

TEST_F(PhraseDictTest, KeysAreBucketedByTheirFirstLetter) {
    EXPECT_EQ(t_abbrUsrDict::BucketOf(TestLstr::Text(u"abc").get()), 0);
    EXPECT_EQ(t_abbrUsrDict::BucketOf(TestLstr::Text(u"Abc").get()), 26);
    EXPECT_EQ(t_abbrUsrDict::BucketOf(TestLstr::Text(u"zz").get()), 25);
    EXPECT_EQ(t_abbrUsrDict::BucketOf(TestLstr::Text(u"Z").get()), 51);
    EXPECT_EQ(t_abbrUsrDict::BucketOf(TestLstr::Text(u"1ab").get()), 52);
    EXPECT_EQ(t_abbrUsrDict::BucketOf(TestLstr::Text(u",").get()), 52);
    EXPECT_EQ(t_abbrUsrDict::BucketOf(TestLstr::Text(u"").get()), 52);
    Add(u"9x", u"digit key", 1);
    EXPECT_EQ(Lookup(u"9x"), (std::vector<std::u16string>{u"digit key"}));
}

TEST_F(PhraseDictTest, UpdateItemStateFoldsInAnotherCopy) {
    Add(u"a", u"moved", 1, kPhraseAdded);
    Add(u"a", u"same", 2, kPhraseAdded);
    Add(u"a", u"kept", 3, kPhraseAdded);
    auto update = [&](const std::u16string& p, int16_t pos, uint8_t st) {
        return dict.UpdateItemState(TestLstr::Text(u"a").get(), TestLstr::Text(p).get(), pos, st);
    };
    EXPECT_EQ(update(u"moved", 5, 0), 1);
    EXPECT_EQ(update(u"same", 2, 0), 1);
    EXPECT_EQ(update(u"kept", 3, 2), 1);
    EXPECT_EQ(StateOf(u"a", u"moved"), kPhraseMoved);
    EXPECT_EQ(StateOf(u"a", u"same"), kPhrasePlain);
    EXPECT_EQ(StateOf(u"a", u"kept"), kPhraseAdded);
    // Records only the other copy holds arrive deleted, whatever their state.
    for (uint8_t st : {0, 1, 3}) {
        const std::u16string p = u"other" + std::u16string(1, char16_t('0' + st));
        EXPECT_NE(update(p, 1, st), 0);
        EXPECT_EQ(StateOf(u"a", p), kPhraseDeleted);
    }
    EXPECT_NE(update(u"gone", 1, 2), 0);
    EXPECT_EQ(StateOf(u"a", u"gone"), kPhraseDeleted);
}

TEST_F(PhraseDictTest, MergeItemOnlyChangesPlainRecords) {
    Add(u"m", u"plain", 1, kPhrasePlain);
    Add(u"m", u"added", 1, kPhraseAdded);
    Add(u"m", u"deleted", 1, kPhraseDeleted);
    auto merge = [&](const std::u16string& p, int16_t pos, uint8_t st) {
        return dict.MergeItem(TestLstr::Text(u"m").get(), TestLstr::Text(p).get(), pos, st);
    };
    EXPECT_EQ(merge(u"plain", 7, kPhraseMoved), 1);
    EXPECT_EQ(merge(u"added", 7, kPhraseMoved), 1);
    EXPECT_EQ(merge(u"deleted", 7, kPhraseAdded), 1);
    EXPECT_EQ(StateOf(u"m", u"plain"), kPhraseMoved);
    EXPECT_EQ(PositionOf(u"m", u"plain"), 7);
    EXPECT_EQ(StateOf(u"m", u"added"), kPhraseAdded);
    EXPECT_EQ(PositionOf(u"m", u"added"), 1);
    EXPECT_EQ(StateOf(u"m", u"deleted"), kPhraseDeleted);
    EXPECT_NE(merge(u"fresh", 2, kPhrasePlain), 0);
    EXPECT_EQ(StateOf(u"m", u"fresh"), kPhrasePlain);
}

TEST_F(PhraseDictTest, APhraseBeyondATableItemIsRefused) {
    std::vector<uint16_t> units(16384, u'x');  // 32768 bytes: one more than an i16 holds
    const TestLstr huge(units);
    EXPECT_EQ(dict.AddItem(TestLstr::Text(u"big").get(), huge.get(), 1, 1), 0);
    EXPECT_EQ(dict.MergeItem(TestLstr::Text(u"big").get(), huge.get(), 1, 1), 0);
    EXPECT_EQ(dict.UpdateItemState(TestLstr::Text(u"big").get(), huge.get(), 1, 1), 0);
    EXPECT_EQ(dict.GetCount(), 0);
    units.pop_back();
    const TestLstr largest(units);
    t_abbrUsrDict roomy;
    std::vector<uint8_t> image;
    ASSERT_TRUE(t_abbrUsrDict::BuildImageWithRoom(image, 16, 1000, 100000));
    ASSERT_TRUE(roomy.AttachCopy(image.data(), image.size()));
    EXPECT_NE(roomy.AddItem(TestLstr::Text(u"big").get(), largest.get(), 1, 1), 0);
    t_scopeHeap arena;
    t_phraseHit** hits = nullptr;
    int n = 0;
    ASSERT_EQ(roomy.Lookup(arena, TestLstr::Text(u"big").get(), &hits, &n), 1);
    ASSERT_EQ(n, 1);
    EXPECT_EQ(LstrGetByteLength(hits[0]->phrase), 32766);
}

TEST_F(PhraseDictTest, NothingAnswersBeforeLoading) {
    t_abbrUsrDict empty;
    t_scopeHeap arena;
    t_phraseHit** hits = nullptr;
    int n = 5;
    EXPECT_EQ(empty.AddItem(TestLstr::Text(u"a").get(), TestLstr::Text(u"b").get(), 1, 1), 0);
    EXPECT_EQ(empty.MarkDeleted(TestLstr::Text(u"a").get(), TestLstr::Text(u"b").get(), 1), 0);
    EXPECT_EQ(empty.Lookup(arena, TestLstr::Text(u"a").get(), &hits, &n), 0);
    EXPECT_EQ(n, 0);
    EXPECT_EQ(empty.GetCount(), 0);
    EXPECT_EQ(dict.AddItem(nullptr, TestLstr::Text(u"b").get(), 1, 1), 0);
    EXPECT_EQ(dict.AddItem(TestLstr::Text(u"a").get(), nullptr, 1, 1), 0);
}

TEST_F(PhraseDictTest, AForeignImageIsRefused) {
    t_abbrUsrDict other;
    std::vector<uint8_t> image;
    ASSERT_TRUE(t_abbrUsrDict::BuildImageWithRoom(image, 16, 100, 100));
    image[image.size() / 2] ^= 0xFF;  // rows are not covered by the check, the header is
    image[12] ^= 0x01;
    EXPECT_FALSE(other.AttachCopy(image.data(), image.size()));
    EXPECT_FALSE(other.IsReady());
}

TEST_F(PhraseDictTest, TheStoreGrowsWhenFull) {
    for (int i = 0; i < 200; ++i) {
        const std::u16string p = u"phrase " + std::u16string(1, char16_t(u'A' + i % 26)) +
                                 std::u16string(size_t(i / 26 + 1), u'#');
        ASSERT_NE(Add(u"g", p, int16_t(i % 9 + 1)), 0) << i;
    }
    EXPECT_EQ(dict.GetCount(), 200);
    EXPECT_EQ(Lookup(u"g").size(), 200u);
    // Long phrases that outgrow the phrase text make room before they go in.
    for (int i = 0; i < 4; ++i) {
        const std::u16string big = std::u16string(8000, char16_t(u'a' + i));
        ASSERT_NE(Add(u"long", big, 1), 0) << i;
    }
    EXPECT_EQ(Lookup(u"long").size(), 4u);
    EXPECT_EQ(Lookup(u"g").size(), 200u);
}

TEST_F(PhraseDictTest, ATrimCountsDeletedRowsAndKeepsTheFrontPhrases) {
    dict.SetRowLimit(64);  // no doubling: the store must trim
    // 40 live phrases, 16 deleted ones: with the next, nine tenths of 64 rows.
    for (int i = 0; i < 40; ++i)
        ASSERT_NE(Add(u"t", u"live" + std::u16string(size_t(i + 1), u'.'), int16_t(i % 5 + 1)), 0);
    for (int i = 0; i < 16; ++i) {
        const std::u16string p = u"dead" + std::u16string(size_t(i + 1), u'.');
        ASSERT_NE(Add(u"t", p, 1), 0);
        ASSERT_EQ(dict.MarkDeleted(TestLstr::Text(u"t").get(), TestLstr::Text(p).get(), 1), 1);
    }
    ASSERT_NE(Add(u"t", u"newest", 1), 0);  // 57 rows (64 x 9 / 10): the trim runs
    EXPECT_LT(dict.GetCount(), 57);
    // Two fifths of 57 are 22; the 16 deleted rows count toward them, so only
    // 6 live phrases go, those at the largest positions.
    const std::vector<std::u16string> left = Lookup(u"t");
    EXPECT_EQ(left.size(), 41u - 6u);
    t_scopeHeap arena;
    t_phraseRecord** items = nullptr;
    int n = 0;
    ASSERT_EQ(dict.GetAllItems(arena, &items, &n), 1);
    int fives = 0;
    for (int i = 0; i < n; ++i) {
        EXPECT_NE(items[i]->state, kPhraseDeleted);
        if (items[i]->position == 5) ++fives;
    }
    EXPECT_EQ(fives, 2);  // the 8 phrases at position 5 lose 6
}

TEST_F(PhraseDictTest, SaveToFileWritesAnImageThatLoadsAgain) {
    TempDir dir;
    Add(u"nh", u"你好", 1);
    Add(u"nh", u"😀 smile", 2);
    dict.MarkDeleted(TestLstr::Text(u"nh").get(), TestLstr::Text(u"你好").get(), 1);
    const std::wstring path = dir.WFile("qzim_phrases.bin");
    ASSERT_EQ(dict.SaveToFile(path.c_str()), 1);
    EXPECT_FALSE(std::filesystem::exists(dir.File("qzim_phrases.bin.temp")));
    t_abbrUsrDict again;
    ASSERT_TRUE(again.AttachFile(path.c_str()));
    EXPECT_EQ(again.GetCount(), 2);
    t_scopeHeap arena;
    t_phraseHit** hits = nullptr;
    int n = 0;
    ASSERT_EQ(again.Lookup(arena, TestLstr::Text(u"nh").get(), &hits, &n), 1);
    ASSERT_EQ(n, 1);
    EXPECT_EQ(Text(hits[0]->phrase), u"😀 smile");
    // A directory that cannot take the file: 0, and nothing changes.
    EXPECT_EQ(dict.SaveToFile((dir.wpath() + L"/missing/x.bin").c_str()), 0);
}

}  // namespace
