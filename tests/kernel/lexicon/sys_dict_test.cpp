// The system word dictionary over small images made by its writer: the
// cursor's states, word groups, whole-word lookup, header checks, the
// short-key table and damaged images.
#include "kernel/lexicon/sys_dict.h"

#include <gtest/gtest.h>

#include <cstring>

#include "kernel/lexicon/gram_stat.h"
#include "kernel/runtime/scope_heap.h"
#include "kernel/storage/table_format.h"
#include "tests/kernel/lexicon/sys_dict_support.h"

using namespace lexdata;
using n_tableFormat::Wr32;

namespace {

class SysDictTest : public ::testing::Test {
protected:
    void SetUp() override {
        image = MakeCoreImage(MakeCoreSource());
        ASSERT_TRUE(dict.Load(image.data(), int32_t(image.size())));
    }
    std::u16string GroupText(uint32_t first, size_t n) {
        return ToU16(dict.GetWordText(first + uint32_t(n)));
    }
    Bytes image;
    t_sysDict dict;
};

TEST_F(SysDictTest, CursorWalksDownAndFindsWordsOnTheWay) {
    t_sysDictCursor c(&dict);
    uint8_t stepped = 0;
    EXPECT_EQ(c.PushSyllable(Id("zhong"), &stepped), 1);
    EXPECT_EQ(stepped, 1);
    EXPECT_EQ(ToU16(dict.GetWordText(uint32_t(c.word))), u"中");
    EXPECT_EQ(c.PushSyllable(Id("guo"), &stepped), 1);
    EXPECT_EQ(ToU16(dict.GetWordText(uint32_t(c.word))), u"中国");
    EXPECT_TRUE(c.HasContinuation());
    EXPECT_EQ(c.PushSyllable(Id("ren"), &stepped), 1);
    EXPECT_EQ(ToU16(dict.GetWordText(uint32_t(c.word))), u"中国人");
    EXPECT_EQ(c.PushSyllable(Id("min"), &stepped), 1);
    EXPECT_EQ(c.state, 4);
    EXPECT_EQ(ToU16(dict.GetWordText(uint32_t(c.word))), u"中国人民");
    EXPECT_FALSE(c.HasContinuation());
    EXPECT_EQ(c.PushSyllable(Id("min"), &stepped), 0);
    EXPECT_EQ(stepped, 0);
    EXPECT_EQ(c.state, 4);

    EXPECT_EQ(c.PopSyllable(), 1);  // back to 中国人
    EXPECT_EQ(c.state, 3);
    EXPECT_EQ(ToU16(dict.GetWordText(uint32_t(c.word))), u"中国人");
    EXPECT_EQ(c.PopSyllable(), 1);
    EXPECT_EQ(c.PopSyllable(), 1);  // state 2 -> 1: the single-syllable root
    EXPECT_EQ(c.state, 1);
    EXPECT_EQ(c.node, -1);
    EXPECT_EQ(ToU16(dict.GetWordText(uint32_t(c.word))), u"中");
    EXPECT_EQ(c.PopSyllable(), 1);
    EXPECT_EQ(c.PopSyllable(), 0);  // already at the start
}

TEST_F(SysDictTest, ThirdSyllableOutsideTheMaskFailsAtOnce) {
    t_sysDictCursor c(&dict);
    uint8_t stepped = 0;
    c.PushSyllable(Id("zhong"), &stepped);
    c.PushSyllable(Id("guo"), &stepped);
    // Only "ren" continues 中国; pick an id of another residue.
    uint16_t other = Id("ren") + 1;
    ASSERT_FALSE(c.mask & (1u << (other & 15)));
    EXPECT_EQ(c.PushSyllable(other, &stepped), 0);
    EXPECT_EQ(stepped, 0);
    EXPECT_EQ(c.state, 2);
}

// Ids of 441 and more lie past the pair index: the push is refused.
TEST_F(SysDictTest, PushRefusesIdsFromThePairIndexSize) {
    t_sysDictCursor c(&dict);
    uint8_t stepped = 1;
    EXPECT_EQ(c.PushSyllable(441, &stepped), 0);
    EXPECT_EQ(stepped, 0);
    EXPECT_EQ(c.PushSyllable(0xFFFF, &stepped), 0);
    EXPECT_EQ(c.state, 0);
    EXPECT_EQ(c.PushSyllable(440, &stepped), 0);  // accepted, but no word starts with it
}

TEST_F(SysDictTest, GroupsEndAtTheirLastRecord) {
    t_sysDictCursor c(&dict);
    uint8_t stepped;
    ASSERT_EQ(c.PushSyllable(Id("xing"), &stepped), 1);
    uint32_t off, gram;
    uint16_t cost;
    uint8_t more = 9;
    ASSERT_EQ(dict.GetWordRecord(uint32_t(c.word), &off, &cost, &gram, &more), 1);
    EXPECT_EQ(more, 0);  // a group of one
    EXPECT_EQ(cost, 900);
    // The last record of the file ends its group whatever its offset.
    ASSERT_EQ(dict.GetWordRecord(dict.GetWordCount() - 1, &off, &cost, &gram, &more), 1);
    EXPECT_EQ(more, 0);
    EXPECT_EQ(dict.GetWordRecord(dict.GetWordCount(), &off, &cost, &gram, &more), 0);
}

TEST_F(SysDictTest, WholeWordsAreFoundUnderTheirReadings) {
    uint32_t index = 0, off = 0, gram = 0;
    uint16_t cost = 0;
    const Bytes yinhang = Units(Ids({"yin", "hang"}));
    EXPECT_EQ(dict.FindWord(L(yinhang), L(Text(u"银行")), &index, &off, &gram), 1);
    EXPECT_EQ(gram, 4u);
    EXPECT_EQ(dict.FindWordEx(L(Units(Ids({"zhong", "guo", "ren", "min"}))), L(Text(u"中国人民")),
                              &index, &off, &cost, &gram),
              1);
    EXPECT_EQ(cost, 1200);
    EXPECT_EQ(gram, 3u);
    EXPECT_EQ(dict.FindWord(L(Units(Ids({"hang"}))), L(Text(u"行")), &index, &off, &gram), 1);
    EXPECT_EQ(dict.FindWord(L(Units(Ids({"yin", "hang"}))), L(Text(u"银杏")), &index, &off, &gram),
              0);
    EXPECT_EQ(dict.FindWord(L(Units({})), L(Text(u"中")), &index, &off, &gram), 0);
    EXPECT_EQ(dict.FindWord(L(Units({500})), L(Text(u"中")), &index, &off, &gram), 0);
    // Text shared between readings is stored once.
    uint32_t offXing = 0, offHang = 1;
    dict.FindWord(L(Units(Ids({"xing"}))), L(Text(u"行")), &index, &offXing, &gram);
    dict.FindWord(L(Units(Ids({"hang"}))), L(Text(u"行")), &index, &offHang, &gram);
    EXPECT_EQ(offXing, offHang);
}

// The flag byte carries the word's marks in its low bits and bit 16 of the
// gram id in its top bit; neither may leak into the other.
TEST(SysDictRecordTest, FlagBitsAndTheSeventeenthGramBitKeepApart) {
    t_sysDictSource src = MakeCoreSource();
    src.words[3].gramId = 0x1ABCD;  // 人民
    src.words[3].flags = n_sysDict::kFlagPersonName | n_sysDict::kFlagNumber;
    src.words[6].flags = n_sysDict::kFlagGramHigh | n_sysDict::kFlagMarked;  // 银行, gram id 4
    Bytes image = MakeCoreImage(src);
    t_sysDict dict;
    ASSERT_TRUE(dict.Load(image.data(), int32_t(image.size())));
    uint32_t index = 0, gram = 0;
    ASSERT_EQ(
        dict.FindWord(L(Units(Ids({"ren", "min"}))), L(Text(u"人民")), &index, nullptr, &gram), 1);
    EXPECT_EQ(gram, 0x1ABCDu);
    EXPECT_EQ(dict.GetWordFlags(index),
              n_sysDict::kFlagPersonName | n_sysDict::kFlagNumber | n_sysDict::kFlagGramHigh);
    ASSERT_EQ(
        dict.FindWord(L(Units(Ids({"yin", "hang"}))), L(Text(u"银行")), &index, nullptr, &gram), 1);
    EXPECT_EQ(gram, 4u);
    EXPECT_EQ(dict.GetWordFlags(index), n_sysDict::kFlagMarked);
}

TEST_F(SysDictTest, ClassesAndComposition) {
    uint32_t index = 0;
    uint8_t cls[5] = {9};
    ASSERT_EQ(
        dict.FindWord(L(Units(Ids({"ren", "min"}))), L(Text(u"人民")), &index, nullptr, nullptr),
        1);
    EXPECT_EQ(dict.GetWordClassInfo(index, cls), 1);
    EXPECT_EQ(cls[0], 2);
    EXPECT_EQ(cls[4], 7);
    ASSERT_EQ(
        dict.FindWord(L(Units(Ids({"yin", "hang"}))), L(Text(u"银行")), &index, nullptr, nullptr),
        1);
    EXPECT_EQ(dict.GetWordClassInfo(index, cls), 0);
    EXPECT_EQ(cls[0], 0);

    const Bytes ids4 = Units(Ids({"zhong", "guo", "ren", "min"}));
    EXPECT_EQ(dict.CheckWordComposition(L(ids4), L(Text(u"中国人民"))), 1);
    EXPECT_EQ(dict.SubWordHasClass(L(ids4), L(Text(u"中国人民")), 2, 3, 2, true), 1);
    EXPECT_EQ(dict.SubWordHasClass(L(ids4), L(Text(u"中国人民")), 0, 1, 2, true), 0);
    // 中国 + 银行: two system words.
    EXPECT_EQ(dict.CheckWordComposition(L(Units(Ids({"zhong", "guo", "yin", "hang"}))),
                                        L(Text(u"中国银行"))),
              1);
    // Two single characters prove nothing.
    EXPECT_EQ(dict.CheckWordComposition(L(Units(Ids({"guo", "zhong"}))), L(Text(u"国中"))), 0);
    EXPECT_EQ(dict.CheckWordComposition(L(Units(Ids({"zhong"}))), L(Text(u"中"))), 0);
}

TEST_F(SysDictTest, GetWordsListsTheSubtree) {
    t_sysDictCursor c(&dict);
    uint8_t stepped;
    c.PushSyllable(Id("zhong"), &stepped);
    c.PushSyllable(Id("guo"), &stepped);
    t_scopeHeap heap;
    uint32_t words[8];
    t_lstr* paths[8];
    const Bytes prefix = Units(Ids({"zhong", "guo"}));
    ASSERT_EQ(c.GetWords(L(prefix), words, paths, &heap, 8), 2);
    EXPECT_EQ(ToU16(dict.GetWordText(words[0])), u"中国人");
    EXPECT_EQ(ToU16(dict.GetWordText(words[1])), u"中国人民");
    const std::u16string path1 = ToU16(paths[1]);
    EXPECT_EQ(std::vector<uint16_t>(path1.begin(), path1.end()),
              Ids({"zhong", "guo", "ren", "min"}));
    EXPECT_EQ(c.GetWords(L(prefix), words, paths, &heap, 1), 1);
    EXPECT_EQ(c.GetSubtreeWordIndexes(words, 8), 2);
    t_sysDictCursor one(&dict);
    one.PushSyllable(Id("zhong"), &stepped);
    EXPECT_EQ(one.GetSubtreeWordIndexes(words, 8), 0);  // needs two syllables
}

TEST_F(SysDictTest, ShortKeysListTheirItems) {
    uint32_t start = 0;
    uint8_t count = 0;
    ASSERT_EQ(dict.GetShortKeyEntry(25, &start, &count), 1);
    ASSERT_EQ(count, 1);
    const uint8_t* item = dict.GetShortKeyItem(start);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(ToU16(reinterpret_cast<const t_lstr*>(item + n_sysDict::kShortItemText)), u"中");
    ASSERT_EQ(dict.GetShortKeyEntry(26 + 25 * 26 + 6, &start, &count), 1);
    item = dict.GetShortKeyItem(start);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(n_tableFormat::Rd16(item + n_sysDict::kShortItemCost),
              0x8000 | 900);  // bit 16 of the gram id
    EXPECT_EQ(dict.GetShortKeyEntry(0, &start, &count), 1);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(dict.GetShortKeyEntry(702, &start, &count), 0);
}

// ---------------------------------------------------------------- headers

class SysDictHeaderTest : public ::testing::Test {
protected:
    void SetUp() override { good = MakeCoreImage(MakeCoreSource()); }
    bool LoadWith(size_t offset, uint32_t value) {
        Bytes bad = good;
        Wr32(bad.data() + offset, value);
        return dict.Load(bad.data(), int32_t(bad.size()));
    }
    Bytes good;
    t_sysDict dict;
};

TEST_F(SysDictHeaderTest, MagicDateAndWordCountAreChecked) {
    EXPECT_TRUE(LoadWith(4, n_sysDict::kMagicOld));
    EXPECT_FALSE(LoadWith(4, 20140717));
    EXPECT_FALSE(LoadWith(0, 20059999));  // date below 20060000
    EXPECT_FALSE(LoadWith(12, 0));        // no word records
    EXPECT_FALSE(dict.IsReady());
}

// A size of 0 used to be taken as 50 MB and read past the image.
TEST_F(SysDictHeaderTest, SizeZeroIsRefused) {
    EXPECT_FALSE(dict.Load(good.data(), 0));
    EXPECT_FALSE(dict.Load(good.data(), -1));
    EXPECT_FALSE(dict.IsReady());
}

// Header counts are signed and their products used to wrap in 32 bits.
TEST_F(SysDictHeaderTest, NegativeOrWrappingCountsAreRefused) {
    for (size_t field : {8, 12, 16, 20, 24}) {
        EXPECT_FALSE(LoadWith(field, 0xFFFFFFFF)) << field;
        EXPECT_FALSE(LoadWith(field, 0x80000000)) << field;
    }
    // 9 x W wraps to a small number in 32 bits.
    EXPECT_FALSE(LoadWith(12, 0x1C71C71D));
    EXPECT_FALSE(LoadWith(8, 0x20000001));  // 8 x N wraps
}

// Offsets inside the index, the tree and the records are bounded at attach.
TEST_F(SysDictHeaderTest, OffsetsOutsideTheirAreasAreRefused) {
    const size_t root = n_sysDict::kIndexOffset + size_t(n_sysDict::kRootBase + Id("zhong")) * 10;
    EXPECT_FALSE(LoadWith(root + 4, 1000));  // first word beyond W
    const size_t pair = n_sysDict::kIndexOffset + size_t(Id("guo") * 441 + Id("zhong")) * 10;
    EXPECT_FALSE(LoadWith(pair, 999));  // first node beyond N
    const size_t rec = n_sysDict::kWordsOffset;
    EXPECT_FALSE(LoadWith(rec + 2, n_sysDict::kLastOfGroup + 100000));  // text beyond T
    EXPECT_FALSE(LoadWith(rec + 2, n_sysDict::kMaxTextUnits));          // between the two ranges
    EXPECT_TRUE(LoadWith(pair + 4, 0));
}

TEST(SysDictLifetimeTest, GramViewDoesNotOutliveTheImage) {
    const t_gramInfo* gram = nullptr;
    {
        Bytes image = MakeCoreImage(MakeCoreSource());
        t_sysDict dict;
        ASSERT_TRUE(dict.Load(image.data(), int32_t(image.size())));
        gram = dict.GetGram();
        EXPECT_EQ(GramGetUnigramFreq(gram, 1), 601);
    }
    EXPECT_EQ(GramGetUnigramFreq(gram, 1), 1400);  // detached, not dangling
}

TEST(SysDictNotReadyTest, AnswersNothing) {
    t_sysDict dict;
    t_sysDictCursor c(&dict);
    uint8_t stepped = 1;
    EXPECT_EQ(c.PushSyllable(1, &stepped), 0);
    EXPECT_EQ(stepped, 0);
    uint32_t off;
    uint8_t more = 1;
    EXPECT_EQ(dict.GetWordRecord(0, &off, nullptr, nullptr, &more), 0);
    EXPECT_EQ(more, 0);
    EXPECT_EQ(dict.GetWordText(0), nullptr);
    EXPECT_EQ(dict.FindWord(L(Units({1})), L(Text(u"a")), nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(dict.GetGram(), nullptr);
}

// Every byte outside the (mostly empty) pair index, and a sample inside it,
// changed: the attach fails or walks and lookups stay inside the image.
TEST(SysDictCorruptionTest, DamagedImagesNeverReadOutside) {
    const Bytes good = MakeCoreImage(MakeCoreSource());
    std::vector<size_t> positions;
    for (size_t i = 0; i < n_sysDict::kHeaderSize; ++i) positions.push_back(i);
    for (size_t i = n_sysDict::kHeaderSize; i < n_sysDict::kWordsOffset; i += 40009)
        positions.push_back(i);
    for (uint16_t a : Ids({"zhong", "guo", "ren", "yin"}))
        for (uint16_t b : Ids({"zhong", "guo", "ren", "min", "hang"}))
            for (size_t k = 0; k < 10; ++k)
                positions.push_back(n_sysDict::kIndexOffset + size_t(b * 441 + a) * 10 + k);
    // Records, tree, text and classes every byte; the mostly empty short-key
    // block sampled; items and gram statistics every byte.
    t_sysDict probe;
    Bytes copy = good;
    ASSERT_TRUE(probe.Load(copy.data(), int32_t(copy.size())));
    const size_t block = n_sysDict::kWordsOffset + size_t(probe.GetWordCount()) * 9 +
                         size_t(probe.GetNodeCount()) * 8 + size_t(probe.GetTextUnits()) * 2 +
                         size_t(probe.GetClassCount()) * 5;
    for (size_t i = n_sysDict::kWordsOffset; i < good.size(); ++i)
        if (i < block || i >= block + n_sysDict::kShortKeyBlockSize || i % 17 == 0)
            positions.push_back(i);
    t_scopeHeap heap;
    size_t attached = 0;
    for (size_t pos : positions) {
        for (uint8_t x : {uint8_t(0xFF), uint8_t(0x01)}) {
            Bytes bad = good;
            bad[pos] ^= x;
            t_sysDict dict;
            if (!dict.Load(bad.data(), int32_t(bad.size()))) continue;
            ++attached;
            for (const auto& ids :
                 {Ids({"zhong", "guo", "ren", "min"}), Ids({"yin", "hang"}), Ids({"xing"})}) {
                t_sysDictCursor c(&dict);
                for (uint16_t id : ids) {
                    uint8_t stepped;
                    if (c.PushSyllable(id, &stepped) && c.word >= 0) {
                        uint8_t more = 1;
                        for (uint32_t w = uint32_t(c.word); more; ++w)
                            if (!dict.GetWordRecord(w, nullptr, nullptr, nullptr, &more)) break;
                    }
                    uint32_t words[16];
                    t_lstr* paths[16];
                    c.GetWords(nullptr, words, paths, &heap, 16);
                }
                while (c.PopSyllable()) {
                }
                dict.FindWord(L(Units(ids)), L(Text(u"中国")), nullptr, nullptr, nullptr);
            }
            for (uint32_t w = 0; w < dict.GetWordCount(); ++w) {
                const t_lstr* s = dict.GetWordText(w);
                if (s) {
                    ASSERT_LE(LstrGetBytes(s) + LstrGetByteLength(s), bad.data() + bad.size());
                }
                uint8_t cls[5];
                dict.GetWordClassInfo(w, cls);
            }
            const t_gramInfo* g = dict.GetGram();
            for (uint32_t a = 0; a < 10; ++a)
                for (uint32_t b = 0; b < 10; ++b) {
                    uint8_t f, bo, f1;
                    GramGetBigramScore(g, a, b, &f, false, true, &bo, &f1);
                }
            heap.FreeAll();
        }
    }
    EXPECT_GT(attached, 0u);
    for (size_t cut : {good.size() - 1, size_t(n_sysDict::kWordsOffset) + 5, size_t(100)}) {
        t_sysDict dict;
        Bytes shortImage(good.begin(), good.begin() + int64_t(cut));
        EXPECT_FALSE(dict.Load(shortImage.data(), int32_t(shortImage.size())));
    }
}

}  // namespace
